// Version blocks come from files on disk (driver files, any binary): decoding must hold for any bytes.
#include <cstdint>
#include <cstdlib>

#include "platform/kernel/version_block.h"

using namespace plat::kernel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> in(data, size);
  for (const char* q : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion"})
    (void)queryVersionValue(in, q);
  auto info = decodeVersionBlock(in);
  if (!info) return 0;
  // What decodes encodes again to the same information.
  auto again = encodeVersionBlock(*info);
  if (!again) std::abort();
  auto back = decodeVersionBlock(*again);
  if (!back || back->tables.size() != info->tables.size() || back->translations != info->translations) std::abort();
  for (std::size_t i = 0; i < info->tables.size(); ++i)
    if (back->tables[i].strings != info->tables[i].strings) std::abort();
  return 0;
}
