#pragma once
// Starting other programs without a shell: one left to run on its own, or one waited for with
// its output.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/result.h"

namespace plat::process {

struct SpawnOptions {
  std::filesystem::path workingDir;  // empty: this process's
  bool newSession = false;           // outlives this process's session
  bool searchPath = false;           // argv[0] is looked up in PATH
};

// Starts argv (argv[0] is the program); its process id.
Result<int> Spawn(const std::vector<std::string>& argv, const SpawnOptions& options);

struct RunOutput {
  int exitCode = 0;    // 128 + signal when a signal ended it
  std::string output;  // standard output, at most kMaxOutput bytes kept
};
inline constexpr std::size_t kMaxOutput = 64 * 1024;
// Runs argv to its end; standard error goes where ours goes.
Result<RunOutput> Run(const std::vector<std::string>& argv, const SpawnOptions& options = {});

}  // namespace plat::process
