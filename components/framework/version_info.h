#pragma once
// Reads a module's version block: the component's own FileVersion for its root node, and the
// version strings of drivers and other modules.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/version_block.h"

namespace kelm::fw {

class CVersionInfo {
 public:
  CVersionInfo() = default;
  ~CVersionInfo() { Close(); }
  CVersionInfo(const CVersionInfo&) = delete;
  CVersionInfo& operator=(const CVersionInfo&) = delete;

  // Reads the version block of a file; an empty name reads the running program's own file.
  // True (and valid) once the block, its fixed part and its translation table were all read.
  bool Open(const std::filesystem::path& fileName = {});

  // Non-zero when the string `name` of translation `translation` exists: *text then points at
  // its NUL-terminated text inside the block (valid while the reader lives and is not closed)
  // and *length is its length in bytes. 0 when the reader is not valid, the index is not below
  // the translation count, no name is given or the table does not hold it.
  int QueryString(const char* name, const char** text, unsigned* length, int translation = 0) const;

  void Close();

  bool IsValid() const { return m_valid != 0; }
  int TranslationCount() const { return m_translationCount; }
  // The fixed part; nothing unless valid.
  std::optional<plat::kernel::FixedFileInfo> Fixed() const;
  // The same query giving a copy, for callers that fall back to a default text.
  std::optional<std::string> String(const char* name, int translation = 0) const;

 private:
  int m_valid = 0;
  int m_translationCount = 0;
  std::vector<std::uint8_t> m_block;
  std::vector<plat::kernel::Translation> m_translations;
  plat::kernel::FixedFileInfo m_fixed;
};

}  // namespace kelm::fw
