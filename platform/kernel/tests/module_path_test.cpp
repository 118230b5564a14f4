#include "platform/kernel/module_path.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "platform/base/paths.h"

using namespace plat::kernel;

namespace {

int localFunction() { return 1; }

TEST(ModulePath, ProgramAndLibraryPaths) {
  auto self = modulePath();
  ASSERT_TRUE(self) << self.message();
  EXPECT_TRUE(self->is_absolute());
  EXPECT_EQ(self->filename(), "platform_kernel_tests");
  EXPECT_EQ(modulePathOf(reinterpret_cast<const void*>(&localFunction)).valueOr({}), *self);

  auto lib = modulePathOf(reinterpret_cast<const void*>(&plat::paths::stateDir));
  ASSERT_TRUE(lib);
  EXPECT_TRUE(lib->is_absolute());
  EXPECT_EQ(lib->filename(), "libkelmplat.so");

  void* h = dlopen(lib->c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(h);
  EXPECT_EQ(modulePathOfHandle(h).valueOr({}), *lib);
  dlclose(h);

  EXPECT_EQ(modulePathOf(nullptr).code(), EINVAL);
  EXPECT_EQ(modulePathOfHandle(nullptr).code(), EINVAL);
  int onStack = 0;
  auto none = modulePathOf(&onStack);
  EXPECT_EQ(none.code(), ENOENT);
  EXPECT_NE(none.message().find("no loaded module holds the address"), std::string::npos) << none.message();
}

}  // namespace
