#pragma once
// The controller of a serial-attached subsystem: its information and cache settings, the
// controller-level methods, its channel, enclosure and array children, and its event store.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "components/framework/river_node.h"
#include "platform/base/result.h"
#include "serialapi/glimmora.h"

namespace kelm::brask {

// Every array id the subsystem lists; why not when the library cannot say.
plat::Result<std::vector<int>> EnumerateArrays();
// Whether some array runs a task (activity 1 to 6). A failure when the arrays cannot be listed, or
// when an array whose status cannot be read might be the busy one: that is no answer of "free".
plat::Result<bool> AnyArrayBusy();

class CSerialController final : public fw::CRiverContainer, public fw::IEventLog {
 public:
  // The pending count that marks a record made here rather than read from the subsystem.
  static constexpr int kLocalEventPending = 99;
  // Every this many polls with unchanged counts the children are rebuilt anyway.
  static constexpr int kRescanEvery = 13;
  static constexpr int kSyncSlots = 4;
  enum SlotState { kSlotPending = 1, kSlotStarted = 2, kSlotIdle = 3 };

  CSerialController();
  KELM_COM_FORWARD_UNKNOWN(CRiverContainer)

  // Sets the device link to the controller itself, initialises the node and makes its children.
  int InitController(fw::CRiverNode* parent, const std::string& name, int adapterIndex);

  // IEventLog
  plat::HRESULT GetNewCount(std::uint32_t* newCount) override;
  plat::HRESULT ReadEventLog(std::string* buf, std::uint32_t* size) override;
  plat::HRESULT ClearLog() override { return plat::S_OK; }

  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;
  void Refresh() override;
  bool IsDeviceReady() override;

  // Every tenth second: a scheduled synchronisation, then the children when the counts changed.
  void Poll();
  // A record made here (a failed conversion or expansion): the first stored record becomes kind
  // 27 with this text, delivered at the agent's next GetNewCount.
  void PostLocalEvent(const std::string& text);

  int AdapterIndex() const { return adapter_; }
  int SlotState(int arrayId) const;

 protected:
  void* queryMore(const plat::com::Guid& iid) override;

 private:
  ~CSerialController() override;
  void RebuildChannels();
  void RebuildArrays();
  void CreateArray(const std::string& arg);
  void DeleteArray(const std::string& arg);
  void ScheduleSync();
  void StartScheduledSync();
  // A setting method: the setter, then the shown value and a notification when it took.
  template <class Setter>
  void ApplySetting(const char* shownAs, const std::string& arg, Setter set);

  struct SyncSlot {
    int arrayId = -1;
    int state = kSlotIdle;
  };

  fw::CLinkSlot link_;
  int adapter_ = 0;
  int channelNames_ = 0;
  int enclosureNames_ = 0;
  int arrayCount_ = -1;
  int diskCount_ = -1;
  int unchangedPolls_ = 0;
  std::array<SyncSlot, kSyncSlots> slots_{};
  std::string heldBack_;  // why the last poll started no scheduled synchronisation, logged once
  // The event store: records from the last fetch, how many wait, and the next to read.
  std::array<RaEventRecord, RA_MAX_EVENTS> records_{};
  int stored_ = 0;
  int pending_ = 0;
  int readIndex_ = 0;
};

}  // namespace kelm::brask
