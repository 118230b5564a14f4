#pragma once
// CPellwickApp: the message server program on the service base. Its worker thread owns the
// event loop, the document and the one-second timer; the main thread only runs the service life
// cycle.
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/service/service_app.h"
#include "msgserver/pellwick_doc.h"
#include "platform/loop/event_loop.h"

namespace kelm::msgserver {

// Under HKEY_LOCAL_MACHINE: the caps, as numbers "MaxAgents", "MaxConsoles", "MaxQueuedRequests"
// (0 or missing: the default).
inline constexpr std::string_view kServerKey = "SOFTWARE\\Velkari Technology, Inc.\\Message Server";

// The document's options from the registry and the program's own version. A cap that is there but
// cannot be read (another type, a hive that cannot answer) keeps its default and is told to warn.
DocOptions ConfiguredOptions(const std::function<void(const std::string&)>& warn = {});

// In a private root only (KELM_ROOT set: a test or demo root, never an installation), the tick
// and the folder time-out may be shortened from the environment, so that a time-out can be seen
// in seconds: KELM_PELLWICK_TICK_MS (10 to 1000) and KELM_PELLWICK_FOLDER_TICKS (1 to 60). A value
// out of range or not a number is ignored, with a warning.
void ApplyTestRootTiming(DocOptions& o, const std::function<void(const std::string&)>& warn = {});

class CPellwickApp final : public CServiceApp {
 public:
  CPellwickApp();
  ~CPellwickApp() override;

  std::uint32_t OnServiceStart(const std::vector<std::string>& args, std::uint32_t& specific) override;
  int OnServiceStop() override;
  // Pause holds the one-second work; sockets keep being served.
  int OnServicePause() override { return SetPaused(true); }
  int OnServiceContinue() override { return SetPaused(false); }

 private:
  void WorkerMain(std::promise<std::string>& ready);
  int SetPaused(bool paused);
  void StopWorker();

  std::thread worker_;
  std::mutex mutex_;
  plat::EventLoop* loop_ = nullptr;  // the worker's loop while it runs, under mutex_
  bool started_ = false;
  bool paused_ = false;  // worker thread only
};

}  // namespace kelm::msgserver
