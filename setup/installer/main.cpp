// issetup: installs the parts the setup wizard chose, from data2.cab beside it.
//   issetup -PART="$Remote$Local$Server$Agent$I2O$MV$SC"
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "setup/core/medium_files.h"
#include "setup/installer/installer.h"
#include "setup/installer/part_args.h"

int main(int argc, char** argv) {
  using namespace kelm::setup;
  if (argc != 2) {
    std::fprintf(stderr, "usage: issetup -PART=\"$Part$Part...\"  (parts: $Remote $Local $Server $Agent $I2O $MV $SC)\n");
    return 2;
  }
  auto parts = ParsePartArgument(argv[1]);
  if (!parts) {
    std::fprintf(stderr, "issetup: %s\n", parts.message().c_str());
    return 2;
  }
  std::error_code ec;
  const std::filesystem::path here = std::filesystem::current_path(ec);
  auto payload = FindFileNoCase(here, "data2.cab");
  if (ec || !payload) {
    std::fprintf(stderr, "issetup: no data2.cab in %s\n", here.c_str());
    return 1;
  }
  auto lines = InstallParts(*parts, *payload);
  if (!lines) {
    std::fprintf(stderr, "issetup: the installation failed: %s\n", lines.message().c_str());
    return 1;
  }
  for (const auto& line : *lines) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return 0;
}
