// Any bytes as an SMTP server's replies to one mail, over a real loopback connection: the reply
// reader stays bounded, every exchange ends with exactly one outcome, and whatever the server said
// the client neither crashes nor hangs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "agent/events/smtp_client.h"
#include "platform/loop/socket.h"
#include "platform/testing/manual_clock.h"

using namespace kelm::events;

namespace {

struct Server {
  plat::ManualClock clock{1000000000};
  std::unique_ptr<plat::EventLoop> loop;
  std::unique_ptr<plat::TcpListener> listener;
  std::unique_ptr<plat::TcpStream> accepted;
  std::unique_ptr<SmtpClient> client;
  std::string replies;
  bool closeAfter = false;
};

Server& server() {
  static Server* s = [] {
    auto* x = new Server;
    auto loop = plat::makeEpollLoop(x->clock);
    if (!loop) std::abort();
    x->loop = std::move(*loop);
    auto listener = plat::TcpListener::listen(*x->loop, "127.0.0.1", 0);
    if (!listener) std::abort();
    x->listener = std::move(*listener);
    x->listener->onAccept([x](std::unique_ptr<plat::TcpStream> st) {
      x->accepted = std::move(st);
      x->accepted->onData([](std::string_view) {});
      (void)x->accepted->write(x->replies);
      if (x->closeAfter) x->accepted->close();
    });
    x->client = std::make_unique<SmtpClient>(*x->loop, x->clock);
    // The first mail looks up who this host is, on a helper thread; later ones to a dotted address
    // need no look-up, so each input is only the exchange.
    x->closeAfter = true;
    MailJob warm;
    warm.server = "127.0.0.1:" + std::to_string(x->listener->port());
    warm.recipients = {"<a@x.test>"};
    bool done = false;
    x->client->send(warm, [&done](plat::Result<void>) { done = true; });
    for (int i = 0; i < 30000 && !done; ++i) x->loop->runOnce(1);
    if (!done) std::abort();
    return x;
  }();
  return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 256 * 1024) return 0;
  Server& s = server();
  s.closeAfter = (data[0] & 1) != 0;
  s.replies.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  s.accepted.reset();
  MailJob job;
  job.server = "127.0.0.1:" + std::to_string(s.listener->port());
  job.sender = (data[0] & 2) ? "" : "Agent <agent@x.test>";
  job.recipients = {"<a@x.test>", "<b@x.test>"};
  job.familyWord = "Marovelt";
  job.subject = "Disk failed";
  job.body = "line one\n.line two\n";
  int outcomes = 0;
  s.client->send(job, [&outcomes](plat::Result<void>) { ++outcomes; });
  for (int i = 0; i < 200 && outcomes == 0; ++i) s.loop->runOnce(i < 100 ? 1 : 0);
  // A server that went quiet: the reply time-out ends the exchange.
  for (int i = 0; i < 4 && outcomes == 0; ++i) {
    s.clock.advanceMs(61000);
    s.loop->runOnce(0);
  }
  if (outcomes != 1) __builtin_trap();
  s.accepted.reset();
  return 0;
}
