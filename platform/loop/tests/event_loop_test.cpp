#include "platform/loop/event_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/base/clock.h"

using namespace plat;
using namespace std::chrono_literals;

TEST(EventLoop, OneShotTimerFiresOnceAtItsDeadline) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock);
  int calls = 0;
  loop->startTimer(100ms, false, [&] { ++calls; });
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

TEST(EventLoop, MissedPeriodicExpirationsCollapseIntoOneCall) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock);
  std::vector<std::int64_t> at;
  loop->startTimer(1000ms, true, [&] { at.push_back(clock.monotonicMs()); });
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

TEST(EventLoop, TimersMayCancelThemselvesAndEachOther) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock);
  int a = 0, b = 0;
  TimerId idB = 0;
  TimerId idA = 0;
  idA = loop->startTimer(10ms, true, [&] {
    ++a;
    loop->cancelTimer(idA);
    loop->cancelTimer(idB);  // due in the same round, after this one
  });
  idB = loop->startTimer(20ms, true, [&] { ++b; });
  clock.advanceMs(50);
  loop->runOnce(0);
  clock.advanceMs(50);
  loop->runOnce(0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  loop->cancelTimer(12345);
}

TEST(EventLoop, RealTimerWakesTheLoop) {
  auto loop = makeEpollLoop();
  int calls = 0;
  loop->startTimer(2ms, false, [&] {
    ++calls;
    loop->quit();
  });
  loop->run();
  EXPECT_EQ(calls, 1);
}

TEST(EventLoop, TasksPostedFromOtherThreadsRunInOrderOnTheLoopThread) {
  auto loop = makeEpollLoop();
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
  loop->run();
  poster.join();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(EventLoop, QuitBeforeRunIsNotLost) {
  auto loop = makeEpollLoop();
  loop->quit();
  loop->run();  // returns at once
  SUCCEED();
}

TEST(EventLoop, CurrentLoopOfTheThread) {
  std::thread([] {
    EXPECT_EQ(EventLoop::current(), nullptr);
    {
      auto loop = makeEpollLoop();
      EXPECT_EQ(EventLoop::current(), loop.get());
      auto second = makeEpollLoop();
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

TEST(EventLoop, FdReadinessAndUnwatchFromTheCallback) {
  auto loop = makeEpollLoop();
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  int calls = 0;
  ASSERT_TRUE(loop->watchFd(p[0], kIoReadable, [&](std::uint32_t ev) {
    EXPECT_TRUE(ev & kIoReadable);
    ++calls;
    char c;
    ASSERT_EQ(read(p[0], &c, 1), 1);
    loop->unwatchFd(p[0]);
  }));
  EXPECT_FALSE(loop->watchFd(p[0], kIoReadable, [](std::uint32_t) {})) << "one watch per descriptor";
  loop->runOnce(0);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(write(p[1], "ab", 2), 2);
  loop->runOnce(1000);
  loop->runOnce(0);
  EXPECT_EQ(calls, 1);
  // Writability is reported only while asked for.
  int writes = 0;
  ASSERT_TRUE(loop->watchFd(p[1], 0, [&](std::uint32_t ev) { writes += (ev & kIoWritable) ? 1 : 0; }));
  loop->runOnce(0);
  EXPECT_EQ(writes, 0);
  loop->updateFd(p[1], kIoWritable);
  loop->runOnce(0);
  EXPECT_EQ(writes, 1);
  loop->unwatchFd(p[1]);
  close(p[0]);
  close(p[1]);
}

TEST(EventLoop, ACallbackThatReplacesAnotherWatchSkipsItsStaleEvent) {
  auto loop = makeEpollLoop();
  int a[2], b[2];
  ASSERT_EQ(pipe(a), 0);
  ASSERT_EQ(pipe(b), 0);
  int staleCalls = 0, aCalls = 0, bCalls = 0;
  auto onA = [&](std::uint32_t) {
    ++aCalls;
    // Whichever of the two runs first removes the other and watches its number anew.
    loop->unwatchFd(b[0]);
    loop->watchFd(b[0], kIoReadable, [&](std::uint32_t) { ++staleCalls; });
  };
  auto onB = [&](std::uint32_t) {
    ++bCalls;
    loop->unwatchFd(a[0]);
    loop->watchFd(a[0], kIoReadable, [&](std::uint32_t) { ++staleCalls; });
  };
  loop->watchFd(a[0], kIoReadable, onA);
  loop->watchFd(b[0], kIoReadable, onB);
  ASSERT_EQ(write(a[1], "x", 1), 1);
  ASSERT_EQ(write(b[1], "x", 1), 1);
  loop->runOnce(1000);
  EXPECT_EQ(aCalls + bCalls, 1);
  EXPECT_EQ(staleCalls, 0) << "the event of the removed watch must not reach its replacement";
  for (int fd : {a[0], a[1], b[0], b[1]}) {
    loop->unwatchFd(fd);
    close(fd);
  }
}
