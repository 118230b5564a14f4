// The console's user page, event viewer and rebuild wizard against the real agent with the IDE
// family's component over its simulated driver, driven as an administrator's clicks would drive
// them: accounts made, changed, used and removed; a controller's log read page by page, saved and
// cleared after a disk failed; a rebuild of a replaced disk started from the wizard and seen on the
// simulated card.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "console/core/pages/account_pages.h"
#include "console/core/pages/event_viewer.h"
#include "console/core/pages/rebuild_wizard.h"
#include "console/core/strings.h"
#include "tests/system/console/console_session.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;
using namespace kelm::console;

std::string Kelmsim(const std::string& args) {
  std::string out;
  const int rc = AgentRoot::Kelmsim(args, &out);
  EXPECT_EQ(rc, 0) << "kelmsim " << args << ": " << out;
  return out;
}

class ConsoleOnIde : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path lib = AgentRoot::lib("libtirrow.so");
    if (!fs::exists(lib)) GTEST_SKIP() << "the IDE-family component is not built";
    session = std::make_unique<ConsoleSession>(std::vector<fs::path>{lib}, Kind());
    ASSERT_TRUE(session->Start());
  }
  virtual ConsoleSession::Agent Kind() const { return ConsoleSession::Agent::Process; }
  // The listed child folders of a node, by name.
  static std::vector<std::string> Children(CVirtualFolder* node) {
    std::vector<std::string> out;
    for (CPea* c : node->SubFolders(false)) out.push_back(c->name());
    return out;
  }
  std::unique_ptr<ConsoleSession> session;
};

// ---- events ----

// A viewer of its own reads the node's whole log.
std::vector<pages::EventRow> WholeLog(ConsoleSession& s, CVirtualFolder* node) {
  pages::EventViewer v(*s.doc, node);
  v.GetAll();
  s.until([&] { return !v.pending(); });
  return v.rows();
}

// The agent reads a component's new events on its one-minute walk: it runs on a stepped clock here.
class ConsoleOnSteppedIde : public ConsoleOnIde {
 protected:
  ConsoleSession::Agent Kind() const override { return ConsoleSession::Agent::SteppedInProcess; }
};

TEST_F(ConsoleOnSteppedIde, ControllerEventsArePagedSavedAndCleared) {
  ConsoleSession& s = *session;
  CVirtualFolder* ctl = s.familyChild(kNodeIdeController);
  ASSERT_NE(ctl, nullptr);
  // A failed disk (two records) and a run of media errors: more than one page.
  Kelmsim("fault disk-fail 2");
  for (int lba = 1; lba <= 10; ++lba) Kelmsim("fault media-error 0 " + std::to_string(lba * 4096));
  std::vector<pages::EventRow> all;
  ASSERT_TRUE(s.until([&] {
    s.stepAgent(61);  // the component polls each second; the walk logs what it queued
    all = WholeLog(s, ctl);
    return all.size() >= 12;
  })) << all.size() << " records";

  pages::EventViewer viewer(*s.doc, ctl);
  viewer.Start();
  ASSERT_TRUE(s.until([&] { return !viewer.pending(); }));
  ASSERT_EQ(viewer.rows().size(), 10u);
  EXPECT_TRUE(viewer.nextEnabled());
  EXPECT_TRUE(viewer.clearEnabled());
  viewer.NextTen();
  ASSERT_TRUE(s.until([&] { return !viewer.pending(); }));
  ASSERT_EQ(viewer.rows().size(), std::min<std::size_t>(all.size(), 20));
  // Page by page gives the same rows as the whole log read at once.
  for (std::size_t i = 0; i < viewer.rows().size(); ++i) {
    EXPECT_EQ(viewer.rows()[i].description, all[i].description) << i;
    EXPECT_EQ(viewer.rows()[i].time, all[i].time) << i;
  }
  viewer.GetAll();
  ASSERT_TRUE(s.until([&] { return !viewer.pending(); }));
  ASSERT_EQ(viewer.rows().size(), all.size());
  EXPECT_FALSE(viewer.nextEnabled());
  EXPECT_TRUE(viewer.getAllEnabled());
  // The failed disk is logged as an error, and every row has a date, a time and a level.
  bool sawFailure = false;
  for (const pages::EventRow& r : viewer.rows()) {
    EXPECT_EQ(r.date.size(), 8u) << r.date;
    EXPECT_EQ(r.time.size(), 8u) << r.time;
    EXPECT_NE(r.level, "Unknown") << r.description;
    sawFailure |= r.description.find("Disk Set Down") != std::string::npos && r.level == "Error" && r.image == 0;
  }
  EXPECT_TRUE(sawFailure) << pages::EventExportText(viewer.rows());

  // Saved: one line a row, nothing after the last; saving again replaces the file.
  const fs::path file = s.dir() / "events.log";
  {
    std::ofstream(file) << "an older and much longer file than the one that replaces it\n";
  }
  ASSERT_TRUE(viewer.SaveTo(file.string()));
  std::stringstream read;
  read << std::ifstream(file).rdbuf();
  const std::string saved = read.str();
  EXPECT_EQ(saved, pages::EventExportText(viewer.rows()));
  EXPECT_EQ(static_cast<std::size_t>(std::count(saved.begin(), saved.end(), '\n')), viewer.rows().size() - 1);
  EXPECT_NE(saved.find(viewer.rows().front().description), std::string::npos);

  // Cleared: the agent then sends no record and no end of page at all, and the viewer is not left
  // waiting.
  viewer.ClearEvents();
  EXPECT_TRUE(s.until([&] { return !viewer.pending(); }));
  EXPECT_TRUE(viewer.rows().empty());
  EXPECT_TRUE(viewer.getAllEnabled());
  EXPECT_FALSE(viewer.nextEnabled());
  EXPECT_TRUE(WholeLog(s, ctl).empty());
  // A new event is logged and read after the clear.
  Kelmsim("fault media-error 0 64");
  EXPECT_TRUE(s.until([&] {
    s.stepAgent(61);
    viewer.GetAll();
    s.until([&] { return !viewer.pending(); });
    return viewer.rows().size() == 1;
  })) << viewer.rows().size();
}

// ---- accounts ----

// Another console beside the session's, on its loop, that logs on with a name and password.
class OtherConsole {
 public:
  OtherConsole(ConsoleSession& s, const std::string& user, const std::string& password)
      : ui_(user, password), doc(ui_, s.loop(), plat::systemClock(), Options()) {
    doc.OnInitialUpdate();
    if (doc.connections().size() != 1u) return;
    CPellwick* conn = doc.connections().front();
    s.until([&] { return !conn->firstQueryPending(); });
    for (CPea* c : doc.root()->SubFolders(false)) {
      auto* f = dynamic_cast<CVirtualFolder*>(c);
      if (f && f->nodeType() == kNodeAgent) agent = f;
    }
    if (!agent) return;
    doc.SetCommandNode(agent);
    doc.OnCommand(kCmdLogin);
    doc.SetCommandNode(nullptr);
    // Settled once the logon's answer came: logged on, or told why not.
    s.until([&] { return agent->GetIntProperty("bHaveLogin", 0, true) == 1 || !ui_.boxes.empty(); });
  }
  ~OtherConsole() { doc.Close(); }
  bool loggedOn() const { return agent && agent->GetIntProperty("bHaveLogin", 0, true) == 1; }
  const std::vector<std::string>& boxes() const { return ui_.boxes; }

 private:
  class LoginAs : public ScriptedUi {
   public:
    LoginAs(std::string user, std::string password) : user_(std::move(user)), password_(std::move(password)) {}
    std::optional<LoginInput> RunLoginDialog(const std::string&, const std::string&) override {
      return LoginInput{user_, password_, false};
    }

   private:
    std::string user_, password_;
  };
  static DocumentOptions Options() {
    DocumentOptions o;
    o.programPath = "/opt/kelm/bin/kelm";
    return o;
  }
  LoginAs ui_;

 public:
  CDremmoralDoc doc;
  CVirtualFolder* agent = nullptr;
};

bool LogsOn(ConsoleSession& s, const std::string& user, const std::string& password) {
  return OtherConsole(s, user, password).loggedOn();
}

// The user account of the name among the listed children of a users folder.
CVirtualFolder* Account(CVirtualFolder* users, const std::string& name) {
  for (CPea* c : users->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(c);
    if (f && f->nodeType() == kNodeUser && !(f->flags() & CVirtualFolder::kFlagNew) && f->name() == name) return f;
  }
  return nullptr;
}

// The account once a users folder lists it, opened so that its rights and methods are read.
CVirtualFolder* Listed(ConsoleSession& s, CVirtualFolder* users, const std::string& name) {
  CVirtualFolder* found = nullptr;
  s.until([&] {
    found = Account(users, name);
    if (!found) {
      users->Reload();
      s.until([] { return false; }, 200);
    }
    return found != nullptr;
  });
  if (!found) return nullptr;
  return s.until([&] {
    if (!found->isOpen()) found->Refresh();
    return found->isOpen();
  }) ? found : nullptr;
}

bool Unlisted(ConsoleSession& s, CVirtualFolder* users, const std::string& name) {
  return s.until([&] {
    users->Reload();
    s.until([] { return false; }, 200);
    return Account(users, name) == nullptr;
  });
}

TEST_F(ConsoleOnIde, AnAccountIsMadeChangedUsedAndRemoved) {
  ConsoleSession& s = *session;
  CVirtualFolder* users = s.child(s.host, kNodeUserAccounts);
  ASSERT_NE(users, nullptr);

  // New User, as the menu command adds it, filled in and committed.
  s.doc->SetCommandNode(users);
  ASSERT_TRUE(s.doc->IsCommandEnabled(kCmdAddUser));
  s.doc->OnCommand(kCmdAddUser);
  s.doc->SetCommandNode(nullptr);
  CVirtualFolder* added = nullptr;
  for (CPea* c : users->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(c);
    if (f && (f->flags() & CVirtualFolder::kFlagNew)) added = f;
  }
  ASSERT_NE(added, nullptr);
  pages::UserPage page(*s.doc);
  page.ShowNode(added);
  ASSERT_TRUE(page.isNew());
  page.SetName("operator");
  page.SetPassword("first-pw");
  page.SetConfirm("first-pw");
  // Only the IDE family is there: the array rights are shown unticked and cannot be given.
  EXPECT_FALSE(page.boxEnabled(pages::UserPage::kArrayStatistics));
  page.SetBox(pages::UserPage::kAdapter, true);
  ASSERT_TRUE(page.Commit());
  CVirtualFolder* account = Listed(s, users, "operator");
  ASSERT_NE(account, nullptr) << ::testing::PrintToString(Children(users));
  EXPECT_EQ(account->GetIntProperty("right", -1, true) & 0xFF, 1 | 64);
  EXPECT_TRUE(LogsOn(s, "operator", "first-pw"));

  // The administrator changes its rights and its name in one commit; another's password is not
  // the administrator's to change.
  page.ShowNode(account);
  ASSERT_FALSE(page.isNew());
  EXPECT_FALSE(page.passwordEnabled());
  ASSERT_TRUE(page.nameEnabled());
  ASSERT_TRUE(page.boxEnabled(pages::UserPage::kUserAccounts));
  page.SetBox(pages::UserPage::kUserAccounts, true);
  page.SetBox(pages::UserPage::kAdapter, false);
  page.SetName("operator2");
  ASSERT_TRUE(page.Commit());
  EXPECT_TRUE(Unlisted(s, users, "operator"));
  account = Listed(s, users, "operator2");
  ASSERT_NE(account, nullptr) << ::testing::PrintToString(Children(users));
  EXPECT_TRUE(s.until([&] {
    account->Reload();
    s.until([] { return false; }, 200);
    return (account->GetIntProperty("right", -1, true) & 0xFF) == (1 | 2);
  })) << "right " << account->GetProperty("right", "", true);
  page.ShowNode(nullptr);

  {
    // Logged on under its new name, the user changes its own password on its own page.
    OtherConsole own(s, "operator2", "first-pw");
    ASSERT_TRUE(own.loggedOn()) << ::testing::PrintToString(own.boxes());
    CVirtualFolder* ownUsers = s.child(own.agent, kNodeUserAccounts);
    ASSERT_NE(ownUsers, nullptr);
    CVirtualFolder* self = Listed(s, ownUsers, "operator2");
    ASSERT_NE(self, nullptr) << ::testing::PrintToString(Children(ownUsers));
    pages::UserPage ownPage(own.doc);
    ownPage.ShowNode(self);
    ASSERT_TRUE(ownPage.passwordEnabled());
    ownPage.SetPassword("second-pw");
    ownPage.SetConfirm("second-pw");
    ASSERT_TRUE(ownPage.Commit());
    s.until([] { return false; }, 300);  // the password's answer
    ownPage.ShowNode(nullptr);
  }

  // The new name and password log on; the old ones are refused with the message.
  EXPECT_TRUE(s.until([&] { return LogsOn(s, "operator2", "second-pw"); }, 5000));
  OtherConsole old(s, "operator2", "first-pw");
  EXPECT_FALSE(old.loggedOn());
  EXPECT_EQ(old.boxes(), std::vector<std::string>{std::string(LoadString(kStrLoginError))});
  EXPECT_FALSE(LogsOn(s, "operator", "second-pw"));

  // Deleted (confirmed), it is gone and can no longer log on.
  s.doc->SetCommandNode(account);
  ASSERT_TRUE(s.doc->IsCommandEnabled(kCmdDeleteUser));
  s.doc->OnCommand(kCmdDeleteUser);
  s.doc->SetCommandNode(nullptr);
  EXPECT_TRUE(Unlisted(s, users, "operator2"));
  EXPECT_FALSE(LogsOn(s, "operator2", "second-pw"));
}

// ---- rebuild ----

TEST_F(ConsoleOnIde, TheWizardRebuildsAReplacedDiskOnTheCard) {
  ConsoleSession& s = *session;
  CVirtualFolder* array = s.familyChild(kNodeIdeArray);
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(array->GetIntProperty("Status", -1, true), 0);
  Kelmsim("fault disk-fail 2");
  ASSERT_TRUE(s.until([&] {
    array->Reload();
    s.until([] { return false; }, 200);
    return array->GetIntProperty("Status", 0, true) != 0;
  })) << "Status " << array->GetProperty("Status", "", true);
  Kelmsim("fault disk-insert 2");
  EXPECT_EQ(Kelmsim("status").find("task: rebuild"), std::string::npos);

  // The wizard opens on the array; its disk page lists the members once they are read.
  pages::RebuildWizard wizard(*s.doc, array, nullptr);
  ASSERT_EQ(wizard.page(), 0);
  std::size_t chosen = 0;
  ASSERT_TRUE(s.until([&] {
    wizard.Refill();
    for (chosen = 0; chosen < wizard.items().size(); ++chosen) {
      CVirtualFolder* d = wizard.items()[chosen].disk.get();
      // Listed with its values, as the page shows it once its listing arrived.
      if (d && d->name() == "disk2") return !d->GetProperty("handle", "", true).empty();
    }
    return false;
  })) << "no disk2 among " << ::testing::PrintToString(Children(array));
  // Next needs exactly one disk.
  EXPECT_FALSE(wizard.Next());
  std::vector<bool> selected(wizard.items().size(), false);
  selected[chosen] = true;
  wizard.SetSelected(selected);
  ASSERT_TRUE(wizard.Next());
  EXPECT_EQ(wizard.page(), 1);
  EXPECT_EQ(wizard.FinishLabel(), s.doc->BuildNodeLabel(wizard.chosen()).text);
  const std::size_t boxes = s.ui.boxes.size();
  ASSERT_TRUE(wizard.Finish());
  ASSERT_GT(s.ui.boxes.size(), boxes);  // asked to confirm

  std::string status;
  EXPECT_TRUE(s.until([&] {
    status = Kelmsim("status");
    s.until([] { return false; }, 200);
    return status.find("task: rebuild") != std::string::npos;
  })) << status;
  EXPECT_TRUE(s.until([&] {
    array->Reload();
    s.until([] { return false; }, 200);
    return (array->GetIntProperty("Status", 0, true) & 0xFF00) == 0x200;
  })) << "Status " << array->GetProperty("Status", "", true);
}

}  // namespace
}  // namespace kelm::systest
