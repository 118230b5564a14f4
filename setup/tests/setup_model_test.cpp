// The wizard's choices without a window: the custom page's marks, the summary, the part argument
// and the driver probe.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/testing/temp_root.h"
#include "setup/core/setup_model.h"

namespace kelm::setup {
namespace {

Marks marks(std::initializer_list<int> on) {
  Marks m{};
  for (int i : on) m[static_cast<std::size_t>(i)] = true;
  return m;
}

struct ChecksCase {
  ProgramMode mode;
  Hardware hardware;
  Marks expected;
};

TEST(UpdateComponentChecks, SetsTheMarksOfEveryModeAndHardware) {
  const ChecksCase cases[] = {
      {ProgramMode::kLocalClient, Hardware::kSorventic, marks({kLocal, kAgent, kSC})},
      {ProgramMode::kLocalClient, Hardware::kPalindrex, marks({kLocal, kAgent, kI2O})},
      {ProgramMode::kLocalClient, Hardware::kMarovelt, marks({kLocal, kAgent, kMV})},
      {ProgramMode::kLocalClient, Hardware::kAll, marks({kLocal, kAgent, kI2O, kMV, kSC})},
      {ProgramMode::kRemoteClient, Hardware::kSorventic, marks({kRemote})},
      {ProgramMode::kRemoteClient, Hardware::kAll, marks({kRemote})},
      {ProgramMode::kRaidServer, Hardware::kPalindrex, marks({kServer})},
      {ProgramMode::kRaidServer, Hardware::kAll, marks({kServer})},
      {ProgramMode::kRaidAgent, Hardware::kSorventic, marks({kAgent, kSC})},
      {ProgramMode::kRaidAgent, Hardware::kPalindrex, marks({kAgent, kI2O})},
      {ProgramMode::kRaidAgent, Hardware::kMarovelt, marks({kAgent, kMV})},
      {ProgramMode::kRaidAgent, Hardware::kAll, marks({kAgent, kI2O, kMV, kSC})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(programModeText(c.mode)) + " / " + hardwareText(c.hardware));
    Step2Presenter page;
    page.OnInitDialog();
    // Whatever was marked before is replaced at once.
    page.SetMark(kRemote, true);
    page.SetMark(kSC, true);
    page.SetHardware(c.hardware);
    page.SetMode(c.mode);
    EXPECT_EQ(page.marks(), c.expected);
    EXPECT_FALSE(page.listEnabled());
    EXPECT_FALSE(page.selectAllEnabled());
    EXPECT_TRUE(page.hardwareEnabled());
    EXPECT_FALSE(page.selectAllChecked());
  }
}

TEST(UpdateComponentChecks, OtherKeepsTheMarksAndOpensTheListForAManualChoice) {
  Step2Presenter page;
  page.OnInitDialog();
  EXPECT_EQ(page.marks(), marks({kServer}));  // RAID Server, Sorventic at the start
  EXPECT_EQ(page.mode(), ProgramMode::kRaidServer);
  EXPECT_STREQ(page.description(),
               "The RAID Server establishes a connection across a network for monitoring your hard drives.");
  page.SetMode(ProgramMode::kRaidAgent);
  page.SetMode(ProgramMode::kOther);
  EXPECT_EQ(page.marks(), marks({kAgent, kSC}));
  EXPECT_TRUE(page.listEnabled());
  EXPECT_TRUE(page.selectAllEnabled());
  page.SetHardware(Hardware::kPalindrex);
  EXPECT_EQ(page.marks(), marks({kAgent, kSC}));
  EXPECT_STREQ(page.description(),
               "When Other is selected, you must manually select which array software components to use.");
}

TEST(UpdateComponentChecks, SelectAllMarksEverythingAndFollowsTheMarks) {
  Step2Presenter page;
  page.OnInitDialog();
  page.SetMode(ProgramMode::kOther);
  page.SelectAll();
  EXPECT_EQ(page.marks(), marks({0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(page.hardware(), Hardware::kAll);
  EXPECT_TRUE(page.selectAllChecked());
  page.SetMark(kMV, false);
  EXPECT_FALSE(page.selectAllChecked());
  page.SetMark(kMV, true);
  EXPECT_TRUE(page.selectAllChecked());
  // A mode change sets the marks again and clears "Select All".
  page.SetMode(ProgramMode::kRemoteClient);
  EXPECT_FALSE(page.selectAllChecked());
  EXPECT_EQ(page.marks(), marks({kRemote}));
}

TEST(Step2, NextWithNothingMarkedStaysWithItsMessage) {
  Step2Presenter page;
  page.OnInitDialog();
  page.SetMode(ProgramMode::kOther);
  EXPECT_EQ(page.OnWizardNext(), "");
  page.SetMark(kServer, false);
  EXPECT_EQ(page.OnWizardNext(), "You have not selected any component. Please select again.");
}

struct SummaryCase {
  InstallType type;
  const char* heading;
  const char* hardware;
  const char* mode;
  const char* components;
  Marks install;
};

TEST(Summary, ExpressTypesGiveTheirTextsAndParts) {
  const SummaryCase cases[] = {
      {InstallType::kMarovelt, " Express Installation for Marovelt", "Marovelt", "Remote All",
       "Remote Monitoring Utility \nMessage Server \nMessage Agent \nTirrow", marks({0, 2, 3, 5})},
      {InstallType::kPalindrex, " Express Installation for Palindrex", "Palindrex", "Remote All",
       "Remote Monitoring Utility \nMessage Server \nMessage Agent \nVantrel", marks({0, 2, 3, 4})},
      {InstallType::kSorventic, " Express Installation for Sorventic", "Sorventic", "Remote All",
       "Remote Monitoring Utility \nMessage Server \nMessage Agent \nBrask", marks({0, 2, 3, 6})},
      {InstallType::kAll, " Express Installation for All Components", "All", "Other",
       "Remote Monitoring Utility \nLocal Monitoring Utility \nMessage Server \nMessage Agent \nVantrel \nTirrow "
       "\nBrask",
       marks({0, 1, 2, 3, 4, 5, 6})},
  };
  Step2Presenter unused;
  unused.OnInitDialog();
  for (const auto& c : cases) {
    SCOPED_TRACE(installTypeText(c.type));
    const Summary s = SummaryFor(c.type, unused);
    EXPECT_EQ(SummaryHeading(c.type), c.heading);
    EXPECT_EQ(s.hardware, c.hardware);
    EXPECT_EQ(s.mode, c.mode);
    EXPECT_EQ(s.components, c.components);
    EXPECT_EQ(s.install, c.install);
  }
}

TEST(Summary, CustomShowsThePageTwoChoiceWithOneLinePerMark) {
  Step2Presenter page;
  page.OnInitDialog();
  page.SetHardware(Hardware::kPalindrex);
  page.SetMode(ProgramMode::kLocalClient);
  Summary s = SummaryFor(InstallType::kCustom, page);
  EXPECT_EQ(SummaryHeading(InstallType::kCustom), "Custom Installation");
  EXPECT_EQ(s.hardware, "Palindrex");
  EXPECT_EQ(s.mode, "Local Client");
  EXPECT_EQ(s.components, "Local Monitoring Utility\nMessage Agent\nVantrel\n");
  EXPECT_EQ(PartList(s.install), "$Local$Agent$I2O");

  page.SetMode(ProgramMode::kOther);
  page.SelectAll();
  s = SummaryFor(InstallType::kCustom, page);
  EXPECT_EQ(s.hardware, "All");
  EXPECT_EQ(s.mode, "Other");
  EXPECT_EQ(s.components,
            "Remote Monitoring Utility\nLocal Monitoring Utility\nMessage Server\nMessage Agent\nVantrel\nTirrow\nBrask\n");
}

TEST(PartArgument, NamesTheMarkedPartsInTableOrderInQuotes) {
  EXPECT_EQ(PartArgument(marks({0, 1, 2, 3, 4, 5, 6})), "-PART=\"$Remote$Local$Server$Agent$I2O$MV$SC\"");
  EXPECT_EQ(PartArgument(marks({kServer})), "-PART=\"$Server\"");
  EXPECT_EQ(PartArgument(marks({kSC, kRemote})), "-PART=\"$Remote$SC\"");
  // Which services the finish stops.
  EXPECT_FALSE(StopsAgent(marks({kServer, kRemote, kLocal})));
  EXPECT_TRUE(StopsServer(marks({kServer})));
  for (int family : {kAgent, kI2O, kMV, kSC}) EXPECT_TRUE(StopsAgent(marks({family})));
}

TEST(ProbeInstalledDriver, PicksTheFamilyOfTheInstalledDriverWithoutRegardToCase) {
  struct Case {
    std::vector<const char*> files;
    int probe;
    const char* type;
  } cases[] = {
      {{"marovelt.sys"}, 2, "Marovelt "},
      {{"MAROVELT.SYS", "quorvan.sys"}, 2, "Marovelt "},
      {{"quorvan.sys"}, 3, "Palindrex "},
      {{"QuorVan.Sys", "other.sys"}, 3, "Palindrex "},
      {{"other.sys"}, 0, "Sorventic "},
      {{}, 0, "Sorventic "},
  };
  for (const auto& c : cases) {
    plat::testing::TempRoot root;
    const auto dir = driversDir();
    std::filesystem::create_directories(dir);
    for (const char* f : c.files) std::ofstream(dir / f) << "driver";
    SCOPED_TRACE(c.type);
    EXPECT_EQ(ProbeInstalledDriver(dir), c.probe);
    Step1Presenter page;
    page.OnInitDialog(ProbeInstalledDriver(dir));
    EXPECT_STREQ(installTypeText(page.type()), c.type);
  }
}

TEST(Step1, OnlyCustomGoesThroughPageTwo) {
  Step1Presenter page;
  page.OnInitDialog(0);
  for (int i = 0; i < kInstallTypeCount; ++i) {
    page.OnInstallTypeChange(i);
    EXPECT_EQ(page.NextPage(), static_cast<InstallType>(i) == InstallType::kCustom ? 2 : 3) << i;
  }
  page.OnInstallTypeChange(99);  // not an item: the type stays
  EXPECT_EQ(page.type(), InstallType::kSorventic);
}

}  // namespace
}  // namespace kelm::setup
