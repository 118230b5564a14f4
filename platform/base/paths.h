#pragma once
// Every path, port and address the system uses is derived here, from the root prefix:
// KELM_ROOT when set (tests and the demo run side by side in their own roots), else the
// system's own directories. Ports move with KELM_PORT_BASE, the broadcast address with KELM_BROADCAST.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/base/result.h"

namespace plat::paths {

using std::filesystem::path;

// The KELM_ROOT prefix, or empty when the system's own directories are used.
path root();

path stateDir();        // registry hives, account store: /var/lib/kelm
path runtimeDir();      // sockets, named objects: /run/kelm
path logDir();          // event log files: /var/log/kelm
path configDir();       // /etc/kelm
path userConfigDir();   // the per-user hive: $XDG_CONFIG_HOME/kelm or ~/.config/kelm
path serviceUnitDir();  // systemd units: /etc/systemd/system
path windowsDir();      // what stands for the Windows directory (driver files): /var/lib/kelm/windows
path removableMediaDir();  // the floppy drive an installation set is read from: /media/floppy

// "Com1" .. "Com256" (case-insensitive) -> dev/ttyS<N-1>; EINVAL, naming it, for another name.
Result<path> serialPortDevice(std::string_view comName);
path serialPortDevice(int number);  // 1-based
// "\\.\NAME" or plain "NAME" -> dev/NAME (without a root: /run/kelm/dev/NAME).
path deviceNode(std::string_view name);

// The well-known ports 710..713, moved together by KELM_PORT_BASE (the value that stands for 710).
constexpr std::uint16_t kAgentPort = 710;
constexpr std::uint16_t kServerPort = 711;
constexpr std::uint16_t kAgentAnnouncePort = 712;
constexpr std::uint16_t kServerAnnouncePort = 713;
std::uint16_t port(std::uint16_t wellKnown);

// The address announcements are broadcast to: KELM_BROADCAST or 255.255.255.255.
std::string broadcastAddress();

// Creates a directory and its parents with the given mode; a directory that exists is success.
// The error names the directory and the reason (a parent that is a file, no permission, ...).
Result<void> ensureDir(const path& dir, unsigned mode = 0755);

}  // namespace plat::paths
