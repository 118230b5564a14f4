#include "platform/base/hresult.h"

#include <cstdio>

namespace plat {

std::string hresultText(HRESULT h) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(h));
  return buf;
}

}  // namespace plat
