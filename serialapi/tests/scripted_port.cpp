#include "serialapi/tests/scripted_port.h"

#include <chrono>
#include <thread>

namespace glimmora::testing {

bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

bool ScriptedLibrary::connect() {
  settings.autoconnect = 1;
  if (lib->initialize() != 0) return false;
  return eventually([this] { return lib->link().ready(); });
}

Bytes replyFrame(std::uint16_t code, Bytes payload) {
  payload.insert(payload.begin(), {static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8), 0, 0});
  return payload;
}

Bytes le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace glimmora::testing
