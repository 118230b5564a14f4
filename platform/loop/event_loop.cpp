#include "platform/loop/event_loop.h"

namespace plat {
namespace {
thread_local EventLoop* tCurrent = nullptr;
}

EventLoop::EventLoop() {
  if (!tCurrent) tCurrent = this;
}

EventLoop::~EventLoop() {
  if (tCurrent == this) tCurrent = nullptr;
}

EventLoop* EventLoop::current() { return tCurrent; }

EventLoop::RunScope::RunScope(EventLoop* loop) : previous_(tCurrent) { tCurrent = loop; }

EventLoop::RunScope::~RunScope() { tCurrent = previous_; }

}  // namespace plat
