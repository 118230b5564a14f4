#pragma once
// CMessageApi: the asking end of one message connection. The owner queues requests; they go out
// one at a time as records, replies are matched to the head request, a request without an answer
// for 60 ticks times out, a failure ends the rest of its identifier, and every completion, partial
// reply and notification reaches the owner through one callback. Everything runs on the owner's
// thread. The transport is a TCP socket (CMsgSocket) or a local channel supplied by the owner.
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/message.h"
#include "message/pea.h"
#include "platform/base/clock.h"
#include "platform/base/hresult.h"
#include "platform/base/result.h"
#include "platform/loop/event_loop.h"

namespace kelm {

class CMsgSocket;

// Connection flags.
enum ConnectionFlag : std::uint32_t {
  kConnNotify = 0x08,   // with kConnNotify2: the callback is called
  kConnNotify2 = 0x10,  // with kConnNotify: the callback is called
  kConnUsePort = 0x20,  // connect to ConnectParams::port instead of the server's console port
};

// Request flags.
enum RequestFlag : std::uint32_t {
  kReqQuiet = 0x01,     // replies are not copied in and the callback is not called
  kReqKeepId = 0x02,    // belongs to the sequence of the request before it (same identifier)
  kReqSplit = 0x04,     // a change-folder path cut into one request per step at the head
  kReqNoPassOn = 0x08,  // ended by AbortRequestsOfKey: the reply is not passed on
  kReqFailed = 0x10,    // ended because an earlier request of its identifier failed
  kReqUrgent = 0x20,    // goes to the head of the queue and is sent at once
};

inline constexpr plat::HRESULT kPending = plat::KELM_E_REQUEST_FAILED;  // 0x800000A2
// A head request without any answer for this many ticks times out.
inline constexpr int kRequestTimeoutTicks = 60;

// What the callback sees of a request (or of a notification: state 4, no owner).
struct RequestView {
  std::int32_t code = 0;
  std::int32_t state = 0;
  std::string text;
  std::uint32_t flags = 0;
  CPea* owner = nullptr;
  std::int32_t replyCount = 0;
  std::int32_t id = 0;
};

// callback(code, context, view, reserved): view is null for the close (code 4104); reserved is 0.
using MessageCallback =
    std::function<std::int32_t(std::int32_t code, void* context, const RequestView* view, std::int32_t reserved)>;

struct ConnectParams {
  std::string address;  // host name or dotted address
  MessageCallback callback;
  void* context = nullptr;
  std::uint32_t port = 0;
  std::uint32_t flags = 0;
  std::chrono::milliseconds connectTimeout{10000};
};

// The sending side of a local (non-TCP) channel; records arriving on it are handed to OnMessage.
class MessageChannel {
 public:
  virtual ~MessageChannel() = default;
  virtual bool SendMessage(const CMessage& m) = 0;
};
// Makes the local channel for Connect with a non-zero mode; null when the peer cannot be reached.
using ChannelFactory = std::function<std::unique_ptr<MessageChannel>(class CMessageApi& owner)>;

class CMessageApi : public CPeaLink {
 public:
  // The loop is the one the TCP transport runs on (the thread's current loop when null).
  explicit CMessageApi(const plat::Clock& clock = plat::systemClock(), plat::EventLoop* loop = nullptr);
  ~CMessageApi() override;

  // mode 0: TCP; else the local channel from the factory. 0 on success; 0x800000AA with a socket
  // already present; -1 when the local channel cannot be made. A TCP connect that fails at once (a
  // name that does not resolve, a refusal or no route known as it starts) gives E_FAIL and leaves
  // no socket; one that fails later (refused or timed out on the way) arrives as the close
  // callback (4104, no view), with every queued request ended as aborted.
  std::int32_t Connect(const ConnectParams& params, int mode);
  // Why the last TCP Connect gave E_FAIL; empty after one that started.
  const plat::Error& ConnectError() const { return connectError_; }
  void SetChannelFactory(ChannelFactory factory) { channelFactory_ = std::move(factory); }
  std::int32_t Close();

  // E_FAIL without a transport; E_INVALIDARG for a text over the record limit (nothing queued);
  // else 0 when the request is already final, kPending otherwise.
  plat::HRESULT QueueRequest(std::int32_t code, std::string text, std::uint32_t flags, CPea* owner);
  plat::HRESULT SendListRights(std::uint32_t flags, CPea* owner);
  plat::HRESULT SendChangeFolder(std::string path, std::uint32_t flags, CPea* owner);
  plat::HRESULT SendList(std::string text, std::uint32_t flags, CPea* owner);
  // name@<format applied to the arguments>; the name is never read as a format.
  plat::HRESULT SendFormatted4101(std::string_view name, const char* format, std::uint32_t flags, CPea* owner, ...)
      __attribute__((format(printf, 3, 6)));
  plat::HRESULT SendFormatted4102(std::string_view name, const char* format, std::uint32_t flags, CPea* owner, ...)
      __attribute__((format(printf, 3, 6)));
  plat::HRESULT SendRefresh(std::uint32_t flags, CPea* owner);
  std::int32_t Logon(std::string_view credentials, std::uint32_t flags, CPea* owner);
  std::int32_t Logoff(std::string_view logonKey, std::uint32_t flags, CPea* owner, std::string_view pathPrefix);

  std::int32_t AbortRequestsOfId(std::int32_t id);
  // The message server's variant: ends the identifier's requests with flag 0x08, without a pump.
  std::int32_t AbortRequestsOfKey(std::int32_t id);
  std::int32_t AbortAll();
  // The message server's purge of one console: every request the predicate picks is ended (one
  // already final ends the rest of its identifier with its text; any other with "804@Abort"),
  // reported through the callback and taken out of the queue.
  std::int32_t PurgeRequests(const std::function<bool(const RequestView&)>& match);
  // Where the identifiers of this connection start, so that connections made in the same second
  // do not share them. The counter wraps within 32 bits.
  void SeedIdentifiers(std::uint32_t next) { nextId_ = next; }
  // The message server's withdrawal of a timed-out sequence: every request of the identifier not
  // yet sent is ended with "804@Abort", reported through the callback and taken out of the queue.
  // One already at the peer stays, so that its late replies are still recognised as its own.
  std::int32_t WithdrawUnsentOfId(std::int32_t id);

  // The transport's calls below (and the tick) may end with the engine gone: an owner that counts
  // it may release it from any callback, and it goes as the call ends. Once only that call holds it,
  // no further record is read.
  //
  // A received record: 0 after the peer's close record, else 1. The close record takes the link
  // down, a local channel's too (its peer sends it when the agent's end goes away).
  std::int32_t OnMessage(const CMessage& m);
  // Handles every complete record buffered by the socket.
  void ReadMessages();
  // Once a second, from the owner.
  void OnTimerTick();
  // The transport reports that the link is gone.
  virtual void OnClose();

  // State, for owners and tests.
  const std::string& currentPath() const { return currentPath_; }
  std::int32_t nextId() const { return static_cast<std::int32_t>(nextId_); }
  // The identifier of the last record sent; 0 before any.
  std::int32_t lastSentId() const { return haveLastSent_ ? lastSentId_ : 0; }
  bool busy() const { return busy_; }
  bool inEvent() const { return inEvent_; }
  std::size_t queueSize() const { return queue_.size(); }
  std::vector<RequestView> QueueSnapshot() const;
  // Whether a request of this code for this owner is queued (sent and unanswered, or waiting).
  bool Queued(std::int32_t code, const CPea* owner) const;
  std::uint32_t connectionFlags() const { return connFlags_; }
  const std::string& peerAddress() const { return peerAddress_; }
  CMsgSocket* socket() const { return socket_.get(); }
  bool HasTransport() const;

 private:
  struct MessageRequest {
    std::int32_t code = 0;
    std::int32_t id = 0;
    std::int32_t state = kStatusRequest;
    std::string text;
    std::uint32_t flags = 0;
    CPea* owner = nullptr;
    std::int32_t replyCount = 0;
    std::int32_t ticks = 0;
    bool done = false;
    // A change-folder step is final once sent, but its text is still the step's name until the
    // answer arrives.
    bool awaitingAnswer = false;
  };
  using RequestPtr = std::shared_ptr<MessageRequest>;

  // A count the engine holds on itself, when counted, while a call from its transport or its tick
  // runs: an owner that releases it from a callback does not pull it away mid-call, and the last
  // release happens as that call ends.
  class Hold;

  __attribute__((format(printf, 4, 0))) plat::HRESULT SendFormatted(std::int32_t code, std::string_view name,
                                                                    const char* format, std::uint32_t flags,
                                                                    CPea* owner, va_list args);
  RequestPtr MakeRequest(std::int32_t code, std::string text, std::uint32_t flags, CPea* owner, std::int32_t id);
  void Tick();
  void Pump();
  // One step of the pump; true when it is to run again.
  bool PumpStep();
  void ExpandPath(const RequestPtr& head);
  bool PropagateFailure(const RequestPtr& failed);
  void EndUnanswered(MessageRequest& r);
  bool SendRecord(const CMessage& m);
  bool CallbacksOn() const {
    return (connFlags_ & (kConnNotify | kConnNotify2)) == (kConnNotify | kConnNotify2) && callback_;
  }
  void CallBack(const MessageRequest& r);
  static RequestView ViewOf(const MessageRequest& r);

  const plat::Clock& clock_;
  plat::EventLoop* loop_;
  std::string currentPath_;
  std::uint32_t nextId_;
  std::deque<RequestPtr> queue_;
  std::unique_ptr<CMsgSocket> socket_;
  std::unique_ptr<MessageChannel> channel_;
  ChannelFactory channelFactory_;
  std::string peerAddress_;
  plat::Error connectError_;
  MessageCallback callback_;
  void* context_ = nullptr;
  std::uint32_t connFlags_ = 0;
  bool busy_ = false;
  bool inEvent_ = false;
  bool timing_ = true;
  bool channelUp_ = false;  // the local channel is open and its peer has not gone
  // The last record this connection sent, so that a request already sent is not sent twice.
  bool haveLastSent_ = false;
  std::int32_t lastSentId_ = 0;
  std::int32_t lastSentCode_ = 0;
  std::string lastSentText_;
};

}  // namespace kelm
