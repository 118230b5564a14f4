// The console in a real window (an X server, virtual in the tests) against the real agent with
// the three families over the simulators: start, logon through the Login dialog, the tree, a
// rebuild's bar, a context-menu command on the clicked node, a second console, and the agent
// left running at the end. Each step leaves a screenshot in the build's artefacts.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <cctype>
#include <functional>
#include <map>
#include <string>

#include "console/controls/animate_static.h"
#include "console/core/array_action.h"
#include "console/core/panes/property_pane.h"
#include "console/ui/console_app.h"
#include "message/com_socket.h"
#include "platform/com/activation.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::console::ui {
namespace {

namespace fs = std::filesystem;
using systest::AgentProcess;
using systest::AgentRoot;

fs::path Artefacts() {
  const char* dir = std::getenv("KELM_ARTEFACTS");
  fs::path p = dir ? fs::path(dir) : fs::current_path() / "artefacts";
  fs::create_directories(p);
  return p;
}

// Waits on real events, bounded.
bool Until(const std::function<bool()>& done, int ms = 30000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < end) QTest::qWait(20);
  return done();
}

void Shot(QWidget* w, const char* name) {
  QApplication::processEvents();
  const fs::path file = Artefacts() / name;
  const QImage img = w->grab().toImage();
  EXPECT_TRUE(img.save(QString::fromStdString(file.string()))) << file;
  std::printf("screenshot %s\n", file.c_str());
}

void ScreenShot(const char* name) {
  QApplication::processEvents();
  const fs::path file = Artefacts() / name;
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_TRUE(screen->grabWindow(0).save(QString::fromStdString(file.string()))) << file;
  std::printf("screenshot %s\n", file.c_str());
}

// Chooses a command in the popup that is about to open.
void ChooseInNextMenu(int id, const char* shot, bool* chosen) {
  QTimer::singleShot(300, [id, shot, chosen] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions()) {
      if (a->data().toInt() == id && a->isEnabled()) {
        menu->setActiveAction(a);
        *chosen = true;
      }
    }
    if (shot) ScreenShot(shot);
    if (*chosen) {
      QTest::keyClick(menu, Qt::Key_Return);
    } else {
      menu->close();
    }
  });
}

class HintSpy : public DocumentView {
 public:
  void OnUpdate(int hint, CPea* node) override {
    if (hint == kHintChildrenChanged) ++children[node];
  }
  std::map<CPea*, int> children;
};

// A stable file name per node type for the page tour's screenshots.
std::string KindName(CVirtualFolder* node, const QString& label) {
  static const std::map<int, const char*> kinds = {
      {kNodeConsoleRoot, "console"},       {kNodeServer, "server"},
      {kNodeAgent, "agent"},               {kNodeIopArray, "iop-array"},
      {kNodeIopController, "iop-controller"}, {kNodeChannel, "iop-channel"},
      {kNodeIopDisk, "iop-disk"},          {kNodeEnclosure, "iop-enclosure"},
      {kNodePower, "power"},               {kNodeFan, "fan"},
      {kNodeTemperature, "temperature"},   {kNodeVoltage, "voltage"},
      {kNodeUserAccounts, "users"},        {kNodeUser, "user"},
      {kNodeSensorGroup, "sensor-group"},  {kNodeIdeArray, "ide-array"},
      {kNodeIdeController, "ide-controller"}, {kNodeIdeChannel, "ide-channel"},
      {kNodeIdeDisk, "ide-disk"},          {kNodeSerialArray, "serial-array"},
      {kNodeSerialController, "serial-controller"}, {kNodeSerialDisk, "serial-disk"},
      {kNodeSerialEnclosure, "serial-box"},
  };
  const int type = node->nodeType();
  if (type == kNodeRaidSystem) {
    // Each family's system has its own page.
    std::string name = "raid-system-";
    for (char c : label.toStdString()) {
      if (std::isalnum(static_cast<unsigned char>(c))) name += static_cast<char>(std::tolower(c));
    }
    return name;
  }
  auto it = kinds.find(type);
  return it != kinds.end() ? it->second : "type-" + std::to_string(type);
}

// Every folder under a node, in tree order.
void Folders(CPea* under, std::vector<CVirtualFolder*>& out) {
  auto* f = AsFolder(under);
  if (!f) return;
  for (CPea* c : f->SubFolders(false)) {
    auto* cf = AsFolder(c);
    if (!cf || cf != c) continue;
    out.push_back(cf);
    Folders(cf, out);
  }
}

TEST(KelmWindow, StartsLogsOnShowsTheTreeAndFollowsARebuild) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  std::vector<fs::path> components;
  for (const char* c : {"libtirrow.so", "libvantrel.so", "libbrask.so"}) {
    const fs::path p = AgentRoot::lib(c);
    if (!fs::exists(p)) GTEST_SKIP() << c << " is not built";
    components.push_back(p);
  }
  AgentRoot root(components);
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "start", "--stepped-clock"}), 0);
  struct SimStop {
    ~SimStop() { AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "stop"}); }
  } simStop;
  (void)AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "fault", "handshake", "warm"});
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-RegServer"}), 0);
  // The service mode serves the local channel and does not wait on the console's stop event (the
  // debug mode, -SvcDeb, serves no local channel at all, so no console could reach it).
  AgentProcess agent(root, {});
  ASSERT_TRUE(agent.ready());
  // The local channel is served just after TCP.
  ASSERT_TRUE(Until([] { return fs::exists(plat::com::localSocketPath(kComSocketName)); }, 20000));

  auto app = std::make_unique<ConsoleApp>();
  ASSERT_EQ(app->InitInstance(), ConsoleApp::Start::Started);
  CMainFrame* frame = app->frame();
  frame->resize(1200, 860);
  frame->move(20, 20);
  frame->activateWindow();
  CDremmoralDoc* doc = app->doc();
  HintSpy spy;
  doc->AddView(&spy);
  COutLineView* tree = frame->outline();
  CVirtualFolder* host = nullptr;
  ASSERT_TRUE(Until([&] {
    host = FindFolderOfType(doc->root(), kNodeAgent);
    return host && host->GetProperty("ServerStatus", "", true) == "1";
  }));
  PeaRef<CVirtualFolder> keepHost(host);
  Shot(frame, "kelm-start.png");

  // Login from the agent's context menu, through the Login dialog.
  QTreeWidgetItem* hostItem = nullptr;
  ASSERT_TRUE(Until([&] { return (hostItem = tree->ItemOf(host)) != nullptr; }));
  bool loginChosen = false;
  bool typed = false;
  ChooseInNextMenu(kCmdLogin, nullptr, &loginChosen);
  QTimer::singleShot(1200, [&] {
    auto* dlg = qobject_cast<CLoginDlg*>(QApplication::activeModalWidget());
    if (!dlg) return;
    EXPECT_TRUE(dlg->windowTitle().startsWith(QStringLiteral("Login to ")));
    EXPECT_TRUE(dlg->animation()->isRunning());
    QTest::keyClicks(dlg->userEdit(), QStringLiteral("admin"));
    QTest::keyClicks(dlg->passwordEdit(), QStringLiteral("secret"));
    typed = true;
    Shot(dlg, "kelm-login.png");
    QTest::keyClick(dlg->passwordEdit(), Qt::Key_Return);
  });
  tree->setFocus();
  QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(hostItem).center());
  ASSERT_TRUE(loginChosen);
  ASSERT_TRUE(typed);
  ASSERT_TRUE(Until([&] { return host->GetIntProperty("bHaveLogin", 0, true) == 1; }));

  // Open the tree: families, controllers, arrays and their disks.
  auto labels = [&] {
    QStringList out;
    QTreeWidgetItemIterator it(tree);
    while (*it) {
      out << (*it)->text(0);
      ++it;
    }
    return out;
  };
  auto expandAll = [&] {
    // Expanding refills, which replaces items: the nodes are collected, their items found afresh.
    std::vector<PeaRef<CPea>> nodes;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
      if (CPea* n = tree->NodeOf(*it)) nodes.emplace_back(n);
    }
    for (const PeaRef<CPea>& n : nodes) {
      QTreeWidgetItem* i = tree->ItemOf(n.get());
      auto* f = AsFolder(n.get());
      if (!i || !f || i->isExpanded()) continue;
      const int t = f->nodeType();
      if (t == kNodeAgent || t == kNodeRaidSystem || t == kNodeIopController || t == kNodeIdeController ||
          t == kNodeSerialController || IsArrayType(t) || t == kNodeConsoleRoot) {
        i->setExpanded(true);
      }
    }
  };
  CVirtualFolder* ideArray = nullptr;
  CVirtualFolder* ideDisk = nullptr;
  const bool opened = Until(
      [&] {
        expandAll();
        const QStringList l = labels();
        ideArray = FindFolderOfType(host, kNodeIdeArray);
        ideDisk = nullptr;
        // The array's last member is the one rebuilt.
        if (ideArray) {
          for (CPea* c : ideArray->SubFolders(false)) {
            if (auto* d = AsFolder(c); d && d == c && d->nodeType() == kNodeIdeDisk) ideDisk = d;
          }
        }
        return l.contains(QStringLiteral("MAROVELT")) && l.contains(QStringLiteral("PALINDREX")) &&
               l.contains(QStringLiteral("SORVENTIC")) && FindFolderOfType(host, kNodeIopArray) &&
               FindFolderOfType(host, kNodeSerialArray) && ideDisk && FindFolderOfType(host, kNodeIopDisk) &&
               FindFolderOfType(host, kNodeSerialDisk) && tree->ItemOf(ideDisk);
      },
      90000);
  EXPECT_TRUE(opened) << labels().join(QStringLiteral(" | ")).toStdString();
  Until([] { return false; }, 1500);  // the labels of the last listings settle
  tree->setFocus();
  tree->setCurrentItem(tree->ItemOf(host));
  tree->scrollToTop();
  Until([] { return false; }, 500);
  Shot(frame, "kelm-tree.png");
  ASSERT_TRUE(ideArray && ideDisk);
  PeaRef<CVirtualFolder> keepArray(ideArray);

  // The page tour: every folder opened, then one node of each type selected in the outline and
  // the whole frame shot with its page in the property pane. The tree is whole once no folder
  // shows its "Please wait" placeholder any more (its listing has come) and nothing new arrives:
  // a steady count alone passes while a listing queued behind slow ones is still on its way.
  std::size_t lastCount = 0;
  int steady = 0;
  Until(
      [&] {
        bool waiting = false;
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
          if (!(*it)->isExpanded() && (*it)->childCount() > 0) (*it)->setExpanded(true);
          if (!tree->NodeOf(*it)) waiting = true;
        }
        const std::size_t count = tree->itemCount();
        steady = count == lastCount && !waiting ? steady + 1 : 0;
        lastCount = count;
        Until([] { return false; }, 200);
        return steady >= 5;
      },
      60000);
  std::vector<CVirtualFolder*> all{AsFolder(doc->root())};
  Folders(doc->root(), all);
  std::map<std::string, PeaRef<CVirtualFolder>> tour;
  for (CVirtualFolder* f : all) {
    QTreeWidgetItem* item = tree->ItemOf(f);
    if (!item) continue;
    const std::string kind = KindName(f, item->text(0));
    if (!tour.count(kind)) tour.emplace(kind, PeaRef<CVirtualFolder>(f));
  }
  for (const char* kind :
       {"console", "agent", "users", "user", "raid-system-palindrex", "raid-system-sorventic", "raid-system-marovelt",
        "iop-controller", "iop-channel", "iop-disk", "iop-array", "iop-enclosure", "ide-controller", "ide-channel",
        "ide-disk", "ide-array", "serial-controller", "serial-disk", "serial-array", "serial-box"}) {
    EXPECT_TRUE(tour.count(kind)) << kind << " is not in the tree";
  }
  for (const auto& [kind, node] : tour) {
    if (!InTree(*doc, node.get())) continue;
    QTreeWidgetItem* item = tree->ItemOf(node.get());
    if (!item) continue;
    tree->setFocus();
    tree->setCurrentItem(item);
    tree->scrollToItem(item);
    // The pane shows the node's page where one is built, else none.
    const PageChoice choice = ChoosePage(node.get());
    PropertyPanePresenter& pane = frame->property()->presenter();
    const bool built = Until([&] { return pane.shownNode() == choice.node && pane.shownPageId() == choice.page; }, 3000);
    EXPECT_TRUE(built || pane.shownPageId() == PageId::None) << kind;
    if (built) {
      EXPECT_EQ(frame->property()->shownForm()->presenter(), pane.shownPage()) << kind;
      // Channels and the users folder give the list pane the whole area.
      EXPECT_TRUE(!frame->property()->isVisible() || frame->property()->shownForm()->isVisible()) << kind;
    }
    std::printf("page %s: %s\n", kind.c_str(), built ? "built" : "none");
    Until([] { return false; }, 1200);  // a poll or two fills the page
    Shot(frame, ("kelm-page-" + kind + ".png").c_str());
  }
  tour.clear();

  // A context-menu command reaches the clicked node, not the selected one.
  CVirtualFolder* controller = AsFolder(ideArray->GetParent());
  ASSERT_NE(controller, nullptr);
  tree->setCurrentItem(tree->ItemOf(controller));
  Until([] { return false; }, 1000);
  spy.children.clear();
  bool refreshChosen = false;
  ChooseInNextMenu(kCmdRefresh, "kelm-context-menu.png", &refreshChosen);
  QTreeWidgetItem* arrayItem = tree->ItemOf(ideArray);
  ASSERT_NE(arrayItem, nullptr);
  tree->scrollToItem(arrayItem);
  QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(arrayItem).center());
  ASSERT_TRUE(refreshChosen);
  EXPECT_TRUE(Until([&] { return spy.children[ideArray] > 0; }, 20000));
  EXPECT_EQ(tree->SelectedNode(), controller);
  // The status bar names the user of the agent the current node is under.
  EXPECT_EQ(frame->status()->user()->text(), QStringLiteral("admin"));

  // A rebuild started on the agent shows its bar in the list pane.
  ASSERT_FALSE(ideDisk->GetProperty("handle", "", true).empty());
  // The confirmation is answered as an administrator would.
  app->ui().messageOverride = [](const MessageBoxRequest& r) {
    return r.buttons == MsgButtons::YesNo ? kIdYes : kIdOk;
  };
  CArrayAction(doc, ideArray).RebuildArray(kActStart, ideDisk);
  app->ui().messageOverride = nullptr;
  const bool busy =
      Until([&] { return (ideArray->GetIntProperty("Status", 0, true) & 0xFF00) == 0x200; }, 30000);
  EXPECT_TRUE(busy) << ideArray->GetProperty("Status", "", true);
  tree->setCurrentItem(tree->ItemOf(controller));
  const bool bar = Until(
      [&] {
        (void)AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "fault", "step", "20000"});
        Until([] { return false; }, 1000);
        frame->list()->viewport()->repaint();
        for (const ProgressBar& b : frame->list()->lastBars()) {
          if (b.node == ideArray && b.draw && b.percent > 0) return true;
        }
        return false;
      },
      40000);
  EXPECT_TRUE(bar);
  Shot(frame, "kelm-rebuild-progress.png");

  // A second console exits at once.
  QProcess second;
  second.start(QString::fromStdString(AgentRoot::bin("kelm").string()), {});
  ASSERT_TRUE(second.waitForFinished(30000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);

  doc->RemoveView(&spy);
  frame->close();
  keepArray.reset();
  keepHost.reset();
  app.reset();
  // The agent keeps running after the console closed.
  EXPECT_EQ(::kill(agent.pid(), 0), 0);
  EXPECT_FALSE(agent.Wait(500).has_value());
}

}  // namespace
}  // namespace kelm::console::ui
