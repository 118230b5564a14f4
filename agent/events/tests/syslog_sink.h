#pragma once
// Test helper: a datagram socket standing in for the system log, named by KELM_SYSLOG_SOCKET for
// this process and the programs it starts.
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/base/unix_address.h"

namespace kelm::events::testing {

class SyslogSink {
 public:
  explicit SyslogSink(const std::filesystem::path& path) {
    fd_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const auto addr = plat::unixAddress(path.string());
    ok_ = addr.ok() && ::bind(fd_.get(), addr->get(), addr->length) == 0;
    ::setenv("KELM_SYSLOG_SOCKET", path.c_str(), 1);
  }
  ~SyslogSink() { ::unsetenv("KELM_SYSLOG_SOCKET"); }
  SyslogSink(const SyslogSink&) = delete;
  SyslogSink& operator=(const SyslogSink&) = delete;

  bool ok() const { return ok_; }
  // The datagrams that arrived so far (a local sender's datagram is there once its send returns).
  std::vector<std::string> take() {
    std::vector<std::string> out;
    char buf[9000];
    ssize_t n;
    while ((n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT)) > 0)
      out.emplace_back(buf, static_cast<std::size_t>(n));
    return out;
  }
  // The first datagram that holds `part`, waiting at most timeoutMs for another process to send it.
  std::string waitFor(const std::string& part, int timeoutMs) {
    for (int waited = 0;; waited += 50) {
      for (std::string& d : take())
        if (d.find(part) != std::string::npos) return d;
      if (waited >= timeoutMs) return {};
      pollfd p{fd_.get(), POLLIN, 0};
      ::poll(&p, 1, 50);
    }
  }

 private:
  plat::UniqueFd fd_;
  bool ok_ = false;
};

}  // namespace kelm::events::testing
