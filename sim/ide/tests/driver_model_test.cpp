#include "sim/ide/driver_model.h"

#include <gtest/gtest.h>

namespace sim::ide {
namespace {

std::vector<std::uint32_t> eventCodes(const DriverModel& m) {
  std::vector<std::uint32_t> codes;
  for (const auto& e : m.events()) codes.push_back(e.code);
  return codes;
}

TEST(DriverModelDefault, TwoCardsWithAMirrorAndADistributedParityArray) {
  DriverModel m;
  EXPECT_EQ(m.cardCount(), 2);
  EXPECT_EQ(m.arrayCount(), 2);
  EXPECT_EQ(m.arrays()[0].type, kTypeMirror);
  EXPECT_EQ(m.arrays()[1].type, kTypeDistributedParity);
  EXPECT_EQ(m.diskCount(), 7);
  EXPECT_EQ(m.arrayState(0), ArrayState::Functional);
  std::string s = m.status(0);
  EXPECT_NE(s.find("array 0 mirror disks 0 2 40960 MB functional"), std::string::npos) << s;
  EXPECT_NE(s.find("array 1 distributed-parity disks 4 5 6 40960 MB functional"), std::string::npos) << s;
  EXPECT_NE(s.find("disk 1 channel 0 slave"), std::string::npos) << s;
}

TEST(DriverModelScenario, BuildsWhatItDescribes) {
  DriverModel m;
  auto configured =
      m.configure({"card 0 9 0x0007", "disk 0 1024 udma2 Big Disk", "disk 2 1024 dma1", "disk 3 2048 pio",
                   "array 2 raid0 0 2", "enclosure 1 17 3000 40 5.1 11.9", "version 1.11", "port 3", "pci 8 2",
                   "maintenance 3", "smart off", "task 5000"});
  ASSERT_TRUE(configured) << configured.message();
  EXPECT_EQ(m.cardCount(), 1);
  EXPECT_EQ(m.card(0).modelCode, 9u);
  EXPECT_EQ(m.card(0).deviceId, 7u);
  ASSERT_TRUE(m.drive(0));
  EXPECT_EQ(m.drive(0)->model, "Big Disk");
  EXPECT_EQ(m.drive(0)->udma, 2);
  EXPECT_EQ(m.drive(2)->udma, -1);
  EXPECT_EQ(m.drive(2)->dma, 1);
  EXPECT_EQ(m.drive(3)->dma, -1);
  EXPECT_FALSE(m.drive(1));
  EXPECT_TRUE(m.arrays()[2].used);
  EXPECT_EQ(m.arraySectors(2), 2u * 1024 * 2048);
  EXPECT_EQ(m.enclosure(1).type, 17);
  EXPECT_EQ(m.enclosure(1).millivolts12, 11900);
  EXPECT_EQ(m.enclosure(1).temperatureHalfC, 80);
  EXPECT_EQ(m.versionMinor(), 11);
  EXPECT_EQ(m.port(), 3);
  EXPECT_EQ(m.pciThreshold, 2);
  EXPECT_FALSE(m.smartEnabled);
  EXPECT_EQ(m.taskMs, 5000);
}

TEST(DriverModelScenario, SettingsAloneKeepTheDefaultCards) {
  DriverModel m;
  auto configured = m.configure({"version 1.10", "port none"});
  ASSERT_TRUE(configured) << configured.message();
  EXPECT_EQ(m.cardCount(), 2);
  EXPECT_EQ(m.versionMinor(), 10);
  EXPECT_FALSE(m.present());
}

TEST(DriverModelScenario, BadEntriesAreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> lines;
    const char* reason;
  };
  const Case cases[] = {
      {{"card 1 3"}, "the next is 0"},
      {{"card 0 3", "card 0 3"}, "the next is 1"},
      {{"card 0 300"}, "model code"},
      {{"disk 0 100"}, "card 0, which is not declared"},
      {{"card 0 3", "disk 16 100"}, "not a disk"},
      {{"card 0 3", "disk 0 0"}, "the size is"},
      {{"card 0 3", "disk 0 10", "disk 0 10"}, "declared twice"},
      {{"card 0 3", "disk 0 10 " + std::string(41, 'x')}, "longer than 40"},
      {{"card 0 3", "disk 0 10", "disk 1 10", "array 0 raid7 0 1"}, "unknown level"},
      {{"card 0 3", "disk 0 10", "disk 1 10", "disk 2 10", "array 0 raid1 0 1 2"}, "raid1 takes 2 disks"},
      {{"card 0 3", "disk 0 10", "disk 1 10", "disk 2 10", "array 0 raid10 0 1 2"}, "even"},
      {{"card 0 3", "disk 0 10", "disk 1 10", "array 0 raid0 0 3"}, "disk 3 is not declared"},
      {{"card 0 3", "disk 0 10", "disk 1 10", "array 0 raid0 0 0"}, "already a member"},
      {{"card 0 3", "disk 0 10", "disk 1 10", "array 0 raid0 0 1", "array 0 span 0 1"}, "each used once"},
      {{"card 0 3", "enclosure 2 1"}, "not on a declared card"},
      {{"card 0 3", "enclosure 0 2"}, "0, 1 or 17"},
      {{"card 0 3", "enclosure 0 1 3000 40 5.0"}, "usage"},
      {{"card 0 3", "enclosure 0 1 3000 40 5.25 12"}, "volts"},
      {{"version 2"}, "MAJOR.MINOR"},
      {{"version 1.256"}, "MAJOR.MINOR"},
      {{"port 10"}, "0 to 9"},
      {{"pci 8 9"}, "threshold"},
      {{"smart maybe"}, "on|off"},
      {{"task 10"}, "100 ms"},
      {{"frobnicate"}, "unknown entry"},
      {{std::string(2000, 'a')}, "too long"},
  };
  for (const auto& c : cases) {
    DriverModel m;
    auto configured = m.configure(c.lines);
    EXPECT_FALSE(configured) << c.lines.back();
    EXPECT_NE(configured.message().find(c.reason), std::string::npos) << c.lines.back() << " -> " << configured.message();
    EXPECT_EQ(m.cardCount(), 2) << "a refused scenario leaves the model as it was";
  }
}

TEST(DriverModelTasks, RebuildProgressesWithModelTimeAndEndsWithItsEvents) {
  DriverModel m;
  ASSERT_TRUE(m.failDisk(2, 0));
  EXPECT_EQ(m.arrayState(0), ArrayState::Critical);
  EXPECT_EQ(m.startRebuild(0, 1, 0).message(), "the member's disk is not usable");
  auto inserted = m.insertDisk(2, 0, 1000);
  ASSERT_TRUE(inserted) << inserted.message();
  EXPECT_EQ(m.arrayState(0), ArrayState::Critical) << "a replaced member waits for its rebuild";
  EXPECT_EQ(m.arrays()[0].members[1].flags, kMemberPresent | kMemberOnline);
  EXPECT_TRUE(m.drive(2)->rebuilding) << "its data is to be rebuilt";
  EXPECT_NE(m.status(1000).find("member of array 0, waiting for its rebuild"), std::string::npos) << m.status(1000);
  // A stopped rebuild leaves it waiting, and it starts again.
  ASSERT_TRUE(m.startRebuild(0, 1, 1500));
  EXPECT_NE(m.status(1500).find("member of array 0, being rebuilt"), std::string::npos) << m.status(1500);
  ASSERT_TRUE(m.abortTask(TaskKind::Rebuild, 0, 1800));
  EXPECT_TRUE(m.drive(2)->rebuilding);
  EXPECT_EQ(m.arrayState(0), ArrayState::Critical);
  ASSERT_TRUE(m.startRebuild(0, 1, 2000));
  EXPECT_TRUE(m.drive(2)->rebuilding);
  EXPECT_EQ(m.activity(0)[0], 2);
  m.advance(52000);
  EXPECT_EQ(m.activity(0)[1], 50);
  EXPECT_EQ(m.advance(102000), -1);
  EXPECT_EQ(m.activity(0)[0], 0);
  EXPECT_FALSE(m.drive(2)->rebuilding);
  EXPECT_EQ(m.arrayState(0), ArrayState::Functional);
  EXPECT_EQ(eventCodes(m),
            (std::vector<std::uint32_t>{kEvDiskSetDown, kEvArrayCritical, kEvDiskPlugged, kEvRebuildStarted,
                                        kEvRebuildStopped, kEvRebuildStarted, kEvRebuildComplete}));
  ASSERT_EQ(m.takeFinished().size(), 2u);
}

TEST(DriverModelTasks, RefusalsAndAborts) {
  DriverModel m;
  EXPECT_FALSE(m.startRebuild(1, 0, 0)) << "only a mirror is rebuilt";
  EXPECT_FALSE(m.startRebuild(3, 0, 0)) << "no array in slot 3";
  EXPECT_FALSE(m.startRebuild(0, 2, 0)) << "no member 2";
  ASSERT_TRUE(m.startSync(1, 0));
  EXPECT_FALSE(m.startRebuild(0, 0, 0)) << "a synchronise runs";
  EXPECT_FALSE(m.startSync(0, 0));
  EXPECT_FALSE(m.abortTask(TaskKind::Rebuild, 1, 10000)) << "the abort must name what runs";
  ASSERT_TRUE(m.abortTask(TaskKind::Sync, 1, 25500));
  const auto& last = m.events().back();
  EXPECT_EQ(last.code, kEvSyncStopped);
  EXPECT_EQ(last.args[0], 1u);
  EXPECT_EQ(last.args[1], 25u) << "the percent reached";
  auto finished = m.takeFinished();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_EQ(finished[0].end, TaskEnd::Aborted);
}

TEST(DriverModelTasks, AFailingMemberStopsTheTaskOfItsArray) {
  DriverModel m;
  ASSERT_TRUE(m.startSync(1, 0));
  ASSERT_TRUE(m.failDisk(5, 10000));
  EXPECT_EQ(m.task().kind, TaskKind::None);
  EXPECT_EQ(eventCodes(m), (std::vector<std::uint32_t>{kEvSyncStarted, kEvSyncStopped, kEvDiskSetDown,
                                                        kEvArrayCritical}));
  ASSERT_TRUE(m.failDisk(6, 11000));
  EXPECT_EQ(m.arrayState(1), ArrayState::Offline);
  EXPECT_EQ(m.events().back().code, kEvArrayOffline);
  EXPECT_EQ(m.failDisk(6, 11000).message(), "disk 6 is not a working disk") << "a failed disk fails once";
}

TEST(DriverModelFaults, MediaErrorsAndEnclosureAlarms) {
  DriverModel m;
  ASSERT_TRUE(m.mediaError(0, 0x1234, 0));
  EXPECT_EQ(m.events().back().code, kEvMediaError);
  EXPECT_EQ(m.events().back().args, (std::array<std::uint32_t, 5>{0, 0, 0x1234, 0xC8, 0x51}));
  ASSERT_TRUE(m.mediaError(1, 7, 0));
  EXPECT_EQ(m.events().back().code, kEvEcc) << "a free disk has no array";

  struct Case {
    plat::Result<std::string> (DriverModel::*set)(int, int, std::int64_t);
    int value;
    std::optional<std::uint32_t> event;
    std::uint32_t word28;
  };
  const Case cases[] = {
      {&DriverModel::enclosureFan, 0, kEvFanStopped, 0},
      {&DriverModel::enclosureFan, 800, kEvFanUnderspeed, 800},
      {&DriverModel::enclosureFan, 3000, std::nullopt, 0},
      {&DriverModel::enclosureTemperature, 55, kEvOverTemperature, 110},
      {&DriverModel::enclosureTemperature, 30, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    std::size_t before = m.events().size();
    auto set = (m.*c.set)(2, c.value, 0);
    ASSERT_TRUE(set) << set.message();
    if (!c.event) {
      EXPECT_EQ(m.events().size(), before) << c.value;
      continue;
    }
    ASSERT_EQ(m.events().size(), before + 1) << c.value;
    EXPECT_EQ(m.events().back().code, *c.event);
    EXPECT_EQ(m.events().back().args[0], 2u) << "the channel";
    EXPECT_EQ(m.events().back().args[2], c.word28);
  }
  // Millivolts, in the alarm's word as in the model.
  ASSERT_TRUE(m.enclosureVoltage(0, 12, 10500, 0));
  EXPECT_EQ(m.events().back().code, kEv12V);
  EXPECT_EQ(m.events().back().args[2], 10500u);
  ASSERT_TRUE(m.enclosureVoltage(0, 5, 4400, 0));
  EXPECT_EQ(m.events().back().code, kEv5V);
  EXPECT_EQ(m.enclosure(0).millivolts5, 4400);
  std::size_t before = m.events().size();
  ASSERT_TRUE(m.enclosureVoltage(0, 5, 5100, 0));
  EXPECT_EQ(m.events().size(), before) << "within 10 %";
  EXPECT_FALSE(m.enclosureFan(1, 0, 0)) << "channel 1 has no enclosure";
}

TEST(DriverModelEvents, TheQueueIsBounded) {
  DriverModel m;
  for (std::size_t i = 0; i < kMaxQueuedEvents + 3; ++i) m.pushEvent({static_cast<std::uint32_t>(i)}, 0);
  EXPECT_EQ(m.events().size(), kMaxQueuedEvents);
  EXPECT_EQ(m.droppedEvents(), 3u);
  EXPECT_EQ(m.events().front().code, 3u) << "the oldest give way";
}

}  // namespace
}  // namespace sim::ide
