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
#include "platform/base/unix_address.h"
#include "sim/core/text_args.h"

namespace sim {
namespace {

constexpr std::size_t kMaxScenarioBytes = 1 << 20;
// Real time between passes when nothing else is due: progress advances at least this often.
constexpr std::int64_t kMaxPassGapMs = 200;

std::uint32_t toIoEvents(short pollEvents) {
  std::uint32_t e = 0;
  if (pollEvents & POLLIN) e |= plat::kIoReadable;
  if (pollEvents & POLLOUT) e |= plat::kIoWritable;
  return e;
}

short toPollEvents(std::uint32_t ioEvents) {
  short e = 0;
  if (ioEvents & plat::kIoReadable) e |= POLLIN;
  if (ioEvents & plat::kIoWritable) e |= POLLOUT;
  if (ioEvents & plat::kIoError) e |= POLLERR | POLLHUP;
  return e;
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
  wake_.stop();
  simWatches_.clear();
  for (auto& s : sims_) s->stop();
  clients_.clear();
  listenWatch_.reset();
  if (listenFd_) {
    listenFd_.reset();
    std::error_code ec;
    std::filesystem::remove(controlSocketPath(), ec);
  }
}

plat::Result<void> Daemon::configure(const std::optional<std::filesystem::path>& scenario) {
  if (!scenario) {
    for (auto& s : sims_) s->configureDefault();
    return plat::success();
  }
  errno = 0;
  std::ifstream in(*scenario, std::ios::binary);
  if (!in) return plat::errnoError("cannot read the scenario " + scenario->string(), errno ? errno : ENOENT);
  std::string text(kMaxScenarioBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxScenarioBytes) return plat::Error{EFBIG, "the scenario is larger than 1 MiB"};
  return configureText(text);
}

plat::Result<void> Daemon::configureText(const std::string& text) {
  auto bad = [](int number, const std::string& why) {
    return plat::Error{EINVAL, "scenario line " + std::to_string(number) + why};
  };
  std::map<std::string, std::vector<std::string>> sections;
  std::string current;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (line.size() > kMaxLine) return bad(number, " is too long");
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    line = trimmed(line);
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
      bool known = std::any_of(sims_.begin(), sims_.end(), [&](auto& s) { return s->name() == current; });
      if (!known) return bad(number, ": no simulator is called \"" + current + "\"");
      sections[current];
      continue;
    }
    if (current.empty()) return bad(number, ": a line before any [section]");
    sections[current].push_back(line);
  }
  for (auto& s : sims_) {
    auto it = sections.find(s->name());
    if (it == sections.end()) {
      s->configureDefault();
      continue;
    }
    if (auto configured = s->configure(it->second); !configured)
      return plat::Error{configured.code(), "[" + s->name() + "] " + configured.message()};
  }
  return plat::success();
}

plat::Result<void> Daemon::start() {
  auto loop = plat::makeEpollLoop();
  if (!loop) return loop.error();
  loop_ = std::move(*loop);
  for (auto& s : sims_)
    if (auto started = s->start(); !started) return started;
  auto path = controlSocketPath();
  if (auto made = plat::paths::ensureDir(path.parent_path()); !made) return made;
  auto addr = plat::unixAddress(path.string());
  if (!addr) return plat::Error{addr.code(), "the control socket path is too long: " + path.string()};
  listenFd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  std::error_code ec;
  std::filesystem::remove(path, ec);
  // Faults are for the owner of the root only.
  if (!listenFd_ || ::bind(listenFd_.get(), addr->get(), addr->length) != 0 || ::chmod(path.c_str(), 0600) != 0 ||
      ::listen(listenFd_.get(), 8) != 0) {
    return plat::errnoError("cannot listen on " + path.string());
  }
  auto watched = loop_->watch(listenFd_.get(), plat::kIoReadable, [this](std::uint32_t) {
    acceptClients();
    pass();
  });
  if (!watched) return watched.error();
  listenWatch_ = std::move(*watched);
  return plat::success();
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

void Daemon::acceptClients() {
  for (int i = 0; i < 16; ++i) {
    plat::UniqueFd fd(::accept4(listenFd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) return;
    if (clients_.size() >= kMaxClients) continue;  // refused: the descriptor closes here
    const std::uint64_t id = nextClient_++;
    auto watched = loop_->watch(fd.get(), plat::kIoReadable, [this, id](std::uint32_t ev) {
      serveClient(id, ev);
      pass();
    });
    if (!watched) continue;  // a client that cannot be served is closed here
    Client& c = clients_[id];
    c.fd = std::move(fd);
    c.watch = std::move(*watched);
    // A client that does not finish its command (or take its reply) in time gives its place up.
    c.expiry = loop_->singleShot(kClientTimeout, [this, id] { dropClient(id); });
  }
}

void Daemon::serveClient(std::uint64_t id, std::uint32_t events) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  Client& c = it->second;
  if (c.out.empty()) {
    char buf[512];
    const ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
      dropClient(id);
      return;
    }
    c.in.append(buf, static_cast<std::size_t>(n));
    const auto nl = c.in.find('\n');
    if (nl == std::string::npos && c.in.size() <= kMaxLine) return;
    c.out = nl == std::string::npos ? "error: command too long\n" : command(c.in.substr(0, nl));
    if (c.out.size() > kMaxReply) c.out.resize(kMaxReply);
    if (c.out.empty()) {
      dropClient(id);
      return;
    }
    c.in.clear();
    if (stop_) loop_->quit();
  } else if (!(events & (plat::kIoWritable | plat::kIoError))) {
    return;
  }
  // Whatever the socket takes now; the rest when it is writable again.
  while (c.sent < c.out.size()) {
    const ssize_t w = ::send(c.fd.get(), c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (w > 0) {
      c.sent += static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && errno == EAGAIN) {
      c.watch.update(plat::kIoWritable);
      return;
    } else {
      break;
    }
  }
  dropClient(id);  // the reply is out (or the client went away): one command per connection
}

void Daemon::pass() {
  std::int64_t now = clock_.nowMs();
  // Output that became due while nothing was readable.
  for (auto& s : sims_) s->ready(-1, 0, now);
  now = clock_.nowMs();
  std::int64_t timeout = kMaxPassGapMs;
  for (auto& s : sims_) {
    const std::int64_t due = s->advance(now);
    if (due >= 0) {
      const std::int64_t d = clock_.realDelayUntil(due);
      if (d >= 0 && d < timeout) timeout = d;
    }
  }
  for (auto& s : sims_) {
    const int w = s->realWaitMs();
    if (w >= 0 && w < timeout) timeout = w;
  }
  // The simulators' descriptors are watched afresh each pass: a device replugged during the pass
  // may carry the number of the one it replaced.
  std::vector<Watch> wanted;
  for (auto& s : sims_) s->watches(wanted);
  simWatches_.clear();
  for (const Watch& w : wanted) {
    const int fd = w.fd;
    auto watched = loop_->watch(fd, toIoEvents(w.events), [this, fd](std::uint32_t ev) {
      const std::int64_t at = clock_.nowMs();
      for (auto& s : sims_) s->ready(fd, toPollEvents(ev), at);
      pass();
    });
    // One that cannot be watched now is tried again on the next pass, which the wake-up below brings.
    if (watched) simWatches_.push_back(std::move(*watched));
  }
  wake_ = loop_->singleShot(std::chrono::milliseconds(timeout), [this] { pass(); });
}

plat::Result<void> Daemon::run() {
  if (!loop_) return plat::Error{EINVAL, "the simulators were not started"};
  if (stop_) return plat::success();
  pass();
  return loop_->run();
}

void Daemon::requestStop() {
  stop_ = true;
  if (loop_) loop_->quit();
}

plat::Result<std::string> sendCommand(const std::string& line, int timeoutMs) {
  const auto path = controlSocketPath();
  auto addr = plat::unixAddress(path.string());
  if (!addr) return plat::Error{addr.code(), "the control socket path is too long: " + path.string()};
  plat::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd || ::connect(fd.get(), addr->get(), addr->length) != 0) return plat::errnoError("cannot reach " + path.string());
  std::string out = line + "\n";
  if (::send(fd.get(), out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
    return plat::errnoError("cannot send to " + path.string());
  std::string reply;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[4096];
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
    if (reply.size() > Daemon::kMaxReply) break;
  }
  if (reply.empty()) return plat::Error{ETIMEDOUT, "no reply from " + path.string()};
  return reply;
}

}  // namespace sim
