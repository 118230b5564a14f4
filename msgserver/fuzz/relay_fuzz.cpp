// A console's bytes through the message server to an agent and back: the server's own folders,
// renumbering, forwarding under one identifier, the caps and the time-outs. Whatever a console
// sends, the server stays up, everything it sends back is a well-formed record within the limit,
// and once the console has gone nothing of it stays queued.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "message/message_codec.h"
#include "msgserver/agent_conn.h"
#include "msgserver/pellwick_doc.h"
#include "msgserver/tests/fake_agent.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"
#include "platform/testing/manual_clock.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm;
using namespace kelm::msgserver;

namespace {

constexpr std::int64_t kWall = 1000000000;

struct World {
  plat::ManualClock clock{kWall};
  std::unique_ptr<plat::EventLoop> loop;
  std::unique_ptr<testing::FakeAgent> agent;
  std::unique_ptr<CPellwickDoc> doc;

  bool AgentReady() const { return !doc->Agents().empty() && doc->Agents()[0]->ready(); }
  void Turns(int n) {
    for (int i = 0; i < n; ++i) loop->runOnce(0);
  }
};

World& world() {
  static World* w = [] {
    auto* x = new World;
    auto loop = plat::makeEpollLoop(x->clock);
    if (!loop) std::abort();
    x->loop = std::move(*loop);
    x->agent = std::make_unique<testing::FakeAgent>(*x->loop, "127.0.0.1", 0, "Host1");
    DocOptions o;
    o.loop = x->loop.get();
    o.clock = &x->clock;
    o.hostName = "srv";
    o.hostAddress = "127.0.0.1";
    o.agentPort = x->agent->port();
    o.consolePort = 0;
    o.beaconPort = 0;
    o.listenHost = "127.0.0.1";
    o.serverAnnouncePort = 9;  // discard: nobody listens for the server's own announcement here
    o.broadcastAddress = "127.0.0.1";
    o.fileVersion = "1.0.0.1";
    o.maxQueuedPerFolder = 50;
    o.maxQueuedBytesPerConsole = 64 << 10;
    x->doc = std::make_unique<CPellwickDoc>(std::move(o));
    x->doc->Start();
    return x;
  }();
  return *w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  World& w = world();
  // An agent dropped by an earlier input (a time-out) comes back, as with its next announcement.
  if (!w.AgentReady()) {
    w.doc->AddAgentOrLog("Host1", "127.0.0.1");
    for (int i = 0; i < 200 && !w.AgentReady(); ++i) w.loop->runOnce(1);
    if (!w.AgentReady()) std::abort();
  }
  auto made = plat::TcpStream::connect(*w.loop, "127.0.0.1", w.doc->ConsolePort(), std::chrono::seconds(5));
  if (!made) std::abort();
  std::unique_ptr<plat::TcpStream> console = std::move(*made);
  std::string received;
  bool closed = false;
  console->onData([&](std::string_view b) { received.append(b); });
  console->onClosed([&](const std::string&) { closed = true; });
  for (int i = 0; i < 200 && w.doc->Users().empty(); ++i) w.loop->runOnce(1);
  if (w.doc->Users().empty()) std::abort();

  // The first byte sets the size of the pieces the console's bytes arrive in.
  const std::size_t chunk = 1 + data[0] % 128;
  const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t pieces = 0;
  for (std::size_t at = 0; at < in.size() && !closed; at += chunk, ++pieces) {
    (void)console->write(in.substr(at, chunk));
    w.Turns(6);
    if (pieces % 16 == 15) {
      w.clock.advanceSeconds(20);
      w.doc->OnTimerTick();
    }
  }
  w.Turns(20);
  console->close();
  for (int i = 0; i < 200 && !w.doc->Users().empty(); ++i) w.loop->runOnce(1);
  w.Turns(10);
  if (!w.doc->Users().empty()) std::abort();
  // Nothing of the console stays queued at the server.
  if (w.doc->QueuedBytes()->used() != 0) std::abort();

  MessageDecoder d;
  d.Feed(received);
  CMessage m;
  DecodeStatus s;
  while ((s = d.Next(m)) == DecodeStatus::kOk) {
  }
  if (s == DecodeStatus::kInvalid) std::abort();
  return 0;
}

// Seeds: a console's walk through the server's root and into the agent.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto req = [](std::string& s, std::int32_t code, std::int32_t id, const std::string& text) {
    AppendMessage(s, CMessage(code, id, kStatusRequest, text));
  };
  std::string a(1, '\x7F');
  req(a, kReqListRights, 1, "");
  req(a, kReqQuery, 2, ".");
  req(a, kReqQuery, 3, "FileVersion");
  req(a, kReqLogon, 4, "logon x");
  req(a, kReqChangeFolder, 5, "Host1");
  req(a, kReqListRights, 6, "");
  req(a, kReqLogon, 7, "logon 1 2@abc");
  req(a, kReqChangeFolder, 8, "Controller1");
  req(a, kReqQuery, 9, "Temp");
  req(a, kReqSetProperty, 10, "Name@c2");
  req(a, kReqInvoke, 11, "Rebuild@1");
  req(a, kReqRefresh, 12, "");
  req(a, kReqChangeFolder, 13, "..");
  req(a, kReqQuery, 14, "Status");
  req(a, kReqChangeFolder, 15, "\\");
  req(a, kReqRefresh, 16, "");
  seeds.push_back(a);
  std::string b(1, '\x03');
  req(b, kReqChangeFolder, 1, "Host1");
  for (int i = 0; i < 20; ++i) req(b, kReqInvoke, 100 + i, "Rebuild@" + std::to_string(i));
  AppendMessage(b, CMessage(kReqKeepAlive, 5, kStatusRequest, "hello"));
  req(b, kReqClose, 0, "");
  seeds.push_back(b);
}
