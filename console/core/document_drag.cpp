// Dragging free disks onto an array: the decisions the outline and the list pane share.
#include <set>

#include "console/core/document.h"

namespace kelm::console {

namespace {

int HighByteOf(int status) { return (status >> 8) & 0xFF; }

}  // namespace

bool CDremmoralDoc::CanDragNodes(const std::vector<CPea*>& nodes) {
  if (nodes.empty()) return false;
  for (CPea* node : nodes) {
    // A short cut is already a member of a new array: it is not dragged again.
    auto* disk = dynamic_cast<CVirtualFolder*>(node);
    if (!disk || (disk->nodeType() != kNodeIopDisk && disk->nodeType() != kNodeSerialDisk)) return false;
    const int high = HighByteOf(disk->GetIntProperty("Status", 0, true));
    if ((high != 1 && high != 3) || disk->inNewArray()) return false;
  }
  return true;
}

bool CDremmoralDoc::CanDropOn(const std::vector<CPea*>& nodes, CPea* target) {
  if (!CanDragNodes(nodes)) return false;
  auto* array = dynamic_cast<CVirtualFolder*>(target);
  if (!array || !IsArrayType(array->nodeType())) return false;
  auto* controller = dynamic_cast<CVirtualFolder*>(array->GetParent());
  if (!controller || !controller->HasMethod("DeleteArray")) return false;
  const bool isNew = (array->flags() & CVirtualFolder::kFlagNew) != 0;
  if (!isNew && static_cast<std::uint32_t>(array->GetIntProperty("Status", -1, true)) != 0) return false;
  // The disks go to the controller's new array: without one, or without room for all of them, the
  // drop would take nothing, so it is refused here rather than accepted and ignored.
  if (!NewArrayUnder(controller)) return false;
  std::set<CPea*> distinct(nodes.begin(), nodes.end());
  if (newArrayDisks_.size() + distinct.size() > kNewArraySlots) return false;
  for (CPea* node : distinct) {
    auto* disk = dynamic_cast<CVirtualFolder*>(node);
    if (!disk->IsDescendantOf(controller) || ControllerOfDisk(disk) != controller) return false;
    if (!CanAddToNewArray(disk)) return false;
  }
  return true;
}

bool CDremmoralDoc::DropOn(const std::vector<CPea*>& nodes, CPea* target) {
  if (!CanDropOn(nodes, target)) return false;
  std::vector<PeaRef<CPea>> keep;
  for (CPea* n : nodes) keep.emplace_back(n);
  AddDisksToNewArray(nodes);
  return true;
}

}  // namespace kelm::console
