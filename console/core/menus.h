#pragma once
// The menus a node brings with it: the context-menu resources appended for a node (in the order
// they are appended) and the title of the main menu's node popup.
#include <vector>

#include "message/pea.h"

namespace kelm::console {

class CVirtualFolder;

// The user is the one account among its siblings holding the right 2 (read from the listed values):
// deleting it would leave no one to administer the accounts, and the agent keeps it anyway.
bool OnlyAdministrator(CVirtualFolder* user);

// Menu resource ids.
enum MenuId : int {
  kMenuMain = 128,
  kMenuArray = 137,
  kMenuBars = 139,
  kMenuList = 140,
  kMenuOutline = 141,
  kMenuServer = 144,
  kMenuUserAccounts = 145,
  kMenuUser = 146,
  kMenuCreateArray = 147,
  kMenuDiskInArray = 157,
  kMenuEvents = 167,
  kMenuEnclosure = 186,
  kMenuAgent = 187,
  kMenuFreeDisk = 202,
};

// The menus appended for the node, in order. A short cut takes its type from the disk it stands for
// and its parent from itself (the new array), so a member of a new array gets the in-array menu.
// Reads only values already held: nothing is sent.
std::vector<int> ContextMenuIds(CPea* node);

// The string id that titles the main menu's node popup for the node; 0 for a type without a title
// of its own (the popup then keeps menu 128's own title).
int NodePopupTitleId(CPea* node);

}  // namespace kelm::console
