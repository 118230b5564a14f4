// Labels, images, command rules and array actions of the console document.
#include <map>

#include "console/core/array_action.h"
#include "console/core/strings.h"
#include "console/core/tests/console_test_support.h"
#include "platform/kernel/named_objects.h"
#include "platform/testing/manual_clock.h"

namespace kelm::console::testing {
namespace {

TEST_F(NodeFixture, ArrayLabels) {
  struct Case {
    int type;
    const char* name;
    const char* status;
    const char* percent;
    const char* text;
  } cases[] = {
      {kNodeIopArray, "Ary2", "0", "0", "Array2"},
      {kNodeIopArray, "Ary", "0", "0", "Ary"},  // no fourth character: the name stays
      {kNodeIopArray, "", "0", "0", "Array"},
      {kNodeIdeArray, "Ary2", "0", "0", "Ary2"},
      {kNodeIdeArray, "Data", "512", "150", "Data Rebuilding 0%"},
      {kNodeIdeArray, "Data", "256", "42", "Data Synchronizing 42%"},
      {kNodeSerialArray, "Data", "1280", "7", "Data Initializing 7%"},
      {kNodeIdeArray, "Data", "-2147483647", "0", "Data (Critical)"},
      {kNodeIdeArray, "Data", "-2147483646", "0", "Data (Offline)"},
  };
  int i = 0;
  for (const Case& c : cases) {
    CVirtualFolder* a = Make("A" + std::to_string(i++), c.type, {{"name", c.name}, {"Status", c.status}, {"percent", c.percent}});
    EXPECT_EQ(doc->BuildNodeLabel(a).text, c.text) << c.name << " " << c.status;
  }
}

TEST_F(NodeFixture, TheAlarmIsTheSetOfAlarmedArraysAndBeepsEverySecond) {
  CVirtualFolder* a = Make("A", kNodeIdeArray, {{"name", "One"}, {"Status", "-2147483647"}});
  CVirtualFolder* b = Make("B", kNodeIdeArray, {{"name", "Two"}, {"Status", "-2147483646"}});
  doc->BuildNodeLabel(a);
  doc->BuildNodeLabel(b);
  EXPECT_TRUE(doc->alarm());
  ui.beeps.clear();
  doc->Poll();
  EXPECT_EQ(ui.beeps, (std::vector<std::uint32_t>{kBeepDefault}));
  // One array recovering does not silence the other.
  a->SetLocalProperty("Status", "0");
  doc->BuildNodeLabel(a);
  EXPECT_TRUE(doc->alarm());
  // An alarmed array that goes away takes its alarm with it.
  Agent()->RemoveChildNode(b);
  EXPECT_FALSE(doc->alarm());
  // The beeper off: no beep.
  CVirtualFolder* c = Make("C", kNodeIdeArray, {{"Status", "-2147483647"}});
  doc->BuildNodeLabel(c);
  doc->OnCommand(kCmdBeeper);
  ui.beeps.clear();
  doc->Poll();
  EXPECT_TRUE(ui.beeps.empty());
}

TEST_F(NodeFixture, ArrayTaskRunningIsPerArrayAndClears) {
  CVirtualFolder* a = Make("A", kNodeSerialArray, {{"Status", "768"}});
  doc->BuildNodeLabel(a);
  EXPECT_TRUE(doc->arrayTaskRunning());
  a->SetLocalProperty("Status", "0");
  doc->BuildNodeLabel(a);
  EXPECT_FALSE(doc->arrayTaskRunning());
}

TEST_F(NodeFixture, OtherLabels) {
  struct Case {
    int type;
    const char* name;
    std::vector<std::pair<std::string, std::string>> values;
    const char* text;
  } cases[] = {
      {kNodeRaidSystem, "MV_RAID", {}, "MAROVELT"},
      {kNodeRaidSystem, "SC_RAID", {}, "SORVENTIC"},
      {kNodeRaidSystem, "MVQX_RAID", {}, "MAROVELT_QX"},
      {kNodeRaidSystem, "OTHER", {}, "Unknown"},
      {kNodeIdeDisk, "Disk1", {{"model", "WD100"}}, "Disk1 (WD100)"},
      {kNodeIdeDisk, "Disk2", {}, "Disk2"},
      {kNodeServer, "S", {{"Description", "Rack 4"}}, "Rack 4"},
  };
  int i = 0;
  for (const Case& c : cases) {
    CVirtualFolder* n = Make(c.name, c.type, c.values);
    EXPECT_EQ(doc->BuildNodeLabel(n).text, c.text) << i++;
  }
  // A disk below an array: its channel and model.
  CVirtualFolder* array = Make("Arr", kNodeIdeArray, {{"name", "Data"}});
  CVirtualFolder* d = Make("Disk3", kNodeIdeDisk, {{"Channel", "1"}, {"model", "ST1"}}, array);
  EXPECT_EQ(doc->BuildNodeLabel(d).text, "ch2\\ST1");
  EXPECT_EQ(doc->BuildNodeLabel(Make("Disk4", kNodeIdeDisk, {{"Channel", "0"}}, array)).text, "ch1\\Disk4");
  // Its values not read yet: no channel is made up.
  EXPECT_EQ(doc->BuildNodeLabel(Make("master00", kNodeIdeDisk, {}, array)).text, "master00");
  EXPECT_TRUE(doc->notIntelligentIo());
  doc->BuildNodeLabel(Make("VANTREL_RAID", kNodeRaidSystem, {}));
  EXPECT_FALSE(doc->notIntelligentIo());
}

TEST_F(NodeFixture, NodeImages) {
  struct Case {
    int type;
    std::vector<std::pair<std::string, std::string>> values;
    int image;
  } cases[] = {
      {kNodeIdeArray, {{"Status", "0"}}, 3},
      {kNodeIdeArray, {{"Status", "-2147483647"}}, 20},
      {kNodeIdeArray, {{"Status", std::to_string(static_cast<int>(0x80000001u | 0x200u))}}, 21},
      {kNodeIdeArray, {{"Status", std::to_string(static_cast<int>(0x80000002u | 0x100u))}}, 20},
      {kNodeIdeArray, {{"Status", "1024"}}, 3},
      {kNodeIdeController, {}, 4},
      {kNodeIdeChannel, {}, 5},
      {kNodeIdeDisk, {{"Status", "256"}}, 7},
      {kNodeIdeDisk, {{"Status", "768"}}, 8},
      {kNodeIdeDisk, {{"Status", std::to_string(static_cast<int>(0x80000201u))}}, 28},
      {kNodeIdeDisk, {{"Status", "0"}}, 6},
      {kNodeEnclosure, {{"HardwareType", "1"}}, 27},
      {kNodeEnclosure, {}, 9},
      {kNodeFan, {{"Status", "0"}}, 11},
      {kNodeFan, {{"Status", "1"}}, 23},
      {kNodeUser, {}, 15},
      {kNodeRaidSystem, {{"Type", "SOFTRAID"}}, 26},
      {kNodeRaidSystem, {}, 16},
      {kNodeServer, {{"ServerStatus", "2"}}, 19},
      {99, {}, 0},
  };
  int i = 0;
  for (const Case& c : cases) {
    CVirtualFolder* n = Make("N" + std::to_string(i), c.type, c.values);
    EXPECT_EQ(doc->GetNodeImage(n), c.image) << "case " << i;
    ++i;
  }
  EXPECT_EQ(doc->GetNodeImage(nullptr), 17);
  EXPECT_EQ(doc->GetNodeImage(Agent()), 2);
}

TEST_F(NodeFixture, CommandEnableRules) {
  const int m = 60;
  struct Case {
    const char* what;
    int type;
    std::vector<std::pair<std::string, std::string>> values;
    int command;
    bool enabled;
  } cases[] = {
      {"continue needs throttle 4", kNodeIopArray, {{"!RebuildArray", "60"}, {"Status", "512"}, {"ThrottleStatus", "4"}}, kCmdContinue, true},
      {"continue refused at 1", kNodeIopArray, {{"!RebuildArray", "60"}, {"Status", "512"}, {"ThrottleStatus", "1"}}, kCmdContinue, false},
      {"pause at 1", kNodeIopArray, {{"!RebuildArray", "60"}, {"Status", "256"}, {"ThrottleStatus", "1"}}, kCmdPause, true},
      {"pause without a task", kNodeIopArray, {{"!RebuildArray", "60"}, {"Status", "0"}, {"ThrottleStatus", "1"}}, kCmdPause, false},
      {"stop a sync", kNodeIdeArray, {{"!SyncArray", "60"}, {"Status", "256"}, {"ThrottleStatus", "1"}}, kCmdStop, true},
      {"stop an iop rebuild", kNodeIopArray, {{"!SyncArray", "60"}, {"Status", "512"}, {"ThrottleStatus", "1"}}, kCmdStop, false},
      {"stop a serial expansion", kNodeSerialArray, {{"!StopConversion", "60"}, {"Status", "768"}, {"ThrottleStatus", "1"}}, kCmdStop, true},
      {"stop a serial sync", kNodeSerialArray, {{"!StopConversion", "60"}, {"Status", "512"}, {"ThrottleStatus", "1"}}, kCmdStop, false},
      {"sync", kNodeIdeArray, {{"!SyncArray", "60"}}, kCmdSyncArray, true},
      {"sync serial busy", kNodeSerialArray, {{"!SyncArray", "60"}, {"Status", "256"}}, kCmdSyncArray, false},
      {"rebuild", kNodeIdeArray, {{"!RebuildArray", "60"}}, kCmdRebuildArray, true},
      {"rebuild without method", kNodeIdeArray, {}, kCmdRebuildArray, false},
      {"rename", kNodeUser, {{"!rename", "60"}}, kCmdRename, true},
      {"read events", kNodeIdeController, {{"!ReadEvent", "60"}}, kCmdReadEvents, true},
      {"clear events", kNodeIdeController, {}, kCmdClearEvents, false},
      {"logout when logged on", kNodeIdeController, {{"bHaveLogin", "1"}}, kCmdLogout, true},
      {"new server never", kNodeConsoleRoot, {}, kCmdNewServer, false},
      {"connect never", kNodeServer, {}, kCmdConnect, false},
  };
  (void)m;
  int i = 0;
  for (const Case& c : cases) {
    CVirtualFolder* n = Make("C" + std::to_string(i++), c.type, c.values);
    doc->SetCommandNode(n);
    EXPECT_EQ(doc->IsCommandEnabled(c.command), c.enabled) << c.what;
  }
  // Delete array needs the parent's method.
  CVirtualFolder* ctl = Make("Ctl", kNodeIopController, {{"!DeleteArray", "60"}});
  CVirtualFolder* a = Make("Arr", kNodeIopArray, {{"ThrottleStatus", "0"}}, ctl);
  doc->SetCommandNode(a);
  EXPECT_TRUE(doc->IsCommandEnabled(kCmdDeleteArray));
  a->SetLocalProperty("ThrottleStatus", "1");
  EXPECT_FALSE(doc->IsCommandEnabled(kCmdDeleteArray));
}

// Delete Array reaches the agent on the array's controller, with the array's handle.
TEST_F(ConsoleTest, DeleteArrayGoesToTheControllerOfTheTwoFamiliesThatDelete) {
  FakeNode* iop = agent.root.Folder("Ctl4", kNodeIopController);
  iop->Add("DeleteArray", "m--", "134217736");
  FakeNode* a3 = iop->Folder("Ary1", kNodeIopArray);
  a3->Add("ArrayHandle", "pr-", "7");
  a3->Add("ThrottleStatus", "pr-", "0");
  a3->Add("DeleteArray", "m--", "134217736");  // declared on the array too; it answers a failure
  FakeNode* sc = agent.root.Folder("Sc0", kNodeSerialController);
  sc->Add("DeleteArray", "m--", "134217736");
  FakeNode* a22 = sc->Folder("Ary0", kNodeSerialArray);
  a22->Add("ArrayHandle", "pr-", "2");
  a22->Add("Status", "pr-", "0");
  agent.root.Child("Controller0")->Add("DeleteArray", "m--", "134217736");
  ValidProfile();
  Start();
  struct Case {
    const char* array;
    bool enabled;
    const char* invoked;
  } cases[] = {
      {"\\HOST7\\Ctl4\\Ary1", true, "\\Ctl4|DeleteArray@7"},
      {"\\HOST7\\Sc0\\Ary0", true, "\\Sc0|DeleteArray@2"},
      {"\\HOST7\\Controller0\\Array1", false, ""},
  };
  for (const Case& c : cases) {
    const std::string path = c.array;
    Node(path.substr(0, path.rfind('\\')))->Refresh();
    Pump();
    CVirtualFolder* array = Node(path);
    ASSERT_NE(array, nullptr) << path;
    array->Refresh();
    Pump();
    doc->SetCommandNode(array);
    EXPECT_EQ(doc->IsCommandEnabled(kCmdDeleteArray), c.enabled) << path;
    if (!c.enabled) continue;
    agent.invoked.clear();
    doc->OnCommand(kCmdDeleteArray);
    Pump();
    EXPECT_EQ(agent.invoked, std::vector<std::string>{c.invoked}) << path;
  }
}

TEST_F(NodeFixture, TheDeleteKeyRunsOnlyAnEnabledDelete) {
  CVirtualFolder* ctl = Make("Ctl", kNodeIopController, {});  // no DeleteArray method
  CVirtualFolder* a = Make("Arr", kNodeIopArray, {{"ThrottleStatus", "0"}}, ctl);
  doc->SetCommandNode(a);
  ui.boxes.clear();
  doc->OnDeleteKey();
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(ui.beeps.empty());  // a disabled delete does nothing
  EXPECT_NE(ctl->FindChild("Arr"), nullptr);
}

TEST_F(NodeFixture, TheDeleteKeyPostsTheDeleteOfFourTypesAndBeepsForEveryOther) {
  CVirtualFolder* iop = Make("Iop", kNodeIopController, {{"!DeleteArray", "8"}});
  CVirtualFolder* serial = Make("Sc", kNodeSerialController, {{"!DeleteArray", "8"}});
  CVirtualFolder* users = Make("Users", kNodeUserAccounts, {{"!DeleteUser", "2"}});
  struct Case {
    CVirtualFolder* node;
    int box;  // the confirmation shown, 0 for none
    bool beep;
  } cases[] = {
      {Make("Srv", kNodeServer, {}), kStrConfirmDeleteServer, false},
      {Make("A3", kNodeIopArray, {{"ThrottleStatus", "0"}}, iop), kStrConfirmDeleteArray, false},
      {Make("A22", kNodeSerialArray, {{"Status", "0"}}, serial), 0, true},
      {Make("A18", kNodeIdeArray, {}, Make("Ide", kNodeIdeController, {{"!DeleteArray", "8"}})), 0, false},
      {Make("U", kNodeUser, {{"right", "4"}}, users), kStrConfirmDeleteUser, false},
      {Make("D", kNodeIopDisk, {}), 0, true},
      {Make("C", kNodeIopController, {}), 0, true},
  };
  for (const Case& c : cases) {
    doc->SetCommandNode(c.node);
    ui.boxes.clear();
    ui.beeps.clear();
    ui.answers = {kIdCancel, kIdNo};
    doc->OnDeleteKey();
    EXPECT_EQ(ui.boxes.empty() ? 0 : ui.boxes[0].stringId, c.box) << c.node->name();
    EXPECT_EQ(ui.beeps, c.beep ? std::vector<std::uint32_t>{kBeepHand} : std::vector<std::uint32_t>{})
        << c.node->name();
  }
  doc->SetCommandNode(nullptr);
  doc->SetViewSelection(nullptr);
  ui.beeps.clear();
  doc->OnDeleteKey();
  EXPECT_EQ(ui.beeps.size(), 1u);
}

TEST_F(NodeFixture, CreateArrayAndTheNewArrayDisks) {
  CVirtualFolder* ctl = Make("Ctl", kNodeIopController, {{"!CreateArray", "60"}});
  std::vector<CVirtualFolder*> disks;
  for (int ch = 0; ch < 2; ++ch) {
    CVirtualFolder* channel = Make("Ch" + std::to_string(ch), kNodeChannel, {}, ctl);
    for (int d = 0; d < 5; ++d) {
      disks.push_back(Make("D" + std::to_string(d), kNodeIopDisk, {{"Status", "256"}}, channel));
    }
  }
  doc->setFreeDiskAvailable(true);
  doc->SetCommandNode(ctl);
  ASSERT_TRUE(doc->IsCommandEnabled(kCmdCreateArray));
  doc->OnCommand(kCmdCreateArray);
  auto* array = dynamic_cast<CVirtualFolder*>(ctl->FindChild("New Array"));
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->nodeType(), kNodeIopArray);
  EXPECT_TRUE(array->flags() & CVirtualFolder::kFlagNew);
  EXPECT_EQ(array->GetProperty("name", "", true), "Array");
  EXPECT_EQ(ui.selected, array);
  const std::size_t mark = agent.received.size();
  for (std::size_t i = 0; i < disks.size(); ++i) {
    doc->SetCommandNode(disks[i]);
    EXPECT_EQ(doc->IsCommandEnabled(kCmdAddToNewArray), i < 8) << i;  // eight slots
    doc->OnCommand(kCmdAddToNewArray);
  }
  EXPECT_EQ(disks[0]->GetProperty("Status", "", true), "512");
  std::size_t shortcuts = 0;
  for (CPea* child : array->SubFolders(false)) shortcuts += dynamic_cast<CShortCut*>(child) != nullptr;
  EXPECT_EQ(shortcuts, 8u);
  // The marks are the console's own: nothing went to the agent.
  Pump();
  EXPECT_TRUE(agent.Since(mark).empty());
  // Deleting the console-only array sends nothing and frees its disks.
  doc->SetCommandNode(array);
  CArrayAction(doc.get(), array).DeleteArray();
  EXPECT_EQ(ctl->FindChild("New Array"), nullptr);
  EXPECT_EQ(disks[0]->GetProperty("Status", "", true), "256");
  Pump();
  EXPECT_TRUE(agent.Since(mark).empty());
}

TEST(ArgList, JoinsFieldsWithAtSigns) {
  std::string text;
  CArgList list(text);
  list.Add(512);
  EXPECT_EQ(text, "512");
  list.Add("disk");
  EXPECT_EQ(list.GetText(), "512@disk");
  std::string lost;
  CArgList empty(lost);
  empty.Add("");
  empty.Add("x");
  EXPECT_EQ(lost, "x");
}

TEST_F(NodeFixture, ArrayActions) {
  struct Case {
    const char* what;
    int type;
    int status;
    int throttle;
    int command;  // document command
    std::vector<int> prompts;
    const char* sent;  // method@arguments, or "" for nothing
  } cases[] = {
      {"continue a sync", kNodeIopArray, 0x100, 4, kCmdContinue, {}, "SyncArray@256"},
      {"pause a rebuild", kNodeIopArray, 0x200, 1, kCmdPause, {kStrConfirmPause}, "RebuildArray@1024@"},
      {"pause of a serial array does nothing", kNodeSerialArray, 0x200, 1, kCmdPause, {}, ""},
      {"stop an expansion", kNodeSerialArray, 0x300, 1, kCmdStop, {kStrConfirmStopConversion}, "StopConversion@"},
      {"stop a sync", kNodeIdeArray, 0x100, 1, kCmdStop, {kStrConfirmStop}, "SyncArray@2048"},
      {"throttle 2 is never controlled", kNodeIdeArray, 0x100, 2, kCmdContinue, {}, ""},
      {"initialising is not controlled", kNodeIdeArray, 0x500, 1, kCmdStop, {}, ""},
      {"synchronize", kNodeIdeArray, 0, 0, kCmdSyncArray, {kStrConfirmSync}, "SyncArray@512"},
  };
  int i = 0;
  for (const Case& c : cases) {
    FakeNode* fakeCtl = agent.root.Folder("K" + std::to_string(i), kNodeIdeController);
    FakeNode* fa = fakeCtl->Folder("A", c.type);
    fa->Add("Status", "pr-", std::to_string(c.status));
    fa->Add("ThrottleStatus", "pr-", std::to_string(c.throttle));
    for (const char* m : {"SyncArray", "RebuildArray", "StopConversion"}) fa->Add(m, "m--", "60");
    Agent()->Reload();
    Pump();
    CVirtualFolder* ctl = Node("\\HOST7\\K" + std::to_string(i));
    ASSERT_NE(ctl, nullptr);
    ctl->Refresh();
    Pump();
    CVirtualFolder* a = Node("\\HOST7\\K" + std::to_string(i) + "\\A");
    ASSERT_NE(a, nullptr);
    a->Refresh();
    Pump();
    doc->SetCommandNode(a);
    ui.boxes.clear();
    agent.invoked.clear();
    doc->OnCommand(c.command);
    Pump();
    std::vector<int> prompts;
    for (const auto& b : ui.boxes) prompts.push_back(b.stringId);
    EXPECT_EQ(prompts, c.prompts) << c.what;
    const std::string want = c.sent;
    if (want.empty()) {
      EXPECT_TRUE(agent.invoked.empty()) << c.what;
    } else {
      ASSERT_EQ(agent.invoked.size(), 1u) << c.what;
      EXPECT_EQ(agent.invoked[0], "\\K" + std::to_string(i) + "\\A|" + want) << c.what;
    }
    ++i;
  }
}

TEST_F(NodeFixture, ARefusedConfirmationSendsNothing) {
  FakeNode* fa = agent.root.Child("Controller0")->Child("Array1");
  (void)fa;
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  c0->Refresh();
  Pump();
  CVirtualFolder* a = Node("\\HOST7\\Controller0\\Array1");
  a->Refresh();
  Pump();
  ui.answers = {kIdNo};
  agent.invoked.clear();
  CArrayAction(doc.get(), a).SyncArray(kActStart);
  Pump();
  EXPECT_TRUE(agent.invoked.empty());
  // Rebuild with a disk of the IDE family sends the disk's handle.
  CVirtualFolder* disk = Make("Disk1", kNodeIdeDisk, {{"handle", "5"}}, c0);
  CArrayAction(doc.get(), a).RebuildArray(kActStart, disk);
  Pump();
  ASSERT_EQ(agent.invoked.size(), 1u);
  EXPECT_EQ(agent.invoked[0], "\\Controller0\\Array1|RebuildArray@512@5");
  // A node that is not an array makes every action a no-op.
  agent.invoked.clear();
  CArrayAction(doc.get(), c0).SyncArray(kActStart);
  CArrayAction(doc.get(), c0).DeleteArray();
  Pump();
  EXPECT_TRUE(agent.invoked.empty());
}

TEST_F(NodeFixture, RunOnStartupIsReadBackAfterEachChange) {
  ASSERT_FALSE(doc->runOnStartup());
  doc->OnCommand(kCmdRunOnStartup);
  EXPECT_TRUE(doc->runOnStartup());
  EXPECT_TRUE(doc->IsRunOnStartup());
  doc->OnCommand(kCmdRunOnStartup);
  EXPECT_FALSE(doc->runOnStartup());
}

// The look is saved as a whole section: what the console holds is written, and an entry it no
// longer uses (a font given up for the system's) goes.
TEST_F(ConsoleTest, TheLookIsSavedAsItWasLoadedAndStaleEntriesGo) {
  plat::reg::Profile p("Velkari Technology Inc.", "Kelm");
  ASSERT_TRUE(p.writeInt("Format", "SysFont", 1));
  ASSERT_TRUE(p.writeBinary("Format", "PaneFont", {1, 2, 3}));  // unused while SysFont is 1
  ASSERT_TRUE(p.writeInt("Format", "SysBkColor", 0));
  ASSERT_TRUE(p.writeInt("Format", "BackgroundColor", 0x102030));
  ASSERT_TRUE(p.writeInt("Format", "SysTxtColor", 0));
  ASSERT_TRUE(p.writeInt("Format", "ForegroundColor", 0x405060));
  ValidProfile();
  Start();
  doc->Close();
  auto format = p.openSection("Format");
  ASSERT_TRUE(format);
  auto values = format->values();
  ASSERT_TRUE(values);
  std::map<std::string, std::uint32_t> stored;
  for (const auto& v : *values) {
    ASSERT_TRUE(v.asDword()) << v.name;
    stored[v.name] = *v.asDword();
  }
  const std::map<std::string, std::uint32_t> expected{{"SysFont", 1},
                                                      {"SysBkColor", 0},
                                                      {"BackgroundColor", 0x102030},
                                                      {"SysTxtColor", 0},
                                                      {"ForegroundColor", 0x405060},
                                                      {"Initialize", 1}};
  EXPECT_EQ(stored, expected);
}

TEST(RunOnStartup, APathWithABlankIsQuoted) {
  plat::testing::TempRoot root;
  plat::ManualClock clock;
  auto loop = plat::makeEpollLoop(clock).value();
  FakeUi ui;
  FakeAgent agent;
  for (const auto& [path, stored] : std::vector<std::pair<std::string, std::string>>{
           {"/opt/kelm/bin/kelm", "/opt/kelm/bin/kelm"}, {"/opt/My Apps/kelm", "\"/opt/My Apps/kelm\""}}) {
    DocumentOptions opts;
    opts.channelFactory = agent.Factory();
    opts.programPath = path;
    CDremmoralDoc doc(ui, *loop, clock, opts);
    ASSERT_TRUE(doc.WriteRunOnStartup());
    auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->getString("Velkari Tech.").valueOr(""), stored);
  }
}

}  // namespace
}  // namespace kelm::console::testing

namespace kelm::console::testing {
namespace {

TEST_F(NodeFixture, TheAgentIsStoppedOnceAndWaitedForOnlyWhenItsEventExists) {
  std::vector<int> waits;
  auto sleeper = [&](int ms) { waits.push_back(ms); };
  doc->StopLocalAgent(sleeper);
  EXPECT_TRUE(waits.empty());  // nobody made the event: nothing to wait for
  CDremmoralDoc other(ui, *loop, clock, DocumentOptions{"Velkari Technology Inc.", "Kelm", agent.Factory(), ""});
  auto event = plat::kernel::NamedEvent::create("ZODUzAve-ServiceStop");
  ASSERT_TRUE(event);
  other.StopLocalAgent(sleeper);
  other.StopLocalAgent(sleeper);
  EXPECT_EQ(waits, (std::vector<int>{3000}));
  EXPECT_EQ(event->wait(0).valueOr(plat::kernel::NamedEvent::WaitResult::TimedOut),
            plat::kernel::NamedEvent::WaitResult::Signaled);
}

}  // namespace
}  // namespace kelm::console::testing
