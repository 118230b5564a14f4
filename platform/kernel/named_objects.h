#pragma once
// Named objects shared between processes, as files under runtimeDir()/objects:
// a mutex is a flock()ed lock file (the kernel releases it when its owner dies), an event is a
// FIFO (setting writes a byte; nobody holding it open means nobody created it).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plat::kernel {

// The file standing for a named object; names are bounded and made safe for a file name.
std::optional<std::filesystem::path> objectFile(std::string_view name, std::string_view kind);

class NamedMutex {
 public:
  enum class Result { Created, AlreadyExists, Failed };

  // Creates the mutex owned by this object. AlreadyExists when another owner (in this or
  // another process) holds it; the mutex is held until the object is destroyed or the process ends.
  static std::optional<NamedMutex> create(std::string_view name, Result* result = nullptr);
  // Whether anyone holds the named mutex now.
  static bool exists(std::string_view name);

  NamedMutex(NamedMutex&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  NamedMutex& operator=(NamedMutex&& o) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  ~NamedMutex();

 private:
  explicit NamedMutex(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// An auto-reset event: one wait consumes every set that came before it.
class NamedEvent {
 public:
  enum class WaitResult { Signaled, TimedOut, Failed };

  // Creates the event, or opens it when it already exists, for waiting (and setting).
  static std::optional<NamedEvent> create(std::string_view name);
  // Opens an event that a live process created, for setting; nothing when nobody did.
  static std::optional<NamedEvent> open(std::string_view name);

  bool set() const;
  // Waits for a set; no time-out waits without limit.
  WaitResult wait(std::optional<std::uint32_t> timeoutMs) const;
  // Readable when set, for an event loop (wait(0) then consumes it).
  int fd() const { return fd_; }

  NamedEvent(NamedEvent&& o) noexcept : fd_(o.fd_), waiter_(o.waiter_) { o.fd_ = -1; }
  NamedEvent& operator=(NamedEvent&& o) noexcept;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  ~NamedEvent();

 private:
  NamedEvent(int fd, bool waiter) : fd_(fd), waiter_(waiter) {}
  int fd_ = -1;
  bool waiter_ = false;
};

}  // namespace plat::kernel
