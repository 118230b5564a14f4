// The agent's document with its event services and the real IDE-family component, against the
// simulated driver that kelmsim serves, in one private root. The document runs on a worker thread
// of its own on a manual clock that the test steps a second at a time, so the one-minute walk and
// the verify schedule need no real waiting; a TCP client, the mail server and the system log sink
// are real.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "agent/core/agent_names.h"
#include "agent/core/halvorn_doc.h"
#include "agent/events/event_log_file.h"
#include "agent/events/services/agent_event_services.h"
#include "agent/events/tests/mail_server_process.h"
#include "agent/events/tests/syslog_sink.h"
#include "platform/base/paths.h"
#include "tests/system/agent/agent_process.h"
#include "tests/system/agent/stepped_doc.h"
#include "tests/system/serial/sim_process.h"
#include "platform/testing/manual_clock.h"

namespace kelm::systest {
namespace {

template <class F>
bool eventually(F f, int timeoutMs = 10000) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return f();
}

class IdeEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A root of its own per test: the registry keeps its hive open by path.
    sim_ = std::make_unique<SimProcess>(
        bin_ ? bin_ : ".",
        std::string("kelm-events-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string out;
    ASSERT_EQ(sim_->kelmsim("start --stepped-clock", &out), 0) << out;
    ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("kelmregsvr").string(), "-s", AgentRoot::lib("libtirrow.so").string()}),
              0);
  }
  void TearDown() override {
    if (loop_) {
      loop_->post([this] { doc_.reset(); });
      loop_->quit();
    }
    if (worker_.joinable()) worker_.join();
  }
  // The document on its own thread and loop, on the test's clock.
  void StartAgent() {
    std::promise<void> ready;
    worker_ = std::thread([this, &ready] {
      loop_ = std::move(*plat::makeEpollLoop(clock_));
      agent::DocOptions o;
      o.loop = loop_.get();
      o.clock = &clock_;
      o.hostName = "testhost";
      o.localChannel = false;
      o.tcpPort = 0;
      o.serverAnnouncePort = 0;
      o.makeEvents = [](agent::CHalvornDoc& d) { return std::make_unique<events::CAgentEventServices>(d); };
      doc_ = std::make_unique<agent::CHalvornDoc>(o);
      EXPECT_EQ(doc_->Accounts().InitUserStore("admin", "secret"), plat::S_OK);
      doc_->StartListening();
      port_ = doc_->TcpPort();
      ready.set_value();
      (void)loop_->run();
      doc_.reset();
    });
    ready.get_future().wait();
  }
  // One second of the agent's life: the clock moves, the component's timers and the document's
  // tick run on the worker.
  void Step(int seconds = 1) { StepDocument(clock_, *loop_, *doc_, seconds); }
  std::string Status() {
    std::string out;
    sim_->kelmsim("status", &out);
    return out;
  }

  const char* bin_ = std::getenv("KELM_TEST_BIN");
  std::unique_ptr<SimProcess> sim_;
  plat::ManualClock clock_{1800000000};
  std::unique_ptr<plat::EventLoop> loop_;
  std::unique_ptr<agent::CHalvornDoc> doc_;
  std::thread worker_;
  std::uint16_t port_ = 0;
};

TEST_F(IdeEventsTest, AFailedDiskIsLoggedReportedMailedAndForwarded) {
  events::testing::MailServerProcess mail("record", sim_->root() / "mails");
  ASSERT_NE(mail.port(), 0) << mail.error();
  events::testing::SyslogSink syslog(sim_->root() / "syslog.sock");
  ASSERT_TRUE(syslog.ok());
  const auto profile = agent::AgentProfile();
  ASSERT_TRUE(profile.writeString(
      "LogEvent", "EmailNotice",
      "22@256@257@258@512@513@523@514@515@516@524@521@522@517@518@519@520@525@526@527@528@529@530"));
  ASSERT_TRUE(profile.writeString(
      "LogEvent", "ReportNotice",
      "22@256@257@258@512@513@523@514@515@516@524@521@522@517@518@519@520@525@526@527@528@529@530"));
  ASSERT_TRUE(profile.writeInt("LogEvent", "NTEventLog", 1));
  ASSERT_TRUE(profile.writeString("E-Mail log", "SMTP", mail.address()));
  ASSERT_TRUE(profile.writeInt("E-Mail log", "EnableEmail", 1));
  ASSERT_TRUE(profile.writeInt("E-Mail log", "NumOfReceiptor", 2));
  ASSERT_TRUE(profile.writeString("E-Mail log", "Receiptor-0", "\"Ann\" <ann@x.test>"));
  ASSERT_TRUE(profile.writeString("E-Mail log", "Receiptor-1", "\"Bob\" <bob@y.test>"));
  StartAgent();
  ASSERT_NE(port_, 0);
  auto client = AgentClient::Tcp(port_);
  ASSERT_TRUE(client);
  ASSERT_EQ(client->Logon("admin", "secret"), 800);
  Step(2);
  client->notifications().clear();

  std::string out;
  ASSERT_EQ(sim_->kelmsim("fault disk-fail 1", &out), 0) << out;
  Step(62);  // the component notices at once; the agent reads its events on the next walk

  auto forwarded = client->WaitNotification(kNotifyEvent);
  ASSERT_TRUE(forwarded) << "no event forwarded";
  const std::string& text = forwarded->text;
  std::printf("forwarded: %s\n", text.c_str());
  const std::string folder = text.substr(0, text.find('@'));
  const auto record = events::parseEventRecord(text.substr(text.find('@') + 1));
  ASSERT_TRUE(record) << text;
  EXPECT_EQ(folder.rfind("\\MV_RAID", 0), 0u) << text;

  // The folder's log file holds it.
  std::int32_t pos = 0, cookie = 0;
  auto cursor = events::EventCursor::open(events::eventLogPath(plat::paths::logDir(), folder), pos, cookie, true);
  ASSERT_TRUE(cursor) << folder;
  std::vector<events::EventRecord> logged;
  events::EventRecord r;
  while (cursor->next(r)) logged.push_back(r);
  EXPECT_NE(std::find(logged.begin(), logged.end(), *record), logged.end());
  // The system log got it.
  const std::string datagram = syslog.waitFor(record->text, 10000);
  EXPECT_NE(datagram.find(" Velkari_Array_Management "), std::string::npos) << datagram;
  // The mail server got a mail for it, to both recipients.
  ASSERT_TRUE(eventually([&] {
    for (const auto& m : mail.mails())
      if (m.data.find(record->text) != std::string::npos) return true;
    return false;
  }));
  for (const auto& m : mail.mails()) {
    if (m.data.find(record->text) == std::string::npos) continue;
    EXPECT_EQ(m.to, (std::vector<std::string>{"ann@x.test", "bob@y.test"}));
    EXPECT_NE(m.data.find("Message from Marovelt at "), std::string::npos) << m.data;
  }
}

// A disk fails just before the agent's walk: in that one second the component's poll reads the
// driver's events (and no tables), and the walk decodes them, which re-reads the tables. The array
// must show its new status all the same, and keep it.
TEST_F(IdeEventsTest, AFailureDecodedInTheSameSecondAsThePollIsShown) {
  StartAgent();
  ASSERT_NE(port_, 0);
  auto client = AgentClient::Tcp(port_);
  ASSERT_TRUE(client);
  ASSERT_EQ(client->Logon("admin", "secret"), 800);
  for (const char* step : {"MV_RAID", "Ary1"}) ASSERT_EQ(client->Result(kReqChangeFolder, step), 800) << step;
  auto status = [&] {
    auto got = client->Request(kReqQuery, "Status");
    if (got.size() != 2) return std::string("<none>");
    const std::string& entry = got[0].text;  // name@type@value
    return entry.substr(entry.find('@', entry.find('@') + 1) + 1);
  };
  Step(61);  // the first walk ran on the first second; the next one runs on second 62
  EXPECT_EQ(status(), "0");
  std::string out;
  ASSERT_EQ(sim_->kelmsim("fault disk-fail 2", &out), 0) << out;
  Step(1);  // the poll reads the events, then the walk decodes them
  Step(3);
  EXPECT_EQ(status(), "-2147483647") << Status();  // critical
}

TEST_F(IdeEventsTest, TheScheduledVerifySynchronisesTheSimulatedArrays) {
  ASSERT_TRUE(agent::AgentProfile().writeString("GetVerifySchedule", "GetVerifySchedule", "1@4@1"));
  StartAgent();
  Step(59);
  EXPECT_EQ(Status().find("task: synchronise"), std::string::npos);
  Step(1);  // the minute check finds the run due; the walk asks the arrays to synchronise
  EXPECT_TRUE(eventually([&] { return Status().find("task: synchronise") != std::string::npos; })) << Status();
}

}  // namespace
}  // namespace kelm::systest
