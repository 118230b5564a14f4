#include "platform/loop/event_loop.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "platform/base/clock.h"
#include "platform/base/unique_fd.h"

using namespace plat;
using namespace std::chrono_literals;

TEST(EventLoop, OneShotTimerFiresOnceAtItsDeadline) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock).value();
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

TEST(EventLoop, MissedPeriodicExpirationsCollapseIntoOneCall) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock).value();
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

TEST(EventLoop, TimersMayCancelThemselvesAndEachOther) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock).value();
  int a = 0, b = 0;
  Timer tA, tB;
  tA = loop->timer(10ms, true, [&] {
    ++a;
    tA.stop();
    tB.stop();  // due in the same round, after this one
  });
  tB = loop->timer(20ms, true, [&] { ++b; });
  clock.advanceMs(50);
  loop->runOnce(0);
  clock.advanceMs(50);
  loop->runOnce(0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
}

TEST(EventLoop, RealTimerWakesTheLoop) {
  auto loop = makeEpollLoop().value();
  int calls = 0;
  Timer t = loop->singleShot(2ms, [&] {
    ++calls;
    loop->quit();
  });
  ASSERT_TRUE(loop->run());
  EXPECT_EQ(calls, 1);
}

TEST(EventLoop, TasksPostedFromOtherThreadsRunInOrderOnTheLoopThread) {
  auto loop = makeEpollLoop().value();
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

TEST(EventLoop, QuitBeforeRunIsNotLost) {
  auto loop = makeEpollLoop().value();
  loop->quit();
  EXPECT_TRUE(loop->run());  // returns at once
  SUCCEED();
}

TEST(EventLoop, CurrentLoopOfTheThread) {
  std::thread([] {
    EXPECT_EQ(EventLoop::current(), nullptr);
    {
      auto loop = makeEpollLoop().value();
      EXPECT_EQ(EventLoop::current(), loop.get());
      auto second = makeEpollLoop().value();
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
  auto loop = makeEpollLoop().value();
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  UniqueFd rd(p[0]), wr(p[1]);
  int calls = 0;
  FdWatch w = loop->watch(rd.get(), kIoReadable, [&](std::uint32_t ev) {
    EXPECT_TRUE(ev & kIoReadable);
    ++calls;
    char c;
    ASSERT_EQ(read(rd.get(), &c, 1), 1);
    w.reset();
  });
  ASSERT_TRUE(w.active());
  EXPECT_FALSE(loop->watch(rd.get(), kIoReadable, [](std::uint32_t) {}).active()) << "one watch per descriptor";
  loop->runOnce(0);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(write(wr.get(), "ab", 2), 2);
  loop->runOnce(1000);
  loop->runOnce(0);
  EXPECT_EQ(calls, 1);
  // Writability is reported only while asked for.
  int writes = 0;
  FdWatch ww = loop->watch(wr.get(), 0, [&](std::uint32_t ev) { writes += (ev & kIoWritable) ? 1 : 0; });
  ASSERT_TRUE(ww.active());
  loop->runOnce(0);
  EXPECT_EQ(writes, 0);
  ww.update(kIoWritable);
  loop->runOnce(0);
  EXPECT_EQ(writes, 1);
}

TEST(EventLoop, ACallbackThatReplacesAnotherWatchSkipsItsStaleEvent) {
  auto loop = makeEpollLoop().value();
  int a[2], b[2];
  ASSERT_EQ(pipe(a), 0);
  ASSERT_EQ(pipe(b), 0);
  UniqueFd fds[] = {UniqueFd(a[0]), UniqueFd(a[1]), UniqueFd(b[0]), UniqueFd(b[1])};
  int staleCalls = 0, aCalls = 0, bCalls = 0;
  FdWatch wa, wb;
  auto onA = [&](std::uint32_t) {
    ++aCalls;
    // Whichever of the two runs first removes the other and watches its number anew.
    wb.reset();
    wb = loop->watch(b[0], kIoReadable, [&](std::uint32_t) { ++staleCalls; });
  };
  auto onB = [&](std::uint32_t) {
    ++bCalls;
    wa.reset();
    wa = loop->watch(a[0], kIoReadable, [&](std::uint32_t) { ++staleCalls; });
  };
  wa = loop->watch(a[0], kIoReadable, onA);
  wb = loop->watch(b[0], kIoReadable, onB);
  ASSERT_EQ(write(a[1], "x", 1), 1);
  ASSERT_EQ(write(b[1], "x", 1), 1);
  loop->runOnce(1000);
  EXPECT_EQ(aCalls + bCalls, 1);
  EXPECT_EQ(staleCalls, 0) << "the event of the removed watch must not reach its replacement";
}

// The descriptors of this process that are epoll instances.
std::set<int> epollDescriptors() {
  std::set<int> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path(), ec).string() == "anon_inode:[eventpoll]")
      out.insert(std::stoi(e.path().filename().string()));
  }
  return out;
}

TEST(EventLoop, RunEndsWithAnErrorWhenItsEpollDescriptorBreaks) {
  const std::set<int> before = epollDescriptors();
  auto loop = makeEpollLoop().value();
  std::set<int> mine;
  for (int fd : epollDescriptors())
    if (!before.count(fd)) mine.insert(fd);
  ASSERT_EQ(mine.size(), 1u);
  // Put a pipe in the epoll descriptor's place: every wait now fails with EINVAL. Before, run()
  // took the failure for a wake-up and spun for ever.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  UniqueFd rd(p[0]), wr(p[1]);
  ASSERT_EQ(dup2(rd.get(), *mine.begin()), *mine.begin());
  Result<void> r = loop->run();
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.code(), EINVAL);
  EXPECT_NE(r.message().find("epoll_wait"), std::string::npos) << r.message();
}

TEST(EventLoop, ALoopThatCannotMakeItsDescriptorsSaysWhy) {
  // Descriptors exhausted, in a child so that the limit stays there. The first case leaves no
  // descriptor at all; the second leaves one, for the epoll instance, so its event descriptor fails.
  for (int room : {0, 1}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int lowestFree = dup(0);
      close(lowestFree);
      rlimit lim{static_cast<rlim_t>(lowestFree + room), static_cast<rlim_t>(lowestFree + room)};
      if (setrlimit(RLIMIT_NOFILE, &lim) != 0) _exit(10);
      auto loop = makeEpollLoop();
      if (loop.ok()) _exit(11);
      if (loop.code() != EMFILE) _exit(12);
      const std::string want = room == 0 ? "epoll_create1" : "eventfd";
      if (loop.message().find(want) == std::string::npos) _exit(13);
      if (loop.message().find(strerror(EMFILE)) == std::string::npos) _exit(14);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "room for " << room << " descriptors";
  }
}
