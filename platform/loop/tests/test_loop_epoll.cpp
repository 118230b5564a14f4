#include "platform/loop/tests/test_loop.h"

namespace plat::testing {

std::unique_ptr<EventLoop> makeTestLoop(const Clock& clock) { return makeEpollLoop(clock).value(); }

}  // namespace plat::testing
