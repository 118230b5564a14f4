#include "sim/core/driver_file.h"

#include <cerrno>

#include "platform/base/paths.h"
#include "platform/kernel/version_block.h"

namespace sim {

plat::Result<void> writeDriverFile(const std::filesystem::path& file, const DriverFile& d) {
  auto words = plat::kernel::parseVersionWords(d.version);
  if (!words) return plat::Error{EINVAL, "not a version: " + d.version};
  if (auto made = plat::paths::ensureDir(file.parent_path()); !made) return made;
  plat::kernel::VersionInfo info;
  info.fixed.fileVersionMS = info.fixed.productVersionMS = words->first;
  info.fixed.fileVersionLS = info.fixed.productVersionLS = words->second;
  info.fixed.fileType = plat::kernel::kFileTypeDriver;
  info.translations.push_back({0x0409, 0x04B0});
  const std::string name = file.filename().string();
  info.tables.push_back({{0x0409, 0x04B0},
                         {{"CompanyName", d.company},
                          {"FileDescription", d.description},
                          {"FileVersion", d.version},
                          {"InternalName", name},
                          {"OriginalFilename", name},
                          {"ProductVersion", d.version}}});
  if (auto written = plat::kernel::writeVersionFile(file, info); !written)
    return plat::Error{written.code(), "cannot write the driver file " + file.string() + ": " + written.message()};
  return plat::success();
}

}  // namespace sim
