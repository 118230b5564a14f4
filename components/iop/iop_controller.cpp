#include "components/iop/iop_controller.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "components/framework/component_types.h"
#include "components/iop/iop_nodes.h"
#include "components/iop/iop_poll.h"
#include "components/iop/iop_texts.h"

namespace kelm::iop {

namespace {

constexpr std::uint32_t kRightsSettings = 0x8000040;
constexpr std::uint32_t kRightsCreate = 0x8000004;
constexpr std::uint32_t kRightsDelete = 0x8000008;
constexpr std::uint32_t kRightsClear = 64;
constexpr std::uint32_t kKindContainer = 4;
constexpr std::uint32_t kKindEnclosure = 5;
constexpr std::uint32_t kMaxObjects = 256;
constexpr std::size_t kRecordBuffer = 1024;
constexpr std::size_t kMaxWanted = kRecordBuffer / 16;
constexpr std::size_t kTextCapacity = 511;
constexpr std::uint32_t kAttachNotWindows9x = 0;

std::string Numbered(const char* prefix, int n) { return prefix + std::to_string(n); }

struct Setting {
  const char* method;
  std::uint16_t set;
  std::uint16_t get;
  const char* property;
};
constexpr Setting kSettings[] = {
    {"SetBufferCount", 0x3531, 0x3530, "GetBufferCount"},
    {"SetOptimal", 0x352F, 0x352E, "GetOptimal"},
    {"SetSmart", 0x3007, 0x3006, "GetSmart"},
    {"SetHDCache", 0x3009, 0x3008, "GetHDCache"},
    {"SetAutoFlushFreq", 0x3525, 0x3529, "GetAutoFlushFreq"},
    {"SetBBU", 0x3523, 0x3527, "GetBBU"},
    {"SetRebuildPriority", 0x352B, 0x352A, "GetRebuildPriority"},
};

// A failed read of the card's events is logged once, until a read succeeds again: the agent asks
// every tick, and a card that cannot answer would fill the log.
template <class T>
void NoteEventRead(bool& failing, const std::string& what, const plat::Result<T>& read) {
  if (read) {
    failing = false;
    return;
  }
  if (!failing) LogFailure(what, read.error());
  failing = true;
}

bool IsDecimal(const std::string& s) {
  return !s.empty() && s.size() <= 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

CIopController::CIopController() : CRiverNode(fw::kNodeContainer, fw::kIopController) {
  PollList::Get().AddController(this);
}

CIopController::~CIopController() { PollList::Get().RemoveController(this); }

void* CIopController::queryMore(const plat::com::Guid& iid) {
  return iid == fw::IEventLog::kIid ? static_cast<fw::IEventLog*>(this) : nullptr;
}

bool CIopController::Start(fw::CRiverNode* parent, int number) {
  api_ = std::make_shared<ApiChannel>();  // the owner of its address; children inherit it
  api_->address.controller = number;
  const std::string name = Numbered("IOP", number + 1);
  if (auto identified = api_->Identify(); !identified) {
    LogFailure(name + " not started", identified.error());
    return false;
  }
  if (auto attached = api_->Ok(0x0001, {kAttachNotWindows9x}, {}); !attached) {
    LogFailure(name + " not started: attach", attached.error());
    return false;
  }
  std::uint32_t a = 0, b = 0, c = 0, d = 0;
  std::string text;
  (void)api_->Call(0x0000, {}, {ApiOut::Scalar(a), ApiOut::Scalar(b), ApiOut::Scalar(c), ApiOut::Scalar(d),
                                ApiOut::Text(text, kTextCapacity)});
  Init(parent, name, number, 0, 0);
  Scan();
  return true;
}

int CIopController::UpdateValues() {
  ApiChannel& api = *Api();
  auto word = api.Read(0x3000, {0u});
  if (word) SetAttr("HWVersion", fw::kDropReadOnly, HardwareVersionText(*word));
  SetAttrInt("HasEvent", fw::kDropReadOnly, 1);
  const bool qx = word && SeriesOf(*word) == kSeriesQx;
  SetAttrInt("IsQx6", fw::kDropReadOnly, qx ? 1 : 0);
  auto one = [&](const char* property, std::uint16_t command) {
    if (auto v = api.Read(command, {})) SetAttrInt(property, fw::kDropReadOnly, *v);
  };
  auto two = [&](const char* first, const char* second, std::uint16_t command, int a, int b) {
    SetAttrInt(first, fw::kDropReadOnly, a);
    SetAttrInt(second, fw::kDropReadOnly, b);
    std::uint32_t x = 0, y = 0;
    if (!api.Ok(command, {}, {ApiOut::Scalar(x), ApiOut::Scalar(y)})) return;
    SetAttrInt(first, fw::kDropReadOnly, x);
    SetAttrInt(second, fw::kDropReadOnly, y);
  };
  if (!qx) {
    one("CacheBlockSize", 0x3515);
    one("CacheSize", 0x3509);
    one("RWCacheSize", 0x351C);
    two("CacheFlushPolicy", "CacheFlushFrequency", 0x3513, 1, 10);
    one("CacheFlushGroupSize", 0x3516);
    two("DirtyThresholdStart", "DirtyThresholdStop", 0x350F, 90, 10);
  }
  one("ProcessorMemory", 0x4003);
  if (auto p = api.Params(1, 0, {}); p && p->size() > 24) SetAttrInt("ProcessorType", fw::kDropReadOnly, (*p)[24]);
  auto modules = api.Params(5, 5, {5, 6, 7, 8, 9, 10});
  if (modules && modules->size() >= 8) {
    const std::uint64_t length = 8 + 4ull * GetLe(*modules, 4, 4);
    // A count beyond the reply is refused rather than read past it.
    if (length <= modules->size()) {
      SetAttrBinary("ModuleList", fw::kDropReadOnly, modules->data(), static_cast<std::size_t>(length));
      auto q = api.Params(5, 3, {5, 6, 8});
      if (q && q->size() >= 44 && GetLe(*q, 8, 2) >= 1)
        SetAttrBinary("Quorlin", fw::kDropReadOnly, q->data() + 12, 32);
    }
  }
  if (qx) {
    for (auto [property, command] : {std::pair{"GetSmart", 0x3006}, {"GetHDCache", 0x3008}, {"GetBBU", 0x3527},
                                     {"GetAutoFlushFreq", 0x3529}, {"GetRebuildPriority", 0x352A},
                                     {"GetOptimal", 0x352E}, {"GetBufferCount", 0x3530}, {"MaxBufferCount", 0x3532}}) {
      std::uint32_t v = 0;
      if (api.Call(static_cast<std::uint16_t>(command), {}, {ApiOut::Scalar(v)}))
        SetAttrInt(property, fw::kDropReadOnly, v);
    }
  }
  return 1;
}

int CIopController::DeclareMethods() {
  for (const Setting& s : kSettings) AddMethod(s.method, kRightsSettings);
  AddMethod("CreateArray", kRightsCreate);
  AddMethod("DeleteArray", kRightsDelete);
  AddMethod("ReadEvent", kRightsAnyUser);
  AddMethod("ClearEvent", kRightsClear);
  AddMethod("SetCachePolicy", kRightsSettings);
  AddMethod("SilentBuzzer", kRightsAnyUser);
  AddMethod("TurnOnBuzzer", kRightsAnyUser);
  return 1;
}

int CIopController::SetAndReread(const char* method, std::uint16_t set, std::uint16_t get, const char* property,
                                 const std::string& arg) {
  ApiChannel& api = *Api();
  // The answer follows the re-read alone; a refused setting shows in the log and in the value read back.
  if (auto done = api.Ok(set, {Atoi(arg)}, {}); !done) LogFailure(Name() + " " + method + " " + arg, done.error());
  std::uint32_t v = 0;
  auto status = api.Call(get, {}, {ApiOut::Scalar(v)});
  if (!status) return 1;
  if (*status == 0) SetAttrInt(property, fw::kDropReadOnly, v);
  return 0;
}

int CIopController::InvokeHandler(const std::string& name, const std::string& arg) {
  for (const Setting& s : kSettings)
    if (name == s.method) return SetAndReread(s.method, s.set, s.get, s.property, arg);
  if (name == "SilentBuzzer" || name == "TurnOnBuzzer") {
    // The answer says whether the call went through; what the card made of it goes to the log.
    const std::uint16_t command = name == "SilentBuzzer" ? 0x3107 : 0x310E;
    auto status = Api()->Call(command, {0u}, {});
    if (auto done = StatusOf(command, status); !done) LogFailure(Name() + " " + name, done.error());
    return status ? 0 : 1;
  }
  if (name == "CreateArray") CreateArray(arg);
  if (name == "DeleteArray") DeleteArray(arg);
  if (name == "SetCachePolicy") SetCachePolicy(arg);
  return 0;
}

void CIopController::Refresh() {
  plat::com::ComPtr<CIopController> keep(this);
  DeclareMethods();
  UpdateValues();
  Scan();
}

void CIopController::Scan() {
  plat::com::ComPtr<CIopController> keep(this);
  ApiChannel& api = *Api();
  const std::uint32_t n = std::min(api.Read(0x3001, {0u}).valueOr(0), kMaxObjects);
  std::vector<fw::CRiverNode*> seen;
  std::uint32_t found = 0xFFFFFFFFu;
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t h = 0, kind = 0;
    if (!api.Ok(0x3002, {0u, i}, {ApiOut::Scalar(h), ApiOut::Scalar(kind)})) continue;
    fw::CRiverNode* old = nullptr;
    for (std::size_t pos = 0; fw::CRiverNode* c = NextChild(pos);) {
      if ((c->NodeType() == fw::kIopChannel || c->NodeType() == fw::kIopEnclosure) &&
          static_cast<std::uint32_t>(c->Id1()) == h) {
        old = c;
        break;
      }
    }
    if (old) {
      plat::com::ComPtr<fw::CRiverNode> hold(old);
      if (auto* e = dynamic_cast<CIopEnclosure*>(old)) e->SetChannelCount(channelNames_);
      old->Refresh();
      old->Fire(fw::kNotifyChanged);
      seen.push_back(old);
      continue;
    }
    if (kind == 1 || kind == 2) {
      auto ch = plat::com::makeObject<CIopChannel>();
      const std::string name = Numbered("ch", ++channelNames_);
      ch->Start(this, name, h, static_cast<int>(kind));
      if (AddChild(ch.get())) seen.push_back(ch.get());
    } else if (kind == kKindContainer) {
      found = h;
    } else if (kind == kKindEnclosure) {
      auto e = plat::com::makeObject<CIopEnclosure>();
      e->Start(this, Numbered("Enclosure", ++enclosureNames_), h, channelNames_);
      if (AddChild(e.get())) seen.push_back(e.get());
    }
  }
  // A second container that differs from the first leaves the arrays as they are.
  if (container_ == 0xFFFFFFFFu || found == 0xFFFFFFFFu || container_ == found) {
    container_ = found;
    ScanArrays();
  }
  RemoveUnseen(*this, seen, [](fw::CRiverNode& c) { return c.NodeType() == fw::kIopChannel; });
}

void CIopController::ScanArrays() {
  ApiChannel& api = *Api();
  const std::uint32_t m =
      container_ == 0xFFFFFFFFu ? 0 : std::min(api.Read(0x3003, {container_}).valueOr(0), kMaxObjects);
  std::vector<fw::CRiverNode*> seen;
  for (std::uint32_t i = 0; i < m; ++i) {
    std::uint32_t h = 0, kind = 0;
    if (!api.Ok(0x3004, {container_, i}, {ApiOut::Scalar(h), ApiOut::Scalar(kind)}) || kind != 4) continue;
    const int number = static_cast<int>(i) + 1;
    const std::string name = Numbered("Array", number);
    // An array of that name that now stands for another handle is replaced, not refreshed.
    auto* node = MakeOrRefresh<CIopArray>(*this, name, static_cast<int>(h), [&]() -> plat::com::ComPtr<CIopArray> {
      auto a = plat::com::makeObject<CIopArray>();
      if (!a->Start(this, name, h, number)) return {};
      return a;
    });
    if (node) seen.push_back(node);
  }
  RemoveUnseen(*this, seen, [](fw::CRiverNode& c) { return c.NodeType() == fw::kIopArray; });
}

void CIopController::CreateArray(const std::string& arg) {
  plat::com::ComPtr<CIopController> keep(this);
  const auto fields = fw::SplitArgs(arg, '@');
  auto level = fields.size() > 1 ? LevelCodeOf(fields[1]) : std::nullopt;
  const int count = fields.size() > 2 ? Atoi(fields[2]) : 0;
  std::vector<std::uint32_t> disks;
  bool valid = level && count >= 1 && static_cast<std::size_t>(count) <= kMaxMembers &&
               fields.size() >= 3 + static_cast<std::size_t>(count);
  for (int i = 0; valid && i < count; ++i) {
    // A disk is named by the number in its handle; the whole handle text is taken too.
    const std::string& field = fields[3 + static_cast<std::size_t>(i)];
    fw::CRiverNode* node = nullptr;
    if (IsDecimal(field) && std::stoull(field) <= 0xFFFFFFFFull)
      node = FindByHandle(static_cast<std::uint32_t>(std::stoull(field)), fw::kIopDisk);
    if (!node) node = FindByHandle(field);
    auto* disk = dynamic_cast<CIopDisk*>(node);
    if (!disk) {
      valid = false;
      break;
    }
    disks.push_back(disk->DiskHandle());
  }
  if (!valid) {
    Env().log("CreateArray refused: the level, the disk count or a disk does not name what this controller has.");
  } else {
    auto number = [&](std::size_t at) { return at < fields.size() ? Atoi(fields[at]) : 0; };
    const std::size_t after = 3 + static_cast<std::size_t>(count);
    const int a = number(after), b = number(after + 1), c = number(after + 2);
    std::uint32_t word = *level;
    if (a != b && b == 0) word |= 0x40000000u;
    if (a != b && c != 0) word |= 0x80000000u;
    std::uint32_t handle = 0;
    auto created = Api()->Ok(0x3303,
                             {ApiIn::Text(fields[0]), word, static_cast<std::uint32_t>(count), ApiIn::Array(disks),
                              static_cast<std::uint32_t>(a)},
                             {ApiOut::Scalar(handle)});
    if (created) {
      Fire(fw::kNotifyChanged);
    } else {
      LogFailure(Name() + " CreateArray \"" + fields[0] + "\" not made", created.error());
    }
  }
  Scan();
}

void CIopController::DeleteArray(const std::string& arg) {
  if (auto deleted = Api()->Ok(0x3304, {static_cast<std::uint32_t>(std::strtoul(arg.c_str(), nullptr, 10))}, {});
      !deleted) {
    LogFailure(Name() + " DeleteArray " + arg + " not deleted", deleted.error());
    return;
  }
  plat::com::ComPtr<CIopController> keep(this);
  Fire(fw::kNotifyChanged);
  Scan();
}

void CIopController::SetCachePolicy(const std::string& arg) {
  const auto fields = fw::SplitArgs(arg, '@');
  std::optional<int> frequency, start, stop;
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    const char* name = fields[i].c_str();
    const int value = Atoi(fields[i + 1]);
    if (::strcasecmp(name, "CacheFlushFrequency") == 0) frequency = value;
    if (::strcasecmp(name, "DirtyThresholdStart") == 0) start = value;
    if (::strcasecmp(name, "DirtyThresholdStop") == 0) stop = value;
  }
  ApiChannel& api = *Api();
  bool changed = false;
  if (frequency && api.Ok(0x3514, {1u, *frequency}, {})) {
    SetAttrInt("CacheFlushPolicy", fw::kDropReadOnly, 1);
    SetAttrInt("CacheFlushFrequency", fw::kDropReadOnly, *frequency);
    changed = true;
  }
  if (start && stop && *stop < *start && api.Ok(0x3510, {*start, *stop}, {})) {
    SetAttrInt("DirtyThresholdStart", fw::kDropReadOnly, *start);
    SetAttrInt("DirtyThresholdStop", fw::kDropReadOnly, *stop);
    changed = true;
  }
  if (changed) {
    Fire(fw::kNotifyChanged);
  } else {
    Env().log("SetCachePolicy changed nothing: \"" + arg + "\"");
  }
}

// Event log.

plat::HRESULT CIopController::GetNewCount(std::uint32_t* newCount) {
  // The interface answers S_OK whatever the card did; an unreadable count reads as no new events.
  auto count = Api()->Read(0x3103, {0u});
  if (newCount) *newCount = count.valueOr(0);
  NoteEventRead(countFailing_, Name() + " count of new events not read", count);
  const std::int64_t now = Env().clock->wallSeconds();
  if (now - lastClock_ > kClockEvery) {
    lastClock_ = now;
    if (auto set = Api()->Ok(0x3106, {static_cast<std::uint32_t>(now)}, {}); !set)
      LogFailure(Name() + " clock not set", set.error());
  }
  return plat::S_OK;
}

plat::HRESULT CIopController::ReadEventLog(std::string* buf, std::uint32_t* size) {
  const std::uint32_t wanted = size ? *size : 1;
  if (buf) buf->clear();
  std::uint32_t count = 0;
  std::vector<std::uint8_t> records;
  std::optional<ControllerEvent> first;
  if (wanted >= 1 && wanted <= kMaxWanted) {
    // Fewer records than asked is an ordinary answer; a read that fails or a record that does not
    // decode is logged.
    auto read = Api()->Ok(0x3104, {0u, wanted}, {ApiOut::Scalar(count), ApiOut::Bytes(records, kRecordBuffer)});
    if (read && count == wanted) {
      first = FirstEvent(records);
      if (!first) read = plat::Error{EPROTO, "the first event record runs past the reply"};
    }
    NoteEventRead(recordsFailing_, Name() + " events not read", read);
  }
  if (!first) {
    if (size) *size = 0;
    return plat::S_OK;
  }
  plat::com::ComPtr<CIopController> keep(this);
  if (first->type == 256 || first->type == 257) {
    Scan();
    Fire(fw::kNotifyChanged);
  }
  const int language = Env().language;
  const EventTexts t = EventTextsOf(first->type);
  fw::EventRecord record;
  record.code = static_cast<std::int32_t>(first->type);
  record.time = Env().clock->wallSeconds();
  record.severity = static_cast<std::int32_t>(first->severity);
  record.title = LoadString(t.title, language);
  record.text = EventMessage(
      *first, language, [this](std::uint32_t h) { return DiskText(h); },
      [this](std::uint32_t h) { return ArrayText(h); });
  if (buf) *buf = record.format();
  return plat::S_OK;
}

plat::HRESULT CIopController::ClearLog() {
  if (auto cleared = Api()->Ok(0x3105, {0u}, {}); !cleared) LogFailure(Name() + " events not cleared", cleared.error());
  return plat::S_OK;
}

std::string CIopController::NameText(std::uint32_t handle) {
  std::string text;
  if (!Api()->Ok(0x3100, {handle}, {ApiOut::Text(text, kTextCapacity)})) text.clear();
  return text;
}

std::string CIopController::DiskText(std::uint32_t handle) {
  fw::CRiverNode* node = FindById(static_cast<int>(handle), fw::kIopDisk);
  const std::string model = node ? node->GetAttr("model", "") : NameText(handle);
  std::uint32_t channel = 0;
  auto status = Api()->Call(0x3102, {handle}, {ApiOut::Scalar(channel)});
  const int c = status && *status == 0 ? static_cast<int>(channel) : -2;
  char buf[64];
  std::snprintf(buf, sizeof buf, "0x%08x ch %d", handle, c + 1);
  return model.empty() ? std::string(buf) : model + " (" + buf + ")";
}

std::string CIopController::ArrayText(std::uint32_t handle) {
  fw::CRiverNode* node = FindById(static_cast<int>(handle), fw::kIopArray);
  const std::string name = node ? node->GetAttr("name", "") : NameText(handle);
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", handle);
  return name.empty() ? std::string(buf) : name + " (" + buf + ")";
}

}  // namespace kelm::iop
