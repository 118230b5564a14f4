// Runs the real kelmreg program in a private root.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/testing/temp_root.h"
#include "platform/registry/registry.h"
#include "platform/testing/result_values.h"

using namespace plat::reg;
using plat::testing::valueOf;

namespace {

struct Run {
  int status;
  std::string out;
};

Run kelmreg(const std::string& args) {
  const char* bin = std::getenv("KELM_TEST_BIN");
  std::string cmd = std::string(bin ? bin : ".") + "/kelmreg " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  Run r{-1, {}};
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class KelmReg : public ::testing::Test {
 protected:
  plat::testing::TempRoot root;
};

TEST_F(KelmReg, SetQueryDeleteEveryType) {
  struct Case {
    const char* set;
    const char* line;
  };
  const Case cases[] = {
      {"@ sz 'Kelm Agent'", "@    sz    Kelm Agent\n"},
      {"Path expand_sz '%root%\\bin'", "Path    expand_sz    %root%\\bin\n"},
      {"Port dword 0x2c6", "Port    dword    0x000002c6\n"},
      {"Count dword 12", "Count    dword    0x0000000c\n"},
      {"Location binary 00ff10ab", "Location    binary    00ff10ab\n"},
      {"Ports multi_sz 'Com1\\0Com2'", "Ports    multi_sz    Com1\\0Com2\n"},
  };
  const std::string key = "'HKLM\\SOFTWARE\\Velkari Technology, Inc.\\Message Agent'";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set);
    ASSERT_EQ(kelmreg("set " + key + " " + c.set).status, 0);
    std::string name = std::string(c.set).substr(0, std::string(c.set).find(' '));
    auto q = kelmreg("query " + key + " " + name);
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.out, c.line);
  }
  ASSERT_EQ(kelmreg("set " + key + "'\\IO_CLSID' @ sz x").status, 0);
  auto all = kelmreg("query " + key);
  EXPECT_NE(all.out.find("Port    dword"), std::string::npos);
  EXPECT_NE(all.out.find("HKLM\\SOFTWARE\\Velkari Technology, Inc.\\Message Agent\\IO_CLSID\n"), std::string::npos);
  // What the tool wrote is what the library reads.
  auto k = Key::open(Hive::LocalMachine, "software\\velkari technology, inc.\\message agent");
  ASSERT_TRUE(k);
  EXPECT_EQ(valueOf(k->getBinary("Location")), (std::vector<std::uint8_t>{0, 0xff, 0x10, 0xab}));

  auto exp = kelmreg("export " + key);
  EXPECT_EQ(exp.status, 0);
  EXPECT_NE(exp.out.find("[HKLM\\SOFTWARE\\Velkari Technology, Inc.\\Message Agent]\n@=\"Kelm Agent\"\n"),
            std::string::npos)
      << exp.out;
  EXPECT_NE(exp.out.find("\"Port\"=dword:0x000002c6\n"), std::string::npos);
  EXPECT_NE(exp.out.find("[HKLM\\SOFTWARE\\Velkari Technology, Inc.\\Message Agent\\IO_CLSID]"), std::string::npos);

  EXPECT_EQ(kelmreg("delete " + key + " Port").status, 0);
  EXPECT_FALSE(k->getDword("Port"));
  EXPECT_EQ(kelmreg("delete " + key).status, 0);
  EXPECT_FALSE(k->exists());
}

TEST_F(KelmReg, BadInputIsRefusedWithAMessage) {
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"set 'HKXY\\Software' a sz b", "must start with HKLM"},
      {"set 'HKCU\\Software' a dword 0x1ffffffff", "bad dword data"},
      {"set 'HKCU\\Software' a binary abc", "bad binary data"},
      {"set 'HKCU\\Software' a float 1", "unknown type"},
      {"query 'HKCU\\Missing'", "no such key"},
      {"query 'HKCU\\Software' Missing", "no such"},
      {"delete 'HKCU\\Missing'", "cannot delete"},
      {"frobnicate 'HKCU\\Software'", "usage"},
      {"", "usage"},
  };
  kelmreg("set 'HKCU\\Software' x sz y");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    auto r = kelmreg(c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
  }
}

}  // namespace
