#include "agent/halvorn/halvorn_app.h"

#include <chrono>
#include <exception>

#include "agent/core/agent_names.h"
#include "agent/core/halvorn_doc.h"
#include "agent/events/services/agent_event_services.h"

namespace kelm::agent {

using plat::service::EventType;

namespace {
// A component may keep its process-wide timer on the worker's loop until the process ends, so the
// loop stays until then as well. This holder exists before any component is loaded, so at exit
// it goes after the components' own objects.
std::unique_ptr<plat::EventLoop> gRetiredLoop;
}  // namespace

CHalvornApp::CHalvornApp() : CServiceApp({kServiceName, kDisplayName}) {}

CHalvornApp::~CHalvornApp() { StopWorker(); }

std::uint32_t CHalvornApp::OnServiceStart(const std::vector<std::string>&, std::uint32_t& specific) {
  std::promise<std::string> ready;
  auto started = ready.get_future();
  worker_ = std::thread([this, &ready] { WorkerMain(ready); });
  const std::string failure = started.get();
  if (failure.empty()) return 0;
  // The worker died while starting: it is joined, and the service reports stopped with the error.
  if (worker_.joinable()) worker_.join();
  RequestStop("the worker did not start: " + failure);
  specific = 1;
  return 1;
}

void CHalvornApp::WorkerMain(std::promise<std::string>& ready) {
  std::unique_ptr<plat::EventLoop> loop;
  std::unique_ptr<CHalvornDoc> doc;
  try {
    auto made = plat::makeEpollLoop();
    if (!made) {
      ready.set_value(made.message());
      return;
    }
    loop = std::move(*made);
    DocOptions o;
    o.loop = loop.get();
    o.localChannel = localChannel_;
    o.log = [this](const std::string& text) { Log(EventType::Warning, text); };
    o.makeEvents = [](CHalvornDoc& d) { return std::make_unique<events::CAgentEventServices>(d); };
    doc = std::make_unique<CHalvornDoc>(std::move(o));
    doc->CloseAll();
    doc->StartListening();
  } catch (const std::exception& e) {
    ready.set_value(e.what()[0] ? e.what() : "failure");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loop_ = loop.get();
    doc_ = doc.get();
  }
  ready.set_value(std::string());
  std::string died;
  try {
    plat::Timer tick = loop->timer(std::chrono::milliseconds(1000), true, [d = doc.get()] { d->OnTick(); });
    // The first tick's work (the first announcement) does not wait a second.
    loop->post([d = doc.get()] { d->OnTick(); });
    if (auto ran = loop->run(); !ran) died = ran.message();
  } catch (const std::exception& e) {
    died = e.what();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loop_ = nullptr;
    doc_ = nullptr;
  }
  doc.reset();
  gRetiredLoop = std::move(loop);
  if (!died.empty()) RequestStop("the worker ended: " + died);
}

void CHalvornApp::StopWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (loop_) loop_->quit();
  }
  if (worker_.joinable()) worker_.join();
}

int CHalvornApp::OnServiceStop() {
  StopWorker();
  return 0;
}

int CHalvornApp::SetPaused(bool paused) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!loop_) return 0;
  loop_->post([this, paused] {
    if (doc_) doc_->SetPaused(paused);
  });
  return 0;
}

}  // namespace kelm::agent
