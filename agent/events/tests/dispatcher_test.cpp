#include <gtest/gtest.h>

#include <fstream>

#include "agent/events/event_dispatcher.h"
#include "agent/events/notice_list.h"
#include "agent/events/tests/local_time.h"
#include "agent/events/tests/syslog_sink.h"
#include "platform/registry/registry.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/result_values.h"
#include "platform/testing/temp_root.h"

namespace kelm::events {
namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(profile.writeString(kLogEventSection, kEmailNoticeKey, "2@513@514"));
    ASSERT_TRUE(profile.writeString(kLogEventSection, kReportNoticeKey, "3@513@515@527"));
    dispatcher.setNotifier([this](std::int32_t code, const std::string& text) {
      EXPECT_EQ(code, 8195);
      forwarded.push_back(text);
    });
  }
  std::vector<std::string> logged(const std::string& folder, bool forwards = true) {
    std::vector<std::string> out;
    std::int32_t pos = 0, cookie = 0;
    auto c = dispatcher.OpenEventCursor(folder, pos, cookie, forwards);
    std::string r;
    while (c && EventDispatcher::ReadNextEvent(*c, r)) out.push_back(r);
    return out;
  }

  testing::ZoneScope zone;
  plat::testing::TempRoot root;
  plat::reg::Profile profile{"Velkari Technology Inc.", "Message Agent"};
  plat::ManualClock clock{testing::localInstant("2027-01-10 10:00:00")};
  EventDispatcher dispatcher{profile, nullptr, clock};
  std::vector<std::string> forwarded;
};

TEST_F(DispatcherTest, ForwardsListedEventsAndLogsEveryEventEvenWhenProtectionHoldsItBack) {
  struct Case {
    const char* record;
    bool forwarded;
  };
  const Case cases[] = {
      {"513@994730139@1@Array@critical", true},
      {"515@994730140@3@Array@rebuilt", true},
      {"516@994730141@3@Array@not in the list", false},
      {"513@994730142@1@Array@again, within the hour", false},  // held back by protection
      {"527@994730143@1@Disk@disk 1", true},
      {"527@994730144@1@Disk@disk 2", true},  // a new text of 527 passes
      {"527@994730145@1@Disk@disk 2", false},
      {"1@2", false},  // not a record: dropped
  };
  for (const Case& c : cases) {
    forwarded.clear();
    dispatcher.DispatchEvent(c.record, "\\MV_RAID", "yes");
    EXPECT_EQ(forwarded.size(), c.forwarded ? 1u : 0u) << c.record;
    if (c.forwarded) {
      EXPECT_EQ(forwarded[0], std::string("\\MV_RAID@") + c.record);
    }
  }
  const auto file = logged("\\MV_RAID");
  ASSERT_EQ(file.size(), 7u);
  EXPECT_EQ(file[3], "513@994730142@1@Array@again, within the hour");
  EXPECT_EQ(logged("\\MV_RAID", false).front(), "527@994730145@1@Disk@disk 2");
  EXPECT_TRUE(std::filesystem::exists(root.dir() / "var/log/kelm/MV_RAID/MV_RAID.log"));
}

TEST_F(DispatcherTest, TheRootFolderLogsIntoDotLogAndForwardsWithABackslash) {
  ASSERT_TRUE(profile.writeInt(kProtectionSection, kProtectionEnableKey, 0));
  dispatcher.DispatchEvent("523@994730139@testing@AGENTTESTING", "\\", "no");
  EXPECT_TRUE(std::filesystem::exists(root.dir() / "var/log/kelm/.log"));
  EXPECT_EQ(logged("\\"), (std::vector<std::string>{"523@994730139@0@@AGENTTESTING"}));
  ASSERT_TRUE(profile.writeString(kLogEventSection, kReportNoticeKey, "1@523"));
  dispatcher.DispatchEvent("523@994730139@testing@AGENTTESTING", "\\", "no");
  EXPECT_EQ(forwarded, (std::vector<std::string>{"\\@523@994730139@0@@AGENTTESTING"}));
  EXPECT_EQ(dispatcher.ClearEventLog("\\"), 1);
  EXPECT_EQ(dispatcher.ClearEventLog("\\"), 0);
  EXPECT_TRUE(logged("\\").empty());
}

// An event its log file does not take (here the folder's directory is a file) is said, not lost
// without a word; the other folders still log.
TEST_F(DispatcherTest, AnEventTheLogFileRefusesIsReported) {
  std::vector<std::string> said;
  EventDispatcher::Options options;
  options.log = [&](const std::string& text) { said.push_back(text); };
  EventDispatcher reporting{profile, nullptr, clock, options};
  const auto logRoot = root.dir() / "var/log/kelm";
  std::filesystem::create_directories(logRoot);
  { std::ofstream blocker(logRoot / "Blocked"); }
  reporting.DispatchEvent("523@994730139@3@Array@blocked", "\\Blocked", "no");
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("event 523 was not written to its log file"), std::string::npos) << said[0];
  EXPECT_NE(said[0].find("Blocked"), std::string::npos) << said[0];
  reporting.DispatchEvent("523@994730139@3@Array@fine", "\\MV_RAID", "no");
  EXPECT_EQ(said.size(), 1u);
}

TEST_F(DispatcherTest, NoticeListsAreStoredOnlyWhenTheyParse) {
  std::string text;
  for (const char* refused : {"25@256", "2@256", "1@600"}) {
    EXPECT_EQ(dispatcher.SetEmailNoticeList(refused).code(), EINVAL) << refused;
    EXPECT_EQ(dispatcher.SetReportNoticeList(refused).code(), EINVAL) << refused;
  }
  dispatcher.GetEmailNoticeList(text);
  EXPECT_EQ(text, "2@513@514");
  EXPECT_TRUE(dispatcher.SetEmailNoticeList(kAllNoticeList));
  dispatcher.GetEmailNoticeList(text);
  EXPECT_EQ(text, kAllNoticeList);
  EXPECT_TRUE(dispatcher.SetReportNoticeList("0"));
  dispatcher.DispatchEvent("513@1@1@t@x", "\\MV_RAID", "yes");
  EXPECT_TRUE(forwarded.empty());
}

TEST_F(DispatcherTest, MailWithoutALoopFailsAsEvent1299) {
  ASSERT_TRUE(profile.writeInt(kMailSection, "EnableEmail", 1));
  ASSERT_TRUE(profile.writeString(kMailSection, "SMTP", "127.0.0.1"));
  ASSERT_TRUE(profile.writeInt(kMailSection, "NumOfReceiptor", 1));
  ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-0", "<a@x.test>"));
  dispatcher.DispatchEvent("513@994730139@1@Array@critical", "\\MV_RAID", "yes");
  const auto file = logged("\\MV_RAID");
  ASSERT_EQ(file.size(), 2u);
  EXPECT_EQ(file[0], "1299@" + std::to_string(clock.wallSeconds()) + "@1@EMail Error@Unknown Error.");
  // With the switch off nothing is mailed.
  ASSERT_TRUE(profile.writeInt(kMailSection, "EnableEmail", 0));
  dispatcher.DispatchEvent("514@994730139@1@Array@critical", "\\MV_RAID", "yes");
  EXPECT_EQ(logged("\\MV_RAID").size(), 3u);
}

TEST_F(DispatcherTest, SystemLogDatagramsOfEventsAndServiceMessages) {
  testing::SyslogSink sink(root.dir() / "syslog.sock");
  ASSERT_TRUE(sink.ok());
  dispatcher.DispatchEvent("512@994730139@1@Array@Array 0 failed", "\\MV_RAID", "yes");
  EXPECT_TRUE(sink.take().empty()) << "written only when NTEventLog is set";

  ASSERT_TRUE(profile.writeInt(kLogEventSection, "NTEventLog", 1));
  struct Case {
    const char* record;
    const char* priority;  // facility daemon (3) * 8 + severity
    const char* msgId;
    const char* text;
  };
  const Case cases[] = {
      {"512@994730139@1@Array@Array 0 failed\r\nnext line", "<27>1 ", " C0000200 ", "Array 0 failed  next line"},
      {"513@994730139@2@Array@Array 0 is critical", "<28>1 ", " 80000201 ", "Array 0 is critical"},
      {"523@994730139@3@Array@Verify done", "<30>1 ", " 4000020B ", "Verify done"},
      {"530@994730139@3@Array@held back, still logged", "<30>1 ", " C0000000 ", "held back, still logged"},
      {"530@994730139@3@Array@held back, still logged", "<30>1 ", " C0000000 ", "held back, still logged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    dispatcher.DispatchEvent(c.record, "\\MV_RAID", "yes");
    const auto got = sink.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].rfind(c.priority, 0), 0u) << got[0];
    EXPECT_NE(got[0].find(" Velkari_Array_Management "), std::string::npos) << got[0];
    EXPECT_NE(got[0].find(c.msgId), std::string::npos) << got[0];
    EXPECT_EQ(got[0].substr(got[0].size() - std::strlen(c.text)), c.text);
  }
  dispatcher.reportServiceStarted();
  dispatcher.reportServiceStopped();
  const auto service = sink.take();
  ASSERT_EQ(service.size(), 2u);
  EXPECT_NE(service[0].find(" 40001009 - Velkari Array Management Service Started."), std::string::npos) << service[0];
  EXPECT_NE(service[1].find(" 4000100F - Velkari Array Management Service Stopped."), std::string::npos) << service[1];
}

TEST_F(DispatcherTest, TheEventSourceIsRegistered) {
  dispatcher.RegisterAgentEventSource();
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kEventSourceKey);
  ASSERT_TRUE(key);
  EXPECT_EQ(plat::testing::valueOf(key->getDword("TypesSupported")), 7u);
  EXPECT_FALSE(key->getString("EventMessageFile").valueOr("").empty());
}

}  // namespace
}  // namespace kelm::events
