#include "sim/iop/card_model.h"

#include <algorithm>

#include "platform/base/format.h"
#include "sim/core/text_args.h"

namespace sim::iop {
namespace {

constexpr std::uint32_t kBlocksPerMb = 2048;
constexpr std::uint32_t kMaxSizeMb = 2u * 1024 * 1024;  // 2 TiB: the block count stays within 32 bits

// Settings with a Get and a Set command, and the values the Set takes.
struct Setting {
  std::uint16_t get;
  std::uint16_t set;
  std::uint32_t initial;
  std::uint32_t max;  // highest value accepted (0x3531 is bounded by 0x3532 as well)
};
constexpr Setting kSettings[] = {
    {0x3006, 0x3007, 1, 1},    {0x3008, 0x3009, 1, 1},    {0x3527, 0x3523, 1, 1},     {0x3529, 0x3525, 10, 3600},
    {0x352A, 0x352B, 50, 100}, {0x352E, 0x352F, 0, 1},    {0x3530, 0x3531, 64, 256},
};
// Read-only values.
constexpr std::pair<std::uint16_t, std::uint32_t> kReadOnly[] = {
    {0x3509, 128}, {0x3515, 16}, {0x3516, 8}, {0x351C, 64}, {0x3532, 256},
};
constexpr std::uint16_t kThresholdStart = 0x350F, kThresholdStop = 0x3510;
constexpr std::uint16_t kFlushPolicy = 0x3513, kFlushFrequency = 0x3514;

std::vector<Value> reply(std::uint32_t status) { return {Value{status}}; }
std::vector<Value> reply(std::uint32_t status, std::initializer_list<std::uint32_t> words) {
  std::vector<Value> v{Value{status}};
  for (auto w : words) v.push_back(Value{w});
  return v;
}

bool redundant(std::uint32_t level) { return level == 1 || level == 2 || level == 4; }

std::string levelName(std::uint32_t level, std::size_t members) {
  switch (level) {
    case 0: return "raid0";
    case 1: return members > 2 ? "raid10" : "raid1";
    case 2: return "raid3";
    case 4: return "raid5";
    case 8: return "span";
    default: return "level" + std::to_string(level);
  }
}

std::string stateName(std::uint32_t s) {
  std::string t = (s & 0x800000FF) == kArrayOffline    ? "offline"
                  : (s & 0x800000FF) == kArrayCritical ? "critical"
                                                       : "functional";
  if ((s & 0xFF00) == kTaskRebuild) t += "+rebuilding";
  if ((s & 0xFF00) == kTaskSync) t += "+synchronising";
  return t;
}

std::string diskStateName(std::uint32_t s) {
  switch (s) {
    case kDiskOnline: return "online";
    case kDiskFree: return "free";
    case kDiskRebuilding: return "rebuilding";
    case kDiskWaiting: return "waiting for rebuild";
    case kDiskFailed: return "failed";
    default: return plat::format("0x%08X", s);
  }
}

}  // namespace

std::optional<std::uint32_t> timingCode(const std::string& word) {
  if (word.size() == 5 && word.compare(0, 4, "udma") == 0 && word[4] >= '0' && word[4] <= '6')
    return kTimingUdma | static_cast<std::uint32_t>(word[4] - '0');
  if (word.size() == 4 && word.compare(0, 3, "dma") == 0 && word[3] >= '0' && word[3] <= '2')
    return static_cast<std::uint32_t>(word[3] - '0');
  return std::nullopt;
}

std::optional<std::uint32_t> levelCode(const std::string& word) {
  if (word == "raid0") return 0;
  if (word == "raid1" || word == "raid10") return 1;
  if (word == "raid3") return 2;
  if (word == "raid5") return 4;
  if (word == "span") return 8;
  return std::nullopt;
}

const Card* CardModel::card(int n) const {
  return n >= 0 && n < cardCount() ? &cards_[static_cast<std::size_t>(n)] : nullptr;
}
Card* CardModel::card(int n) { return n >= 0 && n < cardCount() ? &cards_[static_cast<std::size_t>(n)] : nullptr; }

Card& CardModel::addCard(std::uint32_t hardware, std::uint16_t target) {
  Card& c = cards_.emplace_back();
  c.hardware = hardware;
  c.targetId = target;
  for (const auto& s : kSettings) c.settings[s.get] = s.initial;
  for (const auto& [code, v] : kReadOnly) c.settings[code] = v;
  c.settings[kThresholdStart] = 90;
  c.settings[kThresholdStop] = 10;
  c.settings[kFlushPolicy] = 1;
  c.settings[kFlushFrequency] = 10;
  return c;
}

void CardModel::loadDefault() {
  cards_.clear();
  faults_ = {};
  taskMs_ = 100000;
  // IOP1: a QX6000 with four parallel channels and one serial channel, a mirror and a RAID 5 array.
  Card& a = addCard(0x0126, 0x021);
  for (int ch = 0; ch < 5; ++ch) a.channels.push_back({ch, ch < 4 ? 1u : 2u});
  auto disk = [](Card& c, int ch, int pos, std::uint32_t gb, const char* model) {
    Disk d;
    d.handle = c.nextDisk++;
    d.channel = ch;
    d.position = pos;
    d.blocks = gb * 1024 * kBlocksPerMb;
    d.model = model;
    d.timing = kTimingUdma | 5;
    c.disks.push_back(d);
    return d.handle;
  };
  auto d00 = disk(a, 0, 0, 36, "PX36 ULTRA");
  auto d01 = disk(a, 0, 1, 18, "PX18 ULTRA");
  auto d10 = disk(a, 1, 0, 36, "PX36 ULTRA");
  auto d11 = disk(a, 1, 1, 18, "PX18 ULTRA");
  auto d20 = disk(a, 2, 0, 18, "PX18 ULTRA");
  disk(a, 3, 0, 36, "PX36 ULTRA");
  disk(a, 4, 0, 73, "PX73 SERIAL");
  // The built-in arrays fit the built-in disks.
  (void)addArray(a, "Ary1", 1, {d00, d10});
  (void)addArray(a, "Ary2", 4, {d01, d11, d20});
  a.channels[0].enclosureType = 0x01;
  a.channels[0].fanRpm = 4200;
  a.channels[0].temperature = 70;  // half degrees: 35 C
  a.channels[0].volts5 = 5000;
  a.channels[0].volts12 = 12000;
  a.channels[3].enclosureType = 0x11;
  a.channels[3].fanRpm = 3900;
  a.channels[3].temperature = 76;
  a.channels[3].volts5 = 4980;
  a.channels[3].volts12 = 12050;
  // IOP2: an SX5000 with two free disks.
  Card& b = addCard(0x0115, 0x022);
  b.channels.push_back({0, 1});
  b.channels.push_back({1, 1});
  disk(b, 0, 0, 73, "PX73 ULTRA");
  disk(b, 1, 0, 73, "PX73 ULTRA");
}

Disk* CardModel::disk(Card& c, std::uint32_t handle) {
  for (auto& d : c.disks)
    if (d.handle == handle) return &d;
  return nullptr;
}
Disk* CardModel::diskAt(Card& c, int channel, int position) {
  for (auto& d : c.disks)
    if (d.channel == channel && d.position == position) return &d;
  return nullptr;
}
Array* CardModel::array(Card& c, std::uint32_t handle) {
  for (auto& a : c.arrays)
    if (a.handle == handle) return &a;
  return nullptr;
}
Channel* CardModel::channel(Card& c, std::uint32_t number) {
  for (auto& ch : c.channels)
    if (static_cast<std::uint32_t>(ch.number) == number) return &ch;
  return nullptr;
}

plat::Result<std::uint32_t> CardModel::addArray(Card& c, const std::string& name, std::uint32_t levelWord,
                                                const std::vector<std::uint32_t>& disks) {
  std::uint32_t level = levelWord & 0xFF;
  std::size_t need = level == 1 ? 2 : redundant(level) ? 3 : 1;
  if (c.arrays.size() >= kMaxArrays || disks.size() < need || disks.size() > kMaxArray || name.size() > kMaxNameLength ||
      !(level == 0 || level == 8 || redundant(level)))
    return plat::Error{EINVAL, "no room for the array, a wrong number of disks, a long name or an unknown level"};
  std::uint32_t smallest = 0xFFFFFFFF;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    Disk* d = disk(c, disks[i]);
    if (!d || d->state != kDiskFree || std::count(disks.begin(), disks.end(), disks[i]) != 1)
      return plat::Error{EINVAL, plat::format("disk 0x%X is not a free disk named once", disks[i])};
    smallest = std::min(smallest, d->blocks);
    total += d->blocks;
  }
  std::uint64_t n = disks.size();
  std::uint64_t blocks = level == 0 || level == 8 ? total : level == 1 ? smallest * n / 2 : smallest * (n - 1);
  Array a;
  a.handle = c.nextArray++;
  a.name = name;
  a.level = level;
  a.levelWord = levelWord;
  a.blocks = static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, 0xFFFFFFFF));
  a.members = disks;
  for (auto h : disks) {
    Disk* d = disk(c, h);
    d->state = kDiskOnline;
    d->array = a.handle;
  }
  c.arrays.push_back(std::move(a));
  return c.arrays.back().handle;
}

void CardModel::event(Card& c, std::uint32_t type, std::uint32_t severity, std::vector<std::uint32_t> args) {
  pushEvent(static_cast<int>(&c - cards_.data()), Event{type, severity, std::move(args)});
}

void CardModel::pushEvent(int n, Event e) {
  Card* c = card(n);
  if (!c) return;
  if (e.args.size() > 16) e.args.resize(16);
  if (c->events.size() >= kMaxEvents) c->events.pop_front();  // the oldest is lost, as in a full FIFO
  c->events.push_back(std::move(e));
}

std::uint32_t CardModel::percent(const Array& a) const {
  if (!a.task.kind || taskMs_ <= 0) return 0;
  return static_cast<std::uint32_t>(std::min<std::int64_t>(100, a.task.doneMs * 100 / taskMs_));
}

std::string CardModel::nameOf(Card& c, std::uint32_t h) {
  if (Array* a = array(c, h)) return a->name;
  if (Disk* d = disk(c, h)) return d->model;
  if (h == kContainerHandle) return "Container";
  if (h == kEnclosureHandle) return "Enclosure";
  return "Channel " + std::to_string(h);
}

std::vector<Value> CardModel::execute(int n, std::uint16_t code, const std::vector<Value>& rq, std::size_t replyRoom) {
  Card* cp = card(n);
  if (!cp) return reply(kNoSuchObject);
  Card& c = *cp;
  if (auto f = faults_.status.find(code); f != faults_.status.end()) return reply(f->second);
  auto arg = [&](std::size_t i) { return i < rq.size() ? rq[i].u : 0u; };

  for (const auto& s : kSettings) {
    if (code == s.get) return reply(kOk, {c.settings[s.get]});
    if (code == s.set) {
      std::uint32_t max = s.set == 0x3531 ? c.settings[0x3532] : s.max;
      if (arg(0) > max || (s.set == 0x3531 && arg(0) == 0)) return reply(kBadArgument);
      c.settings[s.get] = arg(0);
      return reply(kOk);
    }
  }
  for (const auto& [get, v] : kReadOnly)
    if (code == get) return reply(kOk, {c.settings[get]});

  switch (code) {
    case 0x0000: {
      auto r = reply(kOk, {0x00010002, 1, 0, static_cast<std::uint32_t>(cardCount())});
      r.push_back(Value{0, "Palindrex I2O driver 1.2"});
      return r;
    }
    case 0x0001:
      if (arg(0) > 1) return reply(kBadArgument);
      c.attached = true;
      return reply(kOk);
    case 0x3000: return reply(kOk, {c.hardware});
    case 0x3001: return reply(kOk, {static_cast<std::uint32_t>(c.channels.size() + 2)});
    case 0x3002: {
      std::uint32_t i = arg(1);
      if (i < c.channels.size()) return reply(kOk, {static_cast<std::uint32_t>(c.channels[i].number), c.channels[i].kind});
      if (i == c.channels.size()) return reply(kOk, {kContainerHandle, kKindContainer});
      if (i == c.channels.size() + 1) return reply(kOk, {kEnclosureHandle, kKindEnclosure});
      return reply(kNoSuchObject);
    }
    case 0x3003: {
      if (arg(0) == kContainerHandle) return reply(kOk, {static_cast<std::uint32_t>(c.arrays.size())});
      Channel* ch = channel(c, arg(0));
      if (!ch) return reply(kNoSuchObject);
      if (ch->kind == 1) return reply(kOk, {static_cast<std::uint32_t>(kMaxPositions)});
      auto k = std::count_if(c.disks.begin(), c.disks.end(), [&](const Disk& d) { return d.channel == ch->number; });
      return reply(kOk, {static_cast<std::uint32_t>(k)});
    }
    case 0x3004: {
      std::uint32_t i = arg(1);
      if (arg(0) == kContainerHandle) {
        if (i >= c.arrays.size()) return reply(kNoSuchObject);
        return reply(kOk, {c.arrays[i].handle, kKindContainer});
      }
      Channel* ch = channel(c, arg(0));
      if (!ch) return reply(kNoSuchObject);
      if (ch->kind == 1) {
        if (i >= static_cast<std::uint32_t>(kMaxPositions)) return reply(kNoSuchObject);
        Disk* d = diskAt(c, ch->number, static_cast<int>(i));
        return d ? reply(kOk, {d->handle, kKindDisk}) : reply(kOk, {0, 0});
      }
      std::vector<const Disk*> on;
      for (const auto& d : c.disks)
        if (d.channel == ch->number) on.push_back(&d);
      std::sort(on.begin(), on.end(), [](const Disk* x, const Disk* y) { return x->position < y->position; });
      if (i >= on.size()) return reply(kNoSuchObject);
      return reply(kOk, {on[i]->handle, kKindDisk});
    }
    case 0x3005: return reply(kOk, {c.enclosureMode});
    case 0x3100: {
      if (!array(c, arg(0)) && !disk(c, arg(0)) && !channel(c, arg(0)) && arg(0) != kContainerHandle &&
          arg(0) != kEnclosureHandle)
        return reply(kNoSuchObject);
      std::string text = nameOf(c, arg(0));
      if (faults_.longText) text.resize(faults_.longText, 'N');
      auto r = reply(kOk);
      r.push_back(Value{0, text});
      return r;
    }
    case 0x3101: {
      Array* a = array(c, arg(0));
      if (!a) return reply(kNoSuchObject);
      if (rq.size() < 2 || rq[1].text.size() > kMaxNameLength) return reply(kBadArgument);
      a->name = rq[1].text;
      return reply(kOk);
    }
    case 0x3102: {
      Disk* d = disk(c, arg(0));
      return d ? reply(kOk, {static_cast<std::uint32_t>(d->channel)}) : reply(kNoSuchObject);
    }
    case 0x3103: return reply(kOk, {static_cast<std::uint32_t>(c.events.size())});
    case 0x3104: {
      std::size_t room = replyRoom > 8 ? replyRoom - 8 : 0;
      std::vector<std::uint8_t> records;
      std::uint32_t count = 0;
      while (count < arg(1) && !c.events.empty()) {
        const Event& e = c.events.front();
        std::size_t size = 16 + 4 * e.args.size();
        if (records.size() + size > room) break;
        put32(records, e.type);
        put32(records, ++c.eventSerial);
        put32(records, e.severity);
        put32(records, static_cast<std::uint32_t>(e.args.size()));
        for (auto a : e.args) put32(records, a);
        c.events.pop_front();
        ++count;
      }
      auto r = reply(kOk, {count});
      Value v;
      v.records = std::move(records);
      r.push_back(std::move(v));
      return r;
    }
    case 0x3105: c.events.clear(); return reply(kOk);
    case 0x3106: c.clock = arg(0); return reply(kOk);
    case 0x3107: c.buzzer = 0; return reply(kOk);
    case 0x310E: c.buzzer = 1; return reply(kOk);
    case 0x310D: return reply(kOk, {c.buzzer});
    case 0x310C: {
      Channel* ch = channel(c, arg(1));
      if (!ch) return reply(kNoSuchObject);
      switch (arg(0)) {
        case 0: return reply(kOk, {ch->enclosureType});
        case 1: case 2: case 3: case 4:
          if (ch->enclosureType == kNone) return reply(kNoSuchObject);
          return reply(kOk, {arg(0) == 1 ? ch->fanRpm : arg(0) == 2 ? ch->temperature : arg(0) == 3 ? ch->volts5 : ch->volts12});
        default: return reply(kBadArgument);
      }
    }
    case 0x3200: case 0x3201: case 0x3202: {
      Disk* d = disk(c, arg(0));
      if (!d) return reply(kNoSuchObject);
      if (code == 0x3200) return reply(kOk, {d->timing});
      if (code == 0x3201) return reply(kOk, {d->blocks, 512});
      return reply(kOk, {d->state, d->array});
    }
    case 0x3300: case 0x3301: case 0x3302: case 0x3304: case 0x3308: case 0x3500: case 0x3502: case 0x3511: {
      Array* a = array(c, arg(0));
      if (!a) return reply(kNoSuchObject);
      switch (code) {
        case 0x3300: return reply(kOk, {a->level, a->blocks, a->blockSize});
        case 0x3301: return reply(kOk, {a->state | a->task.kind});
        case 0x3302: {
          auto r = reply(kOk);
          Value list;
          list.array = a->members;
          for (std::size_t i = 0; i < faults_.extraMembers; ++i) list.array.push_back(a->members[i % a->members.size()]);
          r.push_back(Value{static_cast<std::uint32_t>(list.array.size())});
          r.push_back(std::move(list));
          return r;
        }
        case 0x3304: {
          if (a->task.kind) return reply(kRefused);
          std::uint32_t h = a->handle;
          for (auto m : a->members)
            if (Disk* d = disk(c, m)) {
              d->array = kNone;
              if (d->state != kDiskFailed) d->state = kDiskFree;
            }
          c.arrays.erase(c.arrays.begin() + (a - c.arrays.data()));
          event(c, 520, 0, {h});
          return reply(kOk);
        }
        case 0x3308:
          if (!redundant(a->level) || a->task.kind || a->state != kArrayFunctional) return reply(kRefused);
          a->armed = kNone;
          return reply(kOk);
        case 0x3500: return reply(kOk, {a->readCache});
        case 0x3502: return reply(kOk, {a->writeCache});
        default: return reply(kOk, {a->readAheadMode, a->readAheadRange});
      }
    }
    case 0x3303: {
      if (rq.size() < 5) return reply(kBadArgument);
      auto h = addArray(c, rq[0].text, rq[1].u, rq[3].array);
      if (!h) return reply(kBadArgument);
      event(c, 519, 0, {*h});
      return reply(kOk, {*h});
    }
    case 0x3309: {
      Array* a = array(c, arg(0));
      Disk* d = disk(c, arg(1));
      if (!a || !d) return reply(kNoSuchObject);
      if (!redundant(a->level) || a->task.kind || a->state == kArrayOffline || d->state == kDiskFailed)
        return reply(kRefused);
      bool member = d->array == a->handle;
      bool missing = std::any_of(a->members.begin(), a->members.end(), [&](std::uint32_t m) {
        Disk* x = disk(c, m);
        return !x || x->state == kDiskFailed;
      });
      if (!member && !(d->state == kDiskFree && missing)) return reply(kRefused);
      a->armed = d->handle;
      return reply(kOk);
    }
    case 0x3400: return taskAction(c, arg(0), arg(1), arg(2));
    case 0x3401: {
      Array* a = array(c, arg(0));
      if (!a) return reply(kNoSuchObject);
      if (!a->task.kind) return reply(kOk, {kThrottleNone, 0});
      return reply(kOk, {a->task.paused ? kThrottlePaused : kThrottleRunning, percent(*a)});
    }
    case 0x3521: case 0x3526: case 0x352C: case 0x352D: {
      // These address an array by its place in the container.
      if (arg(0) >= c.arrays.size()) return reply(kNoSuchObject);
      Array& a = c.arrays[arg(0)];
      std::uint32_t& v = code == 0x3521 || code == 0x3526 ? a.autoSeq : a.writeBack;
      if (code == 0x3526 || code == 0x352C) return reply(kOk, {v});
      if (arg(1) > 1) return reply(kBadArgument);
      v = arg(1);
      return reply(kOk);
    }
    case kThresholdStart: return reply(kOk, {c.settings[kThresholdStart], c.settings[kThresholdStop]});
    case kThresholdStop:
      if (arg(0) > 100 || arg(1) >= arg(0)) return reply(kBadArgument);
      c.settings[kThresholdStart] = arg(0);
      c.settings[kThresholdStop] = arg(1);
      return reply(kOk);
    case kFlushPolicy: return reply(kOk, {c.settings[kFlushPolicy], c.settings[kFlushFrequency]});
    case kFlushFrequency:
      if (arg(0) > 1 || arg(1) > 3600) return reply(kBadArgument);
      c.settings[kFlushPolicy] = arg(0);
      c.settings[kFlushFrequency] = arg(1);
      return reply(kOk);
    case 0x4003: return reply(kOk, {c.memoryBytes});
    default: return reply(kOk);  // the commands nobody sends: accepted, nothing to tell
  }
}

std::vector<Value> CardModel::taskAction(Card& c, std::uint32_t handle, std::uint32_t word, std::uint32_t third) {
  Array* a = array(c, handle);
  if (!a) return reply(kNoSuchObject);
  std::uint32_t kind = (word >> 16) == 1 ? kTaskRebuild : (word >> 16) == 2 ? kTaskSync : 0;
  if (third != 0 || (word & 0xFF) != 2 || !kind) return reply(kBadArgument);
  switch (word & 0xFF00) {
    case kActionStart: {
      if (a->task.kind) return reply(kRefused);
      if (!a->armed || (kind == kTaskRebuild) != (*a->armed != kNone)) return reply(kNotArmed);
      std::uint32_t target = *a->armed;
      a->armed.reset();
      a->task = Task{kind, target, 0, false};
      if (kind == kTaskSync) {
        event(c, 516, 0, {a->handle});
        return reply(kOk);
      }
      Disk* d = disk(c, target);
      if (!d) {
        a->task = {};
        return reply(kNoSuchObject);
      }
      if (d->array != a->handle) {
        // A free disk takes the place of the first missing member.
        for (auto& m : a->members) {
          Disk* x = disk(c, m);
          if (x && x->state != kDiskFailed) continue;
          if (x) x->array = kNone;
          m = d->handle;
          break;
        }
        d->array = a->handle;
      }
      d->state = kDiskRebuilding;
      if (a->state == kArrayFunctional) a->state = kArrayCritical;
      event(c, 513, 0, {a->handle, d->handle});
      return reply(kOk);
    }
    case kActionContinue:
      if (a->task.kind != kind || !a->task.paused) return reply(kRefused);
      a->task.paused = false;
      return reply(kOk);
    case kActionPause:
      if (a->task.kind != kind || a->task.paused) return reply(kRefused);
      a->task.paused = true;
      return reply(kOk);
    case kActionStop:
      if (a->task.kind != kind) return reply(kRefused);
      endTask(c, *a, false);
      return reply(kOk);
    default: return reply(kBadArgument);
  }
}

void CardModel::endTask(Card& c, Array& a, bool completed) {
  Task t = a.task;
  std::uint32_t pct = percent(a);
  a.task = {};
  if (t.kind == kTaskSync) {
    if (completed)
      event(c, 524, 0, {a.handle});
    else
      event(c, 517, 1, {a.handle, pct});
    return;
  }
  Disk* d = disk(c, t.disk);
  if (d && d->state == kDiskRebuilding) d->state = completed ? kDiskOnline : kDiskWaiting;
  bool whole = std::all_of(a.members.begin(), a.members.end(), [&](std::uint32_t m) {
    Disk* x = disk(c, m);
    return x && x->state == kDiskOnline;
  });
  if (a.state != kArrayOffline) a.state = whole ? kArrayFunctional : kArrayCritical;
  if (completed)
    event(c, 523, 0, {a.handle, t.disk});
  else
    event(c, 515, 1, {a.handle, t.disk, pct});
}

std::int64_t CardModel::advance(std::int64_t nowMs) {
  std::int64_t step = std::max<std::int64_t>(0, nowMs - lastMs_);
  lastMs_ = std::max(lastMs_, nowMs);
  std::int64_t next = -1;
  for (auto& c : cards_) {
    for (auto& a : c.arrays) {
      if (!a.task.kind || a.task.paused) continue;
      a.task.doneMs += step;
      if (a.task.doneMs >= taskMs_) {
        endTask(c, a, true);
        continue;
      }
      std::int64_t due = nowMs + (taskMs_ - a.task.doneMs);
      if (next < 0 || due < next) next = due;
    }
  }
  return next;
}

plat::Result<std::string> CardModel::failDisk(int n, int ch, int pos) {
  Card* c = card(n);
  Disk* d = c ? diskAt(*c, ch, pos) : nullptr;
  if (!d || d->state == kDiskFailed) return plat::Error{EINVAL, "no working disk at that place"};
  d->state = kDiskFailed;
  event(*c, 256, 2, {d->handle});
  if (Array* a = array(*c, d->array)) {
    if (a->task.kind) endTask(*c, *a, false);
    d->state = kDiskFailed;
    if (!redundant(a->level) || a->state != kArrayFunctional) {
      a->state = kArrayOffline;
      event(*c, 521, 2, {a->handle});
    } else {
      a->state = kArrayCritical;
      event(*c, 522, 1, {a->handle});
    }
  }
  return plat::format("ok: disk 0x%X failed\n", d->handle);
}

plat::Result<std::string> CardModel::insertDisk(int n, int ch, int pos, std::uint32_t sizeMb) {
  Card* c = card(n);
  Channel* chan = c ? channel(*c, static_cast<std::uint32_t>(ch)) : nullptr;
  Disk* old = chan ? diskAt(*c, ch, pos) : nullptr;
  if (!chan || (old && old->state != kDiskFailed) || sizeMb == 0 || sizeMb > kMaxSizeMb)
    return plat::Error{EINVAL, "that place has no channel, holds a working disk, or the size is out of range"};
  // A failed disk leaves; its array keeps the old handle as a missing member until a rebuild replaces it.
  if (old) c->disks.erase(c->disks.begin() + (old - c->disks.data()));
  Disk d;
  d.handle = c->nextDisk++;
  d.channel = ch;
  d.position = pos;
  d.blocks = sizeMb * kBlocksPerMb;
  d.model = "PX NEW";
  c->disks.push_back(d);
  event(*c, 257, 0, {d.handle});
  return plat::format("ok: disk 0x%X inserted\n", d.handle);
}

plat::Result<std::string> CardModel::setSensor(int n, int ch, const std::string& what, std::uint32_t value) {
  Card* c = card(n);
  Channel* chan = c ? channel(*c, static_cast<std::uint32_t>(ch)) : nullptr;
  if (!chan || chan->enclosureType == kNone) return plat::Error{EINVAL, "no enclosure on that channel"};
  std::uint32_t type = 0;
  if (what == "fan") {
    chan->fanRpm = value;
    if (value < 1000) type = 527;
  } else if (what == "temperature") {
    chan->temperature = value;
    if (value >= 100) type = 526;
  } else if (what == "5v") {
    chan->volts5 = value;
    if (value < 4500 || value > 5500) type = 528;
  } else if (what == "12v") {
    chan->volts12 = value;
    if (value < 10800 || value > 13200) type = 529;
  } else {
    return plat::Error{EINVAL, "fan, temperature, 5v or 12v"};
  }
  Disk* first = diskAt(*c, ch, 0);
  if (type) event(*c, type, 1, {static_cast<std::uint32_t>(ch), first ? first->handle : 0, value});
  return "ok: sensor set" + std::string(type ? ", alarm event queued\n" : "\n");
}

plat::Result<void> CardModel::configure(const std::vector<std::string>& lines) {
  bool cleared = false;
  for (const auto& line : lines) {
    auto w = splitWords(line);
    if (!w || w->empty()) return plat::Error{EINVAL, "bad line \"" + line.substr(0, 80) + "\""};
    if ((*w)[0] == "card" && !cleared) {
      cards_.clear();
      cleared = true;
    }
    if (auto parsed = parseLine(*w); !parsed)
      return plat::Error{parsed.code(), "\"" + line.substr(0, 80) + "\": " + parsed.message()};
  }
  return plat::success();
}

plat::Result<void> CardModel::parseLine(const std::vector<std::string>& w) {
  auto num = [&](std::size_t i, std::int64_t min, std::int64_t max) -> std::optional<std::int64_t> {
    return i < w.size() ? parseInt(w[i], min, max) : std::nullopt;
  };
  auto fail = [](const char* usage) { return plat::Error{EINVAL, std::string("usage: ") + usage}; };
  const std::string& verb = w[0];
  if (verb == "task") {
    auto ms = num(1, 1, 24LL * 3600 * 1000);
    if (!ms || w.size() != 2) return fail("task MS (1 to one day)");
    taskMs_ = *ms;
    return plat::success();
  }
  if (verb == "card") {
    auto index = num(1, 0, kMaxCards - 1);
    auto hw = num(2, 0, 0xFFFF);
    auto target = w.size() > 3 ? num(3, 1, 0xFFF) : std::optional<std::int64_t>(0x21 + cardCount());
    if (!index || *index != cardCount() || !hw || !target || w.size() > 4)
      return fail("card INDEX HARDWARE_WORD [TARGET_ID] (cards from 0 in order, at most 2; target id 1 to 0xFFF)");
    addCard(static_cast<std::uint32_t>(*hw), static_cast<std::uint16_t>(*target));
    return plat::success();
  }
  auto cardNo = num(1, 0, kMaxCards - 1);
  Card* c = cardNo ? card(static_cast<int>(*cardNo)) : nullptr;
  if (verb == "absent") {
    if (!c || w.size() != 2) return fail("absent CARD");
    c->present = false;
    return plat::success();
  }
  if (verb == "channel") {
    auto ch = num(2, 0, kMaxChannels - 1);
    auto kind = num(3, 1, 2);
    if (!c || !ch || !kind || w.size() != 4 || channel(*c, static_cast<std::uint32_t>(*ch)))
      return fail("channel CARD CHANNEL 1|2 (a channel once, 0 to 7)");
    c->channels.push_back({static_cast<int>(*ch), static_cast<std::uint32_t>(*kind)});
    return plat::success();
  }
  if (verb == "disk") {
    auto ch = num(2, 0, kMaxChannels - 1);
    auto pos = num(3, 0, kMaxPositions - 1);
    auto mb = num(4, 1, kMaxSizeMb);
    auto timing = w.size() > 5 ? timingCode(w[5]) : std::optional<std::uint32_t>(kTimingUdma | 5);
    if (!c || !ch || !pos || !mb || !timing || !channel(*c, static_cast<std::uint32_t>(*ch)) ||
        diskAt(*c, static_cast<int>(*ch), static_cast<int>(*pos)))
      return fail("disk CARD CHANNEL 0|1 SIZE_MB [udma0-6|dma0-2 [MODEL...]] (on a declared channel, a place once)");
    Disk d;
    d.handle = c->nextDisk++;
    d.channel = static_cast<int>(*ch);
    d.position = static_cast<int>(*pos);
    d.blocks = static_cast<std::uint32_t>(*mb) * kBlocksPerMb;
    d.timing = *timing;
    d.model = "PX DISK";
    if (w.size() > 6) {
      d.model.clear();
      for (std::size_t i = 6; i < w.size(); ++i) d.model += (i > 6 ? " " : "") + w[i];
      if (d.model.size() > kMaxNameLength) return fail("disk ... MODEL (at most 64 characters)");
    }
    c->disks.push_back(d);
    return plat::success();
  }
  if (verb == "array") {
    auto level = w.size() > 2 ? levelCode(w[2]) : std::nullopt;
    if (!c || !level || w.size() < 5) return fail("array CARD raid0|raid1|raid10|raid3|raid5|span NAME CH:POS...");
    std::vector<std::uint32_t> handles;
    for (std::size_t i = 4; i < w.size(); ++i) {
      auto colon = w[i].find(':');
      auto ch = colon == std::string::npos ? std::nullopt : parseInt(w[i].substr(0, colon), 0, kMaxChannels - 1);
      auto pos = colon == std::string::npos ? std::nullopt : parseInt(w[i].substr(colon + 1), 0, kMaxPositions - 1);
      Disk* d = ch && pos ? diskAt(*c, static_cast<int>(*ch), static_cast<int>(*pos)) : nullptr;
      if (!d) return fail("array ... CH:POS... (each a declared disk)");
      handles.push_back(d->handle);
    }
    if (!addArray(*c, w[3], *level, handles))
      return fail("array ... (free disks used once, enough of them for the level, a name of at most 64 characters, 16 arrays)");
    return plat::success();
  }
  if (verb == "enclosure") {
    auto ch = num(2, 0, kMaxChannels - 1);
    auto type = num(3, 0, 0xFFFFFFFF);
    Channel* chan = c && ch ? channel(*c, static_cast<std::uint32_t>(*ch)) : nullptr;
    if (!chan || !type || (w.size() != 4 && w.size() != 8))
      return fail("enclosure CARD CHANNEL TYPE [FAN_RPM TEMP_HALF_C MILLIVOLTS5 MILLIVOLTS12] (on a declared channel)");
    chan->enclosureType = static_cast<std::uint32_t>(*type);
    chan->fanRpm = 4000;
    chan->temperature = 70;
    chan->volts5 = 5000;
    chan->volts12 = 12000;
    if (w.size() == 8) {
      auto fan = num(4, 0, 30000), temp = num(5, 0, 400), v5 = num(6, 0, 20000), v12 = num(7, 0, 30000);
      if (!fan || !temp || !v5 || !v12) return fail("enclosure ... FAN_RPM TEMP_HALF_C MILLIVOLTS5 MILLIVOLTS12");
      chan->fanRpm = static_cast<std::uint32_t>(*fan);
      chan->temperature = static_cast<std::uint32_t>(*temp);
      chan->volts5 = static_cast<std::uint32_t>(*v5);
      chan->volts12 = static_cast<std::uint32_t>(*v12);
    }
    return plat::success();
  }
  if (verb == "enclosure-mode") {
    auto mode = num(2, 0, 1);
    if (!c || !mode || w.size() != 3) return fail("enclosure-mode CARD 0|1");
    c->enclosureMode = static_cast<std::uint32_t>(*mode);
    return plat::success();
  }
  return plat::Error{EINVAL, "unknown line (card, channel, disk, array, enclosure, enclosure-mode, absent, task, path)"};
}

std::string CardModel::status() const {
  std::string s;
  for (int n = 0; n < cardCount(); ++n) {
    const Card& c = cards_[static_cast<std::size_t>(n)];
    s += plat::format("IOP%d: %s, hardware word 0x%04X, target id 0x%03X, clock %u, buzzer %s, %zu events queued\n", n + 1,
                      c.present ? "present" : "absent", c.hardware, c.targetId, c.clock, c.buzzer ? "on" : "off",
                      c.events.size());
    for (const auto& ch : c.channels) {
      s += plat::format("  ch %d kind %u", ch.number, ch.kind);
      if (ch.enclosureType != kNone)
        s += plat::format(" enclosure 0x%X fan %u temp %u 5V %u 12V %u", ch.enclosureType, ch.fanRpm, ch.temperature,
                          ch.volts5, ch.volts12);
      s += "\n";
    }
    for (const auto& d : c.disks)
      s += plat::format("  disk 0x%X ch %d pos %d %s, %u blocks, %s%u, %s\n", d.handle, d.channel, d.position,
                        d.model.c_str(), d.blocks, d.timing & kTimingUdma ? "udma" : "dma", d.timing & 0xFF,
                        diskStateName(d.state).c_str());
    for (const auto& a : c.arrays) {
      s += plat::format("  array 0x%X \"%s\" %s %s", a.handle, a.name.c_str(), levelName(a.level, a.members.size()).c_str(),
                        stateName(a.state | a.task.kind).c_str());
      if (a.task.kind) s += plat::format(" %u%%%s", percent(a), a.task.paused ? " paused" : "");
      s += " members";
      for (auto m : a.members) s += plat::format(" 0x%X", m);
      s += "\n";
    }
  }
  return s;
}

}  // namespace sim::iop
