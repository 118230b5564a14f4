// The wizard's windows offscreen over fake services: the pages' order, what they show, the
// Finish, and a screenshot of each page kept as a test artefact.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <fstream>

#include "platform/testing/temp_root.h"
#include "setup/ostrel/ostrel_wizard.h"
#include "setup/tests/fakes.h"

namespace kelm::setup {
namespace {

using namespace kelm::setup::testing;
namespace fs = std::filesystem;

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    medium_ = root_.dir() / "medium";
    fs::create_directories(medium_);
    std::ofstream(medium_ / "Ostrel.exe") << "x";
    std::ofstream(medium_ / "isSetup.exe") << "x";
    SetupSystem sys{&world_, &world_, &prompts_, &progress_, &world_, &files_, &launcher_};
    wizard_ = std::make_unique<COstrelWizard>(
        std::make_unique<FinishOrchestrator>(sys, SourceLocation{medium_, false}, root_.dir() / "target"), prompts_,
        2);
    wizard_->show();
    QApplication::processEvents();
  }
  void Shot(const char* name) {
    QApplication::processEvents();
    const char* dir = std::getenv("KELM_ARTEFACTS");
    if (!dir) return;
    fs::create_directories(dir);
    EXPECT_TRUE(wizard_->grab().save(QString::fromStdString((fs::path(dir) / name).string())));
  }
  void Click(QWizard::WizardButton b) {
    wizard_->button(b)->click();
    QApplication::processEvents();
  }

  plat::testing::TempRoot root_;
  fs::path medium_;
  FakeWorld world_;
  FakePrompts prompts_;
  FakeProgress progress_;
  FakeLauncher launcher_;
  RealFiles files_;
  std::unique_ptr<COstrelWizard> wizard_;
};

TEST_F(Wizard, ExpressGoesFromTheFirstPageToTheSummaryAndFinishes) {
  EXPECT_EQ(wizard_->currentId(), COstrelWizard::kStep1);
  // The IDE family's driver is installed: its express installation is offered.
  EXPECT_EQ(wizard_->step1()->typeList()->currentText(), "Marovelt ");
  Shot("ostrel-page1.png");
  wizard_->step1()->typeList()->setCurrentIndex(static_cast<int>(InstallType::kAll));
  Click(QWizard::NextButton);
  EXPECT_EQ(wizard_->currentId(), COstrelWizard::kStep3);
  EXPECT_EQ(wizard_->step3()->summary().components,
            "Remote Monitoring Utility \nLocal Monitoring Utility \nMessage Server \nMessage Agent \nVantrel \nTirrow "
            "\nBrask");
  Shot("ostrel-page3-express.png");
  Click(QWizard::BackButton);
  EXPECT_EQ(wizard_->currentId(), COstrelWizard::kStep1);
  Click(QWizard::NextButton);
  Click(QWizard::FinishButton);
  ASSERT_EQ(launcher_.starts.size(), 1u);
  EXPECT_EQ(launcher_.starts[0].args, std::vector<std::string>{"-PART=\"$Remote$Local$Server$Agent$I2O$MV$SC\""});
  EXPECT_TRUE(wizard_->finished());
  EXPECT_FALSE(wizard_->isVisible());
}

TEST_F(Wizard, CustomGoesThroughThePartsPageAndStaysWhenTheFinishIsHalted) {
  wizard_->step1()->typeList()->setCurrentIndex(static_cast<int>(InstallType::kCustom));
  Click(QWizard::NextButton);
  ASSERT_EQ(wizard_->currentId(), COstrelWizard::kStep2);
  auto* list = wizard_->step2()->findChild<QListWidget*>();
  ASSERT_NE(list, nullptr);
  EXPECT_FALSE(list->isEnabled());
  EXPECT_EQ(list->item(kServer)->checkState(), Qt::Checked);
  Shot("ostrel-page2.png");

  wizard_->step2()->SetMode(ProgramMode::kOther);
  EXPECT_TRUE(list->isEnabled());
  list->item(kServer)->setCheckState(Qt::Unchecked);  // the administrator clears the last mark
  EXPECT_EQ(wizard_->step2()->presenter().OnWizardNext(), "You have not selected any component. Please select again.");
  Click(QWizard::NextButton);
  EXPECT_EQ(wizard_->currentId(), COstrelWizard::kStep2);
  EXPECT_EQ(prompts_.messages, std::vector<std::string>{"You have not selected any component. Please select again."});
  wizard_->step2()->ClickSelectAll();
  Shot("ostrel-page2-other.png");
  Click(QWizard::NextButton);
  ASSERT_EQ(wizard_->currentId(), COstrelWizard::kStep3);
  Shot("ostrel-page3-custom.png");

  // The console is open and the administrator halts: the wizard stays on its last page.
  world_.held.insert(kConsoleMutex);
  prompts_.answer = [](const std::string&) { return false; };
  Click(QWizard::FinishButton);
  EXPECT_EQ(wizard_->currentId(), COstrelWizard::kStep3);
  EXPECT_TRUE(wizard_->isVisible());
  EXPECT_TRUE(launcher_.starts.empty());
  Click(QWizard::BackButton);
  EXPECT_EQ(wizard_->currentId(), COstrelWizard::kStep2);
  EXPECT_EQ(list->item(kServer)->checkState(), Qt::Checked);  // the choice stayed
}

TEST_F(Wizard, WhileTheFinishWaitsASecondFinishOrACancelDoesNothing) {
  wizard_->step1()->typeList()->setCurrentIndex(static_cast<int>(InstallType::kAll));
  Click(QWizard::NextButton);
  world_.held = {kAgentMutex};
  int pauses = 0;
  world_.onPause = [&] {
    ++pauses;
    EXPECT_FALSE(wizard_->button(QWizard::FinishButton)->isEnabled());
    EXPECT_FALSE(wizard_->button(QWizard::CancelButton)->isEnabled());
    // What the administrator could still reach: the wizard's Finish slot and its closing.
    EXPECT_FALSE(wizard_->step3()->validatePage());
    wizard_->reject();
    EXPECT_TRUE(wizard_->isVisible());
  };
  Click(QWizard::FinishButton);
  EXPECT_EQ(pauses, 2);
  EXPECT_EQ(launcher_.starts.size(), 1u);
  EXPECT_TRUE(wizard_->finished());
}

TEST_F(Wizard, TheCopyProgressWindowShowsItsCaptionAndBar) {
  CCopyProgressDlg dialog(wizard_.get(), false);
  dialog.Show("Copying files for Disk2", "Please wait while copying files to the hard disk...");
  dialog.SetPercent(42);
  QApplication::processEvents();
  EXPECT_EQ(dialog.windowTitle(), "Copying files for Disk2");
  if (const char* dir = std::getenv("KELM_ARTEFACTS")) {
    EXPECT_TRUE(dialog.grab().save(QString::fromStdString((fs::path(dir) / "ostrel-copy-progress.png").string())));
  }
  dialog.Hide();
}

}  // namespace
}  // namespace kelm::setup

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
