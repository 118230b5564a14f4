#include "msgserver/pellwick_doc.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>

#include "message/message.h"
#include "msgserver/agent_conn.h"
#include "msgserver/user.h"
#include "msgserver/virtual_folder.h"
#include "platform/base/paths.h"

namespace kelm::msgserver {
namespace {

// An announcement longer than this is no announcement.
constexpr std::size_t kMaxAnnouncement = 1024;
constexpr std::size_t kMaxAgentName = 255;

}  // namespace

CPellwickDoc::CPellwickDoc(DocOptions options)
    : options_(std::move(options)),
      clock_(options_.clock ? options_.clock : &options_.loop->clock()),
      link_(new CPeaLink),
      throttle_(*clock_),
      queuedBytes_(std::make_shared<ByteBudget>(options_.maxQueuedBytes)) {
  link_->SetLink(CPeaLink::kTargetKey, this);
  link_->AddRef();
  hostName_ = options_.hostName;
  if (!options_.hostAddress.empty()) hostAddress_ = options_.hostAddress;
  if (hostName_.empty()) {
    const plat::HostIdentity id = plat::lookUpHostIdentity();
    hostName_ = id.name;
    if (options_.hostAddress.empty() && !id.address.empty()) hostAddress_ = id.address;
  }
  if (options_.agentBusyPoll.count() > 0) options_.loop->setBusyPoll(options_.agentBusyPoll, [this] { return AwaitsAgent(); });
}

CPellwickDoc::~CPellwickDoc() {
  if (options_.agentBusyPoll.count() > 0) options_.loop->setBusyPoll(std::chrono::microseconds::zero(), nullptr);
  posted_.stop();
  Close();
  link_->Release();
}

void CPellwickDoc::Log(const std::string& text) const {
  if (options_.log) options_.log(text);
}

void CPellwickDoc::LogLimited(const char* kind, const std::string& text) {
  if (auto line = throttle_.admit(kind, text)) Log(*line);
}

bool CPellwickDoc::AwaitsAgent() const {
  return std::any_of(agents_.begin(), agents_.end(), [](const CAgent* a) { return a->busy() && a->HasTransport(); });
}

std::uint16_t CPellwickDoc::AgentPort() const {
  return options_.agentPort ? *options_.agentPort : plat::paths::port(plat::paths::kAgentPort);
}

bool CPellwickDoc::Start() {
  const std::uint16_t beaconPort =
      options_.beaconPort ? *options_.beaconPort : plat::paths::port(plat::paths::kAgentAnnouncePort);
  if (auto b = plat::UdpSocket::bind(*options_.loop, options_.listenHost, beaconPort)) {
    beacon_ = std::move(*b);
    beacon_->onDatagram(
        [this](std::string_view d, const std::string& host, std::uint16_t) { ReadAgentBeacon(d, host); });
  } else {
    Log("the announcement port cannot be bound, agents are not discovered: " + b.message());
  }
  const std::uint16_t consolePort =
      options_.consolePort ? *options_.consolePort : plat::paths::port(plat::paths::kServerPort);
  if (auto l = plat::TcpListener::listen(*options_.loop, options_.listenHost, consolePort, 5)) {
    listener_ = std::move(*l);
    listener_->onAccept([this](std::unique_ptr<plat::TcpStream> s) { AcceptUser(std::move(s)); });
  } else {
    Log("the console port cannot be bound, no console can connect: " + l.message());
  }
  AnnounceServer();
  return true;
}

void CPellwickDoc::Close() {
  closing_ = true;
  beacon_.reset();
  listener_.reset();
  RemoveUser(nullptr);
  RemoveAgent(nullptr);
  closing_ = false;
}

void CPellwickDoc::AnnounceServer() {
  if (!beacon_) return;
  AddAgentOrLog(hostName_, hostAddress_);
  auto s = plat::UdpSocket::bind(*options_.loop, "", 0);
  if (!s) {
    Log("the server announcement cannot be sent: " + s.message());
    return;
  }
  (void)(*s)->setBroadcast(true);
  const std::string address =
      options_.broadcastAddress.empty() ? plat::paths::broadcastAddress() : options_.broadcastAddress;
  const std::uint16_t port =
      options_.serverAnnouncePort ? *options_.serverAnnouncePort : plat::paths::port(plat::paths::kServerAnnouncePort);
  const std::string text = std::string(kServerWord) + "#" + hostName_ + "#Hello World!";
  if (auto sent = (*s)->sendTo(address, port, text); !sent) Log("the server announcement failed: " + sent.message());
}

void CPellwickDoc::ReadAgentBeacon(std::string_view datagram, const std::string& sender) {
  // One datagram is one announcement; anything not of its form is dropped.
  if (datagram.size() > kMaxAnnouncement) return;
  const std::size_t first = datagram.find('#');
  if (first == std::string_view::npos) return;
  const std::string_view word = datagram.substr(0, first);
  if (word.size() != kAgentWord.size() || ::strncasecmp(word.data(), kAgentWord.data(), word.size()) != 0) return;
  const std::size_t second = datagram.find('#', first + 1);
  if (second == std::string_view::npos) return;
  const std::string_view name = datagram.substr(first + 1, second - first - 1);
  if (name.empty() || name.size() > kMaxAgentName) return;
  // A name goes into paths and entries: no separators, no control characters.
  for (const char c : name)
    if (c == '@' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return;
  AddAgentOrLog(std::string(name), sender);
}

CAgent* CPellwickDoc::FindAgent(std::string_view address) const {
  for (CAgent* a : agents_)
    if (a->address() == address) return a;
  return nullptr;
}

const CAgent* CPellwickDoc::FindSameAgent(const CAgent& agent) const {
  // An agent answers the address only to a logon, which the server's link has not: then the
  // names alone decide (two folders of one name could not be told apart by a console anyway).
  const std::string name = agent.rootName();
  for (const CAgent* a : agents_) {
    if (a == &agent || !a->ready() || a->ipAddress() != agent.ipAddress()) continue;
    if (::strcasecmp(a->rootName().c_str(), name.c_str()) == 0) return a;
  }
  return nullptr;
}

plat::Result<void> CPellwickDoc::AddAgent(const std::string& name, const std::string& address) {
  if (CAgent* known = FindAgent(address)) {
    if (known->ready() || known->opening()) return plat::success();
    // One that never became ready (its opening failed, or it is on its way out) is tried again.
    RemoveAgent(known);
  }
  if (agents_.size() >= options_.maxAgents) {
    return plat::Error{EBUSY, "agent " + name + " at " + address + " refused: the server already serves " +
                                  std::to_string(agents_.size()) + " agents"};
  }
  const std::int64_t second = clock_->monotonicMs() / 1000;
  if (second != newAgentSecond_) {
    newAgentSecond_ = second;
    newAgentsThisSecond_ = 0;
  }
  if (newAgentsThisSecond_ >= options_.maxNewAgentsPerSecond) {
    return plat::Error{EBUSY, "agent " + name + " at " + address + " not tried: " +
                                  std::to_string(newAgentsThisSecond_) + " new agents were tried this second"};
  }
  ++newAgentsThisSecond_;
  // Connections made in the same second start from different identifiers; the seed wraps.
  const std::uint32_t seed = static_cast<std::uint32_t>(clock_->wallSeconds()) + (++agentSerial_) * 100003u;
  auto* agent = new CAgent(*this, name, address, seed);
  agent->AddRef();
  if (const std::int32_t r = agent->ConnectAgent(AgentPort()); r != 0) {
    const std::string why = agent->ConnectError().message;
    agent->Release();
    return plat::Error{
        r, "agent " + name + " at " + address + " cannot be reached: " + (why.empty() ? plat::hresultText(r) : why)};
  }
  agents_.push_back(agent);
  return plat::success();
}

void CPellwickDoc::AddAgentOrLog(const std::string& name, const std::string& address) {
  if (auto added = AddAgent(name, address); !added) LogLimited(kLogAgentRefused, added.message());
}

void CPellwickDoc::RemoveAgent(CAgent* agent) {
  if (!agent) {
    while (!agents_.empty()) RemoveAgent(agents_.front());
    return;
  }
  auto it = std::find(agents_.begin(), agents_.end(), agent);
  if (it == agents_.end()) return;
  agents_.erase(it);
  agent->MarkRemoved();
  NotifyUsersOfAgent(agent, kAgentRemoved);
  agent->Close();
  ReleaseLater(agent);
}

void CPellwickDoc::RemoveAgentLater(CAgent* agent) {
  agent->MarkRemoved();
  agent->AddRef();
  posted_.post(*options_.loop, [this, agent] {
    RemoveAgent(agent);
    agent->Release();
  });
}

void CPellwickDoc::ReleaseLater(CPeaLink* link) {
  if (closing_) {
    link->Release();
    return;
  }
  posted_.post(*options_.loop, [link] { link->Release(); });
}

void CPellwickDoc::NotifyUsersOfAgent(CAgent* agent, int flags) {
  const std::vector<CUser*> users = users_;
  for (CUser* u : users) u->OnAgentChange(agent, flags);
}

void CPellwickDoc::AgentReady(CAgent* agent) { NotifyUsersOfAgent(agent, kAgentAdded); }

void CPellwickDoc::AcceptUser(std::unique_ptr<plat::TcpStream> stream) {
  if (!stream) return;
  if (users_.size() >= options_.maxConsoles) {
    LogLimited(kLogConsoleRefused,
               "console from " + stream->peerHost() + " refused: " + std::to_string(users_.size()) +
                   " consoles are connected");
    stream->close();
    return;
  }
  // Consoles log on at the agents, never here: those without a logon anywhere may hold only half
  // of the places. When they do, the oldest of them that has sent nothing at all makes room (a
  // console sends its first request at once); if each has sent something, the newcomer is refused.
  const std::size_t withoutLogon =
      std::count_if(users_.begin(), users_.end(), [](const CUser* u) { return !u->HasLogon(); });
  if (withoutLogon >= (options_.maxConsoles + 1) / 2) {
    const auto idle = std::find_if(users_.begin(), users_.end(),
                                   [](const CUser* u) { return !u->HasLogon() && !u->RecordSeen(); });
    if (idle == users_.end()) {
      LogLimited(kLogConsoleRefused, "console from " + stream->peerHost() + " refused: " +
                                         std::to_string(withoutLogon) + " consoles are connected without a logon");
      stream->close();
      return;
    }
    LogLimited(kLogConsoleRefused, "console from " + (*idle)->PeerHost() +
                                       " closed to make room: it has sent nothing and holds no logon");
    RemoveUser(*idle);
  }
  auto* user = new CUser(*this);
  user->AddRef();
  users_.push_back(user);
  user->OnAccepted(std::move(stream));
}

void CPellwickDoc::RemoveUser(CUser* user) {
  if (!user) {
    while (!users_.empty()) RemoveUser(users_.front());
    return;
  }
  auto it = std::find(users_.begin(), users_.end(), user);
  if (it == users_.end()) return;
  users_.erase(it);
  // The tree's queues end first, so that nothing of this console is forwarded again while its
  // requests at the agents are dropped.
  user->DisconnectUser();
  PurgeUser(user);
  ReleaseLater(user);
}

void CPellwickDoc::SendToUsers(std::int32_t code, const std::string& text, CUser* user) {
  if (user) {
    user->SendCode(code, text);
    return;
  }
  for (CUser* u : users_) u->SendCode(code, text);
}

void CPellwickDoc::PurgeUser(CUser* user) {
  const std::vector<CAgent*> agents = agents_;
  for (CAgent* a : agents) a->PurgeUserRequests(user);
}

void CPellwickDoc::OnTimerTick() {
  const std::vector<CAgent*> agents = agents_;
  for (CAgent* a : agents) a->AddRef();
  for (CAgent* a : agents) a->OnTimerTick();
  for (CAgent* a : agents) a->Release();
  const std::vector<CUser*> users = users_;
  for (CUser* u : users) u->AddRef();
  for (CUser* u : users) {
    u->CheckIdleCounted();
    if (u->Root()) u->Root()->TickTree();
  }
  for (CUser* u : users) u->Release();
}

}  // namespace kelm::msgserver
