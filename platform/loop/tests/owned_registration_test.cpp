// Owned registrations and the blocking worker.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/clock.h"
#include "platform/base/result.h"
#include "platform/base/unique_fd.h"
#include "platform/base/unix_address.h"
#include "platform/loop/blocking_worker.h"
#include "platform/loop/event_loop.h"

namespace plat {
namespace {

TEST(OwnedRegistration, DestroyedOrStoppedTimerNeverFires) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock).value();
  int fired = 0;
  {
    Timer t = loop->timer(std::chrono::milliseconds(10), true, [&] { ++fired; });
    EXPECT_TRUE(t.started());
  }
  Timer stopped = loop->singleShot(std::chrono::milliseconds(10), [&] { ++fired; });
  stopped.stop();
  stopped.stop();  // twice is harmless
  clock.advanceMs(100);
  loop->runOnce(0);
  EXPECT_EQ(fired, 0);
}

TEST(OwnedRegistration, MovedTimerKeepsRunningAndAssignmentStopsTheOldOne) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock).value();
  int a = 0, b = 0;
  Timer t = loop->timer(std::chrono::milliseconds(10), true, [&] { ++a; });
  Timer moved = std::move(t);
  clock.advanceMs(10);
  loop->runOnce(0);
  EXPECT_EQ(a, 1);
  moved = loop->timer(std::chrono::milliseconds(10), true, [&] { ++b; });
  clock.advanceMs(10);
  loop->runOnce(0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
}

TEST(OwnedRegistration, TimerMayStopItselfFromItsCallback) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock).value();
  int fired = 0;
  Timer t;
  t = loop->timer(std::chrono::milliseconds(5), true, [&] {
    ++fired;
    t.stop();
  });
  for (int i = 0; i < 3; ++i) {
    clock.advanceMs(5);
    loop->runOnce(0);
  }
  EXPECT_EQ(fired, 1);
}

TEST(OwnedRegistration, DestroyedWatchNeverFiresAndTheDescriptorCanBeWatchedAgain) {
  auto loop = makeEpollLoop().value();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd rd(fds[0]), wr(fds[1]);
  int calls = 0;
  {
    FdWatch w = loop->watch(rd.get(), kIoReadable, [&](std::uint32_t) { ++calls; });
    EXPECT_TRUE(w.active());
  }
  ASSERT_EQ(::write(wr.get(), "x", 1), 1);
  loop->runOnce(0);
  EXPECT_EQ(calls, 0);
  FdWatch again = loop->watch(rd.get(), kIoReadable, [&](std::uint32_t) {
    ++calls;
    again.reset();  // from inside its own callback
  });
  ASSERT_TRUE(again.active());
  loop->runOnce(0);
  loop->runOnce(0);
  EXPECT_EQ(calls, 1);
}

TEST(OwnedRegistration, WatchOfABadDescriptorIsInactive) {
  auto loop = makeEpollLoop().value();
  FdWatch w = loop->watch(-1, kIoReadable, [](std::uint32_t) {});
  EXPECT_FALSE(w.active());
}

TEST(UniqueFdTest, ClosesOnResetAndDestructionButNotAfterRelease) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    UniqueFd a(fds[0]);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), fds[0]);
  }
  EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);  // closed
  int kept;
  {
    UniqueFd c(fds[1]);
    kept = c.release();
  }
  EXPECT_NE(::fcntl(kept, F_GETFD), -1);
  ::close(kept);
}

TEST(ResultTest, ValueOrErrorWithMessage) {
  Result<int> good = 7;
  Result<int> bad = Error{5, "five"};
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(*good, 7);
  EXPECT_FALSE(bad.ok());
  EXPECT_EQ(bad.code(), 5);
  EXPECT_EQ(bad.message(), "five");
  EXPECT_EQ(bad.valueOr(3), 3);
  Result<void> v = success();
  EXPECT_TRUE(v.ok());
  Result<void> e = errnoError("open x", ENOENT);
  EXPECT_EQ(e.code(), ENOENT);
  EXPECT_NE(e.message().find("open x: "), std::string::npos);
}

TEST(UnixAddressTest, RefusesPathsThatDoNotFit) {
  EXPECT_TRUE(unixAddress("/tmp/a.sock").ok());
  EXPECT_FALSE(unixAddress("").ok());
  EXPECT_FALSE(unixAddress(std::string(200, 'a')).ok());
  EXPECT_FALSE(unixAddress(std::string("a\0b", 3)).ok());
}

TEST(BlockingWorkerTest, CompletionsRunOnTheOwningLoopInOrder) {
  auto loop = makeEpollLoop().value();
  const auto loopThread = std::this_thread::get_id();
  std::vector<int> order;
  BlockingWorker worker(*loop);
  for (int i = 0; i < 3; ++i) {
    worker.run<int>([i] { return i * 10; },
                    [&, loopThread](int v) {
                      EXPECT_EQ(std::this_thread::get_id(), loopThread);
                      order.push_back(v);
                    });
  }
  while (worker.pending() > 0) loop->runOnce(100);
  EXPECT_EQ(order, (std::vector<int>{0, 10, 20}));
}

TEST(BlockingWorkerTest, NoCompletionRunsAfterTheWorkerIsDestroyed) {
  auto loop = makeEpollLoop().value();
  std::promise<void> started;
  std::promise<void> release;
  auto releaseFuture = release.get_future().share();
  bool done = false;
  {
    BlockingWorker worker(*loop);
    worker.run([&, releaseFuture] {
      started.set_value();
      releaseFuture.wait();
    }, [&] { done = true; });
    started.get_future().wait();
    release.set_value();
  }  // joins the job in hand; its completion is dropped
  loop->runOnce(0);
  EXPECT_FALSE(done);
}

}  // namespace
}  // namespace plat
