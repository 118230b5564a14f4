// The event services inside a real document: the settings folder's requests reach the dispatcher,
// the mail settings and the schedule, and a due schedule reaches the components.
#include "agent/events/services/agent_event_services.h"

#include <gtest/gtest.h>

#include "agent/core/agent_names.h"
#include "agent/core/tests/agent_fixture.h"
#include "agent/events/event_log_file.h"
#include "message/message_codec.h"
#include "platform/base/paths.h"
#include "platform/testing/held_hive.h"

namespace kelm::events {
namespace {

using agent::testing::FakeRiver;

class EventServicesTest : public agent::testing::AgentTest {
 protected:
  EventServicesTest() {
    // The fixture's document again, with these services.
    doc_.reset();
    agent::DocOptions o;
    o.loop = loop_.get();
    o.clock = &clock_;
    o.hostName = "testhost";
    o.localChannel = false;
    o.makeEvents = [this](agent::CHalvornDoc& d) {
      auto s = std::make_unique<CAgentEventServices>(d);
      services_ = s.get();
      return s;
    };
    doc_ = std::make_unique<agent::CHalvornDoc>(o);
    EXPECT_EQ(doc_->Accounts().InitUserStore("admin", "secret"), plat::S_OK);
  }
  // The records an 8195 carried, in arrival order.
  static std::vector<std::string> Forwarded(const std::vector<CMessage>& got) {
    std::vector<std::string> out;
    for (const auto& m : got)
      if (m.code == kNotifyEvent) out.push_back(m.text);
    return out;
  }
  // The method's own partial replies (without the generic one that repeats the request).
  static std::vector<std::string> Own(const std::vector<CMessage>& got, const std::string& method) {
    std::vector<std::string> out;
    for (const std::string& p : Partials(got))
      if (p.rfind(method + "@", 0) == 0) out.push_back(p);
    return out;
  }
  CAgentEventServices* services_ = nullptr;
};

TEST_F(EventServicesTest, TestEventIsLoggedAndForwarded) {
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  ASSERT_EQ(Invoke(c, "SetReportNoticeList@1@523"), 800);
  EXPECT_EQ(Invoke(c, "SetReportNoticeList@1@600"), 801);
  const auto got = Request(c, kReqSetProperty, "TestEvent@523");
  EXPECT_EQ(FinalResult(got), 800);
  EXPECT_EQ(Forwarded(got), (std::vector<std::string>{"\\@523@994730139@0@@AGENTTESTING"}));
  std::int32_t pos = 0, cookie = 0;
  auto cursor = EventCursor::open(plat::paths::logDir() / ".log", pos, cookie, false);
  ASSERT_TRUE(cursor);
  EventRecord r;
  ASSERT_TRUE(cursor->next(r));
  EXPECT_EQ(r, (EventRecord{523, 994730139, 0, "", "AGENTTESTING"}));
}

TEST_F(EventServicesTest, AFolderPagesItsEventsAndClearsThem) {
  auto river = plat::com::makeObject<FakeRiver>();
  river->entries = {"HasEvent@pr-@3", "ReadEvent@m--@-134217729", "ClearEvent@m--@2"};
  auto* folder = AttachFake("MV_RAID", river);
  services_->DispatchEvent("512@994730139@1@Array@first", *folder, "yes");
  services_->DispatchEvent("513@994730140@2@Array@second", *folder, "yes");
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  ASSERT_EQ(ChangeFolder(c, "MV_RAID"), 800);

  // A positive count pages from the newest record; the last partial reply gives where to go on.
  auto page = Own(Request(c, kReqInvoke, "ReadEvent@0@1"), "ReadEvent");
  ASSERT_EQ(page.size(), 2u);
  EXPECT_EQ(page[0], "ReadEvent@0@513@994730140@2@Array@second");
  const std::string end = "ReadEvent@255@256@";
  ASSERT_EQ(page[1].rfind(end, 0), 0u) << page[1];
  const std::string next = page[1].substr(end.size());  // position@cookie
  page = Own(
      Request(c, kReqInvoke, "ReadEvent@" + next.substr(0, next.find('@')) + "@5@" + next.substr(next.find('@') + 1)),
      "ReadEvent");
  ASSERT_EQ(page.size(), 2u);
  EXPECT_EQ(page[0], "ReadEvent@0@512@994730139@1@Array@first");
  // A negative count reads from the oldest.
  page = Own(Request(c, kReqInvoke, "ReadEvent@0@-5"), "ReadEvent");
  ASSERT_EQ(page.size(), 3u);
  EXPECT_EQ(page[0], "ReadEvent@0@512@994730139@1@Array@first");

  // Numbers beyond 32 bits are clamped to it and a '+' is read, so no count can break the reader.
  for (const char* args : {"0@-9223372036854775808", "0@-2147483648", "0@-99999999999999999999"}) {
    page = Own(Request(c, kReqInvoke, std::string("ReadEvent@") + args), "ReadEvent");
    ASSERT_EQ(page.size(), 3u) << args;
    EXPECT_EQ(page[0], "ReadEvent@0@512@994730139@1@Array@first") << args;
  }
  page = Own(Request(c, kReqInvoke, "ReadEvent@+0@+1"), "ReadEvent");
  ASSERT_EQ(page.size(), 2u);
  EXPECT_EQ(page[0], "ReadEvent@0@513@994730140@2@Array@second");
  EXPECT_NE(FinalResult(Request(c, kReqInvoke, "ReadEvent@99999999999@9223372036854775807@-99999999999")), -1);

  Request(c, kReqInvoke, "ClearEvent@");
  EXPECT_FALSE(std::filesystem::exists(plat::paths::logDir() / "MV_RAID" / "MV_RAID.log"));
  EXPECT_TRUE(Own(Request(c, kReqInvoke, "ReadEvent@0@5"), "ReadEvent").empty());
}

TEST_F(EventServicesTest, MailSettingsAreKeptInTheProfileAndRefuseLineBreaks) {
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  EXPECT_EQ(Invoke(c, "AddReceiptor@Ann <ann@x.test>"), 800);
  EXPECT_EQ(Invoke(c, "AddReceiptor@Ann <ann@x.test>"), 801);
  EXPECT_EQ(Invoke(c, "AddReceiptor@ann@x.test"), 805);
  EXPECT_EQ(FinalResult(Request(c, kReqSetProperty, "SMTPServer@mail.test:2525")), 800);
  EXPECT_EQ(FinalResult(Request(c, kReqSetProperty, "SMTPServer@mail.test\r\nQUIT")), 805);
  EXPECT_EQ(FinalResult(Request(c, kReqSetProperty, "EmailID@Agent <agent@x.test>\nBcc: <b@x.test>")), 805);
  const auto mail = services_->GetMailSettings();
  EXPECT_EQ(mail.smtpServer, "mail.test:2525");
  EXPECT_EQ(mail.receiptorList, "\"Ann\" <ann@x.test>");
  const auto profile = agent::AgentProfile();
  EXPECT_EQ(profile.getString(kMailSection, "Receiptor-0"), "\"Ann\" <ann@x.test>");
  EXPECT_EQ(profile.getString(kMailSection, "SMTP"), "mail.test:2525");
}

// Every setting's text is bounded, so no entry of the root can outgrow a record: the root stays
// listable and every client keeps its link.
TEST_F(EventServicesTest, SettingsRefuseTextsPastTheirBounds) {
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  struct Case {
    std::int32_t code;
    std::string text;
    std::int32_t result;
  } cases[] = {
      {kReqSetProperty, "SMTPServer@" + std::string(255, 'h'), 800},
      {kReqSetProperty, "SMTPServer@" + std::string(256, 'h'), 805},
      {kReqSetProperty, "EmailID@Agent <" + std::string(310, 'a') + "@x.test>", 805},
      {kReqSetProperty, "TestEvent@" + std::string(17, '1'), 805},
      {kReqSetProperty, "PollFrequency@" + std::string(15, '0') + "20", 805},
      {kReqSetProperty, "NTEventLog@" + std::string(15, '0') + "1", 800},
      {kReqInvoke, "AddReceiptor@Ann <" + std::string(310, 'a') + "@x.test>", 805},
      {kReqInvoke, "DelReceiptor@Ann <" + std::string(310, 'a') + "@x.test>", 805},
  };
  for (const Case& k : cases) EXPECT_EQ(FinalResult(Request(c, k.code, k.text)), k.result) << k.text.substr(0, 40);
  // The recipient list stops short of 4 KiB.
  int added = 0;
  for (int i = 0; i < 100; ++i) {
    const auto r = Invoke(c, "AddReceiptor@U" + std::to_string(i) + " <" + std::string(80, 'u') + std::to_string(i) + "@x.test>");
    if (r != 800) {
      EXPECT_EQ(r, 805);
      break;
    }
    ++added;
  }
  EXPECT_GT(added, 30);
  EXPECT_LE(services_->GetMailSettings().receiptorList.size(), 4096u);
  // A request whose reply could not repeat it is refused before it runs, and the link stays.
  const auto huge = Request(c, kReqInvoke, "TestEvent@" + std::string(kMaxTextBytes - 20, '1'));
  EXPECT_EQ(FinalResult(huge), 805);
  EXPECT_TRUE(Partials(huge).empty());
  EXPECT_EQ(FinalResult(Request(c, kReqListRights, "")), 800);
}

// A listing leaves out an entry that does not fit in a record, sends the rest and ends 801.
TEST_F(EventServicesTest, AListingLeavesOutAnEntryNoRecordCanCarry) {
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  doc_->Root()->SetTextProperty("Huge", std::string(kMaxTextBytes, 'x'));
  const auto got = Request(c, kReqListRights, "");
  EXPECT_EQ(FinalResult(got), 801);
  const auto entries = Partials(got);
  EXPECT_FALSE(entries.empty());
  for (const auto& e : entries) EXPECT_NE(e.rfind("Huge@", 0), 0u);
  EXPECT_NE(std::find(entries.begin(), entries.end(), "Users@o--@12"), entries.end());
}

// A mail setting the store cannot take is answered 801, and the settings stored before stay, in the
// profile and as the next request sees them.
TEST_F(EventServicesTest, AMailSettingThatCannotBeStoredIsNotReportedAsSet) {
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  ASSERT_EQ(FinalResult(Request(c, kReqSetProperty, "SMTPServer@old.test")), 800);
  ASSERT_EQ(Invoke(c, "AddReceiptor@ann@x.test"), 805);
  ASSERT_EQ(Invoke(c, "AddReceiptor@Ann <ann@x.test>"), 800);
  {
    plat::testing::HeldHive busy(plat::reg::Hive::LocalMachine);
    ASSERT_TRUE(busy.held());
    EXPECT_EQ(FinalResult(Request(c, kReqSetProperty, "SMTPServer@new.test")), 801);
    EXPECT_EQ(FinalResult(Request(c, kReqSetProperty, "bEmailEnable@1")), 801);
    EXPECT_EQ(FinalResult(Request(c, kReqSetProperty, "EmailID@Agent <agent@x.test>")), 801);
    EXPECT_EQ(Invoke(c, "AddReceiptor@Bob <bob@x.test>"), 801);
    EXPECT_EQ(Invoke(c, "DelReceiptor@Ann <ann@x.test>"), 801);
  }
  const auto mail = services_->GetMailSettings();
  EXPECT_EQ(mail.smtpServer, "old.test");
  EXPECT_FALSE(mail.enabled);
  EXPECT_EQ(mail.receiptorList, "\"Ann\" <ann@x.test>");
  EXPECT_EQ(agent::AgentProfile().getString(kMailSection, "SMTP"), "old.test");
  EXPECT_EQ(FinalResult(Request(c, kReqSetProperty, "SMTPServer@new.test")), 800);
  EXPECT_EQ(agent::AgentProfile().getString(kMailSection, "SMTP"), "new.test");
}

// A refused schedule answers 801 and changes nothing, in the agent and in its profile; a text that
// reads as "off" turns it off and stores "0".
TEST_F(EventServicesTest, SetVerifyScheduleRefusesOnlyValuesOutOfRange) {
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  auto shown = [&] {
    const auto got = Own(Request(c, kReqInvoke, "GetVerifySchedule@"), "GetVerifySchedule");
    return got.size() == 1 ? got[0] : std::string("?");
  };
  ASSERT_EQ(Invoke(c, "SetVerifySchedule@1@4@90"), 800);
  EXPECT_EQ(Invoke(c, "SetVerifySchedule@1@1@25@0"), 801);
  EXPECT_EQ(shown(), "GetVerifySchedule@0@1@4@90");
  EXPECT_EQ(agent::AgentProfile().getString("GetVerifySchedule", "GetVerifySchedule"), "1@4@90");
  EXPECT_EQ(Invoke(c, "SetVerifySchedule@1@9@1"), 800);
  EXPECT_EQ(shown(), "GetVerifySchedule@0@0");
  EXPECT_EQ(agent::AgentProfile().getString("GetVerifySchedule", "GetVerifySchedule"), "0");
}

TEST_F(EventServicesTest, ADueScheduleSynchronisesTheArraysOnce) {
  auto river = plat::com::makeObject<FakeRiver>();
  river->values["HasEvent"] = "0";
  auto* folder = AttachFake("MV_RAID", river);
  folder->setValue("3");  // an array folder
  auto& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  ASSERT_EQ(Invoke(c, "SetVerifySchedule@1@4@2"), 800);
  const auto got = Own(Request(c, kReqInvoke, "GetVerifySchedule@"), "GetVerifySchedule");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "GetVerifySchedule@0@1@4@2");
  int syncs = 0;
  for (int second = 1; second <= 300; ++second) {
    clock_.advanceSeconds(1);
    doc_->OnTick();
    syncs = static_cast<int>(std::count(river->invoked.begin(), river->invoked.end(), "SyncArray@512"));
    if (second == 119) {
      EXPECT_EQ(syncs, 0);
    }
    if (second == 120) {
      EXPECT_EQ(syncs, 1);
    }
  }
  EXPECT_EQ(syncs, 2);
}

}  // namespace
}  // namespace kelm::events
