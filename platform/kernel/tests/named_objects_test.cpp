#include "platform/kernel/named_objects.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"

using namespace plat::kernel;
using plat::testing::runInChild;

namespace {

// What a wait came to, a failure included, so that a failed wait never passes for another outcome.
std::string outcome(const plat::Result<NamedEvent::WaitResult>& r) {
  if (!r) return "failed: " + r.message();
  return *r == NamedEvent::WaitResult::Signaled ? "signaled" : "timed out";
}

constexpr std::uint32_t kLongWait = 20000;  // only reached when the behaviour under test is broken

class NamedObjects : public ::testing::Test {
 protected:
  plat::testing::TempRoot root;
};

// A child that holds something until it is killed; the parent learns when it is ready.
class Holder {
 public:
  template <typename Fn>
  explicit Holder(Fn hold) {
    int ready[2];
    if (pipe(ready) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      char ok = hold() ? 'y' : 'n';
      (void)!write(ready[1], &ok, 1);
      for (;;) pause();
    }
    close(ready[1]);
    if (read(ready[0], &ok_, 1) != 1) ok_ = 'n';
    close(ready[0]);
  }
  bool ready() const { return ok_ == 'y'; }
  void kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  ~Holder() { kill(); }

 private:
  pid_t pid_ = -1;
  char ok_ = 'n';
};

TEST_F(NamedObjects, MutexIsHeldAcrossProcessesAndFreedWhenItsHolderDies) {
  EXPECT_FALSE(NamedMutex::exists("ZODUzAve-Mutex"));
  std::optional<NamedMutex> held;
  Holder holder([&] {
    auto created = NamedMutex::create("ZODUzAve-Mutex");
    if (created) held = std::move(*created);
    return created.ok();
  });
  ASSERT_TRUE(holder.ready());
  EXPECT_TRUE(NamedMutex::exists("ZODUzAve-Mutex"));
  EXPECT_EQ(NamedMutex::create("ZODUzAve-Mutex").code(), EEXIST);
  EXPECT_FALSE(NamedMutex::exists("REDErUve-Mutex"));

  holder.kill();
  EXPECT_FALSE(NamedMutex::exists("ZODUzAve-Mutex"));
  std::optional<NamedMutex> mine;
  {
    auto created = NamedMutex::create("ZODUzAve-Mutex");
    ASSERT_TRUE(created) << created.message();
    mine = std::move(*created);
  }
  // A second instance in the same process is refused too.
  EXPECT_EQ(NamedMutex::create("ZODUzAve-Mutex").code(), EEXIST);
  EXPECT_EQ(runInChild([] { return NamedMutex::exists("ZODUzAve-Mutex") ? 0 : 1; }), 0);
  mine.reset();
  EXPECT_FALSE(NamedMutex::exists("ZODUzAve-Mutex"));
}

TEST_F(NamedObjects, HeldTellsAMutexThatCannotBeLookedAtFromAFreeOne) {
  EXPECT_EQ(NamedMutex::held("ZODUzAve-Mutex").valueOr(true), false);  // never made
  {
    auto mine = NamedMutex::create("ZODUzAve-Mutex");
    ASSERT_TRUE(mine);
    EXPECT_EQ(runInChild([] { return NamedMutex::held("ZODUzAve-Mutex").valueOr(false) ? 0 : 1; }), 0);
  }
  EXPECT_EQ(NamedMutex::held("ZODUzAve-Mutex").valueOr(true), false);  // made, now free
  // A lock file that cannot be opened is no answer; exists() still says "not held".
  const auto file = objectFile("Blocked-Mutex", "lock");
  ASSERT_TRUE(file);
  std::filesystem::create_directories(file->parent_path());
  std::filesystem::create_symlink("elsewhere", *file);
  auto blocked = NamedMutex::held("Blocked-Mutex");
  EXPECT_FALSE(blocked);
  EXPECT_FALSE(NamedMutex::exists("Blocked-Mutex"));
  EXPECT_FALSE(NamedMutex::held(std::string(300, 'x')));
}

TEST_F(NamedObjects, EventSetFromAnotherProcessWakesTheWaiter) {
  auto ev = NamedEvent::create("ZODUzAve-ServiceStop");
  ASSERT_TRUE(ev);
  EXPECT_EQ(outcome(ev->wait(0)), "timed out");
  int rc = runInChild([] {
    auto other = NamedEvent::open("ZODUzAve-ServiceStop");
    return other && other->set() ? 0 : 1;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(outcome(ev->wait(kLongWait)), "signaled");
  // Auto-reset: the wake consumed the set.
  EXPECT_EQ(outcome(ev->wait(0)), "timed out");
  // Several sets before a wait make one wake.
  auto setter = NamedEvent::open("ZODUzAve-ServiceStop");
  ASSERT_TRUE(setter);
  // More sets than the FIFO holds still succeed: the event is simply set.
  for (int i = 0; i < 70000; ++i) ASSERT_TRUE(setter->set()) << i;
  EXPECT_EQ(outcome(ev->wait(kLongWait)), "signaled");
  EXPECT_EQ(outcome(ev->wait(0)), "timed out");
  // A setter cannot wait.
  EXPECT_EQ(setter->wait(0).code(), EBADF);
}

TEST_F(NamedObjects, WaiterInAnotherProcessIsWokenAndASetAfterItLeftFails) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    auto ev = NamedEvent::create("stop");
    (void)!write(ready[1], ev ? "y" : "n", 1);
    if (!ev || outcome(ev->wait(kLongWait)) != "signaled") _exit(1);
    _exit(outcome(ev->wait(0)) == "timed out" ? 0 : 2);
  }
  close(ready[1]);
  char c = 'n';
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  ASSERT_EQ(c, 'y');
  auto setter = NamedEvent::open("stop");
  ASSERT_TRUE(setter);
  ASSERT_TRUE(setter->set());
  int st = 0;
  waitpid(pid, &st, 0);
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
  // The waiter is gone: setting fails, and does not end this process with SIGPIPE.
  EXPECT_FALSE(setter->set());
}

TEST_F(NamedObjects, OpeningAnEventNobodyCreatedFails) {
  EXPECT_FALSE(NamedEvent::open("never-made"));
  // Its creator is gone: the file is left, but nobody holds the event.
  ASSERT_EQ(runInChild([] { return NamedEvent::create("gone") ? 0 : 1; }), 0);
  EXPECT_FALSE(NamedEvent::open("gone"));
  // Create opens an event that exists.
  auto a = NamedEvent::create("shared");
  auto b = NamedEvent::create("shared");
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(b->set());
  EXPECT_EQ(outcome(a->wait(kLongWait)), "signaled");
}

TEST_F(NamedObjects, NamesAreBoundedAndKeptInsideTheRuntimeDirectory) {
  EXPECT_FALSE(NamedMutex::create(""));
  EXPECT_FALSE(NamedMutex::create(std::string(201, 'x')));
  EXPECT_FALSE(NamedEvent::create(""));
  auto f = objectFile("../../etc/passwd", "lock");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->parent_path(), plat::paths::runtimeDir() / "objects");
  EXPECT_EQ(f->filename(), "_._.._etc_passwd.lock");
  auto g = objectFile("Global\\Kelm", "event");
  EXPECT_EQ(g->filename(), "Global_Kelm.event");
}

}  // namespace
