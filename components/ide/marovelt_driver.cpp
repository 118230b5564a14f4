#include "components/ide/marovelt_driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "components/framework/version_info.h"
#include "platform/base/paths.h"
#include "platform/registry/registry.h"

namespace tirrow {

namespace {

constexpr int kNtPorts = 10;
constexpr const char* kWin9xName = "\\\\.\\Quellix";
constexpr const char* kSettingsKey = "SYSTEM\\CurrentControlSet\\Services\\Marovelt\\Parameters\\Device";
constexpr const char* kSettingsValue = "DriverParameter";
constexpr std::size_t kMaxSettingEntries = 32;
constexpr std::size_t kMaxSettingText = 63;
// Ordinary requests answer at once; a driver that stays silent this long is treated as failed.
constexpr std::chrono::milliseconds kRequestTimeout{10000};

std::string PortName(int port) { return "\\\\.\\Scsi" + std::to_string(port) + ":"; }

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// "%i": decimal, 0x hexadecimal or 0 octal, with a sign; the longest valid prefix.
bool ParsePercentI(std::string_view text, int* out) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < text.size() && text[i] == '0') {
    base = 8;
  }
  long long v = 0;
  auto [p, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v, base);
  if (ec != std::errc()) return false;
  v = negative ? -v : v;
  *out = static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
  return true;
}

struct SettingEntry {
  std::string name, value;
};

// "NAME=VALUE;" entries; anything malformed is skipped.
std::vector<SettingEntry> ParseSettings(const std::string& text) {
  std::vector<SettingEntry> out;
  std::size_t start = 0;
  while (start < text.size() && out.size() < kMaxSettingEntries) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string_view item(text.data() + start, end - start);
    std::size_t eq = item.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      out.push_back({std::string(item.substr(0, std::min(eq, kMaxSettingText))),
                     std::string(item.substr(eq + 1, std::min(item.size() - eq - 1, kMaxSettingText)))});
    }
    start = end + 1;
  }
  return out;
}

}  // namespace

// --- decoding --------------------------------------------------------------------------------------

int IdentifyInfo::ShownCylinders() const {
  if (cylinders >= 16383 && heads > 0 && sectors > 0) {
    return static_cast<int>(totalSectors / static_cast<std::uint32_t>(heads) / static_cast<std::uint32_t>(sectors));
  }
  return cylinders;
}

std::uint64_t IdentifyInfo::SizeBytes() const {
  return static_cast<std::uint64_t>(ShownCylinders()) * static_cast<std::uint64_t>(heads) *
         static_cast<std::uint64_t>(sectors) * 512u;
}

IdentifyInfo ParseIdentify(const std::uint8_t* w) {
  auto word = [w](int i) { return Get16(w + 2 * i); };
  IdentifyInfo id;
  id.cylinders = word(1);
  id.heads = word(3);
  id.sectors = word(6);
  id.totalSectors = static_cast<std::uint32_t>(word(60)) | static_cast<std::uint32_t>(word(61)) << 16;
  id.word49 = word(49);
  id.word53 = word(53);
  id.word63 = word(63);
  id.word88 = word(88);
  std::string model;
  for (int i = 27; i <= 46; ++i) {
    model.push_back(static_cast<char>(w[2 * i + 1]));
    model.push_back(static_cast<char>(w[2 * i]));
  }
  // Only printable text reaches the tree.
  for (char& c : model) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = ' ';
  }
  id.model = TrimRight(model);
  return id;
}

std::uint64_t ArrayInfo::SizeBytes() const {
  return static_cast<std::uint64_t>(cylinders) * static_cast<std::uint64_t>(heads) *
         static_cast<std::uint64_t>(sectors) * 512u;
}

ArrayInfo ParseArrayRecord(int slot, const std::uint8_t* r) {
  ArrayInfo a;
  a.slot = slot;
  a.flags = r[2];
  a.typeCode = r[3];
  a.memberCount = r[4];
  a.cylinders = Get16(r + 12) + 1;
  a.heads = r[14] + 1;
  a.sectors = r[15];
  a.blockSectors = Get16(r + 28);
  for (int m = 0; m < 8; ++m) {
    const std::uint8_t* e = r + 32 + 4 * m;
    if (e[0] & 0x01) a.present.push_back({m, e[1], e[0]});
    if ((e[0] & 0x03) == 0x03) a.members.push_back({m, e[1], e[0]});
  }
  return a;
}

int RaidLevel(int typeCode, int memberCount) {
  switch (typeCode) {
    case 0: return 0;
    case 1: return (memberCount & ~1) < 3 ? 1 : 2;
    case 2: return 4;
    case 6: return 5;
    case 8: return 3;
    default: return -1;
  }
}

// --- opening -----------------------------------------------------------------------------------------

CMaroveltDriver::CMaroveltDriver(plat::EventLoop* loop, DriverPlatform platform) : loop_(loop), platform_(platform) {
  if (loop_) {
    taskWorker_ = std::make_unique<plat::BlockingWorker>(*loop_);
    abortWorker_ = std::make_unique<plat::BlockingWorker>(*loop_);
  }
}

CMaroveltDriver::~CMaroveltDriver() { Shutdown(); }

void CMaroveltDriver::Shutdown() {
  {
    std::lock_guard lock(activityMutex_);
    stopping_ = true;
    for (const auto& [ticket, i] : inFlight_) i.interrupt();
  }
  // Both workers end at once now: their requests were interrupted and no new one opens.
  taskWorker_.reset();
  abortWorker_.reset();
}

bool CMaroveltDriver::Send(plat::devio::Handle& handle, CSrbBuffer& request, std::size_t* returned) {
  auto r = plat::devio::ioctl(handle, IOCTL_SCSI_MINIPORT, request.Bytes(), request.Bytes());
  if (returned) *returned = r.valueOr(0);
  return r.ok();
}

std::uint32_t CMaroveltDriver::CheckDriverVersion(plat::devio::Handle& handle) const {
  CSrbBuffer req(kMpVersion, 0, true);
  if (!Send(handle, req)) return kDriverMissing;
  const std::uint32_t v = req.ReturnCode();
  if (v == 0xFFFFFFFFu) return kDriverMissing;  // nobody answered the request
  const unsigned major = v & 0xFFFF;
  const unsigned minor = (v >> 16) & 0xFF;
  if (major < 1 || (major == 1 && minor < 11)) return kDriverTooOld;
  return kDriverOk;
}

plat::Result<plat::devio::Handle> CMaroveltDriver::OpenChecked(std::uint32_t* status, bool forWorker) const {
  *status = kDriverMissing;
  auto prepare = [&](plat::devio::Handle& h) { h.setTimeout(kRequestTimeout); };
  if (platform_ == DriverPlatform::kWin9x) {
    auto h = plat::devio::open(kWin9xName);
    if (!h) return h.error();
    prepare(*h);
    *status = CheckDriverVersion(*h);
    if (*status != kDriverOk) return plat::Error{ENODEV, DriverVersionMessage()};
    if (forWorker) h->setTimeout(std::chrono::milliseconds(0));
    return h;
  }
  if (platform_ != DriverPlatform::kWinNT) return plat::Error{ENODEV, "no driver on this platform"};
  for (int port = 0; port < kNtPorts; ++port) {
    auto h = plat::devio::open(PortName(port));
    if (!h) continue;
    prepare(*h);
    const std::uint32_t s = CheckDriverVersion(*h);
    // A port that answers with an old driver is remembered; a later port may still pass.
    if (s == kDriverTooOld || *status != kDriverTooOld) *status = s;
    if (s == kDriverOk) {
      if (forWorker) h->setTimeout(std::chrono::milliseconds(0));  // a rebuild blocks as long as it runs
      return h;
    }
  }
  return plat::Error{ENODEV, "no Marovelt driver answered"};
}

plat::Result<plat::devio::Handle> CMaroveltDriver::OpenDriver() {
  std::uint32_t s = kDriverMissing;
  auto h = OpenChecked(&s, false);
  status_ = s;
  return h;
}

std::string CMaroveltDriver::DriverVersionMessage() const {
  if (status_ == kDriverOk) return "No Error";
  if (status_ == kDriverTooOld) return "This version of Dremmoral utility require driver version 1.11 or later.";
  return "Driver not found";
}

// --- full read ---------------------------------------------------------------------------------------

bool CMaroveltDriver::ReadArrayTable(plat::devio::Handle& h) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    CSrbBuffer req(kMpArrayTable, kArrayTableSize);
    if (Send(h, req) && req.Length() == kArrayTableSize) {
      std::copy_n(req.Data(), kArrayTableSize, arrays_.begin());
      arrayCount_ = 0;
      for (std::size_t s = 0; s < kArraySlots; ++s) arrayCount_ += (arrays_[s * kArrayRecordSize + 2] & 1) ? 1 : 0;
      return true;
    }
  }
  return false;
}

bool CMaroveltDriver::ReadDiskTable(plat::devio::Handle& h) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    CSrbBuffer req(kMpDiskTable, kDiskTableSize);
    if (Send(h, req) && req.Length() == kDiskTableSize) {
      std::copy_n(req.Data(), kDiskTableSize, disks_.begin());
      diskCount_ = 0;
      for (std::size_t d = 0; d < kDiskSlots; ++d) diskCount_ += (disks_[d * kDiskRecordSize] & 1) ? 1 : 0;
      return true;
    }
  }
  return false;
}

void CMaroveltDriver::ReadControllers(plat::devio::Handle& h) {
  int count = -1;
  for (int attempt = 0; attempt < 2 && count < 0; ++attempt) {
    CSrbBuffer req(kMpControllerCount, 0, true);
    if (Send(h, req) && req.ReturnCode() != 0xFFFFFFFFu) count = static_cast<int>(std::min<std::uint32_t>(req.ReturnCode(), kMaxControllers));
  }
  if (count < 0) return;
  controllerCount_ = 0;
  for (int c = 0; c < count; ++c) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      CSrbBuffer req(kMpController, kControllerRecordSize);
      Put32(req.Data(), static_cast<std::uint32_t>(c));
      if (!Send(h, req)) continue;
      if (req.Length() == kControllerRecordSize) {
        controllers_.emplace_back();
        std::copy_n(req.Data(), kControllerRecordSize, controllers_.back().begin());
        ++controllerCount_;
      }
      break;
    }
  }
}

void CMaroveltDriver::ReadDriverState() {
  arrays_.fill(0);
  disks_.fill(0);
  controllers_.clear();
  arrayCount_ = controllerCount_ = diskCount_ = -1;
  auto h = OpenDriver();
  if (!h) {
    flags_ |= kFlagNotFound;
    return;
  }
  flags_ &= static_cast<std::uint8_t>(~kFlagNotFound);
  ReadArrayTable(*h);
  ReadControllers(*h);
  ReadDiskTable(*h);
}

// --- tables ------------------------------------------------------------------------------------------

int CMaroveltDriver::ArrayCount() const { return DriverNotFound() ? 0 : std::max(arrayCount_, 0); }

int CMaroveltDriver::ArraySlot(int index) const {
  if (index < 0 || index >= ArrayCount()) return -1;
  for (std::size_t s = 0; s < kArraySlots; ++s) {
    if ((arrays_[s * kArrayRecordSize + 2] & 1) && index-- == 0) return static_cast<int>(s);
  }
  return -1;
}

std::optional<ArrayInfo> CMaroveltDriver::Array(int slot) const {
  if (DriverNotFound() || arrayCount_ < 0 || slot < 0 || static_cast<std::size_t>(slot) >= kArraySlots) return std::nullopt;
  const std::uint8_t* r = &arrays_[static_cast<std::size_t>(slot) * kArrayRecordSize];
  if (!(r[2] & 1)) return std::nullopt;
  return ParseArrayRecord(slot, r);
}

int CMaroveltDriver::ControllerCount() const { return DriverNotFound() ? 0 : std::max(controllerCount_, 0); }

const std::uint8_t* CMaroveltDriver::ControllerRecord(int c) const {
  if (c < 0 || c >= ControllerCount()) return nullptr;
  return controllers_[static_cast<std::size_t>(c)].data();
}

bool CMaroveltDriver::DevicePresent(int controller, int channel, int device) const {
  const std::uint8_t* r = ControllerRecord(controller);
  if (!r || channel < 0 || channel > 1 || device < 0 || device > 1) return false;
  return r[764 + channel * 2 + device] != 0;
}

std::optional<IdentifyInfo> CMaroveltDriver::Identify(int controller, int channel, int device) const {
  const std::uint8_t* r = ControllerRecord(controller);
  if (!r || channel < 0 || channel > 1 || device < 0 || device > 1) return std::nullopt;
  return ParseIdentify(r + 52 + (channel * 2 + device) * 178);
}

int CMaroveltDriver::DiskCount() const { return DriverNotFound() ? 0 : std::max(diskCount_, 0); }

std::optional<DiskRecord> CMaroveltDriver::Disk(int diskIndex) const {
  if (DriverNotFound() || diskCount_ < 0) return std::nullopt;
  if (static_cast<unsigned>(diskIndex) >= kDiskSlots) return std::nullopt;
  const std::uint8_t* r = &disks_[static_cast<std::size_t>(diskIndex) * kDiskRecordSize];
  return DiskRecord{r[0], r[2], r[3] & 1};
}

int CMaroveltDriver::FindDisk(int controller, int channel, int device) const {
  for (int d = 0; d < static_cast<int>(kDiskSlots); ++d) {
    auto r = Disk(d);
    if (r && r->InUse() && r->globalChannel == controller * 2 + channel && r->device == device) return d;
  }
  return -1;
}

std::string CMaroveltDriver::DiskDisplayName(int diskIndex) const {
  auto r = Disk(diskIndex);
  if (!r) return "Unknown";
  std::string model;
  if (auto id = Identify(r->globalChannel / 2, r->globalChannel % 2, r->device)) model = id->model;
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s (%s %d, %s)", model.c_str(), "Channel", r->globalChannel + 1,
                r->device ? "Slave" : "Master");
  return buf;
}

// --- settings requests -------------------------------------------------------------------------------

int CMaroveltDriver::ReadReturnByte(std::uint32_t code) {
  auto h = OpenDriver();
  if (!h) return -1;
  CSrbBuffer req(code, 0, true);
  if (!Send(*h, req) || req.ReturnCode() == 0xFFFFFFFFu) return -1;
  return static_cast<int>(req.ReturnCode() & 0xFF);
}

int CMaroveltDriver::SendByte(std::uint32_t code, int value) {
  auto h = OpenDriver();
  if (!h) return 255;
  CSrbBuffer req(code, 4);
  req.Data()[0] = static_cast<std::uint8_t>(value);
  return Send(*h, req) ? 0 : 255;
}

int CMaroveltDriver::GetPciThreshold() { return ReadReturnByte(kMpGetPciThreshold); }
int CMaroveltDriver::SetPciThreshold(int count) { return SendByte(kMpSetPciThreshold, count); }
int CMaroveltDriver::GetPciMaximum() { return ReadReturnByte(kMpGetPciMaximum); }
int CMaroveltDriver::SetMaintenanceRate(int rate) { return SendByte(kMpSetMaintenanceRate, rate); }
int CMaroveltDriver::GetMaintenanceRate() { return ReadReturnByte(kMpGetMaintenanceRate); }

int CMaroveltDriver::GetSmartEnable() {
  auto h = OpenDriver();
  if (!h) return 255;
  CSrbBuffer req(kMpGetSmartEnable, 4);
  Put32(req.Data(), 255);
  if (!Send(*h, req)) return 255;
  return static_cast<int>(Get32(req.Data()));
}

int CMaroveltDriver::SetSmartEnable(int on) {
  auto h = OpenDriver();
  if (!h) return 0;
  CSrbBuffer req(kMpSetSmartEnable, 4);
  Put32(req.Data(), static_cast<std::uint32_t>(on));
  return Send(*h, req) ? 1 : 0;
}

int CMaroveltDriver::GetDiskSmart(int controller, int channel, int device) {
  auto h = OpenDriver();
  if (!h) return 255;
  CSrbBuffer req(kMpDiskSmart, 4);
  req.Data()[0] = static_cast<std::uint8_t>(controller);
  req.Data()[1] = static_cast<std::uint8_t>(channel);
  req.Data()[2] = static_cast<std::uint8_t>(device);
  req.Data()[3] = 255;
  if (!Send(*h, req)) return 255;
  return req.Data()[3];
}

std::optional<HardwareId> CMaroveltDriver::GetHardwareId() {
  auto h = OpenDriver();
  if (!h) return std::nullopt;
  CSrbBuffer req(kMpHardwareId, kHardwareIdSize);
  if (!Send(*h, req)) return std::nullopt;
  return HardwareId{Get32(req.Data()), Get32(req.Data() + 8)};
}

int CMaroveltDriver::EnclosureRequest(int subFunction, int channel, int device) {
  auto h = OpenDriver();
  if (!h) return -1;
  CSrbBuffer req(kMpEnclosure, kEnclosureRequestSize);
  req.Data()[0] = static_cast<std::uint8_t>(subFunction);
  req.Data()[1] = static_cast<std::uint8_t>(channel);
  req.Data()[2] = static_cast<std::uint8_t>(device);
  std::size_t returned = 0;
  if (!Send(*h, req, &returned) || returned != kSrbHeaderLength + kEnclosureRequestSize) return -1;
  return static_cast<int>(Get32(req.Data() + 4));
}

EnclosureSensors CMaroveltDriver::ReadEnclosure(int channel) {
  EnclosureSensors e;
  e.type = EnclosureRequest(0, channel, 0);
  if (e.type != 1 && e.type != 17) return e;
  const int caps = EnclosureRequest(5, channel, 0);
  if (caps == -1) return e;
  if (caps & 8) {
    e.fan = EnclosureRequest(1, channel, 0);
    e.temperature = EnclosureRequest(2, channel, 0);
  }
  if (caps & 4) {
    e.power5 = EnclosureRequest(3, channel, 0);
    e.power12 = EnclosureRequest(4, channel, 0);
  }
  return e;
}

// --- events ------------------------------------------------------------------------------------------

std::vector<EventRecordBytes> CMaroveltDriver::ReadDriverEvents() {
  std::vector<EventRecordBytes> out;
  auto h = OpenDriver();
  if (!h) return out;
  CSrbBuffer count(kMpEventCount, 4);
  std::size_t returned = 0;
  if (!Send(*h, count, &returned) || returned != kSrbHeaderLength + 4) return out;
  const std::uint32_t n = std::min<std::uint32_t>(Get32(count.Data()), kMaxEvents);
  if (n == 0) return out;
  CSrbBuffer read(kMpReadEvents, kReadEventsSize);
  Put32(read.Data(), n);
  if (!Send(*h, read, &returned)) return out;
  // Only records the answer really carries are taken.
  const std::size_t carried =
      returned > kSrbHeaderLength + 4 ? (returned - kSrbHeaderLength - 4) / kEventRecordSize : 0;
  const std::size_t take = std::min<std::size_t>(n, carried);
  for (std::size_t i = 0; i < take; ++i) {
    EventRecordBytes rec;
    std::copy_n(read.Data() + 4 + i * kEventRecordSize, kEventRecordSize, rec.begin());
    out.push_back(rec);
  }
  return out;
}

// --- activity ----------------------------------------------------------------------------------------

ActivityEntry CMaroveltDriver::Activity(int slot) const {
  std::lock_guard lock(activityMutex_);
  if (slot < 0 || static_cast<std::size_t>(slot) >= kArraySlots) return {};
  return activity_[static_cast<std::size_t>(slot)];
}

int CMaroveltDriver::CurrentPercent() const {
  std::lock_guard lock(activityMutex_);
  return currentPercent_;
}

int CMaroveltDriver::PollActivity() {
  auto h = OpenDriver();
  if (!h) return 0;
  CSrbBuffer req(kMpActivity, kActivitySize);
  if (!Send(*h, req)) return 0;
  int result = 0;
  std::lock_guard lock(activityMutex_);
  for (std::size_t s = 0; s < kArraySlots; ++s) {
    const std::uint8_t* e = req.Data() + 4 * s;
    ActivityEntry now{e[0], static_cast<std::uint8_t>(std::min<int>(e[1], 100)), {e[2], e[3]}};
    ActivityEntry& stored = activity_[s];
    if (now == stored) continue;
    if (now.type != stored.type) result = 2;
    const std::uint8_t oldPercent = stored.percent;
    stored.type = now.type;
    stored.percent = now.percent;
    if (now.type >= 1 && now.type <= 3) {
      runningSlot_ = static_cast<int>(s);
      runningType_ = now.type;
      if (now.percent != oldPercent || now.percent == 0) {
        currentPercent_ = now.percent;
        result = std::max(result, 1);
      }
    } else if (runningSlot_ == static_cast<int>(s)) {
      runningSlot_ = -1;
      runningType_ = 0;
      result = 2;
    }
    stored = now;
  }
  return result;
}

bool CMaroveltDriver::DetectDiskChange() {
  previousDisks_ = disks_;
  auto h = OpenDriver();
  if (!h) return false;
  if (!ReadDiskTable(*h)) {
    disks_ = previousDisks_;
    return false;
  }
  bool changed = false;
  for (std::size_t d = 0; d < kDiskSlots && !changed; ++d) {
    changed = !std::equal(disks_.begin() + d * kDiskRecordSize, disks_.begin() + d * kDiskRecordSize + 4,
                          previousDisks_.begin() + d * kDiskRecordSize);
  }
  // The array table is read after the disk table, so a task that ends between the two reads shows
  // only there: a changed array table counts as a change too, or the nodes would keep the old state.
  const auto previousArrays = arrays_;
  ReadArrayTable(*h);
  return changed || arrays_ != previousArrays;
}

// --- workers -----------------------------------------------------------------------------------------

bool CMaroveltDriver::StartRebuild(int slot, int member, std::uint32_t argument) {
  auto a = Array(slot);
  if (!a || a->typeCode != 1) return false;
  return StartTask(kMpRebuild, slot, member, argument);
}

bool CMaroveltDriver::StartSynchronise(int slot, std::uint32_t argument) {
  if (!Array(slot)) return false;
  return StartTask(kMpSynchronise, slot, 0, argument);
}

bool CMaroveltDriver::StartTask(std::uint32_t code, int slot, int member, std::uint32_t argument) {
  if (!taskWorker_ || !abortWorker_) return false;
  const bool abort = argument == kTaskAbort;
  {
    std::lock_guard lock(activityMutex_);
    if (stopping_) return false;
    if (!abort) {
      // One task at a time: a start waits for nothing and is refused while a task runs.
      if (flags_.load() & kFlagWorker) return false;
      flags_ |= static_cast<std::uint8_t>(kFlagWorker | (code == kMpRebuild ? kFlagRebuild : kFlagSync));
      activity_[static_cast<std::size_t>(slot)].type = kActivityRequested;
      currentPercent_ = 0;
    }
  }
  // The abort form goes on a worker of its own: the task it stops blocks the other one.
  auto& worker = abort ? *abortWorker_ : *taskWorker_;
  worker.run([this, code, slot, member, argument, abort] { RunTask(code, slot, member, argument, abort); }, nullptr);
  return true;
}

void CMaroveltDriver::RunTask(std::uint32_t code, int slot, int member, std::uint32_t argument, bool abort) {
  std::uint32_t status = 0;
  auto h = OpenChecked(&status, true);
  const std::uint64_t ticket = nextTicket_.fetch_add(1);
  if (h) {
    bool go;
    {
      // Registered before the request, so that a shutdown from now on interrupts it.
      std::lock_guard lock(activityMutex_);
      go = !stopping_;
      if (go) inFlight_[ticket] = h->interrupter();
    }
    CSrbBuffer req(code, kTaskRequestSize);
    Put32(req.Data(), static_cast<std::uint32_t>(slot));
    Put32(req.Data() + 8, argument);
    if (code == kMpRebuild) Put16(req.Data() + 60, static_cast<std::uint16_t>(member));
    if (go) Send(*h, req);  // blocks until the driver finishes the task
    h->close();
    std::lock_guard lock(activityMutex_);
    inFlight_.erase(ticket);
  }
  if (abort) return;
  std::lock_guard lock(activityMutex_);
  flags_ &= static_cast<std::uint8_t>(~(kFlagWorker | (code == kMpRebuild ? kFlagRebuild : kFlagSync)));
  activity_[static_cast<std::size_t>(slot)].type = kActivityRequested;
}

// --- registry settings -------------------------------------------------------------------------------

int CMaroveltDriver::ReadAdapterSetting(const std::string& name, int* value) {
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kSettingsKey);
  if (!key) return 0;
  auto text = key->getString(kSettingsValue);
  if (!text) return 0;
  for (const auto& e : ParseSettings(*text)) {
    if (e.name == name) {
      int v = 0;
      if (!ParsePercentI(e.value, &v)) return 0;
      if (value) *value = v;
      return 1;
    }
  }
  return 0;
}

bool CMaroveltDriver::WriteAdapterSetting(const std::string& name, int value) {
  if (name.empty() || name.size() > kMaxSettingText || name.find_first_of("=;") != std::string::npos) return false;
  auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, kSettingsKey);
  if (!key) return false;
  // Only a missing text starts empty: one that cannot be read must not be replaced by this entry
  // alone, which would lose every other setting.
  auto stored = key->getString(kSettingsValue);
  if (!stored && !plat::reg::isNotFound(stored)) return false;
  auto entries = ParseSettings(stored.valueOr(""));
  auto it = std::find_if(entries.begin(), entries.end(), [&](const SettingEntry& e) { return e.name == name; });
  if (it != entries.end()) {
    it->value = std::to_string(value);
  } else {
    if (entries.size() >= kMaxSettingEntries) return false;
    entries.push_back({name, std::to_string(value)});
  }
  std::string text;
  for (const auto& e : entries) text += e.name + "=" + e.value + ";";
  return key->setString(kSettingsValue, text).ok();
}

// --- driver file -------------------------------------------------------------------------------------

std::pair<std::string, std::string> CMaroveltDriver::DriverFileVersion() const {
  // The Windows directory's stand-in under the root prefix.
  const auto root = plat::paths::root();
  const auto windows = root.empty() ? std::filesystem::path("/var/lib/kelm/windows") : root / "windows";
  const auto file = windows /
                    (platform_ == DriverPlatform::kWin9x ? "system/iosubsys/marovelt.mpd" : "system32/drivers/marovelt.sys");
  std::pair<std::string, std::string> out{"UNKNOWN", "UNKNOWN"};
  kelm::fw::CVersionInfo info;
  if (info.Open(file)) {
    if (auto v = info.String("FileVersion", 0)) out.first = *v;
  }
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0) {
    std::tm tm{};
    char buf[64];
    if (localtime_r(&st.st_mtime, &tm) && std::strftime(buf, sizeof buf, "%m/%d/%Y %H:%M:%S", &tm)) out.second = buf;
  }
  return out;
}

}  // namespace tirrow
