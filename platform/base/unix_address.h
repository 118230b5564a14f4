#pragma once
// The address of a Unix-domain socket at a path, refused when the path does not fit.
#include <sys/socket.h>
#include <sys/un.h>

#include <string>

#include "platform/base/result.h"

namespace plat {

struct UnixAddress {
  sockaddr_un addr{};
  socklen_t length = 0;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr); }
};

Result<UnixAddress> unixAddress(const std::string& path);

}  // namespace plat
