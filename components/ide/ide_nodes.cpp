#include "components/ide/ide_nodes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "components/framework/component_module.h"
#include "components/framework/version_info.h"
#include "components/ide/driver_event.h"
#include "components/ide/ide_poll.h"
#include "components/ide/ide_texts.h"

namespace tirrow {

using kelm::fw::kDropReadOnly;
using kelm::fw::kDropReadOnlyVolatile;
using kelm::fw::kDropReadWrite;
using kelm::fw::kNodeBase;
using kelm::fw::kNodeContainer;
using kelm::fw::kNotifyChanged;

namespace {

std::string Numbered(const char* prefix, int n) { return prefix + std::to_string(n); }

// A decimal argument as the C library reads it: leading digits, 0 for none.
int ArgInt(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

// Finds the child of `parent` that is `child`, or makes it with `make` and adds it under `name`;
// an existing child is refreshed and told of the change.
template <class Node, class Make>
Node* FindOrMake(CRiverNode* parent, Node* existing, const std::string& name, Make make) {
  if (existing) {
    existing->Refresh();
    existing->Fire(kNotifyChanged);
    return existing;
  }
  auto made = make();
  if (!made || !parent->AddChild(made.get(), name)) return nullptr;
  return made.get();
}

// A driver request that the node makes once, for a user's request or while it is built.
template <class T>
T ValueOrLog(plat::Result<T> result, T fallback, const std::string& what) {
  if (result) return std::move(*result);
  LogError(WithReason(what + " - driver request failed", result.error()));
  return fallback;
}

// A request the driver refused, or that failed; true when it was carried out.
bool LogIfFailed(const plat::Result<void>& result, const std::string& what) {
  if (result) return true;
  LogError(WithReason(what + (result.code() == kTaskRefused ? " - refused by the driver" : " - driver request failed"),
                      result.error()));
  return false;
}

// A setting's decimal argument within [low, high]; nothing (logged) for any other text.
std::optional<int> SettingArg(const std::string& what, const std::string& text, int low, int high) {
  int v = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto [end, ec] = std::from_chars(first, last, v);
  if (ec == std::errc() && end == last && v >= low && v <= high) return v;
  LogError(what + " - refused (\"" + text.substr(0, 40) + "\" is not a value from " + std::to_string(low) + " to " +
           std::to_string(high) + ")");
  return std::nullopt;
}

// A rebuild or synchronise: a refusal is logged at once, the driver's refusal or failure of the
// request once it has answered.
void StartLogged(const std::string& what, const std::function<plat::Result<void>(CMaroveltDriver::TaskDone)>& start) {
  auto started = start([what](const plat::Result<void>& outcome) { LogIfFailed(outcome, what); });
  if (!started) LogError(WithReason(what + " - refused", started.error()));
}

// The enclosure requests of a channel that failed, logged as the poll repeats them.
void NoteEnclosureFailures(int channel, const EnclosureSensors& e) {
  const std::string what = "Read enclosure of channel " + std::to_string(channel + 1) + " - driver request failed";
  if (e.failures.empty()) return ClearFailure(what);
  std::string reasons;
  for (const auto& f : e.failures) reasons += (reasons.empty() ? "" : "; ") + f.message;
  LogFailureOnce(what, plat::Error{e.failures.front().code, reasons});
}

}  // namespace

std::shared_ptr<CMaroveltDriver> SharedDriver() {
  static std::weak_ptr<CMaroveltDriver> shared;
  if (auto d = shared.lock()) return d;
  auto d = std::make_shared<CMaroveltDriver>(plat::EventLoop::current());
  if (auto read = d->ReadDriverState(); !read) {
    LogError(WithReason(d->DriverNotFound() ? "Driver not found" : "Read driver tables - driver request failed",
                        read.error()));
  }
  shared = d;
  return d;
}

// --- disk --------------------------------------------------------------------------------------------

CIdeDisk::CIdeDisk(std::shared_ptr<CMaroveltDriver> driver) : CRiverNode(kNodeBase, kTypeDisk), driver_(std::move(driver)) {}

int CIdeDisk::UpdateValues() {
  if (!FindDrop("model")) SetAttr("model", kDropReadOnly, "Dumb Marovelt!");
  const int index = driver_->FindDisk(Controller(), Channel(), Device());
  const auto record = driver_->Disk(index);
  if (record) {
    // The disk's array runs a task when the activity entry of the array holding it shows one.
    bool running = false;
    for (std::size_t slot = 0; slot < kArraySlots; ++slot) {
      auto a = driver_->Array(static_cast<int>(slot));
      if (!a) continue;
      for (const auto& m : a->members) {
        if (m.diskIndex != index) continue;
        const auto type = driver_->Activity(static_cast<int>(slot)).type;
        running = running || (type >= 1 && type <= 3);
      }
    }
    SetAttrInt("Status", kDropReadOnlyVolatile, static_cast<std::int32_t>(DiskStatusValue(record->status)));
    SetAttrInt("Rebuild", kDropReadOnlyVolatile, DiskRebuildValue(record->status, running));
  }
  const auto id = driver_->Identify(Controller(), Channel(), Device());
  if (id) {
    SetAttr("model", kDropReadOnly, id->model);
    // Asked on every refresh, so a failing disk is logged once until it answers again.
    const std::string what = "Read S.M.A.R.T. status of controller " + std::to_string(Controller() + 1) + " Channel " +
                             std::to_string(Channel() + 1) + (Device() ? " Slave" : " Master") +
                             " - driver request failed";
    SetAttr("smart", kDropReadOnly,
            SmartText(ValueOrLogOnce(driver_->GetDiskSmart(Controller(), Channel(), Device()), 255, what)));
    SetAttrInt("Cyls", kDropReadOnly, id->ShownCylinders());
    SetAttrInt("Heads", kDropReadOnly, id->heads);
    SetAttrInt("Sectors", kDropReadOnly, id->sectors);
    SetAttr("Size", kDropReadOnly, SizeText(id->SizeBytes()));
    if (record) {
      if (auto mode = TimingModeText(id->word49, id->word53, id->word63, id->word88)) {
        SetAttr("Timing_Mode", kDropReadOnly, *mode);
      }
    }
  }
  SetAttrInt("Channel", kDropReadOnly, Channel());
  return 1;
}

// --- channel -----------------------------------------------------------------------------------------

CIdeChannel::CIdeChannel(std::shared_ptr<CMaroveltDriver> driver, int controller)
    : CRiverContainer(kNodeContainer, kTypeChannel), driver_(std::move(driver)), controller_(controller) {}

int CIdeChannel::UpdateValues() {
  if (const std::uint8_t* r = driver_->ControllerRecord(controller_)) {
    const int ch = Number() & 1;
    SetAttrF("IOaddress1", kDropReadOnly, "0x%4X", Get32(r + 24 + 4 * ch));
    SetAttrF("IOaddress2", kDropReadOnly, "0x%4X", Get32(r + 32 + 4 * ch));
  }
  return 1;
}

CRiverNode* CIdeChannel::MakeChild(int device, int channel, void*) {
  for (std::size_t pos = FirstChildPosition(); CRiverNode* c = NextChild(pos);) {
    if (c->Id3() == device) {
      c->UpdateValues();
      return c;
    }
  }
  auto disk = plat::com::makeObject<CIdeDisk>(driver_);
  disk->Init(this, device == 0 ? "master" : "slave", controller_, channel, device);
  if (!AddChild(disk.get())) return nullptr;
  return disk.get();
}

void CIdeChannel::ScanDevices(std::vector<CRiverNode*>& seen) {
  if (driver_->DriverNotFound()) return;
  const int ch = Number();
  const int count = (driver_->DevicePresent(controller_, ch, 0) ? 1 : 0) + (driver_->DevicePresent(controller_, ch, 1) ? 1 : 0);
  for (int d = 0; d < count; ++d) {
    auto id = driver_->Identify(controller_, ch, d);
    // A channel with only a slave drive shows "slave".
    if (!id || id->model.empty()) d = 1;
    if (CRiverNode* c = MakeChild(d, ch, nullptr)) seen.push_back(c);
  }
}

// --- enclosure ---------------------------------------------------------------------------------------

CIdeSwapBox::CIdeSwapBox(std::shared_ptr<CMaroveltDriver> driver)
    : CRiverNode(kNodeBase, kTypeSwapBox), driver_(std::move(driver)) {}

int CIdeSwapBox::UpdateValues() {
  const int channel = Id1();
  const EnclosureSensors e = driver_->ReadEnclosure(channel);
  NoteEnclosureFailures(channel, e);
  SetAttrInt("Channel", kDropReadOnly, channel);
  SetAttrInt("ID", kDropReadOnly, 0);
  SetAttrInt("Status", kDropReadOnlyVolatile, 0);
  SetAttrInt("Temperature", kDropReadOnlyVolatile, e.temperature);
  SetAttrInt("FanRPM", kDropReadOnlyVolatile, e.fan);
  SetAttrInt("Power5VStatus", kDropReadOnlyVolatile, e.power5);
  SetAttrInt("Power12VStatus", kDropReadOnlyVolatile, e.power12);
  SetAttrInt("EnclosureType", kDropReadOnly, e.type);
  return 1;
}

CIdeEnclosureGroup::CIdeEnclosureGroup(std::shared_ptr<CMaroveltDriver> driver, int controller)
    : CRiverContainer(kTypeEnclosureGroup, kTypeEnclosureGroup), driver_(std::move(driver)), controller_(controller) {}

int CIdeEnclosureGroup::UpdateValues() {
  SetAttrInt("HardwareType", kDropReadOnly, 1);
  return 1;
}

int CIdeEnclosureGroup::DeclareMethods() {
  AddMethod("SilentBuzzer", 80);
  AddMethod("TurnOnBuzzer", 80);
  return 1;
}

int CIdeEnclosureGroup::InvokeHandler(const std::string& name, const std::string&) {
  return name == "SilentBuzzer" || name == "TurnOnBuzzer" ? 0 : static_cast<int>(plat::E_FAIL);
}

CRiverNode* CIdeEnclosureGroup::MakeChild(int channel, int type, void*) {
  const char* prefix = type == 1 ? "brindle" : type == 17 ? "corvane" : nullptr;
  if (!prefix) return nullptr;
  const std::string name = Numbered(prefix, channel + 1);
  for (std::size_t pos = FirstChildPosition(); CRiverNode* c = NextChild(pos);) {
    if (c->Name() == name) {
      c->UpdateValues();
      return c;
    }
  }
  auto box = plat::com::makeObject<CIdeSwapBox>(driver_);
  box->Init(this, name, channel, type, 0);
  if (!AddChild(box.get())) return nullptr;
  return box.get();
}

void CIdeEnclosureGroup::ScanDevices(std::vector<CRiverNode*>& seen) {
  made_ = 0;
  for (int channel = 2 * controller_; channel <= 2 * controller_ + 1; ++channel) {
    const std::string what =
        "Read enclosure type of channel " + std::to_string(channel + 1) + " - driver request failed";
    const int type = ValueOrLogOnce(driver_->EnclosureRequest(0, channel, 0), -1, what);
    if (type == 0 || type == -1) continue;
    if (CRiverNode* c = MakeChild(channel, type, nullptr)) {
      seen.push_back(c);
      ++made_;
    }
  }
  UpdateValues();
  SetAttrInt("NumEnclosures", kDropReadOnlyVolatile, 1 + made_);
}

// --- controller --------------------------------------------------------------------------------------

CIdeController::CIdeController(std::shared_ptr<CMaroveltDriver> driver, const plat::Clock& clock)
    : CRiverNode(kNodeBase, kTypeController), driver_(std::move(driver)), clock_(clock) {
  CIdePoll::Get().AddController(this);
}

CIdeController::~CIdeController() { CIdePoll::Get().RemoveController(this); }

void* CIdeController::queryMore(const plat::com::Guid& iid) {
  return iid == kelm::fw::IEventLog::kIid ? static_cast<kelm::fw::IEventLog*>(this) : nullptr;
}

void CIdeController::ReadSettings() {
  // Refreshes the version status behind the message; why no driver passed goes beside it.
  if (auto opened = driver_->OpenDriver(); !opened)
    LogError(WithReason(driver_->DriverVersionMessage(), opened.error()));
  driverCurrent_ = driver_->DriverVersionMessage() == "No Error";
  if (driverCurrent_) {
    pciMaximum_ = ValueOrLog(driver_->GetPciMaximum(), -1, "Read PCI bus maximum");
    pciThreshold_ = ValueOrLog(driver_->GetPciThreshold(), -1, "Read PCI bus threshold");
    pciPercent_ = PciPercent(std::max(pciThreshold_, 0), std::max(pciMaximum_, 0));
  }
  auto setting = [this](const char* name, int& into) {
    auto value = driver_->ReadAdapterSetting(name);
    if (!value) return LogError(WithReason(std::string("Read ") + name + " - registry error", value.error()));
    if (*value) into = **value;
  };
  setting("WRITEBACKCACHE", cachePolicy_);
  setting("DISABLEHOTSPARE", disableHotSpare_);
  if (driverCurrent_) {
    smart_ = ValueOrLog(driver_->GetSmartEnable(), 255, "Read S.M.A.R.T. enable");
    maintenanceRate_ = ValueOrLog(driver_->GetMaintenanceRate(), 4, "Read maintenance rate");
  }
  auto hw = driver_->GetHardwareId();
  if (hw) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s (%04x)", ModelText(hw->modelCode).c_str(), hw->pciDeviceId);
    hardware_ = buf;
  } else if (driverCurrent_) {  // otherwise no request opens, and why is logged above
    LogError(WithReason("Read hardware identification - driver request failed", hw.error()));
  }
  auto [version, time] = driver_->DriverFileVersion();
  if (version != "UNKNOWN") driverVersion_ = version;
}

int CIdeController::InitController(CRiverNode* parent, const std::string& name, int index) {
  id1_ = index;  // the settings read below need it before Init stores it
  ReadSettings();
  Init(parent, name, index, 0, 0);
  BuildChildren();
  return 1;
}

int CIdeController::UpdateValues() {
  SetAttr("Marovelt", kDropReadOnly, "yes");
  SetAttrInt("HasEvent", kDropReadOnly, 3);
  if (const std::uint8_t* r = driver_->ControllerRecord(Index())) {
    SetAttrInt("IRQ", kDropReadOnly, static_cast<std::int32_t>(Get32(r + 12)));
    SetAttrF("RBA", kDropReadOnly, "0x%08X", Get32(r + 20));
    SetAttrF("BMB", kDropReadOnly, "0x%4X", Get32(r + 8));
  }
  if (!driverVersion_.empty()) SetAttr("DV", kDropReadOnly, driverVersion_);
  if (!hardware_.empty()) SetAttr("HardWare", kDropReadOnly, hardware_);
  SetAttrInt("GetSmart", kDropReadOnly, smart_);
  SetAttrInt("GetPCIBus", kDropReadOnly, pciPercent_);
  SetAttrInt("GetCachePolicy", kDropReadOnly, cachePolicy_);
  SetAttrInt("GetDisableHotSpare", kDropReadOnly, disableHotSpare_);
  SetAttrInt("GetMaintenanceRate", kDropReadOnly, maintenanceRate_);
  return 1;
}

int CIdeController::DeclareMethods() {
  AddMethod("ReadEvent", kMethodRightsEveryone);
  AddMethod("ClearEvent", 64);
  AddMethod("SetCachePolicy", kMethodRightsSettings);
  AddMethod("SetSmart", kMethodRightsSettings);
  AddMethod("SetPCIBus", kMethodRightsSettings);
  AddMethod("SetDisableHotSpare", kMethodRightsSettings);
  AddMethod("SetMaintenanceRate", kMethodRightsSettings);
  return 1;
}

bool CIdeController::StoreSetting(const char* name, int value, const char* failureText) {
  auto stored = driver_->WriteAdapterSetting(name, value);
  if (stored) return true;
  LogError(WithReason(failureText, stored.error()));
  return false;
}

int CIdeController::InvokeHandler(const std::string& name, const std::string& arg) {
  const int v = ArgInt(arg);
  bool stored = false;
  if (name == "SetCachePolicy") {
    if ((stored = StoreSetting("WRITEBACKCACHE", v, "Registry Error"))) cachePolicy_ = v;
  } else if (name == "SetSmart") {
    // A value the driver does not take changes neither the node nor the registry.
    const auto on = SettingArg("Set S.M.A.R.T.", arg, 0, 1);
    if (on && LogIfFailed(driver_->SetSmartEnable(*on), "Set S.M.A.R.T.")) {
      smart_ = ValueOrLog(driver_->GetSmartEnable(), 255, "Read S.M.A.R.T. enable");
      stored = StoreSetting("SMARTENABLE", *on, "Registry Error");
    }
  } else if (name == "SetPCIBus") {
    const int maximum = std::max(pciMaximum_, 0);
    const auto percent = SettingArg("Set PCI bus", arg, 0, 100);
    const int count = percent ? PciCount(*percent, maximum) : 0;
    if (percent && LogIfFailed(driver_->SetPciThreshold(count), "Set PCI bus") &&
        (stored = StoreSetting("COUNTTHRESHOLD", count, "Registry Error"))) {
      pciThreshold_ = count;
      pciPercent_ = PciPercent(count, maximum);
    }
  } else if (name == "SetDisableHotSpare") {
    if ((stored = StoreSetting("DISABLEHOTSPARE", v, "Registry Error"))) disableHotSpare_ = v;
  } else if (name == "SetMaintenanceRate") {
    const auto rate = SettingArg("Set maintenance rate", arg, 0, 255);
    if (rate && LogIfFailed(driver_->SetMaintenanceRate(*rate), "Set maintenance rate") &&
        (stored = StoreSetting("MAINTENANCELENGTH", *rate, "Set maintenance rate - registry error"))) {
      maintenanceRate_ = *rate;
    }
  } else {
    return 0;  // ReadEvent, ClearEvent and unknown names: the agent answers them
  }
  if (stored) {
    UpdateValues();
    Fire(kNotifyChanged);
  }
  return 0;
}

void CIdeController::BuildChildren() {
  const std::uint8_t* r = driver_->ControllerRecord(Index());
  const int channels = r ? std::clamp(static_cast<int>(Get32(r + 48)), 0, 2) : 0;
  for (int ch = 0; ch < 2; ++ch) {
    const std::string name = Numbered("ch", ch + 1);
    auto* existing = static_cast<CIdeChannel*>(ChildByName(name));
    if (ch >= channels) {
      if (existing) RemoveEntry(FindDrop(name));
      continue;
    }
    FindOrMake(this, existing, name, [&] {
      auto c = plat::com::makeObject<CIdeChannel>(driver_, Index());
      c->InitContainer(this, name, ch, nullptr);
      return c;
    });
  }
  const std::string group = "Enclosure1";
  FindOrMake(this, static_cast<CIdeEnclosureGroup*>(ChildByName(group)), group, [&] {
    auto g = plat::com::makeObject<CIdeEnclosureGroup>(driver_, Index());
    g->InitContainer(this, group, Index(), nullptr);
    return g;
  });
}

void CIdeController::RefreshController() {
  ++refreshes_;
  BuildChildren();
  Fire(kNotifyChanged);
}

void CIdeController::EnclosureCheck() {
  bool changed = false;
  auto update = [&](int& stored, int value, const char* attribute) {
    if (value == stored) return;
    stored = value;
    SetAttrInt(attribute, kDropReadOnlyVolatile, value);
    changed = true;
  };
  for (int channel = 2 * Index(); channel <= 2 * Index() + 1; ++channel) {
    const EnclosureSensors e = driver_->ReadEnclosure(channel);
    NoteEnclosureFailures(channel, e);
    if (e.type != 1 && e.type != 17) continue;  // no enclosure (0, -1) or a kind without sensors
    if (e.fan != -2) update(sensors_.fan, e.fan, "FanRPM");
    if (e.temperature != -2) update(sensors_.temperature, e.temperature, "Temperature");
    if (e.power5 != -2) update(sensors_.power5, e.power5, "Power5VStatus");
    if (e.power12 != -2) update(sensors_.power12, e.power12, "Power12VStatus");
  }
  if (changed) {
    enclosureChecks_ = 1;
    Fire(kNotifyChanged);
  } else if (enclosureChecks_++ % 180 == 0) {
    enclosureChecks_ = 1;
    Fire(kNotifyChanged);
  }
}

void CIdeController::PollTick(bool changed, int currentPercent, const std::vector<EventRecordBytes>& events) {
  if (counter_ % CIdePoll::kEnclosureTicks == 0) EnclosureCheck();
  if (changed || currentPercent == 1 || currentPercent == 2) {
    RefreshController();
  } else if (counter_++ == CIdePoll::kControllerRefreshTicks) {
    counter_ = 1;
    RefreshController();
  }
  if (!events.empty()) HandEvents(events);
}

void CIdeController::HandEvents(const std::vector<EventRecordBytes>& events) {
  for (const auto& e : events) {
    if (events_.size() >= kMaxQueuedEvents) events_.pop_front();
    events_.push_back(e);
  }
}

plat::HRESULT CIdeController::GetNewCount(std::uint32_t* newCount) {
  if (newCount) *newCount = static_cast<std::uint32_t>(events_.size());
  return plat::S_OK;
}

plat::HRESULT CIdeController::ReadEventLog(std::string* buf, std::uint32_t*) {
  if (events_.empty() || !buf) return plat::S_OK;
  const EventRecordBytes record = events_.front();
  events_.pop_front();
  auto decoded = DecodeDriverEvent(record, *driver_, ProcessLanguage());
  if (!decoded) return plat::S_OK;  // a code that carries no event
  kelm::fw::EventRecord r{decoded->eventCode, clock_.wallSeconds(), decoded->severity, decoded->title, decoded->text};
  *buf = r.format();
  return plat::S_OK;
}

// --- array -------------------------------------------------------------------------------------------

CIdeArray::CIdeArray(std::shared_ptr<CMaroveltDriver> driver)
    : CRiverNode(kNodeBase, kTypeArray), driver_(std::move(driver)) {
  CIdePoll::Get().AddArray(this);
}

CIdeArray::~CIdeArray() { CIdePoll::Get().RemoveArray(this); }

int CIdeArray::UpdateValues() {
  const auto a = driver_->Array(Slot());
  if (!a) return 1;
  level_ = RaidLevel(a->typeCode, a->memberCount);
  const ActivityEntry act = driver_->Activity(Slot());
  const bool running = act.type >= 1 && act.type <= 3;
  SetAttr("RAID_Mode", kDropReadWrite, RaidLevelText(level_));
  SetAttrInt("Cyls", kDropReadWrite, a->cylinders);
  SetAttrInt("Heads", kDropReadWrite, a->heads);
  SetAttrInt("Sectors", kDropReadWrite, a->sectors);
  SetAttr("name", kDropReadWrite, "Ary" + std::to_string(Id2() + 1));
  SetAttrF("Block Size", kDropReadWrite, "%d (kb)", a->blockSectors / 2);
  SetAttr("Size", kDropReadOnly, SizeText(a->SizeBytes()));
  SetAttrInt("Status", kDropReadOnlyVolatile, static_cast<std::int32_t>(ArrayStatusValue(a->flags, act.type)));
  SetAttrInt("ThrottleStatus", kDropReadOnlyVolatile, running ? 1 : 0);
  if (running) {
    SetAttrInt("percent", kDropReadOnlyVolatile, std::min<int>(act.percent, 100));
  } else if (act.type != kActivityNone) {
    SetAttrInt("percent", kDropReadOnlyVolatile, -1);
  } else if (!FindDrop("percent")) {
    SetAttrInt("percent", kDropReadOnlyVolatile, 0);
  }
  return 1;
}

int CIdeArray::DeclareMethods() {
  const bool taskable = level_ != 0 && level_ != 3;
  for (const char* m : {"RebuildArray", "SyncArray"}) {
    if (taskable) {
      AddMethod(m, kMethodRightsArrayTask);
    } else if (const kelm::fw::CDrop* d = FindDrop(m)) {
      RemoveEntry(d);
    }
  }
  AddMethod("ForceIT", kMethodRightsEveryone);
  AddMethod("GUI_Status", kMethodRightsEveryone);
  return 1;
}

void CIdeArray::RefreshArray() {
  plat::com::ComPtr<CIdeArray> keep(this);
  UpdateValues();
  Fire(kNotifyChanged);
  const auto a = driver_->Array(Slot());
  std::vector<std::string> names;
  if (a) {
    for (std::size_t m = 0; m < a->members.size(); ++m) {
      const auto disk = driver_->Disk(a->members[m].diskIndex);
      if (!disk) continue;
      const std::string name = Numbered("disk", static_cast<int>(m) + 1);
      const int controller = disk->globalChannel / 2, channel = disk->globalChannel % 2;
      auto* existing = static_cast<CIdeDisk*>(ChildByName(name));
      if (existing && (existing->Controller() != controller || existing->Channel() != channel ||
                       existing->Device() != disk->device)) {
        RemoveEntry(FindDrop(name));  // another disk took this member's place
        existing = nullptr;
      }
      FindOrMake(this, existing, name, [&] {
        auto d = plat::com::makeObject<CIdeDisk>(driver_);
        d->Init(this, name, controller, channel, disk->device);
        return d;
      });
      names.push_back(name);
    }
  }
  const auto& list = Entries();
  for (std::size_t i = 0; i < list.size();) {
    const kelm::fw::CDrop& d = *list[i];
    if (d.IsChild() && std::find(names.begin(), names.end(), d.name) == names.end()) {
      RemoveEntry(&d);
      continue;
    }
    ++i;
  }
}

void CIdeArray::Rebuild(const std::vector<std::string>& args) {
  const int code = args.empty() ? 0 : ArgInt(args[0]);
  const auto a = driver_->Array(Slot());
  if (!a) return;
  if (code == 512) {
    CRiverNode* target = args.size() < 2 ? nullptr : FindByHandle(args[1]);
    auto* disk = target && target->Parent() == this && target->NodeType() == kTypeDisk ? static_cast<CIdeDisk*>(target)
                                                                                      : nullptr;
    if (!disk) {
      return LogError("Rebuild " + Name() + " - refused (\"" + (args.size() < 2 ? "" : args[1].substr(0, 40)) +
                      "\" names no disk of the array)");
    }
    for (std::size_t m = 0; m < a->members.size(); ++m) {
      const auto r = driver_->Disk(a->members[m].diskIndex);
      if (r && r->globalChannel == disk->Controller() * 2 + disk->Channel() && r->device == disk->Device()) {
        const int member = a->members[m].entry;
        StartLogged("Rebuild " + Name(), [&](CMaroveltDriver::TaskDone done) {
          return driver_->StartRebuild(Slot(), member, 0, std::move(done));
        });
        return;
      }
    }
    LogError("Rebuild " + Name() + " - refused (" + disk->Name() + " is no member of the array)");
  } else if (code == 2048) {
    int target = a->memberCount;
    for (const auto& m : a->present) {
      const auto r = driver_->Disk(m.diskIndex);
      if (r && r->BeingRebuilt()) {
        target = m.entry;
        break;
      }
    }
    StartLogged("Stop rebuild " + Name(), [&](CMaroveltDriver::TaskDone done) {
      return driver_->StartRebuild(Slot(), target, kTaskAbort, std::move(done));
    });
  }
}

int CIdeArray::InvokeHandler(const std::string& name, const std::string& arg) {
  const auto args = kelm::fw::SplitArgs(arg, '@');
  if (name == "RebuildArray") {
    Rebuild(args);
  } else if (name == "SyncArray") {
    const int code = args.empty() ? 0 : ArgInt(args[0]);
    if (code == 512 || code == 2048) {
      const std::uint32_t argument = code == 512 ? 0 : kTaskAbort;
      StartLogged((code == 512 ? "Synchronise " : "Stop synchronise ") + Name(), [&](CMaroveltDriver::TaskDone done) {
        return driver_->StartSynchronise(Slot(), argument, std::move(done));
      });
    }
  } else if (name == "GUI_Status") {
    RefreshArray();
  }
  return static_cast<int>(plat::E_FAIL);
}

// --- root --------------------------------------------------------------------------------------------

CTirrowRoot::CTirrowRoot() : CRiverNode(kNodeBase, kTypeRoot) {}

CTirrowRoot::~CTirrowRoot() { CIdePoll::Get().RemoveRoot(this); }

void CTirrowRoot::Build() {
  Init(nullptr, "tirrow", 0, 0, 0);
  driver_ = SharedDriver();
  CIdePoll::Get().AddRoot(this);
  if (driver_->DriverNotFound()) {
    SetAttr("Type", kDropReadOnly, "Driver not found");
    return;
  }
  auto hw = driver_->GetHardwareId();
  if (hw && (hw->modelCode == 5 || hw->modelCode == 7)) {
    SetAttr("Type", kDropReadOnly, "Hardware not supported");
    return;
  }
  // Unidentified hardware is not refused: its controllers are shown as the driver gives them.
  if (!hw) LogError(WithReason("Read hardware identification - driver request failed", hw.error()));
  for (int c = 0; c < driver_->ControllerCount(); ++c) {
    auto node = plat::com::makeObject<CIdeController>(driver_, plat::systemClock());
    node->InitController(this, Numbered("MVP", c + 1), c);
    AddChild(node.get());
  }
  for (int i = 0; i < driver_->ArrayCount(); ++i) {
    auto node = plat::com::makeObject<CIdeArray>(driver_);
    node->Init(this, Numbered("Ary", i + 1), driver_->ArraySlot(i), i, 0);
    node->RefreshArray();  // its member disks
    AddChild(node.get());
  }
  kelm::fw::CVersionInfo info;
  if (auto self = kelm::fw::ThisModulePath(); self && info.Open(*self)) {
    if (auto v = info.String("FileVersion", 0)) SetAttr("FileVersion", kDropReadOnly, *v);
  }
  SetAttr("Type", kDropReadOnly, "VELKARI MaroveltRAID");
}

}  // namespace tirrow
