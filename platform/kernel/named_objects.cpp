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

plat::Result<std::filesystem::path> objectFile(std::string_view name, std::string_view kind) {
  if (name.empty() || name.size() > kMaxNameLength) return Error{EINVAL, "object name empty or too long"};
  std::string safe;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    safe.push_back(u < 0x20 || c == '/' || c == '\\' || u == 0x7f ? '_' : c);
  }
  if (safe[0] == '.') safe[0] = '_';
  return paths::runtimeDir() / "objects" / (safe + "." + std::string(kind));
}

namespace {

// The object's file, in a directory that exists.
plat::Result<std::filesystem::path> objectFileInPlace(std::string_view name, std::string_view kind) {
  auto file = objectFile(name, kind);
  if (!file) return file;
  if (auto made = paths::ensureDir(file->parent_path(), 0755); !made) return made.error();
  return file;
}

}  // namespace

// ---- NamedMutex ----

plat::Result<NamedMutex> NamedMutex::create(std::string_view name) {
  auto file = objectFileInPlace(name, "lock");
  if (!file) return file.error();
  UniqueFd fd(::open(file->c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd) return errnoError("open " + file->string());
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return Error{EEXIST, "the mutex is held by another owner"};
    return errnoError("lock " + file->string());
  }
  return NamedMutex(std::move(fd));
}

bool NamedMutex::exists(std::string_view name) { return held(name).valueOr(false); }

plat::Result<bool> NamedMutex::held(std::string_view name) {
  auto file = objectFile(name, "lock");
  if (!file) return file.error();
  // Closing also drops the shared lock taken for the test.
  UniqueFd fd(::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) {
    if (errno == ENOENT) return false;
    return errnoError("open " + file->string());
  }
  for (;;) {
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return true;
    return errnoError("lock " + file->string());
  }
}

// ---- NamedEvent ----

plat::Result<NamedEvent> NamedEvent::create(std::string_view name) {
  auto file = objectFileInPlace(name, "event");
  if (!file) return file.error();
  if (::mkfifo(file->c_str(), 0622) != 0 && errno != EEXIST) return errnoError("mkfifo " + file->string());
  struct stat st {};
  if (::lstat(file->c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return Error{EEXIST, file->string() + " is no FIFO"};
  // Read and write: the open never blocks, and the FIFO never reads as closed while we hold it.
  UniqueFd fd(::open(file->c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return errnoError("open " + file->string());
  return NamedEvent(std::move(fd), true);
}

plat::Result<NamedEvent> NamedEvent::open(std::string_view name) {
  auto file = objectFile(name, "event");
  if (!file) return file.error();
  struct stat st {};
  if (::lstat(file->c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return Error{ENXIO, "no such event"};
  // A FIFO nobody reads refuses a non-blocking writer (ENXIO): its creator is gone.
  UniqueFd fd(::open(file->c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return errnoError("open " + file->string());
  return NamedEvent(std::move(fd), false);
}

plat::Result<void> NamedEvent::set() const {
  if (!fd_) return Error{EBADF, "no event"};
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
  plat::Result<void> result = success();
  for (;;) {
    ssize_t n = ::write(fd_.get(), &b, 1);
    const int err = n < 0 ? errno : 0;
    if (err == EINTR) continue;
    // A full FIFO: it is set already.
    if (!(n == 1 || err == EAGAIN)) result = errnoError("set event", err ? err : EIO);
    if (err == EPIPE && !wasPending) {
      timespec zero{0, 0};
      while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    break;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return result;
}

plat::Result<NamedEvent::WaitResult> NamedEvent::wait(std::optional<std::uint32_t> timeoutMs) const {
  if (!fd_) return Error{EBADF, "no event"};
  if (!waiter_) return Error{EBADF, "the event was opened for setting only"};
  const std::int64_t deadline = timeoutMs ? nowMs() + *timeoutMs : 0;
  for (;;) {
    int remaining = -1;
    if (timeoutMs) {
      std::int64_t left = deadline - nowMs();
      remaining = left > 0 ? static_cast<int>(std::min<std::int64_t>(left, 1 << 30)) : 0;
    }
    pollfd p{fd_.get(), POLLIN, 0};
    int r = ::poll(&p, 1, remaining);
    if (r < 0) {
      if (errno == EINTR) continue;
      return errnoError("waiting for the event");
    }
    if (r == 0) return WaitResult::TimedOut;
    // Auto-reset: every set so far is consumed by this one wake.
    char buf[256];
    bool got = false;
    for (;;) {
      ssize_t n = ::read(fd_.get(), buf, sizeof buf);
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

}  // namespace plat::kernel
