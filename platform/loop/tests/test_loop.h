#pragma once
// The loop the shared loop and socket tests run on. Each test program links one definition, so
// the same suite runs against the epoll loop and against the Qt loop.
#include <memory>

#include "platform/base/clock.h"
#include "platform/loop/event_loop.h"

namespace plat::testing {

std::unique_ptr<EventLoop> makeTestLoop(const Clock& clock = systemClock());

}  // namespace plat::testing
