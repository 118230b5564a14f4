#include "platform/com/inproc_server.h"

#include <dlfcn.h>

#include <system_error>

namespace plat::com {

std::filesystem::path modulePathOf(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  std::error_code ec;
  auto p = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::path(info.dli_fname) : p;
}

}  // namespace plat::com
