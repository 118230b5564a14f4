#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "agent/events/event_dispatcher.h"
#include "agent/events/mail_sender.h"
#include "agent/events/notice_list.h"
#include "agent/events/smtp_client.h"
#include "agent/events/tests/local_time.h"
#include "agent/events/tests/mail_server_process.h"
#include "platform/testing/temp_root.h"
#include "platform/loop/socket.h"
#include "platform/testing/manual_clock.h"

namespace kelm::events {
namespace {

using namespace std::chrono_literals;

// Runs the loop until pred holds; bounded in real time, as real sockets are involved.
template <class Pred>
bool runUntil(plat::EventLoop& loop, Pred pred, std::chrono::seconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    loop.runOnce(20);
  }
  return true;
}

TEST(MailText, DotStuffingAddressesAndDate) {
  struct Stuff {
    const char* in;
    const char* out;
  };
  for (const Stuff& c : {Stuff{"plain", "plain"}, Stuff{".x", "..x"}, Stuff{"a\n.\nb", "a\r\n..\r\nb"},
                         Stuff{"a\r\n.b\r.c", "a\r\n..b\r\n..c"}, Stuff{"a.b\n..", "a.b\r\n..."}})
    EXPECT_EQ(dotStuff(c.in), c.out) << c.in;
  EXPECT_EQ(dotStuff(std::string("a\0b", 3)), "ab");

  EXPECT_EQ(addressPart("\"Ann\" <ann@x.test>"), "ann@x.test");
  EXPECT_EQ(addressPart("ann@x.test"), "");
  EXPECT_EQ(addressPart("<ann@x.test"), "");
  EXPECT_EQ(addressPart("a <b> <c>"), "b");

  testing::ZoneScope zone;
  EXPECT_EQ(mailDate(testing::localInstant("1980-01-02 02:03:55")), "Wed Jan 02 02:03:55 1980");
  EXPECT_EQ(mailDate(testing::localInstant("2027-11-30 23:00:00")), "Tue Nov 30 23:00:00 2027");
}

TEST(MailAddress, ParseMailAddressTable) {
  struct Case {
    const char* in;
    int result;
    const char* out;
  };
  const Case cases[] = {
      {"  Ann Smith   <ann@x.test>  ", 1, "\"Ann Smith\" <ann@x.test>"},
      {"\"Ann\" <  ann@x.test >", 1, "\"Ann\" <ann@x.test>"},
      {"x \"Ann\" y <ann@x.test>", 1, "\"Ann\" <ann@x.test>"},
      {"<ann@x.test>", 1, "\"\" <ann@x.test>"},
      {"  ann@x.test ", 0, "ann@x.test"},
      {"Ann <ann@xtest>", 0, "Ann <ann@xtest>"},
      {"Ann <@x.test>", 0, "Ann <@x.test>"},
      {"Ann <.a@x>", 0, "Ann <.a@x>"},
      {"Ann <ann@x.test", 0, "Ann <ann@x.test"},
      {"Ann <>", 0, "Ann <>"},
      {"\"Ann <ann@x.test>", 0, "\"Ann <ann@x.test>"},
      {"Ann\r\nBcc: <ann@x.test>", 0, "Ann\r\nBcc: <ann@x.test>"},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    EXPECT_EQ(CMailSender::ParseMailAddress(text), c.result) << c.in;
    EXPECT_EQ(text, c.out) << c.in;
  }
}

class MailSettingsTest : public ::testing::Test {
 protected:
  plat::testing::TempRoot root;
  plat::reg::Profile profile{"Velkari Technology Inc.", "Message Agent"};
  MailSettingsStore store{profile};
};

TEST_F(MailSettingsTest, SettingsAreLoadedByTheFirstUserAndSavedByTheLast) {
  ASSERT_TRUE(profile.writeString(kMailSection, "SMTP", "mail.test"));
  ASSERT_TRUE(profile.writeInt(kMailSection, "NumOfReceiptor", 4));
  ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-0", "\"A\" <a@x.test>"));
  ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-2", "\"C\" <c@x.test>"));
  ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-3", "\"D\" <d@x.test>\r\nBcc: e@x.test"));
  {
    CMailSender outer(store, nullptr);
    std::string list;
    outer.GetReceiptorList(list);
    EXPECT_EQ(list, "\"A\" <a@x.test>,\"C\" <c@x.test>");  // empty and broken entries dropped
    {
      CMailSender inner(store, nullptr);
      EXPECT_EQ(inner.AddReceiptor("\"B\" <b@x.test>"), 1);
      EXPECT_EQ(inner.AddReceiptor("\"B\" <b@x.test>"), 0);
      EXPECT_EQ(inner.DelReceiptor("\"A\" <a@x.test>"), 1);
      EXPECT_EQ(inner.DelReceiptor("\"A\" <a@x.test>"), 0);
      EXPECT_EQ(inner.SetEmailId("\"Agent\" <agent@x.test>"), 1);
    }
    EXPECT_EQ(profile.getString(kMailSection, "Receiptor-0"), "\"A\" <a@x.test>");  // not saved yet
  }
  EXPECT_EQ(profile.getInt(kMailSection, "NumOfReceiptor", 0), 2);
  EXPECT_EQ(profile.getString(kMailSection, "Receiptor-0"), "\"C\" <c@x.test>");
  EXPECT_EQ(profile.getString(kMailSection, "Receiptor-1"), "\"B\" <b@x.test>");
  EXPECT_EQ(profile.getString(kMailSection, "Receiptor-2"), "");
  EXPECT_EQ(profile.getString(kMailSection, "EmailID"), "\"Agent\" <agent@x.test>");
  EXPECT_EQ(profile.getString(kMailSection, "SMTP"), "mail.test");
  EXPECT_FALSE(store.loaded());
}

// A save the store refuses (here a text over its size limit) leaves the settings saved before, not
// an emptied section with some entries back.
TEST_F(MailSettingsTest, AFailedSaveKeepsTheSettingsSavedBefore) {
  ASSERT_TRUE(profile.writeString(kMailSection, "SMTP", "mail.test"));
  ASSERT_TRUE(profile.writeInt(kMailSection, "NumOfReceiptor", 1));
  ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-0", "<a@x.test>"));
  store.LoadMailSettings();
  store.settings().receiptors = {"<b@x.test>"};
  store.settings().emailId = std::string(plat::reg::kMaxDataSize + 1, 'x');
  EXPECT_FALSE(store.SaveMailSettings());
  EXPECT_EQ(profile.getString(kMailSection, "SMTP"), "mail.test");
  EXPECT_EQ(profile.getString(kMailSection, "Receiptor-0"), "<a@x.test>");
  EXPECT_EQ(profile.getInt(kMailSection, "NumOfReceiptor", 0), 1);
}

TEST_F(MailSettingsTest, LineBreaksAndNulAreRefusedInEverySetting) {
  CMailSender sender(store, nullptr);
  for (std::string bad : {std::string("mail.test\r\nRCPT TO:<x@y.z>"), std::string("a\nb"), std::string("a\rb"),
                          std::string("a\0b", 3)}) {
    EXPECT_EQ(sender.SetSmtpServer(bad), 0);
    EXPECT_EQ(sender.SetEmailId(bad), 0);
    EXPECT_EQ(sender.AddReceiptor(bad), 0);
  }
  std::string s;
  EXPECT_EQ(sender.GetSmtpServer(s), 0);
  EXPECT_EQ(s, "");
  sender.GetReceiptorList(s);
  EXPECT_EQ(s, "");
}

TEST_F(MailSettingsTest, NothingToSendSucceedsWithoutConnecting) {
  CMailSender sender(store, nullptr);
  int calls = 0;
  sender.SendMail("s", "b", [&](plat::Result<void> sent) {
    ++calls;
    EXPECT_TRUE(sent.ok()) << sent.message();
  });
  EXPECT_EQ(calls, 1);
}

// A scripted SMTP server on the test's own loop: the replies it gives, in order, and the lines it got.
class ScriptedServer {
 public:
  // A '|' in a reply splits it into writes made on different turns of the loop.
  ScriptedServer(plat::EventLoop& loop, std::vector<std::string> replies) : loop_(loop), replies_(std::move(replies)) {
    listener_ = std::move(*plat::TcpListener::listen(loop, "127.0.0.1", 0));
    listener_->onAccept([this](std::unique_ptr<plat::TcpStream> s) {
      conn_ = std::move(s);
      conn_->onData([this](std::string_view b) { received(b); });
      conn_->onClosed([](const std::string&) {});
      next();
    });
  }
  std::uint16_t port() const { return listener_->port(); }
  std::vector<std::string> lines;

 private:
  void next() {
    if (step_ < replies_.size()) writeChunks(replies_[step_++]);
  }
  void writeChunks(const std::string& chunks) {
    const std::size_t bar = chunks.find('|');
    EXPECT_TRUE(conn_->write(chunks.substr(0, bar)));
    if (bar != std::string::npos) loop_.post([this, rest = chunks.substr(bar + 1)] { writeChunks(rest); });
  }
  void received(std::string_view b) {
    buf_.append(b);
    std::size_t eol;
    while ((eol = buf_.find("\r\n")) != std::string::npos) {
      const std::string line = buf_.substr(0, eol);
      buf_.erase(0, eol + 2);
      lines.push_back(line);
      if (inData_) {
        if (line == ".") inData_ = false, next();
        continue;
      }
      if (line == "DATA") inData_ = true;
      next();
    }
  }
  plat::EventLoop& loop_;
  std::vector<std::string> replies_;
  std::size_t step_ = 0;
  bool inData_ = false;
  std::string buf_;
  std::unique_ptr<plat::TcpListener> listener_;
  std::unique_ptr<plat::TcpStream> conn_;
};

class SmtpClientTest : public ::testing::Test {
 protected:
  testing::ZoneScope zone;
  plat::ManualClock clock{testing::localInstant("1980-01-02 02:03:55")};
  std::unique_ptr<plat::EventLoop> loop = std::move(*plat::makeEpollLoop(clock));
  SmtpClient client{*loop, clock};
  HostIdentity me = lookUpHostIdentity();
};

// A name look-up that hangs fails its own mail after the connect time-out, and the mails behind it
// go out through a helper of their own.
TEST(SmtpLookUp, AHangingLookUpFailsItsMailInTimeAndHoldsUpNoOther) {
  plat::ManualClock clock;
  auto loop = std::move(plat::makeEpollLoop(clock).value());
  auto listener = std::move(plat::TcpListener::listen(*loop, "127.0.0.1", 0).value());
  listener->onAccept([](std::unique_ptr<plat::TcpStream>) {});  // closes at once
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  SmtpOptions o;
  o.connectTimeout = 5000ms;
  o.lookUp = [&](const std::string& host) -> std::optional<std::string> {
    if (host != "hang.test") return "127.0.0.1";
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return release; });
    return std::nullopt;
  };
  {
    SmtpClient client(*loop, clock, o);
    const std::string port = ":" + std::to_string(listener->port());
    std::vector<std::string> outcomes;
    for (const char* host : {"hang.test", "other.test"}) {
      MailJob job;
      job.server = host + port;
      job.recipients = {"<a@x.test>"};
      client.send(job, [&outcomes, host](plat::Result<void> r) { outcomes.push_back(std::string(host) + ": " + r.message()); });
    }
    for (int i = 0; i < 20; ++i) loop->runOnce(2);
    EXPECT_TRUE(outcomes.empty());
    clock.advanceMs(5000);
    loop->runOnce(0);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0], "hang.test: Cannot Connect to hang.test" + port);
    for (int i = 0; i < 2000 && outcomes.size() < 2; ++i) loop->runOnce(5);
    ASSERT_EQ(outcomes.size(), 2u) << "the next mail waited behind the hanging look-up";
    EXPECT_EQ(outcomes[1].rfind("other.test: ", 0), 0u);
    {
      std::lock_guard<std::mutex> lock(m);
      release = true;
    }
    cv.notify_all();
  }
}

TEST_F(SmtpClientTest, MultiLineRepliesSplitAcrossReadsAndTheCommandsSent) {
  ScriptedServer server(*loop, {"220-mail.test greets you\r\n220-more| text\r\n|220 ready\r\n",
                                "250-hello\r\n250 ok\r\n", "250 sender ok\r\n", "250 ok\r\n", "251 forwarded\r\n",
                                "354 go ahead\r\n", "250 queued\r\n", "221 bye\r\n"});
  MailJob job{"127.0.0.1:" + std::to_string(server.port()),
              "",
              {"\"A\" <a@x.test>", "b@x.test <b@x.test>"},
              "Sorventic",
              "Warning-Disk\r\nBcc: x@y.z",
              ".a\n.\nb"};
  std::optional<std::pair<bool, std::string>> result;
  client.send(job, [&](plat::Result<void> sent) { result.emplace(sent.ok(), sent.message()); });
  ASSERT_TRUE(runUntil(*loop, [&] { return result.has_value(); }));
  EXPECT_TRUE(result->first) << result->second;
  const std::vector<std::string> head(server.lines.begin(), server.lines.begin() + 5);
  EXPECT_EQ(head, (std::vector<std::string>{"HELO " + me.hostName, "MAIL FROM:<Sorventic@" + me.hostName + ">",
                                            "RCPT TO:<a@x.test>", "RCPT TO:<b@x.test>", "DATA"}));
  const std::vector<std::string> data(server.lines.begin() + 5, server.lines.end());
  EXPECT_EQ(data,
            (std::vector<std::string>{
                "From: \"Sorventic at IP" + me.address + "\"<Sorventic@" + me.hostName + ">",
                "To: \"A\" <a@x.test>,b@x.test <b@x.test>",
                "Subject: Warning-Disk  Bcc: x@y.z",
                "Date: Wed Jan 02 02:03:55 1980",
                "",
                "Message from Sorventic at " + me.computerName + " (" + me.hostName + "), IP=<" + me.address + ">",
                "..a",
                "..",
                "b",
                ".",
                "QUIT",
            }));
}

TEST_F(SmtpClientTest, AnUnexpectedReplyEndsTheExchangeWithItsText) {
  ScriptedServer server(*loop, {"220 hi\r\n", "250 ok\r\n", "452-mailbox\r\n452 full\r\n"});
  std::optional<std::string> error;
  client.send(
      MailJob{"127.0.0.1:" + std::to_string(server.port()), "\"Me\" <me@x.test>", {"<a@x.test>"}, "f", "s", "b"},
      [&](plat::Result<void> sent) { error = sent ? "ok" : sent.message(); });
  ASSERT_TRUE(runUntil(*loop, [&] { return error.has_value(); }));
  EXPECT_EQ(*error, "452-mailbox 452 full");
  EXPECT_EQ(server.lines.back(), "MAIL FROM:<me@x.test>");
}

TEST_F(SmtpClientTest, MailsKeepTheirOrderAndTheQueueIsBounded) {
  SmtpOptions two;
  two.maxQueued = 2;
  SmtpClient small(*loop, clock, two);
  std::vector<std::string> outcomes;
  for (int i = 0; i < 3; ++i)
    small.send(MailJob{"127.0.0.1:1", "", {"<a@x.test>"}, "f", "s", "b"},
               [&, i](plat::Result<void> sent) { outcomes.push_back(std::to_string(i) + ":" + sent.message()); });
  EXPECT_EQ(outcomes, (std::vector<std::string>{"2:Too many mails are waiting to be sent"}));
  ASSERT_TRUE(runUntil(*loop, [&] { return outcomes.size() == 3; }));
  EXPECT_EQ(outcomes[1], "0:Cannot Connect to 127.0.0.1:1");
  EXPECT_EQ(outcomes[2], "1:Cannot Connect to 127.0.0.1:1");
}

// The agent's road of a mailed event, against a real mail server.
class MailDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(profile.writeString(kLogEventSection, kEmailNoticeKey, "2@513@514"));
    ASSERT_TRUE(profile.writeInt(kProtectionSection, kProtectionEnableKey, 0));
    ASSERT_TRUE(profile.writeInt(kMailSection, "EnableEmail", 1));
    ASSERT_TRUE(profile.writeString(kMailSection, "EmailID", "\"Agent\" <agent@x.test>"));
    ASSERT_TRUE(profile.writeInt(kMailSection, "NumOfReceiptor", 3));
    ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-0", "\"A\" <a@x.test>"));
    ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-1", "\"B\" <b@x.test>"));
    ASSERT_TRUE(profile.writeString(kMailSection, "Receiptor-2", "\"C\" <c@y.test>"));
  }
  void useServer(const std::string& address) { ASSERT_TRUE(profile.writeString(kMailSection, "SMTP", address)); }
  std::vector<EventRecord> logged(const std::string& folder) {
    std::vector<EventRecord> out;
    std::int32_t pos = 0, cookie = 0;
    auto c = dispatcher->OpenEventCursor(folder, pos, cookie, true);
    EventRecord r;
    while (c && c->next(r)) out.push_back(r);
    return out;
  }

  testing::ZoneScope zone;
  plat::testing::TempRoot root;
  plat::reg::Profile profile{"Velkari Technology Inc.", "Message Agent"};
  plat::ManualClock clock{testing::localInstant("1980-01-02 02:03:55")};
  std::unique_ptr<plat::EventLoop> loop = std::move(*plat::makeEpollLoop(clock));
  std::unique_ptr<EventDispatcher> dispatcher = std::make_unique<EventDispatcher>(profile, loop.get(), clock);
};

TEST_F(MailDispatchTest, OneMailPerListedEventToEveryRecipient) {
  testing::MailServerProcess server("record", root.dir() / "mails");
  ASSERT_NE(server.port(), 0) << server.error();
  useServer(server.address());
  dispatcher->DispatchEvent("513@994730139@1@Array@Array 0 is critical\n.hidden\n.\nend", "\\MV_RAID", "yes");
  dispatcher->DispatchEvent("600@994730139@1@Other@not listed", "\\MV_RAID", "yes");
  dispatcher->DispatchEvent("514@994730140@2@Disk@Disk 3 failed", "\\SC_RAID", "Maybe");
  ASSERT_TRUE(runUntil(*loop, [&] { return server.mails().size() == 2 && dispatcher->smtpClient()->pending() == 0; }));

  const HostIdentity me = lookUpHostIdentity();
  const auto mails = server.mails();
  for (const auto& m : mails) {
    EXPECT_EQ(m.helo, me.hostName);
    EXPECT_EQ(m.from, "agent@x.test");
    EXPECT_EQ(m.to, (std::vector<std::string>{"a@x.test", "b@x.test", "c@y.test"}));
  }
  const std::string head =
      "From: \"Agent\" <agent@x.test>\r\nTo: \"A\" <a@x.test>,\"B\" <b@x.test>,\"C\" <c@y.test>\r\n";
  const std::string date = "Date: Wed Jan 02 02:03:55 1980\r\n\r\n";
  const auto from = [&](const char* family) {
    return "Message from " + std::string(family) + " at " + me.computerName + " (" + me.hostName + "), IP=<" +
           me.address + ">\r\n";
  };
  EXPECT_EQ(mails[0].data, head + "Subject: Error-Array\r\n" + date + from("Marovelt") +
                               "07/10/01 03:55:39 Array 0 is critical\r\n.hidden\r\n.\r\nend\r\n");
  EXPECT_EQ(mails[1].data,
            head + "Subject: Warning-Disk\r\n" + date + from("Sorventic") + "07/10/01 03:55:40 Disk 3 failed\r\n");
  EXPECT_EQ(logged("\\MV_RAID").size(), 2u);  // no 1299
}

TEST_F(MailDispatchTest, ARefusedOrUndeliverableMailIsLoggedAs1299InTheSameFolder) {
  testing::MailServerProcess refuseRcpt("refuse-rcpt", root.dir() / "mails");
  testing::MailServerProcess refuseData("refuse-data", root.dir() / "mails");
  // A port nobody listens on: taken from a listener that is closed again.
  std::uint16_t downPort = 0;
  {
    auto l = plat::TcpListener::listen(*loop, "127.0.0.1", 0);
    ASSERT_TRUE(l.ok());
    downPort = (*l)->port();
  }
  ASSERT_NE(refuseRcpt.port(), 0) << refuseRcpt.error();
  ASSERT_NE(refuseData.port(), 0) << refuseData.error();
  struct Case {
    std::string server;
    std::string text;
  };
  const Case cases[] = {
      {refuseRcpt.address(), "550 5.1.1 No such user here."},
      {refuseData.address(), "554 5.6.0 Message refused."},
      {"127.0.0.1:" + std::to_string(downPort), "Cannot Connect to 127.0.0.1:" + std::to_string(downPort) + "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    dispatcher->ClearEventLog("\\MV_RAID");
    useServer(c.server);
    clock.advanceSeconds(10);
    dispatcher->DispatchEvent("513@994730139@1@Array@critical", "\\MV_RAID", "yes");
    ASSERT_TRUE(runUntil(*loop, [&] { return logged("\\MV_RAID").size() == 2; }));
    const auto records = logged("\\MV_RAID");
    EXPECT_EQ(records[0].code, 513);
    EXPECT_EQ(records[1],
              (EventRecord{1299, static_cast<std::int32_t>(clock.wallSeconds()), 1, "EMail Error", c.text}));
  }
}

TEST_F(MailDispatchTest, TheWorkerKeepsAnsweringWhileTheMailServerHangs) {
  testing::MailServerProcess server("hang", root.dir() / "mails");
  ASSERT_NE(server.port(), 0) << server.error();
  useServer(server.address());
  // A client of the worker's loop: an echo service standing in for the agent's clients.
  auto listener = std::move(*plat::TcpListener::listen(*loop, "127.0.0.1", 0));
  std::vector<std::unique_ptr<plat::TcpStream>> conns;
  listener->onAccept([&](std::unique_ptr<plat::TcpStream> s) {
    plat::TcpStream* raw = s.get();
    s->onData([raw](std::string_view b) { EXPECT_TRUE(raw->write(b)); });
    s->onClosed([](const std::string&) {});
    conns.push_back(std::move(s));
  });

  dispatcher->DispatchEvent("513@994730139@1@Array@critical", "\\MV_RAID", "yes");
  // The mail is under way: connected, waiting for a greeting that never comes.
  ASSERT_TRUE(runUntil(*loop, [&] { return dispatcher->smtpClient()->connected(); }));
  EXPECT_EQ(logged("\\MV_RAID").size(), 1u);

  std::string echoed;
  auto client = std::move(*plat::TcpStream::connect(*loop, "127.0.0.1", listener->port(), 1000ms));
  client->onData([&](std::string_view b) { echoed.append(b); });
  client->onClosed([](const std::string&) {});
  ASSERT_TRUE(client->write("ping"));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(runUntil(
      *loop, [&] { return echoed == "ping"; }, 1s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(dispatcher->smtpClient()->pending(), 1u);
  EXPECT_EQ(logged("\\MV_RAID").size(), 1u);

  // The reply time-out (on the loop's clock) ends the exchange and logs the failure.
  clock.advanceSeconds(61);
  ASSERT_TRUE(runUntil(*loop, [&] { return logged("\\MV_RAID").size() == 2; }));
  EXPECT_EQ(logged("\\MV_RAID")[1].text, "Time Out waiting for " + server.address() + ": Unknown Error.");
  EXPECT_EQ(dispatcher->smtpClient()->pending(), 0u);
}

}  // namespace
}  // namespace kelm::events
