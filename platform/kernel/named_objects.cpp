#include "platform/kernel/named_objects.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/base/paths.h"

namespace plat::kernel {
namespace {

constexpr std::size_t kMaxNameLength = 200;

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::optional<std::filesystem::path> objectFile(std::string_view name, std::string_view kind) {
  if (name.empty() || name.size() > kMaxNameLength) return std::nullopt;
  std::string safe;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    safe.push_back(u < 0x20 || c == '/' || c == '\\' || u == 0x7f ? '_' : c);
  }
  if (safe[0] == '.') safe[0] = '_';
  return paths::runtimeDir() / "objects" / (safe + "." + std::string(kind));
}

// ---- NamedMutex ----

std::optional<NamedMutex> NamedMutex::create(std::string_view name, Result* result) {
  auto set = [&](Result r) {
    if (result) *result = r;
  };
  auto file = objectFile(name, "lock");
  if (!file || !paths::ensureDir(file->parent_path(), 0755)) {
    set(Result::Failed);
    return std::nullopt;
  }
  int fd = ::open(file->c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    set(Result::Failed);
    return std::nullopt;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    set(errno == EWOULDBLOCK ? Result::AlreadyExists : Result::Failed);
    ::close(fd);
    return std::nullopt;
  }
  set(Result::Created);
  return NamedMutex(fd);
}

bool NamedMutex::exists(std::string_view name) {
  auto file = objectFile(name, "lock");
  if (!file) return false;
  int fd = ::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = false;
  while (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    held = errno == EWOULDBLOCK;
    break;
  }
  ::close(fd);  // also drops the shared lock taken for the test
  return held;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::close(fd_);
}

// ---- NamedEvent ----

std::optional<NamedEvent> NamedEvent::create(std::string_view name) {
  auto file = objectFile(name, "event");
  if (!file || !paths::ensureDir(file->parent_path(), 0755)) return std::nullopt;
  if (::mkfifo(file->c_str(), 0622) != 0 && errno != EEXIST) return std::nullopt;
  struct stat st {};
  if (::lstat(file->c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return std::nullopt;
  // Read and write: the open never blocks, and the FIFO never reads as closed while we hold it.
  int fd = ::open(file->c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  return NamedEvent(fd, true);
}

std::optional<NamedEvent> NamedEvent::open(std::string_view name) {
  auto file = objectFile(name, "event");
  if (!file) return std::nullopt;
  struct stat st {};
  if (::lstat(file->c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return std::nullopt;
  // A FIFO nobody reads refuses a non-blocking writer (ENXIO): its creator is gone.
  int fd = ::open(file->c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  return NamedEvent(fd, false);
}

bool NamedEvent::set() const {
  if (fd_ < 0) return false;
  // A waiter that went away must give a failed set, not a SIGPIPE that ends this process:
  // the signal is blocked around the write and a pending one it raised is taken back.
  sigset_t pipeOnly, old;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t pendingBefore;
  sigpending(&pendingBefore);
  bool wasPending = sigismember(&pendingBefore, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
  const char b = 1;
  bool ok = false;
  for (;;) {
    ssize_t n = ::write(fd_, &b, 1);
    if (n < 0 && errno == EINTR) continue;
    ok = n == 1 || (n < 0 && errno == EAGAIN);  // a full FIFO: it is set already
    if (n < 0 && errno == EPIPE && !wasPending) {
      timespec zero{0, 0};
      while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    break;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}

NamedEvent::WaitResult NamedEvent::wait(std::optional<std::uint32_t> timeoutMs) const {
  if (fd_ < 0 || !waiter_) return WaitResult::Failed;
  const std::int64_t deadline = timeoutMs ? nowMs() + *timeoutMs : 0;
  for (;;) {
    int remaining = -1;
    if (timeoutMs) {
      std::int64_t left = deadline - nowMs();
      remaining = left > 0 ? static_cast<int>(std::min<std::int64_t>(left, 1 << 30)) : 0;
    }
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, remaining);
    if (r < 0) {
      if (errno == EINTR) continue;
      return WaitResult::Failed;
    }
    if (r == 0) return WaitResult::TimedOut;
    // Auto-reset: every set so far is consumed by this one wake.
    char buf[256];
    bool got = false;
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        got = true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    if (got) return WaitResult::Signaled;
    if (timeoutMs && deadline - nowMs() <= 0) return WaitResult::TimedOut;
  }
}

NamedEvent& NamedEvent::operator=(NamedEvent&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    waiter_ = o.waiter_;
    o.fd_ = -1;
  }
  return *this;
}

NamedEvent::~NamedEvent() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace plat::kernel
