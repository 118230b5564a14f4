#include "agent/accounts/store_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "agent/accounts/store_format.h"

namespace kelm::accounts {
namespace {

constexpr std::size_t kWriteChunk = 4096;

// Writes all of it; the errno of a failed write (EIO for one that wrote nothing).
plat::Result<void> writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return plat::Error{errno, ""};
    if (w == 0) return plat::Error{EIO, ""};
    p += w;
    n -= std::size_t(w);
  }
  return plat::success();
}

std::string quoted(const std::filesystem::path& p) { return "\"" + p.string() + "\""; }

}  // namespace

plat::Result<void> StoreFile::lock() {
  if (lockFd_) return plat::success();
  plat::UniqueFd fd(::open(lock_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return plat::errnoError("cannot open the account store's lock " + quoted(lock_));
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK)
      return plat::Error{err, "the account store " + quoted(store_) + " is in use by another process"};
    return plat::errnoError("cannot lock the account store's lock " + quoted(lock_), err);
  }
  lockFd_ = std::move(fd);
  return plat::success();
}

void StoreFile::unlock() {
  if (lockFd_) {
    ::flock(lockFd_.get(), LOCK_UN);
    lockFd_.reset();
  }
}

plat::Result<crypto::Bytes> StoreFile::read() const {
  plat::UniqueFd fd(::open(store_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return plat::errnoError("cannot open the account store " + quoted(store_));
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return plat::errnoError("cannot examine the account store " + quoted(store_));
  if (!S_ISREG(st.st_mode)) return plat::Error{EINVAL, "the account store " + quoted(store_) + " is not a file"};
  if (st.st_size <= 0 || std::size_t(st.st_size) > kMaxStoreSize) {
    return plat::Error{EINVAL, "the account store " + quoted(store_) + " has an impossible size of " +
                                   std::to_string(st.st_size) + " bytes"};
  }
  crypto::Bytes out(std::size_t(st.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    ssize_t r = ::read(fd.get(), out.data() + got, out.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return plat::errnoError("cannot read the account store " + quoted(store_));
    if (r == 0) break;
    got += std::size_t(r);
  }
  if (got != out.size()) {
    return plat::Error{EIO, "the account store " + quoted(store_) + " ended after " + std::to_string(got) + " of " +
                                std::to_string(out.size()) + " bytes"};
  }
  return out;
}

plat::Result<void> StoreFile::commit(const crypto::Bytes& image, const std::function<void(const std::string&)>& warn) {
  ::unlink(temp_.c_str());  // a leftover of an interrupted commit
  // Every failure before the rename takes the temporary file away again and leaves the store.
  auto fail = [this](const std::string& what, int err) {
    ::unlink(temp_.c_str());
    return plat::errnoError(what + " " + quoted(temp_), err);
  };
  plat::UniqueFd fd(::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return plat::errnoError("cannot create the account store's new copy " + quoted(temp_));
  // The mode asked for above is narrowed by the umask; the store must not be readable by others.
  if (::fchmod(fd.get(), 0600) != 0) return fail("cannot restrict access to", errno);
  writePoint();
  for (std::size_t off = 0; off < image.size(); off += kWriteChunk) {
    std::size_t n = std::min(kWriteChunk, image.size() - off);
    if (auto w = writeAll(fd.get(), image.data() + off, n); !w) return fail("cannot write", w.code());
    writePoint();
  }
  if (::fsync(fd.get()) != 0) return fail("cannot sync", errno);
  if (auto closed = fd.close(); !closed) return fail("cannot close", closed.code());
  writePoint();
  if (::rename(temp_.c_str(), store_.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp_.c_str());
    return plat::errnoError("cannot replace the account store " + quoted(store_) + " with " + quoted(temp_), err);
  }
  writePoint();
  // Until the directory is synced the rename itself may be lost in a crash.
  const std::filesystem::path dirPath = store_.parent_path().empty() ? "." : store_.parent_path();
  plat::UniqueFd dir(::open(dirPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if ((!dir || ::fsync(dir.get()) != 0) && warn) {
    warn(plat::errnoError("the account store " + quoted(store_) + " was replaced but its directory " +
                          quoted(dirPath) + " cannot be synced")
             .message);
  }
  writePoint();
  return plat::success();
}

}  // namespace kelm::accounts
