#include "platform/base/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/unique_fd.h"

extern char** environ;

namespace plat::process {

namespace {

Result<int> spawnWith(const std::vector<std::string>& argvText, const SpawnOptions& options, int stdoutFd) {
  if (argvText.empty()) return Error{EINVAL, "no program to start"};
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  if (!options.workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  if (options.newSession) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::vector<std::string> copy = argvText;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int r = options.searchPath ? ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ)
                                   : ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) return errnoError("starting " + argvText[0], r);
  return static_cast<int>(pid);
}

}  // namespace

Result<int> Spawn(const std::vector<std::string>& argv, const SpawnOptions& options) {
  return spawnWith(argv, options, -1);
}

Result<RunOutput> Run(const std::vector<std::string>& argv, const SpawnOptions& options) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return errnoError("pipe");
  UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  auto pid = spawnWith(argv, options, writeEnd.get());
  writeEnd = UniqueFd();
  if (!pid) return pid.error();
  RunOutput out;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // The rest is read and dropped, so that the child never blocks on a full pipe.
    const std::size_t room = kMaxOutput - std::min(kMaxOutput, out.output.size());
    out.output.append(buf, std::min(room, static_cast<std::size_t>(n)));
  }
  int st = 0;
  while (::waitpid(*pid, &st, 0) < 0) {
    if (errno != EINTR) return errnoError("waiting for " + argv[0]);
  }
  out.exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return out;
}

}  // namespace plat::process
