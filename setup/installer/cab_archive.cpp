#include "setup/installer/cab_archive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/base/unique_fd.h"

namespace kelm::setup {

using plat::UniqueFd;

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlock = 512;

plat::Result<bool> readFull(int fd, char* buf, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, buf + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return plat::errnoError("reading the archive");
    if (r == 0) {
      if (got == 0) return false;
      return plat::Error{EPROTO, "the archive ends inside a block"};
    }
    got += static_cast<std::size_t>(r);
  }
  return true;
}

// An octal field: digits, then NUL or blanks.
bool octal(const char* field, std::size_t width, std::uint64_t& out) {
  std::size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  std::uint64_t v = 0;
  bool any = false;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (v > (UINT64_MAX >> 3)) return false;
    v = (v << 3) | static_cast<unsigned>(field[i] - '0');
    any = true;
  }
  for (; i < width; ++i)
    if (field[i] != '\0' && field[i] != ' ') return false;
  out = v;
  return any;
}

std::string field(const char* f, std::size_t width) { return std::string(f, strnlen(f, width)); }

bool plainPackageName(const std::string& name) {
  if (name.size() < 5 || name.size() > 200 || name.compare(name.size() - 4, 4, ".deb") != 0) return false;
  if (name[0] == '.' || name[0] == '-') return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '+' || c == '-' || c == '~'))
      return false;
  return true;
}

}  // namespace

plat::Result<std::vector<fs::path>> ExtractPackages(const fs::path& archive, const fs::path& outDir) {
  UniqueFd in(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return plat::errnoError("opening " + archive.string());
  std::vector<fs::path> out;
  std::array<char, kBlock> header{};
  for (;;) {
    auto got = readFull(in.get(), header.data(), kBlock);
    if (!got) return plat::prefixed(archive.string(), got.error());
    if (!*got) return plat::Error{EPROTO, archive.string() + " ends without its end blocks"};
    if (std::all_of(header.begin(), header.end(), [](char c) { return c == 0; })) break;

    std::uint64_t sum = 0, stored = 0, size = 0;
    for (std::size_t i = 0; i < kBlock; ++i)
      sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
    if (!octal(&header[148], 8, stored) || stored != sum)
      return plat::Error{EPROTO, archive.string() + " has a damaged header"};
    if (!octal(&header[124], 12, size)) return plat::Error{EPROTO, archive.string() + " has a damaged size"};
    if (size > kMaxPackageBytes) return plat::Error{EFBIG, archive.string() + " holds a member that is too large"};
    const char type = header[156];
    const std::string name = field(&header[0], 100);
    const std::string prefix = std::memcmp(&header[257], "ustar", 5) == 0 ? field(&header[345], 155) : std::string();

    UniqueFd file;
    fs::path target;
    if ((type == '0' || type == '\0') && prefix.empty() && plainPackageName(name)) {
      if (out.size() >= kMaxPackages) return plat::Error{E2BIG, archive.string() + " holds too many packages"};
      target = outDir / name;
      file = UniqueFd(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
      if (!file) return plat::errnoError("creating " + target.string());
    }
    // The member's data, padded to whole blocks; members that are not packages are skipped.
    std::uint64_t left = (size + kBlock - 1) / kBlock * kBlock;
    std::uint64_t dataLeft = size;
    char buf[64 * 1024];
    while (left > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof buf));
      auto read = readFull(in.get(), buf, n);
      if (!read) return plat::prefixed(archive.string(), read.error());
      if (!*read) return plat::Error{EPROTO, archive.string() + " ends inside " + name};
      if (file) {
        const std::size_t keep = static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft, n));
        for (std::size_t off = 0; off < keep;) {
          ssize_t w = ::write(file.get(), buf + off, keep - off);
          if (w < 0 && errno == EINTR) continue;
          if (w <= 0) return plat::errnoError("writing " + target.string());
          off += static_cast<std::size_t>(w);
        }
        dataLeft -= keep;
      }
      left -= n;
    }
    if (file) out.push_back(target);
  }
  if (out.empty()) return plat::Error{ENOENT, archive.string() + " holds no packages"};
  return out;
}

}  // namespace kelm::setup
