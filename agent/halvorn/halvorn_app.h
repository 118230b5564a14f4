#pragma once
// CHalvornApp: the agent program on the service base. Its worker thread owns the event loop,
// the document and the one-second timer; the main thread only runs the service life cycle.
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/service/service_app.h"
#include "platform/loop/event_loop.h"

namespace kelm::agent {

class CHalvornDoc;

class CHalvornApp final : public CServiceApp {
 public:
  CHalvornApp();
  // Joins the worker: the process never ends under it.
  ~CHalvornApp() override;

  std::uint32_t OnServiceStart(const std::vector<std::string>& args, std::uint32_t& specific) override;
  int OnServiceStop() override;
  // Pause and continue are flags the worker reads; no thread is ever suspended.
  int OnServicePause() override { return SetPaused(true); }
  int OnServiceContinue() override { return SetPaused(false); }

  // "svcdeb": no local channel.
  void SetLocalChannel(bool on) { localChannel_ = on; }

 private:
  void WorkerMain(std::promise<std::string>& ready);
  int SetPaused(bool paused);
  void StopWorker();

  bool localChannel_ = true;
  std::thread worker_;
  std::mutex mutex_;
  plat::EventLoop* loop_ = nullptr;  // the worker's loop while it runs, under mutex_
  CHalvornDoc* doc_ = nullptr;       // used on the worker thread only
};

}  // namespace kelm::agent
