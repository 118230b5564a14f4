#include "console/ui/panes.h"

#include <QApplication>
#include <QDrag>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "console/core/strings.h"
#include "console/ui/art.h"
#include "console/ui/main_frame.h"
#include "console/ui/menus.h"

namespace kelm::console::ui {

bool InTree(CDremmoralDoc& doc, CPea* node) {
  if (!node) return false;
  CPea* root = doc.root();
  for (CPea* at = node; at; at = at->GetParent()) {
    if (at == root) return true;
    CPea* parent = at->GetParent();
    if (!parent) return false;
    bool listed = false;
    CPea::Position pos = parent->GetFirstChildPosition();
    while (CPea* c = parent->GetNextChild(pos)) {
      if (c == at) {
        listed = true;
        break;
      }
    }
    if (!listed) return false;
  }
  return false;
}

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

// ---- splitter ----

CReinSplitterWnd::CReinSplitterWnd(QWidget* parent) : QSplitter(Qt::Vertical, parent) {
  setChildrenCollapsible(false);
  connect(this, &QSplitter::splitterMoved, this, [this] { remember(); });
}

void CReinSplitterWnd::remember() {
  if (mode_ == kBoth && count() == 2 && widget(0)->isVisible() && widget(1)->isVisible()) {
    const int h = sizes().value(0);
    if (h > 0) lastHeight_ = h;
  }
}

void CReinSplitterWnd::setListHeight(int h) {
  if (count() < 2) return;
  const int total = std::max(height(), h + 1);
  setSizes({h, std::max(1, total - h)});
  lastHeight_ = h;
}

int CReinSplitterWnd::ShowOnlyPane(int pane) {
  const int previous = mode_;
  if (pane == mode_ || count() < 2) return previous;
  remember();
  mode_ = pane;
  widget(0)->setVisible(pane == kListPane);
  widget(1)->setVisible(pane == kPropertyPane);
  return previous;
}

int CReinSplitterWnd::ShowAllPanes() {
  const int previous = mode_;
  if (mode_ == kBoth || count() < 2) return previous;
  mode_ = kBoth;
  widget(0)->setVisible(true);
  widget(1)->setVisible(true);
  if (lastHeight_ > 0) setListHeight(lastHeight_);
  return previous;
}

// ---- property pane ----

namespace {

struct PageEntry {
  PagePresenterFactory presenter;
  PageFormFactory form;
};

std::map<PageId, PageEntry>& Registry() {
  static std::map<PageId, PageEntry> r;
  return r;
}

}  // namespace

void RegisterPage(PageId id, PagePresenterFactory presenter, PageFormFactory form) {
  Registry()[id] = PageEntry{std::move(presenter), std::move(form)};
}

CPropertyForm::CPropertyForm(PagePresenter* presenter, QWidget* parent) : QWidget(parent), presenter_(presenter) {
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
}

bool CPropertyForm::OnScrollCommand(int id) {
  auto* area = qobject_cast<QScrollArea*>(parentWidget());
  if (!area) area = findChild<QScrollArea*>(QString(), Qt::FindDirectChildrenOnly);
  QScrollBar* h = area ? area->horizontalScrollBar() : nullptr;
  QScrollBar* v = area ? area->verticalScrollBar() : nullptr;
  if (!h || !v) return false;
  switch (id) {
    case kCmdScrollColumnLeft: h->triggerAction(QAbstractSlider::SliderSingleStepSub); return true;
    case kCmdScrollColumnRight: h->triggerAction(QAbstractSlider::SliderSingleStepAdd); return true;
    case kCmdScrollLineDown: v->triggerAction(QAbstractSlider::SliderSingleStepAdd); return true;
    case kCmdScrollLineUp: v->triggerAction(QAbstractSlider::SliderSingleStepSub); return true;
    case kCmdScrollPageDown: v->triggerAction(QAbstractSlider::SliderPageStepAdd); return true;
    case kCmdScrollPageUp: v->triggerAction(QAbstractSlider::SliderPageStepSub); return true;
    default: return false;
  }
}

bool CPropertyForm::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    // A control's tool tip is the string whose id is the control's id (its object name).
    auto* he = static_cast<QHelpEvent*>(e);
    if (QWidget* w = childAt(he->pos())) {
      bool ok = false;
      const int id = w->objectName().toInt(&ok);
      const std::string_view text = ok ? LoadString(id) : std::string_view();
      if (!text.empty()) w->setToolTip(Q(text.substr(0, 80)));
    }
  }
  return QWidget::event(e);
}

CPropertyView::CPropertyView(CDremmoralDoc& doc, QWidget* parent)
    : QWidget(parent), presenter_(std::make_unique<PropertyPanePresenter>(doc)) {
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(QStringLiteral("Properties"));
  for (const auto& [id, entry] : Registry()) {
    if (entry.presenter) presenter_->RegisterPage(id, entry.presenter);
  }
  presenter_->onPageShown = [this](PageId id, PagePresenter* page) { OnPageShown(id, page); };
}

CPropertyView::~CPropertyView() {
  presenter_->onPageShown = nullptr;
  presenter_.reset();
}

void CPropertyView::OnPageShown(PageId id, PagePresenter* page) {
  CPropertyForm* form = nullptr;
  if (id != PageId::None && page) {
    CPropertyForm*& slot = forms_[id];
    if (!slot) {
      auto it = Registry().find(id);
      slot = it != Registry().end() && it->second.form ? it->second.form(page, this) : new CPropertyForm(page, this);
      slot->setParent(this);
      slot->hide();
      page->onChanged = [f = slot] { f->ShowPresenter(); };
    }
    form = slot;
  }
  if (shown_ && shown_ != form) shown_->hide();
  if (form) {
    form->setGeometry(rect());
    form->ShowPresenter();
    form->show();
  }
  shown_ = form;
}

void CPropertyView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (shown_) shown_->setGeometry(rect());
}

void CPropertyView::keyPressEvent(QKeyEvent* e) {
  for (const Accelerator& a : Accelerators()) {
    if (std::string_view(a.where) == "pages" && a.key == QKeySequence(e->keyCombination())) {
      if (shown_) shown_->OnScrollCommand(a.id);
      return;
    }
  }
  QWidget::keyPressEvent(e);
}

void CPropertyView::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  if (shown_) shown_->setFocus(e->reason());
}

// ---- outline ----

OutlineItem::OutlineItem(COutLineView* owner, CPea* node) : view_(owner), node_(node) {
  if (node) {
    view_->items_.insert(node, this);
    if (auto* f = AsFolder(node)) view_->doc_.WatchArray(f);
    if (view_->frame_) view_->frame_->cache().Track(node);
  }
}

OutlineItem::~OutlineItem() {
  // Children first, while this item still stands.
  while (childCount() > 0) delete takeChild(0);
  if (CPea* n = node_.get()) {
    auto it = view_->items_.find(n);
    if (it != view_->items_.end() && it.value() == this) view_->items_.erase(it);
    if (auto* f = AsFolder(n)) view_->doc_.UnwatchArray(f);
    if (view_->frame_) view_->frame_->cache().Untrack(n);
  }
}

namespace {

// The label editor starts from the node's "name", not from the label.
class LabelDelegate : public QStyledItemDelegate {
 public:
  LabelDelegate(COutLineView* view, std::function<void(QTreeWidgetItem*, const QString&)> commit)
      : QStyledItemDelegate(view), view_(view), commit_(std::move(commit)) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(255);
    (void)option;
    (void)index;
    return edit;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    QTreeWidgetItem* item = view_->itemFromIndex(index);
    static_cast<QLineEdit*>(editor)->setText(Q(LabelEditStart(view_->NodeOf(item))));
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    // The label changes only when the agent's listing says so.
    commit_(view_->itemFromIndex(index), static_cast<QLineEdit*>(editor)->text());
  }

 private:
  COutLineView* view_;
  std::function<void(QTreeWidgetItem*, const QString&)> commit_;
};

}  // namespace

namespace {

// The outline and the list pane drag nodes to and from each other, and name themselves to
// assistive technology.
void SetUpNodeView(QAbstractItemView* view, const QString& name) {
  view->setDragEnabled(true);
  view->setAcceptDrops(true);
  view->setDropIndicatorShown(false);
  view->setDragDropMode(QAbstractItemView::DragDrop);
  view->setAccessibleName(name);
}

}  // namespace

COutLineView::COutLineView(CDremmoralDoc& doc, CMainFrame* frame, QWidget* parent)
    : QTreeWidget(parent), doc_(doc), frame_(frame) {
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  SetUpNodeView(this, QStringLiteral("Outline"));
  setIconSize(QSize(16, 16));
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  setItemDelegate(new LabelDelegate(this, [this](QTreeWidgetItem* item, const QString& text) {
    OnEditCommitted(item, text);
  }));
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { Refill(item); });
  connect(this, &QTreeWidget::itemSelectionChanged, this, [this] { OnSelection(); });
  doc_.AddView(this);
}

COutLineView::~COutLineView() {
  doc_.RemoveView(this);
  clear();
}

CPea* COutLineView::NodeOf(QTreeWidgetItem* item) const {
  auto* o = dynamic_cast<OutlineItem*>(item);
  return o ? o->node() : nullptr;
}

OutlineItem* COutLineView::ItemOf(CPea* node) const { return node ? items_.value(node, nullptr) : nullptr; }

CPea* COutLineView::SelectedNode() const {
  const auto sel = selectedItems();
  return sel.isEmpty() ? nullptr : NodeOf(sel.front());
}

namespace {

constexpr int kImageRole = Qt::UserRole + 1;

// Every change of an item makes the outline measure all its labels again (it sizes its column to
// them): an item's image is set only when it is another.
void SetItemImage(QTreeWidgetItem* item, int image) {
  const QVariant was = item->data(0, kImageRole);
  if (was.isValid() && was.toInt() == image) return;
  item->setData(0, kImageRole, image);
  item->setIcon(0, NodeIcon(image));
}

}  // namespace

QSize COutLineView::sizeHint() const {
  QSize hint = QTreeWidget::sizeHint();
  const auto* bar = qobject_cast<const COutLineBar*>(parentWidget());
  if (bar && !bar->isFloating() && !controls::isHorzDock(bar->model().side)) {
    hint.setWidth(std::max(hint.width(), bar->model().vertDockSize.width()));
  }
  return hint;
}

void COutLineView::SetItemLabel(QTreeWidgetItem* item, CPea* node) {
  if (!item || !node) return;
  const CachedNode* c = frame_ ? frame_->cache().Find(node) : nullptr;
  if (!c) {
    item->setText(0, Q(doc_.BuildNodeLabel(node).text));
    SetItemImage(item, doc_.GetNodeImage(node));
    return;
  }
  const QString text = Q(c->label);
  if (item->text(0) != text) item->setText(0, text);
  SetItemImage(item, c->image);
}

void COutLineView::RefreshItem(CPea* node) {
  if (OutlineItem* item = ItemOf(node)) SetItemLabel(item, node);
}

QTreeWidgetItem* COutLineView::AddPlaceholder(QTreeWidgetItem* parent) {
  auto* item = new OutlineItem(this, nullptr);
  item->setText(0, Q(LoadString(kStrPleaseWait)));
  item->setIcon(0, NodeIcon(kPlaceholderImage));
  item->setFlags(item->flags() & ~Qt::ItemIsDragEnabled);
  if (parent) {
    parent->addChild(item);
  } else {
    addTopLevelItem(item);
  }
  return item;
}

QTreeWidgetItem* COutLineView::AddItem(QTreeWidgetItem* parent, int index, CPea* node) {
  // A new item's values are asked for once, as its label is first built; the cache shows them
  // as they arrive.
  (void)doc_.BuildNodeLabel(node);
  auto* item = new OutlineItem(this, node);
  SetItemLabel(item, node);
  if (parent) {
    parent->insertChild(index, item);
  } else {
    insertTopLevelItem(index, item);
  }
  auto* f = AsFolder(node);
  if (f && f->HasSubFolders()) AddPlaceholder(item);
  return item;
}

void COutLineView::Refill(QTreeWidgetItem* item) {
  if (!item || rebuilding_) return;
  if (std::find(refilling_.begin(), refilling_.end(), item) != refilling_.end()) return;
  CPea* raw = NodeOf(item);
  auto* folder = AsFolder(raw);
  if (!folder) return;
  refilling_.push_back(item);
  PeaRef<CPea> keep(raw);
  std::vector<CPea*> subs = folder->SubFolders(true);
  // The item may have gone while the folder was asked (a nested reply pruned it).
  auto guard = std::find(refilling_.begin(), refilling_.end(), item);
  const bool alive = ItemOf(raw) == item && InTree(doc_, raw);
  if (guard != refilling_.end()) refilling_.erase(guard);
  if (!alive) return;
  std::vector<CPea*> existing;
  for (int i = 0; i < item->childCount(); ++i) existing.push_back(NodeOf(item->child(i)));
  const RefillPlan plan = PlanRefill(existing, subs, WantsPlaceholder(folder));
  std::vector<QTreeWidgetItem*> doomed;
  for (std::size_t i : plan.remove) doomed.push_back(item->child(static_cast<int>(i)));
  for (QTreeWidgetItem* d : doomed) delete d;
  for (std::size_t i : plan.keep) (void)i;
  int at = 0;
  for (CPea* node : plan.order) {
    OutlineItem* child = ItemOf(node);
    if (child && child->parent() == item) {
      SetItemLabel(child, node);
      const int index = item->indexOfChild(child);
      if (index != at) {
        const bool expanded = child->isExpanded();
        item->takeChild(index);
        item->insertChild(at, child);
        child->setExpanded(expanded);
      }
    } else {
      AddItem(item, at, node);
    }
    ++at;
  }
  if (plan.placeholderOnly) AddPlaceholder(item);
  FollowPending(item);
}

void COutLineView::Rebuild() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  rebuilding_ = true;
  clear();
  items_.clear();
  CPea* root = doc_.root();
  if (!root) {
    AddPlaceholder(nullptr);
    rebuilding_ = false;
    QApplication::restoreOverrideCursor();
    return;
  }
  auto* item = new OutlineItem(this, root);
  SetItemLabel(item, root);
  addTopLevelItem(item);
  AddPlaceholder(item);
  rebuilding_ = false;
  item->setExpanded(true);
  Refill(item);
  // The remembered path: the first component names the root.
  pending_ = ActiveLeafBelowRoot(activeLeaf_);
  pendingFrom_ = PeaRef<CPea>(root);
  userSelected_ = false;
  setCurrentItem(item);
  FollowPending(item);
  QApplication::restoreOverrideCursor();
}

void COutLineView::FollowPending(QTreeWidgetItem* from) {
  if (userSelected_ || pending_.empty() || !from || NodeOf(from) != pendingFrom_.get()) return;
  auto children = [this](QTreeWidgetItem* i) {
    std::vector<QTreeWidgetItem*> out;
    for (int k = 0; k < i->childCount(); ++k) {
      if (NodeOf(i->child(k))) out.push_back(i->child(k));
    }
    return out;
  };
  auto label = [](QTreeWidgetItem* i) { return i->text(0).toStdString(); };
  auto [reached, matched] = FollowPath<QTreeWidgetItem*>(from, pending_, children, label);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(matched));
  pendingFrom_ = PeaRef<CPea>(NodeOf(reached));
  if (matched > 0) {
    for (QTreeWidgetItem* p = reached->parent(); p; p = p->parent()) p->setExpanded(true);
    const bool keepPending = !pending_.empty();
    setCurrentItem(reached);
    userSelected_ = false;
    // Expanding the reached item lists it; the rest follows as its children arrive.
    if (keepPending) reached->setExpanded(true);
  }
}

void COutLineView::OnSelection() {
  CPea* node = SelectedNode();
  if (!rebuilding_ && node && hasFocus()) userSelected_ = true;
  if (!node) return;
  PeaRef<CPea> keep(node);
  doc_.SetViewSelection(node);
  if (hasFocus()) doc_.SetCommandNode(node);
  if (frame_) frame_->RebuildNodePopup(node);
  doc_.OnSelectionChanged(node);
}

bool COutLineView::SelectNode(CPea* node) {
  OutlineItem* item = ItemOf(node);
  if (!item && node && node->GetParent()) {
    // Open the way down to it.
    std::vector<CPea*> chain;
    for (CPea* p = node->GetParent(); p; p = p->GetParent()) chain.insert(chain.begin(), p);
    for (CPea* p : chain) {
      if (OutlineItem* i = ItemOf(p)) i->setExpanded(true);
    }
    item = ItemOf(node);
  }
  if (!item) return false;
  for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) p->setExpanded(true);
  setCurrentItem(item);
  scrollToItem(item);
  return true;
}

void COutLineView::OnUpdate(int hint, CPea* node) {
  switch (hint) {
    case kHintInitialUpdate:
      Rebuild();
      break;
    case kHintChildrenChanged: {
      OutlineItem* item = ItemOf(node ? node : doc_.root());
      if (item) {
        Refill(item);
        if (CPea* n = item->node()) SetItemLabel(item, n);
        if (!item->parent()) viewport()->update();
      }
      break;
    }
    case kHintValuesChanged:
      if (OutlineItem* item = ItemOf(node)) {
        SetItemLabel(item, node);
        FollowPending(item);
      }
      break;
    case kHintChildArrived:
      if (node && node->GetParent()) {
        if (OutlineItem* item = ItemOf(node->GetParent())) SetItemLabel(item, node->GetParent());
      }
      break;
    case kHintBackground: {
      QPalette pal = palette();
      pal.setColor(QPalette::Base, frame_ ? frame_->BackgroundColour() : pal.color(QPalette::Base));
      setPalette(pal);
      break;
    }
    case kHintTextColour: {
      QPalette pal = palette();
      pal.setColor(QPalette::Text, frame_ ? frame_->TextColour() : pal.color(QPalette::Text));
      setPalette(pal);
      break;
    }
    case kHintFont:
      if (frame_) setFont(frame_->PaneFont());
      break;
    default:
      break;
  }
}

std::string COutLineView::ActiveLeafOf(QTreeWidgetItem* item) const {
  std::vector<std::string> labels;
  for (QTreeWidgetItem* i = item; i; i = i->parent()) labels.insert(labels.begin(), i->text(0).toStdString());
  return EncodeActiveLeaf(labels);
}

void COutLineView::LoadOutlineState(const plat::reg::Profile& profile) {
  std::string leaf = profile.getString("OutLine", "ActiveLeaf", "/");
  if (leaf.size() > kMaxActiveLeaf) leaf = "/";
  activeLeaf_ = leaf;
  demo_.SetFreq(profile.getInt("OutLine", "DemoFreq", AutoDemo::kDefaultFreq));
}

bool COutLineView::SaveOutlineState(const plat::reg::Profile& profile) {
  using plat::reg::Value;
  std::vector<Value> entries;
  QTreeWidgetItem* sel = currentItem();
  if (sel && NodeOf(sel)) entries.push_back(Value::string("ActiveLeaf", ActiveLeafOf(sel)));
  // The period has no control of its own: it is kept whenever the section is written again.
  entries.push_back(Value::dword("DemoFreq", static_cast<std::uint32_t>(demo_.freq())));
  return profile.replaceSection("OutLine", entries).ok();
}

void COutLineView::PollStep() {
  if (!demo_.on()) return;
  if (demo_.start() && !InTree(doc_, demo_.start())) {
    demo_.Stop();
    if (QTreeWidgetItem* root = topLevelItem(0)) setCurrentItem(root);
    return;
  }
  if (demo_.Due(doc_.clock().monotonicMs())) Step();
}

namespace {

struct ItemNav {
  COutLineView* view;
  QTreeWidgetItem* root() const { return view->topLevelItem(0); }
  QTreeWidgetItem* parent(QTreeWidgetItem* i) const { return i ? i->parent() : nullptr; }
  std::vector<QTreeWidgetItem*> children(QTreeWidgetItem* i) const {
    std::vector<QTreeWidgetItem*> out;
    if (!i) return out;
    for (int k = 0; k < i->childCount(); ++k) out.push_back(i->child(k));
    return out;
  }
  bool isPlaceholder(QTreeWidgetItem* i) const { return view->NodeOf(i) == nullptr; }
};

}  // namespace

void COutLineView::Step() {
  QTreeWidgetItem* at = currentItem() ? currentItem() : topLevelItem(0);
  if (!at) return;
  ItemNav nav{this};
  QTreeWidgetItem* next = NextInTreeOrder<QTreeWidgetItem*>(at, nav);
  if (!next) return;
  for (QTreeWidgetItem* p = next->parent(); p; p = p->parent()) p->setExpanded(true);
  setCurrentItem(next);
  if (NodeOf(next) && AsFolder(NodeOf(next)) && AsFolder(NodeOf(next))->HasSubFolders()) next->setExpanded(true);
  demo_.Stepped(NodeOf(next));
}

void COutLineView::OnCommand(int id) {
  QTreeWidgetItem* context = contextNode_ ? ItemOf(contextNode_.get()) : currentItem();
  switch (id) {
    case kCmdExpandNode:
    case kCmdCollapseNode:
      if (context) context->setExpanded(!context->isExpanded());
      break;
    case kCmdHideOutline:
      if (frame_) frame_->OnCommand(kCmdOutlineBar);
      break;
    case kCmdNextItem:
    case kCmdPreviousItem:
      if (QTreeWidgetItem* c = currentItem()) {
        QTreeWidgetItem* n = id == kCmdNextItem ? itemBelow(c) : itemAbove(c);
        if (n) setCurrentItem(n);
      }
      break;
    case kCmdAutoDemo:
      if (demo_.on()) {
        demo_.Stop();
      } else {
        demo_.Start(SelectedNode() ? SelectedNode() : doc_.root(), doc_.clock().monotonicMs());
      }
      break;
    case kCmdDeleteKey:
      doc_.SetViewSelection(SelectedNode());
      doc_.OnDeleteKey();
      break;
    default:
      break;
  }
}

bool COutLineView::IsCommandEnabled(int id) const {
  QTreeWidgetItem* context = contextNode_ ? ItemOf(contextNode_.get()) : currentItem();
  if (id == kCmdExpandNode) return context && !context->isExpanded();
  if (id == kCmdCollapseNode) return context && context->isExpanded();
  return true;
}

bool COutLineView::IsCommandChecked(int id) const { return id == kCmdAutoDemo && demo_.on(); }

void COutLineView::ShowContextMenu(QTreeWidgetItem* item, QPoint global) {
  CPea* node = NodeOf(item);
  if (!node || !frame_) return;
  contextNode_ = PeaRef<CPea>(node);
  // The item stands as the drop target while its menu shows.
  const QBrush oldBrush = item->background(0);
  item->setBackground(0, palette().brush(QPalette::Midlight));
  std::vector<int> menus = {141};
  frame_->TrackNodeMenu(node, menus, global, this);
  if (OutlineItem* still = ItemOf(node)) still->setBackground(0, oldBrush);
  contextNode_.reset();
}

void COutLineView::EditNodeLabel(CPea* node) {
  if (!CanEditLabel(node)) return;  // refused before the edit box opens
  if (OutlineItem* item = ItemOf(node)) {
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    editItem(item, 0);
  }
}

void COutLineView::OnEditCommitted(QTreeWidgetItem* item, const QString& text) {
  CPea* node = NodeOf(item);
  if (!node) return;
  const std::string t = text.toStdString();
  if (t == LabelEditStart(node)) return;
  if (!CommitLabelEdit(node, t)) doc_.ui().Beep(kBeepHand);
}

void COutLineView::focusInEvent(QFocusEvent* e) {
  QTreeWidget::focusInEvent(e);
  CPea* node = SelectedNode();
  if (frame_) frame_->RebuildNodePopup(node);
  doc_.SetCommandNode(node);
}

void COutLineView::focusOutEvent(QFocusEvent* e) {
  QTreeWidget::focusOutEvent(e);
  // A popup or a dialog takes the focus for a moment: the command it runs keeps its node.
  if (e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason) return;
  if (frame_) frame_->RebuildNodePopup(nullptr);
  doc_.SetCommandNode(nullptr);
}

void COutLineView::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) {
    QTreeWidgetItem* item = itemAt(e->position().toPoint());
    if (item) ShowContextMenu(item, e->globalPosition().toPoint());
    return;
  }
  QTreeWidget::mousePressEvent(e);
}

void COutLineView::contextMenuEvent(QContextMenuEvent* e) {
  if (e->reason() == QContextMenuEvent::Mouse) return;  // handled on the button press
  QTreeWidgetItem* item = currentItem();
  if (!item) return;
  ShowContextMenu(item, viewport()->mapToGlobal(visualItemRect(item).bottomLeft()));
}

void COutLineView::keyPressEvent(QKeyEvent* e) {
  if (state() == QAbstractItemView::EditingState) {
    QTreeWidget::keyPressEvent(e);
    return;
  }
  for (const Accelerator& a : Accelerators()) {
    if (std::string_view(a.where) != "outline") continue;
    if (a.key == QKeySequence(e->keyCombination())) {
      if (a.id == kCmdRename) {
        EditNodeLabel(SelectedNode());
      } else {
        OnCommand(a.id);
      }
      return;
    }
  }
  QTreeWidget::keyPressEvent(e);
}

void COutLineView::startDrag(Qt::DropActions) {
  CPea* node = SelectedNode();
  if (!node || !doc_.CanDragNodes({node})) return;
  NodeDrag::Start(this, {node}, NodeImage(doc_.GetNodeImage(node), 32));
}

void COutLineView::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasFormat(NodeDrag::mimeType())) {
    e->acceptProposedAction();
  } else {
    e->ignore();
  }
}

void COutLineView::dragMoveEvent(QDragMoveEvent* e) {
  QTreeWidgetItem* item = itemAt(e->position().toPoint());
  if (item && NodeDrag::Accepts(doc_, NodeOf(item))) {
    setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    e->acceptProposedAction();
  } else {
    e->ignore();
  }
}

void COutLineView::dropEvent(QDropEvent* e) {
  QTreeWidgetItem* item = itemAt(e->position().toPoint());
  CPea* target = NodeOf(item);
  if (target && NodeDrag::Accepts(doc_, target)) {
    NodeDrag::Drop(doc_, target);
    e->acceptProposedAction();
  } else {
    e->ignore();
  }
  NodeDrag::Clear();
}

COutLineBar::COutLineBar(CDremmoralDoc& doc, CMainFrame* frame) : CSizeControlBar(QStringLiteral("Out Line"), frame) {
  setObjectName(QStringLiteral("OutLineBar"));
  view_ = new COutLineView(doc, frame, this);
  setWidget(view_);
}

void COutLineBar::OnSizedOrDocked(int cx, int cy, bool floating, int flags) {
  CSizeControlBar::OnSizedOrDocked(cx, cy, floating, flags);
  if (!widget()) return;
  if (floating) {
    setContentsMargins(2, 2, 2, 2);
  } else if (flags & 4) {
    setContentsMargins(1, 1, 1, 1);
  } else {
    setContentsMargins(1, 1, 3, 3);
  }
}

// ---- list pane ----

namespace {

class ListItem : public QListWidgetItem {
 public:
  ListItem(CDremmoralDoc& doc, NodeCache& cache, CPea* node) : doc_(doc), cache_(cache), node_(node) {
    if (auto* f = AsFolder(node)) doc_.WatchArray(f);
    cache_.Track(node);
  }
  ~ListItem() override {
    if (auto* f = AsFolder(node_.get())) doc_.UnwatchArray(f);
    cache_.Untrack(node_.get());
  }
  CPea* node() const { return node_.get(); }

 private:
  CDremmoralDoc& doc_;
  NodeCache& cache_;
  PeaRef<CPea> node_;
};

// The list item's text: an array's own name when it has one, else the cached label.
QString ListText(NodeCache& cache, CPea* node) {
  auto* f = AsFolder(node);
  if (f && node == f && IsArrayType(f->nodeType())) {
    const std::string name = f->GetProperty("name", "", true);
    if (!name.empty()) return Q(name);
  }
  const CachedNode* c = cache.Find(node);
  return c ? Q(c->label) : QString();
}

}  // namespace

CContentView::CContentView(CDremmoralDoc& doc, CMainFrame* frame, QWidget* parent)
    : QListWidget(parent), doc_(doc), frame_(frame) {
  setViewMode(QListView::IconMode);
  setResizeMode(QListView::Adjust);
  setMovement(QListView::Static);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setIconSize(QSize(32, 32));
  setGridSize(QSize(128, 92));
  setWordWrap(true);  // a long disk label takes two lines, as in the outline it is whole
  setTextElideMode(Qt::ElideRight);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  SetUpNodeView(this, QStringLiteral("Contents"));
  setFrameShape(QFrame::Box);
  doc_.AddView(this);
}

CContentView::~CContentView() {
  doc_.RemoveView(this);
  clear();
}

CPea* CContentView::NodeOf(QListWidgetItem* item) const {
  auto* l = dynamic_cast<ListItem*>(item);
  return l ? l->node() : nullptr;
}

QListWidgetItem* CContentView::ItemOf(CPea* node) const {
  if (!node) return nullptr;
  for (int i = 0; i < count(); ++i) {
    if (NodeOf(item(i)) == node) return item(i);
  }
  return nullptr;
}

CPea* CContentView::SelectedNode() const {
  const auto sel = selectedItems();
  return sel.isEmpty() ? nullptr : NodeOf(sel.front());
}

void CContentView::Relist() {
  clear();
  if (folder_ && !InTree(doc_, folder_.get())) folder_.reset();
  CPea* f = folder_ ? folder_.get() : doc_.root();
  auto* folder = AsFolder(f);
  if (!folder) return;
  PeaRef<CPea> keep(f);
  for (CPea* child : folder->SubFolders(false)) {
    if (!frame_->cache().Find(child)) (void)doc_.BuildNodeLabel(child);
    auto* item = new ListItem(doc_, frame_->cache(), child);
    const CachedNode* c = frame_->cache().Find(child);
    item->setText(ListText(frame_->cache(), child));
    item->setIcon(NodeIcon(c ? c->image : 0));
    item->setToolTip(item->text());
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    item->setSizeHint(gridSize() - QSize(8, 4));
    addItem(item);
  }
  if (IsChannelType(folder->nodeType())) doc_.ui().ShowOnlyPane(SplitterPane::List);
}

void CContentView::UpdateItem(CPea* node) {
  if (QListWidgetItem* item = ItemOf(node)) {
    const CachedNode* c = frame_->cache().Find(node);
    const QString text = ListText(frame_->cache(), node);
    if (item->text() != text) {
      item->setText(text);
      item->setToolTip(text);
    }
    item->setIcon(NodeIcon(c ? c->image : 0));
  }
}

void CContentView::OnUpdate(int hint, CPea* node) {
  // A folder that left the tree is not touched again: the root is listed instead.
  if (folder_ && !InTree(doc_, folder_.get())) {
    folder_.reset();
    Relist();
  }
  switch (hint) {
    case kHintInitialUpdate:
      Relist();
      break;
    case kHintCurrentChanged:
      if (node != folder_.get()) {
        clear();
        folder_ = PeaRef<CPea>(node);
      }
      [[fallthrough]];
    case kHintChildrenChanged:
    case kHintValuesChanged: {
      CPea* current = folder_ ? folder_.get() : doc_.root();
      if (node == current || (hint == kHintCurrentChanged)) {
        Relist();
      } else {
        UpdateItem(node);
      }
      viewport()->update();
      break;
    }
    case kHintChildArrived:
      if (node) UpdateItem(node->GetParent());
      viewport()->update();
      break;
    case kHintBackground: {
      QPalette pal = palette();
      if (frame_) pal.setColor(QPalette::Base, frame_->BackgroundColour());
      setPalette(pal);
      break;
    }
    case kHintTextColour: {
      QPalette pal = palette();
      if (frame_) pal.setColor(QPalette::Text, frame_->TextColour());
      setPalette(pal);
      break;
    }
    case kHintFont:
      if (frame_) setFont(frame_->PaneFont());
      break;
    default:
      break;
  }
}

QRect CContentView::BarRect(QListWidgetItem* item) const {
  const QRect r = visualItemRect(item);
  return QRect(r.left() + 4, r.bottom() - 14, r.width() - 8, 12);
}

void CContentView::DrawBar(QPainter& p, QListWidgetItem* item, const ProgressBar& bar) {
  const QRect r = visualItemRect(item);
  QFont bold = font();
  bold.setWeight(QFont::DemiBold);
  p.setFont(bold);
  p.setPen(palette().color(QPalette::Text));
  const QRect wordRect(r.left() + 5, r.bottom() - 30, r.width() - 10, 15);
  p.drawText(wordRect, Qt::AlignLeft | Qt::AlignVCenter, Q(bar.word));
  const QRect b = BarRect(item);
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  p.drawRect(b.adjusted(0, 0, -1, -1));
  const QRect inner = b.adjusted(1, 1, -1, -1);
  const int filled = inner.width() * bar.percent / 100;
  const QRect fill(inner.left(), inner.top(), filled, inner.height());
  p.fillRect(fill, QColor(0, 0, 255));
  QFont small = font();
  small.setPixelSize(10);
  p.setFont(small);
  const QString text = QStringLiteral("%1%").arg(bar.percent);
  p.save();
  p.setClipRect(fill);
  p.setPen(Qt::white);
  p.drawText(inner, Qt::AlignCenter, text);
  p.restore();
  p.save();
  p.setClipRect(QRect(fill.right() + 1, inner.top(), inner.width() - filled, inner.height()));
  p.setPen(QColor(0, 0, 255));
  p.drawText(inner, Qt::AlignCenter, text);
  p.restore();
}

void CContentView::paintEvent(QPaintEvent* e) {
  QListWidget::paintEvent(e);
  std::vector<CPea*> nodes;
  std::vector<QListWidgetItem*> items;
  for (int i = 0; i < count(); ++i) {
    if (CPea* n = NodeOf(item(i))) {
      nodes.push_back(n);
      items.push_back(item(i));
    }
  }
  lastBars_ = ProgressBars(nodes);
  QPainter p(viewport());
  std::vector<QString> progress(items.size());
  for (const ProgressBar& bar : lastBars_) {
    if (!bar.draw) continue;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      if (ResolveShortCut(nodes[i]) == bar.node || nodes[i] == bar.node) {
        DrawBar(p, items[i], bar);
        progress[i] = Q(bar.word) + QStringLiteral(" %1%").arg(bar.percent);
        break;
      }
    }
  }
  p.end();
  // The painted bar is read out with its item; set only when it changed, so no paint follows.
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i]->data(Qt::AccessibleDescriptionRole).toString() != progress[i]) {
      items[i]->setData(Qt::AccessibleDescriptionRole, progress[i]);
    }
  }
}

void CContentView::focusInEvent(QFocusEvent* e) {
  QListWidget::focusInEvent(e);
  if (selectedItems().isEmpty() && count() > 0) item(0)->setSelected(true);
  if (CPea* n = SelectedNode()) doc_.SetViewSelection(n);
}

void CContentView::mouseDoubleClickEvent(QMouseEvent* e) {
  QListWidgetItem* item = itemAt(e->position().toPoint());
  if (CPea* node = NodeOf(item)) {
    PeaRef<CPea> keep(ResolveShortCut(node));
    doc_.ui().SelectInOutline(keep.get());
    return;
  }
  QListWidget::mouseDoubleClickEvent(e);
}

void CContentView::ShowContextMenu(QPoint viewportPos, QPoint global) {
  clearSelection();
  QListWidgetItem* item = itemAt(viewportPos);
  CPea* node = NodeOf(item);
  if (!node) {
    if (folder_ && !InTree(doc_, folder_.get())) folder_.reset();
    node = folder_ ? folder_.get() : doc_.root();
  }
  if (item) setCurrentItem(item, QItemSelectionModel::NoUpdate);
  if (frame_ && node) frame_->TrackNodeMenu(node, {140}, global, this);
}

void CContentView::contextMenuEvent(QContextMenuEvent* e) {
  QPoint pos = e->pos();
  if (e->reason() != QContextMenuEvent::Mouse) {
    QListWidgetItem* c = currentItem();
    pos = c ? visualItemRect(c).center() : QPoint(1, 1);
  } else {
    pos = viewport()->mapFromGlobal(e->globalPos());
  }
  ShowContextMenu(pos, viewport()->mapToGlobal(pos));
}

void CContentView::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Delete && frame_) {
    if (CPea* n = SelectedNode()) doc_.SetViewSelection(n);
    frame_->outline()->OnCommand(kCmdDeleteKey);
    return;
  }
  QListWidget::keyPressEvent(e);
}

void CContentView::startDrag(Qt::DropActions) {
  std::vector<CPea*> nodes;
  for (QListWidgetItem* i : selectedItems()) {
    if (CPea* n = NodeOf(i)) nodes.push_back(n);
  }
  if (nodes.empty() || !doc_.CanDragNodes(nodes)) return;
  QPixmap image = nodes.size() == 1 ? NodeImage(doc_.GetNodeImage(nodes.front()), 32) : MultiDragIcon();
  NodeDrag::Start(this, nodes, image);
}

CPea* CContentView::DropTarget(QPoint pos) {
  QListWidgetItem* item = itemAt(pos);
  CPea* node = NodeOf(item);
  return node ? node : (folder_ ? folder_.get() : doc_.root());
}

void CContentView::ClearDropHighlight() {
  if (dropItem_ && ItemOf(NodeOf(dropItem_))) dropItem_->setBackground(QBrush());
  dropItem_ = nullptr;
}

void CContentView::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasFormat(NodeDrag::mimeType())) {
    e->acceptProposedAction();
  } else {
    e->ignore();
  }
}

void CContentView::dragMoveEvent(QDragMoveEvent* e) {
  const QPoint pos = e->position().toPoint();
  CPea* target = DropTarget(pos);
  QListWidgetItem* item = itemAt(pos);
  ClearDropHighlight();
  if (target && NodeDrag::Accepts(doc_, target)) {
    if (item) {
      dropItem_ = item;
      item->setBackground(palette().brush(QPalette::Highlight));
    }
    e->acceptProposedAction();
  } else {
    e->ignore();
  }
}

void CContentView::dragLeaveEvent(QDragLeaveEvent* e) {
  ClearDropHighlight();
  QListWidget::dragLeaveEvent(e);
}

void CContentView::dropEvent(QDropEvent* e) {
  CPea* target = DropTarget(e->position().toPoint());
  ClearDropHighlight();
  if (target && NodeDrag::Accepts(doc_, target)) {
    NodeDrag::Drop(doc_, target);
    e->acceptProposedAction();
  } else {
    e->ignore();
  }
  NodeDrag::Clear();
}

// ---- dragging ----

namespace {

std::vector<PeaRef<CPea>>& Dragged() {
  static std::vector<PeaRef<CPea>> nodes;
  return nodes;
}

}  // namespace

void NodeDrag::Start(QWidget* source, const std::vector<CPea*>& nodes, const QPixmap& image) {
  Dragged().clear();
  for (CPea* n : nodes) Dragged().emplace_back(n);
  auto* drag = new QDrag(source);
  auto* mime = new QMimeData;
  mime->setData(mimeType(), QByteArray::number(static_cast<qulonglong>(nodes.size())));
  drag->setMimeData(mime);
  drag->setPixmap(image);
  drag->setHotSpot(QPoint(8, 8));
  drag->exec(Qt::MoveAction);
  Clear();
}

const std::vector<PeaRef<CPea>>& NodeDrag::nodes() { return Dragged(); }

std::vector<CPea*> NodeDrag::raw() {
  std::vector<CPea*> out;
  for (const auto& r : Dragged()) out.push_back(r.get());
  return out;
}

void NodeDrag::Clear() { Dragged().clear(); }

}  // namespace kelm::console::ui
