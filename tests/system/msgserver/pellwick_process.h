#pragma once
// The message server as a real process in the foreground, in the current root; killed when the
// object goes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/paths.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {

class PellwickProcess {
 public:
  explicit PellwickProcess(const AgentRoot& root) : root_(root) {
    const std::string path = AgentRoot::bin("pellwick").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(path.c_str(), path.c_str(), "-win98", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Ready once it accepts consoles (bounded: a broken start fails, it does not hang).
    for (int i = 0; i < 3000 && !ready_; ++i) {
      if (Console())
        ready_ = true;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~PellwickProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int st = 0;
      ::waitpid(pid_, &st, 0);
    }
  }
  PellwickProcess(const PellwickProcess&) = delete;
  PellwickProcess& operator=(const PellwickProcess&) = delete;

  std::unique_ptr<AgentClient> Console() const { return AgentClient::Tcp(root_.port(plat::paths::kServerPort)); }
  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }

 private:
  const AgentRoot& root_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// The folder names among listing entries, sorted.
inline std::vector<std::string> Folders(const std::vector<std::string>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries)
    if (e.find("@o--@") != std::string::npos) out.push_back(e.substr(0, e.find('@')));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace kelm::systest
