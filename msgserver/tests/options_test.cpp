// The server's caps as the registry gives them.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kelm::msgserver
