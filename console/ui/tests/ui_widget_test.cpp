// The console's windows without a screen (offscreen platform), on the scripted agent.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "console/core/pages/ide_pages.h"
#include "console/core/strings.h"
#include "console/core/tests/fake_agent.h"
#include "console/pages/family_views.h"
#include "console/ui/art.h"
#include "console/ui/console_app.h"
#include "console/ui/menus.h"
#include "console/ui/page_hosts.h"
#include "console/ui/panes.h"
#include "platform/base/paths.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/temp_root.h"

namespace kelm::console::ui {
namespace {

using testing::FakeAgent;
using testing::FakeNode;

TEST(ActivityPane, BlocksOnEverySecondPaintInBlue) {
  ActivityPane pane;
  pane.resize(20, 18);
  auto grab = [&] { return pane.grab().toImage(); };
  pane.setValue(3);
  // Paints alternate: nothing, then the two blocks, then nothing.
  const QImage first = grab();
  const QImage second = grab();
  const QImage third = grab();
  const QImage* drawn = first.pixelColor(5, 2) == QColor(0, 0, 255) ? &first : &second;
  const QImage* blank = drawn == &first ? &second : &first;
  EXPECT_EQ(drawn->pixelColor(5, 2), QColor(0, 0, 255));   // COLORREF 0x00FF0000 is blue
  EXPECT_EQ(drawn->pixelColor(5, 15), QColor(0, 0, 255));  // the lower block
  EXPECT_NE(drawn->pixelColor(5, 8), QColor(0, 0, 255));   // the gap above the middle
  EXPECT_NE(blank->pixelColor(5, 2), QColor(0, 0, 255));
  EXPECT_EQ(third.pixelColor(5, 2) == QColor(0, 0, 255), drawn == &first);
  // -2 turns the lamp off: it becomes -1 and nothing is drawn from then on.
  pane.setValue(-2);
  for (int i = 0; i < 3; ++i) EXPECT_NE(grab().pixelColor(5, 2), QColor(0, 0, 255));
  EXPECT_EQ(pane.value(), -1);
  EXPECT_EQ(pane.accessibleDescription(), QStringLiteral("idle"));
}

// A hosted page is never squeezed to nothing, and one taller than the pane scrolls.
TEST(PropertyPane, HostedPagesFillOrScrollAndAreNeverCollapsed) {
  enum class Kind { LaidOut, PlacedParts, Painted };
  struct Case {
    Kind kind;
    int minHeight;   // the page is at least this tall
    bool scrolls;    // in a 300x120 pane
  } cases[] = {
      {Kind::LaidOut, 20, false},
      {Kind::PlacedParts, 322, true},  // the label ends at 322
      {Kind::Painted, 120, false},
  };
  for (const Case& c : cases) {
    QWidget* page = nullptr;
    std::unique_ptr<CPropertyForm> form(HostPage(nullptr, nullptr, [&](QWidget* parent) {
      page = new QWidget(parent);
      if (c.kind == Kind::LaidOut) {
        auto* l = new QVBoxLayout(page);
        l->addWidget(new QLabel(QStringLiteral("Name"), page));
      } else if (c.kind == Kind::PlacedParts) {
        (new QLabel(QStringLiteral("Fan"), page))->setGeometry(10, 300, 80, 22);
      }
      return page;
    }));
    form->resize(300, 120);
    form->show();
    QApplication::processEvents();
    SCOPED_TRACE(static_cast<int>(c.kind));
    EXPECT_GE(page->height(), c.minHeight);
    if (c.kind == Kind::LaidOut) {
      EXPECT_LT(page->height(), 120);  // kept at the top, not stretched
    }
    auto* area = form->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    QScrollBar* v = area->verticalScrollBar();
    EXPECT_EQ(v->maximum() > 0, c.scrolls);
    EXPECT_TRUE(form->OnScrollCommand(kCmdScrollPageDown));
    EXPECT_EQ(v->value() > 0, c.scrolls);
    EXPECT_TRUE(form->OnScrollCommand(kCmdScrollPageUp));
    EXPECT_EQ(v->value(), 0);
  }
}

TEST(Colours, ColorRefOrder) {
  EXPECT_EQ(FromColorRef(0x00FF0000), QColor(0, 0, 255));
  EXPECT_EQ(FromColorRef(0x000000FF), QColor(255, 0, 0));
  EXPECT_EQ(ToColorRef(QColor(1, 2, 3)), 0x00030201u);
}

TEST(FontDescription, BoundedBothWays) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(14);
  f.setBold(true);
  f.setItalic(true);
  const auto d = DescriptionFromFont(f);
  ASSERT_EQ(d.size(), kFontDescriptionSize);
  const auto back = FontFromDescription(d);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->family(), QStringLiteral("DejaVu Sans"));
  EXPECT_EQ(back->pixelSize(), 14);
  EXPECT_TRUE(back->italic());
  EXPECT_GE(back->weight(), QFont::DemiBold);
  // A face without its NUL, a weight past the range, the smallest height: still a font.
  std::vector<std::uint8_t> bad(kFontDescriptionSize, 'A');
  bad[0] = 0x00; bad[1] = 0x00; bad[2] = 0x00; bad[3] = 0x80;
  bad[16] = 0xFF; bad[17] = 0xFF; bad[18] = 0xFF; bad[19] = 0x7F;
  const auto odd = FontFromDescription(bad);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->family().size(), 32);
  EXPECT_FALSE(FontFromDescription(std::vector<std::uint8_t>(59, 0)));
}

TEST(Artwork, EveryImageIsDrawn) {
  for (int i = 0; i < kNodeImageCount; ++i) {
    const QImage small = NodeImage(i, 16).toImage();
    const QImage big = NodeImage(i, 32).toImage();
    ASSERT_EQ(small.size(), QSize(16, 16));
    int opaque = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) opaque += qAlpha(big.pixel(x, y)) > 0;
    }
    EXPECT_GT(opaque, 60) << "image " << i;
  }
  EXPECT_EQ(ToolbarStrip().size(), QSize(16 * 15, 15));
  EXPECT_EQ(LoginAnimationStrip().size(), QSize(128, 32));
  EXPECT_EQ(ConsoleBanner().size(), QSize(309, 52));
}

TEST(Menus, EveryCommandHasWordsAndTheToolbarHasTips) {
  int images = 0;
  for (int id : ToolbarButtons()) {
    if (id == 0) continue;
    ++images;
    EXPECT_FALSE(ToolbarTip(id).isEmpty()) << id;
    EXPECT_FALSE(StatusPrompt(id).isEmpty()) << id;
  }
  EXPECT_EQ(images, 15);  // one glyph each in the strip
  EXPECT_EQ(StatusPrompt(32809), QStringLiteral("Create a new array under the RAID system"));
  EXPECT_EQ(ToolTipPrompt(32809), QStringLiteral("Create Array"));
  for (int menu : {137, 139, 141, 144, 145, 146, 147, 157, 167, 186, 187, 202}) {
    for (const MenuEntry& e : MenuItems(menu)) {
      if (e.id > 0) {
        EXPECT_FALSE(MenuText(e.id).isEmpty()) << menu << " " << e.id;
      }
    }
  }
  bool f6 = false;
  for (const Accelerator& a : Accelerators()) f6 = f6 || (a.key == QKeySequence(Qt::Key_F6) && a.id == kCmdNextPane);
  EXPECT_TRUE(f6);
}

// The console on the scripted agent, with the manual clock.
class Window : public ::testing::Test {
 protected:
  Window() {
    agent.root.Add("Description", "pr-", "agent");
    FakeNode* k = agent.root.Folder("K", kNodeIdeController);
    for (const char* n : {"A", "B"}) {
      FakeNode* a = k->Folder(n, kNodeIdeArray);
      a->Add("name", "prw", n);
      a->Add("Status", "pr-", "0");
    }
    plat::reg::Profile p("Velkari Technology Inc.", "Kelm");
    (void)p.writeString("MessageServer\\MyConsole\\LOCALAGENT", "bValidProfile", "1");
    DocumentOptions opts;
    opts.channelFactory = agent.Factory();
    opts.programPath = "/opt/kelm/bin/kelm";
    app = std::make_unique<ConsoleApp>(opts, clock);
    app->ui().messageOverride = [this](const MessageBoxRequest& r) {
      boxes.push_back(r.text);
      return r.buttons == MsgButtons::YesNo ? kIdYes : kIdOk;
    };
  }
  ~Window() override { app.reset(); }

  void Pump() {
    for (int i = 0; i < 30; ++i) {
      agent.Deliver();
      app->loop().runOnce(0);
      QApplication::processEvents();
    }
  }
  QTreeWidgetItem* Item(const std::string& path) {
    CVirtualFolder* n = app->doc()->root()->FindByPath(path);
    return n ? app->frame()->outline()->ItemOf(n) : nullptr;
  }
  // Opens the way to a path in the outline.
  QTreeWidgetItem* Open(const std::string& path) {
    for (int i = 0; i < 10; ++i) {
      std::string at;
      std::size_t from = 1;
      while (true) {
        const std::size_t slash = path.find('\\', from);
        at = path.substr(0, slash);
        if (QTreeWidgetItem* item = Item(at)) item->setExpanded(true);
        Pump();
        if (slash == std::string::npos) break;
        from = slash + 1;
      }
      if (QTreeWidgetItem* item = Item(path)) return item;
    }
    return nullptr;
  }

  plat::testing::TempRoot root;
  plat::ManualClock clock;
  FakeAgent agent;
  std::unique_ptr<ConsoleApp> app;
  std::vector<std::string> boxes;
};

TEST_F(Window, AContextMenuCommandActsOnTheClickedNode) {
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  Pump();
  QTreeWidgetItem* a = Open("\\HOST7\\K\\A");
  QTreeWidgetItem* b = Item("\\HOST7\\K\\B");
  ASSERT_TRUE(a && b);
  COutLineView* tree = app->frame()->outline();
  tree->setFocus();
  tree->setCurrentItem(a);
  Pump();
  CPea* clicked = app->frame()->outline()->NodeOf(b);
  const std::size_t mark = agent.received.size();
  bool chosen = false;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    // The popup takes the focus from the tree, as on a real screen.
    QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(tree, &out);
    for (QAction* act : menu->actions()) {
      if (act->data().toInt() == kCmdRefresh) {
        menu->setActiveAction(act);
        chosen = true;
      }
    }
    QTest::keyClick(menu, Qt::Key_Return);
  });
  const QRect r = tree->visualItemRect(b);
  QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, r.center());
  ASSERT_TRUE(chosen);
  Pump();
  std::vector<std::string> steps;
  for (const CMessage& m : agent.Since(mark)) {
    if (m.code == kReqChangeFolder) steps.push_back(m.text);
  }
  std::string all;
  for (const auto& st : steps) all += st + "|";
  EXPECT_NE(std::find(steps.begin(), steps.end(), "B"), steps.end()) << all;
  EXPECT_EQ(std::find(steps.begin(), steps.end(), "A"), steps.end());
  EXPECT_EQ(tree->SelectedNode(), tree->NodeOf(a));  // the selection stays
  EXPECT_EQ(app->doc()->commandNode(), nullptr);     // 8192 cleared it
  (void)clicked;
}

TEST_F(Window, TheListPaneFollowsTheSelectionAndFallsBackToTheRoot) {
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  Pump();
  QTreeWidgetItem* k = Open("\\HOST7\\K");
  ASSERT_TRUE(k);
  // Listed without moving the outline's selection.
  app->doc()->UpdateAllViews(kHintCurrentChanged, app->frame()->outline()->NodeOf(k));
  Pump();
  CContentView* list = app->frame()->list();
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("A"));
  // The listed folder leaves the tree: the pane lists the root.
  agent.root.Remove("K");
  app->doc()->root()->FindByPath("\\HOST7")->Reload();
  Pump();
  EXPECT_EQ(app->doc()->root()->FindByPath("\\HOST7\\K"), nullptr);
  EXPECT_EQ(list->folder(), nullptr);
  ASSERT_GE(list->count(), 1);
  // A right click on empty space builds the menu of what is listed (the root), without a crash.
  QTimer::singleShot(0, [] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) menu->close();
  });
  list->ShowContextMenu(QPoint(list->viewport()->width() - 2, list->viewport()->height() - 2),
                        list->viewport()->mapToGlobal(QPoint(5, 5)));
}

TEST_F(Window, TheDeleteKeyAndTheOnlyAdministrator) {
  FakeNode* users = agent.root.Folder("Users", kNodeUserAccounts);
  users->Add("DeleteUser", "m--", "60");
  FakeNode* admin = users->Folder("admin", kNodeUser);
  admin->Add("right", "pr-", "6");
  FakeNode* bob = users->Folder("bob", kNodeUser);
  bob->Add("right", "pr-", "4");
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  Pump();
  QTreeWidgetItem* adminItem = Open("\\HOST7\\Users\\admin");
  ASSERT_TRUE(adminItem);
  COutLineView* tree = app->frame()->outline();
  tree->setFocus();
  tree->setCurrentItem(adminItem);
  Pump();
  const std::size_t mark = agent.invoked.size();
  QTest::keyClick(tree, Qt::Key_Delete);
  Pump();
  EXPECT_EQ(agent.invoked.size(), mark);  // the only administrator is not deleted
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(app->frame()->IsCommandEnabled(kCmdDeleteUser));
  // A channel-like node beeps.
  const int beeps = app->ui().beeps();
  tree->setCurrentItem(Item("\\HOST7\\Users"));
  Pump();
  QTest::keyClick(tree, Qt::Key_Delete);
  EXPECT_EQ(app->ui().beeps(), beeps + 1);
  // Another user is deleted after the confirmation.
  tree->setCurrentItem(Item("\\HOST7\\Users\\bob"));
  Pump();
  EXPECT_TRUE(app->frame()->IsCommandEnabled(kCmdDeleteUser));
  QTest::keyClick(tree, Qt::Key_Delete);
  Pump();
  ASSERT_FALSE(boxes.empty());
  ASSERT_GT(agent.invoked.size(), mark);
  EXPECT_EQ(agent.invoked.back(), "\\Users|DeleteUser@bob");
}

TEST_F(Window, ThePollIsNotReenteredFromANestedLoop) {
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  Pump();
  int inner = -1;
  app->ui().messageOverride = [&](const MessageBoxRequest&) {
    // The box's own loop runs the timer: that poll returns at once.
    const int before = app->frame()->pollsRun();
    app->frame()->Poll();
    inner = app->frame()->pollsRun() - before;
    return kIdOk;
  };
  {
    // Raised inside a reply: queued, and shown by the next poll.
    CDremmoralDoc::CallbackScope scope(app->doc());
    MessageBoxRequest box;
    box.stringId = kStrLoginError;
    app->doc()->ShowMessage(box);
  }
  app->frame()->Poll();
  EXPECT_EQ(inner, 0);
  app->frame()->Poll();
  EXPECT_EQ(app->frame()->pollsRun() >= 2, true);
}

TEST_F(Window, ClosingSavesPlacementContentSizeAndTheOutline) {
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  app->frame()->resize(800, 600);
  Pump();
  QTreeWidgetItem* a = Open("\\HOST7\\K\\A");
  ASSERT_TRUE(a);
  app->frame()->outline()->setCurrentItem(a);
  Pump();
  app->frame()->splitter()->ShowOnlyPane(CReinSplitterWnd::kPropertyPane);
  app->frame()->close();
  app.reset();
  plat::reg::Profile p("Velkari Technology Inc.", "Kelm");
  const auto placement = ParseWindowPos(p.getString("Settings", "WindowPos", ""));
  ASSERT_TRUE(placement);
  EXPECT_EQ(placement->normal.width(), 800);
  EXPECT_GT(p.getInt("General", "ContentSize", 0), 0);  // the last two-pane height, not 0
  EXPECT_EQ(p.getString("OutLine", "ActiveLeaf", ""), "/MyConsole/HOST7/K/A");
  EXPECT_EQ(p.getInt("OutLine", "DemoFreq", 0), 10);
  EXPECT_EQ(p.getInt("General", "First", 1), 0);
  EXPECT_TRUE(p.getBinary("General", "BarState"));
}

// A first run has no saved layout: the outline still opens at its docked width, whether the
// window keeps its first size or is resized before it is first laid out.
TEST_F(Window, TheFirstRunOpensTheOutlineWideEnoughForADisksLabel) {
  for (const bool resizedAtOnce : {false, true}) {
    SCOPED_TRACE(resizedAtOnce);
    plat::testing::TempRoot fresh;
    DocumentOptions opts;
    opts.channelFactory = agent.Factory();
    app.reset();
    app = std::make_unique<ConsoleApp>(opts, clock);
    ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
    if (resizedAtOnce) app->frame()->resize(1200, 860);
    Pump();
    EXPECT_GE(app->frame()->outlineBar()->width(), 300);
    EXPECT_LT(app->frame()->outlineBar()->width(), app->frame()->width() / 2);
    app.reset();
  }
}

TEST_F(Window, ASecondConsoleIsRefused) {
  ASSERT_EQ(app->InitInstance(false), ConsoleApp::Start::Started);
  DocumentOptions opts;
  opts.channelFactory = agent.Factory();
  ConsoleApp second(opts, clock);
  EXPECT_EQ(second.InitInstance(false), ConsoleApp::Start::AlreadyRunning);
  EXPECT_EQ(second.frame(), nullptr);
}

// The agent, RAID system and IDE pages in the property pane, on the scripted agent.
class FamilyPages : public Window {
 protected:
  FamilyPages() {
    FakeNode& host = agent.root;
    host.Add("FileVersion", "pr-", "2.10");
    for (const char* m : {"SetProperty", "GetEmailNoticeList", "GetReportNoticeList", "GetVerifySchedule"}) {
      host.Add(m, "m--", "64");
    }
    agent.answers["GetEmailNoticeList"].partials = {"GetEmailNoticeList@0@1@256"};
    FakeNode* raid = host.Folder("RAID", kNodeRaidSystem);
    raid->Add("Type", "pr-", "VELKARI SorventicRAID");
    raid->Add("ComportStatus", "prv", "Disconnected");
    raid->Add("connectComPort", "m--", "64");
    FakeNode* k = host.Child("K");
    k->Add("IRQ", "pr-", "11");
    k->Add("GetSmart", "prv", "0");
    k->Add("SetSmart", "m--", "64");
    FakeNode* d = k->Folder("Ch", kNodeIdeChannel)->Folder("D", kNodeIdeDisk);
    d->Add("model", "pr-", "QM-2000");
    d->Add("Status", "prv", "256");
  }

  // Selects the node in the outline; the form the property pane shows for it, checked to show the
  // pane's own presenter.
  template <class View>
  View* Show(const std::string& path) {
    QTreeWidgetItem* item = Open(path);
    if (!item) {
      ADD_FAILURE() << path << " is not in the outline";
      return nullptr;
    }
    app->frame()->outline()->setCurrentItem(item);
    Pump();
    CPropertyView* pane = app->frame()->property();
    CPropertyForm* form = pane->shownForm();
    View* view = form ? form->findChild<View*>() : nullptr;
    if (!view) {
      ADD_FAILURE() << path << " shows " << (form ? form->metaObject()->className() : "no form");
      return nullptr;
    }
    EXPECT_EQ(static_cast<PagePresenter*>(&view->presenter()), pane->presenter().shownPage()) << path;
    EXPECT_TRUE(view->isVisible()) << path;
    return view;
  }
  static QStringList Labels(QWidget* w) {
    QStringList out;
    for (auto* l : w->findChildren<QLabel*>()) out << l->text();
    return out;
  }
  static void Click(QWidget* w, const QString& caption) {
    for (auto* b : w->findChildren<QAbstractButton*>()) {
      if (b->text() == caption) return b->click();
    }
    ADD_FAILURE() << "no button " << caption.toStdString();
  }
  CVirtualFolder* Node(const std::string& path) { return app->doc()->root()->FindByPath(path); }
};

TEST_F(FamilyPages, EachFormShowsThePanesOwnPresenter) {
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  Pump();
  if (auto* form = Show<pages::CRAIDMachineView>("\\HOST7")) {
    EXPECT_TRUE(Labels(form).contains(QStringLiteral("2.10")));
  }
  if (auto* form = Show<pages::CRAIDSystemView>("\\HOST7\\RAID")) {
    EXPECT_TRUE(Labels(form).contains(QStringLiteral("VELKARI SorventicRAID")));
    // What the presenter changes reaches the form through the pane.
    Click(form, QStringLiteral("Connect"));
    EXPECT_TRUE(Labels(form).contains(QStringLiteral("Please wait...")));
  }
  if (auto* form = Show<pages::CMaroveltCtrlrView>("\\HOST7\\K")) {
    EXPECT_TRUE(Labels(form).contains(QStringLiteral("11")));
  }
  // The painted pages get the pane's room to paint in.
  if (auto* form = Show<pages::CMaroveltArrayView>("\\HOST7\\K\\A")) {
    EXPECT_TRUE(form->paintedTexts().contains(QStringLiteral("Functional")));
    EXPECT_GE(form->height(), 190);
  }
  if (auto* form = Show<pages::CMaroveltDiskView>("\\HOST7\\K\\Ch\\D")) {
    EXPECT_TRUE(form->paintedTexts().contains(QStringLiteral("QM-2000")));
    EXPECT_GE(form->height(), 190);
  }
}

TEST_F(FamilyPages, FormsLetGoOfTheirNodeWhenThePaneMovesOnOrGoes) {
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  Pump();
  CVirtualFolder* host = Node("\\HOST7");
  auto* machine = Show<pages::CRAIDMachineView>("\\HOST7");
  ASSERT_TRUE(machine);
  pages::AgentSettingsPage& settings = machine->presenter();
  // While shown, the page hears the agent's answers about its node...
  auto before = settings.controls().email;
  agent.answers["GetEmailNoticeList"].partials = {"GetEmailNoticeList@0@1@530"};
  host->Invoke("GetEmailNoticeList", "");
  Pump();
  EXPECT_NE(settings.controls().email, before);
  // ...and no longer once the pane shows another node.
  auto* system = Show<pages::CRAIDSystemView>("\\HOST7\\RAID");
  ASSERT_TRUE(system);
  before = settings.controls().email;
  agent.answers["GetEmailNoticeList"].partials = {"GetEmailNoticeList@0@1@257"};
  host->Invoke("GetEmailNoticeList", "");
  Pump();
  EXPECT_EQ(settings.controls().email, before);

  // The wait after Connect ends when the pane moves on, and reloads on the clock when it stays.
  pages::RaidSystemPage& raid = system->presenter();
  Click(system, QStringLiteral("Connect"));
  EXPECT_TRUE(raid.waiting());
  ASSERT_TRUE(Show<pages::CMaroveltCtrlrView>("\\HOST7\\K"));
  EXPECT_FALSE(raid.waiting());
  ASSERT_EQ(Show<pages::CRAIDSystemView>("\\HOST7\\RAID"), system);
  Click(system, QStringLiteral("Connect"));
  agent.root.Child("RAID")->Child("ComportStatus")->value = "Connected";
  clock.advanceMs(pages::RaidSystemPage::kConnectWait.count());
  Pump();
  EXPECT_FALSE(raid.waiting());
  EXPECT_TRUE(Labels(system).contains(QStringLiteral("Connected")));

  // A pane that goes takes its pages' listeners with it: later answers reach nothing that is gone.
  {
    CPropertyView pane(*app->doc());
    for (const char* path : {"\\HOST7", "\\HOST7\\K"}) pane.presenter().SelectPropertyForm(Node(path));
    pane.presenter().SelectPropertyForm(Node("\\HOST7"));
  }
  host->Invoke("GetEmailNoticeList", "");
  Node("\\HOST7\\K")->Invoke("SetSmart", "1");
  Pump();
}

// Records a reboot instead of doing one.
class RecordingRebooter : public Rebooter {
 public:
  explicit RecordingRebooter(int& count) : count_(count) {}
  plat::Result<void> Reboot() override {
    ++count_;
    return plat::success();
  }

 private:
  int& count_;
};

// The controller form's commit of a setting that needs a reboot, answered Yes: the boxes shown,
// and whether the main window was closed afterwards.
class ControllerReboot : public FamilyPages {
 protected:
  void CommitSmart() {
    ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
    Pump();
    auto* form = Show<pages::CMaroveltCtrlrView>("\\HOST7\\K");
    ASSERT_TRUE(form);
    Click(form, QStringLiteral("Enable S.M.A.R.T Check"));
    Click(form, QStringLiteral("Commit"));
    Pump();
    EXPECT_EQ(agent.invoked.back(), "\\K|SetSmart@1");
    EXPECT_FALSE(app->frame()->isVisible());
  }
  const std::string question = pages::IdeControllerPage::kRebootQuestion;
  const std::string fail = pages::IdeControllerPage::kRebootFail;
};

TEST_F(ControllerReboot, TheMachinesRebooterRefusesUnderAPrivateRoot) {
  ASSERT_FALSE(plat::paths::root().empty());
  CommitSmart();
  EXPECT_EQ(boxes, (std::vector<std::string>{question, fail}));
}

TEST_F(ControllerReboot, TheConsolesRebooterIsTheOneAsked) {
  int reboots = 0;
  app->ui().setRebooter(std::make_unique<RecordingRebooter>(reboots));
  CommitSmart();
  EXPECT_EQ(boxes, std::vector<std::string>{question});
  EXPECT_EQ(reboots, 1);
}

}  // namespace
}  // namespace kelm::console::ui
