// The tree the root builds, and the texts its nodes show.
#include "components/iop/tests/module_rows.h"
#include "components/iop/tests/vantrel_fixture.h"

namespace kelm::iop::testing {
namespace {

TEST_F(VantrelTest, RootFindsTheCardsThatAnswer) {
  CVantrelRoot* root = MakeRoot();
  EXPECT_EQ(root->Name(), "vantrel");
  EXPECT_EQ(root->NodeType(), 14);
  EXPECT_EQ(ChildNames(root), std::vector<std::string>{"IOP1"});
  EXPECT_EQ(Value(root, "Type"), "VELKARI I2O RAID (QX6000 Compatible)");
  auto* c = dynamic_cast<CIopController*>(root->ChildByName("IOP1"));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->NodeType(), 4);
  EXPECT_EQ(c->Api()->address.targetId, 0x0A5);
  // Attach first (0: not Windows 9x), then the interface information.
  ASSERT_GE(card.sent.size(), 2u);
  EXPECT_EQ(card.sent[0].command, 0x0001);
  EXPECT_EQ(card.sent[0].Word(0), 0u);
  EXPECT_EQ(card.sent[1].command, 0x0000);
  EXPECT_TRUE(card.sent[1].data.empty());
  plat::com::ComPtr<fw::IEventLog> log;
  EXPECT_EQ(c->QueryInterface(fw::IEventLog::kIid, reinterpret_cast<void**>(log.put())), plat::S_OK);
}

TEST_F(VantrelTest, NoCardMeansDriverNotFound) {
  card.cards.clear();
  CVantrelRoot* root = MakeRoot();
  EXPECT_TRUE(ChildNames(root).empty());
  EXPECT_EQ(Value(root, "Type"), "Driver not found");
  EXPECT_EQ(LoggedWith({"IOP1 not started", "identify", "no such card"}).size(), 1u) << "the device's own reason";
}

TEST_F(VantrelTest, AControllerWhoseAttachFailsIsNotAdded) {
  card.cards[1] = 0x0B1;
  card.On(0x0001, [](const SentMessage& m) { return Reply::Words({}, m.controller == 1 ? 5 : 0); });
  CVantrelRoot* root = MakeRoot();
  EXPECT_EQ(ChildNames(root), std::vector<std::string>{"IOP1"});
  EXPECT_EQ(LoggedWith({"IOP2 not started: attach", "0x0001", "status 5"}).size(), 1u);
  card.On(0x0001, Reply::Words({}));
  CVantrelRoot* both = MakeRoot();
  EXPECT_EQ(ChildNames(both), (std::vector<std::string>{"IOP1", "IOP2"}));
}

TEST_F(VantrelTest, ChildrenOfTheController) {
  CIopController* c = Controller();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(ChildNames(c), (std::vector<std::string>{"ch1", "Enclosure1", "Array1"}));
  EXPECT_EQ(c->Container(), 20u);
  EXPECT_EQ(ChildNames(Child(c, "ch1")), (std::vector<std::string>{"master", "slave"}));
  EXPECT_EQ(ChildNames(Child(c, "Array1")), (std::vector<std::string>{"master00", "slave01"}));
  fw::CRiverNode* disk = Child(c, "ch1/master");
  EXPECT_EQ(disk->NodeType(), 6);
  EXPECT_EQ(Value(disk, "DiskHandle"), "200");
  EXPECT_EQ(Value(disk, "model"), "DiskA");
  EXPECT_EQ(Value(disk, "Size"), "2.00 GB");
  EXPECT_EQ(Value(disk, "Timing_Mode"), "5");
  EXPECT_EQ(Value(disk, "Channel"), "0");
  fw::CRiverNode* array = Child(c, "Array1");
  EXPECT_EQ(array->NodeType(), 3);
  EXPECT_EQ(Value(array, "name"), "Array1") << "the firmware's Ary1";
  EXPECT_EQ(Value(array, "RAID_Mode"), "RAID1(MIRROR)");
  EXPECT_EQ(Value(array, "ArrayHandle"), "100");
  EXPECT_EQ(Value(array, "Block Size"), "64");
  EXPECT_EQ(Value(c, "HWVersion"), "Palindrex RX3000 ");
  EXPECT_EQ(Value(c, "IsQx6"), "0");
  EXPECT_EQ(Value(c, "CacheFlushPolicy"), "0") << "the card's answer replaces the default";
  EXPECT_EQ(Value(c, "GetSmart"), "<none>") << "read on the QX series only";
}

TEST_F(VantrelTest, ArrayAndDiskTextsFromTheCard) {
  struct Case {
    std::string firmware;
    std::uint32_t level;
    std::vector<std::uint32_t> members;
    const char* name;
    const char* mode;
    bool rebuild;
  } cases[] = {
      {"Ary3", 1, {200, 201}, "Array3", "RAID1(MIRROR)", true},
      {"", 1, {200, 201, 202}, "N/A", "RAID0+1(STRIPE-MIRRORING)", true},
      {"Data", 0, {200, 201}, "Data", "RAID0(STRIPING)", false},
      {"Big", 8, {200}, "Big", "SPAN", false},
      {"Par", 4, {200, 201, 202}, "Par", "RAID5(PARITY-DISTRIBUTED)", true},
  };
  for (const Case& k : cases) {
    names[100] = k.firmware;
    level = k.level;
    members = k.members;
    fw::CRiverNode* array = Child(Controller(), "Array1");
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(Value(array, "name"), k.name);
    EXPECT_EQ(Value(array, "RAID_Mode"), k.mode);
    EXPECT_EQ(array->FindDrop("RebuildArray") != nullptr, k.rebuild) << k.mode;
    EXPECT_EQ(array->FindDrop("SyncArray") != nullptr, k.rebuild) << k.mode;
    roots.clear();
  }
}

TEST_F(VantrelTest, AnArrayThatLosesItsRedundancyLosesItsTaskMethods) {
  fw::CRiverNode* array = Child(Controller(), "Array1");
  ASSERT_NE(array->FindDrop("RebuildArray"), nullptr);
  level = 8;
  array->refresh();
  EXPECT_EQ(Value(array, "RAID_Mode"), "SPAN");
  EXPECT_EQ(array->FindDrop("RebuildArray"), nullptr);
  EXPECT_EQ(array->FindDrop("SyncArray"), nullptr);
}

TEST_F(VantrelTest, AMemberListOverSixteenKeepsTheFirstSixteen) {
  members.clear();
  for (std::uint32_t h = 0; h < 20; ++h) members.push_back(500 + h);
  CIopController* c = Controller();
  auto* array = dynamic_cast<CIopArray*>(Child(c, "Array1"));
  ASSERT_NE(array, nullptr) << "the array stays in the tree";
  ASSERT_EQ(array->Members().size(), 16u);
  EXPECT_EQ(array->Members().front(), 500u);
  EXPECT_EQ(array->Members().back(), 515u);
  // A change of state re-reads the list, however long it is.
  members.assign(18, 600);
  arrayState = 3;
  for (int i = 0; i < 3; ++i) PollList::Get().Tick();
  EXPECT_EQ(array->Members(), std::vector<std::uint32_t>(16, 600));
  c->refresh();
  EXPECT_EQ(Child(c, "Array1"), array) << "a refresh keeps it too";
}

TEST_F(VantrelTest, AnArrayShowsItsSignedStatusFromItsStart) {
  struct Case {
    std::uint32_t state, throttle;
    const char* status;
    const char* throttleStatus;
    const char* percent;
  } cases[] = {
      {0, 1, "0", "0", "<none>"},
      {0x80000001, 1, "-2147483647", "0", "<none>"},
      {0x80000002, 1, "-2147483646", "0", "<none>"},
      {0x80000201, 1, "-2147483135", "1", "40"},  // a rebuild runs
      {0x80000201, 2, "-2147483647", "2", "<none>"},  // its task has just ended
  };
  for (const Case& k : cases) {
    arrayState = k.state;
    throttle = k.throttle;
    fw::CRiverNode* array = Child(Controller(), "Array1");
    ASSERT_NE(array, nullptr);
    // Before any poll: what the agent reads when it adds the node.
    EXPECT_EQ(Value(array, "Status"), k.status) << std::hex << k.state;
    EXPECT_EQ(Value(array, "ThrottleStatus"), k.throttleStatus) << std::hex << k.state;
    EXPECT_EQ(Value(array, "percent"), k.percent) << std::hex << k.state;
    for (int i = 0; i < 3; ++i) PollList::Get().Tick();
    EXPECT_EQ(Value(array, "Status"), k.status) << "the poll writes it the same way";
    roots.clear();
  }
}

TEST_F(VantrelTest, KindTwoChannelsNameTheirDisksByPosition) {
  top = {{3, 2}};
  inside[3] = {{300, 7}, {301, 1}};
  CIopController* c = Controller();
  EXPECT_EQ(ChildNames(Child(c, "ch1")), (std::vector<std::string>{"disk1", "disk2"}));
}

TEST_F(VantrelTest, ASecondScanRefreshesWhatItMeetsAgain) {
  CIopController* c = Controller();
  fw::CRiverNode* channel = Child(c, "ch1");
  auto watch = Watch(channel);
  auto watchArray = Watch(Child(c, "Array1"));
  c->refresh();
  EXPECT_EQ(Child(c, "ch1"), channel);
  EXPECT_EQ(watch->codes, std::vector<std::uint32_t>{8194});
  EXPECT_EQ(watchArray->codes, std::vector<std::uint32_t>{8194});
  // A channel that goes is removed and one that comes back gets a new number.
  top = {{20, 4}, {30, 5}};
  c->refresh();
  EXPECT_EQ(ChildNames(c), (std::vector<std::string>{"Enclosure1", "Array1"}));
  top = {{0, 1}, {20, 4}, {30, 5}};
  c->refresh();
  EXPECT_EQ(ChildNames(c), (std::vector<std::string>{"Enclosure1", "Array1", "ch2"}));
}

TEST_F(VantrelTest, AnArrayNameThatNowStandsForAnotherHandleIsReplaced) {
  CIopController* c = Controller();
  fw::CRiverNode* before = Child(c, "Array1");
  inside[20] = {{101, 4}};
  owner = {{200, 101}, {201, 101}};
  c->refresh();
  fw::CRiverNode* after = Child(c, "Array1");
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after, before);
  EXPECT_EQ(Value(after, "ArrayHandle"), "101");
}

TEST_F(VantrelTest, ParameterReadsGiveTheModuleRowsThePageShows) {
  Bytes processor(40, 0);
  processor[24] = 0x61;
  card.params[0] = processor;
  card.params[5] = ModuleTableReply({{"Palindrex Firmware", "0102", "15062002", 524288},
                                     {"(Parameter Block)", "0001", "01012002", 4096},
                                     {"Palindrex BIOS", "0011", "01032002", 65536}});
  card.params[3] = ModuleTableReply({{"Quorlin RAID Engine", "0300", "", 131072}}, true);
  CIopController* c = Controller();
  EXPECT_EQ(Value(c, "ProcessorType"), "97");
  const std::string modules = Value(c, "ModuleList");
  EXPECT_EQ(modules.size(), 2u * (12 + 3 * 40)) << "the header and three records, nothing behind them";
  EXPECT_EQ(Value(c, "Quorlin").size(), 2u * 32);
  auto rows = PageRows(modules, Value(c, "Quorlin"));
  ASSERT_TRUE(rows);
  EXPECT_EQ(*rows, (std::vector<ModuleRow>{{"Palindrex Firmware", "0102", "06/15/2002", "524288"},
                                           {"Palindrex BIOS", "0011", "03/01/2002", "65536"},
                                           {"Quorlin RAID Engine", "0300", "", "131072"}}));

  // Without an engine row the Quorlin table sets nothing.
  card.params[3] = ModuleTableReply({}, true);
  EXPECT_EQ(Value(Controller(), "Quorlin"), "<none>");
}

TEST_F(VantrelTest, AModuleCountBeyondTheReplySetsNothing) {
  card.params[5] = Le32({0, 1000});
  card.params[3] = Bytes(48, 1);
  CIopController* c = Controller();
  EXPECT_EQ(Value(c, "ModuleList"), "<none>");
  EXPECT_EQ(Value(c, "Quorlin"), "<none>");
}

TEST_F(VantrelTest, QxSeriesReadsItsSettings) {
  hardware = 0x0126;
  card.On(0x3006, Reply::Words({1}, 7));  // set whenever the call goes through, whatever the status
  CIopController* c = Controller();
  EXPECT_EQ(Value(c, "HWVersion"), "Palindrex QX6000 ");
  EXPECT_EQ(Value(c, "IsQx6"), "1");
  EXPECT_EQ(Value(c, "GetSmart"), "1");
  EXPECT_EQ(Value(c, "CacheSize"), "<none>");
  EXPECT_EQ(Value(Child(c, "Array1"), "ReadCacheHit"), "<none>");
  EXPECT_EQ(Value(Child(c, "Array1"), "GetWriteBackCache"), "0");
}

TEST_F(VantrelTest, SensorsOfAnEnclosureKeepTheirNamesAcrossScans) {
  card.On(0x3005, Reply::Words({1}));
  top = {{0, 1}, {1, 1}, {2, 1}, {20, 4}, {30, 5}};
  inside[1] = {{210, 1}};
  inside[2] = {{220, 1}};
  card.On(0x310C, [](const SentMessage& m) {
    if (m.Word(0) != 0) return Reply::Words({m.Word(0) * 100 + m.Word(1)});
    switch (m.Word(1)) {
      case 0:
        return Reply::Words({0x01});
      case 1:
        return Reply::Words({0x11});
      default:
        return Reply::Words({0x10});
    }
  });
  CIopController* c = Controller();
  fw::CRiverNode* e = Child(c, "Enclosure1");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(ChildNames(e), (std::vector<std::string>{"brindle1", "corvane2", "oem2"}));
  fw::CRiverNode* first = Child(e, "brindle1");
  e->refresh();
  EXPECT_EQ(ChildNames(e), (std::vector<std::string>{"brindle1", "corvane2", "oem2"}));
  EXPECT_EQ(Child(e, "brindle1"), first);
  EXPECT_EQ(Value(e, "NumEnclosures"), "3");
  EXPECT_EQ(Value(e, "HardwareType"), "1");
  fw::CRiverNode* fan = Child(e, "corvane2");
  EXPECT_EQ(fan->NodeType(), 17);
  EXPECT_EQ(Value(fan, "FanRPM"), "101");
  EXPECT_EQ(Value(fan, "Power12VStatus"), "401");
  EXPECT_EQ(Value(fan, "EnclosureType"), "17");
}

TEST_F(VantrelTest, EnclosureModeOtherThanOneCountsOneWithoutSensors) {
  CIopController* c = Controller();
  fw::CRiverNode* e = Child(c, "Enclosure1");
  EXPECT_EQ(Value(e, "NumEnclosures"), "1");
  EXPECT_TRUE(ChildNames(e).empty());
}

}  // namespace
}  // namespace kelm::iop::testing
