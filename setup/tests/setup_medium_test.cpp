// The medium's pieces: the installer's argument, the archive of packages, where the wizard was
// started from, and the copy of a disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"
#include "setup/core/finish_orchestrator.h"
#include "setup/core/medium_files.h"
#include "setup/installer/cab_archive.h"
#include "setup/installer/part_args.h"

namespace kelm::setup {
namespace {

namespace fs = std::filesystem;

std::string words(const std::vector<const PartPackage*>& parts) {
  std::string s;
  for (const auto* p : parts) s += p->word;
  return s;
}

TEST(PartArgument, TakesTheWizardsArgumentWithItsLiteralQuotes) {
  struct Case {
    const char* arg;
    const char* parts;  // null: refused
    const char* error;  // a piece of the refusal
  } cases[] = {
      {"-PART=\"$Remote$Local$Server$Agent$I2O$MV$SC\"", "$Remote$Local$Server$Agent$I2O$MV$SC", nullptr},
      {"-PART=\"$SC$Remote\"", "$Remote$SC", nullptr},  // table order, whatever the order given
      {"-PART=$Server", "$Server", nullptr},            // typed by hand, without quotes
      {"-part=\"$Agent\"", "$Agent", nullptr},
      {"-PART=\"$Agent$Bogus\"", nullptr, "unknown part word '$Bogus'"},
      {"-PART=\"$agent\"", nullptr, "unknown part word '$agent'"},
      {"-PART=\"$Agent$$MV\"", nullptr, "empty part word"},
      {"-PART=\"$Agent$\"", nullptr, "empty part word"},
      {"-PART=\"\"", nullptr, "no part named"},
      {"-PART=", nullptr, "no part named"},
      {"-PART=\"$Agent$MV$Agent\"", nullptr, "part word '$Agent' given twice"},
      {"-PART=\"$Agent", nullptr, "closing quote"},
      {"-PART=Agent", nullptr, "unknown part word 'Agent'"},
      {"$Agent", nullptr, "expected -PART="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    auto parsed = ParsePartArgument(c.arg);
    if (c.parts) {
      ASSERT_TRUE(parsed) << parsed.message();
      EXPECT_EQ(words(*parsed), c.parts);
    } else {
      ASSERT_FALSE(parsed);
      EXPECT_NE(parsed.message().find(c.error), std::string::npos) << parsed.message();
    }
  }
}

// One ustar member.
std::string member(const std::string& name, const std::string& data, char type = '0', bool breakSum = false) {
  std::string h(512, '\0');
  std::memcpy(&h[0], name.data(), std::min<std::size_t>(name.size(), 100));
  std::memcpy(&h[100], "0000644", 7);
  std::snprintf(&h[124], 12, "%011o", static_cast<unsigned>(data.size()));
  h[156] = type;
  std::memcpy(&h[257], "ustar", 6);
  std::memcpy(&h[263], "00", 2);
  std::memset(&h[148], ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  if (breakSum) ++sum;
  std::snprintf(&h[148], 8, "%06o", sum);
  std::string padded = data;
  padded.resize((data.size() + 511) / 512 * 512, '\0');
  return h + padded;
}

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Cab, ExtractsOnlyPlainPackagesAndRefusesDamage) {
  plat::testing::TempRoot root;
  const fs::path dir = root.dir();
  const std::string end(1024, '\0');
  struct Case {
    const char* what;
    std::string archive;
    std::vector<std::string> names;  // empty: refused
    const char* error;
  } cases[] = {
      {"two packages among other members",
       member("a_1.0_amd64.deb", "AAA") + member("notes.txt", "x") + member("sub", "", '5') +
           member("../evil.deb", "E") + member("b_1.0_amd64.deb", std::string(700, 'B')) + end,
       {"a_1.0_amd64.deb", "b_1.0_amd64.deb"},
       nullptr},
      {"a damaged header", member("a.deb", "A", '0', true) + end, {}, "damaged header"},
      {"cut short", member("a.deb", std::string(600, 'A')).substr(0, 700), {}, "ends inside"},
      {"no end blocks", member("a.deb", "A"), {}, "ends without its end blocks"},
      {"no packages", member("x/../y.deb", "Y") + end, {}, "holds no packages"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path cab = dir / ("case" + std::to_string(n) + ".cab");
    const fs::path out = dir / ("out" + std::to_string(n++));
    fs::create_directories(out);
    std::ofstream(cab, std::ios::binary) << c.archive;
    auto got = ExtractPackages(cab, out);
    if (c.names.empty()) {
      ASSERT_FALSE(got);
      EXPECT_NE(got.message().find(c.error), std::string::npos) << got.message();
      continue;
    }
    ASSERT_TRUE(got) << got.message();
    ASSERT_EQ(got->size(), c.names.size());
    for (std::size_t i = 0; i < c.names.size(); ++i) EXPECT_EQ((*got)[i].filename(), c.names[i]);
    EXPECT_EQ(readAll(out / "a_1.0_amd64.deb"), "AAA");
    EXPECT_EQ(readAll(out / "b_1.0_amd64.deb"), std::string(700, 'B'));
    EXPECT_FALSE(fs::exists(dir / "evil.deb"));
    EXPECT_FALSE(fs::exists(out / "notes.txt"));
  }
}

TEST(SourceOf, TellsAFloppyStartFromTheDirectoryAsStarted) {
  const fs::path floppy = "/r/media/floppy";
  struct Case {
    const char* argv0;
    const char* cwd;
    const char* dir;
    bool fromFloppy;
  } cases[] = {
      {"/r/media/floppy/Ostrel.exe", "/", "/r/media/floppy", true},
      {"./Ostrel.exe", "/r/media/floppy", "/r/media/floppy", true},
      {"/r/media/floppy/setup/Ostrel.exe", "/", "/r/media/floppy/setup", true},
      {"Ostrel.exe", "/r/media/floppy/", "/r/media/floppy", true},
      {"/r/media/floppy2/Ostrel.exe", "/", "/r/media/floppy2", false},
      {"/r/media/Ostrel.exe", "/", "/r/media", false},
      {"../floppy/../cdrom/Ostrel.exe", "/r/media/floppy", "/r/media/cdrom", false},
      {"/opt/medium/Ostrel.exe", "/", "/opt/medium", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv0);
    const SourceLocation s = SourceOf(c.argv0, c.cwd, floppy);
    EXPECT_EQ(s.dir, fs::path(c.dir));
    EXPECT_EQ(s.fromFloppy, c.fromFloppy);
  }
}

TEST(CopyDisk, CopiesEveryRegularFileWholeAndCountsToAHundred) {
  plat::testing::TempRoot root;
  const fs::path from = root.dir() / "from", to = root.dir() / "to";
  fs::create_directories(from / "subdir");
  fs::create_directories(to);
  // More entries than an old directory listing held, some empty, beside a directory and a FIFO.
  for (int i = 0; i < 40; ++i) std::ofstream(from / ("f" + std::to_string(i))) << std::string(i * 100, 'x');
  ASSERT_EQ(::mkfifo((from / "pipe").c_str(), 0600), 0);
  fs::create_symlink(from / "f3", from / "link");
  RealFiles files;
  CopyProgress progress;
  ASSERT_TRUE(CopyDisk(files, from, to, progress));
  EXPECT_EQ(progress.percent, 100);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(fs::file_size(to / ("f" + std::to_string(i))), std::uintmax_t(i * 100));
  EXPECT_EQ(fs::file_size(to / "link"), 300u);
  EXPECT_FALSE(fs::exists(to / "pipe"));
  EXPECT_FALSE(fs::exists(to / "subdir"));
  for (const auto& e : fs::directory_iterator(to)) EXPECT_NE(e.path().extension(), ".part") << e.path();

  // Nothing but empty files is all copied at once.
  const fs::path empty = root.dir() / "empty";
  fs::create_directories(empty);
  std::ofstream(empty / "zero");
  CopyProgress none;
  ASSERT_TRUE(CopyDisk(files, empty, to, none));
  EXPECT_EQ(none.percent, 100);
  EXPECT_EQ(none.total, 0u);
}

TEST(CopyDisk, KeepsTheInstallersModeAndFindsNamesInAnyCase) {
  plat::testing::TempRoot root;
  const fs::path from = root.dir() / "from", to = root.dir() / "to";
  fs::create_directories(from);
  std::ofstream(from / "isSetup.exe") << "#!/bin/sh\n";
  ::chmod((from / "isSetup.exe").c_str(), 0755);
  RealFiles files;
  ASSERT_TRUE(files.PrepareTarget(to));
  std::ofstream(to / "stale.txt") << "from an earlier run";
  ASSERT_TRUE(files.PrepareTarget(to));
  EXPECT_FALSE(fs::exists(to / "stale.txt"));
  CopyProgress progress;
  ASSERT_TRUE(CopyDisk(files, from, to, progress));
  EXPECT_EQ(fs::status(to / "isSetup.exe").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(FindFileNoCase(to, "issetup.exe"), to / "isSetup.exe");
  EXPECT_EQ(FindFileNoCase(to, "ISSETUP.EXE"), to / "isSetup.exe");
  EXPECT_FALSE(FindFileNoCase(to, "data2.cab"));
}

}  // namespace
}  // namespace kelm::setup
