#include "message/agent_event_sink.h"

#include <charconv>
#include <cstdio>
#include <utility>

#include "platform/com/activation.h"

namespace kelm {

using plat::FAILED;
using plat::HRESULT;
using plat::SUCCEEDED;
using plat::com::ComPtr;

std::string ConnectAgentMessage(HRESULT h) {
  switch (static_cast<std::uint32_t>(h)) {
    case 0x80004002u:
      return "Cannot CreateInstance: E_NO_INTERFACE";
    case 0x80029C4Au:
      return "Cannot load Type library of COM Server, run halvorn /regserver";
    case 0x80040154u:
      return "Cannot CreateInstance: REGDB_E_CLASSNOTREG";
    case 0x80070005u:
      return "Access Denied Execing Com Server, Check  Permissions using DCOMCNFG.EXE and add Access Permissions "
             "for this user for HalvornCom, then reboot";
    case 0x80080005u:
      return "Server Execution Failure, Agent not installed/registered?";
    default: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "CreateInstance: Unknown Error code %x", static_cast<unsigned>(h));
      return buf;
    }
  }
}

HRESULT CAgentEventSink::EventsImpl::QueryInterface(const plat::com::Guid& iid, void** out) {
  if (!out) return plat::E_POINTER;
  *out = nullptr;
  if (iid != plat::com::IUnknown::kIid && iid != IComSocketEvents::kIid) return plat::E_NOINTERFACE;
  *out = static_cast<IComSocketEvents*>(this);
  AddRef();
  return plat::S_OK;
}

std::uint32_t CAgentEventSink::EventsImpl::AddRef() { return static_cast<std::uint32_t>(sink_.AddRef()); }
std::uint32_t CAgentEventSink::EventsImpl::Release() { return static_cast<std::uint32_t>(sink_.Release()); }

CAgentEventSink::CAgentEventSink(MessageFn owner, NoticeFn notice)
    : owner_(std::move(owner)), notice_(std::move(notice)) {}

CAgentEventSink::~CAgentEventSink() {
  Unadvise();
  agent_.reset();
}

CAgentEventSink* CAgentEventSink::Open(MessageFn owner, NoticeFn notice) {
  auto* sink = new CAgentEventSink(std::move(owner), std::move(notice));
  sink->AddRef();  // held while connecting, so that nothing inside can destroy it
  if (sink->ConnectAgent() != 1) {
    sink->Release();
    return nullptr;
  }
  sink->Send(CMessage(kReqComOpen, 0, 0, std::string()));
  return sink;  // keeps the count taken above: the engine's
}

void CAgentEventSink::Close() {
  CloseChannel();
  // The agent's connection point counts the sink too; without this the sink would never go.
  Unadvise();
  agent_.reset();
  Release();
}

int CAgentEventSink::ConnectAgent() {
  RegisterComSocketProxy();
  agent_.reset();
  ComPtr<plat::com::IUnknown> unknown;
  HRESULT h = plat::com::CoCreateInstance(kClsidComSocket, plat::com::CLSCTX_LOCAL_SERVER, unknown);
  if (SUCCEEDED(h)) {
    agent_ = unknown.as<IComSocket>();
    if (!agent_) h = plat::E_NOINTERFACE;
  }
  unknown.reset();
  if (agent_) {
    // Without the subscription no reply would ever come back: that is no connection.
    if (auto advised = Advise(); !advised) {
      agent_.reset();
      h = advised.code();
    }
  }
  lastConnect_ = h;
  if (FAILED(h) && notice_) notice_(ConnectAgentMessage(h));
  return agent_ ? 1 : 0;
}

plat::Result<void> CAgentEventSink::Advise() {
  if (!agent_) return plat::Error{plat::E_POINTER, "no agent to subscribe to"};
  auto container = agent_.as<plat::com::IConnectionPointContainer>();
  if (!container) return plat::Error{plat::E_NOINTERFACE, "the agent has no connection points"};
  ComPtr<plat::com::IConnectionPoint> point;
  if (HRESULT h = container->FindConnectionPoint(IComSocketEvents::kIid, point.put()); FAILED(h) || !point) {
    if (!FAILED(h)) h = plat::E_NOINTERFACE;
    return plat::Error{h, "the agent's event connection point cannot be found: " + plat::hresultText(h)};
  }
  std::uint32_t cookie = 0;
  if (HRESULT h = point->Advise(&events_, &cookie); FAILED(h))
    return plat::Error{h, "the agent does not take the subscription: " + plat::hresultText(h)};
  cookie_ = cookie;
  return plat::success();
}

void CAgentEventSink::Unadvise() {
  const std::uint32_t cookie = std::exchange(cookie_, 0);
  if (!cookie || !agent_) return;
  auto container = agent_.as<plat::com::IConnectionPointContainer>();
  ComPtr<plat::com::IConnectionPoint> point;
  if (!container || FAILED(container->FindConnectionPoint(IComSocketEvents::kIid, point.put())) || !point) return;
  if (RefCount() == 0) {
    point->Unadvise(cookie);  // inside the destructor: the point's count is no longer ours to drop
    return;
  }
  // The point's reference may be the last one; the sink then goes when this call ends.
  AddRef();
  point->Unadvise(cookie);
  point.reset();
  container.reset();
  Release();
}

bool CAgentEventSink::Send(const CMessage& m) {
  if (!agent_) return false;
  return SUCCEEDED(agent_->ProcessMessage(m.code, m.id, m.status, m.text));
}

bool CAgentEventSink::CloseChannel() { return Send(CMessage(kReqComClose, 0, 0, std::string())); }

HRESULT CAgentEventSink::SendReply(std::int32_t code, std::int32_t serial, std::int32_t status,
                                   const std::string& text) {
  CMessage m(code, serial, status, text);
  if (owner_) owner_(m);
  return plat::S_OK;
}

namespace {

HRESULT toNumber(const DispArg& a, std::int32_t& out) {
  if (const auto* n = std::get_if<std::int32_t>(&a)) {
    out = *n;
    return plat::S_OK;
  }
  const std::string& s = std::get<std::string>(a);
  const char* b = s.data();
  const char* e = s.data() + s.size();
  while (b < e && *b == ' ') ++b;
  auto [p, ec] = std::from_chars(b, e, out);
  if (ec != std::errc() || p == b) return DISP_E_TYPEMISMATCH;
  while (p < e && *p == ' ') ++p;
  return p == e ? plat::S_OK : DISP_E_TYPEMISMATCH;
}

std::string toText(const DispArg& a) {
  if (const auto* s = std::get_if<std::string>(&a)) return *s;
  return std::to_string(std::get<std::int32_t>(a));
}

}  // namespace

HRESULT CAgentEventSink::Invoke(std::int32_t dispId, const std::vector<DispArg>& params, std::int32_t* result) {
  if (dispId != IComSocketEvents::kDispIdSendReply) return plat::S_OK;
  if (params.size() != 4) return DISP_E_BADPARAMCOUNT;
  // Reverse order: the last element is the first parameter.
  std::int32_t code = 0, serial = 0, status = 0;
  HRESULT h;
  if (FAILED(h = toNumber(params[3], code)) || FAILED(h = toNumber(params[2], serial)) ||
      FAILED(h = toNumber(params[1], status)))
    return h;
  h = SendReply(code, serial, status, toText(params[0]));
  if (result) *result = h;
  return plat::S_OK;
}

}  // namespace kelm
