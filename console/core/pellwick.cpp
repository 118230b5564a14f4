#include "console/core/pellwick.h"

#include <algorithm>
#include <cctype>

#include "console/core/document.h"
#include "console/core/virtual_folder.h"
#include "message/agent_channel.h"

namespace kelm::console {

namespace {
constexpr std::uint32_t kConsoleCallbackFlags = 0x1C;

bool Accepted(plat::HRESULT r) { return r == plat::S_OK || r == kPending; }
}  // namespace

CPellwick::CPellwick(CDremmoralDoc* document, std::string name, std::string address, std::string description,
                     const plat::Clock& clock, plat::EventLoop* loop)
    : CMessageApi(clock, loop),
      document_(document),
      loop_(loop),
      name_(std::move(name)),
      address_(std::move(address)),
      description_(std::move(description)) {
  SetLink(CPeaLink::kTargetKey, this);
  if (document_) SetChannelFactory(document_->channelFactory());
}

CPellwick::~CPellwick() {
  // The close below ends what is still queued; its owners may be the very nodes whose release
  // brought this connection down, so nothing is handed on from here.
  destroying_ = true;
  releaseTimer_.stop();
  Close();
  ReleaseAllHeld();
}

void CPellwick::ReleaseAllHeld() {
  std::map<std::int32_t, std::vector<CVirtualFolder*>> held;
  held.swap(held_);
  for (auto& [id, owners] : held) {
    for (CVirtualFolder* node : owners) node->Release();
  }
}

std::size_t CPellwick::heldReferences() const {
  std::size_t n = 0;
  for (const auto& [id, owners] : held_) n += owners.size();
  return n;
}

int CPellwick::Connect() {
  if (document_) document_->ui().SetWaitCursor(true);
  ConnectParams params;
  params.address = address_;
  params.callback = [this](std::int32_t code, void*, const RequestView* view, std::int32_t) {
    return OnCallback(code, view);
  };
  params.context = this;
  params.port = 0;
  params.flags = kConsoleCallbackFlags;
  const std::int32_t r = CMessageApi::Connect(params, 1);
  if (r < 0) {
    if (document_) {
      document_->ShowMessage(MessageBoxRequest{0, "Cannot Connect to MessageAgent via. Com Socket", "",
                                               MsgButtons::Ok, MsgIcon::None, false});
      document_->ui().SetWaitCursor(false);
    }
    return r;
  }
  if (r == 0) {
    firstQueryPending_ = true;
    QueueRequest(kReqChangeFolder, "\\", kReqFirstQuery | kReqSplit, nullptr);
    firstQueryId_ = nextId();
    QueueRequest(kReqQuery, ".", kReqFirstQuery | kReqKeepId, nullptr);
  }
  if (document_) document_->ui().SetWaitCursor(false);
  return r;
}

std::string CPellwick::PathBelowAgent(const std::string& fullPath) {
  std::string_view rest = fullPath;
  int cuts = 0;
  if (!rest.empty() && rest[0] == '\\') {
    rest.remove_prefix(1);
    ++cuts;
    const std::size_t root = rest.find('\\');
    if (root != std::string_view::npos) {
      rest.remove_prefix(root + 1);
      ++cuts;
      const std::size_t agent = rest.find('\\');
      if (agent != std::string_view::npos) {
        rest.remove_prefix(agent);  // keeps the "\" before the rest
        return std::string(rest);
      }
      return "\\";  // the agent itself
    }
  }
  (void)cuts;
  return std::string(rest);
}

plat::HRESULT CPellwick::QueueOwned(std::int32_t code, std::string text, std::uint32_t flags, CVirtualFolder* owner) {
  if (owner) owner->AddRef();
  const plat::HRESULT r = QueueRequest(code, std::move(text), flags, owner);
  if (owner) {
    if (Accepted(r)) {
      held_[nextId()].push_back(owner);
      ScheduleRelease();
    } else {
      owner->Release();
    }
  }
  return r;
}

void CPellwick::ScheduleRelease() {
  if (releaseTimer_.started() || !loop_) return;
  releaseTimer_ = loop_->singleShot(std::chrono::milliseconds(0), [this] {
    releaseTimer_ = plat::Timer();
    ReleaseFinished();
  });
}

void CPellwick::ReleaseFinished() {
  if (held_.empty()) return;
  std::vector<std::int32_t> live;
  for (const RequestView& r : QueueSnapshot()) live.push_back(r.id);
  std::vector<CVirtualFolder*> done;
  for (auto it = held_.begin(); it != held_.end();) {
    if (std::find(live.begin(), live.end(), it->first) == live.end()) {
      done.insert(done.end(), it->second.begin(), it->second.end());
      it = held_.erase(it);
    } else {
      ++it;
    }
  }
  for (CVirtualFolder* node : done) node->Release();
  if (!held_.empty()) ScheduleRelease();
}

plat::HRESULT CPellwick::ChangeFolderTo(CVirtualFolder* node) {
  PeaRef<CPellwick> self(this);
  PeaRef<CVirtualFolder> keep(node);
  return QueueOwned(kReqChangeFolder, PathBelowAgent(node->GetPath()), kReqToOwner | kReqSplit, node);
}

plat::HRESULT CPellwick::FolderRequest(CVirtualFolder* node, std::int32_t code, std::string text,
                                       std::uint32_t flags) {
  PeaRef<CPellwick> self(this);
  PeaRef<CVirtualFolder> keep(node);
  const plat::HRESULT r = ChangeFolderTo(node);
  if (!Accepted(r)) return r;
  return QueueOwned(code, std::move(text), flags, node);
}

plat::HRESULT CPellwick::ListFolder(CVirtualFolder* node) {
  return FolderRequest(node, kReqListRights, "", kReqToOwner | kReqKeepId);
}

plat::HRESULT CPellwick::QueryNode(CVirtualFolder* node, const std::string& text) {
  return FolderRequest(node, kReqQuery, text, kReqToOwner | kReqKeepId);
}

plat::HRESULT CPellwick::SetNodeProperty(CVirtualFolder* node, const std::string& name, const std::string& value) {
  return FolderRequest(node, kReqSetProperty, name + "@" + value, kReqToOwner | kReqKeepId);
}

plat::HRESULT CPellwick::InvokeNodeMethod(CVirtualFolder* node, const std::string& method,
                                          const std::string& arguments) {
  return FolderRequest(node, kReqInvoke, method + "@" + arguments, kReqToOwner | kReqKeepId);
}

plat::HRESULT CPellwick::ReloadNode(CVirtualFolder* node) {
  PeaRef<CVirtualFolder> keep(node);
  const plat::HRESULT r = FolderRequest(node, kReqRefresh, "", kReqToOwner | kReqKeepId);
  if (!Accepted(r)) return r;
  return QueueOwned(kReqListRights, "", kReqToOwner | kReqKeepId, node);
}

bool CPellwick::ListingQueued(const CVirtualFolder* node) const {
  return Queued(kReqListRights, node);
}

plat::HRESULT CPellwick::LogonNode(CVirtualFolder* node, const std::string& credentials) {
  return FolderRequest(node, kReqLogon, "logon " + credentials, kReqToOwner);
}

plat::HRESULT CPellwick::LogoffNode(CVirtualFolder* node, const std::string& handle) {
  PeaRef<CPellwick> self(this);
  PeaRef<CVirtualFolder> keep(node);
  const plat::HRESULT r = ChangeFolderTo(node);
  if (!Accepted(r)) return r;
  // The engine's logoff takes the change-folder's identifier and purges what this logon still has
  // queued: nothing asked before the logoff is answered after it. The connection is one logon, so
  // every queued path is of it.
  if (node) node->AddRef();
  Logoff(handle, kReqToOwner, node, "\\");
  if (node) {
    held_[nextId()].push_back(node);
    ScheduleRelease();
  }
  return plat::S_OK;
}

std::int32_t CPellwick::OnCallback(std::int32_t code, const RequestView* view) {
  if (destroying_) return 0;
  PeaRef<CPellwick> self(this);
  std::optional<CDremmoralDoc::CallbackScope> scope;
  if (document_) scope.emplace(document_);
  if (code == kReqClose || !view) {
    if (document_) document_->OnConnectionClosed(this);
    return 0;
  }
  // Notifications never belong to the first query.
  if (firstQueryPending_ && view->state != kStatusNotify) {
    const std::int32_t r = OnFirstQueryReply(code, *view);
    if (r != 259) return r;
  }
  if (document_) {
    document_->ui().SetActivity(view->state == kStatusPartial || view->state == kStatusFinal ? view->replyCount
                                                                                             : -1);
  }
  if ((view->flags & kReqToOwner) && view->owner) {
    if (auto* node = dynamic_cast<CVirtualFolder*>(view->owner)) {
      PeaRef<CVirtualFolder> keep(node);
      node->OnReply(code, view->state, view->text);
    }
    if (view->state == kStatusFinal) ScheduleRelease();
    return 0;
  }
  if (view->state == kStatusNotify) {
    if (firstQueryPending_ && code == kNotifyNotLoggedOn) {
      // The agent refuses the first query's own question: end it now rather than after its time-out.
      const std::vector<RequestView> queue = QueueSnapshot();
      if (!queue.empty() && queue.front().id == firstQueryId_ && queue.front().code == kReqQuery) {
        AbortRequestsOfId(firstQueryId_);
      }
    }
    std::string text = view->text == "\\" ? std::string() : view->text;
    text = "\\" + name_ + text;
    const std::size_t at = text.find('@', 1);
    std::string path = at == std::string::npos ? text : text.substr(0, at);
    const std::string payload = at == std::string::npos ? std::string() : text.substr(at + 1);
    while (!path.empty() && std::isspace(static_cast<unsigned char>(path.back()))) path.pop_back();
    if (path.size() > 1 && path.back() == '\\') path.pop_back();
    if (!document_) return 0;
    CVirtualFolder* node = document_->root()->FindByPath(path);
    if (node && node->GetConnection() == this) {
      PeaRef<CVirtualFolder> keep(node);
      return node->OnNotification(code, payload);
    }
  }
  return 0;
}

std::int32_t CPellwick::OnFirstQueryReply(std::int32_t code, const RequestView& view) {
  if (view.id != firstQueryId_) {
    firstQueryPending_ = false;
    return 259;
  }
  if (code == kReqChangeFolder) return 0;
  if (code == kReqQuery && view.state == kStatusPartial) {
    if (view.text.rfind(".@", 0) == 0) {
      ownEntry_ = view.text.substr(2);
      const std::size_t at = ownEntry_.find('@');
      name_ = at == std::string::npos ? ownEntry_ : ownEntry_.substr(0, at);
    }
    return 0;
  }
  if (view.state == kStatusFinal) {
    firstQueryPending_ = false;
    if (document_) {
      document_->OnServerConnected(this);
      // The agent never answered its first query: it is the agent that is gone.
      if (ParseResultCode(view.text) == kResultTimeOut) document_->OnFirstQueryTimedOut(this);
    }
  }
  return 0;
}

}  // namespace kelm::console
