// What only the Qt loop promises: its work is delivered by Qt's own event loop, so the console's
// QApplication::exec() drives the message layer without calling run().
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>

#include "platform/base/unique_fd.h"
#include "platform/loop/qt/qt_loop.h"

namespace plat {
namespace {

using namespace std::chrono_literals;

TEST(QtLoop, TimersWatchesAndPostedTasksRunUnderTheApplicationsOwnLoop) {
  auto loop = makeQtLoop();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd rd(fds[0]), wr(fds[1]);
  std::vector<std::string> seen;
  auto w = loop->watch(rd.get(), kIoReadable, [&](std::uint32_t) {
    char c;
    ASSERT_EQ(::read(rd.get(), &c, 1), 1);
    seen.push_back("fd");
    EXPECT_EQ(EventLoop::current(), loop.get());
    QCoreApplication::quit();
  });
  ASSERT_TRUE(w) << w.message();
  Timer t = loop->singleShot(1ms, [&] {
    seen.push_back("timer");
    loop->post([&] {
      seen.push_back("task");
      ASSERT_EQ(::write(wr.get(), "x", 1), 1);
    });
  });
  QCoreApplication::exec();
  EXPECT_EQ(seen, (std::vector<std::string>{"timer", "task", "fd"}));
}

}  // namespace
}  // namespace plat
