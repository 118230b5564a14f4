#pragma once
// The agent's own folders: the root with the agent's settings, "Users", and one folder per account.
#include <cstdint>
#include <string>

#include "agent/core/virtual_folder.h"
#include "platform/base/result.h"

namespace kelm::agent {

class CSettingsFolder final : public CVirtualFolder {
 public:
  static constexpr std::int64_t kPollInterval = 60;
  static constexpr std::int32_t kNotifyEveryTicks = 120;
  static constexpr const char* kAllEvents =
      "22@256@257@258@512@513@523@514@515@516@524@521@522@517@518@519@520@525@526@527@528@529@530";

  // Fills the settings entries and methods.
  void Build(CHalvornDoc& doc, const std::string& hostName);
  void OnRequest(CMessage& m, CSvrSocket& c) override;
  void OnTick() override;
  std::int32_t SetValue(const std::string& name, const std::string& value, std::uint32_t rights) override;
  std::int32_t InvokeMethod(CMessage& m, const std::string& name, const std::string& args, CSvrSocket& c) override;

 private:
  plat::Result<void> ResetProtection();  // what kept the stored state from being cleared
  // The answer to a setting: functional when stored, `refused` for a text that was refused
  // (EINVAL), else an error, and a store that failed is logged with its reason.
  std::int32_t Stored(const plat::Result<void>& stored, const std::string& what,
                      std::int32_t refused = kResultError) const;
  std::int64_t lastWalk_ = 0;
  std::int32_t tickCount_ = 0;
  bool walked_ = false;
};

class CUsersFolder final : public CVirtualFolder {
 public:
  CUsersFolder();
  std::int32_t InvokeMethod(CMessage& m, const std::string& name, const std::string& args, CSvrSocket& c) override;
  void OnList(CMessage& m, CSvrSocket& c) override;
  // A name an account may take here: not empty, no '@' or '\', not "." or "..", no sibling's name.
  bool ValidAccountName(const std::string& name, const CPea* except = nullptr) const;
};

class CSingleUser final : public CVirtualFolder {
 public:
  explicit CSingleUser(const std::string& account);
  std::uint32_t GetRights(CSvrSocket& c) override;
  std::int32_t InvokeMethod(CMessage& m, const std::string& name, const std::string& args, CSvrSocket& c) override;
  void OnList(CMessage& m, CSvrSocket& c) override;

 private:
  void TraceRightChange(std::uint32_t rights, std::uint32_t admins);
};

}  // namespace kelm::agent
