#pragma once
// The seam between the agent's folders and its event services (dispatcher and event log files,
// mail settings and protection, the verify schedule). The document owns one IAgentEvents; the
// folders call it when a component's records are read, when a console pages or clears events,
// and for the settings of the root folder. CBasicAgentEvents is the plain implementation the
// agent runs with until a fuller one is given to the document.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/result.h"

namespace kelm::agent {

class CHalvornDoc;
class CVirtualFolder;

// A page of stored event records of one folder.
class IEventCursor {
 public:
  virtual ~IEventCursor() = default;
  // The next record text; false when there is none.
  virtual bool ReadNextEvent(std::string& record) = 0;
  // Where the next page starts.
  virtual void CloseEventCursor(std::int32_t& position, std::int32_t& cookie) = 0;
};

enum class NoticeList { kEmail, kReport };

struct MailSettings {
  bool enabled = false;
  std::string smtpServer;
  std::string emailId;
  std::string receiptorList;  // the recipients joined by ","
};

class IAgentEvents {
 public:
  virtual ~IAgentEvents() = default;

  // The agent started listening / is stopping (the system log's start and stop records).
  virtual void ReportServiceStart() {}
  virtual void ReportServiceStop() {}
  // Every second, first thing in the document's tick (the verify schedule's tick).
  virtual void Tick() {}
  // True while the verify schedule is due (one tick).
  virtual bool ScheduleIsDue() const { return false; }

  // One event record "%d@%d@%d@%s@%s" read from a component folder, with the folder's family word.
  virtual void DispatchEvent(const std::string& record, CVirtualFolder& folder, const std::string& familyWord) = 0;
  // A page of the folder's stored records; null when there is nothing to read.
  virtual std::unique_ptr<IEventCursor> OpenEventCursor(CVirtualFolder& folder, std::int32_t position,
                                                        std::int32_t cookie, bool backwards) = 0;
  virtual void ClearEventLog(CVirtualFolder& folder) = 0;

  // Notice lists: the stored text, nothing when there is none. Setting fails with EINVAL for a
  // text that is refused, else with what kept the list from being stored.
  virtual std::optional<std::string> GetNoticeList(NoticeList which) = 0;
  virtual plat::Result<void> SetNoticeList(NoticeList which, const std::string& text) = 0;

  // Mail settings. A change is stored before its setter returns: an error with code EINVAL for a
  // text that is refused, EEXIST / ENOENT for an address already listed / not listed, any other
  // code when the settings could not be stored (the ones stored before stay).
  virtual MailSettings GetMailSettings() = 0;
  virtual plat::Result<void> SetMailEnable(bool on) = 0;
  virtual plat::Result<void> SetSmtpServer(const std::string& server) = 0;
  virtual plat::Result<void> SetEmailId(const std::string& sender) = 0;
  // True for a mail address; `normalised` gets the form that is stored.
  virtual bool ParseMailAddress(const std::string& text, std::string* normalised) = 0;
  virtual plat::Result<void> AddReceiptor(const std::string& address) = 0;
  virtual plat::Result<void> DelReceiptor(const std::string& address) = 0;
  // The protection state goes back to nothing remembered (after its settings changed).
  virtual void ResetProtection() = 0;

  // The verify schedule's text form; false when the text is refused.
  virtual bool ParseSchedule(const std::string& text) = 0;
  virtual std::string FormatSchedule() = 0;
};

// Keeps the notice lists in the profile and the mail settings in memory, mails nothing, and
// forwards a record as 8195 to every client when its code is in the report list.
class CBasicAgentEvents final : public IAgentEvents {
 public:
  explicit CBasicAgentEvents(CHalvornDoc& doc) : doc_(doc) {}
  void DispatchEvent(const std::string& record, CVirtualFolder& folder, const std::string& familyWord) override;
  std::unique_ptr<IEventCursor> OpenEventCursor(CVirtualFolder&, std::int32_t, std::int32_t, bool) override {
    return nullptr;
  }
  void ClearEventLog(CVirtualFolder&) override {}
  std::optional<std::string> GetNoticeList(NoticeList which) override;
  plat::Result<void> SetNoticeList(NoticeList which, const std::string& text) override;
  MailSettings GetMailSettings() override { return mail_; }
  plat::Result<void> SetMailEnable(bool on) override {
    mail_.enabled = on;
    return plat::success();
  }
  plat::Result<void> SetSmtpServer(const std::string& server) override;
  plat::Result<void> SetEmailId(const std::string& sender) override {
    mail_.emailId = sender;
    return plat::success();
  }
  bool ParseMailAddress(const std::string& text, std::string* normalised) override;
  plat::Result<void> AddReceiptor(const std::string& address) override;
  plat::Result<void> DelReceiptor(const std::string& address) override;
  void ResetProtection() override {}
  bool ParseSchedule(const std::string& text) override;
  std::string FormatSchedule() override { return schedule_; }

 private:
  CHalvornDoc& doc_;
  MailSettings mail_;
  std::string schedule_;
};

// Whether a notice list text ("count@code@code...") names the code, whole items only.
bool NoticeListHas(const std::string& list, std::int32_t code);

}  // namespace kelm::agent
