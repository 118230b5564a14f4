#include "agent/events/mail_sender.h"

#include <algorithm>
#include <cerrno>

namespace kelm::events {
namespace {

constexpr int kMaxReceiptors = 1000;

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || (s.back() >= '\t' && s.back() <= '\r'))) s.remove_suffix(1);
  return s;
}

std::string cleanOrEmpty(std::string s) { return hasLineBreak(s) ? std::string() : s; }

}  // namespace

void MailSettingsStore::LoadMailSettings() {
  settings_ = MailSettings{};
  settings_.smtpServer = cleanOrEmpty(profile_.getString(kMailSection, "SMTP"));
  settings_.emailId = cleanOrEmpty(profile_.getString(kMailSection, "EmailID"));
  const int n = std::min(profile_.getInt(kMailSection, "NumOfReceiptor", 0), kMaxReceiptors);
  for (int i = 0; i < n; ++i) {
    std::string r = profile_.getString(kMailSection, "Receiptor-" + std::to_string(i));
    if (r.empty() || hasLineBreak(r)) continue;
    if (std::find(settings_.receiptors.begin(), settings_.receiptors.end(), r) == settings_.receiptors.end())
      settings_.receiptors.push_back(std::move(r));
  }
  settings_.enableEmail = profile_.getInt(kMailSection, "EnableEmail", 0);
  loaded_ = true;
}

plat::Result<void> MailSettingsStore::SaveMailSettings() {
  using plat::reg::Value;
  // The section is replaced as a whole: a write that fails keeps the settings saved before
  // rather than leaving the section emptied with only some entries back.
  std::vector<Value> entries = {Value::string("SMTP", settings_.smtpServer),
                                Value::string("EmailID", settings_.emailId)};
  for (std::size_t i = 0; i < settings_.receiptors.size(); ++i)
    entries.push_back(Value::string("Receiptor-" + std::to_string(i), settings_.receiptors[i]));
  entries.push_back(Value::dword("NumOfReceiptor", static_cast<std::uint32_t>(settings_.receiptors.size())));
  entries.push_back(Value::dword("EnableEmail", static_cast<std::uint32_t>(settings_.enableEmail)));
  loaded_ = false;
  return profile_.replaceSection(kMailSection, entries);
}

CMailSender::CMailSender(MailSettingsStore& store, SmtpClient* client) : store_(store), client_(client) {
  ++store_.users_;
  if (!store_.loaded_) store_.LoadMailSettings();
}

CMailSender::~CMailSender() {
  // A use that did not Save() (a mail that was sent) stores them here; a failed save keeps the old ones.
  if (--store_.users_ == 0 && store_.loaded_) (void)store_.SaveMailSettings();
}

plat::Result<void> CMailSender::Save() {
  if (store_.users_ != 1 || !store_.loaded_) return plat::success();
  return store_.SaveMailSettings();
}

int CMailSender::AddReceiptor(std::string_view text) {
  auto& list = store_.settings_.receiptors;
  if (text.empty() || hasLineBreak(text) || list.size() >= static_cast<std::size_t>(kMaxReceiptors)) return 0;
  if (std::find(list.begin(), list.end(), text) != list.end()) return 0;
  list.emplace_back(text);
  return 1;
}

int CMailSender::DelReceiptor(std::string_view text) {
  auto& list = store_.settings_.receiptors;
  const auto it = std::find(list.begin(), list.end(), text);
  if (it == list.end()) return 0;
  list.erase(it);
  return 1;
}

int CMailSender::GetReceiptorList(std::string& out) const {
  out.clear();
  for (const std::string& r : store_.settings_.receiptors) {
    if (!out.empty()) out += ',';
    out += r;
  }
  return 1;
}

int CMailSender::SetSmtpServer(std::string_view text) {
  if (hasLineBreak(text)) return 0;
  store_.settings_.smtpServer = std::string(text);
  return 1;
}

int CMailSender::GetSmtpServer(std::string& out) const {
  out = store_.settings_.smtpServer;
  return out.empty() ? 0 : 1;
}

int CMailSender::SetEmailId(std::string_view text) {
  if (hasLineBreak(text)) return 0;
  store_.settings_.emailId = std::string(text);
  return 1;
}

int CMailSender::GetEmailId(std::string& out) const {
  out = store_.settings_.emailId;
  return 1;
}

void CMailSender::SendMail(std::string_view subject, std::string_view body, SmtpClient::Done done) {
  const MailSettings& s = store_.settings_;
  if (s.receiptors.empty() || s.smtpServer.empty()) {
    done(plat::success());
    return;
  }
  if (!client_) {
    done(plat::Error{EIO, "Unknown Error"});
    return;
  }
  client_->send(MailJob{s.smtpServer, s.emailId, s.receiptors, family_, std::string(subject), std::string(body)},
                std::move(done));
}

int CMailSender::ParseMailAddress(std::string& text) {
  text = std::string(trim(text));
  const std::string_view all = text;
  if (hasLineBreak(all)) return 0;
  const std::size_t open = all.find('<');
  if (open == std::string_view::npos) return 0;
  const std::size_t close = all.find('>', open + 1);
  if (close == std::string_view::npos || close == open + 1) return 0;
  const std::string_view address = trim(all.substr(open + 1, close - open - 1));
  if (address.empty() || address.front() == '@' || address.front() == '.' || address.find('@') == address.npos ||
      address.find('.') == address.npos)
    return 0;
  std::string_view name = trimRight(all.substr(0, open));
  const std::size_t q1 = name.find('"');
  if (q1 != std::string_view::npos) {
    const std::size_t q2 = name.find('"', q1 + 1);
    if (q2 == std::string_view::npos) return 0;
    name = name.substr(q1 + 1, q2 - q1 - 1);
  }
  std::string normalised = "\"" + std::string(name) + "\" <" + std::string(address) + ">";
  text = std::move(normalised);
  return 1;
}

}  // namespace kelm::events
