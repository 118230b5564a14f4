#pragma once
// The server end of a local-server class: a Unix-domain socket under the runtime directory
// (runtimeDir()/com/NAME) whose file mode admits only the server's user and the console group.
// Every accepted client is its own stream on the loop.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/life_guard.h"
#include "platform/base/result.h"
#include "platform/base/unique_fd.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"

namespace plat::com {

// The group whose members may connect besides the server's own user: "kelm", or nothing when the
// system has no such group. An error when the group database cannot be read.
inline constexpr const char* kConsoleGroup = "kelm";
Result<std::optional<gid_t>> consoleGroupId();

class LocalListener {
 public:
  using AcceptFn = std::function<void(std::unique_ptr<TcpStream>)>;
  static constexpr unsigned kSocketMode = 0660;

  // Replaces a stale socket of that name (one nobody listens on); a live one is left alone and
  // gives an error. The socket appears with its final mode and group: it is bound under a
  // temporary name and renamed into place. A group this process may not give is left out, and
  // so is no group at all (only the server's own user may connect then).
  static Result<std::unique_ptr<LocalListener>> listen(EventLoop& loop, const std::string& socketName,
                                                       std::optional<gid_t> group, int backlog = 16);
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;
  // Stops listening and removes the socket file.
  ~LocalListener();

  void onAccept(AcceptFn fn) { accept_ = std::move(fn); }
  const std::string& path() const { return path_; }

 private:
  LocalListener(EventLoop& loop, UniqueFd fd, std::string path);
  void acceptSome();

  EventLoop& loop_;
  UniqueFd fd_;
  FdWatch watch_;
  std::string path_;
  AcceptFn accept_;
  LifeGuard guard_;
};

}  // namespace plat::com
