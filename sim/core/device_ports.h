#pragma once
// The devices a driver simulator serves, as a fixed set of slots (a SCSI port or a driver's own
// name each): opening one, and driving all of them from the daemon's poll loop.
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/base/result.h"
#include "platform/devio/device_server.h"
#include "sim/core/simulator.h"

namespace sim {

using DeviceSlot = std::unique_ptr<plat::devio::DeviceServer>;

// Serves `name` in an empty slot; the slot stays empty when it cannot.
inline plat::Result<void> serveDevice(DeviceSlot& slot, const std::string& name) {
  auto listening = plat::devio::DeviceServer::listen(name);
  if (!listening) return plat::Error{listening.code(), "cannot serve " + name + ": " + listening.message()};
  slot = std::move(*listening);
  return plat::success();
}

inline void deviceWatches(std::span<const DeviceSlot> slots, std::vector<Watch>& out) {
  std::vector<pollfd> fds;
  for (const auto& s : slots)
    if (s) s->pollSet(fds);
  for (const auto& p : fds) out.push_back({p.fd, p.events});
}

// Hands readiness to the device that owns the descriptor.
inline void deviceReady(std::span<const DeviceSlot> slots, int fd, short revents) {
  for (const auto& s : slots)
    if (s && s->ready(fd, revents)) return;
}

}  // namespace sim
