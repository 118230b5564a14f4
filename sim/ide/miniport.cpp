#include "sim/ide/miniport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim::ide {
namespace {

constexpr char kSignature[8] = {'M', 'A', 'R', 'O', 'V', 'E', 'L', 'T'};
constexpr std::size_t kArrayRecord = 64;
constexpr std::size_t kControllerRecord = 780;
constexpr std::size_t kDiskRecord = 24;
constexpr std::size_t kIdentifyBytes = 178;

// Offsets in the control header.
constexpr std::size_t kHeaderLengthAt = 0, kSignatureAt = 4, kControlCodeAt = 16, kReturnCodeAt = 20, kLengthAt = 24;

std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

void fillArrayTable(const DriverModel& m, std::uint8_t* out) {
  for (int slot = 0; slot < kArraySlots; ++slot) {
    const Array& a = m.arrays()[static_cast<std::size_t>(slot)];
    std::uint8_t* r = out + static_cast<std::size_t>(slot) * kArrayRecord;
    std::memset(r, 0, kArrayRecord);
    if (!a.used) continue;
    // Bits 1-3 say the array's data can be reached, bit 4 that it runs without redundancy.
    ArrayState state = m.arrayState(slot);
    r[0] = static_cast<std::uint8_t>(slot);
    r[2] = static_cast<std::uint8_t>(0x01 | (state != ArrayState::Offline ? 0x0E : 0) |
                                     (state != ArrayState::Functional ? 0x10 : 0));
    r[3] = a.type;
    r[4] = static_cast<std::uint8_t>(a.members.size());
    std::uint64_t sectors = m.arraySectors(slot);
    Chs g = arrayGeometry(sectors);
    put32(r + 8, static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, UINT32_MAX)));
    put16(r + 12, g.cylinders - 1);
    r[14] = static_cast<std::uint8_t>(g.heads - 1);
    r[15] = static_cast<std::uint8_t>(g.sectors);
    put16(r + 28, a.blockSectors);
    for (std::size_t i = 0; i < a.members.size() && i < kMaxMembers; ++i) {
      r[32 + 4 * i] = a.members[i].flags;
      r[32 + 4 * i + 1] = static_cast<std::uint8_t>(a.members[i].disk);
    }
  }
}

void fillController(const DriverModel& m, int index, std::uint8_t* r) {
  const Card& c = m.card(index);
  auto i = static_cast<std::uint32_t>(index);
  put32(r + 0, i);
  put32(r + 4, 0x1F000000u | c.deviceId);
  put32(r + 8, 0xD000 + 0x100 * i);        // bus-master base
  put32(r + 12, 10 + i);                   // IRQ
  put32(r + 16, c.modelCode);
  put32(r + 20, 0xC8000 + 0x4000 * i);     // ROM base
  put32(r + 24, 0xB000 + 0x200 * i);       // channel 0 first I/O
  put32(r + 28, 0xB100 + 0x200 * i);       // channel 1 first I/O
  put32(r + 32, 0xB080 + 0x200 * i);       // channel 0 second I/O
  put32(r + 36, 0xB180 + 0x200 * i);       // channel 1 second I/O
  put32(r + 48, 2);
  for (int k = 0; k < kSlotsPerCard; ++k) {
    const Drive* d = m.drive(index * kSlotsPerCard + k);
    // A failed drive no longer answers identify.
    if (!d || d->failed) continue;
    auto words = identifyWords(*d);
    std::uint8_t* id = r + 52 + static_cast<std::size_t>(k) * kIdentifyBytes;
    for (std::size_t w = 0; w < words.size(); ++w) put16(id + 2 * w, words[w]);
    r[764 + k] = 1;
  }
}

void fillDiskTable(const DriverModel& m, std::uint8_t* out) {
  for (int disk = 0; disk < kMaxDisks; ++disk) {
    const Drive* d = m.drive(disk);
    std::uint8_t* r = out + static_cast<std::size_t>(disk) * kDiskRecord;
    if (!d) continue;
    auto where = m.membership(disk);
    std::uint8_t state = d->failed ? 0x01 : where ? 0x07 : 0x03;
    r[0] = static_cast<std::uint8_t>(state | (d->rebuilding ? 0x20 : 0));
    r[1] = static_cast<std::uint8_t>(disk / kSlotsPerCard);
    r[2] = static_cast<std::uint8_t>(disk / 2);
    r[3] = static_cast<std::uint8_t>(disk % 2);
    put32(r + 4, static_cast<std::uint32_t>(std::min<std::uint64_t>(d->sectors, UINT32_MAX)));
    r[8] = static_cast<std::uint8_t>(where ? where->first : 0xFF);
    r[9] = static_cast<std::uint8_t>(where ? where->second : 0xFF);
  }
}

void fillEvent(const DriverEvent& e, std::uint8_t* r) {
  std::memset(r, 0, kEventRecord);
  put32(r + 0, e.code);
  put32(r + 4, e.seconds);
  put32(r + 8, e.card);
  put32(r + 16, e.category);
  put32(r + 20, e.args[0]);
  put32(r + 24, e.args[1]);
  put32(r + 28, e.args[2]);
  put32(r + 36, e.args[3]);
  put32(r + 40, e.args[4]);
}

std::uint32_t enclosureValue(const DriverModel& m, std::uint8_t sub, std::uint8_t channel, std::uint8_t device) {
  constexpr std::uint32_t kError = 0xFFFFFFFF;
  if (channel >= kMaxChannels || channel / 2 >= m.cardCount()) return kError;
  const Enclosure& e = m.enclosure(channel);
  bool there = device == 0 && e.type != 0;
  if (sub == 0) return there ? static_cast<std::uint32_t>(e.type) : 0;
  if (!there) return kError;
  switch (sub) {
    case 1:
      return static_cast<std::uint32_t>(e.fanRpm);
    case 2:
      return static_cast<std::uint32_t>(e.temperatureHalfC);
    case 3:
      return static_cast<std::uint32_t>(e.millivolts5);  // millivolts
    case 4:
      return static_cast<std::uint32_t>(e.millivolts12);
    case 5:
      return static_cast<std::uint32_t>(e.caps);
  }
  return kError;
}

}  // namespace

std::optional<std::size_t> dataLength(std::uint32_t code) {
  switch (code) {
    case 1: case 2: case 3: case 7: case 12: case 14: case 17:
      return 0;
    case 4:
      return kArraySlots * kArrayRecord;
    case 5:
      return kControllerRecord;
    case 6:
      return kDiskRecords * kDiskRecord;
    case 8: case 9:
      return 64;
    case 10:
      return 16;
    case 13: case 16: case 18: case 20: case 22: case 23:
      return 4;
    case 19:
      return 4 + kMaxEventsPerRead * kEventRecord;
    case 21:
      return 20;
    case 24:
      return 8;
  }
  return std::nullopt;
}

Answer foreignAnswer(std::span<const std::uint8_t> in, std::size_t capacity) {
  Answer a;
  a.out.assign(in.begin(), in.begin() + static_cast<long>(std::min(in.size(), capacity)));
  return a;
}

std::optional<Answer> Miniport::request(Ticket ticket, std::uint32_t ioctl, std::span<const std::uint8_t> in,
                                        std::size_t capacity, std::int64_t nowMs) {
  if (ioctl != kIoctlScsiMiniport || in.size() < kControlHeader || get32(in.data() + kHeaderLengthAt) != kControlHeader ||
      std::memcmp(in.data() + kSignatureAt, kSignature, sizeof kSignature) != 0)
    return Answer{EINVAL, {}};
  std::uint32_t code = get32(in.data() + kControlCodeAt);
  std::uint32_t length = get32(in.data() + kLengthAt);
  auto need = dataLength(code);
  // The buffer must hold the code's data both ways; the header's Length must say so.
  if (!need || length < *need || length > in.size() - kControlHeader || capacity < kControlHeader + *need)
    return Answer{EINVAL, {}};
  if (takeFault(ProtocolFault::Fail, code)) return Answer{EIO, {}};
  model_.advance(nowMs);
  std::uint32_t preset = get32(in.data() + kReturnCodeAt);
  std::vector<std::uint8_t> buf(in.begin(), in.begin() + static_cast<long>(kControlHeader + *need));
  put32(buf.data() + kLengthAt, static_cast<std::uint32_t>(*need));
  auto a = serve(ticket, code, buf, nowMs);
  if (a) bend(code, preset, *a);
  return a;
}

std::optional<Answer> Miniport::serve(Ticket ticket, std::uint32_t code, std::vector<std::uint8_t>& buf,
                                      std::int64_t nowMs) {
  std::uint8_t* data = buf.data() + kControlHeader;
  std::uint32_t rc = kReturnOk;
  auto setReturn = [&](std::uint32_t v) { rc = v; };
  switch (code) {
    case 1:
      setReturn(static_cast<std::uint32_t>(model_.versionMajor()) | static_cast<std::uint32_t>(model_.versionMinor()) << 16);
      break;
    case 2:
      setReturn(static_cast<std::uint32_t>(model_.arrayCount()));
      break;
    case 3:
      setReturn(static_cast<std::uint32_t>(model_.cardCount()));
      break;
    case 7:
      setReturn(static_cast<std::uint32_t>(model_.diskCount()));
      break;
    case 4:
      fillArrayTable(model_, data);
      break;
    case 5: {
      std::uint32_t index = get32(data);
      std::memset(data, 0, kControllerRecord);
      if (index >= static_cast<std::uint32_t>(model_.cardCount())) {
        // No such card: nothing comes back.
        put32(buf.data() + kLengthAt, 0);
        buf.resize(kControlHeader);
        setReturn(kReturnRefused);
        break;
      }
      fillController(model_, static_cast<int>(index), data);
      break;
    }
    case 6:
      std::memset(data, 0, kDiskRecords * kDiskRecord);
      fillDiskTable(model_, data);
      break;
    case 8:
    case 9: {
      bool rebuild = code == 9;
      auto slot = static_cast<int>(std::min<std::uint32_t>(get32(data), 0xFF));
      std::uint32_t word = get32(data + 8);
      TaskKind kind = rebuild ? TaskKind::Rebuild : TaskKind::Sync;
      if (word == kAbortWord) {
        setReturn(model_.abortTask(kind, slot, nowMs) ? kReturnOk : kReturnRefused);
        break;
      }
      if (word != 0) {
        setReturn(kReturnRefused);
        break;
      }
      int member = static_cast<int>(data[60] | data[61] << 8);
      auto started = rebuild ? model_.startRebuild(slot, member, nowMs) : model_.startSync(slot, nowMs);
      if (!started) {
        setReturn(kReturnRefused);
        break;
      }
      waiters_.push_back({ticket, code, kind, slot, buf});
      return std::nullopt;
    }
    case 10:
      for (int slot = 0; slot < kArraySlots; ++slot) {
        auto e = model_.activity(slot);
        std::memcpy(data + 4 * slot, e.data(), e.size());
      }
      break;
    case 12:
      setReturn(model_.pciThreshold);
      break;
    case 13:
      if (data[0] > model_.pciMax)
        setReturn(kReturnRefused);
      else
        model_.pciThreshold = data[0];
      break;
    case 14:
      setReturn(model_.pciMax);
      break;
    case 16:
      model_.maintenanceRate = data[0];
      break;
    case 17:
      setReturn(model_.maintenanceRate);
      break;
    case 18:
      put32(data, static_cast<std::uint32_t>(model_.events().size()));
      break;
    case 19: {
      auto events = model_.takeEvents(std::min<std::size_t>(get32(data), kMaxEventsPerRead));
      std::memset(data, 0, 4 + kMaxEventsPerRead * kEventRecord);
      put32(data, static_cast<std::uint32_t>(events.size()));
      for (std::size_t i = 0; i < events.size(); ++i) fillEvent(events[i], data + 4 + i * kEventRecord);
      break;
    }
    case 20: {
      int card = data[0], channel = data[1], device = data[2];
      const Drive* d = card < kMaxCards && channel < 2 && device < 2 ? model_.drive(card * 4 + channel * 2 + device)
                                                                     : nullptr;
      // Nothing answers for an empty slot or a failed drive: the preset stays.
      if (d && !d->failed) data[3] = static_cast<std::uint8_t>(model_.smartEnabled ? d->smart : 0);
      break;
    }
    case 21:
      std::memset(data, 0, 20);
      if (model_.cardCount() > 0) {
        put32(data, model_.card(0).modelCode);
        put32(data + 8, model_.card(0).deviceId);
      }
      break;
    case 22:
      put32(data, model_.smartEnabled ? 1 : 0);
      break;
    case 23: {
      std::uint32_t v = get32(data);
      if (v > 1)
        setReturn(kReturnRefused);
      else
        model_.smartEnabled = v == 1;
      break;
    }
    case 24:
      put32(data + 4, enclosureValue(model_, data[0], data[1], data[2]));
      break;
  }
  put32(buf.data() + kReturnCodeAt, rc);
  return Answer{0, std::move(buf)};
}

std::vector<std::pair<Ticket, Answer>> Miniport::takeAnswers() {
  std::vector<std::pair<Ticket, Answer>> out;
  for (const auto& f : model_.takeFinished()) {
    auto it = std::find_if(waiters_.begin(), waiters_.end(),
                           [&](const Waiter& w) { return w.kind == f.kind && w.slot == f.slot; });
    if (it == waiters_.end()) continue;
    Waiter w = std::move(*it);
    waiters_.erase(it);
    if (w.ticket == 0) continue;  // its caller went away
    std::uint32_t preset = get32(w.buffer.data() + kReturnCodeAt);
    put32(w.buffer.data() + kReturnCodeAt, f.end == TaskEnd::Completed ? kReturnOk : kReturnAborted);
    Answer a{0, std::move(w.buffer)};
    bend(w.code, preset, a);
    out.emplace_back(w.ticket, std::move(a));
  }
  return out;
}

void Miniport::forget(Ticket ticket) {
  forgetIf([ticket](Ticket t) { return t == ticket; });
}

void Miniport::forgetIf(const std::function<bool(Ticket)>& gone) {
  for (auto& w : waiters_)
    if (w.ticket != 0 && gone(w.ticket)) w.ticket = 0;
}

bool Miniport::blocked(Ticket ticket) const {
  return std::any_of(waiters_.begin(), waiters_.end(), [&](const Waiter& w) { return w.ticket == ticket; });
}

void Miniport::addFault(ProtocolFault kind, int count, int code) {
  for (auto& f : faults_)
    if (f.kind == kind && f.code == code) {
      f.count = count;
      return;
    }
  faults_.push_back({kind, count, code});
}

bool Miniport::takeFault(ProtocolFault kind, std::uint32_t code) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->kind != kind || (it->code >= 0 && static_cast<std::uint32_t>(it->code) != code)) continue;
    if (--it->count <= 0) faults_.erase(it);
    return true;
  }
  return false;
}

void Miniport::bend(std::uint32_t code, std::uint32_t preset, Answer& a) {
  if (a.status != 0 || a.out.size() < kControlHeader) return;
  if (takeFault(ProtocolFault::ReturnCodeLeft, code)) put32(a.out.data() + kReturnCodeAt, preset);
  if (takeFault(ProtocolFault::WrongLength, code)) {
    std::uint32_t length = get32(a.out.data() + kLengthAt);
    put32(a.out.data() + kLengthAt, length == 0 ? 4 : length - 1);
  }
  if (takeFault(ProtocolFault::ShortReply, code)) a.out.resize(a.out.size() - 4);
}

std::string Miniport::status() const {
  static const char* kNames[] = {"wrong-length", "short-reply", "return-code-left", "fail-requests"};
  std::string s;
  for (const auto& f : faults_)
    s += std::string("protocol fault: ") + kNames[static_cast<int>(f.kind)] + " for the next " +
         std::to_string(f.count) + (f.code < 0 ? " requests" : " requests of code " + std::to_string(f.code)) + "\n";
  for (const auto& w : waiters_)
    s += "blocked: " + std::string(w.kind == TaskKind::Rebuild ? "rebuild" : "synchronise") + " request of array " +
         std::to_string(w.slot) + (w.ticket ? "" : " (its caller went away)") + "\n";
  return s;
}

}  // namespace sim::ide
