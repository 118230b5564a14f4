#include "msgserver/pellwick_app.h"

#include <chrono>
#include <exception>

#include "platform/kernel/module_path.h"
#include "platform/kernel/version_block.h"
#include "platform/registry/registry.h"

namespace kelm::msgserver {

using plat::service::EventType;

DocOptions ConfiguredOptions() {
  DocOptions o;
  if (auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kServerKey)) {
    if (auto v = key->getDword("MaxAgents"); v && *v) o.maxAgents = *v;
    if (auto v = key->getDword("MaxConsoles"); v && *v) o.maxConsoles = *v;
    if (auto v = key->getDword("MaxQueuedRequests"); v && *v) o.maxQueuedPerFolder = *v;
  }
  if (auto block = plat::kernel::readVersionBlock(plat::kernel::modulePath())) {
    if (auto info = plat::kernel::decodeVersionBlock(*block); info && !info->tables.empty()) {
      for (const auto& [name, value] : info->tables.front().strings)
        if (name == "FileVersion") o.fileVersion = value;
    }
  }
  return o;
}

CPellwickApp::CPellwickApp() : CServiceApp({kServiceName, kDisplayName}) {}

CPellwickApp::~CPellwickApp() { StopWorker(); }

std::uint32_t CPellwickApp::OnServiceStart(const std::vector<std::string>&, std::uint32_t& specific) {
  std::promise<std::string> ready;
  auto started = ready.get_future();
  worker_ = std::thread([this, &ready] { WorkerMain(ready); });
  const std::string failure = started.get();
  if (failure.empty()) {
    started_ = true;
    return 0;
  }
  if (worker_.joinable()) worker_.join();
  RequestStop("the worker did not start: " + failure);
  specific = 1;
  return 1;
}

void CPellwickApp::WorkerMain(std::promise<std::string>& ready) {
  std::unique_ptr<plat::EventLoop> loop;
  std::unique_ptr<CPellwickDoc> doc;
  try {
    auto made = plat::makeEpollLoop();
    if (!made) {
      ready.set_value("Windows sockets initialization failed. " + made.message());
      return;
    }
    loop = std::move(*made);
    DocOptions o = ConfiguredOptions();
    o.loop = loop.get();
    o.log = [this](const std::string& text) { Log(EventType::Warning, text); };
    doc = std::make_unique<CPellwickDoc>(std::move(o));
    doc->Close();
    doc->Start();
  } catch (const std::exception& e) {
    ready.set_value(e.what()[0] ? e.what() : "failure");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loop_ = loop.get();
  }
  ready.set_value(std::string());
  std::string died;
  try {
    plat::Timer tick = loop->timer(std::chrono::milliseconds(1000), true, [this, d = doc.get()] {
      if (!paused_) d->OnTimerTick();
    });
    if (auto ran = loop->run(); !ran) died = ran.message();
  } catch (const std::exception& e) {
    died = e.what();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loop_ = nullptr;
  }
  doc.reset();
  loop.reset();
  if (!died.empty()) RequestStop("the worker ended: " + died);
}

void CPellwickApp::StopWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (loop_) loop_->quit();
  }
  if (worker_.joinable()) worker_.join();
}

int CPellwickApp::OnServiceStop() {
  StopWorker();
  return 0;
}

int CPellwickApp::SetPaused(bool paused) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (loop_) loop_->post([this, paused] { paused_ = paused; });
  return 0;
}

}  // namespace kelm::msgserver
