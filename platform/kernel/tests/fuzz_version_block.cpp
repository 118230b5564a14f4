// Version blocks come from files on disk (driver files, any binary): decoding must hold for any bytes.
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/kernel/module_path.h"
#include "platform/kernel/version_block.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace plat::kernel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> in(data, size);
  for (const char* q : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion"})
    if (auto v = queryVersionValue(in, q); !v && v.message().empty()) std::abort();
  auto info = decodeVersionBlock(in);
  // A refusal always says what is wrong.
  if (!info) {
    if (info.code() != EBADMSG || info.message().empty()) std::abort();
    return 0;
  }
  // What decodes encodes again to the same information.
  auto again = encodeVersionBlock(*info);
  if (!again) std::abort();
  auto back = decodeVersionBlock(*again);
  if (!back || back->tables.size() != info->tables.size() || back->translations != info->translations) std::abort();
  for (std::size_t i = 0; i < info->tables.size(); ++i)
    if (back->tables[i].strings != info->tables[i].strings) std::abort();
  return 0;
}

// Seeds: blocks written by the encoder, and the block embedded in this very program.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto add = [&](const std::vector<std::uint8_t>& b) { seeds.emplace_back(b.begin(), b.end()); };
  VersionInfo info;
  info.fixed.fileVersionMS = 1 << 16 | 11;
  info.fixed.productVersionMS = 1 << 16 | 11;
  info.translations = {{0x0409, 0x04B0}};
  info.tables = {{{0x0409, 0x04B0},
                  {{"CompanyName", "Kelm"},
                   {"FileDescription", "Serial RAID component"},
                   {"FileVersion", "1.11.0.0"},
                   {"ProductVersion", "1.11"}}}};
  if (auto b = encodeVersionBlock(info)) add(*b);
  info.translations.push_back({0x0407, 0x04E4});
  info.tables.push_back({{0x0407, 0x04E4}, {{"FileVersion", "2.0"}, {"Comments", ""}}});
  if (auto b = encodeVersionBlock(info)) add(*b);
  if (auto b = encodeVersionBlock(VersionInfo{})) add(*b);
  if (auto self = plat::kernel::modulePath())
    if (auto b = readVersionBlock(*self)) add(*b);
}
