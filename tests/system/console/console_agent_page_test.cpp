// The agent's settings page, the RAID system page and the IDE family's pages against the real agent
// and the simulators, driven through the property pane as an administrator's clicks would: what
// they send lands in the agent's profile, the registry and the simulated devices, and what they
// show is what a second connection and `kelmsim status` tell.
#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "agent/core/agent_names.h"
#include "agent/events/event_log_file.h"
#include "agent/events/notice_list.h"
#include "console/core/pages/account_pages.h"
#include "console/core/pages/agent_page.h"
#include "console/core/pages/ide_pages.h"
#include "console/core/panes/property_pane.h"
#include "console/core/strings.h"
#include "platform/base/paths.h"
#include "platform/registry/registry.h"
#include "tests/system/console/console_session.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;
using namespace kelm::console;
using pages::AgentSettingsPage;
using pages::IdeArrayPage;
using pages::IdeControllerPage;
using pages::IdeDiskPage;
using pages::RaidSystemPage;

// A property pane with the pages these tests show.
struct Pane {
  explicit Pane(CDremmoralDoc& doc) : pane(doc) {
    pane.RegisterPage(PageId::RaidMachine, [](CDremmoralDoc& d) { return std::make_unique<AgentSettingsPage>(d); });
    pane.RegisterPage(PageId::RaidSystem, [](CDremmoralDoc& d) { return std::make_unique<RaidSystemPage>(d); });
    pane.RegisterPage(PageId::User, [](CDremmoralDoc& d) { return std::make_unique<pages::UserPage>(d); });
    pane.RegisterPage(PageId::MaroveltArray, [](CDremmoralDoc& d) { return std::make_unique<IdeArrayPage>(d); });
    pane.RegisterPage(PageId::MaroveltController,
                      [](CDremmoralDoc& d) { return std::make_unique<IdeControllerPage>(d); });
    pane.RegisterPage(PageId::MaroveltDisk, [](CDremmoralDoc& d) { return std::make_unique<IdeDiskPage>(d); });
  }
  // Clicks the node in the outline; the page it shows.
  template <class Page>
  Page* Select(CPea* node) {
    pane.SelectPropertyForm(node);
    return dynamic_cast<Page*>(pane.shownPage());
  }
  PropertyPanePresenter pane;
};

std::string Kelmsim(const std::string& a, const std::string& b = {}, const std::string& c = {}) {
  std::vector<std::string> argv{AgentRoot::bin("kelmsim").string(), a};
  for (const std::string& more : {b, c})
    if (!more.empty()) argv.push_back(more);
  std::string out;
  AgentRoot::Output(argv, out);
  return out;
}

// The section of `kelmsim status` of one simulator ("[ide]" up to the next heading).
std::string SimSection(const std::string& name) {
  const std::string all = Kelmsim("status");
  const std::size_t at = all.find("[" + name + "]\n");
  if (at == std::string::npos) return {};
  const std::size_t end = all.find("\n[", at + 1);
  return all.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

plat::reg::Profile Profile() { return agent::AgentProfile(); }

// Every folder of the type in the subtree, each listed. The walk goes down through the family's
// controllers, channels and arrays only: enclosures and disks hold nothing it looks for.
std::vector<CVirtualFolder*> AllOfType(ConsoleSession& s, CVirtualFolder* top, int type) {
  std::vector<CVirtualFolder*> out;
  std::vector<CVirtualFolder*> open{top};
  while (!open.empty()) {
    CVirtualFolder* f = open.back();
    open.pop_back();
    s.until([&] {
      if (!f->isOpen()) f->Refresh();
      return f->isOpen();
    });
    for (CPea* c : f->SubFolders(false)) {
      auto* child = dynamic_cast<CVirtualFolder*>(c);
      if (!child) continue;
      const int t = child->nodeType();
      if (t == type) out.push_back(child);
      if (t == kNodeIdeController || t == kNodeIdeChannel || t == kNodeIdeArray) open.push_back(child);
    }
  }
  return out;
}

class ConsoleAgentPages : public ::testing::Test {
 protected:
  // Starts the agent with the components given by library name; false (skipped) when one is not built.
  bool Begin(const std::vector<std::string>& libraries = {}) {
    std::vector<fs::path> components;
    for (const auto& l : libraries) {
      components.push_back(AgentRoot::lib(l));
      if (!fs::exists(components.back())) return false;
    }
    session = std::make_unique<ConsoleSession>(components);
    const auto started = session->Start();
    EXPECT_TRUE(started);
    if (!started) return false;
    pane = std::make_unique<Pane>(*session->doc);
    return true;
  }
  void TearDown() override {
    pane.reset();
    session.reset();
  }

  // The agent's page on the host of a console, once the agent's methods are known.
  AgentSettingsPage* AgentPage(Pane& p, CVirtualFolder* host) {
    EXPECT_TRUE(session->until([&] {
      if (!host->isOpen()) host->Refresh();
      return host->isOpen();
    }));
    // Methods come with the user's rights: the ones every user may call show that they arrived.
    EXPECT_TRUE(session->until([&] { return host->HasMethod("GetVerifySchedule"); }));
    return p.Select<AgentSettingsPage>(host);
  }
  AgentSettingsPage* AgentPage() { return AgentPage(*pane, session->host); }

  // Runs the loop until the profile entry reads `want`.
  ::testing::AssertionResult ProfileReads(const char* section, const char* entry, const std::string& want) {
    std::string seen;
    if (session->until([&] { return (seen = Profile().getString(section, entry)) == want; }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << section << "/" << entry << " reads \"" << seen << "\", not \"" << want
                                         << "\"";
  }
  ::testing::AssertionResult ProfileReads(const char* section, const char* entry, int want) {
    int seen = 0;
    if (session->until([&] { return (seen = Profile().getInt(section, entry, -12345)) == want; }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << section << "/" << entry << " reads " << seen << ", not " << want;
  }

  std::unique_ptr<ConsoleSession> session;
  std::unique_ptr<Pane> pane;
};

std::size_t Row(int code) {
  for (std::size_t i = 0; i < pages::kNoticeEvents.size(); ++i)
    if (pages::kNoticeEvents[i].code == code) return i;
  ADD_FAILURE() << "no row for " << code;
  return 0;
}

TEST_F(ConsoleAgentPages, SettingsLandInTheProfileAndReadBackThroughANewConnection) {
  if (!Begin()) GTEST_SKIP() << "the agent could not start";
  AgentSettingsPage* page = AgentPage();
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(page->enables().emailEnable);
  ASSERT_TRUE(page->controls().protection) << "protection is on in a new profile";

  page->SetEmailEnable(true);
  ASSERT_TRUE(page->enables().emailFields);
  page->TypeSmtpServer("mail.example.com");
  ASSERT_TRUE(page->enables().interval);
  page->SetInterval(6);
  page->ApplyServer();
  page->TypeEmailId("Kelm Agent <agent@example.com>");
  page->LeaveEmailId();
  page->SetNtEventLog(true);
  const std::size_t boxes = session->ui.boxes.size();
  page->SetProtection(false);
  ASSERT_EQ(session->ui.boxes.size(), boxes + 1) << "turning protection off asks first";
  EXPECT_EQ(session->ui.boxes.back(), LoadString(61204));

  EXPECT_TRUE(ProfileReads("E-Mail log", "EnableEmail", 1));
  EXPECT_TRUE(ProfileReads("E-Mail log", "SMTP", "mail.example.com"));
  EXPECT_TRUE(ProfileReads("E-Mail log", "EmailID", "Kelm Agent <agent@example.com>"));
  EXPECT_TRUE(ProfileReads("Email Protection", "Activate Interval", 6));
  EXPECT_TRUE(ProfileReads("Email Protection", "Protection Enable", 0));
  EXPECT_TRUE(ProfileReads("LogEvent", "NTEventLog", 1));

  // An address the agent would refuse is refused here, with the typed text put back as stored.
  page->TypeEmailId("agent@example.com");
  page->LeaveEmailId();
  EXPECT_EQ(session->ui.boxes.back(), LoadString(180));
  EXPECT_EQ(page->controls().emailId, "Kelm Agent <agent@example.com>");

  OtherConsole* other = session->OpenAnother("admin", "secret");
  ASSERT_NE(other, nullptr);
  Pane otherPane(*other->doc);
  AgentSettingsPage* again = AgentPage(otherPane, other->host);
  ASSERT_NE(again, nullptr);
  const AgentSettingsPage::Controls& c = again->controls();
  EXPECT_TRUE(c.emailEnable);
  EXPECT_EQ(c.smtpServer, "mail.example.com");
  EXPECT_EQ(c.emailId, "Kelm Agent <agent@example.com>");
  EXPECT_EQ(c.interval, 6);
  EXPECT_FALSE(c.protection);
  EXPECT_TRUE(c.ntEventLog);
}

TEST_F(ConsoleAgentPages, RecipientsAreAddedAndDeletedAndAQuotedCommaStaysOneRecipient) {
  if (!Begin()) GTEST_SKIP() << "the agent could not start";
  AgentSettingsPage* page = AgentPage();
  ASSERT_NE(page, nullptr);
  page->SetEmailEnable(true);
  ASSERT_TRUE(page->enables().addRecipient);
  const auto recipients = [&] { return page->controls().recipients; };
  const auto listed = [&](const std::string& address) {
    const auto r = recipients();
    return std::count_if(r.begin(), r.end(), [&](const std::string& e) { return e.find(address) != e.npos; });
  };

  for (const char* typed : {"\"Doe, John\" <jd@example.com>", "Ann <ann@example.com>"}) {
    page->TypeNewRecipient(typed);
    page->AddRecipient();
    EXPECT_TRUE(session->until([&] { return page->controls().newRecipient.empty(); })) << typed;
  }
  ASSERT_TRUE(session->until([&] { return recipients().size() == 2; })) << ::testing::PrintToString(recipients());
  EXPECT_EQ(listed("jd@example.com"), 1);
  EXPECT_EQ(listed("Doe, John"), 1) << "the quoted name is one recipient, not two";
  EXPECT_TRUE(ProfileReads("E-Mail log", "NumOfReceiptor", 2));

  // Refused on the console: nothing goes out and the text stays to be mended.
  const std::size_t boxes = session->ui.boxes.size();
  page->TypeNewRecipient("<bc>");
  page->AddRecipient();
  ASSERT_EQ(session->ui.boxes.size(), boxes + 1);
  EXPECT_EQ(session->ui.boxes.back(), LoadString(180));
  EXPECT_EQ(page->controls().newRecipient, "<bc>");
  // Refused by the agent (listed already): said so, and the text stays.
  page->TypeNewRecipient("Ann <ann@example.com>");
  page->AddRecipient();
  EXPECT_TRUE(session->until([&] { return session->ui.boxes.size() == boxes + 2; }));
  EXPECT_EQ(page->controls().newRecipient, "Ann <ann@example.com>");

  std::string doe;
  for (const auto& r : recipients())
    if (r.find("jd@example.com") != std::string::npos) doe = r;
  page->SelectRecipient(doe);
  ASSERT_TRUE(page->enables().delRecipient);
  page->DeleteRecipient();
  EXPECT_TRUE(session->until([&] { return recipients().size() == 1; })) << ::testing::PrintToString(recipients());
  EXPECT_EQ(listed("ann@example.com"), 1);
  EXPECT_TRUE(ProfileReads("E-Mail log", "NumOfReceiptor", 1));
  EXPECT_NE(Profile().getString("E-Mail log", "Receiptor-0").find("ann@example.com"), std::string::npos);
}

TEST_F(ConsoleAgentPages, NoticeListsAndTheVerifyScheduleAreSetAndReadBack) {
  if (!Begin()) GTEST_SKIP() << "the agent could not start";
  AgentSettingsPage* page = AgentPage();
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(page->enables().noticeList);
  ASSERT_TRUE(page->enables().scheduleEnabled);
  for (std::size_t i = 0; i < pages::kNoticeEvents.size(); ++i) {
    page->SetEmailMark(i, i == Row(256) || i == Row(530));
    page->SetPopupMark(i, i == Row(523));
  }
  page->ApplyNoticeLists();
  EXPECT_TRUE(ProfileReads("LogEvent", "EmailNotice", "2@256@530"));
  EXPECT_TRUE(ProfileReads("LogEvent", "ReportNotice", "1@523"));

  page->SetScheduleType(2);
  page->SetScheduleWeekday(0);
  page->SetScheduleTime(22, 0);
  page->SetScheduleEnabled(true);
  page->ApplySchedule();
  EXPECT_TRUE(ProfileReads("GetVerifySchedule", "GetVerifySchedule", "1@2@0@22@0"));

  OtherConsole* other = session->OpenAnother("admin", "secret");
  ASSERT_NE(other, nullptr);
  Pane otherPane(*other->doc);
  AgentSettingsPage* again = AgentPage(otherPane, other->host);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(session->until([&] { return again->controls().scheduleType == 2; }));
  const AgentSettingsPage::Controls& c = again->controls();
  EXPECT_EQ(pages::NoticeListText(c.email), "2@256@530");
  EXPECT_EQ(pages::NoticeListText(c.popup), "1@523");
  EXPECT_TRUE(c.scheduleEnabled);
  EXPECT_EQ(c.weekday, 0);
  EXPECT_EQ(c.hour, 22);
  EXPECT_EQ(c.minute, 0);

  // "All" goes through the agent's own list; "none" turns the schedule off at the agent.
  page->SetAllEmail(true);
  page->ApplyNoticeLists();
  EXPECT_TRUE(ProfileReads("LogEvent", "EmailNotice", std::string(events::kAllNoticeList)));
  EXPECT_TRUE(session->until([&] { return pages::NoticeListText(page->controls().email) == events::kAllNoticeList; }))
      << pages::NoticeListText(page->controls().email);
  page->SetScheduleType(0);
  page->SetScheduleEnabled(false);
  page->ApplySchedule();
  EXPECT_TRUE(ProfileReads("GetVerifySchedule", "GetVerifySchedule", "0"));
}

// The records of the agent root's own log file, which the agent writes as the event passes.
std::vector<events::EventRecord> RootLog() {
  std::vector<events::EventRecord> out;
  std::int32_t position = 0, cookie = 0;
  auto cursor = events::EventCursor::open(plat::paths::logDir() / ".log", position, cookie, false);
  if (!cursor) return out;
  for (events::EventRecord r; out.size() < 1000 && cursor->next(r);) out.push_back(r);
  return out;
}

TEST_F(ConsoleAgentPages, ATestEventIsLoggedAndComesBackAsAPopUpOnlyWhenReported) {
  if (!Begin()) GTEST_SKIP() << "the agent could not start";
  AgentSettingsPage* page = AgentPage();
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(page->enables().testEvent);
  // The test record's third field is no number: it reads as severity 0, with no title and the text
  // "AGENTTESTING".
  const auto popUps = [&] { return std::count(session->ui.boxes.begin(), session->ui.boxes.end(), "AGENTTESTING"); };
  const auto logged = [&] {
    const auto rows = RootLog();
    return std::count_if(rows.begin(), rows.end(), [](const events::EventRecord& r) {
      return r.code == 523 && r.severity == 0 && r.title.empty() && r.text == "AGENTTESTING";
    });
  };

  for (std::size_t i = 0; i < pages::kNoticeEvents.size(); ++i) page->SetPopupMark(i, i == Row(523));
  page->ApplyNoticeLists();
  ASSERT_TRUE(ProfileReads("LogEvent", "ReportNotice", "1@523"));
  page->TypeTestEvent("523");
  page->SendTestEvent();
  ASSERT_TRUE(session->until([&] { return popUps() == 1; }))
      << ::testing::PrintToString(session->ui.titles) << ::testing::PrintToString(session->ui.boxes);
  EXPECT_EQ(session->ui.titles.back(), "");
  EXPECT_TRUE(session->until([&] { return logged() == 1; }));

  // Not in the report list: logged, and no pop-up. The agent forwards before it logs, so a pop-up
  // would have been on its way by the time the record shows.
  for (std::size_t i = 0; i < pages::kNoticeEvents.size(); ++i) page->SetPopupMark(i, i == Row(256));
  page->ApplyNoticeLists();
  ASSERT_TRUE(ProfileReads("LogEvent", "ReportNotice", "1@256"));
  page->SendTestEvent();
  EXPECT_TRUE(session->until([&] { return logged() == 2; }));
  EXPECT_EQ(popUps(), 1);

  // A field that is no event code sends nothing.
  page->TypeTestEvent("52x");
  page->SendTestEvent();
  EXPECT_EQ(logged(), 2);
}

TEST_F(ConsoleAgentPages, AUserWithoutTheSettingsRightSeesTheSettingsDisabled) {
  if (!Begin()) GTEST_SKIP() << "the agent could not start";
  CVirtualFolder* users = session->child(session->host, kNodeUserAccounts);
  ASSERT_NE(users, nullptr);
  session->doc->SetCommandNode(users);
  ASSERT_TRUE(session->doc->IsCommandEnabled(kCmdAddUser));
  session->doc->OnCommand(kCmdAddUser);
  session->doc->SetCommandNode(nullptr);
  CVirtualFolder* fresh = nullptr;
  for (CPea* c : users->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(c);
    if (f && (f->flags() & CVirtualFolder::kFlagNew)) fresh = f;
  }
  ASSERT_NE(fresh, nullptr);
  auto* user = pane->Select<pages::UserPage>(fresh);
  ASSERT_NE(user, nullptr);
  user->SetName("viewer");
  user->SetPassword("viewer1");
  user->SetConfirm("viewer1");
  user->SetBox(pages::UserPage::kArrayStatistics, true);
  ASSERT_TRUE(user->Commit());
  ASSERT_TRUE(session->until([&] { return users->FindChild("viewer") != nullptr; }));

  OtherConsole* other = session->OpenAnother("viewer", "viewer1");
  ASSERT_NE(other, nullptr);
  Pane otherPane(*other->doc);
  AgentSettingsPage* page = AgentPage(otherPane, other->host);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->permissions(), 0u);
  const AgentSettingsPage::Enables e = page->enables();
  const std::pair<const char*, bool> shown[] = {
      {"ntEventLog", e.ntEventLog},     {"emailEnable", e.emailEnable},     {"emailFields", e.emailFields},
      {"addRecipient", e.addRecipient}, {"delRecipient", e.delRecipient},   {"protection", e.protection},
      {"interval", e.interval},         {"noticeList", e.noticeList},       {"noticeApply", e.noticeApply},
      {"scheduleEnabled", e.scheduleEnabled}, {"scheduleApply", e.scheduleApply}, {"testEvent", e.testEvent},
  };
  for (const auto& [name, enabled] : shown) EXPECT_FALSE(enabled) << name;
  // The administrator's page on the same agent has them.
  AgentSettingsPage* admin = AgentPage();
  ASSERT_NE(admin, nullptr);
  EXPECT_EQ(admin->permissions(), 31u);
}

TEST_F(ConsoleAgentPages, TheRaidSystemPageDisconnectsAndConnectsTheSerialSubsystem) {
  if (!Begin({"libbrask.so"})) GTEST_SKIP() << "the serial component is not built";
  CVirtualFolder* family = session->child(session->host, kNodeRaidSystem);
  ASSERT_NE(family, nullptr);
  RaidSystemPage* page = pane->Select<RaidSystemPage>(family);
  ASSERT_NE(page, nullptr);
  const auto controllers = [&] {
    int n = 0;
    for (CPea* c : family->SubFolders(false)) n += NodeTypeOf(c) == kNodeSerialController;
    return n;
  };
  ASSERT_TRUE(session->until([&] { return page->controls().portStatus == "Connected" && controllers() == 1; }))
      << page->controls().portStatus;
  EXPECT_EQ(page->controls().type, RaidSystemPage::kSerialType);
  EXPECT_TRUE(page->controls().portControls);
  EXPECT_TRUE(page->controls().disconnect);
  EXPECT_FALSE(page->controls().connect);

  page->Disconnect();
  EXPECT_TRUE(session->until([&] { return page->controls().portStatus == "Disconnected" && controllers() == 0; }))
      << page->controls().portStatus;
  EXPECT_TRUE(page->controls().connect);
  EXPECT_NE(Kelmsim("fault", "serial:unplug").find("ok"), std::string::npos);
  EXPECT_NE(Kelmsim("fault", "serial:plug").find("ok"), std::string::npos);

  page->Connect();
  EXPECT_EQ(page->controls().portStatus, RaidSystemPage::kPleaseWait);
  EXPECT_FALSE(page->controls().connect);
  EXPECT_FALSE(page->controls().disconnect);
  ASSERT_TRUE(page->waiting());
  // The wait runs on the console's loop: stepped past, it reloads the node.
  session->stepClock(RaidSystemPage::kConnectWait);
  EXPECT_TRUE(session->until([&] { return !page->waiting(); }, 2000));
  EXPECT_TRUE(session->until([&] { return controllers() == 1; })) << page->controls().portStatus;
  EXPECT_TRUE(session->until([&] { return page->controls().portStatus == "Connected"; }))
      << page->controls().portStatus;
  EXPECT_TRUE(page->controls().disconnect);
}

// The IDE family's node below a console's agent node.
CVirtualFolder* IdeFamily(ConsoleSession& s, CVirtualFolder* host) {
  CVirtualFolder* family = nullptr;
  s.until([&] {
    if (!host->isOpen()) host->Refresh();
    for (CPea* c : host->SubFolders(false)) {
      auto* f = dynamic_cast<CVirtualFolder*>(c);
      if (f && f->nodeType() == kNodeRaidSystem && f->name() == "MV_RAID") family = f;
    }
    return family != nullptr;
  });
  return family;
}

// The IDE driver's settings text in the agent's registry.
std::string DriverParameters() {
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine,
                                  "SYSTEM\\CurrentControlSet\\Services\\Marovelt\\Parameters\\Device");
  if (!key) return {};
  return key->getString("DriverParameter").valueOr("");
}

TEST_F(ConsoleAgentPages, IdeControllerSettingsReachTheSimulatorAndTheRegistryAndReadBack) {
  if (!Begin({"libtirrow.so"})) GTEST_SKIP() << "the IDE component is not built";
  CVirtualFolder* family = IdeFamily(*session, session->host);
  ASSERT_NE(family, nullptr);
  std::vector<CVirtualFolder*> controllers = AllOfType(*session, family, kNodeIdeController);
  ASSERT_EQ(controllers.size(), 2u) << "one controller a card";
  const std::string before = SimSection("ide");
  ASSERT_NE(before.find("pci maximum 16 threshold 8, maintenance rate 5, smart on"), std::string::npos) << before;

  IdeControllerPage* page = pane->Select<IdeControllerPage>(controllers.front());
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(session->until([&] { return !page->controls().hardware.empty(); }));
  EXPECT_TRUE(page->controls().smart);
  EXPECT_EQ(page->controls().pciBus, 50) << "threshold 8 of 16";
  EXPECT_EQ(page->controls().maintenanceRate, 5);
  ASSERT_TRUE(page->enables().commit);

  // The PCI slider alone needs no reboot.
  const std::size_t boxes = session->ui.boxes.size();
  struct Finals : ReplyListener {
    void OnInvokeReply(int status, const std::string& text) override {
      if (status == kStatusFinal) got.push_back(text);
    }
    std::vector<std::string> got;
  } finals;
  controllers.front()->AddListener(&finals);
  page->SetPciBus(25);
  page->Commit();
  // Once the agent answered, the driver has the setting: 75 % of the maximum 16.
  ASSERT_TRUE(session->until([&] { return finals.got.size() == 1; }));
  controllers.front()->RemoveListener(&finals);
  EXPECT_EQ(finals.got.front(), FormatResult(kResultFunctional));
  EXPECT_NE(SimSection("ide").find("pci maximum 16 threshold 12,"), std::string::npos) << SimSection("ide");
  EXPECT_NE(DriverParameters().find("COUNTTHRESHOLD=12;"), std::string::npos) << DriverParameters();
  EXPECT_EQ(session->ui.boxes.size(), boxes) << "no reboot question";
  EXPECT_EQ(session->ui.reboots, 0);

  page->SetSmart(false);
  page->SetWriteCache(true);
  page->SetDisableHotSpare(true);
  page->SetMaintenanceRate(9);
  page->Commit();
  ASSERT_GT(session->ui.boxes.size(), boxes);
  EXPECT_EQ(session->ui.boxes.back(), IdeControllerPage::kRebootQuestion);
  // Yes: the reboot waits for the agent's answers, then goes to the (recording) rebooter.
  EXPECT_TRUE(session->until([&] { return session->ui.reboots == 1; }));
  EXPECT_EQ(session->ui.closes, 1);
  const std::string after = SimSection("ide");
  EXPECT_NE(after.find("threshold 12, maintenance rate 9, smart off"), std::string::npos) << after;
  const std::string params = DriverParameters();
  for (const char* entry : {"WRITEBACKCACHE=1;", "DISABLEHOTSPARE=1;", "SMARTENABLE=0;", "MAINTENANCELENGTH=9;"})
    EXPECT_NE(params.find(entry), std::string::npos) << entry << " in " << params;

  // A new connection's page shows what was set.
  OtherConsole* other = session->OpenAnother("admin", "secret");
  ASSERT_NE(other, nullptr);
  CVirtualFolder* otherFamily = IdeFamily(*session, other->host);
  ASSERT_NE(otherFamily, nullptr);
  controllers = AllOfType(*session, otherFamily, kNodeIdeController);
  ASSERT_FALSE(controllers.empty());
  Pane otherPane(*other->doc);
  IdeControllerPage* again = otherPane.Select<IdeControllerPage>(controllers.front());
  ASSERT_NE(again, nullptr);
  ASSERT_TRUE(session->until([&] { return !again->controls().hardware.empty(); }));
  const IdeControllerPage::Controls& c = again->controls();
  EXPECT_FALSE(c.smart);
  EXPECT_TRUE(c.writeCache);
  EXPECT_TRUE(c.disableHotSpare);
  EXPECT_EQ(c.maintenanceRate, 9);
  EXPECT_EQ(c.pciBus, 25);
}

// What `kelmsim status` says of one IDE disk.
struct SimDisk {
  int megabytes = 0;
  std::string model;
  bool member = false;
};

std::map<std::string, SimDisk> SimDisks(const std::string& section) {
  std::map<std::string, SimDisk> out;
  // "  disk 0 channel 0 master 40960 MB udma5 "MV-DISK 0" member of array 0"
  std::istringstream in(section);
  for (std::string l; std::getline(in, l);) {
    std::istringstream words(l);
    std::string disk, n, channel, c, position, mb;
    SimDisk d;
    if (!(words >> disk >> n >> channel >> c >> position >> d.megabytes >> mb) || disk != "disk" || mb != "MB") continue;
    const std::size_t open = l.find('"'), close = l.find('"', open + 1);
    if (close == std::string::npos) continue;
    d.model = l.substr(open + 1, close - open - 1);
    d.member = l.compare(close + 2, 6, "member") == 0;
    out[d.model] = d;
  }
  return out;
}

// Whether a size text in gigabytes ("39.999 GB") is within 1 % of the simulator's megabytes: the
// drive's geometry rounds its capacity down.
bool NearMegabytes(const std::string& text, int megabytes) {
  double gb = 0;
  char unit[8] = {};
  if (std::sscanf(text.c_str(), "%lf %7s", &gb, unit) != 2 || std::string(unit) != "GB") return false;
  const double mb = gb * 1024;
  return mb <= megabytes && mb >= megabytes * 0.99;
}

TEST_F(ConsoleAgentPages, IdeArrayAndDiskPagesShowTheSimulatorsTwoCards) {
  if (!Begin({"libtirrow.so"})) GTEST_SKIP() << "the IDE component is not built";
  CVirtualFolder* family = IdeFamily(*session, session->host);
  ASSERT_NE(family, nullptr);
  const std::string section = SimSection("ide");
  const std::map<std::string, SimDisk> simDisks = SimDisks(section);
  ASSERT_EQ(simDisks.size(), 7u) << section;

  // Arrays: a mirror of two disks and a distributed-parity array of three, 40960 MB each.
  std::vector<CVirtualFolder*> arrays = AllOfType(*session, family, kNodeIdeArray);
  ASSERT_EQ(arrays.size(), 2u);
  std::multiset<std::string> modes;
  for (CVirtualFolder* array : arrays) {
    IdeArrayPage* page = pane->Select<IdeArrayPage>(array);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(session->until([&] { return !page->texts().size.empty() && !page->texts().mode.empty(); }));
    modes.insert(page->texts().mode);
    EXPECT_EQ(page->texts().status, "Functional") << array->name();
    EXPECT_TRUE(NearMegabytes(page->texts().size, 40960)) << page->texts().size;
    DrawList drawn;
    page->Paint(drawn, 400, 300);
    bool statusDrawn = false;
    for (const DrawOp& op : drawn.ops()) statusDrawn |= op.text == "Functional";
    EXPECT_TRUE(statusDrawn) << array->name();
  }
  EXPECT_EQ(modes, (std::multiset<std::string>{"DISTRIBUTED PARITY", "MIRRORING"}));

  // Disks: every disk of both cards, with the simulator's model, and members told from free ones.
  std::vector<CVirtualFolder*> disks = AllOfType(*session, family, kNodeIdeDisk);
  std::set<std::string> seen;
  for (CVirtualFolder* disk : disks) {
    IdeDiskPage* page = pane->Select<IdeDiskPage>(disk);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(session->until([&] { return !page->texts().model.empty() && !page->texts().size.empty(); }))
        << disk->name();
    const auto sim = simDisks.find(page->texts().model);
    ASSERT_NE(sim, simDisks.end()) << page->texts().model;
    if (!seen.insert(sim->first).second) continue;  // a member shown below its array and its channel
    EXPECT_EQ(page->texts().status, "Functional") << sim->first;
    EXPECT_EQ(page->texts().usage, sim->second.member ? "Assigned to an array" : "Free") << sim->first;
    EXPECT_TRUE(NearMegabytes(page->texts().size, sim->second.megabytes)) << sim->first << ": " << page->texts().size;
    EXPECT_EQ(page->texts().mode, "UDMA mode 5") << sim->first;
  }
  EXPECT_EQ(seen.size(), simDisks.size()) << "every disk of both cards has a page";
}

}  // namespace
}  // namespace kelm::systest
