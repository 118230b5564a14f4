#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

int run(const std::string& args) {
  const char* bin = std::getenv("KELM_TEST_BIN");
  std::string cmd = std::string(bin ? bin : ".") + "/kelmregsvr " + args + " >/dev/null 2>&1";
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(Kelmregsvr, RefusesWhatItCannotRegister) {
  const char* lib = std::getenv("KELM_TEST_LIB");
  std::string plat = std::string(lib ? lib : ".") + "/libkelmplat.so";
  struct Case {
    std::string args;
    int want;
  };
  const Case cases[] = {
      {"", 2},                     // no library
      {"-x lib.so", 2},            // unknown option
      {"a.so b.so", 2},            // two libraries
      {"/nonexistent/lib.so", 1},  // no such file
      {"'" + plat + "'", 1},       // a library without the export
      {"-u '" + plat + "'", 1},
      {"/etc/hostname", 1},  // not a library at all
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.args), c.want) << c.args;
}

}  // namespace
