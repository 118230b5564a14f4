#include "platform/com/local_listener.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/paths.h"
#include "platform/base/unix_address.h"
#include "platform/com/activation.h"

namespace plat::com {

namespace {

// True when somebody accepts connections on the socket at that address.
bool someoneListens(const UnixAddress& addr) {
  UniqueFd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s) return false;
  return ::connect(s.get(), addr.get(), addr.length) == 0 || errno == EAGAIN;
}

}  // namespace

Result<std::optional<gid_t>> consoleGroupId() {
  group gr{};
  group* found = nullptr;
  std::vector<char> buf(4096);
  for (;;) {
    const int err = ::getgrnam_r(kConsoleGroup, &gr, buf.data(), buf.size(), &found);
    if (err == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);  // a group with many members
      continue;
    }
    if (err == EINTR) continue;
    // ENOENT and friends are how some group databases say "no such group".
    if (err == 0 || err == ENOENT || err == ESRCH) break;
    return errnoError(std::string("looking up the group ") + kConsoleGroup, err);
  }
  if (!found) return std::optional<gid_t>();
  return std::optional<gid_t>(found->gr_gid);
}

Result<std::unique_ptr<LocalListener>> LocalListener::listen(EventLoop& loop, const std::string& socketName,
                                                             std::optional<gid_t> group, int backlog) {
  if (!validLocalSocketName(socketName)) return Error{EINVAL, "invalid socket name '" + socketName + "'"};
  const std::filesystem::path path = localSocketPath(socketName);
  if (auto made = paths::ensureDir(path.parent_path(), 0755); !made) return made.error();
  const std::string final = path.string();
  const std::string temp = final + ".new" + std::to_string(::getpid());
  auto finalAddr = unixAddress(final);
  auto tempAddr = unixAddress(temp);
  if (!finalAddr || !tempAddr) return Error{ENAMETOOLONG, "socket path too long: " + final};

  struct stat st {};
  if (::lstat(final.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return Error{EEXIST, final + " exists and is no socket"};
    if (someoneListens(*finalAddr)) return Error{EADDRINUSE, final + " is in use by a running server"};
  }

  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return errnoError("socket");
  ::unlink(temp.c_str());
  auto fail = [&](const char* what) -> Error {
    Error e = errnoError(what);
    ::unlink(temp.c_str());
    return e;
  };
  if (::bind(fd.get(), tempAddr->get(), tempAddr->length) != 0) return fail("bind");
  // A server that may not hand its socket to the console group (it is not a member) keeps its own
  // group: still closed to everybody else.
  if (group && ::chown(temp.c_str(), static_cast<uid_t>(-1), *group) != 0 && errno != EPERM) return fail("chown");
  if (::chmod(temp.c_str(), kSocketMode) != 0) return fail("chmod");
  if (::listen(fd.get(), backlog) != 0) return fail("listen");
  if (::rename(temp.c_str(), final.c_str()) != 0) return fail("rename");
  // From here the listener owns the socket file and removes it, also when it cannot be watched.
  std::unique_ptr<LocalListener> listener(new LocalListener(loop, std::move(fd), final));
  auto w = loop.watch(listener->fd_.get(), kIoReadable, [raw = listener.get()](std::uint32_t) { raw->acceptSome(); });
  if (!w) return w.error();
  listener->watch_ = std::move(*w);
  return listener;
}

LocalListener::LocalListener(EventLoop& loop, UniqueFd fd, std::string path)
    : loop_(loop), fd_(std::move(fd)), path_(std::move(path)) {}

LocalListener::~LocalListener() {
  watch_.reset();
  fd_.reset();
  ::unlink(path_.c_str());
}

void LocalListener::acceptSome() {
  LifeGuard::Scope alive(guard_);
  for (int i = 0; i < 16 && alive; ++i) {
    UniqueFd fd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      if (errno == EINTR) continue;
      return;  // EAGAIN, or a client that went away before it was accepted
    }
    // A client the loop cannot watch is closed at once rather than left waiting for an answer.
    auto stream = TcpStream::adopt(loop_, std::move(fd));
    if (stream && accept_) accept_(std::move(*stream));
  }
}

}  // namespace plat::com
