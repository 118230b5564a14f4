#include "agent/events/smtp_client.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <ctime>
#include <mutex>

#include "platform/base/format.h"

namespace kelm::events {
namespace {

constexpr std::size_t kMaxReplyLine = 4096;
constexpr std::size_t kMaxReplyLines = 100;

plat::Error mailError(std::string text) { return plat::Error{EIO, std::move(text)}; }

// "host" or "host:port"; nothing when the port is not a number from 1 to 65535.
std::optional<std::pair<std::string, std::uint16_t>> splitServer(std::string_view server, std::uint16_t port) {
  const std::size_t colon = server.rfind(':');
  if (colon == std::string_view::npos) return std::make_pair(std::string(server), port);
  const std::string_view digits = server.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return std::make_pair(std::string(server.substr(0, colon)), static_cast<std::uint16_t>(value));
}

// A header value stays on its line.
std::string oneLine(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\0') continue;
    out.push_back(c == '\r' || c == '\n' ? ' ' : c);
  }
  return out;
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& s : items) {
    if (!out.empty()) out += separator;
    out += s;
  }
  return out;
}

}  // namespace

bool hasLineBreak(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos; }

namespace {

struct AddrInfoFree {
  void operator()(addrinfo* a) const {
    if (a) ::freeaddrinfo(a);
  }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoFree>;

// A look-up the C library is still doing after its caller gave up: it writes into this when done.
struct PendingLookUp {
  gaicb cb{};
  addrinfo hints{};
  std::string name;
};

// Look-ups given up on, kept until the C library is done with them and freed by a later call.
std::mutex& abandonedMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::vector<std::unique_ptr<PendingLookUp>>& abandoned() {
  static auto* v = new std::vector<std::unique_ptr<PendingLookUp>>;
  return *v;
}

// getaddrinfo that gives up after `within`: a name server that never answers must hold neither the
// helper thread nor the agent's stop.
AddrInfoPtr lookUpWithin(const std::string& name, int flags, std::chrono::milliseconds within) {
  {
    std::lock_guard<std::mutex> lock(abandonedMutex());
    auto& list = abandoned();
    for (auto it = list.begin(); it != list.end();) {
      if (::gai_error(&(*it)->cb) == EAI_INPROGRESS) {
        ++it;
        continue;
      }
      if ((*it)->cb.ar_result) ::freeaddrinfo((*it)->cb.ar_result);
      it = list.erase(it);
    }
    if (list.size() >= 16) return nullptr;  // the resolver is stuck: no more threads for it
  }
  auto r = std::make_unique<PendingLookUp>();
  r->name = name;
  r->hints.ai_family = AF_INET;
  r->hints.ai_socktype = SOCK_STREAM;
  r->hints.ai_flags = flags;
  r->cb.ar_name = r->name.c_str();
  r->cb.ar_request = &r->hints;
  gaicb* list[1] = {&r->cb};
  if (::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) return nullptr;
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (::gai_error(&r->cb) == EAI_INPROGRESS) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds(0)) break;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    const gaicb* wait[1] = {&r->cb};
    ::gai_suspend(wait, 1, &ts);
  }
  const int err = ::gai_error(&r->cb);
  if (err == EAI_INPROGRESS && ::gai_cancel(&r->cb) != EAI_CANCELED) {
    std::lock_guard<std::mutex> lock(abandonedMutex());
    abandoned().push_back(std::move(r));
    return nullptr;
  }
  AddrInfoPtr out(r->cb.ar_result);
  return err == 0 ? std::move(out) : nullptr;
}

std::optional<std::string> lookUpServer(const std::string& host, std::chrono::milliseconds within) {
  if (host.empty() || host.size() > 253) return std::nullopt;
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) return host;
  AddrInfoPtr res = lookUpWithin(host, 0, within);
  if (!res || !res->ai_addr) return std::nullopt;
  char text[INET_ADDRSTRLEN] = {};
  const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
  if (!::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) return std::nullopt;
  return std::string(text);
}

}  // namespace

HostIdentity lookUpHostIdentity(std::chrono::milliseconds within) {
  HostIdentity me;
  char buf[513] = {};
  if (::gethostname(buf, sizeof buf - 1) == 0) me.hostName = buf;
  utsname u{};
  if (::uname(&u) == 0) me.computerName = u.nodename;
  if (me.hostName.empty()) me.hostName = me.computerName.empty() ? "UnknownHostName" : me.computerName;
  if (AddrInfoPtr res = lookUpWithin(me.hostName, AI_CANONNAME, within)) {
    char dotted[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    if (sin && ::inet_ntop(AF_INET, &sin->sin_addr, dotted, sizeof dotted)) me.address = dotted;
    if (res->ai_canonname && *res->ai_canonname) me.hostName = res->ai_canonname;
  }
  return me;
}

std::string addressPart(std::string_view text) {
  const std::size_t open = text.find('<');
  if (open == std::string_view::npos) return {};
  const std::size_t close = text.find('>', open + 1);
  if (close == std::string_view::npos) return {};
  return std::string(text.substr(open + 1, close - open - 1));
}

std::string dotStuff(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\0') continue;
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out.push_back('.');
    out.push_back(c);
    lineStart = false;
  }
  return out;
}

std::string mailDate(std::int64_t time) {
  const auto t = static_cast<std::time_t>(time);
  std::tm tm{};
  char buf[64] = {};
  if (::localtime_r(&t, &tm) == nullptr || std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm) == 0) return {};
  return buf;
}

struct SmtpClient::Exchange {
  enum class Step { Resolve, Connect, Greeting, Helo, MailFrom, Rcpt, Data, Body, Quit };
  Step step = Step::Resolve;
  std::size_t rcpt = 0;
  int expect = 0;
  std::unique_ptr<plat::TcpStream> stream;
  plat::Timer timer;
  std::string partial;             // a reply line not yet ended
  std::vector<std::string> lines;  // the lines of the reply so far
  std::string lastReply = "Unknown Error";
};

SmtpClient::SmtpClient(plat::EventLoop& loop, const plat::Clock& clock, SmtpOptions options)
    : loop_(loop), clock_(clock), options_(options), resolver_(std::make_unique<plat::BlockingWorker>(loop)) {}

SmtpClient::~SmtpClient() {
  current_.reset();
  resolver_.reset();
  abandoned_.clear();  // each ends within the look-up's own time-out
}

bool SmtpClient::connected() const { return current_ && current_->stream && current_->stream->isConnected(); }

std::string SmtpClient::composeData(const MailJob& job, const HostIdentity& me) const {
  const std::string& fam = job.familyWord;
  std::string out;
  if (job.sender.empty())
    out += "From: \"" + fam + " at IP" + me.address + "\"<" + fam + "@" + me.hostName + ">\r\n";
  else
    out += "From: " + job.sender + "\r\n";
  out += "To: " + joined(job.recipients, ",") + "\r\n";
  out += "Subject: " + oneLine(job.subject) + "\r\n";
  out += "Date: " + mailDate(clock_.wallSeconds()) + "\r\n";
  out += "\r\n";
  out += plat::format("Message from %s at %s (%s), IP=<%s>\r\n", fam.c_str(), me.computerName.c_str(),
                      me.hostName.c_str(), me.address.c_str());
  out += dotStuff(job.body);
  out += "\r\n";
  return out;
}

void SmtpClient::send(MailJob job, Done done) {
  if (job.recipients.empty() || job.server.empty()) {
    done(plat::success());
    return;
  }
  bool clean = !hasLineBreak(job.server) && !hasLineBreak(job.sender);
  for (const std::string& r : job.recipients) clean = clean && !hasLineBreak(r);
  if (!clean) {
    done(mailError("A mail setting holds a line break"));
    return;
  }
  if (queue_.size() >= options_.maxQueued) {
    done(mailError("Too many mails are waiting to be sent"));
    return;
  }
  queue_.push_back(Item{std::move(job), std::move(done)});
  if (!current_) startNext();
}

void SmtpClient::startNext() {
  if (current_ || queue_.empty()) return;
  current_ = std::make_unique<Exchange>();
  const MailJob& job = queue_.front().job;
  const auto target = splitServer(job.server, options_.defaultPort);
  if (!target) {
    finish(mailError("Cannot Connect to " + job.server));
    return;
  }
  in_addr dotted{};
  if (identity_ && ::inet_pton(AF_INET, target->first.c_str(), &dotted) == 1) {
    resolved(target->first, target->second, std::nullopt);
    return;
  }
  // Name look-ups block, so they run on the helper thread.
  struct Found {
    std::optional<std::string> address;
    std::optional<HostIdentity> identity;
  };
  const bool needIdentity = !identity_;
  const std::string host = target->first;
  const std::uint16_t port = target->second;
  const std::uint64_t serial = ++lookUps_;
  // Helpers whose stuck look-up has ended since are let go.
  std::erase_if(abandoned_, [](const auto& w) { return w->pending() == 0; });
  // The look-up has its time-out like every other step. A helper stuck in it is set aside, so the
  // mails after this one get a helper of their own.
  current_->timer = loop_.singleShot(options_.connectTimeout, [this, serial, server = job.server] {
    if (serial != lookUps_) return;
    ++lookUps_;
    abandoned_.push_back(std::move(resolver_));
    resolver_ = std::make_unique<plat::BlockingWorker>(loop_);
    finish(mailError("Cannot Connect to " + server));
  });
  auto lookUp = options_.lookUp;
  const auto within = options_.connectTimeout;
  resolver_->run<Found>(
      [host, needIdentity, lookUp, within] {
        Found f;
        f.address = lookUp ? lookUp(host) : lookUpServer(host, within);
        if (needIdentity) f.identity = lookUpHostIdentity(within);
        return f;
      },
      [this, port, serial](Found f) {
        if (serial != lookUps_) {  // timed out meanwhile: only who this host is is kept
          if (f.identity && !identity_) identity_ = std::move(f.identity);
          return;
        }
        ++lookUps_;
        resolved(std::move(f.address), port, std::move(f.identity));
      });
}

void SmtpClient::resolved(std::optional<std::string> address, std::uint16_t port,
                          std::optional<HostIdentity> identity) {
  if (identity && !identity_) identity_ = std::move(identity);
  if (!current_) return;
  current_->timer.stop();
  const std::string server = queue_.front().job.server;
  if (!address) {
    finish(mailError("Cannot Connect to " + server));
    return;
  }
  current_->step = Exchange::Step::Connect;
  auto stream = plat::TcpStream::connect(loop_, *address, port, options_.connectTimeout);
  if (!stream) {
    // Known at once (refused on this host): reported from the loop like a refusal that comes later,
    // so that whoever sent the mail has finished its own work first.
    current_->timer = loop_.singleShot(std::chrono::milliseconds(0),
                                       [this, server] { finish(mailError("Cannot Connect to " + server)); });
    return;
  }
  current_->stream = std::move(*stream);
  current_->stream->onConnected([this] {
    current_->step = Exchange::Step::Greeting;
    armTimer();
  });
  current_->stream->onData([this](std::string_view bytes) { onData(bytes); });
  current_->stream->onClosed([this, server](const std::string&) {
    if (current_->step == Exchange::Step::Connect)
      finish(mailError("Cannot Connect to " + server));
    else
      finish(mailError("The connection to " + server + " was closed: " + current_->lastReply));
  });
}

void SmtpClient::armTimer() {
  const std::string server = queue_.front().job.server;
  current_->timer = loop_.singleShot(options_.replyTimeout, [this, server] {
    finish(mailError("Time Out waiting for " + server + ": " + current_->lastReply));
  });
}

void SmtpClient::onData(std::string_view bytes) {
  Exchange* ex = current_.get();
  ex->partial.append(bytes);
  std::size_t start = 0;
  for (;;) {
    const std::size_t eol = ex->partial.find('\n', start);
    if (eol == std::string::npos) break;
    std::string line = ex->partial.substr(start, eol - start);
    start = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ex->lines.push_back(oneLine(line));
    const bool digits = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                        std::isdigit(static_cast<unsigned char>(line[1])) &&
                        std::isdigit(static_cast<unsigned char>(line[2]));
    if (digits && line.size() > 3 && line[3] == '-') {
      if (ex->lines.size() > kMaxReplyLines) {
        finish(mailError("The SMTP server's reply is too long"));
        return;
      }
      continue;
    }
    const int code = digits ? std::stoi(line.substr(0, 3)) : 0;
    std::string text = joined(ex->lines, " ");
    ex->lines.clear();
    onReply(code, text);
    if (current_.get() != ex) return;  // the exchange ended
  }
  ex->partial.erase(0, start);
  if (ex->partial.size() > kMaxReplyLine) finish(mailError("The SMTP server's reply is too long"));
}

void SmtpClient::sendLine(const std::string& line, int expect) {
  current_->expect = expect;
  if (!current_->stream->write(line + "\r\n")) {
    finish(mailError("The connection to " + queue_.front().job.server + " was closed: " + current_->lastReply));
    return;
  }
  armTimer();
}

void SmtpClient::onReply(int code, const std::string& text) {
  Exchange& ex = *current_;
  ex.lastReply = text;
  ex.timer.stop();
  const MailJob& job = queue_.front().job;
  using Step = Exchange::Step;
  if (ex.step != Step::Greeting && code != ex.expect && !(ex.step == Step::Rcpt && code == 251)) {
    finish(mailError(text));
    return;
  }
  switch (ex.step) {
    case Step::Greeting:
      ex.step = Step::Helo;
      sendLine("HELO " + identity_->hostName, 250);
      return;
    case Step::Helo: {
      const std::string from = addressPart(job.sender);
      ex.step = Step::MailFrom;
      sendLine("MAIL FROM:<" + (from.empty() ? job.familyWord + "@" + identity_->hostName : from) + ">", 250);
      return;
    }
    case Step::MailFrom:
    case Step::Rcpt:
      if (ex.step == Step::Rcpt) ++ex.rcpt;
      if (ex.rcpt < job.recipients.size()) {
        ex.step = Step::Rcpt;
        sendLine("RCPT TO:<" + addressPart(job.recipients[ex.rcpt]) + ">", 250);
      } else {
        ex.step = Step::Data;
        sendLine("DATA", 354);
      }
      return;
    case Step::Data:
      ex.step = Step::Body;
      sendLine(composeData(job, *identity_) + ".", 250);
      return;
    case Step::Body:
      ex.step = Step::Quit;
      sendLine("QUIT", 221);
      return;
    case Step::Quit:
      finish(plat::success());
      return;
    case Step::Resolve:
    case Step::Connect:
      return;
  }
}

void SmtpClient::finish(plat::Result<void> outcome) {
  if (current_ && current_->stream) current_->stream->close();
  current_.reset();
  if (queue_.empty()) return;
  Done done = std::move(queue_.front().done);
  queue_.pop_front();
  plat::LifeGuard::Scope alive(guard_);
  done(std::move(outcome));
  if (alive) startNext();
}

}  // namespace kelm::events
