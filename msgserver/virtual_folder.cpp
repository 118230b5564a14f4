#include "msgserver/virtual_folder.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>

#include "msgserver/agent_conn.h"
#include "msgserver/pellwick_doc.h"
#include "msgserver/user.h"
#include "platform/base/format.h"

namespace kelm::msgserver {

std::int32_t ServerCode(std::int32_t consoleCode) {
  switch (consoleCode) {
    case kReqListRights:
      return kSrvListRights;
    case kReqChangeFolder:
      return kSrvChangeFolder;
    case kReqQuery:
      return kSrvQuery;
    case kReqSetProperty:
      return kSrvSetProperty;
    case kReqRefresh:
      return kSrvRefresh;
    default:
      return 0;
  }
}

std::int32_t ConsoleCode(std::int32_t code) {
  if (code >= 0xA001 && code <= 0xA006) return code - 0xA001 + kReqListRights;
  if (code == kReqLogon || code == kReqListRights || (code >= kReqQuery && code <= kReqRefresh)) return code;
  return 0;
}

CVirtualFolder::~CVirtualFolder() = default;

CUser* CVirtualFolder::User() const { return dynamic_cast<CUser*>(GetContextLink()); }

CAgent* CVirtualFolder::OwnerAgent() const { return dynamic_cast<CAgent*>(GetOwnerLink()); }

const CVirtualFolder* CVirtualFolder::AgentFolder() const {
  for (const CPea* p = this; p; p = p->GetParent()) {
    if (p->value() == "2") return dynamic_cast<const CVirtualFolder*>(p);
    // The root's child stands for an agent whatever its value says.
    if (p->GetParent() && !p->GetParent()->GetParent()) return dynamic_cast<const CVirtualFolder*>(p);
  }
  return nullptr;
}

void CVirtualFolder::SetLogonKey(std::int32_t key) {
  if (auto* f = const_cast<CVirtualFolder*>(AgentFolder())) f->logonKey_ = key;
}

std::int32_t CVirtualFolder::GetLogonKey() const {
  const CVirtualFolder* f = AgentFolder();
  return f ? f->logonKey_ : -1;
}

void CVirtualFolder::GetPath(std::string& out) const {
  std::vector<const CPea*> chain;
  for (const CPea* p = this; p && p->GetParent(); p = p->GetParent()) chain.push_back(p);
  out = "\\";
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) out += '\\';
    out += (*it)->name();
  }
}

CPea* CVirtualFolder::AddEntry(const std::string& text) {
  const std::size_t a = text.find('@');
  if (a == std::string::npos || a == 0) return nullptr;
  const std::size_t b = text.find('@', a + 1);
  if (b == std::string::npos || b == a + 1) return nullptr;
  const std::string name = text.substr(0, a);
  std::string type = text.substr(a + 1, b - a - 1);
  std::string value = text.substr(b + 1);
  if (CPea* child = FindChild(name)) {
    child->setType(std::move(type));
    child->setValue(std::move(value));
    return child;
  }
  CPea* child = type[0] == 'o' ? new CVirtualFolder : new CPea;
  child->setName(name);
  child->setType(std::move(type));
  child->setValue(std::move(value));
  child->SetParent(this, GetContextLink(), GetOwnerLink());
  if (AddChild(child) != plat::S_OK) {
    delete child;
    return nullptr;
  }
  return child;
}

void CVirtualFolder::Queue(std::int32_t code, std::int32_t id, std::string text, std::uint32_t flags, bool atHead) {
  FolderRequest r;
  r.code = code;
  r.id = id;
  r.text = std::move(text);
  r.flags = flags;
  if (CUser* u = User()) r.bytes = BudgetShare(u->QueuedBytes(), r.text.size());
  if (atHead)
    queue_.push_front(std::move(r));
  else
    queue_.push_back(std::move(r));
}

void CVirtualFolder::OnRequest(const CMessage& m) {
  if (m.code == kReqClose) return;
  CUser* user = User();
  if (m.code == kReqLogon && IsRoot()) {
    if (user) user->SendMessage(CMessage(m.code, m.id, kStatusFinal, FormatResult(kResultAccessDenied)));
    return;
  }
  const std::int32_t own = ServerCode(m.code);
  const bool known = m.code >= kReqLogon && m.code <= kReqRefresh;
  if (!known) return;
  if (Refuse(m)) return;
  if (m.code != kReqLogon && !(m.code == kReqChangeFolder && m.text == "\\") && !listed_ && !listing_) {
    listing_ = true;
    Queue(kReqListRights, m.id, "", kFolderOwn);
  }
  if (m.code == kReqRefresh) {
    if (IsRoot()) {
      if (user) user->Doc().AnnounceServer();
    } else if (!listing_) {
      listing_ = true;
      Queue(kReqRefresh, m.id, "", kFolderOwn);
      Queue(kReqListRights, m.id, "", kFolderOwn);
    }
  }
  Queue(own ? own : m.code, m.id, m.text, 0);
  Pump();
}

bool CVirtualFolder::Refuse(const CMessage& m) {
  // A console that floods one folder, or queues more bytes than its share or the server's total
  // allows, is refused; the requests already queued go on.
  CUser* user = User();
  if (!user) return false;
  CPellwickDoc& doc = user->Doc();
  std::string why;
  if (queue_.size() >= doc.Options().maxQueuedPerFolder) {
    why = plat::format("%zu requests are queued there", queue_.size());
  } else if (!user->QueuedBytes()->Fits(m.text.size())) {
    why = plat::format("its console has %zu bytes queued, the server %zu", user->QueuedBytes()->used(),
                       doc.QueuedBytes()->used());
  } else {
    return false;
  }
  doc.LogLimited(CPellwickDoc::kLogRequestRefused, "a console request to " + Path() + " refused: " + why);
  user->SendMessage(CMessage(m.code, m.id, kStatusFinal, FormatResult(kResultError)));
  return true;
}

bool CVirtualFolder::AwaitsSequence(std::int32_t sequence) const {
  return busy_ && !queue_.empty() && queue_.front().agentId == sequence;
}

void CVirtualFolder::PassToConsole(const FolderRequest& r) {
  if (r.flags & kFolderOwn) return;
  const std::int32_t code = ConsoleCode(r.code);
  if (code == 0) return;
  if (CUser* u = User()) u->SendMessage(CMessage(code, r.id, r.state, r.text));
}

void CVirtualFolder::EndRequest(FolderRequest& r, std::int32_t result) {
  r.state = kStatusFinal;
  r.text = FormatResult(result);
}

void CVirtualFolder::Pump() {
  // Counted: a reply passed on may end the console, and with it this tree.
  if (pumping_) return;
  pumping_ = true;
  AddRef();
  {
    CUser::ReplyBatch batch(User());
    while (PumpStep()) {
    }
  }
  pumping_ = false;
  Release();
}

bool CVirtualFolder::PumpStep() {
  if (busy_ || queue_.empty()) return false;
  FolderRequest& head = queue_.front();
  if (head.state == kStatusFinal) {
    FolderRequest done = std::move(head);
    queue_.pop_front();
    PassToConsole(done);
    return true;
  }
  if (head.code >= 0xA001 && head.code <= 0xA006) return LocalHandler(head);
  if (head.state != kStatusRequest) return false;
  CAgent* agent = OwnerAgent();
  if (!agent) {
    // Nothing in the server's own folder goes to an agent.
    head.flags |= kFolderFailed;
    EndRequest(head, kResultAccessDenied);
    return true;
  }
  busy_ = true;
  busyTicks_ = 0;
  const std::int32_t code = head.code;
  const std::string text = head.text;
  std::int32_t sequence = 0;
  const plat::HRESULT hr = agent->ForwardRequest(code, text, this, &sequence);
  const bool failed = hr != plat::S_OK && hr != kPending;
  if (!failed && busy_ && !queue_.empty() && queue_.front().code == code) queue_.front().agentId = sequence;
  if (failed && sequence) agent->WithdrawUnsentOfId(sequence);
  if (failed && busy_ && !queue_.empty() && queue_.front().code == code &&
      queue_.front().state == kStatusRequest) {
    busy_ = false;
    FolderRequest& h = queue_.front();
    EndRequest(h, kResultError);
    EndAgentStep();
    return true;
  }
  return false;
}

bool CVirtualFolder::LocalHandler(FolderRequest& head) {
  CUser* user = User();
  switch (head.code) {
    case kSrvListRights:
      if (head.flags & kFolderFailed) {
        head.state = kStatusFinal;
        return true;
      }
      head.state = kStatusPartial;
      for (Position pos = GetFirstChildPosition(); pos;) {
        CPea* child = GetNextChild(pos);
        std::string entry;
        child->GetFullName(entry);
        if (user) user->SendMessage(CMessage(kReqListRights, head.id, kStatusPartial, entry));
      }
      EndRequest(head, kResultFunctional);
      return true;
    case kSrvChangeFolder: {
      if (head.flags & kFolderFailed) {
        head.state = kStatusFinal;
        return true;
      }
      std::int32_t result = kResultNotFound;
      if (head.text == "\\") {
        if (user) user->SetCurrentFolder(nullptr);
        result = kResultFunctional;
      } else if (head.text == "..") {
        if (auto* parent = dynamic_cast<CVirtualFolder*>(GetParent())) {
          if (user) user->SetCurrentFolder(parent);
          result = kResultFunctional;
        }
      } else if (auto* child = dynamic_cast<CVirtualFolder*>(FindChild(head.text)); child && child->IsFolder()) {
        if (user) user->SetCurrentFolder(child);
        result = kResultFunctional;
      }
      EndRequest(head, result);
      return true;
    }
    case kSrvQuery: {
      if (head.flags & kFolderFailed) {
        head.state = kStatusFinal;
        return true;
      }
      const bool self = head.text == ".";
      CPea* target = self ? this : FindChild(head.text);
      if (head.state == kStatusRequest) {
        head.state = kStatusPartial;
        if (!target) {
          head.flags |= kFolderFailed;
          EndRequest(head, kResultError);
        } else if (!self && !target->IsReadableProperty()) {
          head.flags |= kFolderFailed;
          EndRequest(head, kResultAccessDenied);
        } else if (!self && target->IsVolatileProperty() && OwnerAgent()) {
          // A value that changes by itself is read from the agent first.
          Queue(kReqQuery, head.id, head.text, kFolderOwn, true);
        }
        return true;
      }
      if (!target) {
        EndRequest(head, kResultNotFound);
        return true;
      }
      std::string entry;
      target->GetFullName(entry);
      if (self) entry = ".@" + entry;
      if (user) user->SendMessage(CMessage(kReqQuery, head.id, kStatusPartial, entry));
      EndRequest(head, kResultFunctional);
      return true;
    }
    case kSrvSetProperty:
      if (head.state == kStatusRequest) {
        if (!OwnerAgent()) {
          // The server's own folder has nothing to set.
          head.flags |= kFolderFailed;
          EndRequest(head, kResultAccessDenied);
          return true;
        }
        head.state = kStatusPartial;
        const std::int32_t id = head.id;
        const std::string text = head.text;
        Queue(kReqSetProperty, id, text, kFolderOwn, true);
        return true;
      }
      head.state = kStatusFinal;
      if (!(head.flags & kFolderFailed)) EndRequest(head, kResultFunctional);
      return true;
    case kSrvRefresh:
      head.state = kStatusFinal;
      if (!(head.flags & kFolderFailed)) EndRequest(head, kResultFunctional);
      return true;
    default:
      EndRequest(head, kResultInvalidArgument);
      return true;
  }
}

void CVirtualFolder::EndAgentStep() {
  if (queue_.empty()) {
    busy_ = false;
    return;
  }
  const FolderRequest& head = queue_.front();
  if (ParseResultCode(head.text) != kResultFunctional) {
    for (std::size_t i = 1; i < queue_.size(); ++i) {
      FolderRequest& r = queue_[i];
      if (r.id != head.id) continue;
      r.flags |= kFolderFailed;
      r.text = head.text;
      if (r.state == kStatusRequest) r.state = kStatusFinal;
    }
  }
  busy_ = false;
}

plat::HRESULT CVirtualFolder::OnAgentReply(std::int32_t code, const RequestView& view) {
  if (queue_.empty()) return plat::S_OK;
  FolderRequest& head = queue_.front();
  // A reply of another sequence (one that timed out here) is not this request's.
  if (head.code != code || !busy_ || view.id != head.agentId) return plat::E_INVALIDARG;
  AddRef();
  CUser::ReplyBatch batch(User());
  head.state = view.state;
  head.text = view.text;
  const bool final = view.state == kStatusFinal;
  plat::HRESULT result = plat::S_OK;
  switch (code) {
    case kReqLogon:
      if (!final) {
        const std::string& t = view.text;
        if (t.size() > 6 && ::strncasecmp(t.c_str(), "logon ", 6) == 0) {
          char* end = nullptr;
          const unsigned long key = std::strtoul(t.c_str() + 6, &end, 16);
          if (end != t.c_str() + 6 && key <= 0xFFFFFFFFul) SetLogonKey(static_cast<std::int32_t>(key));
        }
        PassToConsole(head);
      } else {
        EndAgentStep();
      }
      break;
    case kReqListRights:
      if (!final) {
        if (CPea* child = AddEntry(view.text)) {
          if (std::find(seen_.begin(), seen_.end(), child) == seen_.end()) seen_.push_back(child);
        }
      } else {
        listing_ = false;
        const bool ok = ParseResultCode(view.text) == kResultFunctional;
        if (ok) {
          listed_ = true;
          // A child the agent no longer names is gone.
          std::vector<CPea*> gone;
          for (Position pos = GetFirstChildPosition(); pos;) {
            CPea* c = GetNextChild(pos);
            if (std::find(seen_.begin(), seen_.end(), c) == seen_.end()) gone.push_back(c);
          }
          for (CPea* c : gone) RemoveChild(c);
        }
        seen_.clear();
        EndAgentStep();
      }
      break;
    case kReqQuery:
      if (!final) {
        if (view.text.rfind(".@", 0) == 0) {
          const std::string rest = view.text.substr(2);
          const std::size_t a = rest.find('@');
          const std::size_t b = a == std::string::npos ? a : rest.find('@', a + 1);
          // The agent folder keeps the name it is known by in every path.
          if (b != std::string::npos && a > 0) {
            if (AgentFolder() != this) setName(rest.substr(0, a));
            setType(rest.substr(a + 1, b - a - 1));
            setValue(rest.substr(b + 1));
          }
        } else {
          AddEntry(view.text);
        }
      } else {
        EndAgentStep();
      }
      break;
    case kReqInvoke:
      if (!final)
        PassToConsole(head);
      else
        EndAgentStep();
      break;
    case kReqChangeFolder:
    case kReqSetProperty:
    case kReqRefresh:
      if (final) EndAgentStep();
      break;
    default:
      result = plat::E_INVALIDARG;
      break;
  }
  Pump();
  Release();
  return result;
}

void CVirtualFolder::AbortHeadId() {
  if (CUser* u = User()) u->SendCode(kNotifyNotLoggedOn, Path());
  if (!queue_.empty()) {
    const std::int32_t id = queue_.front().id;
    bool first = true;
    std::string text = FormatResult(kResultAbort);
    for (FolderRequest& r : queue_) {
      if (r.id != id) continue;
      if (first) {
        first = false;
        if (r.state == kStatusFinal) {
          r.flags |= kFolderOwn;
          text = r.text;
          continue;
        }
      }
      if (r.code == kReqListRights && !listed_) listing_ = false;
      r.state = kStatusFinal;
      r.text = text;
    }
  }
  busy_ = false;
  Pump();
}

void CVirtualFolder::CloseTree() {
  for (FolderRequest& r : queue_) EndRequest(r, kResultAbort);
  busy_ = false;
  listing_ = false;
  Pump();
  for (Position pos = GetFirstChildPosition(); pos;)
    if (auto* f = dynamic_cast<CVirtualFolder*>(GetNextChild(pos))) f->CloseTree();
}

void CVirtualFolder::TickTree() {
  if (busy_ && !queue_.empty()) {
    FolderRequest& head = queue_.front();
    // Waiting behind other consoles' requests on the agent's one connection does not count.
    if (!head.atAgent) {
      const CAgent* agent = OwnerAgent();
      head.atAgent = agent && head.agentId != 0 && agent->lastSentId() == head.agentId;
    }
    const CUser* user = User();
    const int limit = user ? user->Doc().Options().folderTimeoutTicks : kBusyTimeoutTicks;
    if (head.atAgent && ++busyTicks_ >= limit) {
      // The agent never answered for this head: the console hears so, and the queue moves on.
      // What of its sequence is still unsent is withdrawn; what is at the agent answers into
      // nothing, since its identifier is no longer awaited here.
      const std::int32_t sequence = head.agentId;
      EndRequest(head, kResultTimeOut);
      head.agentId = 0;
      if (head.code == kReqListRights) listing_ = false;
      EndAgentStep();
      if (CAgent* agent = OwnerAgent(); agent && sequence) agent->WithdrawUnsentOfId(sequence);
      Pump();
    }
  }
  for (Position pos = GetFirstChildPosition(); pos;)
    if (auto* f = dynamic_cast<CVirtualFolder*>(GetNextChild(pos))) f->TickTree();
}

}  // namespace kelm::msgserver
