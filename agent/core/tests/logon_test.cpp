// The logon grammar, the gate for clients that have not logged on, and rights with the
// local-only bit.
#include "agent/core/agent_names.h"
#include "agent/core/tests/agent_fixture.h"
#include "agent/crypto/logon_token.h"
#include "platform/registry/registry.h"

namespace kelm::agent::testing {
namespace {

using LogonTest = AgentTest;

TEST_F(LogonTest, LogonGrammar) {
  const std::string good = crypto::LogonText(1, 2, crypto::BuildLogonToken("admin", "secret"));
  const std::string wrong = crypto::LogonText(1, 2, crypto::BuildLogonToken("admin", "nope"));
  const std::string nobody = crypto::LogonText(1, 2, crypto::BuildLogonToken("ghost", "secret"));
  struct Case {
    const char* label;
    std::string text;
    std::int32_t result;
    bool logonPartial;
  } cases[] = {
      {"no blank", "logon", 803, false},
      {"blank first", " logon 1 2@x", 803, false},
      {"no '@'", "logon 1 2", 803, false},
      {"'@' first", "logon @abc", 803, false},
      {"empty token", "logon 1 2@", 803, false},
      {"undecodable token", "logon 1 2@!!!notbase64", 803, false},
      {"wrong password", wrong, 802, false},
      {"unknown user", nobody, 802, false},
      {"good", good, 800, true},
      {"good in capitals", "LOGON" + good.substr(5), 800, true},
      {"user without key", "user ", 803, false},
      {"user unknown key", "user 1234abcd", 802, false},
      {"logoff unknown key", "LOGOFF 1234abcd", 803, false},
      {"other word", "hello there", 800, false},
  };
  for (const Case& c : cases) {
    Client& cl = NewClient();
    auto got = Request(cl, kReqLogon, c.text);
    EXPECT_EQ(FinalResult(got), c.result) << c.label;
    auto partials = Partials(got);
    if (c.logonPartial) {
      ASSERT_EQ(partials.size(), 1u) << c.label;
      EXPECT_EQ(partials[0].size(), 14u) << c.label;  // "logon " and 8 hexadecimal digits
      EXPECT_EQ(partials[0].rfind("logon ", 0), 0u) << c.label;
    } else {
      EXPECT_TRUE(partials.empty()) << c.label;
    }
  }
}

TEST_F(LogonTest, KeysSelectAndEndLogons) {
  Client& a = NewClient();
  Client& b = NewClient();
  auto first = Partials(Request(a, kReqLogon, crypto::LogonText(1, 2, crypto::BuildLogonToken("admin", "secret"))));
  ASSERT_EQ(first.size(), 1u);
  const std::string key = first[0].substr(6);
  EXPECT_EQ(FinalResult(Request(a, kReqListRights, "")), 800);
  // Another connection's key is not this connection's: 802 and no current logon.
  EXPECT_EQ(FinalResult(Request(b, kReqLogon, "user " + key)), 802);
  EXPECT_EQ(FinalResult(Request(b, kReqListRights, "")), -1);
  EXPECT_EQ(FinalResult(Request(a, kReqLogon, "user " + key)), 800);
  EXPECT_EQ(FinalResult(Request(a, kReqLogon, "logoff " + key)), 800);
  auto after = Request(a, kReqListRights, "");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0], CMessage(kNotifyNotLoggedOn, after[0].id, kStatusNotify, "\\@"));
}

TEST_F(LogonTest, ARepeatedLogonHoldsTheAccountOnce) {
  accounts::AccountHandle held = 0;
  ASSERT_EQ(doc_->Accounts().OpenAccount("admin", "secret", held), plat::S_OK);
  Client& a = NewClient();
  const std::string text = crypto::LogonText(1, 2, crypto::BuildLogonToken("admin", "secret"));
  const auto first = Partials(Request(a, kReqLogon, text));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(Partials(Request(a, kReqLogon, text)), first) << "the same record";
  EXPECT_EQ(FinalResult(Request(a, kReqLogon, "logoff " + first[0].substr(6))), 800);
  doc_->Accounts().CloseAccount(held);
  EXPECT_FALSE(doc_->Accounts().IsOpenHandle(held)) << "logged off, nothing holds the account open";
}

TEST_F(LogonTest, GateForClientsThatHaveNotLoggedOn) {
  struct Case {
    std::int32_t code;
    const char* text;
    bool answered;
  } cases[] = {
      {kReqChangeFolder, "\\", true},  {kReqChangeFolder, "Users", false}, {kReqListRights, "", false},
      {kReqQuery, "name", true},       {kReqQuery, ".", true},             {kReqQuery, "TestEvent", false},
      {kReqInvoke, "AllEmailEvent@", false}, {kReqSetProperty, "TestEvent@1", false}, {kReqRefresh, "", false},
      {kReqLogon, "hello x", true},
  };
  Client& c = NewClient();
  for (const Case& k : cases) {
    auto got = Request(c, k.code, k.text);
    ASSERT_FALSE(got.empty()) << k.code << " " << k.text;
    if (k.answered) {
      EXPECT_EQ(got.back().status, kStatusFinal) << k.code << " " << k.text;
    } else {
      ASSERT_EQ(got.size(), 1u) << k.code << " " << k.text;
      EXPECT_EQ(got[0].code, kNotifyNotLoggedOn);
      EXPECT_EQ(got[0].status, kStatusNotify);
      EXPECT_EQ(got[0].text, "\\@");
    }
  }
  auto name = Request(c, kReqQuery, "name");
  ASSERT_EQ(name.size(), 2u);
  EXPECT_EQ(name[0].text.rfind("name@prw@", 0), 0u);
}

TEST_F(LogonTest, LocalOnlyMethodsNeedTheLocalToken) {
  accounts::AccountHandle admin = 0;
  ASSERT_EQ(doc_->Accounts().OpenAccount("admin", "secret", admin), plat::S_OK);
  ASSERT_EQ(doc_->Accounts().CreateAccount(admin, "op", "pw", 0x3C), plat::S_OK);
  doc_->Root()->AddMethodEntry("LocalOnly", static_cast<std::int32_t>(0x0800003C));
  auto [w1, w2] = LocalWords();
  // The token the agent keeps is the one it published.
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kAgentKey);
  ASSERT_TRUE(key);
  auto published = key->getBinary(kLocationValue);
  ASSERT_TRUE(published);
  const auto token = *doc_->LocalToken();
  EXPECT_EQ(std::vector<std::uint8_t>(token.begin(), token.end()), *published);

  struct Case {
    const char* label;
    std::uint32_t w1, w2;
    bool listed;
    std::int32_t invoke;
  } cases[] = {{"local", w1, w2, true, 803}, {"other words", w1 + 1, w2, false, 802}, {"no words", 0, 0, false, 802}};
  for (const Case& k : cases) {
    Client& c = NewClient();
    ASSERT_EQ(Logon(c, "op", "pw", k.w1, k.w2), 800) << k.label;
    auto listing = Partials(Request(c, kReqListRights, ""));
    const bool listed = std::find(listing.begin(), listing.end(), "LocalOnly@m--@60") != listing.end();
    EXPECT_EQ(listed, k.listed) << k.label;
    // Permitted, it reaches the root, which knows no such command (803); refused, it never runs (802).
    EXPECT_EQ(Invoke(c, "LocalOnly@"), k.invoke) << k.label;
  }
}

}  // namespace
}  // namespace kelm::agent::testing
