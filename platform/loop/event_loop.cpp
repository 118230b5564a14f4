#include "platform/loop/event_loop.h"

#include <cerrno>
#include <utility>

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

Timer EventLoop::timer(std::chrono::milliseconds interval, bool periodic, std::function<void()> fn) {
  return Timer(this, startTimer(interval, periodic, std::move(fn)));
}

Result<FdWatch> EventLoop::watch(int fd, std::uint32_t events, std::function<void(std::uint32_t)> fn) {
  if (fd < 0) return Error{EBADF, "no descriptor to watch"};
  if (auto watched = watchFd(fd, events, std::move(fn)); !watched) return watched.error();
  return FdWatch(this, fd);
}

Timer::Timer(Timer&& other) noexcept
    : loop_(std::exchange(other.loop_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Timer& Timer::operator=(Timer&& other) noexcept {
  if (this != &other) {
    stop();
    loop_ = std::exchange(other.loop_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void Timer::stop() {
  if (EventLoop* loop = std::exchange(loop_, nullptr)) loop->cancelTimer(std::exchange(id_, 0));
}

FdWatch::FdWatch(FdWatch&& other) noexcept
    : loop_(std::exchange(other.loop_, nullptr)), fd_(std::exchange(other.fd_, -1)) {}

FdWatch& FdWatch::operator=(FdWatch&& other) noexcept {
  if (this != &other) {
    reset();
    loop_ = std::exchange(other.loop_, nullptr);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void FdWatch::update(std::uint32_t events) {
  if (loop_) loop_->updateFd(fd_, events);
}

void FdWatch::reset() {
  if (EventLoop* loop = std::exchange(loop_, nullptr)) loop->unwatchFd(std::exchange(fd_, -1));
}

EventLoop::RunScope::RunScope(EventLoop* loop) : previous_(tCurrent) { tCurrent = loop; }

EventLoop::RunScope::~RunScope() { tCurrent = previous_; }

}  // namespace plat
