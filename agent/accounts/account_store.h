#pragma once
// The agent's user account store: per account a name, a password-protected key record and a rights
// word, in one file in the state directory. Accounts are opened with their password; administrators
// (right 2) hold the administrators' common private key, which opens the rights key.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agent/crypto/crypt_buffer.h"
#include "agent/crypto/random_pool.h"
#include "platform/base/hresult.h"

namespace kelm::accounts {

class StoreImage;

using AccountHandle = std::uint32_t;  // 0 is never a handle

constexpr std::uint32_t kRightOwnAccount = 1;
constexpr std::uint32_t kRightAdminister = 2;
constexpr std::uint32_t kInitialAdminRights = 0xF7FFFFFF;
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxPasswordLength = 255;

struct AccountEntry {
  std::string name;
  std::uint32_t rights = 0;
  bool operator==(const AccountEntry&) const = default;
};

class AccountStore {
 public:
  // The file is named after the program that keeps it: its own file name with the extension
  // ".PWD" ("halvorn" keeps "halvorn.PWD"), or kFallbackFileName when its path cannot be had.
  static constexpr const char* kFallbackFileName = "QUILLON.PWD";
  static constexpr const char* kTempFileName = "QUILLON.PW_";
  static std::string FileNameFor(const std::filesystem::path& program);
  // The name for the running program.
  static std::string DefaultFileName();

  // The store lives in `dir` (the state directory of the root prefix by default).
  explicit AccountStore(std::filesystem::path dir = {}, crypto::RandomPool* pool = nullptr);
  ~AccountStore();
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  std::filesystem::path filePath() const { return dir_ / fileName_; }
  // Held while a writer changes the file.
  std::filesystem::path lockPath() const { return dir_ / (fileName_ + ".lock"); }

  // Replaces the whole store with one holding this administrator (rights 0xF7FFFFFF); every open
  // handle is dropped.
  plat::HRESULT InitUserStore(std::string_view name, std::string_view password);
  plat::HRESULT OpenAccount(std::string_view name, std::string_view password, AccountHandle& handle);
  plat::HRESULT CloseAccount(AccountHandle handle);
  bool IsOpenHandle(AccountHandle handle) const;
  std::uint32_t GetHandleRights(AccountHandle handle) const;
  bool IsSameAccount(AccountHandle handle, std::string_view name) const;

  plat::HRESULT CreateAccount(AccountHandle creator, std::string_view name, std::string_view password,
                              std::uint32_t rights);
  plat::HRESULT DeleteAccount(AccountHandle requester, std::string_view name);
  plat::HRESULT RenameAccount(AccountHandle requester, std::string_view name, std::string_view newName);
  plat::HRESULT SetPassword(AccountHandle handle, std::string_view newPassword);
  plat::HRESULT ChangeRights(AccountHandle requester, std::string_view name, std::uint32_t rights);
  plat::HRESULT GetAccountRights(AccountHandle requester, std::string_view name, std::uint32_t& rights);
  plat::HRESULT ListAccounts(AccountHandle requester, std::vector<AccountEntry>& accounts);
  plat::HRESULT CountAccounts(AccountHandle requester, std::uint32_t mask, std::uint32_t& count);

  // Tests stop a writer at each point of a commit.
  void setWritePointHook(std::function<void()> hook) { writePointHook_ = std::move(hook); }
  // Gets the reason behind an E_FAIL that comes from the file (it cannot be locked, read, written
  // or synced); the answer itself stays the HRESULT.
  void setLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

  struct OpenAccountData;

 private:
  class Session;
  plat::HRESULT adminProof(OpenAccountData& account, const StoreImage& image);
  OpenAccountData* find(AccountHandle handle) const;
  OpenAccountData* findByName(std::string_view name) const;

  std::filesystem::path dir_;
  std::string fileName_ = DefaultFileName();
  crypto::RandomPool* pool_;
  std::map<AccountHandle, std::unique_ptr<OpenAccountData>> open_;
  AccountHandle nextHandle_ = 1;
  std::function<void()> writePointHook_;
  std::function<void(const std::string&)> log_;
};

}  // namespace kelm::accounts
