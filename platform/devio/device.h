#pragma once
// Opening a device by name and sending it control requests: the stand-in for opening "\\.\NAME"
// and the driver's control call. A device is a Unix-domain socket at dev/NAME under the root prefix
// (plat::paths::deviceNode) that a simulator serves (see device_server.h); unit tests register an
// in-process device instead, which takes precedence over the socket of the same name.
//
// Every handle is a connection of its own, so a request that blocks (a rebuild that runs until the
// driver finishes) blocks only the thread that sent it; other handles keep working. One handle is
// used by one thread at a time.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/result.h"

namespace plat::devio {

// Serves one request in-process: reads `in`, writes at most out.size() bytes to `out` and gives how
// many it wrote, or an error (its code is the request's status). `in` and `out` never overlap. Called
// on the requesting thread, possibly from several threads at once.
using InProcessHandler =
    std::function<Result<std::size_t>(std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out)>;

namespace detail {
struct Connection;
}

// Lets another thread end what blocks on a handle (a rebuild request at shutdown): the request
// fails with ECANCELED and the handle is closed. Harmless once the handle is gone; does nothing
// for an in-process device.
class Interrupter {
 public:
  Interrupter() = default;
  void interrupt() const;

 private:
  friend class Handle;
  explicit Interrupter(std::weak_ptr<detail::Connection> c) : conn_(std::move(c)) {}
  std::weak_ptr<detail::Connection> conn_;
};

class Handle {
 public:
  Handle() = default;
  Handle(Handle&&) noexcept = default;
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { close(); }

  bool valid() const;
  const std::string& name() const { return name_; }
  // The longest a request waits for its answer; zero (the default) waits as long as the device takes.
  void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  Interrupter interrupter() const { return Interrupter(conn_); }
  void close();

 private:
  friend Result<Handle> open(std::string_view name);
  friend Result<std::size_t> ioctl(Handle&, std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t>);
  std::string name_;
  std::shared_ptr<detail::Connection> conn_;
  std::shared_ptr<const InProcessHandler> local_;
  std::chrono::milliseconds timeout_{0};
};

// Opens the device "\\.\NAME" (or plain "NAME"). Fails with ENOENT when nothing serves the name.
Result<Handle> open(std::string_view name);

// Sends one request: `in` goes to the device, its answer lands in `out`; the number of answered
// bytes (at most out.size()). `in` and `out` may be the same buffer. Fails with the device's status,
// with EMSGSIZE when `in` or `out` exceed the framing's bounds, and with EPROTO when the answer
// breaks the framing (the handle is then closed).
Result<std::size_t> ioctl(Handle& handle, std::uint32_t code, std::span<const std::uint8_t> in,
                          std::span<std::uint8_t> out);

// An in-process device for unit tests, registered while the object lives. Handles opened meanwhile
// keep the handler alive after the registration ends.
class InProcessDevice {
 public:
  InProcessDevice(std::string_view name, InProcessHandler handler);
  ~InProcessDevice();
  InProcessDevice(const InProcessDevice&) = delete;
  InProcessDevice& operator=(const InProcessDevice&) = delete;

 private:
  std::string key_;
};

}  // namespace plat::devio
