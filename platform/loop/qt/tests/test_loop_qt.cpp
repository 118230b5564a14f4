// The shared loop tests on the Qt loop: the program's main makes the application object that
// the Qt loop needs before the tests start.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "platform/loop/qt/qt_loop.h"
#include "platform/loop/tests/test_loop.h"

namespace plat::testing {

std::unique_ptr<EventLoop> makeTestLoop(const Clock& clock) { return makeQtLoop(clock); }

}  // namespace plat::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
