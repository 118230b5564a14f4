#include "components/framework/version_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/testing/temp_root.h"

using kelm::fw::CVersionInfo;
using namespace plat::kernel;

namespace {

class VersionInfoReader : public ::testing::Test {
 protected:
  plat::testing::TempRoot root;
};

TEST_F(VersionInfoReader, TwoTranslationsInAStandaloneFile) {
  VersionInfo info;
  info.translations = {{0x0409, 0x04b0}, {0x0407, 0x04e4}};
  info.tables = {{{0x0409, 0x04b0}, {{"FileVersion", "1.11"}, {"ProductName", "Marovelt"}}},
                 {{0x0407, 0x04e4}, {{"FileVersion", "1,11"}}}};
  auto file = root.dir() / "marovelt.sys";
  ASSERT_TRUE(writeVersionFile(file, info));

  CVersionInfo v;
  ASSERT_TRUE(v.Open(file));
  EXPECT_EQ(v.TranslationCount(), 2);
  const char* text = nullptr;
  unsigned len = 0;
  ASSERT_NE(v.QueryString("FileVersion", &text, &len), 0);
  EXPECT_STREQ(text, "1.11");
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(v.String("FileVersion", 1), "1,11");
  // Index past the table, a missing string, no name: 0, and the out values stay as they were.
  text = "untouched";
  EXPECT_EQ(v.QueryString("FileVersion", &text, &len, 2), 0);
  EXPECT_EQ(v.QueryString("ProductName", &text, &len, 1), 0);
  EXPECT_EQ(v.QueryString("Missing", &text, &len), 0);
  EXPECT_EQ(v.QueryString(nullptr, &text, &len), 0);
  EXPECT_EQ(v.QueryString("FileVersion", &text, &len, -1), 0);
  EXPECT_STREQ(text, "untouched");

  v.Close();
  EXPECT_FALSE(v.IsValid());
  EXPECT_EQ(v.QueryString("FileVersion", &text, &len), 0);
}

TEST_F(VersionInfoReader, FilesWithoutABlockGiveAReaderThatIsNotValid) {
  std::ofstream(root.dir() / "plain.sys") << "MZ this is not a version block";
  // A block without a translation table still gives nothing to query.
  VersionInfo noStrings;
  ASSERT_TRUE(writeVersionFile(root.dir() / "bare.sys", noStrings));
  for (const char* name : {"plain.sys", "absent.sys"}) {
    CVersionInfo v;
    EXPECT_FALSE(v.Open(root.dir() / name)) << name;
    EXPECT_FALSE(v.IsValid());
    EXPECT_FALSE(v.String("FileVersion"));
  }
  CVersionInfo bare;
  EXPECT_TRUE(bare.Open(root.dir() / "bare.sys"));
  EXPECT_EQ(bare.TranslationCount(), 0);
  EXPECT_FALSE(bare.String("FileVersion"));
}

TEST_F(VersionInfoReader, ReadsTheRunningProgramAndABuiltComponent) {
  CVersionInfo self;
  ASSERT_TRUE(self.Open());
  EXPECT_EQ(self.String("InternalName"), "framework_version_tests");
  EXPECT_EQ(self.String("CompanyName"), "Velkari Technology, Inc.");
  EXPECT_EQ(self.Fixed()->fileType, kFileTypeApp);

  CVersionInfo lib;
  ASSERT_TRUE(lib.Open(std::filesystem::path(std::getenv("KELM_TEST_LIB")) / "libkelmplat.so"));
  EXPECT_EQ(lib.String("OriginalFilename"), "libkelmplat.so");
  EXPECT_EQ(lib.Fixed()->fileType, kFileTypeDll);
}

}  // namespace
