#include "sim/ide/miniport.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "sim/ide/tests/request_helpers.h"

namespace sim::ide {
namespace {

using namespace sim::ide::testing;

class MiniportTest : public ::testing::Test {
 protected:
  Answer send(std::uint32_t code, std::size_t length, const Bytes& data = {}, Ticket ticket = 1,
              std::int64_t nowMs = 0) {
    auto in = request(code, length, data);
    auto a = port.request(ticket, kIoctlScsiMiniport, in, in.size(), nowMs);
    EXPECT_TRUE(a) << "code " << code << " blocked";
    return a ? *a : Answer{-1, {}};
  }
  Bytes dataOf(const Answer& a) { return Bytes(a.out.begin() + 28, a.out.end()); }
  DriverModel model;
  Miniport port{model};
};

TEST_F(MiniportTest, VersionAnswerIsTheHeaderWithTheVersionInReturnCode) {
  model.setVersion(1, 11);
  auto a = send(1, 0);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.out, hex("1C000000 4D41524F56454C54 10270000 01000000 01000B00 00000000"));
}

TEST_F(MiniportTest, HeaderAndLengthRulesRefuseBadRequests) {
  struct Case {
    const char* what;
    std::uint32_t ioctl;
    Bytes in;
    std::size_t capacity;
  };
  auto badSignature = request(1, 0);
  badSignature[4] = 'm';
  auto badHeaderLength = request(1, 0);
  set32(badHeaderLength, 0, 24);
  auto lengthBelowNeed = request(4, 256);
  set32(lengthBelowNeed, 24, 255);
  auto lengthBeyondBuffer = request(10, 16);
  set32(lengthBeyondBuffer, 24, 17);
  auto full = request(4, 256);
  const Case cases[] = {
      {"another control code", 0x4D004, request(1, 0), 28},
      {"shorter than the header", kIoctlScsiMiniport, Bytes(27, 0), 28},
      {"a foreign signature", kIoctlScsiMiniport, badSignature, 28},
      {"a header length other than 28", kIoctlScsiMiniport, badHeaderLength, 28},
      {"Length below the code's data", kIoctlScsiMiniport, lengthBelowNeed, 284},
      {"Length beyond the buffer", kIoctlScsiMiniport, lengthBeyondBuffer, 44},
      {"no room for the answer", kIoctlScsiMiniport, full, 283},
      {"an unknown code", kIoctlScsiMiniport, request(11, 16), 44},
  };
  for (const auto& c : cases) {
    auto a = port.request(1, c.ioctl, c.in, c.capacity, 0);
    ASSERT_TRUE(a) << c.what;
    EXPECT_EQ(a->status, EINVAL) << c.what;
    EXPECT_TRUE(a->out.empty()) << c.what;
  }
}

TEST_F(MiniportTest, CountsOfArraysControllersAndDisks) {
  EXPECT_EQ(u32(send(2, 0).out, 20), 2u);
  EXPECT_EQ(u32(send(3, 0).out, 20), 2u);
  EXPECT_EQ(u32(send(7, 0).out, 20), 7u);
}

TEST_F(MiniportTest, ArrayTableGolden) {
  auto a = send(4, 256);
  ASSERT_EQ(a.out.size(), 28u + 256);
  EXPECT_EQ(u32(a.out, 24), 256u);
  Bytes data = dataOf(a);
  // The mirror of disks 0 and 2 (40960 MB each): 5221 x 255 x 63 geometry, 128-sector blocks.
  Bytes mirror = hex(
      "00 00 0F 01 02 000000 00000005 6414 FE 3F 000000000000000000000000 8000 0000"
      "03000000 03020000 000000000000000000000000000000000000000000000000");
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 64), mirror);
  // The distributed-parity array of disks 4, 5 and 6 (20480 MB each): two disks of data.
  Bytes parity = hex(
      "01 00 0F 06 03 000000 00000005 6414 FE 3F 000000000000000000000000 8000 0000"
      "03040000 03050000 03060000 0000000000000000000000000000000000000000");
  EXPECT_EQ(Bytes(data.begin() + 64, data.begin() + 128), parity);
  EXPECT_EQ(Bytes(data.begin() + 128, data.end()), Bytes(128, 0)) << "unused slots are empty";
}

TEST_F(MiniportTest, ControllerRecordCarriesResourcesAndIdentifyData) {
  auto a = send(5, 780, {1, 0, 0, 0});
  ASSERT_EQ(a.out.size(), 28u + 780);
  EXPECT_EQ(u32(a.out, 24), 780u);
  Bytes r = dataOf(a);
  EXPECT_EQ(u32(r, 8), 0xD100u) << "bus-master base";
  EXPECT_EQ(u32(r, 12), 11u) << "IRQ";
  EXPECT_EQ(u32(r, 20), 0xCC000u) << "ROM base";
  EXPECT_EQ(u32(r, 48), 2u) << "channels";
  EXPECT_EQ(Bytes(r.begin() + 764, r.begin() + 768), hex("01 01 01 01"));
  // Slot 0 is disk 4: 20480 MB, 16383 cylinders (its size is in words 60-61), Ultra DMA 5.
  const std::size_t id = 52;
  auto word = [&](std::size_t w) { return r[id + 2 * w] | r[id + 2 * w + 1] << 8; };
  EXPECT_EQ(word(1), 16383);
  EXPECT_EQ(word(3), 16);
  EXPECT_EQ(word(6), 63);
  EXPECT_EQ(word(60) | word(61) << 16, 20480 * 2048);
  EXPECT_EQ(word(49) & 0x100, 0x100);
  EXPECT_EQ(word(53) & 0x4, 0x4);
  EXPECT_EQ(word(88), 0x203F);
  // The model text with the two characters of each word swapped.
  EXPECT_EQ(std::string(r.begin() + id + 54, r.begin() + id + 60), "VMD-SI");

  auto none = send(5, 780, {2, 0, 0, 0});
  EXPECT_EQ(u32(none.out, 24), 0u) << "no third card: no record";
  EXPECT_EQ(none.out.size(), 28u);
}

TEST_F(MiniportTest, DiskTableGolden) {
  auto a = send(6, 408);
  ASSERT_EQ(u32(a.out, 24), 408u);
  Bytes t = dataOf(a);
  auto record = [&](int i) { return Bytes(t.begin() + 24 * i, t.begin() + 24 * i + 24); };
  EXPECT_EQ(record(0), hex("07 00 00 00 00000005 00 00 0000000000000000000000000000"));
  EXPECT_EQ(record(1), hex("03 00 00 01 00000005 FF FF 0000000000000000000000000000"));
  EXPECT_EQ(record(3), Bytes(24, 0)) << "an empty slot";
  EXPECT_EQ(record(6), hex("07 01 03 00 00008002 01 02 0000000000000000000000000000"));
  EXPECT_EQ(record(16), Bytes(24, 0));
}

TEST_F(MiniportTest, SettingsRoundTrip) {
  EXPECT_EQ(u32(send(14, 0).out, 20), 16u);
  EXPECT_EQ(u32(send(12, 0).out, 20), 8u);
  EXPECT_EQ(u32(send(13, 4, {6}).out, 20), kReturnOk);
  EXPECT_EQ(u32(send(12, 0).out, 20), 6u);
  EXPECT_EQ(u32(send(13, 4, {17}).out, 20), kReturnRefused) << "beyond the maximum";
  EXPECT_EQ(u32(send(12, 0).out, 20), 6u);

  EXPECT_EQ(u32(send(16, 4, {9}).out, 20), kReturnOk);
  EXPECT_EQ(u32(send(17, 0).out, 20), 9u);

  EXPECT_EQ(u32(send(22, 4).out, 28), 1u);
  send(23, 4, {0});
  EXPECT_EQ(u32(send(22, 4).out, 28), 0u);
  EXPECT_EQ(send(20, 4, {0, 0, 0, 255}).out[31], 0) << "checking disabled";
  EXPECT_EQ(u32(send(23, 4, {2}).out, 20), kReturnRefused);
  send(23, 4, {1});
  EXPECT_EQ(send(20, 4, {0, 0, 0, 255}).out[31], 1) << "functional";
  EXPECT_EQ(send(20, 4, {0, 1, 1, 255}).out[31], 255) << "no drive in slot 3: the preset stays";
  EXPECT_EQ(send(20, 4, {1, 1, 1, 255}).out[31], 1) << "card 1, channel 1, slave";

  auto hw = send(21, 20);
  EXPECT_EQ(u32(hw.out, 28), 3u);
  EXPECT_EQ(u32(hw.out, 36), 5u);
}

TEST_F(MiniportTest, EnclosureRequestsAnswerThirtySixBytes) {
  struct Case {
    std::uint8_t sub, channel, device;
    std::uint32_t value;
  };
  const Case cases[] = {
      {0, 0, 0, 1},          {0, 2, 0, 17},        {0, 1, 0, 0},  {0, 0, 1, 0},
      {5, 0, 0, 12},         {1, 0, 0, 4200},      {2, 0, 0, 70}, {3, 0, 0, 5000},  // millivolts
      {4, 0, 0, 12000},      {1, 1, 0, 0xFFFFFFFF}, {9, 0, 0, 0xFFFFFFFF},
      {0, 4, 0, 0xFFFFFFFF},  // no third card
  };
  for (const auto& c : cases) {
    auto a = send(24, 8, {c.sub, c.channel, c.device});
    ASSERT_EQ(a.out.size(), 36u);
    EXPECT_EQ(u32(a.out, 32), c.value) << int(c.sub) << " " << int(c.channel) << " " << int(c.device);
  }
}

TEST_F(MiniportTest, EventsAreCountedThenReadAndDrained) {
  ASSERT_TRUE(model.failDisk(2, 5000));
  auto count = send(18, 4);
  EXPECT_EQ(count.out.size(), 32u);
  EXPECT_EQ(u32(count.out, 28), 2u);

  auto read = send(19, 884, {25});  // more than a read carries
  ASSERT_EQ(read.out.size(), 28u + 884);
  Bytes d = dataOf(read);
  EXPECT_EQ(u32(d, 0), 2u);
  EXPECT_EQ(Bytes(d.begin() + 4, d.begin() + 48),
            hex("00010080 05000000 00000000 00000000 00000000 02000000 00000000 00000000 00000000 00000000 00000000"));
  EXPECT_EQ(u32(d, 48), kEvArrayCritical);
  EXPECT_EQ(u32(d, 48 + 20), 0u) << "array 0";
  EXPECT_EQ(u32(send(18, 4).out, 28), 0u) << "read records leave the queue";

  for (int i = 0; i < 25; ++i) model.pushEvent({0x80000001}, 0);
  EXPECT_EQ(u32(send(19, 884, {25}).out, 28), 20u) << "at most 20 a read";
  EXPECT_EQ(u32(send(18, 4).out, 28), 5u);
}

TEST_F(MiniportTest, ActivityShowsARunningRebuild) {
  EXPECT_EQ(dataOf(send(10, 16)), Bytes(16, 0));
  Bytes start(64, 0);
  start[60] = 1;  // member 1 of array 0
  auto in = request(9, 64, start);
  EXPECT_FALSE(port.request(7, kIoctlScsiMiniport, in, in.size(), 0)) << "a rebuild blocks";
  model.advance(42000);
  EXPECT_EQ(dataOf(send(10, 16, {}, 1, 42000)), hex("02 2A 01 00 00000000 00000000 00000000"));
}

// What the tables say of a replaced member, through its rebuild, a stop and the rebuild to its
// end: the member entry stays present and online, the disk table's bit 5 marks the data to be
// rebuilt, and the array's bits 1-3 stay set (its data is served) with bit 4 while it is critical.
TEST_F(MiniportTest, AReplacedMemberStaysPresentAndOnlineWithItsDataMarkedUntilItsRebuildEnds) {
  struct Look {
    std::uint8_t arrayFlags, memberFlags, diskStatus;
  };
  auto look = [&](std::int64_t now) {
    const Bytes arrays = dataOf(send(4, 256, {}, 1, now));
    const Bytes disks = dataOf(send(6, 408, {}, 1, now));
    return Look{arrays[2], arrays[32 + 4], disks[2 * 24]};  // array 0, its member 1, disk 2
  };
  auto expect = [&](const char* when, std::int64_t now, std::uint8_t arrayFlags, std::uint8_t memberFlags,
                    std::uint8_t diskStatus) {
    const Look l = look(now);
    EXPECT_EQ(l.arrayFlags, arrayFlags) << when;
    EXPECT_EQ(l.memberFlags, memberFlags) << when;
    EXPECT_EQ(l.diskStatus, diskStatus) << when;
  };
  expect("functional", 0, 0x0F, 0x03, 0x07);
  ASSERT_TRUE(model.failDisk(2, 0));
  expect("failed", 0, 0x1F, 0x09, 0x01);
  ASSERT_TRUE(model.insertDisk(2, 0, 1000));
  expect("replaced", 1000, 0x1F, 0x03, 0x27);
  Bytes start(64, 0);
  start[60] = 1;
  auto in = request(9, 64, start);
  ASSERT_FALSE(port.request(7, kIoctlScsiMiniport, in, in.size(), 2000));
  expect("being rebuilt", 3000, 0x1F, 0x03, 0x27);
  Bytes abort(64, 0);
  set32(abort, 8, kAbortWord);
  EXPECT_EQ(u32(send(9, 64, abort, 2, 4000).out, 20), kReturnOk);
  expect("stopped", 5000, 0x1F, 0x03, 0x27);
  ASSERT_EQ(port.takeAnswers().size(), 1u);
  ASSERT_FALSE(port.request(7, kIoctlScsiMiniport, in, in.size(), 6000)) << "a stopped rebuild starts again";
  model.advance(6000 + model.taskMs);
  ASSERT_EQ(port.takeAnswers().size(), 1u);
  expect("rebuilt", 6000 + model.taskMs, 0x0F, 0x03, 0x07);
}

TEST_F(MiniportTest, RebuildBlocksUntilItEndsAndAnotherCallerCanAbortIt) {
  Bytes start(64, 0);
  start[60] = 1;
  auto in = request(9, 64, start);
  ASSERT_FALSE(port.request(7, kIoctlScsiMiniport, in, in.size(), 0));
  EXPECT_TRUE(port.blocked(7));

  // A synchronise of the other array is refused while the rebuild runs.
  EXPECT_EQ(u32(send(8, 64, {1}, 2, 1000).out, 20), kReturnRefused);

  Bytes abort(64, 0);
  set32(abort, 8, kAbortWord);
  abort[60] = 2;  // the member count: the abort form names no member
  auto stop = send(9, 64, abort, 2, 30000);
  EXPECT_EQ(u32(stop.out, 20), kReturnOk);
  auto answers = port.takeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].first, 7u);
  EXPECT_EQ(answers[0].second.out.size(), 28u + 64);
  EXPECT_EQ(u32(answers[0].second.out, 20), kReturnAborted);
  EXPECT_FALSE(port.blocked(7));
  EXPECT_EQ(u32(send(9, 64, abort, 2, 31000).out, 20), kReturnRefused) << "nothing runs any more";
}

TEST_F(MiniportTest, SynchroniseRunsToCompletionOnModelTime) {
  auto in = request(8, 64, {1});
  ASSERT_FALSE(port.request(5, kIoctlScsiMiniport, in, in.size(), 1000));
  EXPECT_EQ(model.advance(1000), 2000);
  model.advance(50000);
  EXPECT_TRUE(port.takeAnswers().empty());
  model.advance(101000);
  auto answers = port.takeAnswers();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(u32(answers[0].second.out, 20), kReturnOk);
}

TEST_F(MiniportTest, ACallerThatWentAwayGetsNoAnswer) {
  auto in = request(8, 64, {0});
  ASSERT_FALSE(port.request(5, kIoctlScsiMiniport, in, in.size(), 0));
  port.forget(5);
  model.advance(200000);
  EXPECT_TRUE(port.takeAnswers().empty());
  EXPECT_EQ(model.task().kind, TaskKind::None);
}

TEST_F(MiniportTest, ProtocolFaultsBendTheNextAnswers) {
  port.addFault(ProtocolFault::WrongLength, 1, 4);
  EXPECT_EQ(u32(send(1, 0).out, 24), 0u) << "another code is not touched";
  EXPECT_EQ(u32(send(4, 256).out, 24), 255u);
  EXPECT_EQ(u32(send(4, 256).out, 24), 256u) << "only the next one";

  port.addFault(ProtocolFault::ShortReply, 2, 24);
  EXPECT_EQ(send(24, 8).out.size(), 32u);
  EXPECT_EQ(send(24, 8).out.size(), 32u);
  EXPECT_EQ(send(24, 8).out.size(), 36u);

  port.addFault(ProtocolFault::ReturnCodeLeft, 1, -1);
  EXPECT_EQ(u32(send(1, 0).out, 20), 0xFFFFFFFFu);
  EXPECT_EQ(u32(send(1, 0).out, 20), 2u);

  ASSERT_TRUE(model.failDisk(1, 0));
  port.addFault(ProtocolFault::Fail, 2, -1);
  EXPECT_EQ(send(19, 884, {20}).status, EIO);
  EXPECT_EQ(send(1, 0).status, EIO);
  EXPECT_EQ(u32(send(18, 4).out, 28), 1u) << "a failed read drains nothing";
}

TEST(ForeignPort, LeavesTheBufferUntouched) {
  auto in = request(1, 0);
  auto a = foreignAnswer(in, in.size());
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.out, in);
  EXPECT_EQ(foreignAnswer(in, 10).out.size(), 10u);
}

}  // namespace
}  // namespace sim::ide
