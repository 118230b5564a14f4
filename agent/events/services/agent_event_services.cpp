#include "agent/events/services/agent_event_services.h"

#include <cerrno>

#include "agent/core/agent_names.h"
#include "agent/core/halvorn_doc.h"
#include "agent/core/virtual_folder.h"
#include "agent/events/notice_list.h"

namespace kelm::events {
namespace {

class FileCursor final : public agent::IEventCursor {
 public:
  explicit FileCursor(EventCursor cursor) : cursor_(std::move(cursor)) {}
  bool ReadNextEvent(std::string& record) override { return EventDispatcher::ReadNextEvent(cursor_, record) == 1; }
  void CloseEventCursor(std::int32_t& position, std::int32_t& cookie) override {
    EventDispatcher::CloseEventCursor(cursor_, position, cookie);
  }

 private:
  EventCursor cursor_;
};

}  // namespace

namespace {

EventDispatcher::Options loggingTo(agent::CHalvornDoc& doc, EventDispatcher::Options options) {
  if (!options.log) options.log = [&doc](const std::string& text) { doc.Log(text); };
  return options;
}

}  // namespace

CAgentEventServices::CAgentEventServices(agent::CHalvornDoc& doc, EventDispatcher::Options options)
    : doc_(doc),
      profile_(agent::AgentProfile()),
      dispatcher_(profile_, &doc.Loop(), doc.Clock(), loggingTo(doc, std::move(options))),
      schedule_(doc.Clock()) {
  dispatcher_.setNotifier([this](std::int32_t code, const std::string& text) { doc_.NotifyClients(code, text); });
}

void CAgentEventServices::ReportServiceStart() {
  dispatcher_.RegisterAgentEventSource();
  dispatcher_.reportServiceStarted();
}

void CAgentEventServices::DispatchEvent(const std::string& record, agent::CVirtualFolder& folder,
                                        const std::string& familyWord) {
  dispatcher_.DispatchEvent(record, folder.FullPath(), familyWord);
}

std::unique_ptr<agent::IEventCursor> CAgentEventServices::OpenEventCursor(agent::CVirtualFolder& folder,
                                                                          std::int32_t position, std::int32_t cookie,
                                                                          bool countIsNegative) {
  auto cursor = dispatcher_.OpenEventCursor(folder.FullPath(), position, cookie, countIsNegative);
  if (!cursor) {
    // No log yet, or a client's page of a log started again since, is an ordinary answer; a log
    // that cannot be read is said, not shown as empty without a word.
    if (cursor.code() != ENOENT && cursor.code() != ESTALE) doc_.Log("events cannot be read: " + cursor.message());
    return nullptr;
  }
  return std::make_unique<FileCursor>(std::move(*cursor));
}

void CAgentEventServices::ClearEventLog(agent::CVirtualFolder& folder) { dispatcher_.ClearEventLog(folder.FullPath()); }

std::optional<std::string> CAgentEventServices::GetNoticeList(agent::NoticeList which) {
  std::string text;
  if (which == agent::NoticeList::kEmail)
    dispatcher_.GetEmailNoticeList(text);
  else
    dispatcher_.GetReportNoticeList(text);
  if (text.empty()) return std::nullopt;
  return text;
}

plat::Result<void> CAgentEventServices::SetNoticeList(agent::NoticeList which, const std::string& text) {
  return which == agent::NoticeList::kEmail ? dispatcher_.SetEmailNoticeList(text)
                                            : dispatcher_.SetReportNoticeList(text);
}

agent::MailSettings CAgentEventServices::GetMailSettings() {
  CMailSender use = mailUse();
  agent::MailSettings out;
  out.enabled = use.emailEnabled();
  use.GetSmtpServer(out.smtpServer);
  use.GetEmailId(out.emailId);
  use.GetReceiptorList(out.receiptorList);
  return out;
}

plat::Result<void> CAgentEventServices::SetMailEnable(bool on) {
  CMailSender use = mailUse();
  use.setEmailEnabled(on);
  return use.Save();
}

plat::Result<void> CAgentEventServices::SetSmtpServer(const std::string& server) {
  CMailSender use = mailUse();
  if (use.SetSmtpServer(server) != 1) return plat::Error{EINVAL, "not a server name"};
  return use.Save();
}

plat::Result<void> CAgentEventServices::SetEmailId(const std::string& sender) {
  CMailSender use = mailUse();
  if (use.SetEmailId(sender) != 1) return plat::Error{EINVAL, "not a mail address"};
  return use.Save();
}

bool CAgentEventServices::ParseMailAddress(const std::string& text, std::string* normalised) {
  std::string t = text;
  const bool ok = CMailSender::ParseMailAddress(t) == 1;
  if (normalised) *normalised = t;
  return ok;
}

plat::Result<void> CAgentEventServices::AddReceiptor(const std::string& address) {
  CMailSender use = mailUse();
  if (use.AddReceiptor(address) != 1) return plat::Error{EEXIST, "already listed"};
  return use.Save();
}

plat::Result<void> CAgentEventServices::DelReceiptor(const std::string& address) {
  CMailSender use = mailUse();
  if (use.DelReceiptor(address) != 1) return plat::Error{ENOENT, "not listed"};
  return use.Save();
}

}  // namespace kelm::events
