#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "components/ide/marovelt_driver.h"
#include "components/ide/tests/fake_marovelt.h"
#include "platform/testing/temp_root.h"
#include "platform/loop/event_loop.h"
#include "platform/registry/registry.h"

namespace tirrow {
namespace {

using testing::Bytes;
using testing::FakeMarovelt;

std::string Hex(const Bytes& b) {
  std::string s;
  char x[3];
  for (auto c : b) {
    std::snprintf(x, sizeof x, "%02x", c);
    s += x;
  }
  return s;
}

// The header as the driver must receive it: length 28, "MAROVELT", time-out 10000, the code, the
// return code (preset -1 or 0) and the data length.
std::string Header(std::uint32_t code, bool preset, std::uint32_t length) {
  char b[80];
  std::snprintf(b, sizeof b, "1c0000004d41524f56454c5410270000%02x000000%s%02x%02x0000", code,
                preset ? "ffffffff" : "00000000", length & 0xFF, length >> 8);
  return b;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.SetController(0);
    fake.SetDrive(0, 0, 0, 0, "ST320420A");
    fake.SetDrive(0, 1, 0, 2, "WDC WD200");
    fake.SetArray(0, 1, {0, 2});
    fake.SetArray(2, 0, {1});
  }
  // The data part of the one request of `code` sent by `action`.
  Bytes Sent(std::uint32_t code, const std::function<void()>& action) {
    fake.ClearRequests();
    action();
    for (const auto& r : fake.Requests()) {
      if (r.code == code) return r.bytes;
    }
    return {};
  }

  // Starts a task on a driver of its own and waits until the fake received its request.
  void RunTask(const std::function<plat::Result<void>(CMaroveltDriver&)>& start, std::uint32_t code) {
    CMaroveltDriver d(loop.get());
    ASSERT_TRUE(d.ReadDriverState().ok());
    const int before = fake.CountOf(code);
    ASSERT_TRUE(start(d).ok());
    for (int i = 0; i < 20000 && fake.CountOf(code) == before; ++i) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }

  plat::testing::TempRoot root;
  std::unique_ptr<plat::EventLoop> loop = std::move(*plat::makeEpollLoop());
  FakeMarovelt fake;
  CMaroveltDriver driver{loop.get()};
};

TEST_F(DriverTest, GoldenRequestBuffers) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  struct Case {
    std::uint32_t code;
    std::function<void()> action;
    std::string header;
    std::string data;  // the data bytes in hex, zeros beyond what is given
  };
  const std::string z4 = "00000000";
  const Case cases[] = {
      {kMpVersion, [&] { (void)driver.OpenDriver(); }, Header(1, true, 0), ""},
      {kMpControllerCount, [&] { (void)driver.ReadDriverState(); }, Header(3, true, 0), ""},
      {kMpArrayTable, [&] { (void)driver.ReadDriverState(); }, Header(4, false, 256), ""},
      {kMpController, [&] { (void)driver.ReadDriverState(); }, Header(5, false, 780), z4},
      {kMpDiskTable, [&] { (void)driver.ReadDriverState(); }, Header(6, false, 408), ""},
      {kMpSynchronise, [&] { RunTask([](CMaroveltDriver& d) { return d.StartSynchronise(0, 0); }, kMpSynchronise); },
       Header(8, true, 64),
       "00000000"
       "00000000"
       "00000000"},
      {kMpRebuild, [&] { RunTask([](CMaroveltDriver& d) { return d.StartRebuild(0, 1, kTaskAbort); }, kMpRebuild); },
       Header(9, true, 64),
       "00000000"
       "00000000"
       "00000003" +
           std::string(96, '0') + "01000000"},
      {kMpActivity, [&] { (void)driver.PollActivity(); }, Header(10, false, 16), ""},
      {kMpGetPciThreshold, [&] { (void)driver.GetPciThreshold(); }, Header(12, true, 0), ""},
      {kMpSetPciThreshold, [&] { (void)driver.SetPciThreshold(6); }, Header(13, true, 4), "06000000"},
      {kMpGetPciMaximum, [&] { (void)driver.GetPciMaximum(); }, Header(14, true, 0), ""},
      {kMpSetMaintenanceRate, [&] { (void)driver.SetMaintenanceRate(9); }, Header(16, true, 4), "09000000"},
      {kMpGetMaintenanceRate, [&] { (void)driver.GetMaintenanceRate(); }, Header(17, true, 0), ""},
      {kMpEventCount,
       [&] {
         fake.AddEvent(0x80000100, 0, {0});
         (void)driver.ReadDriverEvents();
       },
       Header(18, false, 4), z4},
      {kMpReadEvents,
       [&] {
         fake.AddEvent(0x80000100, 0, {0});
         (void)driver.ReadDriverEvents();
       },
       Header(19, false, 884), "01000000"},
      {kMpDiskSmart, [&] { (void)driver.GetDiskSmart(1, 1, 0); }, Header(20, false, 4), "010100ff"},
      {kMpHardwareId, [&] { (void)driver.GetHardwareId(); }, Header(21, false, 20), ""},
      {kMpGetSmartEnable, [&] { (void)driver.GetSmartEnable(); }, Header(22, false, 4), "ff000000"},
      {kMpSetSmartEnable, [&] { (void)driver.SetSmartEnable(1); }, Header(23, true, 4), "01000000"},
      {kMpEnclosure, [&] { (void)driver.EnclosureRequest(5, 3, 1); }, Header(24, false, 8), "0503010000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    const Bytes sent = Sent(c.code, c.action);
    ASSERT_FALSE(sent.empty());
    const std::string hex = Hex(sent);
    EXPECT_EQ(hex.substr(0, 56), c.header);
    std::string data = c.data;
    data.resize(hex.size() - 56, '0');
    EXPECT_EQ(hex.substr(56), data);
  }
}

TEST_F(DriverTest, RebuildRequestCarriesTheMemberAtSixty) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  const Bytes sent =
      Sent(kMpRebuild, [&] { RunTask([](CMaroveltDriver& d) { return d.StartRebuild(0, 1, 0); }, kMpRebuild); });
  ASSERT_EQ(sent.size(), kSrbHeaderLength + 64);
  EXPECT_EQ(Get16(&sent[kSrbHeaderLength + 60]), 1);
  EXPECT_EQ(Get32(&sent[kSrbHeaderLength + 8]), 0u);
}

TEST(DriverVersionTest, GateAndPortScan) {
  plat::testing::TempRoot root;
  struct Case {
    std::uint32_t version;
    std::uint32_t status;
  };
  const Case cases[] = {
      {(10u << 16) | 1, kDriverTooOld},  // 1.10
      {(11u << 16) | 1, kDriverOk},      // 1.11
      {2, kDriverOk},                    // 2.0
      {0xFFFFFFFFu, kDriverMissing},     // the return code left at -1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    FakeMarovelt fake(0, c.version);
    CMaroveltDriver driver(nullptr);
    auto h = driver.OpenDriver();
    EXPECT_EQ(h.ok(), c.status == kDriverOk);
    EXPECT_EQ(driver.Status(), c.status);
    EXPECT_EQ(driver.DriverVersionMessage() == "No Error", c.status == kDriverOk);
  }
  {
    FakeMarovelt fake(0, (10u << 16) | 1);
    CMaroveltDriver driver(nullptr);
    (void)driver.OpenDriver();
    EXPECT_EQ(driver.DriverVersionMessage(),
              "This version of Dremmoral utility require driver version 1.11 or later.");
  }

  // The driver on the third port: ports 0 and 1 are opened and checked first.
  FakeMarovelt fake(2, 2);
  fake.Serve(0, 0xFFFFFFFFu);
  fake.Serve(1, 0xFFFFFFFFu);
  CMaroveltDriver driver(nullptr);
  ASSERT_TRUE(driver.ReadDriverState().ok());
  auto reqs = fake.Requests();
  ASSERT_GE(reqs.size(), 4u);
  EXPECT_EQ(reqs[0].port, 0);
  EXPECT_EQ(reqs[0].code, kMpVersion);
  EXPECT_EQ(reqs[1].port, 1);
  EXPECT_EQ(reqs[2].port, 2);
  EXPECT_EQ(reqs[2].code, kMpVersion);
  for (std::size_t i = 3; i < reqs.size(); ++i) EXPECT_EQ(reqs[i].port, 2);
  EXPECT_FALSE(driver.DriverNotFound());
}

TEST(DriverVersionTest, NoDriverMarksNotFoundAndTablesAreEmpty) {
  plat::testing::TempRoot root;
  CMaroveltDriver driver(nullptr);
  auto read = driver.ReadDriverState();
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.code(), ENODEV);
  EXPECT_NE(read.message().find("no Marovelt driver answered"), std::string::npos) << read.message();
  EXPECT_TRUE(driver.DriverNotFound());
  EXPECT_EQ(driver.ArrayCount(), 0);
  EXPECT_EQ(driver.ControllerCount(), 0);
  EXPECT_EQ(driver.DiskCount(), 0);
  EXPECT_FALSE(driver.GetPciThreshold().ok());
  EXPECT_FALSE(driver.SetPciThreshold(3).ok());
  EXPECT_FALSE(driver.SetMaintenanceRate(3).ok());
  EXPECT_FALSE(driver.EnclosureRequest(0, 0, 0).ok());
  EXPECT_FALSE(driver.StartSynchronise(0, 0).ok());
}

// When no port passes, the failure says what each served port answered instead of only "not found".
TEST(DriverVersionTest, AFailedOpenSaysWhyEachPortDidNotPass) {
  plat::testing::TempRoot root;
  FakeMarovelt old(0, (10u << 16) | 1);
  FakeMarovelt failing(3, 2);
  failing.failNext[kMpVersion] = 1;
  CMaroveltDriver driver(nullptr);
  auto h = driver.OpenDriver();
  ASSERT_FALSE(h.ok());
  EXPECT_EQ(driver.Status(), kDriverTooOld);
  EXPECT_NE(h.message().find("\\\\.\\Scsi0:: driver version 1.10, 1.11 or later needed"), std::string::npos)
      << h.message();
  EXPECT_NE(h.message().find("\\\\.\\Scsi3:: control code 1: failed"), std::string::npos) << h.message();
  EXPECT_EQ(h.message().find("Scsi1"), std::string::npos) << h.message();  // nobody serves it
}

TEST_F(DriverTest, LengthRules) {
  // A table whose answer reports another Length fails its read, twice tried; the others are read.
  fake.replyLength[kMpArrayTable] = 255;
  auto read = driver.ReadDriverState();
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.message(), "array table: the answer reports Length 255, not 256");
  EXPECT_EQ(driver.ArrayCount(), 0);
  EXPECT_EQ(driver.DiskCount(), 2);
  EXPECT_EQ(fake.CountOf(kMpArrayTable), 2);
  fake.replyLength.clear();

  // One failure is retried.
  fake.failNext[kMpDiskTable] = 1;
  ASSERT_TRUE(driver.ReadDriverState().ok());
  EXPECT_EQ(driver.ArrayCount(), 2);
  EXPECT_EQ(driver.DiskCount(), 2);

  // Two are not: the count stays -1 (read as 0), and the failure carries the device's reason.
  fake.failNext[kMpDiskTable] = 2;
  read = driver.ReadDriverState();
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.code(), EIO);
  EXPECT_EQ(read.message(), "disk table: control code 6: failed");
  EXPECT_EQ(driver.DiskCount(), 0);
  EXPECT_EQ(driver.ArrayCount(), 2);

  // A controller record of another length is not counted.
  fake.replyLength[kMpController] = 700;
  read = driver.ReadDriverState();
  EXPECT_EQ(read.message(), "controller 0 record: the answer reports Length 700, not 780");
  EXPECT_EQ(driver.ControllerCount(), 0);
  fake.replyLength.clear();

  // The event count must come back 32 bytes long; an enclosure answer 36.
  fake.AddEvent(0x80000100, 0, {0});
  fake.cutTo[kMpEventCount] = 31;
  auto events = driver.ReadDriverEvents();
  ASSERT_FALSE(events.ok());
  EXPECT_EQ(events.message(), "event count: the answer is 31 bytes, not 32");
  fake.cutTo.clear();
  EXPECT_EQ(driver.ReadDriverEvents()->size(), 1u);
  fake.enclosureType[0] = 17;
  EXPECT_EQ(driver.EnclosureRequest(0, 0, 0).valueOr(-1), 17);
  fake.cutTo[kMpEnclosure] = 35;
  auto enclosure = driver.EnclosureRequest(0, 0, 0);
  ASSERT_FALSE(enclosure.ok());
  EXPECT_EQ(enclosure.message(), "enclosure request 0 on channel 0: the answer is 35 bytes, not 36");
  // Within an enclosure read a failed request reads -1, and why is kept.
  fake.cutTo.clear();
  fake.enclosureValue[{0, 5}] = 8;
  fake.enclosureValue[{0, 1}] = 3000;
  auto sensors = driver.ReadEnclosure(0);
  EXPECT_EQ(sensors.fan, 3000);
  EXPECT_TRUE(sensors.failures.empty());
  fake.cutTo[kMpEnclosure] = 35;
  sensors = driver.ReadEnclosure(0);
  EXPECT_EQ(sensors.type, -1);
  ASSERT_EQ(sensors.failures.size(), 1u);
  EXPECT_EQ(sensors.failures[0].code, EPROTO);
}

TEST_F(DriverTest, EventCountIsBoundedAndOnlyCarriedRecordsAreTaken) {
  for (int i = 0; i < 25; ++i) fake.AddEvent(0x80000100 + (i % 2), 0, {static_cast<std::uint32_t>(i)});
  auto first = driver.ReadDriverEvents();
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first->size(), 20u);
  EXPECT_EQ(Get32(&(*first)[19][20]), 19u);
  fake.cutTo[kMpReadEvents] = kSrbHeaderLength + 4 + 2 * kEventRecordSize + 10;
  EXPECT_EQ(driver.ReadDriverEvents()->size(), 2u);
  fake.cutTo.clear();
  for (int i = 0; i < 3; ++i) fake.AddEvent(0x80000100, 0, {0});
  fake.failNext[kMpReadEvents] = 1;
  auto failed = driver.ReadDriverEvents();
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.message(), "reading 3 queued events: control code 19: failed");
}

TEST_F(DriverTest, TablesDecode) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  ASSERT_EQ(driver.ArrayCount(), 2);
  EXPECT_EQ(driver.ArraySlot(0), 0);
  EXPECT_EQ(driver.ArraySlot(1), 2);  // the index counts only slots in use
  EXPECT_EQ(driver.ArraySlot(2), -1);
  auto a = driver.Array(0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->members.size(), 2u);
  EXPECT_EQ(a->cylinders, 1000);
  EXPECT_EQ(a->heads, 16);
  EXPECT_EQ(a->SizeBytes(), 1000ull * 16 * 63 * 512);
  EXPECT_EQ(driver.FindDisk(0, 1, 0), 2);
  EXPECT_EQ(driver.DiskDisplayName(2), "WDC WD200 (Channel 2, Master)");
  EXPECT_EQ(driver.DiskDisplayName(17), "Unknown");
  EXPECT_EQ(driver.DiskDisplayName(-1), "Unknown");
  auto id = driver.Identify(0, 0, 0);
  ASSERT_TRUE(id);
  EXPECT_EQ(id->model, "ST320420A");
}

TEST(IdentifyTest, LargeDrivesTakeCylindersFromTheTotalAndZeroGeometryIsSafe) {
  std::uint8_t w[178] = {};
  Put16(w + 2, 16383);
  Put16(w + 6, 16);
  Put16(w + 12, 63);
  Put16(w + 120, 0x0000);
  Put16(w + 122, 0x0950);  // 0x09500000 sectors
  auto id = ParseIdentify(w);
  EXPECT_EQ(id.ShownCylinders(), static_cast<int>(0x09500000u / 16 / 63));
  Put16(w + 6, 0);
  EXPECT_EQ(ParseIdentify(w).ShownCylinders(), 16383);
  EXPECT_EQ(ParseIdentify(w).SizeBytes(), 0u);
}

TEST(RaidLevelTest, TypeCodes) {
  struct Case {
    int type, members, level;
  };
  const Case cases[] = {{0, 2, 0}, {1, 2, 1}, {1, 3, 1}, {1, 4, 2}, {2, 3, 4}, {6, 3, 5}, {8, 2, 3}, {5, 2, -1}};
  for (const auto& c : cases) EXPECT_EQ(RaidLevel(c.type, c.members), c.level) << c.type << "/" << c.members;
}

TEST_F(DriverTest, ActivityPoll) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  auto poll = [&] { return driver.PollActivity().valueOr(-1); };
  EXPECT_EQ(poll(), 0);
  fake.activity[0] = 2, fake.activity[1] = 0;
  EXPECT_EQ(poll(), 2);  // began
  EXPECT_EQ(driver.RunningSlot(), 0);
  fake.activity[1] = 40;
  EXPECT_EQ(poll(), 1);  // percent moved
  EXPECT_EQ(driver.CurrentPercent(), 40);
  fake.activity[1] = 250;  // beyond 100 is shown as 100
  EXPECT_EQ(poll(), 1);
  EXPECT_EQ(driver.CurrentPercent(), 100);
  EXPECT_EQ(poll(), 0);
  fake.activity[0] = 0, fake.activity[1] = 0;
  EXPECT_EQ(poll(), 2);  // ended
  EXPECT_EQ(driver.RunningSlot(), -1);
  // A task that ends at a low percent leaves no percent behind (it drives the every-tick refresh).
  fake.activity[0] = 3, fake.activity[1] = 2;
  EXPECT_EQ(poll(), 2);
  EXPECT_EQ(driver.CurrentPercent(), 2);
  fake.activity[0] = 0, fake.activity[1] = 0;
  EXPECT_EQ(poll(), 2);
  EXPECT_EQ(driver.CurrentPercent(), 0);
  fake.failNext[kMpActivity] = 1;
  EXPECT_EQ(driver.PollActivity().message(), "control code 10: failed");
}

TEST_F(DriverTest, DiskChangeDetection) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  auto detect = [&] { return driver.DetectDiskChange().valueOr(false); };
  EXPECT_FALSE(detect());
  fake.disks[2 * kDiskRecordSize] = 0x01;  // the disk went offline
  EXPECT_TRUE(detect());
  EXPECT_FALSE(detect());
  fake.disks[2 * kDiskRecordSize + 10] = 0x55;  // beyond the first four bytes
  EXPECT_FALSE(detect());
}

// A look whose array table read fails keeps both tables as they were, so the disk change it
// found is found again by the next look instead of being lost.
TEST_F(DriverTest, AFailedDiskChangeLookLosesNoChange) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  fake.disks[2 * kDiskRecordSize] = 0x01;
  fake.failNext[kMpArrayTable] = 2;
  auto failed = driver.DetectDiskChange();
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.message(), "array table: control code 4: failed");
  EXPECT_EQ(driver.Disk(2)->status, 0x07);
  EXPECT_EQ(driver.ArrayCount(), 2);
  EXPECT_TRUE(driver.DetectDiskChange().valueOr(false));
  EXPECT_EQ(driver.Disk(2)->status, 0x01);
  fake.failNext[kMpDiskTable] = 2;
  EXPECT_EQ(driver.DetectDiskChange().message(), "disk table: control code 6: failed");
  EXPECT_EQ(driver.DiskCount(), 2);
}

TEST_F(DriverTest, TaskStartsAndTheirRefusals) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  struct Refusal {
    plat::Result<void> started;
    int code;
    std::string why;
  };
  Refusal refusals[] = {
      {driver.StartRebuild(2, 0, 0), EINVAL, "only a mirror is rebuilt (RAID type code 0)"},
      {driver.StartRebuild(1, 0, 0), ENOENT, "no array in slot 1"},
      {driver.StartSynchronise(7, 0), ENOENT, "no array in slot 7"},
  };
  for (const auto& r : refusals) {
    EXPECT_FALSE(r.started.ok()) << r.why;
    EXPECT_EQ(r.started.code(), r.code) << r.why;
    EXPECT_EQ(r.started.message(), r.why);
  }

  fake.HoldTasks();
  ASSERT_TRUE(driver.StartSynchronise(0, 0).ok());
  EXPECT_EQ(driver.Activity(0).type, kActivityRequested);
  while (fake.HeldTasks() == 0) std::this_thread::yield();
  EXPECT_TRUE(driver.WorkerBusy());
  auto busy = driver.StartRebuild(0, 1, 0);  // one task at a time
  EXPECT_EQ(busy.code(), EBUSY);
  EXPECT_EQ(busy.message(), "a synchronise runs");
  EXPECT_FALSE(driver.StartSynchronise(0, 0).ok());
  EXPECT_TRUE(driver.StartSynchronise(0, kTaskAbort).ok());  // the abort form goes through
  while (fake.HeldTasks() < 2) std::this_thread::yield();
  fake.Release();
  while (driver.WorkerBusy()) std::this_thread::yield();
  EXPECT_EQ(fake.CountOf(kMpSynchronise), 2);
  EXPECT_TRUE(driver.StartRebuild(0, 1, 0).ok());
  driver.Shutdown();
  auto stopped = driver.StartRebuild(0, 1, 0);  // nothing starts once stopped
  EXPECT_EQ(stopped.code(), ECANCELED);
  CMaroveltDriver loopless(nullptr);
  ASSERT_TRUE(loopless.ReadDriverState().ok());
  EXPECT_EQ(loopless.StartRebuild(0, 1, 0).code(), EINVAL);
}

// A stop: the driver ends the task and the activity poll sees it gone, while the worker has not yet
// returned from its request. A new start is taken then (the nodes already show no task) and runs
// once that worker is free; another start is still refused while it waits.
TEST_F(DriverTest, AStartAfterTheDriverEndedTheTaskWaitsForItsWorker) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  fake.HoldTasks();
  ASSERT_TRUE(driver.StartRebuild(0, 1, 0).ok());
  while (fake.HeldTasks() == 0) std::this_thread::yield();
  fake.activity[0] = 2, fake.activity[1] = 30;
  ASSERT_EQ(driver.PollActivity().valueOr(-1), 2);
  EXPECT_EQ(driver.StartRebuild(0, 1, 0).code(), EBUSY) << "the task still runs";
  fake.activity[0] = 0, fake.activity[1] = 0;
  ASSERT_EQ(driver.PollActivity().valueOr(-1), 2);
  ASSERT_TRUE(driver.WorkerBusy());
  auto again = driver.StartRebuild(0, 1, 0);
  EXPECT_TRUE(again.ok()) << again.message();
  auto third = driver.StartSynchronise(0, 0);
  EXPECT_EQ(third.code(), EBUSY);
  EXPECT_EQ(third.message(), "a rebuild runs");
  EXPECT_EQ(fake.CountOf(kMpRebuild), 1) << "the new request waits for the worker";
  fake.Release();
  for (int i = 0; i < 2000 && driver.WorkerBusy(); ++i) loop->runOnce(5);
  EXPECT_FALSE(driver.WorkerBusy());
  EXPECT_EQ(fake.CountOf(kMpRebuild), 2);
  EXPECT_TRUE(driver.StartSynchronise(0, 0).ok()) << "both are over";
}

// A request the driver fails reaches the caller's completion, on the loop, with the reason.
TEST_F(DriverTest, ATaskTheDriverFailsReportsWhy) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  std::vector<plat::Result<void>> outcomes;
  auto record = [&](const plat::Result<void>& r) { outcomes.push_back(r); };
  auto runUntil = [&](std::size_t n) {
    for (int i = 0; i < 2000 && outcomes.size() < n; ++i) loop->runOnce(5);
  };
  fake.failNext[kMpRebuild] = 1;
  ASSERT_TRUE(driver.StartRebuild(0, 1, 0, record).ok());
  runUntil(1);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].code(), EIO);
  EXPECT_EQ(outcomes[0].message(), "control code 9: failed");
  EXPECT_FALSE(driver.WorkerBusy());  // the failed task is over: the next one may start
  ASSERT_TRUE(driver.StartSynchronise(0, 0, record).ok());
  runUntil(2);
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_TRUE(outcomes[1].ok());
}

// A full read tells its listener which rows changed: an array's record, a disk's row and the
// controller that disk is on; a read that changes nothing tells nothing.
TEST_F(DriverTest, AFullReadNamesTheRowsItChanged) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  std::vector<TableChanges> told;
  driver.SetTablesChanged([&](const TableChanges& c) { told.push_back(c); });
  ASSERT_TRUE(driver.ReadDriverState().ok());
  EXPECT_TRUE(told.empty());
  fake.disks[2 * kDiskRecordSize] = 0x01;
  fake.SetArray(0, 1, {0, 2}, 0x1F);
  ASSERT_TRUE(driver.ReadDriverState().ok());
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].arrays, (std::array<bool, kArraySlots>{true, false, false, false}));
  std::array<bool, kDiskSlots> disks{};
  disks[2] = true;
  EXPECT_EQ(told[0].disks, disks);
  EXPECT_EQ(told[0].controllers, (std::array<bool, kMaxControllers>{true, false, false, false}));
}

// The driver's answer to a setting or a task request is read: a refusal is a failure that says
// the driver's return code, and a value beyond the request's byte is not sent at all.
TEST_F(DriverTest, RefusedSettingsAndTasksFailWithTheDriversAnswer) {
  ASSERT_TRUE(driver.ReadDriverState().ok());
  fake.settingReturn = 1;
  using Set = std::function<plat::Result<void>()>;
  for (const Set& set : {Set([&] { return driver.SetMaintenanceRate(7); }), Set([&] { return driver.SetPciThreshold(3); }),
                         Set([&] { return driver.SetSmartEnable(0); })}) {
    auto r = set();
    EXPECT_EQ(r.code(), kTaskRefused);
    EXPECT_EQ(r.message(), "return code 1");
  }
  EXPECT_EQ(fake.maintenanceRate, 6);
  fake.settingReturn = 0;
  fake.ClearRequests();
  EXPECT_EQ(driver.SetMaintenanceRate(300).code(), EINVAL);
  EXPECT_EQ(driver.SetPciThreshold(-1).code(), EINVAL);
  EXPECT_EQ(fake.Requests().size(), 0u) << "nothing is sent that the byte cannot carry";

  std::vector<plat::Result<void>> outcomes;
  auto record = [&](const plat::Result<void>& r) { outcomes.push_back(r); };
  fake.taskReturn = 1;
  ASSERT_TRUE(driver.StartRebuild(0, 1, 0, record).ok());
  for (int i = 0; i < 2000 && outcomes.empty(); ++i) loop->runOnce(5);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].code(), kTaskRefused);
  EXPECT_EQ(outcomes[0].message(), "return code 1");
  // A task stopped before its end is no failure: the driver's own event tells of it.
  fake.taskReturn = kTaskStopped;
  ASSERT_TRUE(driver.StartSynchronise(0, 0, record).ok());
  for (int i = 0; i < 2000 && outcomes.size() < 2; ++i) loop->runOnce(5);
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_TRUE(outcomes[1].ok()) << outcomes[1].message();
}

TEST_F(DriverTest, RegistrySettings) {
  auto none = driver.ReadAdapterSetting("WRITEBACKCACHE");
  ASSERT_TRUE(none.ok()) << none.message();
  EXPECT_FALSE(*none);
  ASSERT_TRUE(driver.WriteAdapterSetting("WRITEBACKCACHE", 1).ok());
  ASSERT_TRUE(driver.WriteAdapterSetting("MAINTENANCELENGTH", 12).ok());
  ASSERT_TRUE(driver.WriteAdapterSetting("WRITEBACKCACHE", 0).ok());  // rewritten in place
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine,
                                  "SYSTEM\\CurrentControlSet\\Services\\Marovelt\\Parameters\\Device");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->getString("DriverParameter").valueOr(""), "WRITEBACKCACHE=0;MAINTENANCELENGTH=12;");
  EXPECT_EQ(driver.ReadAdapterSetting("MAINTENANCELENGTH").valueOr({}), 12);

  // Values are read as "%i" reads them; at most 32 entries.
  ASSERT_EQ(plat::reg::statusOf(key->setString("DriverParameter", "A=0x10;B=010;C=-3;")), plat::reg::Status::Ok);
  for (auto [name, want] : {std::pair{"A", 16}, {"B", 8}, {"C", -3}}) {
    EXPECT_EQ(driver.ReadAdapterSetting(name).valueOr({}), want) << name;
  }
  for (int i = 3; i < 32; ++i) ASSERT_TRUE(driver.WriteAdapterSetting("N" + std::to_string(i), i).ok());
  auto full = driver.WriteAdapterSetting("ONEMORE", 1);
  EXPECT_EQ(full.code(), ENOSPC);
  EXPECT_EQ(full.message(), "DriverParameter holds 32 entries already; ONEMORE is not among them");
  EXPECT_TRUE(driver.WriteAdapterSetting("A", 5).ok());
  EXPECT_EQ(driver.WriteAdapterSetting("BAD=NAME", 1).code(), EINVAL);

  // Entries the component does not own stay as they are written, whatever their form.
  const std::string longValue(80, 'v');
  const std::string others = "NOEQUALS;" + std::string("LONG=") + longValue + ";X=1;MAINTENANCELENGTH=4;";
  ASSERT_EQ(plat::reg::statusOf(key->setString("DriverParameter", others)), plat::reg::Status::Ok);
  ASSERT_TRUE(driver.WriteAdapterSetting("MAINTENANCELENGTH", 9).ok());
  ASSERT_TRUE(driver.WriteAdapterSetting("SMARTENABLE", 1).ok());
  EXPECT_EQ(key->getString("DriverParameter").valueOr(""),
            "NOEQUALS;LONG=" + longValue + ";X=1;MAINTENANCELENGTH=9;SMARTENABLE=1;");

  // Parameters that cannot be read as text are refused, not replaced by the one new entry.
  const std::vector<std::uint8_t> foreign = {'A', '=', '1', ';', 0xFF};
  ASSERT_TRUE(key->setBinary("DriverParameter", foreign));
  auto refused = driver.WriteAdapterSetting("A", 2);
  EXPECT_FALSE(refused.ok());
  EXPECT_FALSE(refused.message().empty());
  EXPECT_EQ(key->getBinary("DriverParameter").valueOr({}), foreign);
  // Reading them is a failure too, not an absent entry.
  EXPECT_FALSE(driver.ReadAdapterSetting("A").ok());
}

TEST_F(DriverTest, DriverFileVersion) {
  auto [version, time] = driver.DriverFileVersion();
  EXPECT_EQ(version, "UNKNOWN");
  EXPECT_EQ(time, "UNKNOWN");
}

}  // namespace
}  // namespace tirrow
