#include "platform/kernel/module_path.h"

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

namespace plat::kernel {
namespace {

Result<std::filesystem::path> canonical(const char* name) {
  if (!name || !*name) return Error{ENOENT, "the loaded module has no name"};
  std::error_code ec;
  auto p = std::filesystem::canonical(name, ec);
  if (ec) return Error{ec.value(), std::string("the loaded module ") + name + ": " + ec.message()};
  return p;
}

}  // namespace

Result<std::filesystem::path> modulePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return Error{ec.value(), "the program's own path (/proc/self/exe): " + ec.message()};
  return p;
}

Result<std::filesystem::path> modulePathOf(const void* address) {
  if (!address) return Error{EINVAL, "no address"};
  struct Search {
    std::uintptr_t address;
    bool found = false;
    bool isProgram = false;
    std::string name;
  } search{reinterpret_cast<std::uintptr_t>(address), false, false, {}};
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto* s = static_cast<Search*>(data);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const auto& ph = info->dlpi_phdr[i];
          if (ph.p_type != PT_LOAD) continue;
          std::uintptr_t start = info->dlpi_addr + ph.p_vaddr;
          if (s->address >= start && s->address < start + ph.p_memsz) {
            s->found = true;
            // The program itself is listed first, without a name.
            s->isProgram = !info->dlpi_name || !*info->dlpi_name;
            if (!s->isProgram) s->name = info->dlpi_name;
            return 1;
          }
        }
        return 0;
      },
      &search);
  if (!search.found) {
    char text[64];
    std::snprintf(text, sizeof text, "no loaded module holds the address %p", address);
    return Error{ENOENT, text};
  }
  if (search.isProgram) return modulePath();
  return canonical(search.name.c_str());
}

Result<std::filesystem::path> modulePathOfHandle(void* dlHandle) {
  if (!dlHandle) return Error{EINVAL, "no library handle"};
  link_map* map = nullptr;
  if (::dlinfo(dlHandle, RTLD_DI_LINKMAP, &map) != 0 || !map) {
    const char* why = ::dlerror();
    return Error{EINVAL, std::string("the library handle tells no path: ") + (why ? why : "unknown")};
  }
  if (!map->l_name || !*map->l_name) return modulePath();  // the program's own handle
  return canonical(map->l_name);
}

}  // namespace plat::kernel
