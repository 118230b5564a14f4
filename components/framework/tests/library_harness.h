#pragma once
// A component library as the agent meets it, for tests: registered with kelmregsvr from the build
// tree, asked whether it can be unloaded, and its nodes listed.
#include <dlfcn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "components/framework/interfaces.h"
#include "platform/com/enum_string.h"
#include "platform/com/inproc_server.h"

namespace kelm::fw::testing {

class ComponentLibrary {
 public:
  explicit ComponentLibrary(std::string file) : file_(std::move(file)) {}

  std::string Path() const { return Env("KELM_TEST_LIB") + "/" + file_; }
  // kelmregsvr's exit status ("-u" unregisters).
  int Regsvr(const std::string& args) const {
    std::string cmd = Env("KELM_TEST_BIN") + "/kelmregsvr -s " + args + " '" + Path() + "'";
    int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  // S_OK as well when the library is not loaded at all.
  plat::HRESULT CanUnloadNow() const {
    void* h = ::dlopen(Path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return plat::S_OK;
    auto fn = reinterpret_cast<KelmDllCanUnloadNow>(::dlsym(h, "DllCanUnloadNow"));
    plat::HRESULT r = fn ? fn() : plat::E_FAIL;
    ::dlclose(h);
    return r;
  }

 private:
  static std::string Env(const char* var) {
    const char* v = std::getenv(var);
    return v ? v : "";
  }
  std::string file_;
};

// The listing lines of a node.
inline std::vector<std::string> Listing(IRiver& node) {
  plat::com::ComPtr<IUnknown> u;
  std::vector<std::string> lines;
  if (node.dir(u.put()) != plat::S_OK) return lines;
  u.as<plat::com::IEnumString>()->Next(100, lines);
  return lines;
}

}  // namespace kelm::fw::testing
