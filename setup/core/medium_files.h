#pragma once
// Files of the installation medium: names are matched without regard to case (the medium's own
// spellings differ), and a set is copied so that no truncated file is ever left under its name.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"

namespace kelm::setup {

// The entry of `dir` whose name equals `name` without regard to ASCII case (an exact match first).
std::optional<std::filesystem::path> FindFileNoCase(const std::filesystem::path& dir, std::string_view name);

struct FileEntry {
  std::filesystem::path path;
  std::uint64_t size = 0;
};

// The file system as the finish sees it; tests replace it to make a copy fail.
class Files {
 public:
  virtual ~Files() = default;
  virtual std::optional<std::filesystem::path> Find(const std::filesystem::path& dir, std::string_view name) = 0;
  // Creates the directory and removes the regular files an earlier run left in it.
  virtual plat::Result<void> PrepareTarget(const std::filesystem::path& dir) = 0;
  // The regular files directly in `dir` (links to regular files count); others are left out.
  virtual plat::Result<std::vector<FileEntry>> ListRegular(const std::filesystem::path& dir) = 0;
  // Copies `from` to `to`: into a temporary name beside it, synced, then renamed over `to`.
  // `progress` gets the bytes copied so far.
  virtual plat::Result<void> Copy(const std::filesystem::path& from, const std::filesystem::path& to,
                                  const std::function<void(std::uint64_t)>& progress) = 0;
};

class RealFiles : public Files {
 public:
  std::optional<std::filesystem::path> Find(const std::filesystem::path& dir, std::string_view name) override;
  plat::Result<void> PrepareTarget(const std::filesystem::path& dir) override;
  plat::Result<std::vector<FileEntry>> ListRegular(const std::filesystem::path& dir) override;
  plat::Result<void> Copy(const std::filesystem::path& from, const std::filesystem::path& to,
                          const std::function<void(std::uint64_t)>& progress) override;
};

// The copy's numbers, shared between the worker and the window that shows them.
struct CopyProgress {
  std::atomic<std::uint64_t> total{0};
  std::atomic<std::uint64_t> done{0};
  std::atomic<int> percent{0};
};

// Copies every regular file of `from` into `to`, keeping `progress` up to date.
plat::Result<void> CopyDisk(Files& files, const std::filesystem::path& from, const std::filesystem::path& to,
                            CopyProgress& progress);

}  // namespace kelm::setup
