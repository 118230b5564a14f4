#include "platform/loop/blocking_worker.h"

namespace plat {

BlockingWorker::BlockingWorker(EventLoop& owner) : owner_(owner) {}

BlockingWorker::~BlockingWorker() {
  completions_.stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BlockingWorker::run(std::function<void()> work, std::function<void()> done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(Job{std::move(work), std::move(done)});
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
  }
  wake_.notify_one();
}

std::size_t BlockingWorker::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.size() + running_;
}

void BlockingWorker::loop() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      ++running_;
    }
    if (job.work) job.work();
    // The job counts as pending until its completion has run on the owner.
    completions_.post(owner_, [this, done = std::move(job.done)] {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
      }
      if (done) done();
    });
  }
}

}  // namespace plat
