#include "sim/ide/driver_model.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/base/format.h"
#include "sim/core/text_args.h"

namespace sim::ide {
namespace {

constexpr std::uint64_t kMaxSizeMb = 8u * 1024 * 1024;  // 8 TB: far beyond any IDE drive
constexpr std::uint32_t kMaxLba28 = 0x0FFFFFFF;
constexpr std::uint32_t kHotCelsius = 50;
constexpr int kSlowRpm = 1000;

using plat::format;

const char* position(int disk) { return disk % 2 ? "slave" : "master"; }

std::string defaultModel(int disk) { return format("MV-DISK %d", disk); }

struct Level {
  const char* word;
  std::uint8_t type;
  int minMembers, maxMembers;
  bool even;
};
constexpr Level kLevels[] = {
    {"raid0", kTypeStripe, 2, kMaxMembers, false},
    {"raid1", kTypeMirror, 2, 2, false},
    {"raid10", kTypeMirror, 4, kMaxMembers, true},
    {"raid3", kTypeParity, 3, kMaxMembers, false},
    {"raid5", kTypeDistributedParity, 3, kMaxMembers, false},
    {"span", kTypeSpan, 2, kMaxMembers, false},
};

// "12", "12.5" -> tenths; nothing for anything else or beyond 0..max tenths.
std::optional<int> parseTenths(const std::string& text, int max) {
  auto dot = text.find('.');
  std::string whole = text.substr(0, dot);
  auto w = parseInt(whole, 0, max / 10);
  if (!w) return std::nullopt;
  int tenths = static_cast<int>(*w) * 10;
  if (dot != std::string::npos) {
    std::string frac = text.substr(dot + 1);
    if (frac.size() != 1 || frac[0] < '0' || frac[0] > '9') return std::nullopt;
    tenths += frac[0] - '0';
  }
  if (tenths > max) return std::nullopt;
  return tenths;
}

// "udma5", "dma2", "pio" -> (udma, dma).
std::optional<std::pair<int, int>> parseTiming(const std::string& t) {
  if (t == "pio") return std::pair{-1, -1};
  if (t.size() == 5 && t.compare(0, 4, "udma") == 0 && t[4] >= '0' && t[4] <= '6') return std::pair{t[4] - '0', 2};
  if (t.size() == 4 && t.compare(0, 3, "dma") == 0 && t[3] >= '0' && t[3] <= '2') return std::pair{-1, t[3] - '0'};
  return std::nullopt;
}

std::string timingText(const Drive& d) {
  if (d.udma >= 0) return format("udma%d", d.udma);
  if (d.dma >= 0) return format("dma%d", d.dma);
  return "pio";
}

}  // namespace

const char* typeName(std::uint8_t type) {
  switch (type) {
    case kTypeStripe:
      return "stripe";
    case kTypeMirror:
      return "mirror";
    case kTypeParity:
      return "parity";
    case kTypeDistributedParity:
      return "distributed-parity";
    case kTypeSpan:
      return "span";
  }
  return "unknown";
}

Chs driveGeometry(const Drive& d) {
  std::uint64_t c = d.sectors / (16 * 63);
  return {static_cast<std::uint32_t>(std::clamp<std::uint64_t>(c, 1, 16383)), 16, 63};
}

Chs arrayGeometry(std::uint64_t sectors) {
  std::uint64_t c = sectors / (255 * 63);
  return {static_cast<std::uint32_t>(std::clamp<std::uint64_t>(c, 1, 65536)), 255, 63};
}

std::array<std::uint16_t, 89> identifyWords(const Drive& d) {
  std::array<std::uint16_t, 89> w{};
  auto text = [&](int first, int words, const std::string& s) {
    std::string padded = s.substr(0, static_cast<std::size_t>(words) * 2);
    padded.resize(static_cast<std::size_t>(words) * 2, ' ');
    for (int i = 0; i < words; ++i)
      w[static_cast<std::size_t>(first + i)] =
          static_cast<std::uint16_t>(static_cast<std::uint8_t>(padded[2 * i]) << 8 |
                                     static_cast<std::uint8_t>(padded[2 * i + 1]));
  };
  Chs g = driveGeometry(d);
  w[0] = 0x0040;
  w[1] = static_cast<std::uint16_t>(g.cylinders);
  w[3] = static_cast<std::uint16_t>(g.heads);
  w[6] = static_cast<std::uint16_t>(g.sectors);
  text(10, 10, "MVSIM" + std::to_string(d.sectors % 100000000));
  text(23, 4, "1.00");
  text(27, 20, d.model);
  w[47] = 0x8010;
  w[49] = static_cast<std::uint16_t>(0x0200 | (d.udma >= 0 || d.dma >= 0 ? 0x0100 : 0));
  w[53] = static_cast<std::uint16_t>(0x0003 | (d.udma >= 0 ? 0x0004 : 0));
  auto lba = static_cast<std::uint32_t>(std::min<std::uint64_t>(d.sectors, kMaxLba28));
  w[60] = static_cast<std::uint16_t>(lba);
  w[61] = static_cast<std::uint16_t>(lba >> 16);
  if (d.udma >= 0 || d.dma >= 0) w[63] = static_cast<std::uint16_t>(0x0007 | (d.udma < 0 ? 0x100 << d.dma : 0x400));
  if (d.udma >= 0) w[88] = static_cast<std::uint16_t>(((1 << (d.udma + 1)) - 1) | (0x100 << d.udma));
  return w;
}

void DriverModel::clear() {
  *this = DriverModel(std::nullopt);
}

void DriverModel::loadDefault() {
  clear();
  // Two cards; a mirror on the first and a distributed-parity array on the second, a free disk on
  // each, and a hot-swap enclosure on the first channel of each card.
  cards_.resize(2);
  cards_[0].modelCode = 3;
  cards_[0].deviceId = 0x0005;
  cards_[1].modelCode = 3;
  cards_[1].deviceId = 0x0005;
  for (int disk : {0, 1, 2, 4, 5, 6, 7}) {
    Drive d;
    d.model = defaultModel(disk);
    d.sectors = (disk < 4 ? 40960ull : 20480ull) * 2048;
    cards_[static_cast<std::size_t>(disk / 4)].slots[static_cast<std::size_t>(disk % 4)] = d;
  }
  arrays_[0] = {true, kTypeMirror, {{0, kMemberPresent | kMemberOnline}, {2, kMemberPresent | kMemberOnline}}, 128};
  arrays_[1] = {true,
                kTypeDistributedParity,
                {{4, kMemberPresent | kMemberOnline},
                 {5, kMemberPresent | kMemberOnline},
                 {6, kMemberPresent | kMemberOnline}},
                128};
  enclosures_[0].type = 1;
  enclosures_[2].type = 17;
}

DriverModel::DriverModel(std::nullopt_t) {}

plat::Result<void> DriverModel::configure(const std::vector<std::string>& lines) {
  // Settings alone keep the default cards; a card, disk, array or enclosure entry describes them all.
  DriverModel fresh;
  int number = 0;
  for (const auto& line : lines) {
    ++number;
    auto words = splitWords(line);
    plat::Result<void> entry = plat::success();
    if (!words)
      entry = plat::Error{EINVAL, "is too long"};
    else if (!words->empty())
      entry = fresh.configureLine(*words);
    if (!entry)
      return plat::Error{entry.code(),
                         "entry " + std::to_string(number) + " (\"" + line.substr(0, 80) + "\"): " + entry.message()};
  }
  *this = std::move(fresh);
  return plat::success();
}

plat::Result<void> DriverModel::configureLine(const std::vector<std::string>& w) {
  const std::string& verb = w[0];
  if (!topologySeen_ && (verb == "card" || verb == "disk" || verb == "array" || verb == "enclosure")) {
    topologySeen_ = true;
    cards_.clear();
    arrays_ = {};
    enclosures_ = {};
  }
  auto bad = [](std::string why) { return plat::Error{EINVAL, std::move(why)}; };
  auto fits = [&](std::size_t min, std::size_t max) { return w.size() >= min && w.size() <= max; };
  auto usage = [&](const char* text) { return bad(std::string("usage: ") + text); };
  auto diskArg = [&](const std::string& text, bool mustExist) -> plat::Result<int> {
    auto d = parseInt(text, 0, kMaxDisks - 1);
    if (!d) return bad("\"" + text + "\" is not a disk (0 to " + std::to_string(kMaxDisks - 1) + ")");
    int disk = static_cast<int>(*d);
    if (disk / kSlotsPerCard >= cardCount())
      return bad("disk " + text + " is on card " + std::to_string(disk / kSlotsPerCard) + ", which is not declared");
    if (mustExist && !drive(disk)) return bad("disk " + text + " is not declared");
    return disk;
  };

  if (verb == "card") {
    if (!fits(3, 4)) return usage("card INDEX MODEL_CODE [PCI_DEVICE_ID]");
    auto index = parseInt(w[1], 0, kMaxCards - 1);
    auto model = parseInt(w[2], 0, 255);
    auto device = w.size() > 3 ? parseInt(w[3], 0, 0xFFFF) : std::optional<std::int64_t>(0x0005);
    if (!index || *index != cardCount())
      return bad("cards are numbered 0 to 3 in order; the next is " + std::to_string(cardCount()));
    if (!model || !device) return bad("the model code is 0 to 255 and the PCI device id 0 to 0xFFFF");
    Card c;
    c.modelCode = static_cast<std::uint32_t>(*model);
    c.deviceId = static_cast<std::uint32_t>(*device);
    cards_.push_back(c);
    return plat::success();
  }
  if (verb == "disk") {
    if (!fits(3, kMaxWords)) return usage("disk DISK SIZE_MB [udma0-6|dma0-2|pio] [MODEL...]");
    auto disk = diskArg(w[1], false);
    if (!disk) return disk.error();
    if (drive(*disk)) return bad("disk " + w[1] + " is declared twice");
    auto size = parseInt(w[2], 1, static_cast<std::int64_t>(kMaxSizeMb));
    if (!size) return bad("the size is 1 to " + std::to_string(kMaxSizeMb) + " MB");
    Drive d;
    d.sectors = static_cast<std::uint64_t>(*size) * 2048;
    std::size_t next = 3;
    if (w.size() > 3) {
      if (auto t = parseTiming(w[3])) {
        d.udma = t->first;
        d.dma = t->second;
        next = 4;
      }
    }
    for (std::size_t i = next; i < w.size(); ++i) d.model += (i > next ? " " : "") + w[i];
    if (d.model.size() > kModelLength) return bad("the model text is longer than 40 characters");
    if (d.model.empty()) d.model = defaultModel(*disk);
    cards_[static_cast<std::size_t>(*disk / 4)].slots[static_cast<std::size_t>(*disk % 4)] = d;
    return plat::success();
  }
  if (verb == "array") {
    if (!fits(4, 3 + kMaxMembers)) return usage("array SLOT raid0|raid1|raid10|raid3|raid5|span DISK...");
    auto slot = parseInt(w[1], 0, kArraySlots - 1);
    if (!slot || arrays_[static_cast<std::size_t>(*slot)].used) return bad("the array slot is 0 to 3, each used once");
    const Level* level = nullptr;
    for (const auto& l : kLevels)
      if (w[2] == l.word) level = &l;
    if (!level) return bad("unknown level \"" + w[2] + "\" (raid0, raid1, raid10, raid3, raid5, span)");
    int count = static_cast<int>(w.size()) - 3;
    if (count < level->minMembers || count > level->maxMembers || (level->even && count % 2))
      return bad(std::string(level->word) + " takes " + std::to_string(level->minMembers) +
                 (level->minMembers == level->maxMembers ? "" : " to " + std::to_string(level->maxMembers)) +
                 (level->even ? " (an even number of)" : "") + " disks");
    Array a;
    a.used = true;
    a.type = level->type;
    for (std::size_t i = 3; i < w.size(); ++i) {
      auto disk = diskArg(w[i], true);
      if (!disk) return disk.error();
      if (membership(*disk) ||
          std::any_of(a.members.begin(), a.members.end(), [&](auto& m) { return m.disk == *disk; })) {
        return bad("disk " + w[i] + " is already a member of an array");
      }
      a.members.push_back({*disk, kMemberPresent | kMemberOnline});
    }
    arrays_[static_cast<std::size_t>(*slot)] = a;
    return plat::success();
  }
  if (verb == "enclosure") {
    if (!fits(3, 7) || w.size() == 4 || w.size() == 5 || w.size() == 6)
      return bad("usage: enclosure CHANNEL 0|1|17 [FAN_RPM TEMP_C VOLTS5 VOLTS12]");
    auto ch = parseInt(w[1], 0, kMaxChannels - 1);
    auto type = parseInt(w[2], 0, 17);
    if (!ch || *ch / 2 >= cardCount()) return bad("channel " + w[1] + " is not on a declared card");
    if (!type || (*type != 0 && *type != 1 && *type != 17)) return bad("the enclosure type is 0, 1 or 17");
    Enclosure& e = enclosures_[static_cast<std::size_t>(*ch)];
    e.type = static_cast<int>(*type);
    if (w.size() == 7) {
      auto rpm = parseInt(w[3], 0, 20000);
      auto temp = parseInt(w[4], 0, 150);
      auto v5 = parseTenths(w[5], 200);
      auto v12 = parseTenths(w[6], 300);
      if (!rpm || !temp || !v5 || !v12)
        return bad("fan 0 to 20000 RPM, temperature 0 to 150 C, volts like 5.0 (up to 20.0 and 30.0)");
      e.fanRpm = static_cast<int>(*rpm);
      e.temperatureHalfC = static_cast<int>(*temp) * 2;
      e.millivolts5 = *v5 * 100;
      e.millivolts12 = *v12 * 100;
    }
    return plat::success();
  }
  if (verb == "version") {
    if (!fits(2, 2)) return usage("version MAJOR.MINOR");
    auto dot = w[1].find('.');
    auto major = parseInt(w[1].substr(0, dot), 0, 0xFFFF);
    auto minor = dot == std::string::npos ? std::nullopt : parseInt(w[1].substr(dot + 1), 0, 255);
    if (!major || !minor) return bad("the version is MAJOR.MINOR (major 0 to 65535, minor 0 to 255)");
    setVersion(static_cast<std::uint16_t>(*major), static_cast<std::uint16_t>(*minor));
    return plat::success();
  }
  if (verb == "port") {
    if (!fits(2, 2)) return usage("port 0-9|none");
    if (w[1] == "none") {
      present_ = false;
      return plat::success();
    }
    auto p = parseInt(w[1], 0, 9);
    if (!p) return bad("the SCSI port is 0 to 9, or none");
    port_ = static_cast<int>(*p);
    present_ = true;
    return plat::success();
  }
  if (verb == "pci") {
    if (!fits(3, 3)) return usage("pci MAXIMUM THRESHOLD");
    auto max = parseInt(w[1], 0, 255);
    auto threshold = max ? parseInt(w[2], 0, *max) : std::nullopt;
    if (!threshold) return bad("the maximum is 0 to 255 and the threshold 0 to the maximum");
    pciMax = static_cast<std::uint8_t>(*max);
    pciThreshold = static_cast<std::uint8_t>(*threshold);
    return plat::success();
  }
  if (verb == "maintenance") {
    if (!fits(2, 2)) return usage("maintenance RATE");
    auto r = parseInt(w[1], 0, 255);
    if (!r) return bad("the maintenance rate is 0 to 255");
    maintenanceRate = static_cast<std::uint8_t>(*r);
    return plat::success();
  }
  if (verb == "smart") {
    if (!fits(2, 2) || (w[1] != "on" && w[1] != "off")) return bad("usage: smart on|off");
    smartEnabled = w[1] == "on";
    return plat::success();
  }
  if (verb == "task") {
    if (!fits(2, 2)) return usage("task MS");
    auto ms = parseInt(w[1], 100, 7LL * 24 * 3600 * 1000);
    if (!ms) return bad("a task takes 100 ms to one week of model time");
    taskMs = *ms;
    return plat::success();
  }
  return bad("unknown entry \"" + verb +
             "\" (card, disk, array, enclosure, version, port, pci, maintenance, smart, task)");
}

int DriverModel::arrayCount() const {
  return static_cast<int>(std::count_if(arrays_.begin(), arrays_.end(), [](auto& a) { return a.used; }));
}

int DriverModel::diskCount() const {
  int n = 0;
  for (int d = 0; d < kMaxDisks; ++d) n += drive(d) != nullptr;
  return n;
}

const Drive* DriverModel::drive(int disk) const {
  if (disk < 0 || disk >= kMaxDisks || disk / kSlotsPerCard >= cardCount()) return nullptr;
  const auto& slot = cards_[static_cast<std::size_t>(disk / kSlotsPerCard)].slots[static_cast<std::size_t>(disk % 4)];
  return slot ? &*slot : nullptr;
}

std::optional<std::pair<int, int>> DriverModel::membership(int disk) const {
  for (int s = 0; s < kArraySlots; ++s) {
    const auto& a = arrays_[static_cast<std::size_t>(s)];
    if (!a.used) continue;
    for (std::size_t m = 0; m < a.members.size(); ++m)
      if (a.members[m].disk == disk) return std::pair{s, static_cast<int>(m)};
  }
  return std::nullopt;
}

ArrayState DriverModel::arrayState(int slot) const {
  const Array& a = arrays_.at(static_cast<std::size_t>(slot));
  // A member serves the array's data while its disk answers and holds that data: one waiting for,
  // or under, its rebuild does not.
  auto online = [&](std::size_t m) {
    const Drive* d = drive(a.members[m].disk);
    return (a.members[m].flags & kMemberOnline) != 0 && d && !d->rebuilding;
  };
  std::size_t down = 0;
  for (std::size_t m = 0; m < a.members.size(); ++m) down += !online(m);
  if (down == 0) return ArrayState::Functional;
  switch (a.type) {
    case kTypeMirror:
      // Mirrored pairs (0,1), (2,3), ...: the data stands while every pair keeps one side.
      for (std::size_t m = 0; m + 1 < a.members.size(); m += 2)
        if (!online(m) && !online(m + 1)) return ArrayState::Offline;
      return ArrayState::Critical;
    case kTypeParity:
    case kTypeDistributedParity:
      return down == 1 ? ArrayState::Critical : ArrayState::Offline;
    default:
      return ArrayState::Offline;
  }
}

std::uint64_t DriverModel::arraySectors(int slot) const {
  const Array& a = arrays_.at(static_cast<std::size_t>(slot));
  std::uint64_t smallest = UINT64_MAX, sum = 0;
  for (const auto& m : a.members) {
    const Drive* d = drive(m.disk);
    std::uint64_t s = d ? d->sectors : 0;
    smallest = std::min(smallest, s);
    sum += s;
  }
  if (a.members.empty()) return 0;
  auto n = static_cast<std::uint64_t>(a.members.size());
  switch (a.type) {
    case kTypeStripe:
      return smallest * n;
    case kTypeMirror:
      return smallest * (n / 2);
    case kTypeParity:
    case kTypeDistributedParity:
      return smallest * (n - 1);
    default:
      return sum;
  }
}

// ---- Tasks ----

namespace {
// Why the model refuses to start a task (the driver answers such a request with its refusal code).
plat::Error refused(const char* why) { return plat::Error{EBUSY, why}; }
}  // namespace

plat::Result<void> DriverModel::startRebuild(int slot, int member, std::int64_t nowMs) {
  if (slot < 0 || slot >= kArraySlots || !arrays_[static_cast<std::size_t>(slot)].used) return refused("no such array");
  Array& a = arrays_[static_cast<std::size_t>(slot)];
  if (a.type != kTypeMirror) return refused("only a mirror is rebuilt");
  if (task_.kind != TaskKind::None) return refused("a task runs already");
  if (member < 0 || member >= static_cast<int>(a.members.size())) return refused("no such member");
  Member& m = a.members[static_cast<std::size_t>(member)];
  const Drive* d = drive(m.disk);
  if (!d || d->failed) return refused("the member's disk is not usable");
  auto& target = cards_[static_cast<std::size_t>(m.disk / 4)].slots[static_cast<std::size_t>(m.disk % 4)];
  // The member stays present and online; its data is marked as being rebuilt.
  const bool pending = target->rebuilding;
  target->rebuilding = true;
  if (arrayState(slot) == ArrayState::Offline) {
    target->rebuilding = pending;
    return refused("no other member holds the data");
  }
  task_ = {TaskKind::Rebuild, slot, member, nowMs, 0};
  pushEvent({kEvRebuildStarted, kCatInfo, 0, 0, {static_cast<std::uint32_t>(slot), static_cast<std::uint32_t>(m.disk)}},
            nowMs);
  return plat::success();
}

plat::Result<void> DriverModel::startSync(int slot, std::int64_t nowMs) {
  if (slot < 0 || slot >= kArraySlots || !arrays_[static_cast<std::size_t>(slot)].used) return refused("no such array");
  const Array& a = arrays_[static_cast<std::size_t>(slot)];
  if (a.type == kTypeStripe || a.type == kTypeSpan) return refused("the array has no redundancy");
  if (task_.kind != TaskKind::None) return refused("a task runs already");
  if (arrayState(slot) != ArrayState::Functional) return refused("the array is not functional");
  task_ = {TaskKind::Sync, slot, -1, nowMs, 0};
  pushEvent({kEvSyncStarted, kCatInfo, 0, 0, {static_cast<std::uint32_t>(slot)}}, nowMs);
  return plat::success();
}

bool DriverModel::abortTask(TaskKind kind, int slot, std::int64_t nowMs) {
  advance(nowMs);
  if (task_.kind != kind || task_.slot != slot) return false;
  endTask(TaskEnd::Aborted, nowMs);
  return true;
}

void DriverModel::endTask(TaskEnd how, std::int64_t nowMs) {
  Task t = task_;
  task_ = {};
  Array& a = arrays_[static_cast<std::size_t>(t.slot)];
  auto slotWord = static_cast<std::uint32_t>(t.slot);
  auto percent = static_cast<std::uint32_t>(t.percent);
  if (t.kind == TaskKind::Rebuild) {
    Member& m = a.members[static_cast<std::size_t>(t.member)];
    auto diskWord = static_cast<std::uint32_t>(m.disk);
    auto& slot = cards_[static_cast<std::size_t>(m.disk / 4)].slots[static_cast<std::size_t>(m.disk % 4)];
    if (how == TaskEnd::Completed) {
      ArrayState before = arrayState(t.slot);
      if (slot) slot->rebuilding = false;
      m.flags = kMemberPresent | kMemberOnline;
      pushEvent({kEvRebuildComplete, kCatInfo, 0, 0, {slotWord, diskWord}}, nowMs);
      noteArrayChange(t.slot, before, nowMs);
    } else {
      pushEvent({kEvRebuildStopped, kCatWarning, 0, 0, {slotWord, diskWord, percent}}, nowMs);
    }
  } else if (how == TaskEnd::Completed) {
    pushEvent({kEvSyncComplete, kCatInfo, 0, 0, {slotWord}}, nowMs);
  } else {
    pushEvent({kEvSyncStopped, kCatWarning, 0, 0, {slotWord, percent}}, nowMs);
  }
  finished_.push_back({t.kind, t.slot, how});
}

std::int64_t DriverModel::advance(std::int64_t nowMs) {
  if (task_.kind == TaskKind::None) return -1;
  std::int64_t elapsed = std::max<std::int64_t>(0, nowMs - task_.startMs);
  if (elapsed >= taskMs) {
    task_.percent = 100;
    endTask(TaskEnd::Completed, task_.startMs + taskMs);
    return -1;
  }
  task_.percent = static_cast<int>(elapsed * 100 / taskMs);
  // The moment the percent moves on.
  std::int64_t next = (static_cast<std::int64_t>(task_.percent) + 1) * taskMs;
  return task_.startMs + (next + 99) / 100;
}

std::vector<FinishedTask> DriverModel::takeFinished() { return std::exchange(finished_, {}); }

std::array<std::uint8_t, 4> DriverModel::activity(int slot) const {
  if (task_.kind == TaskKind::None || task_.slot != slot) return {0, 0, 0, 0};
  return {static_cast<std::uint8_t>(task_.kind == TaskKind::Rebuild ? 2 : 3), static_cast<std::uint8_t>(task_.percent),
          static_cast<std::uint8_t>(task_.member < 0 ? 0 : task_.member), 0};
}

// ---- Events ----

void DriverModel::pushEvent(DriverEvent e, std::int64_t nowMs) {
  e.seconds = static_cast<std::uint32_t>(std::max<std::int64_t>(0, nowMs) / 1000);
  // The oldest record gives way; the queue never grows without bound.
  if (events_.size() == kMaxQueuedEvents) {
    events_.pop_front();
    ++dropped_;
  }
  events_.push_back(e);
}

std::vector<DriverEvent> DriverModel::takeEvents(std::size_t max) {
  std::size_t n = std::min(max, events_.size());
  std::vector<DriverEvent> out(events_.begin(), events_.begin() + static_cast<long>(n));
  events_.erase(events_.begin(), events_.begin() + static_cast<long>(n));
  return out;
}

void DriverModel::noteArrayChange(int slot, ArrayState before, std::int64_t nowMs) {
  ArrayState after = arrayState(slot);
  if (after == before || after == ArrayState::Functional) return;
  if (after == ArrayState::Offline)
    pushEvent({kEvArrayOffline, kCatError, 0, 0, {static_cast<std::uint32_t>(slot)}}, nowMs);
  else
    pushEvent({kEvArrayCritical, kCatWarning, 0, 0, {static_cast<std::uint32_t>(slot)}}, nowMs);
}

// ---- Faults ----

plat::Result<std::string> DriverModel::failDisk(int disk, std::int64_t nowMs) {
  advance(nowMs);
  const Drive* d = drive(disk);
  if (!d || d->failed) return plat::Error{EINVAL, format("disk %d is not a working disk", disk)};
  auto& slot = cards_[static_cast<std::size_t>(disk / 4)].slots[static_cast<std::size_t>(disk % 4)];
  auto where = membership(disk);
  // A task on the failing disk's array cannot go on.
  if (where && task_.kind != TaskKind::None && task_.slot == where->first) endTask(TaskEnd::Aborted, nowMs);
  slot->failed = true;
  slot->rebuilding = false;
  pushEvent({kEvDiskSetDown, kCatError, static_cast<std::uint32_t>(disk / 4), 0, {static_cast<std::uint32_t>(disk)}},
            nowMs);
  if (where) {
    ArrayState before = arrayState(where->first);
    arrays_[static_cast<std::size_t>(where->first)].members[static_cast<std::size_t>(where->second)].flags =
        kMemberPresent | kMemberError;
    noteArrayChange(where->first, before, nowMs);
  }
  return format("ok: disk %d failed\n", disk);
}

plat::Result<std::string> DriverModel::insertDisk(int disk, std::uint64_t sizeMb, std::int64_t nowMs) {
  if (disk < 0 || disk >= kMaxDisks || disk / 4 >= cardCount())
    return plat::Error{EINVAL, format("disk %d is not on a card", disk)};
  auto& slot = cards_[static_cast<std::size_t>(disk / 4)].slots[static_cast<std::size_t>(disk % 4)];
  if (slot && !slot->failed) return plat::Error{EINVAL, format("disk %d works; fail it first", disk)};
  Drive d;
  d.model = defaultModel(disk);
  d.sectors = sizeMb ? sizeMb * 2048 : (slot ? slot->sectors : 40960ull * 2048);
  slot = d;
  // A replaced member stays in its array: present and online, its data waiting for the rebuild.
  if (auto where = membership(disk)) {
    arrays_[static_cast<std::size_t>(where->first)].members[static_cast<std::size_t>(where->second)].flags =
        kMemberPresent | kMemberOnline;
    slot->rebuilding = true;
  }
  pushEvent({kEvDiskPlugged, kCatInfo, static_cast<std::uint32_t>(disk / 4), 0, {static_cast<std::uint32_t>(disk)}},
            nowMs);
  return format("ok: disk %d inserted\n", disk);
}

plat::Result<std::string> DriverModel::mediaError(int disk, std::uint32_t lba, std::int64_t nowMs) {
  const Drive* d = drive(disk);
  if (!d || d->failed) return plat::Error{EINVAL, format("disk %d is not a working disk", disk)};
  auto card = static_cast<std::uint32_t>(disk / 4);
  if (auto where = membership(disk))
    pushEvent({kEvMediaError,
               kCatError,
               card,
               0,
               {static_cast<std::uint32_t>(where->first), static_cast<std::uint32_t>(disk), lba, 0xC8, 0x51}},
              nowMs);
  else
    pushEvent({kEvEcc, kCatError, card, 0, {static_cast<std::uint32_t>(disk), lba}}, nowMs);
  return format("ok: media error on disk %d at LBA %u\n", disk, lba);
}

namespace {
plat::Result<void> enclosureOk(const DriverModel& m, int channel) {
  if (channel < 0 || channel >= kMaxChannels || channel / 2 >= m.cardCount() || m.enclosure(channel).type == 0)
    return plat::Error{EINVAL, format("no enclosure on channel %d", channel)};
  return plat::success();
}
}  // namespace

plat::Result<std::string> DriverModel::enclosureFan(int channel, int rpm, std::int64_t nowMs) {
  if (auto ok = enclosureOk(*this, channel); !ok) return ok.error();
  enclosures_[static_cast<std::size_t>(channel)].fanRpm = rpm;
  auto ch = static_cast<std::uint32_t>(channel);
  if (rpm == 0)
    pushEvent({kEvFanStopped, kCatError, ch / 2, 0, {ch, 0, 0}}, nowMs);
  else if (rpm < kSlowRpm)
    pushEvent({kEvFanUnderspeed, kCatWarning, ch / 2, 0, {ch, 0, static_cast<std::uint32_t>(rpm)}}, nowMs);
  return format("ok: fan on channel %d at %d RPM\n", channel, rpm);
}

plat::Result<std::string> DriverModel::enclosureTemperature(int channel, int celsius, std::int64_t nowMs) {
  if (auto ok = enclosureOk(*this, channel); !ok) return ok.error();
  enclosures_[static_cast<std::size_t>(channel)].temperatureHalfC = celsius * 2;
  auto ch = static_cast<std::uint32_t>(channel);
  if (celsius >= static_cast<int>(kHotCelsius))
    pushEvent({kEvOverTemperature, kCatError, ch / 2, 0, {ch, 0, static_cast<std::uint32_t>(celsius * 2)}}, nowMs);
  return format("ok: channel %d at %d C\n", channel, celsius);
}

plat::Result<std::string> DriverModel::enclosureVoltage(int channel, int rail, int millivolts, std::int64_t nowMs) {
  if (auto ok = enclosureOk(*this, channel); !ok) return ok.error();
  auto& e = enclosures_[static_cast<std::size_t>(channel)];
  (rail == 5 ? e.millivolts5 : e.millivolts12) = millivolts;
  int nominal = rail * 1000;
  auto ch = static_cast<std::uint32_t>(channel);
  // Out of range beyond 10 % of the nominal voltage.
  if (millivolts * 10 < nominal * 9 || millivolts * 10 > nominal * 11)
    pushEvent({rail == 5 ? kEv5V : kEv12V, kCatError, ch / 2, 0, {ch, 0, static_cast<std::uint32_t>(millivolts)}},
              nowMs);
  return format("ok: %d V rail on channel %d at %d.%03d V\n", rail, channel, millivolts / 1000, millivolts % 1000);
}

// ---- Status ----

std::string DriverModel::status(std::int64_t nowMs) const {
  std::string s;
  if (present_)
    s += format("driver %u.%u on Scsi%d:\n", major_, minor_, port_);
  else
    s += format("driver %u.%u, not loaded (no device answers)\n", major_, minor_);
  s += format("settings: pci maximum %u threshold %u, maintenance rate %u, smart %s, task %lld ms\n", pciMax, pciThreshold,
           maintenanceRate, smartEnabled ? "on" : "off", static_cast<long long>(taskMs));
  for (int c = 0; c < cardCount(); ++c) {
    s += format("card %d model %u device 0x%04x\n", c, cards_[static_cast<std::size_t>(c)].modelCode,
             cards_[static_cast<std::size_t>(c)].deviceId);
    for (int k = 0; k < kSlotsPerCard; ++k) {
      int disk = c * 4 + k;
      const Drive* d = drive(disk);
      if (!d) continue;
      auto where = membership(disk);
      std::string state = "free";
      if (d->failed) {
        state = "failed";
      } else if (where) {
        const bool underRebuild =
            task_.kind == TaskKind::Rebuild && task_.slot == where->first && task_.member == where->second;
        state = format("member of array %d%s", where->first,
                       underRebuild ? ", being rebuilt" : d->rebuilding ? ", waiting for its rebuild" : "");
      }
      s += format("  disk %d channel %d %s %llu MB %s \"%s\" %s\n", disk, channelOf(disk), position(disk),
               static_cast<unsigned long long>(d->sectors / 2048), timingText(*d).c_str(), d->model.c_str(),
               state.c_str());
    }
  }
  static const char* kStates[] = {"functional", "critical", "offline"};
  for (int slot = 0; slot < kArraySlots; ++slot) {
    const Array& a = arrays_[static_cast<std::size_t>(slot)];
    if (!a.used) continue;
    std::string disks;
    for (const auto& m : a.members) disks += format(" %d", m.disk);
    s += format("array %d %s disks%s %llu MB %s\n", slot, typeName(a.type), disks.c_str(),
             static_cast<unsigned long long>(arraySectors(slot) / 2048),
             kStates[static_cast<int>(arrayState(slot))]);
  }
  if (task_.kind != TaskKind::None) {
    std::int64_t left = task_.startMs + taskMs - nowMs;
    s += format("task: %s of array %d at %d%%, %lld ms left\n", task_.kind == TaskKind::Rebuild ? "rebuild" : "synchronise",
             task_.slot, task_.percent, static_cast<long long>(std::max<std::int64_t>(0, left)));
  }
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const Enclosure& e = enclosures_[static_cast<std::size_t>(ch)];
    if (e.type == 0) continue;
    s += format("enclosure channel %d type %d fan %d RPM, %d.%d C, 5V %d.%d V, 12V %d.%d V\n", ch, e.type, e.fanRpm,
             e.temperatureHalfC / 2, e.temperatureHalfC % 2 * 5, e.millivolts5 / 1000, e.millivolts5 % 1000 / 100,
             e.millivolts12 / 1000, e.millivolts12 % 1000 / 100);
  }
  s += format("events queued: %zu (dropped %zu)\n", events_.size(), dropped_);
  return s;
}

}  // namespace sim::ide
