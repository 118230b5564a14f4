#include "console/core/document.h"

#include <algorithm>
#include <cctype>

#include "agent/crypto/base64.h"
#include "agent/crypto/logon_token.h"
#include "console/core/array_action.h"
#include "console/core/menus.h"
#include "console/core/strings.h"
#include "message/agent_channel.h"
#include "platform/base/format.h"
#include "platform/kernel/named_objects.h"
#include "platform/registry/registry.h"

namespace kelm::console {

namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValue = "Velkari Tech.";
constexpr const char* kAgentKey = "SOFTWARE\\Velkari Technology, Inc.\\Message Agent";
constexpr const char* kStopEvent = "ZODUzAve-ServiceStop";
constexpr std::size_t kMaxLogonText = 255;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

int HighByte(int status) { return (status >> 8) & 0xFF; }

std::string FamilyLabel(const std::string& name) {
  if (name == "VANTREL_RAID") return "PALINDREX";
  if (name == "MVQX_RAID") return "MAROVELT_QX";
  if (name == "MV_RAID") return "MAROVELT";
  if (name == "SC_RAID") return "SORVENTIC";
  return "Unknown";
}

}  // namespace

// ---- construction and lifetime ----

CDremmoralDoc::CDremmoralDoc(UiServices& ui, plat::EventLoop& loop, const plat::Clock& clock,
                             DocumentOptions options)
    : ui_(ui),
      loop_(loop),
      clock_(clock),
      options_(std::move(options)),
      profile_(options_.registryKey, options_.appName) {
  link_.SetLink(CPeaLink::kTargetKey, this);
  link_.AddRef();  // the document owns its link; nodes count it on top
  root_ = new CRootFolder(profile_.getString("MessageServer", "MyConsole", "MyConsole"));
  root_->AddRef();
  root_->Attach(nullptr, &link_, nullptr);
  runOnStartup_ = IsRunOnStartup();
  LoadDisplay();
}

CDremmoralDoc::~CDremmoralDoc() {
  Close();
  // What still holds nodes goes while the document can still be told of them leaving.
  deferred_.clear();
  reloadTimers_.clear();
  flushTimer_ = plat::Timer();
  pendingCommands_.clear();
  commandNode_.reset();
  viewSelection_.reset();
  currentIopController_.reset();
  newArrayDisks_.clear();
  if (root_) {
    root_->RemoveChild(nullptr);
    root_->Release();
    root_ = nullptr;
  }
}

void CDremmoralDoc::OnInitialUpdate() {
  AddLocalAgent();
  UpdateAllViews(kHintInitialUpdate, nullptr);
  if (!display_.sysFont) UpdateAllViews(kHintFont, nullptr);
  if (!display_.sysBkColor) UpdateAllViews(kHintBackground, nullptr);
  if (!display_.sysTxtColor) UpdateAllViews(kHintTextColour, nullptr);
}

void CDremmoralDoc::Close() {
  if (closed_) return;
  closed_ = true;
  SaveProfiles();
  SaveDisplay();
  if (root_ && !root_->name().empty()) (void)profile_.writeString("MessageServer", "MyConsole", root_->name());
  RemoveConnection(nullptr);
}

ChannelFactory CDremmoralDoc::channelFactory() const {
  if (options_.channelFactory) return options_.channelFactory;
  // The channel's own failure text is shown first, then the connection's.
  CDremmoralDoc* self = const_cast<CDremmoralDoc*>(this);
  return AgentChannelFactory([self](const std::string& text) {
    self->ShowMessage(MessageBoxRequest{0, text, "", MsgButtons::Ok, MsgIcon::None, false});
  });
}

void CDremmoralDoc::Defer(std::function<void()> fn) {
  deferred_.erase(std::remove_if(deferred_.begin(), deferred_.end(), [](const plat::Timer& t) { return !t.started(); }),
                  deferred_.end());
  auto holder = std::make_shared<std::function<void()>>(std::move(fn));
  deferred_.push_back(plat::Timer());
  plat::Timer* slot = &deferred_.back();
  *slot = loop_.singleShot(std::chrono::milliseconds(0), [holder] { (*holder)(); });
}

// ---- views and the current node ----

void CDremmoralDoc::AddView(DocumentView* view) {
  if (view && std::find(views_.begin(), views_.end(), view) == views_.end()) views_.push_back(view);
}

void CDremmoralDoc::RemoveView(DocumentView* view) {
  views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

void CDremmoralDoc::UpdateAllViews(int hint, CPea* node) {
  PeaRef<CPea> keep(node);
  const std::vector<DocumentView*> views = views_;
  for (DocumentView* v : views) {
    if (std::find(views_.begin(), views_.end(), v) != views_.end()) v->OnUpdate(hint, node);
  }
}

CPea* CDremmoralDoc::GetCurrentNode() const {
  if (commandNode_) return commandNode_.get();
  return viewSelection_.get();
}

void CDremmoralDoc::SetCommandNode(CPea* node) {
  commandNode_ = PeaRef<CPea>(node);
  UpdateUserText();
}

void CDremmoralDoc::SetViewSelection(CPea* node) { viewSelection_ = PeaRef<CPea>(node); }

bool CDremmoralDoc::IsInTree(const CPea* node) const {
  for (const CPea* n = node; n; n = n->GetParent()) {
    if (n == root_) return true;
  }
  return false;
}

void CDremmoralDoc::OnSelectionChanged(CPea* node) {
  PeaRef<CPea> keep(node);
  UpdateAllViews(kHintCurrentChanged, node);
  if (auto* folder = AsFolder(node)) {
    PeaRef<CVirtualFolder> keepFolder(folder);
    if (IsArrayType(folder->nodeType())) {
      const std::uint32_t old = folder->SetFlags(0, CVirtualFolder::kFlagPassive);
      folder->Refresh();
      folder->SetFlags(old, CVirtualFolder::kFlagPassive);
    } else {
      folder->Refresh();
    }
    const int t = folder->nodeType();
    if (t == kNodeIopDisk || t == kNodeRaidSystem || t == kNodeIdeDisk || t == kNodeSerialDisk) folder->Reload();
    if (reloadArrays_ && (t == kNodeIopArray || t == kNodeSerialArray)) {
      if (auto* parent = dynamic_cast<CVirtualFolder*>(folder->GetParent())) parent->Reload();
    }
    if (reloadControllers_ && (t == kNodeIopController || t == kNodeSerialController)) folder->Reload();
  }
  reloadArrays_ = reloadControllers_ = false;
}

CVirtualFolder* CDremmoralDoc::CurrentFolder() { return AsFolder(GetCurrentNode()); }

void CDremmoralDoc::UpdateUserText() {
  std::string text(LoadString(kStrNoUser));
  if (auto* folder = AsFolder(GetCurrentNode())) {
    if (CVirtualFolder* agent = folder->FindAgent()) {
      const std::string token = agent->GetProperty("UserProfile", "", true);
      if (agent->GetIntProperty("bValidProfile", 0, true) != 0 && !token.empty()) {
        text = crypto::TokenUserName(token);
      }
    }
  }
  userText_ = text;
  ui_.SetUserText(text);
}

// ---- message boxes ----

int CDremmoralDoc::ShowMessage(MessageBoxRequest request) {
  if (request.stringId != 0 && request.text.empty()) request.text = std::string(LoadString(request.stringId));
  if (callbackDepth_ > 0 || boxOpen_ > 0) {
    // Never inside the engine and never nested: shown once nothing is open.
    if (request.buttons != MsgButtons::Ok) return request.buttons == MsgButtons::YesNo ? kIdNo : kIdCancel;
    pendingMessages_.push_back(std::move(request));
    ScheduleFlush();
    return kIdOk;
  }
  ++boxOpen_;
  const int answer = ui_.MessageBox(request);
  --boxOpen_;
  if (!pendingMessages_.empty() || !pendingCommands_.empty()) ScheduleFlush();
  return answer;
}

void CDremmoralDoc::ScheduleFlush() {
  if (flushTimer_.started()) return;
  flushTimer_ = loop_.singleShot(std::chrono::milliseconds(0), [this] {
    flushTimer_ = plat::Timer();
    FlushMessages();
  });
}

void CDremmoralDoc::FlushMessages() {
  while (!pendingMessages_.empty() && callbackDepth_ == 0 && boxOpen_ == 0) {
    MessageBoxRequest r = std::move(pendingMessages_.front());
    pendingMessages_.pop_front();
    ++boxOpen_;
    ui_.MessageBox(r);
    --boxOpen_;
  }
  while (pendingCommands_.empty() == false && pendingMessages_.empty() && callbackDepth_ == 0 && boxOpen_ == 0) {
    PendingCommand c = std::move(pendingCommands_.front());
    pendingCommands_.pop_front();
    // A command queued for a node that left the tree meanwhile is dropped.
    if (c.node && !IsInTree(c.node.get())) continue;
    PeaRef<CPea> previous = commandNode_;
    commandNode_ = c.node;
    OnCommand(c.id);
    if (commandNode_.get() == c.node.get()) commandNode_ = previous;
  }
}

bool CDremmoralDoc::AnyInTree(const std::set<const CPea*>& nodes) const {
  return std::any_of(nodes.begin(), nodes.end(), [this](const CPea* n) { return IsInTree(n); });
}

CDremmoralDoc::CallbackScope::CallbackScope(CDremmoralDoc* doc) : doc_(doc) { ++doc_->callbackDepth_; }
CDremmoralDoc::CallbackScope::~CallbackScope() { --doc_->callbackDepth_; }

// ---- labels and images ----

NodeLabel CDremmoralDoc::BuildNodeLabel(CPea* node) {
  NodeLabel info;
  if (!node) node = root_;
  PeaRef<CPea> keep(node);
  CPea* resolved = ResolveShortCut(node);
  if (node != resolved && resolved) {
    if (auto* disk = dynamic_cast<CVirtualFolder*>(resolved)) disk->SetLocalIntProperty("Status", 768);
  }
  auto* folder = dynamic_cast<CVirtualFolder*>(resolved);
  if (!resolved) return info;
  info.node = resolved;
  info.text = resolved->name();
  if (!folder) return info;
  const int type = folder->nodeType();
  info.nodeType = type;
  switch (type) {
    case kNodeRaidSystem:
      info.text = FamilyLabel(folder->name());
      if (folder->name() == "VANTREL_RAID") notIop_ = false;
      break;
    case kNodeIopController:
      currentIopController_ = PeaRef<CVirtualFolder>(folder);
      iopIsQx6_ = folder->GetIntProperty("IsQx6", 99);
      break;
    case kNodeSerialController:
      freeDiskAvailable_ = folder->GetIntProperty("hasSpare", 0) != 0;
      arrayAct_ = folder->GetIntProperty("ArrayAct", 0);
      break;
    case kNodeAgent: {
      const std::string n = folder->GetProperty("name", "");
      if (!n.empty()) info.text = n;
      break;
    }
    case kNodeServer: {
      const std::string d = folder->GetProperty("Description", "");
      if (!d.empty()) info.text = d;
      break;
    }
    default:
      break;
  }
  if (!IsArrayType(type)) {
    // A node relabelled as something else is no longer an alarmed or busy array.
    alarmed_.erase(folder);
    tasked_.erase(folder);
  }
  if (IsArrayType(type)) {
    std::string name = folder->GetProperty("name", "");
    if (name.empty()) {
      name = "Array";
    } else if (type == kNodeIopArray && name.find("Ary") != std::string::npos && name.size() > 3) {
      name = std::string("Array") + name[3];
    }
    info.text = name;
    const int status = folder->GetIntProperty("Status", 0);
    const int task = status & 0xFF00;
    int taskWord = 0;
    switch (task) {
      case 0x100:
        taskWord = kStrSynchronizing;
        break;
      case 0x200:
        taskWord = kStrRebuilding;
        break;
      case 0x300:
        taskWord = kStrExpanding;
        break;
      case 0x400:
        taskWord = kStrConverting;
        break;
      case 0x500:
        taskWord = kStrInitializing;
        break;
      default:
        break;
    }
    if (taskWord != 0) {
      int percent = folder->GetIntProperty("percent", 0);
      if (percent > 100 || percent < 0) percent = 0;
      lastArrayPercent_ = percent;
      info.text = plat::format("%s %s %i%%", info.text.c_str(), std::string(LoadString(taskWord)).c_str(), percent);
      alarmed_.erase(folder);
      if (task >= 0x300) {
        tasked_.insert(folder);
      } else {
        tasked_.erase(folder);
      }
    } else {
      tasked_.erase(folder);
      int word = kStrFunctional;
      if (static_cast<std::uint32_t>(status) == 0x80000001u) word = kStrCritical;
      if (static_cast<std::uint32_t>(status) == 0x80000002u) word = kStrOffline;
      if (word != kStrFunctional) {
        alarmed_.insert(folder);
        info.text += " (" + std::string(LoadString(word)) + ")";
      } else {
        alarmed_.erase(folder);
      }
      if (guiStatusCount_ < 2) {
        ++guiStatusCount_;
        folder->Invoke("GUI_Status", std::string(LoadString(word)));
      }
    }
    lastArrayStatus_ = status;
  } else if (IsDiskType(type)) {
    auto* parent = dynamic_cast<CVirtualFolder*>(folder->GetParent());
    if (node != resolved && dynamic_cast<CShortCut*>(node)) {
      info.text = folder->GetPathBelow(kNodeRaidSystem) + " (" + folder->name() + ")";
    } else if (parent && IsArrayType(parent->nodeType())) {
      const int channel = folder->GetIntProperty("Channel", -1, true);
      const std::string model = folder->GetProperty("model", "");
      // Until the disk's values arrive its channel is unknown: it shows its own name rather than
      // a made-up "ch0".
      if (channel >= 0) info.text = plat::format("ch%d", channel + 1) + "\\" + (model.empty() ? folder->name() : model);
    } else {
      const std::string model = folder->GetProperty("model", "");
      if (!model.empty()) info.text = folder->name() + " (" + model + ")";
    }
  } else if (type == kNodeChannel || type == kNodeIdeChannel) {
    folder->GetProperty("ChannelType", "");
  } else if (type == kNodeEnclosure) {
    folder->GetProperty("BuzzStatus", "");
  } else if (type == kNodeUser) {
    folder->GetProperty("Dummy", "");
  } else if (type == kNodeSensorGroup) {
    folder->GetProperty("Channel", "");
  }
  if (resolved->RefCount() <= 1) info.node = nullptr;  // only the build held it
  return info;
}

int CDremmoralDoc::GetNodeImage(CPea* node) {
  auto* folder = AsFolder(node);
  if (!folder) return 17;
  const int type = folder->nodeType();
  auto status = [&] { return static_cast<std::uint32_t>(folder->GetIntProperty("Status", 0)); };
  switch (type) {
    case kNodeServer:
      return folder->GetIntProperty("ServerStatus", 0, true) == 2 ? 19 : 1;
    case kNodeAgent:
      return folder->GetIntProperty("ServerStatus", 0, true) == 2 ? 25 : 2;
    case kNodeIopArray:
    case kNodeIdeArray:
    case kNodeSerialArray: {
      const std::uint32_t s = status();
      const std::uint32_t task = s & 0xFF00;
      if (task >= 0x100 && task <= 0x300) {
        const std::uint32_t base = s & ~0xFF00u;
        if (base == 0x80000002u) return 20;
        if (base == 0x80000001u) return 21;
        return 3;
      }
      return (s & 0x80000003u) ? 20 : 3;
    }
    case kNodeIopController:
    case kNodeIdeController:
    case kNodeSerialController:
      return 4;
    case kNodeChannel:
    case kNodeIdeChannel:
      return 5;
    case kNodeIopDisk:
    case kNodeIdeDisk:
    case kNodeSerialDisk: {
      const std::uint32_t s = status();
      switch (s & 0xFF00) {
        case 0x100:
          freeDiskAvailable_ = true;
          return 7;
        case 0x300:
          freeDiskAvailable_ = true;
          return 8;
        case 0x200:
          return (s & 0x800000FFu) == 0x80000001u ? 28 : 6;
        default:
          return 6;
      }
    }
    case kNodeEnclosure:
    case kNodeSerialEnclosure:
      return folder->GetIntProperty("HardwareType", 0) == 1 ? 27 : 9;
    case kNodeSensorGroup:
      return 27;
    case kNodePower:
    case kNodeFan:
    case kNodeTemperature: {
      const int base = 10 + (type - kNodePower);
      return base + (status() != 0 ? 12 : 0);
    }
    case kNodeVoltage:
      return 13;
    case kNodeUserAccounts:
      return 14;
    case kNodeUser:
      return 15;
    case kNodeRaidSystem:
      return folder->GetProperty("Type", "", true).find("SOFT") != std::string::npos ? 26 : 16;
    default:
      return 0;
  }
}

void CDremmoralDoc::OnNodeTypeSet(CVirtualFolder* node) {
  if (!node || node->nodeType() != kNodeAgent) return;
  const std::string section = "MessageServer" + node->GetPath();
  profileSections_[node] = section;
  const std::string token = profile_.getString(section, "UserProfile", "");
  const std::string valid = profile_.getString(section, "bValidProfile", "0");
  const std::string autoSave = profile_.getString(section, "bAutoSave", "0");
  node->SetLocalProperty("UserProfile", token);
  node->SetLocalProperty("bValidProfile", LeadingInt(autoSave, 0) == 1 ? "0" : valid);
  node->SetLocalProperty("bAutoSave", autoSave);
  node->SetLocalProperty("bHaveLogin", "0");
  node->SetLocalProperty("handle", "0");
  for (const char* p : {"handle", "bHaveLogin", "bAutoSave", "bValidProfile", "UserProfile"}) {
    node->PinChild(node->FindChild(p));
  }
  autoLogon_ = LeadingInt(autoSave, 0) == 1;
}

void CDremmoralDoc::ForgetNode(const CPea* node) {
  alarmed_.erase(node);
  tasked_.erase(node);
  profileSections_.erase(node);
  logoffPending_.erase(node);
  watched_.erase(std::remove_if(watched_.begin(), watched_.end(), [&](const Watched& w) { return w.node == node; }),
                 watched_.end());
}

// ---- poll ----

void CDremmoralDoc::Poll() {
  // The frame's timer also fires inside the nested loops of boxes and dialogs; the poll that is
  // running then finishes the work.
  if (polling_) return;
  polling_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{polling_};
  const std::vector<DocumentView*> views = views_;
  for (DocumentView* v : views) v->OnPoll();
  const std::vector<CPellwick*> conns = connections_;
  for (CPellwick* c : conns) {
    PeaRef<CPellwick> keep(c);
    CallbackScope scope(this);
    c->OnTimerTick();
  }
  FlushMessages();
  if (beeper_ && alarm()) ui_.Beep(kBeepDefault);
  for (std::size_t i = 0; i < watched_.size(); ++i) {
    const int t = watched_[i].node->nodeType();
    if (t == kNodeIopArray || t == kNodeIdeArray) ProgressCheck(watched_[i]);
  }
}

void CDremmoralDoc::WatchArray(CVirtualFolder* node) {
  if (!node) return;
  for (Watched& w : watched_) {
    if (w.node == node) {
      ++w.count;
      return;
    }
  }
  watched_.push_back(Watched{node, 1});
}

void CDremmoralDoc::UnwatchArray(CVirtualFolder* node) {
  for (auto it = watched_.begin(); it != watched_.end(); ++it) {
    if (it->node == node) {
      if (--it->count <= 0) watched_.erase(it);
      return;
    }
  }
}

void CDremmoralDoc::ProgressCheck(Watched& w) {
  CVirtualFolder* node = w.node;
  if (node->flags() & CVirtualFolder::kFlagNew) return;
  PeaRef<CVirtualFolder> keep(node);
  const std::int64_t now = clock_.monotonicMs();
  bool full = w.lastFull < 0 || now - w.lastFull > 40000;
  if (!full) {
    const std::int64_t elapsed = (now - w.lastFull) / 1000;
    if (w.lightChecks >= elapsed / 20) return;
    ++w.lightChecks;
    const int status = node->GetIntProperty("Status", 0, true);
    const int low = status & 0xFFFF;
    if (low == 512 || low == 256 || status != w.lastStatus) full = true;
    w.lastStatus = status;
  }
  if (!full) return;
  w.lastFull = now;
  w.lightChecks = 0;
  node->SetFlags(0, CVirtualFolder::kFlagPassive);
  w.lastStatus = node->GetIntProperty("Status", 0);
  node->GetIntProperty("percent", 0);
  node->GetIntProperty("ThrottleStatus", 0);
  for (CPea* child : node->SubFolders(false)) {
    if (auto* f = AsFolder(child)) f->GetIntProperty("Status", 0, true);
  }
  node->SetFlags(CVirtualFolder::kFlagPassive, CVirtualFolder::kFlagPassive);
}

// ---- connections ----

void CDremmoralDoc::AddLocalAgent() {
  auto* node = new CVirtualFolder();
  node->setName("LOCALAGENT");
  node->setType(std::string(kTypeFolder));
  node->setValue("2");
  PeaRef<CVirtualFolder> keep(node);
  node->Attach(root_, &link_, nullptr);
  node->SetLocalProperty("Description", "Local Com Agent");
  SetCommandNode(node);
  root_->AddChild(node);
  ConnectServer();
}

void CDremmoralDoc::ConnectServer() {
  CVirtualFolder* node = CurrentFolder();
  if (!node) return;
  PeaRef<CVirtualFolder> keep(node);
  auto* conn = new CPellwick(this, node->name(), node->GetProperty("IPAddress", "", true),
                             node->GetProperty("Description", "", true), clock_, &loop_);
  conn->AddRef();
  if (conn->Connect() < 0) {
    conn->Release();
    node->SetLocalIntProperty("ServerStatus", 2);
    connectAllowed_ = false;
  } else {
    connections_.push_back(conn);
    node->SetOwner(conn);
    node->SetLocalIntProperty("ServerStatus", 4);
    node->setOpen(false);
    node->SetFlags(0, 0xFFFFFFFFu);
    node->Refresh();
  }
  root_->NotifyViews(kHintChildrenChanged, root_);
  root_->NotifyViews(kHintValuesChanged, root_);
}

void CDremmoralDoc::DisconnectServer() {
  CVirtualFolder* node = CurrentFolder();
  if (!node) return;
  PeaRef<CVirtualFolder> keep(node);
  CPellwick* conn = node->GetConnection();
  PeaRef<CPellwick> keepConn(conn);
  node->SetOwner(nullptr);
  if (conn) RemoveConnection(conn);
  node->PruneUnseen();
  node->SetLocalIntProperty("ServerStatus", 2);
  node->NotifyViews(kHintChildrenChanged, node);
  node->NotifyViews(kHintValuesChanged, node);
}

void CDremmoralDoc::DisconnectNode(CVirtualFolder* node) {
  // Never inside the connection's own callback: the link is closed once it has returned.
  PeaRef<CVirtualFolder> keep(node);
  Defer([this, keep] {
    PeaRef<CPea> previous = commandNode_;
    commandNode_ = PeaRef<CPea>(keep.get());
    DisconnectServer();
    commandNode_ = previous;
  });
}

void CDremmoralDoc::DeleteServer() {
  CVirtualFolder* node = CurrentFolder();
  if (!node) {
    ui_.Beep(kBeepHand);
    return;
  }
  PeaRef<CVirtualFolder> keep(node);
  if (ShowMessage(MessageBoxRequest{kStrConfirmDeleteServer, "", "", MsgButtons::OkCancel, MsgIcon::Question,
                                    false}) != kIdOk) {
    return;
  }
  if (!IsInTree(node)) return;
  PeaRef<CPea> previous = commandNode_;
  commandNode_ = PeaRef<CPea>(node);
  DisconnectServer();
  commandNode_ = previous;
  root_->RemoveChildNode(node);
  root_->NotifyViews(kHintChildrenChanged, root_);
}

void CDremmoralDoc::NewServer() {
  CVirtualFolder* node = CurrentFolder();
  if (!node || node->nodeType() != kNodeConsoleRoot) return;
  auto* added = dynamic_cast<CVirtualFolder*>(node->AddFolderFromEntry("New Server@o--@1"));
  if (!added) return;
  added->SetFlags(CVirtualFolder::kFlagNew, CVirtualFolder::kFlagNew);
  added->SetLocalProperty("IPAddress", "0");
  added->SetLocalProperty("Description", "RAIDSERVER" + std::to_string(++serverCounter_));
  root_->NotifyViews(kHintChildrenChanged, root_);
}

void CDremmoralDoc::OnServerConnected(CPellwick* connection) {
  CVirtualFolder* node = nullptr;
  for (CPea* child : root_->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(child);
    if (!f || f->GetConnection() != connection) continue;
    if (dynamic_cast<CServerFolder*>(f) || f->value() == "2") {
      node = f;
      break;
    }
  }
  PeaRef<CVirtualFolder> keep;
  bool fresh = false;
  if (!node) {
    node = new CServerFolder();
    fresh = true;
  }
  keep = PeaRef<CVirtualFolder>(node);
  // Rename without losing the profile section the agent's logon was loaded from.
  TreeEntryParts parts;
  if (SplitTreeEntry(connection->ownEntry(), parts)) node->ParseOwnEntry(connection->ownEntry());
  if (fresh) {
    node->Attach(root_, &link_, connection);
    root_->AddChild(node);
  }
  node->SetLocalIntProperty("ServerStatus", 1);
  root_->NotifyViews(kHintChildrenChanged, root_);
}

void CDremmoralDoc::OnFirstQueryTimedOut(CPellwick* connection) {
  for (CPea* child : root_->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(child);
    if (f && f->GetConnection() == connection) {
      DisconnectNode(f);
      return;
    }
  }
}

void CDremmoralDoc::OnConnectionClosed(CPellwick* connection) {
  for (CPea* child : root_->SubFolders(false)) {
    auto* server = dynamic_cast<CServerFolder*>(child);
    if (!server || server->nodeType() != kNodeServer || server->GetConnection() != connection) continue;
    DisconnectNode(server);
    return;
  }
}

void CDremmoralDoc::RemoveConnection(CPellwick* connection) {
  std::vector<CPellwick*> gone;
  if (connection) {
    auto it = std::find(connections_.begin(), connections_.end(), connection);
    if (it == connections_.end()) return;
    connections_.erase(it);
    gone.push_back(connection);
  } else {
    gone.swap(connections_);
  }
  for (CPellwick* c : gone) {
    c->Close();
    c->ReleaseAllHeld();
    c->Release();
  }
}

// ---- logon ----

void CDremmoralDoc::ReadLocalToken(std::uint32_t& word1, std::uint32_t& word2) {
  word1 = word2 = 0;
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kAgentKey);
  if (!key) return;
  auto bytes = key->getBinary("Location");
  if (!bytes || bytes->size() != 8) return;
  const auto& b = *bytes;
  word1 = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  word2 = b[4] | (b[5] << 8) | (b[6] << 16) | (static_cast<std::uint32_t>(b[7]) << 24);
}

int CDremmoralDoc::BuildCredentials(CVirtualFolder* node, std::string& out) {
  CVirtualFolder* agent = node ? node->FindAgent() : nullptr;
  if (!agent) return plat::E_FAIL;
  PeaRef<CVirtualFolder> keep(agent);
  std::uint32_t w1 = 0, w2 = 0;
  ReadLocalToken(w1, w2);
  const std::string prefix = plat::format("%x %x@", w1, w2);
  auto refuse = [&] {
    ShowMessage(MessageBoxRequest{kStrLoginError, "", "Login to " + agent->name(), MsgButtons::Ok,
                                  MsgIcon::Exclamation, false});
    return plat::E_FAIL;
  };
  std::string token = agent->GetProperty("UserProfile", "", true);
  bool fromDialog = false;
  bool save = false;
  if (agent->GetIntProperty("bValidProfile", 0, true) == 0 && (!autoLogon_ || explicitLogin_)) {
    std::optional<LoginInput> input =
        ui_.RunLoginDialog(token.empty() ? std::string() : crypto::TokenUserName(token), agent->name());
    // The dialog ran a nested loop: an agent that left the tree meanwhile is not logged on.
    if (!IsInTree(agent)) return plat::E_FAIL;
    if (!input) {
      ui_.FocusOutline();
      return plat::E_FAIL;
    }
    if (input->userName.find('@') != std::string::npos || input->password.find('@') != std::string::npos) {
      return refuse();
    }
    token = crypto::BuildLogonToken(input->userName, input->password);
    if (token.empty()) return plat::E_FAIL;
    fromDialog = true;
    save = input->save;
  }
  std::string text = prefix + token;
  if (text.size() > kMaxLogonText) {
    // A cut token would never decode: refuse it rather than send it. Nothing is kept of it, so
    // Login stays available for another try.
    if (!fromDialog) agent->SetLocalProperty("bValidProfile", "0");
    return refuse();
  }
  if (fromDialog) {
    agent->SetLocalProperty("UserProfile", token);
    agent->SetLocalProperty("bAutoSave", save ? "1" : "0");
    agent->SetLocalProperty("bValidProfile", "1");
    agent->SetLocalProperty("bHaveLogin", "0");
  }
  if (agent->GetIntProperty("bAutoSave", 0, true) != 1) {
    // Without "Save password" only the user name stays behind.
    const std::string name = crypto::TokenUserName(token);
    agent->SetLocalProperty("UserProfile", NameOnlyToken(name));
  }
  out = std::move(text);
  return 0;
}

std::string CDremmoralDoc::NameOnlyToken(const std::string& name) {
  const std::string text = name + "@";
  return crypto::base64Encode(crypto::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void CDremmoralDoc::OnLogonReply(CVirtualFolder* node, int status, const std::string& text) {
  CVirtualFolder* agent = node ? node->FindAgent() : nullptr;
  if (!agent) return;
  PeaRef<CVirtualFolder> keep(agent);
  PeaRef<CVirtualFolder> keepNode(node);
  if (status == kStatusPartial) {
    const std::size_t blank = text.find(' ');
    const std::string first = text.substr(0, blank);
    if (!EqualsNoCase(first, "logoff") && blank != std::string::npos) {
      std::string second = text.substr(blank + 1);
      const std::size_t end = second.find(' ');
      if (end != std::string::npos) second.resize(end);
      agent->SetLocalProperty("handle", second);
    }
    return;
  }
  if (status != kStatusFinal) return;
  const bool wasLogoff = logoffPending_.erase(agent) > 0;
  const int result = ParseResultCode(text);
  const bool state = wasLogoff ? false : result == kResultFunctional;
  agent->SetLocalIntProperty("bHaveLogin", state ? 1 : 0);
  agent->SetLocalIntProperty("bValidProfile", state ? 1 : 0);
  if (wasLogoff) {
    agent->PruneUnseen();
    node->NotifyViews(kHintChildrenChanged, node);
  } else if (state) {
    PeaRef<CVirtualFolder> again(agent);
    reloadTimers_.push_back(loop_.singleShot(std::chrono::milliseconds(1000), [again] { again->Reload(); }));
  } else {
    autoLogon_ = false;  // a refused automatic logon is not tried again by itself
    ShowMessage(MessageBoxRequest{kStrLoginError, "", "Login to " + agent->name(), MsgButtons::Ok, MsgIcon::None,
                                  false});
    node->NotifyViews(kHintChildrenChanged, node);
  }
  ui_.FocusOutline();
  agent->SetFlags(0, 0xFFFFFFFFu);
  UpdateUserText();
}

void CDremmoralDoc::Login() {
  CVirtualFolder* node = CurrentFolder();
  if (!node) return;
  PeaRef<CVirtualFolder> keep(node);
  if (CPellwick* conn = node->GetConnection()) conn->ChangeFolderTo(node);
  explicitLogin_ = true;
  node->Logon();
  explicitLogin_ = false;
  userText_.clear();
  ui_.SetUserText("");
  reloadArrays_ = reloadControllers_ = true;
}

void CDremmoralDoc::Logout() {
  CVirtualFolder* node = CurrentFolder();
  if (!node) return;
  PeaRef<CVirtualFolder> keep(node);
  CPellwick* conn = node->GetConnection();
  CVirtualFolder* agent = node->FindAgent();
  if (!conn || !agent) return;
  logoffPending_.insert(agent);
  conn->LogoffNode(node, agent->GetProperty("handle", "0", true));
}

// ---- profiles and display settings ----

void CDremmoralDoc::LoadDisplay() {
  display_.sysFont = profile_.getInt("Format", "SysFont", 1) != 0;
  if (!display_.sysFont) {
    auto font = profile_.getBinary("Format", "PaneFont");
    if (font && font->size() == 60) {
      display_.paneFont = *font;
    } else {
      display_.sysFont = true;
    }
  }
  display_.sysBkColor = profile_.getInt("Format", "SysBkColor", 1) != 0;
  display_.backgroundColor = static_cast<std::uint32_t>(profile_.getInt("Format", "BackgroundColor", 0xFFFFFF));
  if (display_.backgroundColor == 0) display_.backgroundColor = 0xFFFFFF;
  display_.sysTxtColor = profile_.getInt("Format", "SysTxtColor", 1) != 0;
  if (!display_.sysTxtColor) {
    display_.foregroundColor = static_cast<std::uint32_t>(profile_.getInt("Format", "ForegroundColor", 0));
  }
}

// The console's own look and logons are saved as it closes, with no one left to tell of a failed
// write. Each section is replaced as a whole, so a write that fails keeps what was saved before
// rather than an emptied section; the next start then shows the old look (or asks for the logon).
void CDremmoralDoc::SaveDisplay() {
  using plat::reg::Value;
  std::vector<Value> format{Value::dword("SysFont", display_.sysFont ? 1 : 0)};
  if (!display_.sysFont) format.push_back(Value::binary("PaneFont", display_.paneFont));
  format.push_back(Value::dword("SysBkColor", display_.sysBkColor ? 1 : 0));
  if (!display_.sysBkColor) format.push_back(Value::dword("BackgroundColor", display_.backgroundColor));
  format.push_back(Value::dword("SysTxtColor", display_.sysTxtColor ? 1 : 0));
  if (!display_.sysTxtColor) format.push_back(Value::dword("ForegroundColor", display_.foregroundColor));
  format.push_back(Value::dword("Initialize", static_cast<std::uint32_t>(initialize_)));
  (void)profile_.replaceSection("Format", format);
  RestrictProfileFile();
}

void CDremmoralDoc::SaveAgentProfile(CVirtualFolder* agent) {
  using plat::reg::Value;
  auto it = profileSections_.find(agent);
  const std::string section = it != profileSections_.end() ? it->second : "MessageServer" + agent->GetPath();
  const bool autoSave = agent->GetIntProperty("bAutoSave", 0, true) == 1;
  std::string token = agent->GetProperty("UserProfile", "", true);
  if (!autoSave && !token.empty()) token = NameOnlyToken(crypto::TokenUserName(token));
  std::vector<Value> entries{Value::string("UserProfile", token)};
  if (autoSave) {
    entries.push_back(Value::string("bValidProfile", agent->GetProperty("bValidProfile", "0", true)));
    entries.push_back(Value::string("bAutoSave", "1"));
  }
  (void)profile_.replaceSection(section, entries);
}

void CDremmoralDoc::SaveProfiles() {
  if (!root_) return;
  std::vector<CVirtualFolder*> stack{root_};
  while (!stack.empty()) {
    CVirtualFolder* f = stack.back();
    stack.pop_back();
    if (f->nodeType() == kNodeAgent) SaveAgentProfile(f);
    CPea::Position pos = f->GetFirstChildPosition();
    while (CPea* child = f->GetNextChild(pos)) {
      if (auto* sub = dynamic_cast<CVirtualFolder*>(child)) stack.push_back(sub);
    }
  }
  RestrictProfileFile();
}

void CDremmoralDoc::RestrictProfileFile() const {
  std::error_code ec;
  const auto file = plat::reg::hiveFile(profile_.hive());
  if (std::filesystem::exists(file, ec)) {
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace, ec);
  }
}

// ---- run on startup and the agent stop ----

bool CDremmoralDoc::IsRunOnStartup() const {
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kRunKey);
  return key && key->getValue(kRunValue).ok();
}

bool CDremmoralDoc::WriteRunOnStartup() const {
  auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, kRunKey);
  if (!key) return false;
  std::string path = options_.programPath;
  if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
  return key->setString(kRunValue, path).ok();
}

bool CDremmoralDoc::DeleteRunOnStartup() const {
  auto key = plat::reg::Key::open(plat::reg::Hive::LocalMachine, kRunKey);
  if (!key) return plat::reg::isNotFound(key);
  auto gone = key->deleteValue(kRunValue);
  return gone || plat::reg::isNotFound(gone);
}

void CDremmoralDoc::StopLocalAgent(const std::function<void(int)>& sleeper) {
  if (agentStopped_) return;
  agentStopped_ = true;
  {
    auto event = plat::kernel::NamedEvent::open(kStopEvent);
    if (!event) return;  // nobody made it: no agent to wait for
    (void)event->set();
  }
  if (sleeper) sleeper(3000);
}

// ---- new-array disks ----

CVirtualFolder* CDremmoralDoc::NewArrayUnder(CVirtualFolder* controller) {
  if (!controller) return nullptr;
  for (CPea* child : controller->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(child);
    if (f && IsArrayType(f->nodeType()) && (f->flags() & CVirtualFolder::kFlagNew)) return f;
  }
  return nullptr;
}

CVirtualFolder* CDremmoralDoc::ControllerOfDisk(CVirtualFolder* disk) {
  CPea* channel = disk ? disk->GetParent() : nullptr;
  return channel ? dynamic_cast<CVirtualFolder*>(channel->GetParent()) : nullptr;
}

bool CDremmoralDoc::CanAddToNewArray(CPea* node) {
  auto* disk = AsFolder(node);
  if (!disk || !IsDiskType(disk->nodeType())) return false;
  CVirtualFolder* controller = ControllerOfDisk(disk);
  CVirtualFolder* array = NewArrayUnder(controller);
  if (!array || !controller->HasMethod("CreateArray")) return false;
  if (disk->inNewArray()) return false;
  const int high = HighByte(disk->GetIntProperty("Status", 0, true));
  if (high != 1 && high != 3) return false;
  // Eight slots: a ninth disk has nowhere to go.
  return newArrayDisks_.size() < kNewArraySlots;
}

void CDremmoralDoc::AddDisksToNewArray(const std::vector<CPea*>& disks) {
  for (CPea* node : disks) {
    if (!CanAddToNewArray(node)) continue;
    auto* disk = AsFolder(node);
    PeaRef<CVirtualFolder> keep(disk);
    CVirtualFolder* array = NewArrayUnder(ControllerOfDisk(disk));
    auto* sc = new CShortCut();
    sc->Init(array, disk);
    if (array->AddChild(sc) != plat::S_OK) {
      delete sc;
      continue;
    }
    disk->setInNewArray(true);
    disk->SetFlags(CVirtualFolder::kFlagNew | CVirtualFolder::kFlagPassive,
                   CVirtualFolder::kFlagNew | CVirtualFolder::kFlagPassive);
    newArrayDisks_.push_back(PeaRef<CPea>(disk));
    disk->SetLocalIntProperty("Status", 512);
    if (auto* parent = dynamic_cast<CVirtualFolder*>(disk->GetParent())) {
      parent->NotifyViews(kHintChildrenChanged, parent);
    }
    array->NotifyViews(kHintChildrenChanged, array);
  }
}

void CDremmoralDoc::ForgetNewArrayDisk(CPea* disk) {
  newArrayDisks_.erase(std::remove_if(newArrayDisks_.begin(), newArrayDisks_.end(),
                                      [&](const PeaRef<CPea>& r) { return r.get() == disk; }),
                       newArrayDisks_.end());
}

void CDremmoralDoc::ClearNewArrayMarks() {
  for (auto& ref : newArrayDisks_) {
    if (auto* disk = dynamic_cast<CVirtualFolder*>(ref.get())) {
      disk->setInNewArray(false);
      disk->SetFlags(0, CVirtualFolder::kFlagNew | CVirtualFolder::kFlagPassive);
    }
  }
  newArrayDisks_.clear();
}

// ---- commands ----

bool CDremmoralDoc::IsCommandChecked(int id) const {
  if (id == kCmdBeeper) return beeper_;
  if (id == kCmdRunOnStartup) return runOnStartup_;
  return false;
}

bool CDremmoralDoc::CommandDeleteArrayEnabled(CVirtualFolder* node) {
  if (!node) return false;
  auto* parent = dynamic_cast<CVirtualFolder*>(node->GetParent());
  if (!parent || !parent->HasMethod("DeleteArray")) return false;
  if (node->nodeType() == kNodeIopArray) return node->GetIntProperty("ThrottleStatus", 0) != 1;
  if (node->nodeType() == kNodeSerialArray) {
    const auto s = static_cast<std::uint32_t>(node->GetIntProperty("Status", -1));
    return s == 0 || s == 0x80000001u || s == 0x80000002u;
  }
  return false;
}

bool CDremmoralDoc::CommandRemoveEnabled(CPea* current) {
  if (!current) return false;
  auto* disk = AsFolder(current);
  if (disk && disk->nodeType() == kNodeSerialDisk) {
    const int high = HighByte(disk->GetIntProperty("Status", 0, true));
    if (high == 1 || high == 3) return true;
  }
  CPea* parent = current->GetParent();
  if (!parent) return false;
  return CArrayAction(this, parent).EnableIfNew();
}

bool CDremmoralDoc::IsCommandEnabled(int id) { return IsCommandEnabledFor(id, GetCurrentNode()); }

bool CDremmoralDoc::IsCommandEnabledFor(int id, CPea* current) {
  CVirtualFolder* node = AsFolder(current);
  auto hasTask = [&](CVirtualFolder* n) { return (n->GetIntProperty("Status", 0) & 0xFF00) != 0; };
  switch (id) {
    case kCmdCreateArray:
      return freeDiskAvailable_ && !arrayTaskRunning() && node && node->HasMethod("CreateArray");
    case kCmdRefresh:
    case kCmdFont:
    case kCmdBackground:
    case kCmdBeeper:
    case kCmdRunOnStartup:
    case kCmdDeleteServer:
      return true;
    case kCmdDeleteArray:
      return CommandDeleteArrayEnabled(node);
    case kCmdRebuildArray:
      if (!node || !node->HasMethod("RebuildArray")) return false;
      if (node->nodeType() == kNodeSerialArray) return node->GetIntProperty("Status", -1) == 0 && arrayAct_ == 0;
      return true;
    case kCmdRebuildDisk: {
      auto* parent = node ? dynamic_cast<CVirtualFolder*>(node->GetParent()) : nullptr;
      if (!parent || !parent->HasMethod("RebuildArray")) return false;
      if (parent->nodeType() == kNodeSerialArray) {
        if (parent->GetIntProperty("Status", -1) != 0 && node->GetIntProperty("Rebuild", 0) != 2) return false;
      }
      if (node->nodeType() == kNodeSerialDisk && node->GetIntProperty("Status", -1) == 0) {
        return parent->GetIntProperty("ArrayAct", 0) == 0;
      }
      return true;
    }
    case kCmdRename:
      return node && node->HasMethod("rename");
    case kCmdAddUser:
      return node && node->HasMethod("CreateUser");
    case kCmdDeleteUser: {
      auto* parent = node ? dynamic_cast<CVirtualFolder*>(node->GetParent()) : nullptr;
      // The only administrator is never offered for deletion: the agent would keep it.
      return parent && parent->HasMethod("DeleteUser") && !OnlyAdministrator(node);
    }
    case kCmdReadEvents:
      return node && node->HasMethod("ReadEvent");
    case kCmdClearEvents:
      return node && node->HasMethod("ClearEvent");
    case kCmdRemoveFromNewArray:
      return CommandRemoveEnabled(current);
    case kCmdSyncArray:
      if (!node || !node->HasMethod("SyncArray")) return false;
      if (node->nodeType() == kNodeSerialArray) return node->GetIntProperty("Status", -1) == 0 && arrayAct_ == 0;
      return true;
    case kCmdContinue:
      return node && node->nodeType() == kNodeIopArray && node->HasMethod("RebuildArray") && hasTask(node) &&
             node->GetIntProperty("ThrottleStatus", 0) == 4;
    case kCmdPause:
      return node && node->nodeType() == kNodeIopArray && node->HasMethod("RebuildArray") && hasTask(node) &&
             node->GetIntProperty("ThrottleStatus", 0) == 1;
    case kCmdStop: {
      if (!node) return false;
      const int t = node->nodeType();
      const int status = node->GetIntProperty("Status", 0);
      const int throttle = node->GetIntProperty("ThrottleStatus", 0);
      if (t == kNodeIopArray || t == kNodeIdeArray) {
        if (!node->HasMethod("SyncArray") || !(status & 0xFF00) || throttle != 1) return false;
        return t != kNodeIopArray || (status & 0xFF00) != 0x200;
      }
      if (t == kNodeSerialArray) {
        return node->HasMethod("StopConversion") && throttle == 1 &&
               (status == 256 || status == 768 || status == 1024);
      }
      return false;
    }
    case kCmdLogin: {
      if (!node || !connectAllowed_) return false;
      return node->GetIntProperty("bValidProfile", 1, true) == 0;
    }
    case kCmdLogout:
      return node && node->GetIntProperty("bHaveLogin", 0, true) != 0;
    case kCmdAddToNewArray:
      return CanAddToNewArray(current);
    case kCmdNewServer:
    case kCmdConnect:
    case kCmdDisconnect:
    default:
      return false;
  }
}

void CDremmoralDoc::OnDeleteKey() {
  CVirtualFolder* node = CurrentFolder();
  int cmd = 0;
  switch (node ? node->nodeType() : kNodeUnknown) {
    case kNodeServer:
      cmd = kCmdDeleteServer;
      break;
    case kNodeIopArray:
    case kNodeIdeArray:
      cmd = kCmdDeleteArray;
      break;
    case kNodeUser:
      cmd = kCmdDeleteUser;
      break;
    default:
      // A serial array too: its delete is on the menu and the tool bar, not on the key.
      ui_.Beep(kBeepHand);
      return;
  }
  if (IsCommandEnabled(cmd)) OnCommand(cmd);
}

void CDremmoralDoc::CommandCreateArray(CVirtualFolder* node) {
  if (!node || !node->HasMethod("CreateArray")) return;
  const char* entry = nullptr;
  if (node->nodeType() == kNodeIopController) entry = "New Array@o--@3";
  if (node->nodeType() == kNodeSerialController) entry = "Ary0@o--@22";
  if (!entry) return;
  PeaRef<CVirtualFolder> keep(node);
  node->SetFlags(CVirtualFolder::kFlagPassive, CVirtualFolder::kFlagPassive);
  node->setKeepChildren(true);
  auto* added = dynamic_cast<CVirtualFolder*>(node->AddFolderFromEntry(entry));
  if (!added) return;
  added->SetLocalProperty("name", LoadString(kStrArray));
  added->SetFlags(CVirtualFolder::kFlagNew, CVirtualFolder::kFlagNew);
  node->NotifyViews(kHintChildrenChanged, node);
  ui_.SelectInOutline(added);
}

void CDremmoralDoc::CommandRefresh(CVirtualFolder* node) {
  if (!node) return;
  PeaRef<CVirtualFolder> keep(node);
  GetNodeImage(node);
  const int t = node->nodeType();
  if (t == kNodeAgent && node->GetIntProperty("bValidProfile", 1, true) == 0) {
    node->setOpen(false);
    node->setListingPending(false);
    node->Refresh();
  } else if (t == kNodeChannel || t == kNodeUserAccounts || t == kNodeIdeChannel) {
    // nothing to re-read
  } else {
    node->Reload();
  }
  if (t == kNodeIopController || t == kNodeSerialArray || t == kNodeSerialController) ClearNewArrayMarks();
}

void CDremmoralDoc::CommandDeleteUser(CVirtualFolder* node) {
  if (!node) {
    ui_.Beep(kBeepHand);
    return;
  }
  auto* parent = dynamic_cast<CVirtualFolder*>(node->GetParent());
  if (!parent || !parent->HasMethod("DeleteUser")) return;
  PeaRef<CVirtualFolder> keep(node);
  PeaRef<CVirtualFolder> keepParent(parent);
  const std::string name = node->GetProperty("name", node->name(), true);
  if (CVirtualFolder* agent = node->FindAgent()) {
    const std::string token = agent->GetProperty("UserProfile", "", true);
    if (agent->GetIntProperty("bValidProfile", 0, true) != 0 && EqualsNoCase(crypto::TokenUserName(token), name)) {
      ShowMessage(MessageBoxRequest{kStrDeleteLoggedOnUser, "", "", MsgButtons::Ok, MsgIcon::Exclamation, false});
      return;
    }
  }
  if (ShowMessage(MessageBoxRequest{kStrConfirmDeleteUser, "", "", MsgButtons::OkCancel, MsgIcon::Question,
                                    false}) != kIdOk) {
    return;
  }
  // The box ran a nested loop: a user (or users folder) pruned meanwhile is not deleted blindly.
  if (!IsInTree(node) || node->GetParent() != parent) return;
  parent->Invoke("DeleteUser", name);
}

void CDremmoralDoc::CommandBeeper(CVirtualFolder* node) {
  beeper_ = !beeper_;
  if (!node) return;
  const int t = node->nodeType();
  if (t == kNodeIopController || t == kNodeEnclosure || t == kNodeSerialController) {
    node->Invoke(beeper_ ? "TurnOnBuzzer" : "SilentBuzzer", "");
  }
}

void CDremmoralDoc::CommandFont() {
  FontChoice start{display_.paneFont, display_.foregroundColor};
  std::optional<FontChoice> chosen = ui_.PickFont(start);
  if (!chosen) return;
  display_.paneFont = chosen->description;
  display_.foregroundColor = chosen->colour;
  display_.sysFont = display_.paneFont.size() != 60;
  display_.sysTxtColor = false;
  UpdateAllViews(kHintFont, nullptr);
  UpdateAllViews(kHintTextColour, nullptr);
}

void CDremmoralDoc::CommandBackground() {
  std::optional<std::uint32_t> colour = ui_.PickColour(display_.backgroundColor);
  if (!colour) return;
  display_.backgroundColor = *colour;
  display_.sysBkColor = false;
  UpdateAllViews(kHintBackground, nullptr);
}

void CDremmoralDoc::OnCommand(int id) {
  if (id != kCmdClearCommandNode && (callbackDepth_ > 0 || boxOpen_ > 0)) {
    // A command may ask a question, which can be answered only outside the engine's callbacks
    // and when no other box is open: it runs then, on the node that is current now.
    pendingCommands_.push_back(PendingCommand{id, PeaRef<CPea>(GetCurrentNode())});
    ScheduleFlush();
    return;
  }
  CPea* current = GetCurrentNode();
  PeaRef<CPea> keep(current);
  CVirtualFolder* node = AsFolder(current);
  PeaRef<CVirtualFolder> keepNode(node);
  switch (id) {
    case kCmdClearCommandNode:
      SetCommandNode(nullptr);
      return;
    case kCmdCreateArray:
      CommandCreateArray(node);
      return;
    case kCmdRefresh:
      CommandRefresh(node);
      return;
    case kCmdDeleteArray: {
      ClearNewArrayMarks();
      CVirtualFolder* parent = node ? dynamic_cast<CVirtualFolder*>(node->GetParent()) : nullptr;
      PeaRef<CVirtualFolder> keepParent(parent);
      CArrayAction(this, node).DeleteArray();
      freeDiskAvailable_ = true;
      if (parent) parent->NotifyViews(kHintChildrenChanged, parent);
      return;
    }
    case kCmdRebuildArray:
      if (node) ui_.OpenRebuildWizard(node, nullptr);
      return;
    case kCmdRebuildDisk:
      if (node && node->GetParent()) ui_.OpenRebuildWizard(node->GetParent(), node);
      return;
    case kCmdRename:
      if (node) ui_.EditLabel(node);
      return;
    case kCmdAddUser:
      if (node && node->HasMethod("CreateUser")) {
        if (auto* added = dynamic_cast<CVirtualFolder*>(node->AddFolderFromEntry("New User@o--@13"))) {
          added->SetLocalProperty("name", LoadString(kStrNewUser));
          added->SetFlags(CVirtualFolder::kFlagNew, CVirtualFolder::kFlagNew);
          node->NotifyViews(kHintChildrenChanged, node);
        }
      }
      return;
    case kCmdDeleteUser:
      CommandDeleteUser(node);
      return;
    case kCmdReadEvents:
      if (node) ui_.OpenEventViewer(node);
      return;
    case kCmdClearEvents:
      if (node && ShowMessage(MessageBoxRequest{kStrConfirmClearEvents, "", "", MsgButtons::OkCancel,
                                                MsgIcon::Question, false}) == kIdOk) {
        if (IsInTree(node)) node->Invoke("ClearEvent", "");
      } else {
        ui_.Beep(kBeepHand);
      }
      return;
    case kCmdFont:
      CommandFont();
      return;
    case kCmdBackground:
      CommandBackground();
      return;
    case kCmdRemoveFromNewArray: {
      if (!current || !current->GetParent()) return;
      CPea* parent = current->GetParent();
      PeaRef<CPea> keepParent(parent);
      if (auto* disk = AsFolder(current)) {
        disk->setInNewArray(false);
        ForgetNewArrayDisk(disk);
      }
      CArrayAction(this, parent).RemoveMember(current);
      UpdateAllViews(kHintChildrenChanged, parent);
      return;
    }
    case kCmdSyncArray:
      CArrayAction(this, node).SyncArray(kActStart);
      initialize_ = 0;
      return;
    case kCmdContinue:
      CArrayAction(this, node).ThrottleArrayTask(kActContinue);
      return;
    case kCmdPause:
      if (node && (node->nodeType() == kNodeIopArray || node->nodeType() == kNodeIdeArray) &&
          ShowMessage(MessageBoxRequest{kStrConfirmPause, "", "", MsgButtons::OkCancel, MsgIcon::Exclamation,
                                        false}) == kIdOk &&
          IsInTree(node)) {
        CArrayAction(this, node).ThrottleArrayTask(kActPause);
      }
      return;
    case kCmdStop: {
      if (!node || !IsArrayType(node->nodeType())) return;
      const int task = (node->GetIntProperty("Status", 0) >> 8) & 0xFF;
      if ((task == 1 || task == 2) &&
          ShowMessage(MessageBoxRequest{kStrConfirmStop, "", "", MsgButtons::OkCancel, MsgIcon::Exclamation,
                                        false}) != kIdOk) {
        return;
      }
      if (!IsInTree(node)) return;
      CArrayAction(this, node).ThrottleArrayTask(kActStop);
      return;
    }
    case kCmdBeeper:
      CommandBeeper(node);
      return;
    case kCmdLogin:
      Login();
      return;
    case kCmdLogout:
      Logout();
      return;
    case kCmdAddToNewArray:
      AddDisksToNewArray({current});
      return;
    case kCmdRunOnStartup:
      if (runOnStartup_) {
        DeleteRunOnStartup();
      } else {
        WriteRunOnStartup();
      }
      runOnStartup_ = IsRunOnStartup();  // what the registry holds now
      return;
    case kCmdDeleteServer:
      DeleteServer();
      return;
    case kCmdNewServer:
      NewServer();
      return;
    case kCmdConnect:
      ConnectServer();
      return;
    case kCmdDisconnect:
      DisconnectServer();
      return;
    default:
      return;
  }
}

}  // namespace kelm::console
