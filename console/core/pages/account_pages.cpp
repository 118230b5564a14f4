#include "console/core/pages/account_pages.h"

#include <charconv>
#include <cstdio>

#include "console/core/document.h"
#include "console/core/pages/page_support.h"
#include "console/core/pellwick.h"
#include "console/core/strings.h"
#include "console/core/virtual_folder.h"

namespace kelm::console::pages {

namespace {
constexpr int kStrPasswordMismatch = 177;
constexpr int kStrNoNewPassword = 178;
constexpr int kStrNoVersion = 185;
constexpr int kKeptRightBits = 1 | 128 | ~0xFF;
}  // namespace

void ConsolePage::Paint(DrawList& out, int width, int height) {
  out.Clear();
  out.FillRect({0, 0, width, height}, document().display().backgroundColor);
  out.MaskedBitmap(kBitmapConsole, width - 320, height - 50, kColorWhite);
}

std::optional<std::array<std::uint8_t, 4>> ParseAddress(std::string_view text) {
  std::array<std::uint8_t, 4> out{};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (p == end || *p != '.') return std::nullopt;
      ++p;
    }
    if (p == end || *p < '0' || *p > '9') return std::nullopt;
    unsigned v = 0;
    auto [q, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || v > 255 || q - p > 3) return std::nullopt;
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
    p = q;
  }
  if (p != end) return std::nullopt;
  return out;
}

std::string FormatAddress(const std::array<std::uint8_t, 4>& a) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%i.%i.%i.%i", a[0], a[1], a[2], a[3]);
  return buf;
}

// --- server page ---

void ServerPage::OnShowNode() {
  address_ = "127.0.0.1";
  Fill();
}

void ServerPage::Fill() {
  CVirtualFolder* node = GetFolder();
  modified_ = false;
  editable_ = false;
  if (!node) {
    Changed();
    return;
  }
  name_ = node->name();
  const std::string ip = node->GetProperty("IPAddress", "");
  // Anything but four numbers of 0-255 shows the local machine.
  if (ip.empty() || ip == "0") {
    address_ = "127.0.0.1";
  } else if (auto a = ParseAddress(ip)) {
    address_ = FormatAddress(*a);
  } else {
    address_ = "127.0.0.1";
  }
  label_ = node->GetProperty("Description", "").substr(0, kLabelMax);
  version_ = node->GetProperty("FileVersion", "");
  if (version_.empty()) version_ = std::string(LoadString(kStrNoVersion));
  editable_ = (node->flags() & CVirtualFolder::kFlagNew) != 0;
  Changed();
}

void ServerPage::Modified() {
  modified_ = true;
  Changed();
}

void ServerPage::SetName(const std::string& text) {
  if (!editable_ || text == name_) return;
  name_ = text;
  Modified();
}

void ServerPage::SetAddress(const std::string& text) {
  if (!editable_ || text == address_) return;
  address_ = text;
  Modified();
}

void ServerPage::SetLabel(const std::string& text) {
  std::string cut = text.substr(0, kLabelMax);
  if (cut == label_) return;
  label_ = std::move(cut);
  Modified();
}

void ServerPage::Commit() {
  CVirtualFolder* node = GetFolder();
  if (!node || !NodeInTree() || !commitEnabled()) return;
  PeaRef<CVirtualFolder> keep(node);
  if ((node->flags() & CVirtualFolder::kFlagNew) != 0) {
    CDremmoralDoc& doc = document();
    if (auto* parent = AsFolder(node->GetParent())) parent->RemoveChildNode(node);
    ShowNode(nullptr);
    // One local agent only: an existing one is selected instead of connecting a second time.
    CVirtualFolder* local = nullptr;
    for (CPea* child : doc.root()->SubFolders(false)) {
      auto* f = AsFolder(child);
      // The local agent is the one connected without an address (or named after this machine).
      const bool isLocal = f && f->nodeType() == kNodeAgent &&
                           (f->IsLocalMachine() || (f->GetConnection() && f->GetConnection()->address().empty()));
      if (isLocal && !local) local = f;
    }
    if (local) {
      doc.ui().SelectInOutline(local);
    } else {
      doc.AddLocalAgent();
    }
    return;
  }
  node->Invoke("rename", label_);
  modified_ = false;
  Changed();
}

// --- user page ---

std::string CheckUserName(std::string_view name) {
  if (name.empty()) return "Please input a user name.";
  if (name.size() > kUserNameMax) return "A user name can have at most 64 characters.";
  for (unsigned char c : name) {
    if (c == '@' || c == '\\' || c < 0x20 || c == 0x7F) return "A user name cannot contain '@', '\\' or control characters.";
  }
  return {};
}

std::string CheckPassword(std::string_view password) {
  if (password.size() > kPasswordMax) return "A password can have at most 64 characters.";
  if (password.find('@') != std::string_view::npos) return "A password cannot contain '@'.";
  return {};
}

bool UserPage::isNew() const {
  const CVirtualFolder* node = GetFolder();
  return node && (node->flags() & CVirtualFolder::kFlagNew) != 0;
}

void UserPage::OnShowNode() { Fill(); }

void UserPage::Fill() {
  CVirtualFolder* node = GetFolder();
  nameChanged_ = passwordChanged_ = rightsChanged_ = maintainTouched_ = false;
  if (!node) {
    Changed();
    return;
  }
  // Another logon since the last fill may see other rights: read the account again.
  const std::string userText = document().userText();
  if (!shownUserTextSet_ || userText != shownUserText_) {
    if (shownUserTextSet_ && !isNew()) node->Reload();
    shownUserText_ = userText;
    shownUserTextSet_ = true;
  }
  int rights = node->GetIntProperty("right", 0);
  name_ = node->GetProperty("name", "");
  password_.clear();
  confirm_.clear();
  if (isNew()) {
    nameEnabled_ = passwordEnabled_ = rightsEnabled_ = true;
    rights = 1;
  } else {
    std::uint32_t mask = 0;
    nameEnabled_ = node->FindMethod("rename", &mask) && (mask & 3) != 0;
    mask = 0;
    passwordEnabled_ = node->FindMethod("password", &mask) && (mask & 1) != 0;
    mask = 0;
    rightsEnabled_ = node->FindMethod("changeright", &mask) && (mask & 2) != 0;
  }
  notIop_ = document().notIntelligentIo();
  for (int b = 0; b < kBoxCount; ++b) {
    ticked_[static_cast<std::size_t>(b)] = (rights & kBoxBits[static_cast<std::size_t>(b)]) != 0;
  }
  if (notIop_) {
    ticked_[kCreateArray] = ticked_[kDeleteArray] = ticked_[kArrayStatistics] = ticked_[kMaintainArray] = false;
  }
  Changed();
}

bool UserPage::Forced(int box) const {
  return notIop_ && (box == kCreateArray || box == kDeleteArray || box == kArrayStatistics);
}

bool UserPage::boxEnabled(int box) const { return rightsEnabled_ && !Forced(box); }

void UserPage::SetName(const std::string& text) {
  if (!nameEnabled_ || text == name_) return;
  name_ = text;
  nameChanged_ = true;
  Changed();
}

void UserPage::SetPassword(const std::string& text) {
  if (!passwordEnabled_) return;
  password_ = text;
  passwordChanged_ = true;
  Changed();
}

void UserPage::SetConfirm(const std::string& text) {
  if (!passwordEnabled_) return;
  confirm_ = text;
  passwordChanged_ = true;
  Changed();
}

void UserPage::SetBox(int box, bool ticked) {
  if (box < 0 || box >= kBoxCount || !boxEnabled(box)) return;
  ticked_[static_cast<std::size_t>(box)] = ticked;
  if (box == kMaintainArray) maintainTouched_ = true;
  rightsChanged_ = true;
  Changed();
}

int UserPage::BuildRights(int old) const {
  int rights = old & kKeptRightBits;
  for (int b = 0; b < kBoxCount; ++b) {
    const int bit = kBoxBits[static_cast<std::size_t>(b)];
    // A box shown unticked only because of the system kind keeps the user's bit as it was.
    const bool carried = Forced(b) || (notIop_ && b == kMaintainArray && !maintainTouched_);
    if (carried ? (old & bit) != 0 : ticked_[static_cast<std::size_t>(b)]) rights |= bit;
  }
  return rights;
}

bool UserPage::Commit() {
  CVirtualFolder* node = GetFolder();
  if (!node || !NodeInTree()) return false;
  PeaRef<CVirtualFolder> keep(node);
  CDremmoralDoc& doc = document();
  if (isNew()) {
    if (!nameChanged_ && !passwordChanged_) return false;
    if (password_ != confirm_) {
      Message(doc, kStrPasswordMismatch, MsgIcon::Exclamation);
      return false;
    }
    if (std::string why = CheckUserName(name_); !why.empty()) {
      MessageText(doc, why, MsgIcon::Exclamation);
      return false;
    }
    if (std::string why = CheckPassword(password_); !why.empty()) {
      MessageText(doc, why, MsgIcon::Exclamation);
      return false;
    }
    if (!passwordChanged_ && Message(doc, kStrNoNewPassword, MsgIcon::Question, MsgButtons::OkCancel) != kIdOk) {
      return false;
    }
    auto* users = AsFolder(node->GetParent());
    if (!users || !doc.IsInTree(node)) return false;
    PeaRef<CVirtualFolder> keepUsers(users);
    users->Invoke("CreateUser", name_ + "@" + password_ + "@" + std::to_string(BuildRights(0)));
    users->Reload();
    return true;
  }
  if (passwordChanged_ && password_ != confirm_) {
    Message(doc, kStrPasswordMismatch, MsgIcon::Exclamation);
    return false;
  }
  if (nameChanged_) {
    if (std::string why = CheckUserName(name_); !why.empty()) {
      MessageText(doc, why, MsgIcon::Exclamation);
      return false;
    }
  }
  if (passwordChanged_) {
    if (std::string why = CheckPassword(password_); !why.empty()) {
      MessageText(doc, why, MsgIcon::Exclamation);
      return false;
    }
  }
  // The agent's changeright looks the account up by its current name, so a rename goes last.
  if (passwordChanged_) node->Invoke("password", password_);
  if (rightsChanged_) node->Invoke("changeright", std::to_string(BuildRights(node->GetIntProperty("right", 0))));
  if (nameChanged_) node->Invoke("rename", name_);
  nameChanged_ = passwordChanged_ = rightsChanged_ = false;
  Changed();
  return true;
}

}  // namespace kelm::console::pages
