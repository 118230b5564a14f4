#pragma once
// A scripted agent for the console's tests: serves a declarative folder tree on the local
// channel's record protocol, records every record it receives, and answers only when the test
// delivers, so every exchange is seen in order.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "message/message.h"
#include "message/message_api.h"

namespace kelm::console::testing {

struct FakeNode {
  std::string name;
  std::string type = "o--";
  std::string value;
  std::vector<std::unique_ptr<FakeNode>> children;
  FakeNode* parent = nullptr;

  FakeNode* Add(std::string n, std::string t, std::string v) {
    auto c = std::make_unique<FakeNode>();
    c->name = std::move(n);
    c->type = std::move(t);
    c->value = std::move(v);
    c->parent = this;
    children.push_back(std::move(c));
    return children.back().get();
  }
  FakeNode* Folder(std::string n, int nodeType) { return Add(std::move(n), "o--", std::to_string(nodeType)); }
  FakeNode* Child(const std::string& n) const {
    for (const auto& c : children) {
      if (c->name == n) return c.get();
    }
    return nullptr;
  }
  bool Remove(const std::string& n) {
    for (auto it = children.begin(); it != children.end(); ++it) {
      if ((*it)->name == n) {
        children.erase(it);
        return true;
      }
    }
    return false;
  }
  std::string Entry() const { return name + "@" + type + "@" + value; }
  std::string FullPath() const {
    if (!parent) return "\\";
    std::string p;
    for (const FakeNode* n = this; n->parent; n = n->parent) p = "\\" + n->name + p;
    return p;
  }
};

class FakeAgent {
 public:
  FakeAgent() {
    root.name = "HOST7";
    root.value = "2";
  }

  // The channel factory a document or connection uses.
  ChannelFactory Factory() {
    return [this](CMessageApi& owner) -> std::unique_ptr<MessageChannel> {
      if (refuseConnect) return nullptr;
      return std::make_unique<Channel>(this, &owner);
    };
  }

  // Answers everything received so far (and what those answers cause), in order.
  void Deliver() {
    int guard = 0;
    while (!pending_.empty() && ++guard < 100000) {
      Pending p = std::move(pending_.front());
      pending_.pop_front();
      if (recordDelivered) delivered.push_back(p.message);
      if (p.owner) p.owner->OnMessage(p.message);
    }
  }

  // Sends a notification to every client.
  void Notify(std::int32_t code, const std::string& text) {
    for (auto& [owner, state] : clients_) pending_.push_back({owner, CMessage(code, 0, kStatusNotify, text)});
  }

  std::vector<CMessage> received;  // every record, in order
  bool recordDelivered = false;
  std::vector<CMessage> delivered;  // every answer and notification handed out, while recording
  FakeNode root;
  bool requireLogon = false;
  bool refuseConnect = false;
  bool refuseLogon = false;
  bool silent = false;  // receives but never answers
  std::vector<std::string> invoked;  // "path|method@args"

  // A folder's stored event records ("code@time@severity@title@text"), as ReadEvent pages them.
  // A folder without a log answers ReadEvent with nothing but the echo and the final reply.
  struct EventLog {
    std::vector<std::string> records;
    std::uint32_t cookie = 994730000;
  };
  std::map<std::string, EventLog> eventLogs;  // by the folder's full path

  // The users folder (value 12) with the given accounts and rights; each account is a folder
  // (value 13) listing "name", "right" and its three methods, as the agent's does.
  FakeNode* AddUsers(FakeNode* parent, const std::vector<std::pair<std::string, int>>& accounts) {
    FakeNode* users = parent->Folder("Users", 12);
    users->Add("CreateUser", "m--", "2");
    users->Add("DeleteUser", "m--", "2");
    for (const auto& [name, rights] : accounts) AddAccount(users, name, rights);
    return users;
  }
  std::map<std::string, std::string> passwords;  // by account name, as set through the methods

  // The records received since the mark, without the channel's own open record.
  std::vector<CMessage> Since(std::size_t mark) const {
    std::vector<CMessage> out;
    for (std::size_t i = mark; i < received.size(); ++i) {
      if (received[i].code != kReqComOpen) out.push_back(received[i]);
    }
    return out;
  }

 private:
  struct ClientState {
    FakeNode* current = nullptr;
    bool loggedOn = false;
  };
  struct Pending {
    CMessageApi* owner;
    CMessage message;
  };

  class Channel final : public MessageChannel {
   public:
    Channel(FakeAgent* agent, CMessageApi* owner) : agent_(agent), owner_(owner) {
      agent_->clients_[owner_] = ClientState{&agent_->root, false};
    }
    ~Channel() override {
      agent_->clients_.erase(owner_);
      std::erase_if(agent_->pending_, [&](const Pending& p) { return p.owner == owner_; });
    }
    bool SendMessage(const CMessage& m) override {
      agent_->Receive(owner_, m);
      return true;
    }

   private:
    FakeAgent* agent_;
    CMessageApi* owner_;
  };

  void Reply(CMessageApi* owner, const CMessage& req, std::int32_t status, std::string text) {
    pending_.push_back({owner, CMessage(req.code, req.id, status, std::move(text))});
  }
  void Final(CMessageApi* owner, const CMessage& req, std::int32_t result) {
    Reply(owner, req, kStatusFinal, FormatResult(result));
  }

  void Receive(CMessageApi* owner, const CMessage& m) {
    received.push_back(m);
    auto it = clients_.find(owner);
    if (it == clients_.end()) return;
    ClientState& st = it->second;
    if (m.code == kReqComOpen) {
      if (requireLogon) pending_.push_back({owner, CMessage(kNotifyNotLoggedOn, 0, kStatusNotify, "\\@")});
      return;
    }
    if (silent || m.code == kReqComClose || m.code == kReqKeepAlive) return;
    if (requireLogon && !st.loggedOn && m.code != kReqLogon && !(m.code == kReqChangeFolder && m.text == "\\")) {
      pending_.push_back({owner, CMessage(kNotifyNotLoggedOn, 0, kStatusNotify, st.current->FullPath() + "@")});
      return;
    }
    switch (m.code) {
      case kReqChangeFolder: {
        FakeNode* next = nullptr;
        if (m.text == "\\") {
          next = &root;
        } else if (m.text == "..") {
          next = st.current->parent;
        } else if (FakeNode* c = st.current->Child(m.text); c && c->type[0] == 'o') {
          next = c;
        }
        if (!next) return Final(owner, m, kResultNotFound);
        st.current = next;
        return Final(owner, m, kResultFunctional);
      }
      case kReqListRights:
        for (const auto& c : st.current->children) Reply(owner, m, kStatusPartial, c->Entry());
        return Final(owner, m, kResultFunctional);
      case kReqQuery: {
        if (m.text == ".") {
          Reply(owner, m, kStatusPartial, ".@" + st.current->Entry());
          return Final(owner, m, kResultFunctional);
        }
        FakeNode* c = st.current->Child(m.text);
        if (!c) return Final(owner, m, kResultNotFound);
        Reply(owner, m, kStatusPartial, c->Entry());
        return Final(owner, m, kResultFunctional);
      }
      case kReqSetProperty: {
        const std::size_t at = m.text.find('@');
        FakeNode* c = at == std::string::npos ? nullptr : st.current->Child(m.text.substr(0, at));
        if (!c) return Final(owner, m, kResultNotFound);
        c->value = m.text.substr(at + 1);
        return Final(owner, m, kResultFunctional);
      }
      case kReqInvoke: {
        invoked.push_back(st.current->FullPath() + "|" + m.text);
        const std::size_t at = m.text.find('@');
        FakeNode* c = at == std::string::npos ? nullptr : st.current->Child(m.text.substr(0, at));
        std::int32_t r = c && c->type[0] == 'm' ? kResultFunctional : kResultNotFound;
        if (r == kResultFunctional) r = Method(owner, m, st.current, m.text.substr(0, at), m.text.substr(at + 1));
        Reply(owner, m, kStatusPartial, FormatResult(r) + "@" + m.text);
        return Final(owner, m, r);
      }
      case kReqRefresh:
        return Final(owner, m, kResultFunctional);
      case kReqLogon:
        if (m.text.rfind("logoff", 0) == 0) {
          st.loggedOn = false;
          Reply(owner, m, kStatusPartial, "logoff 0");
          return Final(owner, m, kResultFunctional);
        }
        if (refuseLogon) return Final(owner, m, kResultAccessDenied);
        st.loggedOn = true;
        Reply(owner, m, kStatusPartial, "logon 4660");
        return Final(owner, m, kResultFunctional);
      default:
        return;
    }
  }

  static constexpr int kAdminRight = 2;

  FakeNode* AddAccount(FakeNode* users, const std::string& name, int rights) {
    FakeNode* u = users->Add(name, "or-", "13");
    u->Add("name", "pr-", name);
    u->Add("right", "pr-", std::to_string(rights));
    u->Add("rename", "m--", "3");
    u->Add("password", "m--", "3");
    u->Add("changeright", "m--", "2");
    return u;
  }
  static int RightsOf(const FakeNode* user) {
    const FakeNode* r = user->Child("right");
    return r ? std::atoi(r->value.c_str()) : 0;
  }
  static int Administrators(const FakeNode* users) {
    int n = 0;
    for (const auto& c : users->children) n += c->value == "13" && (RightsOf(c.get()) & kAdminRight) != 0;
    return n;
  }
  void NotifyFolder(std::int32_t code, const FakeNode* folder) { Notify(code, folder->FullPath() + "@"); }

  // The methods the agent answers itself; others answer 800. Extra replies go out before the echo.
  std::int32_t Method(CMessageApi* owner, const CMessage& m, FakeNode* folder, const std::string& name,
                      const std::string& args) {
    if (name == "ReadEvent") {
      auto log = eventLogs.find(folder->FullPath());
      unsigned long long pos = 0, count = 0, cookie = 0;
      std::sscanf(args.c_str(), "%llu@%llu@%llu", &pos, &count, &cookie);
      // No log, or a page of a log cleared since: nothing at all.
      if (log == eventLogs.end() || (cookie != 0 && cookie != log->second.cookie)) return kResultFunctional;
      std::size_t i = static_cast<std::size_t>(pos);
      for (std::size_t sent = 0; i < log->second.records.size() && (count == 0 || sent < count); ++i, ++sent) {
        Reply(owner, m, kStatusPartial, "ReadEvent@0@" + log->second.records[i]);
      }
      Reply(owner, m, kStatusPartial, "ReadEvent@255@256@" + std::to_string(i) + "@" + std::to_string(log->second.cookie));
      return kResultFunctional;
    }
    if (name == "ClearEvent") {
      eventLogs.erase(folder->FullPath());
      return kResultFunctional;
    }
    if (folder->value == "12" && name == "CreateUser") {
      const std::size_t a = args.find('@');
      const std::size_t b = a == std::string::npos ? a : args.find('@', a + 1);
      if (a == 0 || a == std::string::npos || b == std::string::npos) return 805;
      const std::string user = args.substr(0, a);
      if (folder->Child(user)) return 801;
      AddAccount(folder, user, std::atoi(args.c_str() + b + 1));
      passwords[user] = args.substr(a + 1, b - a - 1);
      NotifyFolder(kNotifyFolderChanged, folder);
      return kResultFunctional;
    }
    if (folder->value == "12" && name == "DeleteUser") {
      FakeNode* user = folder->Child(args);
      if (user && (Administrators(folder) > 1 || (RightsOf(user) & kAdminRight) == 0)) {
        const std::string path = user->FullPath();
        folder->Remove(args);
        Notify(kNotifyFolderGone, path + "@");
      }
      return kResultFunctional;
    }
    if (folder->value == "13" && name == "rename") {
      FakeNode* users = folder->parent;
      if (args.empty() || users->Child(args)) return 801;
      passwords[args] = passwords[folder->name];
      passwords.erase(folder->name);
      folder->name = args;
      if (FakeNode* n = folder->Child("name")) n->value = args;
      NotifyFolder(kNotifyFolderChanged, users);
      return kResultFunctional;
    }
    if (folder->value == "13" && name == "password") {
      passwords[folder->name] = args;
      NotifyFolder(kNotifyFolderChanged, folder);
      return kResultFunctional;
    }
    if (folder->value == "13" && name == "changeright") {
      const int rights = std::atoi(args.c_str());
      if ((rights & kAdminRight) != 0 || Administrators(folder->parent) >= 2) {
        folder->Child("right")->value = std::to_string(rights);
      }
      NotifyFolder(kNotifyFolderChanged, folder);
      return kResultFunctional;
    }
    return kResultFunctional;
  }

  std::map<CMessageApi*, ClientState> clients_;
  std::deque<Pending> pending_;
};

}  // namespace kelm::console::testing
