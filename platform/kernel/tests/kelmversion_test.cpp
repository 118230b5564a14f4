// Runs the real kelmversion program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/testing/temp_root.h"
#include "platform/kernel/version_block.h"

using namespace plat::kernel;

namespace {

std::pair<int, std::string> kelmversion(const std::string& args) {
  const char* bin = std::getenv("KELM_TEST_BIN");
  std::string cmd = std::string(bin ? bin : ".") + "/kelmversion " + args + " 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {-1, out};
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

TEST(KelmVersion, WritesADriverFileThatReadsBack) {
  plat::testing::TempRoot root;
  std::string file = (root.dir() / "marovelt.sys").string();
  auto [st, out] = kelmversion("write " + file +
                               " --file-version 1.11.0.0 --type driver --string 040904b0 FileVersion '1.11'"
                               " --string 040904b0 ProductName 'Marovelt driver' --string 040704e4 FileVersion 'eins'");
  ASSERT_EQ(st, 0) << out;
  auto block = readVersionBlock(file);
  ASSERT_TRUE(block);
  auto info = decodeVersionBlock(*block);
  EXPECT_EQ(info->fixed.fileVersionMS, 0x1000Bu);
  EXPECT_EQ(info->fixed.fileType, kFileTypeDriver);
  EXPECT_EQ(info->translations, (std::vector<Translation>{{0x0409, 0x04b0}, {0x0407, 0x04e4}}));

  auto [st2, shown] = kelmversion("show " + file);
  EXPECT_EQ(st2, 0);
  EXPECT_EQ(shown,
            "FileVersion 1.11.0.0\nProductVersion 0.0.0.0\nFileType 3\nTranslation 040904b0\nTranslation 040704e4\n"
            "040904b0 FileVersion=1.11\n040904b0 ProductName=Marovelt driver\n040704e4 FileVersion=eins\n");

  // Our own programs can be shown too.
  auto [st3, self] = kelmversion("show " + std::string(std::getenv("KELM_TEST_BIN")) + "/kelmversion");
  EXPECT_EQ(st3, 0);
  EXPECT_NE(self.find("040904b0 InternalName=kelmversion\n"), std::string::npos) << self;
}

TEST(KelmVersion, RefusesBadArguments) {
  plat::testing::TempRoot root;
  std::string file = (root.dir() / "x").string();
  const char* cases[][2] = {
      {"write X --file-version 1.x", "not a version"},
      {"write X --type kernel", "unknown type"},
      {"write X --string 0409 FileVersion 1", "not eight hex digits"},
      {"write X --translation 0409zzzz", "not eight hex digits"},
      {"write X --string 040904b0 FileVersion", "usage"},
      {"show X", "No such file or directory"},
      {"frob", "usage"},
  };
  for (auto& c : cases) {
    std::string args = c[0];
    args.replace(args.find('X') == std::string::npos ? args.size() : args.find('X'), 1, file);
    auto [st, out] = kelmversion(args);
    EXPECT_NE(st, 0) << args;
    EXPECT_NE(out.find(c[1]), std::string::npos) << args << ": " << out;
  }
}

}  // namespace
