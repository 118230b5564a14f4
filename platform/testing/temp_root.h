#pragma once
// For tests: a private root prefix (KELM_ROOT) in a fresh temporary directory, removed afterwards.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

namespace plat::testing {

class TempRoot {
 public:
  TempRoot() {
    const char* old = std::getenv("KELM_ROOT");
    if (old) old_ = old, hadOld_ = true;
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelm-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    ::setenv("KELM_ROOT", dir_.c_str(), 1);
  }
  ~TempRoot() {
    if (hadOld_)
      ::setenv("KELM_ROOT", old_.c_str(), 1);
    else
      ::unsetenv("KELM_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  std::string old_;
  bool hadOld_ = false;
};

// Runs fn in a forked child and gives its exit code (128 + signal when it was killed).
inline int runInChild(const std::function<int()>& fn) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(fn());
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

}  // namespace plat::testing
