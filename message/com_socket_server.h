#pragma once
// The server end of the ComSocket channel: listens on the class's socket, gives every client
// connection its own channel, hands each record it reads to the client's object through
// ProcessMessage, and writes the object's SendReply events back to that client only.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "message/com_socket.h"
#include "message/message_codec.h"
#include "platform/base/result.h"
#include "platform/com/local_listener.h"

namespace kelm {

class ComSocketServer {
 public:
  // The object for a new client: it offers IComSocket and a connection point for
  // IComSocketEvents. It may be a fresh object per client or one shared object.
  using ObjectMaker = std::function<plat::com::ComPtr<plat::com::IUnknown>()>;

  static constexpr std::size_t kMaxClients = 64;
  // Replies waiting for a client that does not read; beyond that the client is dropped.
  static constexpr std::size_t kOutputLimit = 4u << 20;
  // Replies waiting beyond this stop the reading of the client's records until they drain.
  static constexpr std::size_t kReadPauseOutput = 64u << 10;

  // The reason when the socket cannot be made. `group` may connect besides the server's own user
  // (plat::com::consoleGroupId()).
  static plat::Result<std::unique_ptr<ComSocketServer>> start(plat::EventLoop& loop, ObjectMaker maker,
                                                              const std::string& socketName,
                                                              std::optional<gid_t> group);
  ComSocketServer(const ComSocketServer&) = delete;
  ComSocketServer& operator=(const ComSocketServer&) = delete;
  // Drops every client (their objects hear 4113) and removes the socket.
  ~ComSocketServer();

  std::size_t clientCount() const { return clients_.size(); }
  const std::string& socketPath() const { return listener_->path(); }

 private:
  struct Client;
  class Writer;
  ComSocketServer(plat::EventLoop& loop, ObjectMaker maker, std::unique_ptr<plat::com::LocalListener> listener);
  void accept(std::unique_ptr<plat::TcpStream> stream);
  void received(std::uint64_t id, std::string_view record);
  void drop(std::uint64_t id);

  plat::EventLoop& loop_;
  ObjectMaker maker_;
  std::map<std::uint64_t, std::unique_ptr<Client>> clients_;
  std::uint64_t nextId_ = 1;
  // Last, so it goes first: no client is accepted into a server that is half gone.
  std::unique_ptr<plat::com::LocalListener> listener_;
};

}  // namespace kelm
