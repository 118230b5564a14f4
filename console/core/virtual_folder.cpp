#include "console/core/virtual_folder.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "console/core/document.h"
#include "console/core/pellwick.h"
#include "console/core/strings.h"
#include "message/message.h"
#include "platform/base/format.h"
#include "platform/base/text.h"

namespace kelm::console {

namespace {

const std::string kRightsAll = plat::formatWord32(0xF7FFFFFFu);

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

bool SplitTreeEntry(std::string_view entry, TreeEntryParts& out) {
  const std::size_t first = entry.find('@');
  if (first == std::string_view::npos || first == 0) return false;
  const std::size_t second = entry.find('@', first + 1);
  if (second == std::string_view::npos || second == first + 1) return false;
  out.name.assign(entry.substr(0, first));
  out.type.assign(entry.substr(first + 1, second - first - 1));
  out.value.assign(entry.substr(second + 1));
  return true;
}

int LeadingInt(std::string_view text, int def) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return def;
  std::uint64_t v = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    v = (v * 10 + static_cast<unsigned>(text[i] - '0')) & 0xFFFFFFFFFFull;  // stays bounded
  }
  auto low = static_cast<std::uint32_t>(v);
  if (negative) low = 0u - low;
  return static_cast<int>(low);
}

const std::string& ComputerName() {
  static const std::string name = [] {
    char buf[1024] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return std::string();
    return std::string(buf);
  }();
  return name;
}

CPea* ResolveShortCut(CPea* node) {
  if (!node) return nullptr;
  if (auto* sc = dynamic_cast<CShortCut*>(node)) return sc->target();
  return node;
}

int NodeTypeOf(const CPea* node) {
  if (auto* f = dynamic_cast<const CVirtualFolder*>(node)) return f->nodeType();
  if (dynamic_cast<const CShortCut*>(node)) return kNodeShortCut;
  return kNodeUnknown;
}

CVirtualFolder* AsFolder(CPea* node) { return dynamic_cast<CVirtualFolder*>(ResolveShortCut(node)); }

CVirtualFolder* FindFolderOfType(CPea* under, int type) {
  auto* f = AsFolder(under);
  if (!f) return nullptr;
  for (CPea* c : f->SubFolders(false)) {
    auto* cf = AsFolder(c);
    if (!cf || cf != c) continue;
    if (cf->nodeType() == type) return cf;
    if (CVirtualFolder* deeper = FindFolderOfType(cf, type)) return deeper;
  }
  return nullptr;
}

// ---- CVirtualFolder ----

CVirtualFolder::CVirtualFolder() = default;
CVirtualFolder::~CVirtualFolder() = default;

void CVirtualFolder::Attach(CPea* parent, CPeaLink* documentLink, CPeaLink* ownerLink) {
  SetParent(parent, documentLink, ownerLink);
  if (!parent) open_ = true;
  // Pinned before the type is set (which prunes what is not seen) and again after (which unpins).
  PinFixedChildren();
  SetNodeType();
  PinFixedChildren();
}

CDremmoralDoc* CVirtualFolder::GetDocument() const {
  void* out = nullptr;
  if (!GetContextLink()) return nullptr;
  GetContextLink()->GetLink(CPeaLink::kTargetKey, &out);
  return static_cast<CDremmoralDoc*>(out);
}

CPellwick* CVirtualFolder::GetConnection() const {
  void* out = nullptr;
  if (!GetOwnerLink()) return nullptr;
  GetOwnerLink()->GetLink(CPeaLink::kTargetKey, &out);
  return static_cast<CPellwick*>(out);
}

int CVirtualFolder::Invoke(const std::string& method, const std::string& arguments) {
  CPellwick* conn = GetConnection();
  if (!open_ || !conn || !FindMethod(method)) return plat::E_FAIL;
  conn->InvokeNodeMethod(this, method, arguments);
  return 0;
}

int CVirtualFolder::Reload() {
  if (!GetParent()) {
    NotifyViews(kHintChildrenChanged, this);
    return 0;
  }
  if (CDremmoralDoc* doc = GetDocument()) doc->ClearFreeDiskAvailable();
  CPellwick* conn = GetConnection();
  if (!conn) return plat::E_FAIL;
  conn->ReloadNode(this);
  return 0;
}

bool CVirtualFolder::IsLocalMachine() const {
  return name() == "LOCALAGENT" || (!ComputerName().empty() && EqualsNoCase(name(), ComputerName()));
}

int CVirtualFolder::Refresh() {
  if (passive()) return 0;
  if (open_ || !GetParent()) {
    NotifyViews(kHintChildrenChanged, this);
    return 0;
  }
  CPea* valid = FindChild("bValidProfile");
  if (nodeType_ == kNodeAgent && valid && LeadingInt(valid->value(), 0) == 0) return plat::E_FAIL;
  CPellwick* conn = GetConnection();
  if (!conn) return plat::E_FAIL;
  if (listingPending_) {
    // These nodes are listed again when their listing went without an answer (a logoff drops
    // what it had queued). One still queued is not repeated: the pages and the outline refresh a
    // closed node on every read and every hint, and every listing asked for later would wait
    // behind the repeats.
    if ((nodeType_ == kNodeIopDisk || nodeType_ == kNodeEnclosure || nodeType_ == kNodeSensorGroup ||
         nodeType_ == kNodeIdeDisk || nodeType_ == kNodeSerialDisk) &&
        !conn->ListingQueued(this)) {
      conn->ListFolder(this);
    }
    return 0;
  }
  if (nodeType_ == kNodeAgent && !valid) {
    if (!IsLocalMachine()) conn->ChangeFolderTo(this);
    return 0;
  }
  listingPending_ = true;
  conn->ListFolder(this);
  return 0;
}

int CVirtualFolder::Query(const std::string& text) {
  if (passive()) return 0;
  CPellwick* conn = GetConnection();
  if (!conn) return GetParent() ? plat::E_FAIL : 0;
  if (open_) {
    conn->QueryNode(this, text);
    return 0;
  }
  if (nodeType_ != kNodeAgent) return Refresh();
  return 0;
}

int CVirtualFolder::SetRemoteProperty(const std::string& name, const std::string& value) {
  if (!open_) return 0;
  CPellwick* conn = GetConnection();
  if (!conn) return GetParent() ? plat::E_FAIL : 0;
  conn->SetNodeProperty(this, name, value);
  return 0;
}

bool CVirtualFolder::IsSeen(const CPea* child) const {
  return std::find(seen_.begin(), seen_.end(), child) != seen_.end();
}

bool CVirtualFolder::IsSeenInListing(const CPea* child) const {
  return std::find(seen_.begin() + static_cast<std::ptrdiff_t>(std::min(pinned_, seen_.size())), seen_.end(), child) !=
         seen_.end();
}

int CVirtualFolder::GetChildValue(std::string_view name, std::string* type, std::string* value, bool noQuery) {
  if (CPea* child = FindChild(name)) {
    // A console mark pinned on a property the agent owns does not stop it from being read again.
    if (child->IsVolatileProperty() && !IsSeenInListing(child)) Query(std::string(name));
    if (type) *type = child->type();
    if (value) *value = child->value();
    return 0;
  }
  if (!open_ && !noQuery) Query(std::string(name));
  return plat::E_FAIL;
}

std::string CVirtualFolder::GetProperty(std::string_view name, std::string_view def, bool noQuery) {
  std::string value;
  if (GetChildValue(name, nullptr, &value, noQuery) == 0) return value;
  return std::string(def);
}

int CVirtualFolder::GetIntProperty(std::string_view name, int def, bool noQuery) {
  return LeadingInt(GetProperty(name, std::to_string(def), noQuery), def);
}

int CVirtualFolder::SetProperty(std::string_view name, std::string_view value) {
  CPea* child = FindChild(name);
  if (!child) {
    AddChildEntry(name, "prw", value);
    return 1;
  }
  if (child->value() == value) return 1;
  child->setValue(std::string(value));
  if (!IsSeen(child)) SetRemoteProperty(std::string(name), std::string(value));
  return 1;
}

int CVirtualFolder::SetIntProperty(std::string_view name, int number) { return SetProperty(name, std::to_string(number)); }

void CVirtualFolder::SetLocalProperty(std::string_view name, std::string_view value) {
  CPea* child = FindChild(name);
  if (child) {
    child->setValue(std::string(value));
  } else {
    child = AddChildEntry(name, "prw", value);
  }
  // A console-only value outlives the agent's listings.
  if (child) PinChild(child);
}

void CVirtualFolder::SetLocalIntProperty(std::string_view name, int number) {
  SetLocalProperty(name, std::to_string(number));
}

CPea* CVirtualFolder::AddChildEntry(std::string_view name, std::string_view type, std::string_view value) {
  if (!type.empty() && type[0] == 'o') return nullptr;
  auto* child = new CPea();
  child->setName(std::string(name));
  child->setType(std::string(type));
  child->setValue(std::string(value));
  child->SetParent(this, GetContextLink(), GetOwnerLink());
  if (AddChild(child) != plat::S_OK) {
    delete child;
    return nullptr;
  }
  return child;
}

CPea* CVirtualFolder::AddIntChild(std::string_view name, std::string_view type, int number) {
  return AddChildEntry(name, type, std::to_string(number));
}

CPea* CVirtualFolder::AddMethod(std::string_view name, std::int32_t rights) {
  return AddChildEntry(name, kTypeMethod, std::to_string(rights));
}

void CVirtualFolder::PinChild(CPea* child) {
  auto it = std::find(seen_.begin(), seen_.end(), child);
  if (it != seen_.end()) {
    if (static_cast<std::size_t>(it - seen_.begin()) < pinned_) return;  // already pinned
    seen_.erase(it);
  }
  seen_.insert(seen_.begin(), child);
  ++pinned_;
}

void CVirtualFolder::MarkSeen(CPea* child) {
  if (child && !IsSeen(child)) seen_.push_back(child);
}

CPea* CVirtualFolder::AddOrUpdateChild(std::string_view entry) {
  TreeEntryParts parts;
  if (!SplitTreeEntry(entry, parts)) return nullptr;
  if (CPea* existing = FindChild(parts.name)) {
    existing->setType(std::move(parts.type));
    existing->setValue(std::move(parts.value));
    if (auto* folder = dynamic_cast<CVirtualFolder*>(existing)) folder->SetNodeType();
    return existing;
  }
  if (parts.type[0] == 'o') {
    auto* folder = new CVirtualFolder();
    folder->setName(std::move(parts.name));
    folder->setType(std::move(parts.type));
    folder->setValue(std::move(parts.value));
    if (AddChild(folder) != plat::S_OK) {
      delete folder;
      return nullptr;
    }
    folder->Attach(this, GetContextLink(), GetOwnerLink());
    return folder;
  }
  auto* child = new CPea();
  child->setName(std::move(parts.name));
  child->setType(std::move(parts.type));
  child->setValue(std::move(parts.value));
  child->SetParent(this, GetContextLink(), nullptr);
  if (AddChild(child) != plat::S_OK) {
    delete child;
    return nullptr;
  }
  return child;
}

CPea* CVirtualFolder::AddFolderFromEntry(std::string_view entry) {
  CPea* child = AddOrUpdateChild(entry);
  if (auto* folder = dynamic_cast<CVirtualFolder*>(child)) {
    folder->SetOwner(nullptr);
    folder->open_ = true;
  }
  return child;
}

bool CVirtualFolder::ParseOwnEntry(std::string_view entry) {
  TreeEntryParts parts;
  if (!SplitTreeEntry(entry, parts)) return false;
  setName(std::move(parts.name));
  setType(std::move(parts.type));
  setValue(std::move(parts.value));
  SetNodeType();
  return true;
}

void CVirtualFolder::SetNodeType() {
  const int t = LeadingInt(value(), kNodeUnknown);
  if (t == nodeType_) return;
  nodeType_ = t;
  pinned_ = 0;
  PruneUnseen();
  if (CDremmoralDoc* doc = GetDocument()) doc->OnNodeTypeSet(this);
}

CPea* CVirtualFolder::FindMethod(std::string_view name, std::uint32_t* rights) const {
  CPea* child = FindChild(name);
  if (!child || !child->IsMethod()) {
    if (rights) *rights = 0;
    return nullptr;
  }
  if (rights) *rights = plat::parseWord32(child->value()).value_or(0);
  return child;
}

CVirtualFolder* CVirtualFolder::FindByPath(std::string_view path) const {
  if (path.empty() || path[0] != '\\') return nullptr;
  path.remove_prefix(1);
  const std::size_t end = path.find('\\');
  const std::string_view first = path.substr(0, end);
  auto* child = dynamic_cast<CVirtualFolder*>(FindChild(first));
  if (!child) return nullptr;
  if (end == std::string_view::npos) return child;
  return child->FindByPath(path.substr(end));
}

std::string CVirtualFolder::GetPath() const { return GetPathBelow(-2); }

std::string CVirtualFolder::GetPathBelow(int nodeType) const {
  if (nodeType == -1) nodeType = 0;
  std::vector<const CPea*> chain;
  for (const CPea* p = GetParent(); p; p = p->GetParent()) {
    if (auto* f = dynamic_cast<const CVirtualFolder*>(p); f && f->nodeType_ == nodeType) break;
    chain.push_back(p);
  }
  std::string out = "\\";
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    out += (*it)->name();
    out += '\\';
  }
  out += name();
  return out;
}

CVirtualFolder* CVirtualFolder::FindAgent() {
  for (CPea* p = this; p; p = p->GetParent()) {
    if (auto* f = dynamic_cast<CVirtualFolder*>(p); f && f->nodeType_ == kNodeAgent) return f;
  }
  return nullptr;
}

bool CVirtualFolder::HasSubFolders() const {
  if (!open_) return true;
  Position pos = GetFirstChildPosition();
  while (CPea* child = GetNextChild(pos)) {
    if (dynamic_cast<CVirtualFolder*>(child)) return true;
    if (auto* sc = dynamic_cast<CShortCut*>(child); sc && dynamic_cast<CVirtualFolder*>(sc->target())) return true;
  }
  return false;
}

std::vector<CPea*> CVirtualFolder::SubFolders(bool refresh) {
  if (refresh && !open_) Refresh();
  std::vector<CPea*> out;
  Position pos = GetFirstChildPosition();
  while (CPea* child = GetNextChild(pos)) {
    if (dynamic_cast<CVirtualFolder*>(child) || dynamic_cast<CShortCut*>(child)) out.push_back(child);
  }
  return out;
}

bool CVirtualFolder::IsDescendantOf(const CPea* node) const {
  if (!node) return true;
  for (const CPea* p = GetParent(); p; p = p->GetParent()) {
    if (p == node) return true;
  }
  return false;
}

void CVirtualFolder::NotifyViews(int hint, CPea* node) {
  CDremmoralDoc* doc = GetDocument();
  if (!doc) return;
  PeaRef<CVirtualFolder> keep(this);
  const std::uint32_t old = SetFlags(kFlagPassive, kFlagPassive);
  doc->UpdateAllViews(hint, node);
  flags_ = old;
}

std::uint32_t CVirtualFolder::SetFlags(std::uint32_t value, std::uint32_t mask) {
  const std::uint32_t old = flags_;
  flags_ = (flags_ & ~mask) | (value & mask);
  return old;
}

void CVirtualFolder::AddListener(ReplyListener* listener) {
  if (!listener || std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) return;
  listeners_.insert(listeners_.begin(), listener);
}

void CVirtualFolder::RemoveListener(ReplyListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void CVirtualFolder::RemoveChildNode(CPea* child) {
  auto it = std::find(seen_.begin(), seen_.end(), child);
  if (it != seen_.end()) {
    if (static_cast<std::size_t>(it - seen_.begin()) < pinned_) --pinned_;
    seen_.erase(it);
  }
  RemoveChild(child);
}

void CVirtualFolder::PruneUnseen() {
  if (GetChildCount() > 0) {
    std::vector<CPea*> gone;
    Position pos = GetFirstChildPosition();
    while (CPea* child = GetNextChild(pos)) {
      if (!IsSeen(child)) gone.push_back(child);
    }
    for (CPea* child : gone) RemoveChild(child);
  }
  if (seen_.size() > pinned_) seen_.resize(pinned_);
}

void CVirtualFolder::OnDetach() {
  if (CDremmoralDoc* doc = GetDocument()) doc->ForgetNode(this);
}

void CVirtualFolder::OnRequestError(int code) {
  if (code != kResultTimeOut) return;
  CDremmoralDoc* doc = GetDocument();
  PeaRef<CVirtualFolder> keep(this);
  if (CPea* parent = GetParent()) {
    // A server entry's or an agent's own request that times out means the agent is gone: it is
    // disconnected, and its entry stays (marked disconnected) so that no second connection is
    // opened for it. Any other node that times out is removed and the connection kept.
    if (nodeType_ == kNodeServer || nodeType_ == kNodeAgent) {
      if (doc) doc->DisconnectNode(this);
    } else {
      if (auto* folder = dynamic_cast<CVirtualFolder*>(parent)) {
        PeaRef<CVirtualFolder> keepParent(folder);
        folder->RemoveChildNode(this);
        folder->NotifyViews(kHintChildrenChanged, folder);
      }
    }
  }
  if (doc) doc->ShowMessage(MessageBoxRequest{0, "TimeOut", "", MsgButtons::Ok, MsgIcon::None, false});
}

int CVirtualFolder::OnReply(int code, int status, const std::string& text) {
  PeaRef<CVirtualFolder> keep(this);
  const int result = ParseResultCode(text);
  switch (code) {
    case kReqLogon:
      if (CDremmoralDoc* doc = GetDocument()) doc->OnLogonReply(this, status, text);
      return 0;
    case kReqListRights:
      if (status == kStatusPartial) {
        MarkSeen(AddOrUpdateChild(text));
      } else if (status == kStatusFinal) {
        listingPending_ = false;
        if (result == kResultFunctional) {
          if (!(keepChildren_ && nodeType_ == kNodeSerialController)) PruneUnseen();
          if (seen_.size() > pinned_) seen_.resize(pinned_);
          open_ = true;
          NotifyViews(kHintChildrenChanged, this);
          NotifyViews(kHintValuesChanged, this);
        } else {
          // A failed listing keeps what the tree had.
          if (seen_.size() > pinned_) seen_.resize(pinned_);
          OnRequestError(result);
        }
      }
      return 0;
    case kReqQuery:
      if (status == kStatusPartial) {
        if (IsDiskType(nodeType_) && (flags_ & kFlagNew)) return 0;
        if (text.rfind(".@", 0) == 0) {
          if (ParseOwnEntry(std::string_view(text).substr(2))) NotifyViews(kHintValuesChanged, this);
        } else if (CPea* child = AddOrUpdateChild(text)) {
          NotifyViews(kHintChildArrived, child);
        }
      } else if (status == kStatusFinal && result != kResultFunctional) {
        OnRequestError(result);
      }
      return 0;
    case kReqSetProperty:
      if (status == kStatusFinal && result != kResultFunctional) {
        OnRequestError(result);
        if (GetParent() || GetConnection()) Reload();
      }
      return 0;
    case kReqInvoke: {
      const std::vector<ReplyListener*> listeners = listeners_;
      for (ReplyListener* l : listeners) {
        if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end()) l->OnInvokeReply(status, text);
      }
      if (status == kStatusFinal) {
        if (result == kResultFunctional) {
          NotifyViews(kHintValuesChanged, this);
        } else {
          OnRequestError(result);
          if (GetParent()) Reload();
        }
      }
      return 0;
    }
    default:
      return plat::E_NOTIMPL;
  }
}

int CVirtualFolder::OnNotification(int code, const std::string& text) {
  PeaRef<CVirtualFolder> keep(this);
  CDremmoralDoc* doc = GetDocument();
  switch (code) {
    case kNotifyNotLoggedOn:
      if (IsLocalMachine() && doc && doc->autoLogon()) Logon();
      return 0;
    case kNotifyFolderGone:
    case kNotifyFolderChanged: {
      CVirtualFolder* target = code == kNotifyFolderGone ? dynamic_cast<CVirtualFolder*>(GetParent()) : this;
      if (!target) return 0;
      PeaRef<CVirtualFolder> keepTarget(target);
      target->SetFlags(0, kFlagPassive);
      target->Reload();
      target->SetFlags(kFlagPassive, kFlagPassive);
      return 0;
    }
    case kNotifyEvent: {
      // code@time@severity@title@text; the text may hold further '@'.
      std::vector<std::string> fields;
      std::size_t at = 0;
      for (int i = 0; i < 4; ++i) {
        const std::size_t next = text.find('@', at);
        if (next == std::string::npos) return 0;
        fields.push_back(text.substr(at, next - at));
        at = next + 1;
      }
      fields.push_back(text.substr(at));
      MsgIcon icon = MsgIcon::Question;
      switch (LeadingInt(fields[2], 0)) {
        case 1:
          icon = MsgIcon::Stop;
          break;
        case 2:
          icon = MsgIcon::Exclamation;
          break;
        case 3:
          icon = MsgIcon::Information;
          break;
        default:
          break;
      }
      if (doc) doc->ShowMessage(MessageBoxRequest{0, fields[4], fields[3], MsgButtons::Ok, icon, true});
      return 0;
    }
    default:
      return plat::E_NOTIMPL;
  }
}

int CVirtualFolder::Logon() {
  CVirtualFolder* agent = FindAgent();
  CPellwick* conn = GetConnection();
  CDremmoralDoc* doc = GetDocument();
  if (!agent || !conn || !doc) return plat::E_FAIL;
  // The Login dialog runs a nested loop in which this node can be pruned and its connection closed:
  // both are held, and the logon goes out only on the connection the node still has.
  PeaRef<CVirtualFolder> keep(this);
  PeaRef<CPellwick> keepConn(conn);
  std::string credentials;
  const int r = doc->BuildCredentials(this, credentials);
  if (r != 0) {
    listingPending_ = false;
    return r;
  }
  const auto& open = doc->connections();
  if (!doc->IsInTree(this) || GetConnection() != conn || std::find(open.begin(), open.end(), conn) == open.end()) {
    listingPending_ = false;
    return plat::E_FAIL;
  }
  conn->LogonNode(this, credentials);
  return 0;
}

bool CVirtualFolder::GetBinaryProperty(std::string_view name, std::vector<std::uint8_t>& out) {
  out.clear();
  const std::string text = GetProperty(name, "");
  if (text.empty()) return false;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const int lo = static_cast<unsigned char>(text[i]) - 'A';
    const int hi = static_cast<unsigned char>(text[i + 1]) - 'A';
    out.push_back(static_cast<std::uint8_t>((lo + 16 * hi) & 0xFF));
  }
  return true;
}

// ---- CRootFolder ----

CRootFolder::CRootFolder(std::string rootName) {
  setName(std::move(rootName));
  setType(std::string(kTypeFolder));
  setValue("0");
  AddChildEntry("rename", kTypeMethod, kRightsAll);
  AddChildEntry("NewServer", kTypeMethod, kRightsAll);
  setOpen(true);
}

void CRootFolder::PinFixedChildren() {
  PinChild(FindChild("NewServer"));
  PinChild(FindChild("rename"));
}

int CRootFolder::Invoke(const std::string& method, const std::string& arguments) {
  if (method == "rename") {
    setName(arguments);
    NotifyViews(kHintValuesChanged, this);
    return 0;
  }
  return CVirtualFolder::Invoke(method, arguments);
}

// ---- CServerFolder ----

CServerFolder::CServerFolder() {
  setType(std::string(kTypeFolder));
  setValue("1");
  for (const char* p : {"IPAddress", "Description", "ServerStatus"}) AddChildEntry(p, "prw", "");
  AddChildEntry("rename", kTypeMethod, kRightsAll);
}

void CServerFolder::PinFixedChildren() {
  for (const char* p : {"rename", "ServerStatus", "Description", "IPAddress"}) {
    if (CPea* child = FindChild(p)) PinChild(child);
  }
}

int CServerFolder::Invoke(const std::string& method, const std::string& arguments) {
  if (method == "rename") {
    SetLocalProperty("Description", arguments);
    NotifyViews(kHintChildrenChanged, this);
    NotifyViews(kHintValuesChanged, this);
    return 0;
  }
  return CVirtualFolder::Invoke(method, arguments);
}

int CServerFolder::SetRemoteProperty(const std::string& name, const std::string& value) {
  if (name == "IPAddress" || name == "Description" || name == "ServerStatus") return 0;
  return CVirtualFolder::SetRemoteProperty(name, value);
}

// ---- CShortCut ----

CShortCut::~CShortCut() {
  if (target_) target_->Release();
}

void CShortCut::Init(CPea* parent, CPea* target) {
  SetParent(parent, nullptr, nullptr);
  setName("short cut");
  setType(std::string(kTypeFolder));
  setValue("126");
  if (target) target->AddRef();
  if (target_) target_->Release();
  target_ = target;
}

}  // namespace kelm::console
