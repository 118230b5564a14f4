// libvantrel.so as the agent meets it: registered by kelmregsvr, created by class id, and unloadable
// once its root is gone. The private root has no driver device, so no controller is found.
#include <gtest/gtest.h>

#include "components/framework/component_types.h"
#include "components/framework/tests/library_harness.h"
#include "platform/testing/temp_root.h"
#include "platform/com/activation.h"
#include "platform/loop/event_loop.h"
#include "platform/registry/registry.h"
#include "platform/testing/result_values.h"

using namespace kelm::fw;
using namespace plat;
using namespace plat::com;

namespace {

TEST(VantrelLibrary, RegisteredAsTheIntelligentIoFamilyAndCreatedByClassId) {
  plat::testing::TempRoot root;
  auto loop = makeEpollLoop().value();
  const kelm::fw::testing::ComponentLibrary lib("libvantrel.so");
  ASSERT_EQ(lib.Regsvr(""), 0);
  const std::string key = std::string(kIoClsidKey) + "\\" + kVantrel.clsid.toString();
  auto entry = reg::Key::open(reg::Hive::LocalMachine, key);
  ASSERT_TRUE(entry);
  EXPECT_EQ(plat::testing::valueOf(entry->getString("")), "VANTREL_RAID");
  EXPECT_EQ(plat::testing::valueOf(entry->getString("ProgID")), "VelkariRAID.Vantrel.1");

  ComPtr<IRiver> node;
  ASSERT_EQ(CoCreateInstance(kVantrel.clsid, CLSCTX_INPROC_SERVER, node), S_OK);
  auto lines = kelm::fw::testing::Listing(*node);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 3), ";14");
  EXPECT_EQ(lines[1].substr(0, 16), "FileVersion@pr-@") << "the library's own version block";
  EXPECT_GT(lines[1].size(), 16u);
  EXPECT_EQ(lines[2], "Type@pr-@Driver not found");
  EXPECT_EQ(lib.CanUnloadNow(), S_FALSE);

  node.reset();
  EXPECT_EQ(lib.CanUnloadNow(), S_OK);
  ASSERT_EQ(lib.Regsvr("-u"), 0);
  EXPECT_FALSE(reg::Key::open(reg::Hive::LocalMachine, key));
}

}  // namespace
