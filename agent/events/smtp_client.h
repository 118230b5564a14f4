#pragma once
// The agent's SMTP client. It never holds the worker's thread: the exchange runs on the worker's
// event loop with non-blocking sockets, name look-ups run on a helper thread, and every step has a
// time-out. Mails wait in a bounded queue and go out one at a time, in order; each one's outcome
// comes back on the loop.
//
// One exchange: greeting, "HELO <host name>", "MAIL FROM:<...>", "RCPT TO:<...>" per recipient,
// "DATA", the header lines and the body (every line dot-stuffed), ".", "QUIT". Replies are read as
// lines, so a multi-line reply counts once, by its last line. Any unexpected reply ends the exchange
// with that reply as the error text.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/clock.h"
#include "platform/base/life_guard.h"
#include "platform/loop/blocking_worker.h"
#include "platform/base/result.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"

namespace kelm::events {

struct MailJob {
  std::string server;  // host name or dotted address, optionally ":port"
  std::string sender;  // the sender setting as stored (may be empty)
  std::vector<std::string> recipients;
  std::string familyWord;  // "Marovelt", "Sorventic", "Palindrex" or "unknown"
  std::string subject;
  std::string body;
};

struct SmtpOptions {
  std::uint16_t defaultPort = 25;
  std::chrono::milliseconds connectTimeout{30000};
  std::chrono::milliseconds replyTimeout{60000};
  std::size_t maxQueued = 64;  // mails waiting or in hand
  // The server's IPv4 address in dotted form, looked up on the helper thread; nothing when it
  // cannot be found. Empty: the system's resolver, given up on after the connect time-out.
  std::function<std::optional<std::string>(const std::string& host)> lookUp;
};

// Who the agent says it is in a mail: computed once (the first mail) and then kept.
struct HostIdentity {
  std::string hostName;      // the resolved official name, or the system's host name
  std::string computerName;  // the system's node name
  std::string address;       // dotted address of the host name, or empty
};
HostIdentity lookUpHostIdentity(std::chrono::milliseconds within = std::chrono::milliseconds(30000));

// True when the text holds CR, LF or NUL, any of which would end an SMTP line early.
bool hasLineBreak(std::string_view text);
// The address between the first '<' and the next '>'; empty when either is missing.
std::string addressPart(std::string_view text);
// Body text as DATA lines: every line break becomes CR LF and a line that starts with '.' gets one
// more; NUL bytes are dropped.
std::string dotStuff(std::string_view text);
// The Date header's value: local time as "Wed Jan 02 02:03:55 1980" (day zero-padded).
std::string mailDate(std::int64_t time);

class SmtpClient {
 public:
  // The outcome of one mail: success, or an error (code EIO) whose message is the text the
  // event log shows.
  using Done = std::function<void(plat::Result<void> outcome)>;

  SmtpClient(plat::EventLoop& loop, const plat::Clock& clock, SmtpOptions options = {});
  ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // Queues one mail; done runs on the loop when it was sent or failed. With no recipients or no
  // server there is nothing to send and done reports success at once; with the queue full it
  // reports the failure at once.
  void send(MailJob job, Done done);
  std::size_t pending() const { return queue_.size(); }
  // True while a mail's connection stands.
  bool connected() const;

  // The lines this client would send as DATA for a job, without the final ".".
  std::string composeData(const MailJob& job, const HostIdentity& me) const;

 private:
  struct Exchange;
  struct Item {
    MailJob job;
    Done done;
  };
  void startNext();
  void resolved(std::optional<std::string> address, std::uint16_t port, std::optional<HostIdentity> identity);
  void onData(std::string_view bytes);
  void onReply(int code, const std::string& text);
  void sendLine(const std::string& line, int expect);
  void armTimer();
  void finish(plat::Result<void> outcome);

  plat::EventLoop& loop_;
  const plat::Clock& clock_;
  SmtpOptions options_;
  std::optional<HostIdentity> identity_;
  std::deque<Item> queue_;
  std::unique_ptr<Exchange> current_;
  std::unique_ptr<plat::BlockingWorker> resolver_;
  // Helpers left stuck in a look-up that timed out, until it ends; and the look-up in hand, so
  // that a late answer is dropped.
  std::vector<std::unique_ptr<plat::BlockingWorker>> abandoned_;
  std::uint64_t lookUps_ = 0;
  plat::LifeGuard guard_;
};

}  // namespace kelm::events
