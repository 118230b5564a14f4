#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/testing/result_values.h"
#include "platform/testing/temp_root.h"

using namespace plat::reg;
using plat::testing::runInChild;
using plat::testing::TempRoot;
using plat::testing::valueOf;

namespace {

class Registry : public ::testing::Test {
 protected:
  TempRoot root;
};

struct RoundTripCase {
  const char* label;
  Value value;
};

TEST_F(Registry, EveryTypeRoundTrips) {
  const RoundTripCase cases[] = {
      {"default string", Value::string("", "Kelm Agent")},
      {"empty string", Value::string("Empty", "")},
      {"utf8 string", Value::string("Text",
                                    "Gr\xc3\xbc\xc3\x9f"
                                    "e")},
      {"expand string", Value::string("Path", "%SystemRoot%\\bin", Type::ExpandString)},
      {"dword zero", Value::dword("Zero", 0)},
      {"dword max", Value::dword("Max", 0xFFFFFFFFu)},
      {"binary with zeros", Value::binary("Location", {0, 1, 0, 0xFF, 0})},
      {"empty binary", Value::binary("NoBytes", {})},
      {"multi string", Value::multiString("Ports", {"Com1", "", "Com2"})},
      {"empty multi string", Value::multiString("None", {})},
  };
  auto key = Key::create(Hive::LocalMachine, "Software\\Kelm\\Types");
  ASSERT_TRUE(key);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(statusOf(key->setValue(c.value)), Status::Ok);
    auto back = Key::open(Hive::LocalMachine, "Software\\Kelm\\Types")->getValue(c.value.name);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, c.value.type);
    EXPECT_EQ(back->data, c.value.data);
    EXPECT_EQ(back->name, c.value.name);
  }
  EXPECT_EQ(valueOf(key->getString("")), "Kelm Agent");
  EXPECT_EQ(valueOf(key->getString("Path")), "%SystemRoot%\\bin");
  EXPECT_EQ(valueOf(key->getDword("Max")), 0xFFFFFFFFu);
  EXPECT_EQ(valueOf(key->getBinary("Location")), (std::vector<std::uint8_t>{0, 1, 0, 0xFF, 0}));
  EXPECT_EQ(valueOf(key->getMultiString("Ports")), (std::vector<std::string>{"Com1", "", "Com2"}));
  EXPECT_EQ(valueOf(key->getMultiString("None")), std::vector<std::string>{});
  // A value read as another type is not there.
  EXPECT_FALSE(key->getDword("Path"));
  EXPECT_FALSE(key->getString("Max"));
  EXPECT_FALSE(key->getBinary("Ports"));
  EXPECT_FALSE(key->getString("Missing"));
  // Overwriting changes the type too.
  ASSERT_EQ(statusOf(key->setDword("Path", 7)), Status::Ok);
  EXPECT_EQ(valueOf(key->getDword("Path")), 7u);
  EXPECT_FALSE(key->getString("Path"));
}

// Each getter says why it has nothing: no value, a value of another type, or no key at all; the
// message names the key and the value.
TEST_F(Registry, GettersTellMissingFromWrongType) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Kelm\\Reads");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setValues(std::vector<Value>{Value::string("Text", "x"), Value::dword("Number", 1),
                                                Value::binary("Bytes", {1}), Value::multiString("List", {"a"})}));
  auto gone = key->createSubKey("Gone");
  ASSERT_TRUE(gone);
  ASSERT_TRUE(key->deleteSubKey("Gone"));
  struct Case {
    const char* label;
    plat::Error error;
    Status status;
    const char* mentions;  // the message names what was read
  };
  const Case cases[] = {
      {"missing text", key->getString("Absent").error(), Status::NotFound, "Kelm\\Reads: reading 'Absent'"},
      {"missing number", key->getDword("Absent").error(), Status::NotFound, "'Absent'"},
      {"number read as text", key->getString("Number").error(), Status::WrongType,
       "'Number' is a 32-bit number, not text"},
      {"text read as number", key->getDword("Text").error(), Status::WrongType, "'Text' is text, not a 32-bit number"},
      {"list read as binary", key->getBinary("List").error(), Status::WrongType, "'List'"},
      {"binary read as list", key->getMultiString("Bytes").error(), Status::WrongType, "'Bytes'"},
      {"value of a deleted key", gone->getString("Text").error(), Status::NotFound, "Reads\\Gone"},
      {"value of no key", Key().getValue("Text").error(), Status::NotFound, "'Text'"},
      {"name with a NUL", key->getValue(std::string("a\0b", 3)).error(), Status::InvalidArg, "Reads"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(statusOf(c.error), c.status);
    EXPECT_NE(c.error.message.find(c.mentions), std::string::npos) << c.error.message;
  }
  EXPECT_TRUE(isNotFound(key->getDword("Absent")));
  EXPECT_FALSE(isNotFound(key->getDword("Text")));
  EXPECT_EQ(toHresult(key->getDword("Absent")), toHresult(Status::NotFound));
}

TEST_F(Registry, ABatchWritesAllItsValuesOrNone) {
  auto k = Key::create(Hive::LocalMachine, "Software\\Kelm\\Agent");
  ASSERT_TRUE(k);
  ASSERT_EQ(statusOf(k->setDword("Port", 711)), Status::Ok);
  const std::vector<Value> page = {Value::dword("Port", 712), Value::string("Mail", "root@localhost"),
                                   Value::multiString("Recipients", {"a", "b"})};
  ASSERT_EQ(statusOf(k->setValues(page)), Status::Ok);
  EXPECT_EQ(valueOf(k->getDword("Port")), 712u);
  EXPECT_EQ(valueOf(k->getString("Mail")), "root@localhost");
  EXPECT_EQ(valueOf(k->getMultiString("Recipients")), (std::vector<std::string>{"a", "b"}));

  // One bad value refuses the whole batch: nothing of it is written.
  Value broken = Value::dword("Interval", 5);
  broken.data.pop_back();
  const std::vector<Value> bad = {Value::dword("Port", 713), Value::string("Mail", "other"), broken};
  EXPECT_EQ(statusOf(k->setValues(bad)), Status::InvalidArg);
  EXPECT_EQ(valueOf(k->getDword("Port")), 712u);
  EXPECT_EQ(valueOf(k->getString("Mail")), "root@localhost");
  EXPECT_FALSE(k->getValue("Interval"));
  EXPECT_EQ(statusOf(k->setValues({})), Status::Ok);
  EXPECT_EQ(statusOf(Key().setValues(page)), Status::NotFound);
}

TEST_F(Registry, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  auto key = Key::create(Hive::CurrentUser, "Software\\Kelm\\Console");
  ASSERT_TRUE(key);
  ASSERT_EQ(statusOf(key->setDword("PollInterval", 5)), Status::Ok);
  auto again = Key::open(Hive::CurrentUser, "SOFTWARE\\kelm\\cONSOLE");
  ASSERT_TRUE(again);
  EXPECT_EQ(valueOf(again->getDword("pollinterval")), 5u);
  // Writing through another spelling replaces the value and keeps the first spelling.
  ASSERT_EQ(statusOf(again->setDword("POLLINTERVAL", 9)), Status::Ok);
  ASSERT_EQ(valueOf(key->valueCount()), 1u);
  EXPECT_EQ(valueOf(key->values())->at(0).name, "PollInterval");
  EXPECT_EQ(valueOf(key->getDword("PollInterval")), 9u);
  // Creating an existing key through another spelling opens it.
  ASSERT_TRUE(Key::create(Hive::CurrentUser, "software\\KELM"));
  auto sw = Key::open(Hive::CurrentUser, "Software");
  EXPECT_EQ(valueOf(sw->subKeyNames()), std::vector<std::string>{"Kelm"});
  // Hives are separate.
  EXPECT_FALSE(Key::open(Hive::LocalMachine, "Software\\Kelm\\Console"));
}

TEST_F(Registry, EnumerationByIndexAndWhole) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Enum");
  for (const char* n : {"beta", "Alpha", "gamma"}) ASSERT_TRUE(key->createSubKey(n));
  using Name = std::optional<std::string>;
  EXPECT_EQ(valueOf(key->subKeyName(0)), Name("Alpha"));
  EXPECT_EQ(valueOf(key->subKeyName(1)), Name("beta"));
  EXPECT_EQ(valueOf(key->subKeyName(2)), Name("gamma"));
  // Past the end is an answer, not a failure.
  EXPECT_EQ(valueOf(key->subKeyName(3)), std::optional<Name>(Name()));
  EXPECT_EQ(valueOf(key->subKeyName(static_cast<std::size_t>(-1))), std::optional<Name>(Name()));
  EXPECT_EQ(valueOf(key->subKeyNames()), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  // Values come back in the order they were first written.
  ASSERT_TRUE(key->setString("z", "1"));
  ASSERT_TRUE(key->setString("a", "2"));
  ASSERT_TRUE(key->setString("z", "3"));
  EXPECT_EQ(valueOf(key->valueAt(0))->value().name, "z");
  EXPECT_EQ(valueOf(key->valueAt(1))->value().name, "a");
  auto past = key->valueAt(2);
  ASSERT_TRUE(past);
  EXPECT_FALSE(*past);
  auto all = key->values();
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 2u);
  EXPECT_EQ((*all)[0].name, "z");
  EXPECT_EQ((*all)[0].asString(), "3");
  EXPECT_EQ(valueOf(key->subKeyCount()), 3u);
  EXPECT_EQ(valueOf(key->valueCount()), 2u);
}

// A deleted key's handle, or a handle that names no key, cannot be listed: it is not an empty key.
TEST_F(Registry, ListingsOfAGoneKeyAreNotFound) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Gone");
  ASSERT_TRUE(key && key->setDword("v", 1));
  ASSERT_TRUE(deleteKey(Hive::LocalMachine, "Software\\Gone"));
  for (const Key& k : {*key, Key()}) {
    EXPECT_EQ(statusOf(k.subKeyNames()), Status::NotFound);
    EXPECT_EQ(statusOf(k.values()), Status::NotFound);
    EXPECT_EQ(statusOf(k.subKeyName(0)), Status::NotFound);
    EXPECT_EQ(statusOf(k.valueAt(0)), Status::NotFound);
    EXPECT_EQ(statusOf(k.subKeyCount()), Status::NotFound);
    EXPECT_EQ(statusOf(k.valueCount()), Status::NotFound);
  }
}

TEST_F(Registry, DeleteIsRecursiveAndInvalidatesHandles) {
  auto top = Key::create(Hive::LocalMachine, "Software\\Top");
  auto deep = top->createSubKey("A\\B\\C");
  ASSERT_TRUE(deep);
  EXPECT_EQ(deep->path(), "Software\\Top\\A\\B\\C");
  ASSERT_EQ(statusOf(deep->setString("x", "y")), Status::Ok);
  ASSERT_EQ(statusOf(top->deleteSubKey("a")), Status::Ok);
  EXPECT_FALSE(Key::open(Hive::LocalMachine, "Software\\Top\\A\\B"));
  EXPECT_FALSE(deep->exists());
  EXPECT_FALSE(deep->getString("x"));
  EXPECT_EQ(statusOf(deep->setString("x", "z")), Status::NotFound);
  EXPECT_FALSE(deep->createSubKey("D"));
  EXPECT_EQ(statusOf(top->deleteSubKey("A")), Status::NotFound);
  EXPECT_EQ(statusOf(top->deleteValue("nothing")), Status::NotFound);
  EXPECT_TRUE(top->exists());
  EXPECT_EQ(statusOf(deleteKey(Hive::LocalMachine, "Software\\Top")), Status::Ok);
  EXPECT_FALSE(top->exists());
  EXPECT_EQ(statusOf(deleteKey(Hive::LocalMachine, "")), Status::InvalidArg);
}

TEST_F(Registry, ClassesRootIsMachineSoftwareClasses) {
  auto clsid = Key::create(Hive::ClassesRoot, "CLSID\\{1234}\\InprocServer32");
  ASSERT_TRUE(clsid);
  ASSERT_EQ(statusOf(clsid->setString("", "/usr/lib/libbrask.so")), Status::Ok);
  auto viaMachine = Key::open(Hive::LocalMachine, "Software\\Classes\\CLSID\\{1234}\\InprocServer32");
  ASSERT_TRUE(viaMachine);
  EXPECT_EQ(valueOf(viaMachine->getString("")), "/usr/lib/libbrask.so");
  EXPECT_EQ(clsid->path(), "CLSID\\{1234}\\InprocServer32");
}

TEST_F(Registry, RefusesUnboundedInput) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Limits");
  EXPECT_EQ(statusOf(key->createSubKey(std::string(kMaxKeyNameLength + 1, 'k'))), Status::InvalidArg);
  std::string deep;
  for (std::size_t i = 0; i <= kMaxDepth; ++i) deep += "d\\";
  EXPECT_EQ(statusOf(Key::create(Hive::LocalMachine, deep)), Status::InvalidArg);
  EXPECT_EQ(statusOf(key->setString(std::string(kMaxValueNameLength + 1, 'v'), "x")), Status::InvalidArg);
  EXPECT_EQ(statusOf(key->setBinary("big", std::vector<std::uint8_t>(kMaxDataSize + 1))), Status::InvalidArg);
  EXPECT_EQ(statusOf(key->setString(std::string("a\0b", 3), "x")), Status::InvalidArg);
  Value badDword{"d", Type::Dword, {1, 2}};
  EXPECT_EQ(statusOf(key->setValue(badDword)), Status::InvalidArg);
  EXPECT_EQ(statusOf(Key().setString("x", "y")), Status::NotFound);
}

// The console, an ordinary user, reads what the agent (root) wrote; it may not write.
TEST_F(Registry, ReadOnlyProcessCanRead) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Kelm\\Agent");
  ASSERT_EQ(statusOf(key->setDword("Port", 710)), Status::Ok);
  std::filesystem::permissions(root.dir(), std::filesystem::perms(0755));
  int rc = runInChild([] {
    if (::geteuid() == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
    } else if (::chmod(hiveFile(Hive::LocalMachine).c_str(), 0444) != 0) {
      return 11;
    }
    auto k = Key::open(Hive::LocalMachine, "Software\\Kelm\\Agent");
    if (!k) return 1;
    if (k->getDword("Port").valueOr(0) != 710u) return 2;
    if (statusOf(k->setDword("Port", 1)) != Status::AccessDenied) return 3;
    if (Key::create(Hive::LocalMachine, "Software\\New")) return 4;
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(valueOf(key->getDword("Port")), 710u);
}

// A forked child that ends normally must not report the connections it inherited as leaks.
TEST_F(Registry, ForkedChildEndsCleanly) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Fork");
  ASSERT_EQ(statusOf(key->setDword("n", 1)), Status::Ok);
  int rc = runInChild([] {
    auto k = Key::open(Hive::LocalMachine, "Software\\Fork");
    std::exit(k && k->setDword("n", 2) ? 0 : 1);
    return 1;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(valueOf(key->getDword("n")), 2u);
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing) {
  ASSERT_TRUE(Key::create(Hive::LocalMachine, "Software\\Shared"));
  constexpr int kWrites = 150;
  auto writer = [](int who) {
    return [who] {
      setBusyTimeoutMs(60000);  // a loaded machine must not turn contention into a lost write
      for (int i = 0; i < kWrites; ++i) {
        auto k = Key::create(Hive::LocalMachine, "Software\\Shared\\P" + std::to_string(who));
        auto shared = Key::open(Hive::LocalMachine, "Software\\Shared");
        if (!k || !shared) return 1;
        if (!k->setDword("v" + std::to_string(i), static_cast<std::uint32_t>(i))) return 2;
        if (!shared->setDword("p" + std::to_string(who) + "_" + std::to_string(i), 1)) return 3;
      }
      return 0;
    };
  };
  pid_t a = fork();
  if (a == 0) _exit(writer(1)());
  pid_t b = fork();
  if (b == 0) _exit(writer(2)());
  int sa = 0, sb = 0;
  waitpid(a, &sa, 0);
  waitpid(b, &sb, 0);
  ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
  ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
  auto shared = Key::open(Hive::LocalMachine, "Software\\Shared");
  EXPECT_EQ(valueOf(shared->valueCount()), 2u * kWrites);
  for (int who : {1, 2}) {
    auto k = shared->openSubKey("P" + std::to_string(who));
    ASSERT_TRUE(k);
    ASSERT_EQ(valueOf(k->valueCount()), static_cast<std::size_t>(kWrites));
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(valueOf(k->getDword("v" + std::to_string(i))), static_cast<std::uint32_t>(i));
  }
}

TEST_F(Registry, WriterKilledMidWriteLeavesOldOrNewValue) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Crash");
  constexpr std::size_t kSize = 256 * 1024;
  ASSERT_EQ(statusOf(key->setBinary("blob", std::vector<std::uint8_t>(kSize, 'A'))), Status::Ok);
  for (int round = 0; round < 4; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(ready[0]);
      auto k = Key::open(Hive::LocalMachine, "Software\\Crash");
      char fill = 'B';
      bool told = false;
      for (;;) {
        (void)k->setBinary("blob", std::vector<std::uint8_t>(kSize, static_cast<std::uint8_t>(fill)));
        (void)k->setDword("n", static_cast<std::uint32_t>(fill));
        if (!told) {
          (void)!write(ready[1], "x", 1);
          told = true;
        }
        fill = fill == 'Z' ? 'B' : static_cast<char>(fill + 1);
      }
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    // Kill while a write is under way: its rollback journal is on disk until it commits.
    const std::string journal = hiveFile(Hive::LocalMachine).string() + "-journal";
    long spins = 0;
    while (access(journal.c_str(), F_OK) != 0 && spins < 50000000) ++spins;
    bool midWrite = access(journal.c_str(), F_OK) == 0;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_TRUE(midWrite) << "the writer was never caught inside a write";
    auto blob = key->getBinary("blob");
    ASSERT_TRUE(blob);
    ASSERT_EQ(blob->size(), kSize);
    for (auto b : *blob) ASSERT_EQ(b, blob->front());
    EXPECT_GE(blob->front(), 'A');
    EXPECT_LE(blob->front(), 'Z');
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(hiveFile(Hive::LocalMachine).c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok");
  sqlite3_finalize(s);
  sqlite3_close(db);
}

TEST_F(Registry, AHiveHeldPastTheBusyTimeoutGivesBusyNotAHang) {
  auto key = Key::create(Hive::LocalMachine, "Software\\Busy");
  ASSERT_EQ(statusOf(key->setDword("n", 1)), Status::Ok);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    close(release[1]);
    sqlite3* db = nullptr;
    sqlite3_open(hiveFile(Hive::LocalMachine).c_str(), &db);
    bool held = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    (void)!write(ready[1], held ? "y" : "n", 1);
    char c;
    (void)!read(release[0], &c, 1);  // until the parent closes its end
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char c = 'n';
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  setBusyTimeoutMs(0);
  EXPECT_EQ(statusOf(key->setDword("n", 2)), Status::Busy);
  // A reader is told the hive is busy, not that the value is missing.
  EXPECT_EQ(statusOf(key->getDword("n")), Status::Busy);
  EXPECT_EQ(statusOf(key->getString("never written")), Status::Busy);
  close(release[1]);
  waitpid(pid, nullptr, 0);
  setBusyTimeoutMs(5000);
  EXPECT_EQ(valueOf(key->getDword("n")), 1u);
  EXPECT_EQ(statusOf(key->setDword("n", 2)), Status::Ok);
  close(ready[0]);
}

TEST_F(Registry, DamagedHiveIsRefusedNotFatal) {
  auto file = hiveFile(Hive::CurrentUser);
  std::filesystem::create_directories(file.parent_path());
  FILE* f = fopen(file.c_str(), "wb");
  ASSERT_TRUE(f);
  fputs("this is not a database, just some bytes that are long enough to look like a header......", f);
  fclose(f);
  int rc = runInChild([] {
    // Damaged, not "no such key": the caller can tell a broken hive from an empty one.
    auto opened = Key::open(Hive::CurrentUser, "Software");
    if (statusOf(opened) != Status::Failed) return 1;
    if (opened.message().find("user.db") == std::string::npos) return 2;
    if (statusOf(Key::create(Hive::CurrentUser, "Software")) != Status::Failed) return 3;
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

// A hive damaged under an open handle: its reads fail as a broken store, never as a missing value.
TEST_F(Registry, AHiveDamagedUnderAnOpenKeyReadsAsFailedNotMissing) {
  int rc = runInChild([] {
    auto key = Key::create(Hive::CurrentUser, "Software\\Kelm");
    if (!key || !key->setDword("Port", 710)) return 1;
    {
      std::vector<char> junk(static_cast<std::size_t>(std::filesystem::file_size(hiveFile(Hive::CurrentUser))), 'j');
      FILE* f = fopen(hiveFile(Hive::CurrentUser).c_str(), "r+b");
      if (!f || fwrite(junk.data(), 1, junk.size(), f) != junk.size()) return 2;
      fclose(f);
    }
    for (const char* name : {"Port", "Absent"}) {
      auto v = key->getDword(name);
      if (statusOf(v) != Status::Failed) return 10 + static_cast<int>(statusOf(v));
    }
    // Nor does a listing read as an empty key.
    const Status listed[] = {statusOf(key->values()),      statusOf(key->subKeyNames()), statusOf(key->valueAt(0)),
                             statusOf(key->subKeyName(0)), statusOf(key->valueCount()),  statusOf(key->subKeyCount())};
    for (std::size_t i = 0; i < std::size(listed); ++i)
      if (listed[i] != Status::Failed) return 20 + static_cast<int>(i);
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

}  // namespace
