#pragma once
// Work that must block (a long serial command, a blocking driver request) runs here, on a thread
// of its own, one job at a time in submission order; each job's completion then runs on the owning
// loop's thread. Destroying the worker (on the owning thread) waits for the job in hand, drops the
// jobs not started, and no completion runs after that.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/loop/event_loop.h"
#include "platform/loop/posted_tasks.h"

namespace plat {

class BlockingWorker {
 public:
  explicit BlockingWorker(EventLoop& owner);
  BlockingWorker(const BlockingWorker&) = delete;
  BlockingWorker& operator=(const BlockingWorker&) = delete;
  ~BlockingWorker();

  // work() runs on the worker thread; done() runs afterwards on the owning loop.
  void run(std::function<void()> work, std::function<void()> done);

  // The same, carrying work's result to done.
  template <class T>
  void run(std::function<T()> work, std::function<void(T)> done) {
    auto slot = std::make_shared<std::optional<T>>();
    run([slot, w = std::move(work)] { slot->emplace(w()); },
        [slot, d = std::move(done)] { d(std::move(**slot)); });
  }

  // Jobs queued or running.
  std::size_t pending() const;

 private:
  struct Job {
    std::function<void()> work;
    std::function<void()> done;
  };
  void loop();

  EventLoop& owner_;
  // Completions, dropped when the worker goes.
  PostedTasks completions_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace plat
