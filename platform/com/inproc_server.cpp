#include "platform/com/inproc_server.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <system_error>

namespace plat::com {

std::uint32_t newObjectId() {
  static std::atomic<std::uint32_t> next{1};
  std::uint32_t id = next.fetch_add(1);
  // Two billion objects in one process would exhaust the handle form; never hand one out twice.
  if (id > static_cast<std::uint32_t>(INT_MAX)) std::abort();
  return id;
}

std::filesystem::path modulePathOf(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  std::error_code ec;
  auto p = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::path(info.dli_fname) : p;
}

}  // namespace plat::com
