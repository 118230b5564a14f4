#include "platform/base/unix_address.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace plat {

Result<UnixAddress> unixAddress(const std::string& path) {
  UnixAddress a;
  if (path.empty() || path.size() >= sizeof a.addr.sun_path || path.find('\0') != std::string::npos) {
    return Error{ENAMETOOLONG, "socket path unusable (empty, too long or with a NUL): " + path};
  }
  a.addr.sun_family = AF_UNIX;
  std::memcpy(a.addr.sun_path, path.data(), path.size());
  a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return a;
}

}  // namespace plat
