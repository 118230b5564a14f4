// The installer from the built medium: every part into a private root, a second install over
// it, and installs that must change nothing.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/base/process.h"
#include "platform/kernel/named_objects.h"
#include "platform/testing/temp_root.h"

namespace kelm::setup {
namespace {

namespace fs = std::filesystem;
using plat::process::Run;
using plat::process::RunOutput;

const char* kAll = "-PART=\"$Remote$Local$Server$Agent$I2O$MV$SC\"";

fs::path medium() {
  const char* m = std::getenv("KELM_TEST_MEDIUM");
  return m ? fs::path(m) / "medium" : fs::path();
}

RunOutput Install(const std::string& arg, const fs::path& from = medium()) {
  auto ran = Run({(from / "isSetup.exe").string(), arg}, {from, false, false});
  EXPECT_TRUE(ran) << ran.message();
  return ran ? *ran : RunOutput{-1, ""};
}

std::string Reg(const fs::path& root, const std::string& key) {
  auto ran = Run({(root / "usr/bin/kelmreg").string(), "export", key});
  EXPECT_TRUE(ran && ran->exitCode == 0);
  return ran ? ran->output : std::string();
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class IssetupInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    if (medium().empty() || !fs::exists(medium() / "data2.cab")) GTEST_SKIP() << "no medium was built";
  }
  plat::testing::TempRoot root_;
};

TEST_F(IssetupInstall, EveryPartGoesUnderThePrivateRootAndASecondInstallGoesOverIt) {
  const fs::path root = root_.dir();
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("install " + std::to_string(round));
    const RunOutput out = Install(kAll);
    ASSERT_EQ(out.exitCode, 0) << out.output;
    EXPECT_EQ(out.output,
              "$Remote: Remote Monitoring Utility installed (kelm-remote 1.0.0)\n"
              "$Local: Local Monitoring Utility installed (kelm-local 1.0.0)\n"
              "$Server: Message Server installed (kelm-server 1.0.0)\n"
              "$Agent: Message Agent installed (kelm-agent 1.0.0)\n"
              "$I2O: Palindrex Component installed (kelm-i2o 1.0.0)\n"
              "$MV: Marovelt Component installed (kelm-mv 1.0.0)\n"
              "$SC: Sorventic Component installed (kelm-sc 1.0.0)\n");
    for (const char* f : {"usr/bin/halvorn", "usr/bin/pellwick", "usr/bin/kelmregsvr", "usr/bin/kelmreg",
                          "usr/lib/kelm/libkelmplat.so", "usr/lib/kelm/libglimmora.so", "usr/lib/kelm/libbrask.so",
                          "usr/lib/kelm/libtirrow.so", "usr/lib/kelm/libvantrel.so",
                          "usr/share/doc/kelm-agent/copyright"})
      EXPECT_TRUE(fs::is_regular_file(root / f)) << f;

    // The components are registered where they were installed.
    const std::string classes = Reg(root, "HKCR\\CLSID");
    for (const char* lib : {"libbrask.so", "libtirrow.so", "libvantrel.so"})
      EXPECT_NE(classes.find((root / "usr/lib/kelm" / lib).string()), std::string::npos) << lib << "\n" << classes;
    const std::string list = Reg(root, "HKLM\\SOFTWARE\\Velkari Technology, Inc.\\Message Agent\\IO_CLSID");
    for (const char* type : {"SC_RAID", "MV_RAID", "VANTREL_RAID"})
      EXPECT_NE(list.find(type), std::string::npos) << type << "\n" << list;

    // The services' units start the installed programs in this root.
    for (const char* unit : {"ZODUzAve", "REDErUve"}) {
      const std::string text = ReadAll(root / "etc/systemd/system" / (std::string(unit) + ".service"));
      const char* program = std::string(unit) == "ZODUzAve" ? "usr/bin/halvorn" : "usr/bin/pellwick";
      EXPECT_NE(text.find("ExecStart=" + (root / program).string()), std::string::npos) << text;
      EXPECT_NE(text.find("KELM_ROOT=" + root.string()), std::string::npos) << text;
    }
    // Nothing of the staging is left behind.
    for (const auto& e : fs::directory_iterator(root / "var/lib/kelm"))
      EXPECT_EQ(e.path().filename().string().rfind("setup-", 0), std::string::npos) << e.path();
  }
  // The installed programs run from the root.
  auto version =
      plat::process::Run({(root / "usr/bin/kelmversion").string(), "show", (root / "usr/bin/halvorn").string()});
  ASSERT_TRUE(version);
  EXPECT_EQ(version->exitCode, 0) << version->output;
}

TEST_F(IssetupInstall, ARefusedInstallChangesNothing) {
  const fs::path root = root_.dir();
  ASSERT_EQ(Install("-PART=\"$Agent$SC\"").exitCode, 0);
  const auto before = fs::last_write_time(root / "usr/bin/halvorn");

  // Argument errors name the word and install nothing.
  for (const char* arg : {"-PART=\"$Agent$Agent\"", "-PART=\"$Agent$Nope\"", "-PART=\"\""}) {
    SCOPED_TRACE(arg);
    EXPECT_EQ(Install(arg).exitCode, 2);
  }
  // A damaged payload: the earlier installation stays as it was.
  const fs::path broken = root / "broken";
  fs::create_directories(broken);
  fs::copy_file(medium() / "isSetup.exe", broken / "isSetup.exe");
  {
    std::ifstream in(medium() / "data2.cab", std::ios::binary);
    std::string data(std::istreambuf_iterator<char>(in), {});
    std::ofstream(broken / "DATA2.CAB", std::ios::binary) << data.substr(0, data.size() / 2);
  }
  EXPECT_EQ(Install(kAll, broken).exitCode, 1);
  EXPECT_FALSE(fs::exists(root / "usr/bin/pellwick"));
  // A running agent keeps its files and its unit.
  {
    auto agent = plat::kernel::NamedMutex::create("ZODUzAve-Mutex");
    ASSERT_TRUE(agent);
    EXPECT_EQ(Install(kAll).exitCode, 1);
  }
  EXPECT_FALSE(fs::exists(root / "usr/bin/pellwick"));
  EXPECT_EQ(fs::last_write_time(root / "usr/bin/halvorn"), before);
}

}  // namespace
}  // namespace kelm::setup
