#include "message/agent_channel.h"

namespace kelm {

namespace {

class AgentChannel final : public MessageChannel {
 public:
  explicit AgentChannel(CAgentEventSink* sink) : sink_(sink) {}
  ~AgentChannel() override {
    // The engine has sent its 4113; the subscription and our count go, and with them the sink.
    sink_->Unadvise();
    sink_->Release();
  }
  bool SendMessage(const CMessage& m) override { return sink_->Send(m); }

 private:
  CAgentEventSink* sink_;  // counted once by this channel
};

}  // namespace

ChannelFactory AgentChannelFactory(CAgentEventSink::NoticeFn notice) {
  return [notice](CMessageApi& owner) -> std::unique_ptr<MessageChannel> {
    auto* sink = new CAgentEventSink([&owner](CMessage& m) { owner.OnMessage(m); }, notice);
    sink->AddRef();
    if (sink->ConnectAgent() != 1) {
      sink->Release();
      return nullptr;
    }
    return std::make_unique<AgentChannel>(sink);
  };
}

}  // namespace kelm
