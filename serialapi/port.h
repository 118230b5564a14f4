#pragma once
// What the link needs of a serial port, so that tests can stand a scripted port in its place.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/serial/serial_port.h"

namespace glimmora {

using plat::serial::IoStatus;

class Port {
 public:
  virtual ~Port() = default;
  virtual IoStatus write(const std::uint8_t* data, std::size_t n, int timeoutMs) = 0;
  // Reads exactly n bytes (Ok) or fails; `got` tells how many arrived.
  virtual IoStatus read(std::uint8_t* data, std::size_t n, int timeoutMs, std::size_t* got) = 0;
  virtual void purge() = 0;
  virtual void clearErrors() = 0;
};

// ComN (index N-1) at 115200 baud, 8N1, exclusively; nothing when it cannot be opened.
std::unique_ptr<Port> openComPort(int index);

}  // namespace glimmora
