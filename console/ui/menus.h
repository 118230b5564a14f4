#pragma once
// The menus, the tool bar and the accelerators as tables of command ids, with the command prompts
// ("status text\ntool-tip") they show.
#include <QKeySequence>
#include <QString>
#include <vector>

namespace kelm::console::ui {

// Command ids the frame handles itself.
enum FrameCommand : int {
  kCmdToggleOutlineBar = 150,
  kCmdToggleToolBar = 59392,
  kCmdToggleStatusBar = 59393,
  kCmdCollapseNode = 32791,
  kCmdExpandNode = 32817,
  kCmdHideOutline = 32826,
  kCmdDeleteKey = 32827,
  kCmdAutoDemo = 32829,
  kCmdNextItem = 32840,
  kCmdPreviousItem = 32841,
  kCmdNextPane = 32844,
  kCmdScrollLeft = 32847,
  kCmdScrollRight = 32848,
  kCmdLineDown = 32849,
  kCmdLineUp = 32850,
  kCmdPageDown = 32851,
  kCmdPageUp = 32852,
  kCmdKeyboardHelp = 32854,
  kCmdAbout = 57664,
  kCmdAppExit = 57665,
};

inline constexpr int kSeparator = 0;
// A popup inside a menu: its title and its items.
struct MenuEntry {
  int id = kSeparator;  // command id, or 0 for a separator
  std::vector<MenuEntry> popup;
  QString title;  // a popup's title
};

// The items of a menu resource (137, 139, 140, 141, 144..147, 157, 167, 186, 187, 202).
const std::vector<MenuEntry>& MenuItems(int menuId);
// Menu 128, the main menu: its popups in order (the first is the node popup).
const std::vector<MenuEntry>& MainMenu();
// Tool bar 128.
const std::vector<int>& ToolbarButtons();

// The status text and the tool tip of a command.
QString StatusPrompt(int id);
QString ToolTipPrompt(int id);
// A menu item's text.
QString MenuText(int id);
// A tool bar button's tip: the prompt's tip, else the item's words.
QString ToolbarTip(int id);

struct Accelerator {
  QKeySequence key;
  int id;
  const char* where;  // which pane's table
};
const std::vector<Accelerator>& Accelerators();

}  // namespace kelm::console::ui
