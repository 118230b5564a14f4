#pragma once
// A plain client of the agent for tests, benchmarks and the demo: one blocking socket (TCP or
// the local channel's Unix socket) that sends records and reads them back with time-outs.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "message/message.h"
#include "message/message_codec.h"
#include "platform/base/unique_fd.h"

namespace kelm::systest {

class AgentClient {
 public:
  static std::unique_ptr<AgentClient> Tcp(std::uint16_t port, const std::string& host = "127.0.0.1");
  static std::unique_ptr<AgentClient> Local(const std::filesystem::path& socketPath);

  bool Send(const CMessage& m);
  // The next record; nothing after timeoutMs or when the link is gone.
  std::optional<CMessage> Next(int timeoutMs = 10000);
  // Sends a request and reads until its final reply; the partial replies are returned with the
  // final one last. Notifications that arrive meanwhile are kept in notifications().
  std::vector<CMessage> Request(std::int32_t code, const std::string& text, int timeoutMs = 10000);
  // The result code of a request's final reply (-1 when none came).
  std::int32_t Result(std::int32_t code, const std::string& text);
  // "logon w1 w2@token" for the name and password.
  std::int32_t Logon(const std::string& name, const std::string& password, std::uint32_t w1 = 0,
                     std::uint32_t w2 = 0);
  // Logon, asked again while no answer comes (an agent still loading its components answers late);
  // the last result.
  std::int32_t LogonWithin(int timeoutMs, const std::string& name, const std::string& password, std::uint32_t w1 = 0,
                           std::uint32_t w2 = 0);
  // The texts of the partial replies to a listing (4098).
  std::vector<std::string> List();
  // The value of an entry of the current folder, by a query (4100); nothing when it is refused.
  std::optional<std::string> Value(const std::string& name);
  // Changes folder along "a/b/c", one step a request; false at the first step refused.
  bool Cd(const std::string& path);
  // Waits for a notification with this code (or takes one already kept).
  std::optional<CMessage> WaitNotification(std::int32_t code, int timeoutMs = 10000);

  std::vector<CMessage>& notifications() { return notifications_; }
  int fd() const { return fd_.get(); }

 private:
  explicit AgentClient(plat::UniqueFd fd) : fd_(std::move(fd)) {}
  plat::UniqueFd fd_;
  MessageDecoder decoder_;
  std::vector<CMessage> notifications_;
  std::int32_t nextId_ = 1;
};

// The two words of the agent's local token, read from the registry of the current root.
std::optional<std::pair<std::uint32_t, std::uint32_t>> ReadLocalToken();

}  // namespace kelm::systest
