// The console root, server and user pages: the rights builder and the commit plan of the user page,
// its enable rules from the listed method masks, the checks of names and passwords, and the server
// page's address, version and commit.
#include "console/core/pages/account_pages.h"

#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::ServerPage;
using pages::UserPage;

class UserPageTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    FakeNode* users = agent.AddUsers(&agent.root, {{"admin", 0xFF}, {"root", 0xFF}, {"ann", 0x181}, {"cid", 0x3D}});
    FakeNode* limited = users->Add("lim", "or-", "13");
    limited->Add("name", "pr-", "lim");
    limited->Add("right", "pr-", "0");
    limited->Add("rename", "m--", "0");
    limited->Add("password", "m--", "2");
    limited->Add("changeright", "m--", "1");
    Start();
    page = std::make_unique<UserPage>(*doc);
  }
  // The intelligent-I/O system is present once its RAID system node was labelled.
  void WithIop() {
    agent.root.Folder("VANTREL_RAID", kNodeRaidSystem);
    Agent()->Reload();
    Pump();
    doc->BuildNodeLabel(Agent()->FindChild("VANTREL_RAID"));
    ASSERT_FALSE(doc->notIntelligentIo());
  }
  CVirtualFolder* NewUser() {
    CVirtualFolder* users = Open("Users");
    auto* added = AsFolder(users->AddFolderFromEntry("New User@o--@13"));
    added->SetLocalProperty("name", "New User");
    added->SetFlags(CVirtualFolder::kFlagNew, CVirtualFolder::kFlagNew);
    return added;
  }
  std::unique_ptr<UserPage> page;
};

TEST_F(UserPageTest, RightsBuilder) {
  struct Case {
    bool iop;
    const char* user;
    std::vector<std::pair<int, bool>> boxes;
    const char* sent;
  } cases[] = {
      // Boxes shown unticked for the system kind carry the user's bits.
      {false, "cid", {{UserPage::kUserAccounts, true}}, "63"},
      {false, "cid", {{UserPage::kMaintainArray, true}, {UserPage::kMaintainArray, false}}, "47"},  // now 63
      {false, "cid", {{UserPage::kCreateArray, true}}, ""},  // disabled: nothing changes
      {true, "ann", {{UserPage::kDeleteArray, true}}, "393"},
      {true, "cid", {{UserPage::kAdapter, true}, {UserPage::kCreateArray, false}}, "107"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user) + (c.iop ? " iop" : ""));
    if (c.iop && doc->notIntelligentIo()) WithIop();
    page->ShowNode(Open(std::string("Users\\") + c.user));
    for (auto [box, on] : c.boxes) page->SetBox(box, on);
    const std::size_t mark = agent.invoked.size();
    page->Commit();
    const auto sent = Invoked(mark);
    EXPECT_EQ(sent.empty() ? "" : sent.back(), *c.sent ? "\\Users\\" + std::string(c.user) + "|changeright@" + c.sent
                                                       : std::string());
    if (!c.iop) {
      EXPECT_FALSE(page->boxEnabled(UserPage::kCreateArray));
      EXPECT_TRUE(page->boxEnabled(UserPage::kMaintainArray));
    }
  }
}

TEST_F(UserPageTest, ShowsRightsAndEnablesByTheListedMasks) {
  WithIop();
  page->ShowNode(Open("Users\\cid"));
  EXPECT_TRUE(page->nameEnabled());
  EXPECT_TRUE(page->passwordEnabled());
  std::string ticks;
  for (int b = 0; b < UserPage::kBoxCount; ++b) ticks += page->ticked(b) ? '1' : '0';
  EXPECT_EQ(ticks, "111100");
  EXPECT_TRUE(page->boxEnabled(UserPage::kCreateArray));
  EXPECT_FALSE(page->buttonsEnabled());
  page->ShowNode(Open("Users\\lim"));
  EXPECT_FALSE(page->nameEnabled());
  EXPECT_FALSE(page->passwordEnabled());
  EXPECT_FALSE(page->boxEnabled(UserPage::kAdapter));
  page->ShowNode(NewUser());
  EXPECT_TRUE(page->nameEnabled());
  EXPECT_TRUE(page->passwordEnabled());
  EXPECT_TRUE(page->boxEnabled(UserPage::kUserAccounts));
  for (int b = 0; b < UserPage::kBoxCount; ++b) EXPECT_FALSE(page->ticked(b));
}

TEST_F(UserPageTest, CommitsPasswordThenRightsThenName) {
  WithIop();
  page->ShowNode(Open("Users\\ann"));
  page->SetName("anne");
  page->SetPassword("pw2");
  page->SetConfirm("pw2");
  page->SetBox(UserPage::kCreateArray, true);
  EXPECT_TRUE(page->buttonsEnabled());
  const std::size_t mark = agent.invoked.size();
  ASSERT_TRUE(page->Commit());
  EXPECT_EQ(Invoked(mark), (std::vector<std::string>{"\\Users\\ann|password@pw2", "\\Users\\ann|changeright@389",
                                                     "\\Users\\ann|rename@anne"}));
  EXPECT_EQ(agent.root.Child("Users")->Child("anne")->Child("right")->value, "389");
  EXPECT_EQ(agent.passwords["anne"], "pw2");
}

TEST_F(UserPageTest, CreatesANewUser) {
  WithIop();
  page->ShowNode(NewUser());
  page->SetName("bob");
  page->SetPassword("pw");
  page->SetConfirm("pw");
  page->SetBox(UserPage::kUserAccounts, true);
  page->SetBox(UserPage::kCreateArray, true);
  const std::size_t mark = agent.invoked.size();
  ASSERT_TRUE(page->Commit());
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{"\\Users|CreateUser@bob@pw@6"});
  EXPECT_EQ(agent.passwords["bob"], "pw");
  EXPECT_TRUE(Node("\\HOST7\\Users\\bob"));
}

TEST_F(UserPageTest, RefusesBeforeSending) {
  struct Case {
    bool fresh;
    const char* name;
    const char* password;
    const char* confirm;
    std::vector<int> answers;
    int box;  // the string id asked, 0 for a text of ours
  };
  const std::string longName(65, 'n'), longPassword(65, 'p');
  const Case cases[] = {
      {true, "bob", "pw", "px", {}, 177},
      {false, nullptr, "pw", "px", {}, 177},
      {true, "bob", nullptr, nullptr, {kIdCancel}, 178},
      {true, "a@b", "pw", "pw", {}, 0},
      {true, "a\\b", "pw", "pw", {}, 0},
      {true, "", "pw", "pw", {}, 0},
      {true, "a\tb", "pw", "pw", {}, 0},
      {true, "bob", "p@ss", "p@ss", {}, 0},
      {false, "a@b", nullptr, nullptr, {}, 0},
      {false, nullptr, "p@ss", "p@ss", {}, 0},
      {false, longName.c_str(), nullptr, nullptr, {}, 0},
      {false, nullptr, longPassword.c_str(), longPassword.c_str(), {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "-") + "/" + (c.password ? c.password : "-"));
    page->ShowNode(c.fresh ? NewUser() : Open("Users\\ann"));
    if (c.name) page->SetName(c.name);
    if (c.password) page->SetPassword(c.password);
    if (c.confirm) page->SetConfirm(c.confirm);
    ui.boxes.clear();
    ui.answers = c.answers;
    const std::size_t mark = agent.invoked.size();
    EXPECT_FALSE(page->Commit());
    EXPECT_TRUE(Invoked(mark).empty());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].stringId, c.box);
    if (c.box == 0) {
      EXPECT_FALSE(ui.boxes[0].text.empty());
    }
  }
  // A new user whose name only changed asks 178; OK sends it with an empty password.
  page->ShowNode(NewUser());
  page->SetName("dee");
  ui.answers = {kIdOk};
  const std::size_t mark = agent.invoked.size();
  EXPECT_TRUE(page->Commit());
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{"\\Users|CreateUser@dee@@0"});
}

TEST(AccountChecks, NamesAndPasswords) {
  EXPECT_EQ(pages::CheckUserName("bob"), "");
  EXPECT_EQ(pages::CheckUserName(std::string(64, 'n')), "");
  EXPECT_NE(pages::CheckUserName(std::string(65, 'n')), "");
  EXPECT_NE(pages::CheckUserName(std::string("a\x7f")), "");
  EXPECT_EQ(pages::CheckPassword(""), "");
  EXPECT_EQ(pages::CheckPassword(std::string(64, 'p')), "");
  EXPECT_NE(pages::CheckPassword("a@"), "");
}

TEST(ServerAddress, Parse) {
  struct Case {
    const char* text;
    const char* shown;  // empty when refused
  } cases[] = {{"10.1.2.3", "10.1.2.3"}, {"0.0.0.0", "0.0.0.0"},  {"255.255.255.255", "255.255.255.255"},
               {"300.1.1.1", ""},        {"host", ""},            {"1.2.3", ""},
               {"1.2.3.4.5", ""},        {"1.2.3.4 ", ""},        {"-1.2.3.4", ""},
               {"1..3.4", ""},           {"0001.2.3.4", ""},      {"", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto a = pages::ParseAddress(c.text);
    EXPECT_EQ(a ? pages::FormatAddress(*a) : std::string(), c.shown);
  }
}

class ServerPageTest : public NodeFixture {
 protected:
  CServerFolder* Entry(const std::string& name, std::vector<std::pair<std::string, std::string>> values) {
    auto* entry = new CServerFolder();
    PeaRef<CServerFolder> keep(entry);
    entry->setName(name);
    entry->Attach(doc->root(), doc->root()->GetContextLink(), nullptr);
    doc->root()->AddChild(entry);
    for (auto& [k, v] : values) entry->SetLocalProperty(k, v);
    return entry;
  }
};

TEST_F(ServerPageTest, FillsFromTheEntry) {
  struct Case {
    const char* ip;
    const char* version;
    const char* shownIp;
    const char* shownVersion;
  } cases[] = {{"0", "", "127.0.0.1", "-----------"},
               {"", "2.1", "127.0.0.1", "2.1"},
               {"10.1.2.3", "2.1", "10.1.2.3", "2.1"},
               {"300.1.1.1", "2.1", "127.0.0.1", "2.1"},
               {"host", "2.1", "127.0.0.1", "2.1"}};
  ServerPage page(*doc);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ip);
    CVirtualFolder* entry =
        Entry("S" + std::to_string(n++), {{"IPAddress", c.ip}, {"FileVersion", c.version}, {"Description", "lab"}});
    page.ShowNode(entry);
    EXPECT_EQ(page.address(), c.shownIp);
    EXPECT_EQ(page.version(), c.shownVersion);
    EXPECT_EQ(page.label(), "lab");
    EXPECT_FALSE(page.nameEnabled());
    EXPECT_FALSE(page.commitEnabled());
    EXPECT_FALSE(page.resetEnabled());
  }
}

TEST_F(ServerPageTest, CommitsTheLabelOfAnExistingEntry) {
  ServerPage page(*doc);
  CVirtualFolder* entry = Entry("S1", {{"Description", "lab"}});
  page.ShowNode(entry);
  page.SetLabel(std::string(30, 'x'));
  EXPECT_EQ(page.label(), std::string(20, 'x'));
  EXPECT_TRUE(page.commitEnabled());
  EXPECT_TRUE(page.resetEnabled());
  page.Commit();
  EXPECT_EQ(entry->GetProperty("Description", "", true), std::string(20, 'x'));
  page.Fill();
  EXPECT_FALSE(page.modified());
}

TEST_F(ServerPageTest, NewEntryAddsNoSecondLocalAgent) {
  ServerPage page(*doc);
  auto count = [&] {
    int n = 0;
    for (CPea* c : doc->root()->SubFolders(false)) n += AsFolder(c) && AsFolder(c)->nodeType() == kNodeAgent;
    return n;
  };
  const int agents = count();
  ASSERT_EQ(agents, 1);
  doc->SetCommandNode(doc->root());
  doc->NewServer();
  CVirtualFolder* entry = nullptr;
  for (CPea* c : doc->root()->SubFolders(false)) {
    if (AsFolder(c) && AsFolder(c)->nodeType() == kNodeServer) entry = AsFolder(c);
  }
  ASSERT_TRUE(entry);
  page.ShowNode(entry);
  EXPECT_TRUE(page.nameEnabled());
  EXPECT_TRUE(page.addressEnabled());
  EXPECT_TRUE(page.commitEnabled());
  page.Commit();
  Pump();
  EXPECT_EQ(count(), 1);
  EXPECT_EQ(ui.selected, Agent());
}

TEST_F(ServerPageTest, ConsolePageDrawsItsBitmapNearTheCorner) {
  pages::ConsolePage page(*doc);
  page.ShowNode(doc->root());
  DrawList out;
  page.Paint(out, 800, 500);
  ASSERT_EQ(out.ops().size(), 2u);
  EXPECT_EQ(out.ops()[0].colour, doc->display().backgroundColor);
  EXPECT_EQ(out.ops()[1].bitmapId, pages::kBitmapConsole);
  EXPECT_EQ(out.ops()[1].rect.left, 480);
  EXPECT_EQ(out.ops()[1].rect.top, 450);
}

}  // namespace
}  // namespace kelm::console::testing
