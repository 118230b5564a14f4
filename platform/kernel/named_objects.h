#pragma once
// Named objects shared between processes, as files under runtimeDir()/objects:
// a mutex is a flock()ed lock file (the kernel releases it when its owner dies), an event is a
// FIFO (setting writes a byte; nobody holding it open means nobody created it).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"

namespace plat::kernel {

// The file standing for a named object; names are bounded and made safe for a file name.
plat::Result<std::filesystem::path> objectFile(std::string_view name, std::string_view kind);

class NamedMutex {
 public:
  // Creates the mutex owned by this object; the error EEXIST when another owner (in this or
  // another process) holds it. The mutex is held until the object is destroyed or the process ends.
  static plat::Result<NamedMutex> create(std::string_view name);
  // Whether anyone holds the named mutex now.
  static bool exists(std::string_view name);
  // The same, telling a mutex nobody made from one whose file may not be read (an error).
  static plat::Result<bool> held(std::string_view name);

  NamedMutex(NamedMutex&&) noexcept = default;
  NamedMutex& operator=(NamedMutex&&) noexcept = default;

 private:
  explicit NamedMutex(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

// An auto-reset event: one wait consumes every set that came before it.
class NamedEvent {
 public:
  enum class WaitResult { Signaled, TimedOut };

  // Creates the event, or opens it when it already exists, for waiting (and setting).
  static plat::Result<NamedEvent> create(std::string_view name);
  // Opens an event that a live process created, for setting; ENXIO when nobody did.
  static plat::Result<NamedEvent> open(std::string_view name);

  // An error when the waiter has gone.
  plat::Result<void> set() const;
  // Waits for a set; no time-out waits without limit. An error for a handle opened only for
  // setting, or a wait that failed.
  plat::Result<WaitResult> wait(std::optional<std::uint32_t> timeoutMs) const;
  // Readable when set, for an event loop (wait(0) then consumes it).
  int fd() const { return fd_.get(); }

  NamedEvent(NamedEvent&&) noexcept = default;
  NamedEvent& operator=(NamedEvent&&) noexcept = default;

 private:
  NamedEvent(UniqueFd fd, bool waiter) : fd_(std::move(fd)), waiter_(waiter) {}
  UniqueFd fd_;
  bool waiter_ = false;
};

}  // namespace plat::kernel
