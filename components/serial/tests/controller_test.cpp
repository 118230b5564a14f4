// The controller: its values and methods, the event store and its poll.
#include "components/serial/tests/brask_fixture.h"
#include "components/serial/tests/mode_rows.h"
#include "platform/base/format.h"

using namespace kelm;
using namespace kelm::brask;
using namespace kelm::brask::testing;

namespace {

using Names = std::vector<std::string>;

class ControllerTest : public BraskTest {
 protected:
  CSerialController* Controller() {
    if (roots.empty()) MakeRoot();
    return static_cast<CSerialController*>(Child(roots.front().get(), "Controller1"));
  }
  std::string NextEvent(CSerialController* c) {
    std::string text = "untouched";
    EXPECT_EQ(c->ReadEventLog(&text, nullptr), plat::S_OK);
    return text;
  }
  std::uint32_t NewCount(CSerialController* c) {
    std::uint32_t n = 12345;
    EXPECT_EQ(c->GetNewCount(&n), plat::S_OK);
    return n;
  }
};

TEST_F(ControllerTest, ValuesAndMethodRights) {
  CSerialController* c = Controller();
  EXPECT_EQ(Value(c, "ComportStatus"), "Connected");
  EXPECT_EQ(Value(c, "RaidapiVersion"), "1.11");
  EXPECT_EQ(Value(c, "FirmwareVersion"), "3.1.2.2");
  EXPECT_EQ(Value(c, "MemorySize"), "64 MB");
  EXPECT_EQ(Value(c, "HWVersion"), "Sorventic Kestle");
  EXPECT_EQ(Value(c, "GetAutoFlushFreq"), "5");
  EXPECT_EQ(c->FindDrop("GetAutoFlushFreq")->mode, "prw");
  EXPECT_EQ(c->FindDrop("GetWriteBackCache")->mode, "pr-");
  EXPECT_EQ(Value(c, "hasSpare"), "1");
  EXPECT_EQ(Value(c, "ArrayAct"), "0");
  EXPECT_EQ(Value(c, "HasEvent"), "4");
  const struct {
    const char* method;
    std::uint32_t rights;
  } rows[] = {{"CreateArray", 0x08000004},  {"DeleteArray", 0x08000008},        {"ReadEvent", 0xF7FFFFFF},
              {"ClearEvent", 64},           {"SetRebuildPriority", 0x08000040}, {"SetAutoFlushFreq", 0x08000040},
              {"SetSmart", 0x08000040},     {"SetHDCache", 0x08000040},         {"SilentBuzzer", 0xF7FFFFFF},
              {"TurnOnBuzzer", 0xF7FFFFFF}, {"SetWriteBackCache", 0x0800003C},  {"ScheduleSync", 0x0800003C}};
  for (const auto& r : rows) EXPECT_EQ(Rights(c, r.method), r.rights) << r.method;

  api.fans = {3000, 2900, 2800};
  api.memSize = 128 * 1048576;
  api.fail["raGetFWRevision"] = 2;
  api.disks[3].second = -1;
  api.arrays[0].activity = 3;
  c->refresh();
  EXPECT_EQ(Value(c, "HWVersion"), "Sorventic QX4000");
  EXPECT_EQ(Value(c, "MemorySize"), "128 MB");
  EXPECT_EQ(Value(c, "FirmwareVersion"), "3.1.2.2") << "a failed read keeps what was shown";
  EXPECT_EQ(Value(c, "hasSpare"), "0");
  EXPECT_EQ(Value(c, "ArrayAct"), "1");
}

TEST_F(ControllerTest, SettingsShowAtOnceWhenTheyTake) {
  CSerialController* c = Controller();
  auto seen = Watch(c);
  const struct {
    const char* method;
    const char* shown;
    const char* call;
  } rows[] = {{"SetSmart", "GetSmart", "raSetSmartCheckEnable(0)"},
              {"SetAutoFlushFreq", "GetAutoFlushFreq", "raSetAutoFlushFreq(0)"},
              {"SetRebuildPriority", "GetRebuildPriority", "raSetRebuildPriority(0)"},
              {"SetHDCache", "GetHDCache", "raSetHardDiskWriteCache(0)"},
              {"SetWriteBackCache", "GetWriteBackCache", "raSetCacheWriteBackPolicy(0,0)"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.method);
    seen->codes.clear();
    api.calls.clear();
    c->invoke(r.method, "0");
    EXPECT_EQ(api.calls, Names{r.call});
    EXPECT_EQ(Value(c, r.shown), "0");
    EXPECT_EQ(c->FindDrop(r.shown)->mode, "pr-") << "shown read-only until the next refresh";
    EXPECT_EQ(seen->codes, std::vector<std::uint32_t>{8194});
  }
  c->invoke("SetSmart", "1");
  EXPECT_EQ(Value(c, "GetSmart"), "1");
  api.fail["raSetSmartCheckEnable"] = 2;
  seen->codes.clear();
  c->invoke("SetSmart", "0");
  EXPECT_EQ(Value(c, "GetSmart"), "1") << "a setting the subsystem refused is not shown";
  EXPECT_TRUE(seen->codes.empty());

  api.calls.clear();
  c->invoke("SilentBuzzer", "ignored");
  c->invoke("TurnOnBuzzer", "");
  EXPECT_EQ(api.calls, (Names{"raSetBuzzCtrlStatus(0)", "raSetBuzzCtrlStatus(1)"}));
}

TEST_F(ControllerTest, EventRecordsAreTranslatedAndUnreportedKindsGiveNothing) {
  CSerialController* c = Controller();
  clock.setWall(1700000000);
  api.events = {FakeRaidApi::Event(7, 1, "Array 1 was set down."),
                FakeRaidApi::Event(11, 1, "read error"),
                FakeRaidApi::Event(26, 1, "Array 1 has entered degraded mode."),
                FakeRaidApi::Event(12, -1, "x"),
                FakeRaidApi::Event(-1, -1, "Unknown Error, Code = 0x999."),
                FakeRaidApi::Event(4, 2, "Rebuild begun on Drive 5 of Array 2."),
                FakeRaidApi::Event(24, 2, "Create a new array 2 @ once.")};
  ASSERT_EQ(NewCount(c), 7u);
  EXPECT_EQ(NextEvent(c), "522@1700000000@3@Array Degraded@Array 1 was set down.");
  EXPECT_EQ(NextEvent(c), "") << "kind 11 is consumed without a record";
  EXPECT_EQ(NextEvent(c), "522@1700000000@3@Array Degraded@Array 1 has entered degraded mode.");
  EXPECT_EQ(NextEvent(c), "");
  EXPECT_EQ(NextEvent(c), "");
  EXPECT_EQ(NextEvent(c), "513@1700000000@3@Array Rebld. Started@Array 2 rebuilding started");
  EXPECT_EQ(NextEvent(c), "519@1700000000@3@Array Created@Create a new array 2   once.") << "no '@' inside a field";
  EXPECT_EQ(NextEvent(c), "") << "nothing is left";

  EXPECT_EQ(NewCount(c), 0u);
  api.ready = false;  // the library answers 17 and a "Connection Lost" record
  EXPECT_EQ(NewCount(c), 0u);
  EXPECT_EQ(NextEvent(c), "");
  std::uint32_t* none = nullptr;
  EXPECT_EQ(c->GetNewCount(none), plat::E_POINTER);
  EXPECT_EQ(c->ClearLog(), plat::S_OK);
  fw::IEventLog* log = nullptr;
  ASSERT_EQ(c->QueryInterface(fw::IEventLog::kIid, reinterpret_cast<void**>(&log)), plat::S_OK);
  log->Release();
}

TEST_F(ControllerTest, ALocallyMadeEventIsDeliveredWithoutAskingTheSubsystem) {
  CSerialController* c = Controller();
  api.events = {FakeRaidApi::Event(24, 2, "Create a new array 2.")};
  c->PostLocalEvent("Conversion failed - Incorrect Array Size");
  EXPECT_EQ(NewCount(c), 1u) << "99 becomes 1";
  EXPECT_EQ(api.events.size(), 1u) << "the subsystem was not asked";
  EXPECT_EQ(NextEvent(c), plat::format("521@%lld@3@Array Operation Err.@Conversion failed - Incorrect Array Size",
                                       static_cast<long long>(clock.wallSeconds())));
  EXPECT_EQ(NewCount(c), 1u);
  EXPECT_NE(NextEvent(c).find("Array Created"), std::string::npos);
}

TEST_F(ControllerTest, UnchangedCountsRebuildOnlyEveryThirteenthPoll) {
  CSerialController* c = Controller();
  auto seen = Watch(c);
  for (int poll = 1; poll <= 12; ++poll) PollOnce();
  EXPECT_TRUE(seen->codes.empty()) << "twelve unchanged polls";
  PollOnce();
  EXPECT_EQ(seen->codes, std::vector<std::uint32_t>{8194}) << "the thirteenth rebuilds";

  seen->codes.clear();
  api.arrays[4].members = {3};
  api.arrays[4].libraryIndex = 3;
  PollOnce();
  EXPECT_EQ(seen->codes, std::vector<std::uint32_t>{8194});
  EXPECT_EQ(ChildNames(c), (Names{"ch1", "ch2", "ch3", "ch4", "Enclosure1", "Array1", "Array5"}));
  PollOnce();
  EXPECT_EQ(seen->codes.size(), 1u);

  api.arrays.erase(4);
  api.fail["raEnumerateAllDisks"] = 2;
  PollOnce();
  EXPECT_EQ(seen->codes.size(), 1u) << "counts that cannot be read change nothing";
}

TEST_F(ControllerTest, ChannelsRemovedAndFoundAgainGetNewNames) {
  CSerialController* c = Controller();
  api.channels = 2;
  c->refresh();
  EXPECT_EQ(ChildNames(c), (Names{"ch1", "ch2", "Array1", "Enclosure2"}))
      << "the enclosure follows the channels; names only grow";
  api.channels = 3;
  c->refresh();
  EXPECT_EQ(ChildNames(c), (Names{"ch1", "ch2", "Array1", "ch5", "Enclosure3"}));
  api.fail["raGetMaxChannelsPerAdapter"] = 2;
  c->refresh();
  EXPECT_EQ(ChildNames(c).size(), 5u) << "a failed read keeps the channels";
}

TEST_F(ControllerTest, ScheduledSynchronisationIsKeyedByArrayId) {
  api.arrays[2].libraryIndex = 3;  // SPAN
  api.arrays[2].members = {3};
  api.arrays[5].libraryIndex = 1;
  api.arrays[5].members = {};
  CSerialController* c = Controller();
  c->invoke("ScheduleSync", "");
  EXPECT_EQ(c->SlotState(0), 1);
  EXPECT_EQ(c->SlotState(2), 1);
  EXPECT_EQ(c->SlotState(5), 1);
  api.calls.clear();
  PollOnce();
  EXPECT_EQ(api.Calls("raArraySynchronize"), Names{"raArraySynchronize(0,2)"}) << "one start per poll";
  EXPECT_EQ(c->SlotState(0), 2);

  api.arrays[0].activity = 3;
  PollOnce();
  EXPECT_EQ(api.Calls("raArraySynchronize").size(), 1u) << "nothing starts while an array is busy";
  api.arrays[0].activity = -1;
  PollOnce();
  EXPECT_EQ(api.Calls("raArraySynchronize"), (Names{"raArraySynchronize(0,2)", "raArraySynchronize(5,2)"}))
      << "the span is passed over";

  api.events = {FakeRaidApi::Event(10, 1, "done"), FakeRaidApi::Event(10, 99, "no such array"),
                FakeRaidApi::Event(10, -1, "none")};
  ASSERT_EQ(NewCount(c), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_NE(NextEvent(c).find("Array Sync. Completed"), std::string::npos);
  EXPECT_EQ(c->SlotState(0), 3) << "array number 1 is array id 0";
  EXPECT_EQ(c->SlotState(5), 2);

  c->invoke("ScheduleSync", "");
  EXPECT_EQ(c->SlotState(0), 3) << "refused while the span's slot waits";
}

TEST_F(ControllerTest, AnUnreadableArrayStatusIsNoFreeArray) {
  api.arrays[1].members = {3};
  CSerialController* c = Controller();
  api.arrays[1].statusResult = 2;
  c->invoke("ScheduleSync", "");
  EXPECT_EQ(c->SlotState(0), 3) << "nothing is scheduled while an array might be busy";
  EXPECT_EQ(logged,
            Names{"Scheduling a synchronisation failed: the status of Array2 cannot be read: Generic Error (2)"});

  api.arrays[1].statusResult = 0;
  c->invoke("ScheduleSync", "");
  ASSERT_EQ(c->SlotState(0), 1);
  logged.clear();
  api.arrays[1].statusResult = 17;
  api.calls.clear();
  PollOnce();
  PollOnce();
  EXPECT_TRUE(api.Calls("raArraySynchronize").empty()) << "no start beside an array that might be busy";
  EXPECT_EQ(logged, Names{"Starting a scheduled synchronisation failed: the status of Array2 cannot be read: "
                          "Conneciton lost (17)"})
      << "said once while it lasts";
  api.arrays[1].statusResult = 0;
  PollOnce();
  EXPECT_EQ(api.Calls("raArraySynchronize"), Names{"raArraySynchronize(0,2)"});

  api.arrays[0].activity = 3;
  c->refresh();
  ASSERT_EQ(Value(c, "ArrayAct"), "1");
  api.arrays[0].statusResult = 2;
  c->refresh();
  EXPECT_EQ(Value(c, "ArrayAct"), "1") << "a status that cannot be read does not show the arrays free";
  api.arrays[1].activity = 1;
  api.fail["raEnumerateAllArrays"] = 2;
  logged.clear();
  c->invoke("ScheduleSync", "");
  EXPECT_EQ(logged, Names{"Scheduling a synchronisation failed: the arrays cannot be listed: Generic Error (2)"});
}

TEST_F(ControllerTest, FailedMethodsLogWhy) {
  const std::vector<FailedCall> rows = {
      {"DeleteArray", "0", "raDeleteArray", 2, "Deleting Array1 failed: Generic Error (2)"},
      {"DeleteArray", "0", "raDeleteArray", 17, "Deleting Array1 failed: Conneciton lost (17)"},
      {"SetSmart", "1", "raSetSmartCheckEnable", 17, "Setting GetSmart to 1 failed: Conneciton lost (17)"},
      {"SetWriteBackCache", "0", "raSetCacheWriteBackPolicy", 16,
       "Setting GetWriteBackCache to 0 failed: Invalid parameters (16)"},
  };
  CSerialController* c = Controller();
  auto seen = Watch(c);
  ExpectFailuresLogged(c, rows);
  EXPECT_TRUE(seen->codes.empty());
  EXPECT_NE(Child(c, "Array1"), nullptr);
  c->invoke("SetSmart", "1");
  c->invoke("DeleteArray", "0");
  EXPECT_TRUE(logged.empty());
}

TEST_F(ControllerTest, CreateArrayMapsTheModeAndParsesStrictly) {
  CSerialController* c = Controller();
  auto seen = Watch(c);
  api.calls.clear();
  c->invoke("CreateArray", "Mine@RAID5(PARITY-DISTRIBUTED)@3@1@2@3@64@1@0");
  EXPECT_EQ(api.calls, (Names{"raCreateArrayInitializeEnabled(1,1)", "raGBBoundaryEnabled(1,0)",
                              "raCreateArray(Array,5,3,1,2,3,64)"}));
  EXPECT_EQ(seen->codes.front(), 8194u);

  for (const auto& m : kelm::brask_tables::kModeRows) {
    api.calls.clear();
    c->invoke("CreateArray", std::string("Array@") + m.name + "@1@7");
    EXPECT_EQ(api.calls, Names{"raCreateArray(Array," + std::to_string(m.index) + ",1,7,64)"}) << m.name;
  }

  for (const char* refused :
       {"no separator", "a@RAID9@1@0", "a@SPAN@", "a@SPAN@x@1", "a@SPAN@@1", "a@SPAN@0", "a@SPAN@33@1", "a@SPAN@2@1",
        "a@SPAN@1@255", "a@SPAN@1@-1", "a@SPAN@1@abc", "a@SPAN@1@1@big", "a@SPAN@1@1@64@yes", "a@SPAN@1@1@64@1@-"}) {
    api.calls.clear();
    c->invoke("CreateArray", refused);
    EXPECT_TRUE(api.Calls("raCreate").empty() && api.Calls("raGB").empty()) << refused;
  }
  EXPECT_TRUE(logged.empty());

  api.fail["raCreateArray"] = 16;
  seen->codes.clear();
  c->invoke("CreateArray", "Array@SPAN@1@3");
  EXPECT_EQ(logged, Names{"Array create failed. Please check if all the setting is correct."});
  EXPECT_TRUE(seen->codes.empty());
}

TEST_F(ControllerTest, DeleteArrayParsesStrictly) {
  CSerialController* c = Controller();
  for (const char* refused : {"", "x", "-1", "0x", " 0", "255", "1@2"}) {
    api.calls.clear();
    c->invoke("DeleteArray", refused);
    EXPECT_TRUE(api.Calls("raDeleteArray").empty()) << refused;
  }
  auto seen = Watch(c);
  c->invoke("DeleteArray", "0");
  EXPECT_EQ(api.Calls("raDeleteArray"), Names{"raDeleteArray(0)"});
  EXPECT_EQ(seen->codes, std::vector<std::uint32_t>{8194});
  EXPECT_EQ(Child(c, "Array1"), nullptr) << "the notified listing no longer shows it";
}

}  // namespace
