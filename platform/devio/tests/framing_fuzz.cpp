// Fuzzes the framing of device sockets from both ends, over real Unix-domain sockets in a private
// root. The first byte picks the end:
//   even: the input is what a client writes to a device server, which parses its requests and
//         answers each at once (output = the request's input), with an error, or not at all, by
//         the request's code; the answers that come back must be whole and fit each request.
//   odd:  the input (after a capacity byte) is what a device answers a client's requests; the
//         client must take only well-formed answers that fit its buffer, and never hang.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/paths.h"
#include "platform/base/unique_fd.h"
#include "platform/base/unix_address.h"
#include "platform/devio/device.h"
#include "platform/devio/device_server.h"
#include "platform/devio/wire.h"
#include "tests/fuzz/fuzz_seeds.h"

namespace {

namespace wire = plat::devio::wire;
using Bytes = std::vector<std::uint8_t>;

void check(bool ok) {
  if (!ok) std::abort();
}

std::filesystem::path& RootDir() {
  static std::filesystem::path dir;
  return dir;
}

void MakeRoot() {
  if (!RootDir().empty()) return;
  char templ[] = "/tmp/kelm-devio-fuzz-XXXXXX";
  const char* made = ::mkdtemp(templ);
  check(made != nullptr);
  RootDir() = made;
  ::setenv("KELM_ROOT", made, 1);
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(RootDir(), ec);
  });
}

plat::UniqueFd Connect(const std::string& node) {
  auto addr = plat::unixAddress(node);
  check(bool(addr));
  plat::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  check(fd && ::connect(fd.get(), addr->get(), addr->length) == 0);
  return fd;
}

void NonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Sends what fits without waiting; the count sent, or -1 when the connection is gone.
long SendSome(int fd, const std::uint8_t* p, std::size_t n) {
  if (n == 0) return 0;
  ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (w < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  return w;
}

// Reads what is there without waiting; false once the other end is gone.
bool ReceiveSome(int fd, Bytes& into) {
  std::uint8_t buf[16384];
  for (;;) {
    ssize_t r = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (r > 0) {
      into.insert(into.end(), buf, buf + r);
      continue;
    }
    return r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

// The server's end: requests written in pieces, answers read back.
void ServerEnd(const std::uint8_t* data, std::size_t size) {
  static std::unique_ptr<plat::devio::DeviceServer> server = [] {
    auto s = plat::devio::DeviceServer::listen("fuzzserver");
    check(bool(s));
    return std::move(*s);
  }();
  std::vector<std::uint32_t> capacities;  // of the answered requests, in order
  server->onRequest([&](plat::devio::DeviceServer::Request r) {
    switch (r.code % 3) {
      case 0:
        capacities.push_back(r.outputCapacity);
        server->answer(r.id, 0, r.input);  // more than the capacity becomes EOVERFLOW
        break;
      case 1:
        capacities.push_back(r.outputCapacity);
        server->answer(r.id, 1 + (r.code >> 8) % 200, r.input);
        break;
      default:
        break;  // left waiting: later requests on the connection wait behind it
    }
  });
  plat::UniqueFd client = Connect(server->path());
  Bytes answers;
  std::size_t sent = 0;
  bool open = true;
  // Until everything is sent and a few rounds pass without a new answer byte.
  for (int round = 0, quiet = 0; round < 512 && open && quiet < 3; ++round) {
    const long w = SendSome(client.get(), data + sent, std::min<std::size_t>(size - sent, 4096));
    if (w < 0) break;
    sent += static_cast<std::size_t>(w);
    server->pollOnce(0);
    const std::size_t before = answers.size();
    open = ReceiveSome(client.get(), answers);
    quiet = sent == size && answers.size() == before ? quiet + 1 : 0;
  }
  client.reset();
  for (int round = 0; round < 16 && server->connections() > 0; ++round) server->pollOnce(10);
  server->onRequest({});
  check(server->connections() == 0);

  // Whole answers, each within its request's capacity, and no error carrying output; an answer
  // cut off by the end of the exchange is not judged.
  std::size_t at = 0, n = 0;
  while (answers.size() - at >= wire::kAnswerHeader) {
    check(wire::get32(answers.data() + at) == wire::kAnswerMagic);
    const std::uint32_t status = wire::get32(answers.data() + at + 4);
    const std::uint32_t length = wire::get32(answers.data() + at + 8);
    check(n < capacities.size());
    check(length <= capacities[n]);
    check(status == 0 || length == 0);
    if (answers.size() - at - wire::kAnswerHeader < length) break;
    at += wire::kAnswerHeader + length;
    ++n;
  }
}

// The client's end: a device that answers with the input.
void ClientEnd(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  static plat::UniqueFd listener = [] {
    const auto node = plat::paths::deviceNode("fuzzdevice");
    check(bool(plat::paths::ensureDir(node.parent_path())));
    ::unlink(node.c_str());
    auto addr = plat::unixAddress(node.string());
    check(bool(addr));
    plat::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    check(fd && ::bind(fd.get(), addr->get(), addr->length) == 0 && ::listen(fd.get(), 4) == 0);
    return fd;
  }();
  const std::size_t capacity = (data[0] * 131u) % (wire::kMaxOutput + 2);
  auto handle = plat::devio::open("fuzzdevice");
  check(bool(handle));
  handle->setTimeout(std::chrono::milliseconds(5000));  // never reached: the device's end is shut
  plat::UniqueFd device(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  check(bool(device));
  NonBlocking(device.get());
  // The answers go ahead of the requests; what the socket cannot hold is dropped.
  std::size_t sent = 0;
  while (sent < size - 1) {
    const long w = SendSome(device.get(), data + 1 + sent, size - 1 - sent);
    if (w <= 0) break;
    sent += static_cast<std::size_t>(w);
  }
  ::shutdown(device.get(), SHUT_WR);
  const std::uint8_t request[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes out(std::min<std::size_t>(capacity, wire::kMaxOutput + 1));
  for (int i = 0; i < 8 && handle->valid(); ++i) {
    auto got = plat::devio::ioctl(*handle, 0x222EC0u + static_cast<std::uint32_t>(i), request, out);
    if (got) check(*got <= out.size());
    if (out.size() > wire::kMaxOutput) check(!got);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  MakeRoot();
  if (data[0] % 2 == 0)
    ServerEnd(data + 1, size - 1);
  else
    ClientEnd(data + 1, size - 1);
  return 0;
}

void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto word = [](std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  };
  // Requests: answered at once, refused, one too large for its capacity, one left waiting.
  std::string requests(1, '\0');
  for (std::uint32_t code : {0x222EC0u, 0x222E81u, 0x4D008u, 0x222F42u, 3u}) {
    const std::string input = code == 0x4D008u ? std::string(40, 'x') : "abcd";
    word(requests, wire::kRequestMagic);
    word(requests, code);
    word(requests, static_cast<std::uint32_t>(input.size()));
    word(requests, code == 0x4D008u ? 16u : 2048u);
    requests += input;
  }
  seeds.push_back(requests);
  // Answers: one with output, one refused, then one that breaks the framing.
  std::string answers = "\1";
  answers += static_cast<char>(16);  // a capacity of 16 * 131 % 65538 bytes
  for (auto [status, output] : {std::pair{0u, std::string("0123456789")}, std::pair{5u, std::string()}}) {
    word(answers, wire::kAnswerMagic);
    word(answers, status);
    word(answers, static_cast<std::uint32_t>(output.size()));
    answers += output;
  }
  word(answers, wire::kAnswerMagic);
  word(answers, 0);
  word(answers, 0xFFFFFFFFu);
  seeds.push_back(answers);
}
