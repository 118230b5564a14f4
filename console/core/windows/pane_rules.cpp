#include "console/core/windows/pane_rules.h"

#include <algorithm>
#include <limits>

#include "console/core/document.h"
#include "console/core/strings.h"

namespace kelm::console {

// ---- menus ----

namespace {

CVirtualFolder* ParentFolder(CPea* node) { return node ? dynamic_cast<CVirtualFolder*>(node->GetParent()) : nullptr; }

}  // namespace

bool IsOnlyAdministrator(CPea* user) {
  auto* u = AsFolder(user);
  if (!u || u->nodeType() != kNodeUser) return false;
  if ((u->GetIntProperty("right", 0, true) & 2) == 0) return false;
  CVirtualFolder* parent = ParentFolder(u);
  if (!parent) return true;
  for (CPea* s : parent->SubFolders(false)) {
    auto* f = AsFolder(s);
    if (!f || f == u || f->nodeType() != kNodeUser) continue;
    if (f->GetIntProperty("right", 0, true) & 2) return false;
  }
  return true;
}

std::vector<int> ContextMenuIds(CPea* item) {
  std::vector<int> out;
  // A short cut takes its type from the disk it stands for and its parent from where it is listed.
  auto* node = AsFolder(item);
  if (!node) return out;
  const int type = node->nodeType();
  CVirtualFolder* parent = ParentFolder(item);
  if (node->HasMethod("CreateArray")) out.push_back(147);
  if (type == kNodeUserAccounts) out.push_back(145);
  if (node->GetIntProperty("HasEvent", 0, true) != 0) out.push_back(167);
  switch (type) {
    case kNodeServer:
      out.push_back(144);
      break;
    case kNodeAgent:
      out.push_back(187);
      break;
    case kNodeIopArray:
    case kNodeIdeArray:
    case kNodeSerialArray:
      out.push_back(137);
      break;
    case kNodeIopDisk:
    case kNodeIdeDisk:
    case kNodeSerialDisk:
      out.push_back(parent && IsArrayType(parent->nodeType()) ? 157 : 202);
      break;
    case kNodeEnclosure:
      out.push_back(186);
      break;
    case kNodeUser:
      if (!IsOnlyAdministrator(node)) out.push_back(146);
      break;
    default:
      break;
  }
  return out;
}

int NodePopupTitleId(CPea* item) {
  auto* node = AsFolder(item);
  if (!node) return 0;
  const int t = node->nodeType();
  if (t >= 0 && t <= 14) return kStrMenuTitleBase + t;
  switch (t) {
    case kNodeSensorGroup:
      return kStrMenuEnclosure;
    case kNodeIdeArray:
    case kNodeSerialArray:
      return kStrMenuArray;
    case kNodeIdeController:
      return kStrMenuController;
    case kNodeIdeChannel:
      return kStrMenuChannel;
    case kNodeIdeDisk:
    case kNodeSerialDisk:
      return kStrMenuDisk;
    default:
      return 0;
  }
}

// ---- property pane ----

bool IsChannelType(int type) { return type == kNodeChannel || type == kNodeUserAccounts || type == kNodeIdeChannel; }

namespace {

bool HasPage(int type) {
  switch (type) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 12: case 13: case 14:
    case 18: case 19: case 20: case 21: case 22: case 23: case 24: case 25:
      return true;
    default:
      return false;
  }
}

// Channels and the user accounts share the channel page.
int PageOf(int type) {
  if (type == kNodeUserAccounts || type == kNodeIdeChannel) return kNodeChannel;
  if (type == kNodeSerialDisk) return kNodeIdeDisk;
  return type;
}

}  // namespace

PagePick PickPage(CPea* item) {
  PagePick pick;
  auto* node = AsFolder(item);
  if (!node) {
    pick.shown = nullptr;
    return pick;
  }
  const int type = node->nodeType();
  // The list pane alone decides the layout of a channel.
  if (!IsChannelType(type)) pick.split = node->HasSubFolders() ? SplitMode::Both : SplitMode::PropertyOnly;
  CVirtualFolder* shown = node;
  if (type == kNodePower || type == kNodeFan || type == kNodeTemperature || type == kNodeVoltage ||
      type == kNodeSensorGroup) {
    CVirtualFolder* parent = ParentFolder(node);
    if (!parent || parent->nodeType() != kNodeEnclosure) {
      pick.change = false;
      return pick;
    }
    shown = parent;
  }
  const int shownType = shown->nodeType();
  if (!HasPage(shownType)) return pick;
  pick.page = PageOf(shownType);
  pick.shown = shown;
  return pick;
}

// ---- outline ----

RefillPlan PlanRefill(const std::vector<CPea*>& existing, const std::vector<CPea*>& subFolders, bool wantsPlaceholder) {
  RefillPlan plan;
  std::vector<bool> matched(existing.size(), false);
  if (subFolders.empty()) {
    plan.placeholderOnly = wantsPlaceholder;
  }
  for (CPea* node : subFolders) {
    plan.order.push_back(node);
    bool found = false;
    for (std::size_t i = 0; i < existing.size(); ++i) {
      if (!matched[i] && existing[i] == node) {
        matched[i] = true;
        plan.keep.push_back(i);
        found = true;
        break;
      }
    }
    if (!found) plan.insert.push_back(node);
  }
  for (std::size_t i = 0; i < existing.size(); ++i) {
    // A placeholder already in place stays while the node still waits for its listing.
    if (!matched[i] && !(plan.placeholderOnly && existing[i] == nullptr && existing.size() == 1)) {
      plan.remove.push_back(i);
    }
  }
  if (plan.placeholderOnly && existing.size() == 1 && existing[0] == nullptr) plan.placeholderOnly = false;
  return plan;
}

bool WantsPlaceholder(CVirtualFolder* node) {
  if (!node || !node->HasSubFolders()) return false;
  if (node->nodeType() == kNodeAgent) return false;
  if (node->GetIntProperty("ServerStatus", 0, true) == 2) return false;
  if (node->GetIntProperty("bValidProfile", 1, true) == 0) return false;
  return true;
}

std::string EncodeActiveLeaf(const std::vector<std::string>& labels) {
  std::string out;
  for (const std::string& l : labels) out += "/" + l;
  return out.empty() ? "/" : out;
}

std::vector<std::string> ActiveLeafBelowRoot(std::string_view path) {
  std::vector<std::string> out;
  if (path.size() > kMaxActiveLeaf || path.empty() || path[0] != '/') return out;
  path.remove_prefix(1);
  bool first = true;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    std::string_view c = path.substr(0, slash);
    if (!first) {
      if (out.size() >= kMaxActiveLeafDepth) break;
      out.emplace_back(c);
    }
    first = false;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return out;
}

void AutoDemo::Start(CPea* start, std::int64_t nowMs) {
  on_ = true;
  last_ = nowMs;
  start_ = PeaRef<CPea>(start);
}

void AutoDemo::Stop() {
  on_ = false;
  start_.reset();
}

bool AutoDemo::Due(std::int64_t nowMs) {
  if (!on_) return false;
  if (nowMs - last_ < static_cast<std::int64_t>(freq_) * 1000) return false;
  last_ = nowMs;
  return true;
}

void AutoDemo::Stepped(CPea* next) {
  if (next == start_.get()) Stop();
}

bool CanEditLabel(CPea* node) {
  auto* f = AsFolder(node);
  return f && f->HasMethod("rename");
}

std::string LabelEditStart(CPea* node) {
  auto* f = AsFolder(node);
  return f ? f->GetProperty("name", "", true) : std::string();
}

bool LabelTextAcceptable(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c == '@' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool CommitLabelEdit(CPea* node, const std::string& text) {
  auto* f = AsFolder(node);
  if (!f || !CanEditLabel(f) || !LabelTextAcceptable(text)) return false;
  PeaRef<CVirtualFolder> keep(f);
  f->SetProperty("name", text);
  f->Invoke("rename", text);
  f->Reload();
  return true;
}

// ---- list pane ----

std::string_view TaskWord(int status) {
  switch (status & 0xFF00) {
    case 0x100:
      return "Sync.";
    case 0x200:
      return "Reb.";
    case 0x300:
      return "Exp.";
    default:
      return {};
  }
}

std::vector<ProgressBar> ListProgress::Paint(const std::vector<CPea*>& items, std::int64_t nowMs) {
  ++paints_;
  struct Busy {
    CVirtualFolder* node;
    std::string_view word;
  };
  std::vector<Busy> busy;
  std::vector<ProgressBar> bars;
  for (CPea* item : items) {
    auto* array = AsFolder(item);
    if (!array || !IsArrayType(array->nodeType())) continue;
    array->SetFlags(CVirtualFolder::kFlagPassive, CVirtualFolder::kFlagPassive);
    const int status = array->GetIntProperty("Status", 0);
    if (status != 0) busy.push_back({array, TaskWord(status)});
  }
  // The one read of this gap goes to the busy array read longest ago.
  if (!busy.empty() && (lastAnyRead_ < 0 || nowMs - lastAnyRead_ > kPercentReadGapMs)) {
    CVirtualFolder* pick = nullptr;
    std::int64_t oldest = std::numeric_limits<std::int64_t>::max();
    for (const Busy& b : busy) {
      const std::int64_t t = state_[b.node].lastRead;
      if (t < oldest) {
        oldest = t;
        pick = b.node;
      }
    }
    PeaRef<CVirtualFolder> keep(pick);
    pick->SetFlags(0, CVirtualFolder::kFlagPassive);
    const int percent = pick->GetIntProperty("percent", 0);
    pick->SetFlags(CVirtualFolder::kFlagPassive, CVirtualFolder::kFlagPassive);
    State& s = state_[pick];
    s.percent = percent > 100 ? -1 : percent;
    s.lastRead = nowMs;
    lastAnyRead_ = nowMs;
  }
  for (const Busy& b : busy) {
    State& s = state_[b.node];
    if (s.lastRead < 0) {
      // Not read yet: the value at hand, without a query.
      const int percent = b.node->GetIntProperty("percent", 0);
      s.percent = percent > 100 ? -1 : percent;
    }
    ProgressBar bar;
    bar.node = b.node;
    bar.word = std::string(b.word);
    bar.percent = s.percent;
    bar.draw = !b.word.empty() && s.percent >= 0 && s.percent < 100;
    bars.push_back(bar);
  }
  return bars;
}

std::string ListItemText(CDremmoralDoc& doc, CPea* node) {
  auto* f = AsFolder(node);
  if (f && node == f && IsArrayType(f->nodeType())) {
    std::string name = f->GetProperty("name", "", true);
    if (!name.empty()) return name;
  }
  return doc.BuildNodeLabel(node).text;
}

}  // namespace kelm::console
