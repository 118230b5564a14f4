#include "components/serial/serial_controller.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "components/serial/brask_root.h"
#include "components/serial/child_sweep.h"
#include "components/serial/poll_registry.h"
#include "components/serial/raid_api.h"
#include "components/serial/serial_array.h"
#include "components/serial/serial_devices.h"
#include "components/serial/serial_texts.h"

namespace kelm::brask {

namespace {

constexpr int kMaxChannels = 64;
constexpr std::uint32_t kRightsCreate = 0x08000004;
constexpr std::uint32_t kRightsDelete = 0x08000008;
constexpr std::uint32_t kRightsClear = 64;
constexpr std::uint32_t kRightsSettings = 0x08000040;
constexpr std::uint32_t kRightsArrayWork = 0x0800003C;
constexpr int kDefaultBlock = 64;
constexpr int kKindRebuildStarted = 4;
constexpr int kKindSyncCompleted = 10;
constexpr int kKindOperationError = 27;
constexpr const char* kCreateFailed = "Array create failed. Please check if all the setting is correct.";

// A library text buffer as a string, whatever it holds.
std::string TextOf(const char* buffer, std::size_t size) { return std::string(buffer, ::strnlen(buffer, size)); }

}  // namespace

plat::Result<std::vector<int>> EnumerateArrays() {
  int count = 0;
  int ids[RA_MAX_ARRAYS] = {};
  if (auto listed = Checked(Api().raEnumerateAllArrays(&count, ids)); !listed)
    return plat::Error{listed.code(), "the arrays cannot be listed: " + listed.message()};
  count = std::clamp(count, 0, static_cast<int>(RA_MAX_ARRAYS));
  return std::vector<int>(ids, ids + count);
}

plat::Result<bool> AnyArrayBusy() {
  auto ids = EnumerateArrays();
  if (!ids) return ids.error();
  std::optional<plat::Error> unread;
  for (int id : *ids) {
    int state = -1, activity = -1, percent = 0;
    auto read = Checked(Api().raGetArrayStatus(id, &state, &activity, &percent));
    if (read && IsBusyActivity(activity)) return true;  // busy whatever the others say
    if (!read && !unread)
      unread = plat::Error{read.code(),
                           "the status of Array" + std::to_string(id + 1) + " cannot be read: " + read.message()};
  }
  if (unread) return *unread;
  return false;
}

CSerialController::CSerialController() : CRiverContainer(fw::kSerialController, fw::kSerialController) {
  PollRegistry::Get().AddController(this);
}

CSerialController::~CSerialController() { PollRegistry::Get().RemoveController(this); }

void* CSerialController::queryMore(const plat::com::Guid& iid) {
  return iid == fw::IEventLog::kIid ? static_cast<fw::IEventLog*>(this) : nullptr;
}

bool CSerialController::IsDeviceReady() { return Api().raIsComportReady(); }

int CSerialController::InitController(fw::CRiverNode* parent, const std::string& name, int adapterIndex) {
  adapter_ = adapterIndex;
  number_ = adapterIndex;
  Init(parent, name, adapterIndex, 0, 0);
  link_.Store(fw::CLinkSlot::kKey, this);
  SetDeviceLink(&link_);  // the children find their controller through it
  RebuildChannels();
  RebuildArrays();
  int disks = 0;
  int ids[RA_MAX_DISKS] = {};
  if (auto arrays = EnumerateArrays(); arrays && Api().raEnumerateAllDisks(&disks, ids) == 0) {
    arrayCount_ = static_cast<int>(arrays->size());
    diskCount_ = disks;
    unchangedPolls_ = 1;
  }
  return 1;
}

int CSerialController::UpdateValues() {
  SetAttr("ComportStatus", fw::kDropReadOnly, Api().raIsComportReady() ? kStatusConnected : kStatusDisconnected);
  char text[RA_VERSION_BUFFER] = {};
  if (Api().raGetDLLVersion(text) == 0) SetAttr("RaidapiVersion", fw::kDropReadOnly, TextOf(text, sizeof text));
  std::memset(text, 0, sizeof text);
  if (Api().raGetFWRevision(text) == 0) SetAttr("FirmwareVersion", fw::kDropReadOnly, TextOf(text, sizeof text));
  int value = 0;
  if (Api().raGetMemSize(&value) == 0)
    SetAttrF("MemorySize", fw::kDropReadOnly, "%u MB", static_cast<unsigned>(value) / 1048576u);

  int hardware = 0, channels = 0, type = 0, size = 0;
  int record[RA_ENCLOSURE_RECORD] = {};
  if (Api().raGetHardwareType(&hardware) == 0 && Api().raGetEnclosureStatus(0, &type, &size, record) == 0 &&
      Api().raGetMaxChannelsPerAdapter(&channels) == 0)
    SetAttr("HWVersion", fw::kDropReadOnly, HardwareVersionText(hardware, record[5], channels));

  if (Api().raGetCacheWriteBackPolicy(0, &value) == 0) SetAttrInt("GetWriteBackCache", fw::kDropReadOnly, value);
  if (Api().raGetAutoFlushFreq(&value) == 0) SetAttrInt("GetAutoFlushFreq", fw::kDropReadWrite, value);
  if (Api().raGetRebuildPriority(&value) == 0) SetAttrInt("GetRebuildPriority", fw::kDropReadWrite, value);
  if (Api().raGetSmartCheckEnable(&value) == 0) SetAttrInt("GetSmart", fw::kDropReadWrite, value);
  if (Api().raGetHardDiskWriteCache(&value) == 0) SetAttrInt("GetHDCache", fw::kDropReadWrite, value);

  int count = 0;
  int disks[RA_MAX_DISKS] = {};
  if (Api().raEnumerateAllDisks(&count, disks) == 0) {
    bool spare = false;
    for (int i = 0; i < std::clamp(count, 0, static_cast<int>(RA_MAX_DISKS)) && !spare; ++i) {
      int status = -1, second = -1, third = 0;
      spare = Api().raGetDiskStatus(disks[i], &status, &second, &third, nullptr) == 0 && second == 0;
    }
    SetAttrInt("hasSpare", fw::kDropReadOnly, spare ? 1 : 0);
  }
  if (auto busy = AnyArrayBusy()) SetAttrInt("ArrayAct", fw::kDropReadOnly, *busy ? 1 : 0);
  SetAttrInt("HasEvent", fw::kDropReadOnly, 4);
  return 1;
}

int CSerialController::DeclareMethods() {
  AddMethod("CreateArray", kRightsCreate);
  AddMethod("DeleteArray", kRightsDelete);
  AddMethod("ReadEvent", kRightsAnyUser);
  AddMethod("ClearEvent", kRightsClear);
  AddMethod("SetRebuildPriority", kRightsSettings);
  AddMethod("SetAutoFlushFreq", kRightsSettings);
  AddMethod("SetSmart", kRightsSettings);
  AddMethod("SetHDCache", kRightsSettings);
  AddMethod("SilentBuzzer", kRightsAnyUser);
  AddMethod("TurnOnBuzzer", kRightsAnyUser);
  AddMethod("SetWriteBackCache", kRightsArrayWork);
  AddMethod("ScheduleSync", kRightsArrayWork);
  return 1;
}

template <class Setter>
void CSerialController::ApplySetting(const char* shownAs, const std::string& arg, Setter set) {
  const int value = LenientNumber(arg);
  if (auto took = Checked(set(value)); !took) {
    LogFailure(std::string("Setting ") + shownAs + " to " + std::to_string(value), took.error());
    return;
  }
  SetAttrInt(shownAs, fw::kDropReadOnly, value);
  Fire(fw::kNotifyChanged);
}

int CSerialController::InvokeHandler(const std::string& name, const std::string& arg) {
  RaidApi& api = Api();
  if (name == "CreateArray") {
    CreateArray(arg);
  } else if (name == "DeleteArray") {
    DeleteArray(arg);
  } else if (name == "SetAutoFlushFreq") {
    ApplySetting("GetAutoFlushFreq", arg, [&](int v) { return api.raSetAutoFlushFreq(v); });
  } else if (name == "SetSmart") {
    ApplySetting("GetSmart", arg, [&](int v) { return api.raSetSmartCheckEnable(v); });
  } else if (name == "SetRebuildPriority") {
    ApplySetting("GetRebuildPriority", arg, [&](int v) { return api.raSetRebuildPriority(v); });
  } else if (name == "SetHDCache") {
    ApplySetting("GetHDCache", arg, [&](int v) { return api.raSetHardDiskWriteCache(v); });
  } else if (name == "SetWriteBackCache") {
    ApplySetting("GetWriteBackCache", arg, [&](int v) { return api.raSetCacheWriteBackPolicy(0, v); });
  } else if (name == "SilentBuzzer") {
    api.raSetBuzzCtrlStatus(0);
  } else if (name == "TurnOnBuzzer") {
    api.raSetBuzzCtrlStatus(1);
  } else if (name == "ScheduleSync") {
    ScheduleSync();
  }
  return 0;
}

void CSerialController::CreateArray(const std::string& arg) {
  // name@mode@n@d1..dn[@block[@initialise[@gb-boundary]]]; anything malformed sends nothing.
  const auto fields = fw::SplitArgs(arg, '@');
  const auto mode = fields.size() > 1 ? LibraryModeIndex(fields[1]) : std::nullopt;
  auto disks = mode ? StrictDiskList(fields, 2) : std::nullopt;
  std::optional<int> optional[3];
  bool valid = disks.has_value();
  for (std::size_t i = 0; valid && i < 3; ++i) {
    const std::size_t at = 3 + disks->size() + i;
    if (at >= fields.size() || fields[at].empty()) continue;
    optional[i] = StrictNumber(fields[at], INT_MAX);
    valid = optional[i].has_value();
  }
  if (valid) {
    RaidApi& api = Api();
    if (int flag = optional[1].value_or(0); optional[1]) api.raCreateArrayInitializeEnabled(1, &flag);
    if (int flag = optional[2].value_or(0); optional[2]) api.raGBBoundaryEnabled(1, &flag);
    const int rc = api.raCreateArray("Array", *mode, static_cast<int>(disks->size()), disks->data(),
                                     optional[0].value_or(kDefaultBlock), nullptr);
    if (rc != 0) {
      Env().log(kCreateFailed);  // a service shows no message box
    } else {
      Fire(fw::kNotifyChanged);
    }
  }
  Refresh();
}

void CSerialController::DeleteArray(const std::string& arg) {
  auto id = StrictNumber(arg, 254);
  if (!id) {
    Refresh();
    return;
  }
  if (auto deleted = Checked(Api().raDeleteArray(*id)); !deleted) {
    LogFailure("Deleting Array" + std::to_string(*id + 1), deleted.error());
    return;
  }
  RebuildArrays();  // the notified listing no longer shows the array
  Fire(fw::kNotifyChanged);
}

void CSerialController::ScheduleSync() {
  auto busy = AnyArrayBusy();
  if (!busy) {
    LogFailure("Scheduling a synchronisation", busy.error());
    return;
  }
  if (*busy) return;
  if (std::any_of(slots_.begin(), slots_.end(), [](const SyncSlot& s) { return s.state == kSlotPending; })) return;
  auto ids = EnumerateArrays();
  if (!ids) return;
  slots_.fill(SyncSlot{});
  for (std::size_t i = 0; i < ids->size() && i < slots_.size(); ++i) slots_[i] = {(*ids)[i], kSlotPending};
}

int CSerialController::SlotState(int arrayId) const {
  for (const auto& s : slots_)
    if (s.arrayId == arrayId) return s.state;
  return kSlotIdle;
}

void CSerialController::StartScheduledSync() {
  if (std::none_of(slots_.begin(), slots_.end(), [](const SyncSlot& s) { return s.state == kSlotPending; })) return;
  auto busy = AnyArrayBusy();
  if (!busy) {
    // An array that might be busy holds every start back; a poll that keeps failing says so once.
    if (busy.message() != heldBack_) LogFailure("Starting a scheduled synchronisation", busy.error());
    heldBack_ = busy.message();
    return;
  }
  heldBack_.clear();
  if (*busy) return;
  for (auto& slot : slots_) {
    if (slot.state != kSlotPending) continue;
    auto* array = static_cast<CSerialArray*>(FindChildById(slot.arrayId, fw::kSerialArray));
    if (!array) {
      slot.state = kSlotIdle;  // the array is gone
      continue;
    }
    if (array->Mode() == kModeRaid0 || array->Mode() == kModeSpan) continue;
    plat::com::ComPtr<CSerialArray> keep(array);
    array->InvokeHandler("SyncArray", std::to_string(CSerialArray::kActionStart));
    slot.state = kSlotStarted;
    return;
  }
}

void CSerialController::Refresh() {
  plat::com::ComPtr<CSerialController> keep(this);
  RebuildChannels();
  RebuildArrays();
  UpdateValues();
}

void CSerialController::RebuildChannels() {
  int channels = 0;
  if (Api().raGetMaxChannelsPerAdapter(&channels) != 0) return;  // keep what is shown
  channels = std::clamp(channels, 0, kMaxChannels);
  std::vector<fw::CRiverNode*> seen;
  for (int position = 0; position <= channels; ++position) {
    const bool enclosure = position == channels;
    const int classType = enclosure ? fw::kSerialEnclosure : fw::kSerialChannel;
    if (fw::CRiverNode* child = FindChildById(position, classType)) {
      plat::com::ComPtr<fw::CRiverNode> keep(child);
      child->Refresh();
      child->Fire(fw::kNotifyChanged);
      seen.push_back(child);
      continue;
    }
    plat::com::ComPtr<fw::CRiverContainer> made;
    std::string name;
    if (enclosure) {
      made = plat::com::makeObject<CSerialEnclosure>();
      name = "Enclosure" + std::to_string(++enclosureNames_);
    } else {
      made = plat::com::makeObject<CSerialChannel>();
      name = "ch" + std::to_string(++channelNames_);
    }
    made->InitContainer(this, name, position, DeviceLink());
    if (AddChild(made.get())) seen.push_back(made.get());
  }
  RemoveChildren(*this, [&](const fw::CDrop& d) {
    const bool device =
        d.child && (d.child->ClassType() == fw::kSerialChannel || d.child->ClassType() == fw::kSerialEnclosure);
    return device && std::find(seen.begin(), seen.end(), d.child.get()) == seen.end();
  });
}

void CSerialController::RebuildArrays() {
  auto ids = EnumerateArrays();
  if (!ids) return;
  std::vector<fw::CRiverNode*> seen;
  for (int id : *ids) {
    if (fw::CRiverNode* child = FindChildById(id, fw::kSerialArray)) {
      plat::com::ComPtr<fw::CRiverNode> keep(child);
      child->Refresh();
      child->Fire(fw::kNotifyChanged);
      seen.push_back(child);
      continue;
    }
    auto array = plat::com::makeObject<CSerialArray>();
    array->InitArray(this, "Array" + std::to_string(id + 1), id);
    if (AddChild(array.get())) seen.push_back(array.get());
  }
  RemoveChildren(*this, [&](const fw::CDrop& d) {
    return d.child && d.child->ClassType() == fw::kSerialArray &&
           std::find(seen.begin(), seen.end(), d.child.get()) == seen.end();
  });
}

void CSerialController::Poll() {
  StartScheduledSync();
  auto arrays = EnumerateArrays();
  int disks = 0;
  int ids[RA_MAX_DISKS] = {};
  if (!arrays || Api().raEnumerateAllDisks(&disks, ids) != 0) return;
  const int arrayCount = static_cast<int>(arrays->size());
  if (arrayCount == arrayCount_ && disks == diskCount_) {
    const int before = unchangedPolls_++;
    if (before % kRescanEvery != 0) return;
  } else {
    unchangedPolls_ = 1;
  }
  arrayCount_ = arrayCount;
  diskCount_ = disks;
  plat::com::ComPtr<CSerialController> keep(this);
  RebuildChannels();
  RebuildArrays();
  Fire(fw::kNotifyChanged);
}

void CSerialController::PostLocalEvent(const std::string& text) {
  RaEventRecord& r = records_[0];
  r = RaEventRecord{};
  r.kind = kKindOperationError;
  r.cls = 2;
  r.array = -1;
  r.disk = -1;
  r.detail1 = -1;
  r.detail2 = -1;
  std::snprintf(r.text, sizeof r.text, "%s", text.c_str());
  stored_ = std::max(stored_, 1);
  pending_ = kLocalEventPending;
}

plat::HRESULT CSerialController::GetNewCount(std::uint32_t* newCount) {
  if (!newCount) return plat::E_POINTER;
  *newCount = 0;
  if (pending_ == kLocalEventPending) {
    pending_ = 1;
  } else {
    int count = 0;
    const int rc = Api().raGetEvents(records_.data(), &count);
    if (rc != 0) {
      stored_ = pending_ = 0;
      return plat::S_OK;
    }
    stored_ = pending_ = std::clamp(count, 0, static_cast<int>(RA_MAX_EVENTS));
  }
  if (pending_ > 0) {
    *newCount = static_cast<std::uint32_t>(pending_);
    readIndex_ = 0;
  }
  return plat::S_OK;
}

plat::HRESULT CSerialController::ReadEventLog(std::string* buf, std::uint32_t*) {
  if (!buf) return plat::E_POINTER;
  buf->clear();  // a record that is not reported gives an empty output
  if (pending_ <= 0 || readIndex_ < 0 || readIndex_ >= stored_) return plat::S_OK;
  const RaEventRecord& r = records_[static_cast<std::size_t>(readIndex_++)];
  --pending_;
  auto title = TranslateEventKind(r.kind);
  if (!title) return plat::S_OK;
  fw::EventRecord record;
  record.code = title->code;
  record.time = Env().clock->wallSeconds();
  record.severity = 3;
  record.title = std::string(title->title);
  record.text = r.kind == kKindRebuildStarted ? "Array " + std::to_string(r.array) + " rebuilding started"
                                              : TextOf(r.text, sizeof r.text);
  if (r.kind == kKindSyncCompleted) {
    for (auto& slot : slots_)
      if (r.array >= 1 && slot.arrayId == r.array - 1) slot.state = kSlotIdle;
  }
  *buf = record.format();
  return plat::S_OK;
}

}  // namespace kelm::brask
