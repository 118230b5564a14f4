#include "console/core/pages/page_support.h"

#include <algorithm>

#include "console/core/document.h"
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

}  // namespace kelm::console::pages
