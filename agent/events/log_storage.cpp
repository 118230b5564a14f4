#include "agent/events/log_storage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kelm::events {

bool MemoryStorage::readAt(std::int64_t pos, std::size_t n, std::string& out) const {
  if (pos < 0 || static_cast<std::uint64_t>(pos) > bytes_.size() || bytes_.size() - pos < n) return false;
  out.assign(bytes_, static_cast<std::size_t>(pos), n);
  return true;
}

bool MemoryStorage::writeAt(std::int64_t pos, std::string_view bytes) {
  if (pos < 0) return false;
  const auto p = static_cast<std::size_t>(pos);
  if (bytes_.size() < p + bytes.size()) bytes_.resize(p + bytes.size(), '\0');
  bytes_.replace(p, bytes.size(), bytes);
  return true;
}

bool MemoryStorage::truncate(std::int64_t length) {
  if (length < 0) return false;
  bytes_.resize(static_cast<std::size_t>(length), '\0');
  return true;
}

std::int64_t FileStorage::size() const {
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0) return -1;
  return st.st_size;
}

bool FileStorage::readAt(std::int64_t pos, std::size_t n, std::string& out) const {
  out.resize(n);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd_.get(), out.data() + done, n - done, static_cast<off_t>(pos + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<std::size_t>(r);
  }
  return true;
}

bool FileStorage::writeAt(std::int64_t pos, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::pwrite(fd_.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(pos + done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<std::size_t>(w);
  }
  return true;
}

bool FileStorage::truncate(std::int64_t length) { return ::ftruncate(fd_.get(), static_cast<off_t>(length)) == 0; }

}  // namespace kelm::events
