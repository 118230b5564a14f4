#include "tests/system/agent/agent_process.h"

#include <fcntl.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/base/paths.h"
#include "platform/kernel/module_path.h"

namespace kelm::systest {

namespace fs = std::filesystem;

namespace {
// The build tree's directories: named by the test environment, else beside the running program.
fs::path envDir(const char* var, const char* besideSelf) {
  const char* v = std::getenv(var);
  if (v && *v) return fs::path(v);
  return plat::kernel::modulePath().valueOr({}).parent_path() / besideSelf;
}
}  // namespace

fs::path AgentRoot::bin(const std::string& program) { return envDir("KELM_TEST_BIN", ".") / program; }
fs::path AgentRoot::lib(const std::string& library) { return envDir("KELM_TEST_LIB", "../lib") / library; }

namespace {
// Starts a program with these arguments (the first is its path), its standard output (and, with
// `withErrors`, its standard error) on `out` when that is a descriptor.
pid_t Spawn(const std::vector<std::string>& argv, int out = -1, bool withErrors = false) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (out >= 0) ::dup2(out, STDOUT_FILENO);
    if (out >= 0 && withErrors) ::dup2(out, STDERR_FILENO);
    std::vector<char*> a;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    ::execv(a[0], a.data());
    ::_exit(127);
  }
  return pid;
}
}  // namespace

int AgentRoot::Run(const std::vector<std::string>& argv) {
  const pid_t pid = Spawn(argv);
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

int AgentRoot::Output(const std::vector<std::string>& argv, std::string& out, bool withErrors) {
  constexpr std::size_t kMost = 1 << 20;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  plat::UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  const pid_t pid = Spawn(argv, writeEnd.get(), withErrors);
  writeEnd.reset();
  out.clear();
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, std::min(static_cast<std::size_t>(n), kMost - std::min(kMost, out.size())));
  }
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

int AgentRoot::Kelmsim(const std::string& args, std::string* out) {
  std::vector<std::string> argv{bin("kelmsim").string()};
  std::istringstream words(args);
  for (std::string w; words >> w;) argv.push_back(w);
  std::string text;
  const int rc = Output(argv, text, true);
  if (out) *out = std::move(text);
  return rc;
}

namespace {
// Whether a port of this kind can be bound on any address now.
bool PortFree(std::uint16_t port, int type) {
  plat::UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  return fd && ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}
}  // namespace

AgentRoot::AgentRoot(const std::vector<fs::path>& components) {
  // A base of its own for each run, whose ports nobody holds, so that tests and benchmarks
  // running side by side never share ports. The bases stay below the kernel's ephemeral range
  // (32768 and up): a port found free there can be taken a moment later as the local end of
  // another test's outgoing connection, and the agent's bind then fails.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    base_ = static_cast<std::uint16_t>(10000 + ((unsigned(::getpid()) * 7919u + attempt * 104729u) % 5500u) * 4u);
    if (PortFree(base_, SOCK_STREAM) && PortFree(base_ + 2, SOCK_DGRAM) && PortFree(base_ + 3, SOCK_DGRAM)) break;
  }
  ::setenv("KELM_PORT_BASE", std::to_string(base_).c_str(), 1);
  ::setenv("KELM_BROADCAST", "127.0.0.1", 1);
  for (const auto& c : components) Run({bin("kelmregsvr").string(), "-s", c.string()});
}

AgentRoot::~AgentRoot() {
  ::unsetenv("KELM_PORT_BASE");
  ::unsetenv("KELM_BROADCAST");
}

AgentProcess::AgentProcess(const AgentRoot& root, std::vector<std::string> args, bool waitReady,
                           const fs::path& program)
    : root_(root) {
  args.insert(args.begin(), (program.empty() ? AgentRoot::bin("halvorn") : program).string());
  pid_ = Spawn(args);
  if (!waitReady) return;
  // Ready once it accepts on its TCP port (bounded: a broken start fails the test, not hangs it).
  for (int i = 0; i < 3000 && !ready_; ++i) {
    if (auto c = Tcp()) {
      ready_ = true;
      break;
    }
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
      exited_ = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

AgentProcess::~AgentProcess() {
  if (!exited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
  }
}

std::unique_ptr<AgentClient> AgentProcess::Tcp() const {
  return AgentClient::Tcp(root_.port(plat::paths::kAgentPort));
}

std::unique_ptr<AgentClient> AgentProcess::Local() const {
  // The local channel opens just after the TCP port the readiness check saw.
  for (int i = 0; i < 1000; ++i) {
    if (auto c = AgentClient::Local(plat::paths::runtimeDir() / "com" / "ComSocket.sock")) return c;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return nullptr;
}

std::optional<int> AgentProcess::Wait(int timeoutMs) {
  if (exited_) return std::nullopt;
  for (int waited = 0; waited <= timeoutMs; waited += 5) {
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
      exited_ = true;
      return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return std::nullopt;
}

long AgentProcess::ResidentKb() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

SteppedSimulators::SteppedSimulators()
    : started_(AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "start", "--stepped-clock"}) == 0) {}

SteppedSimulators::~SteppedSimulators() {
  if (started_) AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "stop"});
}

}  // namespace kelm::systest
