#pragma once
// The controller's binary module records (ModuleList) and its identity record (Quorlin), decoded
// within the bytes actually read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelm::console::pages {

struct ModuleRow {
  std::string name;
  std::string version;
  std::string date;  // "dd/mm/yyyy"; empty for the identity row
  std::string size;
};

// Count (16 bits) at offset 8, 40-byte records from offset 12; only whole records are read and the
// parameter block is skipped.
std::vector<ModuleRow> DecodeModuleList(const std::vector<std::uint8_t>& bytes);
// Name 24, version 4, size at 28; nothing when shorter than 32 bytes.
std::optional<ModuleRow> DecodeQuorlin(const std::vector<std::uint8_t>& bytes);

}  // namespace kelm::console::pages
