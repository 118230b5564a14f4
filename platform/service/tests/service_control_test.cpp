#include "platform/service/service_control.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/testing/temp_root.h"

namespace plat::service {
namespace {

TEST(Notify, NobodyToTellIsNoFailureAManagerThatCannotBeReachedIs) {
  plat::testing::TempRoot root;
  ::unsetenv("NOTIFY_SOCKET");
  EXPECT_TRUE(notify("READY=1"));
  ::setenv("NOTIFY_SOCKET", (root.dir() / "gone.sock").c_str(), 1);
  auto told = notify("READY=1");
  ::unsetenv("NOTIFY_SOCKET");
  ASSERT_FALSE(told);
  EXPECT_EQ(told.message().rfind("telling the service manager: ", 0), 0u) << told.message();
}

}  // namespace
}  // namespace plat::service
