#include "console/core/pages/agent_page.h"

#include <algorithm>
#include <cctype>

#include "console/core/document.h"
#include "console/core/pages/serial_pages.h"
#include "console/core/strings.h"
#include "console/core/verify_schedule.h"
#include "message/message.h"

namespace kelm::console::pages {

namespace {

constexpr int kStrAddressInvalid = 180;
constexpr int kStrDash = 185;
constexpr int kStrScheduleInvalid = 200;
constexpr int kStrProtectionOff = 61204;

std::string OrDash(std::string text) { return text.empty() ? std::string(LoadString(kStrDash)) : text; }

bool ReadInt(std::string_view& text, int& out) {
  std::size_t i = 0;
  int v = 0;
  while (i < text.size() && i < 9 && std::isdigit(static_cast<unsigned char>(text[i]))) v = v * 10 + (text[i++] - '0');
  if (i == 0 || (i < text.size() && text[i] != '@')) return false;
  out = v;
  text.remove_prefix(std::min(text.size(), i + 1));
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string NoticeListText(const std::array<bool, kNoticeEvents.size()>& marks) {
  std::string codes;
  int n = 0;
  for (std::size_t i = 0; i < kNoticeEvents.size(); ++i) {
    if (!marks[i]) continue;
    ++n;
    codes += '@';
    codes += std::to_string(kNoticeEvents[i].code);
  }
  return std::to_string(n) + codes;
}

bool ParseNoticeList(std::string_view text, std::array<bool, kNoticeEvents.size()>& marks) {
  int count = 0;
  if (!ReadInt(text, count) || count > static_cast<int>(kNoticeEvents.size())) return false;
  std::array<bool, kNoticeEvents.size()> out{};
  for (int i = 0; i < count; ++i) {
    int code = 0;
    if (text.empty() || !ReadInt(text, code)) return false;
    const auto it = std::find_if(kNoticeEvents.begin(), kNoticeEvents.end(), [&](auto& e) { return e.code == code; });
    if (it == kNoticeEvents.end()) return false;
    out[static_cast<std::size_t>(it - kNoticeEvents.begin())] = true;
  }
  if (!text.empty()) return false;
  marks = out;
  return true;
}

std::vector<std::string> SplitRecipients(std::string_view list) {
  std::vector<std::string> out;
  std::string part;
  bool quoted = false;
  const auto flush = [&] {
    const std::string_view t = Trim(part);
    if (!t.empty()) out.emplace_back(t);
    part.clear();
  };
  for (char ch : list) {
    if (ch == '"') quoted = !quoted;
    if (ch == ',' && !quoted) {
      flush();
    } else {
      part += ch;
    }
  }
  flush();
  return out;
}

bool MailAddressValid(std::string_view text) {
  if (text.find_first_of("\r\n") != std::string_view::npos) return false;
  const std::size_t open = text.find('<');
  if (open == std::string_view::npos) return false;
  const std::size_t close = text.find('>', open + 1);
  if (close == std::string_view::npos) return false;
  const std::string_view address = Trim(text.substr(open + 1, close - open - 1));
  const std::size_t at = address.find('@');
  if (at == std::string_view::npos || at == 0 || address.front() == '.') return false;
  return address.find('.', at + 1) != std::string_view::npos;
}

bool TestEventFieldValid(std::string_view text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// --- the agent's settings page ---

AgentSettingsPage::~AgentSettingsPage() { Listen(nullptr); }

int& AgentSettingsPage::TestCounter() {
  static int counter = 0;
  return counter;
}

void AgentSettingsPage::Listen(CVirtualFolder* node) {
  if (listening_.get() == node) return;
  if (listening_) listening_->RemoveListener(this);
  listening_ = PeaRef<CVirtualFolder>(node);
  sent_.clear();
  if (node) node->AddListener(this);
}

void AgentSettingsPage::OnShowNode() {
  CVirtualFolder* node = GetFolder();
  Listen(node);
  Fill(!shown_.Again(node));
}

void AgentSettingsPage::Fill(bool everything) {
  CVirtualFolder* node = GetFolder();
  if (everything) {
    touched_ = 0;
    c_ = Controls();
  }
  if (!node) return;
  c_.name = OrDash(node->name());
  c_.version = OrDash(node->GetProperty("FileVersion", ""));
  c_.autoSave = node->GetIntProperty("bAutoSave", 0) != 0;
  perms_ = 0;
  const struct {
    const char* method;
    std::uint32_t bit;
  } rights[] = {{"SetProperty", kPermSetProperty},
                {"AddReceiptor", kPermAddReceiptor},
                {"DelReceiptor", kPermDelReceiptor},
                {"SetEmailNoticeList", kPermNoticeLists},
                {"SetVerifySchedule", kPermSchedule}};
  for (const auto& r : rights) {
    if (MethodAllowed(node, r.method)) perms_ |= r.bit;
  }
  c_.emailEnable = node->GetIntProperty("bEmailEnable", 0) != 0;
  c_.recipients = SplitRecipients(node->GetProperty("ReceiptorList", ""));
  if (std::find(c_.recipients.begin(), c_.recipients.end(), c_.selectedRecipient) == c_.recipients.end()) {
    c_.selectedRecipient.clear();
  }
  if (!(touched_ & kTSmtp)) c_.smtpServer = node->GetProperty("SMTPServer", "");
  if (!(touched_ & kTEmailId)) c_.emailId = node->GetProperty("EmailID", "");
  c_.ipAddress = node->GetProperty("IPAddress", "");
  c_.ntEventLog = node->GetIntProperty("NTEventLog", 0) != 0;
  if (!(touched_ & kTInterval)) c_.interval = node->GetIntProperty("GetEmailInterval", 1);
  c_.protection = node->GetIntProperty("EmailProtection", 0) != 0;
  if (!(touched_ & kTTest)) c_.testEvent = std::to_string(node->GetIntProperty("TestEvent", 0));
  // The lists and the schedule come as partial replies.
  Send("GetEmailNoticeList", "");
  Send("GetReportNoticeList", "");
  Send("GetVerifySchedule", "");
}

void AgentSettingsPage::OnUpdate(int hint, CPea* node) {
  // A value of the shown node changed: the read-only texts and the switches follow it; what is being
  // typed stays.
  if (hint != kHintValuesChanged || !node || node != GetFolder()) return;
  CVirtualFolder* f = GetFolder();
  c_.emailEnable = f->GetIntProperty("bEmailEnable", 0, true) != 0;
  c_.ntEventLog = f->GetIntProperty("NTEventLog", 0, true) != 0;
  c_.protection = f->GetIntProperty("EmailProtection", 0, true) != 0;
  c_.recipients = SplitRecipients(f->GetProperty("ReceiptorList", "", true));
  Changed();
}

int AgentSettingsPage::Send(const char* method, const std::string& args) {
  CVirtualFolder* node = GetFolder();
  if (!node || !NodeInTree()) return plat::E_FAIL;
  const int r = node->Invoke(method, args);
  if (r == 0) sent_.emplace_back(method, args);
  return r;
}

void AgentSettingsPage::OnInvokeReply(int status, const std::string& text) {
  if (status == kStatusFinal) {
    if (sent_.empty()) return;
    const std::string method = sent_.front().first;
    sent_.pop_front();
    Final(method, ParseResultCode(text));
    return;
  }
  if (status != kStatusPartial) return;
  const std::size_t a = text.find('@');
  const std::size_t b = a == std::string::npos ? a : text.find('@', a + 1);
  if (b == std::string::npos) return;
  const std::string_view method = std::string_view(text).substr(0, a);
  const std::string_view number = std::string_view(text).substr(a + 1, b - a - 1);
  const std::string_view payload = std::string_view(text).substr(b + 1);
  if (number != "0") return;
  if (method == "GetEmailNoticeList" || method == "GetReportNoticeList") {
    if (touched_ & kTNotice) return;  // marks being set are not overwritten
    auto& marks = method == "GetEmailNoticeList" ? c_.email : c_.popup;
    if (ParseNoticeList(payload, marks)) Changed();
  } else if (method == "GetVerifySchedule") {
    if (touched_ & kTSchedule) return;
    ReadSchedule(payload);
    Changed();
  }
}

void AgentSettingsPage::ReadSchedule(std::string_view payload) {
  CVerifySchedule s;
  s.Parse(payload);
  int type = 0;
  s.GetType(&type);
  c_.scheduleEnabled = s.IsEnabled();
  c_.scheduleType = type;
  std::uint8_t hour = 0, minute = 0;
  std::uint16_t day = 0;
  int count = 0;
  switch (type) {
    case CVerifySchedule::kDaily:
    case CVerifySchedule::kWeekly:
    case CVerifySchedule::kMonthly:
      s.GetTime(&hour, &minute);
      c_.hour = hour;
      c_.minute = minute;
      s.GetShortValue(&day);
      if (type == CVerifySchedule::kWeekly) c_.weekday = day;
      if (type == CVerifySchedule::kMonthly) c_.monthDay = day;
      break;
    case CVerifySchedule::kMinutes:
    case CVerifySchedule::kHours:
      s.GetIntValue(&count);
      (type == CVerifySchedule::kMinutes ? c_.minutes : c_.hours) = count;
      break;
    default:
      c_.scheduleType = 0;
      c_.scheduleEnabled = false;
  }
}

void AgentSettingsPage::Final(const std::string& method, int result) {
  const bool ok = result == kResultFunctional;
  if (method == "AddReceiptor" || method == "DelReceiptor") {
    if (ok) {
      if (method == "AddReceiptor") {
        c_.newRecipient.clear();
        touched_ &= ~kTNewRecipient;
      } else {
        c_.selectedRecipient.clear();
      }
      if (CVirtualFolder* node = GetFolder()) node->Reload();
    } else if (result == kResultInvalidArgument) {
      Message(document(), kStrAddressInvalid, MsgIcon::Exclamation);
    } else {
      MessageText(document(),
                  method == "AddReceiptor" ? "The agent did not add the recipient (already listed, or not stored)."
                                           : "The agent did not delete the recipient.",
                  MsgIcon::Exclamation);
    }
    Changed();
  } else if (!ok && (method == "SetEmailNoticeList" || method == "SetReportNoticeList" ||
                     method == "SetVerifySchedule")) {
    MessageText(document(), "The agent refused the setting: " + FormatResult(result), MsgIcon::Exclamation);
  }
}

AgentSettingsPage::Enables AgentSettingsPage::enables() const {
  Enables e;
  const bool set = perms_ & kPermSetProperty;
  e.ntEventLog = set;  // this system is never Windows 9x
  e.emailEnable = set;
  e.emailFields = c_.emailEnable && set;
  e.addRecipient = c_.emailEnable && (perms_ & kPermAddReceiptor);
  e.delRecipient = c_.emailEnable && (perms_ & kPermDelReceiptor) && !c_.selectedRecipient.empty();
  e.protection = c_.emailEnable && set;
  e.interval = c_.emailEnable && c_.protection && set;
  e.noticeList = perms_ & kPermNoticeLists;
  e.noticeApply = e.noticeList && (touched_ & kTNotice);
  e.scheduleEnabled = perms_ & kPermSchedule;
  e.scheduleApply = e.scheduleEnabled && (touched_ & kTSchedule);
  e.testEvent = set;
  return e;
}

void AgentSettingsPage::Touch(std::uint32_t t) {
  touched_ |= t;
  Changed();
}

void AgentSettingsPage::SetAutoSave(bool on) {
  c_.autoSave = on;
  if (CVirtualFolder* node = GetFolder()) node->SetLocalIntProperty("bAutoSave", on ? 1 : 0);
  Changed();
}

void AgentSettingsPage::SetEmailEnable(bool on) {
  c_.emailEnable = on;
  if (CVirtualFolder* node = GetFolder(); node && NodeInTree()) node->SetIntProperty("bEmailEnable", on ? 1 : 0);
  Changed();
}

void AgentSettingsPage::SetNtEventLog(bool on) {
  c_.ntEventLog = on;
  if (CVirtualFolder* node = GetFolder(); node && NodeInTree()) node->SetIntProperty("NTEventLog", on ? 1 : 0);
  Changed();
}

void AgentSettingsPage::SetProtection(bool on) {
  PeaRef<CVirtualFolder> hold(GetFolder());
  if (!hold) return;
  if (!on && c_.protection &&
      Message(document(), kStrProtectionOff, MsgIcon::Question, MsgButtons::OkCancel) != kIdOk) {
    Changed();  // the box shows it on again
    return;
  }
  if (hold.get() != GetFolder() || !NodeInTree()) return;
  c_.protection = on;
  hold->SetIntProperty("EmailProtection", on ? 1 : 0);
  Changed();
}

void AgentSettingsPage::TypeEmailId(const std::string& text) {
  c_.emailId = text;
  Touch(kTEmailId);
}

void AgentSettingsPage::LeaveEmailId() {
  PeaRef<CVirtualFolder> hold(GetFolder());
  if (!hold || !(touched_ & kTEmailId)) return;
  if (!MailAddressValid(c_.emailId)) {
    Message(document(), kStrAddressInvalid, MsgIcon::Exclamation);
    if (hold.get() != GetFolder()) return;
    c_.emailId = hold->GetProperty("EmailID", "", true);
  } else if (NodeInTree()) {
    hold->SetProperty("EmailID", c_.emailId);
  }
  touched_ &= ~kTEmailId;
  Changed();
}

void AgentSettingsPage::TypeSmtpServer(const std::string& text) {
  c_.smtpServer = text;
  Touch(kTSmtp);
}

void AgentSettingsPage::SetInterval(int hours) {
  c_.interval = std::clamp(hours, 1, 24);
  Touch(kTInterval);
}

void AgentSettingsPage::ApplyServer() {
  CVirtualFolder* node = GetFolder();
  if (!node || !NodeInTree()) return;
  node->SetProperty("SMTPServer", c_.smtpServer);
  node->SetIntProperty("GetEmailInterval", c_.interval);
  touched_ &= ~(kTSmtp | kTInterval);
  c_.smtpServer = node->GetProperty("SMTPServer", "", true);
  Changed();
}

void AgentSettingsPage::TypeNewRecipient(const std::string& text) {
  c_.newRecipient = text;
  Touch(kTNewRecipient);
}

void AgentSettingsPage::AddRecipient() {
  if (!MailAddressValid(c_.newRecipient)) {
    Message(document(), kStrAddressInvalid, MsgIcon::Exclamation);
    return;  // the typed text stays to be mended
  }
  if (Send("AddReceiptor", c_.newRecipient) != 0) ConnectionError(document());
  Changed();
}

void AgentSettingsPage::SelectRecipient(const std::string& text) {
  c_.selectedRecipient = text;
  Changed();
}

void AgentSettingsPage::DeleteRecipient() {
  if (c_.selectedRecipient.empty()) return;
  if (Send("DelReceiptor", c_.selectedRecipient) != 0) ConnectionError(document());
  Changed();
}

void AgentSettingsPage::SetEmailMark(std::size_t row, bool on) {
  if (row >= c_.email.size()) return;
  c_.email[row] = on;
  Touch(kTNotice);
}

void AgentSettingsPage::SetPopupMark(std::size_t row, bool on) {
  if (row >= c_.popup.size()) return;
  c_.popup[row] = on;
  Touch(kTNotice);
}

void AgentSettingsPage::SetAllEmail(bool on) {
  c_.allEmail = on;
  Touch(kTNotice);
}

void AgentSettingsPage::SetAllPopup(bool on) {
  c_.allPopup = on;
  Touch(kTNotice);
}

void AgentSettingsPage::ApplyNoticeLists() {
  CVirtualFolder* node = GetFolder();
  if (!node || !(perms_ & kPermNoticeLists)) return;
  if (Send("SetEmailNoticeList", NoticeListText(c_.email)) != 0 ||
      Send("SetReportNoticeList", NoticeListText(c_.popup)) != 0) {
    ConnectionError(document());
    return;
  }
  touched_ &= ~kTNotice;
  bool reload = false;
  if (c_.allEmail) reload |= Send("AllEmailEvent", "") == 0;
  if (c_.allPopup) reload |= Send("AllPopupEvent", "") == 0;
  c_.allEmail = c_.allPopup = false;
  if (reload) {
    node->Reload();
  } else {
    Send("GetEmailNoticeList", "");
    Send("GetReportNoticeList", "");
  }
  Changed();
}

void AgentSettingsPage::TypeTestEvent(const std::string& text) {
  c_.testEvent = text;
  Touch(kTTest);
}

void AgentSettingsPage::SendTestEvent() {
  CVirtualFolder* node = GetFolder();
  if (!node || !NodeInTree()) return;
  if (!TestEventFieldValid(c_.testEvent)) {
    MessageText(document(), "The test event is an event code of 1 to 5 digits.", MsgIcon::Exclamation);
    return;
  }
  const int n = ++TestCounter();
  node->SetProperty("TestEvent", c_.testEvent + "@" + std::to_string(n));
}

void AgentSettingsPage::SetScheduleType(int type) {
  c_.scheduleType = std::clamp(type, 0, 5);
  Touch(kTSchedule);
}
void AgentSettingsPage::SetScheduleEnabled(bool on) {
  c_.scheduleEnabled = on;
  Touch(kTSchedule);
}
void AgentSettingsPage::SetScheduleTime(int hour, int minute) {
  c_.hour = hour;
  c_.minute = minute;
  Touch(kTSchedule);
}
void AgentSettingsPage::SetScheduleWeekday(int day) {
  c_.weekday = day;
  Touch(kTSchedule);
}
void AgentSettingsPage::SetScheduleMonthDay(int day) {
  c_.monthDay = day;
  Touch(kTSchedule);
}
void AgentSettingsPage::SetScheduleCount(int count) {
  (c_.scheduleType == CVerifySchedule::kHours ? c_.hours : c_.minutes) = count;
  Touch(kTSchedule);
}

void AgentSettingsPage::ApplySchedule() {
  if (!GetFolder()) return;
  const int type = (perms_ & kPermSchedule) ? c_.scheduleType : 0;
  CVerifySchedule s;
  switch (type) {
    case CVerifySchedule::kDaily: s.Set(type, c_.hour, c_.minute); break;
    case CVerifySchedule::kWeekly: s.Set(type, c_.weekday, c_.hour, c_.minute); break;
    case CVerifySchedule::kMonthly: s.Set(type, c_.monthDay, c_.hour, c_.minute); break;
    case CVerifySchedule::kMinutes: s.Set(type, c_.minutes); break;
    case CVerifySchedule::kHours: s.Set(type, c_.hours); break;
    default: s.Set(CVerifySchedule::kNone, 0); break;
  }
  const int asked = c_.scheduleEnabled ? 1 : 0;
  if (s.SetEnabled(asked) != asked) {
    Message(document(), kStrScheduleInvalid, MsgIcon::Exclamation);
    return;
  }
  // "None" goes out too ("0"), so that turning the schedule off reaches the agent.
  if (Send("SetVerifySchedule", s.Format()) != 0) {
    ConnectionError(document());
    return;
  }
  touched_ &= ~kTSchedule;
  Send("GetVerifySchedule", "");
  Changed();
}

// --- the RAID system page ---

void RaidSystemPage::OnShowNode() {
  // The wait belongs to the node it was started for.
  wait_.stop();
  waitNode_ = PeaRef<CVirtualFolder>();
  ticks_ = 0;
  c_ = Controls();
  Fill();
}

void RaidSystemPage::Fill() {
  CVirtualFolder* node = GetFolder();
  if (!node) return;
  const bool waiting = c_.portStatus == kPleaseWait;
  c_.type = OrDash(node->GetProperty("Type", ""));
  if (!waiting) c_.portStatus = node->GetProperty("ComportStatus", "");
  c_.version = OrDash(node->GetProperty("FileVersion", ""));
  c_.portControls = c_.type == kSerialType;
  c_.connect = c_.portControls && !waiting && c_.portStatus != "Connected";
  c_.disconnect = c_.portControls && !waiting && c_.portStatus == "Connected";
}

void RaidSystemPage::RefreshPage() {
  if (!GetFolder()) return;
  Fill();
  if (c_.portControls && ++ticks_ % kReloadEveryTicks == 0 && !waiting()) GetFolder()->Reload();
  Changed();
}

void RaidSystemPage::OnUpdate(int hint, CPea* node) {
  if ((hint == kHintValuesChanged || hint == kHintChildArrived) && node &&
      (node == GetFolder() || node->GetParent() == GetFolder())) {
    Fill();
    Changed();
  }
}

void RaidSystemPage::Wait() {
  waitNode_ = PeaRef<CVirtualFolder>(GetFolder());
  wait_ = document().loop().singleShot(kConnectWait, [this] {
    PeaRef<CVirtualFolder> node = std::move(waitNode_);
    wait_.stop();
    if (!node || node.get() != GetFolder() || !NodeInTree()) return;
    c_.portStatus.clear();
    node->Reload();
    Fill();
    Changed();
  });
}

void RaidSystemPage::Connect() {
  CVirtualFolder* node = GetFolder();
  if (!node || !NodeInTree() || waiting()) return;
  if (node->Invoke("connectComPort", kPortArgument) != 0) {
    ConnectionError(document());
    return;
  }
  c_.portStatus = kPleaseWait;
  Fill();
  Wait();
  Changed();
}

void RaidSystemPage::Disconnect() {
  CVirtualFolder* node = GetFolder();
  if (!node || !NodeInTree() || waiting()) return;
  if (node->Invoke("disconnectComPort", kPortArgument) != 0) {
    ConnectionError(document());
    return;
  }
  node->Reload();
  Changed();
}

}  // namespace kelm::console::pages
