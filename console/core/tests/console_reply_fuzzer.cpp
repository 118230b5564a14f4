// Fuzzes what the console makes of an agent's answers: listing entries, property replies, invoke
// echoes, logon replies and notifications arrive for whatever the console asked, while the tree,
// its labels, images, menus and command states are built from them.
//
// Input: records of [kind byte][length byte][text]. Kind & 7: 0 a partial reply to the oldest
// request still open, 1 its final reply with the text, 2 its final reply "800", 3-6 the
// notifications 8192-8195, 7 one second passes (the poll, a logon when Login is enabled, and every
// closed folder opened).
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "console/core/document.h"
#include "console/core/menus.h"
#include "console/core/node_cache.h"
#include "console/core/null_ui_services.h"
#include "console/core/tests/fake_agent.h"
#include "message/message.h"
#include "platform/loop/event_loop.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/temp_root.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm;
using namespace kelm::console;

namespace {

class FuzzUi : public NullUiServices {
 public:
  int MessageBox(const MessageBoxRequest& r) override { return r.buttons == MsgButtons::YesNo ? kIdYes : kIdOk; }
  std::optional<LoginInput> RunLoginDialog(const std::string&, const std::string&) override {
    return LoginInput{"admin", "secret", false};
  }
};

// The agent's side: every record the console sends waits here for the input to answer it.
struct Wire {
  CMessageApi* owner = nullptr;
  std::deque<CMessage> open;
};

class WireChannel final : public MessageChannel {
 public:
  WireChannel(Wire& w, CMessageApi& owner) : wire_(w) { wire_.owner = &owner; }
  ~WireChannel() override {
    wire_.owner = nullptr;
    wire_.open.clear();
  }
  bool SendMessage(const CMessage& m) override {
    if (m.code != kReqComOpen && m.code != kReqComClose && m.code != kReqKeepAlive) wire_.open.push_back(m);
    return true;
  }

 private:
  Wire& wire_;
};

void check(bool ok) {
  if (!ok) std::abort();
}

void Visit(CVirtualFolder* f, int depth, std::vector<CVirtualFolder*>& out) {
  if (!f || depth > 16 || out.size() > 256) return;
  out.push_back(f);
  for (CPea* c : f->SubFolders(false)) Visit(dynamic_cast<CVirtualFolder*>(c), depth + 1, out);
}

plat::testing::TempRoot& Root() {
  static plat::testing::TempRoot root;
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Root();
  plat::ManualClock clock;
  auto loop = plat::makeEpollLoop(clock).value();
  FuzzUi ui;
  Wire wire;
  DocumentOptions opts;
  opts.channelFactory = [&wire](CMessageApi& owner) { return std::make_unique<WireChannel>(wire, owner); };
  {
    CDremmoralDoc doc(ui, *loop, clock, opts);
    NodeCache cache(doc);
    doc.OnInitialUpdate();
    std::size_t i = 0;
    while (i + 2 <= size) {
      const int kind = data[i] & 7;
      const std::size_t len = std::min<std::size_t>(data[i + 1], size - i - 2);
      const std::string text(reinterpret_cast<const char*>(data + i + 2), len);
      i += 2 + len;
      if (kind <= 2) {
        if (wire.open.empty() || !wire.owner) continue;
        const CMessage req = wire.open.front();
        if (kind > 0) wire.open.pop_front();
        const std::string reply = kind == 2 ? FormatResult(kResultFunctional) : text;
        wire.owner->OnMessage(CMessage(req.code, req.id, kind == 0 ? kStatusPartial : kStatusFinal, reply));
      } else if (kind <= 6) {
        if (wire.owner) wire.owner->OnMessage(CMessage(kNotifyNotLoggedOn + (kind - 3), 0, kStatusNotify, text));
      } else {
        clock.advanceMs(1000);
        doc.Poll();
        std::vector<CVirtualFolder*> nodes;
        Visit(doc.root(), 0, nodes);
        for (CVirtualFolder* n : nodes) {
          PeaRef<CVirtualFolder> keep(n);
          cache.Track(n);
          doc.SetCommandNode(n);
          if (doc.IsCommandEnabled(kCmdLogin)) doc.OnCommand(kCmdLogin);
          if (!n->isOpen()) n->Refresh();
          check(ContextMenuIds(n).size() <= 4);
          NodePopupTitleId(n);
        }
        doc.SetCommandNode(nullptr);
        for (CVirtualFolder* n : nodes) {
          const CachedNode* c = cache.Find(n);
          check(!c || c->label.size() < 4096);
          cache.Untrack(n);
        }
      }
      loop->runOnce(0);
    }
    doc.Close();
  }
  loop->runOnce(0);
  return 0;
}

// Seeds: whole conversations of the scripted agent with a console that lists its tree, logs on,
// reads values, invokes methods and gets notices, written in the input's record form.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto encode = [](const std::vector<CMessage>& answers, const std::vector<std::size_t>& seconds, int polls) {
    std::string out;
    auto add = [&out](int kind, const std::string& text) {
      const std::string t = text.substr(0, 255);
      out += static_cast<char>(kind);
      out += static_cast<char>(t.size());
      out += t;
    };
    std::size_t next = 0;
    for (std::size_t k = 0; k < answers.size(); ++k) {
      // Where the session let a second pass, so that the replay asks what the session asked.
      while (next < seconds.size() && seconds[next] == k) {
        add(7, "");
        ++next;
      }
      const CMessage& m = answers[k];
      if (m.status == kStatusPartial) add(0, m.text);
      if (m.status == kStatusFinal) add(1, m.text);
      if (m.status == kStatusNotify && m.code >= kNotifyNotLoggedOn && m.code <= kNotifyEvent) {
        add(3 + (m.code - kNotifyNotLoggedOn), m.text);
      }
    }
    for (int p = 0; p < polls; ++p) add(7, "");
    return out;
  };
  for (int variant = 0; variant < 3; ++variant) {
    plat::testing::TempRoot root;
    plat::ManualClock clock;
    auto loop = plat::makeEpollLoop(clock).value();
    FuzzUi ui;
    testing::FakeAgent agent;
    agent.requireLogon = variant == 1;
    agent.recordDelivered = true;
    agent.root.Add("Description", "pr-", "agent");
    testing::FakeNode* c0 = agent.root.Folder("Controller0", variant == 2 ? kNodeIopController : kNodeIdeController);
    c0->Add("CreateArray", "m--", "60");
    c0->Add("HasEvent", "pr-", "1");
    testing::FakeNode* a1 = c0->Folder("Array1", variant == 2 ? kNodeIopArray : kNodeIdeArray);
    a1->Add("name", "prw", "Ary1");
    a1->Add("Status", "prv", variant == 0 ? "512" : "-2147483647");
    a1->Add("percent", "prv", "42");
    a1->Add("RebuildArray", "m--", "60");
    testing::FakeNode* d = a1->Folder("Disk0", kNodeIdeDisk);
    d->Add("Channel", "pr-", "1");
    d->Add("model", "pr-", "ST-1");
    agent.AddUsers(&agent.root, {{"admin", 6}});
    DocumentOptions opts;
    opts.channelFactory = agent.Factory();
    CDremmoralDoc doc(ui, *loop, clock, opts);
    doc.OnInitialUpdate();
    std::vector<std::size_t> seconds;
    for (int round = 0; round < 6; ++round) {
      agent.Deliver();
      loop->runOnce(0);
      seconds.push_back(agent.delivered.size());
      std::vector<CVirtualFolder*> nodes;
      Visit(doc.root(), 0, nodes);
      for (CVirtualFolder* n : nodes) {
        doc.SetCommandNode(n);
        if (doc.IsCommandEnabled(kCmdLogin)) doc.OnCommand(kCmdLogin);
        if (!n->isOpen()) n->Refresh();
        n->GetProperty("percent", "");
      }
      doc.SetCommandNode(nullptr);
      clock.advanceMs(1000);
      agent.Deliver();
      loop->runOnce(0);
    }
    agent.Notify(kNotifyFolderChanged, "\\Controller0@");
    agent.Notify(kNotifyEvent, "\\Controller0@512@994730139@1@Disk@Disk 2 failed");
    agent.Notify(kNotifyFolderGone, "\\Controller0\\Array1@");
    agent.Deliver();
    seeds.push_back(encode(agent.delivered, seconds, 3));
    doc.Close();
  }
  // Entries that do not split, odd notices, a logon reply, an event page.
  std::string odd;
  for (const char* t : {".@HOST7@o--@2", "@o--@22", "Array1@@22", "Array1@o--@22@extra", "logon 4660",
                        "ReadEvent@255@256@57@994730000", "\\@", "\\\\\\\\@x"}) {
    odd += '\0';
    odd += static_cast<char>(std::string(t).size());
    odd += t;
    odd += '\2';
    odd += '\0';
  }
  seeds.push_back(odd);
}
