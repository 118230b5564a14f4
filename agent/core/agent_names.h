#pragma once
// The agent's names: its service names, registry keys and profile.
#include <string_view>

#include "platform/registry/profile.h"

namespace kelm::agent {

inline constexpr const char* kServiceName = "ZODUzAve";
inline constexpr const char* kDisplayName = "Velkari RAID message agent";

// Under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kAgentKey = "SOFTWARE\\Velkari Technology, Inc.\\Message Agent";
inline constexpr std::string_view kIoClsidKey = "SOFTWARE\\Velkari Technology, Inc.\\Message Agent\\IO_CLSID";
// The local token, 8 binary bytes made at each start.
inline constexpr const char* kLocationValue = "Location";
// The cap on clients (a number under the agent key); 256 when missing or 0.
inline constexpr const char* kMaxClientsValue = "MaxClients";
inline constexpr unsigned kDefaultMaxClients = 256;

// The application profile of the agent under the maker key (machine-wide: the agent is a daemon).
inline plat::reg::Profile AgentProfile() {
  return plat::reg::Profile("Velkari Technology Inc.", "halvorn", plat::reg::Hive::LocalMachine);
}

// Rights bits.
inline constexpr std::uint32_t kRightOwnAccount = 1;
inline constexpr std::uint32_t kRightAdminister = 2;
inline constexpr std::uint32_t kRightSettings = 0x40;
inline constexpr std::uint32_t kLocalOnlyBit = 0x08000000;

}  // namespace kelm::agent
