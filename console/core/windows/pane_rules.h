#pragma once
// What the outline and list panes decide without a window: the refill of a tree item's children,
// the remembered path, Auto Demo, label edits and the list pane's progress bars.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/virtual_folder.h"
#include "message/pea.h"

namespace kelm::console {

class CDremmoralDoc;

// Channels and the user accounts: the list pane alone decides their layout.
bool IsChannelType(int type);

// ---- outline ----

// The refill of one item's children: which existing items stay (updated in place), which nodes
// get new items, which existing items go.
struct RefillPlan {
  bool placeholderOnly = false;  // no sub-folders yet: a "Please wait ..." placeholder
  std::vector<std::size_t> keep;      // indexes into existing, in sub-folder order
  std::vector<CPea*> insert;          // nodes without an item, in sub-folder order
  std::vector<std::size_t> remove;    // indexes into existing
  std::vector<CPea*> order;           // every sub-folder in child order
};
// existing: the nodes of the current child items (null for a placeholder).
RefillPlan PlanRefill(const std::vector<CPea*>& existing, const std::vector<CPea*>& subFolders, bool wantsPlaceholder);
// Whether a node that has no sub-folders yet shows the placeholder.
bool WantsPlaceholder(CVirtualFolder* node);
inline constexpr int kPlaceholderImage = 18;

// "ActiveLeaf": "/" + label for each level from the root.
std::string EncodeActiveLeaf(const std::vector<std::string>& labels);
inline constexpr std::size_t kMaxActiveLeaf = 4096;
inline constexpr std::size_t kMaxActiveLeafDepth = 32;
// The components below the root (the first component names the root and is skipped), bounded.
std::vector<std::string> ActiveLeafBelowRoot(std::string_view path);
// Follows components from an item down its children by exact label; the deepest item reached and
// how many components matched.
template <class Item, class ChildrenFn, class LabelFn>
std::pair<Item, std::size_t> FollowPath(Item start, const std::vector<std::string>& components, ChildrenFn children,
                                        LabelFn label) {
  Item at = start;
  std::size_t matched = 0;
  for (const std::string& c : components) {
    Item found{};
    for (Item child : children(at)) {
      if (label(child) == c) {
        found = child;
        break;
      }
    }
    if (!found) break;
    at = found;
    ++matched;
  }
  return {at, matched};
}

// Auto Demo: one step each "DemoFreq" seconds in tree order, ending when the start comes again
// or leaves the tree (then at the root).
class AutoDemo {
 public:
  static constexpr int kDefaultFreq = 10;
  static constexpr int kMaxFreq = 86400;
  void SetFreq(int seconds) { freq_ = seconds < 1 ? 1 : (seconds > kMaxFreq ? kMaxFreq : seconds); }
  int freq() const { return freq_; }
  bool on() const { return on_; }
  void Start(CPea* start, std::int64_t nowMs);
  void Stop();
  // Called every second: true when a step is due (and counts it as taken).
  bool Due(std::int64_t nowMs);
  // After stepping to `next`: ends when it is the start again.
  void Stepped(CPea* next);
  CPea* start() const { return start_.get(); }

 private:
  bool on_ = false;
  int freq_ = kDefaultFreq;
  std::int64_t last_ = 0;
  PeaRef<CPea> start_;
};
// The item after `item` in tree order (first child, next sibling, an ancestor's next sibling,
// else the root), skipping placeholder items.
template <class Item, class Nav>
Item NextInTreeOrder(Item item, const Nav& nav) {
  auto usable = [&](Item i) { return i && !nav.isPlaceholder(i); };
  for (Item c : nav.children(item)) {
    if (usable(c)) return c;
  }
  for (Item at = item; at && at != nav.root(); at = nav.parent(at)) {
    bool passed = false;
    for (Item s : nav.children(nav.parent(at))) {
      if (passed && usable(s)) return s;
      if (s == at) passed = true;
    }
  }
  return nav.root();
}

// Label edits: the edit opens only for a node with "rename", from its "name"; a text that is
// empty, or holds '@', '\' or a control character, is refused before anything is sent.
bool CanEditLabel(CPea* node);
std::string LabelEditStart(CPea* node);
bool LabelTextAcceptable(std::string_view text);
// Sends the rename (name property, the method, a reload); false when refused.
bool CommitLabelEdit(CPea* node, const std::string& text);

// ---- list pane ----

// The task word under a busy array's label, or empty.
std::string_view TaskWord(int status);

struct ProgressBar {
  CPea* node = nullptr;
  std::string word;
  int percent = 0;  // 0..99 when drawn; -1 above 100
  bool draw = false;
};

// One paint's bars for the listed items (short cuts resolved; non-arrays and idle arrays skipped).
// Reads only values at hand: "percent" is refreshed once per five seconds for the whole pane by
// the node cache, never by a paint.
std::vector<ProgressBar> ProgressBars(const std::vector<CPea*>& items);

// The list item's text: an array's "name" when it is not empty, else the document's label.
std::string ListItemText(CDremmoralDoc& doc, CPea* node);

}  // namespace kelm::console
