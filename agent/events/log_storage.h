#pragma once
// Byte access to one event log file: the file on disk, or bytes in memory (tests, fuzzing).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"

namespace kelm::events {

class LogStorage {
 public:
  virtual ~LogStorage() = default;
  // The length in bytes.
  virtual plat::Result<std::int64_t> size() const = 0;
  // The n bytes at pos, fewer where the storage ends before them. An error only when they cannot be
  // read: a reader must never take a failing disk for a short or damaged file.
  virtual plat::Result<std::string> readAt(std::int64_t pos, std::size_t n) const = 0;
  virtual plat::Result<void> writeAt(std::int64_t pos, std::string_view bytes) = 0;
  virtual plat::Result<void> truncate(std::int64_t length) = 0;
};

class MemoryStorage final : public LogStorage {
 public:
  explicit MemoryStorage(std::string bytes = {}) : bytes_(std::move(bytes)) {}
  plat::Result<std::int64_t> size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  plat::Result<std::string> readAt(std::int64_t pos, std::size_t n) const override;
  plat::Result<void> writeAt(std::int64_t pos, std::string_view bytes) override;
  plat::Result<void> truncate(std::int64_t length) override;
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class FileStorage final : public LogStorage {
 public:
  explicit FileStorage(plat::UniqueFd fd) : fd_(std::move(fd)) {}
  plat::Result<std::int64_t> size() const override;
  plat::Result<std::string> readAt(std::int64_t pos, std::size_t n) const override;
  plat::Result<void> writeAt(std::int64_t pos, std::string_view bytes) override;
  plat::Result<void> truncate(std::int64_t length) override;

 private:
  plat::UniqueFd fd_;
};

}  // namespace kelm::events
