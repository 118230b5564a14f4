#pragma once
// The engine's local channel to the agent on this host: CMessageApi::Connect in COM mode with
// SetChannelFactory(AgentChannelFactory(...)).
#include "message/agent_event_sink.h"
#include "message/message_api.h"

namespace kelm {

// Each channel holds one connected CAgentEventSink whose replies go to the engine's OnMessage.
// When the agent cannot be reached the failure text goes to notice and the factory gives null
// (Connect answers -1, nothing remains). The engine itself sends 4112 and 4113.
ChannelFactory AgentChannelFactory(CAgentEventSink::NoticeFn notice);

}  // namespace kelm
