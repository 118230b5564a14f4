#pragma once
// printf-style formatting into an owned string, so that no caller keeps a fixed buffer.
#include <cstdarg>
#include <string>

namespace plat {

// The format is always the caller's own literal, never a name or value from outside.
__attribute__((format(printf, 1, 0))) std::string vformat(const char* format, va_list args);
__attribute__((format(printf, 1, 2))) std::string format(const char* format, ...);

}  // namespace plat
