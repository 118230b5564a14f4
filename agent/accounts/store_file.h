#pragma once
// Reading and committing the account file. A commit writes the whole new image to the temporary
// file, syncs it, renames it over the store and syncs the directory, so that a crash at any moment
// leaves either the old store or the new one. Every operation holds an exclusive lock meanwhile.
#include <filesystem>
#include <functional>

#include "agent/crypto/crypt_buffer.h"
#include "platform/base/result.h"
#include "platform/base/unique_fd.h"

namespace kelm::accounts {

class StoreFile {
 public:
  StoreFile(std::filesystem::path store, std::filesystem::path temp, std::filesystem::path lock)
      : store_(std::move(store)), temp_(std::move(temp)), lock_(std::move(lock)) {}
  ~StoreFile() { unlock(); }
  const std::filesystem::path& path() const { return store_; }
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // Takes the exclusive lock without waiting. Fails with EWOULDBLOCK while another process holds
  // it, else with the reason the lock file cannot be opened or locked.
  plat::Result<void> lock();
  void unlock();

  // The whole store (bounded in size); a missing file fails with ENOENT, one that is not a
  // regular file, is empty or too large with EINVAL, a failed read with its errno.
  plat::Result<crypto::Bytes> read() const;
  // Fails with the step that failed, leaving the old store. Once the rename is done the new store
  // is the store, so a directory that cannot be synced afterwards is no failure (the caller's view
  // and the file must not part): `warn` is told the rename may not survive a crash.
  plat::Result<void> commit(const crypto::Bytes& image, const std::function<void(const std::string&)>& warn = {});

  // Called at every point of a commit where a crash could leave something on disk (tests stop the
  // process there).
  void setWritePointHook(std::function<void()> hook) { hook_ = std::move(hook); }

 private:
  void writePoint() const {
    if (hook_) hook_();
  }
  std::filesystem::path store_, temp_, lock_;
  plat::UniqueFd lockFd_;
  std::function<void()> hook_;
};

}  // namespace kelm::accounts
