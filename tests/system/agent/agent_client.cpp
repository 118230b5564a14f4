#include "tests/system/agent/agent_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "agent/crypto/logon_token.h"
#include "platform/base/unix_address.h"
#include "platform/registry/registry.h"

namespace kelm::systest {

std::unique_ptr<AgentClient> AgentClient::Tcp(std::uint16_t port, const std::string& host) {
  plat::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return nullptr;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) return nullptr;
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return nullptr;
  int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return std::unique_ptr<AgentClient>(new AgentClient(std::move(fd)));
}

std::unique_ptr<AgentClient> AgentClient::Local(const std::filesystem::path& socketPath) {
  auto addr = plat::unixAddress(socketPath.string());
  if (!addr) return nullptr;
  plat::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd || ::connect(fd.get(), addr->get(), addr->length) != 0) return nullptr;
  return std::unique_ptr<AgentClient>(new AgentClient(std::move(fd)));
}

bool AgentClient::Send(const CMessage& m) {
  const std::string bytes = EncodeMessage(m);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<CMessage> AgentClient::Next(int timeoutMs) {
  CMessage m;
  for (;;) {
    if (decoder_.Next(m) == DecodeStatus::kOk) return m;
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    char buf[65536];
    ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
    if (n <= 0) return std::nullopt;
    decoder_.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
  }
}

std::vector<CMessage> AgentClient::Request(std::int32_t code, const std::string& text, int timeoutMs) {
  const std::int32_t id = nextId_++;
  std::vector<CMessage> out;
  if (!Send(CMessage(code, id, kStatusRequest, text))) return out;
  while (auto m = Next(timeoutMs)) {
    if (m->status == kStatusNotify) {
      notifications_.push_back(*m);
      // A refusal of a client that has not logged on answers in place of a reply.
      if (m->code == kNotifyNotLoggedOn) return out;
      continue;
    }
    if (m->id != id) continue;
    out.push_back(*m);
    if (m->status == kStatusFinal) break;
  }
  return out;
}

std::int32_t AgentClient::Result(std::int32_t code, const std::string& text) {
  auto got = Request(code, text);
  return !got.empty() && got.back().status == kStatusFinal ? ParseResultCode(got.back().text) : -1;
}

std::int32_t AgentClient::Logon(const std::string& name, const std::string& password, std::uint32_t w1,
                                std::uint32_t w2) {
  return Result(kReqLogon, crypto::LogonText(w1, w2, crypto::BuildLogonToken(name, password)));
}

std::int32_t AgentClient::LogonWithin(int timeoutMs, const std::string& name, const std::string& password,
                                     std::uint32_t w1, std::uint32_t w2) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::int32_t r = -1;
  for (;;) {
    r = Logon(name, password, w1, w2);
    if (r != -1 || std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a link that is gone fails at once
  }
  return r;
}

std::vector<std::string> AgentClient::List() {
  std::vector<std::string> out;
  for (const auto& m : Request(kReqListRights, ""))
    if (m.status == kStatusPartial) out.push_back(m.text);
  return out;
}

std::optional<std::string> AgentClient::Value(const std::string& name) {
  auto got = Request(kReqQuery, name);
  if (got.size() != 2 || got[1].status != kStatusFinal || ParseResultCode(got[1].text) != 800) return std::nullopt;
  // "name@type@value"
  const std::string& entry = got[0].text;
  const auto a = entry.find('@');
  const auto b = a == std::string::npos ? a : entry.find('@', a + 1);
  if (b == std::string::npos) return std::nullopt;
  return entry.substr(b + 1);
}

bool AgentClient::Cd(const std::string& path) {
  for (std::size_t start = 0; start <= path.size();) {
    const auto slash = path.find('/', start);
    if (Result(kReqChangeFolder, path.substr(start, slash - start)) != 800) return false;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

std::optional<CMessage> AgentClient::WaitNotification(std::int32_t code, int timeoutMs) {
  for (;;) {
    for (auto it = notifications_.begin(); it != notifications_.end(); ++it) {
      if (it->code == code) {
        CMessage m = *it;
        notifications_.erase(it);
        return m;
      }
    }
    auto m = Next(timeoutMs);
    if (!m) return std::nullopt;
    if (m->status == kStatusNotify) notifications_.push_back(*m);
  }
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ReadLocalToken() {
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, "SOFTWARE\\Velkari Technology, Inc.\\Message Agent");
  auto t = key ? key->getBinary("Location") : plat::Result<std::vector<std::uint8_t>>(key.error());
  if (!t || t->size() != 8) return std::nullopt;
  auto word = [&](int at) {
    return std::uint32_t((*t)[at]) | std::uint32_t((*t)[at + 1]) << 8 | std::uint32_t((*t)[at + 2]) << 16 |
           std::uint32_t((*t)[at + 3]) << 24;
  };
  return std::make_pair(word(0), word(4));
}

}  // namespace kelm::systest
