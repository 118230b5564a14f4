#include "console/core/pages/rebuild_wizard.h"

#include "console/core/array_action.h"
#include "console/core/document.h"
#include "console/core/pages/page_support.h"

namespace kelm::console::pages {

namespace {
constexpr int kStrNoDisk = 196;
constexpr int kStrTooManyDisks = 197;
constexpr char kGoneText[] = "The array or the disk is no longer present. Nothing was sent.";
}  // namespace

RebuildWizard::RebuildWizard(CDremmoralDoc& doc, CPea* array, CPea* disk)
    : doc_(doc), array_(AsFolder(array)), chosen_(AsFolder(disk)) {
  if (chosen_) page_ = 1;
  Refill();
}

void RebuildWizard::Refill() {
  items_.clear();
  selected_.clear();
  CVirtualFolder* array = array_.get();
  if (!array || !doc_.IsInTree(array)) return;
  // A never-listed array is listed first; its members arrive later and refill the page.
  for (CPea* child : array->SubFolders(true)) {
    CVirtualFolder* disk = AsFolder(child);
    if (!disk || !IsDiskType(disk->nodeType())) continue;
    // Its values are listed now, so that Finish has the disk's id to send.
    if (!disk->isOpen()) disk->Refresh();
    Item item;
    item.disk = PeaRef<CVirtualFolder>(disk);
    NodeLabel label = doc_.BuildNodeLabel(child);
    item.label = label.node ? label.text : std::string("NONE");
    item.image = doc_.GetNodeImage(child);
    items_.push_back(std::move(item));
    selected_.push_back(disk == chosen_.get());
  }
}

void RebuildWizard::OnUpdate(int hint, CPea* node) {
  if (page_ != 0 || !array_) return;
  if ((hint == kHintChildrenChanged || hint == kHintValuesChanged) && AsFolder(node) == array_.get()) Refill();
}

void RebuildWizard::SetSelected(std::vector<bool> selected) {
  selected.resize(items_.size(), false);
  selected_ = std::move(selected);
}

bool RebuildWizard::Next() {
  if (page_ != 0) return false;
  int count = 0;
  std::size_t which = 0;
  for (std::size_t i = 0; i < selected_.size(); ++i) {
    if (selected_[i]) {
      ++count;
      which = i;
    }
  }
  if (count == 0) {
    doc_.ui().Beep(kBeepHand);
    Message(doc_, kStrNoDisk, MsgIcon::Exclamation);
    return false;
  }
  if (count > 1) {
    Message(doc_, kStrTooManyDisks, MsgIcon::Exclamation);
    return false;
  }
  chosen_ = items_[which].disk;
  page_ = 1;
  return true;
}

void RebuildWizard::Back() {
  if (page_ == 0) return;
  page_ = 0;
  Refill();
}

std::string RebuildWizard::FinishLabel() const {
  CVirtualFolder* disk = chosen_.get();
  if (!disk || !doc_.IsInTree(disk)) return "NONE";
  NodeLabel label = doc_.BuildNodeLabel(disk);
  return label.node && !label.text.empty() ? label.text : std::string("NONE");
}

bool RebuildWizard::Finish() {
  PeaRef<CVirtualFolder> array = array_;
  PeaRef<CVirtualFolder> disk = chosen_;
  if (!array || !disk || !doc_.IsInTree(array.get()) || !doc_.IsInTree(disk.get())) {
    MessageText(doc_, kGoneText, MsgIcon::Exclamation);
    return true;
  }
  // The rebuild names the disk by an id the agent gave; one not read yet would send an empty id.
  const int type = array->nodeType();
  const char* id = type == kNodeIopArray ? "DiskHandle" : type == kNodeIdeArray ? "handle" : "Channel";
  if (!ReadNoQuery(disk.get(), id) || ReadNoQuery(disk.get(), id)->empty()) {
    disk->Refresh();
    MessageText(doc_, kMembersUnreadText, MsgIcon::Exclamation);
    return false;
  }
  CArrayAction(&doc_, array.get()).RebuildArray(kActStart, disk.get());
  return true;
}

}  // namespace kelm::console::pages
