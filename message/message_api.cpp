#include "message/message_api.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "message/message_codec.h"
#include "message/msg_socket.h"
#include "platform/base/format.h"
#include "platform/base/paths.h"

namespace kelm {
namespace {

constexpr std::uint32_t kConsolePort = 711;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

class CMessageApi::Hold {
 public:
  explicit Hold(CMessageApi& api) : api_(api.RefCount() > 0 ? &api : nullptr) {
    if (api_) api_->AddRef();
  }
  ~Hold() {
    if (api_) api_->Release();
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  // The owner has let go: this hold is the last count.
  bool alone() const { return api_ && api_->RefCount() == 1; }

 private:
  CMessageApi* api_;
};

CMessageApi::CMessageApi(const plat::Clock& clock, plat::EventLoop* loop)
    : clock_(clock), loop_(loop), nextId_(static_cast<std::uint32_t>(clock.wallSeconds())) {
  SetLink(kTargetKey, this);
}

CMessageApi::~CMessageApi() {
  if (channel_) channel_->SendMessage(CMessage(kReqComClose, 0, kStatusNone, ""));
  channel_.reset();
  socket_.reset();
}

bool CMessageApi::HasTransport() const { return (channel_ && channelUp_) || (socket_ && socket_->HasOutputArchive()); }

std::int32_t CMessageApi::Connect(const ConnectParams& params, int mode) {
  if (socket_ || channel_) return plat::KELM_E_ALREADY_OPEN;
  if (mode != 0) {
    std::unique_ptr<MessageChannel> ch = channelFactory_ ? channelFactory_(*this) : nullptr;
    if (!ch) return -1;
    callback_ = params.callback;
    context_ = params.context;
    connFlags_ = params.flags;
    channel_ = std::move(ch);
    channelUp_ = true;
    channel_->SendMessage(CMessage(kReqComOpen, 0, kStatusNone, ""));
    return 0;
  }
  connectError_ = {};
  plat::EventLoop* loop = loop_ ? loop_ : plat::EventLoop::current();
  if (!loop) {
    connectError_ = {plat::E_FAIL, "no event loop on this thread"};
    return plat::E_FAIL;
  }
  const std::uint32_t port = (params.flags & kConnUsePort) ? params.port : plat::paths::port(kConsolePort);
  if (port == 0 || port > 0xFFFF) {
    connectError_ = {plat::E_FAIL, "port " + std::to_string(port) + " is out of range"};
    return plat::E_FAIL;
  }
  auto s = std::make_unique<CMsgSocket>(*this, *loop, clock_);
  if (auto started = s->Connect(params.address, static_cast<std::uint16_t>(port), params.connectTimeout); !started) {
    connectError_ = started.error();
    return plat::E_FAIL;
  }
  peerAddress_ = params.address;
  callback_ = params.callback;
  context_ = params.context;
  connFlags_ = params.flags;
  socket_ = std::move(s);
  socket_->AttachArchives();
  return 0;
}

std::int32_t CMessageApi::Close() {
  AbortAll();
  if (socket_ && socket_->HasOutputArchive()) {
    QueueRequest(kReqClose, "", kReqUrgent | kReqQuiet, nullptr);
    AbortAll();
  }
  if (socket_) {
    socket_->Disconnect();
    socket_.reset();
  }
  if (channel_) {
    channel_->SendMessage(CMessage(kReqComClose, 0, kStatusNone, ""));
    channel_.reset();
  }
  return 0;
}

CMessageApi::RequestPtr CMessageApi::MakeRequest(std::int32_t code, std::string text, std::uint32_t flags, CPea* owner,
                                                 std::int32_t id) {
  auto r = std::make_shared<MessageRequest>();
  r->code = code;
  r->id = id;
  r->text = std::move(text);
  r->flags = flags;
  r->owner = owner;
  return r;
}

plat::HRESULT CMessageApi::QueueRequest(std::int32_t code, std::string text, std::uint32_t flags, CPea* owner) {
  if (!HasTransport()) return plat::E_FAIL;
  // A record every peer would refuse, dropping the link with it.
  if (!TextFits(text)) return plat::E_INVALIDARG;
  const std::int32_t id = static_cast<std::int32_t>((flags & kReqKeepId) ? nextId_ : ++nextId_);
  RequestPtr r = MakeRequest(code, std::move(text), flags, owner, id);
  if (flags & kReqUrgent) {
    queue_.push_front(r);
    busy_ = false;
  } else {
    queue_.push_back(r);
  }
  Pump();
  return r->state == kStatusFinal ? plat::S_OK : kPending;
}

plat::HRESULT CMessageApi::SendListRights(std::uint32_t flags, CPea* owner) {
  return QueueRequest(kReqListRights, "", flags, owner);
}

plat::HRESULT CMessageApi::SendChangeFolder(std::string path, std::uint32_t flags, CPea* owner) {
  return QueueRequest(kReqChangeFolder, std::move(path), flags | kReqSplit, owner);
}

plat::HRESULT CMessageApi::SendList(std::string text, std::uint32_t flags, CPea* owner) {
  return QueueRequest(kReqQuery, std::move(text), flags, owner);
}

plat::HRESULT CMessageApi::SendRefresh(std::uint32_t flags, CPea* owner) {
  return QueueRequest(kReqRefresh, "", flags, owner);
}

plat::HRESULT CMessageApi::SendFormatted(std::int32_t code, std::string_view name, const char* format,
                                         std::uint32_t flags, CPea* owner, va_list args) {
  std::string text(name);
  text += '@';
  text += plat::vformat(format, args);
  return QueueRequest(code, std::move(text), flags, owner);
}

plat::HRESULT CMessageApi::SendFormatted4101(std::string_view name, const char* format, std::uint32_t flags,
                                             CPea* owner, ...) {
  va_list args;
  va_start(args, owner);
  const plat::HRESULT hr = SendFormatted(kReqSetProperty, name, format, flags, owner, args);
  va_end(args);
  return hr;
}

plat::HRESULT CMessageApi::SendFormatted4102(std::string_view name, const char* format, std::uint32_t flags,
                                             CPea* owner, ...) {
  va_list args;
  va_start(args, owner);
  const plat::HRESULT hr = SendFormatted(kReqInvoke, name, format, flags, owner, args);
  va_end(args);
  return hr;
}

std::int32_t CMessageApi::Logon(std::string_view credentials, std::uint32_t flags, CPea* owner) {
  const bool inFlight = busy_ && !queue_.empty() && queue_.front()->state == kStatusRequest;
  const std::int32_t id = inFlight ? queue_.front()->id : static_cast<std::int32_t>(++nextId_);
  RequestPtr r = MakeRequest(kReqLogon, "logon " + std::string(credentials), flags, owner, id);
  if (!HasTransport()) {
    // Nothing can carry it: it ends at once instead of waiting for a time-out.
    r->state = kStatusFinal;
    r->done = true;
    r->text = FormatResult(kResultAbort);
  }
  queue_.push_back(r);
  Pump();
  return 0;
}

std::int32_t CMessageApi::Logoff(std::string_view logonKey, std::uint32_t flags, CPea* owner,
                                 std::string_view pathPrefix) {
  RequestPtr r = MakeRequest(kReqLogon, "logoff " + std::string(logonKey), flags, owner, nextId());
  if (!HasTransport()) {
    r->state = kStatusFinal;
    r->done = true;
    r->text = FormatResult(kResultAbort);
  }
  // Past the head's identifier group, unsent change-folder steps into the logged-off subtree go,
  // and with each of them the rest of its identifier.
  std::size_t groupEnd = 0;
  if (!queue_.empty()) {
    const std::int32_t headId = queue_.front()->id;
    while (groupEnd < queue_.size() && queue_[groupEnd]->id == headId) ++groupEnd;
    bool haveSelected = false;
    std::int32_t selectedId = 0;
    for (std::size_t i = groupEnd; i < queue_.size();) {
      const RequestPtr& q = queue_[i];
      const bool match = !q->done && ((q->code == kReqChangeFolder && startsWithNoCase(q->text, pathPrefix)) ||
                                      (haveSelected && q->id == selectedId));
      if (match) {
        haveSelected = true;
        selectedId = q->id;
        queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  queue_.insert(queue_.begin() + static_cast<std::ptrdiff_t>(std::min(groupEnd, queue_.size())), r);
  Pump();
  return 0;
}

std::int32_t CMessageApi::AbortRequestsOfId(std::int32_t id) {
  bool first = true;
  std::string text;
  for (const RequestPtr& r : queue_) {
    if (r->id != id) continue;
    if (first) {
      first = false;
      if (r->state != kStatusFinal || r->awaitingAnswer) {
        EndUnanswered(*r);
        r->state = kStatusFinal;
        r->text = FormatResult(kResultAbort);
      }
      text = r->text;
      continue;
    }
    r->state = kStatusFinal;
    r->done = true;
    r->text = text;
  }
  Pump();
  return 0;
}

std::int32_t CMessageApi::AbortRequestsOfKey(std::int32_t id) {
  for (const RequestPtr& r : queue_) {
    if (r->id != id) continue;
    r->state = kStatusFinal;
    r->done = true;
    r->text = FormatResult(kResultAbort);
    r->flags |= kReqNoPassOn;
  }
  return 0;
}

void CMessageApi::EndUnanswered(MessageRequest& r) {
  // The step never got its answer: which folder the peer is in is unknown now.
  if (r.awaitingAnswer) currentPath_.clear();
  r.awaitingAnswer = false;
}

std::int32_t CMessageApi::AbortAll() {
  for (const RequestPtr& r : queue_) {
    EndUnanswered(*r);
    r->state = kStatusFinal;
    r->done = true;
    r->text = FormatResult(kResultAbort);
  }
  busy_ = false;
  Pump();
  return 0;
}

std::int32_t CMessageApi::PurgeRequests(const std::function<bool(const RequestView&)>& match) {
  std::vector<RequestPtr> purged;
  for (std::size_t i = 0; i < queue_.size();) {
    RequestPtr r = queue_[i];
    if (!match(ViewOf(*r))) {
      ++i;
      continue;
    }
    // A head at the peer no longer has anyone waiting: the queue moves on without it.
    if (i == 0) busy_ = false;
    if (r->state == kStatusFinal && r->done && !r->awaitingAnswer) {
      for (const RequestPtr& q : queue_) {
        if (q == r || q->id != r->id) continue;
        q->state = kStatusFinal;
        q->done = true;
        q->text = r->text;
      }
    } else {
      EndUnanswered(*r);
      r->state = kStatusFinal;
      r->done = true;
      r->text = FormatResult(kResultAbort);
    }
    queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
    purged.push_back(std::move(r));
  }
  for (const RequestPtr& r : purged) CallBack(*r);
  Pump();
  return 0;
}

std::int32_t CMessageApi::WithdrawUnsentOfId(std::int32_t id) {
  Hold hold(*this);
  std::vector<RequestPtr> withdrawn;
  for (std::size_t i = 0; i < queue_.size();) {
    RequestPtr r = queue_[i];
    if (r->id != id || r->done) {
      ++i;
      continue;
    }
    r->state = kStatusFinal;
    r->done = true;
    r->text = FormatResult(kResultAbort);
    queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
    withdrawn.push_back(std::move(r));
  }
  for (const RequestPtr& r : withdrawn) CallBack(*r);
  Pump();
  return 0;
}

void CMessageApi::Pump() {
  // A loop rather than the pump calling itself, so that a long queue cannot exhaust the stack.
  while (PumpStep()) {
  }
}

bool CMessageApi::PumpStep() {
  if (busy_ || queue_.empty()) return false;
  RequestPtr head = queue_.front();
  if (head->state == kStatusRequest && head->code == kReqChangeFolder && (head->flags & kReqSplit)) {
    ExpandPath(head);
    return true;
  }
  if (head->state == kStatusRequest) {
    if (head->code != kReqChangeFolder && haveLastSent_ && head->id == lastSentId_ && head->code == lastSentCode_ &&
        head->text == lastSentText_) {
      queue_.pop_front();
      head->done = true;
      return false;
    }
    const CMessage m(head->code, head->id, kStatusRequest, head->text);
    // A socket that fails to write goes down, and its close ends the queue. A local channel that
    // refuses the record does not: the request then counts as sent, so the time-out ends it.
    SendRecord(m);
    if (queue_.empty() || queue_.front() != head || head->state != kStatusRequest) return true;
    busy_ = true;
    head->done = true;
    head->ticks = 0;
    if (head->code == kReqChangeFolder) {
      head->state = kStatusFinal;
      head->awaitingAnswer = true;
    }
    haveLastSent_ = true;
    lastSentId_ = head->id;
    lastSentCode_ = head->code;
    lastSentText_ = head->text;
    return false;
  }
  if (head->state == kStatusFinal && !head->done) {
    queue_.pop_front();
    return false;
  }
  if (head->state == kStatusFinal) {
    if (PropagateFailure(head) && head->code != kReqChangeFolder) currentPath_.clear();
    queue_.pop_front();
    if (!queue_.empty() && queue_.front()->id == head->id) {
      queue_.front()->replyCount = head->replyCount;
    } else {
      head->replyCount = -2;
    }
    CallBack(*head);
    return true;
  }
  return false;  // a partial reply has arrived: the final one is awaited
}

void CMessageApi::ExpandPath(const RequestPtr& head) {
  head->flags &= ~kReqSplit;
  currentPath_.clear();
  const std::string path = head->text;
  std::vector<std::string> steps;
  std::size_t at = 0;
  if (!path.empty() && path[0] == '\\') {
    steps.emplace_back("\\");
    at = 1;
  }
  while (at < path.size()) {
    std::size_t end = path.find('\\', at);
    if (end == std::string::npos) end = path.size();
    if (end > at) steps.push_back(path.substr(at, end - at));  // two backslashes in a row: no step
    at = end + 1;
  }
  auto pos = queue_.begin() + 1;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    RequestPtr step = MakeRequest(kReqChangeFolder, steps[i], head->flags, head->owner, head->id);
    step->state = head->state;
    if (i + 1 < steps.size()) step->flags |= kReqQuiet;
    pos = queue_.insert(pos, step) + 1;
  }
  head->state = kStatusFinal;
  head->done = true;
  head->text = FormatResult(kResultFunctional);
  if (!steps.empty()) head->flags |= kReqQuiet;
  currentPath_ = path;
}

bool CMessageApi::PropagateFailure(const RequestPtr& failed) {
  if (failed->state != kStatusFinal || (failed->flags & kReqFailed)) return false;
  const std::int32_t result = ParseResultCode(failed->text);
  if (result == kResultFunctional || result == 0) return false;
  if (failed->code == kReqLogon && result == kResultNotFound) return false;
  const std::string text = failed->text;
  for (const RequestPtr& r : queue_) {
    if (r->id != failed->id) continue;
    r->state = kStatusFinal;
    r->done = true;
    r->text = text;
    r->flags |= kReqFailed;
  }
  return true;
}

bool CMessageApi::SendRecord(const CMessage& m) {
  if (socket_) return socket_->SendMessage(m);
  if (channel_) return channel_->SendMessage(m);
  return true;
}

RequestView CMessageApi::ViewOf(const MessageRequest& r) {
  return RequestView{r.code, r.state, r.text, r.flags, r.owner, r.replyCount, r.id};
}

void CMessageApi::CallBack(const MessageRequest& r) {
  if ((r.flags & kReqQuiet) || !CallbacksOn()) return;
  const RequestView view = ViewOf(r);
  callback_(r.code, context_, &view, 0);
}

std::int32_t CMessageApi::OnMessage(const CMessage& m) {
  Hold hold(*this);
  if (!queue_.empty() && queue_.front()->id == m.id && queue_.front()->code == m.code &&
      (m.status == kStatusPartial || m.status == kStatusFinal)) {
    RequestPtr head = queue_.front();
    head->state = m.status;
    head->awaitingAnswer = false;
    head->replyCount++;
    head->ticks = 0;
    if (m.status == kStatusFinal && head->code == kReqChangeFolder) {
      const std::int32_t result = ParseResultCode(m.text);
      // A failing step's own reply is what the rest of its identifier reports, quiet or not.
      head->text = m.text;
      if (result != kResultFunctional) {
        currentPath_.clear();
        AbortRequestsOfId(head->id);
      }
    }
    if (!(head->flags & kReqQuiet)) {
      head->text = m.text;
      if (m.status == kStatusPartial) CallBack(*head);
    }
    busy_ = false;
    Pump();
    return 1;
  }
  if (m.code == kReqClose) {
    if (socket_) {
      socket_->Disconnect();
    } else if (channel_ && channelUp_) {
      channelUp_ = false;
      OnClose();
    }
    return 0;
  }
  if (m.status == kStatusNotify) {
    if (m.code == kNotifyNotLoggedOn) inEvent_ = true;
    const RequestView view{m.code, kStatusNotify, m.text, 0, nullptr, 0, m.id};
    std::int32_t result = plat::E_FAIL;
    timing_ = false;
    if (CallbacksOn()) result = callback_(m.code, context_, &view, 0);
    timing_ = true;
    if (m.code == kNotifyNotLoggedOn) {
      if (result != 0 && busy_ && !queue_.empty()) AbortRequestsOfId(queue_.front()->id);
      inEvent_ = false;
      busy_ = false;
    }
    Pump();
    return 1;
  }
  Pump();
  return 1;
}

void CMessageApi::ReadMessages() {
  Hold hold(*this);
  CMessage m;
  while (socket_ && socket_->HasOutputArchive() && !hold.alone()) {
    const DecodeStatus s = socket_->NextRecord(m);
    if (s == DecodeStatus::kNeedMore) return;
    if (s == DecodeStatus::kInvalid) {
      socket_->Disconnect();
      return;
    }
    if (m.code == kReqKeepAlive) {
      if (m.status != kStatusFinal) socket_->SendMessage(CMessage(m.code, m.id, kStatusFinal, m.text));
      continue;
    }
    if (OnMessage(m) == 0) return;
  }
}

void CMessageApi::OnTimerTick() {
  Hold hold(*this);
  Tick();
}

void CMessageApi::Tick() {
  // A head that was sent and is still unanswered counts, whether busy or partly answered (a
  // partial reply clears busy) and whatever its state: a peer that goes quiet halfway must not
  // hold the queue for ever.
  const bool inFlight = !queue_.empty() && (busy_ || (queue_.front()->done && queue_.front()->state == kStatusPartial));
  if (timing_ && inFlight) {
    RequestPtr head = queue_.front();
    if (++head->ticks >= kRequestTimeoutTicks) {
      busy_ = false;
      EndUnanswered(*head);
      head->state = kStatusFinal;
      head->done = true;
      head->text = FormatResult(kResultTimeOut);
      AbortRequestsOfId(head->id);
    }
  }
  if (!queue_.empty()) Pump();
  if (socket_) socket_->CheckIdle();
}

void CMessageApi::OnClose() {
  Hold hold(*this);
  if (socket_ && socket_->HasOutputArchive()) {
    socket_->Disconnect();  // comes back here with the link down
    if (channel_) channel_->SendMessage(CMessage(kReqComClose, 0, kStatusNone, ""));
    return;
  }
  AbortAll();
  if (CallbacksOn()) callback_(kReqClose, context_, nullptr, 0);
}

bool CMessageApi::Queued(std::int32_t code, const CPea* owner) const {
  return std::any_of(queue_.begin(), queue_.end(),
                     [&](const RequestPtr& r) { return r->code == code && r->owner == owner; });
}

std::vector<RequestView> CMessageApi::QueueSnapshot() const {
  std::vector<RequestView> out;
  out.reserve(queue_.size());
  for (const RequestPtr& r : queue_) out.push_back(ViewOf(*r));
  return out;
}

}  // namespace kelm
