#pragma once
// The console's main window: tool bar, status bar with its owner-drawn panes, the outline bar,
// the splitter with the list and property panes, the one-second timer and the menus.
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>
#include <array>
#include <vector>

#include "console/controls/flat_toolbar.h"
#include "console/controls/size_dock.h"
#include "console/core/document.h"
#include "console/core/windows/frame_rules.h"
#include "console/ui/panes.h"

class QMenu;

namespace kelm::console::ui {

class QtUiServices;

// The activity lamp (pane 194): two blue blocks on every second paint while a request runs.
class ActivityPane : public QWidget {
  Q_OBJECT

 public:
  explicit ActivityPane(QWidget* parent = nullptr);
  void setValue(int v);
  int value() const { return value_; }
  int paints() const { return paints_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  int value_ = -1;
  int paints_ = 0;
};

// The user pane (146): the user text in the bar's font.
class UserPane : public QWidget {
  Q_OBJECT

 public:
  explicit UserPane(QWidget* parent = nullptr);
  void setText(const QString& t);
  QString text() const { return text_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  QString text_;
};

class ConsoleStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit ConsoleStatusBar(QWidget* parent = nullptr);
  ActivityPane* activity() const { return activity_; }
  UserPane* user() const { return user_; }
  void setIdle();
  void updateLocks();

 private:
  UserPane* user_;
  std::array<QLabel*, 3> locks_{};
  ActivityPane* activity_;
};

// Caps, num and scroll lock from the X keyboard's indicators; nothing elsewhere.
std::optional<std::array<bool, 3>> LockKeyState();

class CMainFrame : public controls::CSizeDockFrame {
  Q_OBJECT

 public:
  CMainFrame(CDremmoralDoc& doc, QtUiServices& ui);
  ~CMainFrame() override;

  // The frame's creation: bars, panes, timer; then the document's first update.
  void OnCreate();
  void RestoreWindowPos();
  // Saves bars, placement, the list pane's height and the outline state (once).
  void SaveState();

  void OnCommand(int id);
  bool IsCommandEnabled(int id);
  void Poll();
  void NextPane();
  // The main menu's node popup for the node (null: reset).
  void RebuildNodePopup(CPea* node);
  // Tracks the node's context menu (the given leading menus, then the node's own) with the node
  // as the document's command node; the chosen command runs on it, then 8192 clears it.
  void TrackNodeMenu(CPea* node, const std::vector<int>& leading, QPoint global, QWidget* owner);
  // Builds the menu that TrackNodeMenu shows, for tests.
  void FillNodeMenu(QMenu* menu, CPea* node, const std::vector<int>& leading);

  QColor BackgroundColour() const;
  QColor TextColour() const;
  QFont PaneFont() const;

  COutLineView* outline() const { return outlineBar_->view(); }
  COutLineBar* outlineBar() const { return outlineBar_; }
  CContentView* list() const { return list_; }
  CPropertyView* property() const { return property_; }
  CReinSplitterWnd* splitter() const { return splitter_; }
  ConsoleStatusBar* status() const { return status_; }
  controls::CFlatToolbarHost* toolbar() const { return toolbar_; }
  CDremmoralDoc& doc() { return doc_; }
  NodeCache& cache() { return *cache_; }
  int pollsRun() const { return polls_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void AddMenuEntries(QMenu* menu, const std::vector<struct MenuEntry>& entries);
  QAction* CommandAction(QMenu* menu, int id);
  void UpdateMenuStates(QMenu* menu);
  void ShowAbout();
  void ShowKeyboardHelp();
  void ApplyContentSize();
  std::array<bool, 3> UsablePanes() const;

  CDremmoralDoc& doc_;
  QtUiServices& ui_;
  std::unique_ptr<NodeCache> cache_;
  CReinSplitterWnd* splitter_ = nullptr;
  ConsoleStatusBar* status_ = nullptr;
  controls::CFlatToolbarHost* toolbar_ = nullptr;
  COutLineBar* outlineBar_ = nullptr;
  CContentView* list_ = nullptr;
  CPropertyView* property_ = nullptr;
  QMenu* nodePopup_ = nullptr;
  QTimer timer_;
  ReentryGuard pollGuard_;
  int polls_ = 0;
  int savedContentSize_ = 0;
  bool contentApplied_ = false;
  bool saved_ = false;
};

}  // namespace kelm::console::ui
