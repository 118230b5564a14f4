#pragma once
// The driver file a simulated driver installs while it serves: a version file of the driver type,
// whose strings tell what a host reading the driver's version finds.
#include <filesystem>
#include <string>

#include "platform/base/result.h"

namespace sim {

struct DriverFile {
  std::string company;
  std::string description;
  std::string version;  // "A.B.C.D"
};

// Writes the file (and the folders above it); a version that does not parse is refused.
plat::Result<void> writeDriverFile(const std::filesystem::path& file, const DriverFile& d);

}  // namespace sim
