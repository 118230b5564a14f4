#include "platform/com/inproc_server.h"

#include <climits>
#include <cstdlib>

namespace plat::com {

std::uint32_t newObjectId() {
  static std::atomic<std::uint32_t> next{1};
  std::uint32_t id = next.fetch_add(1);
  // Two billion objects in one process would exhaust the handle form; never hand one out twice.
  if (id > static_cast<std::uint32_t>(INT_MAX)) std::abort();
  return id;
}

}  // namespace plat::com
