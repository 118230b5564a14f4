// The Qt forms of the root, server and user pages, the rebuild wizard and the event viewer over
// their presenters and the scripted agent; under a real X server each is saved as a picture.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "console/core/tests/page_test_support.h"
#include "console/dialogs/console_dialogs.h"

namespace kelm::console::testing {
namespace {

using namespace kelm::console::dialogs;

class DialogsTest : public PageTest {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    PageTest::SetUp();
    agent.AddUsers(&agent.root, {{"admin", 0xFF}, {"ann", 0x181}});
    FakeNode* ide = agent.root.Folder("IDE0", kNodeIdeController);
    ide->Add("ReadEvent", "m--", "1");
    ide->Add("ClearEvent", "m--", "2");
    FakeNode* a = ide->Folder("Array1", kNodeIdeArray);
    a->Add("name", "prw", "Data");
    a->Add("RebuildArray", "m--", "60");
    for (int i = 0; i < 3; ++i) a->Folder("Disk" + std::to_string(i), kNodeIdeDisk)->Add("handle", "pr-", std::to_string(i));
    auto& log = agent.eventLogs["\\IDE0"];
    const char* records[] = {"512@994730139@1@Disk@Disk 2 failed@ch1", "513@994730200@2@Array@Array Data degraded",
                             "514@994730300@3@Agent@Agent started", "515@994730400@7@Other@Something else"};
    for (int k = 0; k < 4; ++k) {
      for (const char* r : records) log.records.push_back(r);
    }
    Start();
  }
  void Shot(QWidget& w, const char* name) {
    w.show();
    QApplication::processEvents();
    if (!std::getenv("KELM_SHOTS")) return;
    const QString dir = QStringLiteral(KELM_ARTEFACT_DIR);
    QDir().mkpath(dir);
    const QString file = dir + QStringLiteral("/dialog-%1.png").arg(QString::fromUtf8(name));
    EXPECT_TRUE(w.grab().save(file)) << file.toStdString();
  }
  template <class T>
  static T* Find(QWidget& w, const QString& text) {
    for (T* b : w.findChildren<T*>()) {
      if (b->text() == text) return b;
    }
    return nullptr;
  }
};

TEST_F(DialogsTest, ConsoleRootDrawsTheBanner) {
  pages::ConsolePage page(*doc);
  CMyConsoleView form(page);
  form.presenter().ShowNode(doc->root());
  form.resize(700, 400);
  Shot(form, "console-root");
  const QImage img = form.grab().toImage();
  // The banner's bars start 320 px from the right edge and 50 px from the bottom.
  EXPECT_EQ(img.pixelColor(700 - 320 + 10, 400 - 50 + 25), QColor(0, 70, 160));
  EXPECT_EQ(img.pixelColor(5, 5), QColor(255, 255, 255));
}

TEST_F(DialogsTest, UserPageSendsThroughItsPresenter) {
  pages::UserPage page(*doc);
  CUserView form(page);
  form.presenter().ShowNode(Open("Users\\ann"));
  form.resize(640, 320);
  Shot(form, "user");
  auto* commit = Find<QPushButton>(form, QStringLiteral("&Commit"));
  ASSERT_TRUE(commit);
  EXPECT_FALSE(commit->isEnabled());
  Find<QCheckBox>(form, QStringLiteral("Maintain Array"))->click();
  EXPECT_TRUE(commit->isEnabled());
}

TEST_F(DialogsTest, ServerPage) {
  pages::ServerPage page(*doc);
  CServerView form(page);
  form.presenter().ShowNode(Agent());
  form.resize(520, 220);
  Shot(form, "server");
  EXPECT_FALSE(Find<QPushButton>(form, QStringLiteral("&Commit"))->isEnabled());
}

TEST_F(DialogsTest, RebuildWizardPagesAndAnimation) {
  CVirtualFolder* array = Open("IDE0\\Array1");
  CRebuildWizard wizard(*doc, array, nullptr);
  Shot(wizard, "rebuild-select");
  EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Select disk to Rebuild"));
  wizard.presenter().SetSelected({false, true, false});
  Find<QPushButton>(wizard, QStringLiteral("&Next >"))->click();
  EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Finish"));
  EXPECT_GT(wizard.animation()->frameCount(), 1);  // found beside the program
  Shot(wizard, "rebuild-finish");
  Pump();
  ui.answers = {kIdYes};
  const std::size_t mark = agent.invoked.size();
  Find<QPushButton>(wizard, QStringLiteral("Finish"))->click();
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{"\\IDE0\\Array1|RebuildArray@512@1"});
}

TEST_F(DialogsTest, EventViewerListsPages) {
  CEventViewerDlg dlg(*doc, Open("IDE0"));
  Pump();
  QApplication::processEvents();
  EXPECT_EQ(dlg.list()->topLevelItemCount(), 10);
  Find<QPushButton>(dlg, QStringLiteral("Get &All"))->click();
  Pump();
  EXPECT_EQ(dlg.list()->topLevelItemCount(), 16);
  EXPECT_EQ(dlg.list()->topLevelItem(0)->text(4), QStringLiteral("Disk 2 failed@ch1"));
  EXPECT_EQ(dlg.list()->columnWidth(4), 600);
  Shot(dlg, "event-viewer");
  dlg.resize(1000, 400);
  QApplication::processEvents();
  EXPECT_EQ(dlg.list()->columnWidth(4), 685);
}

}  // namespace
}  // namespace kelm::console::testing
