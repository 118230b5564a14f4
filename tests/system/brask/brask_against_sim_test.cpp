// The serial-family nodes through the real serial access library, against the simulated subsystem
// on its pseudo-terminal. The library's waits are scaled down a hundredfold and its read time-outs
// capped; model time moves only when the test steps it, and the poll is ticked by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "components/framework/interfaces.h"
#include "components/serial/brask_root.h"
#include "components/serial/poll_registry.h"
#include "components/serial/raid_api.h"
#include "platform/com/enum_string.h"
#include "serialapi/glimmora_api.h"
#include "tests/system/serial/capped_port.h"
#include "tests/system/serial/sim_process.h"
#include "platform/testing/manual_clock.h"

namespace {

using namespace kelm;
using Lines = std::vector<std::string>;

bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 1000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return f();
}

// The library's waits, a hundredth of their length.
class ScaledSleeper final : public plat::Sleeper {
 public:
  void sleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::microseconds(ms * 10)); }
};

// The root's wait for a new link: as long as the link takes to come up here, within reason, so that
// the test does not hang on the machine's speed.
class LinkWaiter final : public plat::Sleeper {
 public:
  void sleepMs(std::uint32_t) override {
    eventually([] { return raIsComportReady() != 0; });
  }
};

class BraskAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("KELM_TEST_BIN");
    sim = std::make_unique<systest::SimProcess>(bin ? bin : ".", "brask-e2e");
    std::string out;
    ASSERT_EQ(sim->kelmsim("start --stepped-clock", &out), 0) << out;
    glimmora::LinkEnv env;
    env.sleeper = &scaled;
    env.openPort = systest::CappedPort::open;
    env.readSettings = [] { return glimmora::Settings{}; };  // no autoconnect: the root asks for the link
    lib = std::make_unique<glimmora::Glimmora>(std::move(env));
    glimmora::setInstanceForTesting(lib.get());
    brask::SetApi(nullptr);  // the real library
    brask::Environment benv;
    benv.sleeper = &waiter;
    benv.clock = &clock;
    benv.log = [this](std::string_view text) { logged.emplace_back(text); };
    brask::SetEnvironment(std::move(benv));
  }
  void TearDown() override {
    root = nullptr;
    brask::SetEnvironment({});
    glimmora::setInstanceForTesting(nullptr);
    lib.reset();
    sim.reset();
  }

  void Build() {
    root = plat::com::makeObject<brask::CBraskRoot>();
    root->Build();
  }
  void Fault(const std::string& args) {
    std::string out;
    ASSERT_EQ(sim->kelmsim("fault " + args, &out), 0) << out;
  }
  // Ticks the component's timer up to and through its next poll.
  void Poll() {
    do {
      brask::PollRegistry::Get().Tick();
    } while ((brask::PollRegistry::Get().TickCount() - 1) % brask::PollRegistry::kPollEvery != 0);
  }

  // The node at a path below the root, as the agent reaches it.
  plat::com::ComPtr<fw::IRiver> Node(const std::string& path) {
    plat::com::ComPtr<fw::IRiver> node(static_cast<fw::IRiver*>(root.get()));
    std::size_t start = 0;
    while (node && start < path.size()) {
      std::size_t slash = path.find('/', start);
      std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
      plat::com::IUnknown* child = nullptr;
      if (node->cd(name, &child) != plat::S_OK || !child) return nullptr;
      node = plat::com::ComPtr<fw::IRiver>::adopt(static_cast<fw::IRiver*>(child));
      start = slash == std::string::npos ? path.size() : slash + 1;
    }
    return node;
  }
  std::string Get(const std::string& path, const std::string& name) {
    auto node = Node(path);
    std::string value = "<none>";
    if (node) node->get(name, &value);
    return value;
  }
  void Invoke(const std::string& path, const std::string& method, const std::string& arg) {
    auto node = Node(path);
    ASSERT_TRUE(node) << path;
    EXPECT_EQ(node->invoke(method, arg), plat::S_OK) << method;
  }
  // Every child below a node, one line each: indent, name and node type, through dir and cd.
  void ListTree(fw::IRiver& node, const std::string& indent, Lines& out) {
    plat::com::IUnknown* u = nullptr;
    ASSERT_EQ(node.dir(&u), plat::S_OK);
    auto e = plat::com::ComPtr<plat::com::IUnknown>::adopt(u).as<plat::com::IEnumString>();
    ASSERT_TRUE(e);
    Lines entries;
    e->Next(1000, entries);
    for (const auto& line : entries) {
      auto first = line.find('@');
      if (line.compare(first, 5, "@o--@") != 0) continue;
      std::string name = line.substr(0, first);
      out.push_back(indent + name + " " + line.substr(first + 5));
      plat::com::IUnknown* child = nullptr;
      ASSERT_EQ(node.cd(name, &child), plat::S_OK);
      auto c = plat::com::ComPtr<fw::IRiver>::adopt(static_cast<fw::IRiver*>(child));
      ListTree(*c, indent + "  ", out);
    }
  }
  Lines Tree() {
    Lines out;
    ListTree(*root, "", out);
    return out;
  }
  // The controller's new event records, with the time left out.
  Lines Events() {
    auto node = Node("Controller1");
    if (!node) return {"<no controller>"};
    auto log = node.as<fw::IEventLog>();
    if (!log) return {"<no event log>"};
    std::uint32_t n = 0;
    log->GetNewCount(&n);
    Lines out;
    for (std::uint32_t i = 0; i < n; ++i) {
      std::string record;
      log->ReadEventLog(&record, nullptr);
      if (record.empty()) continue;
      auto a = record.find('@'), b = record.find('@', a + 1);
      out.push_back(record.substr(0, a) + record.substr(b));
    }
    return out;
  }

  static Lines DefaultTree() {
    return {"Controller1 23",  "  ch1 20",      "  ch2 20",     "    master 24", "  ch3 20",    "    master 24",
            "  ch4 20",        "    master 24", "  ch5 20",     "    master 24", "  ch6 20",    "    master 24",
            "  Enclosure1 25", "  Array1 22",   "    disk1 24", "    disk2 24",  "    disk3 24"};
  }

  std::unique_ptr<systest::SimProcess> sim;
  ScaledSleeper scaled;
  LinkWaiter waiter;
  plat::ManualClock clock;
  std::unique_ptr<glimmora::Glimmora> lib;
  std::vector<std::string> logged;
  plat::com::ComPtr<brask::CBraskRoot> root;
};

TEST_F(BraskAgainstSim, TheTreeOfTheDefaultSubsystem) {
  Build();
  EXPECT_EQ(Get("", "ComportStatus"), "Connected");
  EXPECT_EQ(Tree(), DefaultTree());
  EXPECT_EQ(Get("Controller1", "HWVersion"), "Sorventic Kestle");
  EXPECT_EQ(Get("Controller1", "RaidapiVersion"), "1.11");
  EXPECT_EQ(Get("Controller1", "FirmwareVersion"), "3.1.2.2");
  EXPECT_EQ(Get("Controller1", "hasSpare"), "1");
  EXPECT_EQ(Get("Controller1", "ArrayAct"), "0");
  EXPECT_EQ(Get("Controller1/Array1", "name"), "Data");
  EXPECT_EQ(Get("Controller1/Array1", "RAID_Mode"), "RAID5(PARITY-DISTRIBUTED)");
  EXPECT_EQ(Get("Controller1/Array1", "Size"), "149.060 GB (152638 MB)") << "two of three 76319 MB disks";
  EXPECT_EQ(Get("Controller1/Array1", "Status"), "0");
  EXPECT_EQ(Get("Controller1/Array1", "ThrottleStatus"), "2");
  EXPECT_EQ(Get("Controller1/Array1/disk2", "Channel"), "2");
  EXPECT_EQ(Get("Controller1/ch2/master", "model"), "SV-DISK 1");
  EXPECT_EQ(Get("Controller1/ch2/master", "Size"), "74.530 GB (76319 MB)");
  EXPECT_EQ(Get("Controller1/ch2/master", "Status"), "512") << "a member";
  EXPECT_EQ(Get("Controller1/ch5/master", "Status"), "256") << "a free disk";
  EXPECT_EQ(Get("Controller1/Enclosure1", "NumFan"), "2");
  EXPECT_EQ(Get("Controller1/Enclosure1", "fanrpm1"), "3200");
  EXPECT_EQ(Get("Controller1/Enclosure1", "fanrpm3"), "-1");
  EXPECT_TRUE(Events().empty());
}

TEST_F(BraskAgainstSim, AnArrayIsCreatedRenamedRebuiltSynchronisedExpandedAndConverted) {
  Build();
  // Device numbers 1 to 5 are the disks': the new array takes 6, shown as Array7.
  Invoke("Controller1", "CreateArray", "Array@RAID1(MIRROR)@2@4@5@64");
  EXPECT_EQ(Get("Controller1/Array7", "RAID_Mode"), "RAID1(MIRROR)");
  EXPECT_EQ(Get("Controller1/Array7/disk2", "Channel"), "5");
  EXPECT_EQ(Events(), Lines{"519@3@Array Created@Create a new array 7."});
  Invoke("Controller1/Array7", "rename", "Mirror");
  EXPECT_EQ(Get("Controller1/Array7", "name"), "Mirror");
  Node("Controller1/Array7")->refresh();
  EXPECT_EQ(Get("Controller1/Array7", "name"), "Mirror") << "the subsystem keeps the new name";

  // A member fails, a new disk arrives, and the mirror is rebuilt onto it.
  Fault("fail-disk 5");
  Fault("add-disk 7");
  Poll();
  EXPECT_EQ(Get("Controller1/Array7", "Status"), std::to_string(static_cast<std::int32_t>(0x80000001u)));
  EXPECT_EQ(Events(),
            (Lines{"256@3@Disk Down@Disk Set Down: 6.", "522@3@Array Degraded@Array 7 has entered degraded mode.",
                   "257@3@Disk Plugin@Disk Plugged in: 8."}));
  Invoke("Controller1/Array7", "RebuildArray", "512@7");
  Fault("step 4000");
  Poll();
  EXPECT_EQ(Get("Controller1/Array7", "Status"), "512");
  EXPECT_EQ(Get("Controller1/Array7", "ThrottleStatus"), "1");
  EXPECT_EQ(Get("Controller1/Array7", "percent"), "40");
  Fault("step 6000");
  Poll();
  EXPECT_EQ(Get("Controller1/Array7", "Status"), "0");
  EXPECT_EQ(Get("Controller1/Array7/disk2", "Channel"), "7") << "the new disk took the failed one's place";
  EXPECT_EQ(Events(), (Lines{"513@3@Array Rebld. Started@Array 7 rebuilding started",
                             "523@3@Array Rebld. Completed@Rebuild succesfully completed for Drive 8 in Array 7."}));

  Invoke("Controller1/Array1", "SyncArray", "512");
  Poll();
  EXPECT_EQ(Get("Controller1/Array1", "Status"), "256");
  Fault("step 10000");
  Poll();
  EXPECT_EQ(Get("Controller1/Array1", "Status"), "0");
  EXPECT_EQ(Events(), (Lines{"516@3@Array Sync. Started@Synchronization begun for Array 1.",
                             "524@3@Array Sync. Completed@Synchronization successfully completed on Array 1."}));

  Fault("add-disk 8");
  Invoke("Controller1/Array1", "ArrayExpansion", "1@8");
  Poll();
  EXPECT_EQ(Get("Controller1/Array1", "Status"), "768");
  Fault("step 10000");
  Poll();
  EXPECT_EQ(Tree().size(), DefaultTree().size() + 4) << "Array7 with two disks, and Array1's fourth disk";
  EXPECT_EQ(Get("Controller1/Array1/disk4", "Channel"), "8");
  Invoke("Controller1/Array1", "ArrayConversion", "RAID0(STRIPING)@4@1@2@3@8");
  Poll();
  EXPECT_EQ(Get("Controller1/Array1", "Status"), "1024");
  Fault("step 10000");
  Poll();
  EXPECT_EQ(Get("Controller1/Array1", "RAID_Mode"), "RAID0(STRIPING)");
  EXPECT_EQ(Get("Controller1/Array1", "RebuildArray"), "0") << "a stripe set cannot be rebuilt";
  EXPECT_EQ(Events(),
            (Lines{"257@3@Disk Plugin@Disk Plugged in: 9.", "519@3@Array Conv/Expan.@Expansion  started on Array #1",
                   "519@3@Array Conv/Expan.@Conversion started on Array #1"}));

  // The subsystem refuses a conversion the mirror's two disks cannot carry.
  Invoke("Controller1/Array7", "ArrayConversion", "RAID5(PARITY-DISTRIBUTED)@2@4@7");
  EXPECT_EQ(Events(), Lines{"521@3@Array Operation Err.@Conversion failed - Incorrect Array Size"});

  Invoke("Controller1", "DeleteArray", "6");
  EXPECT_EQ(Node("Controller1/Array7"), nullptr);
  EXPECT_EQ(Events(), Lines{"520@3@Array Deleted@Delete array 7."});
  EXPECT_EQ(logged, std::vector<std::string>{"Conversion of Array7 failed: Generic Error (2)"})
      << "the refused conversion, and nothing else";
}

TEST_F(BraskAgainstSim, CablePulledThenDisconnectedThenReconnected) {
  Build();
  Fault("unplug");
  Poll();  // the controller's poll finds the line dead
  Poll();  // and the root's next poll drops the controller
  EXPECT_EQ(Get("", "ComportStatus"), "Disconnected");
  EXPECT_TRUE(Tree().empty());
  Poll();
  EXPECT_EQ(Get("", "ComportStatus"), "Disconnected");

  Fault("plug");
  Invoke("", "connectComPort", "");
  ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; }));
  Poll();
  EXPECT_EQ(Get("", "ComportStatus"), "Ready");
  EXPECT_EQ(Tree(), DefaultTree());
  Poll();
  EXPECT_EQ(Get("", "ComportStatus"), "Connected");
  EXPECT_EQ(Get("Controller1/Array1", "name"), "Data");
}

}  // namespace
