// The root's settings and commands, and the users folders.
#include <fstream>
#include <sstream>

#include "agent/core/agent_names.h"
#include "agent/core/tests/agent_fixture.h"
#include "platform/base/paths.h"
#include "platform/testing/held_hive.h"

namespace kelm::agent::testing {
namespace {

class SettingsTest : public AgentTest {
 protected:
  void SetUp() override {
    accounts::AccountHandle admin = 0;
    ASSERT_EQ(doc_->Accounts().OpenAccount("admin", "secret", admin), plat::S_OK);
    ASSERT_EQ(doc_->Accounts().CreateAccount(admin, "viewer", "pw", 0x3C), plat::S_OK);
    doc_->Accounts().CloseAccount(admin);
    admin_ = &NewClient();
    ASSERT_EQ(Logon(*admin_, "admin", "secret"), 800);
  }
  std::int32_t Set(Client& c, const std::string& text) { return FinalResult(Request(c, kReqSetProperty, text)); }
  Client* admin_ = nullptr;
};

TEST_F(SettingsTest, RootEntriesInOrder) {
  std::vector<std::string> names;
  for (CPea::Position p = doc_->Root()->GetFirstChildPosition(); p;) names.push_back(doc_->Root()->GetNextChild(p)->name());
  const std::vector<std::string> first = {"TestEvent", "NTEventLog", "GetEmailInterval", "EmailProtection",
                                          "PollFrequency", "bEmailEnable", "SMTPServer", "EmailID", "ReceiptorList"};
  ASSERT_GE(names.size(), first.size());
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + first.size()), first);
  EXPECT_EQ(names.back(), "Users");
  CPea* all = doc_->Root()->FindChild("GetEmailNoticeList");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->value(), "-134217729");
}

TEST_F(SettingsTest, SetValueTable) {
  Client& viewer = NewClient();
  ASSERT_EQ(Logon(viewer, "viewer", "pw"), 800);
  struct Case {
    Client* who;
    const char* text;
    std::int32_t result;
  } cases[] = {
      {admin_, "PollFrequency@14", 805},
      {admin_, "PollFrequency@4294967295", 800},
      {admin_, "PollFrequency@4294967296", 805},
      {admin_, "PollFrequency@-5", 800},  // unsigned: 4294967291
      {admin_, "PollFrequency@15", 800},
      {admin_, "PollFrequency@abc", 805},
      {&viewer, "PollFrequency@20", 802},  // no settings right
      {admin_, "EmailID@not an address", 805},
      {admin_, "EmailID@agent@example.org", 800},
      {admin_, "SMTPServer@mail.example.org", 800},
      {admin_, "bEmailEnable@1", 800},
      {admin_, "NTEventLog@1", 800},
      {admin_, "EmailProtection@0", 800},
      {admin_, "TestEvent@523", 800},
      {admin_, "FileVersionX@1", 803},
  };
  for (const Case& c : cases) EXPECT_EQ(Set(*c.who, c.text), c.result) << c.text;
  EXPECT_EQ(doc_->Root()->FindChild("PollFrequency")->value(), "15");
  EXPECT_EQ(doc_->Events().GetMailSettings().emailId, "agent@example.org");
  EXPECT_EQ(AgentProfile().getInt("LogEvent", "NTEventLog", 0), 1);
  EXPECT_EQ(AgentProfile().getInt("Email Protection", "Protection Enable", 1), 0);
}

// A setting the store cannot take (the hive busy past its time-out) is answered as an error, not
// as set; once the hive is free again the same request succeeds.
TEST_F(SettingsTest, ASettingThatCannotBeStoredIsNotReportedAsSet) {
  const char* const sets[] = {"NTEventLog@1", "GetEmailInterval@3", "EmailProtection@0"};
  {
    plat::testing::HeldHive busy(plat::reg::Hive::LocalMachine);
    ASSERT_TRUE(busy.held());
    for (const char* text : sets) EXPECT_EQ(Set(*admin_, text), 801) << text;
    EXPECT_EQ(FinalResult(Request(*admin_, kReqInvoke, "SetVerifySchedule@1@2@3")), 801);
    EXPECT_EQ(FinalResult(Request(*admin_, kReqInvoke, "AllPopupEvent@")), 801);
    logged_.clear();
    EXPECT_EQ(FinalResult(Request(*admin_, kReqInvoke, "SetEmailNoticeList@1@523")), 801);
    // The log says which setting was lost and why.
    ASSERT_EQ(logged_.size(), 1u);
    EXPECT_NE(logged_[0].find("SetEmailNoticeList not stored: "), std::string::npos) << logged_[0];
    EXPECT_NE(logged_[0].find("busy"), std::string::npos) << logged_[0];
  }
  // A list that is refused for its text is the client's error, not the store's: nothing is logged.
  logged_.clear();
  EXPECT_EQ(FinalResult(Request(*admin_, kReqInvoke, "SetEmailNoticeList@" + std::string(5000, '1'))), 801);
  EXPECT_TRUE(logged_.empty());
  for (const char* text : sets) EXPECT_EQ(Set(*admin_, text), 800) << text;
  EXPECT_EQ(FinalResult(Request(*admin_, kReqInvoke, "SetVerifySchedule@1@2@3")), 800);
  EXPECT_EQ(AgentProfile().getInt("Email Protection", "Activate Interval", 0), 3);
}

TEST_F(SettingsTest, InvokeMethodTable) {
  struct Case {
    const char* text;
    std::int32_t result;
    const char* partial;  // null: none
  } cases[] = {
      {"SetProperty@x", 803, nullptr},
      {"AddReceiptor@nobody", 805, nullptr},
      {"AddReceiptor@ops@example.org", 800, nullptr},
      {"AddReceiptor@ops@example.org", 801, nullptr},
      {"DelReceiptor@else@example.org", 801, nullptr},
      {"GetEmailNoticeList@", 801, nullptr},
      {"SetEmailNoticeList@2@256@257", 800, nullptr},
      {"GetEmailNoticeList@", 800, "GetEmailNoticeList@0@2@256@257"},
      {"AllPopupEvent@", 800, nullptr},
      {"GetReportNoticeList@", 800, "GetReportNoticeList@0@22@256@257@258@512@513@523@514@515@516@524@521@522@517@518@519@520@525@526@527@528@529@530"},
      {"SetVerifySchedule@1@2@3", 800, nullptr},
      {"GetVerifySchedule@", 800, "GetVerifySchedule@0@1@2@3"},
  };
  for (const Case& c : cases) {
    auto got = Request(*admin_, kReqInvoke, c.text);
    EXPECT_EQ(FinalResult(got), c.result) << c.text;
    auto partials = Partials(got);
    if (c.partial) {
      ASSERT_EQ(partials.size(), 2u) << c.text;
      EXPECT_EQ(partials[0], c.partial);
    }
  }
  EXPECT_EQ(doc_->Root()->FindChild("ReceiptorList")->value(), "ops@example.org");
  EXPECT_EQ(AgentProfile().getString("GetVerifySchedule", "GetVerifySchedule"), "1@2@3");
}

TEST_F(SettingsTest, ReportListDecidesWhichEventsAreForwarded) {
  Client& watcher = NewClient();
  ASSERT_EQ(Logon(watcher, "viewer", "pw"), 800);
  ASSERT_EQ(Set(*admin_, "TestEvent@523"), 800);
  watcher.sink->got.clear();
  ASSERT_EQ(Invoke(*admin_, "AllPopupEvent@"), 800);
  ASSERT_EQ(Set(*admin_, "TestEvent@523"), 800);
  ASSERT_EQ(watcher.sink->got.size(), 1u);
  EXPECT_EQ(watcher.sink->got[0].code, kNotifyEvent);
  EXPECT_EQ(watcher.sink->got[0].text, "\\@523@994730139@testing@AGENTTESTING");
  watcher.sink->got.clear();
  ASSERT_EQ(Set(*admin_, "TestEvent@52"), 800);  // a prefix of a listed code is not listed
  EXPECT_TRUE(watcher.sink->got.empty());
}

TEST_F(SettingsTest, RootTickNotifiesEvery120TicksAndWalksAtOnce) {
  auto river = plat::com::makeObject<FakeRiver>();
  river->entries = {"HasEvent@pr-@3"};
  CVirtualFolder* f = AttachFake("EV", river);
  admin_->sink->got.clear();
  doc_->Root()->OnTick();
  EXPECT_EQ(f->FamilyWord(), "yes");  // the first tick walks
  int notifies = 0;
  for (int i = 0; i < 240; ++i) {
    doc_->Root()->OnTick();
    for (auto& m : admin_->sink->got) notifies += m.code == kNotifyFolderChanged && m.text == "\\@";
    admin_->sink->got.clear();
  }
  EXPECT_EQ(notifies, 2);
}

using UsersTest = SettingsTest;

TEST_F(UsersTest, OperationsTable) {
  ASSERT_EQ(ChangeFolder(*admin_, "Users"), 800);
  struct Case {
    const char* text;
    std::int32_t result;
  } cases[] = {
      {"CreateUser@bob@pw", 805},  // no second '@' and rights
      {"CreateUser@@pw@60", 805},
      {"CreateUser@x\\y@pw@60", 805},
      {"CreateUser@.@pw@60", 805},
      {"CreateUser@..@pw@60", 805},
      {"CreateUser@CreateUser@pw@60", 805},  // a sibling entry's name
      {"CreateUser@bob@pw@60", 800},
      {"CreateUser@bob@pw@60", 801},  // exists
      {"DeleteUser@admin", 800},      // the only administrator stays
      {"Nothing@", 803},
  };
  for (const Case& c : cases) EXPECT_EQ(Invoke(*admin_, c.text), c.result) << c.text;
  auto listing = Partials(Request(*admin_, kReqListRights, ""));
  EXPECT_NE(std::find(listing.begin(), listing.end(), "admin@or-@13"), listing.end());
  EXPECT_NE(std::find(listing.begin(), listing.end(), "bob@or-@13"), listing.end());
  EXPECT_NE(std::find(listing.begin(), listing.end(), "viewer@or-@13"), listing.end());
  accounts::AccountHandle h = 0;
  EXPECT_EQ(doc_->Accounts().OpenAccount("admin", "secret", h), plat::S_OK);
  doc_->Accounts().CloseAccount(h);
  EXPECT_EQ(Invoke(*admin_, "DeleteUser@bob"), 800);
  listing = Partials(Request(*admin_, kReqListRights, ""));
  EXPECT_EQ(std::find(listing.begin(), listing.end(), "bob@or-@13"), listing.end());
}

TEST_F(UsersTest, ChangeRightRefusesOnlyTakingTheLastAdministratorsRight) {
  ASSERT_EQ(ChangeFolder(*admin_, "Users"), 800);
  ASSERT_EQ(FinalResult(Request(*admin_, kReqListRights, "")), 800);
  ASSERT_EQ(ChangeFolder(*admin_, "viewer"), 800);
  auto got = Partials(Request(*admin_, kReqListRights, ""));
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], "right@pr-@61");  // the store adds the right on one's own account
  // With one administrator, another account's rights still change.
  EXPECT_EQ(Invoke(*admin_, "changeright@28"), 800);
  std::uint32_t rights = 0;
  accounts::AccountHandle h = 0;
  ASSERT_EQ(doc_->Accounts().OpenAccount("admin", "secret", h), plat::S_OK);
  ASSERT_EQ(doc_->Accounts().GetAccountRights(h, "viewer", rights), plat::S_OK);
  EXPECT_EQ(rights & ~1u, 28u);
  ASSERT_EQ(ChangeFolder(*admin_, ".."), 800);
  ASSERT_EQ(ChangeFolder(*admin_, "admin"), 800);
  // Taking right 2 from its only holder changes nothing, and says so as any change does.
  admin_->sink->got.clear();
  const auto refused = Request(*admin_, kReqInvoke, "changeright@60");
  EXPECT_EQ(FinalResult(refused), 800);
  EXPECT_NE(std::find_if(refused.begin(), refused.end(),
                         [](const CMessage& m) { return m.code == kNotifyFolderChanged && m.text == "\\Users\\admin@"; }),
            refused.end());
  ASSERT_EQ(doc_->Accounts().GetAccountRights(h, "admin", rights), plat::S_OK);
  EXPECT_EQ(rights, 0xF7FFFFFFu);
  doc_->Accounts().CloseAccount(h);
  // The trace lines went to the log directory.
  std::ifstream trace(plat::paths::logDir() / "right.txt");
  std::stringstream s;
  s << trace.rdbuf();
  EXPECT_EQ(s.str(), "user viewer, right= 1c, nadmin= 1\nuser admin, right= 3c, nadmin= 1\n");
}

TEST_F(UsersTest, RenameAndPasswordRules) {
  ASSERT_EQ(ChangeFolder(*admin_, "Users"), 800);
  ASSERT_EQ(FinalResult(Request(*admin_, kReqListRights, "")), 800);
  ASSERT_EQ(ChangeFolder(*admin_, "viewer"), 800);
  EXPECT_EQ(Invoke(*admin_, "password@new"), 801);  // right 1 only on one's own account
  EXPECT_EQ(Invoke(*admin_, "rename@admin"), 805);   // a sibling's name
  EXPECT_EQ(Invoke(*admin_, "rename@a@b"), 805);
  EXPECT_EQ(Invoke(*admin_, "rename@watcher"), 800);
  Client& w = NewClient();
  ASSERT_EQ(Logon(w, "watcher", "pw"), 800);
}

}  // namespace
}  // namespace kelm::agent::testing
