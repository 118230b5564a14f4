#pragma once
// What the link needs of a serial port, so that tests can stand a scripted port in its place.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/serial/serial_port.h"

namespace glimmora {

class Port {
 public:
  virtual ~Port() = default;
  // The bytes moved: all n, or fewer when the time-out came first. An error is a line that failed
  // (a hang-up): the link then opens the port afresh.
  virtual plat::Result<std::size_t> write(const std::uint8_t* data, std::size_t n, int timeoutMs) = 0;
  virtual plat::Result<std::size_t> read(std::uint8_t* data, std::size_t n, int timeoutMs) = 0;
  // Drops what is queued both ways: after a failure, so that nothing of it reaches the next command.
  virtual void purge() = 0;
  // Drops received bytes not yet read (a reply that came too late), keeping written ones on their way.
  virtual void discardInput() = 0;
  virtual void clearErrors() = 0;
};

// ComN (index N-1) at 115200 baud, 8N1, exclusively; the reason when it cannot be opened (no such
// device, no permission, in use).
plat::Result<std::unique_ptr<Port>> openComPort(int index);

}  // namespace glimmora
