#include "agent/core/settings_folder.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "agent/core/agent_names.h"
#include "agent/core/halvorn_doc.h"
#include "agent/core/svr_socket.h"
#include "components/framework/version_info.h"
#include "platform/base/format.h"
#include "platform/base/paths.h"
#include "platform/base/unique_fd.h"

namespace kelm::agent {

using plat::FAILED;
using plat::SUCCEEDED;

namespace {
bool Is(const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; }

// The longest texts the settings take, so that every entry of the root stays a record any client
// reads: a host name, a mail address, the recipient list, a number.
constexpr std::size_t kMaxHostText = 255;
constexpr std::size_t kMaxAddressText = 320;
constexpr std::size_t kMaxRecipientList = 4096;
constexpr std::size_t kMaxNumberText = 16;

bool IsNumberSetting(const std::string& name) {
  for (const char* n : {"bEmailEnable", "PollFrequency", "NTEventLog", "GetEmailInterval", "EmailProtection", "TestEvent"})
    if (Is(name, n)) return true;
  return false;
}

}  // namespace

// ---- root ------------------------------------------------------------------------------------

void CSettingsFolder::Build(CHalvornDoc& doc, const std::string& hostName) {
  setName(hostName);
  setType("o--");
  setValue("2");
  Attach(nullptr, doc);
  const auto profile = AgentProfile();
  SetTextProperty("TestEvent", "523");
  SetIntProperty("NTEventLog", profile.getInt("LogEvent", "NTEventLog", 0));
  SetIntProperty("GetEmailInterval", profile.getInt("Email Protection", "Activate Interval", 1));
  SetIntProperty("EmailProtection", profile.getInt("Email Protection", "Protection Enable", 1));
  SetTextProperty("PollFrequency", "60");
  const MailSettings mail = doc.Events().GetMailSettings();
  SetIntProperty("bEmailEnable", mail.enabled ? 1 : 0);
  // A stored text longer than any request may set is not shown (it would break every listing).
  auto bounded = [&doc](const char* name, const std::string& text, std::size_t most) {
    if (text.size() <= most) return text;
    doc.Log(plat::format("The stored %s is longer than %zu bytes and is ignored", name, most));
    return std::string();
  };
  SetTextProperty("SMTPServer", bounded("SMTPServer", mail.smtpServer, kMaxHostText));
  SetTextProperty("EmailID", bounded("EmailID", mail.emailId, kMaxAddressText));
  SetTextProperty("ReceiptorList", bounded("ReceiptorList", mail.receiptorList, kMaxRecipientList));
  fw::CVersionInfo version;
  if (version.Open())
    if (auto v = version.String("FileVersion"); v && !v->empty()) SetTextProperty("FileVersion", *v);
  char computer[256] = {};
  if (::gethostname(computer, sizeof computer - 1) == 0 && computer[0]) SetTextProperty("name", computer);

  constexpr std::int32_t kAll = static_cast<std::int32_t>(0xF7FFFFFFu);
  AddMethodEntry("DelReceiptor", 0x40);
  AddMethodEntry("AddReceiptor", 0x40);
  AddMethodEntry("SetProperty", 0x40);
  AddMethodEntry("GetEmailNoticeList", kAll);
  AddMethodEntry("SetEmailNoticeList", 0x40);
  AddMethodEntry("GetReportNoticeList", kAll);
  AddMethodEntry("SetReportNoticeList", 0x40);
  doc.Events().ParseSchedule(profile.getString("GetVerifySchedule", "GetVerifySchedule"));
  AddMethodEntry("GetVerifySchedule", kAll);
  AddMethodEntry("SetVerifySchedule", 0x7C);
  AddMethodEntry("AllEmailEvent", kAll);
  AddMethodEntry("AllPopupEvent", kAll);
}

void CSettingsFolder::OnRequest(CMessage& m, CSvrSocket& c) {
  if (m.code == kReqQuery && (m.text == "." || m.text == "name")) return OnQuery(m, c);
  CVirtualFolder::OnRequest(m, c);
}

void CSettingsFolder::OnTick() {
  if (tickCount_++ == kNotifyEveryTicks) {
    tickCount_ = 1;
    Notify(kNotifyFolderChanged);
  }
  const std::int64_t now = Doc()->Clock().wallSeconds();
  if (!walked_ || now - lastWalk_ > kPollInterval || Doc()->Events().ScheduleIsDue()) {
    walked_ = true;
    lastWalk_ = now;
    CVirtualFolder::OnTick();
  }
}

plat::Result<void> CSettingsFolder::ResetProtection() {
  const auto profile = AgentProfile();
  auto stored = profile.writeString("Email Protection", "Repeated Event", "");
  if (stored) stored = profile.writeString("Email Protection", "Next Activate Time", "");
  Doc()->Events().ResetProtection();
  return stored;
}

std::int32_t CSettingsFolder::Stored(const plat::Result<void>& stored, const std::string& what,
                                     std::int32_t refused) const {
  if (stored) return kResultFunctional;
  if (stored.code() == EINVAL) return refused;
  Doc()->Log(what + " not stored: " + stored.message());
  return kResultError;
}

std::int32_t CSettingsFolder::SetValue(const std::string& name, const std::string& value, std::uint32_t rights) {
  if (!(rights & kRightSettings)) return kResultAccessDenied;
  IAgentEvents& ev = Doc()->Events();
  const auto profile = AgentProfile();
  if (IsNumberSetting(name) && value.size() > kMaxNumberText) return kResultInvalidArgument;
  if (Is(name, "SMTPServer") && value.size() > kMaxHostText) return kResultInvalidArgument;
  if (Is(name, "EmailID") && value.size() > kMaxAddressText) return kResultInvalidArgument;
  const std::int64_t n = DecimalOr(value, 0);
  // A setting that could not be stored is not reported as set; a refused mail text is an invalid
  // argument.
  if (Is(name, "bEmailEnable")) return Stored(ev.SetMailEnable(n != 0), name);
  if (Is(name, "SMTPServer")) return Stored(ev.SetSmtpServer(value), name, kResultInvalidArgument);
  if (Is(name, "EmailID")) {
    if (!ev.ParseMailAddress(value, nullptr)) return kResultInvalidArgument;
    return Stored(ev.SetEmailId(value), name, kResultInvalidArgument);
  }
  if (Is(name, "PollFrequency")) {
    // The walk keeps its own interval; only the shown value changes.
    // A 32-bit number taken as unsigned: "-5" is 4294967291.
    const auto v = DecimalOr(value, std::numeric_limits<std::int64_t>::min());
    if (v < std::numeric_limits<std::int32_t>::min() || v > 0xFFFFFFFFll) return kResultInvalidArgument;
    return static_cast<std::uint32_t>(v) >= 15 ? kResultFunctional : kResultInvalidArgument;
  }
  if (Is(name, "NTEventLog")) return Stored(profile.writeInt("LogEvent", "NTEventLog", static_cast<int>(n)), name);
  if (Is(name, "GetEmailInterval") || Is(name, "EmailProtection")) {
    const char* entry = Is(name, "GetEmailInterval") ? "Activate Interval" : "Protection Enable";
    auto stored = profile.writeInt("Email Protection", entry, static_cast<int>(n));
    auto reset = ResetProtection();  // a changed protection starts afresh either way
    return Stored(stored ? reset : stored, name);
  }
  if (Is(name, "TestEvent")) {
    ev.DispatchEvent(plat::format("%d", static_cast<int>(n)) + "@994730139@testing@AGENTTESTING", *this,
                     FamilyWord());
    return kResultFunctional;
  }
  return kResultNotFound;
}

std::int32_t CSettingsFolder::InvokeMethod(CMessage& m, const std::string& name, const std::string& args,
                                           CSvrSocket& c) {
  IAgentEvents& ev = Doc()->Events();
  const auto profile = AgentProfile();
  auto partial = [&](const std::string& text) { c.Send(CMessage(m.code, m.id, kStatusPartial, name + "@0@" + text)); };
  if (Is(name, "AddReceiptor") || Is(name, "DelReceiptor")) {
    std::string normalised;
    if (args.size() > kMaxAddressText || !ev.ParseMailAddress(args, &normalised)) return kResultInvalidArgument;
    if (Is(name, "AddReceiptor") && ev.GetMailSettings().receiptorList.size() + 1 + normalised.size() > kMaxRecipientList)
      return kResultInvalidArgument;
    const auto changed = Is(name, "AddReceiptor") ? ev.AddReceiptor(normalised) : ev.DelReceiptor(args);
    if (!changed) return kResultError;  // already listed, not listed, or not stored
    SetTextProperty("ReceiptorList", ev.GetMailSettings().receiptorList);
    Notify(kNotifyFolderChanged);
    return kResultFunctional;
  }
  const struct {
    const char* get;
    const char* set;
    NoticeList which;
  } lists[] = {{"GetEmailNoticeList", "SetEmailNoticeList", NoticeList::kEmail},
               {"GetReportNoticeList", "SetReportNoticeList", NoticeList::kReport}};
  for (const auto& l : lists) {
    if (Is(name, l.get)) {
      auto text = ev.GetNoticeList(l.which);
      if (!text) return kResultError;
      partial(*text);
      return kResultFunctional;
    }
    if (Is(name, l.set)) return Stored(ev.SetNoticeList(l.which, args), l.set);
  }
  if (Is(name, "GetVerifySchedule")) {
    partial(ev.FormatSchedule());
    return kResultFunctional;
  }
  if (Is(name, "SetVerifySchedule")) {
    if (!ev.ParseSchedule(args)) return kResultError;
    return Stored(profile.writeString("GetVerifySchedule", "GetVerifySchedule", ev.FormatSchedule()), name);
  }
  if (Is(name, "AllEmailEvent")) return Stored(ev.SetNoticeList(NoticeList::kEmail, kAllEvents), name);
  if (Is(name, "AllPopupEvent")) return Stored(ev.SetNoticeList(NoticeList::kReport, kAllEvents), name);
  return kResultNotFound;
}

// ---- Users -------------------------------------------------------------------------------------

CUsersFolder::CUsersFolder() {
  setName("Users");
  setType("o--");
  setValue("12");
  AddMethodEntry("CreateUser", 2);
  AddMethodEntry("DeleteUser", 2);
}

bool CUsersFolder::ValidAccountName(const std::string& name, const CPea* except) const {
  if (name.empty() || name == "." || name == ".." || name.size() > accounts::kMaxNameLength) return false;
  if (name.find_first_of("@\\") != std::string::npos) return false;
  for (char ch : name)
    if (static_cast<unsigned char>(ch) < 0x20) return false;
  const CPea* sibling = FindChild(name);
  return !sibling || sibling == except;
}

void CUsersFolder::OnList(CMessage& m, CSvrSocket& c) {
  std::vector<accounts::AccountEntry> accounts;
  if (FAILED(Doc()->Accounts().ListAccounts(c.CurrentHandle(), accounts))) return Reply(m, c, kResultError);
  std::vector<std::string> names;
  for (const auto& a : accounts) {
    CPea* existing = FindChild(a.name);
    if (existing ? !dynamic_cast<CSingleUser*>(existing) : !ValidAccountName(a.name)) continue;
    names.push_back(a.name);
    if (!existing) (new CSingleUser(a.name))->Attach(this, *Doc());
  }
  std::vector<CPea*> gone;
  for (CPea::Position pos = GetFirstChildPosition(); pos;) {
    CPea* child = GetNextChild(pos);
    if (dynamic_cast<CSingleUser*>(child) && std::find(names.begin(), names.end(), child->name()) == names.end())
      gone.push_back(child);
  }
  for (CPea* g : gone) RemoveChild(g);
  CVirtualFolder::OnList(m, c);
}

std::int32_t CUsersFolder::InvokeMethod(CMessage&, const std::string& name, const std::string& args, CSvrSocket& c) {
  accounts::AccountStore& store = Doc()->Accounts();
  const std::uint32_t rights = GetRights(c);
  if (Is(name, "CreateUser")) {
    if (!(rights & kRightAdminister)) return kResultError;
    const auto a = args.find('@');
    if (a == std::string::npos || a == 0) return kResultInvalidArgument;
    const auto b = args.find('@', a + 1);
    if (b == std::string::npos) return kResultInvalidArgument;
    const std::string user = args.substr(0, a);
    if (!ValidAccountName(user)) return kResultInvalidArgument;
    const auto newRights = static_cast<std::uint32_t>(DecimalOr(args.substr(b + 1), 0));
    if (FAILED(store.CreateAccount(c.CurrentHandle(), user, args.substr(a + 1, b - a - 1), newRights)))
      return kResultError;
    Notify(kNotifyFolderChanged);
    return kResultFunctional;
  }
  if (Is(name, "DeleteUser")) {
    if (!(rights & kRightAdminister)) return kResultFunctional;
    std::uint32_t admins = 0, target = 0;
    store.CountAccounts(c.CurrentHandle(), kRightAdminister, admins);
    const bool known = SUCCEEDED(store.GetAccountRights(c.CurrentHandle(), args, target));
    if (known && (admins > 1 || !(target & kRightAdminister)) && SUCCEEDED(store.DeleteAccount(c.CurrentHandle(), args))) {
      if (auto* f = FindFolder(args)) f->Notify(kNotifyFolderGone);
    }
    return kResultFunctional;
  }
  return kResultNotFound;
}

// ---- one account -------------------------------------------------------------------------------

CSingleUser::CSingleUser(const std::string& account) {
  setName(account);
  setType("or-");
  setValue("13");
  auto* n = new CPea;
  n->setName("name");
  n->setType("pr-");
  n->setValue(account);
  AddChild(n);
  AddMethodEntry("rename", 3);
  AddMethodEntry("password", 3);
  AddMethodEntry("changeright", 2);
}

std::uint32_t CSingleUser::GetRights(CSvrSocket& c) {
  std::uint32_t r = CVirtualFolder::GetRights(c);
  if (!Doc()->Accounts().IsSameAccount(c.CurrentHandle(), name())) r &= ~kRightOwnAccount;
  return r;
}

void CSingleUser::OnList(CMessage& m, CSvrSocket& c) {
  std::uint32_t rights = 0;
  if (SUCCEEDED(Doc()->Accounts().GetAccountRights(c.CurrentHandle(), name(), rights)))
    c.Send(CMessage(m.code, m.id, kStatusPartial, plat::format("right@pr-@%d", static_cast<int>(rights))));
  CVirtualFolder::OnList(m, c);
}

void CSingleUser::TraceRightChange(std::uint32_t rights, std::uint32_t admins) {
  const auto dir = plat::paths::logDir();
  if (!plat::paths::ensureDir(dir)) return;
  const auto file = dir / "right.txt";
  // Never through a link someone else placed there.
  plat::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return;
  const std::string line = plat::format("user %s, right= %x, nadmin= %d\n", name().c_str(), rights, static_cast<int>(admins));
  ssize_t n = ::write(fd.get(), line.data(), line.size());
  (void)n;
}

std::int32_t CSingleUser::InvokeMethod(CMessage&, const std::string& method, const std::string& args, CSvrSocket& c) {
  accounts::AccountStore& store = Doc()->Accounts();
  const std::uint32_t rights = GetRights(c);
  auto* users = dynamic_cast<CUsersFolder*>(ParentFolder());
  if (Is(method, "rename")) {
    if (!(rights & 3)) return kResultError;
    if (!users || !users->ValidAccountName(args, this)) return kResultInvalidArgument;
    if (FAILED(store.RenameAccount(c.CurrentHandle(), name(), args))) return kResultError;
    users->Notify(kNotifyFolderChanged);
    return kResultFunctional;
  }
  if (Is(method, "password")) {
    if (!(rights & kRightOwnAccount)) return kResultError;
    if (FAILED(store.SetPassword(c.CurrentHandle(), args))) return kResultError;
    Notify(kNotifyFolderChanged);
    return kResultFunctional;
  }
  if (Is(method, "changeright")) {
    if (!(rights & kRightAdminister)) return kResultError;
    const auto newRights = static_cast<std::uint32_t>(DecimalOr(args, 0));
    std::uint32_t admins = 0, current = 0;
    store.CountAccounts(c.CurrentHandle(), kRightAdminister, admins);
    if (FAILED(store.GetAccountRights(c.CurrentHandle(), name(), current))) return kResultError;
    TraceRightChange(newRights, admins);
    // Only taking right 2 from its last holder is refused.
    if (!(newRights & kRightAdminister) && (current & kRightAdminister) && admins <= 1) {
      Notify(kNotifyFolderChanged);
      return kResultFunctional;
    }
    if (FAILED(store.ChangeRights(c.CurrentHandle(), name(), newRights))) return kResultError;
    Notify(kNotifyFolderChanged);
    return kResultFunctional;
  }
  return kResultNotFound;
}

}  // namespace kelm::agent
