#include "platform/kernel/version_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"
#include "platform/kernel/module_path.h"

using namespace plat::kernel;

namespace {

std::string text(const plat::Result<std::span<const std::uint8_t>>& v) {
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
  EXPECT_EQ(queryVersionValue(*block, "\\StringFileInfo\\040704e4\\CompanyName").message(),
            "no value \\StringFileInfo\\040704e4\\CompanyName in the version block");
  EXPECT_EQ(queryVersionValue(*block, "\\Other").code(), EINVAL);
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

// Offsets into the block that twoTranslations() encodes to.
constexpr std::size_t kTotalAt = 8, kFixedSizeAt = 16, kTrCountAt = 24, kTableCountAt = 32;
constexpr std::size_t kFixedAt = 36, kTablesAt = 36 + 52 + 8;

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(VersionBlock, ADamagedBlockSaysWhatIsWrong) {
  const auto good = *encodeVersionBlock(twoTranslations());
  const auto firstName = kTablesAt + 8;  // the length word of table 1's first string
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::string message;
  };
  const std::string size = std::to_string(good.size()), sizePlus1 = std::to_string(good.size() + 1);
  const Case cases[] = {
      {"cut short", [](auto& b) { b.resize(20); }, "20 bytes, shorter than the header"},
      {"magic", [](auto& b) { b[0] = 'X'; }, "it does not start with KELMVER"},
      {"total past the end", [](auto& b) { put32(b, kTotalAt, static_cast<std::uint32_t>(b.size() + 1)); },
       "it claims " + sizePlus1 + " bytes but holds " + size},
      {"fixed size", [](auto& b) { put32(b, kFixedSizeAt, 48); }, "the fixed part is 48 bytes instead of 52"},
      {"signature", [](auto& b) { b[kFixedAt] ^= 1; }, "the fixed part's signature is FEEF04BC instead of FEEF04BD"},
      {"translations", [](auto& b) { put32(b, kTrCountAt, 65); }, "65 translations (at most 64)"},
      {"tables", [](auto& b) { put32(b, kTableCountAt, 3); }, "table 3 runs past the end"},
      {"strings", [](auto& b) { put32(b, kTablesAt + 4, 300); }, "table 1 has 300 strings (at most 256)"},
      {"name past the end", [&](auto& b) { b[firstName] = 0xFF; b[firstName + 1] = 0xFF; },
       "string 1 of table 1 runs past the end"},
      {"no NUL", [&](auto& b) { b[firstName] = 4; }, "string 1 of table 1 does not end its name or value with a NUL"},
      {"NUL inside", [&](auto& b) { b[firstName + 8 + 2] = 0; },
       "string 1 of table 1 has a NUL inside its name or value"},
  };
  for (const auto& c : cases) {
    auto bad = good;
    c.damage(bad);
    auto decoded = decodeVersionBlock(bad);
    ASSERT_FALSE(decoded) << c.what;
    EXPECT_EQ(decoded.code(), EBADMSG) << c.what;
    EXPECT_EQ(decoded.message(), "version block: " + c.message) << c.what;
  }

  plat::testing::TempRoot root;
  auto file = root.dir() / "marovelt.sys";
  auto bad = good;
  put32(bad, kTablesAt + 4, 300);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bad.data()), static_cast<long>(bad.size()));
  EXPECT_EQ(readVersionBlock(file).message(),
            file.string() + ": version block: table 1 has 300 strings (at most 256)");
}

TEST(VersionBlock, InformationBeyondTheLimitsIsRefusedWithTheReason) {
  auto withString = [](std::string name, std::string value) {
    VersionInfo info;
    info.tables = {{{1, 2}, {{"FileVersion", "1"}, {std::move(name), std::move(value)}}}};
    return info;
  };
  VersionInfo tooManyTranslations;
  tooManyTranslations.translations.resize(kMaxVersionTranslations + 1);
  struct Case {
    VersionInfo info;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {tooManyTranslations, EFBIG, "65 translations (at most 64)"},
      {withString("", "v"), EINVAL, "string 2 of table 1 has an empty name"},
      {withString(std::string(256, 'n'), "v"), EINVAL, "string 2 of table 1 has a name of 256 bytes (at most 255)"},
      {withString("n", std::string(4097, 'v')), EINVAL, "string 2 of table 1 has a value of 4097 bytes (at most 4096)"},
  };
  for (const auto& c : cases) {
    auto block = encodeVersionBlock(c.info);
    ASSERT_FALSE(block) << c.message;
    EXPECT_EQ(block.code(), c.code) << c.message;
    EXPECT_EQ(block.message(), std::string("version information: ") + c.message);
  }
}

TEST(VersionBlock, BuiltBinariesCarryTheirBlock) {
  auto self = readVersionBlock(modulePath().valueOr({}));
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
