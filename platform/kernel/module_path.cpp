#include "platform/kernel/module_path.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <string>
#include <system_error>

namespace plat::kernel {
namespace {

std::optional<std::filesystem::path> canonical(const char* name) {
  if (!name || !*name) return std::nullopt;
  std::error_code ec;
  auto p = std::filesystem::canonical(name, ec);
  if (ec) return std::nullopt;
  return p;
}

}  // namespace

std::filesystem::path modulePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p;
}

std::optional<std::filesystem::path> modulePathOf(const void* address) {
  if (!address) return std::nullopt;
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
  if (!search.found) return std::nullopt;
  if (search.isProgram) return modulePath();
  return canonical(search.name.c_str());
}

std::optional<std::filesystem::path> modulePathOfHandle(void* dlHandle) {
  link_map* map = nullptr;
  if (!dlHandle || ::dlinfo(dlHandle, RTLD_DI_LINKMAP, &map) != 0 || !map) return std::nullopt;
  if (!map->l_name || !*map->l_name) return modulePath();  // the program's own handle
  return canonical(map->l_name);
}

}  // namespace plat::kernel
