#pragma once
// A private root with the test component registered and an administrator account, and the
// real halvorn running in it.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/temp_root.h"
#include "tests/system/agent/agent_client.h"

namespace kelm::systest {

class AgentRoot {
 public:
  // Sets KELM_ROOT, KELM_PORT_BASE (a base of its own) and KELM_BROADCAST (loopback) for this
  // process and the programs it starts; registers the components given by library path.
  explicit AgentRoot(const std::vector<std::filesystem::path>& components);
  ~AgentRoot();

  std::uint16_t port(std::uint16_t wellKnown) const { return static_cast<std::uint16_t>(base_ + wellKnown - 710); }
  const std::filesystem::path& dir() const { return root_.dir(); }
  static std::filesystem::path bin(const std::string& program);
  static std::filesystem::path lib(const std::string& library);
  // Runs a program to its end; its exit code.
  static int Run(const std::vector<std::string>& argv);
  // The same, keeping what it writes to its standard output (at most 1 MiB) in `out`; with
  // `withErrors`, what it writes to its standard error too.
  static int Output(const std::vector<std::string>& argv, std::string& out, bool withErrors = false);
  // Runs "kelmsim ARGS" (words split at blanks) in the current root: its exit code, and what it
  // printed, errors included, in `out`.
  static int Kelmsim(const std::string& args, std::string* out = nullptr);

 private:
  plat::testing::TempRoot root_;
  std::uint16_t base_;
};

// The simulators started in the current root with a stepped clock, stopped again when this goes.
class SteppedSimulators {
 public:
  SteppedSimulators();
  ~SteppedSimulators();
  SteppedSimulators(const SteppedSimulators&) = delete;
  SteppedSimulators& operator=(const SteppedSimulators&) = delete;
  bool started() const { return started_; }
  // What "kelmsim ARGS" prints (stdout and stderr), e.g. the simulators' "status" report.
  static std::string Output(const std::string& args) {
    std::string out;
    (void)AgentRoot::Kelmsim(args, &out);
    return out;
  }

 private:
  bool started_ = false;
};

class AgentProcess {
 public:
  // Starts halvorn (the built one unless `program` names another) with the arguments and, unless
  // told otherwise, waits until it serves TCP.
  AgentProcess(const AgentRoot& root, std::vector<std::string> args, bool waitReady = true,
               const std::filesystem::path& program = {});
  // Kills a halvorn that is still running.
  ~AgentProcess();

  pid_t pid() const { return pid_; }
  bool ready() const { return ready_; }
  std::unique_ptr<AgentClient> Tcp() const;
  std::unique_ptr<AgentClient> Local() const;
  // Waits for the exit; the exit code, or nothing when it did not end in time.
  std::optional<int> Wait(int timeoutMs);
  // The resident set size in kilobytes.
  long ResidentKb() const;

 private:
  const AgentRoot& root_;
  pid_t pid_ = -1;
  bool ready_ = false;
  bool exited_ = false;
};

}  // namespace kelm::systest
