#include "sim/serial/subsystem.h"

#include <gtest/gtest.h>

#include "sim/core/daemon.h"
#include "sim/serial/wire.h"

namespace sim::serial {
namespace {

std::uint32_t u32(const Bytes& b, std::size_t off) {
  return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | static_cast<std::uint32_t>(b[off + 3]) << 24;
}

Bytes frame(std::uint16_t code, std::uint16_t replyLength, Bytes payload) {
  Bytes b{0xA1,
          0xA1,
          static_cast<std::uint8_t>(code),
          static_cast<std::uint8_t>(code >> 8),
          static_cast<std::uint8_t>(payload.size()),
          static_cast<std::uint8_t>(payload.size() >> 8),
          static_cast<std::uint8_t>(replyLength),
          static_cast<std::uint8_t>(replyLength >> 8)};
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

std::vector<std::uint32_t> eventCodes(const Subsystem& s) {
  std::vector<std::uint32_t> codes;
  for (auto& e : s.events()) codes.push_back(u32(e, 0));
  return codes;
}

TEST(Subsystem, RebuildRunsWithTimeAndProducesItsEvents) {
  Subsystem s;
  s.loadDefault();
  std::string reply;
  ASSERT_TRUE(s.fault("fail-disk", {"2"}, 0, &reply));
  EXPECT_EQ(s.arrays().at(0).stateWord(), kArrayCritical);
  EXPECT_EQ(*s.handle(115, {0, 0xFF, 2}, 1000), Bytes{0});
  EXPECT_EQ(s.arrays().at(0).rebuildDisk, 4);
  auto status = *s.handle(110, {0}, 6000);
  EXPECT_EQ(u32(status, 0), kArrayRebuilding);
  EXPECT_EQ(u32(status, 4), 50u);
  EXPECT_EQ(s.advance(6000), 11000);
  s.advance(11000);
  status = *s.handle(110, {0}, 11000);
  EXPECT_EQ(u32(status, 0), kArrayFunctional);
  EXPECT_EQ(s.arrays().at(0).members, (std::vector<int>{1, 4, 3}));
  EXPECT_EQ(eventCodes(s), (std::vector<std::uint32_t>{256, 522, 513, 523}));
  EXPECT_EQ(*s.handle(115, {0, 5, 2}, 12000), Bytes{1}) << "a functional array needs no rebuild";
}

Bytes reshapeRequest(std::uint32_t mode, std::vector<std::uint8_t> disks);

TEST(Subsystem, StopEndsARunningRebuildOrSynchronisationOfThatArray) {
  struct Case {
    const char* name;
    std::uint16_t start;
    Bytes request;
    std::uint32_t stoppedEvent;
    std::uint32_t second;  // the stop event's second value: the rebuild's disk, or the percent done
    std::uint32_t stateAfter;
  };
  const std::vector<Case> cases = {
      {"synchronisation", 114, {0, 2}, 517, 40, kArrayFunctional},
      {"rebuild", 115, {0, 0xFF, 2}, 515, 4, kArrayCritical},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Subsystem s;
    s.loadDefault();
    std::string reply;
    if (c.start == 115) {
      ASSERT_TRUE(s.fault("fail-disk", {"2"}, 0, &reply));
    }
    EXPECT_EQ(*s.handle(149, {0}, 0), Bytes{1}) << "nothing runs yet";
    ASSERT_EQ(*s.handle(c.start, c.request, 0), Bytes{0});
    EXPECT_EQ(*s.handle(149, {7}, 4000), Bytes{1}) << "another array";
    EXPECT_EQ(*s.handle(149, {0}, 4000), Bytes{0});
    EXPECT_EQ(u32(*s.handle(110, {0}, 4000), 0), c.stateAfter);
    ASSERT_FALSE(s.events().empty());
    const Bytes& last = s.events().back();
    EXPECT_EQ(u32(last, 0), c.stoppedEvent);
    EXPECT_EQ(u32(last, 16), 0u) << "the array";
    EXPECT_EQ(u32(last, 20), c.second);
    s.advance(20000);
    EXPECT_EQ(s.events().back(), last) << "a stopped task never completes";
    EXPECT_EQ(*s.handle(149, {0}, 20000), Bytes{1}) << "stopped once";
  }
  // An expansion has its own stop.
  Subsystem s;
  s.loadDefault();
  ASSERT_EQ(*s.handle(147, reshapeRequest(kRaid5, {1, 2, 3, 4}), 0), Bytes{0});
  EXPECT_EQ(*s.handle(149, {0}, 1000), Bytes{1});
  EXPECT_EQ(u32(*s.handle(110, {0}, 1000), 0), kArrayReshaping);
}

Bytes reshapeRequest(std::uint32_t mode, std::vector<std::uint8_t> disks) {
  Bytes p;
  for (std::uint32_t v : {0u, mode, static_cast<std::uint32_t>(disks.size()), 0u})
    for (int i = 0; i < 4; ++i) p.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  p.insert(p.end(), disks.begin(), disks.end());
  return p;
}

TEST(Subsystem, SynchroniseExpandAndConvertRunToTheirEnd) {
  struct Case {
    const char* name;
    std::uint16_t code;
    Bytes request;
    std::uint32_t runningWord;
    std::uint8_t flag;
    std::vector<std::uint32_t> events;
    std::uint32_t modeAfter;
    std::size_t membersAfter;
  };
  const std::vector<Case> cases = {
      {"synchronise", 114, {0, 2}, kArraySynchronising, 0, {516, 524}, kRaid5, 3},
      {"expand", 147, reshapeRequest(kRaid5, {1, 2, 3, 4}), kArrayReshaping, 0, {530}, kRaid5, 4},
      {"convert", 147, reshapeRequest(kRaid0, {1, 2, 3}), kArrayReshaping, 1, {530}, kRaid0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Subsystem s;
    s.loadDefault();
    ASSERT_EQ(*s.handle(c.code, c.request, 0), Bytes{0});
    auto st = *s.handle(110, {0}, 2500);
    EXPECT_EQ(u32(st, 0), c.runningWord);
    EXPECT_EQ(u32(st, 4), 25u);
    EXPECT_EQ(st[8], c.flag);
    EXPECT_EQ(*s.handle(c.code, c.request, 2500), Bytes{1}) << "one piece of work at a time";
    s.advance(10000);
    EXPECT_EQ(u32(*s.handle(110, {0}, 10000), 0), kArrayFunctional);
    EXPECT_EQ(eventCodes(s), c.events);
    EXPECT_EQ(s.arrays().at(0).mode, c.modeAfter);
    EXPECT_EQ(s.arrays().at(0).members.size(), c.membersAfter);
  }
}

TEST(Subsystem, SupplyReadingsAreInHundredthsOfAVolt) {
  Subsystem s;
  s.loadDefault();
  Bytes r = *s.handle(123, {}, 0);
  EXPECT_EQ(u32(r, 0), 502u) << "5.02 V";
  EXPECT_EQ(u32(r, 4), 1204u) << "12.04 V";
  ASSERT_TRUE(s.configure({"sensors", "480", "1190", "40", "41", "42"}));
  r = *s.handle(123, {}, 0);
  EXPECT_EQ(u32(r, 0), 480u);
  EXPECT_EQ(u32(r, 4), 1190u);
  EXPECT_NE(s.status(0).find("5V 4.80 12V 11.90"), std::string::npos) << s.status(0);
}

TEST(Subsystem, CreateAndDeleteChangeTheArraysAndTheQueue) {
  Subsystem s;
  s.loadDefault();
  Bytes create(20, 0);
  create[0] = 'M';
  for (auto v : {1u, 2u}) create.insert(create.end(), {static_cast<std::uint8_t>(v), 0, 0, 0});
  create.insert(create.end(), {4, 5, 16, 0, 0, 0});
  EXPECT_EQ(*s.handle(109, create, 0), Bytes{0});
  // Disks 1 to 5 hold their numbers: the new array takes 6, so its name is asked by a number of its own.
  ASSERT_EQ(s.arrays().count(6), 1u);
  EXPECT_EQ(s.arrays().at(6).name, "M");
  Bytes name = *s.handle(103, {6}, 0);
  EXPECT_EQ(std::string(name.begin(), name.begin() + 1), "M");
  EXPECT_EQ(*s.handle(109, create, 0), Bytes{1}) << "the disks are taken now";
  auto desc = *s.handle(113, {6}, 0);
  EXPECT_EQ(u32(desc, 0), kRaid1);
  EXPECT_EQ(u32(desc, 16), 2u);
  EXPECT_EQ(*s.handle(108, {6}, 0), Bytes{0});
  EXPECT_EQ(*s.handle(108, {6}, 0), Bytes{1});
  EXPECT_EQ(eventCodes(s), (std::vector<std::uint32_t>{519, 520}));
  auto count = *s.handle(153, {}, 0);
  EXPECT_EQ(u32(count, 0), 2u);
  EXPECT_EQ(s.handle(152, {5}, 0)->size(), 80u);
  s.handle(151, {0}, 0);
  EXPECT_TRUE(s.events().empty());

  // A stripe-mirror is described with the mirror code: 257 goes one way only.
  create[20] = 0x01;
  create[21] = 0x01;
  ASSERT_EQ(*s.handle(109, create, 0), Bytes{0});
  ASSERT_EQ(s.arrays().at(6).mode, kRaid01);
  EXPECT_EQ(u32(*s.handle(113, {6}, 0), 0), kRaid1);
}

TEST(Subsystem, BadRequestsAreRefusedNotTrusted) {
  Subsystem s;
  s.loadDefault();
  const std::vector<std::pair<const char*, Bytes>> creates = {
      {"truncated", Bytes(10, 0)},
      {"huge disk count",
       [] {
         Bytes b(20, 0);
         b.insert(b.end(), {0, 0, 0, 0, 0xFF, 0xFF, 0, 0});
         return b;
       }()},
      {"unknown mode",
       [] {
         Bytes b(20, 0);
         b.insert(b.end(), {7, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 0});
         return b;
       }()},
      {"disk twice",
       [] {
         Bytes b(20, 0);
         b.insert(b.end(), {1, 0, 0, 0, 2, 0, 0, 0, 4, 4, 0, 0, 0, 0});
         return b;
       }()},
      {"absent disk",
       [] {
         Bytes b(20, 0);
         b.insert(b.end(), {0, 0, 0, 0, 1, 0, 0, 0, 99, 0, 0, 0, 0});
         return b;
       }()},
  };
  for (const auto& [name, payload] : creates) EXPECT_EQ(*s.handle(109, payload, 0), Bytes{1}) << name;
  EXPECT_EQ(s.arrays().size(), 1u);
}

TEST(Subsystem, EventQueueIsBounded) {
  Subsystem s;
  std::string reply;
  for (int i = 0; i < 100; ++i) s.fault("event", {std::to_string(600 + i)}, 0, &reply);
  EXPECT_EQ(s.events().size(), kMaxEvents);
  EXPECT_EQ(u32(s.events().front(), 0), 636u);
}

TEST(Subsystem, MemoryMapHoldsTheSettingsAndTheSlots) {
  Subsystem s;
  s.loadDefault();
  auto read = [&](std::uint32_t address, std::uint32_t width) {
    Bytes p;
    for (auto v : {address, width})
      for (int i = 0; i < 4; ++i) p.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return u32(*s.handle(146, p, 0), 0);
  };
  EXPECT_EQ(read(0xE0077FE4, 32), 64u << 20);
  EXPECT_EQ(read(0xE0077F90, 16), 0x0236u);
  EXPECT_EQ(read(0xE0077F20 + 1, 8), 1u);  // member
  EXPECT_EQ(read(0xE0077F20 + 4, 8), 2u);  // free
  EXPECT_EQ(read(0x1000, 32), 0u);         // outside the map
  Bytes write;
  for (auto v : {0xE0077FE2u, 0x1105u, 8u})
    for (int i = 0; i < 4; ++i) write.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  s.handle(148, write, 0);
  EXPECT_EQ(read(0xE0077FE2, 8), 5u);
  EXPECT_EQ(read(0xE0077FE3, 8), 0u);
}

TEST(Subsystem, ScenarioLinesAreChecked) {
  const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
      {{"disk", "1", "A", "100"}, true},
      {{"disk", "1", "A"}, false},
      {{"disk", "300", "A", "100"}, false},
      {{"disk", "1", "A", "-5"}, false},
      {{"array", "0", "raid7", "X", "1"}, false},
      {{"array", "0", "raid1", "X", "1"}, false},
      {{"array", "0", "raid0", "X", "9"}, false},
      {{"sensors", "500", "1200", "40", "41", "42", "1", "2", "3", "4", "5", "6", "7", "8", "9"}, false},
      {{"memory", "0xE0077FE0", "1", "12"}, false},
      {{"work", "50"}, false},
      {{"bogus"}, false},
  };
  for (const auto& [words, good] : cases) {
    Subsystem s;
    auto configured = s.configure(words);
    EXPECT_EQ(configured.ok(), good) << words[0] << " " << configured.message();
    if (!good) {
      EXPECT_FALSE(configured.message().empty());
    }
  }
}

struct WireFixture : ::testing::Test {
  Subsystem s;
  Wire w{s};
  WireFixture() { s.loadDefault(); }
  Bytes exchange(const Bytes& in, std::int64_t realMs = 0) {
    w.receive(in.data(), in.size(), realMs, 0);
    Bytes out;
    w.takeDue(realMs, out);
    return out;
  }
};

TEST_F(WireFixture, HandshakeIsColdThenWarm) {
  EXPECT_EQ(exchange({0xA2}), (Bytes{0xA3, 0xA3, 0x00}));
  EXPECT_TRUE(exchange(frame(101, 4, {})).empty()) << "no command mode before A4";
  EXPECT_TRUE(exchange({0xA4}).empty());
  EXPECT_EQ(exchange({0xA2}), (Bytes{0xA3, 0xA3, 0xA3}));
  w.reset();
  EXPECT_EQ(exchange({0xA2}), (Bytes{0xA3, 0xA3, 0x00}));
}

TEST_F(WireFixture, FramesArriveInPiecesAndNoiseIsSkipped) {
  exchange({0xA2, 0xA4});
  Bytes f = frame(101, 4, {});
  Bytes noisy = {0x00, 0xA1, 0x17};
  noisy.insert(noisy.end(), f.begin(), f.end());
  Bytes got;
  for (std::uint8_t b : noisy) {
    auto out = exchange({b});
    got.insert(got.end(), out.begin(), out.end());
  }
  EXPECT_EQ(got, (Bytes{101, 0, 0, 0, 3, 0, 0, 0}));
  Bytes oversize = {0xA1, 0xA1, 101, 0, 0xFF, 0xFF, 4, 0};
  EXPECT_TRUE(exchange(oversize).empty());
  EXPECT_EQ(exchange(f).size(), 8u) << "the line recovers after an oversize header";
}

TEST_F(WireFixture, AFrameCutShortIsDroppedAfterAPauseAndTheHandshakeIsHeardAgain) {
  exchange({0xA2, 0xA4});
  Bytes f = frame(141, 1, Bytes(65, 'x'));
  EXPECT_TRUE(exchange(Bytes(f.begin(), f.begin() + 20), 1000).empty()) << "waits for the rest";
  EXPECT_TRUE(exchange({0xA2}, 1000 + Wire::kInterByteTimeoutMs).empty()) << "within the pause: still payload";
  EXPECT_EQ(exchange({0xA2}, 1001 + 2 * Wire::kInterByteTimeoutMs), (Bytes{0xA3, 0xA3, 0xA3}))
      << "after the pause the cut frame is gone and the handshake is heard";
  EXPECT_EQ(exchange(frame(101, 4, {}), 5000).size(), 8u);
}

TEST_F(WireFixture, FaultsSpoilTheNextReplyOnly) {
  exchange({0xA2, 0xA4});
  Bytes req = frame(108, 1, {5});  // no such array: status 1 normally
  Bytes okReq = frame(126, 4, {});
  w.wrongEcho();
  EXPECT_EQ(exchange(okReq)[0], 127);
  EXPECT_EQ(exchange(okReq)[0], 126);
  w.badStatus(9);
  EXPECT_EQ(exchange(frame(130, 1, {0, 0})), (Bytes{130, 0, 0, 0, 9}));
  w.garbage(3);
  EXPECT_EQ(exchange(req).size(), 8u);
  w.silence(1);
  EXPECT_TRUE(exchange(req).empty());
  EXPECT_EQ(exchange(req).size(), 5u);
  w.silence(-1);
  EXPECT_TRUE(exchange({0xA2}).empty());
  w.silence(0);
  w.late(500);
  EXPECT_TRUE(exchange(okReq, 1000).empty());
  EXPECT_EQ(w.nextDue(), 1500);
  Bytes out;
  w.takeDue(1500, out);
  EXPECT_EQ(out.size(), 8u);
}

TEST(DaemonScenario, SectionsAreChecked) {
  ModelClock clock(plat::systemClock(), true);
  struct Case {
    const char* text;
    bool good;
  };
  const std::vector<Case> cases = {
      {"[serial]\ndisk 1 A 100\n", true},
      {"# nothing but a comment\n", true},
      {"disk 1 A 100\n", false},
      {"[nosuch]\n", false},
      {"[serial]\narray 0 raid1 X 1 2\n", false},
  };
  for (const auto& c : cases) {
    std::vector<std::unique_ptr<Simulator>> sims;
    struct Probe final : Simulator {
      std::string name() const override { return "serial"; }
      plat::Result<void> configure(const std::vector<std::string>& lines) override {
        Subsystem s;
        for (auto& l : lines) {
          std::vector<std::string> words;
          std::string w;
          for (char ch : l + " ") {
            if (ch == ' ') {
              if (!w.empty()) words.push_back(w);
              w.clear();
            } else {
              w += ch;
            }
          }
          if (auto entry = s.configure(words); !entry) return entry;
        }
        return plat::success();
      }
      void configureDefault() override {}
      plat::Result<void> start() override { return plat::success(); }
      void stop() override {}
      void watches(std::vector<Watch>&) override {}
      void ready(int, short, std::int64_t) override {}
      std::int64_t advance(std::int64_t) override { return -1; }
      std::string status() const override { return ""; }
      bool fault(const std::string&, const std::vector<std::string>&, std::string*) override { return false; }
    };
    sims.push_back(std::make_unique<Probe>());
    Daemon d(std::move(sims), clock);
    auto configured = d.configureText(c.text);
    EXPECT_EQ(configured.ok(), c.good) << c.text << configured.message();
  }
}

}  // namespace
}  // namespace sim::serial
