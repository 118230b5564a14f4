#include "platform/base/unique_fd.h"
#include "platform/kernel/version_block.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

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

std::optional<Layout> header(std::span<const std::uint8_t> b) {
  if (b.size() < detail::kHeaderSize || std::memcmp(b.data(), "KELMVER", 8) != 0) return std::nullopt;
  Layout l;
  l.total = get32(b, 8);
  if (l.total > b.size() || l.total > kMaxVersionBlockSize || l.total < detail::kHeaderSize) return std::nullopt;
  l.fixedAt = get32(b, 12);
  if (get32(b, 16) != kFixedSize || l.fixedAt > l.total || l.total - l.fixedAt < kFixedSize) return std::nullopt;
  l.trAt = get32(b, 20);
  l.trCount = get32(b, 24);
  if (l.trCount > kMaxVersionTranslations || l.trAt > l.total || (l.total - l.trAt) / 4 < l.trCount)
    return std::nullopt;
  l.tablesAt = get32(b, 28);
  l.tableCount = get32(b, 32);
  if (l.tableCount > kMaxVersionTranslations || l.tablesAt > l.total) return std::nullopt;
  return l;
}

struct EntryRef {
  std::size_t nameAt, nameLen, valueAt, valueLen;
};

// Visits every table; false when the tables run past the block or break a limit.
template <class Visit>
bool walkTables(std::span<const std::uint8_t> b, const Layout& l, Visit visit) {
  std::size_t at = l.tablesAt;
  for (std::size_t t = 0; t < l.tableCount; ++t) {
    if (l.total - at < 8) return false;
    Translation key{get16(b, at), get16(b, at + 2)};
    std::size_t count = get32(b, at + 4);
    at += 8;
    if (count > kMaxVersionStrings) return false;
    std::vector<EntryRef> entries;
    for (std::size_t e = 0; e < count; ++e) {
      if (l.total - at < 8) return false;
      std::size_t nameLen = get16(b, at), valueLen = get32(b, at + 4);
      if (nameLen > kMaxVersionNameLength || valueLen > kMaxVersionValueLength) return false;
      std::size_t nameAt = at + 8, valueAt = nameAt + nameLen + 1;
      if (l.total - nameAt < nameLen + 1 + valueLen + 1) return false;
      if (b[nameAt + nameLen] != 0 || b[valueAt + valueLen] != 0) return false;
      // Texts are C strings for the reader: an empty name or a NUL inside a text is damage.
      if (nameLen == 0 || std::memchr(b.data() + nameAt, 0, nameLen) || std::memchr(b.data() + valueAt, 0, valueLen))
        return false;
      entries.push_back({nameAt, nameLen, valueAt, valueLen});
      at = valueAt + valueLen + 1;
    }
    if (!visit(key, entries)) return true;
  }
  return true;
}

std::string_view textAt(std::span<const std::uint8_t> b, std::size_t at, std::size_t len) {
  return {reinterpret_cast<const char*>(b.data() + at), len};
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

std::optional<std::vector<std::uint8_t>> encodeVersionBlock(const VersionInfo& info) {
  if (info.translations.size() > kMaxVersionTranslations || info.tables.size() > kMaxVersionTranslations)
    return std::nullopt;
  std::vector<std::vector<VersionEntryView>> entries;
  std::vector<VersionTableView> tables;
  entries.reserve(info.tables.size());
  for (const auto& t : info.tables) {
    if (t.strings.size() > kMaxVersionStrings) return std::nullopt;
    auto& e = entries.emplace_back();
    for (const auto& [name, value] : t.strings) {
      if (name.empty() || name.size() > kMaxVersionNameLength || value.size() > kMaxVersionValueLength ||
          name.find('\0') != std::string::npos || value.find('\0') != std::string::npos)
        return std::nullopt;
      e.push_back({name, value});
    }
  }
  for (std::size_t i = 0; i < info.tables.size(); ++i) tables.push_back({info.tables[i].key, entries[i]});
  VersionBlockView view{info.fixed, info.translations, tables};
  if (encodedVersionSize(view) > kMaxVersionBlockSize) return std::nullopt;
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

std::optional<VersionInfo> decodeVersionBlock(std::span<const std::uint8_t> b) {
  auto l = header(b);
  if (!l) return std::nullopt;
  VersionInfo info;
  info.fixed = fixedFromBytes(b.subspan(l->fixedAt, kFixedSize));
  if (info.fixed.signature != kFixedSignature) return std::nullopt;
  for (std::size_t i = 0; i < l->trCount; ++i)
    info.translations.push_back({get16(b, l->trAt + 4 * i), get16(b, l->trAt + 4 * i + 2)});
  bool ok = walkTables(b, *l, [&](Translation key, const std::vector<EntryRef>& entries) {
    auto& t = info.tables.emplace_back();
    t.key = key;
    for (const auto& e : entries)
      t.strings.emplace_back(std::string(textAt(b, e.nameAt, e.nameLen)),
                             std::string(textAt(b, e.valueAt, e.valueLen)));
    return true;
  });
  if (!ok) return std::nullopt;
  return info;
}

std::optional<std::span<const std::uint8_t>> queryVersionValue(std::span<const std::uint8_t> b, std::string_view path) {
  auto l = header(b);
  if (!l) return std::nullopt;
  if (path == "\\") return b.subspan(l->fixedAt, kFixedSize);
  if (ieq(path, "\\VarFileInfo\\Translation")) return b.subspan(l->trAt, 4 * l->trCount);
  constexpr std::string_view prefix = "\\StringFileInfo\\";
  if (path.size() <= prefix.size() + 9 || !ieq(path.substr(0, prefix.size()), prefix)) return std::nullopt;
  path.remove_prefix(prefix.size());
  auto key = parseTranslationKey(path.substr(0, 8));
  if (!key || path[8] != '\\') return std::nullopt;
  std::string_view name = path.substr(9);
  std::optional<std::span<const std::uint8_t>> found;
  bool ok = walkTables(b, *l, [&](Translation k, const std::vector<EntryRef>& entries) {
    if (!(k == *key)) return true;
    for (const auto& e : entries) {
      if (ieq(textAt(b, e.nameAt, e.nameLen), name)) {
        found = b.subspan(e.valueAt, e.valueLen);
        return false;
      }
    }
    return false;  // only the first table of a translation counts
  });
  if (!ok) return std::nullopt;
  return found;
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
  // Only a block that reads through entirely is handed out.
  if (!block || !decodeVersionBlock(*block)) {
    return plat::Error{ENOENT, "no well-formed version block in " + file.string()};
  }
  block->resize(header(*block)->total);
  return std::move(*block);
}

plat::Result<void> writeVersionFile(const std::filesystem::path& file, const VersionInfo& info) {
  auto block = encodeVersionBlock(info);
  if (!block) return plat::Error{EFBIG, "the version information does not fit a block"};
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
