#include "console/ui/main_frame.h"

#include <xcb/xcb.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdio>
#include <set>

#include "console/core/menus.h"
#include "console/core/strings.h"
#include "console/ui/art.h"
#include "console/ui/menus.h"
#include "console/ui/qt_ui.h"
#include "platform/kernel/module_path.h"
#include "platform/kernel/version_block.h"

namespace kelm::console::ui {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

// ---- status bar ----

ActivityPane::ActivityPane(QWidget* parent) : QWidget(parent) {
  setAccessibleName(QStringLiteral("Activity"));
  setAccessibleDescription(QStringLiteral("idle"));
}

void ActivityPane::setValue(int v) {
  value_ = v;
  setAccessibleDescription(v == -1 || v == -2 ? QStringLiteral("idle") : QStringLiteral("busy"));
  update();
}

QSize ActivityPane::sizeHint() const {
  const int w = fontMetrics().horizontalAdvance(Q(LoadString(kStrReady))) / 5;
  return QSize(std::max(w, 8), fontMetrics().height());
}

void ActivityPane::paintEvent(QPaintEvent*) {
  if (value_ == -2) {
    value_ = -1;
    return;
  }
  if (value_ == -1) return;
  ++paints_;
  if (paints_ % 2 != 0) return;
  QPainter p(this);
  const QColor blue = FromColorRef(kColorBlue);
  const int mid = height() / 2;
  p.fillRect(QRect(0, 0, width(), mid - 1), blue);
  p.fillRect(QRect(0, mid, width(), height() - mid), blue);
}

UserPane::UserPane(QWidget* parent) : QWidget(parent) {
  setAccessibleName(QStringLiteral("User"));
  setText(Q(LoadString(kStrNoUser)));
}

void UserPane::setText(const QString& t) {
  text_ = t;
  setAccessibleDescription(t);
  setToolTip(t);
  update();
}

QSize UserPane::sizeHint() const {
  return QSize(2 * fontMetrics().horizontalAdvance(Q(LoadString(kStrNoUser))) + 8, fontMetrics().height());
}

void UserPane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font());
  p.drawText(rect().adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
             fontMetrics().elidedText(text_, Qt::ElideRight, width() - 4));
}

ConsoleStatusBar::ConsoleStatusBar(QWidget* parent) : QStatusBar(parent) {
  setObjectName(QStringLiteral("Status"));
  setWindowTitle(QStringLiteral("Status"));
  user_ = new UserPane(this);
  addPermanentWidget(user_);
  const char* names[3] = {"CAP", "NUM", "SCRL"};
  for (int i = 0; i < 3; ++i) {
    auto* l = new QLabel(this);
    l->setMinimumWidth(fontMetrics().horizontalAdvance(QString::fromLatin1(names[i])) + 8);
    l->setAlignment(Qt::AlignCenter);
    l->setAccessibleName(QString::fromLatin1(names[i]));
    locks_[static_cast<std::size_t>(i)] = l;
    addPermanentWidget(l);
  }
  activity_ = new ActivityPane(this);
  addPermanentWidget(activity_);
  setIdle();
  updateLocks();
}

void ConsoleStatusBar::setIdle() { showMessage(Q(LoadString(kStrReady))); }

std::optional<std::array<bool, 3>> LockKeyState() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return std::nullopt;
  xcb_get_keyboard_control_reply_t* r = xcb_get_keyboard_control_reply(c, xcb_get_keyboard_control(c), nullptr);
  if (!r) return std::nullopt;
  const std::uint32_t leds = r->led_mask;
  std::free(r);
  return std::array<bool, 3>{(leds & 1) != 0, (leds & 2) != 0, (leds & 4) != 0};
}

void ConsoleStatusBar::updateLocks() {
  const auto state = LockKeyState();
  const char* names[3] = {"CAP", "NUM", "SCRL"};
  for (std::size_t i = 0; i < 3; ++i) {
    locks_[i]->setText(state && (*state)[i] ? QString::fromLatin1(names[i]) : QString());
  }
}

// ---- the flat tool bar for assistive technology ----

namespace {

class ToolButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  ToolButtonAccessible(controls::CFlatToolbar* bar, int index) : bar_(bar), index_(index) {}
  bool isValid() const override { return bar_ && index_ < bar_->model().count(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return bar_->window()->windowHandle(); }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar_); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    const int id = bar_->model().button(index_).id;
    if (t == QAccessible::Name) return ToolbarTip(id);
    if (t == QAccessible::Description) return StatusPrompt(id);
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    const QRect r = bar_->GetItemRect(index_);
    return QRect(bar_->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override { return QAccessible::Button; }
  QAccessible::State state() const override {
    QAccessible::State s;
    const std::uint32_t style = bar_->GetButtonStyle(index_);
    s.disabled = (style & controls::kStyleDisabled) != 0;
    s.checkable = (style & controls::kStyleCheckBox) != 0;
    s.checked = (style & controls::kStyleChecked) != 0;
    s.focusable = false;
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType t) override {
    return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override {
    if (name == pressAction() && !state().disabled) emit bar_->command(bar_->model().button(index_).id);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  controls::CFlatToolbar* bar_;
  int index_;
};

class FlatToolbarAccessible : public QAccessibleWidget {
 public:
  explicit FlatToolbarAccessible(controls::CFlatToolbar* bar) : QAccessibleWidget(bar, QAccessible::ToolBar) {}
  controls::CFlatToolbar* bar() const { return static_cast<controls::CFlatToolbar*>(widget()); }
  std::vector<int> buttons() const {
    std::vector<int> out;
    for (int i = 0; i < bar()->model().count(); ++i) {
      if (bar()->model().button(i).id != 0) out.push_back(i);
    }
    return out;
  }
  int childCount() const override { return static_cast<int>(buttons().size()); }
  QAccessibleInterface* child(int i) const override {
    const auto b = buttons();
    if (i < 0 || i >= static_cast<int>(b.size())) return nullptr;
    auto key = std::make_pair(bar(), b[static_cast<std::size_t>(i)]);
    static std::map<std::pair<controls::CFlatToolbar*, int>, QAccessible::Id> ids;
    auto it = ids.find(key);
    if (it != ids.end()) {
      if (QAccessibleInterface* iface = QAccessible::accessibleInterface(it->second)) return iface;
    }
    auto* iface = new ToolButtonAccessible(bar(), key.second);
    ids[key] = QAccessible::registerAccessibleInterface(iface);
    return iface;
  }
  int indexOfChild(const QAccessibleInterface* c) const override {
    for (int i = 0; i < childCount(); ++i) {
      if (child(i) == c) return i;
    }
    return -1;
  }
  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Name ? bar()->window() ? QStringLiteral("Main") : QString() : QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* ConsoleAccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("kelm::controls::CFlatToolbar") && object && object->isWidgetType()) {
    return new FlatToolbarAccessible(static_cast<controls::CFlatToolbar*>(object));
  }
  return nullptr;
}

}  // namespace

// ---- frame ----

CMainFrame::CMainFrame(CDremmoralDoc& doc, QtUiServices& ui) : doc_(doc), ui_(ui) {
  static bool factory = false;
  if (!factory) {
    QAccessible::installFactory(ConsoleAccessibleFactory);
    factory = true;
  }
  setWindowTitle(Q(LoadString(kStrAppTitle)));
  setWindowIcon(AppIcon());
  setObjectName(QStringLiteral("MainFrame"));
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
}

CMainFrame::~CMainFrame() {
  timer_.stop();
  ui_.setFrame(nullptr);
  // The panes release their nodes into the cache before it goes.
  if (cache_) cache_->onChanged = nullptr;
  delete outlineBar_;
  outlineBar_ = nullptr;
  delete splitter_;
  splitter_ = nullptr;
  list_ = nullptr;
  property_ = nullptr;
}

void CMainFrame::OnCreate() {
  const plat::reg::Profile& profile = doc_.profile();
  // The node cache hears every hint first; then the client: list pane above, property pane
  // below, and the outline (views register in this order).
  cache_ = std::make_unique<NodeCache>(doc_);
  cache_->onChanged = [this](CPea* node) {
    if (outlineBar_) outline()->RefreshItem(node);
    if (list_) list_->UpdateItem(node);
  };
  splitter_ = new CReinSplitterWnd(this);
  list_ = new CContentView(doc_, this, splitter_);
  property_ = new CPropertyView(doc_, splitter_);
  splitter_->addWidget(list_);
  splitter_->addWidget(property_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  setCentralWidget(splitter_);
  savedContentSize_ = std::clamp(profile.getInt("General", "ContentSize", 0), 0, kMaxContentSize);

  const bool first = profile.getInt("General", "First", 1) != 0;
  if (first) (void)profile.writeInt("General", "First", 0);

  toolbar_ = new controls::CFlatToolbarHost(QStringLiteral("Main"), this);
  toolbar_->setObjectName(QStringLiteral("ToolBar"));
  toolbar_->bar()->SetButtons(ToolbarButtons());
  toolbar_->bar()->LoadBitmap(ToolbarStrip());
  toolbar_->bar()->setCmdUiUpdater([this](controls::CFlatToolCmdUI& cmd) {
    cmd.Enable(IsCommandEnabled(cmd.id()));
    if (cmd.id() == kCmdBeeper) cmd.SetCheck(doc_.IsCommandChecked(kCmdBeeper) ? 1 : 0);
  });
  toolbar_->bar()->installEventFilter(this);
  connect(toolbar_->bar(), &controls::CFlatToolbar::command, this, [this](int id) { OnCommand(id); });
  connect(toolbar_->bar(), &controls::CFlatToolbar::statusPrompt, this, [this](int id) {
    if (id == controls::kIdlePrompt) {
      status_->setIdle();
    } else {
      status_->showMessage(StatusPrompt(id));
    }
  });
  addToolBar(Qt::TopToolBarArea, toolbar_);

  status_ = new ConsoleStatusBar(this);
  setStatusBar(status_);

  outlineBar_ = new COutLineBar(doc_, this);
  outlineBar_->Create(this, QRect(0, 0, 900, 200));
  outlineBar_->EnableDocking(Qt::AllDockWidgetAreas);
  addSizeBar(Qt::LeftDockWidgetArea, outlineBar_);
  EnableDocking(Qt::AllDockWidgetAreas);
  for (QWidget* bar : std::initializer_list<QWidget*>{toolbar_, status_, outlineBar_}) bar->installEventFilter(this);
  outline()->LoadOutlineState(profile);

  // Saved layouts apply only where one was saved; otherwise every bar shows.
  if (!first) {
    LoadSizeBarState(profile, "General");
    if (auto state = profile.getBinary("General", "BarState"); state && !state->empty()) {
      restoreState(QByteArray(reinterpret_cast<const char*>(state->data()), static_cast<int>(state->size())));
    }
  }
  BuildMenus();
  ui_.setFrame(this);
  doc_.OnInitialUpdate();
  timer_.start();
}

void CMainFrame::RestoreWindowPos() {
  const auto placement = ParseWindowPos(doc_.profile().getString("Settings", "WindowPos", ""));
  if (!placement) {
    resize(900, 640);
    show();
    return;
  }
  std::vector<ScreenRect> screens;
  if (QScreen* primary = QGuiApplication::primaryScreen()) {
    const QRect g = primary->availableGeometry();
    screens.push_back({g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
  }
  for (QScreen* s : QGuiApplication::screens()) {
    if (s == QGuiApplication::primaryScreen()) continue;
    const QRect g = s->availableGeometry();
    screens.push_back({g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
  }
  const ScreenRect r = FitOnScreens(placement->normal, screens);
  setGeometry(QRect(r.left, r.top, r.width(), r.height()));
  if (placement->maximised()) {
    showMaximized();
  } else {
    show();
  }
}

void CMainFrame::ApplyContentSize() {
  if (contentApplied_ || !splitter_ || splitter_->height() <= 0) return;
  contentApplied_ = true;
  splitter_->setListHeight(ContentHeight(savedContentSize_, splitter_->height()));
}

void CMainFrame::showEvent(QShowEvent* e) {
  CSizeDockFrame::showEvent(e);
  QTimer::singleShot(0, this, [this] {
    ApplyContentSize();
    // The frame's focus goes on to the next pane: from nowhere, the outline.
    if (!QApplication::focusWidget() || !isAncestorOf(QApplication::focusWidget())) NextPane();
  });
}

void CMainFrame::SaveState() {
  if (saved_) return;
  saved_ = true;
  const plat::reg::Profile& profile = doc_.profile();
  const QByteArray state = saveState();
  (void)profile.writeBinary("General", "BarState", std::vector<std::uint8_t>(state.begin(), state.end()));
  SaveSizeBarState(profile, "General");
  WindowPlacement p;
  p.showCommand = isMaximized() ? kShowMaximised : kShowNormal;
  p.flags = isMaximized() ? kPlacementRestoreMaximised : 0;
  const QRect g = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  if (g.isValid()) p.normal = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  if (p.normal.width() > 0) (void)profile.writeString("Settings", "WindowPos", FormatWindowPos(p));
  const int h = splitter_->mode() == CReinSplitterWnd::kBoth && splitter_->sizes().value(0) > 0
                    ? splitter_->sizes().value(0)
                    : splitter_->lastTwoPaneHeight();
  (void)profile.writeInt("General", "ContentSize", h);
  outline()->SaveOutlineState(profile);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  SaveState();
  timer_.stop();
  e->accept();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == toolbar_->bar() && event->type() == QEvent::ToolTip) {
    auto* he = static_cast<QHelpEvent*>(event);
    const int index = toolbar_->bar()->HitTest(he->pos());
    if (index >= 0) {
      QToolTip::showText(he->globalPos(), ToolbarTip(toolbar_->bar()->model().button(index).id), toolbar_->bar());
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::RightButton &&
      (watched == toolbar_ || watched == toolbar_->bar() || watched == status_ || watched == outlineBar_)) {
    // The bars' menu; a press inside the outline's tree is the tree's own.
    QMenu menu(this);
    AddMenuEntries(&menu, MenuItems(139));
    UpdateMenuStates(&menu);
    if (QAction* chosen = menu.exec(static_cast<QMouseEvent*>(event)->globalPosition().toPoint())) {
      OnCommand(chosen->data().toInt());
    }
    return true;
  }
  return CSizeDockFrame::eventFilter(watched, event);
}

// ---- menus ----

QAction* CMainFrame::CommandAction(QMenu* menu, int id) {
  QAction* a = menu->addAction(MenuText(id));
  a->setData(id);
  a->setStatusTip(StatusPrompt(id));
  a->setToolTip(ToolTipPrompt(id));
  if (id == kCmdBeeper || id == kCmdAutoDemo || id == kCmdRunOnStartup || id == kCmdOutlineBar ||
      id == kCmdToolBar || id == kCmdStatusBar) {
    a->setCheckable(true);
  }
  return a;
}

void CMainFrame::AddMenuEntries(QMenu* menu, const std::vector<MenuEntry>& entries) {
  for (const MenuEntry& e : entries) {
    if (!e.popup.empty()) {
      QMenu* sub = menu->addMenu(e.title);
      AddMenuEntries(sub, e.popup);
    } else if (e.id == kSeparator) {
      menu->addSeparator();
    } else {
      CommandAction(menu, e.id);
    }
  }
}

bool CMainFrame::IsCommandEnabled(int id) {
  switch (id) {
    case kCmdOutlineBar:
    case kCmdToolBar:
    case kCmdStatusBar:
    case kCmdNextPane:
    case kCmdKeyboardHelp:
    case kCmdAbout:
    case kCmdAppExit:
    case kCmdAutoDemo:
    case kCmdHideOutline:
    case kCmdNextItem:
    case kCmdPreviousItem:
      return true;
    case kCmdExpandNode:
    case kCmdCollapseNode:
      return outline()->IsCommandEnabled(id);
    default:
      return doc_.IsCommandEnabled(id);
  }
}

void CMainFrame::UpdateMenuStates(QMenu* menu) {
  for (QAction* a : menu->actions()) {
    if (a->menu()) {
      UpdateMenuStates(a->menu());
      continue;
    }
    if (a->isSeparator()) continue;
    const int id = a->data().toInt();
    a->setEnabled(IsCommandEnabled(id));
    if (!a->isCheckable()) continue;
    if (id == kCmdOutlineBar) a->setChecked(outlineBar_->isVisible());
    else if (id == kCmdToolBar) a->setChecked(toolbar_->isVisible());
    else if (id == kCmdStatusBar) a->setChecked(status_->isVisible());
    else if (id == kCmdAutoDemo) a->setChecked(outline()->IsCommandChecked(id));
    else a->setChecked(doc_.IsCommandChecked(id));
  }
}

void CMainFrame::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->clear();
  bool first = true;
  for (const MenuEntry& popup : MainMenu()) {
    QMenu* m = bar->addMenu(popup.title);
    AddMenuEntries(m, popup.popup);
    if (first) {
      nodePopup_ = m;
      first = false;
    }
    connect(m, &QMenu::aboutToShow, this, [this, m] { UpdateMenuStates(m); });
    connect(m, &QMenu::triggered, this, [this](QAction* a) {
      if (!a->menu()) OnCommand(a->data().toInt());
    });
  }
}

namespace {

// A command offered by two of the appended menus shows once; separators never lead, trail or pair.
void Tidy(QMenu* menu) {
  std::set<int> seen;
  QAction* previous = nullptr;
  for (QAction* a : menu->actions()) {
    if (a->menu()) {
      previous = a;
      continue;
    }
    const bool separator = a->isSeparator();
    if ((separator && (!previous || previous->isSeparator())) || (!separator && !seen.insert(a->data().toInt()).second)) {
      menu->removeAction(a);
      delete a;
      continue;
    }
    previous = a;
  }
  const auto actions = menu->actions();
  if (!actions.isEmpty() && actions.back()->isSeparator()) {
    QAction* last = actions.back();
    menu->removeAction(last);
    delete last;
  }
}

}  // namespace

void CMainFrame::FillNodeMenu(QMenu* menu, CPea* node, const std::vector<int>& leading) {
  for (int id : leading) {
    if (id == 140) {
      // The list pane's popup: the node's array entries in its first entry, else both go.
      std::vector<MenuEntry> arrays;
      for (int m : ContextMenuIds(node)) {
        if (m == 137) arrays = MenuItems(137);
      }
      if (!arrays.empty()) {
        QMenu* sub = menu->addMenu(QStringLiteral("&Array"));
        AddMenuEntries(sub, arrays);
        menu->addSeparator();
      }
      continue;
    }
    AddMenuEntries(menu, MenuItems(id));
  }
  bool listPopup = std::find(leading.begin(), leading.end(), 140) != leading.end();
  for (int m : ContextMenuIds(node)) {
    if (listPopup && m == 137) continue;
    if (!menu->isEmpty()) menu->addSeparator();
    AddMenuEntries(menu, MenuItems(m));
  }
  Tidy(menu);
  UpdateMenuStates(menu);
}

void CMainFrame::TrackNodeMenu(CPea* node, const std::vector<int>& leading, QPoint global, QWidget* owner) {
  (void)owner;
  PeaRef<CPea> keep(node);
  doc_.SetCommandNode(node);
  QMenu menu(this);
  FillNodeMenu(&menu, node, leading);
  QAction* chosen = menu.isEmpty() ? nullptr : menu.exec(global);
  const int id = chosen ? chosen->data().toInt() : 0;
  // The node may have left the tree while the menu was open: then nothing runs for it.
  if (id != 0 && InTree(doc_, node)) {
    doc_.SetCommandNode(node);
    OnCommand(id);
  }
  doc_.OnCommand(kCmdClearCommandNode);
}

void CMainFrame::RebuildNodePopup(CPea* node) {
  if (!nodePopup_) return;
  nodePopup_->clear();
  const int title = NodePopupTitleId(node);
  nodePopup_->setTitle(title ? Q(LoadString(title)) : MainMenu().front().title);
  AddMenuEntries(nodePopup_, MainMenu().front().popup);
  if (node) {
    std::vector<int> ids = ContextMenuIds(node);
    for (int m : ids) {
      nodePopup_->addSeparator();
      AddMenuEntries(nodePopup_, MenuItems(m));
    }
  }
  Tidy(nodePopup_);
}

// ---- commands ----

void CMainFrame::OnCommand(int id) {
  switch (id) {
    case kCmdOutlineBar:
    case kCmdHideOutline:
      outlineBar_->setVisible(!outlineBar_->isVisible());
      return;
    case kCmdToolBar:
      toolbar_->setVisible(!toolbar_->isVisible());
      return;
    case kCmdStatusBar:
      status_->setVisible(!status_->isVisible());
      return;
    case kCmdNextPane:
      NextPane();
      return;
    case kCmdAbout:
      ShowAbout();
      return;
    case kCmdKeyboardHelp:
      ShowKeyboardHelp();
      return;
    case kCmdAppExit:
      close();
      return;
    case kCmdExpandNode:
    case kCmdCollapseNode:
    case kCmdAutoDemo:
    case kCmdNextItem:
    case kCmdPreviousItem:
    case kCmdDeleteKey:
      outline()->OnCommand(id);
      return;
    case kCmdRunOnStartup: {
      if (!doc_.IsCommandEnabled(id)) return;
      doc_.OnCommand(id);
      (void)MirrorAutostart(doc_.IsRunOnStartup(), doc_.IsRunOnStartup() ? [] {
        auto p = plat::kernel::modulePath();
        return p ? p->string() : std::string();
      }() : std::string());
      return;
    }
    default:
      if (!doc_.IsCommandEnabled(id)) return;
      doc_.OnCommand(id);
      return;
  }
}

std::array<bool, 3> CMainFrame::UsablePanes() const {
  auto usable = [](QWidget* w) { return w && w->isVisible() && w->width() > 0 && w->height() > 0; };
  return {outlineBar_->isVisible() && usable(outline()), usable(list_), usable(property_)};
}

void CMainFrame::NextPane() {
  QWidget* f = QApplication::focusWidget();
  Pane at = Pane::Other;
  auto within = [f](QWidget* w) { return f && w && (f == w || w->isAncestorOf(f)); };
  if (within(outline())) at = Pane::Outline;
  else if (within(list_)) at = Pane::List;
  else if (within(property_)) at = Pane::Property;
  const auto next = console::NextPane(at, UsablePanes());
  if (!next) return;
  QWidget* target = *next == Pane::Outline ? static_cast<QWidget*>(outline())
                    : *next == Pane::List  ? static_cast<QWidget*>(list_)
                                           : static_cast<QWidget*>(property_);
  target->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::Poll() {
  ReentryGuard::Scope scope(pollGuard_);
  if (!scope) return;
  ++polls_;
  // Auto Demo steps first; the page refreshes from the document's poll.
  outline()->PollStep();
  doc_.Poll();
  status_->updateLocks();
  toolbar_->bar()->updateCommandUi();
}

// ---- display settings ----

QColor CMainFrame::BackgroundColour() const {
  const auto& d = doc_.display();
  return d.sysBkColor ? palette().color(QPalette::Base) : FromColorRef(d.backgroundColor);
}

QColor CMainFrame::TextColour() const {
  const auto& d = doc_.display();
  return d.sysTxtColor ? palette().color(QPalette::Text) : FromColorRef(d.foregroundColor);
}

QFont CMainFrame::PaneFont() const {
  const auto& d = doc_.display();
  if (d.sysFont) return QApplication::font();
  return FontFromDescription(d.paneFont).value_or(QApplication::font());
}

// ---- dialogs ----

void CMainFrame::ShowAbout() {
  std::optional<std::string> version;
  if (auto path = plat::kernel::modulePath()) {
    if (auto block = plat::kernel::readVersionBlock(*path)) {
      if (auto v = plat::kernel::queryVersionValue(*block, "\\StringFileInfo\\040904b0\\FileVersion")) {
        version = std::string(reinterpret_cast<const char*>(v->data()), v->size());
      }
    }
  }
  QDialog dlg(this);
  dlg.setWindowTitle(QStringLiteral("About ") + Q(LoadString(kStrAppTitle)));
  auto* layout = new QVBoxLayout(&dlg);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel(&dlg);
  icon->setPixmap(NodeImage(3, 32));
  top->addWidget(icon, 0, Qt::AlignTop);
  auto* text = new QLabel(QString::fromStdString(AboutText(version)), &dlg);
  text->setObjectName(QStringLiteral("AboutText"));
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(text, 1);
  layout->addLayout(top);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dlg);
  connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  layout->addWidget(buttons);
  dlg.exec();
}

void CMainFrame::ShowKeyboardHelp() {
  QDialog dlg(this);
  dlg.setWindowTitle(QStringLiteral("Keyboard Help"));
  auto* layout = new QVBoxLayout(&dlg);
  auto* table = new QTableWidget(static_cast<int>(Accelerators().size()), 3, &dlg);
  table->setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("Command"), QStringLiteral("Where")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  int row = 0;
  for (const Accelerator& a : Accelerators()) {
    table->setItem(row, 0, new QTableWidgetItem(a.key.toString(QKeySequence::NativeText)));
    QString what = MenuText(a.id);
    what.remove(QLatin1Char('&'));
    what = what.section(QLatin1Char('\t'), 0, 0);
    if (what.endsWith(QLatin1String("..."))) what.chop(3);
    table->setItem(row, 1, new QTableWidgetItem(what.isEmpty() ? StatusPrompt(a.id) : what));
    table->setItem(row, 2, new QTableWidgetItem(QString::fromLatin1(a.where)));
    ++row;
  }
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dlg);
  connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  layout->addWidget(buttons);
  dlg.resize(460, 380);
  dlg.exec();
}

}  // namespace kelm::console::ui
