#pragma once
// data2.cab: an uncompressed POSIX tar archive of the Debian packages (pax headers are skipped). Only plain "NAME.deb" files at
// its top level are taken; every header is checked and every size bounded.
#include <filesystem>
#include <vector>

#include "platform/base/result.h"

namespace kelm::setup {

inline constexpr std::uint64_t kMaxPackageBytes = 1ull << 30;
inline constexpr std::size_t kMaxPackages = 64;

// Writes each package into `outDir`; their paths, in archive order.
plat::Result<std::vector<std::filesystem::path>> ExtractPackages(const std::filesystem::path& archive,
                                                                  const std::filesystem::path& outDir);

}  // namespace kelm::setup
