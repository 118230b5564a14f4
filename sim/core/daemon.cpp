#include "sim/core/daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/base/paths.h"
#include "sim/core/text_args.h"

namespace sim {
namespace {

constexpr std::size_t kMaxScenarioBytes = 1 << 20;
constexpr std::size_t kMaxReply = 1 << 20;
constexpr int kMaxClients = 16;

bool fillAddress(sockaddr_un& addr, const std::filesystem::path& p) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (p.native().size() >= sizeof addr.sun_path) return false;
  std::strcpy(addr.sun_path, p.c_str());
  return true;
}

std::string trimmed(const std::string& s) {
  std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  std::size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

}  // namespace

std::filesystem::path controlSocketPath() { return plat::paths::runtimeDir() / "kelmsim.sock"; }
std::filesystem::path pidFilePath() { return plat::paths::runtimeDir() / "kelmsim.pid"; }

Daemon::~Daemon() {
  // Devices first: once the control socket is gone, a waiting `kelmsim stop` knows all is down.
  for (auto& s : sims_) s->stop();
  for (auto& c : clients_) ::close(c.fd);
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    std::error_code ec;
    std::filesystem::remove(controlSocketPath(), ec);
  }
}

bool Daemon::configure(const std::optional<std::filesystem::path>& scenario, std::string* error) {
  if (!scenario) {
    for (auto& s : sims_) s->configureDefault();
    return true;
  }
  std::ifstream in(*scenario, std::ios::binary);
  if (!in) {
    *error = "cannot read the scenario " + scenario->string();
    return false;
  }
  std::string text(kMaxScenarioBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxScenarioBytes) {
    *error = "the scenario is larger than 1 MiB";
    return false;
  }
  return configureText(text, error);
}

bool Daemon::configureText(const std::string& text, std::string* error) {
  std::map<std::string, std::vector<std::string>> sections;
  std::string current;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (line.size() > kMaxLine) {
      *error = "scenario line " + std::to_string(number) + " is too long";
      return false;
    }
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    line = trimmed(line);
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
      bool known = std::any_of(sims_.begin(), sims_.end(), [&](auto& s) { return s->name() == current; });
      if (!known) {
        *error = "scenario line " + std::to_string(number) + ": no simulator is called \"" + current + "\"";
        return false;
      }
      sections[current];
      continue;
    }
    if (current.empty()) {
      *error = "scenario line " + std::to_string(number) + ": a line before any [section]";
      return false;
    }
    sections[current].push_back(line);
  }
  for (auto& s : sims_) {
    auto it = sections.find(s->name());
    if (it == sections.end()) {
      s->configureDefault();
      continue;
    }
    std::string why;
    if (!s->configure(it->second, &why)) {
      *error = "[" + s->name() + "] " + why;
      return false;
    }
  }
  return true;
}

bool Daemon::start(std::string* error) {
  for (auto& s : sims_) {
    if (!s->start(error)) return false;
  }
  auto path = controlSocketPath();
  plat::paths::ensureDir(path.parent_path());
  sockaddr_un addr;
  if (!fillAddress(addr, path)) {
    *error = "the control socket path is too long: " + path.string();
    return false;
  }
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  std::error_code ec;
  std::filesystem::remove(path, ec);
  // Faults are for the owner of the root only.
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(listenFd_, 8) != 0) {
    *error = "cannot listen on " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void Daemon::advance() {
  std::int64_t now = clock_.nowMs();
  for (auto& s : sims_) s->advance(now);
}

std::string Daemon::command(const std::string& line) {
  auto words = splitWords(line);
  if (!words || words->empty()) return "error: empty or overlong command\n";
  const std::string& verb = (*words)[0];
  if (verb == "status") {
    advance();
    std::string out =
        "model time " + std::to_string(clock_.nowMs()) + " ms" + (clock_.frozen() ? " (stepped)" : "") + "\n";
    for (auto& s : sims_) out += "[" + s->name() + "]\n" + s->status();
    return out;
  }
  if (verb == "stop") {
    stop_ = true;
    return "stopping\n";
  }
  if (verb == "fault") {
    if (words->size() < 2) return "error: fault needs a name\n";
    std::string name = (*words)[1];
    std::vector<std::string> args(words->begin() + 2, words->end());
    if (name == "step") {
      auto ms = args.empty() ? std::nullopt : parseInt(args[0], 0, 7LL * 24 * 3600 * 1000);
      if (!ms) return "error: step needs milliseconds (0 to one week)\n";
      // In slices, so that work finishing inside the step produces its events in order.
      std::int64_t left = *ms;
      while (left > 0) {
        std::int64_t slice = std::min<std::int64_t>(left, 100);
        clock_.step(slice);
        advance();
        left -= slice;
      }
      return "ok: model time " + std::to_string(clock_.nowMs()) + " ms\n";
    }
    // "serial:silence" goes to one simulator; a plain name to the first that knows it.
    std::string only;
    if (auto colon = name.find(':'); colon != std::string::npos) {
      only = name.substr(0, colon);
      name = name.substr(colon + 1);
    }
    advance();
    for (auto& s : sims_) {
      if (!only.empty() && s->name() != only) continue;
      std::string reply;
      if (s->fault(name, args, &reply)) return reply;
    }
    return "error: no simulator knows the fault \"" + name + "\"\n";
  }
  return "error: unknown command \"" + verb + "\" (status, fault NAME [ARGS], stop)\n";
}

void Daemon::acceptClient() {
  int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (static_cast<int>(clients_.size()) >= kMaxClients) {
    ::close(fd);
    return;
  }
  clients_.push_back({fd, {}, std::chrono::steady_clock::now()});
}

void Daemon::serveClient(Client& c) {
  char buf[512];
  ssize_t n = ::read(c.fd, buf, sizeof buf);
  if (n <= 0 && !(n < 0 && errno == EAGAIN)) {
    ::close(c.fd);
    c.fd = -1;
    return;
  }
  if (n > 0) c.in.append(buf, static_cast<std::size_t>(n));
  auto nl = c.in.find('\n');
  if (nl == std::string::npos && c.in.size() <= kMaxLine) return;
  std::string reply = nl == std::string::npos ? "error: command too long\n" : command(c.in.substr(0, nl));
  // Replies are small; a client that does not read them in time loses the rest.
  std::size_t off = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (off < reply.size() && std::chrono::steady_clock::now() < deadline) {
    ssize_t w = ::write(c.fd, reply.data() + off, reply.size() - off);
    if (w > 0) {
      off += static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EAGAIN) {
      pollfd p{c.fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else {
      break;
    }
  }
  ::close(c.fd);
  c.fd = -1;
}

void Daemon::run() {
  while (!stop_) {
    std::vector<pollfd> fds;
    fds.push_back({listenFd_, POLLIN, 0});
    for (auto& c : clients_) fds.push_back({c.fd, POLLIN, 0});
    std::size_t simStart = fds.size();
    std::vector<Watch> watches;
    for (auto& s : sims_) s->watches(watches);
    for (auto& w : watches) fds.push_back({w.fd, w.events, 0});

    std::int64_t now = clock_.nowMs();
    int timeout = 200;  // progress advances at least this often in real time
    for (auto& s : sims_) {
      std::int64_t due = s->advance(now);
      if (due >= 0) {
        std::int64_t d = clock_.realDelayUntil(due);
        if (d >= 0 && d < timeout) timeout = static_cast<int>(d);
      }
    }
    for (auto& s : sims_) {
      int w = s->realWaitMs();
      if (w >= 0 && w < timeout) timeout = w;
    }
    int rc = ::poll(fds.data(), fds.size(), timeout);
    if (rc < 0 && errno != EINTR) break;
    now = clock_.nowMs();
    if (rc > 0) {
      for (std::size_t i = simStart; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        for (auto& s : sims_) s->ready(fds[i].fd, fds[i].revents, now);
      }
      for (std::size_t i = 1; i < simStart; ++i)
        if (fds[i].revents) serveClient(clients_[i - 1]);
    }
    {
      // A client that does not finish its command in time gives its place up.
      auto stale = std::chrono::steady_clock::now() - std::chrono::seconds(5);
      for (auto& c : clients_)
        if (c.fd >= 0 && c.since < stale) {
          ::close(c.fd);
          c.fd = -1;
        }
      clients_.erase(std::remove_if(clients_.begin(), clients_.end(), [](const Client& c) { return c.fd < 0; }),
                     clients_.end());
      if (fds[0].revents & POLLIN) acceptClient();
    }
    // Output that became due while nothing was readable.
    for (auto& s : sims_) s->ready(-1, 0, now);
  }
}

std::optional<std::string> sendCommand(const std::string& line, int timeoutMs) {
  sockaddr_un addr;
  if (!fillAddress(addr, controlSocketPath())) return std::nullopt;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out = line + "\n";
  if (::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) {
    ::close(fd);
    return std::nullopt;
  }
  std::string reply;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
    if (reply.size() > kMaxReply) break;
  }
  ::close(fd);
  if (reply.empty()) return std::nullopt;
  return reply;
}

}  // namespace sim
