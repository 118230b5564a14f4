#include "platform/service/syslog_sender.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/testing/temp_root.h"
#include "platform/testing/manual_clock.h"

using namespace plat::service;

namespace {

// A stand-in for the syslog daemon: a datagram socket in the test's root.
class TestSocket {
 public:
  explicit TestSocket(std::string path) : path_(std::move(path)) { bindNow(); }
  ~TestSocket() { closeNow(); }
  void bindNow() {
    fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path_.c_str(), sizeof a.sun_path - 1);
    unlink(path_.c_str());
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
  }
  void closeNow() {
    if (fd_ >= 0) close(fd_), unlink(path_.c_str());
    fd_ = -1;
  }
  // One datagram, or empty when none is there.
  std::string receive() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) != 1) return {};
    char buf[16384];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  }

 private:
  std::string path_;
  int fd_ = -1;
};

class Syslog : public ::testing::Test {
 protected:
  Syslog() : sock((root.dir() / "log.sock").string()) {
    setenv("KELM_SYSLOG_SOCKET", (root.dir() / "log.sock").c_str(), 1);
    char h[256] = {};
    gethostname(h, sizeof h - 1);
    host = h;
    pid = std::to_string(getpid());
  }
  ~Syslog() override { unsetenv("KELM_SYSLOG_SOCKET"); }
  plat::testing::TempRoot root;
  TestSocket sock;
  plat::ManualClock clock{1765359877};  // 2025-12-10 09:44:37 UTC
  std::string host, pid;
};

TEST_F(Syslog, RecordCarriesPriorityTimeIdentAndMessageId) {
  struct Case {
    EventType type;
    int pri;
  };
  const Case cases[] = {
      {EventType::Error, 27},        {EventType::Warning, 28},      {EventType::Information, 30},
      {EventType::AuditSuccess, 29}, {EventType::AuditFailure, 28},
  };
  SyslogSender sender("halvorn", kFacilityDaemon, clock);
  for (const auto& c : cases) {
    ASSERT_TRUE(sender.send(c.type, "EV512", "Disk 2 failed"));
    EXPECT_EQ(sock.receive(), "<" + std::to_string(c.pri) + ">1 2025-12-10T09:44:37Z " + host + " halvorn " + pid +
                                  " EV512 - Disk 2 failed");
  }
}

TEST_F(Syslog, FieldsAndMessageAreMadeSafeAndBounded) {
  SyslogSender sender(std::string("my agent") + std::string(60, 'x'), kFacilityDaemon, clock);
  ASSERT_TRUE(sender.send(EventType::Information, "", "line one\nline two \xff end"));
  std::string got = sock.receive();
  std::string ident = "my_agent" + std::string(40, 'x');
  EXPECT_EQ(got,
            "<30>1 2025-12-10T09:44:37Z " + host + " " + ident + " " + pid + " - - line one line two \xef\xbf\xbd end");

  ASSERT_TRUE(sender.send(EventType::Error, "id with blanks", std::string(20000, 'a') + "\xc3\xa9"));
  got = sock.receive();
  EXPECT_EQ(got.size(), kMaxRecordSize);
  EXPECT_NE(got.find(" id_with_blanks - "), std::string::npos);
  // A cut that would split a character drops it whole.
  ASSERT_TRUE(sender.send(EventType::Error, "x", std::string(kMaxRecordSize, '\xc3')));
  EXPECT_LE(sock.receive().size(), kMaxRecordSize);
}

TEST_F(Syslog, MissingDaemonIsReportedAndARestartedOneIsFoundAgain) {
  SyslogSender sender("halvorn", kFacilityDaemon, clock);
  ASSERT_TRUE(sender.send(EventType::Information, "A", "first"));
  EXPECT_FALSE(sock.receive().empty());
  sock.closeNow();
  EXPECT_FALSE(sender.send(EventType::Information, "A", "lost"));
  sock.bindNow();
  ASSERT_TRUE(sender.send(EventType::Information, "A", "again"));
  EXPECT_NE(sock.receive().find(" again"), std::string::npos);

  setenv("KELM_SYSLOG_SOCKET", (root.dir() / std::string(200, 's')).c_str(), 1);
  SyslogSender tooLong("x", kFacilityDaemon, clock);
  EXPECT_FALSE(tooLong.send(EventType::Error, "", "m"));
}

}  // namespace
