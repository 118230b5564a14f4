#pragma once
// The event log: RFC 5424 records sent as datagrams to the local syslog socket (/dev/log, or
// the socket named by KELM_SYSLOG_SOCKET). Sending never blocks: a record the daemon cannot take
// at once is dropped and reported as not sent.
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/base/clock.h"
#include "platform/base/result.h"
#include "platform/base/unique_fd.h"

namespace plat::service {

// The kinds of event a program reports, from the most to the least severe.
enum class EventType { Error, Warning, Information, AuditSuccess, AuditFailure };

// The RFC 5424 severity of an event type (3 error, 4 warning, 5 notice, 6 informational).
int severityOf(EventType type);

constexpr int kFacilityDaemon = 3;
constexpr std::size_t kMaxRecordSize = 8192;

class SyslogSender {
 public:
  // ident is the APP-NAME of every record (at most 48 printable characters are kept).
  explicit SyslogSender(std::string ident, int facility = kFacilityDaemon, const Clock& clock = systemClock());
  ~SyslogSender();
  SyslogSender(const SyslogSender&) = delete;
  SyslogSender& operator=(const SyslogSender&) = delete;

  // Sends one record; msgId may be empty. An error when the socket did not take it.
  Result<void> send(EventType type, std::string_view msgId, std::string_view message);

  // The record as it goes on the wire.
  std::string format(EventType type, std::string_view msgId, std::string_view message) const;

 private:
  Result<void> connectLocked();
  std::string ident_;
  int facility_;
  const Clock& clock_;
  std::mutex m_;
  UniqueFd fd_;
};

}  // namespace plat::service
