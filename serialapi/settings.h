#pragma once
// The link's settings from the user's registry key VelkariRaidApiCfg\comport (read once, never written).
#include <cstdint>
#include <optional>

namespace glimmora {

struct Settings {
  std::optional<std::uint32_t> port;        // fixed port number, 1 to 8
  std::optional<std::uint32_t> flag;        // bit 0x2: use `port`
  std::optional<std::int32_t> number;       // ports to scan and search
  std::optional<std::uint8_t> autoconnect;  // non-zero: reconnect by itself
};

Settings readRegistrySettings();

}  // namespace glimmora
