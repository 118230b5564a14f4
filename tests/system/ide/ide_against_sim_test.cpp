// The IDE-family nodes through devio against the simulated Marovelt driver that kelmsim serves in a
// private root. Model time moves only when the test steps it, and the poll is ticked by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "components/framework/component_types.h"
#include "components/framework/interfaces.h"
#include "components/framework/tests/tree_probe.h"
#include "components/ide/ide_log.h"
#include "components/ide/ide_nodes.h"
#include "components/ide/ide_poll.h"
#include "components/ide/tests/tree_helpers.h"
#include "platform/com/activation.h"
#include "platform/com/enum_string.h"
#include "platform/loop/event_loop.h"
#include "platform/registry/registry.h"
#include "tests/system/serial/sim_process.h"
#include "platform/testing/result_values.h"

namespace {

using namespace tirrow;
using kelm::fw::EventRecord;
using plat::com::ComPtr;
using plat::com::makeObject;
using tirrow::testing::Advise;
using tirrow::testing::Children;
using tirrow::testing::Get;

// Waits for another process's progress; the ceiling only keeps a broken build from hanging.
bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 2000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return f();
}

class IdeAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("KELM_TEST_BIN");
    sim = std::make_unique<kelm::systest::SimProcess>(bin ? bin : ".", "ide-e2e");
  }
  void Start(const std::string& scenario = "") {
    std::string args = "start --stepped-clock";
    if (!scenario.empty()) {
      const auto file = sim->root() / "scenario.ini";
      FILE* f = std::fopen(file.c_str(), "w");
      ASSERT_TRUE(f);
      std::fputs(scenario.c_str(), f);
      std::fclose(f);
      args += " --scenario " + file.string();
    }
    std::string out;
    ASSERT_EQ(sim->kelmsim(args, &out), 0) << out;
    root = makeObject<CTirrowRoot>();
    root->Build();
  }
  void TearDown() override {
    if (root) root->Driver()->Shutdown();
    root = nullptr;
    sim.reset();
  }
  std::string Fault(const std::string& args) {
    std::string out;
    EXPECT_EQ(sim->kelmsim("fault " + args, &out), 0) << args << ": " << out;
    return out;
  }
  CRiverNode* Cd(const std::string& path) { return tirrow::testing::Cd(root.get(), path); }

  std::vector<EventRecord> Drain(CRiverNode* controller) {
    return kelm::fw::testing::Drain(*static_cast<CIdeController*>(controller));
  }
  static bool Has(const std::vector<EventRecord>& records, int code) {
    for (const auto& r : records) {
      if (r.code == code) return true;
    }
    return false;
  }
  static std::string Codes(const std::vector<EventRecord>& records) {
    std::string s;
    for (const auto& r : records) s += std::to_string(r.code) + " " + r.title + ": " + r.text + "\n";
    return s;
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) CIdePoll::Get().Tick();
  }

  std::unique_ptr<plat::EventLoop> loop = std::move(*plat::makeEpollLoop());
  std::unique_ptr<kelm::systest::SimProcess> sim;
  ComPtr<CTirrowRoot> root;
};

TEST_F(IdeAgainstSim, TreeMatchesTheDefaultScenario) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(Get(root.get(), "Type"), "VELKARI MaroveltRAID");
  EXPECT_EQ(Children(root.get()), (std::vector<std::string>{"MVP1", "MVP2", "Ary1", "Ary2"}));
  // A mirror of disks 0 and 2 on the first card; RAID 5 of disks 4, 5 and 6 on the second.
  CRiverNode* mirror = Cd("Ary1");
  EXPECT_EQ(Get(mirror, "RAID_Mode"), "MIRRORING");
  EXPECT_EQ(Get(mirror, "Status"), "0");
  EXPECT_EQ(Children(mirror), (std::vector<std::string>{"disk1", "disk2"}));
  EXPECT_EQ(Get(Cd("Ary1/disk1"), "Channel"), "0");
  EXPECT_EQ(Get(Cd("Ary1/disk2"), "Channel"), "1");
  CRiverNode* parity = Cd("Ary2");
  EXPECT_EQ(Get(parity, "RAID_Mode"), "DISTRIBUTED PARITY");
  EXPECT_EQ(Children(parity), (std::vector<std::string>{"disk1", "disk2", "disk3"}));
  EXPECT_NE(Get(parity, "RebuildArray"), "<none>");

  // Disks 0 to 2 on the first card, 4 to 7 on the second, by their place.
  for (const char* card : {"MVP1", "MVP2"}) {
    SCOPED_TRACE(card);
    EXPECT_EQ(Get(Cd(card), "Marovelt"), "yes");
    EXPECT_EQ(Children(Cd(card)), (std::vector<std::string>{"ch1", "ch2", "Enclosure1"}));
    EXPECT_EQ(Children(Cd(std::string(card) + "/ch1")), (std::vector<std::string>{"master", "slave"}));
  }
  EXPECT_EQ(Children(Cd("MVP1/ch2")), (std::vector<std::string>{"master"}));
  EXPECT_EQ(Children(Cd("MVP2/ch2")), (std::vector<std::string>{"master", "slave"}));
  EXPECT_EQ(Get(Cd("MVP1/ch1/master"), "Status"), "512");  // in the mirror
  EXPECT_EQ(Get(Cd("MVP1/ch1/slave"), "Status"), "256");   // disk 1 is free
  EXPECT_NE(Get(Cd("MVP1/ch1/master"), "model"), "Dumb Marovelt!");
  // Enclosures on channels 0 and 2: one under each card.
  EXPECT_EQ(Get(Cd("MVP1/Enclosure1"), "NumEnclosures"), "2");
  EXPECT_EQ(Get(Cd("MVP2/Enclosure1"), "NumEnclosures"), "2");
}

TEST_F(IdeAgainstSim, RebuildRunsToCompletionAndAStopAbortsIt) {
  ASSERT_NO_FATAL_FAILURE(Start());
  CRiverNode* mirror = Cd("Ary1");
  auto mvp = Cd("MVP1");
  Tick();
  Drain(mvp);
  ASSERT_TRUE(Cd("Ary1/disk2"));
  const std::string target = Cd("Ary1/disk2")->HandleText();
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + target), plat::S_OK);
  ASSERT_TRUE(eventually([&] {
    Tick();
    return Get(mirror, "ThrottleStatus") == "1";
  })) << sim->kelmsim("status");
  EXPECT_EQ(Get(mirror, "Status"), "512");
  Fault("step 50000");
  Tick();
  const int half = std::atoi(Get(mirror, "percent").c_str());
  EXPECT_GT(half, 0);
  EXPECT_LT(half, 100);
  Fault("step 60000");
  ASSERT_TRUE(eventually([&] {
    Tick();
    return Get(mirror, "ThrottleStatus") == "0";
  }));
  EXPECT_TRUE(eventually([&] { return !root->Driver()->WorkerBusy(); }));
  // A tick with events reads no tables, and the driver's completion may reach the poll a tick
  // after the worker ends: the mirror is whole again within a few ticks.
  EXPECT_TRUE(eventually([&] {
    Tick();
    return Get(mirror, "Status") == "0";
  })) << Get(mirror, "Status");
  auto records = Drain(mvp);
  EXPECT_TRUE(Has(records, 513)) << Codes(records);  // started
  EXPECT_TRUE(Has(records, 523)) << Codes(records);  // completed

  // Again, and a stop from another handle aborts it.
  ASSERT_TRUE(Cd("Ary1/disk2"));
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + Cd("Ary1/disk2")->HandleText()), plat::S_OK);
  ASSERT_TRUE(eventually([&] {
    Tick();
    return Get(mirror, "ThrottleStatus") == "1";
  }));
  Fault("step 20000");
  EXPECT_EQ(mirror->invoke("RebuildArray", "2048@"), plat::S_OK);
  ASSERT_TRUE(eventually([&] { return !root->Driver()->WorkerBusy(); }));
  ASSERT_TRUE(eventually([&] {
    Tick();
    return Get(mirror, "ThrottleStatus") == "0";
  }));
  records = Drain(mvp);
  EXPECT_TRUE(Has(records, 515)) << Codes(records);  // stopped
}

TEST_F(IdeAgainstSim, ReleaseDoesNotWaitForARunningRebuild) {
  ASSERT_NO_FATAL_FAILURE(Start());
  CRiverNode* mirror = Cd("Ary1");
  ASSERT_TRUE(Cd("Ary1/disk2"));
  EXPECT_EQ(mirror->invoke("RebuildArray", "512@" + Cd("Ary1/disk2")->HandleText()), plat::S_OK);
  ASSERT_TRUE(eventually([&] {
    Tick();
    return Get(mirror, "ThrottleStatus") == "1";
  }));
  ASSERT_TRUE(root->Driver()->WorkerBusy());
  // Model time stands still, so the driver would hold the request for ever: the stop must not wait.
  root->Driver()->Shutdown();
  EXPECT_FALSE(root->Driver()->WorkerBusy());
  EXPECT_FALSE(root->Driver()->StartSynchronise(0, 0));
}

TEST_F(IdeAgainstSim, DiskFailureFiresAndYieldsDecodedRecords) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Tick();
  CRiverNode* mirror = Cd("Ary1");
  auto arraySink = Advise(mirror);
  auto ctrlSink = Advise(Cd("MVP1"));
  Drain(Cd("MVP1"));
  Drain(Cd("MVP2"));
  Fault("disk-fail 2");
  Tick(2);  // the tick with the events, then the one that reads the new tables
  EXPECT_GE(arraySink->fired.load(), 1);
  EXPECT_GE(ctrlSink->fired.load(), 1);
  EXPECT_NE(Get(mirror, "Status"), "0");
  // Each card's controller hands out the same records on its own.
  for (const char* card : {"MVP1", "MVP2"}) {
    auto records = Drain(Cd(card));
    ASSERT_FALSE(records.empty()) << card;
    EXPECT_TRUE(Has(records, 256)) << Codes(records);
    for (const auto& r : records) {
      if (r.code == 256) {
        EXPECT_EQ(r.title, "Drv. Fail");
        EXPECT_NE(r.text.find("(Channel 2, Master)"), std::string::npos) << r.text;
      }
    }
  }
}

TEST_F(IdeAgainstSim, EnclosureAlarmIsReported) {
  ASSERT_NO_FATAL_FAILURE(Start());
  CRiverNode* mvp = Cd("MVP1");
  Tick();  // the first enclosure check
  Drain(mvp);
  const std::string before = Get(mvp, "FanRPM");
  Fault("enclosure 0 fan 500");
  // Up to the next check: every 20 ticks without a change (a tick with events does not count).
  for (int i = 0; i < 40 && Get(mvp, "FanRPM") != "500"; ++i) Tick();
  EXPECT_EQ(Get(mvp, "FanRPM"), "500") << "was " << before;
  auto records = Drain(mvp);
  EXPECT_TRUE(Has(records, 530) || Has(records, 527)) << Codes(records);
}

// The simulated driver refuses to synchronise a critical mirror: the component reads its answer
// and logs the refusal.
TEST_F(IdeAgainstSim, ARefusedSynchroniseIsLoggedWithTheDriversAnswer) {
  ASSERT_NO_FATAL_FAILURE(Start());
  std::vector<std::string> logged;
  SetErrorLog([&](const std::string& t) { logged.push_back(t); });
  Fault("disk-fail 2");
  Tick(2);
  EXPECT_EQ(Cd("Ary1")->invoke("SyncArray", "512"), plat::S_OK);
  EXPECT_TRUE(eventually([&] {
    loop->runOnce(5);
    return !logged.empty();
  }));
  SetErrorLog(nullptr);
  EXPECT_EQ(logged, std::vector<std::string>{"Synchronise Ary1 - refused by the driver (return code 1)"});
}

// The driver reports its voltages in millivolts: the sensors show them so, and an alarm's text
// gives the volts.
TEST_F(IdeAgainstSim, VoltagesAreMillivoltsAndTheAlarmShowsVolts) {
  ASSERT_NO_FATAL_FAILURE(Start());
  CRiverNode* mvp = Cd("MVP1");
  Tick();
  Drain(mvp);
  EXPECT_EQ(Get(mvp, "Power12VStatus"), "12000");
  EXPECT_EQ(Get(Cd("MVP1/Enclosure1/brindle1"), "Power5VStatus"), "5000");
  Fault("enclosure 0 12v 10.5");
  Tick();
  const auto records = Drain(mvp);
  ASSERT_TRUE(Has(records, 529)) << Codes(records);
  for (const auto& r : records) {
    if (r.code == 529) {
      EXPECT_EQ(r.text, "12V Out of Range in Swap Enclosure, Channel 1, Master, 12V=10.5 V");
    }
  }
  for (int i = 0; i < 40 && Get(mvp, "Power12VStatus") != "10500"; ++i) Tick();
  EXPECT_EQ(Get(mvp, "Power12VStatus"), "10500");
}

TEST_F(IdeAgainstSim, BothCardsArePolledOnTheirSchedule) {
  ASSERT_NO_FATAL_FAILURE(Start());
  auto* one = static_cast<CIdeController*>(Cd("MVP1"));
  auto* two = static_cast<CIdeController*>(Cd("MVP2"));
  ASSERT_TRUE(one && two);
  std::vector<int> first, second;
  for (int tick = 1; tick <= 241; ++tick) {
    const int a = one->Refreshes(), b = two->Refreshes();
    Tick();
    if (one->Refreshes() != a) first.push_back(tick);
    if (two->Refreshes() != b) second.push_back(tick);
  }
  EXPECT_EQ(first, (std::vector<int>{121, 241}));
  EXPECT_EQ(second, first);
}

TEST_F(IdeAgainstSim, DriverChecksAgainstTheSimulatedDriver) {
  struct Case {
    const char* fault;  // before the component starts
    const char* type;   // the root's "Type"
  };
  const Case cases[] = {
      {"driver-port 2", "VELKARI MaroveltRAID"},  // ports 0 and 1 belong to other adapters
      {"driver-version 1.10", "Driver not found"},
      {"driver-version 1.11", "VELKARI MaroveltRAID"},
      {"no-driver", "Driver not found"},
  };
  std::string out;
  ASSERT_EQ(sim->kelmsim("start --stepped-clock", &out), 0) << out;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Fault(c.fault);
    auto r = makeObject<CTirrowRoot>();
    r->Build();
    EXPECT_EQ(Get(r.get(), "Type"), c.type);
    EXPECT_EQ(Children(r.get()).size(), std::string(c.type) == "Driver not found" ? 0u : 4u);
    r = nullptr;
    sim->kelmsim("stop");
    ASSERT_EQ(sim->kelmsim("start --stepped-clock", &out), 0) << out;
  }

  // Table reads with the wrong length: one is retried, two fail the read.
  const std::pair<const char*, std::vector<std::string>> reads[] = {
      {"wrong-length 1 4", {"MVP1", "MVP2", "Ary1", "Ary2"}},
      {"wrong-length 2 4", {"MVP1", "MVP2"}},
      {"fail-requests 1 6", {"MVP1", "MVP2", "Ary1", "Ary2"}},
  };
  for (const auto& [fault, children] : reads) {
    SCOPED_TRACE(fault);
    Fault(fault);
    auto r = makeObject<CTirrowRoot>();
    r->Build();
    EXPECT_EQ(Children(r.get()), children);
    r = nullptr;
    Fault("protocol-clear");
  }
}

// The library registered by kelmregsvr as the agent finds it, created by its class id and walked.
TEST_F(IdeAgainstSim, RegisteredAndCreatedByClassId) {
  // A root of its own name: this process keeps the registry hive of a root path it used once open.
  const char* bin = std::getenv("KELM_TEST_BIN");
  const char* lib = std::getenv("KELM_TEST_LIB");
  ASSERT_TRUE(bin && lib);
  sim = std::make_unique<kelm::systest::SimProcess>(bin, "ide-registration");
  std::string out;
  ASSERT_EQ(sim->kelmsim("start --stepped-clock", &out), 0) << out;
  const std::string cmd = std::string(bin) + "/kelmregsvr -s '" + lib + "/libtirrow.so'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  auto entry = plat::reg::Key::open(plat::reg::Hive::LocalMachine,
                                    std::string(kelm::fw::kIoClsidKey) + "\\" + kelm::fw::kTirrow.clsid.toString());
  ASSERT_TRUE(entry);
  EXPECT_EQ(plat::testing::valueOf(entry->getString("")), "MV_RAID");
  EXPECT_EQ(plat::testing::valueOf(entry->getString("ProgID")), "VelkariRAID.MaroveltRAID.1");

  ComPtr<kelm::fw::IRiver> river;
  ASSERT_EQ(plat::com::CoCreateInstance(kelm::fw::kTirrow.clsid, plat::com::CLSCTX_INPROC_SERVER, river), plat::S_OK);
  std::string type;
  river->get("Type", &type);
  EXPECT_EQ(type, "VELKARI MaroveltRAID");
  ComPtr<plat::com::IUnknown> u;
  ASSERT_EQ(river->dir(u.put()), plat::S_OK);
  std::vector<std::string> lines;
  u.as<plat::com::IEnumString>()->Next(100, lines);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "MVP1@o--@19"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Ary2@o--@18"), lines.end());
  ASSERT_EQ(river->cd("MVP1", u.put()), plat::S_OK);
  auto controller = u.as<kelm::fw::IEventLog>();
  ASSERT_TRUE(controller);
  std::uint32_t n = 99;
  EXPECT_EQ(controller->GetNewCount(&n), plat::S_OK);
  EXPECT_EQ(n, 0u);
}

}  // namespace
