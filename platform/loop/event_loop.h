#pragma once
// The event loop of a thread that owns things: timers, tasks posted from other threads and
// file-descriptor readiness, all delivered on the owning thread. The interface holds nothing
// toolkit-specific, so a GUI toolkit's loop can stand behind it as well as the epoll one.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/base/clock.h"
#include "platform/base/result.h"

namespace plat {

using TimerId = std::uint64_t;

class EventLoop;

// A running timer, owned: destroying or stopping it cancels the timer, so its callback can never
// reach an object that has gone. Move-only. The loop must outlive it.
class [[nodiscard]] Timer {
 public:
  Timer() = default;
  Timer(Timer&& other) noexcept;
  Timer& operator=(Timer&& other) noexcept;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() { stop(); }

  // Cancels the timer; harmless when it already fired or was stopped. Safe from its own callback.
  void stop();
  // True from start until stop (a one-shot timer that fired still counts until stopped or replaced).
  bool started() const { return loop_ != nullptr; }

 private:
  friend class EventLoop;
  Timer(EventLoop* loop, TimerId id) : loop_(loop), id_(id) {}
  EventLoop* loop_ = nullptr;
  TimerId id_ = 0;
};

// A watched descriptor, owned: destroying or resetting it removes the watch. It does not own the
// descriptor itself (a UniqueFd beside it does); destroy the watch first. The loop must outlive it.
class [[nodiscard]] FdWatch {
 public:
  FdWatch() = default;
  FdWatch(FdWatch&& other) noexcept;
  FdWatch& operator=(FdWatch&& other) noexcept;
  FdWatch(const FdWatch&) = delete;
  FdWatch& operator=(const FdWatch&) = delete;
  ~FdWatch() { reset(); }

  // Changes the readiness the callback is asked for.
  void update(std::uint32_t events);
  // Removes the watch; harmless when there is none. Safe from its own callback.
  void reset();
  bool active() const { return loop_ != nullptr; }
  int fd() const { return fd_; }

 private:
  friend class EventLoop;
  FdWatch(EventLoop* loop, int fd) : loop_(loop), fd_(fd) {}
  EventLoop* loop_ = nullptr;
  int fd_ = -1;
};

// Readiness bits for watched descriptors.
enum IoEvent : std::uint32_t {
  kIoReadable = 1u << 0,
  kIoWritable = 1u << 1,
  kIoError = 1u << 2,  // error or hang-up; reported whatever was asked for
};

class EventLoop {
 public:
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;
  virtual ~EventLoop();

  // The loop of the calling thread: the one created on it (the first, while it lives) or the one
  // running on it. Null on a thread without a loop.
  static EventLoop* current();

  // Registrations are owned: destroying the Timer or FdWatch cancels it, so a callback can never
  // reach an object that has gone. Timers run on the loop's thread. A periodic timer whose
  // expirations were missed (the thread was busy) is called once for all of them. A callback may
  // stop its own timer.
  Timer timer(std::chrono::milliseconds interval, bool periodic, std::function<void()> fn);
  Timer singleShot(std::chrono::milliseconds delay, std::function<void()> fn) {
    return timer(delay, false, std::move(fn));
  }
  // Calls fn(events) whenever fd is ready for one of `events` (level-triggered). One watch per
  // descriptor; an error when the descriptor cannot be watched (not open, watched already, or
  // the kernel takes no more). The callback may change or remove any watch, its own included.
  Result<FdWatch> watch(int fd, std::uint32_t events, std::function<void(std::uint32_t)> fn);

  // Safe from any thread: the task runs on the loop's thread, in posting order.
  virtual void post(std::function<void()> task) = 0;

  // Runs until quit(), or until waiting fails for good (the error; an interrupted wait is no
  // failure). quit() is safe from any thread.
  virtual Result<void> run() = 0;
  virtual void quit() = 0;
  // Waits at most timeoutMs (-1: no limit) for something to do, then does everything that is due.
  // For owners that drive the loop themselves, and for tests.
  virtual void runOnce(int timeoutMs) = 0;

  // The clock timers are measured on.
  virtual const Clock& clock() const = 0;

  // While `expecting()` holds, a wait that would sleep first looks again for up to `window`
  // (real time) without sleeping: a thread that expects an answer within microseconds would
  // otherwise pay the wake-up of a sleeping processor (slow on virtual machines) for each one.
  // The predicate runs once per wait, on the loop's thread. A zero window (the default) always
  // sleeps; a loop that cannot look without sleeping ignores this.
  virtual void setBusyPoll(std::chrono::microseconds window, std::function<bool()> expecting) {
    (void)window;
    (void)expecting;
  }

 protected:
  EventLoop();

  // The raw registrations behind Timer and FdWatch, for the loop implementations. Cancelling an
  // unknown or fired id is harmless.
  friend class Timer;
  friend class FdWatch;
  virtual TimerId startTimer(std::chrono::milliseconds interval, bool periodic, std::function<void()> fn) = 0;
  virtual void cancelTimer(TimerId id) = 0;
  virtual Result<void> watchFd(int fd, std::uint32_t events, std::function<void(std::uint32_t)> fn) = 0;
  virtual void updateFd(int fd, std::uint32_t events) = 0;
  virtual void unwatchFd(int fd) = 0;

  // A loop that runs on a thread becomes that thread's current loop for the duration.
  class RunScope {
   public:
    explicit RunScope(EventLoop* loop);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    EventLoop* previous_;
  };
};

// The epoll loop (timerfd for timers, eventfd for posted tasks and quit). With an injected
// clock, tests move time by hand and call runOnce(0) to fire what is due. No loop, and the reason,
// when one of its descriptors cannot be made (descriptors exhausted).
Result<std::unique_ptr<EventLoop>> makeEpollLoop(const Clock& clock = systemClock());

}  // namespace plat
