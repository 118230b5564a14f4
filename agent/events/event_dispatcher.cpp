#include "agent/events/event_dispatcher.h"

#include "agent/events/event_words.h"
#include "agent/events/notice_list.h"
#include "platform/base/format.h"
#include "platform/base/paths.h"
#include "platform/kernel/module_path.h"
#include "platform/registry/registry.h"

namespace kelm::events {
namespace {

constexpr std::string_view kNtEventLogKey = "NTEventLog";

}  // namespace

EventDispatcher::EventDispatcher(const plat::reg::Profile& profile, plat::EventLoop* loop, const plat::Clock& clock,
                                 Options options)
    : profile_(profile),
      clock_(clock),
      logRoot_(options.logRoot.empty() ? plat::paths::logDir() : options.logRoot),
      protection_(profile, clock),
      mail_(profile),
      syslog_(std::string(kEventSourceName), plat::service::kFacilityDaemon, clock),
      log_(std::move(options.log)) {
  if (loop) smtp_ = std::make_unique<SmtpClient>(*loop, clock, options.smtp);
}

EventDispatcher::~EventDispatcher() = default;

std::filesystem::path EventDispatcher::logFileOf(std::string_view folderFullPath) const {
  return eventLogPath(logRoot_, folderFullPath);
}

CEventEntry EventDispatcher::makeEntry(std::string_view record, std::string_view folderFullPath) const {
  CEventEntry e;
  e.folderPath = std::string(folderFullPath);
  e.record = std::string(record);
  e.file = logFileOf(folderFullPath);
  if (auto parsed = parseEventRecord(record)) {
    e.event = std::move(*parsed);
    e.hasRecord = true;
  }
  return e;
}

void EventDispatcher::DispatchEvent(std::string_view record, std::string_view folderFullPath,
                                    std::string_view familyFlag) {
  CEventEntry entry = makeEntry(record, folderFullPath);
  if (!entry.hasRecord) return;
  const EventRecord& ev = entry.event;

  entry.pass = protection_.CheckEmailProtection(ev.code, ev.text) != 0;
  if (entry.pass && noticeListContains(profile_.getString(kLogEventSection, kEmailNoticeKey), ev.code)) {
    CMailSender sender(mail_, smtp_.get());
    if (sender.emailEnabled()) {
      sender.setFamilyWord(familyWord(familyFlag));
      const std::string subject = std::string(severityWord(ev.severity)) + "-" + ev.title;
      const std::string body = FormatEventTime(ev.time) + " " + ev.text;
      // The client is a member, so no outcome arrives after the dispatcher has gone.
      sender.SendMail(subject, body, [this, folder = entry.folderPath](plat::Result<void> sent) {
        if (!sent) mailFailed(folder, sent.message());
      });
    }
  }

  if (entry.pass && notify_ && noticeListContains(profile_.getString(kLogEventSection, kReportNoticeKey), ev.code))
    notify_(kForwardedEventCode, entry.folderPath + "@" + formatEventRecord(ev));

  WriteEventLogFile(entry);
}

void EventDispatcher::mailFailed(const std::string& folderPath, const std::string& error) {
  CEventEntry entry;
  entry.folderPath = folderPath;
  entry.file = logFileOf(folderPath);
  entry.hasRecord = true;
  entry.event = EventRecord{kMailErrorCode, static_cast<std::int32_t>(clock_.wallSeconds()), 1,
                            std::string(kMailErrorTitle), error + "."};  // string 1199 "%s."
  entry.record = formatEventRecord(entry.event);
  WriteEventLogFile(entry);
}

int EventDispatcher::WriteEventLogFile(const CEventEntry& entry) {
  EventLogFile file(entry.file, clock_);
  const auto appended = file.append(entry.event);
  if (!appended && log_)
    log_("event " + std::to_string(entry.event.code) + " was not written to its log file: " + appended.message());
  WriteNtEventLog(eventMessageId(entry.event.code), entry.event.severity, {entry.event.text});
  return appended.ok() ? 1 : 0;
}

void EventDispatcher::WriteNtEventLog(std::uint32_t messageId, std::int32_t severity,
                                      const std::vector<std::string>& strings) {
  if (profile_.getInt(kLogEventSection, kNtEventLogKey, 0) == 0) return;
  std::string text;
  for (const std::string& s : strings) text += s;
  (void)syslog_.send(eventTypeOf(severity), plat::format("%08X", messageId), text);
}

void EventDispatcher::RegisterAgentEventSource() {
  auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, kEventSourceKey);
  if (!key) return;
  const plat::reg::Value values[] = {
      plat::reg::Value::string("EventMessageFile", plat::kernel::modulePath().valueOr({}).string(),
                               plat::reg::Type::ExpandString),
      plat::reg::Value::dword("TypesSupported", 7),
  };
  (void)key->setValues(values);  // best effort: reporting works without the source's description
}

void EventDispatcher::reportServiceStarted() {
  WriteNtEventLog(kServiceStartedId, 3, {std::string(kServiceStartedText)});
}

void EventDispatcher::reportServiceStopped() {
  WriteNtEventLog(kServiceStoppedId, 3, {std::string(kServiceStoppedText)});
}

int EventDispatcher::GetEmailNoticeList(std::string& out) const {
  out = profile_.getString(kLogEventSection, kEmailNoticeKey);
  return 1;
}

int EventDispatcher::GetReportNoticeList(std::string& out) const {
  out = profile_.getString(kLogEventSection, kReportNoticeKey);
  return 1;
}

namespace {

plat::Result<void> storeNoticeList(const plat::reg::Profile& profile, std::string_view key, std::string_view text) {
  if (!parseNoticeList(text)) return plat::Error{EINVAL, "not a notice list"};
  return profile.writeString(kLogEventSection, key, text);
}

}  // namespace

plat::Result<void> EventDispatcher::SetEmailNoticeList(std::string_view text) {
  return storeNoticeList(profile_, kEmailNoticeKey, text);
}

plat::Result<void> EventDispatcher::SetReportNoticeList(std::string_view text) {
  return storeNoticeList(profile_, kReportNoticeKey, text);
}

int EventDispatcher::ClearEventLog(std::string_view folderFullPath) {
  return EventLogFile(logFileOf(folderFullPath), clock_).remove() ? 1 : 0;
}

plat::Result<EventCursor> EventDispatcher::OpenEventCursor(std::string_view folderFullPath, std::int32_t& position,
                                                           std::int32_t& cookie, bool forwards) const {
  return EventCursor::open(logFileOf(folderFullPath), position, cookie, forwards);
}

int EventDispatcher::ReadNextEvent(EventCursor& cursor, std::string& out) {
  EventRecord r;
  if (!cursor.next(r)) return 0;
  out = formatEventRecord(r);
  return 1;
}

void EventDispatcher::CloseEventCursor(EventCursor& cursor, std::int32_t& position, std::int32_t& cookie) {
  cursor.close(position, cookie);
}

}  // namespace kelm::events
