#pragma once
// The controller's module tables in tests: replies built in the layout the console's controller
// page reads, and the rows that page shows from the "ModuleList" and "Quorlin" byte strings.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kelm::iop::testing {

// One module record: name (24 bytes), version (4 characters), date (8 characters, day, month and
// year), size. The engine's record has no date.
struct ModuleRecord {
  std::string name, version, date;
  std::uint32_t size = 0;
};

// A row as the page shows it.
struct ModuleRow {
  std::string name, version, date, size;
  bool operator==(const ModuleRow&) const = default;
};

namespace detail {
inline void Put(std::vector<std::uint8_t>& b, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutField(std::vector<std::uint8_t>& b, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) b.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ');
}
inline std::uint32_t Get(const std::vector<std::uint8_t>& b, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i) v |= std::uint32_t{b[at + i]} << (8 * i);
  return v;
}
inline std::string Text(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) {
  std::string s(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + width));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}
}  // namespace detail

// A table-get reply: the result header, the block's length in words at 4, the row count at 8 and
// the records from 12 (40 bytes each, or the engine's 32).
inline std::vector<std::uint8_t> ModuleTableReply(const std::vector<ModuleRecord>& records, bool engine = false) {
  std::vector<std::uint8_t> data;
  detail::Put(data, static_cast<std::uint32_t>(records.size()), 2);
  detail::Put(data, 0, 2);
  for (const ModuleRecord& r : records) {
    detail::PutField(data, r.name, 24);
    detail::PutField(data, r.version, 4);
    if (!engine) detail::PutField(data, r.date, 8);
    detail::Put(data, r.size, 4);
  }
  std::vector<std::uint8_t> reply;
  detail::Put(reply, 1, 2);
  detail::Put(reply, 0, 2);
  detail::Put(reply, static_cast<std::uint32_t>(data.size() / 4), 4);
  reply.insert(reply.end(), data.begin(), data.end());
  return reply;
}

// The bytes of a byte-string property (two letters a byte, low nibble first); nothing when the
// text is not one.
inline std::optional<std::vector<std::uint8_t>> BytesOfLetters(const std::string& text) {
  if (text.size() % 2) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int lo = text[i] - 'A', hi = text[i + 1] - 'A';
    if (lo < 0 || lo > 15 || hi < 0 || hi > 15) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(lo | hi << 4));
  }
  return out;
}

// The rows the controller page lists: the module records (without "(Parameter Block)"), then the
// engine's record when there is one. Nothing when a table is shorter than its count says.
inline std::optional<std::vector<ModuleRow>> PageRows(const std::string& moduleList, const std::string& quorlin) {
  auto modules = BytesOfLetters(moduleList);
  if (!modules || modules->size() < 12) return std::nullopt;
  const std::uint32_t count = detail::Get(*modules, 8, 2);
  if (modules->size() < 12 + 40ull * count) return std::nullopt;
  std::vector<ModuleRow> rows;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = 12 + 40 * i;
    const std::string name = detail::Text(*modules, at, 24);
    if (::strcasecmp(name.c_str(), "(Parameter Block)") == 0) continue;
    const auto& m = *modules;
    auto c = [&](std::size_t k) { return static_cast<char>(m[at + 28 + k - 1]); };
    char date[16];
    std::snprintf(date, sizeof date, "%c%c/%c%c/%c%c%c%c", c(3), c(4), c(1), c(2), c(5), c(6), c(7), c(8));
    rows.push_back({name, std::string(m.begin() + static_cast<std::ptrdiff_t>(at + 24),
                                      m.begin() + static_cast<std::ptrdiff_t>(at + 28)),
                    date, std::to_string(static_cast<std::int32_t>(detail::Get(m, at + 36, 4)))});
  }
  if (!quorlin.empty()) {
    auto engine = BytesOfLetters(quorlin);
    if (!engine || engine->size() < 32) return std::nullopt;
    rows.push_back({detail::Text(*engine, 0, 24), std::string(engine->begin() + 24, engine->begin() + 28), "",
                    std::to_string(static_cast<std::int32_t>(detail::Get(*engine, 28, 4)))});
  }
  return rows;
}

}  // namespace kelm::iop::testing
