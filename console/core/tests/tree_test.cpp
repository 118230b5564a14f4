// The mirrored tree and the agent connection against the scripted agent.
#include "console/core/pellwick.h"
#include "console/core/tests/console_test_support.h"
#include "console/core/virtual_folder.h"

namespace kelm::console::testing {
namespace {

std::vector<std::string> Texts(const std::vector<CMessage>& records) {
  std::vector<std::string> out;
  for (const CMessage& m : records) out.push_back(std::to_string(m.code) + " \"" + m.text + "\"");
  return out;
}

TEST_F(ConsoleTest, FirstQueryNamesTheLocalAgentAfterTheHost) {
  ValidProfile();
  Start();
  // The engine opens the channel, then the first query goes out under one identifier.
  ASSERT_GE(agent.received.size(), 3u);
  EXPECT_EQ(agent.received[0].code, kReqComOpen);
  EXPECT_EQ(agent.received[1], CMessage(kReqChangeFolder, agent.received[1].id, kStatusRequest, "\\"));
  EXPECT_EQ(agent.received[2], CMessage(kReqQuery, agent.received[1].id, kStatusRequest, "."));
  CVirtualFolder* node = Agent();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->value(), "2");
  EXPECT_EQ(node->nodeType(), kNodeAgent);
  EXPECT_EQ(Conn()->name(), "HOST7");
  EXPECT_EQ(node->GetProperty("ServerStatus", "", true), "1");
  EXPECT_EQ(doc->root()->FindChild("LOCALAGENT"), nullptr);
  // The agent's listing arrived: its controller is mirrored, closed until opened.
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  ASSERT_NE(c0, nullptr);
  EXPECT_FALSE(c0->isOpen());
  EXPECT_TRUE(node->isOpen());
}

TEST_F(ConsoleTest, ListingAFolderIsOneIdentifierOfSteps) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  ASSERT_NE(c0, nullptr);
  const std::size_t mark = agent.received.size();
  ASSERT_EQ(c0->Refresh(), 0);
  Pump();
  const std::vector<CMessage> sent = agent.Since(mark);
  ASSERT_EQ(Texts(sent), (std::vector<std::string>{"4099 \"\\\"", "4099 \"Controller0\"", "4098 \"\""}));
  EXPECT_EQ(sent[0].id, sent[1].id);
  EXPECT_EQ(sent[1].id, sent[2].id);
  EXPECT_TRUE(c0->isOpen());
  EXPECT_FALSE(c0->listingPending());
  EXPECT_NE(c0->FindChild("Array1"), nullptr);
  EXPECT_NE(c0->FindMethod("CreateArray"), nullptr);
  EXPECT_GE(view.Count(kHintChildrenChanged, c0), 1);
  // An open folder is not listed again by Refresh.
  const std::size_t again = agent.received.size();
  c0->Refresh();
  Pump();
  EXPECT_TRUE(agent.Since(again).empty());
  // Every owner reference went with its request.
  EXPECT_EQ(Conn()->heldReferences(), 0u);
}

TEST_F(ConsoleTest, ReloadPrunesWhatTheAgentNoLongerListsButKeepsPinnedChildren) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  c0->Refresh();
  Pump();
  ASSERT_NE(c0->FindChild("Array1"), nullptr);
  c0->AddChildEntry("Local", "prw", "x");
  c0->PinChild(c0->FindChild("Local"));
  agent.root.Child("Controller0")->Remove("Array1");
  c0->Reload();
  Pump();
  EXPECT_EQ(c0->FindChild("Array1"), nullptr);
  EXPECT_NE(c0->FindChild("Local"), nullptr);
  // A listing that fails keeps what the tree had.
  agent.root.Child("Controller0")->Remove("model");
  FakeNode* saved = agent.root.Child("Controller0");
  saved->name = "Renamed";  // the change-folder step now fails with 803
  c0->Reload();
  Pump();
  EXPECT_NE(c0->FindChild("model"), nullptr);
  EXPECT_NE(c0->FindChild("Local"), nullptr);
}

// The listings sent since the mark, by the folder they were asked in.
std::vector<std::string> ListingsSince(const FakeAgent& agent, std::size_t mark) {
  std::vector<std::string> out;
  std::string folder;
  for (const CMessage& m : agent.Since(mark)) {
    if (m.code == kReqChangeFolder) folder = m.text;
    if (m.code == kReqListRights) out.push_back(folder);
  }
  return out;
}

// The pages and the outline refresh a closed node on every read and every hint while its listing
// is on the way. The node types that list again must not queue a listing per refresh: a sibling
// asked for afterwards would wait behind all of them.
TEST_F(ConsoleTest, APendingListingIsSentOnceHoweverOftenItsNodeIsRefreshed) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  for (int type : {kNodeIopDisk, kNodeEnclosure, kNodeSensorGroup, kNodeIdeDisk, kNodeSerialDisk}) {
    SCOPED_TRACE(type);
    const std::string name = "Node" + std::to_string(type);
    agent.root.Child("Controller0")->Folder(name, type)->Add("Status", "prv", "0");
    c0->Reload();
    Pump();
    auto* node = dynamic_cast<CVirtualFolder*>(c0->FindChild(name));
    auto* array = dynamic_cast<CVirtualFolder*>(c0->FindChild("Array1"));
    ASSERT_NE(node, nullptr);
    ASSERT_NE(array, nullptr);
    ASSERT_FALSE(node->isOpen());
    array->setOpen(false);
    array->setListingPending(false);
    const std::size_t mark = agent.received.size();
    for (int i = 0; i < 25; ++i) {
      node->Refresh();
      (void)node->GetProperty("Temperature", "");  // a closed node's read refreshes it too
    }
    array->Refresh();
    Pump();
    EXPECT_TRUE(node->isOpen());
    EXPECT_TRUE(array->isOpen());
    EXPECT_EQ(ListingsSince(agent, mark), (std::vector<std::string>{name, "Array1"}));
    EXPECT_EQ(Conn()->heldReferences(), 0u);
  }
}

// A listing that went without an answer (a logoff drops the requests it had queued) is sent
// again by the next refresh of such a node.
TEST_F(ConsoleTest, AListingDroppedUnansweredIsSentAgainByTheNextRefresh) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  agent.root.Child("Controller0")->Folder("Disk0", kNodeIopDisk)->Add("Status", "prv", "0");
  c0->Refresh();
  Pump();
  auto* disk = dynamic_cast<CVirtualFolder*>(c0->FindChild("Disk0"));
  ASSERT_NE(disk, nullptr);
  c0->Query("model");  // in flight, so that the disk's listing waits behind it
  disk->Refresh();
  ASSERT_TRUE(Conn()->ListingQueued(disk));
  Conn()->LogoffNode(Agent(), "4660");
  ASSERT_FALSE(Conn()->ListingQueued(disk));
  Pump();
  ASSERT_TRUE(disk->listingPending());
  ASSERT_FALSE(disk->isOpen());
  const std::size_t mark = agent.received.size();
  disk->Refresh();
  Pump();
  EXPECT_EQ(ListingsSince(agent, mark), (std::vector<std::string>{"Disk0"}));
  EXPECT_TRUE(disk->isOpen());
}

TEST(TreeEntry, SplitsAtTheFirstTwoAtSigns) {
  struct Case {
    const char* entry;
    bool ok;
    const char* name;
    const char* type;
    const char* value;
  } cases[] = {
      {"Array1@o--@22@extra", true, "Array1", "o--", "22@extra"},
      {"Array1@o--@22", true, "Array1", "o--", "22"},
      {"x@prw@", true, "x", "prw", ""},
      {"@o--@22", false, "", "", ""},
      {"Array1@@22", false, "", "", ""},
      {"Array1@o--", false, "", "", ""},
      {"Array1", false, "", "", ""},
  };
  for (const Case& c : cases) {
    TreeEntryParts parts;
    ASSERT_EQ(SplitTreeEntry(c.entry, parts), c.ok) << c.entry;
    if (!c.ok) continue;
    EXPECT_EQ(parts.name, c.name);
    EXPECT_EQ(parts.type, c.type);
    EXPECT_EQ(parts.value, c.value);
  }
}

TEST_F(ConsoleTest, VolatileValuesAreQueriedOnReadAndWritesGoOutOnlyWhenChanged) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  c0->Refresh();
  Pump();
  CVirtualFolder* a1 = Node("\\HOST7\\Controller0\\Array1");
  a1->Refresh();
  Pump();
  std::size_t mark = agent.received.size();
  // A volatile value read outside a listing is asked for again.
  EXPECT_EQ(a1->GetProperty("percent", "?"), "0");
  agent.root.Child("Controller0")->Child("Array1")->Child("percent")->value = "40";
  Pump();
  auto sent = agent.Since(mark);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), CMessage(kReqQuery, sent.back().id, kStatusRequest, "percent"));
  EXPECT_EQ(a1->GetProperty("percent", "?"), "40");
  Pump();
  // A plain value is not.
  mark = agent.received.size();
  a1->GetProperty("name", "");
  Pump();
  EXPECT_TRUE(agent.Since(mark).empty());
  // Same value: nothing; new value: one set; unknown name: only local.
  a1->SetProperty("name", "Data");
  a1->SetProperty("Local", "1");
  Pump();
  EXPECT_TRUE(agent.Since(mark).empty());
  a1->SetProperty("name", "Backup");
  Pump();
  sent = agent.Since(mark);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().text, "name@Backup");
  EXPECT_EQ(agent.root.Child("Controller0")->Child("Array1")->Child("name")->value, "Backup");
  // A pinned child is never sent.
  a1->PinChild(a1->FindChild("Local"));
  mark = agent.received.size();
  a1->SetProperty("Local", "2");
  Pump();
  EXPECT_TRUE(agent.Since(mark).empty());
}

TEST_F(ConsoleTest, NotificationsReachTheNodeTheyName) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  c0->Refresh();
  Pump();
  // 8194 reloads the node and leaves it passive.
  std::size_t mark = agent.received.size();
  agent.Notify(kNotifyFolderChanged, "\\Controller0@");
  Pump();
  auto sent = Texts(agent.Since(mark));
  EXPECT_EQ(sent, (std::vector<std::string>{"4099 \"\\\"", "4099 \"Controller0\"", "4103 \"\"", "4098 \"\""}));
  EXPECT_TRUE(c0->passive());
  // 8193 reloads the parent.
  mark = agent.received.size();
  agent.Notify(kNotifyFolderGone, "\\Controller0\\Array9@");
  Pump();
  EXPECT_TRUE(agent.Since(mark).empty());  // Array1 is not mirrored yet: nothing to route to
  agent.Notify(kNotifyFolderGone, "\\Controller0@");
  Pump();
  sent = Texts(agent.Since(mark));
  EXPECT_EQ(sent, (std::vector<std::string>{"4099 \"\\\"", "4103 \"\"", "4098 \"\""}));
  // 8195: the event's text in a box titled by the event, shown after the callback returned.
  ui.boxes.clear();
  agent.Notify(kNotifyEvent, "\\Controller0@7@1700000000@1@Disk Failed@Disk 2 failed @ slot 2");
  Pump();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Disk Failed");
  EXPECT_EQ(ui.boxes[0].text, "Disk 2 failed @ slot 2");
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Stop);
  EXPECT_TRUE(ui.boxes[0].systemModal);
  // A path that names nothing is dropped.
  agent.Notify(kNotifyFolderChanged, "\\Nowhere@");
  Pump();
}

TEST(AgentPath, TheConnectionSendsPathsFromTheAgentsRoot) {
  EXPECT_EQ(CPellwick::PathBelowAgent("\\MyConsole\\HOST7"), "\\");
  EXPECT_EQ(CPellwick::PathBelowAgent("\\MyConsole\\HOST7\\Controller0"), "\\Controller0");
  EXPECT_EQ(CPellwick::PathBelowAgent("\\MyConsole\\HOST7\\Controller0\\Array1"), "\\Controller0\\Array1");
}

TEST_F(ConsoleTest, PathsAndBinaryProperties) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  ASSERT_NE(c0, nullptr);
  EXPECT_EQ(Agent()->GetPath(), "\\MyConsole\\HOST7");
  EXPECT_EQ(c0->GetPath(), "\\MyConsole\\HOST7\\Controller0");
  EXPECT_EQ(c0->GetPathBelow(kNodeAgent), "\\Controller0");
  EXPECT_EQ(c0->FindAgent(), Agent());
  EXPECT_EQ(Node("\\HOST7\\Nothing"), nullptr);
  EXPECT_EQ(Node("HOST7"), nullptr);
  std::vector<std::uint8_t> bytes;
  c0->SetLocalProperty("Serial", "BADA");
  ASSERT_TRUE(c0->GetBinaryProperty("Serial", bytes));
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x01, 0x03}));
  c0->SetLocalProperty("Serial", "");
  EXPECT_FALSE(c0->GetBinaryProperty("Serial", bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST_F(ConsoleTest, QueryOfTheFolderItselfRenamesIt) {
  ValidProfile();
  Start();
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  c0->Refresh();
  Pump();
  agent.root.Child("Controller0")->value = "19";
  c0->Query(".");
  Pump();
  EXPECT_EQ(c0->name(), "Controller0");
  EXPECT_GE(view.Count(kHintValuesChanged, c0), 1);
}

class TimeOutTest : public ConsoleTest {
 protected:
  // Seventy one-second polls: every request still unanswered times out.
  void WaitOutTimeOuts() {
    for (int i = 0; i < 70; ++i) {
      clock.advanceSeconds(1);
      doc->Poll();
      loop->runOnce(0);
    }
  }
  int TimeOutBoxes() const {
    int n = 0;
    for (const auto& b : ui.boxes) n += b.text == "TimeOut";
    return n;
  }
};

TEST_F(TimeOutTest, ATimeOutRemovesTheNodeThatTimedOutAndKeepsTheConnection) {
  ValidProfile();
  Start();
  ASSERT_NE(Agent(), nullptr);
  agent.silent = true;
  CVirtualFolder* c0 = Node("\\HOST7\\Controller0");
  c0->Refresh();
  Pump();
  ui.boxes.clear();
  WaitOutTimeOuts();
  Pump();
  EXPECT_EQ(Node("\\HOST7\\Controller0"), nullptr);
  CVirtualFolder* node = Agent();
  ASSERT_NE(node, nullptr);
  // The agent is still reachable: the next request goes out on the same connection.
  ASSERT_EQ(doc->connections().size(), 1u);
  EXPECT_NE(node->GetConnection(), nullptr);
  EXPECT_NE(node->GetProperty("ServerStatus", "", true), "2");
  EXPECT_GE(TimeOutBoxes(), 1);
  agent.silent = false;
  const std::size_t mark = agent.received.size();
  node->Reload();
  Pump();
  EXPECT_FALSE(agent.Since(mark).empty());
  EXPECT_NE(Node("\\HOST7\\Controller0"), nullptr);
}

TEST_F(TimeOutTest, AnAgentThatNeverAnswersItsFirstQueryIsDisconnectedButKept) {
  ValidProfile();
  agent.silent = true;
  Start();
  WaitOutTimeOuts();
  Pump();
  auto* node = dynamic_cast<CVirtualFolder*>(doc->root()->FindChild("LOCALAGENT"));
  ASSERT_NE(node, nullptr);  // the node stays, so no second connection is ever opened
  EXPECT_TRUE(doc->connections().empty());
  EXPECT_EQ(node->GetConnection(), nullptr);
  EXPECT_EQ(node->GetProperty("ServerStatus", "", true), "2");
}

// Closing ends the unanswered property change; the failed change asks for a reload, which stays
// queued on a connection only the tree's nodes still hold. The last node to go takes the connection
// with it, and that connection's final close must not hand the reload back to the dying node.
TEST_F(ConsoleTest, TheConsoleClosesWhileARequestIsUnanswered) {
  ValidProfile();
  Start();
  ASSERT_NE(Conn(), nullptr);
  CVirtualFolder* controller = Node("\\HOST7\\Controller0");
  ASSERT_NE(controller, nullptr);
  controller->Refresh();
  Pump();
  agent.silent = true;
  controller->SetRemoteProperty("model", "M-200");
  Pump();
  ASSERT_GT(Conn()->heldReferences(), 0u);
  doc.reset();
}

TEST_F(ConsoleTest, ARefusedFirstQueryEndsAtOnceOnTheNotLoggedOnNotice) {
  agent.requireLogon = true;
  agent.root.Child("Controller0");
  // The agent answers the first query's folder change but not the query itself.
  Start();
  // The query never answered, so the node keeps its own name; the connection is up at once.
  auto* node = dynamic_cast<CVirtualFolder*>(doc->root()->FindChild("LOCALAGENT"));
  ASSERT_NE(node, nullptr);
  ASSERT_NE(Conn(), nullptr);
  EXPECT_FALSE(Conn()->firstQueryPending());
  EXPECT_EQ(node->GetProperty("ServerStatus", "", true), "1");
}

TEST_F(ConsoleTest, AFailedConnectLeavesTheNodeDisconnectedAndLoginDisabled) {
  agent.refuseConnect = true;
  Start();
  auto* node = dynamic_cast<CVirtualFolder*>(doc->root()->FindChild("LOCALAGENT"));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->GetProperty("ServerStatus", "", true), "2");
  EXPECT_FALSE(doc->connectAllowed());
  doc->SetCommandNode(node);
  EXPECT_FALSE(doc->IsCommandEnabled(kCmdLogin));
  ASSERT_FALSE(ui.boxes.empty());
  EXPECT_EQ(ui.boxes.back().text, "Cannot Connect to MessageAgent via. Com Socket");
}

}  // namespace
}  // namespace kelm::console::testing

namespace kelm::console::testing {
namespace {

TEST_F(ConsoleTest, TheRootsMethodsCarryEveryRightButTheLocalOnlyBit) {
  ValidProfile();
  Start();
  std::uint32_t rights = 0;
  CPea* rename = doc->root()->FindMethod("rename", &rights);
  ASSERT_NE(rename, nullptr);
  EXPECT_EQ(rename->value(), "-134217729");
  EXPECT_EQ(rights, 0xF7FFFFFFu);
  // A mask the agent lists unsigned reads the same.
  CVirtualFolder* node = Agent();
  node->AddMethod("Big", 0);
  node->FindChild("Big")->setValue("4160749567");
  ASSERT_NE(node->FindMethod("Big", &rights), nullptr);
  EXPECT_EQ(rights, 0xF7FFFFFFu);
  EXPECT_EQ(doc->root()->FindMethod("NoSuch", &rights), nullptr);
  EXPECT_EQ(rights, 0u);
}

}  // namespace
}  // namespace kelm::console::testing
