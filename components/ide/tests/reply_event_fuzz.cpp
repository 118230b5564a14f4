// Fuzzes what the component reads from the Marovelt driver: every answer after the version check
// comes from the input (its data, and at will a changed return code, a changed Length and a cut
// answer), through the full read, the table decoding, the poll's requests and the decoding of the
// queued event records into event texts.
//
// Input: a list of answers, each a mode byte (bit 0: a return code follows, bit 1: a Length
// follows, bit 2: a byte follows that cuts the answer by that many bytes), a 16-bit data length n,
// then n bytes laid over the answer's data. An exhausted input answers with the request as it came.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "components/framework/component_types.h"
#include "components/ide/driver_event.h"
#include "components/ide/ide_log.h"
#include "components/ide/ide_texts.h"
#include "components/ide/marovelt_driver.h"
#include "platform/devio/device.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace tirrow;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

struct Answers {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool take(std::size_t n, std::uint8_t* out) {
    if (size - at < n) return false;
    std::memcpy(out, data + at, n);
    at += n;
    return true;
  }
};

plat::Result<std::size_t> Answer(Answers& a, std::uint32_t ioctl, std::span<const std::uint8_t> in,
                                 std::span<std::uint8_t> out) {
  if (ioctl != IOCTL_SCSI_MINIPORT || in.size() < kSrbHeaderLength || out.size() < in.size())
    return plat::Error{EINVAL, "bad request"};
  std::copy(in.begin(), in.end(), out.begin());
  if (Get32(in.data() + 16) == kMpVersion) {
    Put32(out.data() + 20, 2);  // a driver new enough, so that every other request is reached
    return in.size();
  }
  std::uint8_t head[3];
  if (!a.take(3, head)) return in.size();
  std::size_t answered = in.size();
  std::uint8_t word[4];
  if ((head[0] & 1) && a.take(4, word)) std::memcpy(out.data() + 20, word, 4);
  if ((head[0] & 2) && a.take(4, word)) std::memcpy(out.data() + 24, word, 4);
  std::uint8_t cut = 0;
  if ((head[0] & 4) && a.take(1, &cut)) answered -= std::min<std::size_t>(cut, answered);
  const std::size_t n = std::min<std::size_t>(head[1] | head[2] << 8, a.size - a.at);
  const std::size_t into = std::min(n, out.size() - kSrbHeaderLength);
  std::memcpy(out.data() + kSrbHeaderLength, a.data + a.at, into);
  a.at += n;
  if (head[0] & 8) return plat::Error{EIO, "failed"};
  return answered;
}

void Texts(const std::string& text, std::size_t limit) {
  check(text.size() < limit);
  check(text.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (SetErrorLog([](const std::string&) {}), true);
  (void)quiet;
  Answers answers{data, size};
  plat::devio::InProcessDevice device("\\\\.\\Scsi0:", [&answers](std::uint32_t code, std::span<const std::uint8_t> in,
                                                                  std::span<std::uint8_t> out) {
    return Answer(answers, code, in, out);
  });
  CMaroveltDriver driver(nullptr);
  (void)driver.ReadDriverState();
  check(driver.ArrayCount() <= static_cast<int>(kArraySlots));
  check(driver.ControllerCount() <= static_cast<int>(kMaxControllers));
  check(driver.DiskCount() <= static_cast<int>(kDiskSlots));
  for (int i = 0; i < driver.ArrayCount(); ++i) {
    const auto a = driver.Array(driver.ArraySlot(i));
    if (!a) continue;
    check(a->members.size() <= 8 && a->present.size() <= 8);
    Texts(SizeText(a->SizeBytes()), 64);
    Texts(RaidLevelText(RaidLevel(a->typeCode, a->memberCount)), 32);
  }
  for (int c = 0; c < driver.ControllerCount(); ++c) {
    for (int ch = 0; ch < 2; ++ch) {
      for (int dev = 0; dev < 2; ++dev) {
        const auto id = driver.Identify(c, ch, dev);
        if (!id) continue;
        check(id->model.size() <= 40);
        Texts(SizeText(id->SizeBytes()), 64);
        if (auto mode = TimingModeText(id->word49, id->word53, id->word63, id->word88)) {
          check(mode->find("mode 0") == std::string::npos);
        }
        (void)driver.FindDisk(c, ch, dev);
      }
    }
  }
  for (int d = 0; d < static_cast<int>(kDiskSlots) + 2; ++d) Texts(driver.DiskDisplayName(d), 160);
  (void)driver.PollActivity();
  check(driver.CurrentPercent() >= 0 && driver.CurrentPercent() <= 100);
  (void)driver.DetectDiskChange();
  if (auto hw = driver.GetHardwareId()) Texts(ModelText(hw->modelCode), 32);
  (void)driver.ReadEnclosure(0);
  (void)driver.GetMaintenanceRate();
  (void)driver.SetMaintenanceRate(5);
  // The queued events, decoded as the controller hands them out; decoding some re-reads the tables.
  if (auto events = driver.ReadDriverEvents()) {
    check(events->size() <= kMaxEvents);
    for (const auto& record : *events) {
      const auto decoded = DecodeDriverEvent(record, driver, Language::kEnglish);
      if (!decoded) continue;
      Texts(decoded->text, 512);
      // The agent splits the record at '@': whatever the driver's texts held, it reads back whole.
      const kelm::fw::EventRecord r{decoded->eventCode, 0, decoded->severity, decoded->title, decoded->text};
      const auto back = kelm::fw::EventRecord::parse(r.format());
      check(back && back->code == decoded->eventCode && back->severity == decoded->severity);
    }
  }
  return 0;
}

// Seeds: a driver with one card, a mirror of two disks and a queued event of each kind the poll
// meets, answered in the order the component asks.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto answer = [](std::string& s, const std::vector<std::uint8_t>& bytes, int mode = 0,
                   std::uint32_t returnCode = 0) {
    s.push_back(static_cast<char>(mode));
    s.push_back(static_cast<char>(bytes.size() & 0xFF));
    s.push_back(static_cast<char>(bytes.size() >> 8));
    if (mode & 1) {
      std::uint8_t w[4];
      Put32(w, returnCode);
      s.append(reinterpret_cast<const char*>(w), 4);
    }
    s.append(bytes.begin(), bytes.end());
  };
  std::vector<std::uint8_t> arrays(kArrayTableSize, 0);
  arrays[2] = 0x1F, arrays[3] = 1, arrays[4] = 2, arrays[12] = 0xE7, arrays[13] = 3, arrays[14] = 15, arrays[15] = 63;
  arrays[28] = 128, arrays[32] = 3, arrays[33] = 0, arrays[36] = 3, arrays[37] = 2;
  std::vector<std::uint8_t> controller(kControllerRecordSize, 0);
  Put32(&controller[12], 10), Put32(&controller[48], 2);
  for (int slot : {0, 2}) {
    std::uint8_t* w = &controller[52 + slot * 178];
    Put16(w + 2, 1000), Put16(w + 6, 16), Put16(w + 12, 63);
    const char* model = "TS 1@ADSKI";  // a model with an '@' in it
    for (int i = 0; i < 5; ++i) w[54 + 2 * i] = static_cast<std::uint8_t>(model[2 * i + 1]), w[55 + 2 * i] = static_cast<std::uint8_t>(model[2 * i]);
    Put16(w + 98, 0x100), Put16(w + 106, 0x4), Put16(w + 176, 0x0101);
    controller[764 + slot] = 1;
  }
  std::vector<std::uint8_t> disks(kDiskTableSize, 0);
  disks[0] = 0x07, disks[2 * kDiskRecordSize] = 0x27, disks[2 * kDiskRecordSize + 2] = 1;
  std::vector<std::uint8_t> count(4, 0);
  Put32(count.data(), 1);

  std::string tables;
  answer(tables, arrays);
  answer(tables, count, 1, 1);  // one controller
  answer(tables, controller);
  answer(tables, disks);
  seeds.push_back(tables);

  const std::uint32_t codes[] = {0x80000100, 0x80000206, 0x80000207, 0x8000020E, 0x80000210, 0x80000202, 0x12345678};
  for (std::uint32_t code : codes) {
    std::string s = tables;
    answer(s, {2, 30, 1, 0});                  // activity
    answer(s, disks);                          // disk change
    answer(s, arrays);
    answer(s, {3, 0, 0, 0, 0, 0, 0, 0, 5});  // hardware
    answer(s, {0, 0, 0, 0, 0, 0, 0, 0});       // no enclosure
    answer(s, {}, 1, 6);                       // maintenance rate
    answer(s, {}, 1, 0);                       // a rate taken
    answer(s, count);                          // one event queued
    std::vector<std::uint8_t> events(kReadEventsSize, 0);
    Put32(events.data(), 1);
    Put32(&events[4], code);
    Put32(&events[4 + 16], 2);
    Put32(&events[4 + 24], 2);
    Put32(&events[4 + 28], 13500);
    answer(s, events);
    s += tables;  // the tables the decoding re-reads
    seeds.push_back(s);
  }
}
