#include "platform/com/local_listener.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/base/paths.h"
#include "platform/com/activation.h"

namespace plat::com {

namespace {

bool fillAddress(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string errnoText(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

// True when somebody accepts connections on the socket at path.
bool someoneListens(const sockaddr_un& addr) {
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  bool live = ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 || errno == EAGAIN;
  ::close(s);
  return live;
}

}  // namespace

std::optional<gid_t> consoleGroupId() {
  group gr{};
  group* found = nullptr;
  char buf[4096];
  if (::getgrnam_r(kConsoleGroup, &gr, buf, sizeof buf, &found) != 0 || !found) return std::nullopt;
  return found->gr_gid;
}

std::unique_ptr<LocalListener> LocalListener::listen(EventLoop& loop, const std::string& socketName, std::string* error,
                                                     std::optional<gid_t> group, int backlog) {
  auto setError = [&](std::string why) {
    if (error) *error = std::move(why);
    return nullptr;
  };
  if (!validLocalSocketName(socketName)) return setError("invalid socket name '" + socketName + "'");
  const std::filesystem::path path = localSocketPath(socketName);
  if (!paths::ensureDir(path.parent_path(), 0755)) return setError("cannot create " + path.parent_path().string());
  const std::string final = path.string();
  const std::string temp = final + ".new" + std::to_string(::getpid());
  sockaddr_un finalAddr{}, tempAddr{};
  if (!fillAddress(final, finalAddr) || !fillAddress(temp, tempAddr)) return setError("socket path too long: " + final);

  struct stat st {};
  if (::lstat(final.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return setError(final + " exists and is no socket");
    if (someoneListens(finalAddr)) return setError(final + " is in use by a running server");
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return setError(errnoText("socket", errno));
  ::unlink(temp.c_str());
  auto fail = [&](const char* what) {
    int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return setError(errnoText(what, err));
  };
  if (::bind(fd, reinterpret_cast<sockaddr*>(&tempAddr), sizeof tempAddr) != 0) return fail("bind");
  // A server that may not hand its socket to the console group (it is not a member) keeps its own
  // group: still closed to everybody else.
  if (group && ::chown(temp.c_str(), static_cast<uid_t>(-1), *group) != 0 && errno != EPERM) return fail("chown");
  if (::chmod(temp.c_str(), kSocketMode) != 0) return fail("chmod");
  if (::listen(fd, backlog) != 0) return fail("listen");
  if (::rename(temp.c_str(), final.c_str()) != 0) return fail("rename");
  return std::unique_ptr<LocalListener>(new LocalListener(loop, fd, final));
}

LocalListener::LocalListener(EventLoop& loop, int fd, std::string path) : loop_(loop), fd_(fd), path_(std::move(path)) {
  loop_.watchFd(fd_, kIoReadable, [this](std::uint32_t) { acceptSome(); });
}

LocalListener::~LocalListener() {
  *alive_ = false;
  loop_.unwatchFd(fd_);
  ::close(fd_);
  ::unlink(path_.c_str());
}

void LocalListener::acceptSome() {
  auto alive = alive_;
  for (int i = 0; i < 16 && *alive; ++i) {
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN, or a client that went away before it was accepted
    }
    auto stream = TcpStream::adopt(loop_, fd);
    if (accept_) accept_(std::move(stream));
  }
}

}  // namespace plat::com
