#include "console/core/node_cache.h"

#include <algorithm>

#include "console/core/virtual_folder.h"

namespace kelm::console {

namespace {

// Holds a folder (and its parent, which command rules read) passive for the scope, so that reads
// use the values already held.
class PassiveScope {
 public:
  explicit PassiveScope(CVirtualFolder* folder) {
    Hold(folder);
    if (folder) Hold(dynamic_cast<CVirtualFolder*>(folder->GetParent()));
  }
  ~PassiveScope() {
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) it->first->SetFlags(it->second, CVirtualFolder::kFlagPassive);
  }
  PassiveScope(const PassiveScope&) = delete;
  PassiveScope& operator=(const PassiveScope&) = delete;

 private:
  void Hold(CVirtualFolder* f) {
    if (!f) return;
    held_.emplace_back(f, f->SetFlags(CVirtualFolder::kFlagPassive, CVirtualFolder::kFlagPassive));
  }
  std::vector<std::pair<CVirtualFolder*, std::uint32_t>> held_;
};

}  // namespace

const std::vector<int>& NodeCache::CachedCommandIds() {
  static const std::vector<int> ids{
      kCmdRebuildArray, kCmdSyncArray,     kCmdDeleteArray, kCmdRefresh,     kCmdAddUser,
      kCmdDeleteUser,   kCmdCreateArray,   kCmdRebuildDisk, kCmdRename,      kCmdReadEvents,
      kCmdClearEvents,  kCmdRemoveFromNewArray, kCmdContinue, kCmdPause,     kCmdStop,
      kCmdLogin,        kCmdLogout,        kCmdAddToNewArray,
  };
  return ids;
}

NodeCache::NodeCache(CDremmoralDoc& document) : document_(document) { document_.AddView(this); }

NodeCache::~NodeCache() { document_.RemoveView(this); }

void NodeCache::Track(CPea* node) {
  if (!node) return;
  Entry& e = entries_[node];
  if (e.count++ == 0) {
    e.node = PeaRef<CPea>(node);
    Rebuild(e);
  }
}

void NodeCache::Untrack(CPea* node) {
  auto it = entries_.find(node);
  if (it == entries_.end()) return;
  if (--it->second.count > 0) return;
  PeaRef<CPea> last = std::move(it->second.node);
  entries_.erase(it);
}

const CachedNode* NodeCache::Find(const CPea* node) const {
  auto it = entries_.find(node);
  return it == entries_.end() ? nullptr : &it->second.value;
}

bool NodeCache::CommandEnabled(const CPea* node, int commandId) const {
  const CachedNode* c = Find(node);
  if (!c) return false;
  auto it = c->commands.find(commandId);
  return it != c->commands.end() && it->second;
}

void NodeCache::Rebuild(Entry& entry) {
  CPea* node = entry.node.get();
  // A node that left the tree keeps its last entry until its view lets it go.
  if (!node || !document_.IsInTree(node)) return;
  PeaRef<CPea> keep(node);
  CVirtualFolder* folder = AsFolder(node);
  CachedNode next;
  {
    PassiveScope passive(folder);
    NodeLabel label = document_.BuildNodeLabel(node);
    next.nodeType = label.nodeType;
    next.label = std::move(label.text);
    next.image = document_.GetNodeImage(node);
    if (folder) {
      next.hasSubFolders = folder->HasSubFolders();
      if (IsArrayType(folder->nodeType())) next.task = folder->GetIntProperty("Status", 0, true) & 0xFF00;
    }
    for (int id : CachedCommandIds()) next.commands[id] = document_.IsCommandEnabledFor(id, node);
  }
  if (next == entry.value) return;
  entry.value = std::move(next);
  if (onChanged) onChanged(node);
}

void NodeCache::RebuildNode(const CPea* node) {
  auto it = entries_.find(node);
  if (it != entries_.end()) Rebuild(it->second);
}

void NodeCache::RebuildAll() {
  std::vector<const CPea*> keys;
  keys.reserve(entries_.size());
  for (auto& [k, e] : entries_) keys.push_back(k);
  // An onChanged handler may untrack nodes: each is looked up again.
  for (const CPea* k : keys) RebuildNode(k);
}

void NodeCache::OnUpdate(int hint, CPea* node) {
  switch (hint) {
    case kHintInitialUpdate:
      RebuildAll();
      return;
    case kHintValuesChanged:
      RebuildNode(node);
      return;
    case kHintChildArrived:
      if (node) RebuildNode(node->GetParent());
      RebuildNode(node);
      return;
    case kHintChildrenChanged:
      // The node's sub-folders changed; each child's own values come with its own hints.
      RebuildNode(node);
      return;
    default:
      return;
  }
}

void NodeCache::OnPoll() {
  RebuildAll();
  ReadOnePercent();
}

void NodeCache::ReadOnePercent() {
  const std::int64_t now = document_.clock().monotonicMs();
  if (lastPercentMs_ >= 0 && now - lastPercentMs_ < kPercentPeriodMs) return;
  Entry* chosen = nullptr;
  for (auto& [k, e] : entries_) {
    if (e.value.task == 0 || !IsArrayType(e.value.nodeType) || !document_.IsInTree(e.node.get())) continue;
    if (!chosen || e.lastPercentMs < chosen->lastPercentMs) chosen = &e;
  }
  if (!chosen) return;
  CVirtualFolder* array = AsFolder(chosen->node.get());
  if (!array || (array->flags() & CVirtualFolder::kFlagNew)) return;
  chosen->lastPercentMs = now;
  lastPercentMs_ = now;
  // The answer comes back as hint 260, which rebuilds the label with the new value.
  PeaRef<CVirtualFolder> keep(array);
  const std::uint32_t old = array->SetFlags(0, CVirtualFolder::kFlagPassive);
  array->Query("percent");
  array->SetFlags(old, CVirtualFolder::kFlagPassive);
}

}  // namespace kelm::console
