// Fuzzes the serial link's handshake and its failed reads: every byte the ports answer, and whether
// each write or read succeeds, times out, fails or comes up short, is taken from the input. The link
// may only call itself ready after a handshake answer that starts A3 A3.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "serialapi/link.h"
#include "tests/fuzz/fuzz_seeds.h"

namespace {

// What the input makes of one write or read.
enum class Outcome { Ok, Timeout, Error };

// The input, shared by every port the link opens; once it runs out every operation times out.
struct Script {
  std::mutex m;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0, pos = 0;
  bool handshakeAnswered = false;  // the last answer to A2 started A3 A3
  bool lastWasHello = false;

  bool next(std::uint8_t& b) {
    if (pos >= size) return false;
    b = data[pos++];
    return true;
  }
  Outcome status() {
    std::uint8_t b;
    if (!next(b)) return Outcome::Timeout;
    switch (b & 7) {
      case 6:
        return Outcome::Timeout;
      case 7:
        return Outcome::Error;
      default:
        return Outcome::Ok;
    }
  }
};

class ScriptPort final : public glimmora::Port {
 public:
  explicit ScriptPort(Script& s) : s_(s) {}
  plat::Result<std::size_t> write(const std::uint8_t* d, std::size_t n, int) override {
    std::lock_guard<std::mutex> g(s_.m);
    s_.lastWasHello = n == 1 && d[0] == 0xA2;
    switch (s_.status()) {
      case Outcome::Ok:
        return n;
      case Outcome::Timeout:
        return std::size_t{0};
      default:
        return plat::Error{EIO, "the line failed"};
    }
  }
  plat::Result<std::size_t> read(std::uint8_t* d, std::size_t n, int) override {
    std::lock_guard<std::mutex> g(s_.m);
    Outcome st = s_.status();
    std::size_t i = 0;
    for (; i < n; ++i)
      if (!s_.next(d[i])) break;
    if (i < n && st == Outcome::Ok) st = Outcome::Timeout;  // a short answer
    if (s_.lastWasHello) s_.handshakeAnswered = st == Outcome::Ok && n >= 2 && d[0] == 0xA3 && d[1] == 0xA3;
    if (st == Outcome::Error) return plat::Error{EIO, "the line failed"};
    return st == Outcome::Ok ? n : std::min(i, n - 1);  // a time-out always comes short
  }
  void purge() override {}
  void discardInput() override {}
  void clearErrors() override {}

 private:
  Script& s_;
};

class NoSleep final : public plat::Sleeper {
 public:
  void sleepMs(std::uint32_t) override { std::this_thread::yield(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static NoSleep sleeper;
  Script script;
  script.data = data + 1;
  script.size = size - 1;
  const std::uint8_t mode = data[0];
  std::atomic<int> waits{0};

  glimmora::LinkEnv env;
  env.sleeper = &sleeper;
  env.openPort = [&script, mode](int index) -> plat::Result<std::unique_ptr<glimmora::Port>> {
    if ((mode >> 4) & (1 << (index % 4))) return plat::Error{ENOENT, "missing"};  // some ports are missing
    return std::unique_ptr<glimmora::Port>(std::make_unique<ScriptPort>(script));
  };
  env.readSettings = [mode] {
    glimmora::Settings s;
    s.number = 1 + (mode & 3);
    return s;
  };
  env.trace = [&waits](std::string_view t) {
    if (t.find("Waiting for hComMonitor") != std::string_view::npos) ++waits;
  };
  {
    glimmora::Link link(env);
    if (link.initialize() != 0) return 0;
    // One round of connecting, then a few commands whose replies come from the input.
    link.tryToConnect();
    for (long i = 0; waits < 2 && i < 100000000; ++i) std::this_thread::yield();
    {
      std::lock_guard<std::mutex> g(script.m);
      if (link.ready() && !script.handshakeAnswered) std::abort();
    }
    for (int c = 0; c < 4 && link.ready(); ++c) {
      std::uint8_t request[8] = {0xA1, 0xA1, static_cast<std::uint8_t>(110 + c), 0, 1, 0, 13, 0};
      std::uint8_t reply[17] = {};
      (void)link.transaction(reply, sizeof reply, request, sizeof request, 100);  // any outcome is fine here
    }
    // With autoconnect a lost link reconnects by itself until the input runs out or it is stopped.
    if (mode & 4) link.setAutoConnect(1);
    link.terminate();
  }
  return 0;
}

// Seeds: a clean handshake (warm and cold), one that answers A3 and then nothing, and failed reads.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  using namespace std::string_literals;
  // mode; write ok; read ok A3 A3 A3; write ok (A4); then a command: write ok, read ok and 17 bytes.
  seeds.push_back(
      "\x01\x00\x00\xA3\xA3\xA3\x00\x00\x00\x6E\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"s);
  seeds.push_back("\x02\x00\x00\xA3\xA3\x00\x00\x00\x06"s);
  seeds.push_back("\x05\x00\x00\xA3\x00\x00\x00\xA3\xA3\xA3\x00\x00\x07"s);
  seeds.push_back("\x10\x07\x06\x00\x00\xA3\xA3\xA3"s);
}
