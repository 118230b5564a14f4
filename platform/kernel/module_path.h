#pragma once
// Where the running program and its loaded libraries live on disk.
#include <filesystem>
#include <optional>

namespace plat::kernel {

// The running program's full path.
std::filesystem::path modulePath();
// The full path of the module (program or shared library) that holds this address, such as a
// function of the library itself.
std::optional<std::filesystem::path> modulePathOf(const void* address);
// The full path of a library opened with dlopen(), from its handle.
std::optional<std::filesystem::path> modulePathOfHandle(void* dlHandle);

}  // namespace plat::kernel
