#include "sim/serial/subsystem.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <unordered_map>

#include "sim/core/text_args.h"
#include "sim/serial/codes.h"

namespace sim::serial {
namespace {

// Bounded reads from a request payload: a field past the end reads as zero.
struct Reader {
  const Bytes& p;
  std::uint8_t u8(std::size_t off) const { return off < p.size() ? p[off] : 0; }
  std::uint32_t u32(std::size_t off) const {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(u8(off + i)) << (8 * i);
    return v;
  }
};

void put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Sizes go out as counts of 512-byte sectors (a 32-bit count: at most 2 TiB).
constexpr std::uint32_t kSectorBytes = 512;
std::uint32_t sectorsOf(std::uint64_t mib) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(mib * (1048576 / kSectorBytes), UINT32_MAX));
}

bool redundant(std::uint32_t mode) {
  return mode == kRaid1 || mode == kRaid01 || mode == kRaid3 || mode == kRaid5 || mode == kRaid30 || mode == kRaid50;
}

std::optional<std::uint32_t> modeByName(const std::string& s) {
  static const std::map<std::string, std::uint32_t> kNames = {
      {"raid0", kRaid0}, {"raid1", kRaid1}, {"raid01", kRaid01}, {"span", kSpan},
      {"raid3", kRaid3}, {"raid5", kRaid5}, {"raid30", kRaid30}, {"raid50", kRaid50}};
  auto it = kNames.find(s);
  if (it != kNames.end()) return it->second;
  return std::nullopt;
}

std::string modeName(std::uint32_t mode) {
  switch (mode) {
    case kRaid0:
      return "raid0";
    case kRaid1:
      return "raid1";
    case kRaid01:
      return "raid01";
    case kSpan:
      return "span";
    case kRaid3:
      return "raid3";
    case kRaid5:
      return "raid5";
    case kRaid30:
      return "raid30";
    case kRaid50:
      return "raid50";
    default:
      return "mode" + std::to_string(mode);
  }
}

int minimumDisks(std::uint32_t mode) {
  switch (mode) {
    case kRaid1:
      return 2;
    case kRaid3:
    case kRaid5:
      return 3;
    case kRaid30:
    case kRaid50:
      return 6;
    default:
      return 1;
  }
}

std::string fixedText(const Bytes& p, std::size_t off, std::size_t width) {
  std::string s;
  for (std::size_t i = 0; i < width && off + i < p.size() && p[off + i] != 0; ++i) {
    char c = static_cast<char>(p[off + i]);
    s.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

const char* taskName(Task t) {
  switch (t) {
    case Task::None:
      return "idle";
    case Task::Rebuild:
      return "rebuilding";
    case Task::Synchronise:
      return "synchronising";
    case Task::Expand:
      return "expanding";
    case Task::Convert:
      return "converting";
    case Task::Initialise:
      return "initialising";
  }
  return "?";
}

int Array::percent(std::int64_t nowMs) const {
  if (task == Task::None || taskDurationMs <= 0) return 0;
  std::int64_t p = (nowMs - taskStartMs) * 100 / taskDurationMs;
  return static_cast<int>(std::clamp<std::int64_t>(p, 0, 99));
}

std::uint32_t Array::stateWord() const {
  switch (task) {
    case Task::Rebuild:
      return kArrayRebuilding;
    case Task::Synchronise:
      return kArraySynchronising;
    case Task::Expand:
    case Task::Convert:
      return kArrayReshaping;
    case Task::Initialise:
      return kArrayInitialising;
    case Task::None:
      break;
  }
  return health;
}

Subsystem::Subsystem() { clear(); }

void Subsystem::clear() {
  disks_.clear();
  arrays_.clear();
  events_.clear();
  sensors_ = Sensors{};
  memory_.fill(0);
  memory_[0xE0] = 1;                       // buzzer on
  memory_[0xE2] = 2;                       // rebuild priority
  writeMemory(0xE0077FE4, 64u << 20, 32);  // controller memory
  memory_[0x1B] = 1;                       // SMART check
  memory_[0x1C] = 1;                       // disk write cache
  writeMemory(0xE0077F90, 0x0236, 16);     // firmware revision
}

void Subsystem::loadDefault() {
  clear();
  // A disk's id is its channel position, which is where the host's channel walk looks for it.
  // Channel 0 stays empty: device names share one number space with the arrays, and array 0 is "Data".
  for (int i = 0; i < 5; ++i) {
    Disk d;
    d.id = 1 + i;
    d.name = "SV-DISK " + std::to_string(i + 1);
    d.sizeMb = 76319;
    d.cylinders = 16383;
    d.state = i < 3 ? kDiskMember : kDiskFree;
    disks_[d.id] = d;
  }
  Array a;
  a.id = 0;
  a.name = "Data";
  a.mode = kRaid5;
  a.members = {1, 2, 3};
  arrays_[0] = a;
}

plat::Result<void> Subsystem::configure(const std::vector<std::string>& w) {
  auto fail = [](const std::string& why) { return plat::Error{EINVAL, why}; };
  if (w.empty()) return plat::success();
  const std::string& what = w[0];
  if (what == "disk") {
    // disk ID NAME SIZE_MB [TIMING_FLAGS]
    if (w.size() < 4 || w.size() > 5) return fail("disk ID NAME SIZE_MB [TIMING]");
    auto id = parseInt(w[1], 0, 169);
    auto size = parseInt(w[3], 1, 0x7FFFFFFF);
    auto timing = w.size() == 5 ? parseInt(w[4], 0, 255) : std::optional<std::int64_t>(0x20);
    if (!id || !size || !timing) return fail("disk: bad number");
    if (disks_.size() >= kMaxDisks && !disks_.count(static_cast<int>(*id))) return fail("more than 20 disks");
    if (arrays_.count(static_cast<int>(*id))) return fail("disk: " + w[1] + " is an array's number");
    Disk d;
    d.id = static_cast<int>(*id);
    d.name = w[2].substr(0, 40);
    d.sizeMb = static_cast<std::uint32_t>(*size);
    d.cylinders = 16383;
    d.timing = static_cast<std::uint8_t>(*timing);
    disks_[d.id] = d;
    return plat::success();
  }
  if (what == "array") {
    // array ID MODE NAME DISK...
    if (w.size() < 5) return fail("array ID MODE NAME DISK...");
    auto id = parseInt(w[1], 0, kMaxArrayId);
    auto mode = modeByName(w[2]);
    if (!id || !mode) return fail("array: bad id or mode (raid0 raid1 raid01 span raid3 raid5 raid30 raid50)");
    if (disks_.count(static_cast<int>(*id))) return fail("array: " + w[1] + " is a disk's number");
    if (arrays_.size() >= kMaxArrays && !arrays_.count(static_cast<int>(*id))) return fail("more than 15 arrays");
    if (w.size() - 4 > kMaxMembers) return fail("array: more than 15 disks");
    Array a;
    a.id = static_cast<int>(*id);
    a.mode = *mode;
    a.name = w[3].substr(0, 63);
    for (std::size_t i = 4; i < w.size(); ++i) {
      auto d = parseInt(w[i], 0, 254);
      if (!d || !disks_.count(static_cast<int>(*d))) return fail("array: disk " + w[i] + " is not declared");
      if (diskInUse(static_cast<int>(*d))) return fail("array: disk " + w[i] + " is already a member");
      a.members.push_back(static_cast<int>(*d));
    }
    if (static_cast<int>(a.members.size()) < minimumDisks(a.mode)) return fail("array: too few disks for its mode");
    for (int d : a.members) disks_[d].state = kDiskMember;
    arrays_[a.id] = a;
    return plat::success();
  }
  if (what == "sensors") {
    // sensors V5 V12 T1 T2 T3 [FAN...]: the supplies in hundredths of a volt
    if (w.size() < 6 || w.size() > 14)
      return fail("sensors V5 V12 T1 T2 T3 [FAN...] (supplies in hundredths of a volt, at most 8 fans)");
    std::vector<std::uint32_t> v;
    for (std::size_t i = 1; i < w.size(); ++i) {
      auto n = parseInt(w[i], 0, 1000000);
      if (!n) return fail("sensors: bad number " + w[i]);
      v.push_back(static_cast<std::uint32_t>(*n));
    }
    sensors_.volts5 = v[0];
    sensors_.volts12 = v[1];
    sensors_.temperatures = {v[2], v[3], v[4]};
    sensors_.fans.assign(v.begin() + 5, v.end());
    return plat::success();
  }
  if (what == "memory") {
    // memory ADDRESS VALUE WIDTH
    if (w.size() != 4) return fail("memory ADDRESS VALUE WIDTH");
    auto addr = parseInt(w[1], kMemoryBase, kMemoryBase + 255);
    auto value = parseInt(w[2], 0, 0xFFFFFFFF);
    auto width = parseInt(w[3], 8, 32);
    if (!addr || !value || !width || (*width != 8 && *width != 16 && *width != 32)) return fail("memory: bad value");
    writeMemory(static_cast<std::uint32_t>(*addr), static_cast<std::uint32_t>(*value),
                static_cast<std::uint32_t>(*width));
    return plat::success();
  }
  if (what == "work") {
    // work MS: how long a rebuild, synchronisation, expansion, conversion or initialisation takes
    auto ms = w.size() == 2 ? parseInt(w[1], 100, 24LL * 3600 * 1000) : std::nullopt;
    if (!ms) return fail("work MS (100 to 86400000)");
    taskMs_ = *ms;
    return plat::success();
  }
  if (what == "empty") {
    clear();
    return plat::success();
  }
  return fail("unknown line \"" + what + "\" (disk, array, sensors, memory, work, empty)");
}

void Subsystem::pushEvent(std::uint32_t code, std::uint32_t severity, std::uint32_t a, std::uint32_t b, std::uint32_t c,
                          std::uint32_t lba) {
  Bytes e;
  put32(e, code);
  put32(e, 0);
  put32(e, severity);
  put32(e, 0);
  put32(e, a);
  put32(e, b);
  put32(e, c);
  put32(e, lba);
  e.resize(40, 0);
  // The controller's log is finite: the oldest entries give way.
  if (events_.size() >= kMaxEvents) events_.pop_front();
  events_.push_back(std::move(e));
}

std::uint8_t Subsystem::slotByte(int disk) const {
  auto it = disks_.find(disk);
  if (it == disks_.end() || !it->second.present) return 0;
  if (it->second.state == kDiskFailed) return 4;
  return diskInUse(disk) ? 1 : 2;
}

std::uint32_t Subsystem::readMemory(std::uint32_t address, std::uint32_t width) const {
  std::uint32_t bytes = width / 8;
  std::uint32_t v = 0;
  for (std::uint32_t i = 0; i < bytes; ++i) {
    std::uint32_t a = address + i;
    std::uint8_t b = 0;
    if (a >= kMemoryBase && a < kMemoryBase + memory_.size()) b = memory_[a - kMemoryBase];
    v |= static_cast<std::uint32_t>(b) << (8 * i);
  }
  // Slot bytes live at base + 0x20 + disk, wherever no setting sits.
  if (width == 8 && address >= kMemoryBase + 0x20 && address <= kMemoryBase + 0x20 + 254) {
    int disk = static_cast<int>(address - kMemoryBase - 0x20);
    if (disks_.count(disk)) v = slotByte(disk);
  }
  return v;
}

void Subsystem::writeMemory(std::uint32_t address, std::uint32_t value, std::uint32_t width) {
  for (std::uint32_t i = 0; i < width / 8; ++i) {
    std::uint32_t a = address + i;
    if (a >= kMemoryBase && a < kMemoryBase + memory_.size())
      memory_[a - kMemoryBase] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

bool Subsystem::diskInUse(int disk) const {
  for (auto& [id, a] : arrays_) {
    if (std::find(a.members.begin(), a.members.end(), disk) != a.members.end()) return true;
    if (a.rebuildDisk == disk) return true;
    if (std::find(a.newMembers.begin(), a.newMembers.end(), disk) != a.newMembers.end()) return true;
  }
  return false;
}

std::uint32_t Subsystem::arraySizeMb(const Array& a) const {
  if (a.members.empty()) return 0;
  std::uint64_t smallest = UINT32_MAX, sum = 0;
  for (int d : a.members) {
    auto it = disks_.find(d);
    std::uint64_t s = it == disks_.end() ? 0 : it->second.sizeMb;
    smallest = std::min(smallest, s);
    sum += s;
  }
  std::uint64_t n = a.members.size(), r = 0;
  switch (a.mode) {
    case kSpan:
      r = sum;
      break;
    case kRaid0:
      r = smallest * n;
      break;
    case kRaid1:
    case kRaid01:
      r = smallest * n / 2;
      break;
    case kRaid3:
    case kRaid5:
      r = smallest * (n - 1);
      break;
    default:
      r = n > 2 ? smallest * (n - 2) : 0;
      break;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(r, UINT32_MAX));
}

void Subsystem::startTask(Array& a, Task t, std::int64_t nowMs) {
  a.task = t;
  a.taskStartMs = nowMs;
  a.taskDurationMs = taskMs_;
}

void Subsystem::finishTask(Array& a) {
  auto pos = static_cast<std::uint32_t>(a.id);
  switch (a.task) {
    case Task::Rebuild:
      if (disks_.count(a.rebuildDisk)) {
        for (int& m : a.members) {
          auto it = disks_.find(m);
          if (it == disks_.end() || it->second.state == kDiskFailed || !it->second.present) {
            m = a.rebuildDisk;
            break;
          }
        }
        disks_[a.rebuildDisk].state = kDiskMember;
      }
      a.health = kArrayFunctional;
      pushEvent(event::kRebuildFinished, 3, pos, static_cast<std::uint32_t>(a.rebuildDisk));
      a.rebuildDisk = -1;
      break;
    case Task::Synchronise:
      pushEvent(event::kSyncFinished, 3, pos);
      break;
    case Task::Expand:
    case Task::Convert:
      for (int d : a.newMembers) {
        a.members.push_back(d);
        disks_[d].state = kDiskMember;
      }
      a.newMembers.clear();
      if (a.task == Task::Convert) a.mode = a.targetMode;
      break;
    case Task::Initialise:
    case Task::None:
      break;
  }
  a.task = Task::None;
}

std::int64_t Subsystem::advance(std::int64_t nowMs) {
  lastAdvance_ = nowMs;
  std::int64_t next = -1;
  for (auto& [id, a] : arrays_) {
    if (a.task == Task::None) continue;
    std::int64_t end = a.taskStartMs + a.taskDurationMs;
    if (nowMs >= end) {
      finishTask(a);
    } else if (next < 0 || end < next) {
      next = end;
    }
  }
  return next;
}

void Subsystem::failDisk(int id) {
  Disk& d = disks_[id];
  d.state = kDiskFailed;
  pushEvent(event::kDiskDown, 1, static_cast<std::uint32_t>(id));
  for (auto& [aid, a] : arrays_) {
    if (std::find(a.members.begin(), a.members.end(), id) == a.members.end()) {
      if (a.rebuildDisk == id) {  // the rebuild target itself failed
        a.task = Task::None;
        a.rebuildDisk = -1;
        pushEvent(event::kRebuildStopped, 1, static_cast<std::uint32_t>(aid), static_cast<std::uint32_t>(id));
      }
      continue;
    }
    int failed = 0;
    for (int m : a.members)
      if (disks_[m].state == kDiskFailed) ++failed;
    bool survives = redundant(a.mode) && failed == 1;
    a.task = Task::None;
    a.health = survives ? kArrayCritical : kArrayOffline;
    pushEvent(survives ? event::kArrayDegraded : event::kArrayDown, 1, static_cast<std::uint32_t>(aid));
  }
}

std::uint8_t Subsystem::create(const Bytes& p, std::int64_t nowMs) {
  Reader r{p};
  std::uint32_t mode = r.u32(20), n = r.u32(24);
  if (!modeByName(modeName(mode)) || n == 0 || n > kMaxMembers || p.size() < 32 + n) return 1;
  std::vector<int> members;
  for (std::uint32_t i = 0; i < n; ++i) {
    int d = r.u8(28 + i);
    auto it = disks_.find(d);
    if (it == disks_.end() || !it->second.present || it->second.state == kDiskFailed || diskInUse(d)) return 1;
    if (std::find(members.begin(), members.end(), d) != members.end()) return 1;
    members.push_back(d);
  }
  if (static_cast<int>(n) < minimumDisks(mode)) return 1;
  // More arrays than the list reply carries, or no number left that is neither an array's nor a disk's.
  if (arrays_.size() >= kMaxArrays) return 1;
  int id = 0;
  while (id <= kMaxArrayId && (arrays_.count(id) || disks_.count(id))) ++id;
  if (id > kMaxArrayId) return 1;
  Array a;
  a.id = id;
  a.name = fixedText(p, 0, 20);
  a.mode = mode;
  a.members = members;
  a.block = r.u32(28 + n);
  for (int d : members) disks_[d].state = kDiskMember;
  if (memory_[0x1D] & 1) startTask(a, Task::Initialise, nowMs);
  arrays_[id] = a;
  pushEvent(event::kArrayMade, 3, static_cast<std::uint32_t>(id));
  return 0;
}

std::uint8_t Subsystem::reshape(const Bytes& p, std::int64_t nowMs) {
  Reader r{p};
  int id = static_cast<int>(r.u32(0) & 0xFF);
  std::uint32_t mode = r.u32(4), n = r.u32(8);
  auto it = arrays_.find(id);
  if (it == arrays_.end() || it->second.task != Task::None || it->second.health != kArrayFunctional) return 1;
  if (!modeByName(modeName(mode)) || n == 0 || n > kMaxMembers || p.size() < 16 + n) return 1;
  Array& a = it->second;
  std::vector<int> add;
  for (std::uint32_t i = 0; i < n; ++i) {
    int d = r.u8(16 + i);
    if (std::find(a.members.begin(), a.members.end(), d) != a.members.end()) continue;
    auto dit = disks_.find(d);
    if (dit == disks_.end() || dit->second.state == kDiskFailed || diskInUse(d)) return 1;
    add.push_back(d);
  }
  // The host sends an array's reported mode back for an expansion, and a stripe-mirror is reported
  // as a mirror: only a change of family is a conversion.
  bool conversion = modeFamily(mode) != modeFamily(a.mode);
  if (!conversion && add.empty()) return 1;
  if (static_cast<int>(a.members.size() + add.size()) < minimumDisks(mode)) return 1;
  if (a.members.size() + add.size() > kMaxMembers) return 1;
  a.newMembers = add;
  a.targetMode = conversion ? mode : a.mode;
  startTask(a, conversion ? Task::Convert : Task::Expand, nowMs);
  pushEvent(event::kReshapeStarted, 3, static_cast<std::uint32_t>(id), conversion ? 1 : 0);
  return 0;
}

namespace {

// One request being answered: its payload, the time, and the reply being built.
struct Call {
  Reader r;
  std::int64_t nowMs;
  Bytes out;

  Bytes status(std::uint8_t s) {
    out.push_back(s);
    return out;
  }
  Bytes word(std::uint32_t v) {
    put32(out, v);
    return out;
  }
  // A count byte, then the numbers in ascending order, never more than the reply carries.
  Bytes list(std::vector<int> ids, std::size_t most) {
    std::sort(ids.begin(), ids.end());
    if (ids.size() > most) ids.resize(most);
    out.push_back(static_cast<std::uint8_t>(ids.size()));
    for (int i : ids) out.push_back(static_cast<std::uint8_t>(i));
    return out;
  }
};

}  // namespace

Array* Subsystem::arrayAt(int id) {
  auto it = arrays_.find(id);
  return it == arrays_.end() ? nullptr : &it->second;
}

std::optional<Bytes> Subsystem::handle(std::uint16_t code, const Bytes& payload, std::int64_t nowMs) {
  advance(nowMs);
  hostPresent_ = true;
  using Handler = std::optional<Bytes> (*)(Subsystem & s, Call & c);
  static const std::unordered_map<std::uint16_t, Handler> kHandlers = {
      {cmd::kChannelPairs, [](Subsystem&, Call& c) -> std::optional<Bytes> { return c.word(kChannelPairs); }},
      {cmd::kScan,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         int pos = c.r.u8(0);
         auto it = s.disks_.find(pos);
         bool present = (it != s.disks_.end() && it->second.present) || pos == 170;
         return Bytes{static_cast<std::uint8_t>(present ? 1 : 0), 0, 0, 0, 0};
       }},
      {cmd::kDeviceName,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         int dev = c.r.u8(0);
         std::string name;
         if (auto it = s.disks_.find(dev); it != s.disks_.end())
           name = it->second.name;
         else if (Array* a = s.arrayAt(dev))
           name = a->name;
         c.out.assign(40, 0);
         std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 40), c.out.begin());
         return c.out;
       }},
      {cmd::kDiskList,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         std::vector<int> ids;
         for (auto& [id, d] : s.disks_)
           if (d.present) ids.push_back(id);
         return c.list(ids, kMaxDisks);
       }},
      {cmd::kDiskState,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         auto it = s.disks_.find(c.r.u8(0));
         std::uint32_t w = kDiskFailed;
         if (it != s.disks_.end() && it->second.present) {
           w = it->second.state;
           if (w != kDiskFailed && !s.diskInUse(it->first)) w = kDiskFree;
           for (auto& [id, a] : s.arrays_)
             if (a.rebuildDisk == it->first) w = kDiskRebuilding;
         }
         return c.word(w);
       }},
      {cmd::kDiskTiming,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         auto it = s.disks_.find(c.r.u8(0));
         return c.status(it == s.disks_.end() ? 0 : it->second.timing);
       }},
      {cmd::kDiskGeometry,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         auto it = s.disks_.find(c.r.u8(0));
         Disk d = it == s.disks_.end() ? Disk{} : it->second;
         c.word(d.sizeMb);
         c.word(d.cylinders);
         c.word(d.heads);
         return c.word(d.sectors);
       }},
      {cmd::kDiskCapacity,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         auto it = s.disks_.find(c.r.u8(0));
         // Sectors and bytes per sector: the host multiplies them back to a size.
         std::uint32_t mb = it == s.disks_.end() ? 0 : it->second.sizeMb;
         c.word(sectorsOf(mb));
         c.word(0);
         return c.word(kSectorBytes);
       }},
      {cmd::kFirmwareText,
       [](Subsystem&, Call& c) -> std::optional<Bytes> {
         char text[64] = {};
         std::snprintf(text, sizeof text, "Sorventic controller firmware, part %d", c.r.u8(0) % 3);
         return Bytes(text, text + 64);
       }},
      {cmd::kDeleteArray,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         if (!a || a->task == Task::Rebuild) return c.status(1);
         int id = a->id;
         s.arrays_.erase(id);
         for (auto& [did, d] : s.disks_)
           if (d.state == kDiskMember && !s.diskInUse(did)) d.state = kDiskFree;
         s.pushEvent(event::kArrayRemoved, 3, static_cast<std::uint32_t>(id));
         return c.status(0);
       }},
      {cmd::kStopRebuild,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         // Stops the rebuild or the synchronisation of that array; a reshape has its own stop.
         Array* a = s.arrayAt(c.r.u8(0));
         if (!a) return c.status(1);
         const auto id = static_cast<std::uint32_t>(a->id);
         if (a->task == Task::Synchronise) {
           s.pushEvent(event::kSyncStopped, 2, id, static_cast<std::uint32_t>(a->percent(c.nowMs)));
           a->task = Task::None;
           return c.status(0);
         }
         if (a->task != Task::Rebuild) return c.status(1);
         s.pushEvent(event::kRebuildStopped, 2, id, static_cast<std::uint32_t>(a->rebuildDisk));
         if (s.disks_.count(a->rebuildDisk)) s.disks_[a->rebuildDisk].state = kDiskFree;
         a->rebuildDisk = -1;
         a->task = Task::None;
         return c.status(0);
       }},
      {cmd::kStopReshape,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         bool any = false;
         for (auto& [id, a] : s.arrays_) {
           if (a.task == Task::Convert || a.task == Task::Expand) {
             for (int d : a.newMembers) s.disks_[d].state = kDiskFree;
             a.newMembers.clear();
             a.task = Task::None;
             any = true;
           }
         }
         return c.status(any ? 0 : 1);
       }},
      {cmd::kClearLog,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         s.events_.clear();
         return c.status(0);
       }},
      {cmd::kLogCount,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         return c.word(static_cast<std::uint32_t>(s.events_.size()));
       }},
      {cmd::kReadLog,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         std::size_t n = std::min<std::size_t>(c.r.u8(0), s.events_.size());
         for (std::size_t i = 0; i < n; ++i) c.out.insert(c.out.end(), s.events_[i].begin(), s.events_[i].end());
         return c.out;
       }},
      {cmd::kCreateArray,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> { return c.status(s.create(c.r.p, c.nowMs)); }},
      {cmd::kReshape,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> { return c.status(s.reshape(c.r.p, c.nowMs)); }},
      {cmd::kArrayState,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         c.word(a ? a->stateWord() : kArrayOffline);
         c.word(a ? static_cast<std::uint32_t>(a->percent(c.nowMs)) : 0);
         return c.status(a && a->task == Task::Convert ? 1 : 0);
       }},
      {cmd::kMemberList,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         return c.list(a ? a->members : std::vector<int>{}, kMaxMembers);
       }},
      {cmd::kArrayList,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         std::vector<int> ids;
         for (auto& [id, a] : s.arrays_) ids.push_back(id);
         return c.list(ids, kMaxArrays);
       }},
      {cmd::kArrayLayout,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         // The controller keeps a stripe-mirror as a mirror: it reports the mirror code and the host
         // tells the two apart by the disk count.
         c.word(a ? modeFamily(a->mode) : 0xFFFFFFFF);
         c.word(a ? sectorsOf(s.arraySizeMb(*a)) : 0);  // the size in 512-byte sectors
         c.word(a ? a->block * 2 : 0);
         c.word(0);
         return c.word(a ? static_cast<std::uint32_t>(a->members.size()) : 0);
       }},
      {cmd::kSynchronise,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         if (!a || a->task != Task::None || a->health != kArrayFunctional || !redundant(a->mode)) return c.status(1);
         s.startTask(*a, Task::Synchronise, c.nowMs);
         s.pushEvent(event::kSyncStarted, 3, static_cast<std::uint32_t>(a->id));
         return c.status(0);
       }},
      {cmd::kRebuild,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         if (!a || a->task != Task::None || a->health != kArrayCritical) return c.status(1);
         int disk = c.r.u8(1);
         if (disk == 0xFF) {  // the subsystem picks a free disk
           disk = -1;
           for (auto& [id, d] : s.disks_)
             if (d.present && d.state != kDiskFailed && !s.diskInUse(id)) {
               disk = id;
               break;
             }
         }
         auto it = s.disks_.find(disk);
         if (it == s.disks_.end() || !it->second.present || it->second.state == kDiskFailed || s.diskInUse(disk))
           return c.status(1);
         a->rebuildDisk = disk;
         s.startTask(*a, Task::Rebuild, c.nowMs);
         s.pushEvent(event::kRebuildStarted, 3, static_cast<std::uint32_t>(a->id), static_cast<std::uint32_t>(disk));
         return c.status(0);
       }},
      {cmd::kSensors,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         c.word(s.sensors_.volts5);
         c.word(s.sensors_.volts12);
         for (auto t : s.sensors_.temperatures) c.word(t);
         c.word(static_cast<std::uint32_t>(s.sensors_.fans.size()));
         for (std::size_t i = 0; i < 8; ++i) c.word(i < s.sensors_.fans.size() ? s.sensors_.fans[i] : 0);
         return c.out;
       }},
      {cmd::kSetWriteBack,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         if (!a) return c.status(1);
         a->writeBack = c.r.u32(1);
         return c.status(0);
       }},
      {cmd::kWriteBack,
       [](Subsystem& s, Call& c) -> std::optional<Bytes> {
         Array* a = s.arrayAt(c.r.u8(0));
         return c.word(a ? a->writeBack : 0);
       }},
      {cmd::kCacheSize, [](Subsystem& s, Call& c) -> std::optional<Bytes> { return c.word(s.cacheMb_); }},
      {cmd::kCacheBlock, [](Subsystem& s, Call& c) -> std::optional<Bytes> { return c.word(s.cacheBlock_); }},
      {cmd::kCacheHits,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       s.readHits_ += 3;
                                       s.writeHits_ += 1;
                                       c.word(s.readHits_);
                                       return c.word(s.writeHits_);
                                     }},
      {cmd::kThrottle,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       Array* a = s.arrayAt(c.r.u8(0));
                                       c.word(a && a->task != Task::None ? 1 : 2);
                                       return c.word(s.memory_[0xE2]);
                                     }},
      {cmd::kDoubleBuffer, [](Subsystem&, Call& c) -> std::optional<Bytes> { return c.status(0); }},
      {cmd::kDiskTest, [](Subsystem&, Call& c) -> std::optional<Bytes> { return c.status(0); }},
      {cmd::kSetSequential,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       Array* a = s.arrayAt(c.r.u8(0));
                                       if (!a) return c.status(1);
                                       a->sequential = c.r.u8(1);
                                       return c.status(0);
                                     }},
      {cmd::kSetPreRead,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       s.preRead_ = c.r.u32(1);
                                       return c.status(0);
                                     }},
      {cmd::kSetPbmSize,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       s.pbmSize_ = c.r.u32(0);
                                       return c.status(0);
                                     }},
      {cmd::kSetFlushFrequency,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       s.flushFreq_ = c.r.u32(0);
                                       return c.status(0);
                                     }},
      {cmd::kSequential,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       Array* a = s.arrayAt(c.r.u8(0));
                                       return c.status(a ? a->sequential : 0);
                                     }},
      {cmd::kPbmSize, [](Subsystem& s, Call& c) -> std::optional<Bytes> { return c.word(s.pbmSize_); }},
      {cmd::kFlushFrequency, [](Subsystem& s, Call& c) -> std::optional<Bytes> { return c.word(s.flushFreq_); }},
      {cmd::kRenameArray,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       Array* a = s.arrayAt(c.r.u8(0));
                                       if (!a) return c.status(1);
                                       a->name = fixedText(c.r.p, 1, 63);
                                       return c.status(0);
                                     }},
      {cmd::kPeek,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       std::uint32_t width = c.r.u32(4);
                                       if (width != 8 && width != 16 && width != 32) width = 32;
                                       return c.word(s.readMemory(c.r.u32(0), width));
                                     }},
      {cmd::kPoke,
       [](Subsystem& s, Call& c) -> std::
                                     optional<Bytes> {
                                       std::uint32_t width = c.r.u32(8);
                                       if (width == 8 || width == 16 || width == 32)
                                         s.writeMemory(c.r.u32(0), c.r.u32(4), width);
                                       return c.word(0);
                                     }},
      {cmd::kHostGone,
       [](Subsystem& s, Call&) -> std::
                                   optional<Bytes> {
                                     s.hostPresent_ = false;
                                     return std::nullopt;
                                   }},
  };
  Call c{Reader{payload}, nowMs, {}};
  auto it = kHandlers.find(code);
  if (it == kHandlers.end()) return c.status(0xFF);
  return it->second(*this, c);
}

std::string Subsystem::status(std::int64_t nowMs) const {
  std::ostringstream o;
  o << "adapter 1, channels " << 2 * kChannelPairs << "; host " << (hostPresent_ ? "present" : "absent")
    << "; work takes " << taskMs_ << " ms\n";
  for (auto& [id, d] : disks_) {
    const char* st = d.state == kDiskFailed ? "failed" : diskInUse(id) ? "member" : "free";
    o << "disk " << id << " \"" << d.name << "\" " << d.sizeMb << " MB " << (d.present ? st : "absent") << "\n";
  }
  for (auto& [id, a] : arrays_) {
    char word[16];
    std::snprintf(word, sizeof word, "0x%08X", a.stateWord());
    o << "array " << id << " \"" << a.name << "\" " << modeName(a.mode) << " disks";
    for (int m : a.members) o << " " << m;
    o << " state " << word << " "
      << (a.health == kArrayFunctional ? "functional"
          : a.health == kArrayCritical ? "critical"
                                       : "offline");
    if (a.task != Task::None) o << " " << taskName(a.task) << " " << a.percent(nowMs) << "%";
    if (a.rebuildDisk >= 0) o << " onto disk " << a.rebuildDisk;
    o << "\n";
  }
  char volts[64];
  std::snprintf(volts, sizeof volts, "5V %u.%02u 12V %u.%02u", sensors_.volts5 / 100, sensors_.volts5 % 100,
                sensors_.volts12 / 100, sensors_.volts12 % 100);
  o << "sensors " << volts << " temperatures " << sensors_.temperatures[0]
    << " " << sensors_.temperatures[1] << " " << sensors_.temperatures[2] << " fans";
  for (auto f : sensors_.fans) o << " " << f;
  o << "\nevents waiting " << events_.size() << "\n";
  return o.str();
}

bool Subsystem::fault(const std::string& name, const std::vector<std::string>& args, std::int64_t nowMs,
                      std::string* reply) {
  advance(nowMs);
  auto diskArg = [&]() -> std::optional<int> {
    if (args.empty()) return std::nullopt;
    auto v = parseInt(args[0], 0, 254);
    if (!v) return std::nullopt;
    return static_cast<int>(*v);
  };
  if (name == "fail-disk") {
    auto d = diskArg();
    if (!d || !disks_.count(*d)) {
      *reply = "error: fail-disk needs a declared disk id\n";
      return true;
    }
    failDisk(*d);
    *reply = "ok: disk " + std::to_string(*d) + " failed\n";
    return true;
  }
  if (name == "add-disk") {
    // add-disk ID [SIZE_MB]: a new or replaced disk is plugged in
    auto d = diskArg();
    auto size = args.size() > 1 ? parseInt(args[1], 1, 0x7FFFFFFF) : std::optional<std::int64_t>(76319);
    if (!d || *d >= 170 || !size || (!disks_.count(*d) && disks_.size() >= kMaxDisks)) {
      *reply = "error: add-disk ID [SIZE_MB] (ID below 170, at most 20 disks)\n";
      return true;
    }
    if (arrays_.count(*d)) {
      *reply = "error: " + std::to_string(*d) + " is an array's number\n";
      return true;
    }
    if (disks_.count(*d) && diskInUse(*d)) {
      *reply = "error: disk " + std::to_string(*d) + " is a member of an array\n";
      return true;
    }
    Disk disk;
    disk.id = *d;
    disk.name = "SV-DISK " + std::to_string(*d);
    disk.sizeMb = static_cast<std::uint32_t>(*size);
    disk.cylinders = 16383;
    disks_[*d] = disk;
    pushEvent(event::kDiskPlugged, 3, static_cast<std::uint32_t>(*d));
    *reply = "ok: disk " + std::to_string(*d) + " plugged in\n";
    return true;
  }
  if (name == "temperature") {
    auto t = args.empty() ? std::nullopt : parseInt(args[0], 0, 200);
    if (!t) {
      *reply = "error: temperature DEGREES\n";
      return true;
    }
    sensors_.temperatures[0] = static_cast<std::uint32_t>(*t);
    if (*t > 55) pushEvent(event::kTooHot, 1);
    *reply = "ok\n";
    return true;
  }
  if (name == "fan") {
    // fan INDEX RPM
    auto i = args.size() == 2 ? parseInt(args[0], 0, 7) : std::nullopt;
    auto rpm = args.size() == 2 ? parseInt(args[1], 0, 100000) : std::nullopt;
    if (!i || !rpm || static_cast<std::size_t>(*i) >= sensors_.fans.size()) {
      *reply = "error: fan INDEX RPM (an existing fan)\n";
      return true;
    }
    sensors_.fans[static_cast<std::size_t>(*i)] = static_cast<std::uint32_t>(*rpm);
    if (*rpm == 0) pushEvent(event::kFanStopped, 1);
    *reply = "ok\n";
    return true;
  }
  if (name == "event") {
    // event CODE [SEVERITY [V1 [V2 [V3 [LBA]]]]]: a raw controller event
    std::vector<std::uint32_t> v;
    for (const auto& a : args) {
      auto n = parseInt(a, 0, 0xFFFFFFFF);
      if (!n || v.size() == 6) {
        *reply = "error: event CODE [SEVERITY [V1 [V2 [V3 [LBA]]]]]\n";
        return true;
      }
      v.push_back(static_cast<std::uint32_t>(*n));
    }
    if (v.empty()) {
      *reply = "error: event needs a code\n";
      return true;
    }
    v.resize(6, 0);
    pushEvent(v[0], v[1], v[2], v[3], v[4], v[5]);
    *reply = "ok\n";
    return true;
  }
  return false;
}

}  // namespace sim::serial
