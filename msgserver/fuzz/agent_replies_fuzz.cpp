// An agent's bytes to the message server: the opening exchange, replies to the requests consoles
// have forwarded, notifications and their rewriting, time-outs and late replies. Whatever the
// agent sends, the server stays up, a console only ever gets well-formed records that are either
// notifications or answers under its own identifiers, and closing leaves nothing queued.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "message/message_codec.h"
#include "msgserver/agent_conn.h"
#include "msgserver/pellwick_doc.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"
#include "platform/testing/manual_clock.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm;
using namespace kelm::msgserver;

namespace {

constexpr std::int64_t kWall = 1000000000;
// The first agent of a document seeds its identifiers here; the opening takes the next one.
constexpr std::int32_t kOpeningId = static_cast<std::int32_t>(kWall + 100003 + 1);

struct Peer {
  plat::ManualClock clock{kWall};
  std::unique_ptr<plat::EventLoop> loop;
  std::unique_ptr<plat::TcpListener> listener;
  std::unique_ptr<plat::TcpStream> accepted;
};

Peer& peer() {
  static Peer* p = [] {
    auto* q = new Peer;
    auto loop = plat::makeEpollLoop(q->clock);
    if (!loop) std::abort();
    q->loop = std::move(*loop);
    auto listener = plat::TcpListener::listen(*q->loop, "127.0.0.1", 0);
    if (!listener) std::abort();
    q->listener = std::move(*listener);
    q->listener->onAccept([q](std::unique_ptr<plat::TcpStream> s) {
      q->accepted = std::move(s);
      q->accepted->onData([](std::string_view) {});
    });
    return q;
  }();
  return *p;
}

// What the console asks, one request after each piece the agent sends.
struct Ask {
  std::int32_t code;
  const char* text;
};
constexpr Ask kScript[] = {
    {kReqListRights, ""},       {kReqChangeFolder, "H"},  {kReqListRights, ""},   {kReqLogon, "logon 1 2@x"},
    {kReqQuery, "."},           {kReqChangeFolder, "C"},  {kReqQuery, "T"},       {kReqSetProperty, "N@1"},
    {kReqInvoke, "M@1"},        {kReqRefresh, ""},        {kReqChangeFolder, ".."}, {kReqQuery, "S"},
    {kReqChangeFolder, "\\"},   {kReqListRights, ""},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Peer& p = peer();
  p.accepted.reset();
  p.clock.setWall(kWall);
  std::string toConsole;
  std::set<std::int32_t> asked;
  {
    DocOptions o;
    o.loop = p.loop.get();
    o.clock = &p.clock;
    o.hostName = "srv";
    o.hostAddress = "127.0.0.1";
    o.agentPort = p.listener->port();
    o.consolePort = 0;
    o.beaconPort = 0;
    o.listenHost = "127.0.0.1";
    o.serverAnnouncePort = 9;
    o.broadcastAddress = "127.0.0.1";
    CPellwickDoc doc(std::move(o));
    doc.Start();
    for (int i = 0; i < 200 && !p.accepted; ++i) p.loop->runOnce(1);
    if (!p.accepted) std::abort();
    auto made = plat::TcpStream::connect(*p.loop, "127.0.0.1", doc.ConsolePort(), std::chrono::seconds(5));
    if (!made) std::abort();
    std::unique_ptr<plat::TcpStream> console = std::move(*made);
    console->onData([&](std::string_view b) { toConsole.append(b); });
    for (int i = 0; i < 200 && doc.Users().empty(); ++i) p.loop->runOnce(1);

    // The first byte sets the size of the pieces the agent's bytes arrive in.
    const std::size_t chunk = 1 + data[0] % 256;
    const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t step = 0;
    for (std::size_t at = 0; at < in.size() && p.accepted; at += chunk, ++step) {
      (void)p.accepted->write(in.substr(at, chunk));
      for (int i = 0; i < 4; ++i) p.loop->runOnce(0);
      if (step < std::size(kScript)) {
        const std::int32_t id = 1 + static_cast<std::int32_t>(step);
        asked.insert(id);
        (void)console->write(EncodeMessage(CMessage(kScript[step].code, id, kStatusRequest, kScript[step].text)));
      }
      for (int i = 0; i < 4; ++i) p.loop->runOnce(0);
      if (step % 8 == 7) {
        p.clock.advanceSeconds(25);
        doc.OnTimerTick();
      }
    }
    for (int i = 0; i < 20; ++i) p.loop->runOnce(0);
    doc.Close();
    for (int i = 0; i < 10; ++i) p.loop->runOnce(0);
    if (doc.QueuedBytes()->used() != 0) std::abort();
  }
  for (int i = 0; i < 4; ++i) p.loop->runOnce(0);

  MessageDecoder d;
  d.Feed(toConsole);
  CMessage m;
  DecodeStatus s;
  while ((s = d.Next(m)) == DecodeStatus::kOk) {
    if (m.status != kStatusNotify && !asked.count(m.id)) std::abort();
  }
  if (s == DecodeStatus::kInvalid) std::abort();
  return 0;
}

// Seeds: an agent that opens, then answers the forwarded sequences as a real one would, with a
// notification among them; and one that answers the opening late and out of order.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto rep = [](std::string& s, std::int32_t code, std::int32_t id, std::int32_t status, const std::string& text) {
    AppendMessage(s, CMessage(code, id, status, text));
  };
  const std::int32_t o = kOpeningId;
  std::string a(1, '\x3F');
  rep(a, kReqChangeFolder, o, kStatusFinal, "800@Functional");
  rep(a, 8195, 77, kStatusNotify, "\\");
  rep(a, kReqQuery, o, kStatusPartial, ".@H@o--@2");
  rep(a, kReqQuery, o, kStatusFinal, "800@Functional");
  rep(a, kReqQuery, o, kStatusFinal, "803@Not found");
  // The first forwarded sequence: the selection, the step to the root, the listing.
  const std::int32_t f = o + 1;
  rep(a, kReqLogon, f, kStatusFinal, "800@Functional");
  rep(a, kReqChangeFolder, f, kStatusFinal, "800@Functional");
  rep(a, kReqListRights, f, kStatusPartial, "C@o--@5");
  rep(a, kReqListRights, f, kStatusPartial, "S@pr-@OK");
  rep(a, kReqListRights, f, kStatusFinal, "800@Functional");
  rep(a, kReqLogon, f + 1, kStatusPartial, "logon 1a2b");
  rep(a, kReqLogon, f + 1, kStatusFinal, "800@Functional");
  rep(a, 8195, 78, kStatusNotify, "\\C@");
  rep(a, kNotifyNotLoggedOn, 79, kStatusNotify, "\\@");
  rep(a, kReqClose, 0, kStatusNotify, "");
  seeds.push_back(a);
  std::string b(1, '\x05');
  rep(b, kReqQuery, o, kStatusPartial, ".@H@o--@2");
  rep(b, kReqChangeFolder, o, kStatusFinal, "800@Functional");
  rep(b, kReqQuery, o, kStatusPartial, ".@H@o--@2");
  rep(b, kReqQuery, o, kStatusFinal, "800@Functional");
  rep(b, kReqQuery, o, kStatusPartial, "IPAddress@pr-@10.0.0.1");
  rep(b, kReqQuery, o, kStatusFinal, "800@Functional");
  rep(b, kReqKeepAlive, 3, kStatusRequest, "hello");
  rep(b, kReqLogon, f, kStatusFinal, "802@Access Denied");
  rep(b, kReqInvoke, f + 5, kStatusPartial, "800@Functional@M@1@");
  seeds.push_back(b);
}
