#pragma once
// The menus, the tool bar and the accelerators as tables of command ids, with the command prompts
// ("status text\ntool-tip") they show.
#include <QKeySequence>
#include <QString>
#include <vector>

#include "console/core/document.h"

namespace kelm::console::ui {

// The program's exit, which only the frame handles.
inline constexpr int kCmdAppExit = 57665;

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
