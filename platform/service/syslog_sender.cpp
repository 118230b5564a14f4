#include "platform/service/syslog_sender.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/base/text.h"
#include "platform/base/unix_address.h"

namespace plat::service {
namespace {

// Header fields are printable US-ASCII without blanks; empty is "-".
std::string headerField(std::string_view s, std::size_t max) {
  std::string out;
  for (char c : s) {
    if (out.size() >= max) break;
    out.push_back(c > 32 && c < 127 ? c : '_');
  }
  return out.empty() ? std::string("-") : out;
}

std::string hostName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "-";
  return headerField(buf, 255);
}

// Control characters would split the record in line-based logs; a cut never splits a character.
std::string messageText(std::string_view in, std::size_t room) {
  std::string s = sanitizeUtf8(in);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  if (s.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    s.resize(cut);
  }
  return s;
}

}  // namespace

int severityOf(EventType type) {
  switch (type) {
    case EventType::Error:
      return 3;
    case EventType::Warning:
      return 4;
    case EventType::AuditFailure:
      return 4;
    case EventType::AuditSuccess:
      return 5;
    case EventType::Information:
      return 6;
  }
  return 6;
}

SyslogSender::SyslogSender(std::string ident, int facility, const Clock& clock)
    : ident_(headerField(ident, 48)),
      facility_(facility >= 0 && facility < 24 ? facility : kFacilityDaemon),
      clock_(clock) {}

SyslogSender::~SyslogSender() = default;

std::string SyslogSender::format(EventType type, std::string_view msgId, std::string_view message) const {
  std::time_t t = static_cast<std::time_t>(clock_.wallSeconds());
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char stamp[32];
  if (std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) std::strcpy(stamp, "-");
  std::string head = "<" + std::to_string(facility_ * 8 + severityOf(type)) + ">1 " + stamp + " " + hostName() + " " +
                     ident_ + " " + std::to_string(::getpid()) + " " + headerField(msgId, 32) + " - ";
  return head + messageText(message, kMaxRecordSize - head.size());
}

Result<void> SyslogSender::connectLocked() {
  if (fd_) return success();
  const char* env = std::getenv("KELM_SYSLOG_SOCKET");
  auto addr = unixAddress(env && *env ? env : "/dev/log");
  if (!addr) return addr.error();
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return errnoError("socket");
  if (::connect(fd.get(), addr->get(), addr->length) != 0) return errnoError("connect to the system log");
  fd_ = std::move(fd);
  return success();
}

Result<void> SyslogSender::send(EventType type, std::string_view msgId, std::string_view message) {
  std::string record = format(type, msgId, message);
  std::lock_guard<std::mutex> lock(m_);
  // One retry on a fresh connection: the syslog daemon may have been restarted since.
  Error last;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (auto connected = connectLocked(); !connected) return connected;
    ssize_t n;
    do {
      n = ::send(fd_.get(), record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(record.size())) return success();
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
      return errnoError("the system log takes no more now");
    }
    last = errnoError("send to the system log", n < 0 ? errno : EMSGSIZE);
    fd_.reset();
  }
  return last;
}

}  // namespace plat::service
