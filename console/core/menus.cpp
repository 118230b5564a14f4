#include "console/core/menus.h"

#include "console/core/strings.h"
#include "console/core/virtual_folder.h"

namespace kelm::console {

namespace {

constexpr int kAdminRight = 2;

}  // namespace

bool OnlyAdministrator(CVirtualFolder* user) {
  if (!user || user->nodeType() != kNodeUser) return false;
  if ((user->GetIntProperty("right", 0, true) & kAdminRight) == 0) return false;
  CPea* parent = user->GetParent();
  if (!parent) return true;
  CPea::Position pos = parent->GetFirstChildPosition();
  while (CPea* sibling = parent->GetNextChild(pos)) {
    auto* other = dynamic_cast<CVirtualFolder*>(sibling);
    if (!other || other == user || other->nodeType() != kNodeUser) continue;
    // An account whose rights are not read yet may be one too; the agent keeps its last one anyway.
    if (!other->FindChild("right") || (other->GetIntProperty("right", 0, true) & kAdminRight)) return false;
  }
  return true;
}

std::vector<int> ContextMenuIds(CPea* node) {
  std::vector<int> menus;
  CPea* parentNode = node ? node->GetParent() : nullptr;
  CVirtualFolder* folder = AsFolder(node);
  if (!folder) return menus;
  const int type = folder->nodeType();
  if (folder->HasMethod("CreateArray")) menus.push_back(kMenuCreateArray);
  if (type == kNodeUserAccounts) menus.push_back(kMenuUserAccounts);
  if (folder->GetIntProperty("HasEvent", 0, true) != 0) menus.push_back(kMenuEvents);
  switch (type) {
    case kNodeServer:
      menus.push_back(kMenuServer);
      break;
    case kNodeAgent:
      menus.push_back(kMenuAgent);
      break;
    case kNodeIopArray:
    case kNodeIdeArray:
    case kNodeSerialArray:
      menus.push_back(kMenuArray);
      break;
    case kNodeIopDisk:
    case kNodeIdeDisk:
    case kNodeSerialDisk:
      menus.push_back(IsArrayType(NodeTypeOf(parentNode)) ? kMenuDiskInArray : kMenuFreeDisk);
      break;
    case kNodeEnclosure:
      menus.push_back(kMenuEnclosure);
      break;
    case kNodeUser:
      if (!OnlyAdministrator(folder)) menus.push_back(kMenuUser);
      break;
    default:
      break;
  }
  return menus;
}

int NodePopupTitleId(CPea* node) {
  const int type = NodeTypeOf(ResolveShortCut(node));
  if (type >= kNodeConsoleRoot && type <= kNodeRaidSystem) return kStrMenuTitleBase + type;
  switch (type) {
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

}  // namespace kelm::console
