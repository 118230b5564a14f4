#pragma once
// CHalvornDoc: the agent's document on its worker thread. It builds the folder tree (loading the
// components listed in the registry), makes the local token, listens for TCP clients and local
// clients, announces the agent by UDP broadcast and drives the one-second work.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/accounts/account_store.h"
#include "agent/core/agent_events.h"
#include "message/message.h"
#include "message/pea.h"
#include "platform/base/clock.h"
#include "platform/base/log_throttle.h"
#include "platform/com/unknown.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/posted_tasks.h"
#include "platform/loop/socket.h"

namespace kelm {
class ComSocketServer;
}

namespace kelm::agent {

class CSettingsFolder;
class CSvrSocket;
class CSvrSocketCom;
class CComSocketObject;

struct DocOptions {
  plat::EventLoop* loop = nullptr;  // required: the worker's loop
  const plat::Clock* clock = nullptr;  // the system clock when null
  std::string hostName;  // looked up when empty
  // Ports; nothing means the well-known port moved by KELM_PORT_BASE.
  std::optional<std::uint16_t> tcpPort, serverAnnouncePort, agentAnnouncePort;
  std::string listenHost;  // "" = any address
  std::string broadcastAddress;  // KELM_BROADCAST (or the limited broadcast) when empty
  // The local channel's socket; none with "svcdeb".
  bool localChannel = true;
  std::string localSocketName;  // the ComSocket class's socket when empty
  // Clients at most; nothing reads the agent key's value.
  std::optional<std::size_t> maxClients;
  // The account store's directory; the state directory when empty.
  std::filesystem::path accountDir;
  // Makes the event services; CBasicAgentEvents when null.
  std::function<std::unique_ptr<IAgentEvents>(CHalvornDoc&)> makeEvents;
  // Tells why a part of the start failed (the log).
  std::function<void(const std::string&)> log;
};

class CHalvornDoc {
 public:
  static constexpr const char* kAnnounceWord = "VELKARI_RAID";
  static constexpr const char* kServerWord = "VELKARI_PELLWICK";
  static constexpr int kListenBacklog = 128;

  explicit CHalvornDoc(DocOptions options);
  ~CHalvornDoc();
  CHalvornDoc(const CHalvornDoc&) = delete;
  CHalvornDoc& operator=(const CHalvornDoc&) = delete;

  // The listeners; a port that cannot be bound is left out (and logged).
  void StartListening();
  // Closes the listeners and every connection.
  void CloseAll();
  void OnTick();
  void AcceptClient(std::unique_ptr<plat::TcpStream> stream);
  void OnServerAnnounce(std::string_view datagram);
  void BroadcastHello();

  // A local client's connection (one reference for the caller).
  CSvrSocketCom* AddComConnection(CComSocketObject* object);
  // Sends the connection its close and releases it; null: every connection.
  void RemoveConnection(CSvrSocket* c);
  // The notification to one connection, or to all.
  void NotifyClients(std::int32_t code, const std::string& text, CSvrSocket* c = nullptr);
  bool IsLocalToken(std::uint32_t word1, std::uint32_t word2) const;
  // A record from a local client, handled by the drain after the receiving call returns.
  void QueueLocal(CComSocketObject* object, CMessage m);

  // While paused the one-second work waits; requests are still answered.
  void SetPaused(bool paused) { paused_ = paused; }
  bool Paused() const { return paused_; }

  CSettingsFolder* Root() const { return root_; }
  accounts::AccountStore& Accounts() { return *accounts_; }
  IAgentEvents& Events() { return *events_; }
  plat::EventLoop& Loop() { return *options_.loop; }
  const plat::Clock& Clock() const { return *clock_; }
  const std::string& HostName() const { return hostName_; }
  CPeaLink* OwnerLink() const { return ownerLink_; }
  std::size_t ClientCount() const { return clients_.size(); }
  std::uint16_t TcpPort() const { return listener_ ? listener_->port() : 0; }
  std::uint16_t ServerAnnouncePort() const { return udp_ ? udp_->port() : 0; }
  std::optional<std::array<std::uint8_t, 8>> LocalToken() const { return localToken_; }
  const std::string& LocalSocketPath() const;
  std::uint64_t ServerAnnouncements() const { return serverAnnouncements_; }
  void Log(const std::string& text) const;

 private:
  void MakeLocalToken();
  void LoadComponents();
  void Drain();
  std::vector<CSvrSocket*> SnapshotClients();
  void ReleaseSnapshot(std::vector<CSvrSocket*>& snapshot);

  DocOptions options_;
  const plat::Clock* clock_;
  CPeaLink* ownerLink_;
  std::string hostName_;
  std::string ipAddress_;
  std::unique_ptr<accounts::AccountStore> accounts_;
  std::unique_ptr<IAgentEvents> events_;
  CSettingsFolder* root_ = nullptr;
  std::optional<std::array<std::uint8_t, 8>> localToken_;
  std::unique_ptr<plat::TcpListener> listener_;
  std::unique_ptr<plat::UdpSocket> udp_;
  std::unique_ptr<ComSocketServer> local_;
  std::vector<CSvrSocket*> clients_;  // one reference each
  std::size_t maxClients_;
  plat::LogThrottle refusals_;
  std::uint64_t ticks_ = 0;
  std::uint64_t serverAnnouncements_ = 0;
  bool paused_ = false;
  struct Queued {
    plat::com::ComPtr<CComSocketObject> object;
    CMessage message;
  };
  std::deque<Queued> queue_;
  bool drainPosted_ = false;
  plat::PostedTasks posted_;
};

}  // namespace kelm::agent
