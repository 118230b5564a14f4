#include "platform/base/format.h"

#include <cstdio>

namespace plat {

std::string vformat(const char* format, va_list args) {
  if (!format) return {};
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformat(format, args);
  va_end(args);
  return out;
}

}  // namespace plat
