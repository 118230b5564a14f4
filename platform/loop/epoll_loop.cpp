// The epoll implementation of EventLoop.
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/timer_table.h"

namespace plat {
namespace {

class EpollLoop final : public EventLoop {
 public:
  explicit EpollLoop(const Clock& clock) : clock_(clock) {}

  // Creates the loop's own descriptors; the first that cannot be made is the error.
  Result<void> open() {
    epfd_.reset(epoll_create1(EPOLL_CLOEXEC));
    if (!epfd_) return errnoError("epoll_create1");
    wakeFd_.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wakeFd_) return errnoError("eventfd");
    timerFd_.reset(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!timerFd_) return errnoError("timerfd_create");
    for (int fd : {wakeFd_.get(), timerFd_.get()}) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u64 = static_cast<std::uint64_t>(static_cast<std::uint32_t>(fd));  // generation 0
      if (epoll_ctl(epfd_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) return errnoError("epoll_ctl");
    }
    return success();
  }

  TimerId startTimer(std::chrono::milliseconds interval, bool periodic, std::function<void()> fn) override {
    const TimerId id = timers_.start(clock_.monotonicMs(), interval, periodic, std::move(fn));
    armTimerFd();
    return id;
  }

  void cancelTimer(TimerId id) override {
    if (timers_.cancel(id)) armTimerFd();
  }

  void post(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> lock(postMutex_);
      posted_.push_back(std::move(task));
    }
    wake();
  }

  Result<void> watchFd(int fd, std::uint32_t events, std::function<void(std::uint32_t)> fn) override {
    if (watches_.count(fd)) return Error{EEXIST, "descriptor " + std::to_string(fd) + " is watched already"};
    if (++lastGeneration_ == 0) ++lastGeneration_;  // 0 marks the loop's own descriptors
    const std::uint32_t gen = lastGeneration_;
    epoll_event ev{};
    ev.events = toEpoll(events);
    ev.data.u64 = (std::uint64_t{gen} << 32) | static_cast<std::uint32_t>(fd);
    if (epoll_ctl(epfd_.get(), EPOLL_CTL_ADD, fd, &ev) != 0)
      return errnoError("watching descriptor " + std::to_string(fd));
    watches_[fd] = Watch{gen, events, std::make_shared<std::function<void(std::uint32_t)>>(std::move(fn))};
    return success();
  }

  void updateFd(int fd, std::uint32_t events) override {
    auto it = watches_.find(fd);
    if (it == watches_.end() || it->second.events == events) return;
    epoll_event ev{};
    ev.events = toEpoll(events);
    ev.data.u64 = (std::uint64_t{it->second.generation} << 32) | static_cast<std::uint32_t>(fd);
    if (epoll_ctl(epfd_.get(), EPOLL_CTL_MOD, fd, &ev) == 0) it->second.events = events;
  }

  void unwatchFd(int fd) override {
    auto it = watches_.find(fd);
    if (it == watches_.end()) return;
    epoll_ctl(epfd_.get(), EPOLL_CTL_DEL, fd, nullptr);
    watches_.erase(it);
  }

  Result<void> run() override {
    RunScope scope(this);
    Result<void> result = success();
    while (!quit_ && result.ok()) result = runOnceInScope(-1);
    quit_ = false;
    return result;
  }

  void quit() override {
    quit_ = true;
    wake();
  }

  void runOnce(int timeoutMs) override {
    RunScope scope(this);
    (void)runOnceInScope(timeoutMs);  // a broken loop is reported by run(); here nothing is due
  }

  const Clock& clock() const override { return clock_; }

  void setBusyPoll(std::chrono::microseconds window, std::function<bool()> expecting) override {
    busyPollWindow_ = expecting ? window : std::chrono::microseconds::zero();
    busyPollWhile_ = std::move(expecting);
  }

 private:
  struct Watch {
    std::uint32_t generation;
    std::uint32_t events;
    std::shared_ptr<std::function<void(std::uint32_t)>> fn;
  };

  static std::uint32_t toEpoll(std::uint32_t events) {
    std::uint32_t e = 0;
    if (events & kIoReadable) e |= EPOLLIN | EPOLLRDHUP;
    if (events & kIoWritable) e |= EPOLLOUT;
    return e;
  }

  void wake() {
    const std::uint64_t one = 1;
    // A full counter already means "wake up"; nothing else can go wrong here.
    [[maybe_unused]] ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
  }

  void drain(int fd) {
    std::uint64_t v;
    while (::read(fd, &v, sizeof v) > 0) {
    }
  }

  // Arms the timerfd for the earliest deadline, or disarms it. A deadline already armed and still
  // ahead is left as it is: most passes of a busy loop change no timer.
  void armTimerFd() {
    const auto earliest = timers_.earliest();
    if (earliest == armed_ && (!earliest || *earliest > clock_.monotonicMs())) return;
    armed_ = earliest;
    itimerspec spec{};
    if (earliest) {
      const std::int64_t delay = *earliest - clock_.monotonicMs();
      if (delay <= 0) {
        spec.it_value.tv_nsec = 1;  // due now: wake at once
      } else {
        spec.it_value.tv_sec = delay / 1000;
        spec.it_value.tv_nsec = (delay % 1000) * 1000000;
      }
    }
    timerfd_settime(timerFd_.get(), 0, &spec, nullptr);
  }

  Result<void> runOnceInScope(int timeoutMs) {
    epoll_event events[64];
    int n = timeoutMs != 0 ? busyPoll(events, 64) : 0;
    if (n == 0) n = epoll_wait(epfd_.get(), events, 64, timeoutMs);
    if (n < 0) {
      // A signal is a wake-up with nothing ready; anything else would fail again at once.
      if (errno != EINTR) return errnoError("epoll_wait");
      n = 0;
    }
    for (int i = 0; i < n; ++i) {
      const std::uint64_t data = events[i].data.u64;
      const int fd = static_cast<int>(data & 0xFFFFFFFFu);
      const auto gen = static_cast<std::uint32_t>(data >> 32);
      if (gen == 0) {
        drain(fd);
        if (fd == timerFd_.get()) armed_.reset();  // it fired: whatever is next must be armed anew
        continue;
      }
      auto it = watches_.find(fd);
      // Skip a watch removed (or replaced by a new one on a reused number) earlier in this batch.
      if (it == watches_.end() || it->second.generation != gen) continue;
      std::uint32_t ready = 0;
      const std::uint32_t e = events[i].events;
      if (e & (EPOLLIN | EPOLLRDHUP)) ready |= kIoReadable;
      if (e & EPOLLOUT) ready |= kIoWritable;
      if (e & (EPOLLERR | EPOLLHUP)) ready |= kIoError;
      auto fn = it->second.fn;  // survives an unwatch from inside the callback
      (*fn)(ready);
    }
    runDueTimers();
    runPosted();
    return success();
  }

  // Looks for readiness without sleeping while an answer is expected, within the window; what
  // epoll_wait gave (0 when nothing came, or when no answer is expected).
  int busyPoll(epoll_event* events, int max) {
    if (busyPollWindow_.count() <= 0 || !busyPollWhile_ || !busyPollWhile_()) return 0;
    const auto end = std::chrono::steady_clock::now() + busyPollWindow_;
    for (;;) {
      const int n = epoll_wait(epfd_.get(), events, max, 0);
      if (n != 0 || std::chrono::steady_clock::now() >= end) return n;
      // Whatever else is runnable here (the peer itself, perhaps) goes first.
      sched_yield();
    }
  }

  void runDueTimers() {
    timers_.runDue(clock_.monotonicMs());
    armTimerFd();
  }

  void runPosted() {
    std::vector<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(postMutex_);
      tasks.swap(posted_);
    }
    for (auto& t : tasks) t();
  }

  const Clock& clock_;
  UniqueFd epfd_;
  UniqueFd wakeFd_;
  UniqueFd timerFd_;
  std::optional<std::int64_t> armed_;  // the deadline the timerfd is set for
  std::atomic<bool> quit_{false};
  std::uint32_t lastGeneration_ = 0;
  TimerTable timers_;
  std::unordered_map<int, Watch> watches_;
  std::chrono::microseconds busyPollWindow_{0};
  std::function<bool()> busyPollWhile_;
  std::mutex postMutex_;
  std::vector<std::function<void()>> posted_;
};

}  // namespace

Result<std::unique_ptr<EventLoop>> makeEpollLoop(const Clock& clock) {
  auto loop = std::make_unique<EpollLoop>(clock);
  if (Result<void> opened = loop->open(); !opened) {
    return Error{opened.code(), "cannot create the event loop: " + opened.message()};
  }
  return std::unique_ptr<EventLoop>(std::move(loop));
}

}  // namespace plat
