#include "msgserver/agent_conn.h"

#include <cstdlib>
#include <string_view>

#include "msgserver/pellwick_doc.h"
#include "msgserver/user.h"
#include "msgserver/virtual_folder.h"
#include "platform/base/format.h"

namespace kelm::msgserver {
namespace {

// The root's property that names the host's address.
constexpr std::string_view kIpAddressName = "IPAddress";

}  // namespace

CAgent::CAgent(CPellwickDoc& doc, std::string name, std::string address, std::uint32_t idSeed)
    : CMessageApi(doc.Clock(), &doc.Loop()), name_(std::move(name)), address_(std::move(address)), doc_(doc) {
  SeedIdentifiers(idSeed);
}

CAgent::~CAgent() { Close(); }

std::int32_t CAgent::ConnectAgent(std::uint16_t port) {
  ConnectParams p;
  p.address = address_;
  p.callback = &CAgent::AgentCallback;
  p.context = this;
  p.port = port;
  p.flags = 0x3C;
  p.connectTimeout = doc_.Options().connectTimeout;
  const std::int32_t r = Connect(p, 0);
  if (r != 0) return r;
  opening_ = true;
  SendChangeFolder("\\", kAgentOpening, nullptr);
  SendList(".", kAgentOpening | kReqKeepId, nullptr);
  // Last, so that an agent without the property still opens: which host this is, whatever
  // address announced it.
  SendList(std::string(kIpAddressName), kAgentOpening | kReqKeepId, nullptr);
  openingId_ = nextId();
  return 0;
}

std::string CAgent::rootName() const {
  const std::size_t at = rootEntry_.find('@');
  return at == std::string::npos ? std::string() : rootEntry_.substr(0, at);
}

void CAgent::OnOpeningReply(std::int32_t code, const RequestView& view) {
  if (code != kReqQuery) return;
  if (view.state == kStatusPartial) {
    if (!rootAnswered_ && view.text.rfind(".@", 0) == 0) {
      rootEntry_ = view.text.substr(2);
    } else if (rootAnswered_ && view.text.rfind(std::string(kIpAddressName) + "@", 0) == 0) {
      const std::size_t at = view.text.find('@', std::string_view(kIpAddressName).size() + 1);
      ipAddress_ = at == std::string::npos ? std::string() : view.text.substr(at + 1);
    }
    return;
  }
  if (view.state != kStatusFinal) return;
  if (!rootAnswered_) {
    rootAnswered_ = true;
    const std::size_t at = rootEntry_.find('@');
    if (ParseResultCode(view.text) != kResultFunctional || at == std::string::npos || at == 0) {
      // An agent that does not say what its root is cannot get a folder.
      opening_ = false;
      doc_.Log("agent " + name_ + " at " + address_ + " did not describe its root: " + view.text);
      doc_.RemoveAgentLater(this);
    }
    return;
  }
  // The address query may fail (a host without one): the opening ends all the same.
  opening_ = false;
  FinishOpening();
}

void CAgent::FinishOpening() {
  if (const CAgent* other = doc_.FindSameAgent(*this)) {
    doc_.LogLimited(CPellwickDoc::kLogDuplicateAgent, "agent " + rootName() + " at " + address_ +
                                                          " is already connected through " + other->address() +
                                                          ": this connection is closed");
    doc_.RemoveAgentLater(this);
    return;
  }
  ready_ = true;
  doc_.AgentReady(this);
}

std::int32_t CAgent::AgentCallback(std::int32_t code, void* context, const RequestView* view, std::int32_t) {
  return static_cast<CAgent*>(context)->OnAgentMessage(code, view);
}

std::string CAgent::RewritePath(const std::string& text) const {
  const std::size_t at = rootEntry_.find('@');
  if (at == std::string::npos || at == 0) return {};
  std::string path = "\\" + rootEntry_.substr(0, at);
  // The agent's root is "\" on its side: "\" or "\@..." become the agent folder itself.
  std::string_view rest = text;
  if (!rest.empty() && rest[0] == '\\' && (rest.size() == 1 || rest[1] == '@')) rest.remove_prefix(1);
  path += rest;
  return path;
}

std::int32_t CAgent::OnAgentMessage(std::int32_t code, const RequestView* view) {
  AddRef();
  std::int32_t result = 0;
  auto* folder = view && (view->flags & kAgentForFolder) ? static_cast<CVirtualFolder*>(view->owner) : nullptr;

  // Notifications go on during the opening: only a reply can end it.
  if (opening_ && code != kReqClose && code != kNotifyNotLoggedOn && view && view->state != kStatusNotify) {
    const auto apart =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(view->id) - static_cast<std::uint32_t>(openingId_));
    if (apart >= 2 || apart <= -2) {
      opening_ = false;
    } else if (view->flags & kAgentOpening) {
      OnOpeningReply(code, *view);
      Release();
      return 0;
    }
  }

  if (code == kReqClose) {
    // The close that RemoveAgent itself makes comes back here too.
    if (!removed_) doc_.RemoveAgentLater(this);
  } else if (code == kNotifyNotLoggedOn) {
    // The console whose request is at the agent is told, so that it can log on there.
    const auto q = QueueSnapshot();
    if (!q.empty() && (q.front().flags & kAgentForFolder) && q.front().owner) {
      auto* f = static_cast<CVirtualFolder*>(q.front().owner);
      if (CUser* u = f->User()) u->SendCode(kNotifyNotLoggedOn, f->Path());
    }
    result = plat::E_FAIL;
  } else if (view && !(view->flags & kAgentUserSelect)) {
    if (view->state == kStatusFinal && ParseResultCode(view->text) == kResultTimeOut) {
      doc_.Log("agent " + name_ + " at " + address_ + " did not answer in time; it is dropped");
      removed_ = true;
      if (folder && !(view->flags & kReqNoPassOn)) folder->OnAgentReply(code, *view);
      if (folder) folder->Release();
      doc_.RemoveAgentLater(this);
    } else if (folder) {
      if (!(view->flags & kReqNoPassOn)) result = folder->OnAgentReply(code, *view);
      if (view->state == kStatusFinal) folder->Release();
    } else if (view->state == kStatusNotify) {
      const std::string path = RewritePath(view->text);
      if (!path.empty()) doc_.SendToUsers(code, path);
    }
  } else if (view && view->state == kStatusFinal && code == kReqLogon) {
    if (ParseResultCode(view->text) != kResultFunctional) {
      // Only while the folder still waits for this sequence: one that timed out there has moved on.
      if (folder && folder->AwaitsSequence(view->id)) folder->AbortHeadId();
      AbortRequestsOfKey(view->id);
      AbortRequestsOfId(view->id);
    }
    if (folder) folder->Release();
  }
  Release();
  return result;
}

bool CAgent::OwnsFolder(const CVirtualFolder* folder) const {
  return folder && folder->GetOwnerLink() == static_cast<const CPeaLink*>(this);
}

plat::HRESULT CAgent::SyncUserPath(CVirtualFolder* folder) {
  if (!OwnsFolder(folder)) return plat::E_FAIL;
  folder->AddRef();
  const std::int32_t key = folder->GetLogonKey();
  plat::HRESULT hr = QueueRequest(kReqLogon, plat::format("user %x", static_cast<unsigned>(key)),
                                  kAgentForFolder | kAgentUserSelect, folder);
  if (hr != plat::S_OK && hr != kPending) {
    folder->Release();
    return hr;
  }
  const std::string full = folder->Path();
  const std::size_t second = full.find('\\', 1);
  std::string path = second == std::string::npos ? std::string("\\") : full.substr(second);
  folder->AddRef();
  hr = SendChangeFolder(std::move(path), kAgentForFolder | kReqKeepId, folder);
  if (hr != plat::S_OK && hr != kPending) folder->Release();
  return hr;
}

plat::HRESULT CAgent::ForwardRequest(std::int32_t code, const std::string& text, CVirtualFolder* folder,
                                     std::int32_t* sequence) {
  // Nothing goes to an agent that is gone, nor for a folder of another connection: the folder
  // ends such a request itself.
  if (removed_ || !folder || !OwnsFolder(folder)) return plat::E_FAIL;
  folder->AddRef();
  std::uint32_t flags = kAgentForFolder;
  plat::HRESULT hr = plat::S_OK;
  if (code != kReqLogon) {
    hr = SyncUserPath(folder);
    if (hr != plat::S_OK && hr != kPending) {
      folder->Release();
      return hr;
    }
    flags |= kReqKeepId;
  }
  folder->AddRef();
  hr = QueueRequest(code, text, flags, folder);
  if (hr != plat::S_OK && hr != kPending) folder->Release();
  if (sequence) *sequence = nextId();
  folder->Release();
  return hr;
}

void CAgent::PurgeUserRequests(CUser* user) {
  AddRef();
  PurgeRequests([user](const RequestView& v) {
    return (v.flags & kAgentForFolder) && v.owner && static_cast<CVirtualFolder*>(v.owner)->User() == user;
  });
  Release();
}

}  // namespace kelm::msgserver
