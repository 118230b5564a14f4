#pragma once
// Test helper: the test mail server (smtp_server.py on Debian's aiosmtpd) as a child process on a
// free loopback port, and the mails it recorded.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kelm::events::testing {

struct RecordedMail {
  std::string helo;
  std::string from;
  std::vector<std::string> to;
  std::string data;
};

class MailServerProcess {
 public:
  // mode: "record", "refuse-rcpt", "refuse-data" or "hang". The script is named by
  // KELM_SMTP_SERVER_SCRIPT; Debian's own python3 runs it (it has python3-aiosmtpd).
  MailServerProcess(const std::string& mode, std::filesystem::path record) : record_(std::move(record)) {
    const char* script = std::getenv("KELM_SMTP_SERVER_SCRIPT");
    if (!script) {
      error_ = "KELM_SMTP_SERVER_SCRIPT is not set";
      return;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      error_ = "pipe failed";
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::execl("/usr/bin/python3", "python3", script, mode.c_str(), record_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    // The server prints its port once it listens; bounded, as a broken python never prints.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&p, 1, 20000) == 1) {
      char buf[64];
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    port_ = static_cast<std::uint16_t>(std::atoi(line.c_str()));
    if (port_ == 0) error_ = "the test mail server did not start (is python3-aiosmtpd installed?)";
  }
  ~MailServerProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int st = 0;
      ::waitpid(pid_, &st, 0);
    }
  }
  MailServerProcess(const MailServerProcess&) = delete;
  MailServerProcess& operator=(const MailServerProcess&) = delete;

  std::uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  std::vector<RecordedMail> mails() const {
    std::ifstream in(record_, std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), {}};
    std::vector<RecordedMail> out;
    std::size_t pos = 0;
    const auto line = [&]() {
      const std::size_t eol = all.find('\n', pos);
      std::string l = all.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
      pos = eol == std::string::npos ? all.size() : eol + 1;
      return l;
    };
    while (pos < all.size()) {
      RecordedMail m;
      for (;;) {
        const std::string l = line();
        if (l.rfind("HELO ", 0) == 0) m.helo = l.substr(5);
        if (l.rfind("FROM ", 0) == 0) m.from = l.substr(5);
        if (l.rfind("TO ", 0) == 0) m.to.push_back(l.substr(3));
        if (l.rfind("DATA ", 0) == 0) {
          const auto n = static_cast<std::size_t>(std::atol(l.c_str() + 5));
          m.data = all.substr(pos, n);
          pos += n + 1;
          break;
        }
        if (pos >= all.size()) return out;
      }
      out.push_back(std::move(m));
    }
    return out;
  }

 private:
  std::filesystem::path record_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::string error_;
};

}  // namespace kelm::events::testing
