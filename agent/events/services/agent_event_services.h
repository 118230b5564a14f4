#pragma once
// The agent's event services over the document: every record through the dispatcher (log files,
// the system log, mail with protection, forwards as 8195), the event viewer's paging and clearing,
// the notice lists, the mail settings and the verify schedule.
#include <memory>

#include "agent/core/agent_events.h"
#include "agent/events/event_dispatcher.h"
#include "agent/events/verify_schedule.h"
#include "platform/registry/profile.h"

namespace kelm::events {

class CAgentEventServices final : public agent::IAgentEvents {
 public:
  explicit CAgentEventServices(agent::CHalvornDoc& doc, EventDispatcher::Options options = {});

  void ReportServiceStart() override;
  void ReportServiceStop() override { dispatcher_.reportServiceStopped(); }
  void Tick() override { schedule_.Tick(); }
  bool ScheduleIsDue() const override { return schedule_.IsDue(); }

  void DispatchEvent(const std::string& record, agent::CVirtualFolder& folder, const std::string& familyWord) override;
  // countIsNegative is the request's "count below 0", which reads forwards (oldest first); a
  // positive count reads backwards from the newest record.
  std::unique_ptr<agent::IEventCursor> OpenEventCursor(agent::CVirtualFolder& folder, std::int32_t position,
                                                       std::int32_t cookie, bool countIsNegative) override;
  void ClearEventLog(agent::CVirtualFolder& folder) override;

  std::optional<std::string> GetNoticeList(agent::NoticeList which) override;
  plat::Result<void> SetNoticeList(agent::NoticeList which, const std::string& text) override;

  agent::MailSettings GetMailSettings() override;
  plat::Result<void> SetMailEnable(bool on) override;
  plat::Result<void> SetSmtpServer(const std::string& server) override;
  plat::Result<void> SetEmailId(const std::string& sender) override;
  bool ParseMailAddress(const std::string& text, std::string* normalised) override;
  plat::Result<void> AddReceiptor(const std::string& address) override;
  plat::Result<void> DelReceiptor(const std::string& address) override;
  void ResetProtection() override { dispatcher_.protection().reset(); }

  bool ParseSchedule(const std::string& text) override { return schedule_.Parse(text) == 1; }
  std::string FormatSchedule() override { return schedule_.Format(); }

  EventDispatcher& dispatcher() { return dispatcher_; }
  CVerifySchedule& schedule() { return schedule_; }

 private:
  // A settings request's own user of the mail settings: loaded at its start, stored at its end.
  CMailSender mailUse() { return CMailSender(dispatcher_.mailSettings(), nullptr); }

  agent::CHalvornDoc& doc_;
  plat::reg::Profile profile_;
  EventDispatcher dispatcher_;
  CVerifySchedule schedule_;
};

}  // namespace kelm::events
