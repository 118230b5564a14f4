#include "tests/system/serial/sim_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

namespace kelm::systest {

SimProcess::SimProcess(const std::filesystem::path& binDir, const std::string& tag) : bin_(binDir / "kelmsim") {
  root_ = std::filesystem::temp_directory_path() / (tag + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_ / "config");
  ::setenv("KELM_ROOT", root_.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
}

SimProcess::~SimProcess() {
  kelmsim("stop");
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

int SimProcess::kelmsim(const std::string& args, std::string* out) const {
  std::string cmd = "'" + bin_.string() + "' " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::array<char, 512> buf;
  std::string text;
  while (std::fgets(buf.data(), buf.size(), p)) text += buf.data();
  int st = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace kelm::systest
