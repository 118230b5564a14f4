#include "agent/core/halvorn_doc.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>

#include "agent/core/agent_names.h"
#include "agent/core/com_socket_object.h"
#include "agent/core/settings_folder.h"
#include "agent/core/svr_socket.h"
#include "agent/crypto/md5_digest.h"
#include "agent/crypto/random_pool.h"
#include "message/com_socket_server.h"
#include "platform/base/paths.h"
#include "platform/com/activation.h"
#include "platform/registry/registry.h"

namespace kelm::agent {

using plat::FAILED;
using plat::SUCCEEDED;

using plat::com::ComPtr;

namespace {

// The official name of the host and its first IPv4 address; the plain host name when the lookup fails.
void LookUpHost(std::string& name, std::string& address) {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) std::snprintf(buf, sizeof buf, "localhost");
  name = buf;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* res = nullptr;
  if (::getaddrinfo(buf, nullptr, &hints, &res) != 0 || !res) return;
  if (res->ai_canonname && *res->ai_canonname) name = res->ai_canonname;
  for (addrinfo* a = res; a; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, text, sizeof text);
    address = text;
    break;
  }
  ::freeaddrinfo(res);
}

}  // namespace

CHalvornDoc::CHalvornDoc(DocOptions options)
    : options_(std::move(options)),
      clock_(options_.clock ? options_.clock : &plat::systemClock()),
      refusals_(*clock_) {
  ownerLink_ = new CPeaLink;
  ownerLink_->AddRef();
  ownerLink_->SetLink(CPeaLink::kTargetKey, this);

  if (options_.maxClients) {
    maxClients_ = *options_.maxClients;
  } else {
    auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kAgentKey);
    auto v = key ? key->getDword(kMaxClientsValue) : plat::Result<std::uint32_t>(key.error());
    maxClients_ = v && *v ? *v : kDefaultMaxClients;
    if (!v && !plat::reg::isNotFound(v)) Log("the client limit cannot be read, using the default: " + v.message());
  }

  hostName_ = options_.hostName;
  if (hostName_.empty()) LookUpHost(hostName_, ipAddress_);
  accounts_ = std::make_unique<accounts::AccountStore>(options_.accountDir);
  accounts_->setLog([this](const std::string& reason) { Log(reason); });
  events_ = options_.makeEvents ? options_.makeEvents(*this) : std::make_unique<CBasicAgentEvents>(*this);

  root_ = new CSettingsFolder;
  root_->AddRef();
  root_->Build(*this, hostName_);
  if (!ipAddress_.empty()) root_->SetTextProperty("IPAddress", ipAddress_);
  MakeLocalToken();
  LoadComponents();
  auto* users = new CUsersFolder;
  users->Attach(root_, *this);
}

CHalvornDoc::~CHalvornDoc() {
  posted_.stop();
  CloseAll();
  queue_.clear();
  events_->ReportServiceStop();
  if (root_) {
    root_->RemoveChild(nullptr);
    root_->Release();
  }
  events_.reset();
  ownerLink_->Release();
}

void CHalvornDoc::Log(const std::string& text) const {
  if (options_.log) options_.log(text);
}

void CHalvornDoc::MakeLocalToken() {
  auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, kAgentKey);
  if (!key) Log("the local token cannot be published: " + key.message());
  if (auto gone = key ? key->deleteValue(kLocationValue) : plat::success(); !gone && !plat::reg::isNotFound(gone))
    Log("the old local token cannot be removed: " + gone.message());
  // The digest covers the host, the start time and fresh random bytes; without them the token
  // would be guessable, so then there is none and no logon gets local-only rights.
  const std::time_t now = static_cast<std::time_t>(clock_->wallSeconds());
  char when[64] = {};
  ::ctime_r(&now, when);
  std::string text = hostName_ + ";" + when;
  text.push_back('\0');
  std::vector<std::uint8_t> random(text.size());
  crypto::CRandomPool pool;
  if (FAILED(pool.GenerateBytes(random.data(), random.size()))) {
    Log("the local token cannot be made: no random source");
    return;
  }
  crypto::CMd5Digest md5;
  std::uint8_t digest[16];
  if (FAILED(md5.Init()) || FAILED(md5.Update(text.data(), text.size())) ||
      FAILED(md5.Update(random.data(), random.size())) || FAILED(md5.Final(digest))) {
    Log("the local token cannot be made");
    return;
  }
  std::array<std::uint8_t, 8> token;
  std::copy(digest, digest + 8, token.begin());
  localToken_ = token;
  if (!key) return;
  if (auto set = key->setBinary(kLocationValue, std::vector<std::uint8_t>(token.begin(), token.end())); !set)
    Log("the local token cannot be published: " + set.message());
}

bool CHalvornDoc::IsLocalToken(std::uint32_t word1, std::uint32_t word2) const {
  if (!localToken_) return false;
  const auto& t = *localToken_;
  const std::uint32_t w1 = t[0] | (t[1] << 8) | (t[2] << 16) | (std::uint32_t(t[3]) << 24);
  const std::uint32_t w2 = t[4] | (t[5] << 8) | (t[6] << 16) | (std::uint32_t(t[7]) << 24);
  return word1 == w1 && word2 == w2;
}

void CHalvornDoc::LoadComponents() {
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kIoClsidKey);
  if (!key) {
    if (!plat::reg::isNotFound(key)) Log("no component loaded: " + key.message());
    return;
  }
  auto entries = key->subKeyNames();
  if (!entries) {
    Log("no component loaded: " + entries.message());
    return;
  }
  for (const std::string& sub : *entries) {
    auto clsid = plat::com::Guid::parse(sub);
    if (!clsid) continue;
    auto entry = key->openSubKey(sub);
    auto type = entry ? entry->getString("") : plat::Result<std::string>(entry.error());
    if (!type || type->empty() || type->size() > 256) continue;
    ComPtr<fw::IRiver> river;
    const plat::HRESULT h = plat::com::CoCreateInstance(*clsid, plat::com::CLSCTX_INPROC_SERVER, river);
    if (FAILED(h) || !river) {
      Log("component " + sub + " (" + *type + ") not loaded: " + plat::hresultText(h));
      continue;
    }
    auto* folder = new CVirtualFolder;
    folder->setName(*type);
    folder->setType("o--");
    folder->setValue("14");
    folder->Attach(root_, *this, river.get());
  }
}

const std::string& CHalvornDoc::LocalSocketPath() const {
  static const std::string kNone;
  return local_ ? local_->socketPath() : kNone;
}

void CHalvornDoc::StartListening() {
  const std::uint16_t tcpPort = options_.tcpPort.value_or(plat::paths::port(plat::paths::kAgentPort));
  // A backlog of a handful would make a burst of clients wait seconds on retried connects.
  if (auto l = plat::TcpListener::listen(*options_.loop, options_.listenHost, tcpPort, kListenBacklog)) {
    listener_ = std::move(*l);
    listener_->onAccept([this](std::unique_ptr<plat::TcpStream> s) { AcceptClient(std::move(s)); });
  } else {
    Log("TCP port " + std::to_string(tcpPort) + " not served: " + l.message());
  }

  const std::uint16_t udpPort =
      options_.serverAnnouncePort.value_or(plat::paths::port(plat::paths::kServerAnnouncePort));
  if (auto u = plat::UdpSocket::bind(*options_.loop, options_.listenHost, udpPort)) {
    udp_ = std::move(*u);
    udp_->onDatagram([this](std::string_view d, const std::string&, std::uint16_t) { OnServerAnnounce(d); });
  } else {
    Log("UDP port " + std::to_string(udpPort) + " not served: " + u.message());
  }

  if (options_.localChannel) {
    const std::string name = options_.localSocketName.empty() ? kComSocketName : options_.localSocketName;
    // Without the group the channel is still served, to this user only.
    auto group = plat::com::consoleGroupId();
    if (!group) Log("the console group cannot be given the local channel: " + group.message());
    auto server = ComSocketServer::start(
        *options_.loop,
        [this]() -> ComPtr<plat::com::IUnknown> {
          auto obj = plat::com::makeObject<CComSocketObject>(*this);
          return ComPtr<plat::com::IUnknown>(static_cast<IComSocket*>(obj.get()));
        },
        name, group.valueOr(std::nullopt));
    if (server)
      local_ = std::move(*server);
    else
      Log("the local channel is not served: " + server.message());
  }
  events_->ReportServiceStart();
}

void CHalvornDoc::CloseAll() {
  listener_.reset();
  udp_.reset();
  local_.reset();  // its clients' objects hear 4113 and remove their connections
  RemoveConnection(nullptr);
}

std::vector<CSvrSocket*> CHalvornDoc::SnapshotClients() {
  std::vector<CSvrSocket*> snap = clients_;
  for (CSvrSocket* c : snap) c->AddRef();
  return snap;
}

void CHalvornDoc::ReleaseSnapshot(std::vector<CSvrSocket*>& snapshot) {
  for (CSvrSocket* c : snapshot) c->Release();
  snapshot.clear();
}

void CHalvornDoc::OnTick() {
  if (paused_) return;
  events_->Tick();
  auto snap = SnapshotClients();
  for (CSvrSocket* c : snap) c->CheckIdle();
  ReleaseSnapshot(snap);
  if (root_) {
    root_->AddRef();
    root_->OnTick();
    root_->Release();
  }
  if (ticks_++ % 15 == 0) BroadcastHello();
}

void CHalvornDoc::BroadcastHello() {
  auto s = plat::UdpSocket::bind(*options_.loop, "", 0);
  if (!s || !(*s)->setBroadcast(true)) return;
  const std::string address =
      options_.broadcastAddress.empty() ? plat::paths::broadcastAddress() : options_.broadcastAddress;
  const std::uint16_t port = options_.agentAnnouncePort.value_or(plat::paths::port(plat::paths::kAgentAnnouncePort));
  if (auto sent = (*s)->sendTo(address, port, std::string(kAnnounceWord) + "#" + hostName_ + "#Hello World!"); !sent)
    Log("announcement not sent: " + sent.message());
}

void CHalvornDoc::OnServerAnnounce(std::string_view datagram) {
  if (datagram.size() > 255) datagram = datagram.substr(0, 255);
  while (!datagram.empty() && std::isspace(static_cast<unsigned char>(datagram.front()))) datagram.remove_prefix(1);
  const auto hash = datagram.find('#');
  if (hash == std::string_view::npos) return;
  std::string word(datagram.substr(0, hash));
  for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  // A server announcing itself needs nothing from an agent: it connects on its own.
  if (word == kServerWord) ++serverAnnouncements_;
}

void CHalvornDoc::AcceptClient(std::unique_ptr<plat::TcpStream> stream) {
  auto refuse = [&](const std::string& why) {
    // One line a minute at most: anyone who can connect can make these.
    if (auto line = refusals_.admit("refused", "client from " + stream->peerHost() + " refused: " + why)) Log(*line);
  };
  if (clients_.size() >= maxClients_) return refuse(std::to_string(maxClients_) + " clients already");  // the stream closes as it goes
  // Clients without a logon take at most half the places. When they hold them, the oldest that
  // has asked nothing yet makes room; one that has sent requests is never closed for want of a
  // logon (the message server's link logs nothing on, a console may sit at its logon dialog).
  std::size_t withoutLogon = 0;
  CSvrSocketTcpIp* idle = nullptr;
  for (CSvrSocket* s : clients_) {
    auto* t = dynamic_cast<CSvrSocketTcpIp*>(s);
    if (!t || !t->IsConnected() || t->HasLogons()) continue;
    ++withoutLogon;
    if (!idle && !t->SentRequests()) idle = t;
  }
  if (withoutLogon >= maxClients_ / 2) {
    if (!idle) return refuse(std::to_string(withoutLogon) + " clients without a logon already");
    RemoveConnection(idle);
  }
  auto* c = new CSvrSocketTcpIp(*this, std::move(stream));
  c->AddRef();
  c->Start();
  clients_.push_back(c);
}

CSvrSocketCom* CHalvornDoc::AddComConnection(CComSocketObject* object) {
  auto* c = new CSvrSocketCom(*this, object);
  c->AddRef();  // the list's
  c->Start();
  clients_.push_back(c);
  c->AddRef();  // the caller's
  return c;
}

void CHalvornDoc::RemoveConnection(CSvrSocket* c) {
  if (!c) {
    std::vector<CSvrSocket*> all;
    all.swap(clients_);
    for (CSvrSocket* s : all) {
      s->SendClose();
      s->Shutdown();
      s->Release();
    }
    return;
  }
  auto it = std::find(clients_.begin(), clients_.end(), c);
  if (it == clients_.end()) return;
  clients_.erase(it);
  c->SendClose();
  c->Shutdown();
  c->Release();
}

void CHalvornDoc::NotifyClients(std::int32_t code, const std::string& text, CSvrSocket* c) {
  if (c) return c->Notify(code, text);
  auto snap = SnapshotClients();
  for (CSvrSocket* s : snap) s->Notify(code, text);
  ReleaseSnapshot(snap);
}

void CHalvornDoc::QueueLocal(CComSocketObject* object, CMessage m) {
  queue_.push_back({ComPtr<CComSocketObject>(object), std::move(m)});
  if (drainPosted_) return;
  drainPosted_ = true;
  posted_.post(*options_.loop, [this] { Drain(); });
}

void CHalvornDoc::Drain() {
  drainPosted_ = false;
  while (!queue_.empty()) {
    Queued q = std::move(queue_.front());
    queue_.pop_front();
    if (CSvrSocketCom* c = q.object->Connection()) {
      c->AddRef();
      c->OnMessage(q.message);
      c->Release();
    }
  }
}

}  // namespace kelm::agent
