#include "agent/events/log_storage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kelm::events {

namespace {
plat::Error badPosition(std::int64_t pos) {
  return plat::Error{EINVAL, "event log position " + std::to_string(pos) + " is out of range"};
}
}  // namespace

plat::Result<std::string> MemoryStorage::readAt(std::int64_t pos, std::size_t n) const {
  if (pos < 0) return badPosition(pos);
  if (static_cast<std::uint64_t>(pos) >= bytes_.size()) return std::string();
  return bytes_.substr(static_cast<std::size_t>(pos), n);
}

plat::Result<void> MemoryStorage::writeAt(std::int64_t pos, std::string_view bytes) {
  if (pos < 0) return badPosition(pos);
  const auto p = static_cast<std::size_t>(pos);
  if (bytes_.size() < p + bytes.size()) bytes_.resize(p + bytes.size(), '\0');
  bytes_.replace(p, bytes.size(), bytes);
  return plat::success();
}

plat::Result<void> MemoryStorage::truncate(std::int64_t length) {
  if (length < 0) return badPosition(length);
  bytes_.resize(static_cast<std::size_t>(length), '\0');
  return plat::success();
}

plat::Result<std::int64_t> FileStorage::size() const {
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0) return plat::errnoError("reading the event log's size");
  return static_cast<std::int64_t>(st.st_size);
}

plat::Result<std::string> FileStorage::readAt(std::int64_t pos, std::size_t n) const {
  if (pos < 0) return badPosition(pos);
  std::string out(n, '\0');
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd_.get(), out.data() + done, n - done, static_cast<off_t>(pos + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return plat::errnoError("reading the event log at " + std::to_string(pos + done));
    if (r == 0) break;  // the end of the file
    done += static_cast<std::size_t>(r);
  }
  out.resize(done);
  return out;
}

plat::Result<void> FileStorage::writeAt(std::int64_t pos, std::string_view bytes) {
  if (pos < 0) return badPosition(pos);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::pwrite(fd_.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(pos + done));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return plat::errnoError("writing the event log at " + std::to_string(pos + done));
    if (w == 0) return plat::Error{EIO, "writing the event log at " + std::to_string(pos + done) + ": nothing written"};
    done += static_cast<std::size_t>(w);
  }
  return plat::success();
}

plat::Result<void> FileStorage::truncate(std::int64_t length) {
  if (::ftruncate(fd_.get(), static_cast<off_t>(length)) != 0)
    return plat::errnoError("cutting the event log to " + std::to_string(length) + " bytes");
  return plat::success();
}

}  // namespace kelm::events
