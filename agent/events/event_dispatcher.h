#pragma once
// The one road of every event record in the agent: parse it, decide by e-mail protection and the
// notice lists whether it is mailed and forwarded to the clients, and write it to its folder's log
// file and to the system log. Also the reading cursor of the event viewer, clearing, and the
// notice lists themselves.
//
// Protection holds back only the mail and the forward: every event is logged. Mail goes out through
// the SMTP client without holding the worker; a failed mail is logged afterwards as event 1299 in
// the same folder's file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/events/email_protection.h"
#include "agent/events/event_log_file.h"
#include "agent/events/event_record.h"
#include "agent/events/mail_sender.h"
#include "agent/events/smtp_client.h"
#include "platform/base/clock.h"
#include "platform/loop/event_loop.h"
#include "platform/registry/profile.h"
#include "platform/service/syslog_sender.h"

namespace kelm::events {

inline constexpr std::int32_t kForwardedEventCode = 8195;
inline constexpr std::int32_t kMailErrorCode = 1299;
inline constexpr std::string_view kMailErrorTitle = "EMail Error";  // string 1299
inline constexpr std::string_view kEventSourceName = "Velkari Array Management";
inline constexpr std::string_view kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Velkari Array Management";

// One dispatched record (or the cursor's record buffer).
struct CEventEntry {
  std::string folderPath;  // the source folder's full path: "\" or "\name\name..."
  std::string record;      // as received
  std::filesystem::path file;
  bool hasRecord = false;
  EventRecord event;
  bool pass = true;  // cleared when e-mail protection holds the event back
};

class EventDispatcher {
 public:
  // Sends a notification (code and text) to every connected client.
  using NotifyClients = std::function<void(std::int32_t code, const std::string& text)>;

  struct Options {
    std::filesystem::path logRoot;  // empty: the system's event log directory
    SmtpOptions smtp;
    // Where the dispatcher says what it could not do (an event its log file did not take).
    std::function<void(const std::string& text)> log;
  };

  // Without a loop nothing is mailed (a mail fails at once with event 1299).
  EventDispatcher(const plat::reg::Profile& profile, plat::EventLoop* loop, const plat::Clock& clock, Options options);
  EventDispatcher(const plat::reg::Profile& profile, plat::EventLoop* loop,
                  const plat::Clock& clock = plat::systemClock())
      : EventDispatcher(profile, loop, clock, Options{}) {}
  ~EventDispatcher();
  EventDispatcher(const EventDispatcher&) = delete;
  EventDispatcher& operator=(const EventDispatcher&) = delete;

  void setNotifier(NotifyClients notify) { notify_ = std::move(notify); }

  // The whole road of one record from a folder; familyFlag is "yes", "Maybe" or another word.
  void DispatchEvent(std::string_view record, std::string_view folderFullPath, std::string_view familyFlag);

  int GetEmailNoticeList(std::string& out) const;
  int GetReportNoticeList(std::string& out) const;
  // Stores a list that parses: EINVAL (nothing stored) for one that does not, else what kept it
  // from being stored.
  plat::Result<void> SetEmailNoticeList(std::string_view text);
  plat::Result<void> SetReportNoticeList(std::string_view text);

  // Non-zero when the folder's log file was deleted.
  int ClearEventLog(std::string_view folderFullPath);

  // The event viewer's paging (position and cookie travel to the client and back).
  plat::Result<EventCursor> OpenEventCursor(std::string_view folderFullPath, std::int32_t& position,
                                            std::int32_t& cookie, bool forwards) const;
  static int ReadNextEvent(EventCursor& cursor, std::string& out);
  static void CloseEventCursor(EventCursor& cursor, std::int32_t& position, std::int32_t& cookie);

  // Appends the entry to its folder's file, then reports it to the system log; 1 when appended.
  int WriteEventLogFile(const CEventEntry& entry);
  void RegisterAgentEventSource();
  // One system log record when "LogEvent"/"NTEventLog" is non-zero.
  void WriteNtEventLog(std::uint32_t messageId, std::int32_t severity, const std::vector<std::string>& strings);
  void reportServiceStarted();
  void reportServiceStopped();

  // The log file of a folder.
  std::filesystem::path logFileOf(std::string_view folderFullPath) const;

  EmailProtection& protection() { return protection_; }
  MailSettingsStore& mailSettings() { return mail_; }
  SmtpClient* smtpClient() { return smtp_.get(); }

 private:
  CEventEntry makeEntry(std::string_view record, std::string_view folderFullPath) const;
  void mailFailed(const std::string& folderPath, const std::string& error);

  const plat::reg::Profile& profile_;
  const plat::Clock& clock_;
  std::filesystem::path logRoot_;
  EmailProtection protection_;
  MailSettingsStore mail_;
  plat::service::SyslogSender syslog_;
  NotifyClients notify_;
  std::function<void(const std::string& text)> log_;
  std::unique_ptr<SmtpClient> smtp_;  // last: it goes first, so no mail outcome arrives afterwards
};

}  // namespace kelm::events
