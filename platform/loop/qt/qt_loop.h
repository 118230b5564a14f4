#pragma once
// The event loop of the console's user-interface thread, standing on Qt's own dispatcher: timers
// wake through a QTimer, descriptors through QSocketNotifier and posted tasks through queued
// invocations, so everything registered here is delivered while QApplication::exec() runs as well
// as from run() and runOnce().
#include <memory>

#include "platform/base/clock.h"
#include "platform/loop/event_loop.h"

namespace plat {

// Needs a QCoreApplication (or QApplication) to exist first, and must be made, used and destroyed
// on the thread it serves; post() and quit() are safe from any thread. Timer deadlines are taken
// from `clock`, so a manual clock and runOnce(0) drive it just as they drive the epoll loop.
std::unique_ptr<EventLoop> makeQtLoop(const Clock& clock = systemClock());

}  // namespace plat
