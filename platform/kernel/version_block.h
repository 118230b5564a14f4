#pragma once
// The version block: our own binary format for a module's version information, embedded in the
// ".kelm_version" section of every binary we build or written as a standalone file.
//
// Layout (little-endian):
//   0  "KELMVER" NUL           8 bytes
//   8  u32 total size          (the block, header included)
//   12 u32 fixed-part offset   u32 fixed-part size (52)
//   20 u32 translations offset u32 translation count   (u16 language, u16 code page each)
//   28 u32 tables offset       u32 table count
//   tables: u16 language, u16 code page, u32 entry count, then per entry
//           u16 name length, u16 0, u32 value length, name NUL, value NUL
// Texts are UTF-8 and NUL-terminated inside the block, so a reader can point into it.
//
// Queries name a part of the block: "\" (the fixed part), "\VarFileInfo\Translation" (the
// translation table), "\StringFileInfo\llllcccc\Name" (one string of the table whose language and
// code page are the eight hex digits). Names compare without regard to case.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/result.h"

namespace plat::kernel {

constexpr std::size_t kMaxVersionBlockSize = 64 * 1024;
constexpr std::size_t kMaxVersionTranslations = 64;
constexpr std::size_t kMaxVersionStrings = 256;
constexpr std::size_t kMaxVersionNameLength = 255;
constexpr std::size_t kMaxVersionValueLength = 4096;
constexpr char kVersionSection[] = ".kelm_version";

constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
enum : std::uint32_t { kFileTypeApp = 1, kFileTypeDll = 2, kFileTypeDriver = 3 };

// The fixed part: thirteen 32-bit words.
struct FixedFileInfo {
  std::uint32_t signature = kFixedSignature;
  std::uint32_t structVersion = 0x00010000;
  std::uint32_t fileVersionMS = 0;  // major << 16 | minor
  std::uint32_t fileVersionLS = 0;  // build << 16 | revision
  std::uint32_t productVersionMS = 0;
  std::uint32_t productVersionLS = 0;
  std::uint32_t fileFlagsMask = 0x3F;
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOS = 0;
  std::uint32_t fileType = kFileTypeApp;
  std::uint32_t fileSubtype = 0;
  std::uint32_t fileDateMS = 0;
  std::uint32_t fileDateLS = 0;
};
constexpr std::size_t kFixedSize = 13 * 4;

struct Translation {
  std::uint16_t language = 0;
  std::uint16_t codePage = 0;
  friend bool operator==(const Translation&, const Translation&) = default;
};

// ---- Encoding (usable at compile time, for embedding) ----

struct VersionEntryView {
  std::string_view name;
  std::string_view value;
};
struct VersionTableView {
  Translation key;
  std::span<const VersionEntryView> entries;
};
struct VersionBlockView {
  FixedFileInfo fixed;
  std::span<const Translation> translations;
  std::span<const VersionTableView> tables;
};

namespace detail {
constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t tablesSize(const VersionBlockView& b) {
  std::size_t n = 0;
  for (const auto& t : b.tables) {
    n += 8;
    for (const auto& e : t.entries) n += 8 + e.name.size() + 1 + e.value.size() + 1;
  }
  return n;
}
template <class Sink>
constexpr void put16(Sink& s, std::uint32_t v) {
  s.put(static_cast<std::uint8_t>(v));
  s.put(static_cast<std::uint8_t>(v >> 8));
}
template <class Sink>
constexpr void put32(Sink& s, std::uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}
template <class Sink>
constexpr void putText(Sink& s, std::string_view t) {
  for (char c : t) s.put(static_cast<std::uint8_t>(c));
  s.put(0);
}
template <std::size_t N>
struct ArraySink {
  std::array<std::uint8_t, N> out{};
  std::size_t at = 0;
  constexpr void put(std::uint8_t b) { out[at++] = b; }
};
}  // namespace detail

constexpr std::size_t encodedVersionSize(const VersionBlockView& b) {
  return detail::kHeaderSize + kFixedSize + 4 * b.translations.size() + detail::tablesSize(b);
}

template <class Sink>
constexpr void encodeVersionBlock(const VersionBlockView& b, Sink& s) {
  using namespace detail;
  const auto total = static_cast<std::uint32_t>(encodedVersionSize(b));
  const std::uint32_t fixedAt = kHeaderSize;
  const std::uint32_t trAt = fixedAt + kFixedSize;
  const auto tablesAt = static_cast<std::uint32_t>(trAt + 4 * b.translations.size());
  putText(s, "KELMVER");
  put32(s, total);
  put32(s, fixedAt);
  put32(s, kFixedSize);
  put32(s, trAt);
  put32(s, static_cast<std::uint32_t>(b.translations.size()));
  put32(s, tablesAt);
  put32(s, static_cast<std::uint32_t>(b.tables.size()));
  const FixedFileInfo& f = b.fixed;
  for (std::uint32_t w :
       {f.signature, f.structVersion, f.fileVersionMS, f.fileVersionLS, f.productVersionMS, f.productVersionLS,
        f.fileFlagsMask, f.fileFlags, f.fileOS, f.fileType, f.fileSubtype, f.fileDateMS, f.fileDateLS})
    put32(s, w);
  for (const auto& t : b.translations) {
    put16(s, t.language);
    put16(s, t.codePage);
  }
  for (const auto& t : b.tables) {
    put16(s, t.key.language);
    put16(s, t.key.codePage);
    put32(s, static_cast<std::uint32_t>(t.entries.size()));
    for (const auto& e : t.entries) {
      put16(s, static_cast<std::uint32_t>(e.name.size()));
      put16(s, 0);
      put32(s, static_cast<std::uint32_t>(e.value.size()));
      putText(s, e.name);
      putText(s, e.value);
    }
  }
}

// The block as a constant array, for the section of a binary.
template <std::size_t N>
constexpr std::array<std::uint8_t, N> versionBlockArray(const VersionBlockView& b) {
  detail::ArraySink<N> sink;
  encodeVersionBlock(b, sink);
  return sink.out;
}

// ---- Owned form, reading and writing ----

struct VersionStringTable {
  Translation key;
  std::vector<std::pair<std::string, std::string>> strings;
};

struct VersionInfo {
  FixedFileInfo fixed;
  std::vector<Translation> translations;
  std::vector<VersionStringTable> tables;
};

// An error naming the count, length or text beyond the format's limits.
Result<std::vector<std::uint8_t>> encodeVersionBlock(const VersionInfo& info);
// Checks every offset, count and length; for a block that is not well formed, EBADMSG saying what
// in it is wrong (which part runs past the end, which string breaks which limit).
Result<VersionInfo> decodeVersionBlock(std::span<const std::uint8_t> block);
// The bytes a query path names, inside the block (a string's bytes exclude its NUL, which follows).
// ENOENT when the block has no such value, EINVAL for a path that is no query, EBADMSG for damage
// met on the way.
Result<std::span<const std::uint8_t>> queryVersionValue(std::span<const std::uint8_t> block, std::string_view path);
FixedFileInfo fixedFromBytes(std::span<const std::uint8_t> bytes);

// The block of a file: the ".kelm_version" section of an ELF file, or a standalone version file.
// An error when the file cannot be read, has none (ENOENT) or it is not well formed (EBADMSG, saying
// what is wrong).
plat::Result<std::vector<std::uint8_t>> readVersionBlock(const std::filesystem::path& file);
// Writes a standalone version file (atomically: a temporary file renamed into place).
plat::Result<void> writeVersionFile(const std::filesystem::path& file, const VersionInfo& info);

// "1.11.0.0" (up to four numbers of 16 bits; missing ones are 0) as the (MS, LS) words.
constexpr std::optional<std::pair<std::uint32_t, std::uint32_t>> parseVersionWords(std::string_view text) {
  std::uint32_t parts[4] = {0, 0, 0, 0};
  std::size_t n = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (n == 4 || i == 0 || text[i - 1] == '.') return std::nullopt;
      ++n;
      continue;
    }
    if (text[i] < '0' || text[i] > '9' || n == 4) return std::nullopt;
    parts[n] = parts[n] * 10 + static_cast<std::uint32_t>(text[i] - '0');
    if (parts[n] > 0xFFFF) return std::nullopt;
  }
  return std::pair<std::uint32_t, std::uint32_t>{parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}
std::string versionWordsText(std::uint32_t ms, std::uint32_t ls);

}  // namespace plat::kernel
