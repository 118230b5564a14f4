#pragma once
// What the panes show for a node, built once and kept: the label, the image and the states of the
// node's commands. Entries are refreshed on the document's hints and on the one-second poll only,
// with the node passive, so reading the cache never sends a request. A Qt model or a paint reads
// only the cache: a volatile property read from there would query the agent at every repaint.
//
// The one value refreshed on purpose is the progress of a busy array: one "percent" read every five
// seconds for the whole cache, given in turn to the busy array read longest ago.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "console/core/document.h"

namespace kelm::console {

struct CachedNode {
  int nodeType = kNodeUnknown;  // of the node as resolved through a short cut
  std::string label;
  int image = 0;
  bool hasSubFolders = false;
  int task = 0;                                // an array's "Status" & 0xFF00
  std::map<int, bool> commands;                // the state of each command of CachedCommandIds()
  bool operator==(const CachedNode&) const = default;
};

class NodeCache : public DocumentView {
 public:
  static constexpr std::int64_t kPercentPeriodMs = 5000;

  // Registers itself with the document as a view; unregisters when destroyed.
  explicit NodeCache(CDremmoralDoc& document);
  ~NodeCache() override;
  NodeCache(const NodeCache&) = delete;
  NodeCache& operator=(const NodeCache&) = delete;

  // A view starts or stops showing the node (counted per call; the node is held meanwhile). Track
  // builds the entry at once, passively.
  void Track(CPea* node);
  void Untrack(CPea* node);
  // The entry of a tracked node, or null. Sends nothing.
  const CachedNode* Find(const CPea* node) const;
  // A command's cached state for the node; false for an untracked node or an uncached command.
  bool CommandEnabled(const CPea* node, int commandId) const;
  std::size_t size() const { return entries_.size(); }

  // Rebuilds every entry now (the poll does; so does hint 256).
  void RebuildAll();

  // An entry's content changed: the view redraws that node's item.
  std::function<void(CPea*)> onChanged;

  // The commands whose states are cached: those a node's menus and the tool bar enable.
  static const std::vector<int>& CachedCommandIds();

  void OnUpdate(int hint, CPea* node) override;
  void OnPoll() override;

 private:
  struct Entry {
    PeaRef<CPea> node;
    int count = 0;
    CachedNode value;
    std::int64_t lastPercentMs = -1;
  };
  void Rebuild(Entry& entry);
  void RebuildNode(const CPea* node);
  void ReadOnePercent();

  CDremmoralDoc& document_;
  std::map<const CPea*, Entry> entries_;
  std::int64_t lastPercentMs_ = -1;
};

}  // namespace kelm::console
