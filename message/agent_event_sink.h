#pragma once
// The console's side of the local channel to the agent: creates the agent's ComSocket object,
// subscribes to its SendReply event, sends records through ProcessMessage and turns every reply
// back into a CMessage for its owner.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "message/com_socket.h"
#include "message/message.h"
#include "message/pea.h"
#include "platform/base/result.h"

namespace kelm {

// The text shown when the agent's object cannot be created.
std::string ConnectAgentMessage(plat::HRESULT h);

class CAgentEventSink : public CPeaLink {
 public:
  // The owner's OnMessage; every reply and notification goes there, on the loop thread that
  // created the sink.
  using MessageFn = std::function<void(CMessage&)>;
  // Shows a connect failure to the user (a message box in the console).
  using NoticeFn = std::function<void(const std::string&)>;

  CAgentEventSink(MessageFn owner, NoticeFn notice);
  // Unadvises and releases the agent.
  ~CAgentEventSink() override;

  // Opening as the engine does it: a connected sink with the engine's count and 4112 sent, or
  // null (the failure was shown and nothing remains).
  static CAgentEventSink* Open(MessageFn owner, NoticeFn notice);
  // Closing: exactly one 4113, then the subscription and the engine's count go (which destroys
  // the sink unless somebody else still counts it).
  void Close();

  // 1 when the agent's object is held and advised; 0 when it could not be created or would not
  // take the subscription (then the failure's HRESULT is shown and nothing is held).
  int ConnectAgent();
  // Subscribes to the agent's events; the failed step's HRESULT is the error's code.
  plat::Result<void> Advise();
  // Takes the subscription back; when only the subscription still counted the sink, the sink is
  // destroyed as this returns.
  void Unadvise();
  // False without an agent; else whether ProcessMessage succeeded.
  bool Send(const CMessage& m);
  bool CloseChannel();

  plat::HRESULT SendReply(std::int32_t code, std::int32_t serial, std::int32_t status, const std::string& text);
  // Only dispatch identifier 1 (SendReply) does anything.
  plat::HRESULT Invoke(std::int32_t dispId, const std::vector<DispArg>& params, std::int32_t* result);

  IComSocketEvents* Events() { return &events_; }
  std::uint32_t Cookie() const { return cookie_; }
  bool HasAgent() const { return static_cast<bool>(agent_); }
  // The HRESULT of the last ConnectAgent.
  plat::HRESULT LastConnectResult() const { return lastConnect_; }

 private:
  class EventsImpl final : public IComSocketEvents {
   public:
    explicit EventsImpl(CAgentEventSink& sink) : sink_(sink) {}
    plat::HRESULT QueryInterface(const plat::com::Guid& iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    plat::HRESULT SendReply(std::int32_t code, std::int32_t serial, std::int32_t status,
                            const std::string& text) override {
      return sink_.SendReply(code, serial, status, text);
    }
    plat::HRESULT Invoke(std::int32_t dispId, const std::vector<DispArg>& params, std::int32_t* result) override {
      return sink_.Invoke(dispId, params, result);
    }

   private:
    CAgentEventSink& sink_;
  };

  MessageFn owner_;
  NoticeFn notice_;
  plat::com::ComPtr<IComSocket> agent_;
  std::uint32_t cookie_ = 0;
  EventsImpl events_{*this};
  plat::HRESULT lastConnect_ = plat::S_OK;
};

}  // namespace kelm
