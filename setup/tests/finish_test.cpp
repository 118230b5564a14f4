// The wizard's Finish with fake services, named objects, prompts, progress window and launcher,
// on real files: the floppy drive is a link that the disk changer swaps when a disk is asked for.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"
#include "setup/core/finish_orchestrator.h"
#include "setup/tests/fakes.h"

namespace kelm::setup {
namespace {

namespace fs = std::filesystem;
using namespace kelm::setup::testing;

// Real files, with one file whose copy fails.
struct FaultyFiles : RealFiles {
  std::string failOn;
  plat::Result<void> Copy(const fs::path& from, const fs::path& to,
                          const std::function<void(std::uint64_t)>& progress) override {
    if (from.filename() == failOn) return plat::Error{EIO, "reading " + from.string() + ": Input/output error"};
    return RealFiles::Copy(from, to, progress);
  }
};

Marks all() {
  Marks m{};
  m.fill(true);
  return m;
}

class Finish : public ::testing::Test {
 protected:
  void SetUp() override {
    floppy_ = plat::paths::removableMediaDir();
    fs::create_directories(floppy_.parent_path());
    const char* names[] = {"Ostrel.exe", "isSetup.exe", "data2.cab"};
    for (int n = 1; n <= 3; ++n) {
      const fs::path disk = root_.dir() / "volumes" / ("DISK" + std::to_string(n));
      fs::create_directories(disk);
      std::ofstream(disk / names[n - 1]) << std::string(1000 * n, char('0' + n));
    }
    // The second disk has more than one file.
    std::ofstream(root_.dir() / "volumes/DISK2/readme.txt") << "read me";
    Insert(1);
    prompts_.answer = [this](const std::string& text) { return Changer(text); };
  }

  // Puts disk n into the drive: the drive's link is replaced in one rename.
  void Insert(int n) {
    const fs::path next = floppy_.string() + ".next";
    fs::remove(next);
    fs::create_directory_symlink(root_.dir() / "volumes" / ("DISK" + std::to_string(n)), next);
    fs::rename(next, floppy_);
  }
  // The disk changer answers a disk prompt by inserting the disk asked for.
  bool Changer(const std::string& text) {
    for (int n = 1; n <= 3; ++n) {
      if (text == "Please insert DISK" + std::to_string(n) + " into " + floppy_.string()) {
        Insert(n);
        return true;
      }
    }
    return true;
  }

  FinishOrchestrator Make(const fs::path& sourceDir, bool fromFloppy, Files* files = nullptr) {
    SetupSystem sys{&world_, &world_, &prompts_, &progress_, &world_, files ? files : &files_, &launcher_};
    return FinishOrchestrator(sys, {sourceDir, fromFloppy}, target());
  }
  fs::path target() const { return plat::paths::windowsDir() / "temp" / "Velka03"; }

  plat::testing::TempRoot root_;
  fs::path floppy_;
  FakeWorld world_;
  FakePrompts prompts_;
  FakeProgress progress_;
  FakeLauncher launcher_;
  RealFiles files_;
};

TEST_F(Finish, StagesTheThreeFloppiesAndStartsTheInstallerFromTheHardDisk) {
  auto finish = Make(floppy_, true);
  ASSERT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kFinished);
  EXPECT_EQ(prompts_.questions, (std::vector<std::string>{"Please insert DISK2 into " + floppy_.string(),
                                                          "Please insert DISK3 into " + floppy_.string()}));
  EXPECT_EQ(progress_.captions, (std::vector<std::string>{"Copying files for Disk1", "Copying files for Disk2",
                                                          "Copying files for Disk3"}));
  EXPECT_EQ(progress_.lastPercent, (std::vector<int>{100, 99, 99}));
  EXPECT_TRUE(prompts_.messages.empty());
  EXPECT_TRUE(finish.copied());
  EXPECT_EQ(finish.sourceDir(), target());
  for (const char* f : {"Ostrel.exe", "isSetup.exe", "readme.txt", "data2.cab"}) EXPECT_TRUE(fs::exists(target() / f)) << f;
  EXPECT_EQ(fs::file_size(target() / "data2.cab"), 3000u);
  ASSERT_EQ(launcher_.starts.size(), 1u);
  EXPECT_EQ(launcher_.starts[0].program, target() / "isSetup.exe");
  EXPECT_EQ(launcher_.starts[0].args, std::vector<std::string>{"-PART=\"$Remote$Local$Server$Agent$I2O$MV$SC\""});
  EXPECT_EQ(launcher_.starts[0].workingDir, target());
  EXPECT_GE(world_.pausedMs, 3 * 2000u);  // the drive's pause before each disk

  // A second Finish copies nothing again.
  progress_.captions.clear();
  prompts_.questions.clear();
  ASSERT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kFinished);
  EXPECT_TRUE(progress_.captions.empty());
  EXPECT_TRUE(prompts_.questions.empty());
  ASSERT_EQ(launcher_.starts.size(), 2u);
  EXPECT_EQ(launcher_.starts[1].workingDir, target());
}

TEST_F(Finish, EmptiesTheTargetOfAnEarlierRunFirst) {
  fs::create_directories(target());
  std::ofstream(target() / "old-installer.bin") << "stale";
  auto finish = Make(floppy_, true);
  ASSERT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kFinished);
  EXPECT_FALSE(fs::exists(target() / "old-installer.bin"));
}

TEST_F(Finish, ACancelledDiskPromptOrAFailedCopyLeavesTheSetNotCopied) {
  {
    prompts_.answer = [](const std::string&) { return false; };
    auto finish = Make(floppy_, true);
    EXPECT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kStay);
    EXPECT_FALSE(finish.copied());
    EXPECT_TRUE(launcher_.starts.empty());
  }
  prompts_.answer = [this](const std::string& text) { return Changer(text); };
  Insert(1);
  FaultyFiles faulty;
  faulty.failOn = "isSetup.exe";
  auto finish = Make(floppy_, true, &faulty);
  EXPECT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kStay);
  EXPECT_FALSE(finish.copied());
  EXPECT_EQ(finish.sourceDir(), floppy_);
  ASSERT_EQ(prompts_.messages.size(), 1u);
  EXPECT_EQ(prompts_.messages[0].rfind("Copying files for Disk2 failed: reading ", 0), 0u) << prompts_.messages[0];
  EXPECT_TRUE(launcher_.starts.empty());
  EXPECT_FALSE(fs::exists(target() / "isSetup.exe"));
}

TEST_F(Finish, FromAHardDiskStartsTheInstallerInItsOwnFolderWithoutAPrompt) {
  const fs::path medium = root_.dir() / "medium";
  fs::create_directories(medium);
  std::ofstream(medium / "OSTREL.EXE") << "x";
  std::ofstream(medium / "issetup.exe") << "x";
  auto finish = Make(medium, false);
  Marks server{};
  server[kServer] = true;
  ASSERT_EQ(finish.OnWizardFinish(server), FinishOrchestrator::Outcome::kFinished);
  EXPECT_TRUE(prompts_.questions.empty());
  EXPECT_TRUE(progress_.captions.empty());
  ASSERT_EQ(launcher_.starts.size(), 1u);
  EXPECT_EQ(launcher_.starts[0].program, medium / "issetup.exe");
  EXPECT_EQ(launcher_.starts[0].args, std::vector<std::string>{"-PART=\"$Server\""});
  EXPECT_EQ(launcher_.starts[0].workingDir, medium);
}

TEST_F(Finish, AMissingOrUnstartableInstallerIsNamedAndTheWizardCloses) {
  const fs::path medium = root_.dir() / "medium";
  fs::create_directories(medium);
  std::ofstream(medium / "Ostrel.exe") << "x";
  {
    auto finish = Make(medium, false);
    EXPECT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kFinished);
    EXPECT_EQ(prompts_.messages, std::vector<std::string>{"Unable to find isSetup.exe file"});
    EXPECT_TRUE(launcher_.starts.empty());
  }
  std::ofstream(medium / "isSetup.exe") << "x";
  for (int err : {ENOENT, EACCES}) {
    prompts_.messages.clear();
    launcher_.error = err;
    auto finish = Make(medium, false);
    EXPECT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kFinished);
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0], err == ENOENT ? "Unable to find isSetup.exe file"
                                                  : "Unable to start " + (medium / "isSetup.exe").string() +
                                                        ": starting " + (medium / "isSetup.exe").string() +
                                                        ": Permission denied");
  }
}

TEST_F(Finish, ARunningConsoleIsAskedToCloseOkChecksAgainCancelHalts) {
  world_.held.insert(kConsoleMutex);
  int queries = 0;
  world_.onConsoleQuery = [&] {
    if (++queries == 3) world_.held.erase(kConsoleMutex);  // closed after the second question
  };
  const fs::path medium = root_.dir() / "medium";
  fs::create_directories(medium);
  std::ofstream(medium / "Ostrel.exe") << "x";
  std::ofstream(medium / "isSetup.exe") << "x";
  auto finish = Make(medium, false);
  ASSERT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kFinished);
  EXPECT_EQ(prompts_.questions, std::vector<std::string>(2, kConsoleRunningText));
  EXPECT_EQ(launcher_.starts.size(), 1u);

  world_.held.insert(kConsoleMutex);
  world_.held.insert(kAgentMutex);
  world_.onConsoleQuery = nullptr;
  prompts_.questions.clear();
  prompts_.answer = [](const std::string&) { return false; };
  EXPECT_EQ(finish.OnWizardFinish(all()), FinishOrchestrator::Outcome::kStay);
  EXPECT_EQ(prompts_.questions, std::vector<std::string>{kConsoleRunningText});
  // Halted before anything was stopped.
  EXPECT_TRUE(world_.events.empty());
  EXPECT_TRUE(world_.held.count(kAgentMutex));
  EXPECT_TRUE(prompts_.messages.empty());
  EXPECT_EQ(launcher_.starts.size(), 1u);
}

class Stopping : public Finish {
 protected:
  void SetUp() override {
    Finish::SetUp();
    medium_ = root_.dir() / "medium";
    fs::create_directories(medium_);
    std::ofstream(medium_ / "Ostrel.exe") << "x";
    std::ofstream(medium_ / "isSetup.exe") << "x";
  }
  FinishOrchestrator::Outcome Run(const Marks& m) { return Make(medium_, false).OnWizardFinish(m); }
  fs::path medium_;
};

TEST_F(Stopping, ForegroundProgramsGetTheirStopEventAndAreWaitedFor) {
  world_.held = {kAgentMutex, kServerMutex};
  world_.releaseAfterPauses = 3;
  ASSERT_EQ(Run(all()), FinishOrchestrator::Outcome::kFinished);
  EXPECT_EQ(world_.events, (std::vector<std::string>{"ZODUzAve-ServiceStop", "REDErUve-ServiceStop"}));
  EXPECT_TRUE(world_.stops.empty());
  EXPECT_TRUE(world_.held.empty());
  EXPECT_EQ(world_.pausedMs, 2 * 3 * kStopPollMs);
  EXPECT_EQ(launcher_.starts.size(), 1u);
}

TEST_F(Stopping, ServicesTheServiceManagerRunsAreStoppedThroughIt) {
  world_.held = {kAgentMutex, kServerMutex};
  world_.managed = {"ZODUzAve", "REDErUve"};
  ASSERT_EQ(Run(all()), FinishOrchestrator::Outcome::kFinished);
  EXPECT_EQ(world_.stops, (std::vector<std::string>{"ZODUzAve", "REDErUve"}));
  EXPECT_TRUE(world_.events.empty());
  EXPECT_TRUE(prompts_.messages.empty());
}

TEST_F(Stopping, OnlyWhatIsInstalledIsStoppedAndWhatDoesNotRunIsLeftAlone) {
  world_.held = {kAgentMutex, kServerMutex};
  Marks server{};
  server[kServer] = true;
  ASSERT_EQ(Run(server), FinishOrchestrator::Outcome::kFinished);
  EXPECT_EQ(world_.events, std::vector<std::string>{"REDErUve-ServiceStop"});
  EXPECT_TRUE(world_.held.count(kAgentMutex));
  EXPECT_EQ(launcher_.starts.at(0).args, std::vector<std::string>{"-PART=\"$Server\""});

  world_.held.clear();
  world_.events.clear();
  world_.pausedMs = 0;
  ASSERT_EQ(Run(all()), FinishOrchestrator::Outcome::kFinished);
  EXPECT_TRUE(world_.events.empty());
  EXPECT_EQ(world_.pausedMs, 0u);
}

TEST_F(Stopping, AccessDeniedOrARefusedQueryFailsWithTheWholeText) {
  struct Case {
    const char* what;
    std::function<void(FakeWorld&)> set;
    const char* text;
  } cases[] = {
      {"agent stop refused",
       [](FakeWorld& w) {
         w.held = {kAgentMutex};
         w.managed = {"ZODUzAve"};
         w.stopError["ZODUzAve"] = EACCES;
       },
       kAgentDenied},
      {"agent query refused", [](FakeWorld& w) { w.heldErrors[kAgentMutex] = plat::Error{EACCES, "no"}; },
       kAgentDenied},
      {"server stop refused",
       [](FakeWorld& w) {
         w.held = {kServerMutex};
         w.managed = {"REDErUve"};
         w.stopError["REDErUve"] = EPERM;
       },
       kServerDenied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    world_ = FakeWorld();
    prompts_.messages.clear();
    c.set(world_);
    EXPECT_EQ(Run(all()), FinishOrchestrator::Outcome::kStay);
    EXPECT_EQ(prompts_.messages, std::vector<std::string>{c.text});
    EXPECT_TRUE(launcher_.starts.empty());
  }
}

TEST_F(Stopping, AProgramThatDoesNotStopTimesOutWithAMessage) {
  world_.held = {kAgentMutex};
  world_.deaf = {"ZODUzAve"};
  EXPECT_EQ(Run(all()), FinishOrchestrator::Outcome::kStay);
  EXPECT_EQ(prompts_.messages,
            std::vector<std::string>{"Error Stopping Agent: Velkari RAID message agent did not stop within 30 seconds."});
  EXPECT_EQ(world_.pausedMs, kStopWaitMs);
  EXPECT_TRUE(launcher_.starts.empty());
}

TEST_F(Stopping, AnAbandonedFinishNamesTheServicesItStopped) {
  world_.held = {kAgentMutex, kServerMutex};
  world_.managed = {"REDErUve"};
  world_.stopError["REDErUve"] = EACCES;
  EXPECT_EQ(Run(all()), FinishOrchestrator::Outcome::kStay);
  EXPECT_EQ(prompts_.messages,
            (std::vector<std::string>{kServerDenied,
                                      "The installation was halted. These services were stopped and are not running "
                                      "now:\nVelkari RAID message agent"}));
}

}  // namespace
}  // namespace kelm::setup
