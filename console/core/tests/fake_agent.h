#pragma once
// A scripted agent for the console's tests: serves a declarative folder tree on the local
// channel's record protocol, records every record it receives, and answers only when the test
// delivers, so every exchange is seen in order.
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
      if (p.owner) p.owner->OnMessage(p.message);
    }
  }

  // Sends a notification to every client.
  void Notify(std::int32_t code, const std::string& text) {
    for (auto& [owner, state] : clients_) pending_.push_back({owner, CMessage(code, 0, kStatusNotify, text)});
  }

  std::vector<CMessage> received;  // every record, in order
  FakeNode root;
  bool requireLogon = false;
  bool refuseConnect = false;
  bool refuseLogon = false;
  bool silent = false;  // receives but never answers
  std::vector<std::string> invoked;  // "path|method@args"

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
        const std::int32_t r = c && c->type[0] == 'm' ? kResultFunctional : kResultNotFound;
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

  std::map<CMessageApi*, ClientState> clients_;
  std::deque<Pending> pending_;
};

}  // namespace kelm::console::testing
