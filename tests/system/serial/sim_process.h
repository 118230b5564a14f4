#pragma once
// A kelmsim daemon in a private root for the duration of a test or a benchmark run.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kelm::systest {

class SimProcess {
 public:
  // `binDir` holds kelmsim; the root is made under the temporary directory and set as KELM_ROOT.
  SimProcess(const std::filesystem::path& binDir, const std::string& tag);
  ~SimProcess();
  // Runs "kelmsim ARGS"; the exit code, and its output in `out`.
  int kelmsim(const std::string& args, std::string* out = nullptr) const;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path bin_;
  std::filesystem::path root_;
};

}  // namespace kelm::systest
