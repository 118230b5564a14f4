#include "platform/service/service_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/base/paths.h"

namespace plat::service {

namespace fs = std::filesystem;

fs::path unitPath(std::string_view serviceName) {
  return paths::serviceUnitDir() / (std::string(serviceName) + ".service");
}

namespace {

// A value inside a unit line: quoted with systemd's C-style escapes when it needs it.
std::string unitQuoted(std::string_view v) {
  bool plain = !v.empty();
  for (char c : v)
    if (c == ' ' || c == '"' || c == '\\' || c == '\'' || c == '%' || c == '$' || c == '\t') plain = false;
  if (plain) return std::string(v);
  std::string out = "\"";
  for (char c : v) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (c == '$') {
      out += "$$";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

// Text that goes on one unit line: no line breaks or control characters.
std::string oneLine(std::string_view v) {
  std::string out;
  for (char c : v) out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
  return out;
}

}  // namespace

std::string unitText(const UnitSpec& spec) {
  std::string t;
  t += "[Unit]\n";
  t += "Description=" + oneLine(spec.description) + "\n";
  t += "After=network.target\n\n";
  t += "[Service]\n";
  t += "Type=notify\n";
  t += "NotifyAccess=main\n";
  t += "ExecStart=" + unitQuoted(oneLine(spec.program.string())) + "\n";
  for (const char* var : {"KELM_ROOT", "KELM_PORT_BASE", "KELM_BROADCAST"}) {
    if (const char* v = std::getenv(var); v && *v) t += "Environment=" + unitQuoted(std::string(var) + "=" + oneLine(v)) + "\n";
  }
  t += "KillSignal=SIGTERM\n";
  t += "TimeoutStopSec=30\n\n";
  t += "[Install]\n";
  t += "WantedBy=multi-user.target\n";
  return t;
}

Result<void> installUnit(const UnitSpec& spec) {
  if (spec.name.empty() || spec.name.find('/') != std::string::npos || spec.name.size() > 200)
    return Error{EINVAL, "service name not usable as a unit name"};
  const fs::path dir = paths::serviceUnitDir();
  if (auto made = paths::ensureDir(dir); !made) return made;
  const fs::path target = unitPath(spec.name);
  const fs::path temp = target.string() + ".tmp";
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd) return errnoError("creating " + temp.string());
  const std::string text = unitText(spec);
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Error e = errnoError("writing " + temp.string());
      ::unlink(temp.c_str());
      return e;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
    Error e = errnoError("installing " + target.string());
    ::unlink(temp.c_str());
    return e;
  }
  return success();
}

Result<void> removeUnit(std::string_view serviceName) {
  const fs::path target = unitPath(serviceName);
  if (::unlink(target.c_str()) != 0 && errno != ENOENT) return errnoError("removing " + target.string());
  return success();
}

bool notify(std::string_view state) {
  const std::string s(state);
  return ::sd_notify(0, s.c_str()) > 0;
}

Result<ControlSignals> ControlSignals::create() {
  sigset_t set, old;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaddset(&set, sig);
  if (pthread_sigmask(SIG_BLOCK, &set, &old) != 0) return Error{EINVAL, "blocking the control signals"};
  UniqueFd sfd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!sfd) {
    Error e = errnoError("signalfd");
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return e;
  }
  UniqueFd efd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!efd) {
    Error e = errnoError("eventfd");
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return e;
  }
  return ControlSignals(std::move(sfd), std::move(efd), old);
}

ControlSignals::~ControlSignals() {
  if (signals_) pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

void ControlSignals::wake() const {
  std::uint64_t one = 1;
  ssize_t n = ::write(waker_.get(), &one, sizeof one);
  (void)n;
}

Control ControlSignals::wait(int extraFd) {
  for (;;) {
    pollfd p[3] = {{signals_.get(), POLLIN, 0}, {waker_.get(), POLLIN, 0}, {extraFd, POLLIN, 0}};
    int n = ::poll(p, extraFd >= 0 ? 3 : 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Control::Failed;
    }
    if (p[0].revents & POLLIN) {
      signalfd_siginfo info{};
      ssize_t r = ::read(signals_.get(), &info, sizeof info);
      if (r == static_cast<ssize_t>(sizeof info)) {
        switch (info.ssi_signo) {
          case SIGTERM:
          case SIGINT:
            return Control::Stop;
          case SIGUSR1:
            return Control::Pause;
          case SIGUSR2:
            return Control::Continue;
          default:
            break;
        }
      }
      continue;
    }
    if (p[1].revents & POLLIN) {
      std::uint64_t v = 0;
      ssize_t r = ::read(waker_.get(), &v, sizeof v);
      (void)r;
      return Control::Wake;
    }
    if (extraFd >= 0 && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) return Control::Event;
    if ((p[0].revents | p[1].revents) & (POLLERR | POLLNVAL)) return Control::Failed;
  }
}

}  // namespace plat::service
