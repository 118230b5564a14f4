// The behaviour every EventLoop keeps, whichever toolkit stands behind it. The program links one
// makeTestLoop(), so this suite runs once against the epoll loop and once against the Qt loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/base/clock.h"
#include "platform/base/unique_fd.h"
#include "platform/loop/blocking_worker.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/posted_tasks.h"
#include "platform/loop/tests/test_loop.h"
#include "platform/testing/manual_clock.h"

namespace plat {
namespace {

using namespace std::chrono_literals;
using testing::makeTestLoop;

struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    rd = UniqueFd(fds[0]);
    wr = UniqueFd(fds[1]);
  }
  UniqueFd rd, wr;
};

// The watch a test asked for; a refusal fails the test and gives an inactive watch.
FdWatch watched(Result<FdWatch> w) {
  EXPECT_TRUE(w) << w.message();
  return w ? std::move(*w) : FdWatch();
}

TEST(LoopSuite, OneShotTimerFiresOnceAtItsDeadline) {
  ManualClock clock;
  auto loop = makeTestLoop(clock);
  int calls = 0;
  Timer t = loop->singleShot(100ms, [&] { ++calls; });
  clock.advanceMs(99);
  loop->runOnce(0);
  EXPECT_EQ(calls, 0);
  clock.advanceMs(1);
  loop->runOnce(0);
  EXPECT_EQ(calls, 1);
  clock.advanceMs(1000);
  loop->runOnce(0);
  EXPECT_EQ(calls, 1);
}

TEST(LoopSuite, MissedPeriodicExpirationsCollapseIntoOneCall) {
  ManualClock clock;
  auto loop = makeTestLoop(clock);
  std::vector<std::int64_t> at;
  Timer t = loop->timer(1000ms, true, [&] { at.push_back(clock.monotonicMs()); });
  clock.advanceMs(1000);
  loop->runOnce(0);
  clock.advanceMs(3500);  // three and a half periods pass while the thread is busy
  loop->runOnce(0);
  loop->runOnce(0);
  EXPECT_EQ(at, (std::vector<std::int64_t>{1000, 4500}));
  clock.advanceMs(499);  // the schedule keeps its phase: next at 5000
  loop->runOnce(0);
  EXPECT_EQ(at.size(), 2u);
  clock.advanceMs(1);
  loop->runOnce(0);
  EXPECT_EQ(at, (std::vector<std::int64_t>{1000, 4500, 5000}));
}

TEST(LoopSuite, TimersMayStopThemselvesAndEachOther) {
  ManualClock clock;
  auto loop = makeTestLoop(clock);
  int a = 0, b = 0;
  Timer ta, tb;
  ta = loop->timer(10ms, true, [&] {
    ++a;
    ta.stop();
    tb.stop();  // due in the same round, after this one
  });
  tb = loop->timer(20ms, true, [&] { ++b; });
  clock.advanceMs(50);
  loop->runOnce(0);
  clock.advanceMs(50);
  loop->runOnce(0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
}

TEST(LoopSuite, DestroyedOrStoppedTimerNeverFires) {
  ManualClock clock;
  auto loop = makeTestLoop(clock);
  int fired = 0;
  {
    Timer t = loop->timer(10ms, true, [&] { ++fired; });
    EXPECT_TRUE(t.started());
  }
  Timer stopped = loop->singleShot(10ms, [&] { ++fired; });
  stopped.stop();
  stopped.stop();  // twice is harmless
  clock.advanceMs(100);
  loop->runOnce(0);
  EXPECT_EQ(fired, 0);
}

TEST(LoopSuite, MovedTimerKeepsRunningAndAssignmentStopsTheOldOne) {
  ManualClock clock;
  auto loop = makeTestLoop(clock);
  int a = 0, b = 0;
  Timer t = loop->timer(10ms, true, [&] { ++a; });
  Timer moved = std::move(t);
  clock.advanceMs(10);
  loop->runOnce(0);
  EXPECT_EQ(a, 1);
  moved = loop->timer(10ms, true, [&] { ++b; });
  clock.advanceMs(10);
  loop->runOnce(0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
}

TEST(LoopSuite, RealTimerWakesTheLoop) {
  auto loop = makeTestLoop();
  int calls = 0;
  Timer t = loop->singleShot(2ms, [&] {
    ++calls;
    loop->quit();
  });
  ASSERT_TRUE(loop->run());
  EXPECT_EQ(calls, 1);
}

TEST(LoopSuite, TasksPostedFromOtherThreadsRunInOrderOnTheLoopThread) {
  auto loop = makeTestLoop();
  std::vector<int> seen;
  std::vector<std::thread::id> threads;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      loop->post([&, i] {
        seen.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
    loop->post([&] { loop->quit(); });
  });
  ASSERT_TRUE(loop->run());
  poster.join();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(LoopSuite, QuitBeforeRunIsNotLostAndDoesNotStopTheNextRun) {
  auto loop = makeTestLoop();
  loop->quit();
  ASSERT_TRUE(loop->run());  // returns at once
  bool ran = false;
  loop->post([&] {
    ran = true;
    loop->quit();
  });
  ASSERT_TRUE(loop->run());
  EXPECT_TRUE(ran) << "the second run lasts until its own quit";
}

TEST(LoopSuite, CurrentLoopOfTheThread) {
  std::thread([] {
    EXPECT_EQ(EventLoop::current(), nullptr);
    {
      auto loop = makeTestLoop();
      EXPECT_EQ(EventLoop::current(), loop.get());
      auto second = makeTestLoop();
      EXPECT_EQ(EventLoop::current(), loop.get()) << "the first loop of a thread stays its loop";
      EventLoop* inside = nullptr;
      second->post([&] { inside = EventLoop::current(); });
      second->runOnce(0);
      EXPECT_EQ(inside, second.get()) << "while a loop runs, it is the current one";
      EXPECT_EQ(EventLoop::current(), loop.get());
    }
    EXPECT_EQ(EventLoop::current(), nullptr);
  }).join();
}

TEST(LoopSuite, FdReadinessAndRemovalFromTheCallback) {
  auto loop = makeTestLoop();
  Pipe p;
  int calls = 0;
  FdWatch rd = watched(loop->watch(p.rd.get(), kIoReadable, [&](std::uint32_t ev) {
    EXPECT_TRUE(ev & kIoReadable);
    ++calls;
    char c;
    ASSERT_EQ(::read(p.rd.get(), &c, 1), 1);
    rd.reset();  // from inside its own callback
  }));
  ASSERT_TRUE(rd.active());
  auto second = loop->watch(p.rd.get(), kIoReadable, [](std::uint32_t) {});
  EXPECT_EQ(second.code(), EEXIST) << "one watch per descriptor";
  loop->runOnce(0);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(::write(p.wr.get(), "ab", 2), 2);
  loop->runOnce(1000);
  loop->runOnce(0);
  EXPECT_EQ(calls, 1) << "one byte is still unread, but the watch is gone";
  // Writability is reported only while asked for.
  int writes = 0;
  FdWatch wr = watched(loop->watch(p.wr.get(), 0, [&](std::uint32_t ev) { writes += (ev & kIoWritable) ? 1 : 0; }));
  ASSERT_TRUE(wr.active());
  loop->runOnce(0);
  EXPECT_EQ(writes, 0);
  wr.update(kIoWritable);
  loop->runOnce(0);
  EXPECT_EQ(writes, 1);
}

TEST(LoopSuite, DestroyedWatchNeverFiresAndTheDescriptorCanBeWatchedAgain) {
  auto loop = makeTestLoop();
  Pipe p;
  int calls = 0;
  {
    FdWatch w = watched(loop->watch(p.rd.get(), kIoReadable, [&](std::uint32_t) { ++calls; }));
    EXPECT_TRUE(w.active());
  }
  ASSERT_EQ(::write(p.wr.get(), "x", 1), 1);
  loop->runOnce(0);
  EXPECT_EQ(calls, 0);
  FdWatch again = watched(loop->watch(p.rd.get(), kIoReadable, [&](std::uint32_t) {
    ++calls;
    again.reset();
  }));
  ASSERT_TRUE(again.active());
  loop->runOnce(0);
  loop->runOnce(0);
  EXPECT_EQ(calls, 1);
}

TEST(LoopSuite, WatchOfABadDescriptorIsRefusedWithTheReason) {
  auto loop = makeTestLoop();
  int closed = -1;
  {
    Pipe p;
    closed = p.rd.get();
  }
  for (int fd : {-1, closed}) {
    auto w = loop->watch(fd, kIoReadable, [](std::uint32_t) {});
    ASSERT_FALSE(w) << fd;
    EXPECT_EQ(w.code(), EBADF) << fd;
    EXPECT_FALSE(w.message().empty());
  }
}

TEST(LoopSuite, HangUpIsReportedToAReader) {
  auto loop = makeTestLoop();
  Pipe p;
  std::uint32_t seen = 0;
  FdWatch w = watched(loop->watch(p.rd.get(), kIoReadable, [&](std::uint32_t ev) { seen |= ev; }));
  p.wr.reset();
  loop->runOnce(1000);
  EXPECT_TRUE(seen & (kIoReadable | kIoError)) << seen;
}

TEST(LoopSuite, ACallbackThatReplacesAnotherWatchSkipsItsStaleEvent) {
  auto loop = makeTestLoop();
  Pipe a, b;
  int staleCalls = 0, aCalls = 0, bCalls = 0;
  FdWatch wa, wb;
  // Whichever of the two runs first removes the other and watches its descriptor anew.
  // (The old watch goes first: a descriptor has one watch at a time.)
  wa = watched(loop->watch(a.rd.get(), kIoReadable, [&](std::uint32_t) {
    ++aCalls;
    wb.reset();
    wb = watched(loop->watch(b.rd.get(), kIoReadable, [&](std::uint32_t) { ++staleCalls; }));
  }));
  wb = watched(loop->watch(b.rd.get(), kIoReadable, [&](std::uint32_t) {
    ++bCalls;
    wa.reset();
    wa = watched(loop->watch(a.rd.get(), kIoReadable, [&](std::uint32_t) { ++staleCalls; }));
  }));
  ASSERT_EQ(::write(a.wr.get(), "x", 1), 1);
  ASSERT_EQ(::write(b.wr.get(), "x", 1), 1);
  loop->runOnce(1000);
  EXPECT_EQ(aCalls + bCalls, 1);
  EXPECT_EQ(staleCalls, 0) << "the event of the removed watch must not reach its replacement";
}

TEST(LoopSuite, BlockingWorkerCompletionsRunOnTheOwningLoopInOrder) {
  auto loop = makeTestLoop();
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

TEST(LoopSuite, NoBlockingWorkerCompletionRunsAfterTheWorkerIsDestroyed) {
  auto loop = makeTestLoop();
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

TEST(LoopSuite, PostedTasksRunInOrderUntilTheirOwnerGoes) {
  auto loop = makeTestLoop();
  std::vector<int> ran;
  auto tasks = std::make_unique<PostedTasks>();
  tasks->post(*loop, [&] { ran.push_back(1); });
  std::thread([&] { tasks->post(*loop, [&] { ran.push_back(2); }); }).join();
  loop->runOnce(0);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));

  // Queued on the loop, but the owner goes first: neither runs, and nothing touches the owner.
  tasks->post(*loop, [&] { ran.push_back(3); });
  tasks->post(*loop, [&, t = tasks.get()] {
    ran.push_back(4);
    t->post(*loop, [] {});
  });
  tasks.reset();
  loop->runOnce(0);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(LoopSuite, StoppedPostedTasksDropLaterPostsToo) {
  auto loop = makeTestLoop();
  int ran = 0;
  PostedTasks tasks;
  tasks.post(*loop, [&] { ++ran; });
  tasks.stop();
  tasks.post(*loop, [&] { ++ran; });  // an owner part-way through its destruction
  loop->runOnce(0);
  EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace plat
