#pragma once
// The serial link: the table of candidate ports, the connection thread that finds the subsystem and
// performs the handshake, and the locked request/reply transaction with its time-outs.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/clock.h"
#include "serialapi/port.h"
#include "serialapi/settings.h"

namespace glimmora {

struct LinkEnv {
  plat::Sleeper* sleeper = nullptr;
  std::function<plat::Result<std::unique_ptr<Port>>(int index)> openPort;  // index 0 is Com1
  std::function<Settings()> readSettings;
  std::function<void(std::string_view)> trace;  // may be empty
  // Failures an administrator has to read to mend them (a port that cannot be opened, a request
  // the line lost); they are traced as well. May be empty.
  std::function<void(std::string_view)> log;
};

// The library's process-wide environment: real ports, the real sleeper, the registry, the system log.
LinkEnv defaultEnv();

// An auto-reset event.
class Event {
 public:
  void set();
  void wait();
  void reset();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

class Link {
 public:
  static constexpr int kTableSize = 10;
  static constexpr std::uint8_t kNoPort = 255;
  static constexpr int kDefaultTimeoutMs = 9000;
  static constexpr int kConnectTimeoutMs = 4000;
  // How long raInitialize waits for the link when asked to.
  static constexpr int kReadyWaitMs = 120000;
  static constexpr int kReadyPollMs = 50;

  explicit Link(LinkEnv env);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Life cycle.
  int initialize();
  int terminate();
  bool started() const { return useCount_ > 0; }

  // A locked request/reply; fails at once while the link is not ready. Reads the reply only when
  // `replyLength` is above 4.
  // timeoutMs, when given, is this transaction's own read time-out; the shared one is left alone, so a
  // concurrent reconnect or another caller's command never sees it changed.
  // A failure says why: the link not ready, the port not open, the line failed, or the time-out with
  // the bytes moved.
  plat::Result<void> transaction(std::uint8_t* reply, std::size_t replyLength, const std::uint8_t* request,
                                 std::size_t requestLength, int timeoutMs = 0);
  void setLinkTimeout(int ms) { readTimeoutMs_ = ms; }
  int linkTimeout() const { return readTimeoutMs_; }

  // Port functions.
  int tryToConnect();
  void setAutoConnect(int on);
  bool ready() const { return ready_; }
  bool lost() const { return lost_; }
  int setWaitFlag(int flag) {
    waitFlag_ = flag != 0;
    return flag;
  }
  std::uint8_t configurePort(int index);
  std::uint8_t firstAvailable();
  std::uint8_t nextAvailable();
  std::uint8_t availableCount();
  void setCurrent(unsigned index);
  bool validPort(int index);
  void stopActivity();
  std::uint8_t currentPort() const { return current_; }
  int numberOfPorts() const { return number_; }

  void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A failure for the log (and the trace).
  void report(const char* format, ...) __attribute__((format(printf, 2, 3)));
  plat::Sleeper& sleeper() { return *env_.sleeper; }

 private:
  struct Entry {
    std::unique_ptr<Port> handle;
    std::atomic<bool> present{false};
    std::string name;
    std::string lastFailure;  // the open failure last reported, so that a retry loop reports it once
  };

  // A failure names the port: "Com1: ...".
  plat::Result<void> openPort(int index);
  // The ports that failed to open, with why.
  std::vector<std::pair<int, plat::Result<void>>> scanPorts();
  void reportOpenFailure(int index, const plat::Result<void>& opened);
  void closeAll();
  void threadMain();
  bool connectOnce();
  // Write then read under the lock; `raw` reads whenever a reply length is given.
  plat::Result<void> exchange(std::uint8_t* reply, std::size_t replyLength, const std::uint8_t* request,
                              std::size_t requestLength, bool raw, int timeoutMs = 0);
  void linkFailedLocked();
  bool usable(int index) const;
  void select(int index);
  void selectLocked(int index);
  void selectFirst();
  void selectNext();
  bool currentUsable();
  std::uint8_t firstAvailableIndex() const;
  std::uint8_t nextAvailableIndex() const;

  LinkEnv env_;
  std::array<Entry, kTableSize> table_;
  std::atomic<int> number_{2};
  std::atomic<std::uint8_t> fixed_{kNoPort};
  std::atomic<bool> autoDetect_{true};
  std::atomic<std::uint8_t> current_{0};
  Port* currentHandle_ = nullptr;  // guarded by lock_
  std::atomic<bool> ready_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> autoconnect_{false};
  std::atomic<bool> reconnectPending_{false};
  std::atomic<int> readTimeoutMs_{kDefaultTimeoutMs};
  std::atomic<bool> waitFlag_{false};
  std::atomic<bool> stop_{false};
  std::atomic<int> useCount_{0};
  Event monitor_;
  std::mutex lock_;
  std::mutex lifeLock_;  // initialise and terminate
  std::thread thread_;
};

}  // namespace glimmora
