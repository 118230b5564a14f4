#pragma once
// Byte access to one event log file: the file on disk, or bytes in memory (tests, fuzzing).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/unique_fd.h"

namespace kelm::events {

class LogStorage {
 public:
  virtual ~LogStorage() = default;
  // The length in bytes; -1 when it cannot be read.
  virtual std::int64_t size() const = 0;
  // Exactly n bytes at pos, or false.
  virtual bool readAt(std::int64_t pos, std::size_t n, std::string& out) const = 0;
  virtual bool writeAt(std::int64_t pos, std::string_view bytes) = 0;
  virtual bool truncate(std::int64_t length) = 0;
};

class MemoryStorage final : public LogStorage {
 public:
  explicit MemoryStorage(std::string bytes = {}) : bytes_(std::move(bytes)) {}
  std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  bool readAt(std::int64_t pos, std::size_t n, std::string& out) const override;
  bool writeAt(std::int64_t pos, std::string_view bytes) override;
  bool truncate(std::int64_t length) override;
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class FileStorage final : public LogStorage {
 public:
  explicit FileStorage(plat::UniqueFd fd) : fd_(std::move(fd)) {}
  std::int64_t size() const override;
  bool readAt(std::int64_t pos, std::size_t n, std::string& out) const override;
  bool writeAt(std::int64_t pos, std::string_view bytes) override;
  bool truncate(std::int64_t length) override;

 private:
  plat::UniqueFd fd_;
};

}  // namespace kelm::events
