#pragma once
// The pages of the nodes the console owns or that manage access: the console root (type 0), a
// server entry (type 1) and one user account of an agent (type 13).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/core/colorref.h"
#include "console/core/pages/page_presenter.h"

namespace kelm::console::pages {

inline constexpr int kBitmapConsole = 215;  // 309x52, white mask
inline constexpr int kConsoleBitmapWidth = 309;
inline constexpr int kConsoleBitmapHeight = 52;

// The root's page: the background and bitmap 215 near the bottom right corner.
class ConsolePage : public PagePresenter {
 public:
  using PagePresenter::PagePresenter;
  void Paint(DrawList& out, int width, int height) override;
  void OnDisplaySettingsChanged() override { Changed(); }
};

// "a.b.c.d" of four numbers 0-255, else none.
std::optional<std::array<std::uint8_t, 4>> ParseAddress(std::string_view text);
std::string FormatAddress(const std::array<std::uint8_t, 4>& a);

class ServerPage : public PagePresenter {
 public:
  static constexpr std::size_t kLabelMax = 20;
  using PagePresenter::PagePresenter;

  // "&Reset": fills from the node again.
  void Fill();
  // The administrator's edits (each marks the page modified).
  void SetName(const std::string& text);
  void SetAddress(const std::string& text);
  void SetLabel(const std::string& text);
  void Commit();

  const std::string& name() const { return name_; }
  const std::string& address() const { return address_; }
  const std::string& label() const { return label_; }
  const std::string& version() const { return version_; }
  bool nameEnabled() const { return editable_; }
  bool addressEnabled() const { return editable_; }
  bool commitEnabled() const { return editable_ || modified_; }
  bool resetEnabled() const { return modified_; }
  bool modified() const { return modified_; }

 protected:
  void OnShowNode() override;

 private:
  void Modified();
  std::string name_, address_ = "127.0.0.1", label_, version_;
  bool editable_ = false, modified_ = false;
};

// The checks made before a user's name or password is sent: the reason, or empty when fine.
inline constexpr std::size_t kUserNameMax = 64;
inline constexpr std::size_t kPasswordMax = 64;
std::string CheckUserName(std::string_view name);
std::string CheckPassword(std::string_view password);

class UserPage : public PagePresenter {
 public:
  enum Box { kCreateArray, kDeleteArray, kArrayStatistics, kMaintainArray, kAdapter, kUserAccounts, kBoxCount };
  static constexpr std::array<int, kBoxCount> kBoxBits = {4, 8, 32, 16, 64, 2};
  static constexpr std::array<const char*, kBoxCount> kBoxTexts = {"Create Array", "Delete Array", "Array Statistics",
                                                                   "Maintain Array", "Enabled", "Enabled"};

  using PagePresenter::PagePresenter;

  // "&Reset": fills from the node again.
  void Fill();
  void SetName(const std::string& text);
  void SetPassword(const std::string& text);
  void SetConfirm(const std::string& text);
  void SetBox(int box, bool ticked);
  // Sends what changed; false when a check stopped it.
  bool Commit();

  // The rights sent for the boxes over a user's current rights.
  int BuildRights(int old) const;

  const std::string& name() const { return name_; }
  const std::string& password() const { return password_; }
  const std::string& confirm() const { return confirm_; }
  bool ticked(int box) const { return ticked_[static_cast<std::size_t>(box)]; }
  bool boxEnabled(int box) const;
  bool nameEnabled() const { return nameEnabled_; }
  bool passwordEnabled() const { return passwordEnabled_; }
  bool buttonsEnabled() const { return nameChanged_ || passwordChanged_ || rightsChanged_; }
  bool isNew() const;

 protected:
  void OnShowNode() override;

 private:
  bool Forced(int box) const;
  std::string name_, password_, confirm_, shownUserText_;
  bool shownUserTextSet_ = false;
  std::array<bool, kBoxCount> ticked_{};
  bool rightsEnabled_ = false, nameEnabled_ = false, passwordEnabled_ = false;
  bool nameChanged_ = false, passwordChanged_ = false, rightsChanged_ = false, maintainTouched_ = false;
  bool notIop_ = false;
};

}  // namespace kelm::console::pages
