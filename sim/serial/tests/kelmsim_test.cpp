// The kelmsim command as an administrator runs it, in a private root.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
  int code;
  std::string out;
};

class Kelmsim : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() / ("kelmsim-cli-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root);
    const char* bin = std::getenv("KELM_TEST_BIN");
    program = std::string(bin ? bin : ".") + "/kelmsim";
  }
  void TearDown() override {
    run("stop");
    std::filesystem::remove_all(root);
  }
  Outcome run(const std::string& args) {
    std::string cmd = "KELM_ROOT='" + root.string() + "' '" + program + "' " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    Outcome r{-1, {}};
    if (!p) return r;
    std::array<char, 512> buf;
    while (std::fgets(buf.data(), buf.size(), p)) r.out += buf.data();
    int st = ::pclose(p);
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  }
  std::filesystem::path root;
  std::string program;
};

TEST_F(Kelmsim, StartStatusFaultStop) {
  auto started = run("start --stepped-clock");
  ASSERT_EQ(started.code, 0) << started.out;
  EXPECT_TRUE(std::filesystem::is_symlink(root / "dev" / "ttyS0"));
  EXPECT_NE(run("start").code, 0) << "a second start is refused";

  auto status = run("status");
  EXPECT_EQ(status.code, 0);
  EXPECT_NE(status.out.find("array 0 \"Data\" raid5 disks 1 2 3 state 0x00000000 functional"), std::string::npos)
      << status.out;

  EXPECT_EQ(run("fault fail-disk 2").code, 0);
  EXPECT_NE(run("status").out.find("critical"), std::string::npos);
  auto unknown = run("fault no-such-thing");
  EXPECT_NE(unknown.code, 0);
  EXPECT_NE(unknown.out.find("no simulator knows"), std::string::npos);
  EXPECT_EQ(run("fault serial:unplug").code, 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(root / "dev" / "ttyS0")));
  EXPECT_EQ(run("fault replug").code, 0);
  EXPECT_NE(run("fault step 5000").out.find("model time 5000 ms"), std::string::npos);

  EXPECT_EQ(run("stop").code, 0);
  EXPECT_NE(run("status").code, 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(root / "dev" / "ttyS0")));
}

TEST_F(Kelmsim, ScenarioFileBuildsTheModelAndBadOnesAreRefused) {
  auto good = root / "good.scn";
  std::ofstream(good) << "# two disks, one mirror\n[serial]\nhandshake warm\ndisk 1 Alpha 1000\ndisk 2 Beta 1000\n"
                         "array 3 raid1 Mirror 1 2\nwork 2000\n";
  auto bad = root / "bad.scn";
  std::ofstream(bad) << "[serial]\ndisk 1 Alpha\n";
  auto refused = run("start --scenario " + bad.string());
  EXPECT_NE(refused.code, 0);
  EXPECT_NE(refused.out.find("disk ID NAME SIZE_MB"), std::string::npos) << refused.out;
  EXPECT_NE(run("start --scenario /nonexistent.scn").code, 0);
  ASSERT_EQ(run("start --scenario " + good.string()).code, 0);
  auto status = run("status").out;
  EXPECT_NE(status.find("array 3 \"Mirror\" raid1 disks 1 2"), std::string::npos) << status;
  EXPECT_EQ(run("bogus").code, 2);
}

// A control client of our own: connected, one command sent, then left as the test decides.
int sendRaw(const std::filesystem::path& sock, const std::string& line, int receiveBuffer) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", sock.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST_F(Kelmsim, ClientsThatDoNotTakeTheirRepliesHoldNobodyUp) {
  ASSERT_EQ(run("start --stepped-clock").code, 0);
  const auto sock = root / "run" / "kelm" / "kelmsim.sock";
  // Clients that leave before their reply is written: the daemon must neither die of the broken
  // pipe nor stall.
  for (int i = 0; i < 4; ++i) {
    const int fd = sendRaw(sock, "status\n", 0);
    ASSERT_GE(fd, 0) << sock;
    ::close(fd);
  }
  // Clients that keep their connection but never read, with the smallest receive buffer: their
  // replies wait in the daemon, which serves the others meanwhile.
  std::vector<int> silent;
  for (int i = 0; i < 8; ++i) silent.push_back(sendRaw(sock, "status\n", 1));
  for (int fd : silent) ASSERT_GE(fd, 0);
  auto status = run("status");
  EXPECT_EQ(status.code, 0) << status.out;
  EXPECT_NE(status.out.find("cable plugged"), std::string::npos) << status.out;
  // The silent ones still get their whole reply once they read.
  char buf[4096];
  std::string got;
  for (ssize_t n; (n = ::recv(silent[0], buf, sizeof buf, 0)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  EXPECT_EQ(got, status.out);
  for (int fd : silent) ::close(fd);
}

TEST_F(Kelmsim, TheIdeDriverStandsBesideTheSerialSubsystem) {
  ASSERT_EQ(run("start --stepped-clock").code, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(root / "dev" / "ttyS0")) << "the serial subsystem still starts";
  EXPECT_TRUE(std::filesystem::is_socket(root / "dev" / "Scsi0:"));
  EXPECT_TRUE(std::filesystem::exists(root / "windows/system32/drivers/marovelt.sys"));
  auto status = run("status").out;
  EXPECT_NE(status.find("[ide]"), std::string::npos) << status;
  EXPECT_NE(status.find("array 0 mirror disks 0 2"), std::string::npos) << status;
  EXPECT_NE(status.find("array 1 distributed-parity disks 4 5 6"), std::string::npos) << status;

  EXPECT_EQ(run("fault disk-fail 2").code, 0);
  EXPECT_NE(run("status").out.find("array 0 mirror disks 0 2 40960 MB critical"), std::string::npos);
  auto bad = run("fault enclosure 0 fan lots");
  EXPECT_NE(bad.code, 0);
  EXPECT_NE(bad.out.find("usage: enclosure CHANNEL"), std::string::npos) << bad.out;
  EXPECT_EQ(run("fault ide:driver-port 3").code, 0);
  EXPECT_TRUE(std::filesystem::is_socket(root / "dev" / "Scsi3:"));
  EXPECT_EQ(run("stop").code, 0);
  EXPECT_FALSE(std::filesystem::exists(root / "dev" / "Scsi0:"));
}

TEST_F(Kelmsim, AnIdeScenarioIsCheckedBeforeAnythingStarts) {
  auto bad = root / "bad-ide.scn";
  std::ofstream(bad) << "[ide]\ncard 0 3\ndisk 0 1000\narray 0 raid1 0 1\n";
  auto refused = run("start --scenario " + bad.string());
  EXPECT_NE(refused.code, 0);
  EXPECT_NE(refused.out.find("[ide] entry 3"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("disk 1 is not declared"), std::string::npos) << refused.out;

  auto good = root / "good-ide.scn";
  std::ofstream(good) << "[ide]\ncard 0 9\ndisk 0 1000 udma4\ndisk 2 1000\narray 0 raid0 0 2\nport 1\n";
  ASSERT_EQ(run("start --scenario " + good.string()).code, 0);
  auto status = run("status").out;
  EXPECT_NE(status.find("array 0 stripe disks 0 2 2000 MB functional"), std::string::npos) << status;
  EXPECT_TRUE(std::filesystem::is_socket(root / "dev" / "Scsi1:"));
  EXPECT_TRUE(std::filesystem::is_symlink(root / "dev" / "ttyS0")) << "no [serial] section: its default model";
}

}  // namespace
