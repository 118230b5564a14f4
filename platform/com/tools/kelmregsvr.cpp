// kelmregsvr: registers or unregisters a component library by calling its export.
//   kelmregsvr [-u] [-s] LIBRARY
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/com/inproc_server.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: kelmregsvr [-u] [-s] LIBRARY\n"
               "  registers the component library LIBRARY (with -u: unregisters it); -s prints nothing on success\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false, silent = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-u" || a == "/u")
      unregister = true;
    else if (a == "-s" || a == "/s")
      silent = true;
    else if (a == "-h" || a == "--help" || a == "/?")
      return usage(), 0;
    else if (!a.empty() && a[0] == '-')
      return usage();
    else if (library)
      return usage();
    else
      library = argv[i];
  }
  if (!library || std::strlen(library) > 4096) return usage();

  // An absolute path, so that the library registers where it really is (dlopen would search otherwise).
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(library, ec);
  if (ec || !std::filesystem::is_regular_file(path, ec)) {
    std::fprintf(stderr, "kelmregsvr: %s: no such library\n", library);
    return 1;
  }
  void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    std::fprintf(stderr, "kelmregsvr: cannot load %s: %s\n", path.c_str(), ::dlerror());
    return 1;
  }
  const char* name = unregister ? plat::com::kDllUnregisterServer : plat::com::kDllRegisterServer;
  auto fn = reinterpret_cast<KelmDllRegisterServer>(::dlsym(h, name));
  if (!fn) {
    std::fprintf(stderr, "kelmregsvr: %s has no %s\n", path.c_str(), name);
    ::dlclose(h);
    return 1;
  }
  plat::HRESULT result = fn();
  ::dlclose(h);
  if (plat::FAILED(result)) {
    std::fprintf(stderr, "kelmregsvr: %s of %s failed: %s\n", name, path.c_str(), plat::hresultText(result).c_str());
    return 1;
  }
  if (!silent) std::printf("%s of %s succeeded\n", name, path.c_str());
  return 0;
}
