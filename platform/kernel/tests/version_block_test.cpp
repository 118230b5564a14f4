#include "platform/kernel/version_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"
#include "platform/kernel/module_path.h"

using namespace plat::kernel;

namespace {

std::string text(std::optional<std::span<const std::uint8_t>> v) {
  return v ? std::string(reinterpret_cast<const char*>(v->data()), v->size()) : std::string("<none>");
}

VersionInfo twoTranslations() {
  VersionInfo info;
  info.fixed.fileVersionMS = 1 << 16 | 11;
  info.fixed.fileType = kFileTypeDriver;
  info.translations = {{0x0409, 0x04b0}, {0x0407, 0x04e4}};
  info.tables = {{{0x0409, 0x04b0}, {{"FileVersion", "1.11"}, {"CompanyName", "Velkari Technology, Inc."}}},
                 {{0x0407, 0x04e4}, {{"FileVersion", "1,11 (deutsch)"}}}};
  return info;
}

TEST(VersionBlock, EncodesDecodesAndAnswersQueryPaths) {
  auto block = encodeVersionBlock(twoTranslations());
  ASSERT_TRUE(block);
  auto back = decodeVersionBlock(*block);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->translations, twoTranslations().translations);
  ASSERT_EQ(back->tables.size(), 2u);
  EXPECT_EQ(back->tables[1].strings[0].second, "1,11 (deutsch)");

  auto fixed = queryVersionValue(*block, "\\");
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixedFromBytes(*fixed).fileVersionMS, 0x1000Bu);
  EXPECT_EQ(fixedFromBytes(*fixed).signature, kFixedSignature);
  auto tr = queryVersionValue(*block, "\\VarFileInfo\\Translation");
  ASSERT_TRUE(tr);
  EXPECT_EQ(std::vector<std::uint8_t>(tr->begin(), tr->end()),
            (std::vector<std::uint8_t>{0x09, 0x04, 0xb0, 0x04, 0x07, 0x04, 0xe4, 0x04}));

  struct Case {
    const char* path;
    const char* expect;
  };
  const Case cases[] = {
      {"\\StringFileInfo\\040904b0\\FileVersion", "1.11"},
      {"\\stringfileinfo\\040904B0\\companyname", "Velkari Technology, Inc."},
      {"\\StringFileInfo\\040704e4\\FileVersion", "1,11 (deutsch)"},
      {"\\StringFileInfo\\040704e4\\CompanyName", "<none>"},
      {"\\StringFileInfo\\041104b0\\FileVersion", "<none>"},
      {"\\StringFileInfo\\0409zz04\\FileVersion", "<none>"},
      {"\\StringFileInfo\\040904b0", "<none>"},
      {"\\Other", "<none>"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(queryVersionValue(*block, c.path)), c.expect) << c.path;
  // Strings end with a NUL inside the block, so a pointer to them is a C string.
  auto fv = queryVersionValue(*block, "\\StringFileInfo\\040904b0\\FileVersion");
  EXPECT_EQ(fv->data()[fv->size()], 0);
}

TEST(VersionBlock, DamagedBlocksAreRefusedWithoutReadingPastThem) {
  auto block = *encodeVersionBlock(twoTranslations());
  for (std::size_t n = 0; n < block.size(); ++n) {
    std::span<const std::uint8_t> cut(block.data(), n);
    EXPECT_FALSE(decodeVersionBlock(cut)) << n;
    (void)queryVersionValue(cut, "\\StringFileInfo\\040704e4\\FileVersion");
  }
  // Every single byte flipped: decoding either refuses or stays within the block.
  for (std::size_t i = 0; i < block.size(); ++i) {
    auto bad = block;
    bad[i] ^= 0xFF;
    (void)decodeVersionBlock(bad);
    (void)queryVersionValue(bad, "\\StringFileInfo\\040704e4\\FileVersion");
  }
  // A NUL inside a text would cut it short for a reader pointing into the block.
  VersionInfo one;
  one.translations = {{0x0409, 0x04b0}};
  one.tables = {{{0x0409, 0x04b0}, {{"FileVersion", "1.11"}}}};
  auto good = *encodeVersionBlock(one);
  ASSERT_TRUE(decodeVersionBlock(good));
  for (const char* needle : {"1.11", "FileVersion"}) {
    auto bad = good;
    auto at = std::search(bad.begin(), bad.end(), needle, needle + std::strlen(needle));
    ASSERT_NE(at, bad.end());
    at[1] = 0;
    EXPECT_FALSE(decodeVersionBlock(bad)) << needle;
    EXPECT_FALSE(queryVersionValue(bad, "\\StringFileInfo\\040904b0\\FileVersion"));
  }
  VersionInfo tooMany;
  tooMany.tables.resize(1);
  for (std::size_t i = 0; i <= kMaxVersionStrings; ++i)
    tooMany.tables[0].strings.emplace_back("n" + std::to_string(i), "v");
  EXPECT_FALSE(encodeVersionBlock(tooMany));
  VersionInfo nul;
  nul.tables = {{{1, 2}, {{std::string("a\0b", 3), "v"}}}};
  EXPECT_FALSE(encodeVersionBlock(nul));
}

TEST(VersionBlock, BuiltBinariesCarryTheirBlock) {
  auto self = readVersionBlock(modulePath());
  ASSERT_TRUE(self);
  EXPECT_EQ(text(queryVersionValue(*self, "\\StringFileInfo\\040904b0\\InternalName")), "platform_kernel_tests");
  EXPECT_EQ(text(queryVersionValue(*self, "\\StringFileInfo\\040904b0\\FileVersion")), KELM_PROJECT_VERSION);
  auto selfInfo = decodeVersionBlock(*self);
  EXPECT_EQ(selfInfo->fixed.fileType, kFileTypeApp);
  EXPECT_EQ(selfInfo->fixed.fileVersionMS >> 16, static_cast<std::uint32_t>(std::stoi(KELM_PROJECT_VERSION)));

  auto lib = modulePathOf(reinterpret_cast<const void*>(&plat::paths::stateDir));
  ASSERT_TRUE(lib);
  auto libBlock = readVersionBlock(*lib);
  ASSERT_TRUE(libBlock);
  EXPECT_EQ(decodeVersionBlock(*libBlock)->fixed.fileType, kFileTypeDll);
  EXPECT_EQ(text(queryVersionValue(*libBlock, "\\StringFileInfo\\040904b0\\OriginalFilename")), "libkelmplat.so");
}

TEST(VersionBlock, StandaloneFilesAndFilesWithoutABlock) {
  plat::testing::TempRoot root;
  auto file = root.dir() / "marovelt.sys";
  ASSERT_TRUE(writeVersionFile(file, twoTranslations()));
  auto block = readVersionBlock(file);
  ASSERT_TRUE(block);
  EXPECT_EQ(text(queryVersionValue(*block, "\\StringFileInfo\\040704e4\\FileVersion")), "1,11 (deutsch)");
  EXPECT_EQ(decodeVersionBlock(*block)->fixed.fileType, kFileTypeDriver);

  std::ofstream(root.dir() / "plain.txt") << "no version here";
  std::ofstream(root.dir() / "fake.elf") << "\x7f"
                                            "ELF garbage that is not a real header";
  for (auto p : {root.dir() / "plain.txt", root.dir() / "fake.elf", root.dir() / "missing", root.dir()})
    EXPECT_FALSE(readVersionBlock(p)) << p;
  EXPECT_FALSE(readVersionBlock("/bin/sh"));  // an ELF file without our section
  EXPECT_FALSE(writeVersionFile(root.dir() / "no" / "dir" / "x", twoTranslations()));
}

TEST(VersionBlock, VersionTexts) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t ms, ls;
  };
  const Case cases[] = {
      {"1.11.0.0", true, 0x1000B, 0},
      {"2.1.0.3", true, 0x20001, 3},
      {"1", true, 0x10000, 0},
      {"1.0.65535.7", true, 0x10000, 0xFFFF0007},
      {"1.65536", false, 0, 0},
      {"1..2", false, 0, 0},
      {"", false, 0, 0},
      {"1.2.3.4.5", false, 0, 0},
      {"1.x", false, 0, 0},
      {"1.", false, 0, 0},
  };
  for (const auto& c : cases) {
    auto w = parseVersionWords(c.text);
    EXPECT_EQ(w.has_value(), c.ok) << c.text;
    if (w && c.ok) {
      EXPECT_EQ(*w, std::pair(c.ms, c.ls)) << c.text;
    }
  }
  EXPECT_EQ(versionWordsText(0x1000B, 0x20003), "1.11.2.3");
}

}  // namespace
