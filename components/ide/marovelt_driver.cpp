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

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "; ") + p;
  return out;
}

// Several failures of one operation as one: the first one's code, every message.
plat::Error Combined(const std::vector<plat::Error>& errors) {
  std::vector<std::string> texts;
  for (const auto& e : errors) texts.push_back(e.message);
  return plat::Error{errors.front().code, Join(texts)};
}

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

plat::Result<std::size_t> CMaroveltDriver::Send(plat::devio::Handle& handle, CSrbBuffer& request) {
  auto r = plat::devio::ioctl(handle, IOCTL_SCSI_MINIPORT, request.Bytes(), request.Bytes());
  if (!r) return plat::prefixed("control code " + std::to_string(Get32(request.Bytes().data() + 16)), r.error());
  return r;
}

namespace {

bool VersionTooOld(std::uint32_t v) {
  const unsigned major = v & 0xFFFF;
  const unsigned minor = (v >> 16) & 0xFF;
  return major < 1 || (major == 1 && minor < 11);
}

std::string VersionText(std::uint32_t v) { return std::to_string(v & 0xFFFF) + "." + std::to_string((v >> 16) & 0xFF); }

}  // namespace

plat::Result<std::uint32_t> CMaroveltDriver::ReadVersion(plat::devio::Handle& handle) {
  CSrbBuffer req(kMpVersion, 0, true);
  if (auto sent = Send(handle, req); !sent) return sent.error();
  const std::uint32_t v = req.ReturnCode();
  if (v == 0xFFFFFFFFu) return plat::Error{ENODEV, "no Marovelt driver answers the version request"};
  return v;
}

plat::Result<plat::devio::Handle> CMaroveltDriver::OpenChecked(std::uint32_t* status, bool forWorker) const {
  *status = kDriverMissing;
  // Checks one opened device: the status it gives, and why it does not pass.
  auto check = [](plat::devio::Handle& h, std::uint32_t* s) -> plat::Result<void> {
    h.setTimeout(kRequestTimeout);
    auto v = ReadVersion(h);
    *s = !v ? kDriverMissing : VersionTooOld(*v) ? kDriverTooOld : kDriverOk;
    if (!v) return plat::prefixed(h.name(), v.error());
    if (*s == kDriverTooOld)
      return plat::Error{ENODEV, h.name() + ": driver version " + VersionText(*v) + ", 1.11 or later needed"};
    return plat::success();
  };
  if (platform_ == DriverPlatform::kWin9x) {
    auto h = plat::devio::open(kWin9xName);
    if (!h) return h.error();
    if (auto passed = check(*h, status); !passed) return passed.error();
    if (forWorker) h->setTimeout(std::chrono::milliseconds(0));
    return h;
  }
  if (platform_ != DriverPlatform::kWinNT) return plat::Error{ENODEV, "no driver on this platform"};
  // Why the ports that exist did not pass; a port nobody serves is no reason worth naming.
  std::vector<plat::Error> reasons;
  for (int port = 0; port < kNtPorts; ++port) {
    auto h = plat::devio::open(PortName(port));
    if (!h) {
      if (h.code() != ENOENT) reasons.push_back(h.error());
      continue;
    }
    std::uint32_t s = kDriverMissing;
    auto passed = check(*h, &s);
    // A port that answers with an old driver is remembered; a later port may still pass.
    if (s == kDriverTooOld || *status != kDriverTooOld) *status = s;
    if (passed) {
      if (forWorker) h->setTimeout(std::chrono::milliseconds(0));  // a rebuild blocks as long as it runs
      return h;
    }
    reasons.push_back(passed.error());
  }
  if (reasons.empty()) return plat::Error{ENODEV, "no Marovelt driver answered: no SCSI port is served"};
  const plat::Error all = Combined(reasons);
  // An open that was refused (permission, say) is the code worth acting on.
  return plat::Error{all.code, "no Marovelt driver answered: " + all.message};
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

namespace {

// One table request, tried twice: its data once the answer reports the table's whole length.
plat::Result<void> ReadTable(plat::devio::Handle& h, std::uint32_t code, std::size_t size, const char* what,
                             std::uint8_t* into) {
  plat::Error last;
  for (int attempt = 0; attempt < 2; ++attempt) {
    CSrbBuffer req(code, size);
    if (auto sent = CMaroveltDriver::Send(h, req); !sent) {
      last = sent.error();
    } else if (req.Length() != size) {
      last = plat::Error{EPROTO,
                         "the answer reports Length " + std::to_string(req.Length()) + ", not " + std::to_string(size)};
    } else {
      std::copy_n(req.Data(), size, into);
      return plat::success();
    }
  }
  return plat::prefixed(what, last);
}

}  // namespace

plat::Result<void> CMaroveltDriver::ReadArrayTable(plat::devio::Handle& h) {
  std::array<std::uint8_t, kArrayTableSize> table{};
  if (auto r = ReadTable(h, kMpArrayTable, kArrayTableSize, "array table", table.data()); !r) return r;
  arrays_ = table;
  arrayCount_ = 0;
  for (std::size_t s = 0; s < kArraySlots; ++s) arrayCount_ += (arrays_[s * kArrayRecordSize + 2] & 1) ? 1 : 0;
  return plat::success();
}

plat::Result<void> CMaroveltDriver::ReadDiskTable(plat::devio::Handle& h) {
  std::array<std::uint8_t, kDiskTableSize> table{};
  if (auto r = ReadTable(h, kMpDiskTable, kDiskTableSize, "disk table", table.data()); !r) return r;
  disks_ = table;
  diskCount_ = 0;
  for (std::size_t d = 0; d < kDiskSlots; ++d) diskCount_ += (disks_[d * kDiskRecordSize] & 1) ? 1 : 0;
  return plat::success();
}

plat::Result<void> CMaroveltDriver::ReadControllers(plat::devio::Handle& h) {
  int count = -1;
  plat::Error countError;
  for (int attempt = 0; attempt < 2 && count < 0; ++attempt) {
    CSrbBuffer req(kMpControllerCount, 0, true);
    if (auto sent = Send(h, req); !sent) {
      countError = sent.error();
    } else if (req.ReturnCode() == 0xFFFFFFFFu) {
      countError = plat::Error{EPROTO, "the driver left the return code at -1"};
    } else {
      count = static_cast<int>(std::min<std::uint32_t>(req.ReturnCode(), kMaxControllers));
    }
  }
  if (count < 0) return plat::prefixed("controller count", countError);
  controllerCount_ = 0;
  std::vector<plat::Error> failures;
  for (int c = 0; c < count; ++c) {
    const std::string what = "controller " + std::to_string(c) + " record";
    for (int attempt = 0; attempt < 2; ++attempt) {
      CSrbBuffer req(kMpController, kControllerRecordSize);
      Put32(req.Data(), static_cast<std::uint32_t>(c));
      if (auto sent = Send(h, req); !sent) {
        if (attempt == 1) failures.push_back(plat::prefixed(what, sent.error()));
        continue;
      }
      if (req.Length() == kControllerRecordSize) {
        controllers_.emplace_back();
        std::copy_n(req.Data(), kControllerRecordSize, controllers_.back().begin());
        ++controllerCount_;
      } else {
        // Not counted, as the driver's interface has it; still worth saying why it is missing.
        failures.push_back(plat::Error{EPROTO, what + ": the answer reports Length " + std::to_string(req.Length()) +
                                                   ", not " + std::to_string(kControllerRecordSize)});
      }
      break;
    }
  }
  if (!failures.empty()) return Combined(failures);
  return plat::success();
}

bool TableChanges::Any() const {
  auto any = [](const auto& rows) { return std::find(rows.begin(), rows.end(), true) != rows.end(); };
  return any(arrays) || any(disks) || any(controllers);
}

plat::Result<void> CMaroveltDriver::ReadDriverState() {
  const auto oldArrays = arrays_;
  const auto oldDisks = disks_;
  const auto oldControllers = controllers_;
  auto result = ReadTables();
  if (!tablesChanged_) return result;
  TableChanges c;
  for (std::size_t s = 0; s < kArraySlots; ++s) {
    c.arrays[s] = !std::equal(oldArrays.begin() + s * kArrayRecordSize, oldArrays.begin() + (s + 1) * kArrayRecordSize,
                              arrays_.begin() + s * kArrayRecordSize);
  }
  for (std::size_t d = 0; d < kDiskSlots; ++d) {
    const auto* before = &oldDisks[d * kDiskRecordSize];
    const auto* after = &disks_[d * kDiskRecordSize];
    c.disks[d] = !std::equal(before, before + kDiskRecordSize, after);
    if (!c.disks[d]) continue;
    for (const auto* r : {before, after}) {
      if ((r[0] & 1) && r[2] / 2u < kMaxControllers) c.controllers[r[2] / 2u] = true;
    }
  }
  for (std::size_t i = 0; i < kMaxControllers; ++i) {
    const bool was = i < oldControllers.size(), is = i < controllers_.size();
    if (was != is || (was && oldControllers[i] != controllers_[i])) c.controllers[i] = true;
  }
  if (c.Any()) {
    auto changed = tablesChanged_;  // the listener may replace itself
    changed(c);
  }
  return result;
}

plat::Result<void> CMaroveltDriver::ReadTables() {
  arrays_.fill(0);
  disks_.fill(0);
  controllers_.clear();
  arrayCount_ = controllerCount_ = diskCount_ = -1;
  auto h = OpenDriver();
  if (!h) {
    flags_ |= kFlagNotFound;
    return h.error();
  }
  flags_ &= static_cast<std::uint8_t>(~kFlagNotFound);
  // Each read goes ahead whatever the one before it came to: what can be read is shown.
  std::vector<plat::Error> failures;
  if (auto r = ReadArrayTable(*h); !r) failures.push_back(r.error());
  if (auto r = ReadControllers(*h); !r) failures.push_back(r.error());
  if (auto r = ReadDiskTable(*h); !r) failures.push_back(r.error());
  if (!failures.empty()) return Combined(failures);
  return plat::success();
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

plat::Result<int> CMaroveltDriver::ReadReturnByte(std::uint32_t code) {
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(code, 0, true);
  if (auto sent = Send(*h, req); !sent) return sent.error();
  if (req.ReturnCode() == 0xFFFFFFFFu) {
    return plat::Error{EPROTO, "control code " + std::to_string(code) + ": the driver left the return code at -1"};
  }
  return static_cast<int>(req.ReturnCode() & 0xFF);
}

namespace {

// A setting request's answer: the driver takes the value with return code 0.
plat::Result<void> SettingAnswer(const CSrbBuffer& req) {
  const std::uint32_t rc = req.ReturnCode();
  if (rc == 0) return plat::success();
  if (rc == 0xFFFFFFFFu) {
    return plat::Error{EPROTO, "control code " + std::to_string(req.ControlCode()) + ": the driver left the return code at -1"};
  }
  return plat::Error{kTaskRefused, "return code " + std::to_string(rc)};
}

}  // namespace

plat::Result<void> CMaroveltDriver::SendByte(std::uint32_t code, int value) {
  if (value < 0 || value > 255) return plat::Error{EINVAL, std::to_string(value) + " does not fit the request's byte"};
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(code, 4, true);
  req.Data()[0] = static_cast<std::uint8_t>(value);
  if (auto sent = Send(*h, req); !sent) return sent.error();
  return SettingAnswer(req);
}

plat::Result<int> CMaroveltDriver::GetPciThreshold() { return ReadReturnByte(kMpGetPciThreshold); }
plat::Result<void> CMaroveltDriver::SetPciThreshold(int count) { return SendByte(kMpSetPciThreshold, count); }
plat::Result<int> CMaroveltDriver::GetPciMaximum() { return ReadReturnByte(kMpGetPciMaximum); }
plat::Result<void> CMaroveltDriver::SetMaintenanceRate(int rate) { return SendByte(kMpSetMaintenanceRate, rate); }
plat::Result<int> CMaroveltDriver::GetMaintenanceRate() { return ReadReturnByte(kMpGetMaintenanceRate); }

plat::Result<int> CMaroveltDriver::GetSmartEnable() {
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(kMpGetSmartEnable, 4);
  Put32(req.Data(), 255);
  if (auto sent = Send(*h, req); !sent) return sent.error();
  return static_cast<int>(Get32(req.Data()));
}

plat::Result<void> CMaroveltDriver::SetSmartEnable(int on) {
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(kMpSetSmartEnable, 4, true);
  Put32(req.Data(), static_cast<std::uint32_t>(on));
  if (auto sent = Send(*h, req); !sent) return sent.error();
  return SettingAnswer(req);
}

plat::Result<int> CMaroveltDriver::GetDiskSmart(int controller, int channel, int device) {
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(kMpDiskSmart, 4);
  req.Data()[0] = static_cast<std::uint8_t>(controller);
  req.Data()[1] = static_cast<std::uint8_t>(channel);
  req.Data()[2] = static_cast<std::uint8_t>(device);
  req.Data()[3] = 255;
  if (auto sent = Send(*h, req); !sent) return sent.error();
  return static_cast<int>(req.Data()[3]);
}

plat::Result<HardwareId> CMaroveltDriver::GetHardwareId() {
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(kMpHardwareId, kHardwareIdSize);
  if (auto sent = Send(*h, req); !sent) return sent.error();
  return HardwareId{Get32(req.Data()), Get32(req.Data() + 8)};
}

plat::Result<int> CMaroveltDriver::EnclosureRequest(int subFunction, int channel, int device) {
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(kMpEnclosure, kEnclosureRequestSize);
  req.Data()[0] = static_cast<std::uint8_t>(subFunction);
  req.Data()[1] = static_cast<std::uint8_t>(channel);
  req.Data()[2] = static_cast<std::uint8_t>(device);
  auto sent = Send(*h, req);
  if (!sent) return sent.error();
  if (*sent != kSrbHeaderLength + kEnclosureRequestSize) {
    return plat::Error{EPROTO, "enclosure request " + std::to_string(subFunction) + " on channel " +
                                   std::to_string(channel) + ": the answer is " + std::to_string(*sent) +
                                   " bytes, not " + std::to_string(kSrbHeaderLength + kEnclosureRequestSize)};
  }
  return static_cast<int>(Get32(req.Data() + 4));
}

EnclosureSensors CMaroveltDriver::ReadEnclosure(int channel) {
  EnclosureSensors e;
  // A request that fails reads -1, as the driver's own failure value.
  auto read = [&](int subFunction) {
    auto v = EnclosureRequest(subFunction, channel, 0);
    if (!v) e.failures.push_back(v.error());
    return v.valueOr(-1);
  };
  e.type = read(0);
  if (e.type != 1 && e.type != 17) return e;
  const int caps = read(5);
  if (caps == -1) return e;
  if (caps & 8) {
    e.fan = read(1);
    e.temperature = read(2);
  }
  if (caps & 4) {
    e.power5 = read(3);
    e.power12 = read(4);
  }
  return e;
}

// --- events ------------------------------------------------------------------------------------------

plat::Result<std::vector<EventRecordBytes>> CMaroveltDriver::ReadDriverEvents() {
  std::vector<EventRecordBytes> out;
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer count(kMpEventCount, 4);
  auto counted = Send(*h, count);
  if (!counted) return counted.error();
  if (*counted != kSrbHeaderLength + 4) {
    return plat::Error{EPROTO, "event count: the answer is " + std::to_string(*counted) + " bytes, not " +
                                   std::to_string(kSrbHeaderLength + 4)};
  }
  const std::uint32_t n = std::min<std::uint32_t>(Get32(count.Data()), kMaxEvents);
  if (n == 0) return out;
  CSrbBuffer read(kMpReadEvents, kReadEventsSize);
  Put32(read.Data(), n);
  auto returned = Send(*h, read);
  if (!returned) return plat::prefixed("reading " + std::to_string(n) + " queued events", returned.error());
  // Only records the answer really carries are taken.
  const std::size_t carried =
      *returned > kSrbHeaderLength + 4 ? (*returned - kSrbHeaderLength - 4) / kEventRecordSize : 0;
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

plat::Result<int> CMaroveltDriver::PollActivity() {
  auto h = OpenDriver();
  if (!h) return h.error();
  CSrbBuffer req(kMpActivity, kActivitySize);
  if (auto sent = Send(*h, req); !sent) return sent.error();
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
      if (flags_.load() & kFlagWorker) taskEnded_ = true;
      runningSlot_ = -1;
      runningType_ = 0;
      currentPercent_ = 0;  // no task runs: its last percent must not hold the every-tick refresh
      result = 2;
    }
    stored = now;
  }
  return result;
}

plat::Result<bool> CMaroveltDriver::DetectDiskChange() {
  previousDisks_ = disks_;
  const int previousDiskCount = diskCount_;
  auto h = OpenDriver();
  if (!h) return h.error();
  if (auto r = ReadDiskTable(*h); !r) return r.error();
  bool changed = false;
  for (std::size_t d = 0; d < kDiskSlots && !changed; ++d) {
    changed = !std::equal(disks_.begin() + d * kDiskRecordSize, disks_.begin() + d * kDiskRecordSize + 4,
                          previousDisks_.begin() + d * kDiskRecordSize);
  }
  // The array table is read after the disk table, so a task that ends between the two reads shows
  // only there: a changed array table counts as a change too, or the nodes would keep the old state.
  const auto previousArrays = arrays_;
  if (auto r = ReadArrayTable(*h); !r) {
    // Both tables as they were, so that the next look still sees a disk change this one found.
    disks_ = previousDisks_;
    diskCount_ = previousDiskCount;
    return r.error();
  }
  return changed || arrays_ != previousArrays;
}

// --- workers -----------------------------------------------------------------------------------------

plat::Result<void> CMaroveltDriver::StartRebuild(int slot, int member, std::uint32_t argument, TaskDone done) {
  auto a = Array(slot);
  if (!a) return plat::Error{ENOENT, "no array in slot " + std::to_string(slot)};
  if (a->typeCode != 1)
    return plat::Error{EINVAL, "only a mirror is rebuilt (RAID type code " + std::to_string(a->typeCode) + ")"};
  return StartTask(kMpRebuild, slot, member, argument, std::move(done));
}

plat::Result<void> CMaroveltDriver::StartSynchronise(int slot, std::uint32_t argument, TaskDone done) {
  if (!Array(slot)) return plat::Error{ENOENT, "no array in slot " + std::to_string(slot)};
  return StartTask(kMpSynchronise, slot, 0, argument, std::move(done));
}

plat::Result<void> CMaroveltDriver::StartTask(std::uint32_t code, int slot, int member, std::uint32_t argument,
                                              TaskDone done) {
  if (!loop_) return plat::Error{EINVAL, "no event loop to run the request from"};
  const bool abort = argument == kTaskAbort;
  {
    std::lock_guard lock(activityMutex_);
    // Once stopping, the workers are gone or going.
    if (stopping_ || !taskWorker_ || !abortWorker_) return plat::Error{ECANCELED, "the driver is being released"};
    if (!abort) {
      // One task at a time: a start waits for nothing and is refused while a task runs. A task the
      // driver has ended (stopped) no longer runs, although its worker may not have returned yet:
      // the nodes already show the array without it, and the start queues behind that worker.
      if ((flags_.load() & kFlagWorker) && !taskEnded_) {
        return plat::Error{EBUSY, (flags_.load() & kFlagSync) ? "a synchronise runs" : "a rebuild runs"};
      }
      taskEnded_ = false;
      ++tasks_;
      flags_ = static_cast<std::uint8_t>((flags_.load() & ~(kFlagRebuild | kFlagSync)) | kFlagWorker |
                                         (code == kMpRebuild ? kFlagRebuild : kFlagSync));
      activity_[static_cast<std::size_t>(slot)].type = kActivityRequested;
      currentPercent_ = 0;
    }
  }
  // The abort form goes on a worker of its own: the task it stops blocks the other one.
  auto& worker = abort ? *abortWorker_ : *taskWorker_;
  worker.run(std::function<plat::Result<void>()>(
                 [this, code, slot, member, argument, abort] { return RunTask(code, slot, member, argument, abort); }),
             std::function<void(plat::Result<void>)>([done = std::move(done)](plat::Result<void> outcome) {
               if (done) done(outcome);
             }));
  return plat::success();
}

plat::Result<void> TaskAnswer(std::uint32_t returnCode) {
  switch (returnCode) {
    case kTaskDone:
    case kTaskStopped:  // the driver's own event tells of the stop
      return plat::success();
    case 0xFFFFFFFFu:
      return plat::Error{EPROTO, "the driver left the return code at -1"};
    default:
      return plat::Error{kTaskRefused, "return code " + std::to_string(returnCode)};
  }
}

plat::Result<void> CMaroveltDriver::RunTask(std::uint32_t code, int slot, int member, std::uint32_t argument,
                                            bool abort) {
  std::uint32_t status = 0;
  auto h = OpenChecked(&status, true);
  const std::uint64_t ticket = nextTicket_.fetch_add(1);
  plat::Result<void> outcome = h ? plat::success() : plat::Result<void>(h.error());
  if (h) {
    bool go;
    {
      // Registered before the request, so that a shutdown from now on interrupts it.
      std::lock_guard lock(activityMutex_);
      go = !stopping_;
      if (go) inFlight_[ticket] = h->interrupter();
    }
    CSrbBuffer req(code, kTaskRequestSize, true);
    Put32(req.Data(), static_cast<std::uint32_t>(slot));
    Put32(req.Data() + 8, argument);
    if (code == kMpRebuild) Put16(req.Data() + 60, static_cast<std::uint16_t>(member));
    if (!go) {
      outcome = plat::Error{ECANCELED, "the driver is being released"};
    } else if (auto sent = Send(*h, req); !sent) {  // blocks until the driver finishes the task
      outcome = sent.error();
    } else {
      outcome = TaskAnswer(req.ReturnCode());
    }
    h->close();
    std::lock_guard lock(activityMutex_);
    inFlight_.erase(ticket);
  }
  if (abort) return outcome;
  std::lock_guard lock(activityMutex_);
  // A task queued behind this one keeps the worker's flags.
  if (--tasks_ == 0) {
    flags_ &= static_cast<std::uint8_t>(~(kFlagWorker | (code == kMpRebuild ? kFlagRebuild : kFlagSync)));
    taskEnded_ = false;
  }
  activity_[static_cast<std::size_t>(slot)].type = kActivityRequested;
  return outcome;
}

// --- registry settings -------------------------------------------------------------------------------

plat::Result<std::optional<int>> CMaroveltDriver::ReadAdapterSetting(const std::string& name) {
  // A key or a text that is not there holds no entry; one that cannot be read is a failure.
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kSettingsKey);
  if (!key) {
    if (plat::reg::isNotFound(key)) return std::optional<int>();
    return key.error();
  }
  auto text = key->getString(kSettingsValue);
  if (!text) {
    if (plat::reg::isNotFound(text)) return std::optional<int>();
    return text.error();
  }
  for (const auto& e : ParseSettings(*text)) {
    if (e.name == name) {
      int v = 0;
      if (!ParsePercentI(e.value, &v)) {
        return plat::Error{EINVAL,
                           std::string(kSettingsValue) + " entry " + name + " is no number: \"" + e.value + "\""};
      }
      return std::optional<int>(v);
    }
  }
  return std::optional<int>();
}

plat::Result<void> CMaroveltDriver::WriteAdapterSetting(const std::string& name, int value) {
  if (name.empty() || name.size() > kMaxSettingText || name.find_first_of("=;") != std::string::npos) {
    return plat::Error{EINVAL, "\"" + name + "\" cannot be a setting's name"};
  }
  auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, kSettingsKey);
  if (!key) return key.error();
  // Only a missing text starts empty: one that cannot be read must not be replaced by this entry
  // alone, which would lose every other setting.
  auto stored = key->getString(kSettingsValue);
  if (!stored && !plat::reg::isNotFound(stored)) return stored.error();
  // Every other entry stays as it is written, whatever its form: the driver and other tools own them.
  std::vector<std::string> items;
  const std::string text = stored.valueOr("");
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  const std::string entry = name + "=" + std::to_string(value);
  auto it = std::find_if(items.begin(), items.end(), [&](const std::string& item) {
    return item.size() > name.size() && item.compare(0, name.size(), name) == 0 && item[name.size()] == '=';
  });
  if (it != items.end()) {
    *it = entry;
  } else {
    if (items.size() >= kMaxSettingEntries) {
      return plat::Error{ENOSPC, std::string(kSettingsValue) + " holds " + std::to_string(kMaxSettingEntries) +
                                     " entries already; " + name + " is not among them"};
    }
    items.push_back(entry);
  }
  std::string out;
  for (const auto& item : items) out += item + ";";
  return key->setString(kSettingsValue, out);
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
