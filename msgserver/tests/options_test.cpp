// The server's caps as the registry gives them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "msgserver/pellwick_app.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace kelm::msgserver {
namespace {

TEST(ConfiguredOptions, ACapThatCannotBeReadKeepsItsDefaultAndIsToldNotIgnored) {
  plat::testing::TempRoot root;
  const DocOptions defaults;
  std::vector<std::string> warnings;
  const auto warn = [&](const std::string& text) { warnings.push_back(text); };
  EXPECT_EQ(ConfiguredOptions(warn).maxAgents, defaults.maxAgents);
  EXPECT_TRUE(warnings.empty()) << "no key is no cap, not a fault";

  auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, kServerKey);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setValues(std::vector<plat::reg::Value>{plat::reg::Value::string("MaxAgents", "5"),
                                                           plat::reg::Value::dword("MaxConsoles", 7),
                                                           plat::reg::Value::dword("MaxQueuedRequests", 0)}));
  const DocOptions o = ConfiguredOptions(warn);
  EXPECT_EQ(o.maxAgents, defaults.maxAgents);
  EXPECT_EQ(o.maxConsoles, 7u);
  EXPECT_EQ(o.maxQueuedPerFolder, defaults.maxQueuedPerFolder);  // 0: the default, as documented
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("'MaxAgents' is text, not a 32-bit number"), std::string::npos) << warnings[0];
}

// Sets or clears one variable for the scope, and puts back what was there.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~EnvVar() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(TestRootTiming, OnlyAPrivateRootShortensTheTickAndTheFolderTimeOutAndBadValuesAreToldAndIgnored) {
  struct Case {
    bool privateRoot;
    const char* tickMs;
    const char* ticks;
    long wantTickMs;
    int wantTicks;
    std::size_t warnings;
  } cases[] = {
      {false, "50", "5", 1000, 60, 0},  // an installation's own timing, whatever the environment says
      {true, nullptr, nullptr, 1000, 60, 0},
      {true, "50", "5", 50, 5, 0},
      {true, "10", "60", 10, 60, 0},
      {true, "9", "61", 1000, 60, 2},
      {true, "50ms", "", 1000, 60, 2},
      {true, "-50", "0", 1000, 60, 2},
      {true, "99999999999999999999", "1", 1000, 1, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << k.privateRoot << " " << (k.tickMs ? k.tickMs : "-") << " "
                                      << (k.ticks ? k.ticks : "-"));
    std::optional<plat::testing::TempRoot> root;
    std::optional<EnvVar> noRoot;
    if (k.privateRoot)
      root.emplace();
    else
      noRoot.emplace("KELM_ROOT", nullptr);
    EnvVar tick("KELM_PELLWICK_TICK_MS", k.tickMs);
    EnvVar ticks("KELM_PELLWICK_FOLDER_TICKS", k.ticks);
    std::vector<std::string> warnings;
    DocOptions o;
    ApplyTestRootTiming(o, [&](const std::string& w) { warnings.push_back(w); });
    EXPECT_EQ(o.tick.count(), k.wantTickMs);
    EXPECT_EQ(o.folderTimeoutTicks, k.wantTicks);
    EXPECT_EQ(warnings.size(), k.warnings);
  }
}

}  // namespace
}  // namespace kelm::msgserver
