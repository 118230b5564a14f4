// Vantrel's nodes through devio against the simulated Palindrex driver that kelmsim serves in a
// private root. Model time moves only when the test steps it, and the poll is ticked by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "components/framework/tests/tree_probe.h"
#include "components/iop/iop_api.h"
#include "components/iop/iop_controller.h"
#include "components/iop/iop_nodes.h"
#include "components/iop/iop_poll.h"
#include "components/iop/iop_root.h"
#include "platform/com/object.h"
#include "tests/system/serial/sim_process.h"

namespace kelm::iop {
namespace {

using fw::CRiverNode;
using fw::EventRecord;

class IopAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPath();
    PollList::Get().ResetCounter();
    std::string out;
    ASSERT_EQ(sim.kelmsim("start --stepped-clock", &out), 0) << out;
    root = plat::com::makeObject<CVantrelRoot>();
    root->Build();
  }
  void TearDown() override {
    root = nullptr;
    ResetPath();
  }
  std::string Kelmsim(const std::string& args) {
    std::string out;
    EXPECT_EQ(sim.kelmsim(args, &out), 0) << args << ": " << out;
    return out;
  }
  CRiverNode* Cd(const std::string& path) { return fw::testing::ChildAt(root.get(), path); }
  static std::string Get(CRiverNode* n, const std::string& name) { return n ? fw::testing::ValueOf(n, name) : "<no node>"; }
  static std::vector<std::string> Children(CRiverNode* n) {
    return n ? fw::testing::ChildNames(n) : std::vector<std::string>{"<no node>"};
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) PollList::Get().Tick();
  }
  std::vector<EventRecord> Drain(CRiverNode* controller) {
    auto* log = dynamic_cast<CIopController*>(controller);
    return log ? fw::testing::Drain(*log) : std::vector<EventRecord>{};
  }
  static std::vector<int> Codes(const std::vector<EventRecord>& records) {
    std::vector<int> codes;
    for (const auto& r : records) codes.push_back(r.code);
    return codes;
  }
  static std::string Texts(const std::vector<EventRecord>& records) {
    std::string s;
    for (const auto& r : records) s += std::to_string(r.code) + " " + r.title + ": " + r.text + "\n";
    return s;
  }
  // Polls until the array's task shows `throttle`, at most a few rounds of the poll.
  bool PollUntil(CRiverNode* array, const std::string& throttle) {
    for (int i = 0; i < 6; ++i) {
      Tick();
      if (Get(array, "ThrottleStatus") == throttle) return true;
    }
    return false;
  }

  const char* bin = std::getenv("KELM_TEST_BIN");
  kelm::systest::SimProcess sim{bin ? bin : ".", "iop-e2e"};
  plat::com::ComPtr<CVantrelRoot> root;
};

TEST_F(IopAgainstSim, TreeOfTheDefaultScenario) {
  EXPECT_EQ(Get(root.get(), "Type"), "VELKARI I2O RAID (QX6000 Compatible)");
  EXPECT_EQ(Children(root.get()), (std::vector<std::string>{"IOP1", "IOP2"}));
  // IOP1: channels 0-3 of kind 1 and 4 of kind 2, the enclosure, the mirror and the RAID 5 array.
  CRiverNode* one = Cd("IOP1");
  EXPECT_EQ(Children(one), (std::vector<std::string>{"ch1", "ch2", "ch3", "ch4", "ch5", "Enclosure1", "Array1",
                                                      "Array2"}));
  EXPECT_EQ(Get(one, "HWVersion"), "Palindrex QX6000 ");
  EXPECT_EQ(Get(one, "IsQx6"), "1");
  EXPECT_EQ(Children(Cd("IOP1/ch1")), (std::vector<std::string>{"master", "slave"}));
  EXPECT_EQ(Children(Cd("IOP1/ch3")), (std::vector<std::string>{"master"}));
  EXPECT_EQ(Children(Cd("IOP1/ch5")), (std::vector<std::string>{"disk1"}));
  EXPECT_EQ(Children(Cd("IOP1/Enclosure1")), (std::vector<std::string>{"brindle1", "corvane4"}))
      << "enclosures on channels 0 and 3";
  CRiverNode* disk = Cd("IOP1/ch1/master");
  EXPECT_EQ(Get(disk, "DiskHandle"), std::to_string(0x100));
  EXPECT_EQ(Get(disk, "model"), "PX36 ULTRA");
  EXPECT_EQ(Get(disk, "Size"), "36.00 GB");
  EXPECT_EQ(Get(disk, "Channel"), "0");
  EXPECT_EQ(Get(Cd("IOP1/ch1/slave"), "model"), "PX18 ULTRA");

  CRiverNode* mirror = Cd("IOP1/Array1");
  EXPECT_EQ(Get(mirror, "name"), "Array1");
  EXPECT_EQ(Get(mirror, "ArrayHandle"), std::to_string(0x200));
  EXPECT_EQ(Get(mirror, "RAID_Mode"), "RAID1(MIRROR)");
  EXPECT_EQ(Get(mirror, "Status"), "0") << "read at the array's start, before any poll";
  EXPECT_EQ(Get(mirror, "ThrottleStatus"), "0");
  Tick(2);  // the poll reads the arrays' states on two ticks of three
  EXPECT_EQ(Get(mirror, "Status"), "0");
  EXPECT_EQ(Get(mirror, "ThrottleStatus"), "0");
  EXPECT_EQ(Children(mirror), (std::vector<std::string>{"master00", "master10"}));
  CRiverNode* parity = Cd("IOP1/Array2");
  EXPECT_EQ(Get(parity, "ArrayHandle"), std::to_string(0x201));
  EXPECT_EQ(Get(parity, "RAID_Mode"), "RAID5(PARITY-DISTRIBUTED)");
  EXPECT_EQ(Children(parity), (std::vector<std::string>{"slave01", "slave11", "master20"}));

  // IOP2: two free disks on two channels, no arrays.
  CRiverNode* two = Cd("IOP2");
  EXPECT_EQ(Get(two, "HWVersion"), "Palindrex RX5000 ");
  EXPECT_EQ(Get(two, "IsQx6"), "0");
  EXPECT_EQ(Children(two), (std::vector<std::string>{"ch1", "ch2", "Enclosure1"}));
  EXPECT_EQ(Get(Cd("IOP2/ch2/master"), "model"), "PX73 ULTRA");
  EXPECT_EQ(Get(Cd("IOP2/ch2/master"), "Status"), std::to_string(0x100));
}

TEST_F(IopAgainstSim, DriveFailureNotifiesAndYieldsTheEventRecords) {
  CRiverNode* one = Cd("IOP1");
  CRiverNode* mirror = Cd("IOP1/Array1");
  ASSERT_TRUE(one && mirror);
  Tick(3);
  Drain(one);
  auto arraySink = fw::testing::Watch(mirror);
  Kelmsim("fault iop:disk-fail 0 0 0");  // disk 0x100, a member of the mirror
  Tick(3);
  EXPECT_NE(std::find(arraySink->codes.begin(), arraySink->codes.end(), fw::kNotifyChanged), arraySink->codes.end());
  EXPECT_EQ(Get(mirror, "Status"), std::to_string(static_cast<std::int32_t>(0x80000001u))) << "critical, signed";
  auto controllerSink = fw::testing::Watch(one);
  auto records = Drain(one);
  EXPECT_EQ(Codes(records), (std::vector<int>{256, 522})) << Texts(records);
  // The failed drive's record rescans the controller, which tells its clients.
  EXPECT_NE(std::find(controllerSink->codes.begin(), controllerSink->codes.end(), fw::kNotifyChanged),
            controllerSink->codes.end());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].text.find("0x00000100"), std::string::npos) << records[0].text;
  EXPECT_NE(records[1].text.find("Array1"), std::string::npos) << records[1].text;
  EXPECT_TRUE(Drain(one).empty()) << "read once";
  EXPECT_TRUE(Drain(Cd("IOP2")).empty()) << "the other card has its own FIFO";
}

TEST_F(IopAgainstSim, RebuildPausedContinuedAndStopped) {
  CRiverNode* one = Cd("IOP1");
  ASSERT_TRUE(one);
  Kelmsim("fault iop:disk-fail 0 0 0");
  Kelmsim("fault iop:disk-insert 0 0 0");
  Tick(3);
  Drain(one);
  CRiverNode* mirror = Cd("IOP1/Array1");
  CRiverNode* fresh = Cd("IOP1/ch1/master");
  ASSERT_TRUE(mirror && fresh);
  const std::string disk = Get(fresh, "DiskHandle");
  EXPECT_EQ(mirror->InvokeHandler("RebuildArray", "512@" + disk), 0) << Kelmsim("status");
  ASSERT_TRUE(PollUntil(mirror, "1")) << Kelmsim("status");
  EXPECT_EQ(std::stoul(Get(mirror, "Status")) & 0xFF00, 0x200u) << "rebuilding";
  Kelmsim("fault step 30000");
  Tick(2);
  EXPECT_EQ(Get(mirror, "percent"), "30");

  EXPECT_EQ(mirror->InvokeHandler("RebuildArray", "1024"), 0);  // pause
  ASSERT_TRUE(PollUntil(mirror, "4"));
  Kelmsim("fault step 50000");
  Tick(2);
  EXPECT_EQ(Get(mirror, "percent"), "30") << "a paused task stands still";

  EXPECT_EQ(mirror->InvokeHandler("RebuildArray", "256"), 0);  // continue
  ASSERT_TRUE(PollUntil(mirror, "1"));
  Kelmsim("fault step 30000");
  Tick(2);
  EXPECT_EQ(Get(mirror, "percent"), "60");

  EXPECT_EQ(mirror->InvokeHandler("RebuildArray", "2048"), 0);  // stop
  ASSERT_TRUE(PollUntil(mirror, "0")) << Kelmsim("status");
  EXPECT_EQ(std::stoul(Get(mirror, "Status")) & 0xFF00, 0u);
  auto records = Drain(one);
  std::vector<int> codes = Codes(records);
  codes.erase(std::remove(codes.begin(), codes.end(), 257), codes.end());  // the inserted disk
  EXPECT_EQ(codes, (std::vector<int>{513, 515})) << Texts(records);

  // Started again, it runs to its end.
  EXPECT_EQ(mirror->InvokeHandler("RebuildArray", "512@" + disk), 0) << Kelmsim("status");
  ASSERT_TRUE(PollUntil(mirror, "1"));
  Kelmsim("fault step 100000");
  ASSERT_TRUE(PollUntil(mirror, "0"));
  Tick(3);
  EXPECT_EQ(Get(mirror, "Status"), "0") << Kelmsim("status");
  records = Drain(one);
  EXPECT_EQ(Codes(records), (std::vector<int>{513, 523})) << Texts(records);
}

TEST_F(IopAgainstSim, AnArrayOfMoreThanSixteenMembersStaysInTheTree) {
  Kelmsim("fault iop:long-members 20");
  // A restart reads the long member lists afresh.
  root = nullptr;
  ResetPath();
  root = plat::com::makeObject<CVantrelRoot>();
  root->Build();
  auto* mirror = dynamic_cast<CIopArray*>(Cd("IOP1/Array1"));
  ASSERT_NE(mirror, nullptr) << Kelmsim("status");
  EXPECT_EQ(mirror->Members().size(), 16u);
  ASSERT_NE(Cd("IOP1/Array2"), nullptr);
  // A change of state makes the poll read the list again; the array stays.
  Kelmsim("fault iop:disk-fail 0 0 0");
  Tick(3);
  EXPECT_EQ(Cd("IOP1/Array1"), mirror);
  EXPECT_EQ(Get(mirror, "Status"), std::to_string(static_cast<std::int32_t>(0x80000001u))) << "critical, signed";
  EXPECT_EQ(mirror->Members().size(), 16u);
}

TEST_F(IopAgainstSim, CreateArrayReachesTheCardWithItsDisksInOrder) {
  CRiverNode* two = Cd("IOP2");
  CRiverNode* second = Cd("IOP2/ch2/master");
  CRiverNode* first = Cd("IOP2/ch1/master");
  ASSERT_TRUE(two && first && second);
  auto sink = fw::testing::Watch(two);
  // The higher handle first: the card keeps the members in the order they were given.
  EXPECT_EQ(two->InvokeHandler("CreateArray", "New@RAID1(MIRROR)@2@" + second->HandleText() + "@" +
                                                  first->HandleText() + "@64@0@0"),
            0);
  EXPECT_NE(std::find(sink->codes.begin(), sink->codes.end(), fw::kNotifyChanged), sink->codes.end());
  const std::string status = Kelmsim("status");
  EXPECT_NE(status.find("\"New\" raid1 functional members 0x101 0x100"), std::string::npos) << status;
  EXPECT_EQ(Children(two), (std::vector<std::string>{"ch1", "ch2", "Enclosure1", "Array1"}));
  CRiverNode* array = Cd("IOP2/Array1");
  EXPECT_EQ(Get(array, "RAID_Mode"), "RAID1(MIRROR)");
  // The array's disks show by their place, whatever the order of its members.
  EXPECT_EQ(Children(array), (std::vector<std::string>{"master00", "master10"}));

  // A disk the controller does not have: nothing reaches the card.
  EXPECT_EQ(two->InvokeHandler("CreateArray", "Bad@SPAN@2@" + first->HandleText() + "@999999@64@0@0"), 0);
  const std::string after = Kelmsim("status");
  EXPECT_EQ(after.find("\"Bad\""), std::string::npos) << after;
}

}  // namespace
}  // namespace kelm::iop
