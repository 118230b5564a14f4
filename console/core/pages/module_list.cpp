#include "console/core/pages/module_list.h"

#include <algorithm>
#include <cctype>

namespace kelm::console::pages {
namespace {

constexpr std::size_t kCountOffset = 8;
constexpr std::size_t kFirstRecord = 12;
constexpr std::size_t kRecordSize = 40;

char Printable(std::uint8_t c) { return c >= 0x20 && c < 0x7F ? static_cast<char>(c) : ' '; }

// A fixed field of text: ends at its first NUL; unprintable bytes show as blanks.
std::string Name(const std::uint8_t* p, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n && p[i] != 0; ++i) out += Printable(p[i]);
  return out;
}

std::string Chars(const std::uint8_t* p, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += Printable(p[i]);
  return out;
}

std::int32_t Int32(const std::uint8_t* p) {
  const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return static_cast<std::int32_t>(v);
}

bool IsParameterBlock(const std::string& name) {
  static constexpr std::string_view kBlock = "(parameter block)";
  return std::equal(name.begin(), name.end(), kBlock.begin(), kBlock.end(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

std::vector<ModuleRow> DecodeModuleList(const std::vector<std::uint8_t>& bytes) {
  std::vector<ModuleRow> rows;
  if (bytes.size() < kFirstRecord) return rows;
  const std::size_t count = bytes[kCountOffset] | (bytes[kCountOffset + 1] << 8);
  const std::size_t whole = (bytes.size() - kFirstRecord) / kRecordSize;
  for (std::size_t i = 0; i < std::min(count, whole); ++i) {
    const std::uint8_t* r = bytes.data() + kFirstRecord + i * kRecordSize;
    ModuleRow row;
    row.name = Name(r, 24);
    if (IsParameterBlock(row.name)) continue;
    row.version = Chars(r + 24, 4);
    const std::string d = Chars(r + 28, 8);
    row.date = d.substr(2, 2) + "/" + d.substr(0, 2) + "/" + d.substr(4, 4);
    row.size = std::to_string(Int32(r + 36));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::optional<ModuleRow> DecodeQuorlin(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 32) return std::nullopt;
  ModuleRow row;
  row.name = Name(bytes.data(), 24);
  row.version = Chars(bytes.data() + 24, 4);
  row.size = std::to_string(Int32(bytes.data() + 28));
  return row;
}

}  // namespace kelm::console::pages
