#pragma once
// The package installer: installs the Debian packages of the chosen parts from data2.cab, with
// the system's package tools, or, in a private root (KELM_ROOT), unpacked under the root with
// Debian's own unpacker; then registers the components and writes the services' units.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/result.h"
#include "setup/installer/part_args.h"

namespace kelm::setup {

// What was installed, one line per part; the reason when it failed. A failure before the files
// are placed leaves the earlier installation as it was.
plat::Result<std::vector<std::string>> InstallParts(const std::vector<const PartPackage*>& parts,
                                                    const std::filesystem::path& payload);

}  // namespace kelm::setup
