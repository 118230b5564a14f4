#include "serialapi/link.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/base/format.h"
#include "platform/service/syslog_sender.h"
#include "serialapi/commands.h"

namespace glimmora {

void Event::set() {
  {
    std::lock_guard<std::mutex> g(m_);
    set_ = true;
  }
  cv_.notify_one();
}

void Event::wait() {
  std::unique_lock<std::mutex> g(m_);
  cv_.wait(g, [this] { return set_; });
  set_ = false;
}

void Event::reset() {
  std::lock_guard<std::mutex> g(m_);
  set_ = false;
}

LinkEnv defaultEnv() {
  LinkEnv env;
  env.sleeper = &plat::systemSleeper();
  env.openPort = openComPort;
  env.readSettings = readRegistrySettings;
  if (std::getenv("KELM_SERIAL_TRACE")) {
    env.trace = [](std::string_view line) { std::fprintf(stderr, "glimmora: %.*s\n", int(line.size()), line.data()); };
  }
  // The sender lives as long as the link that logs through it, also a link left running at exit.
  env.log = [sender = std::make_shared<plat::service::SyslogSender>("glimmora")](std::string_view line) {
    (void)sender->send(plat::service::EventType::Warning, {}, line);  // a log that takes nothing now loses the line
  };
  return env;
}

Link::Link(LinkEnv env) : env_(std::move(env)) {
  if (!env_.sleeper) env_.sleeper = &plat::systemSleeper();
  if (!env_.openPort) env_.openPort = openComPort;
}

Link::~Link() {
  // A process that never called raTerminate: end the thread rather than abandon it.
  if (thread_.joinable()) {
    stop_ = true;
    monitor_.set();
    thread_.join();
  }
}

void Link::trace(const char* format, ...) {
  if (!env_.trace) return;
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  env_.trace(buffer);
}

void Link::report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = plat::vformat(format, args);
  va_end(args);
  if (env_.trace) env_.trace(line);
  if (env_.log) env_.log(line);
}

plat::Result<void> Link::openPort(int index) {
  // The fixed port may lie beyond the scanned range; it is bounded by the table instead.
  int bound = autoDetect_ ? number_.load() : kTableSize;
  if (index < 0 || index >= bound) return plat::Error{EINVAL, plat::format("no com port %d here", index + 1)};
  Entry& e = table_[index];
  {
    std::lock_guard<std::mutex> g(lock_);
    e.present = false;
    e.name = "Com" + std::to_string(index + 1);
    if (currentHandle_ == e.handle.get()) currentHandle_ = nullptr;
    e.handle.reset();
  }
  auto port = env_.openPort(index);
  if (port && !*port) port = plat::Error{ENODEV, "no port"};
  if (!port) {
    trace("Unable to open com port %d!\n", index + 1);
    return plat::Error{port.code(), e.name + ": " + port.message()};
  }
  std::lock_guard<std::mutex> g(lock_);
  e.lastFailure.clear();  // a later failure is news again
  e.handle = std::move(*port);
  e.present = true;
  if (current_ == index) currentHandle_ = e.handle.get();
  return plat::success();
}

void Link::reportOpenFailure(int index, const plat::Result<void>& opened) {
  if (opened || index < 0 || index >= kTableSize) return;
  // A connection thread that retries a port every second reports the same reason once.
  std::string& last = table_[index].lastFailure;
  if (opened.message() == last) return;
  last = opened.message();
  report("%s", last.c_str());
}

std::vector<std::pair<int, plat::Result<void>>> Link::scanPorts() {
  std::vector<std::pair<int, plat::Result<void>>> failed;
  for (int i = 0; i < number_; ++i) {
    auto opened = openPort(i);
    if (opened) {
      trace("Com port %d detected!", i + 1);
    } else {
      failed.emplace_back(i, std::move(opened));
    }
  }
  return failed;
}

void Link::closeAll() {
  std::lock_guard<std::mutex> g(lock_);
  currentHandle_ = nullptr;
  for (auto& e : table_) {
    e.present = false;
    e.handle.reset();
    e.lastFailure.clear();
  }
}

bool Link::usable(int index) const {
  return index >= 0 && index < kTableSize && table_[index].present && table_[index].handle;
}

void Link::selectLocked(int index) {
  if (index < 0 || index >= kTableSize) return;
  current_ = static_cast<std::uint8_t>(index);
  currentHandle_ = usable(index) ? table_[index].handle.get() : nullptr;
}

void Link::select(int index) {
  std::lock_guard<std::mutex> g(lock_);
  selectLocked(index);
}

void Link::selectFirst() {
  std::lock_guard<std::mutex> g(lock_);
  selectLocked(firstAvailableIndex());
}

void Link::selectNext() {
  std::lock_guard<std::mutex> g(lock_);
  selectLocked(nextAvailableIndex());
}

bool Link::currentUsable() {
  std::lock_guard<std::mutex> g(lock_);
  return usable(current_);
}

std::uint8_t Link::firstAvailableIndex() const {
  if (!autoDetect_) return fixed_;
  for (int i = 0; i < number_; ++i)
    if (usable(i)) return static_cast<std::uint8_t>(i);
  return 0;
}

std::uint8_t Link::nextAvailableIndex() const {
  if (!autoDetect_) return fixed_;
  int n = number_;
  int i = current_;
  // At most one full turn: with no present port the current one stays.
  for (int step = 0; step < n; ++step) {
    i = (i + 1) % n;
    if (usable(i)) return static_cast<std::uint8_t>(i);
  }
  return current_;
}

int Link::initialize() {
  std::lock_guard<std::mutex> life(lifeLock_);
  if (useCount_ > 0) {
    if (useCount_ < 9000) ++useCount_;
    trace("raInitialize simply return!!!!\n");
    return 0;
  }
  Settings s = env_.readSettings ? env_.readSettings() : Settings{};
  int number = s.number.value_or(2);
  if (number <= 0) number = 1;
  if (number > kTableSize) number = kTableSize;
  number_ = number;
  if (s.port && *s.port >= 1 && *s.port <= 8 && (s.flag.value_or(0) & 0x2)) {
    fixed_ = static_cast<std::uint8_t>(*s.port - 1);
    autoDetect_ = false;
    trace("Use Com port from reg: %s instead\n", ("Com" + std::to_string(*s.port)).c_str());
  }
  autoconnect_ = s.autoconnect.value_or(0) != 0;
  readTimeoutMs_ = kDefaultTimeoutMs;
  ready_ = false;
  lost_ = false;
  stop_ = false;
  monitor_.reset();
  reconnectPending_ = autoconnect_.load();
  if (autoconnect_) monitor_.set();
  closeAll();

  auto undo = [this] {
    closeAll();
    reconnectPending_ = false;
    monitor_.reset();
    return 2;
  };
  if (autoDetect_) {
    trace("Auto com port detection ON!");
    trace("Max com port number to search is = %d!", number_.load());
    auto failed = scanPorts();
    // Ports missing beside one that opened are what automatic detection expects; with none, each says why.
    if (availableCount() == 0) {
      for (const auto& [index, opened] : failed) reportOpenFailure(index, opened);
      return undo();
    }
    selectFirst();
  } else {
    trace("Auto com port detection OFF!");
    if (auto opened = openPort(fixed_); !opened) {
      reportOpenFailure(fixed_, opened);
      fixed_ = kNoPort;
      return undo();
    }
    select(fixed_);
  }
  try {
    thread_ = std::thread([this] { threadMain(); });
  } catch (const std::system_error&) {
    return undo();
  }
  useCount_ = 1;
  if (waitFlag_) {
    trace("Waiting for com port to be ready!\n");
    for (int waited = 0; !ready_ && waited < kReadyWaitMs; waited += kReadyPollMs) env_.sleeper->sleepMs(kReadyPollMs);
    if (!ready_) trace("Com port not ready in time\n");
  }
  return 0;
}

int Link::terminate() {
  std::lock_guard<std::mutex> life(lifeLock_);
  if (useCount_ == 0) return 0;
  if (--useCount_ > 0) {
    trace("raTerminate called, simply return\n");
    return 0;
  }
  env_.sleeper->sleepMs(1000);
  if (ready_) {
    // Tell the subsystem that the host leaves; no answer is read.
    const std::uint8_t bye[8] = {kFrameMark, kFrameMark, kCmdHostLeaving, 0, 0, 0, 0, 0};
    std::uint8_t none[4] = {};
    (void)transaction(none, sizeof none, bye, sizeof bye);  // nothing to do if the line is gone already
  }
  stopActivity();
  stop_ = true;
  monitor_.set();
  if (thread_.joinable()) thread_.join();
  env_.sleeper->sleepMs(10);
  closeAll();
  lost_ = false;
  reconnectPending_ = false;
  trace("raTerminate really closes all stuff!\n");
  return 0;
}

void Link::threadMain() {
  while (!stop_) {
    trace("Waiting for hComMonitor to be signaled\n");
    monitor_.wait();
    trace("hComMonitor signaled!!\n");
    if (stop_) break;
    connectOnce();
    lost_ = false;
    reconnectPending_ = false;
  }
  lost_ = false;
  reconnectPending_ = false;
  trace("Now to exit SioThreadProc\n");
}

bool Link::connectOnce() {
  int tries = 0;
  readTimeoutMs_ = kConnectTimeoutMs;
  ready_ = false;
  trace("Tying to connect to the com port...");
  selectFirst();
  std::uint8_t answer[3] = {};
  bool connected = false;
  for (;;) {
    if (stop_) {
      ready_ = false;
      lost_ = false;
      return false;
    }
    if (tries <= 5000) ++tries;
    selectNext();
    // A port that went away (a pulled cable on a pseudo-terminal) is opened afresh.
    if (!currentUsable()) reportOpenFailure(current_, openPort(current_));
    const std::uint8_t hello = kHello;
    answer[0] = answer[1] = answer[2] = 0;
    trace("Send negotiating command to com port...");
    auto sent = exchange(answer, sizeof answer, &hello, 1, true);
    // No answer is what a port without a subsystem gives: traced, not logged.
    if (!sent) trace("%s\n", sent.message().c_str());
    bool ok = sent.ok();
    if (ok && answer[0] == kHelloAnswer && answer[1] == kHelloAnswer) {
      connected = true;
      break;
    }
    // Anything else, an A3 followed by something else included, takes the same road.
    if (autoconnect_) {
      env_.sleeper->sleepMs(1000);
    } else if (tries >= number_) {
      break;
    }
  }
  if (stop_ || !connected) return false;
  trace("Com port connected!");
  if (answer[2] == kHelloAnswer) {
    trace("Sleep for 40 milliseconds\n");
    env_.sleeper->sleepMs(40);
  } else {
    trace("Sleep for 4 secs\n");
    env_.sleeper->sleepMs(4000);
  }
  trace("Enter RAID API mode now!\n");
  env_.sleeper->sleepMs(100);
  const std::uint8_t enter = kEnterCommandMode;
  if (auto sent = exchange(nullptr, 0, &enter, 1, true); !sent) trace("%s\n", sent.message().c_str());
  env_.sleeper->sleepMs(100);
  lost_ = false;
  trace("COM port connection ready now!\n");
  env_.sleeper->sleepMs(50);
  ready_ = true;
  return true;
}

plat::Result<void> Link::transaction(std::uint8_t* reply, std::size_t replyLength, const std::uint8_t* request,
                                     std::size_t requestLength, int timeoutMs) {
  if (!ready_) return plat::Error{ENOTCONN, "the link is not ready"};
  return exchange(reply, replyLength, request, requestLength, false, timeoutMs);
}

plat::Result<void> Link::exchange(std::uint8_t* reply, std::size_t replyLength, const std::uint8_t* request,
                                  std::size_t requestLength, bool raw, int timeoutMs) {
  std::lock_guard<std::mutex> g(lock_);
  Port* p = currentHandle_;
  const std::string& name = table_[current_].name;
  if (!p) return plat::Error{ENODEV, (name.empty() ? std::string("The com port") : name) + " is not open"};
  // A late reply to an earlier command is dropped, inside the lock, so that no other caller's reply
  // is thrown away half-read. Only input: the previous command may have been written without a
  // reply to wait for (the 0xA4 that enters command mode), and its bytes must still reach the line.
  p->clearErrors();
  p->discardInput();
  env_.sleeper->sleepMs(1);
  int timeout = timeoutMs > 0 ? timeoutMs : readTimeoutMs_.load();
  // A short count is the time-out; an error is a line that failed.
  auto moved = p->write(request, requestLength, timeout);
  bool complete = moved && *moved == requestLength;
  plat::Error failure;
  if (!complete) {
    trace(moved ? "Error in communicatons--write 1\n" : "Error in communicatons--write 2\n");
    failure = moved ? plat::Error{ETIMEDOUT, plat::format("%s: %zu of %zu request bytes sent in %d ms", name.c_str(),
                                                          *moved, requestLength, timeout)}
                    : plat::Error{moved.code(), name + ": " + moved.message()};
  } else if (raw ? replyLength > 0 : replyLength > 4) {
    moved = p->read(reply, replyLength, timeout);
    complete = moved && *moved == replyLength;
    if (!moved) {
      trace("Error in communicatons--read 1\n");
      failure = plat::Error{moved.code(), name + ": " + moved.message()};
    } else if (!complete) {
      failure = plat::Error{
          ETIMEDOUT, plat::format("%s: %zu of %zu reply bytes in %d ms", name.c_str(), *moved, replyLength, timeout)};
    }
  }
  if (complete) return plat::success();
  if (!moved) {
    // The line is gone (a hang-up): drop the handle so the next attempt opens the port afresh.
    int i = current_;
    table_[i].present = false;
    table_[i].handle.reset();
    currentHandle_ = nullptr;
    p = nullptr;
  }
  linkFailedLocked();
  if (p) {
    p->clearErrors();
    p->purge();
  }
  return failure;
}

void Link::linkFailedLocked() {
  if (!ready_) return;
  ready_ = false;
  lost_ = true;
  if (autoconnect_ && !reconnectPending_) {
    reconnectPending_ = true;
    monitor_.set();
    trace("Timeout: setting event\n");
  } else {
    trace("Not setting event\n");
  }
}

int Link::tryToConnect() {
  std::lock_guard<std::mutex> g(lock_);
  if (!autoconnect_ && !ready_ && useCount_ > 0 && !reconnectPending_) {
    reconnectPending_ = true;
    monitor_.set();
  } else {
    trace("Event already sent!\n");
  }
  return 0;
}

void Link::setAutoConnect(int on) {
  autoconnect_ = on != 0;
  std::lock_guard<std::mutex> g(lock_);
  if (autoconnect_ && !ready_ && useCount_ > 0 && !reconnectPending_) {
    reconnectPending_ = true;
    monitor_.set();
  }
}

std::uint8_t Link::configurePort(int index) {
  if (index < 0 || index >= kTableSize) return kNoPort;
  fixed_ = static_cast<std::uint8_t>(index);
  autoDetect_ = false;
  return static_cast<std::uint8_t>(index);
}

std::uint8_t Link::firstAvailable() {
  std::lock_guard<std::mutex> g(lock_);
  return firstAvailableIndex();
}

std::uint8_t Link::nextAvailable() {
  std::lock_guard<std::mutex> g(lock_);
  return nextAvailableIndex();
}

std::uint8_t Link::availableCount() {
  std::lock_guard<std::mutex> g(lock_);
  int n = 0;
  for (int i = 0; i < kTableSize; ++i)
    if (usable(i)) ++n;
  return static_cast<std::uint8_t>(n);
}

void Link::setCurrent(unsigned index) {
  int i = static_cast<int>(index & 0xFF);
  std::lock_guard<std::mutex> g(lock_);
  if (i != fixed_ && i < number_ && usable(i)) selectLocked(i);
}

bool Link::validPort(int index) {
  std::lock_guard<std::mutex> g(lock_);
  return usable(index & 0xFF);
}

void Link::stopActivity() {
  std::lock_guard<std::mutex> g(lock_);
  ready_ = false;
}

}  // namespace glimmora
