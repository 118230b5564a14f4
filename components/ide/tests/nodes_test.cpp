#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "components/ide/ide_nodes.h"
#include "components/ide/ide_poll.h"
#include "components/ide/tests/fake_marovelt.h"
#include "components/ide/tests/tree_helpers.h"
#include "platform/base/text.h"
#include "platform/loop/event_loop.h"
#include "platform/testing/temp_root.h"

namespace tirrow {
namespace {

using plat::S_FALSE;
using plat::S_OK;
using plat::com::ComPtr;
using plat::com::makeObject;
using testing::Advise;
using testing::FakeMarovelt;

class NodesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorLog([this](const std::string& t) { logged.push_back(t); });
    fake.SetController(0);
    fake.SetDrive(0, 0, 0, 0, "ST320420A");
    fake.SetDrive(0, 1, 1, 3, "WDC WD200");  // a slave alone on its channel
    fake.SetArray(0, 1, {0, 3});
    fake.SetArray(1, 0, {0, 3});
  }
  void TearDown() override { SetErrorLog(nullptr); }

  // Waits for the driver's worker to hold the task it was given; bounded, so a request that never
  // arrives fails the test instead of hanging it.
  bool TaskHeld() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fake.HeldTasks() == 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }

  ComPtr<CTirrowRoot> Build() {
    auto r = makeObject<CTirrowRoot>();
    r->Build();
    return r;
  }
  static std::string Get(CRiverNode* n, const std::string& name) { return testing::Get(n, name); }
  static CRiverNode* Cd(CRiverNode* n, const std::string& path) { return testing::Cd(n, path); }

  plat::testing::TempRoot tempRoot;
  std::unique_ptr<plat::EventLoop> loop = std::move(*plat::makeEpollLoop());
  FakeMarovelt fake;
  std::vector<std::string> logged;
};

TEST_F(NodesTest, TreeFollowsTheDriverTables) {
  auto r = Build();
  EXPECT_EQ(Get(r.get(), "Type"), "VELKARI MaroveltRAID");
  EXPECT_EQ(r->NodeType(), 14);
  CRiverNode* mvp = Cd(r.get(), "MVP1");
  ASSERT_TRUE(mvp);
  EXPECT_EQ(mvp->NodeType(), 19);
  EXPECT_EQ(Get(mvp, "Marovelt"), "yes");
  EXPECT_EQ(Get(mvp, "HasEvent"), "3");
  EXPECT_EQ(Get(mvp, "IRQ"), "10");
  EXPECT_EQ(Get(mvp, "RBA"), "0x000C8000");
  EXPECT_EQ(Get(mvp, "BMB"), "0xD800");
  EXPECT_EQ(Get(mvp, "HardWare"), "Marovelt Birch (4d38)");
  EXPECT_EQ(Get(mvp, "GetPCIBus"), "50");  // threshold 4 of 8
  EXPECT_EQ(Get(mvp, "GetMaintenanceRate"), "6");
  EXPECT_EQ(Get(mvp, "GetSmart"), "1");
  EXPECT_EQ(Get(mvp, "DV"), "<none>");  // no driver file

  CRiverNode* master = Cd(r.get(), "MVP1/ch1/master");
  ASSERT_TRUE(master);
  EXPECT_EQ(master->NodeType(), 21);
  EXPECT_EQ(Get(master, "model"), "ST320420A");
  EXPECT_EQ(Get(master, "Status"), "512");
  EXPECT_EQ(Get(master, "Timing_Mode"), "UDMA mode 5");
  EXPECT_EQ(Get(master, "Size"), "492 MB");
  EXPECT_EQ(Get(master, "smart"), "Functional");
  EXPECT_FALSE(Cd(r.get(), "MVP1/ch2/master"));
  EXPECT_TRUE(Cd(r.get(), "MVP1/ch2/slave"));
  EXPECT_EQ(Get(Cd(r.get(), "MVP1/ch1"), "IOaddress1"), "0x 1F0");
  EXPECT_EQ(Get(Cd(r.get(), "MVP1/ch2"), "IOaddress2"), "0x 376");

  CRiverNode* mirror = Cd(r.get(), "Ary1");
  ASSERT_TRUE(mirror);
  EXPECT_EQ(mirror->NodeType(), 18);
  EXPECT_EQ(Get(mirror, "RAID_Mode"), "MIRRORING");
  EXPECT_EQ(Get(mirror, "name"), "Ary1");
  EXPECT_EQ(Get(mirror, "Block Size"), "64 (kb)");
  EXPECT_EQ(Get(mirror, "Status"), "0");
  EXPECT_EQ(Get(mirror, "RebuildArray"), plat::formatWord32(0x800003C));
  EXPECT_EQ(Get(Cd(r.get(), "Ary1/disk2"), "model"), "WDC WD200");
  CRiverNode* stripe = Cd(r.get(), "Ary2");
  ASSERT_TRUE(stripe);
  EXPECT_EQ(Get(stripe, "RAID_Mode"), "STRIPING");
  EXPECT_EQ(stripe->invoke("RebuildArray", "512@1;21"), S_FALSE);  // no such method on a stripe
  EXPECT_EQ(stripe->invoke("SyncArray", "512"), S_FALSE);
}

TEST_F(NodesTest, RootWithoutDriverOrWithUnsupportedHardware) {
  fake.hardwareModel = 5;
  auto r = Build();
  EXPECT_EQ(Get(r.get(), "Type"), "Hardware not supported");
  EXPECT_FALSE(Cd(r.get(), "MVP1"));
}

TEST(NodesNoDriverTest, DriverNotFound) {
  plat::testing::TempRoot root;
  std::vector<std::string> logged;
  SetErrorLog([&](const std::string& t) { logged.push_back(t); });
  auto loop = std::move(*plat::makeEpollLoop());
  auto r = makeObject<CTirrowRoot>();
  r->Build();
  std::string v;
  r->get("Type", &v);
  EXPECT_EQ(v, "Driver not found");
  EXPECT_FALSE(r->ChildByName("MVP1"));
  // The log says why beside the text.
  EXPECT_EQ(logged,
            (std::vector<std::string>{"Driver not found (no Marovelt driver answered: no SCSI port is served)"}));
  SetErrorLog(nullptr);
}

// A controller whose driver does not pass the check at its construction logs why, not only the
// version message; it then skips the driver-read settings.
TEST_F(NodesTest, AControllerThatFindsNoDriverLogsWhy) {
  auto r = Build();
  ASSERT_TRUE(logged.empty());
  fake.failNext[kMpVersion] = 1;
  fake.ClearRequests();
  auto c = makeObject<CIdeController>(r->Driver(), plat::systemClock());
  c->InitController(r.get(), "MVP9", 0);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "Driver not found (no Marovelt driver answered: \\\\.\\Scsi0:: control code 1: failed)");
  EXPECT_EQ(fake.CountOf(kMpGetPciMaximum), 0);
}

TEST_F(NodesTest, SettingMethods) {
  auto r = Build();
  auto* mvp = static_cast<CIdeController*>(Cd(r.get(), "MVP1"));
  auto sink = Advise(mvp);
  EXPECT_EQ(mvp->invoke("SetPCIBus", "25"), S_OK);
  EXPECT_EQ(fake.pciThreshold, 6);
  EXPECT_EQ(Get(mvp, "GetPCIBus"), "25");
  int stored = 0;
  stored = r->Driver()->ReadAdapterSetting("COUNTTHRESHOLD").valueOr({}).value_or(-1);
  EXPECT_EQ(stored, 6);
  EXPECT_EQ(sink->fired, 1);

  EXPECT_EQ(mvp->invoke("SetMaintenanceRate", "12"), S_OK);
  EXPECT_EQ(fake.maintenanceRate, 12);
  EXPECT_EQ(Get(mvp, "GetMaintenanceRate"), "12");
  EXPECT_EQ(mvp->invoke("SetSmart", "0"), S_OK);
  EXPECT_EQ(Get(mvp, "GetSmart"), "0");
  EXPECT_EQ(mvp->invoke("SetCachePolicy", "1"), S_OK);
  EXPECT_EQ(Get(mvp, "GetCachePolicy"), "1");
  EXPECT_EQ(sink->fired, 4);
  EXPECT_EQ(mvp->invoke("ReadEvent", ""), S_OK);
  EXPECT_EQ(mvp->invoke("NoSuchMethod", ""), S_FALSE);
  EXPECT_TRUE(logged.empty());

  // A registry that refuses the write: the text goes to the log with why, nothing changes, no
  // notification.
  for (int i = 0; i < 32; ++i)
    ASSERT_TRUE(r->Driver()->WriteAdapterSetting("X" + std::to_string(i), i).ok() || i >= 28);
  EXPECT_EQ(mvp->invoke("SetDisableHotSpare", "1"), S_OK);
  EXPECT_EQ(Get(mvp, "GetDisableHotSpare"), "0");
  EXPECT_EQ(logged,
            (std::vector<std::string>{
                "Registry Error (DriverParameter holds 32 entries already; DISABLEHOTSPARE is not among them)"}));
  EXPECT_EQ(sink->fired, 4);

  // A driver request that fails is logged with the device's reason.
  logged.clear();
  fake.failNext[kMpSetSmartEnable] = 1;
  EXPECT_EQ(mvp->invoke("SetSmart", "1"), S_OK);
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged[0], "Set S.M.A.R.T. - driver request failed (control code 23: failed)");
}

// A value the request cannot carry is not sent, and one the driver refuses is not stored: the
// node, the registry and the driver keep what they had, the method answers S_OK, and the log says
// why. Nothing is told as changed.
TEST_F(NodesTest, SettingsTheDriverCannotTakeChangeNothing) {
  auto r = Build();
  auto* mvp = static_cast<CIdeController*>(Cd(r.get(), "MVP1"));
  auto sink = Advise(mvp);
  auto registry = [&](const char* name) { return r->Driver()->ReadAdapterSetting(name).valueOr({}).value_or(-1); };
  struct Case {
    const char* method;
    const char* arg;
    std::uint32_t driverAnswer;
    const char* shown;  // the Get attribute
    const char* stored;  // its registry entry
    std::string log;
  };
  const Case cases[] = {
      {"SetMaintenanceRate", "300", 0, "GetMaintenanceRate", "MAINTENANCELENGTH",
       "Set maintenance rate - refused (\"300\" is not a value from 0 to 255)"},
      {"SetMaintenanceRate", "-1", 0, "GetMaintenanceRate", "MAINTENANCELENGTH",
       "Set maintenance rate - refused (\"-1\" is not a value from 0 to 255)"},
      {"SetMaintenanceRate", "9", 1, "GetMaintenanceRate", "MAINTENANCELENGTH",
       "Set maintenance rate - refused by the driver (return code 1)"},
      {"SetSmart", "7", 0, "GetSmart", "SMARTENABLE", "Set S.M.A.R.T. - refused (\"7\" is not a value from 0 to 1)"},
      {"SetSmart", "0", 1, "GetSmart", "SMARTENABLE", "Set S.M.A.R.T. - refused by the driver (return code 1)"},
      {"SetPCIBus", "101", 0, "GetPCIBus", "COUNTTHRESHOLD",
       "Set PCI bus - refused (\"101\" is not a value from 0 to 100)"},
      {"SetPCIBus", "x", 0, "GetPCIBus", "COUNTTHRESHOLD", "Set PCI bus - refused (\"x\" is not a value from 0 to 100)"},
      {"SetPCIBus", "25", 1, "GetPCIBus", "COUNTTHRESHOLD", "Set PCI bus - refused by the driver (return code 1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.arg);
    logged.clear();
    fake.ClearRequests();
    fake.settingReturn = c.driverAnswer;
    const std::string shown = Get(mvp, c.shown);
    const int stored = registry(c.stored);
    const int rate = fake.maintenanceRate, smart = fake.smartEnable, threshold = fake.pciThreshold;
    EXPECT_EQ(mvp->invoke(c.method, c.arg), S_OK);
    EXPECT_EQ(Get(mvp, c.shown), shown);
    EXPECT_EQ(registry(c.stored), stored);
    EXPECT_EQ(logged, std::vector<std::string>{c.log});
    EXPECT_EQ(fake.maintenanceRate, rate);
    EXPECT_EQ(fake.smartEnable, smart);
    EXPECT_EQ(fake.pciThreshold, threshold);
    if (c.driverAnswer == 0) {
      EXPECT_EQ(fake.Requests().size(), 0u) << "nothing is sent";
    }
  }
  EXPECT_EQ(sink->fired, 0);
}

TEST_F(NodesTest, PciMaximumOfZeroShowsFifty) {
  fake.pciMaximum = 0;
  auto r = Build();
  EXPECT_EQ(Get(Cd(r.get(), "MVP1"), "GetPCIBus"), "50");
}

TEST_F(NodesTest, PollScheduleRefreshesAndFullReads) {
  fake.SetController(1);
  fake.SetDrive(1, 0, 0, 4, "ST340");
  auto r = Build();
  auto* one = static_cast<CIdeController*>(Cd(r.get(), "MVP1"));
  auto* two = static_cast<CIdeController*>(Cd(r.get(), "MVP2"));
  ASSERT_TRUE(one && two);
  std::vector<int> refreshed, fullReads;
  for (int tick = 1; tick <= 721; ++tick) {
    const int before = one->Refreshes(), beforeTwo = two->Refreshes();
    fake.ClearRequests();
    CIdePoll::Get().Tick();
    if (one->Refreshes() != before) refreshed.push_back(tick);
    EXPECT_EQ(two->Refreshes() - beforeTwo, one->Refreshes() - before) << "tick " << tick;
    if (fake.CountOf(kMpControllerCount) > 0) fullReads.push_back(tick);
  }
  EXPECT_EQ(refreshed, (std::vector<int>{121, 241, 361, 481, 601, 721}));
  EXPECT_EQ(fullReads, (std::vector<int>{361, 721}));
}

TEST_F(NodesTest, AnArrayTableChangeAloneReachesTheArray) {
  auto r = Build();
  CRiverNode* mirror = Cd(r.get(), "Ary1");
  ASSERT_TRUE(mirror);
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "0");
  // A task that ends between the disk and array reads changes only the array table: no event,
  // no disk change. The array must not keep its old state.
  fake.SetArray(0, 1, {0, 3}, 0x1F);
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "-2147483647");
  fake.SetArray(0, 1, {0, 3});
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "0");
}

TEST_F(NodesTest, ChangesAndEventsReachEveryController) {
  fake.SetController(1);
  auto r = Build();
  auto* one = static_cast<CIdeController*>(Cd(r.get(), "MVP1"));
  auto* two = static_cast<CIdeController*>(Cd(r.get(), "MVP2"));
  auto arraySink = Advise(Cd(r.get(), "Ary1"));
  auto ctrlSink = Advise(one);
  CIdePoll::Get().Tick();
  EXPECT_EQ(arraySink->fired, 0);

  fake.AddEvent(0x80000100, 0, {3});
  fake.AddEvent(0x80000002, 0, {});
  fake.disks[3 * kDiskRecordSize] = 0x01;  // the disk went offline
  CIdePoll::Get().Tick();
  EXPECT_EQ(arraySink->fired, 1);
  EXPECT_GE(ctrlSink->fired, 1);
  EXPECT_EQ(one->Refreshes(), 1);
  // A tick with events reads no disk table; the next one finds the change.
  CIdePoll::Get().Tick();
  EXPECT_EQ(one->Refreshes(), 2);
  EXPECT_EQ(Get(Cd(r.get(), "MVP1/ch2/slave"), "Status"), "-2147483647");
  EXPECT_FALSE(Cd(r.get(), "Ary1/disk3"));

  for (auto* c : {one, two}) {
    std::uint32_t n = 0;
    EXPECT_EQ(c->GetNewCount(&n), S_OK);
    EXPECT_EQ(n, 2u);
    std::string rec;
    c->ReadEventLog(&rec, nullptr);
    auto parsed = kelm::fw::EventRecord::parse(rec);
    ASSERT_TRUE(parsed) << rec;
    EXPECT_EQ(parsed->code, 256);
    EXPECT_EQ(parsed->severity, 1);
    EXPECT_EQ(parsed->title, "Drv. Fail");
    EXPECT_EQ(parsed->text, "Disk Set Down : WDC WD200 (Channel 2, Slave)");
    rec.clear();
    c->ReadEventLog(&rec, nullptr);
    EXPECT_TRUE(rec.empty());  // a record that carries no event
    c->GetNewCount(&n);
    EXPECT_EQ(n, 0u);
  }

  // The queue is bounded: the oldest records go first.
  std::vector<EventRecordBytes> many(CIdeController::kMaxQueuedEvents + 5);
  one->HandEvents(many);
  std::uint32_t n = 0;
  one->GetNewCount(&n);
  EXPECT_EQ(n, CIdeController::kMaxQueuedEvents);
}

TEST_F(NodesTest, RebuildAndStopThroughTheArray) {
  auto r = Build();
  CRiverNode* mirror = Cd(r.get(), "Ary1");
  CRiverNode* disk2 = Cd(r.get(), "Ary1/disk2");
  ASSERT_TRUE(mirror && disk2);
  fake.HoldTasks();
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + disk2->HandleText()), S_OK);
  ASSERT_TRUE(TaskHeld()) << "the driver never got the task";
  // Just after the request: no task shown yet.
  EXPECT_EQ(Get(mirror, "GUI_Status"), plat::formatWord32(0xF7FFFFFF));
  mirror->invoke("GUI_Status", "");
  EXPECT_EQ(Get(mirror, "ThrottleStatus"), "0");
  EXPECT_EQ(Get(mirror, "percent"), "-1");
  // The driver reports the task.
  fake.activity[0] = 2, fake.activity[1] = 30;
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "512");
  EXPECT_EQ(Get(mirror, "ThrottleStatus"), "1");
  EXPECT_EQ(Get(mirror, "percent"), "30");

  EXPECT_EQ(mirror->invoke("RebuildArray", "2048@"), S_OK);
  while (fake.HeldTasks() < 2) std::this_thread::yield();
  fake.Release();
  auto reqs = fake.Requests();
  std::vector<std::pair<std::uint32_t, int>> tasks;
  for (const auto& q : reqs) {
    if (q.code == kMpRebuild) tasks.push_back({Get32(&q.bytes[kSrbHeaderLength + 8]), Get16(&q.bytes[kSrbHeaderLength + 60])});
  }
  ASSERT_EQ(tasks.size(), 2u);
  EXPECT_EQ(tasks[0], (std::pair<std::uint32_t, int>{0, 1}));  // start onto the second member
  EXPECT_EQ(tasks[1].first, kTaskAbort);
  EXPECT_EQ(tasks[1].second, 2);  // no member being rebuilt: the member count

  // A handle that is not a disk of this array starts nothing, and the log says so.
  fake.ClearRequests();
  logged.clear();
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + Cd(r.get(), "MVP1/ch1/master")->HandleText()), S_OK);
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@garbage"), S_OK);
  EXPECT_EQ(mirror->invoke("RebuildArray", "512"), S_OK);
  EXPECT_EQ(mirror->invoke("RebuildArray", "999@"), S_OK);
  r->Driver()->Shutdown();
  EXPECT_EQ(fake.CountOf(kMpRebuild), 0);
  EXPECT_EQ(logged, (std::vector<std::string>{
                        "Rebuild Ary1 - refused (\"" + Cd(r.get(), "MVP1/ch1/master")->HandleText() +
                            "\" names no disk of the array)",
                        "Rebuild Ary1 - refused (\"garbage\" names no disk of the array)",
                        "Rebuild Ary1 - refused (\"\" names no disk of the array)"}));
}

// A replaced member, and one whose rebuild was stopped, as the driver shows them: the member entry
// present and online, the disk row marked (bit 5) for its rebuild, the array's bits 1-3 set and
// bit 4 (critical). The disk is a child of its array with "Rebuild" 2, the rebuild names it, and
// while it runs the disk shows "Rebuild" 1.
TEST_F(NodesTest, AReplacedMemberIsADiskOfItsArrayAndIsRebuilt) {
  fake.SetArray(0, 1, {0, 3}, 0x1F);
  fake.disks[3 * kDiskRecordSize] = 0x27;
  auto r = Build();
  CRiverNode* mirror = Cd(r.get(), "Ary1");
  CRiverNode* waiting = Cd(r.get(), "Ary1/disk2");
  ASSERT_TRUE(mirror && waiting);
  EXPECT_EQ(Get(mirror, "Status"), "-2147483647");
  EXPECT_EQ(Get(waiting, "Rebuild"), "2");
  EXPECT_EQ(Get(waiting, "Status"), "-2147483647");
  EXPECT_EQ(Get(Cd(r.get(), "Ary1/disk1"), "Rebuild"), "0");
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + waiting->HandleText()), S_OK);
  for (int i = 0; i < 2000 && fake.CountOf(kMpRebuild) == 0; ++i) loop->runOnce(5);
  std::vector<int> members;
  for (const auto& q : fake.Requests())
    if (q.code == kMpRebuild) members.push_back(Get16(&q.bytes[kSrbHeaderLength + 60]));
  EXPECT_EQ(members, std::vector<int>{1});
  fake.activity[0] = 2, fake.activity[1] = 10;
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "512");
  EXPECT_EQ(Get(Cd(r.get(), "Ary1/disk2"), "Rebuild"), "1");
  // Rebuilt: the row and the array clear, and the mirror is functional.
  fake.activity[0] = 0, fake.activity[1] = 0;
  fake.SetArray(0, 1, {0, 3});
  fake.disks[3 * kDiskRecordSize] = 0x07;
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "0");
  EXPECT_EQ(Get(Cd(r.get(), "Ary1/disk2"), "Rebuild"), "0");
  r->Driver()->Shutdown();
}

// A failure that the poll reads as an event, and whose record the agent decodes before the next
// tick, re-reads the tables in the decoding: the nodes of the changed rows are refreshed then, so
// the array does not keep its old status once the next tick finds nothing new.
TEST_F(NodesTest, AFailureDecodedInTheSameSecondIsShown) {
  auto r = Build();
  auto* mvp = static_cast<CIdeController*>(Cd(r.get(), "MVP1"));
  CRiverNode* mirror = Cd(r.get(), "Ary1");
  auto arraySink = Advise(mirror);
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "0");
  fake.disks[3 * kDiskRecordSize] = 0x01;
  fake.SetArray(0, 1, {0}, 0x1F);
  fake.AddEvent(0x80000100, 2, {3});
  CIdePoll::Get().Tick();  // the event is read; the tables are not
  std::uint32_t n = 0;
  mvp->GetNewCount(&n);
  ASSERT_EQ(n, 1u);
  const int fired = arraySink->fired;
  const int refreshes = mvp->Refreshes();
  std::string record;
  mvp->ReadEventLog(&record, nullptr);  // the decoding re-reads the tables
  EXPECT_NE(record.find("Disk Set Down"), std::string::npos) << record;
  EXPECT_EQ(Get(mirror, "Status"), "-2147483647");
  EXPECT_GT(arraySink->fired, fired);
  EXPECT_EQ(mvp->Refreshes(), refreshes + 1);
  EXPECT_EQ(Get(Cd(r.get(), "MVP1/ch2/slave"), "Status"), "-2147483647");
  EXPECT_FALSE(Cd(r.get(), "Ary1/disk2"));
  CIdePoll::Get().Tick();
  EXPECT_EQ(Get(mirror, "Status"), "-2147483647");
}

// The every-tick controller refresh lasts only while a task runs at 1 or 2 %: once it ends there,
// the controllers go back to their own schedule.
TEST_F(NodesTest, ATaskThatEndsAtALowPercentLeavesNoEveryTickRefresh) {
  auto r = Build();
  auto* mvp = static_cast<CIdeController*>(Cd(r.get(), "MVP1"));
  CIdePoll::Get().Tick();
  fake.activity[0] = 3, fake.activity[1] = 1;
  CIdePoll::Get().Tick();
  fake.activity[1] = 2;
  CIdePoll::Get().Tick();
  int before = mvp->Refreshes();
  CIdePoll::Get().Tick();  // still at 2 %
  EXPECT_EQ(mvp->Refreshes(), before + 1);
  fake.activity[0] = 0, fake.activity[1] = 0;
  CIdePoll::Get().Tick();
  before = mvp->Refreshes();
  for (int i = 0; i < 5; ++i) CIdePoll::Get().Tick();
  EXPECT_EQ(mvp->Refreshes(), before);
}

// The driver refuses a rebuild (a synchronise runs): the method answers as ever, and the log
// says which request was refused and why.
TEST_F(NodesTest, ARebuildTheDriverRefusesIsLoggedWithWhy) {
  auto r = Build();
  CRiverNode* mirror = Cd(r.get(), "Ary1");
  CRiverNode* disk2 = Cd(r.get(), "Ary1/disk2");
  ASSERT_TRUE(mirror && disk2);
  fake.HoldTasks();
  EXPECT_EQ(mirror->invoke("SyncArray", "512"), S_OK);
  ASSERT_TRUE(TaskHeld()) << "the driver never got the task";
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + disk2->HandleText()), S_OK);
  EXPECT_EQ(mirror->invoke("SyncArray", "512"), S_OK);
  EXPECT_EQ(logged, (std::vector<std::string>{"Rebuild Ary1 - refused (a synchronise runs)",
                                              "Synchronise Ary1 - refused (a synchronise runs)"}));
  fake.Release();
  r->Driver()->Shutdown();
  EXPECT_EQ(fake.CountOf(kMpRebuild), 0);
}

// The driver fails the rebuild request itself, on the worker: the failure reaches the log, with
// the device's reason, once the request is over.
TEST_F(NodesTest, ARebuildRequestTheDriverFailsIsLoggedWithWhy) {
  auto r = Build();
  CRiverNode* mirror = Cd(r.get(), "Ary1");
  CRiverNode* disk2 = Cd(r.get(), "Ary1/disk2");
  ASSERT_TRUE(mirror && disk2);
  fake.failNext[kMpRebuild] = 1;
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + disk2->HandleText()), S_OK);
  for (int i = 0; i < 2000 && logged.empty(); ++i) loop->runOnce(5);
  EXPECT_EQ(logged, (std::vector<std::string>{"Rebuild Ary1 - driver request failed (control code 9: failed)"}));
  // One that the driver carries out logs nothing.
  logged.clear();
  EXPECT_EQ(mirror->invoke("SyncArray", "512"), S_OK);
  for (int i = 0; i < 2000 && r->Driver()->WorkerBusy(); ++i) loop->runOnce(5);
  // A failing request behind it ends after it, on the same worker: once its line is in, the
  // synchronise's own outcome has been handled too, and it added nothing.
  fake.failNext[kMpRebuild] = 1;
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + disk2->HandleText()), S_OK);
  for (int i = 0; i < 2000 && logged.empty(); ++i) loop->runOnce(5);
  EXPECT_EQ(fake.CountOf(kMpSynchronise), 1);
  EXPECT_EQ(logged, (std::vector<std::string>{"Rebuild Ary1 - driver request failed (control code 9: failed)"}));
}

// The driver answers a task request with a refusal: the log says so with the driver's code.
TEST_F(NodesTest, ATaskTheDriverRefusesIsLoggedWithItsAnswer) {
  auto r = Build();
  CRiverNode* mirror = Cd(r.get(), "Ary1");
  fake.taskReturn = 1;
  EXPECT_EQ(mirror->invoke("SyncArray", "512"), S_OK);
  for (int i = 0; i < 2000 && logged.empty(); ++i) loop->runOnce(5);
  EXPECT_EQ(logged, (std::vector<std::string>{"Synchronise Ary1 - refused by the driver (return code 1)"}));
  for (int i = 0; i < 2000 && r->Driver()->WorkerBusy(); ++i) loop->runOnce(5);
  logged.clear();
  fake.taskReturn = 0xFFFFFFFF;  // left as it was sent
  EXPECT_EQ(mirror->invoke("SyncArray", "2048"), S_OK);
  for (int i = 0; i < 2000 && logged.empty(); ++i) loop->runOnce(5);
  EXPECT_EQ(logged, (std::vector<std::string>{
                        "Stop synchronise Ary1 - driver request failed (the driver left the return code at -1)"}));
}

// What the poll reads every second is logged when it starts failing or its reason changes, not on
// every tick; a failed disk table look keeps the tree as it was.
TEST_F(NodesTest, PollFailuresAreLoggedOncePerRunWithWhy) {
  auto r = Build();
  CIdePoll::Get().Tick();
  ASSERT_TRUE(logged.empty());
  fake.failNext[kMpActivity] = 3;
  fake.failNext[kMpDiskTable] = 6;  // two attempts on each of three ticks
  for (int i = 0; i < 3; ++i) CIdePoll::Get().Tick();
  EXPECT_EQ(logged,
            (std::vector<std::string>{"Detect disk change - driver request failed (disk table: control code 6: failed)",
                                      "Read activity - driver request failed (control code 10: failed)"}));
  EXPECT_TRUE(Cd(r.get(), "Ary1/disk2"));
  EXPECT_TRUE(Cd(r.get(), "MVP1/ch1/master"));
  EXPECT_EQ(r->Driver()->DiskCount(), 2);
  // It works again, then fails again: logged again.
  CIdePoll::Get().Tick();
  fake.failNext[kMpActivity] = 1;
  CIdePoll::Get().Tick();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged.back(), "Read activity - driver request failed (control code 10: failed)");
}

// The full read keeps the driver interface's rule (a table that cannot be read counts no entries)
// and logs which table failed and why.
TEST_F(NodesTest, AFullReadThatFailsSaysWhich) {
  auto r = Build();
  for (int tick = 1; tick <= 360; ++tick) CIdePoll::Get().Tick();
  ASSERT_TRUE(logged.empty());
  fake.failNext[kMpControllerCount] = 2;
  CIdePoll::Get().Tick();
  EXPECT_EQ(logged, (std::vector<std::string>{
                        "Read driver tables - driver request failed (controller count: control code 3: failed)"}));
  EXPECT_EQ(r->Driver()->ControllerCount(), 0);
  EXPECT_EQ(r->Driver()->ArrayCount(), 2);
}

TEST_F(NodesTest, EnclosureGroupAndSensorCheck) {
  fake.enclosureType[0] = 17;
  fake.enclosureType[1] = 0;
  fake.enclosureValue[{0, 5}] = 12;
  fake.enclosureValue[{0, 1}] = 3200;
  fake.enclosureValue[{0, 2}] = 70;
  fake.enclosureValue[{0, 3}] = 1;
  fake.enclosureValue[{0, 4}] = 1;
  auto r = Build();
  CRiverNode* group = Cd(r.get(), "MVP1/Enclosure1");
  ASSERT_TRUE(group);
  EXPECT_EQ(group->NodeType(), 7);
  EXPECT_EQ(Get(group, "NumEnclosures"), "2");
  EXPECT_EQ(group->invoke("SilentBuzzer", ""), S_OK);
  CRiverNode* box = Cd(r.get(), "MVP1/Enclosure1/corvane1");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->NodeType(), 17);
  EXPECT_EQ(Get(box, "FanRPM"), "3200");
  EXPECT_EQ(Get(box, "Temperature"), "70");
  EXPECT_EQ(Get(box, "EnclosureType"), "17");

  auto* mvp = static_cast<CIdeController*>(Cd(r.get(), "MVP1"));
  auto sink = Advise(mvp);
  mvp->EnclosureCheck();
  EXPECT_EQ(Get(mvp, "FanRPM"), "3200");
  EXPECT_EQ(Get(mvp, "Power12VStatus"), "1");
  EXPECT_EQ(sink->fired, 1);
  // Stable values: a notification on every 180th check all the same.
  for (int i = 0; i < 179; ++i) mvp->EnclosureCheck();
  EXPECT_EQ(sink->fired, 1);
  mvp->EnclosureCheck();
  EXPECT_EQ(sink->fired, 2);
  // The fan stops.
  fake.enclosureValue[{0, 1}] = 0;
  mvp->EnclosureCheck();
  EXPECT_EQ(Get(mvp, "FanRPM"), "0");
  EXPECT_EQ(sink->fired, 3);
  // The enclosure goes away: the stored values stay.
  fake.enclosureType[0] = -1;
  mvp->EnclosureCheck();
  EXPECT_EQ(Get(mvp, "FanRPM"), "0");
}

}  // namespace
}  // namespace tirrow
