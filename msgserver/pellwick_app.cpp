#include "msgserver/pellwick_app.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <optional>

#include "msgserver/virtual_folder.h"
#include "platform/base/format.h"
#include "platform/base/paths.h"
#include "platform/kernel/module_path.h"
#include "platform/kernel/version_block.h"
#include "platform/registry/registry.h"

namespace kelm::msgserver {

using plat::service::EventType;

DocOptions ConfiguredOptions(const std::function<void(const std::string&)>& warn) {
  DocOptions o;
  const auto unreadable = [&](const plat::Error& e) {
    if (warn) warn("a limit is left at its default: " + e.message);
  };
  if (auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kServerKey)) {
    const std::pair<const char*, std::size_t*> caps[] = {
        {"MaxAgents", &o.maxAgents}, {"MaxConsoles", &o.maxConsoles}, {"MaxQueuedRequests", &o.maxQueuedPerFolder}};
    for (const auto& [name, cap] : caps) {
      auto v = key->getDword(name);
      if (v && *v) *cap = *v;
      if (!v && !plat::reg::isNotFound(v)) unreadable(v.error());
    }
  } else if (!plat::reg::isNotFound(key)) {
    unreadable(key.error());
  }
  if (auto block = plat::kernel::readVersionBlock(plat::kernel::modulePath().valueOr({}))) {
    if (auto info = plat::kernel::decodeVersionBlock(*block); info && !info->tables.empty()) {
      for (const auto& [name, value] : info->tables.front().strings)
        if (name == "FileVersion") o.fileVersion = value;
    }
  }
  return o;
}

void ApplyTestRootTiming(DocOptions& o, const std::function<void(const std::string&)>& warn) {
  if (plat::paths::root().empty()) return;
  const auto read = [&](const char* name, long min, long max) -> std::optional<long> {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v, &end, 10);
    if (end == v || *end != '\0' || errno != 0 || n < min || n > max) {
      if (warn) warn(plat::format("%s is ignored: not a number from %ld to %ld", name, min, max));
      return std::nullopt;
    }
    return n;
  };
  if (auto ms = read("KELM_PELLWICK_TICK_MS", 10, 1000)) o.tick = std::chrono::milliseconds(*ms);
  if (auto ticks = read("KELM_PELLWICK_FOLDER_TICKS", 1, CVirtualFolder::kBusyTimeoutTicks))
    o.folderTimeoutTicks = static_cast<int>(*ticks);
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
  std::chrono::milliseconds tick{1000};
  try {
    auto made = plat::makeEpollLoop();
    if (!made) {
      ready.set_value("Windows sockets initialization failed. " + made.message());
      return;
    }
    loop = std::move(*made);
    const auto warn = [this](const std::string& text) { Log(EventType::Warning, text); };
    DocOptions o = ConfiguredOptions(warn);
    ApplyTestRootTiming(o, warn);
    tick = o.tick;
    o.loop = loop.get();
    o.log = warn;
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
    plat::Timer ticking = loop->timer(tick, true, [this, d = doc.get()] {
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
