#pragma once
// A port that plays the subsystem's side from a script: it answers the handshake, records every request
// and hands out canned replies in order. No threads, no waiting.
#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/clock.h"
#include "platform/testing/manual_clock.h"
#include "serialapi/glimmora_api.h"

namespace glimmora::testing {

using Bytes = std::vector<std::uint8_t>;

struct Wire {
  std::mutex m;
  Bytes handshake{0xA3, 0xA3, 0xA3};
  bool silent = false;            // nothing answers
  bool stuck = false;             // writes never complete
  bool hungUp = false;            // the line is gone: every write and read fails
  bool unplugged = false;         // opening any port fails
  std::vector<Bytes> requests;    // every write but the handshake bytes
  std::vector<Bytes> handshakes;  // the single handshake bytes written
  std::deque<Bytes> replies;
  Bytes pending;
  std::vector<int> readTimeouts;
  int opens = 0;

  void reply(Bytes b) {
    std::lock_guard<std::mutex> g(m);
    replies.push_back(std::move(b));
  }
  std::vector<Bytes> takeRequests() {
    std::lock_guard<std::mutex> g(m);
    auto r = std::move(requests);
    requests.clear();
    return r;
  }
};

class ScriptedPort final : public Port {
 public:
  explicit ScriptedPort(std::shared_ptr<Wire> w) : w_(std::move(w)) {}
  plat::Result<std::size_t> write(const std::uint8_t* data, std::size_t n, int) override {
    std::lock_guard<std::mutex> g(w_->m);
    if (w_->hungUp) return plat::Error{EIO, "the line hung up"};
    if (w_->stuck) return std::size_t{0};  // the time-out, nothing sent
    Bytes b(data, data + n);
    if (n == 1 && (b[0] == 0xA2 || b[0] == 0xA4)) {
      w_->handshakes.push_back(b);
      if (b[0] == 0xA2 && !w_->silent) w_->pending = w_->handshake;
      return n;
    }
    w_->requests.push_back(b);
    if (!w_->silent && !w_->replies.empty()) {
      w_->pending = w_->replies.front();
      w_->replies.pop_front();
    }
    return n;
  }
  plat::Result<std::size_t> read(std::uint8_t* data, std::size_t n, int timeoutMs) override {
    std::lock_guard<std::mutex> g(w_->m);
    w_->readTimeouts.push_back(timeoutMs);
    if (w_->hungUp) return plat::Error{EIO, "the line hung up"};
    std::size_t k = std::min(n, w_->pending.size());
    std::copy(w_->pending.begin(), w_->pending.begin() + static_cast<long>(k), data);
    w_->pending.erase(w_->pending.begin(), w_->pending.begin() + static_cast<long>(k));
    return k;  // short of n: the time-out
  }
  // What was written is recorded at once: there is no output left to drop.
  void purge() override { discardInput(); }
  void discardInput() override {
    std::lock_guard<std::mutex> g(w_->m);
    w_->pending.clear();
  }
  void clearErrors() override {}

 private:
  std::shared_ptr<Wire> w_;
};

// A library instance on scripted ports; `present` says which ComN exist.
struct ScriptedLibrary {
  std::shared_ptr<Wire> wire = std::make_shared<Wire>();
  plat::RecordingSleeper sleeper;
  Settings settings;
  std::vector<int> present{0};
  std::vector<std::string> traces;
  std::vector<std::string> logged;  // the library's log, under traceMutex
  std::mutex traceMutex;
  // Why a port that is not present cannot be opened.
  plat::Error missing{ENOENT, "cannot open the port: No such file or directory"};
  std::unique_ptr<Glimmora> lib;

  ScriptedLibrary() {
    LinkEnv env;
    env.sleeper = &sleeper;
    env.openPort = [this](int index) -> plat::Result<std::unique_ptr<Port>> {
      std::lock_guard<std::mutex> g(wire->m);
      if (wire->unplugged || std::find(present.begin(), present.end(), index) == present.end()) return missing;
      ++wire->opens;
      return std::unique_ptr<Port>(std::make_unique<ScriptedPort>(wire));
    };
    env.readSettings = [this] { return settings; };
    env.trace = [this](std::string_view s) {
      std::lock_guard<std::mutex> g(traceMutex);
      traces.emplace_back(s);
    };
    env.log = [this](std::string_view s) {
      std::lock_guard<std::mutex> g(traceMutex);
      logged.emplace_back(s);
    };
    lib = std::make_unique<Glimmora>(std::move(env));
  }
  ~ScriptedLibrary() { lib->terminate(); }

  // Starts with autoconnect so the connection thread shakes hands at once; waits for it.
  bool connect();
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> g(traceMutex);
    return logged;
  }
  bool hasTrace(std::string_view s) {
    std::lock_guard<std::mutex> g(traceMutex);
    for (auto& t : traces)
      if (t == s) return true;
    return false;
  }
};

// Waits (briefly, really) for a condition that another thread makes true.
bool eventually(const std::function<bool()>& condition);

// A reply frame: the echoed code, two unread bytes, the payload.
Bytes replyFrame(std::uint16_t code, Bytes payload);
Bytes le32(std::uint32_t v);
Bytes cat(std::initializer_list<Bytes> parts);

}  // namespace glimmora::testing
