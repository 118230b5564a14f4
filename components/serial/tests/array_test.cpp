// The array, disk, channel and enclosure nodes.
#include "components/serial/serial_devices.h"
#include "components/serial/tests/brask_fixture.h"

using namespace kelm;
using namespace kelm::brask;
using namespace kelm::brask::testing;

namespace {

using Names = std::vector<std::string>;

class ArrayTest : public BraskTest {
 protected:
  fw::CRiverNode* Node(const std::string& path) {
    if (roots.empty()) MakeRoot();
    return Child(roots.front().get(), "Controller1/" + path);
  }
  CSerialArray* Array() { return static_cast<CSerialArray*>(Node("Array1")); }
};

TEST_F(ArrayTest, ValuesOfAnArray) {
  CSerialArray* a = Array();
  EXPECT_EQ(a->NodeType(), 22);
  EXPECT_EQ(Value(a, "ArrayHandle"), "0");
  EXPECT_EQ(Value(a, "RAID_Mode"), "RAID5(PARITY-DISTRIBUTED)");
  EXPECT_EQ(Value(a, "Block Size"), "64");
  EXPECT_EQ(Value(a, "Size"), "2.000 GB (2048 MB)");
  EXPECT_EQ(Value(a, "name"), "Data");
  EXPECT_EQ(Value(a, "Status"), "0");
  EXPECT_EQ(Value(a, "ThrottleStatus"), "2");
  EXPECT_EQ(a->FindDrop("ThrottleStatus")->mode, "prv");
  EXPECT_EQ(Value(a, "percent"), "0");
  EXPECT_EQ(Value(a, "ArrayAct"), "0");
  EXPECT_EQ(Value(a, "GetAutoSeqRandDet"), "0");
  EXPECT_EQ(ChildNames(a), (Names{"disk1", "disk2", "disk3"}));

  api.arrays[0].state = 1;
  api.arrays[0].activity = 1;
  api.arrays[0].percent = 40;
  a->refresh();
  EXPECT_EQ(Value(a, "Status"), "512") << "rebuilding";
  EXPECT_EQ(Value(a, "ThrottleStatus"), "1");
  EXPECT_EQ(Value(a, "percent"), "40");
  EXPECT_EQ(Value(a, "ArrayAct"), "1");
  api.arrays[0].activity = -1;
  a->refresh();
  EXPECT_EQ(Value(a, "Status"), std::to_string(static_cast<std::int32_t>(0x80000001u))) << "degraded and idle";
  EXPECT_EQ(Value(a, "ThrottleStatus"), "2");

  api.fail["raGetArrayName"] = 2;
  a->refresh();
  EXPECT_EQ(Value(a, "name"), "Array1") << "the name it was made with";
}

TEST_F(ArrayTest, RightsFollowTheMode) {
  const std::uint32_t work = 0x0800003C;
  const struct {
    int libraryIndex;
    std::uint32_t rebuild, sync, conversion, expansion, stop;
  } rows[] = {
      {5, work, work, work, work, work},  // RAID5
      {1, work, work, work, work, work},  // RAID1
      {3, 0, 0, work, work, work},        // SPAN
      {0, 0, 0, work, work, work},        // RAID0
      {6, work, work, 0, 0, 0},           // RAID30
      {7, work, work, 0, 0, 0},           // RAID50
  };
  CSerialArray* a = Array();
  for (const auto& r : rows) {
    SCOPED_TRACE(r.libraryIndex);
    api.arrays[0].libraryIndex = r.libraryIndex;
    a->refresh();
    EXPECT_EQ(Rights(a, "RebuildArray"), r.rebuild);
    EXPECT_EQ(Rights(a, "SyncArray"), r.sync);
    EXPECT_EQ(Rights(a, "ArrayConversion"), r.conversion);
    EXPECT_EQ(Rights(a, "ArrayExpansion"), r.expansion);
    EXPECT_EQ(Rights(a, "StopConversion"), r.stop);
    EXPECT_EQ(Rights(a, "rename"), 16u);
    EXPECT_EQ(Rights(a, "ForceIT"), 0xF7FFFFFFu);
    EXPECT_EQ(Rights(a, "GUI_Status"), 0xF7FFFFFFu);
    EXPECT_EQ(Rights(a, "SetAutoSeqRandDet"), work);
  }
}

TEST_F(ArrayTest, RebuildAndSynchroniseArguments) {
  CSerialArray* a = Array();
  const struct {
    const char* method;
    const char* arg;
    Names calls;
  } rows[] = {
      {"RebuildArray", "512@5", {"raArrayRebuildDisk(0,5,2)"}},
      {"RebuildArray", "512", {"raArrayRebuildDisk(0,-1,2)"}},
      {"RebuildArray", "512@", {"raArrayRebuildDisk(0,-1,2)"}},
      {"RebuildArray", "512@-1", {"raArrayRebuildDisk(0,-1,2)"}},
      {"RebuildArray", "2048", {"raAbortArryRebuild(0)"}},
      {"RebuildArray", "2048@", {"raAbortArryRebuild(0)"}},
      {"RebuildArray", "256", {}},
      {"RebuildArray", "256@3", {}},
      {"RebuildArray", "1024", {}},
      {"RebuildArray", "", {}},
      {"RebuildArray", "512@disk", {}},
      {"RebuildArray", "512@255", {}},
      {"RebuildArray", "x512@5", {}},
      {"SyncArray", "512", {"raArraySynchronize(0,2)"}},
      {"SyncArray", "2048", {"raAbortArryRebuild(0)"}},
      {"SyncArray", "256", {}},
      {"SyncArray", "", {}},
  };
  for (const auto& r : rows) {
    api.calls.clear();
    EXPECT_EQ(a->invoke(r.method, r.arg), plat::S_OK);
    EXPECT_EQ(api.calls, r.calls) << r.method << " " << r.arg;
  }
}

TEST_F(ArrayTest, RenameAndSequentialDetection) {
  CSerialArray* a = Array();
  auto seen = Watch(a);
  a->invoke("rename", "Backup");
  EXPECT_EQ(Value(a, "name"), "Backup");
  EXPECT_EQ(seen->codes, std::vector<std::uint32_t>{8194});
  api.calls.clear();
  a->invoke("rename", std::string(80, 'n'));
  EXPECT_EQ(api.calls, Names{"raSetArrayName(0," + std::string(63, 'n') + ")"});
  api.fail["raSetArrayName"] = 2;
  a->invoke("rename", "Other");
  EXPECT_EQ(Value(a, "name"), std::string(63, 'n'));

  api.calls.clear();
  a->invoke("SetAutoSeqRandDet", "1");
  EXPECT_EQ(api.calls, Names{"raSetSeqRandomAcessDetection(0,1)"});
  EXPECT_EQ(Value(a, "GetAutoSeqRandDet"), "1");
  api.calls.clear();
  a->invoke("ForceIT", "x");
  a->invoke("GUI_Status", "x");
  EXPECT_TRUE(api.calls.empty());
}

TEST_F(ArrayTest, ConversionAndExpansion) {
  CSerialArray* a = Array();
  auto seen = Watch(a);
  const struct {
    const char* method;
    const char* arg;
    Names calls;
  } rows[] = {
      {"ArrayConversion", "RAID0(STRIPING)@1@3", {"raArrayConversion(0,{3},0)"}},
      {"ArrayConversion", "SPAN@2@3@4", {"raArrayConversion(0,{3,4},3)"}},
      {"ArrayExpansion", "2@3@4", {"raArrayExpansion(0,{3,4})"}},
      {"ArrayConversion", "RAID7@1@3", {}},
      {"ArrayConversion", "SPAN", {}},
      {"ArrayConversion", "SPAN@0", {}},
      {"ArrayConversion", "SPAN@2@3", {}},
      {"ArrayExpansion", "", {}},
      {"ArrayExpansion", "0", {}},
      {"ArrayExpansion", "x@3", {}},
      {"ArrayExpansion", "1@300", {}},
      {"ArrayExpansion", "33@1", {}},
      {"StopConversion", "", {"raStopRaidConversion()"}},
  };
  for (const auto& r : rows) {
    api.calls.clear();
    a->invoke(r.method, r.arg);
    EXPECT_EQ(api.calls, r.calls) << r.method << " " << r.arg;
  }
  EXPECT_EQ(seen->codes.size(), 4u) << "each change that took notifies";
}

TEST_F(ArrayTest, AFailedConversionReachesEveryController) {
  CSerialArray* a = Array();
  MakeRoot();
  auto* second = static_cast<CSerialController*>(Child(roots.back().get(), "Controller1"));
  auto* first = static_cast<CSerialController*>(Child(roots.front().get(), "Controller1"));
  api.fail["raArrayExpansion"] = 2;
  a->invoke("ArrayExpansion", "1@3");
  for (CSerialController* c : {first, second}) {
    std::uint32_t n = 0;
    c->GetNewCount(&n);
    EXPECT_EQ(n, 1u);
    std::string text;
    c->ReadEventLog(&text, nullptr);
    EXPECT_NE(text.find("@Array Operation Err.@Expansion failed - Incorrect Array Size"), std::string::npos) << text;
  }
}

TEST_F(ArrayTest, AFailedRequestLogsWhatTheLibraryAnswered) {
  const std::vector<FailedCall> rows = {
      {"RebuildArray", "512@5", "raArrayRebuildDisk", 16, "Rebuild request on Array1 failed: Invalid parameters (16)"},
      {"RebuildArray", "2048", "raAbortArryRebuild", 17, "Rebuild request on Array1 failed: Conneciton lost (17)"},
      {"SyncArray", "512", "raArraySynchronize", 16, "Synchronise request on Array1 failed: Invalid parameters (16)"},
      {"SyncArray", "2048", "raAbortArryRebuild", 2, "Synchronise request on Array1 failed: Generic Error (2)"},
      {"ArrayExpansion", "1@3", "raArrayExpansion", 17, "Expansion of Array1 failed: Conneciton lost (17)"},
      {"ArrayConversion", "SPAN@1@3", "raArrayConversion", 2, "Conversion of Array1 failed: Generic Error (2)"},
  };
  CSerialArray* a = Array();
  ExpectFailuresLogged(a, rows);
  for (const auto& r : rows) a->invoke(r.method, r.arg);
  EXPECT_TRUE(logged.empty()) << "requests that took log nothing";
}

TEST_F(ArrayTest, PollFollowsStatusAndMembers) {
  CSerialArray* a = Array();
  auto seen = Watch(a);
  PollOnce();
  EXPECT_TRUE(seen->codes.empty()) << "nothing changed";
  api.arrays[0].state = 1;
  api.arrays[0].activity = 1;
  api.arrays[0].members = {0, 255, 3};
  PollOnce();
  EXPECT_EQ(seen->codes, std::vector<std::uint32_t>{8194});
  EXPECT_EQ(ChildNames(a), (Names{"disk1", "disk3"})) << "255 is an empty position";
  EXPECT_EQ(Child(a, "disk3")->Id1(), 3);
  api.arrays[0].percent = 10;
  PollOnce();
  EXPECT_EQ(seen->codes.size(), 2u) << "progress is a change";
  api.ready = false;
  api.arrays[0].percent = 20;
  PollRegistry::Get().Tick();
  EXPECT_EQ(seen->codes.size(), 2u) << "no poll without the link";
}

TEST_F(ArrayTest, DiskValues) {
  auto* d = static_cast<CSerialDisk*>(Node("Array1/disk2"));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->NodeType(), 24);
  EXPECT_EQ(Value(d, "model"), "DISK 1");
  EXPECT_EQ(Value(d, "Size"), "2.441 GB (2500 MB)");
  EXPECT_EQ(Value(d, "Timing_Mode"), "UDMA Mode 4");
  EXPECT_EQ(Value(d, "Cyls"), "16383");
  EXPECT_EQ(Value(d, "Heads"), "16");
  EXPECT_EQ(Value(d, "Sectors"), "63");
  EXPECT_EQ(Value(d, "Channel"), "1");
  EXPECT_EQ(Value(d, "Status"), "512");
  EXPECT_EQ(Value(d, "Rebuild"), "0");
  EXPECT_EQ(Value(d, "smart"), "Functional");

  api.disks[1].slot = 4;
  api.disks[1].status = 2;
  api.disks[1].second = 1;
  api.disks[1].third = 1;
  d->refresh();
  EXPECT_EQ(Value(d, "smart"), "Disabled");
  EXPECT_EQ(Value(d, "Rebuild"), "1");
  api.fail["raGetDiskStatus"] = 2;
  api.disks[1].status = 1;
  d->refresh();
  EXPECT_EQ(Value(d, "Status"), "512") << "a failed status read changes no status entry";
  EXPECT_EQ(Value(Node("ch4/master"), "Status"), "256") << "the free disk";
}

TEST_F(ArrayTest, ChannelKeepsItsDiskThroughAFailedScan) {
  fw::CRiverNode* channel = Node("ch2");
  ASSERT_TRUE(channel);
  api.fail["raScanDevice"] = 2;
  channel->refresh();
  EXPECT_EQ(ChildNames(channel), Names{"master"});
  api.fail.clear();
  api.disks.erase(1);
  channel->refresh();
  EXPECT_TRUE(ChildNames(channel).empty()) << "no disk at that position any more";
}

TEST_F(ArrayTest, EnclosureSensors) {
  api.fans = {3000, 2900, 2800};
  fw::CRiverNode* e = Node("Enclosure1");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->NodeType(), 25);
  EXPECT_EQ(Value(e, "HardwareType"), "1");
  EXPECT_EQ(Value(e, "NumFan"), "3");
  EXPECT_EQ(Value(e, "fanrpm3"), "2800");
  for (int i = 4; i <= 8; ++i) EXPECT_EQ(Value(e, "fanrpm" + std::to_string(i)), "-1") << i;
  EXPECT_EQ(Value(e, "Temp2"), "31");
  EXPECT_EQ(Value(e, "Volt5"), "5020") << "the page shows 5.02";
  EXPECT_EQ(Value(e, "Volt12"), "12040");
  EXPECT_EQ(Value(e, "NumEnclosures"), "0");
  EXPECT_EQ(Rights(e, "SilentBuzzer"), 80u);
  EXPECT_EQ(Rights(e, "TurnOnBuzzer"), 80u);

  api.fans.assign(12, 1000);
  e->refresh();
  EXPECT_EQ(Value(e, "NumFan"), "8") << "the count is clamped to the eight fan entries";
  EXPECT_EQ(Value(e, "fanrpm8"), "1000");
  api.calls.clear();
  e->invoke("SilentBuzzer", "");
  EXPECT_TRUE(api.calls.empty()) << "the enclosure's buzzer methods do nothing";
}

}  // namespace
