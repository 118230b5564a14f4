// Which way the console's rebooter takes. No case here may reach the machine: the ways are the
// test's own, and the real rebooter is asked only under a private root, which it refuses.
#include "console/ui/rebooter.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"

namespace kelm::console::ui {
namespace {

TEST(SystemRebooter, ChoosesTheLoginManagerThenSystemctlAndNeverUnderAPrivateRoot) {
  struct Case {
    const char* name;
    bool privateRoot;
    bool loginWorks;
    bool systemctlWorks;
    bool rebooted;
    int loginAsked;
    int systemctlRun;
    const char* says;  // in the error
  };
  const Case cases[] = {
      {"private root", true, true, true, false, 0, 0, "KELM_ROOT"},
      {"login manager", false, true, true, true, 1, 0, ""},
      {"falls back", false, false, true, true, 1, 1, ""},
      {"both refuse", false, false, false, false, 1, 1, "bus refused; systemctl refused"},
  };
  for (const Case& c : cases) {
    int login = 0, systemctl = 0;
    SystemRebooter rebooter(SystemRebooter::Ways{
        [&] { return c.privateRoot; },
        [&]() -> plat::Result<void> {
          ++login;
          if (c.loginWorks) return plat::success();
          return plat::Error{EACCES, "bus refused"};
        },
        [&]() -> plat::Result<void> {
          ++systemctl;
          if (c.systemctlWorks) return plat::success();
          return plat::Error{ECANCELED, "systemctl refused"};
        }});
    const auto done = rebooter.Reboot();
    EXPECT_EQ(done.ok(), c.rebooted) << c.name;
    EXPECT_EQ(login, c.loginAsked) << c.name;
    EXPECT_EQ(systemctl, c.systemctlRun) << c.name;
    EXPECT_NE(done.message().find(c.says), std::string::npos) << c.name << ": " << done.message();
  }
}

TEST(SystemRebooter, TheRealOneRefusesUnderAPrivateRoot) {
  plat::testing::TempRoot root;
  // Without the root this would restart the machine: never ask it then.
  ASSERT_FALSE(plat::paths::root().empty());
  const auto done = SystemRebooter().Reboot();
  ASSERT_FALSE(done.ok());
  EXPECT_NE(done.message().find("KELM_ROOT"), std::string::npos) << done.message();
  EXPECT_NE(done.message().find(root.dir().string()), std::string::npos) << done.message();
}

}  // namespace
}  // namespace kelm::console::ui
