#include "console/core/windows/pane_rules.h"

#include <algorithm>

#include "console/core/document.h"
#include "console/core/strings.h"

namespace kelm::console {

bool IsChannelType(int type) { return type == kNodeChannel || type == kNodeUserAccounts || type == kNodeIdeChannel; }

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

std::vector<ProgressBar> ProgressBars(const std::vector<CPea*>& items) {
  std::vector<ProgressBar> bars;
  for (CPea* item : items) {
    auto* array = AsFolder(item);
    if (!array || !IsArrayType(array->nodeType())) continue;
    const int status = array->GetIntProperty("Status", 0, true);
    if (status == 0) continue;
    ProgressBar bar;
    bar.node = array;
    bar.word = std::string(TaskWord(status));
    const int percent = array->GetIntProperty("percent", 0, true);
    bar.percent = percent > 100 ? -1 : percent;
    bar.draw = !bar.word.empty() && bar.percent >= 0 && bar.percent < 100;
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
