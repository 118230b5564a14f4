// What only the epoll loop does: its own descriptors, and what happens when they fail. The
// behaviour every loop shares is in loop_suite_test.cpp.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/loop/event_loop.h"

using namespace plat;

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

TEST(EventLoop, BusyPollAsksOnlyForWaitsThatWouldSleepAndFallsBackToSleeping) {
  auto loop = makeEpollLoop().value();
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  UniqueFd rd(p[0]), wr(p[1]);
  int reads = 0;
  auto watch = loop->watch(rd.get(), kIoReadable, [&](std::uint32_t) {
    char c;
    if (::read(rd.get(), &c, 1) == 1) ++reads;
  });
  ASSERT_TRUE(watch);
  struct Case {
    const char* what;
    bool expecting;
    bool ready;     // a byte waits before the wait
    int timeoutMs;  // 0: a wait that never sleeps
    int asks;
    int reads;
  };
  const std::vector<Case> cases = {
      {"a wait that cannot sleep does not ask", true, false, 0, 0, 0},
      {"nothing comes: the window ends and the wait sleeps its time", true, false, 5, 1, 0},
      {"what is ready is handled from the look itself", true, true, -1, 1, 1},
      {"no answer expected: it sleeps at once", false, false, 5, 1, 0},
      {"no answer expected, something ready", false, true, -1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int asks = 0;
    reads = 0;
    loop->setBusyPoll(std::chrono::microseconds(200), [&] {
      ++asks;
      return c.expecting;
    });
    if (c.ready) {
      ASSERT_EQ(::write(wr.get(), "x", 1), 1);
    }
    loop->runOnce(c.timeoutMs);
    EXPECT_EQ(asks, c.asks);
    EXPECT_EQ(reads, c.reads);
  }
  // Turned off, the predicate is never asked again.
  int asks = 0;
  loop->setBusyPoll(std::chrono::microseconds(200), nullptr);
  loop->setBusyPoll(std::chrono::microseconds::zero(), [&] { return ++asks > 0; });
  loop->runOnce(1);
  EXPECT_EQ(asks, 0);
  // A timer that falls due during the looking still fires.
  loop->setBusyPoll(std::chrono::microseconds(200), [] { return true; });
  bool fired = false;
  plat::Timer t = loop->singleShot(std::chrono::milliseconds(0), [&] { fired = true; });
  for (int i = 0; i < 100 && !fired; ++i) loop->runOnce(10);
  EXPECT_TRUE(fired);
}
