#include "platform/loop/qt/qt_loop.h"
#include "platform/loop/timer_table.h"

#include <poll.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace plat {
namespace {

class QtLoop final : public EventLoop {
 public:
  explicit QtLoop(const Clock& clock) : clock_(clock) {
    // A thread Qt did not start gets its dispatcher with its first event loop; timers and
    // notifiers need it from the start.
    if (!QThread::currentThread()->eventDispatcher()) QEventLoop prime;
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake_, &QTimer::timeout, &context_, [this] { dispatch([this] { runDueTimers(); }); });
  }

  ~QtLoop() override {
    watches_.clear();
    graveyard_.clear();
  }

  void post(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> lock(postMutex_);
      posted_.push_back(std::move(task));
      if (postScheduled_) return;  // one queued invocation drains every task posted before it runs
      postScheduled_ = true;
    }
    QMetaObject::invokeMethod(
        &context_, [this] { dispatch([this] { runPosted(); }); }, Qt::QueuedConnection);
  }

  // Qt's own loop cannot fail to wait, so run() ends only by quit().
  Result<void> run() override {
    RunScope scope(this);
    if (quit_.exchange(false)) return success();
    QEventLoop loop;
    running_ = &loop;
    loop.exec();
    running_ = nullptr;
    quit_ = false;
    return success();
  }

  void quit() override {
    quit_ = true;
    QMetaObject::invokeMethod(
        &context_,
        [this] {
          if (quit_ && running_) running_->quit();
        },
        Qt::QueuedConnection);
  }

  void runOnce(int timeoutMs) override {
    RunScope scope(this);
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
    QTimer limit;
    if (timeoutMs != 0 && !timers_.anyDue(clock_.monotonicMs())) {
      flags |= QEventLoop::WaitForMoreEvents;
      if (timeoutMs > 0) {
        limit.setSingleShot(true);
        limit.setTimerType(Qt::PreciseTimer);
        limit.start(timeoutMs);
      }
    }
    if (dispatcher) dispatcher->processEvents(flags);
    // With a manual clock the wake-up timer runs on real time; what is due on the loop's clock
    // fires here.
    dispatch([this] { runDueTimers(); });
  }

  const Clock& clock() const override { return clock_; }

 protected:
  TimerId startTimer(std::chrono::milliseconds interval, bool periodic, std::function<void()> fn) override {
    const TimerId id = timers_.start(clock_.monotonicMs(), interval, periodic, std::move(fn));
    armWake();
    return id;
  }

  void cancelTimer(TimerId id) override {
    if (timers_.cancel(id)) armWake();
  }

  Result<void> watchFd(int fd, std::uint32_t events, std::function<void(std::uint32_t)> fn) override {
    if (watches_.count(fd)) return Error{EEXIST, "descriptor " + std::to_string(fd) + " is watched already"};
    // A notifier on a closed number would only warn; refuse it as epoll does.
    pollfd probe{fd, 0, 0};
    if (::poll(&probe, 1, 0) < 0) return errnoError("watching descriptor " + std::to_string(fd));
    if (probe.revents & POLLNVAL) return Error{EBADF, "watching descriptor " + std::to_string(fd) + ": not open"};
    if (++lastGeneration_ == 0) ++lastGeneration_;
    const std::uint32_t gen = lastGeneration_;
    Watch w;
    w.generation = gen;
    w.events = events;
    w.fn = std::make_shared<std::function<void(std::uint32_t)>>(std::move(fn));
    for (auto type : {QSocketNotifier::Read, QSocketNotifier::Write}) {
      auto n = std::make_unique<QSocketNotifier>(fd, type);
      QObject::connect(n.get(), &QSocketNotifier::activated, &context_,
                       [this, fd, gen] { dispatch([this, fd, gen] { onReady(fd, gen); }); });
      (type == QSocketNotifier::Read ? w.read : w.write) = std::move(n);
    }
    applyEvents(w);
    watches_.emplace(fd, std::move(w));
    return success();
  }

  void updateFd(int fd, std::uint32_t events) override {
    auto it = watches_.find(fd);
    if (it == watches_.end() || it->second.events == events) return;
    it->second.events = events;
    applyEvents(it->second);
  }

  void unwatchFd(int fd) override {
    auto it = watches_.find(fd);
    if (it == watches_.end()) return;
    Watch& w = it->second;
    w.read->setEnabled(false);
    w.write->setEnabled(false);
    // A notifier may be the one whose activation is running now; it is deleted once the
    // dispatch that reached us has returned.
    if (depth_ > 0) {
      graveyard_.push_back(std::move(w.read));
      graveyard_.push_back(std::move(w.write));
    }
    watches_.erase(it);
  }

 private:
  struct Watch {
    std::uint32_t generation = 0;
    std::uint32_t events = 0;
    std::shared_ptr<std::function<void(std::uint32_t)>> fn;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
  };

  // Every callback runs inside this: the loop is the thread's current one meanwhile, and
  // notifiers removed by a callback are deleted only once no notifier is being dispatched.
  template <class F>
  void dispatch(F&& f) {
    RunScope scope(this);
    ++depth_;
    f();
    if (--depth_ == 0) graveyard_.clear();
  }

  static void applyEvents(Watch& w) {
    w.read->setEnabled((w.events & kIoReadable) != 0);
    w.write->setEnabled((w.events & kIoWritable) != 0);
  }

  void onReady(int fd, std::uint32_t gen) {
    auto it = watches_.find(fd);
    if (it == watches_.end() || it->second.generation != gen) return;
    // A notifier tells only its own direction; ask the descriptor for the whole picture, so
    // errors and hang-ups are reported as they are by epoll.
    pollfd p{fd, 0, 0};
    if (it->second.events & kIoReadable) p.events |= POLLIN | POLLRDHUP;
    if (it->second.events & kIoWritable) p.events |= POLLOUT;
    int n;
    do {
      n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    std::uint32_t ready = 0;
    if (p.revents & (POLLIN | POLLRDHUP)) ready |= kIoReadable;
    if (p.revents & POLLOUT) ready |= kIoWritable;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) ready |= kIoError;
    if (ready == 0) return;
    auto fn = it->second.fn;  // survives an unwatch from inside the callback
    (*fn)(ready);
  }

  void armWake() {
    const auto earliest = timers_.earliest();
    if (!earliest) {
      wake_.stop();
      return;
    }
    // Capped so that a far deadline never overflows the toolkit's timer; it is simply re-armed.
    const std::int64_t delay = std::clamp<std::int64_t>(*earliest - clock_.monotonicMs(), 0, 3600 * 1000);
    wake_.start(std::chrono::milliseconds(delay));
  }

  void runDueTimers() {
    timers_.runDue(clock_.monotonicMs());
    armWake();
  }

  void runPosted() {
    std::vector<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(postMutex_);
      tasks.swap(posted_);
      postScheduled_ = false;
    }
    for (auto& t : tasks) t();
  }

  const Clock& clock_;
  QObject context_;  // receiver of every queued invocation; dropping it drops what is still queued
  QTimer wake_;
  QEventLoop* running_ = nullptr;
  std::atomic<bool> quit_{false};
  int depth_ = 0;
  std::uint32_t lastGeneration_ = 0;
  TimerTable timers_;
  std::unordered_map<int, Watch> watches_;
  std::vector<std::unique_ptr<QSocketNotifier>> graveyard_;
  std::mutex postMutex_;
  std::vector<std::function<void()>> posted_;
  bool postScheduled_ = false;
};

}  // namespace

std::unique_ptr<EventLoop> makeQtLoop(const Clock& clock) { return std::make_unique<QtLoop>(clock); }

}  // namespace plat
