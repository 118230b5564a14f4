// The controller's, arrays' and enclosures' methods, and the event log.
#include "components/iop/tests/vantrel_fixture.h"

namespace kelm::iop::testing {
namespace {

std::string H(fw::CRiverNode* n) { return std::to_string(n->NodeId()); }

TEST_F(VantrelTest, CreateArrayLevelWords) {
  CIopController* c = Controller();
  const std::string d1 = H(Child(c, "ch1/master")), d2 = H(Child(c, "ch1/slave"));
  struct Case {
    const char* level;
    const char* abc;
    std::uint32_t word;
  } cases[] = {
      {"RAID0(STRIPING)", "64@64@0", 0},
      {"RAID1(MIRROR)", "64@64@1", 1},
      {"RAID0+1(STRIPE-MIRRORING)", "0@0@0", 1},
      {"RAID3(PARITY-DEDICATED)", "64@0@0", 2 | 0x40000000u},
      {"RAID5(PARITY-DISTRIBUTED)", "64@32@1", 4 | 0x80000000u},
      {"SPAN", "64@0@1", 8 | 0xC0000000u},
      {"SPAN", "0@64@0", 8},
  };
  for (const Case& k : cases) {
    card.sent.clear();
    auto watch = Watch(c);
    EXPECT_EQ(c->invoke("CreateArray", std::string("New@") + k.level + "@2@" + d1 + "@" + d2 + "@" + k.abc),
              plat::S_OK);
    auto sent = card.Sent(0x3303);
    ASSERT_EQ(sent.size(), 1u) << k.level;
    Bytes want{'N', 'e', 'w', 0};
    for (auto w : {k.word, 2u, 200u, 201u, static_cast<std::uint32_t>(std::atoi(k.abc))}) PutLe(want, w, 4);
    EXPECT_EQ(sent[0].data, want) << k.level << " " << k.abc;
    EXPECT_EQ(watch->codes, std::vector<std::uint32_t>{8194});
    EXPECT_FALSE(card.Sent(0x3001).empty()) << "the controller is refreshed";
  }
}

TEST_F(VantrelTest, CreateArrayRefusesWithoutSending) {
  CIopController* c = Controller();
  const std::string d1 = H(Child(c, "ch1/master"));
  const std::string array = H(Child(c, "Array1"));
  logged.clear();
  for (const std::string& arg : std::vector<std::string>{"New@RAID1(MIRROR)@2@" + d1 + "@999999@0@0@0",     // a disk that does not resolve
                                "New@RAID1(MIRROR)@2@" + d1,                         // a disk missing
                                "New@RAID1(MIRROR)@2@" + d1 + "@" + array + "@0@0@0",  // not a disk
                                "New@RAID6@1@" + d1 + "@0@0@0",                      // an unknown level
                                "New@SPAN@1@" + std::to_string(0x100000000ull + std::stoull(d1)) + "@0@0@0",
                                std::string("New@SPAN@0@0@0@0")}) {
    card.sent.clear();
    EXPECT_EQ(c->invoke("CreateArray", arg), plat::S_OK);
    EXPECT_TRUE(card.Sent(0x3303).empty()) << arg;
    EXPECT_FALSE(card.Sent(0x3001).empty()) << "refreshed in every case";
  }
  EXPECT_EQ(logged.size(), 6u);
}

TEST_F(VantrelTest, CreateArrayTakesTheHandleTextToo) {
  CIopController* c = Controller();
  const std::string d1 = Child(c, "Array1/master00")->HandleText();
  c->invoke("CreateArray", "X@SPAN@1@" + d1 + "@0@0@0");
  auto sent = card.Sent(0x3303);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(GetLe(sent[0].data, 2 + 8, 4), 200u);
}

TEST_F(VantrelTest, SetCachePolicy) {
  struct Case {
    const char* arg;
    std::vector<std::uint16_t> commands;
    const char* frequency;
    const char* start;
    bool notified;
  } cases[] = {
      {"CacheFlushFrequency@30", {0x3514}, "30", "90", true},
      {"cacheflushfrequency@\"30\"@DirtyThresholdStart@80@DirtyThresholdStop@20", {0x3514, 0x3510}, "30", "80", true},
      {"DirtyThresholdStart@80", {}, "0", "90", false},
      {"DirtyThresholdStart@80@DirtyThresholdStop@80", {}, "0", "90", false},
      {"Unknown@1", {}, "0", "90", false},
  };
  for (const Case& k : cases) {
    card.On(0x3513, Reply::Words({0, 0}, 1));  // the defaults stay
    card.On(0x350F, Reply::Words({0, 0}, 1));
    CIopController* c = Controller();
    card.sent.clear();
    logged.clear();
    auto watch = Watch(c);
    c->invoke("SetCachePolicy", k.arg);
    std::vector<std::uint16_t> got;
    for (auto& m : card.sent) got.push_back(m.command);
    EXPECT_EQ(got, k.commands) << k.arg;
    EXPECT_EQ(Value(c, "CacheFlushFrequency"), k.commands.empty() ? "10" : k.frequency) << k.arg;
    EXPECT_EQ(Value(c, "DirtyThresholdStart"), k.start) << k.arg;
    EXPECT_EQ(watch->codes.size(), k.notified ? 1u : 0u) << k.arg;
    EXPECT_EQ(logged.size(), k.notified ? 0u : 1u) << "a policy that does nothing says so: " << k.arg;
    roots.clear();
  }
}

TEST_F(VantrelTest, SetAndRereadMethods) {
  CIopController* c = Controller();
  card.On(0x352A, Reply::Words({7}));
  EXPECT_EQ(c->InvokeHandler("SetRebuildPriority", "7"), 0);
  auto set = card.Sent(0x352B);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].Word(0), 7u);
  EXPECT_EQ(Value(c, "GetRebuildPriority"), "7");
  card.On(0x3530, Reply::Words({3}, 1));
  EXPECT_EQ(c->InvokeHandler("SetBufferCount", "3"), 0) << "the re-read went through";
  EXPECT_EQ(Value(c, "GetBufferCount"), "<none>") << "but its status was not 0";
  card.On(0x3008, [](const SentMessage&) { return Reply{0, {}}; });  // a short reply
  EXPECT_EQ(c->InvokeHandler("SetHDCache", "1"), 1);
  EXPECT_EQ(c->InvokeHandler("SilentBuzzer", ""), 0);
  EXPECT_EQ(card.Sent(0x3107).size(), 1u);
  EXPECT_EQ(c->InvokeHandler("NoSuchMethod", ""), 0);
}

TEST_F(VantrelTest, RebuildAndSyncActionWords) {
  struct Case {
    const char* method;
    const char* arg;
    std::uint16_t precheck;
    std::uint32_t action;  // 0: nothing sent
    int answer;
  } cases[] = {
      {"RebuildArray", "512@201", 0x3309, 512 | 0x10002, 0},
      {"RebuildArray", "256@201", 0, 256 | 0x10002, 0},
      {"RebuildArray", "0@201", 0, 0, kEFail},
      {"SyncArray", "512", 0x3308, 512 | 0x20002, 0},
      {"SyncArray", "1024", 0, 1024 | 0x20002, 0},
      {"SyncArray", "0", 0, 0, kEFail},
  };
  CIopController* c = Controller();
  auto* array = dynamic_cast<CIopArray*>(Child(c, "Array1"));
  for (const Case& k : cases) {
    card.sent.clear();
    EXPECT_EQ(array->InvokeHandler(k.method, k.arg), k.answer) << k.method << " " << k.arg;
    EXPECT_EQ(card.Sent(0x3309).size() + card.Sent(0x3308).size(), k.precheck ? 1u : 0u);
    if (k.precheck == 0x3309) {
      EXPECT_EQ(card.Sent(0x3309)[0].Word(0), 100u);
      EXPECT_EQ(card.Sent(0x3309)[0].Word(1), 201u);
    }
    auto start = card.Sent(0x3400);
    ASSERT_EQ(start.size(), k.action ? 1u : 0u);
    if (k.action) {
      EXPECT_EQ(start[0].data, Le32({100, k.action, 0})) << "the third value goes as 0";
    }
  }
  card.On(0x3309, Reply::Words({}, 3));
  card.sent.clear();
  EXPECT_EQ(array->InvokeHandler("RebuildArray", "512@201"), kEFail);
  EXPECT_TRUE(card.Sent(0x3400).empty()) << "a failed precheck starts nothing";
  EXPECT_EQ(array->InvokeHandler("DeleteArray", "100"), kEFail);
}

TEST_F(VantrelTest, ArrayRenameAndSettings) {
  auto* array = dynamic_cast<CIopArray*>(Child(Controller(), "Array1"));
  auto watch = Watch(array);
  EXPECT_EQ(array->InvokeHandler("rename", "N/A"), 0);
  auto sent = card.Sent(0x3101);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, (Bytes{100, 0, 0, 0, 0})) << "an empty name";
  EXPECT_EQ(Value(array, "name"), "");
  card.On(0x3101, Reply::Words({}, 1));
  EXPECT_EQ(array->InvokeHandler("rename", "Other"), kEFail);
  EXPECT_EQ(array->InvokeHandler("SetWriteBackCache", "1"), 0);
  EXPECT_EQ(card.Sent(0x352D).back().data, Le32({0, 1})) << "by array index";
  EXPECT_EQ(watch->codes.size(), 2u);
}

TEST_F(VantrelTest, DeleteArray) {
  CIopController* c = Controller();
  inside[20] = {};
  c->InvokeHandler("DeleteArray", "100");
  EXPECT_EQ(card.Sent(0x3304).back().data, Le32({100}));
  EXPECT_EQ(ChildNames(c), (std::vector<std::string>{"ch1", "Enclosure1"}));
}

TEST_F(VantrelTest, EnclosureBuzzer) {
  fw::CRiverNode* e = Child(Controller(), "Enclosure1");
  card.On(0x310D, Reply::Words({1}));
  auto watch = Watch(e);
  EXPECT_EQ(e->InvokeHandler("TurnOnBuzzer", ""), 0);
  EXPECT_EQ(card.Sent(0x310E).size(), 1u);
  EXPECT_EQ(Value(e, "BuzzStatus"), "1");
  EXPECT_EQ(watch->codes.size(), 1u);
  EXPECT_EQ(e->InvokeHandler("Other", ""), kEFail);
}

// A command the card refuses keeps the method's answer, and the card's status goes to the log.
TEST_F(VantrelTest, RefusedCommandsAreLogged) {
  CIopController* c = Controller();
  const std::string disks = H(Child(c, "ch1/master")) + "@" + H(Child(c, "ch1/slave"));
  struct Case {
    const char* node;  // a path under the controller; empty for the controller itself
    const char* method;
    std::string arg;
    std::uint16_t refused;
    int answer;
    bool notified;  // on the node the method ran on
  } cases[] = {
      {"", "SetBufferCount", "3", 0x3531, 0, false},  // the re-read still goes through
      {"", "SilentBuzzer", "", 0x3107, 0, false},
      {"", "TurnOnBuzzer", "", 0x310E, 0, false},
      {"", "CreateArray", "New@RAID1(MIRROR)@2@" + disks + "@64@64@0", 0x3303, 0, false},
      {"", "DeleteArray", "100", 0x3304, 0, false},
      {"Array1", "SetWriteBackCache", "1", 0x352D, 0, true},
      {"Array1", "SetAutoSeqRandDet", "1", 0x3521, 0, true},
      {"Enclosure1", "SilentBuzzer", "", 0x3107, 0, true},
  };
  for (const Case& k : cases) {
    fw::CRiverNode* node = *k.node ? Child(c, k.node) : c;
    ASSERT_NE(node, nullptr) << k.node;
    card.On(k.refused, Reply::Words({0, 0}, 9));  // a refusal with room for the reply values
    logged.clear();
    char command[8];
    std::snprintf(command, sizeof command, "0x%04X", k.refused);
    auto watch = Watch(node);
    EXPECT_EQ(node->InvokeHandler(k.method, k.arg), k.answer) << k.method;
    EXPECT_EQ(LoggedWith({k.method, command, "status 9"}).size(), 1u) << k.method << " logged: " << logged.size();
    EXPECT_EQ(!watch->codes.empty(), k.notified) << k.method;
    card.handlers.erase(k.refused);
  }
}

// A request that fails on its way to the card: the device's reason reaches the log, and the
// methods that tell "went through" from "did not" answer 1.
TEST_F(VantrelTest, TransportFailuresLogTheirReason) {
  CIopController* c = Controller();
  struct Case {
    const char* node;
    const char* method;
    std::uint16_t broken;
    int answer;
  } cases[] = {
      {"", "SetHDCache", 0x3009, 0},  // the re-read answers
      {"", "SilentBuzzer", 0x3107, 1},
      {"", "DeleteArray", 0x3304, 0},
      {"Array1", "SetWriteBackCache", 0x352D, 1},
      {"Enclosure1", "TurnOnBuzzer", 0x310E, 0},
  };
  for (const Case& k : cases) {
    fw::CRiverNode* node = *k.node ? Child(c, k.node) : c;
    card.broken[k.broken] = plat::Error{EACCES, "the driver refuses this caller"};
    logged.clear();
    EXPECT_EQ(node->InvokeHandler(k.method, "100"), k.answer) << k.method;
    EXPECT_EQ(LoggedWith({k.method, "the driver refuses this caller"}).size(), 1u) << k.method;
    card.broken.clear();
  }
}

// Event log.

Reply Events(std::initializer_list<std::initializer_list<std::uint32_t>> records) {
  Reply r = Reply::Words({static_cast<std::uint32_t>(records.size())});
  for (auto rec : records)
    for (auto w : rec) PutLe(r.body, w, 4);
  return r;
}

TEST_F(VantrelTest, ReadEventLogFormatsTheFirstRecord) {
  CIopController* c = Controller();
  card.On(0x3104, Events({{513, 0, 2, 2, 100, 201}}));
  std::string record;
  std::uint32_t size = 1;
  EXPECT_EQ(c->ReadEventLog(&record, &size), plat::S_OK);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(record,
            "513@1765360000@2@Rebuild Begin.@Rebuild begun on Drive DiskB (0x000000c9 ch 1) of Array Array1 "
            "(0x00000064).");
  auto asked = card.Sent(0x3104);
  EXPECT_EQ(asked.back().data, Le32({0, 1}));
}

TEST_F(VantrelTest, ReadEventLogTextsOfHandlesWithoutNodes) {
  CIopController* c = Controller();
  names[77] = "";
  names[78] = "Spare";
  card.On(0x3102, [](const SentMessage& m) { return Reply::Words({4}, m.Word(0) == 77 ? 1 : 0); });
  card.On(0x3104, Events({{518, 0, 1, 2, 77, 78}}));
  std::string record;
  std::uint32_t size = 1;
  c->ReadEventLog(&record, &size);
  EXPECT_EQ(record, "518@1765360000@1@Retry Drive@Retry drive access in Array 0x0000004d Drive Spare (0x0000004e ch 5)");
  card.On(0x3104, Events({{256, 0, 3, 1, 77}}));
  c->ReadEventLog(&record, &size);
  EXPECT_EQ(record, "256@1765360000@3@Drive Fail@Drive 0x0000004d ch -1 failed.");
}

TEST_F(VantrelTest, ReadEventLogWhenFewerComeBack) {
  CIopController* c = Controller();
  card.On(0x3104, Events({}));
  std::string record = "old";
  std::uint32_t size = 1;
  EXPECT_EQ(c->ReadEventLog(&record, &size), plat::S_OK);
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(record.empty());
  card.On(0x3104, Events({{513, 0, 2, 300}}));  // more arguments than the reply holds
  size = 1;
  c->ReadEventLog(&record, &size);
  EXPECT_EQ(size, 0u);
}

TEST_F(VantrelTest, ADriveEventRefreshesTheControllerAndUnknownTypesAreBlank) {
  CIopController* c = Controller();
  auto watch = Watch(c);
  card.On(0x3104, Events({{256, 0, 3, 1, 200}}));
  std::string record;
  std::uint32_t size = 1;
  card.sent.clear();
  c->ReadEventLog(&record, &size);
  EXPECT_EQ(watch->codes, std::vector<std::uint32_t>{8194});
  EXPECT_FALSE(card.Sent(0x3001).empty());
  card.On(0x3104, Events({{600, 0, 4, 0}}));
  c->ReadEventLog(&record, &size);
  EXPECT_EQ(record, "600@1765360000@4@@");
}

TEST_F(VantrelTest, TheUnitedKingdomTitles) {
  Environment env;
  env.clock = &clock;
  env.language = 2057;
  SetEnvironment(env);
  CIopController* c = Controller();
  card.On(0x3104, Events({{514, 0, 2, 2, 100, 200}}));
  std::string record;
  std::uint32_t size = 1;
  c->ReadEventLog(&record, &size);
  EXPECT_EQ(record.substr(0, 40), "514@1765360000@2@Automatic Rebuild Begun");
}

TEST_F(VantrelTest, GetNewCountSetsTheClockEveryEightHours) {
  CIopController* c = Controller();
  card.On(0x3103, Reply::Words({3}));
  std::uint32_t n = 0;
  c->GetNewCount(&n);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(card.Sent(0x3106).size(), 1u);
  EXPECT_EQ(card.Sent(0x3106)[0].Word(0), 1765360000u);
  clock.setWall(1765360000 + 28800);
  c->GetNewCount(&n);
  EXPECT_EQ(card.Sent(0x3106).size(), 1u);
  clock.setWall(1765360000 + 28801);
  card.On(0x3103, Reply::Words({3}, 1));
  c->GetNewCount(&n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(card.Sent(0x3106).size(), 2u);
  EXPECT_EQ(c->ClearLog(), plat::S_OK);
  EXPECT_EQ(card.Sent(0x3105).back().data, Le32({0}));
}

// The interface answers S_OK whatever the card did, so an event log that cannot be read shows in
// the log: once while it stays unreadable (the agent asks every tick), again after it recovered.
TEST_F(VantrelTest, UnreadableEventsAreLoggedOncePerOutage) {
  CIopController* c = Controller();
  card.On(0x3104, Events({{600, 0, 4, 0}}));
  card.On(0x3103, Reply::Words({1}));
  logged.clear();
  std::uint32_t n = 7;
  std::string record;
  std::uint32_t size = 1;
  auto readAll = [&] {
    n = 7;
    size = 1;
    EXPECT_EQ(c->GetNewCount(&n), plat::S_OK);
    EXPECT_EQ(c->ReadEventLog(&record, &size), plat::S_OK);
  };
  card.broken[0x3103] = plat::Error{ETIMEDOUT, "the card is silent"};
  card.broken[0x3104] = plat::Error{EIO, "the bus reset"};
  readAll();
  readAll();
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(LoggedWith({"IOP1", "new events", "0x3103", "the card is silent"}).size(), 1u);
  EXPECT_EQ(LoggedWith({"IOP1", "events not read", "0x3104", "the bus reset"}).size(), 1u);
  EXPECT_EQ(logged.size(), 2u) << "not again while the outage lasts";

  card.broken.clear();
  readAll();
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(logged.size(), 2u);
  card.On(0x3103, Reply::Words({0}, 4));
  card.On(0x3104, Events({{513, 0, 2, 300}}));  // more arguments than the reply holds
  readAll();
  EXPECT_EQ(LoggedWith({"new events", "status 4"}).size(), 1u);
  EXPECT_EQ(LoggedWith({"events not read", "runs past"}).size(), 1u);
  card.On(0x3104, Events({}));  // fewer records than asked is no failure
  logged.clear();
  readAll();
  EXPECT_TRUE(logged.empty());
}

TEST_F(VantrelTest, ClearingAndClockFailuresAreLogged) {
  CIopController* c = Controller();
  logged.clear();
  card.On(0x3105, Reply::Words({}, 3));
  card.broken[0x3106] = plat::Error{ETIMEDOUT, "the card is silent"};
  EXPECT_EQ(c->ClearLog(), plat::S_OK);
  std::uint32_t n = 0;
  EXPECT_EQ(c->GetNewCount(&n), plat::S_OK);
  EXPECT_EQ(LoggedWith({"events not cleared", "0x3105", "status 3"}).size(), 1u);
  EXPECT_EQ(LoggedWith({"clock not set", "the card is silent"}).size(), 1u);
}

}  // namespace
}  // namespace kelm::iop::testing
