// A writer killed at every write point of every operation leaves the old store or the new one,
// and every account of that store still opens with its password.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "agent/accounts/tests/store_fixture.h"

namespace kelm::accounts {
namespace {

using plat::S_OK;
using Accounts = std::map<std::string, std::string>;  // name -> password

constexpr int kKilled = 42;

struct Operation {
  const char* what;
  std::function<plat::HRESULT(AccountStore&, AccountHandle admin)> run;
  Accounts after;
};

class CrashTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    AccountStore s(dir_);
    ASSERT_EQ(s.InitUserStore("admin", "root"), S_OK);
    AccountHandle admin = open(s, "admin", "root");
    for (int i = 1; i <= 3; ++i)
      ASSERT_EQ(s.CreateAccount(admin, "user" + std::to_string(i), "pw" + std::to_string(i), i == 3 ? 2 : 0), S_OK);
    before_ = {{"admin", "root"}, {"user1", "pw1"}, {"user2", "pw2"}, {"user3", "pw3"}};
    snapshot_ = fileBytes();
  }

  // True when the store on disk holds exactly these accounts, each opening with its password.
  bool holds(const Accounts& accounts) {
    AccountStore s(dir_);
    AccountHandle admin = 0;
    for (const auto& [name, password] : accounts) {
      AccountHandle h = 0;
      if (s.OpenAccount(name, password, h) != S_OK) return false;
      if (s.GetHandleRights(h) & kRightAdminister) admin = h;
    }
    if (!admin) return false;
    std::vector<AccountEntry> list;
    if (s.ListAccounts(admin, list) != S_OK || list.size() != accounts.size()) return false;
    for (const auto& e : list)
      if (!accounts.count(e.name)) return false;
    return true;
  }

  // Runs the operation in a child that dies at write point n; answers whether it died there.
  bool runKilledAt(const Operation& op, int n) {
    pid_t pid = fork();
    if (pid == 0) {
      AccountStore s(dir_);
      AccountHandle admin = 0;
      if (s.OpenAccount("admin", "root", admin) != S_OK) _exit(3);
      int point = 0;
      s.setWritePointHook([&] {
        if (++point == n) _exit(kKilled);
      });
      _exit(op.run(s, admin) == S_OK ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << op.what;
    int code = WEXITSTATUS(status);
    EXPECT_TRUE(code == 0 || code == kKilled) << op.what << " exit " << code << " at " << n;
    return code == kKilled;
  }

  Accounts before_;
  crypto::Bytes snapshot_;
};

TEST_F(CrashTest, EveryWritePointOfEveryOperationLeavesAReadableStore) {
  Accounts created = before_, renamed = before_, repassed = before_, deleted = before_, reinit;
  created["newcomer"] = "fresh";
  renamed.erase("user1");
  renamed["renamed"] = "pw1";
  repassed["user2"] = "changed";
  deleted.erase("user2");
  reinit["boss"] = "new root";
  // A store whose next account no longer fits: fill it until one more create would rebuild it.
  Accounts full = before_;
  crypto::Bytes fullBytes;
  {
    AccountStore s(dir_);
    AccountHandle a = open(s, "admin", "root");
    for (int i = 0;; ++i) {
      fullBytes = fileBytes();
      std::string name = "filler" + std::to_string(i);
      ASSERT_EQ(s.CreateAccount(a, name, "f", 0), S_OK);
      if (fileBytes().size() > fullBytes.size()) break;
      full[name] = "f";
    }
  }
  Accounts grown = full;
  grown["the one that grows"] = "g";

  std::vector<Operation> ops = {
      {"create", [](AccountStore& s, AccountHandle a) { return s.CreateAccount(a, "newcomer", "fresh", 0); }, created},
      {"rename", [](AccountStore& s, AccountHandle a) { return s.RenameAccount(a, "user1", "renamed"); }, renamed},
      {"password",
       [](AccountStore& s, AccountHandle) {
         AccountHandle h = 0;
         if (s.OpenAccount("user2", "pw2", h) != S_OK) return plat::E_FAIL;
         return s.SetPassword(h, "changed");
       },
       repassed},
      {"rights", [](AccountStore& s, AccountHandle a) { return s.ChangeRights(a, "user1", 0x41); }, before_},
      {"delete", [](AccountStore& s, AccountHandle a) { return s.DeleteAccount(a, "user2"); }, deleted},
      {"init", [](AccountStore& s, AccountHandle) { return s.InitUserStore("boss", "new root"); }, reinit},
      {"grow", [](AccountStore& s, AccountHandle a) { return s.CreateAccount(a, "the one that grows", "g", 0); },
       grown},
  };
  for (const auto& op : ops) {
    const bool growing = std::string(op.what) == "grow";
    const crypto::Bytes& start = growing ? fullBytes : snapshot_;
    const Accounts& old = growing ? full : before_;
    int points = 0;
    for (int n = 1;; ++n) {
      writeFile(start);
      std::filesystem::remove(dir_ / AccountStore::kTempFileName);
      bool killed = runKilledAt(op, n);
      if (!killed) {
        EXPECT_TRUE(holds(op.after)) << op.what << ": completed";
        break;
      }
      ++points;
      EXPECT_TRUE(holds(old) || holds(op.after)) << op.what << ": killed at write point " << n;
      // The next change after a crash works on whatever store was left.
    }
    EXPECT_GE(points, 5) << op.what;
    if (growing) {
      EXPECT_GT(fileBytes().size(), start.size());
    }
  }
}

}  // namespace
}  // namespace kelm::accounts
