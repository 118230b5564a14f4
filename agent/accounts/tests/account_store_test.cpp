#include <sys/stat.h>

#include "agent/accounts/store_file.h"
#include "agent/accounts/store_format.h"
#include "agent/accounts/tests/store_fixture.h"
#include "platform/base/paths.h"

namespace kelm::accounts {
namespace {

using plat::E_ACCESSDENIED;
using plat::E_FAIL;
using plat::E_INVALIDARG;
using plat::S_OK;

class AccountStoreTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    store_ = std::make_unique<AccountStore>(dir_);
    ASSERT_EQ(store_->InitUserStore("admin", "root pw"), S_OK);
    admin_ = open(*store_, "admin", "root pw");
  }
  std::vector<AccountEntry> list(AccountHandle h) {
    std::vector<AccountEntry> out;
    EXPECT_EQ(store_->ListAccounts(h, out), S_OK);
    return out;
  }
  std::unique_ptr<AccountStore> store_;
  AccountHandle admin_ = 0;
};

TEST_F(AccountStoreTest, InitMakesTheFixedLayoutWithOneAdministrator) {
  crypto::Bytes b = fileBytes();
  ASSERT_EQ(b.size(), 18144u);
  EXPECT_EQ(b[6], '1');
  EXPECT_EQ(le32(b, 8), 1u);  // account count
  EXPECT_EQ(le32(b, 16), 64u);
  EXPECT_EQ(le32(b, 20), 320u);
  EXPECT_EQ(le32(b, 24), 16704u);
  EXPECT_EQ(le32(b, 28), 17504u);
  EXPECT_EQ(le32(b, 16704), 16736u);
  EXPECT_EQ(le32(b, 17504), 17632u);
  EXPECT_EQ(b[320], '2');
  EXPECT_EQ(b[16736], '8');
  EXPECT_EQ(b[17520], '7');
  EXPECT_EQ(b[17632], '8');
  struct stat st;
  ASSERT_EQ(stat(storePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_EQ(store_->GetHandleRights(admin_), 0xF7FFFFFFu);
  EXPECT_EQ(list(admin_), (std::vector<AccountEntry>{{"admin", 0xF7FFFFFF}}));
  AccountHandle h = 0;
  EXPECT_EQ(store_->OpenAccount("admin", "wrong", h), E_FAIL);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(store_->OpenAccount("nobody", "root pw", h), E_FAIL);
  EXPECT_EQ(store_->OpenAccount("", "x", h), E_INVALIDARG);
  EXPECT_EQ(store_->OpenAccount(std::string(256, 'n'), "x", h), E_INVALIDARG);
}

TEST_F(AccountStoreTest, SignedRightsThatDoNotOpenDenyAccess) {
  // The first account's record: '2' { '6' protected items, '6' signed rights, '6', '6' }.
  crypto::Bytes b = fileBytes();
  ByteView all(b.data(), b.size());
  auto record = readElement(all, 320);
  ASSERT_TRUE(record && record->tag == kTagRecord);
  auto items = readGroup(record->value, kTagItem);
  ASSERT_TRUE(items && items->size() == 4u);
  ASSERT_EQ((*items)[1].value.size(), 64u);
  std::size_t at = std::size_t((*items)[1].value.data() - b.data()) + 40;
  b[at] ^= 0x01;
  writeFile(b);
  AccountStore s(dir_);
  AccountHandle h = 7;
  EXPECT_EQ(s.OpenAccount("admin", "root pw", h), E_ACCESSDENIED);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(s.OpenAccount("admin", "wrong", h), E_FAIL);  // the password is checked first
}

TEST_F(AccountStoreTest, HandlesCountTheirUses) {
  AccountHandle again = open(*store_, "admin", "root pw");
  EXPECT_EQ(again, admin_);
  AccountHandle h = 0;
  EXPECT_EQ(store_->OpenAccount("admin", "wrong", h), E_FAIL);  // checked all the same
  EXPECT_EQ(store_->CloseAccount(admin_), S_OK);
  EXPECT_TRUE(store_->IsOpenHandle(admin_));
  EXPECT_EQ(store_->CloseAccount(admin_), S_OK);
  EXPECT_FALSE(store_->IsOpenHandle(admin_));
  EXPECT_EQ(store_->CloseAccount(admin_), E_FAIL);
  EXPECT_EQ(store_->GetHandleRights(admin_), 0u);
}

TEST_F(AccountStoreTest, CreatedAccountsOpenAndAlwaysHoldRightOne) {
  ASSERT_EQ(store_->CreateAccount(admin_, "viewer", "v pw", 0), S_OK);
  ASSERT_EQ(store_->CreateAccount(admin_, "deputy", "d pw", 0x42), S_OK);
  EXPECT_EQ(store_->CreateAccount(admin_, "viewer", "other", 0), E_INVALIDARG);
  AccountHandle viewer = open(*store_, "viewer", "v pw"), deputy = open(*store_, "deputy", "d pw");
  EXPECT_EQ(store_->GetHandleRights(viewer), 1u);
  EXPECT_EQ(store_->GetHandleRights(deputy), 0x43u);
  EXPECT_TRUE(store_->IsSameAccount(viewer, "viewer"));
  EXPECT_FALSE(store_->IsSameAccount(viewer, "deputy"));

  // Only administrators create, see others' rights and list them.
  EXPECT_EQ(store_->CreateAccount(viewer, "x", "x", 0), E_INVALIDARG);
  EXPECT_EQ(store_->CreateAccount(deputy, "helper", "h pw", 0), S_OK);  // the deputy holds right 2
  EXPECT_EQ(list(admin_),
            (std::vector<AccountEntry>{{"admin", 0xF7FFFFFF}, {"viewer", 1}, {"deputy", 0x43}, {"helper", 1}}));
  EXPECT_EQ(list(viewer), (std::vector<AccountEntry>{{"admin", 0}, {"viewer", 1}, {"deputy", 0}, {"helper", 0}}));
  std::uint32_t rights = 99, count = 0;
  EXPECT_EQ(store_->GetAccountRights(viewer, "admin", rights), E_INVALIDARG);
  EXPECT_EQ(rights, 0u);
  EXPECT_EQ(store_->GetAccountRights(viewer, "viewer", rights), S_OK);
  EXPECT_EQ(rights, 1u);
  EXPECT_EQ(store_->GetAccountRights(deputy, "admin", rights), S_OK);
  EXPECT_EQ(rights, 0xF7FFFFFFu);
  EXPECT_EQ(store_->GetAccountRights(admin_, "nobody", rights), E_FAIL);
  EXPECT_EQ(store_->CountAccounts(admin_, kRightAdminister, count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(store_->CountAccounts(admin_, 0, count), S_OK);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(store_->CountAccounts(viewer, kRightAdminister, count), S_OK);
  EXPECT_EQ(count, 0u);  // a non-administrator sees no rights but its own
}

TEST_F(AccountStoreTest, RenameRulesAndARefusedRenameChangesNothing) {
  ASSERT_EQ(store_->CreateAccount(admin_, "ann", "a", 0), S_OK);
  ASSERT_EQ(store_->CreateAccount(admin_, "bob", "b", 0), S_OK);
  AccountHandle ann = open(*store_, "ann", "a");
  crypto::Bytes before = fileBytes();
  struct Case {
    AccountHandle who;
    const char* from;
    const char* to;
    plat::HRESULT result;
  } refused[] = {{admin_, "ann", "bob", E_INVALIDARG},
                 {admin_, "nobody", "x", E_FAIL},  // a name that does not exist
                 {ann, "nobody", "x", E_FAIL},
                 {ann, "bob", "robert", E_INVALIDARG},
                 {admin_, "ann", "", E_INVALIDARG}};
  for (const auto& c : refused) EXPECT_EQ(store_->RenameAccount(c.who, c.from, c.to), c.result) << c.from;
  EXPECT_EQ(fileBytes(), before);

  ASSERT_EQ(store_->RenameAccount(ann, "ann", "anna"), S_OK);  // one's own account
  EXPECT_TRUE(store_->IsSameAccount(ann, "anna"));
  ASSERT_EQ(store_->RenameAccount(admin_, "bob", "robert"), S_OK);
  AccountHandle h = 0;
  EXPECT_EQ(store_->OpenAccount("ann", "a", h), E_FAIL);
  open(*store_, "anna", "a");
  open(*store_, "robert", "b");
  EXPECT_EQ(list(admin_)[1].name, "anna");
  EXPECT_EQ(list(admin_)[2].name, "robert");
  // The renamed handle still works for its own account.
  EXPECT_EQ(store_->SetPassword(ann, "a2"), S_OK);
}

TEST_F(AccountStoreTest, SetPasswordReplacesOnlyThatAccountsPassword) {
  ASSERT_EQ(store_->CreateAccount(admin_, "ann", "old", 0), S_OK);
  ASSERT_EQ(store_->CreateAccount(admin_, "bob", "bobs", 0), S_OK);
  AccountHandle ann = open(*store_, "ann", "old");
  ASSERT_EQ(store_->SetPassword(ann, "a much longer new password than before"), S_OK);
  AccountStore fresh(dir_);
  AccountHandle h = 0;
  EXPECT_EQ(fresh.OpenAccount("ann", "old", h), E_FAIL);
  EXPECT_EQ(fresh.OpenAccount("ann", "a much longer new password than before", h), S_OK);
  EXPECT_EQ(fresh.OpenAccount("bob", "bobs", h), S_OK);
  EXPECT_EQ(fresh.OpenAccount("admin", "root pw", h), S_OK);
  EXPECT_EQ(store_->SetPassword(ann, std::string(256, 'p')), E_INVALIDARG);
}

TEST_F(AccountStoreTest, ChangeRightsPromotesAndDemotes) {
  ASSERT_EQ(store_->CreateAccount(admin_, "ann", "a", 0), S_OK);
  AccountHandle ann = open(*store_, "ann", "a");
  EXPECT_EQ(store_->ChangeRights(ann, "ann", 0xFF), E_INVALIDARG);  // not an administrator
  ASSERT_EQ(store_->ChangeRights(admin_, "ann", 0x43), S_OK);
  EXPECT_EQ(store_->GetHandleRights(ann), 0x43u);  // the open handle follows
  EXPECT_EQ(store_->CreateAccount(ann, "made by ann", "m", 0), S_OK);
  ASSERT_EQ(store_->ChangeRights(admin_, "ann", 0x41), S_OK);
  EXPECT_EQ(store_->CreateAccount(ann, "again", "m", 0), E_INVALIDARG);
  AccountStore fresh(dir_);
  AccountHandle h = 0;
  ASSERT_EQ(fresh.OpenAccount("ann", "a", h), S_OK);
  EXPECT_EQ(fresh.GetHandleRights(h), 0x41u);
  EXPECT_EQ(fresh.CreateAccount(h, "again", "m", 0), E_INVALIDARG);
  EXPECT_EQ(store_->ChangeRights(admin_, "nobody", 1), E_FAIL);
}

TEST_F(AccountStoreTest, DeleteMovesLaterAccountsUpAndInvalidatesHandles) {
  for (const char* n : {"a1", "a2", "a3"}) ASSERT_EQ(store_->CreateAccount(admin_, n, std::string(n) + "pw", 0), S_OK);
  AccountHandle a1 = open(*store_, "a1", "a1pw"), a2 = open(*store_, "a2", "a2pw");
  EXPECT_EQ(store_->DeleteAccount(a1, "a2"), E_INVALIDARG);  // not an administrator
  EXPECT_EQ(store_->DeleteAccount(admin_, "nobody"), E_INVALIDARG);
  ASSERT_EQ(store_->DeleteAccount(admin_, "a2"), S_OK);
  EXPECT_FALSE(store_->IsOpenHandle(a2));
  EXPECT_EQ(store_->SetPassword(a2, "x"), E_INVALIDARG);
  EXPECT_TRUE(store_->IsOpenHandle(a1));
  EXPECT_EQ(list(admin_), (std::vector<AccountEntry>{{"admin", 0xF7FFFFFF}, {"a1", 1}, {"a3", 1}}));
  AccountStore fresh(dir_);
  AccountHandle h = 0;
  EXPECT_EQ(fresh.OpenAccount("a2", "a2pw", h), E_FAIL);
  EXPECT_EQ(fresh.OpenAccount("a3", "a3pw", h), S_OK);
  EXPECT_EQ(le32(fileBytes(), 8), 3u);
  // A new account takes the freed place at the end.
  ASSERT_EQ(store_->CreateAccount(admin_, "a4", "a4pw", 0), S_OK);
  EXPECT_EQ(list(admin_).back().name, "a4");
}

TEST_F(AccountStoreTest, StoreGrowsWhenAnAreaIsFullAndEveryAccountStillOpens) {
  // The sizes of the digest table, the record area and the list area, from the file's directory.
  struct Areas {
    std::uint32_t digests, records, list;
    bool operator==(const Areas&) const = default;
  };
  auto areas = [this] {
    crypto::Bytes f = fileBytes();
    return Areas{le32(f, 20) - le32(f, 16), le32(f, 24) - le32(f, 20), le32(f, 28) - le32(f, 24)};
  };
  Areas now = areas();
  EXPECT_EQ(now, (Areas{256, 16384, 800})) << "a new store's areas";
  std::vector<std::string> names = {"admin"};
  int grown = 0;
  for (int i = 1; i < 20; ++i) {
    std::string n = "user number " + std::to_string(i) + std::string(20, 'x');
    // A few administrators make large records, so the record area fills before the digest table.
    ASSERT_EQ(store_->CreateAccount(admin_, n, "pw" + std::to_string(i), i % 4 == 0 ? 2 : 0), S_OK) << i;
    names.push_back(n);
    const Areas next = areas();
    if (next == now) continue;
    // Each growth adds exactly 256 bytes of digests, 16384 of records and 800 of list, all at once.
    EXPECT_EQ(next, (Areas{now.digests + 256, now.records + 16384, now.list + 800})) << i;
    now = next;
    ++grown;
  }
  EXPECT_EQ(grown, 1) << "nineteen accounts fill the first record area once";
  crypto::Bytes b = fileBytes();
  EXPECT_EQ(b.size(), 18144u + 256 + 16384 + 800);
  EXPECT_EQ(le32(b, 8), 20u);
  EXPECT_EQ(le32(b, le32(b, 24)), le32(b, 24) + 32);  // names list 32 bytes after the list area
  EXPECT_EQ(le32(b, le32(b, 28)), le32(b, 28) + 128);
  AccountStore fresh(dir_);
  AccountHandle h = 0;
  for (int i = 1; i < 20; ++i)
    EXPECT_EQ(fresh.OpenAccount(names[std::size_t(i)], "pw" + std::to_string(i), h), S_OK) << i;
  ASSERT_EQ(fresh.OpenAccount("admin", "root pw", h), S_OK);
  std::vector<AccountEntry> all;
  ASSERT_EQ(fresh.ListAccounts(h, all), S_OK);
  ASSERT_EQ(all.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(all[i].name, names[i]);
  // The grown store still takes deletions and renames.
  ASSERT_EQ(fresh.DeleteAccount(h, names[3]), S_OK);
  ASSERT_EQ(fresh.RenameAccount(h, names[19], "last"), S_OK);
  EXPECT_EQ(fresh.OpenAccount("last", "pw19", h), S_OK);
}

TEST_F(AccountStoreTest, LongNamesGrowTheListAreaAlone) {
  // Three names of 255 bytes overflow the 768 bytes of the names list long before records or digests.
  std::vector<std::string> names;
  for (char c : {'a', 'b', 'c'}) {
    names.push_back(std::string(kMaxNameLength, c));
    ASSERT_EQ(store_->CreateAccount(admin_, names.back(), "pw", 0), S_OK);
  }
  crypto::Bytes b = fileBytes();
  EXPECT_EQ(le32(b, 28) - le32(b, 24), 1600u);  // the list area grew by 800
  AccountStore fresh(dir_);
  for (const auto& n : names) open(fresh, n, "pw");
  EXPECT_EQ(store_->CreateAccount(admin_, std::string(kMaxNameLength + 1, 'd'), "pw", 0), E_INVALIDARG);
}

TEST(AccountStoreLocation, LivesInTheStateDirectoryOfTheRootPrefix) {
  namespace fs = std::filesystem;
  std::string tmpl = (fs::temp_directory_path() / "kelm-root-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  const char* old = getenv("KELM_ROOT");
  std::string saved = old ? old : "";
  setenv("KELM_ROOT", tmpl.c_str(), 1);
  {
    AccountStore store;
    // Named after this program's own file: accounts_test.PWD.
    EXPECT_EQ(store.filePath(), plat::paths::stateDir() / "accounts_test.PWD");
    EXPECT_EQ(store.filePath().string().rfind(tmpl, 0), 0u);
    ASSERT_EQ(store.InitUserStore("admin", "pw"), S_OK);
    struct stat st;
    ASSERT_EQ(stat(store.filePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  if (old)
    setenv("KELM_ROOT", saved.c_str(), 1);
  else
    unsetenv("KELM_ROOT");
  fs::remove_all(tmpl);
}

TEST(AccountStoreLocation, TheFileIsNamedAfterTheProgram) {
  struct Case {
    const char* program;
    const char* file;
  };
  for (const Case& c : {Case{"/usr/sbin/halvorn", "halvorn.PWD"}, Case{"/opt/kelm/bin/agent.bin", "agent.PWD"},
                        Case{"halvorn.exe", "halvorn.PWD"}, Case{"/opt/kelm/bin/.hidden", ".hidden.PWD"},
                        Case{"", "QUILLON.PWD"}, Case{"/", "QUILLON.PWD"}}) {
    SCOPED_TRACE(c.program);
    EXPECT_EQ(AccountStore::FileNameFor(c.program), c.file);
  }
}

TEST_F(AccountStoreTest, ConcurrentInitIsRefusedByTheLock) {
  crypto::Bytes before = fileBytes();
  StoreFile other(storePath(), dir_ / AccountStore::kTempFileName, store_->lockPath());
  ASSERT_TRUE(other.lock());  // another writer holds the store
  AccountStore second(dir_);
  EXPECT_EQ(second.InitUserStore("intruder", "pw"), E_FAIL);
  AccountHandle h = 0;
  EXPECT_EQ(second.OpenAccount("admin", "root pw", h), E_FAIL);
  EXPECT_EQ(fileBytes(), before);
  other.unlock();
  EXPECT_EQ(second.OpenAccount("admin", "root pw", h), S_OK);
}

TEST_F(AccountStoreTest, HandlesOfAReplacedStoreAreRefused) {
  AccountStore other(dir_);
  ASSERT_EQ(other.InitUserStore("admin", "root pw"), S_OK);  // same name, new keys
  crypto::Bytes before = fileBytes();
  EXPECT_EQ(store_->CreateAccount(admin_, "x", "x", 0), E_FAIL);
  EXPECT_EQ(store_->SetPassword(admin_, "changed"), E_FAIL);
  EXPECT_EQ(fileBytes(), before);
  // Opening again takes the new store's items.
  AccountHandle h = open(*store_, "admin", "root pw");
  EXPECT_EQ(store_->CreateAccount(h, "x", "x", 0), S_OK);
}

TEST_F(AccountStoreTest, LeftoverTemporaryFileDoesNotDisturbTheNextChange) {
  {
    std::ofstream junk(dir_ / AccountStore::kTempFileName);
    junk << "half a store";
  }
  ASSERT_EQ(store_->CreateAccount(admin_, "ann", "a", 0), S_OK);
  EXPECT_FALSE(std::filesystem::exists(dir_ / AccountStore::kTempFileName));
  AccountStore fresh(dir_);
  open(fresh, "ann", "a");
}

TEST_F(AccountStoreTest, DamagedFilesAreRefusedWithoutHarm) {
  crypto::Bytes good = fileBytes();
  auto with = [&](std::size_t at, std::uint32_t v) {
    crypto::Bytes b = good;
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    return b;
  };
  crypto::Bytes truncated(good.begin(), good.begin() + 17000);
  struct Case {
    const char* what;
    crypto::Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"truncated", truncated},
      {"version", with(2, 0x00020000)},
      {"count beyond the digest table", with(8, 17)},
      {"count beyond the records", with(8, 5)},
      {"record area past the file", with(24, 0x7FFFFFF0)},
      {"directory out of order", with(20, 40)},
      {"names list outside its area", with(16704, 17600)},
      {"rights table past the end", with(17504, 90000)},
      {"element length too long", with(320, 0xFFFFFF84)},
  };
  for (const auto& c : cases) {
    writeFile(c.bytes);
    AccountStore s(dir_);
    AccountHandle h = 0;
    EXPECT_EQ(s.OpenAccount("admin", "root pw", h), E_FAIL) << c.what;
    EXPECT_EQ(s.CreateAccount(admin_, "x", "x", 0), E_INVALIDARG) << c.what;  // no handle in this store
  }
  // Single flipped bytes anywhere: every operation answers, none crashes.
  for (std::size_t at = 0; at < good.size(); at += 37) {
    crypto::Bytes b = good;
    b[at] ^= 0x5A;
    writeFile(b);
    AccountStore s(dir_);
    AccountHandle h = 0;
    if (s.OpenAccount("admin", "root pw", h) == S_OK) {
      std::vector<AccountEntry> out;
      s.ListAccounts(h, out);
      s.ChangeRights(h, "admin", 0xF7FFFFFF);
    }
  }
}

}  // namespace
}  // namespace kelm::accounts
