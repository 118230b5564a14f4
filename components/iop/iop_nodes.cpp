#include "components/iop/iop_nodes.h"

#include <algorithm>
#include <cstdio>

#include "components/framework/component_types.h"
#include "components/iop/iop_poll.h"
#include "components/iop/iop_texts.h"

namespace kelm::iop {

namespace {

constexpr std::uint32_t kRightsRename = 16;
constexpr std::uint32_t kRightsResetStats = 32;
constexpr std::uint32_t kRightsArrayWork = 0x8000010;
constexpr std::uint32_t kRightsDelete = 0x8000008;
constexpr std::uint32_t kRebuildAction = 0x10002;
constexpr std::uint32_t kSyncAction = 0x20002;
constexpr std::uint32_t kPrecheckAction = 512;
constexpr int kMemberChannels = 6;
constexpr std::uint32_t kMaxObjects = 256;  // bound on a count the card reports
constexpr std::size_t kTextCapacity = 511;
// As many handles as a member-list reply can carry; the node keeps the first kMaxMembers.
constexpr std::size_t kMemberReplyCapacity = kReplyCapacity / 4;

std::string Name1(const char* prefix, int a) { return prefix + std::to_string(a); }
std::string Name2(const char* prefix, int a, int b) { return Name1(prefix, a) + std::to_string(b); }

// (handle, kind) of object `index` in a container; nothing unless status 0.
plat::Result<std::pair<std::uint32_t, std::uint32_t>> ObjectAt(ApiChannel& api, std::uint32_t container,
                                                               std::uint32_t index) {
  std::uint32_t handle = 0, kind = 0;
  if (auto done = api.Ok(0x3004, {container, index}, {ApiOut::Scalar(handle), ApiOut::Scalar(kind)}); !done)
    return done.error();
  return std::make_pair(handle, kind);
}

fw::CRiverNode* MakeOrRefreshDisk(fw::CRiverNode& parent, const std::string& name, std::uint32_t handle) {
  return MakeOrRefresh<CIopDisk>(parent, name, static_cast<int>(handle), [&] {
    auto d = plat::com::makeObject<CIopDisk>();
    d->Start(&parent, name, handle);
    return d;
  });
}

}  // namespace

int& EnclosureMode() {
  static int mode = 0;
  return mode;
}

// Disk.

int CIopDisk::Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle) {
  InheritApi(parent);
  return Init(parent, name, static_cast<int>(handle), 0, 0);
}

int CIopDisk::UpdateValues() {
  const std::uint32_t h = DiskHandle();
  SetAttrF("DiskHandle", fw::kDropReadOnly, "%d", static_cast<int>(h));
  ApiChannel& api = *Api();
  std::uint32_t state = 0, owner = 0;
  std::string model;
  std::uint32_t blocks = 0, unused = 0, mode = 0, channel = 0;
  if (api.Ok(0x3202, {h}, {ApiOut::Scalar(state), ApiOut::Scalar(owner)})) {
    SetAttrInt("Status", fw::kDropReadOnlyVolatile, static_cast<int>(state));
    if (api.Ok(0x3100, {h}, {ApiOut::Text(model, kTextCapacity)})) {
      SetAttr("model", fw::kDropReadOnly, model);
      if (api.Ok(0x3201, {h}, {ApiOut::Scalar(blocks), ApiOut::Scalar(unused)})) {
        SetAttr("Size", fw::kDropReadOnly, DiskSizeText(blocks));
        if (api.Ok(0x3200, {h}, {ApiOut::Scalar(mode)})) {
          SetAttrInt("Timing_Mode", fw::kDropReadOnly, static_cast<int>(mode));
          if (api.Call(0x3102, {h}, {ApiOut::Scalar(channel)}))
            SetAttrInt("Channel", fw::kDropReadOnly, static_cast<int>(channel));
        }
      }
    }
  }
  std::uint32_t smart = 0;
  if (api.Call(0x3006, {}, {ApiOut::Scalar(smart)})) SetAttrInt("GetSmart", fw::kDropReadOnly, static_cast<int>(smart));
  return 1;
}

// Array.

CIopArray::CIopArray() : CRiverNode(fw::kNodeBase, fw::kIopArray) { PollList::Get().AddArray(this); }

CIopArray::~CIopArray() { PollList::Get().RemoveArray(this); }

bool CIopArray::Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle, int number) {
  index_ = number - 1;
  handle_ = handle;
  InheritApi(parent);
  if (!ReadMembers()) return false;
  Init(parent, name, static_cast<int>(handle), number, 0);
  ScanMembers(false);
  // The agent reads the node as soon as it is added, before any poll: the state shows from the start.
  std::uint32_t throttle = 0;
  (void)ReadState(throttle);
  return true;
}

bool CIopArray::ReadMembers() {
  std::uint32_t count = 0;
  std::vector<std::uint32_t> members;
  if (!Api()->Ok(0x3302, {handle_}, {ApiOut::Scalar(count), ApiOut::Array(members, kMemberReplyCapacity)}))
    return false;
  if (members.size() > kMaxMembers) members.resize(kMaxMembers);
  members_ = std::move(members);
  return true;
}

void CIopArray::ScanMembers(bool sweep) {
  ApiChannel& api = *Api();
  std::vector<fw::CRiverNode*> seen;
  for (int c = 0; c < kMemberChannels; ++c) {
    for (int p = 0; p < 2; ++p) {
      auto obj = ObjectAt(api, static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(p));
      if (!obj || obj->second != 1) continue;
      std::uint32_t state = 0, owner = 0;
      if (!api.Ok(0x3202, {obj->first}, {ApiOut::Scalar(state), ApiOut::Scalar(owner)}) || owner != handle_) continue;
      const std::string name = Name2(p == 0 ? "master" : "slave", c, p);
      if (auto* node = MakeOrRefreshDisk(*this, name, obj->first)) seen.push_back(node);
    }
  }
  if (sweep) RemoveUnseen(*this, seen, [](fw::CRiverNode& n) { return n.NodeType() == fw::kIopDisk; });
}

int CIopArray::UpdateValues() {
  ApiChannel& api = *Api();
  std::uint32_t level = 0, size = 0, block = 0;
  if (api.Ok(0x3300, {handle_}, {ApiOut::Scalar(level), ApiOut::Scalar(size), ApiOut::Scalar(block)})) {
    level_ = level;
    size_ = size;
    blockSize_ = block;
    std::string text;
    if (api.Ok(0x3100, {handle_}, {ApiOut::Text(text, kTextCapacity)})) {
      // The firmware names arrays "AryN"; they show as "ArrayN".
      if (text.find("Ary") != std::string::npos && text.size() > 3) text = std::string("Array") + text[3];
      name_ = text.empty() ? "N/A" : text;
    }
  }
  SetAttrF("ArrayHandle", fw::kDropReadOnly, "%d", static_cast<int>(handle_));
  SetAttr("name", fw::kDropReadWrite, name_);
  SetAttrInt("Block Size", fw::kDropReadWrite, blockSize_);
  SetAttr("RAID_Mode", fw::kDropReadWrite, RaidModeText(level_, members_.size()));
  SetAttrInt("Size", fw::kDropReadOnly, size_);
  auto word = api.Read(0x3000, {0u});
  const std::uint32_t index = static_cast<std::uint32_t>(index_);
  if (word && SeriesOf(*word) == kSeriesQx) {
    if (auto v = api.Read(0x3526, {index})) SetAttrInt("GetAutoSeqRandDet", fw::kDropReadOnly, *v);
    if (auto v = api.Read(0x352C, {index})) SetAttrInt("GetWriteBackCache", fw::kDropReadOnly, *v);
    return 1;
  }
  for (const char* zero : {"ReadCacheHit", "WriteCacheHit", "PartialReadCacheHit", "PartialWriteCacheHit",
                           "CacheAccessR", "CacheAccessW", "DirtyUsage", "RAIDAccessR", "RAIDAccessW"})
    SetAttrInt(zero, fw::kDropReadOnlyVolatile, 0);
  if (auto v = api.Read(0x3500, {handle_})) SetAttrInt("ReadCachePolicy", fw::kDropReadOnly, *v);
  if (auto v = api.Read(0x3502, {handle_})) SetAttrInt("WriteCachePolicy", fw::kDropReadOnly, *v);
  std::uint32_t mode = 0, range = 0;
  if (api.Ok(0x3511, {handle_}, {ApiOut::Scalar(mode), ApiOut::Scalar(range)})) {
    SetAttrInt("ReadAheadMode", fw::kDropReadOnly, mode);
    SetAttrInt("ReadAheadRange", fw::kDropReadOnly, range);
  }
  return 1;
}

int CIopArray::DeclareMethods() {
  AddMethod("rename", kRightsRename);
  AddMethod("ResetCacheStats", kRightsResetStats);
  AddMethod("SetCachePolicy", kRightsArrayWork);
  AddMethod("SetAutoSeqRandDet", kRightsArrayWork);
  AddMethod("SetWriteBackCache", kRightsArrayWork);
  const bool redundant = level_ != 0 && level_ != 8;
  for (const char* method : {"RebuildArray", "SyncArray"}) {
    if (redundant) {
      AddMethod(method, kRightsArrayWork);
    } else if (const fw::CDrop* d = FindDrop(method)) {
      RemoveEntry(d);  // the array's level changed under it
    }
  }
  AddMethod("DeleteArray", kRightsDelete);
  return 1;
}

int CIopArray::InvokeHandler(const std::string& name, const std::string& arg) {
  ApiChannel& api = *Api();
  const std::uint32_t index = static_cast<std::uint32_t>(index_);
  if (name == "rename") {
    const std::string newName = arg == "N/A" ? "" : arg;
    if (!api.Ok(0x3101, {handle_, ApiIn::Text(newName)}, {})) return kEFail;
    SetAttr("name", fw::kDropReadWrite, newName);
    name_ = newName;
    Fire(fw::kNotifyChanged);
    return 0;
  }
  if (name == "ResetCacheStats" || name == "SetCachePolicy") return 0;
  if (name == "SetAutoSeqRandDet" || name == "SetWriteBackCache") {
    // The answer says whether the call went through; what the card made of it goes to the log.
    const std::uint16_t command = name == "SetAutoSeqRandDet" ? 0x3521 : 0x352D;
    auto status = api.Call(command, {index, Atoi(arg)}, {});
    if (auto done = StatusOf(command, status); !done) LogFailure(Name() + " " + name + " " + arg, done.error());
    Fire(fw::kNotifyChanged);
    return status ? 0 : 1;
  }
  if (name == "RebuildArray") return Rebuild(arg);
  if (name == "SyncArray") return Sync(arg);
  return kEFail;  // DeleteArray belongs to the controller
}

int CIopArray::Rebuild(const std::string& arg) {
  const auto fields = fw::SplitArgs(arg, '@');
  const std::uint32_t action = fields.empty() ? 0 : static_cast<std::uint32_t>(Atoi(fields[0]));
  const std::uint32_t disk = fields.size() > 1 ? static_cast<std::uint32_t>(Atoi(fields[1])) : 0;
  if (action == 0) return kEFail;
  ApiChannel& api = *Api();
  if (action == kPrecheckAction && !api.Ok(0x3309, {handle_, disk}, {})) return kEFail;
  // The third word is not used by the card; it goes as 0.
  return api.Ok(0x3400, {handle_, action | kRebuildAction, 0u}, {}) ? 0 : kEFail;
}

int CIopArray::Sync(const std::string& arg) {
  const std::uint32_t action = static_cast<std::uint32_t>(Atoi(arg));
  if (action == 0) return kEFail;
  ApiChannel& api = *Api();
  if (action == kPrecheckAction && !api.Ok(0x3308, {handle_}, {})) return kEFail;
  if (!api.Ok(0x3400, {handle_, action | kSyncAction, 0u}, {})) return kEFail;
  Fire(fw::kNotifyChanged);
  return 0;
}

std::optional<std::uint32_t> CIopArray::ReadState(std::uint32_t& throttle) {
  ApiChannel& api = *Api();
  auto state = api.Read(0x3301, {handle_});
  if (!state) return std::nullopt;
  std::uint32_t s = *state;
  if (s & 0xFF00) {
    std::uint32_t t = 0, percent = 0;
    if (api.Ok(0x3401, {handle_}, {ApiOut::Scalar(t), ApiOut::Scalar(percent)})) {
      throttle = t;
      if (t == 2) {
        s &= ~0xFF00u;  // the task has ended
      } else {
        percent_ = percent;
        SetAttrInt("percent", fw::kDropReadOnlyVolatile, percent);
      }
    }
  }
  // Signed, as every status value is written.
  SetAttrInt("Status", fw::kDropReadOnlyVolatile, static_cast<std::int32_t>(s));
  SetAttrInt("ThrottleStatus", fw::kDropReadOnlyVolatile, throttle);
  return s;
}

void CIopArray::Poll() {
  if (ticks_++ % 3 == 0) return;  // two ticks of three
  auto state = ReadState(throttle_);
  if (!state) return;
  const std::uint32_t s = *state;
  plat::com::ComPtr<CIopArray> keep(this);
  if (s != state_) {
    ReadMembers();
    ScanMembers(true);
    state_ = s;
    throttle_ = 0;
    Fire(fw::kNotifyChanged);
    return;
  }
  if (throttle_ != 0) {
    state_ = s;
    throttle_ = 0;
    Fire(fw::kNotifyChanged);
  }
}

// Channel.

int CIopChannel::Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle, int kind) {
  kind_ = kind;
  InheritApi(parent);
  Init(parent, name, static_cast<int>(handle), kind, 0);
  Scan();
  return 1;
}

void CIopChannel::Scan() {
  plat::com::ComPtr<CIopChannel> keep(this);
  ApiChannel& api = *Api();
  const std::uint32_t h = static_cast<std::uint32_t>(Id1());
  std::vector<fw::CRiverNode*> seen;
  const std::uint32_t count = std::min(api.Read(0x3003, {h}).valueOr(0), kMaxObjects);
  for (std::uint32_t pos = 0; pos < count; ++pos) {
    auto obj = ObjectAt(api, h, pos);
    if (!obj) continue;
    std::string name;
    if (kind_ == 2) {
      name = Name1("disk", static_cast<int>(pos) + 1);
    } else if (obj->second == 1) {
      name = pos == 0 ? "master" : "slave";
    } else {
      continue;
    }
    if (auto* node = MakeOrRefreshDisk(*this, name, obj->first)) seen.push_back(node);
  }
  RemoveUnseen(*this, seen, [](fw::CRiverNode&) { return true; });
}

// Sensor.

int CIopSensor::Start(fw::CRiverNode* parent, const std::string& name, int channel, int id, std::uint32_t type) {
  channel_ = channel;
  sensorId_ = id;
  type_ = type;
  InheritApi(parent);
  return Init(parent, name, channel, id, 0);
}

int CIopSensor::UpdateValues() {
  ApiChannel& api = *Api();
  const std::uint32_t ch = static_cast<std::uint32_t>(channel_), id = static_cast<std::uint32_t>(sensorId_);
  auto sub = [&](std::uint32_t f) { return api.Read(0x310C, {f, ch, id, 0u}); };
  SetAttrInt("Channel", fw::kDropReadOnly, channel_);
  SetAttrInt("ID", fw::kDropReadOnly, sensorId_);
  SetAttrInt("Status", fw::kDropReadOnlyVolatile, 0);
  SetAttrInt("FanRPM", fw::kDropReadOnlyVolatile, sub(1).valueOr(0));
  SetAttrInt("Temperature", fw::kDropReadOnlyVolatile, sub(2).valueOr(0));
  SetAttrInt("Power5VStatus", fw::kDropReadOnlyVolatile, sub(3).valueOr(0));
  SetAttrInt("Power12VStatus", fw::kDropReadOnlyVolatile, sub(4).valueOr(0));
  if (auto t = sub(0)) SetAttrInt("EnclosureType", fw::kDropReadOnly, static_cast<int>(*t));
  return 1;
}

// Enclosure.

int CIopEnclosure::Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle, int channels) {
  channels_ = channels;
  InheritApi(parent);
  Init(parent, name, static_cast<int>(handle), 0, 0);
  Scan();
  return 1;
}

int CIopEnclosure::UpdateValues() {
  ApiChannel& api = *Api();
  auto type = api.Read(0x3005, {});
  const int hw = type && *type <= 1 ? static_cast<int>(*type) : 0;
  EnclosureMode() = hw;
  SetAttrInt("HardwareType", fw::kDropReadOnly, hw);
  if (auto buzz = api.Read(0x310D, {0u})) SetAttrInt("BuzzStatus", fw::kDropReadOnlyVolatile, *buzz);
  return 1;
}

int CIopEnclosure::DeclareMethods() {
  AddMethod("SilentBuzzer", kRightsBuzzer);
  AddMethod("TurnOnBuzzer", kRightsBuzzer);
  return 1;
}

int CIopEnclosure::InvokeHandler(const std::string& name, const std::string& arg) {
  if (name != "SilentBuzzer" && name != "TurnOnBuzzer") return kEFail;
  ApiChannel& api = *Api();
  if (auto done = api.Ok(name == "SilentBuzzer" ? 0x3107 : 0x310E, {0u}, {}); !done)
    LogFailure(Name() + " " + name, done.error());
  if (auto buzz = api.Read(0x310D, {0u})) SetAttrInt("BuzzStatus", fw::kDropReadOnlyVolatile, *buzz);
  Fire(fw::kNotifyChanged);
  return 0;
}

void CIopEnclosure::Refresh() {
  plat::com::ComPtr<CIopEnclosure> keep(this);
  count_ = 0;
  if (auto buzz = Api()->Read(0x310D, {0u})) SetAttrInt("BuzzStatus", fw::kDropReadOnlyVolatile, *buzz);
  Scan();
}

fw::CRiverNode* CIopEnclosure::SensorFor(int channel, int& running) {
  auto value = Api()->Read(0x310C, {0u, static_cast<std::uint32_t>(channel), 0u, 0u});
  if (!value || *value == 0) return nullptr;
  std::string name;
  switch (*value & 0x13) {
    case 0x01:
      name = Name1("brindle", ++running);
      break;
    case 0x11:
      name = Name1("corvane", channel + 1);
      break;
    case 0x10:
      name = Name1("oem", ++running);
      break;
    case 0x00:
      name = Name1("openbay", ++running);
      break;
    default:
      return nullptr;
  }
  const std::uint32_t type = *value;
  return MakeOrRefresh<CIopSensor>(*this, name, channel, [&] {
    auto s = plat::com::makeObject<CIopSensor>();
    s->Start(this, name, channel, 0, type);
    return s;
  });
}

void CIopEnclosure::Scan() {
  plat::com::ComPtr<CIopEnclosure> keep(this);
  ApiChannel& api = *Api();
  if (auto mode = api.Read(0x3005, {})) EnclosureMode() = static_cast<int>(*mode);
  std::vector<fw::CRiverNode*> seen;
  int count = 0;
  if (EnclosureMode() == 1) {
    // The sensor numbers start again at each scan, so that a refresh keeps their names.
    int running = 0;
    for (int ch = 0; ch < channels_; ++ch) {
      auto first = ObjectAt(api, static_cast<std::uint32_t>(ch), 0);
      if (!first || first->second != 1) continue;
      auto type = api.Read(0x310C, {0u, static_cast<std::uint32_t>(ch), 0u, 0u});
      if (!type || *type == kNoHandle) continue;
      if (fw::CRiverNode* s = SensorFor(ch, running)) seen.push_back(s);
      ++count;
    }
  } else {
    count = 1;
  }
  count_ = count;
  UpdateValues();
  SetAttrInt("NumEnclosures", fw::kDropReadOnlyVolatile, count_);
  RemoveUnseen(*this, seen, [](fw::CRiverNode&) { return true; });
}

}  // namespace kelm::iop
