#pragma once
// The Tirrow nodes: the root, one controller node per card with its channels, disks and enclosure
// group, and one array node per array with its member disks.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/framework/river_node.h"
#include "components/ide/ide_log.h"
#include "components/ide/marovelt_driver.h"

namespace tirrow {

using kelm::fw::CRiverContainer;
using kelm::fw::CRiverNode;

// Node type numbers of the family.
enum TirrowNodeType : int {
  kTypeRoot = 14,
  kTypeController = 19,
  kTypeArray = 18,
  kTypeChannel = 20,
  kTypeDisk = 21,
  kTypeEnclosureGroup = 7,
  kTypeSwapBox = 17,
};

inline constexpr std::uint32_t kMethodRightsSettings = 0x8000040;
inline constexpr std::uint32_t kMethodRightsEveryone = 0xF7FFFFFF;
inline constexpr std::uint32_t kMethodRightsArrayTask = 0x800003C;

// The driver object every node of the process shares: made, and fully read, on first use.
std::shared_ptr<CMaroveltDriver> SharedDriver();

class CIdeDisk final : public CRiverNode {
 public:
  explicit CIdeDisk(std::shared_ptr<CMaroveltDriver> driver);
  // Init(parent, name, controller, channel, device).
  int UpdateValues() override;
  int Controller() const { return id1_; }
  int Channel() const { return id2_; }
  int Device() const { return id3_; }

 private:
  std::shared_ptr<CMaroveltDriver> driver_;
};

class CIdeChannel final : public CRiverContainer {
 public:
  CIdeChannel(std::shared_ptr<CMaroveltDriver> driver, int controller);
  int UpdateValues() override;
  void Refresh() override { ChildScan(); }
  CRiverNode* MakeChild(int device, int channel, void*) override;

 protected:
  void ScanDevices(std::vector<CRiverNode*>& seen) override;

 private:
  std::shared_ptr<CMaroveltDriver> driver_;
  int controller_;
};

class CIdeSwapBox final : public CRiverNode {
 public:
  explicit CIdeSwapBox(std::shared_ptr<CMaroveltDriver> driver);
  // Init(parent, name, channel, enclosure type, 0).
  int UpdateValues() override;

 private:
  std::shared_ptr<CMaroveltDriver> driver_;
};

class CIdeEnclosureGroup final : public CRiverContainer {
 public:
  CIdeEnclosureGroup(std::shared_ptr<CMaroveltDriver> driver, int controller);
  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;
  void Refresh() override { ChildScan(); }
  CRiverNode* MakeChild(int channel, int type, void*) override;

 protected:
  void ScanDevices(std::vector<CRiverNode*>& seen) override;

 private:
  std::shared_ptr<CMaroveltDriver> driver_;
  int controller_;
  int made_ = 0;
};

class CIdeController final : public CRiverNode, public kelm::fw::IEventLog {
 public:
  // Records handed over and not yet read are kept up to this many; the oldest go first.
  static constexpr std::size_t kMaxQueuedEvents = 400;

  CIdeController(std::shared_ptr<CMaroveltDriver> driver, const plat::Clock& clock);
  KELM_COM_FORWARD_UNKNOWN(CRiverNode)

  // Reads the settings, initialises the node and builds its children.
  int InitController(CRiverNode* parent, const std::string& name, int index);

  // IEventLog
  plat::HRESULT GetNewCount(std::uint32_t* newCount) override;
  plat::HRESULT ReadEventLog(std::string* buf, std::uint32_t* size) override;
  plat::HRESULT ClearLog() override { return plat::S_OK; }

  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;

  // One poll tick for this controller.
  void PollTick(bool changed, int currentPercent, const std::vector<EventRecordBytes>& events);
  // Rebuilds the children and fires a change.
  void RefreshController();
  // Reads the enclosure sensors of the controller's two channels.
  void EnclosureCheck();
  void HandEvents(const std::vector<EventRecordBytes>& events);

  int Index() const { return id1_; }
  int Refreshes() const { return refreshes_; }

 protected:
  void* queryMore(const plat::com::Guid& iid) override;

 private:
  ~CIdeController() override;
  void BuildChildren();
  void ReadSettings();
  // Stores a setting through the driver's registry text; false (logged) when it failed.
  bool StoreSetting(const char* name, int value, const char* failureText);

  std::shared_ptr<CMaroveltDriver> driver_;
  const plat::Clock& clock_;
  int pciMaximum_ = -1;
  int pciThreshold_ = -1;
  int pciPercent_ = 50;
  int smart_ = 255;
  int cachePolicy_ = 0;
  int disableHotSpare_ = 0;
  int maintenanceRate_ = 4;
  bool driverCurrent_ = false;
  std::string hardware_;
  std::string driverVersion_;
  int counter_ = 0;           // poll ticks: refresh and enclosure schedule
  int refreshes_ = 0;
  int enclosureChecks_ = 0;   // enclosure checks since the last notification
  std::deque<EventRecordBytes> events_;
  struct Sensors {
    int fan = -2, temperature = -2, power5 = -2, power12 = -2;
  } sensors_;
};

class CIdeArray final : public CRiverNode {
 public:
  explicit CIdeArray(std::shared_ptr<CMaroveltDriver> driver);
  ~CIdeArray() override;
  // Init(parent, name, slot, index, 0).
  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;
  // Status, a change notification, and the member disks.
  void RefreshArray();
  int Slot() const { return id1_; }

 private:
  void Rebuild(const std::vector<std::string>& args);
  std::shared_ptr<CMaroveltDriver> driver_;
  int level_ = -1;
};

class CTirrowRoot final : public CRiverNode {
 public:
  CTirrowRoot();
  ~CTirrowRoot() override;
  void Build();
  const std::shared_ptr<CMaroveltDriver>& Driver() const { return driver_; }

 private:
  std::shared_ptr<CMaroveltDriver> driver_;
};

}  // namespace tirrow
