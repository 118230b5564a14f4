// The agent's settings page and the RAID system page against the scripted agent.
#include "agent/core/settings_folder.h"
#include "console/core/pages/agent_page.h"
#include "console/core/strings.h"
#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::AgentSettingsPage;
using pages::kNoticeEvents;
using pages::RaidSystemPage;
using Marks = std::array<bool, kNoticeEvents.size()>;

class AgentPageTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    FakeNode& r = agent.root;
    r.Add("FileVersion", "pr-", "2.10");
    r.Add("bEmailEnable", "prw", "1");
    r.Add("ReceiptorList", "pr-", "\"Doe, John\" <j@x.y>,\"Ann\" <a@b.c>");
    r.Add("SMTPServer", "prw", "mail.example");
    r.Add("EmailID", "prw", "\"K\" <k@x.y>");
    r.Add("IPAddress", "pr-", "127.0.0.1");
    r.Add("NTEventLog", "prw", "0");
    r.Add("GetEmailInterval", "prw", "3");
    r.Add("EmailProtection", "prw", "1");
    r.Add("TestEvent", "prw", "0");
    for (const char* m : {"SetProperty", "AddReceiptor", "DelReceiptor", "SetEmailNoticeList", "SetReportNoticeList",
                          "SetVerifySchedule", "GetEmailNoticeList", "GetReportNoticeList", "GetVerifySchedule",
                          "AllEmailEvent", "AllPopupEvent"}) {
      r.Add(m, "m--", rights(m));
    }
    FakeNode* sys = r.Folder("RAID", kNodeRaidSystem);
    sys->Add("Type", "pr-", "VELKARI SorventicRAID");
    sys->Add("ComportStatus", "prv", "Disconnected");
    sys->Add("FileVersion", "pr-", "");
    sys->Add("connectComPort", "m--", "64");
    sys->Add("disconnectComPort", "m--", "64");
    FakeNode* other = r.Folder("IDE", kNodeRaidSystem);
    other->Add("Type", "pr-", "VELKARI MaroveltRAID");
    Start();
    AgentSettingsPage::TestCounter() = 0;
  }
  virtual std::string rights(const std::string&) { return "64"; }

  // The property writes the agent received since the mark.
  std::vector<std::string> Writes(std::size_t mark) {
    Pump();
    std::vector<std::string> out;
    for (const CMessage& m : agent.Since(mark)) {
      if (m.code == kReqSetProperty) out.push_back(m.text);
    }
    return out;
  }
  int Reloads(std::size_t mark) {
    Pump();
    int n = 0;
    for (const CMessage& m : agent.Since(mark)) n += m.code == kReqRefresh;
    return n;
  }
  std::unique_ptr<AgentSettingsPage> Shown() {
    auto page = std::make_unique<AgentSettingsPage>(*doc);
    page->ShowNode(Agent());
    Pump();
    return page;
  }
};

Marks MarksOf(std::initializer_list<int> codes) {
  Marks m{};
  for (std::size_t i = 0; i < kNoticeEvents.size(); ++i) {
    m[i] = std::find(codes.begin(), codes.end(), kNoticeEvents[i].code) != codes.end();
  }
  return m;
}

TEST(NoticeListText, AllOnIsTheAgentsOwnListAndNoneIsZero) {
  Marks all;
  all.fill(true);
  EXPECT_EQ(pages::NoticeListText(all), agent::CSettingsFolder::kAllEvents);
  EXPECT_EQ(pages::NoticeListText(Marks{}), "0");
  EXPECT_EQ(pages::NoticeListText(MarksOf({530, 256})), "2@256@530");
  // The agent's list reads back as every mark.
  Marks back{};
  ASSERT_TRUE(pages::ParseNoticeList(agent::CSettingsFolder::kAllEvents, back));
  EXPECT_EQ(back, all);
}

TEST(NoticeListText, OnlyWellFormedListsOfTheTableAreRead) {
  std::string list23 = "23";
  for (int i = 0; i < 22; ++i) list23 += "@" + std::to_string(kNoticeEvents[static_cast<std::size_t>(i)].code);
  list23 += "@256";
  const struct {
    const char* text;
    bool read;
  } cases[] = {{"2@256@257", true}, {"0", true},       {list23.c_str(), false}, {"1@600", false},
               {"1", false},        {"2@256", false},   {"1@256@257", false},    {"x", false},
               {"", false},         {"1@256x", false}};
  for (const auto& c : cases) {
    Marks m = MarksOf({513});
    EXPECT_EQ(pages::ParseNoticeList(c.text, m), c.read) << c.text;
    if (!c.read) {
      EXPECT_EQ(m, MarksOf({513})) << c.text;
    }
  }
}

TEST(Recipients, SplitOnlyOutsideQuotesAndCheckedByTheAgentsRules) {
  EXPECT_EQ(pages::SplitRecipients("\"Doe, John\" <j@x.y>,,\"Ann\" <a@b.c>, "),
            (std::vector<std::string>{"\"Doe, John\" <j@x.y>", "\"Ann\" <a@b.c>"}));
  const struct {
    const char* text;
    bool valid;
  } cases[] = {{"a <b@c.d>", true},  {"\"Doe, John\" <j@x.y>", true}, {"<bc>", false},  {"b@c", false},
               {">a@b.c<", false},   {"a <@c.d>", false},            {"a <b@cd>", false}, {"a <b.c@d>", false},
               {"a <.b@c.d>", false}, {"a <b@c.d", false},           {"a\n<b@c.d>", false}};
  for (const auto& c : cases) EXPECT_EQ(pages::MailAddressValid(c.text), c.valid) << c.text;
  for (const char* ok : {"5", "523", "65535"}) EXPECT_TRUE(pages::TestEventFieldValid(ok)) << ok;
  for (const char* bad : {"", "123456", "52a", "-1", " 5"}) EXPECT_FALSE(pages::TestEventFieldValid(bad)) << bad;
}

TEST_F(AgentPageTest, ShowNodeFillsTheFieldsAndAsksForTheListsAndSchedule) {
  agent.answers["GetEmailNoticeList"].partials = {"GetEmailNoticeList@0@2@256@257"};
  agent.answers["GetReportNoticeList"].partials = {"GetReportNoticeList@0@1@530"};
  agent.answers["GetVerifySchedule"].partials = {"GetVerifySchedule@0@1@2@0@22@0"};
  const std::size_t mark = agent.invoked.size();
  auto page = Shown();
  EXPECT_EQ(Invoked(mark), (std::vector<std::string>{"\\|GetEmailNoticeList@", "\\|GetReportNoticeList@",
                                                     "\\|GetVerifySchedule@"}));
  const auto& c = page->controls();
  EXPECT_EQ(c.name, "HOST7");
  EXPECT_EQ(c.version, "2.10");
  EXPECT_TRUE(c.emailEnable);
  EXPECT_EQ(c.recipients, (std::vector<std::string>{"\"Doe, John\" <j@x.y>", "\"Ann\" <a@b.c>"}));
  EXPECT_EQ(c.smtpServer, "mail.example");
  EXPECT_EQ(c.ipAddress, "127.0.0.1");
  EXPECT_EQ(c.interval, 3);
  EXPECT_TRUE(c.protection);
  EXPECT_EQ(c.testEvent, "0");
  EXPECT_EQ(c.email, MarksOf({256, 257}));
  EXPECT_EQ(c.popup, MarksOf({530}));
  EXPECT_EQ(c.scheduleType, 2);
  EXPECT_TRUE(c.scheduleEnabled);
  EXPECT_EQ(c.weekday, 0);
  EXPECT_EQ(c.hour, 22);
  EXPECT_EQ(c.minute, 0);
  EXPECT_EQ(page->permissions(), 31u);
  const auto e = page->enables();
  EXPECT_TRUE(e.emailFields && e.addRecipient && e.interval && e.noticeList && e.scheduleEnabled);
  EXPECT_FALSE(e.noticeApply || e.scheduleApply || e.delRecipient);  // nothing changed, nothing chosen

  // Replies that are not lists the table can hold, and replies of other numbers, change nothing.
  for (const char* reply : {"GetEmailNoticeList@0@23@256@257@258@512@513@523@514@515@516@524@521@522@517@518@519@"
                            "520@525@526@527@528@529@530@256",
                            "GetEmailNoticeList@0@1@600", "GetEmailNoticeList@1@1@258", "800@Functional@GetEmailNoticeList@",
                            "GetEmailNoticeList@0@1"}) {
    page->OnInvokeReply(kStatusPartial, reply);
    EXPECT_EQ(page->controls().email, MarksOf({256, 257})) << reply;
  }
}

TEST_F(AgentPageTest, NoticeListsGoOutInTableOrderAndTheAllEventsReload) {
  auto page = Shown();
  page->SetEmailMark(21, true);  // 530
  page->SetEmailMark(0, true);   // 256
  page->SetPopupMark(5, true);   // 523
  EXPECT_TRUE(page->enables().noticeApply);
  std::size_t mark = agent.invoked.size();
  page->ApplyNoticeLists();
  EXPECT_EQ(Invoked(mark), (std::vector<std::string>{"\\|SetEmailNoticeList@2@256@530", "\\|SetReportNoticeList@1@523",
                                                     "\\|GetEmailNoticeList@", "\\|GetReportNoticeList@"}));
  EXPECT_FALSE(page->enables().noticeApply);

  page->SetAllEmail(true);
  page->SetAllPopup(true);
  mark = agent.invoked.size();
  const std::size_t records = agent.received.size();
  page->ApplyNoticeLists();
  const auto sent = Invoked(mark);
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(sent.begin() + 2, sent.begin() + 4),
            (std::vector<std::string>{"\\|AllEmailEvent@", "\\|AllPopupEvent@"}));
  EXPECT_EQ(Reloads(records), 1);
}

TEST_F(AgentPageTest, ScheduleTextsAndTheirRoundTrip) {
  struct Case {
    int type;
    std::function<void(AgentSettingsPage&)> set;
    const char* text;
  };
  const Case cases[] = {
      {1, [](AgentSettingsPage& p) { p.SetScheduleTime(2, 30); }, "1@1@2@30"},
      {2, [](AgentSettingsPage& p) { p.SetScheduleWeekday(0), p.SetScheduleTime(22, 0); }, "1@2@0@22@0"},
      {3, [](AgentSettingsPage& p) { p.SetScheduleMonthDay(31), p.SetScheduleTime(1, 0); }, "1@3@31@1@0"},
      {4, [](AgentSettingsPage& p) { p.SetScheduleCount(90); }, "1@4@90"},
      {5, [](AgentSettingsPage& p) { p.SetScheduleCount(12); }, "1@5@12"},
  };
  for (const Case& c : cases) {
    agent.answers["GetVerifySchedule"].partials = {"GetVerifySchedule@0@0"};
    auto page = Shown();
    page->SetScheduleType(c.type);
    page->SetScheduleEnabled(true);
    c.set(*page);
    EXPECT_TRUE(page->enables().scheduleApply);
    const AgentSettingsPage::Controls typed = page->controls();
    agent.answers["GetVerifySchedule"].partials = {std::string("GetVerifySchedule@0@") + c.text};
    const std::size_t mark = agent.invoked.size();
    page->ApplySchedule();
    EXPECT_EQ(Invoked(mark), (std::vector<std::string>{std::string("\\|SetVerifySchedule@") + c.text,
                                                       "\\|GetVerifySchedule@"}));
    // What the agent answers reads back as what was set.
    const auto& back = page->controls();
    EXPECT_EQ(back.scheduleType, typed.scheduleType) << c.text;
    EXPECT_TRUE(back.scheduleEnabled) << c.text;
    EXPECT_EQ(std::tie(back.hour, back.minute, back.weekday, back.monthDay, back.minutes, back.hours),
              std::tie(typed.hour, typed.minute, typed.weekday, typed.monthDay, typed.minutes, typed.hours))
        << c.text;
    EXPECT_TRUE(ui.boxes.empty());
  }
}

TEST_F(AgentPageTest, TurningTheScheduleOffIsSentAndARefusedOneIsNot) {
  agent.answers["GetVerifySchedule"].partials = {"GetVerifySchedule@0@1@1@2@30"};
  auto page = Shown();
  page->SetScheduleType(0);
  page->SetScheduleEnabled(false);
  std::size_t mark = agent.invoked.size();
  page->ApplySchedule();
  EXPECT_EQ(Invoked(mark), (std::vector<std::string>{"\\|SetVerifySchedule@0", "\\|GetVerifySchedule@"}));

  page->SetScheduleType(4);
  page->SetScheduleCount(0);
  page->SetScheduleEnabled(true);
  mark = agent.invoked.size();
  page->ApplySchedule();
  EXPECT_TRUE(Invoked(mark).empty());
  EXPECT_EQ(BoxIds(), std::vector<int>{200});
  EXPECT_EQ(page->controls().scheduleType, 4);  // kept to be mended
}

TEST_F(AgentPageTest, RecipientsAreCheckedSentAndTheAgentsAnswerRead) {
  auto page = Shown();
  std::size_t mark = agent.invoked.size();
  page->TypeNewRecipient("b@c");
  page->AddRecipient();
  EXPECT_EQ(BoxIds(), std::vector<int>{180});
  EXPECT_EQ(page->controls().newRecipient, "b@c");
  EXPECT_TRUE(Invoked(mark).empty());

  // The agent refuses: the refusal shows and the typed text stays.
  ui.boxes.clear();
  agent.answers["AddReceiptor"].result = kResultInvalidArgument;
  page->TypeNewRecipient("Bo <bo@x.y>");
  page->AddRecipient();
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{"\\|AddReceiptor@Bo <bo@x.y>"});
  EXPECT_EQ(BoxIds(), std::vector<int>{180});
  EXPECT_EQ(page->controls().newRecipient, "Bo <bo@x.y>");

  // Accepted: the field clears and the list is read again.
  ui.boxes.clear();
  agent.answers.erase("AddReceiptor");
  const std::size_t records = agent.received.size();
  page->AddRecipient();
  Pump();
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(page->controls().newRecipient, "");
  EXPECT_EQ(Reloads(records), 1);

  // A recipient whose name holds a comma is deleted whole.
  page->SelectRecipient(page->controls().recipients.at(0));
  EXPECT_TRUE(page->enables().delRecipient);
  mark = agent.invoked.size();
  page->DeleteRecipient();
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{"\\|DelReceiptor@\"Doe, John\" <j@x.y>"});
}

TEST_F(AgentPageTest, PropertyWritesOfTheSwitchesFieldsAndTestEvent) {
  auto page = Shown();
  std::size_t mark = agent.received.size();
  page->SetEmailEnable(false);
  page->SetNtEventLog(true);
  page->TypeSmtpServer("smtp.x");
  page->SetInterval(5);
  page->ApplyServer();
  page->TypeEmailId("Me <me@x.y>");
  page->LeaveEmailId();
  page->SetAutoSave(true);  // the console's own
  page->TypeTestEvent("523");
  page->SendTestEvent();
  page->SendTestEvent();
  EXPECT_EQ(Writes(mark), (std::vector<std::string>{"bEmailEnable@0", "NTEventLog@1", "SMTPServer@smtp.x",
                                                    "GetEmailInterval@5", "EmailID@Me <me@x.y>", "TestEvent@523@1",
                                                    "TestEvent@523@2"}));
  EXPECT_EQ(Agent()->GetProperty("bAutoSave", "", true), "1");

  // A sender that is no address is refused and the field shows the stored one again.
  mark = agent.received.size();
  page->TypeEmailId("<nobody>");
  page->LeaveEmailId();
  EXPECT_EQ(BoxIds(), std::vector<int>{180});
  EXPECT_EQ(page->controls().emailId, "Me <me@x.y>");
  // A test event field that is no event code sends nothing.
  ui.boxes.clear();
  page->TypeTestEvent("52a");
  page->SendTestEvent();
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_TRUE(Writes(mark).empty());
}

TEST_F(AgentPageTest, ProtectionOffAsksFirst) {
  auto page = Shown();
  const std::size_t mark = agent.received.size();
  ui.answers = {kIdCancel};
  page->SetProtection(false);
  EXPECT_EQ(BoxIds(), std::vector<int>{61204});
  EXPECT_TRUE(page->controls().protection);
  EXPECT_TRUE(Writes(mark).empty());
  ui.answers = {kIdOk};
  page->SetProtection(false);
  EXPECT_FALSE(page->controls().protection);
  EXPECT_EQ(Writes(mark), std::vector<std::string>{"EmailProtection@0"});
}

TEST_F(AgentPageTest, EditsSurviveAReloadOfTheShownNode) {
  agent.answers["GetEmailNoticeList"].partials = {"GetEmailNoticeList@0@1@256"};
  auto page = Shown();
  page->TypeEmailId("typed <t@x.y>");
  page->TypeNewRecipient("New <n@x.y>");
  page->SetEmailMark(1, true);
  page->SetScheduleType(1);
  page->SetScheduleTime(3, 15);
  // The agent's periodic notice reloads the node and the pane shows it again.
  Agent()->Reload();
  Pump();
  page->ShowNode(Agent());
  Pump();
  const auto& c = page->controls();
  EXPECT_EQ(c.emailId, "typed <t@x.y>");
  EXPECT_EQ(c.newRecipient, "New <n@x.y>");
  EXPECT_EQ(c.email, MarksOf({256, 257}));
  EXPECT_EQ(c.scheduleType, 1);
  EXPECT_EQ(c.hour, 3);
  EXPECT_TRUE(page->enables().noticeApply && page->enables().scheduleApply);
}

TEST_F(AgentPageTest, TheListenerLeavesWithTheNodeAndThePage) {
  agent.answers["GetEmailNoticeList"].partials = {"GetEmailNoticeList@0@1@256"};
  auto page = Shown();
  CVirtualFolder* raid = Node("\\HOST7\\RAID");
  ASSERT_NE(raid, nullptr);
  Agent()->Invoke("GetEmailNoticeList", "");  // answered after the page moved on
  page->ShowNode(raid);
  Pump();
  EXPECT_EQ(page->controls().email, Marks{});
  // A page destroyed before the replies of its requests arrive is never called back.
  page->ShowNode(Agent());
  page.reset();
  Pump();
  EXPECT_TRUE(Agent()->isOpen());
}

class AgentPageNoRightsTest : public AgentPageTest {
  std::string rights(const std::string& m) override { return m.rfind("Get", 0) == 0 ? "64" : "0"; }
};

TEST_F(AgentPageNoRightsTest, PermissionsFollowTheMethodList) {
  auto page = Shown();
  EXPECT_EQ(page->permissions(), 0u);
  const auto e = page->enables();
  EXPECT_FALSE(e.ntEventLog || e.emailEnable || e.emailFields || e.addRecipient || e.noticeList ||
               e.scheduleEnabled || e.testEvent);
  // Without the schedule's permission the type is taken as none.
  page->SetScheduleType(1);
  const std::size_t mark = agent.invoked.size();
  page->ApplySchedule();
  EXPECT_EQ(Invoked(mark).front(), "\\|SetVerifySchedule@0");
}

TEST_F(AgentPageTest, RaidSystemConnectWaitsOnTheClockAndReloadsEverySixthTick) {
  RaidSystemPage page(*doc);
  Agent()->Refresh();
  Pump();
  CVirtualFolder* raid = Node("\\HOST7\\RAID");
  raid->Refresh();
  Pump();
  page.ShowNode(raid);
  EXPECT_EQ(page.controls().type, "VELKARI SorventicRAID");
  EXPECT_EQ(page.controls().portStatus, "Disconnected");
  EXPECT_EQ(page.controls().version, "-----------");
  EXPECT_TRUE(page.controls().portControls && page.controls().connect);
  EXPECT_FALSE(page.controls().disconnect);

  std::size_t mark = agent.invoked.size();
  std::size_t records = agent.received.size();
  page.Connect();
  EXPECT_EQ(page.controls().portStatus, "Please wait...");
  EXPECT_FALSE(page.controls().connect);
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{"\\RAID|connectComPort@VERUZARI!"});
  agent.root.Child("RAID")->Child("ComportStatus")->value = "Connected";
  clock.advanceMs(4999);
  loop->runOnce(0);
  EXPECT_EQ(Reloads(records), 0);
  clock.advanceMs(1);
  loop->runOnce(0);
  EXPECT_EQ(Reloads(records), 1);
  page.RefreshPage();
  EXPECT_EQ(page.controls().portStatus, "Connected");
  EXPECT_TRUE(page.controls().disconnect);

  // That was the first tick since the node was shown: the sixth and the twelfth reload.
  records = agent.received.size();
  for (int i = 0; i < 4; ++i) page.RefreshPage();
  EXPECT_EQ(Reloads(records), 0);
  page.RefreshPage();
  EXPECT_EQ(Reloads(records), 1);
  for (int i = 0; i < 6; ++i) page.RefreshPage();
  EXPECT_EQ(Reloads(records), 2);

  mark = agent.invoked.size();
  records = agent.received.size();
  page.Disconnect();
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{"\\RAID|disconnectComPort@VERUZARI!"});
  EXPECT_EQ(Reloads(records), 1);

  // The wait is dropped when the page shows another node; other systems have no port controls.
  page.Connect();
  CVirtualFolder* ide = Node("\\HOST7\\IDE");
  ide->Refresh();
  Pump();
  page.ShowNode(ide);
  EXPECT_FALSE(page.waiting());
  EXPECT_FALSE(page.controls().portControls);
  records = agent.received.size();
  clock.advanceMs(6000);
  loop->runOnce(0);
  for (int i = 0; i < 6; ++i) page.RefreshPage();
  EXPECT_EQ(Reloads(records), 0);
}

}  // namespace
}  // namespace kelm::console::testing
