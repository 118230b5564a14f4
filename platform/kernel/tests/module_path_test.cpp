#include "platform/kernel/module_path.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "platform/base/paths.h"

using namespace plat::kernel;

namespace {

int localFunction() { return 1; }

TEST(ModulePath, ProgramAndLibraryPaths) {
  auto self = modulePath();
  EXPECT_TRUE(self.is_absolute());
  EXPECT_EQ(self.filename(), "platform_kernel_tests");
  EXPECT_EQ(modulePathOf(reinterpret_cast<const void*>(&localFunction)), self);

  auto lib = modulePathOf(reinterpret_cast<const void*>(&plat::paths::stateDir));
  ASSERT_TRUE(lib);
  EXPECT_TRUE(lib->is_absolute());
  EXPECT_EQ(lib->filename(), "libkelmplat.so");

  void* h = dlopen(lib->c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(h);
  EXPECT_EQ(modulePathOfHandle(h), lib);
  dlclose(h);

  EXPECT_FALSE(modulePathOf(nullptr));
  int onStack = 0;
  EXPECT_FALSE(modulePathOf(&onStack));
}

}  // namespace
