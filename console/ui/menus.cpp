#include "console/ui/menus.h"

#include <map>

#include "console/core/strings.h"

namespace kelm::console::ui {
namespace {

// Prompts of the commands the string table gives none, as "status text\ntool-tip".
const std::map<int, const char*>& Prompts() {
  static const std::map<int, const char*> table = {
      {32811, "Delete this server\nDelete Server"},
      {32844, "Move the focus to the next pane\nNext Pane"},
      {32854, "List the keyboard shortcuts\nKeyboard Help"},
      {57664, "Display program information, version number and copyright\nAbout"},
      {57665, "Quit the application\nExit"},
      {150, "Show or hide the outline pane\nToggle OutLine"},
      {59392, "Show or hide the toolbar\nToggle ToolBar"},
      {59393, "Show or hide the status bar\nToggle StatusBar"},
  };
  return table;
}

QString Prompt(int id) {
  const std::string_view s = CommandStatusText(id);
  if (!s.empty()) {
    const std::string_view tip = CommandToolTip(id);
    return QString::fromUtf8(s.data(), static_cast<int>(s.size())) +
           (tip.empty() ? QString() : QStringLiteral("\n") + QString::fromUtf8(tip.data(), static_cast<int>(tip.size())));
  }
  const auto& t = Prompts();
  auto it = t.find(id);
  return it == t.end() ? QString() : QString::fromUtf8(it->second);
}

// Menu texts of our own where no prompt gives a short one.
const std::map<int, const char*>& Texts() {
  static const std::map<int, const char*> table = {
      {32777, "&Rebuild Array..."},      {32778, "&Synchronize"},        {32781, "&Delete Array"},
      {32784, "R&efresh"},               {32791, "&Collapse"},           {32799, "&New User..."},
      {32802, "&Delete User"},           {32807, "&New Server"},         {32809, "&Create Array..."},
      {32810, "Re&build Disk..."},       {32811, "&Delete Server"},      {32813, "&Disconnect"},
      {32814, "&Connect"},               {32816, "Re&name"},             {32817, "E&xpand"},
      {32818, "&Read Events..."},        {32819, "C&lear Events"},       {32821, "&Font..."},
      {32822, "&Background Color..."},   {32828, "&Remove from New Array"},
      {32829, "&Auto Demo"},             {32832, "C&ontinue"},           {32833, "&Pause"},
      {32834, "S&top"},                  {32835, "&Beeper"},             {32842, "&Login"},
      {32843, "Log&out"},                {32844, "Ne&xt Pane\tF6"},      {32853, "&Add to New Array"},
      {32854, "&Keyboard Help"},         {32857, "&Run on Startup"},     {57664, "&About..."},
      {57665, "E&xit"},                  {150, "&OutLine Pane"},         {59392, "&Toolbar"},
      {59393, "&Status Bar"},
  };
  return table;
}

MenuEntry Item(int id) { return MenuEntry{id, {}, {}}; }
MenuEntry Sep() { return MenuEntry{}; }
MenuEntry Popup(const char* title, std::vector<MenuEntry> items) {
  return MenuEntry{-1, std::move(items), QString::fromUtf8(title)};
}

}  // namespace

const std::vector<MenuEntry>& MenuItems(int menuId) {
  static const std::map<int, std::vector<MenuEntry>> menus = {
      {137, {Item(32781), Item(32777), Item(32778), Sep(), Item(32832), Item(32833), Item(32834), Sep(), Item(32816)}},
      {139, {Item(59392), Item(59393), Item(150)}},
      // The list pane's popup: a placeholder popup that takes the array entries, then a separator.
      {140, {Popup("&Array", {Item(kSeparator)}), Sep()}},
      {141, {Item(32817), Item(32791), Item(32784)}},
      {144, {Item(32811), Item(32814), Item(32813)}},
      {145, {Item(32799)}},
      {146, {Item(32802), Item(32816)}},
      {147, {Item(32809)}},
      {157, {Item(32810), Item(32828)}},
      {167, {Item(32818), Item(32819)}},
      {186, {Item(32835)}},
      {187, {Item(32842), Item(32843), Item(32784)}},
      {202, {Item(32853)}},
  };
  static const std::vector<MenuEntry> none;
  auto it = menus.find(menuId);
  return it == menus.end() ? none : it->second;
}

const std::vector<MenuEntry>& MainMenu() {
  static const std::vector<MenuEntry> menu = {
      Popup("&Object", {Item(32784), Sep(), Item(57665)}),
      Popup("&View", {Item(59392), Item(59393), Item(150), Sep(), Item(32821), Item(32822), Sep(), Item(32829),
                      Item(32844), Sep(), Item(32784)}),
      Popup("&Options", {Item(32835), Item(32857), Sep(), Item(32842), Item(32843)}),
      Popup("&Help", {Item(32854), Sep(), Item(57664)}),
  };
  return menu;
}

const std::vector<int>& ToolbarButtons() {
  static const std::vector<int> ids = {32784, 0,     32809, 32781, 32777, 32778, 0,     32833, 32832, 32834,
                                       0,     32799, 32802, 0,     32818, 0,     32842, 32843, 0,     32835,
                                       0,     57664};
  return ids;
}

QString StatusPrompt(int id) { return Prompt(id).section(QLatin1Char('\n'), 0, 0); }

QString ToolTipPrompt(int id) {
  const QString p = Prompt(id);
  const int nl = p.indexOf(QLatin1Char('\n'));
  return nl < 0 ? QString() : p.mid(nl + 1);
}

QString ToolbarTip(int id) {
  QString tip = ToolTipPrompt(id);
  if (tip.isEmpty()) tip = MenuText(id).remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
  if (tip.endsWith(QLatin1String("..."))) tip.chop(3);
  return tip;
}

QString MenuText(int id) {
  const auto& t = Texts();
  auto it = t.find(id);
  if (it != t.end()) return QString::fromUtf8(it->second);
  const QString tip = ToolTipPrompt(id);
  return tip.isEmpty() ? StatusPrompt(id) : tip;
}

const std::vector<Accelerator>& Accelerators() {
  static const std::vector<Accelerator> keys = {
      {QKeySequence(Qt::Key_F6), kCmdNextPane, "all panes"},
      {QKeySequence(Qt::Key_F5), 32784, "all panes"},
      {QKeySequence(Qt::Key_Delete), kCmdDeleteKey, "outline"},
      {QKeySequence(Qt::CTRL | Qt::Key_Down), kCmdNextItem, "outline"},
      {QKeySequence(Qt::CTRL | Qt::Key_Up), kCmdPreviousItem, "outline"},
      {QKeySequence(Qt::Key_F2), 32816, "outline"},
      {QKeySequence(Qt::Key_Delete), kCmdDeleteKey, "list"},
      {QKeySequence(Qt::ALT | Qt::Key_Left), kCmdScrollColumnLeft, "pages"},
      {QKeySequence(Qt::ALT | Qt::Key_Right), kCmdScrollColumnRight, "pages"},
      {QKeySequence(Qt::ALT | Qt::Key_Down), kCmdScrollLineDown, "pages"},
      {QKeySequence(Qt::ALT | Qt::Key_Up), kCmdScrollLineUp, "pages"},
      {QKeySequence(Qt::ALT | Qt::Key_PageDown), kCmdScrollPageDown, "pages"},
      {QKeySequence(Qt::ALT | Qt::Key_PageUp), kCmdScrollPageUp, "pages"},
  };
  return keys;
}

}  // namespace kelm::console::ui
