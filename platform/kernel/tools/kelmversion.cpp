// kelmversion: writes and shows version blocks.
//
//   kelmversion write OUT [--file-version V] [--product-version V] [--type app|dll|driver]
//                         [--translation LLLLCCCC]... [--string LLLLCCCC NAME VALUE]...
//   kelmversion show FILE        (a standalone version file or any binary we built)
//
// Without --translation the translation table lists the string tables in their order.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/kernel/version_block.h"

using namespace plat::kernel;

namespace {

int fail(const std::string& why) {
  std::fprintf(stderr, "kelmversion: %s\n", why.c_str());
  return 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: kelmversion write OUT [--file-version V] [--product-version V] [--type app|dll|driver]\n"
               "                             [--translation LLLLCCCC]... [--string LLLLCCCC NAME VALUE]...\n"
               "       kelmversion show FILE\n");
  return 2;
}

std::optional<Translation> parseKey(std::string_view hex) {
  if (hex.size() != 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : hex) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return Translation{static_cast<std::uint16_t>(v >> 16), static_cast<std::uint16_t>(v)};
}

std::string keyText(Translation t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04x%04x", t.language, t.codePage);
  return buf;
}

int write(int argc, char** argv) {
  VersionInfo info;
  bool explicitTranslations = false;
  for (int i = 3; i < argc; ++i) {
    std::string_view a = argv[i];
    auto need = [&](int n) { return i + n < argc; };
    if ((a == "--file-version" || a == "--product-version") && need(1)) {
      auto w = parseVersionWords(argv[++i]);
      if (!w) return fail(std::string("not a version: ") + argv[i]);
      if (a == "--file-version")
        info.fixed.fileVersionMS = w->first, info.fixed.fileVersionLS = w->second;
      else
        info.fixed.productVersionMS = w->first, info.fixed.productVersionLS = w->second;
    } else if (a == "--type" && need(1)) {
      std::string_view t = argv[++i];
      info.fixed.fileType = t == "app"      ? std::uint32_t{kFileTypeApp}
                            : t == "dll"    ? std::uint32_t{kFileTypeDll}
                            : t == "driver" ? std::uint32_t{kFileTypeDriver}
                                            : 0u;
      if (!info.fixed.fileType) return fail(std::string("unknown type: ") + argv[i]);
    } else if (a == "--translation" && need(1)) {
      auto k = parseKey(argv[++i]);
      if (!k) return fail(std::string("not eight hex digits: ") + argv[i]);
      info.translations.push_back(*k);
      explicitTranslations = true;
    } else if (a == "--string" && need(3)) {
      auto k = parseKey(argv[++i]);
      if (!k) return fail(std::string("not eight hex digits: ") + argv[i]);
      std::string name = argv[++i], value = argv[++i];
      VersionStringTable* table = nullptr;
      for (auto& t : info.tables)
        if (t.key == *k) table = &t;
      if (!table) table = &info.tables.emplace_back(VersionStringTable{*k, {}});
      table->strings.emplace_back(std::move(name), std::move(value));
    } else {
      return usage();
    }
  }
  if (!explicitTranslations)
    for (const auto& t : info.tables) info.translations.push_back(t.key);
  if (auto written = writeVersionFile(argv[2], info); !written)
    return fail(std::string("cannot write ") + argv[2] + ": " + written.message());
  return 0;
}

int show(const char* file) {
  auto block = readVersionBlock(file);
  if (!block) return fail(block.message());
  auto info = decodeVersionBlock(*block);
  if (!info) return fail(std::string(file) + ": " + info.message());
  std::printf("FileVersion %s\n", versionWordsText(info->fixed.fileVersionMS, info->fixed.fileVersionLS).c_str());
  std::printf("ProductVersion %s\n",
              versionWordsText(info->fixed.productVersionMS, info->fixed.productVersionLS).c_str());
  std::printf("FileType %u\n", info->fixed.fileType);
  for (const auto& t : info->translations) std::printf("Translation %s\n", keyText(t).c_str());
  for (const auto& t : info->tables)
    for (const auto& [name, value] : t.strings)
      std::printf("%s %s=%s\n", keyText(t.key).c_str(), name.c_str(), value.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "write") == 0) return write(argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "show") == 0) return show(argv[2]);
  return usage();
}
