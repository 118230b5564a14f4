#include "components/framework/version_info.h"

#include <cstdio>

#include "platform/kernel/module_path.h"

namespace kelm::fw {

bool CVersionInfo::Open(const std::filesystem::path& fileName) {
  Close();
  std::filesystem::path file = fileName;
  if (file.empty()) {
    auto self = plat::kernel::modulePath();
    if (!self) return false;
    file = std::move(*self);
  }
  auto block = plat::kernel::readVersionBlock(file);
  if (!block || block->empty()) return false;
  m_block = std::move(*block);
  auto fixed = plat::kernel::queryVersionValue(m_block, "\\");
  auto table = plat::kernel::queryVersionValue(m_block, "\\VarFileInfo\\Translation");
  if (!fixed || !table) {
    Close();
    return false;
  }
  m_fixed = plat::kernel::fixedFromBytes(*fixed);
  for (std::size_t i = 0; i + 4 <= table->size(); i += 4) {
    const auto* p = table->data() + i;
    m_translations.push_back(
        {static_cast<std::uint16_t>(p[0] | p[1] << 8), static_cast<std::uint16_t>(p[2] | p[3] << 8)});
  }
  m_translationCount = static_cast<int>(table->size() / 4);
  m_valid = 1;
  return true;
}

int CVersionInfo::QueryString(const char* name, const char** text, unsigned* length, int translation) const {
  if (!m_valid || translation < 0 || translation >= m_translationCount || !name) return 0;
  const auto& t = m_translations[static_cast<std::size_t>(translation)];
  char path[300];
  std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%.255s", t.language, t.codePage, name);
  auto v = plat::kernel::queryVersionValue(m_block, path);
  if (!v) return 0;
  if (text) *text = reinterpret_cast<const char*>(v->data());
  if (length) *length = static_cast<unsigned>(v->size());
  return 1;
}

std::optional<std::string> CVersionInfo::String(const char* name, int translation) const {
  const char* text = nullptr;
  unsigned length = 0;
  if (!QueryString(name, &text, &length, translation)) return std::nullopt;
  return std::string(text, length);
}

std::optional<plat::kernel::FixedFileInfo> CVersionInfo::Fixed() const {
  if (!m_valid) return std::nullopt;
  return m_fixed;
}

void CVersionInfo::Close() {
  m_valid = 0;
  m_translationCount = 0;
  m_block.clear();
  m_block.shrink_to_fit();
  m_translations.clear();
  m_fixed = {};
}

}  // namespace kelm::fw
