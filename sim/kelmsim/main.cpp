// kelmsim: starts the device simulators in the background in the current KELM_ROOT, prints their
// model, injects faults and stops them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/clock.h"
#include "platform/base/paths.h"
#include "platform/base/unique_fd.h"
#include "sim/core/daemon.h"
#include "sim/ide/ide_simulator.h"
#include "sim/iop/iop_simulator.h"
#include "sim/serial/serial_simulator.h"

namespace {

// Every simulator kelmsim runs. A new simulator adds its factory here.
const sim::SimulatorFactory kSimulators[] = {
    sim::serial::makeSerialSimulator,
    sim::ide::makeIdeSimulator,
    sim::iop::makeIopSimulator,
};

int usage() {
  std::fprintf(stderr,
               "usage: kelmsim start [--scenario FILE] [--stepped-clock]\n"
               "       kelmsim run [--scenario FILE] [--stepped-clock]   (in the foreground)\n"
               "       kelmsim status\n"
               "       kelmsim fault NAME [ARGS]   (NAME or SIMULATOR:NAME; \"step MS\" advances model time)\n"
               "       kelmsim stop\n");
  return 2;
}

struct StartOptions {
  std::optional<std::string> scenario;
  bool stepped = false;
};

std::optional<StartOptions> parseStart(int argc, char** argv) {
  StartOptions o;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--scenario" && i + 1 < argc) {
      o.scenario = argv[++i];
    } else if (a == "--stepped-clock") {
      o.stepped = true;
    } else {
      return std::nullopt;
    }
  }
  return o;
}

// Builds, configures and starts the daemon.
plat::Result<std::unique_ptr<sim::Daemon>> makeDaemon(const StartOptions& o, sim::ModelClock& clock) {
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  for (auto factory : kSimulators) sims.push_back(factory());
  auto daemon = std::make_unique<sim::Daemon>(std::move(sims), clock);
  std::optional<std::filesystem::path> scenario;
  if (o.scenario) scenario = *o.scenario;
  if (auto configured = daemon->configure(scenario); !configured) return configured.error();
  if (auto started = daemon->start(); !started) return started.error();
  return daemon;
}

void writePidFile() {
  auto path = sim::pidFilePath();
  if (auto made = plat::paths::ensureDir(path.parent_path()); !made) {
    std::fprintf(stderr, "kelmsim: no pid file: %s\n", made.message().c_str());
    return;
  }
  if (!(std::ofstream(path) << ::getpid() << "\n")) std::fprintf(stderr, "kelmsim: cannot write %s\n", path.c_str());
}

int runForeground(const StartOptions& o) {
  sim::ModelClock clock(plat::systemClock(), o.stepped);
  auto made = makeDaemon(o, clock);
  if (!made) {
    std::fprintf(stderr, "kelmsim: %s\n", made.message().c_str());
    return 1;
  }
  auto daemon = std::move(*made);
  writePidFile();
  auto ran = daemon->run();
  daemon.reset();
  std::error_code ec;
  std::filesystem::remove(sim::pidFilePath(), ec);
  if (!ran) {
    std::fprintf(stderr, "kelmsim: %s\n", ran.message().c_str());
    return 1;
  }
  return 0;
}

int start(const StartOptions& o) {
  if (sim::sendCommand("status", 2000)) {
    std::fprintf(stderr, "kelmsim: already running in %s\n", plat::paths::runtimeDir().c_str());
    return 1;
  }
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) {
    std::perror("kelmsim: pipe");
    return 1;
  }
  plat::UniqueFd readEnd(pipefd[0]), writeEnd(pipefd[1]);
  pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("kelmsim: fork");
    return 1;
  }
  if (pid == 0) {
    readEnd.reset();
    ::setsid();
    if (::fork() > 0) ::_exit(0);  // the daemon is adopted and never reacquires a terminal
    sim::ModelClock clock(plat::systemClock(), o.stepped);
    auto made = makeDaemon(o, clock);
    std::string word = made ? "ok\n" : made.message() + "\n";
    std::unique_ptr<sim::Daemon> daemon = made ? std::move(*made) : nullptr;
    if (daemon) writePidFile();
    if (::write(writeEnd.get(), word.data(), word.size()) < 0) {
    }
    writeEnd.reset();
    if (!daemon) ::_exit(1);
    plat::UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (null) {
      ::dup2(null.get(), 0);
      ::dup2(null.get(), 1);
      ::dup2(null.get(), 2);
    }
    ::signal(SIGHUP, SIG_IGN);
    (void)daemon->run();  // nobody is left to tell of a failure: the daemon ends either way
    daemon.reset();
    std::error_code ec;
    std::filesystem::remove(sim::pidFilePath(), ec);
    ::_exit(0);
  }
  writeEnd.reset();
  std::string word;
  pollfd p{readEnd.get(), POLLIN, 0};
  char buf[1024];
  while (::poll(&p, 1, 10000) > 0) {
    ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
    if (n <= 0) break;
    word.append(buf, static_cast<std::size_t>(n));
    if (word.size() > 4096) break;
  }
  readEnd.reset();
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (word != "ok\n") {
    std::fprintf(stderr, "kelmsim: %s", word.empty() ? "the simulators did not start\n" : word.c_str());
    return 1;
  }
  std::printf("kelmsim: started in %s\n", plat::paths::runtimeDir().c_str());
  return 0;
}

int stop() {
  auto reply = sim::sendCommand("stop");
  if (!reply) {
    std::fprintf(stderr, "kelmsim: not running\n");
    return 1;
  }
  // Wait (bounded) for the daemon to take its devices and socket down, so a following start finds them free.
  std::error_code ec;
  for (int i = 0; i < 1000 && std::filesystem::exists(std::filesystem::symlink_status(sim::controlSocketPath(), ec));
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::fputs(reply->c_str(), stdout);
  return 0;
}

int send(const std::string& line) {
  auto reply = sim::sendCommand(line);
  if (!reply) {
    std::fprintf(stderr, "kelmsim: not running\n");
    return 1;
  }
  std::fputs(reply->c_str(), stdout);
  return reply->rfind("error", 0) == 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string verb = argv[1];
  if (verb == "start" || verb == "run") {
    auto o = parseStart(argc, argv);
    if (!o) return usage();
    return verb == "start" ? start(*o) : runForeground(*o);
  }
  if (verb == "status" && argc == 2) return send("status");
  if (verb == "stop" && argc == 2) return stop();
  if (verb == "fault" && argc >= 3) {
    std::string line = "fault";
    for (int i = 2; i < argc; ++i) {
      if (std::strlen(argv[i]) > 256) return usage();
      line += " ";
      line += argv[i];
    }
    return send(line);
  }
  return usage();
}
