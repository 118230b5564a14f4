#include "agent/accounts/store_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "agent/accounts/store_format.h"

namespace kelm::accounts {
namespace {

constexpr std::size_t kWriteChunk = 4096;

bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= std::size_t(w);
  }
  return true;
}

}  // namespace

bool StoreFile::lock() {
  if (lockFd_) return true;
  plat::UniqueFd fd(::open(lock_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  lockFd_ = std::move(fd);
  return true;
}

void StoreFile::unlock() {
  if (lockFd_) {
    ::flock(lockFd_.get(), LOCK_UN);
    lockFd_.reset();
  }
}

std::optional<crypto::Bytes> StoreFile::read() const {
  plat::UniqueFd fd(::open(store_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return std::nullopt;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      std::size_t(st.st_size) > kMaxStoreSize) {
    return std::nullopt;
  }
  crypto::Bytes out(std::size_t(st.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    ssize_t r = ::read(fd.get(), out.data() + got, out.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += std::size_t(r);
  }
  if (got != out.size()) return std::nullopt;
  return out;
}

plat::HRESULT StoreFile::commit(const crypto::Bytes& image) {
  ::unlink(temp_.c_str());  // a leftover of an interrupted commit
  plat::UniqueFd fd(::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return plat::E_FAIL;
  ::fchmod(fd.get(), 0600);
  writePoint();
  bool ok = true;
  for (std::size_t off = 0; ok && off < image.size(); off += kWriteChunk) {
    std::size_t n = std::min(kWriteChunk, image.size() - off);
    ok = writeAll(fd.get(), image.data() + off, n);
    writePoint();
  }
  ok = ok && ::fsync(fd.get()) == 0;
  ok = fd.close().ok() && ok;
  if (!ok) {
    ::unlink(temp_.c_str());
    return plat::E_FAIL;
  }
  writePoint();
  if (::rename(temp_.c_str(), store_.c_str()) != 0) {
    ::unlink(temp_.c_str());
    return plat::E_FAIL;
  }
  writePoint();
  if (plat::UniqueFd dir(::open(store_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir) {
    ::fsync(dir.get());
  }
  writePoint();
  return plat::S_OK;
}

}  // namespace kelm::accounts
