#pragma once
// The serving end of a device (for simulators): listens on dev/NAME under the root prefix, reads
// framed requests (wire.h) from every client connection and hands each to the owner, who answers
// at once or later (a rebuild answers when it finishes). Each connection holds at most one
// unanswered request: a client waits for its answer before it sends the next one.
//
// Driven by poll: the owner polls the descriptors of pollSet() (or calls pollOnce()) and passes
// readiness to ready(). Not thread-safe: use it from one thread.
#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"

namespace plat::devio {

class DeviceServer {
 public:
  using RequestId = std::uint64_t;  // unique for the server's life, never 0
  using ConnectionId = std::uint64_t;  // one client handle; unique for the server's life, never 0
  struct Request {
    RequestId id = 0;
    ConnectionId connection = 0;  // what a device binds per-handle state to
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::uint32_t outputCapacity = 0;  // the most output bytes the answer may carry
  };
  using RequestFn = std::function<void(Request)>;
  // The client of an unanswered request went away; the request can no longer be answered.
  using AbandonedFn = std::function<void(RequestId)>;
  // A client connection closed (its handle is gone); state bound to it can be dropped.
  using ClosedFn = std::function<void(ConnectionId)>;

  static constexpr std::size_t kMaxConnections = 64;

  // Serves "\\.\NAME" (or "NAME"). A stale node nobody serves is replaced; a live one is an error.
  static Result<std::unique_ptr<DeviceServer>> listen(std::string_view name);
  // Closes every connection (their requests go unanswered) and removes the node.
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  void onRequest(RequestFn fn) { request_ = std::move(fn); }
  void onAbandoned(AbandonedFn fn) { abandoned_ = std::move(fn); }
  void onClosed(ClosedFn fn) { closed_ = std::move(fn); }

  // Appends the descriptors to poll, with the events wanted.
  void pollSet(std::vector<pollfd>& out) const;
  // Handles readiness of one of its descriptors; others are ignored (false).
  bool ready(int fd, short revents);
  // Polls its own descriptors for at most timeoutMs (-1: no limit) and handles what is ready.
  void pollOnce(int timeoutMs);

  // Answers a request. Output beyond the request's capacity is never sent: the answer becomes
  // status EOVERFLOW without output. False when the request is unknown, answered or abandoned.
  bool answer(RequestId id, std::uint32_t status, std::span<const std::uint8_t> output = {});

  std::size_t connections() const { return conns_.size(); }
  const std::string& path() const { return path_; }

 private:
  struct Connection {
    UniqueFd fd;
    ConnectionId serial = 0;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    std::size_t outStart = 0;
    RequestId pending = 0;
    std::uint32_t pendingCapacity = 0;
  };
  DeviceServer(UniqueFd listener, std::string path);
  void acceptSome();
  void readSome(int fd);
  void parse(int fd);
  bool flush(Connection& c);  // false when the connection failed
  void drop(int fd);

  UniqueFd listener_;
  std::string path_;
  std::map<int, Connection> conns_;
  RequestId nextId_ = 1;
  ConnectionId nextConnection_ = 1;
  RequestFn request_;
  AbandonedFn abandoned_;
  ClosedFn closed_;
};

}  // namespace plat::devio
