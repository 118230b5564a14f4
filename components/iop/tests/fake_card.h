#pragma once
// A recording stand-in for the driver's device in unit tests: it answers the identify request, API
// messages and parameter reads from a small model that each test changes as it needs.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/iop/controller_device.h"
#include "components/iop/tests/wire_bytes.h"
#include "platform/devio/device.h"

namespace kelm::iop::testing {

struct SentMessage {
  std::int32_t controller = 0;
  std::uint16_t command = 0;
  Bytes data;  // the request data after the header
  std::uint32_t Word(std::size_t i) const { return GetLe(data, 4 * i, 4); }
};

// A reply: the status, then the reply's bytes.
struct Reply {
  std::uint32_t status = 0;
  Bytes body;
  static Reply Words(std::initializer_list<std::uint32_t> w, std::uint32_t status = 0) { return {status, Le32(w)}; }
  static Reply Text(const std::string& t) {
    Bytes b(t.begin(), t.end());
    b.push_back(0);
    return {0, b};
  }
};

class FakeCard {
 public:
  using Handler = std::function<Reply(const SentMessage&)>;

  FakeCard() {
    device_ = std::make_unique<plat::devio::InProcessDevice>(
        kDriverDevice, [this](std::uint32_t code, std::span<const std::uint8_t> in,
                              std::span<std::uint8_t> out) -> plat::Result<std::size_t> {
          std::lock_guard lock(mutex_);
          return Serve(code, in, out);
        });
  }

  // Cards that answer the identify request (by controller number) and their target ids.
  std::map<std::int32_t, std::uint16_t> cards{{0, 0x0A5}};
  std::map<std::uint16_t, Handler> handlers;
  // Parameter-read replies by group.
  std::map<std::uint16_t, Bytes> params;
  std::vector<SentMessage> sent;
  // Commands whose request fails in the transport (recorded, never answered).
  std::map<std::uint16_t, plat::Error> broken;

  void On(std::uint16_t command, Handler h) { handlers[command] = std::move(h); }
  void On(std::uint16_t command, Reply r) {
    handlers[command] = [r](const SentMessage&) { return r; };
  }
  std::vector<SentMessage> Sent(std::uint16_t command) const {
    std::vector<SentMessage> out;
    for (const auto& m : sent)
      if (m.command == command) out.push_back(m);
    return out;
  }

 private:
  plat::Result<std::size_t> Serve(std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    if (code == kIoctlIdentify) {
      auto it = cards.find(static_cast<std::int32_t>(GetLe(in, 0, 4)));
      if (it == cards.end()) return plat::Error{ENODEV, "no such card"};
      PutLeAt(out, 4, std::uint32_t{it->second} << 16, 4);
      return std::size_t{80};
    }
    if (code == kIoctlParams) {
      auto it = params.find(static_cast<std::uint16_t>(GetLe(in, 12, 2)));
      if (it == params.end()) return plat::Error{EIO, "no such group"};
      const std::size_t n = std::min(it->second.size(), out.size());
      std::copy_n(it->second.begin(), n, out.begin());
      return n;
    }
    if (code != kIoctlApiMessage || in.size() < 10) return plat::Error{EINVAL, "unknown request"};
    SentMessage m;
    m.controller = static_cast<std::int32_t>(GetLe(in, 0, 4));
    m.command = static_cast<std::uint16_t>(GetLe(in, 8, 2));
    m.data.assign(in.begin() + 10, in.end());
    sent.push_back(m);
    if (auto b = broken.find(m.command); b != broken.end()) return b->second;
    auto it = handlers.find(m.command);
    // A command the model does not know answers status 0 and zeros.
    Reply r = it == handlers.end() ? Reply{0, Bytes(16, 0)} : it->second(m);
    Bytes all = Le32({r.status});
    all.insert(all.end(), r.body.begin(), r.body.end());
    const std::size_t n = std::min(all.size(), out.size());
    std::copy_n(all.begin(), n, out.begin());
    return n;
  }

  std::mutex mutex_;
  std::unique_ptr<plat::devio::InProcessDevice> device_;
};

}  // namespace kelm::iop::testing
