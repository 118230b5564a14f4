#include "console/core/pages/page_support.h"

#include <algorithm>

#include "console/core/array_action.h"
#include "console/core/document.h"
#include "console/core/pages/page_texts.h"
#include "console/core/strings.h"

namespace kelm::console::pages {

const char kConnectionErrorText[] = "Connection Error";
const char kMembersUnreadText[] =
    "The member disks of this array are not all known to the console yet. They are being read again; please "
    "try again.";
const char kArrayLeftText[] = "This new array is no longer in the tree; nothing was sent.";

ModelSet ModelSetOf(int isQx6) {
  if (isQx6 == 99) return ModelSet::Unchanged;
  return isQx6 != 0 ? ModelSet::Qx : ModelSet::Standard;
}

int Message(CDremmoralDoc& doc, int stringId, MsgIcon icon, MsgButtons buttons) {
  MessageBoxRequest r;
  r.stringId = stringId;
  r.text = std::string(LoadString(stringId));
  r.icon = icon;
  r.buttons = buttons;
  return doc.ShowMessage(std::move(r));
}

int MessageText(CDremmoralDoc& doc, const std::string& text, MsgIcon icon, MsgButtons buttons) {
  MessageBoxRequest r;
  r.text = text;
  r.icon = icon;
  r.buttons = buttons;
  return doc.ShowMessage(std::move(r));
}

void ConnectionError(CDremmoralDoc& doc) { MessageText(doc, kConnectionErrorText, MsgIcon::Stop); }

std::vector<CVirtualFolder*> MemberDisks(CVirtualFolder* array, int diskType) {
  std::vector<CVirtualFolder*> out;
  if (!array) return out;
  CPea::Position pos = array->GetFirstChildPosition();
  while (CPea* child = array->GetNextChild(pos)) {
    if (!dynamic_cast<CShortCut*>(child)) continue;
    auto* disk = AsFolder(child);
    if (disk && disk->nodeType() == diskType) out.push_back(disk);
  }
  return out;
}

std::optional<std::string> ReadNoQuery(const CVirtualFolder* node, std::string_view name) {
  const CPea* child = node ? node->FindChild(name) : nullptr;
  if (!child || !child->IsProperty()) return std::nullopt;
  return child->value();
}

std::optional<std::vector<int>> MemberIds(const std::vector<CVirtualFolder*>& disks, std::string_view property) {
  std::vector<int> ids;
  for (const CVirtualFolder* disk : disks) {
    const auto text = ReadNoQuery(disk, property);
    if (!text) return std::nullopt;
    constexpr int kNone = -2147483647 - 1;
    const int id = LeadingInt(*text, kNone);
    if (id == kNone || std::find(ids.begin(), ids.end(), id) != ids.end()) return std::nullopt;
    ids.push_back(id);
  }
  return ids;
}

void RereadDisks(const std::vector<CVirtualFolder*>& disks) {
  // A listing, not a query: the answers to queries of a new array's disks are the console's own.
  for (CVirtualFolder* disk : disks) disk->Reload();
}

bool CommitConsoleArray(CDremmoralDoc& doc, CVirtualFolder* array, const NewArrayRequest& r) {
  PeaRef<CVirtualFolder> hold(array);
  PeaRef<CVirtualFolder> controller(dynamic_cast<CVirtualFolder*>(array ? array->GetParent() : nullptr));
  // A refresh or an 8194 may prune the node, here or while a box or the dialog is open.
  const auto stillThere = [&] {
    return controller && controller->nodeType() == r.controllerType && array->GetParent() == controller.get() &&
           doc.IsInTree(array);
  };
  if (!stillThere()) {
    MessageText(doc, kArrayLeftText, MsgIcon::Exclamation);
    return false;
  }
  if (!ArrayNameValid(r.name)) {
    MessageText(doc, kBadArrayNameText, MsgIcon::Exclamation);
    return false;
  }
  // The members and their ids as read; the count is checked before the options are asked.
  const auto members = [&]() -> std::optional<std::vector<int>> {
    const std::vector<CVirtualFolder*> disks = MemberDisks(array, r.diskType);
    if (const int id = ArrayCountCheck(r.level, disks.size(), r.serial)) {
      Message(doc, id, MsgIcon::Exclamation);
      return std::nullopt;
    }
    auto ids = MemberIds(disks, r.idProperty);
    if (!ids) {
      RereadDisks(disks);
      MessageText(doc, kMembersUnreadText, MsgIcon::Exclamation);
    }
    return ids;
  };
  auto ids = members();
  if (!ids) return false;

  std::string options;
  bool initialize = false;
  if (r.askOptions) {
    const auto chosen = doc.ui().RunCreateArrayOptions();
    if (!chosen) return false;
    if (!stillThere()) {
      MessageText(doc, kArrayLeftText, MsgIcon::Exclamation);
      return false;
    }
    const auto again = members();  // the members may have changed while the dialog was open
    if (!again) return false;
    if (*again != *ids) {
      MessageText(doc, kMembersUnreadText, MsgIcon::Exclamation);
      return false;
    }
    doc.setLastInitialization(chosen->initialize);
    initialize = chosen->initialize;
    options = "@" + std::to_string(chosen->initialize ? 1 : 0) + "@" + std::to_string(chosen->gbBoundary ? 1 : 0);
  }

  std::string text;
  CArgList list(text);
  list.Add(r.name);
  list.Add(r.level);
  list.Add(static_cast<int>(ids->size()));
  for (int id : *ids) list.Add(id);
  list.Add(r.blockSent);
  text += options;
  if (controller->Invoke("CreateArray", text) != 0) {
    ConnectionError(doc);
    return false;
  }

  // Sent: the console-made node and its members go, and the disks are read again.
  std::vector<PeaRef<CVirtualFolder>> disks;
  for (CVirtualFolder* d : MemberDisks(array, r.diskType)) disks.emplace_back(d);
  controller->setKeepChildren(false);
  CArrayAction(&doc, array).RemoveAllMembers();
  controller->RemoveChildNode(array);
  doc.ClearNewArrayMarks();
  for (auto& d : disks) {
    d->SetFlags(0, CVirtualFolder::kFlagNew | CVirtualFolder::kFlagPassive);
    d->Reload();
  }
  controller->NotifyViews(kHintChildrenChanged, controller.get());
  Message(doc, initialize ? kStrRebootAfterInit : kStrRebootForSetting, MsgIcon::Information);
  return true;
}

}  // namespace kelm::console::pages
