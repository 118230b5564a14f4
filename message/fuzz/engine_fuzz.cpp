// Feeds a peer's bytes to the request engine over a real loopback connection while requests are
// queued: reply matching, result parsing, failure propagation and the keep-alive echo. Whatever the
// peer sends, everything the engine sends back is a well-formed record within the limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "message/message_api.h"
#include "message/message_codec.h"
#include "message/msg_socket.h"
#include "platform/base/clock.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"
#include "tests/fuzz/fuzz_seeds.h"
#include "platform/testing/manual_clock.h"

using namespace kelm;

namespace {

constexpr std::int64_t kWall = 1000000000;  // the engine's identifiers start here

struct Peer {
  std::unique_ptr<plat::EventLoop> loop;
  std::unique_ptr<plat::TcpListener> listener;
  std::unique_ptr<plat::TcpStream> accepted;
  std::string received;
};

Peer& peer() {
  static Peer* p = [] {
    auto* q = new Peer;
    auto loop = plat::makeEpollLoop();
    if (!loop) std::abort();
    q->loop = std::move(*loop);
    auto listener = plat::TcpListener::listen(*q->loop, "127.0.0.1", 0);
    if (!listener) std::abort();
    q->listener = std::move(*listener);
    q->listener->onAccept([q](std::unique_ptr<plat::TcpStream> s) {
      q->accepted = std::move(s);
      q->accepted->onData([q](std::string_view b) { q->received.append(b); });
    });
    return q;
  }();
  return *p;
}

void settle(plat::EventLoop& loop) {
  for (int i = 0; i < 4; ++i) loop.runOnce(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Peer& p = peer();
  p.received.clear();
  plat::ManualClock clock(kWall);
  {
    CMessageApi api(clock, p.loop.get());
    ConnectParams params;
    params.address = "127.0.0.1";
    params.port = p.listener->port();
    params.flags = kConnNotify | kConnNotify2 | kConnUsePort;
    int calls = 0;
    params.callback = [&calls](std::int32_t, void*, const RequestView*, std::int32_t) {
      ++calls;
      return 0;
    };
    if (api.Connect(params, 0) != 0) std::abort();
    for (int i = 0; i < 100 && !p.accepted; ++i) p.loop->runOnce(1);
    if (!p.accepted) std::abort();

    // Identifiers kWall+1 .. kWall+4; the change of folder expands into three steps of kWall+3.
    api.SendList(".", 0, nullptr);
    api.SendFormatted4102("Rebuild", "%d@%d", 0, nullptr, 512, 3);
    api.SendChangeFolder("\\Arrays\\1", 0, nullptr);
    api.QueueRequest(kReqListRights, "", kReqKeepId, nullptr);
    api.SendRefresh(kReqQuiet, nullptr);

    // The first byte sets the size of the pieces the peer's bytes arrive in.
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (std::size_t at = 0; at < in.size() && p.accepted; at += chunk) {
      (void)p.accepted->write(in.substr(at, chunk));
      settle(*p.loop);
      if ((at / chunk) % 8 == 7) {
        clock.advanceSeconds(20);
        api.OnTimerTick();
      }
    }
    settle(*p.loop);
    clock.advanceSeconds(61);
    api.OnTimerTick();
    api.Close();
    settle(*p.loop);
  }
  settle(*p.loop);
  p.accepted.reset();

  // Everything the engine wrote decodes as whole records within the limit.
  MessageDecoder d;
  d.Feed(p.received);
  CMessage m;
  DecodeStatus s;
  while ((s = d.Next(m)) == DecodeStatus::kOk) {
    if (m.text.size() > kMaxTextBytes) std::abort();
  }
  if (s == DecodeStatus::kInvalid) std::abort();
  return 0;
}

// Seeds: the answers a peer gives to the queued requests, a keep-alive and a notification.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  const std::int32_t first = static_cast<std::int32_t>(kWall) + 1;
  std::string s(1, '\x3F');
  AppendMessage(s, CMessage(kReqQuery, first, kStatusPartial, "Arrays@o--@2"));
  AppendMessage(s, CMessage(kReqQuery, first, kStatusFinal, "800@Functional"));
  AppendMessage(s, CMessage(kReqKeepAlive, 12345, kStatusNotify, "hello buddy!"));
  AppendMessage(s, CMessage(kReqInvoke, first + 1, kStatusFinal, "804@Abort"));
  AppendMessage(s, CMessage(kReqChangeFolder, first + 2, kStatusFinal, "800@Functional"));
  AppendMessage(s, CMessage(kReqChangeFolder, first + 2, kStatusFinal, "806@Not found"));
  AppendMessage(s, CMessage(kNotifyEvent, 0, kStatusNotify, "519@1765360000@0@Array@Create a new array 2."));
  seeds.push_back(s);
  std::string t(1, '\x00');
  AppendMessage(t, CMessage(kNotifyNotLoggedOn, 0, kStatusNotify, "\\@"));
  AppendMessage(t, CMessage(kReqClose, 0, kStatusRequest, ""));
  seeds.push_back(t);
}
