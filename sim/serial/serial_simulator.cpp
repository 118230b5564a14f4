#include "sim/serial/serial_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/base/paths.h"
#include "sim/core/text_args.h"

namespace sim::serial {
namespace {
constexpr std::size_t kMaxPendingOutput = 64 * 1024;
}  // namespace

SerialSimulator::SerialSimulator(plat::Clock& real) : real_(real) { subsystem_.loadDefault(); }

SerialSimulator::~SerialSimulator() { stop(); }

std::unique_ptr<Simulator> makeSerialSimulator() { return std::make_unique<SerialSimulator>(); }

std::filesystem::path SerialSimulator::linkPath() const { return plat::paths::serialPortDevice(1); }

plat::Result<void> SerialSimulator::configure(const std::vector<std::string>& lines) {
  subsystem_.clear();
  int number = 0;
  for (const auto& line : lines) {
    ++number;
    auto words = splitWords(line);
    if (!words) return plat::Error{EINVAL, "line " + std::to_string(number) + " is too long"};
    if (!words->empty() && (*words)[0] == "handshake") {
      if (words->size() != 2 || ((*words)[1] != "warm" && (*words)[1] != "cold"))
        return plat::Error{EINVAL, "handshake warm|cold"};
      wire_.warmHandshake((*words)[1] == "warm");
      continue;
    }
    if (auto entry = subsystem_.configure(*words); !entry)
      return plat::Error{entry.code(), "entry " + std::to_string(number) + ": " + entry.message()};
  }
  return plat::success();
}

void SerialSimulator::stop() { unplug(); }

plat::Result<void> SerialSimulator::plug() {
  if (master_) return plat::success();
  plat::UniqueFd m(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!m || ::grantpt(m.get()) != 0 || ::unlockpt(m.get()) != 0)
    return plat::errnoError("cannot make a pseudo-terminal");
  char name[128];
  if (const int err = ::ptsname_r(m.get(), name, sizeof name); err != 0)
    return plat::errnoError("cannot name the pseudo-terminal", err);
  plat::UniqueFd keeper(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  termios t{};
  if (!keeper || ::tcgetattr(keeper.get(), &t) != 0) return plat::errnoError(std::string("cannot open ") + name);
  // Raw from the start: a cooked line would echo the host's bytes back and bend CR and LF.
  ::cfmakeraw(&t);
  ::tcsetattr(keeper.get(), TCSANOW, &t);
  auto link = linkPath();
  if (auto made = plat::paths::ensureDir(link.parent_path()); !made) return made;
  auto temp = link;
  temp += ".new";
  std::error_code ec;
  std::filesystem::remove(temp, ec);
  if (::symlink(name, temp.c_str()) != 0 || ::rename(temp.c_str(), link.c_str()) != 0)
    return plat::errnoError("cannot publish " + link.string());
  master_ = std::move(m);
  keeper_ = std::move(keeper);
  slaveName_ = name;
  wire_.reset();
  pendingOut_.clear();
  return plat::success();
}

void SerialSimulator::unplug() {
  if (!master_) return;
  std::error_code ec;
  std::filesystem::remove(linkPath(), ec);
  keeper_.reset();
  master_.reset();
  wire_.reset();
  pendingOut_.clear();
}

void SerialSimulator::watches(std::vector<Watch>& out) {
  if (!master_) return;
  out.push_back({master_.get(), static_cast<short>(POLLIN | (pendingOut_.empty() ? 0 : POLLOUT))});
}

int SerialSimulator::realWaitMs() const {
  // Output held back by a full line waits for POLLOUT, not for a timer.
  std::int64_t due = wire_.nextDue();
  if (due < 0) return -1;
  std::int64_t d = due - real_.monotonicMs();
  return d < 0 ? 0 : static_cast<int>(d);
}

void SerialSimulator::ready(int fd, short revents, std::int64_t nowMs) {
  lastModelMs_ = nowMs;
  if (!master_) return;
  if (fd == master_.get() && (revents & POLLIN)) {
    std::uint8_t buf[4096];
    for (;;) {
      ssize_t n = ::read(master_.get(), buf, sizeof buf);
      if (n <= 0) break;
      wire_.receive(buf, static_cast<std::size_t>(n), real_.monotonicMs(), nowMs);
    }
  }
  flush();
}

void SerialSimulator::flush() {
  wire_.takeDue(real_.monotonicMs(), pendingOut_);
  std::size_t off = 0;
  while (off < pendingOut_.size()) {
    ssize_t w = ::write(master_.get(), pendingOut_.data() + off, pendingOut_.size() - off);
    if (w <= 0) break;
    off += static_cast<std::size_t>(w);
  }
  pendingOut_.erase(pendingOut_.begin(), pendingOut_.begin() + static_cast<long>(off));
  // A host that never reads loses what overflows, as on a real line.
  if (pendingOut_.size() > kMaxPendingOutput) pendingOut_.clear();
}

std::string SerialSimulator::status() const {
  std::string s = plugged() ? "cable plugged: " + linkPath().string() + " -> " + slaveName_ + "\n" : "cable pulled\n";
  return s + wire_.status() + subsystem_.status(lastModelMs_);
}

bool SerialSimulator::fault(const std::string& name, const std::vector<std::string>& args, std::string* reply) {
  auto count = [&](std::int64_t fallback, std::int64_t max) -> std::optional<std::int64_t> {
    if (args.empty()) return fallback;
    return parseInt(args[0], 0, max);
  };
  if (name == "silence") {
    if (!args.empty() && args[0] == "off") {
      wire_.silence(0);
      *reply = "ok: talking again\n";
      return true;
    }
    auto n = count(-1, 1000000);
    if (!n) {
      *reply = "error: silence [FRAMES|off]\n";
      return true;
    }
    wire_.silence(static_cast<int>(*n == -1 ? -1 : *n));
    *reply =
        *n < 0 ? "ok: silent until \"silence off\"\n" : "ok: the next " + std::to_string(*n) + " frames get no reply\n";
    return true;
  }
  if (name == "late") {
    auto ms = args.empty() ? std::nullopt : parseInt(args[0], 1, 600000);
    if (!ms) {
      *reply = "error: late MS\n";
      return true;
    }
    wire_.late(static_cast<int>(*ms));
    *reply = "ok: the next reply comes " + std::to_string(*ms) + " ms late\n";
    return true;
  }
  if (name == "echo") {
    wire_.wrongEcho();
    *reply = "ok: the next reply echoes a wrong code\n";
    return true;
  }
  if (name == "status") {
    auto s = count(1, 255);
    if (!s || *s == 0) {
      *reply = "error: status [1-255]\n";
      return true;
    }
    wire_.badStatus(static_cast<std::uint8_t>(*s));
    *reply = "ok: the next reply carries status " + std::to_string(*s) + "\n";
    return true;
  }
  if (name == "garbage") {
    auto n = count(16, 4096);
    if (!n) {
      *reply = "error: garbage [BYTES]\n";
      return true;
    }
    wire_.garbage(static_cast<int>(*n));
    *reply = "ok: " + std::to_string(*n) + " garbage bytes before the next reply\n";
    return true;
  }
  if (name == "unplug" || name == "plug" || name == "replug") {
    if (name != "plug") unplug();
    if (name != "unplug") {
      if (auto plugged = plug(); !plugged) {
        *reply = "error: " + plugged.message() + "\n";
        return true;
      }
    }
    *reply = plugged() ? "ok: cable plugged, " + slaveName_ + "\n" : "ok: cable pulled\n";
    return true;
  }
  if (name == "handshake") {
    if (args.size() != 1 || (args[0] != "warm" && args[0] != "cold")) {
      *reply = "error: handshake warm|cold\n";
      return true;
    }
    wire_.warmHandshake(args[0] == "warm");
    *reply = "ok\n";
    return true;
  }
  return subsystem_.fault(name, args, lastModelMs_, reply);
}

}  // namespace sim::serial
