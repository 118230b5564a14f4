#include "setup/core/medium_files.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/base/paths.h"
#include "platform/base/unique_fd.h"

namespace kelm::setup {

using plat::UniqueFd;

namespace fs = std::filesystem;

namespace {

// A medium directory is small; far more entries than this is no installation set.
constexpr std::size_t kMaxEntries = 4096;

int percentOf(std::uint64_t done, std::uint64_t total) {
  // Nothing to copy is all copied.
  if (total == 0 || done >= total) return 100;
  if (done <= UINT64_MAX / 100) return static_cast<int>(done * 100 / total);
  return static_cast<int>(done / (total / 100));
}

}  // namespace

std::optional<fs::path> FindFileNoCase(const fs::path& dir, std::string_view name) {
  std::error_code ec;
  const fs::path exact = dir / std::string(name);
  if (fs::exists(exact, ec)) return exact;
  const std::string wanted(name);
  fs::directory_iterator it(dir, ec), end;
  for (std::size_t n = 0; !ec && it != end && n < kMaxEntries; it.increment(ec), ++n) {
    const std::string entry = it->path().filename().string();
    if (::strcasecmp(entry.c_str(), wanted.c_str()) == 0) return it->path();
  }
  return std::nullopt;
}

std::optional<fs::path> RealFiles::Find(const fs::path& dir, std::string_view name) {
  return FindFileNoCase(dir, name);
}

plat::Result<void> RealFiles::PrepareTarget(const fs::path& dir) {
  if (auto made = plat::paths::ensureDir(dir); !made) return made;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  if (ec) return plat::Error{ec.value(), "cannot read " + dir.string() + ": " + ec.message()};
  for (; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) && !it->is_symlink(ec)) continue;
    if (::unlink(it->path().c_str()) != 0 && errno != ENOENT) return plat::errnoError("removing " + it->path().string());
  }
  if (ec) return plat::Error{ec.value(), "cannot read " + dir.string() + ": " + ec.message()};
  return plat::success();
}

plat::Result<std::vector<FileEntry>> RealFiles::ListRegular(const fs::path& dir) {
  std::vector<FileEntry> out;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  if (ec) return plat::Error{ec.value(), "cannot read " + dir.string() + ": " + ec.message()};
  for (; !ec && it != end; it.increment(ec)) {
    if (out.size() >= kMaxEntries) return plat::Error{E2BIG, dir.string() + " holds too many files"};
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    out.push_back({it->path(), static_cast<std::uint64_t>(st.st_size)});
  }
  if (ec) return plat::Error{ec.value(), "cannot read " + dir.string() + ": " + ec.message()};
  return out;
}

plat::Result<void> RealFiles::Copy(const fs::path& from, const fs::path& to,
                                   const std::function<void(std::uint64_t)>& progress) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return plat::errnoError("opening " + from.string());
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return plat::errnoError("reading " + from.string());
  const fs::path temp = to.string() + ".part";
  UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!out) return plat::errnoError("creating " + temp.string());
  const auto fail = [&](const std::string& what) {
    plat::Error e = plat::errnoError(what);
    ::unlink(temp.c_str());
    return e;
  };
  char buf[64 * 1024];
  std::uint64_t copied = 0;
  for (;;) {
    ssize_t n = ::read(in.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("reading " + from.string());
    if (n == 0) break;
    for (ssize_t off = 0; off < n;) {
      ssize_t w = ::write(out.get(), buf + off, static_cast<std::size_t>(n - off));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return fail("writing " + temp.string());
      off += w;
    }
    copied += static_cast<std::uint64_t>(n);
    if (progress) progress(copied);
  }
  // The installer is a program: the copy keeps the permission bits.
  if (::fchmod(out.get(), st.st_mode & 07777) != 0) return fail("setting the mode of " + temp.string());
  if (::fsync(out.get()) != 0) return fail("writing " + temp.string());
  if (::rename(temp.c_str(), to.c_str()) != 0) return fail("renaming " + temp.string());
  return plat::success();
}

plat::Result<void> CopyDisk(Files& files, const fs::path& from, const fs::path& to, CopyProgress& progress) {
  auto entries = files.ListRegular(from);
  if (!entries) return entries.error();
  std::uint64_t total = 0;
  for (const auto& e : *entries) total += e.size;
  progress.total = total;
  progress.done = 0;
  progress.percent = percentOf(0, total);
  std::uint64_t done = 0;
  for (const auto& e : *entries) {
    auto copied = files.Copy(e.path, to / e.path.filename(), [&](std::uint64_t now) {
      progress.percent = percentOf(done + now, total);
    });
    if (!copied) return copied.error();
    done += e.size;
    progress.done = done;
    progress.percent = percentOf(done, total);
  }
  progress.percent = 100;
  return plat::success();
}

}  // namespace kelm::setup
