// The road of an event through the real agent process: a logged-on TCP client sets the mail and
// notice settings, raises a test event, and the event reaches the folder's log file, the system log,
// the mail server and the client itself.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "agent/events/event_log_file.h"
#include "agent/events/tests/mail_server_process.h"
#include "agent/events/tests/syslog_sink.h"
#include "platform/base/paths.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;
using events::testing::MailServerProcess;
using events::testing::RecordedMail;
using events::testing::SyslogSink;

// Polls a condition that another process makes true; bounded.
template <class F>
bool eventually(F f, int timeoutMs = 10000) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return f();
}

class EventsSystemTest : public ::testing::Test {
 protected:
  EventsSystemTest() : root_({AgentRoot::lib("libkelmtestcomponent.so")}) {
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  }
  AgentRoot root_;
};

TEST_F(EventsSystemTest, AnEventIsLoggedReportedMailedAndForwarded) {
  MailServerProcess mail("record", root_.dir() / "mails");
  ASSERT_NE(mail.port(), 0) << mail.error();
  SyslogSink syslog(root_.dir() / "syslog.sock");
  ASSERT_TRUE(syslog.ok());
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = agent.Tcp();
  ASSERT_TRUE(c);
  ASSERT_EQ(c->Logon("admin", "secret"), 800);

  for (const std::string& set : {"SMTPServer@" + mail.address(), std::string("EmailID@Agent <agent@x.test>"),
                                 std::string("bEmailEnable@1"), std::string("NTEventLog@1")})
    ASSERT_EQ(c->Result(kReqSetProperty, set), 800) << set;
  for (const char* invoke : {"AddReceiptor@Ann <ann@x.test>", "AddReceiptor@Bob <bob@y.test>",
                             "SetEmailNoticeList@1@523", "SetReportNoticeList@2@256@523"})
    ASSERT_EQ(c->Result(kReqInvoke, invoke), 800) << invoke;
  c->notifications().clear();

  ASSERT_EQ(c->Result(kReqSetProperty, "TestEvent@523"), 800);
  // The forward to the client.
  auto forwarded = c->WaitNotification(kNotifyEvent);
  ASSERT_TRUE(forwarded);
  EXPECT_EQ(forwarded->text, "\\@523@994730139@0@@AGENTTESTING");
  // The root folder's log file.
  std::int32_t pos = 0, cookie = 0;
  auto cursor = events::EventCursor::open(root_.dir() / "var/log/kelm/.log", pos, cookie, false);
  ASSERT_TRUE(cursor);
  events::EventRecord r;
  ASSERT_TRUE(cursor->next(r));
  EXPECT_EQ(r, (events::EventRecord{523, 994730139, 0, "", "AGENTTESTING"}));
  // The system log.
  const std::string datagram = syslog.waitFor(" 4000020B ", 10000);
  EXPECT_NE(datagram.find(" Velkari_Array_Management "), std::string::npos) << datagram;
  EXPECT_EQ(datagram.substr(datagram.size() - 12), "AGENTTESTING");
  // The mail, to both recipients.
  ASSERT_TRUE(eventually([&] { return mail.mails().size() == 1; }));
  const RecordedMail m = mail.mails()[0];
  EXPECT_EQ(m.from, "agent@x.test");
  EXPECT_EQ(m.to, (std::vector<std::string>{"ann@x.test", "bob@y.test"}));
  EXPECT_NE(m.data.find("Subject: Unknown-\r\n"), std::string::npos) << m.data;
  EXPECT_NE(m.data.find(" AGENTTESTING\r\n"), std::string::npos) << m.data;
}

TEST_F(EventsSystemTest, TheAgentAnswersWhileTheMailServerHangs) {
  MailServerProcess mail("hang", root_.dir() / "mails");
  ASSERT_NE(mail.port(), 0) << mail.error();
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = agent.Tcp();
  ASSERT_TRUE(c);
  ASSERT_EQ(c->Logon("admin", "secret"), 800);
  ASSERT_EQ(c->Result(kReqSetProperty, "SMTPServer@" + mail.address()), 800);
  ASSERT_EQ(c->Result(kReqSetProperty, "bEmailEnable@1"), 800);
  ASSERT_EQ(c->Result(kReqInvoke, "AddReceiptor@Ann <ann@x.test>"), 800);
  ASSERT_EQ(c->Result(kReqInvoke, "SetEmailNoticeList@1@523"), 800);
  ASSERT_EQ(c->Result(kReqSetProperty, "TestEvent@523"), 800);
  // The mail hangs at the server; requests are still answered at once.
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c->List().empty(), false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
}

}  // namespace
}  // namespace kelm::systest
