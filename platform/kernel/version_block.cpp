#include "platform/kernel/version_block.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/base/unique_fd.h"

namespace plat::kernel {
namespace {

struct VectorSink {
  std::vector<std::uint8_t> out;
  void put(std::uint8_t b) { out.push_back(b); }
};

std::uint16_t get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(get16(b, at)) | static_cast<std::uint32_t>(get16(b, at + 2)) << 16;
}

bool ieq(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One walk over a block, checking every bound; the visitor sees each table and entry.
struct Layout {
  std::size_t total = 0;
  std::size_t fixedAt = 0;
  std::size_t trAt = 0, trCount = 0;
  std::size_t tablesAt = 0, tableCount = 0;
};

std::string num(std::size_t n) { return std::to_string(n); }

// "300 strings (at most 256)"
std::string beyond(std::size_t n, const char* what, std::size_t limit) {
  return num(n) + " " + what + " (at most " + num(limit) + ")";
}

Error damaged(const std::string& what) { return Error{EBADMSG, "version block: " + what}; }

// "string 2 of table 1": what a reader of the message can count to.
std::string stringPlace(std::size_t table, std::size_t index) {
  return "string " + num(index + 1) + " of table " + num(table + 1);
}

// The limits every string keeps, in a block written or read.
Result<void> checkString(std::size_t table, std::size_t index, std::string_view name, std::string_view value) {
  const std::string place = stringPlace(table, index);
  if (name.empty()) return Error{EINVAL, place + " has an empty name"};
  if (name.size() > kMaxVersionNameLength)
    return Error{EINVAL, place + " has a name of " + beyond(name.size(), "bytes", kMaxVersionNameLength)};
  if (value.size() > kMaxVersionValueLength)
    return Error{EINVAL, place + " has a value of " + beyond(value.size(), "bytes", kMaxVersionValueLength)};
  // Texts are C strings for the reader: a NUL inside one would cut it short.
  if (name.find('\0') != std::string_view::npos || value.find('\0') != std::string_view::npos)
    return Error{EINVAL, place + " has a NUL inside its name or value"};
  return success();
}

Result<Layout> header(std::span<const std::uint8_t> b) {
  if (b.size() < detail::kHeaderSize) return damaged(num(b.size()) + " bytes, shorter than the header");
  if (std::memcmp(b.data(), "KELMVER", 8) != 0) return damaged("it does not start with KELMVER");
  Layout l;
  l.total = get32(b, 8);
  if (l.total > b.size()) return damaged("it claims " + num(l.total) + " bytes but holds " + num(b.size()));
  if (l.total > kMaxVersionBlockSize) return damaged("it claims " + beyond(l.total, "bytes", kMaxVersionBlockSize));
  if (l.total < detail::kHeaderSize) return damaged("it claims " + num(l.total) + " bytes, less than its header");
  l.fixedAt = get32(b, 12);
  if (get32(b, 16) != kFixedSize)
    return damaged("the fixed part is " + num(get32(b, 16)) + " bytes instead of " + num(kFixedSize));
  if (l.fixedAt > l.total || l.total - l.fixedAt < kFixedSize)
    return damaged("the fixed part at offset " + num(l.fixedAt) + " runs past the end");
  l.trAt = get32(b, 20);
  l.trCount = get32(b, 24);
  if (l.trCount > kMaxVersionTranslations) return damaged(beyond(l.trCount, "translations", kMaxVersionTranslations));
  if (l.trAt > l.total || (l.total - l.trAt) / 4 < l.trCount)
    return damaged("the translations at offset " + num(l.trAt) + " run past the end");
  l.tablesAt = get32(b, 28);
  l.tableCount = get32(b, 32);
  if (l.tableCount > kMaxVersionTranslations)
    return damaged(beyond(l.tableCount, "string tables", kMaxVersionTranslations));
  if (l.tablesAt > l.total) return damaged("the string tables at offset " + num(l.tablesAt) + " start past the end");
  return l;
}

struct EntryRef {
  std::size_t nameAt, nameLen, valueAt, valueLen;
};

std::string_view textAt(std::span<const std::uint8_t> b, std::size_t at, std::size_t len) {
  return {reinterpret_cast<const char*>(b.data() + at), len};
}

// Visits the tables in order until the visitor says stop; an error for the first table that runs
// past the block or breaks a limit before that.
template <class Visit>
Result<void> walkTables(std::span<const std::uint8_t> b, const Layout& l, Visit visit) {
  std::size_t at = l.tablesAt;
  for (std::size_t t = 0; t < l.tableCount; ++t) {
    if (l.total - at < 8) return damaged("table " + num(t + 1) + " runs past the end");
    Translation key{get16(b, at), get16(b, at + 2)};
    std::size_t count = get32(b, at + 4);
    at += 8;
    if (count > kMaxVersionStrings)
      return damaged("table " + num(t + 1) + " has " + beyond(count, "strings", kMaxVersionStrings));
    std::vector<EntryRef> entries;
    for (std::size_t e = 0; e < count; ++e) {
      if (l.total - at < 8) return damaged(stringPlace(t, e) + " runs past the end");
      std::size_t nameLen = get16(b, at), valueLen = get32(b, at + 4);
      std::size_t nameAt = at + 8, valueAt = nameAt + nameLen + 1;
      if (l.total - nameAt < nameLen + 1 + valueLen + 1) return damaged(stringPlace(t, e) + " runs past the end");
      if (b[nameAt + nameLen] != 0 || b[valueAt + valueLen] != 0)
        return damaged(stringPlace(t, e) + " does not end its name or value with a NUL");
      if (auto fits = checkString(t, e, textAt(b, nameAt, nameLen), textAt(b, valueAt, valueLen)); !fits)
        return damaged(fits.message());
      entries.push_back({nameAt, nameLen, valueAt, valueLen});
      at = valueAt + valueLen + 1;
    }
    if (!visit(key, entries)) return success();
  }
  return success();
}

std::optional<Translation> parseTranslationKey(std::string_view hex) {
  if (hex.size() != 8) return std::nullopt;
  unsigned lang = 0, cp = 0;
  auto r1 = std::from_chars(hex.data(), hex.data() + 4, lang, 16);
  auto r2 = std::from_chars(hex.data() + 4, hex.data() + 8, cp, 16);
  if (r1.ec != std::errc() || r1.ptr != hex.data() + 4 || r2.ec != std::errc() || r2.ptr != hex.data() + 8)
    return std::nullopt;
  return Translation{static_cast<std::uint16_t>(lang), static_cast<std::uint16_t>(cp)};
}

bool readAt(int fd, std::uint64_t off, void* out, std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(out);
  while (n > 0) {
    ssize_t r = ::pread(fd, p, n, static_cast<off_t>(off));
    if (r <= 0) return false;
    p += r;
    off += static_cast<std::uint64_t>(r);
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> elfSection(int fd, std::uint64_t fileSize) {
  Elf64_Ehdr eh{};
  if (!readAt(fd, 0, &eh, sizeof eh) || eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB)
    return std::nullopt;
  if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shnum > 4096 || eh.e_shstrndx >= eh.e_shnum)
    return std::nullopt;
  if (eh.e_shoff > fileSize || (fileSize - eh.e_shoff) / sizeof(Elf64_Shdr) < eh.e_shnum) return std::nullopt;
  std::vector<Elf64_Shdr> sh(eh.e_shnum);
  if (!readAt(fd, eh.e_shoff, sh.data(), sh.size() * sizeof(Elf64_Shdr))) return std::nullopt;
  const Elf64_Shdr& strs = sh[eh.e_shstrndx];
  if (strs.sh_offset > fileSize || strs.sh_size > fileSize - strs.sh_offset || strs.sh_size > (1u << 20))
    return std::nullopt;
  std::vector<char> names(strs.sh_size + 1, 0);
  if (!readAt(fd, strs.sh_offset, names.data(), strs.sh_size)) return std::nullopt;
  for (const auto& s : sh) {
    if (s.sh_name >= strs.sh_size || std::strcmp(names.data() + s.sh_name, kVersionSection) != 0) continue;
    if (s.sh_type == SHT_NOBITS || s.sh_offset > fileSize || s.sh_size > fileSize - s.sh_offset) return std::nullopt;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(s.sh_size, kMaxVersionBlockSize));
    std::vector<std::uint8_t> block(n);
    if (!readAt(fd, s.sh_offset, block.data(), n)) return std::nullopt;
    return block;
  }
  return std::nullopt;
}

}  // namespace

Result<std::vector<std::uint8_t>> encodeVersionBlock(const VersionInfo& info) {
  auto refuse = [](int code, const std::string& what) { return Error{code, "version information: " + what}; };
  if (info.translations.size() > kMaxVersionTranslations)
    return refuse(EFBIG, beyond(info.translations.size(), "translations", kMaxVersionTranslations));
  if (info.tables.size() > kMaxVersionTranslations)
    return refuse(EFBIG, beyond(info.tables.size(), "string tables", kMaxVersionTranslations));
  std::vector<std::vector<VersionEntryView>> entries;
  std::vector<VersionTableView> tables;
  entries.reserve(info.tables.size());
  for (std::size_t t = 0; t < info.tables.size(); ++t) {
    const auto& strings = info.tables[t].strings;
    if (strings.size() > kMaxVersionStrings)
      return refuse(EFBIG, "table " + num(t + 1) + " has " + beyond(strings.size(), "strings", kMaxVersionStrings));
    auto& e = entries.emplace_back();
    for (std::size_t i = 0; i < strings.size(); ++i) {
      const auto& [name, value] = strings[i];
      if (auto fits = checkString(t, i, name, value); !fits) return refuse(fits.code(), fits.message());
      e.push_back({name, value});
    }
  }
  for (std::size_t i = 0; i < info.tables.size(); ++i) tables.push_back({info.tables[i].key, entries[i]});
  VersionBlockView view{info.fixed, info.translations, tables};
  if (encodedVersionSize(view) > kMaxVersionBlockSize)
    return refuse(EFBIG, "the block would be " + beyond(encodedVersionSize(view), "bytes", kMaxVersionBlockSize));
  VectorSink sink;
  encodeVersionBlock(view, sink);
  return std::move(sink.out);
}

FixedFileInfo fixedFromBytes(std::span<const std::uint8_t> b) {
  FixedFileInfo f;
  if (b.size() < kFixedSize) return f;
  std::uint32_t* words[] = {&f.signature,        &f.structVersion,    &f.fileVersionMS, &f.fileVersionLS,
                            &f.productVersionMS, &f.productVersionLS, &f.fileFlagsMask, &f.fileFlags,
                            &f.fileOS,           &f.fileType,         &f.fileSubtype,   &f.fileDateMS,
                            &f.fileDateLS};
  for (std::size_t i = 0; i < 13; ++i) *words[i] = get32(b, 4 * i);
  return f;
}

Result<VersionInfo> decodeVersionBlock(std::span<const std::uint8_t> b) {
  auto l = header(b);
  if (!l) return l.error();
  VersionInfo info;
  info.fixed = fixedFromBytes(b.subspan(l->fixedAt, kFixedSize));
  if (info.fixed.signature != kFixedSignature) {
    char text[64];
    std::snprintf(text, sizeof text, "the fixed part's signature is %08X instead of %08X", info.fixed.signature,
                  kFixedSignature);
    return damaged(text);
  }
  for (std::size_t i = 0; i < l->trCount; ++i)
    info.translations.push_back({get16(b, l->trAt + 4 * i), get16(b, l->trAt + 4 * i + 2)});
  auto walked = walkTables(b, *l, [&](Translation key, const std::vector<EntryRef>& entries) {
    auto& t = info.tables.emplace_back();
    t.key = key;
    for (const auto& e : entries)
      t.strings.emplace_back(std::string(textAt(b, e.nameAt, e.nameLen)),
                             std::string(textAt(b, e.valueAt, e.valueLen)));
    return true;
  });
  if (!walked) return walked.error();
  return info;
}

Result<std::span<const std::uint8_t>> queryVersionValue(std::span<const std::uint8_t> b, std::string_view path) {
  auto l = header(b);
  if (!l) return l.error();
  if (path == "\\") return b.subspan(l->fixedAt, kFixedSize);
  if (ieq(path, "\\VarFileInfo\\Translation")) return b.subspan(l->trAt, 4 * l->trCount);
  const std::string query(path);
  const Error notAPath{EINVAL, "'" + query + "' is no version query"};
  constexpr std::string_view prefix = "\\StringFileInfo\\";
  if (path.size() <= prefix.size() + 9 || !ieq(path.substr(0, prefix.size()), prefix)) return notAPath;
  path.remove_prefix(prefix.size());
  auto key = parseTranslationKey(path.substr(0, 8));
  if (!key || path[8] != '\\') return notAPath;
  std::string_view name = path.substr(9);
  std::optional<std::span<const std::uint8_t>> found;
  auto walked = walkTables(b, *l, [&](Translation k, const std::vector<EntryRef>& entries) {
    if (!(k == *key)) return true;
    for (const auto& e : entries) {
      if (ieq(textAt(b, e.nameAt, e.nameLen), name)) {
        found = b.subspan(e.valueAt, e.valueLen);
        return false;
      }
    }
    return false;  // only the first table of a translation counts
  });
  if (!walked) return walked.error();
  if (!found) return Error{ENOENT, "no value " + query + " in the version block"};
  return *found;
}

plat::Result<std::vector<std::uint8_t>> readVersionBlock(const std::filesystem::path& file) {
  plat::UniqueFd owned(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!owned) return plat::errnoError("open " + file.string());
  const int fd = owned.get();
  struct stat st {};
  std::optional<std::vector<std::uint8_t>> block;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint8_t magic[8] = {};
    if (readAt(fd, 0, magic, sizeof magic)) {
      if (std::memcmp(magic, "KELMVER", 8) == 0) {
        std::vector<std::uint8_t> all(static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxVersionBlockSize)));
        if (readAt(fd, 0, all.data(), all.size())) block = std::move(all);
      } else if (std::memcmp(magic, ELFMAG, SELFMAG) == 0) {
        block = elfSection(fd, size);
      }
    }
  }
  owned.reset();
  if (!block) return plat::Error{ENOENT, "no version block in " + file.string()};
  // Only a block that reads through entirely is handed out.
  if (auto whole = decodeVersionBlock(*block); !whole)
    return plat::Error{whole.code(), file.string() + ": " + whole.message()};
  block->resize(header(*block)->total);
  return std::move(*block);
}

plat::Result<void> writeVersionFile(const std::filesystem::path& file, const VersionInfo& info) {
  auto block = encodeVersionBlock(info);
  if (!block) return block.error();
  std::string tmp = file.string() + ".tmp" + std::to_string(::getpid());
  plat::UniqueFd owned(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!owned) return plat::errnoError("create " + tmp);
  const int fd = owned.get();
  bool ok = true;
  std::size_t off = 0;
  while (ok && off < block->size()) {
    ssize_t n = ::write(fd, block->data() + off, block->size() - off);
    if (n <= 0)
      ok = false;
    else
      off += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = owned.close().ok() && ok;
  ok = ok && ::rename(tmp.c_str(), file.c_str()) == 0;
  if (!ok) {
    plat::Error e = plat::errnoError("write " + file.string());
    ::unlink(tmp.c_str());
    return e;
  }
  return plat::success();
}

std::string versionWordsText(std::uint32_t ms, std::uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
         std::to_string(ls & 0xFFFF);
}

}  // namespace plat::kernel
