// libbrask.so as the agent meets it: registered by kelmregsvr, created by class id, and unloadable
// once its root and timer are gone. The private root has no serial port, so the link never comes up.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "components/framework/component_types.h"
#include "components/framework/interfaces.h"
#include "components/framework/tests/library_harness.h"
#include "platform/testing/temp_root.h"
#include "platform/com/activation.h"
#include "platform/com/enum_string.h"
#include "platform/com/inproc_server.h"
#include "platform/loop/event_loop.h"
#include "platform/registry/registry.h"
#include "platform/testing/result_values.h"

using namespace kelm::fw;
using namespace plat;
using namespace plat::com;

namespace {

const kelm::fw::testing::ComponentLibrary lib("libbrask.so");
int regsvr(const std::string& args) { return lib.Regsvr(args); }
HRESULT canUnloadNow() { return lib.CanUnloadNow(); }

TEST(BraskLibrary, RegisteredAsTheSerialFamilyAndCreatedByClassId) {
  plat::testing::TempRoot root;
  auto loop = makeEpollLoop().value();  // the thread's loop, for the component's timer
  ASSERT_EQ(regsvr(""), 0);
  auto entry = reg::Key::open(reg::Hive::LocalMachine, std::string(kIoClsidKey) + "\\" + kBrask.clsid.toString());
  ASSERT_TRUE(entry);
  EXPECT_EQ(plat::testing::valueOf(entry->getString("")), "SC_RAID");
  EXPECT_EQ(plat::testing::valueOf(entry->getString("ProgID")), "VelkariRAID.SorventicRAID.1");

  ComPtr<IRiver> node;
  ASSERT_EQ(CoCreateInstance(kBrask.clsid, CLSCTX_INPROC_SERVER, node), S_OK);
  ComPtr<IUnknown> u;
  ASSERT_EQ(node->dir(u.put()), S_OK);
  std::vector<std::string> lines;
  u.as<IEnumString>()->Next(100, lines);
  u.reset();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 3), ";14");
  EXPECT_EQ(lines[1].substr(0, 19), "connectComPort@m--@");
  EXPECT_EQ(lines[3], "ComportStatus@pr-@Disconnected");
  EXPECT_EQ(lines[4].substr(0, 16), "FileVersion@pr-@") << "the library's own version block";
  EXPECT_GT(lines[4].size(), 16u);
  EXPECT_EQ(lines[5], "Type@pr-@VELKARI SorventicRAID");
  EXPECT_EQ(canUnloadNow(), S_FALSE);

  node.reset();
  EXPECT_EQ(canUnloadNow(), S_OK) << "the last root took its timer and lock with it";
  ASSERT_EQ(regsvr("-u"), 0);
  EXPECT_FALSE(reg::Key::open(reg::Hive::LocalMachine, std::string(kIoClsidKey) + "\\" + kBrask.clsid.toString()));
}

}  // namespace
