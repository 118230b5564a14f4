#include "platform/base/paths.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>

namespace plat::paths {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

path underRoot(const char* rel, const char* system) {
  path r = root();
  return r.empty() ? path(system) : r / rel;
}

}  // namespace

path root() {
  std::string r = env("KELM_ROOT");
  if (r.empty()) return {};
  return path(r);
}

path stateDir() { return underRoot("var/lib/kelm", "/var/lib/kelm"); }
path runtimeDir() { return underRoot("run/kelm", "/run/kelm"); }
path logDir() { return underRoot("var/log/kelm", "/var/log/kelm"); }
path configDir() { return underRoot("etc/kelm", "/etc/kelm"); }
path serviceUnitDir() { return underRoot("etc/systemd/system", "/etc/systemd/system"); }
path windowsDir() { return underRoot("windows", "/var/lib/kelm/windows"); }
path removableMediaDir() { return underRoot("media/floppy", "/media/floppy"); }

path userConfigDir() {
  path r = root();
  if (!r.empty()) return r / "home/config/kelm";
  std::string xdg = env("XDG_CONFIG_HOME");
  if (!xdg.empty() && xdg.front() == '/') return path(xdg) / "kelm";
  std::string home = env("HOME");
  if (home.empty()) home = "/root";
  return path(home) / ".config/kelm";
}

path serialPortDevice(int number) {
  path r = root();
  std::string node = "ttyS" + std::to_string(number - 1);
  return r.empty() ? path("/dev") / node : r / "dev" / node;
}

Result<path> serialPortDevice(std::string_view comName) {
  const Error notAPort{EINVAL, "'" + std::string(comName) + "' is not a serial port name (Com1 to Com256)"};
  if (comName.size() < 4 || comName.size() > 6) return notAPort;
  auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  if (lower(comName[0]) != 'c' || lower(comName[1]) != 'o' || lower(comName[2]) != 'm') return notAPort;
  int n = 0;
  auto digits = comName.substr(3);
  auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || p != digits.data() + digits.size() || n < 1 || n > 256) return notAPort;
  return serialPortDevice(n);
}

path deviceNode(std::string_view name) {
  if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
  std::string safe;
  for (char c : name) safe.push_back(c == '/' || c == '\\' ? '_' : c);
  if (safe.empty() || safe == "." || safe == "..") safe = "_";
  path r = root();
  return r.empty() ? path("/run/kelm/dev") / safe : r / "dev" / safe;
}

std::uint16_t port(std::uint16_t wellKnown) {
  std::string b = env("KELM_PORT_BASE");
  unsigned base = kAgentPort;
  if (!b.empty()) {
    unsigned v = 0;
    auto [p, ec] = std::from_chars(b.data(), b.data() + b.size(), v);
    if (ec == std::errc() && p == b.data() + b.size() && v >= 1 && v <= 65535 - 3) base = v;
  }
  return static_cast<std::uint16_t>(base + (wellKnown - kAgentPort));
}

std::string broadcastAddress() {
  std::string b = env("KELM_BROADCAST");
  in_addr a{};
  if (!b.empty() && inet_pton(AF_INET, b.c_str(), &a) == 1) return b;
  return "255.255.255.255";
}

Result<void> ensureDir(const path& dir, unsigned mode) {
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return success();
  path parent = dir.parent_path();
  if (!parent.empty() && parent != dir) {
    auto made = ensureDir(parent, mode);
    if (!made) return made;
  }
  if (::mkdir(dir.c_str(), mode) == 0) return success();
  const int err = errno;
  if (err != EEXIST) return errnoError("cannot create directory " + dir.string(), err);
  if (std::filesystem::is_directory(dir, ec)) return success();  // made meanwhile by another process
  return errnoError("cannot create directory " + dir.string(), ENOTDIR);  // a file stands in its place
}

}  // namespace plat::paths
