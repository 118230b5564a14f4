#pragma once
// CPellwickDoc: the message server's document on its worker thread. It learns of agents from
// their announcements, keeps one connection to each (CAgent), accepts consoles (CUser), gives
// each console one tree of all agents, and drives the one-second work.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/pea.h"
#include "platform/base/clock.h"
#include "platform/base/log_throttle.h"
#include "platform/base/result.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/posted_tasks.h"
#include "platform/loop/socket.h"

namespace kelm::msgserver {

class CAgent;
class CUser;

inline constexpr const char* kServiceName = "REDErUve";
inline constexpr const char* kDisplayName = "Velkari RAID message server";
inline constexpr std::string_view kAgentWord = "VELKARI_RAID";
inline constexpr std::string_view kServerWord = "VELKARI_PELLWICK";

struct DocOptions {
  plat::EventLoop* loop = nullptr;     // required: the worker's loop
  const plat::Clock* clock = nullptr;  // the loop's clock when null
  // This host; looked up when empty.
  std::string hostName;
  std::string hostAddress;
  // Ports; nothing means the well-known port moved by KELM_PORT_BASE. 0 picks a free port.
  std::optional<std::uint16_t> agentPort, consolePort, beaconPort, serverAnnouncePort;
  std::string listenHost;        // "" = any address
  std::string broadcastAddress;  // KELM_BROADCAST (or the limited broadcast) when empty
  // The server's own "FileVersion"; none leaves the root without that entry.
  std::optional<std::string> fileVersion;
  // Caps: beyond them the newcomer is refused and logged.
  std::size_t maxAgents = 1024;
  std::size_t maxConsoles = 128;
  std::size_t maxQueuedPerFolder = 1000;
  // Bytes of request text queued for one console, and for all of them together.
  std::size_t maxQueuedBytesPerConsole = 8u << 20;
  std::size_t maxQueuedBytes = 256u << 20;
  // New agents tried in one second; the rest wait for their next announcement.
  std::size_t maxNewAgentsPerSecond = 100;
  // A console that has completed no record this long after connecting is closed (0: never).
  std::chrono::seconds recordTimeout{30};
  // How long a connect to an agent may take.
  std::chrono::milliseconds connectTimeout{3000};
  // How long the worker looks again for an agent's answer before it sleeps, while a request is
  // at an agent (0: it always sleeps). Each step of a forwarded sequence is answered within tens
  // of microseconds; sleeping for each costs a processor's wake-up.
  std::chrono::microseconds agentBusyPoll{50};
  // The worker's tick, and the ticks a folder's request may stay at its agent unanswered.
  std::chrono::milliseconds tick{1000};
  int folderTimeoutTicks = 60;
  std::function<void(const std::string&)> log;
};

// The bytes of queued request text: a console's share within the server's total. A request that
// would take either past its cap is refused.
class ByteBudget {
 public:
  ByteBudget(std::size_t cap, std::shared_ptr<ByteBudget> parent = nullptr)
      : cap_(cap), parent_(std::move(parent)) {}
  bool Fits(std::size_t bytes) const {
    return used_ + bytes <= cap_ && (!parent_ || parent_->Fits(bytes));
  }
  void Take(std::size_t bytes) {
    used_ += bytes;
    if (parent_) parent_->Take(bytes);
  }
  void Give(std::size_t bytes) {
    used_ -= bytes;
    if (parent_) parent_->Give(bytes);
  }
  std::size_t used() const { return used_; }

 private:
  std::size_t cap_;
  std::size_t used_ = 0;
  std::shared_ptr<ByteBudget> parent_;
};

// Held by a queued request: its bytes go back to the budget when it goes.
class BudgetShare {
 public:
  BudgetShare() = default;
  BudgetShare(std::shared_ptr<ByteBudget> budget, std::size_t bytes) : budget_(std::move(budget)), bytes_(bytes) {
    if (budget_) budget_->Take(bytes_);
  }
  BudgetShare(BudgetShare&& o) noexcept : budget_(std::move(o.budget_)), bytes_(o.bytes_) { o.budget_ = nullptr; }
  BudgetShare& operator=(BudgetShare&& o) noexcept {
    if (this != &o) {
      if (budget_) budget_->Give(bytes_);
      budget_ = std::move(o.budget_);
      bytes_ = o.bytes_;
      o.budget_ = nullptr;
    }
    return *this;
  }
  ~BudgetShare() {
    if (budget_) budget_->Give(bytes_);
  }

 private:
  std::shared_ptr<ByteBudget> budget_;
  std::size_t bytes_ = 0;
};

class CPellwickDoc {
 public:
  // Kinds of log line an outsider can make the server write: each kind is written at most once a
  // minute, with the count of those left out.
  static constexpr const char* kLogConsoleRefused = "console refused";
  static constexpr const char* kLogAgentRefused = "agent refused";
  static constexpr const char* kLogRequestRefused = "request refused";
  static constexpr const char* kLogDuplicateAgent = "duplicate agent";

  // Notification flags of OnAgentChange.
  static constexpr int kAgentAdded = 1;
  static constexpr int kAgentQuiet = 2;
  static constexpr int kAgentRemoved = 4;

  explicit CPellwickDoc(DocOptions options);
  ~CPellwickDoc();
  CPellwickDoc(const CPellwickDoc&) = delete;
  CPellwickDoc& operator=(const CPellwickDoc&) = delete;

  // The beacon socket and the console listener (each left out, and logged, when its port cannot
  // be bound), then the announcement.
  bool Start();
  // Destroys both sockets, removes every console and every agent.
  void Close();

  void AnnounceServer();
  // One datagram from the beacon port: checked, then AddAgent.
  void ReadAgentBeacon(std::string_view datagram, const std::string& sender);
  CAgent* FindAgent(std::string_view address) const;
  // A ready agent other than this one with the same host name and the same "IPAddress" (both
  // unknown counts as the same).
  const CAgent* FindSameAgent(const CAgent& agent) const;
  // Connects a new agent unless one with this address exists; the reason when it is refused or
  // cannot be reached (its next announcement tries again).
  plat::Result<void> AddAgent(const std::string& name, const std::string& address);
  // Announcements: the reason of an agent not added goes to the log.
  void AddAgentOrLog(const std::string& name, const std::string& address);
  // Null: every agent.
  void RemoveAgent(CAgent* agent);
  // From inside the agent's own callbacks: nothing more is forwarded to it, and it is removed
  // from the loop, once its transport has unwound.
  void RemoveAgentLater(CAgent* agent);
  void NotifyUsersOfAgent(CAgent* agent, int flags);
  void AgentReady(CAgent* agent);

  void AcceptUser(std::unique_ptr<plat::TcpStream> stream);
  // Null: every console. Its requests are purged at every agent, its tree closed, and it is released.
  void RemoveUser(CUser* user);
  // {code, id = now, 4, text} to one console or to all.
  void SendToUsers(std::int32_t code, const std::string& text, CUser* user = nullptr);
  void PurgeUser(CUser* user);
  void OnTimerTick();
  // Some agent's connection has a request out and awaits its answer.
  bool AwaitsAgent() const;

  plat::EventLoop& Loop() const { return *options_.loop; }
  const plat::Clock& Clock() const { return *clock_; }
  const DocOptions& Options() const { return options_; }
  const std::string& HostName() const { return hostName_; }
  const std::string& HostAddress() const { return hostAddress_; }
  CPeaLink* Link() const { return link_; }
  const std::vector<CAgent*>& Agents() const { return agents_; }
  const std::vector<CUser*>& Users() const { return users_; }
  std::uint16_t ConsolePort() const { return listener_ ? listener_->port() : 0; }
  std::uint16_t BeaconPort() const { return beacon_ ? beacon_->port() : 0; }
  std::uint16_t AgentPort() const;
  void Log(const std::string& text) const;
  void LogLimited(const char* kind, const std::string& text);
  // The server's total of queued request bytes, which every console's budget draws on.
  const std::shared_ptr<ByteBudget>& QueuedBytes() const { return queuedBytes_; }
  // A release that must not happen inside the object's own callback runs from the loop.
  void ReleaseLater(CPeaLink* link);

 private:
  DocOptions options_;
  const plat::Clock* clock_;
  CPeaLink* link_;
  std::string hostName_;
  std::string hostAddress_ = "127.0.0.1";
  std::unique_ptr<plat::UdpSocket> beacon_;
  std::unique_ptr<plat::TcpListener> listener_;
  std::vector<CAgent*> agents_;  // one reference each
  std::vector<CUser*> users_;    // one reference each
  std::uint32_t agentSerial_ = 0;
  // New agents tried in the current second.
  std::int64_t newAgentSecond_ = -1;
  std::size_t newAgentsThisSecond_ = 0;
  plat::LogThrottle throttle_;
  std::shared_ptr<ByteBudget> queuedBytes_;
  bool closing_ = false;
  plat::PostedTasks posted_;
};

}  // namespace kelm::msgserver
