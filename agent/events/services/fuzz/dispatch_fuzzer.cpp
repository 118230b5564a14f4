// A local client's records through the agent's whole folder tree and its event services: logons,
// folder changes, queries, settings, invokes with any arguments (users, notice lists, schedules,
// mail addresses, event paging). Whatever a client sends, the agent survives it and every record it
// sends back fits in a record any client reads.
//
// Input: one byte of flags (bit 0: log on as the administrator first, bit 1: as a viewer), then
// records, one a line: a letter for the request code and its text. The text "=admin" or "=viewer"
// stands for a valid logon of that account.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "agent/core/com_socket_object.h"
#include "agent/core/halvorn_doc.h"
#include "agent/crypto/logon_token.h"
#include "agent/events/services/agent_event_services.h"
#include "message/message_codec.h"
#include "platform/com/object.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/temp_root.h"

using namespace kelm;

namespace {

// Checks each reply and notification as it is sent.
class CheckingSink final : public plat::com::Object<IComSocketEvents> {
 public:
  plat::HRESULT SendReply(std::int32_t, std::int32_t, std::int32_t, const std::string& text) override {
    if (!TextFits(text)) __builtin_trap();
    ++replies;
    return plat::S_OK;
  }
  plat::HRESULT Invoke(std::int32_t, const std::vector<DispArg>&, std::int32_t*) override { return plat::E_NOTIMPL; }
  long replies = 0;
};

struct World {
  plat::testing::TempRoot root;
  plat::ManualClock clock{1000000000};
  std::unique_ptr<plat::EventLoop> loop;
  std::unique_ptr<agent::CHalvornDoc> doc;
  std::string adminLogon, viewerLogon;
};

World& world() {
  static World* w = [] {
    auto* x = new World;
    auto loop = plat::makeEpollLoop(x->clock);
    if (!loop) std::abort();
    x->loop = std::move(*loop);
    agent::DocOptions o;
    o.loop = x->loop.get();
    o.clock = &x->clock;
    o.hostName = "fuzzhost";
    o.localChannel = false;
    o.log = [](const std::string&) {};
    o.makeEvents = [](agent::CHalvornDoc& d) { return std::make_unique<events::CAgentEventServices>(d); };
    x->doc = std::make_unique<agent::CHalvornDoc>(o);
    if (x->doc->Accounts().InitUserStore("admin", "secret") != plat::S_OK) std::abort();
    accounts::AccountHandle h = 0;
    if (x->doc->Accounts().OpenAccount("admin", "secret", h) != plat::S_OK) std::abort();
    x->doc->Accounts().CreateAccount(h, "viewer", "pw", 0x3C);
    x->doc->Accounts().CloseAccount(h);
    x->adminLogon = crypto::LogonText(1, 2, crypto::BuildLogonToken("admin", "secret"));
    x->viewerLogon = crypto::LogonText(3, 4, crypto::BuildLogonToken("viewer", "pw"));
    return x;
  }();
  return *w;
}

std::int32_t CodeOf(char c) {
  switch (c) {
    case 'L': return kReqLogon;
    case 'D': return kReqListRights;
    case 'C': return kReqChangeFolder;
    case 'Q': return kReqQuery;
    case 'S': return kReqSetProperty;
    case 'I': return kReqInvoke;
    case 'R': return kReqRefresh;
    case 'X': return kReqClose;
    case 'K': return kReqKeepAlive;
    default: return static_cast<unsigned char>(c);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  World& w = world();
  auto object = plat::com::makeObject<agent::CComSocketObject>(*w.doc);
  auto sink = plat::com::makeObject<CheckingSink>();
  plat::com::ComPtr<plat::com::IConnectionPoint> point;
  if (object->FindConnectionPoint(IComSocketEvents::kIid, point.put()) != plat::S_OK) std::abort();
  std::uint32_t cookie = 0;
  point->Advise(static_cast<IComSocketEvents*>(sink.get()), &cookie);
  std::int32_t id = 1;
  object->ProcessMessage(kReqComOpen, 0, 0, "");
  if (data[0] & 1) object->ProcessMessage(kReqLogon, id++, kStatusRequest, w.adminLogon);
  if (data[0] & 2) object->ProcessMessage(kReqLogon, id++, kStatusRequest, w.viewerLogon);
  w.loop->runOnce(0);
  const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t start = 0;
  for (int n = 0; n < 64 && start < in.size(); ++n) {
    std::size_t end = in.find('\n', start);
    if (end == std::string_view::npos) end = in.size();
    const std::string_view line = in.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    std::string text(line.substr(1));
    if (text == "=admin") text = w.adminLogon;
    if (text == "=viewer") text = w.viewerLogon;
    object->ProcessMessage(CodeOf(line[0]), id++, kStatusRequest, text);
    w.loop->runOnce(0);
    // A second passes now and then, so ticks, polls and schedules run too.
    if (n % 8 == 7) {
      w.clock.advanceSeconds(1);
      w.doc->OnTick();
    }
  }
  object->ProcessMessage(kReqComClose, 0, 0, "");
  w.loop->runOnce(0);
  point->Unadvise(cookie);
  return 0;
}
