// The file layer says why it failed: which file, which step, which errno.
#include "agent/accounts/store_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "agent/accounts/store_format.h"
#include "agent/accounts/tests/store_fixture.h"

namespace kelm::accounts {
namespace {

namespace fs = std::filesystem;

class StoreFileTest : public testing::StoreTest {
 protected:
  fs::path tempPath() const { return dir_ / AccountStore::kTempFileName; }
  fs::path lockPath() const { return dir_ / "store.lock"; }
  StoreFile file() const { return StoreFile(storePath(), tempPath(), lockPath()); }
  // A directory with something in it cannot be unlinked, replaced or opened for writing.
  static void blockWith(const fs::path& p) { fs::create_directories(p / "inside"); }
};

void expectReason(const plat::Error& e, int code, const fs::path& names, const std::string& what) {
  EXPECT_EQ(e.code, code) << what << ": " << e.message;
  EXPECT_NE(e.message.find(names.string()), std::string::npos) << what << ": " << e.message;
  EXPECT_NE(e.message.find(std::strerror(code)), std::string::npos) << what << ": " << e.message;
}

TEST_F(StoreFileTest, ReadTellsMissingFromWrongKindFromTooLarge) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    int code;
  } cases[] = {
      {"missing", [](const fs::path&) {}, ENOENT},
      {"a directory", [](const fs::path& p) { fs::create_directory(p); }, EINVAL},
      {"empty", [](const fs::path& p) { std::ofstream{p}; }, EINVAL},
      {"too large",
       [](const fs::path& p) {
         std::ofstream{p};
         fs::resize_file(p, kMaxStoreSize + 1);
       },
       EINVAL},
  };
  for (const Case& c : cases) {
    fs::remove_all(storePath());
    c.make(storePath());
    auto r = file().read();
    ASSERT_FALSE(r) << c.what;
    EXPECT_EQ(r.code(), c.code) << c.what << ": " << r.message();
    EXPECT_NE(r.message().find(storePath().string()), std::string::npos) << c.what << ": " << r.message();
  }
  writeFile({1, 2, 3});
  auto r = file().read();
  ASSERT_TRUE(r) << r.message();
  EXPECT_EQ(*r, (crypto::Bytes{1, 2, 3}));
}

TEST_F(StoreFileTest, ALockHeldElsewhereIsNotALockThatCannotBeOpened) {
  StoreFile holder = file();
  ASSERT_TRUE(holder.lock());
  StoreFile other = file();
  auto held = other.lock();
  ASSERT_FALSE(held);
  EXPECT_EQ(held.code(), EWOULDBLOCK);
  EXPECT_NE(held.message().find("in use by another process"), std::string::npos) << held.message();
  holder.unlock();
  EXPECT_TRUE(other.lock());
  other.unlock();

  fs::remove(lockPath());
  blockWith(lockPath());
  auto broken = file().lock();
  ASSERT_FALSE(broken);
  expectReason(broken.error(), EISDIR, lockPath(), "lock file is a directory");
}

TEST_F(StoreFileTest, ACommitThatCannotWriteOrReplaceLeavesTheStoreAndSaysWhy) {
  const crypto::Bytes old{1, 2, 3}, fresh(10000, 7);
  {
    writeFile(old);
    blockWith(tempPath());  // no new copy can be made beside the store
    auto r = file().commit(fresh);
    ASSERT_FALSE(r);
    expectReason(r.error(), EEXIST, tempPath(), "temporary file blocked");
    EXPECT_EQ(fileBytes(), old);
    fs::remove_all(tempPath());
  }
  {
    fs::remove(storePath());
    blockWith(storePath());  // the copy is written but cannot take the store's name
    auto r = file().commit(fresh);
    ASSERT_FALSE(r);
    expectReason(r.error(), EISDIR, storePath(), "store replaced by a directory");
    EXPECT_FALSE(fs::exists(tempPath()));
  }
}

// Once renamed into place the new store is the store: a directory that cannot be synced after that
// is said, but the commit stands, so the caller's view and the file never part.
TEST_F(StoreFileTest, AReplacedStoreWhoseDirectoryCannotBeSyncedStandsAndIsSaid) {
  const fs::path moved = dir_.string() + ".moved";
  StoreFile f = file();
  bool swapped = false;
  // Right after the rename the directory goes away, so it cannot be opened for its sync.
  f.setWritePointHook([&] {
    if (swapped || fs::exists(tempPath()) || !fs::exists(storePath())) return;
    fs::rename(dir_, moved);
    std::ofstream{dir_};
    swapped = true;
  });
  // The directory comes back however the test ends.
  struct PutBack {
    const fs::path& dir;
    const fs::path& moved;
    ~PutBack() {
      std::error_code ec;
      if (!fs::exists(moved, ec)) return;
      fs::remove(dir, ec);
      fs::rename(moved, dir, ec);
    }
  } putBack{dir_, moved};
  std::vector<std::string> warned;
  auto r = f.commit({4, 5, 6}, [&](const std::string& text) { warned.push_back(text); });
  ASSERT_TRUE(swapped);
  ASSERT_TRUE(r) << r.message();
  ASSERT_EQ(warned.size(), 1u);
  // The warning names the directory and why it could not be synced.
  EXPECT_NE(warned[0].find(dir_.string()), std::string::npos) << warned[0];
  EXPECT_NE(warned[0].find(std::strerror(ENOTDIR)), std::string::npos) << warned[0];
  EXPECT_NE(warned[0].find("was replaced"), std::string::npos) << warned[0];
}

TEST_F(StoreFileTest, TheStoreAnswersItsHresultAndLogsTheFilesReason) {
  AccountStore store(dir_);
  std::vector<std::string> log;
  store.setLog([&](const std::string& line) { log.push_back(line); });
  ASSERT_EQ(store.InitUserStore("admin", "pw"), plat::S_OK);
  AccountHandle admin = 0;
  ASSERT_EQ(store.OpenAccount("admin", "pw", admin), plat::S_OK);
  EXPECT_TRUE(log.empty());
  const crypto::Bytes before = fileBytes();

  blockWith(tempPath());
  EXPECT_EQ(store.CreateAccount(admin, "ann", "a", 0), plat::E_FAIL);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(tempPath().string()), std::string::npos) << log[0];
  EXPECT_NE(log[0].find(std::strerror(EEXIST)), std::string::npos) << log[0];
  EXPECT_EQ(fileBytes(), before);
  fs::remove_all(tempPath());

  fs::remove(storePath());
  AccountHandle h = 0;
  EXPECT_EQ(store.OpenAccount("admin", "pw", h), plat::E_FAIL);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find(storePath().string()), std::string::npos) << log[1];
  EXPECT_NE(log[1].find(std::strerror(ENOENT)), std::string::npos) << log[1];

  writeFile(crypto::Bytes(100, 0));
  EXPECT_EQ(store.OpenAccount("admin", "pw", h), plat::E_FAIL);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[2].find("damaged"), std::string::npos) << log[2];

  AccountStore nowhere(storePath() / "sub");  // its directory cannot be made under a file
  nowhere.setLog([&](const std::string& line) { log.push_back(line); });
  EXPECT_EQ(nowhere.InitUserStore("admin", "pw"), plat::E_FAIL);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_NE(log[3].find(std::strerror(ENOTDIR)), std::string::npos) << log[3];
}

}  // namespace
}  // namespace kelm::accounts
