#pragma once
// Where the running program and its loaded libraries live on disk.
#include <filesystem>

#include "platform/base/result.h"

namespace plat::kernel {

// The running program's full path; an error when the system does not tell it (no /proc).
Result<std::filesystem::path> modulePath();
// The full path of the module (program or shared library) that holds this address, such as a
// function of the library itself. ENOENT when no loaded module holds it.
Result<std::filesystem::path> modulePathOf(const void* address);
// The full path of a library opened with dlopen(), from its handle.
Result<std::filesystem::path> modulePathOfHandle(void* dlHandle);

}  // namespace plat::kernel
