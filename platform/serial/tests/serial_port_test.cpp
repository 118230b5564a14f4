#include "platform/serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace plat::serial {
namespace {

// A pseudo-terminal whose master side the test plays.
struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
};

TEST(SerialPort, OpensRaw8N1WithoutFlowControlAndExclusively) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  auto opened = SerialPort::open(pty.slave, 115200);
  ASSERT_TRUE(opened) << opened.message();
  auto port = std::move(*opened);
  termios t{};
  ASSERT_EQ(::tcgetattr(port->fd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  auto second = SerialPort::open(pty.slave, 115200);
  EXPECT_FALSE(second);
  EXPECT_NE(second.message().find("in use"), std::string::npos) << second.message();
}

TEST(SerialPort, RefusesWhatIsNotASerialLine) {
  EXPECT_EQ(SerialPort::open("/nonexistent/ttyS0", 115200).code(), ENOENT);
  auto notTty = SerialPort::open("/dev/null", 115200);
  EXPECT_FALSE(notTty);
  EXPECT_NE(notTty.message().find("not a terminal"), std::string::npos);
  Pty pty;
  EXPECT_EQ(SerialPort::open(pty.slave, 12345).code(), EINVAL);
}

TEST(SerialPort, ReadsAreExactAndBoundedAndAHangUpIsAnError) {
  Pty pty;
  auto port = SerialPort::open(pty.slave, 115200).valueOr(nullptr);
  ASSERT_TRUE(port);
  const unsigned char hello[] = {0xA3, 0x00, 0xFF, 0x0A, 0x0D};  // bytes a cooked line would change
  ASSERT_EQ(::write(pty.master, hello, sizeof hello), 5);
  unsigned char in[5] = {};
  auto r = port->read(in, 5, 1000);
  ASSERT_TRUE(r) << r.message();
  EXPECT_EQ(*r, 5u);
  EXPECT_EQ(std::memcmp(in, hello, 5), 0);

  // The time-out: no failure, and the count says what came.
  ASSERT_EQ(::write(pty.master, hello, 2), 2);
  r = port->read(in, 5, 20);
  ASSERT_TRUE(r) << r.message();
  EXPECT_EQ(*r, 2u);

  auto w = port->write(hello, 5, 1000);
  ASSERT_TRUE(w) << w.message();
  EXPECT_EQ(*w, 5u);
  unsigned char out[5] = {};
  EXPECT_EQ(::read(pty.master, out, 5), 5);
  EXPECT_EQ(std::memcmp(out, hello, 5), 0);

  ::close(pty.master);
  pty.master = -1;
  r = port->read(in, 1, 1000);
  ASSERT_FALSE(r);
  EXPECT_FALSE(r.message().empty());
}

// A command written without a reply to wait for, then the next command's drop of stale input: on a
// pseudo-terminal the written byte may not have reached the other side yet, and must still get there.
// Flushing the output as well loses it on a good share of the rounds.
TEST(SerialPort, DiscardingInputDropsStaleRepliesAndKeepsWhatWasWritten) {
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Pty pty;
    auto port = SerialPort::open(pty.slave, 115200).valueOr(nullptr);
    ASSERT_TRUE(port);
    const unsigned char late[] = {0x01, 0x00, 0x00, 0x00};
    ASSERT_EQ(::write(pty.master, late, sizeof late), 4);
    const unsigned char enter = 0xA4;
    ASSERT_EQ(port->write(&enter, 1, 1000).valueOr(0), 1u);
    port->discardInput();
    pollfd in{pty.master, POLLIN, 0};
    ASSERT_EQ(::poll(&in, 1, 5000), 1) << "the written byte never arrived";
    unsigned char got[8] = {};
    ASSERT_EQ(::read(pty.master, got, sizeof got), 1);
    EXPECT_EQ(got[0], 0xA4);
    auto r = port->read(got, 4, 0);
    ASSERT_TRUE(r) << r.message();
    EXPECT_EQ(*r, 0u) << "the late reply was dropped";
  }
}

}  // namespace
}  // namespace plat::serial
