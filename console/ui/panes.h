#pragma once
// The outline pane (COutLineView in COutLineBar), the list pane (CContentView), the property pane
// (CPropertyView hosting CPropertyForm pages) and the splitter that holds the last two.
#include <QHash>
#include <QListWidget>
#include <QSplitter>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/controls/size_dock.h"
#include "console/core/document.h"
#include "console/core/node_cache.h"
#include "console/core/panes/property_pane.h"
#include "console/core/windows/pane_rules.h"

namespace kelm::console::ui {

class CMainFrame;

// Whether a node is still in the document's tree.
bool InTree(CDremmoralDoc& doc, CPea* node);

// ---- splitter ----

class CReinSplitterWnd : public QSplitter {
  Q_OBJECT

 public:
  enum Mode { kBoth = -1, kListPane = 0, kPropertyPane = 1 };
  explicit CReinSplitterWnd(QWidget* parent = nullptr);
  // Give the whole area to one pane, or back to both; the previous mode.
  int ShowOnlyPane(int pane);
  int ShowAllPanes();
  int mode() const { return mode_; }
  // The list pane's height while both panes last showed.
  int lastTwoPaneHeight() const { return lastHeight_; }
  void setListHeight(int h);

 private:
  void remember();
  int mode_ = kBoth;
  int lastHeight_ = 0;
};

// ---- property pane ----

// The Qt base of every property page: it shows what its presenter holds.
class CPropertyForm : public QWidget {
  Q_OBJECT

 public:
  explicit CPropertyForm(PagePresenter* presenter, QWidget* parent = nullptr);
  PagePresenter* presenter() const { return presenter_; }
  CPea* GetNode() const { return presenter_ ? presenter_->GetNode() : nullptr; }
  // The presenter changed (a new node, a refresh): show it again.
  virtual void ShowPresenter() { update(); }
  // Scroll commands 32847 to 32852.
  bool OnScrollCommand(int id);

 protected:
  bool event(QEvent* e) override;

 private:
  PagePresenter* presenter_;
};

// A page plugs in with its presenter and its form; a page without a form shows an empty one.
using PagePresenterFactory = PropertyPanePresenter::Factory;
using PageFormFactory = std::function<CPropertyForm*(PagePresenter*, QWidget*)>;
void RegisterPage(PageId id, PagePresenterFactory presenter, PageFormFactory form = {});

class CPropertyView : public QWidget {
  Q_OBJECT

 public:
  explicit CPropertyView(CDremmoralDoc& doc, QWidget* parent = nullptr);
  ~CPropertyView() override;
  PropertyPanePresenter& presenter() { return *presenter_; }
  CPropertyForm* shownForm() const { return shown_; }

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void OnPageShown(PageId id, PagePresenter* page);
  std::unique_ptr<PropertyPanePresenter> presenter_;
  std::map<PageId, CPropertyForm*> forms_;
  CPropertyForm* shown_ = nullptr;
};

// ---- outline ----

class COutLineView;

// A tree item holds its node counted and watched while it exists.
class OutlineItem : public QTreeWidgetItem {
 public:
  OutlineItem(COutLineView* owner, CPea* node);
  ~OutlineItem() override;
  CPea* node() const { return node_.get(); }

 private:
  COutLineView* view_;
  PeaRef<CPea> node_;
};

class COutLineView : public QTreeWidget, public DocumentView {
  Q_OBJECT

 public:
  COutLineView(CDremmoralDoc& doc, CMainFrame* frame, QWidget* parent = nullptr);
  ~COutLineView() override;
  void OnUpdate(int hint, CPea* node) override;
  // Auto Demo's step, from the frame's poll before the page refreshes.
  void PollStep();

  void LoadOutlineState(const plat::reg::Profile& profile);
  bool SaveOutlineState(const plat::reg::Profile& profile);
  std::string ActiveLeafOf(QTreeWidgetItem* item) const;

  OutlineItem* ItemOf(CPea* node) const;
  CPea* NodeOf(QTreeWidgetItem* item) const;
  CPea* SelectedNode() const;
  bool SelectNode(CPea* node);
  void Refill(QTreeWidgetItem* item);
  void Rebuild();
  void OnCommand(int id);
  bool IsCommandEnabled(int id) const;
  bool IsCommandChecked(int id) const;
  // The context menu of an item at a global position (right button or the menu key).
  void ShowContextMenu(QTreeWidgetItem* item, QPoint global);
  void EditNodeLabel(CPea* node);
  AutoDemo& demo() { return demo_; }
  // Docked at a side the bar is sized from its content's hint: the hint is the bar's docked
  // width, so that a first run, with no saved layout, opens it wide enough for a disk's label.
  QSize sizeHint() const override;
  const std::vector<std::string>& pendingPath() const { return pending_; }
  std::size_t itemCount() const { return static_cast<std::size_t>(items_.size()); }

 protected:
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void startDrag(Qt::DropActions actions) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  friend class OutlineItem;
  void SetItemLabel(QTreeWidgetItem* item, CPea* node);
 public:
  // The node's item shows its cached label and image again.
  void RefreshItem(CPea* node);

 private:
  QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, int index, CPea* node);
  QTreeWidgetItem* AddPlaceholder(QTreeWidgetItem* parent);
  void FollowPending(QTreeWidgetItem* from);
  void OnSelection();
  void OnEditCommitted(QTreeWidgetItem* item, const QString& text);
  void Step();

  CDremmoralDoc& doc_;
  CMainFrame* frame_;
  QHash<const CPea*, OutlineItem*> items_;
  std::vector<QTreeWidgetItem*> refilling_;
  std::string activeLeaf_ = "/";
  std::vector<std::string> pending_;
  PeaRef<CPea> pendingFrom_;
  bool userSelected_ = false;
  bool rebuilding_ = false;
  PeaRef<CPea> contextNode_;
  AutoDemo demo_;
};

class COutLineBar : public controls::CSizeControlBar {
  Q_OBJECT

 public:
  COutLineBar(CDremmoralDoc& doc, CMainFrame* frame);
  COutLineView* view() const { return view_; }

 protected:
  void OnSizedOrDocked(int cx, int cy, bool floating, int flags) override;

 private:
  COutLineView* view_;
};

// ---- list pane ----

class CContentView : public QListWidget, public DocumentView {
  Q_OBJECT

 public:
  CContentView(CDremmoralDoc& doc, CMainFrame* frame, QWidget* parent = nullptr);
  ~CContentView() override;
  void OnUpdate(int hint, CPea* node) override;
  CPea* folder() const { return folder_.get(); }
  CPea* NodeOf(QListWidgetItem* item) const;
  QListWidgetItem* ItemOf(CPea* node) const;
  CPea* SelectedNode() const;
  void ShowContextMenu(QPoint viewportPos, QPoint global);
  const std::vector<ProgressBar>& lastBars() const { return lastBars_; }
  // The bar rectangle of an item (under its label).
  QRect BarRect(QListWidgetItem* item) const;
  void UpdateItem(CPea* node);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void startDrag(Qt::DropActions actions) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dragLeaveEvent(QDragLeaveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void Relist();
  void DrawBar(QPainter& p, QListWidgetItem* item, const ProgressBar& bar);
  CPea* DropTarget(QPoint pos);
  void ClearDropHighlight();

  CDremmoralDoc& doc_;
  CMainFrame* frame_;
  PeaRef<CPea> folder_;
  std::vector<ProgressBar> lastBars_;
  QListWidgetItem* dropItem_ = nullptr;
};

// Dragging nodes between the panes: the dragged nodes stay counted here, the drag carries a token.
class NodeDrag {
 public:
  static const char* mimeType() { return "application/x-kelm-nodes"; }
  static void Start(QWidget* source, const std::vector<CPea*>& nodes, const QPixmap& image);
  static const std::vector<PeaRef<CPea>>& nodes();
  static std::vector<CPea*> raw();
  static void Clear();
  static bool Accepts(CDremmoralDoc& doc, CPea* target) { return doc.CanDropOn(raw(), target); }
  static void Drop(CDremmoralDoc& doc, CPea* target) { doc.DropOn(raw(), target); }
};

}  // namespace kelm::console::ui
