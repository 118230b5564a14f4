#pragma once
// One Palindrex controller (IOP1 or IOP2): its identity, cache and processor settings, the
// controller methods, its channel, enclosure and array children, and its event records.
#include <cstdint>
#include <string>

#include "components/framework/river_node.h"
#include "components/iop/iop_api.h"

namespace kelm::iop {

inline constexpr std::uint32_t kRightsAnyUser = 0xF7FFFFFF;
inline constexpr std::int64_t kClockEvery = 28800;  // seconds between two settings of the card's clock

class CIopController final : public fw::CRiverNode, public ApiUser, public fw::IEventLog {
 public:
  CIopController();
  KELM_COM_FORWARD_UNKNOWN(CRiverNode)

  // Identify, attach, the node itself, then its children. False when the card does not answer;
  // the controller is then not added.
  bool Start(fw::CRiverNode* parent, int number);

  // IEventLog
  plat::HRESULT GetNewCount(std::uint32_t* newCount) override;
  plat::HRESULT ReadEventLog(std::string* buf, std::uint32_t* size) override;
  plat::HRESULT ClearLog() override;

  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;
  void Refresh() override;
  // The child scan: channels and enclosures, the logical container, then its arrays.
  void Scan();

  int Number() const { return Id1(); }
  std::uint32_t Container() const { return container_; }
  int ChannelCount() const { return channelNames_; }

  // The texts of a disk and an array in event messages.
  std::string DiskText(std::uint32_t handle);
  std::string ArrayText(std::uint32_t handle);

 protected:
  void* queryMore(const plat::com::Guid& iid) override;

 private:
  ~CIopController() override;
  void ScanArrays();
  void CreateArray(const std::string& arg);
  void DeleteArray(const std::string& arg);
  void SetCachePolicy(const std::string& arg);
  // Set, then re-read into the Get property: 0 when the re-read went through, else 1.
  int SetAndReread(const char* method, std::uint16_t set, std::uint16_t get, const char* property,
                   const std::string& arg);
  std::string NameText(std::uint32_t handle);

  std::uint32_t container_ = 0xFFFFFFFFu;
  int channelNames_ = 0;
  int enclosureNames_ = 0;
  std::int64_t lastClock_ = 0;
  bool countFailing_ = false;    // the last count of new events could not be read
  bool recordsFailing_ = false;  // the last event read failed
};

}  // namespace kelm::iop
