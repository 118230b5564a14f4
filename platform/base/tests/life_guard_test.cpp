#include "platform/base/life_guard.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace plat {
namespace {

// An object that calls out to a callback which may destroy it, and then touches itself only if it
// survived.
struct Caller {
  LifeGuard guard;
  std::function<void()> callback;
  int after = 0;
  bool call(int depth) {
    LifeGuard::Scope alive(guard);
    if (depth > 0 && !call(depth - 1)) return false;  // nested scopes, as in re-entrant calls
    callback();
    if (!alive) return false;
    ++after;
    return true;
  }
};

TEST(LifeGuardTest, EveryOpenScopeLearnsThatItsObjectWasDestroyed) {
  for (int depth : {0, 1, 3}) {
    auto c = std::make_unique<Caller>();
    c->callback = [&] { c.reset(); };
    EXPECT_FALSE(c->call(depth)) << depth;
    EXPECT_EQ(c, nullptr);
  }
}

TEST(LifeGuardTest, AScopeOfASurvivorStaysAliveAndClosedScopesAreForgotten) {
  Caller c;
  c.callback = [] {};
  EXPECT_TRUE(c.call(2));
  EXPECT_EQ(c.after, 3);
  // The guard dies with no scope open: nothing is touched.
  { Caller gone; }
}

}  // namespace
}  // namespace plat
