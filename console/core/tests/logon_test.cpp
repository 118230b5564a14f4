// Logging on to the agent: the Login dialog, the token, the replies, and what is kept.
#include <sys/stat.h>

#include "agent/crypto/logon_token.h"
#include "console/core/strings.h"
#include "console/core/tests/console_test_support.h"
#include "platform/registry/registry.h"

namespace kelm::console::testing {
namespace {

class LogonTest : public ConsoleTest {
 protected:
  void SetUp() override {
    agent.requireLogon = true;
    // The agent's local token, as the agent writes it at its start.
    auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, "SOFTWARE\\Velkari Technology, Inc.\\Message Agent");
    ASSERT_TRUE(key);
    ASSERT_EQ(plat::reg::statusOf(key->setBinary("Location", {0x78, 0x56, 0x34, 0x12, 0x01, 0, 0, 0})), plat::reg::Status::Ok);
  }
  CVirtualFolder* Local() {
    auto* n = dynamic_cast<CVirtualFolder*>(doc->root()->FindChild("LOCALAGENT"));
    return n ? n : Agent();
  }
  // Logs on through the Login command and waits for the agent's reload.
  void LogIn(CVirtualFolder* node) {
    doc->SetCommandNode(node);
    ui.login = LoginInput{"admin", "secret", false};
    doc->OnCommand(kCmdLogin);
    Pump();
    clock.advanceMs(1000);
    Pump();
    ASSERT_EQ(node->GetProperty("bHaveLogin", "", true), "1");
  }
  std::string LastLogonText() {
    for (auto it = agent.received.rbegin(); it != agent.received.rend(); ++it) {
      if (it->code == kReqLogon) return it->text;
    }
    return "";
  }
};

TEST_F(LogonTest, LoginSendsTheTokenWithTheLocalWordsAndOpensTheAgent) {
  Start();
  CVirtualFolder* node = Local();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->GetProperty("bValidProfile", "", true), "0");
  doc->SetCommandNode(node);
  ASSERT_TRUE(doc->IsCommandEnabled(kCmdLogin));
  ui.login = LoginInput{"admin", "secret", false};
  doc->OnCommand(kCmdLogin);
  Pump();
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0], "|LOCALAGENT");
  const std::string text = LastLogonText();
  ASSERT_EQ(text.rfind("logon 12345678 1@", 0), 0u) << text;
  std::string name, password;
  ASSERT_EQ(crypto::DecodeLogonToken(text.substr(std::string("logon 12345678 1@").size()), name, password), 1);
  EXPECT_EQ(name, "admin");
  EXPECT_EQ(password, "secret");
  EXPECT_EQ(node->GetProperty("handle", "", true), "4660");
  EXPECT_EQ(node->GetProperty("bHaveLogin", "", true), "1");
  EXPECT_EQ(node->GetProperty("bValidProfile", "", true), "1");
  // One second later the agent is read again, now that it answers.
  const std::size_t mark = agent.received.size();
  clock.advanceMs(1000);
  Pump();
  bool reloaded = false;
  for (const CMessage& m : agent.Since(mark)) reloaded |= m.code == kReqRefresh;
  EXPECT_TRUE(reloaded);
  EXPECT_TRUE(doc->IsCommandEnabled(kCmdLogout));
  // Without "Save password" the password is not kept: only the name.
  EXPECT_EQ(crypto::TokenUserName(node->GetProperty("UserProfile", "", true)), "admin");
  std::string n2, p2;
  EXPECT_EQ(crypto::DecodeLogonToken(node->GetProperty("UserProfile", "", true), n2, p2), 0);
}

TEST_F(LogonTest, ARefusedLogonShowsLoginErrorAndLeavesTheAgentClosed) {
  agent.refuseLogon = true;
  Start();
  CVirtualFolder* node = Local();
  doc->SetCommandNode(node);
  ui.login = LoginInput{"admin", "wrong", true};
  doc->OnCommand(kCmdLogin);
  Pump();
  ASSERT_FALSE(ui.boxes.empty());
  EXPECT_EQ(ui.boxes.back().stringId, kStrLoginError);
  EXPECT_EQ(ui.boxes.back().text, "Login Error");
  EXPECT_EQ(ui.boxes.back().caption, "Login to " + node->name());
  EXPECT_EQ(node->GetProperty("bHaveLogin", "", true), "0");
  EXPECT_EQ(node->GetProperty("bValidProfile", "", true), "0");
  EXPECT_FALSE(doc->autoLogon());
  // An explicit Login after that asks again.
  doc->OnCommand(kCmdLogin);
  EXPECT_EQ(ui.dialogs.size(), 2u);
}

TEST_F(LogonTest, CancelAndRefusedTextsSendNothing) {
  Start();
  CVirtualFolder* node = Local();
  doc->SetCommandNode(node);
  struct Case {
    std::optional<LoginInput> input;
  } cases[] = {
      {std::nullopt},                                     // Cancel
      {LoginInput{"ad@min", "x", false}},                 // '@' in the name
      {LoginInput{"admin", "p@ss", false}},               // '@' in the password
      {LoginInput{std::string(200, 'a'), "x", false}},  // the logon text would pass 255 characters
  };
  for (const Case& c : cases) {
    ui.login = c.input;
    const std::size_t mark = agent.received.size();
    doc->OnCommand(kCmdLogin);
    Pump();
    bool logon = false;
    for (const CMessage& m : agent.Since(mark)) logon |= m.code == kReqLogon;
    EXPECT_FALSE(logon);
  }
}

TEST_F(LogonTest, LogoffIsRecognisedEvenWhenTheAgentRefusesIt) {
  Start();
  CVirtualFolder* node = Local();
  LogIn(node);
  doc->SetCommandNode(node);
  doc->OnCommand(kCmdLogout);
  Pump();
  EXPECT_EQ(LastLogonText(), "logoff 4660");
  EXPECT_EQ(node->GetProperty("bHaveLogin", "", true), "0");
  EXPECT_EQ(node->GetProperty("bValidProfile", "", true), "0");
  // The partial reply "LOGOFF ..." never changes the handle.
  node->OnReply(kReqLogon, kStatusPartial, "LOGOFF 99");
  EXPECT_EQ(node->GetProperty("handle", "", true), "4660");
}

TEST_F(LogonTest, LogoutIsTheEnginesLogoffAndPurgesWhatTheLogonStillHadQueued) {
  Start();
  CVirtualFolder* node = Local();
  LogIn(node);
  // Idle: the logoff follows the change of folder under its identifier.
  std::size_t mark = agent.received.size();
  doc->SetCommandNode(node);
  doc->OnCommand(kCmdLogout);
  Pump();
  std::vector<CMessage> sent = agent.Since(mark);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].code, kReqChangeFolder);
  EXPECT_EQ(sent[1].code, kReqLogon);
  EXPECT_EQ(sent[1].text, "logoff 4660");
  EXPECT_EQ(sent[1].id, sent[0].id);
  // Busy: what was queued behind the request in flight is never sent after the logoff.
  LogIn(node);
  CVirtualFolder* c0 = Node("\\" + node->name() + "\\Controller0");
  ASSERT_NE(c0, nullptr);
  mark = agent.received.size();
  c0->Reload();                          // in flight
  c0->Query("model");                    // queued behind it
  doc->SetCommandNode(node);
  doc->OnCommand(kCmdLogout);
  Pump();
  sent = agent.Since(mark);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().code, kReqLogon);
  for (const CMessage& m : sent) EXPECT_NE(m.code, kReqQuery);
  EXPECT_EQ(Conn()->heldReferences(), 0u);
}

TEST_F(LogonTest, AnOverLongLogonLeavesLoginAvailable) {
  Start();
  CVirtualFolder* node = Local();
  doc->SetCommandNode(node);
  ui.login = LoginInput{std::string(200, 'a'), "x", false};
  doc->OnCommand(kCmdLogin);
  Pump();
  ASSERT_FALSE(ui.boxes.empty());
  EXPECT_EQ(ui.boxes.back().stringId, kStrLoginError);
  EXPECT_EQ(node->GetProperty("bValidProfile", "", true), "0");
  EXPECT_TRUE(doc->IsCommandEnabled(kCmdLogin));
  // The next try with a fitting name logs on.
  ui.login = LoginInput{"admin", "secret", false};
  doc->OnCommand(kCmdLogin);
  Pump();
  EXPECT_EQ(node->GetProperty("bHaveLogin", "", true), "1");
}

TEST_F(LogonTest, AutomaticLogonOnTheNotLoggedOnNoticeWithASavedProfile) {
  {
    plat::reg::Profile p("Velkari Technology Inc.", "Kelm");
    ASSERT_TRUE(
        p.writeString("MessageServer\\MyConsole\\LOCALAGENT", "UserProfile", crypto::BuildLogonToken("admin", "secret")));
    ASSERT_TRUE(p.writeString("MessageServer\\MyConsole\\LOCALAGENT", "bAutoSave", "1"));
    ASSERT_TRUE(p.writeString("MessageServer\\MyConsole\\LOCALAGENT", "bValidProfile", "1"));
  }
  Start();
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(LastLogonText().rfind("logon 12345678 1@", 0), 0u);
  CVirtualFolder* node = Local();
  EXPECT_EQ(node->GetProperty("bHaveLogin", "", true), "1");
  // The profile is kept under the agent's first name, readable by its owner only.
  doc->Close();
  struct stat st {};
  ASSERT_EQ(::stat(plat::reg::hiveFile(plat::reg::Hive::CurrentUser).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  plat::reg::Profile p("Velkari Technology Inc.", "Kelm");
  EXPECT_EQ(p.getString("MessageServer\\MyConsole\\LOCALAGENT", "bAutoSave", ""), "1");
  std::string name, password;
  EXPECT_EQ(crypto::DecodeLogonToken(p.getString("MessageServer\\MyConsole\\LOCALAGENT", "UserProfile", ""), name,
                                     password),
            1);
}

TEST_F(LogonTest, TheStatusBarShowsTheLoggedOnUser) {
  Start();
  CVirtualFolder* node = Local();
  doc->SetCommandNode(node);
  EXPECT_EQ(ui.userText, "nouser");
  ui.login = LoginInput{"operator", "pw", false};
  doc->OnCommand(kCmdLogin);
  Pump();
  doc->SetCommandNode(node);
  EXPECT_EQ(ui.userText, "operator");
}

TEST_F(LogonTest, DeletingTheLoggedOnUserIsRefused) {
  agent.root.Folder("Users", kNodeUserAccounts)->Add("DeleteUser", "m--", "60");
  agent.root.Child("Users")->Folder("operator", kNodeUser);
  agent.root.Child("Users")->Folder("guest", kNodeUser);
  Start();
  CVirtualFolder* node = Local();
  doc->SetCommandNode(node);
  ui.login = LoginInput{"operator", "pw", false};
  doc->OnCommand(kCmdLogin);
  Pump();
  clock.advanceMs(1000);
  Pump();
  CVirtualFolder* users = Node("\\" + Local()->name() + "\\Users");
  ASSERT_NE(users, nullptr);
  users->Refresh();
  Pump();
  auto* me = dynamic_cast<CVirtualFolder*>(users->FindChild("operator"));
  ASSERT_NE(me, nullptr);
  doc->SetCommandNode(me);
  ui.boxes.clear();
  agent.invoked.clear();
  doc->OnCommand(kCmdDeleteUser);
  Pump();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].stringId, kStrDeleteLoggedOnUser);
  EXPECT_TRUE(agent.invoked.empty());
  doc->SetCommandNode(users->FindChild("guest"));
  doc->OnCommand(kCmdDeleteUser);
  Pump();
  ASSERT_EQ(agent.invoked.size(), 1u);
  EXPECT_EQ(agent.invoked[0], "\\Users|DeleteUser@guest");
}

}  // namespace
}  // namespace kelm::console::testing
