// The simulator on a real pseudo-terminal, driven in-process; the host side is the platform serial port.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/base/paths.h"
#include "platform/serial/serial_port.h"
#include "sim/serial/serial_simulator.h"

namespace sim::serial {
namespace {

struct PtyFixture : ::testing::Test {
  std::filesystem::path root;
  SerialSimulator sim;
  void SetUp() override {
    root = std::filesystem::temp_directory_path() / ("kelmsim-pty-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root);
    ::setenv("KELM_ROOT", root.c_str(), 1);
    auto started = sim.start();
    ASSERT_TRUE(started) << started.message();
  }
  void TearDown() override {
    sim.stop();
    std::filesystem::remove_all(root);
    ::unsetenv("KELM_ROOT");
  }
  // Lets the simulator serve what the host wrote (a short real wait for the bytes to cross).
  void serve() {
    std::vector<Watch> w;
    sim.watches(w);
    if (w.empty()) return;
    pollfd p{w[0].fd, POLLIN, 0};
    ::poll(&p, 1, 200);
    sim.ready(w[0].fd, p.revents, 0);
  }
  Bytes ask(plat::serial::SerialPort& port, const Bytes& out, std::size_t replyLength) {
    auto w = port.write(out.data(), out.size(), 1000);
    EXPECT_TRUE(w) << w.message();
    EXPECT_EQ(w.valueOr(0), out.size());
    serve();
    Bytes in(replyLength);
    auto r = port.read(in.data(), in.size(), 500);
    EXPECT_TRUE(r) << r.message();
    in.resize(r.valueOr(0));
    return in;
  }
};

TEST_F(PtyFixture, PublishesComOneAndSpeaksTheProtocol) {
  auto link = plat::paths::serialPortDevice(1);
  ASSERT_TRUE(std::filesystem::is_symlink(link));
  auto port = plat::serial::SerialPort::open(link, 115200).valueOr(nullptr);
  ASSERT_TRUE(port);
  EXPECT_EQ(ask(*port, {0xA2}, 3), (Bytes{0xA3, 0xA3, 0x00}));
  EXPECT_TRUE(ask(*port, {0xA4}, 0).empty());
  EXPECT_EQ(ask(*port, {0xA1, 0xA1, 0x65, 0x00, 0x00, 0x00, 0x04, 0x00}, 8), (Bytes{0x65, 0, 0, 0, 3, 0, 0, 0}));
}

TEST_F(PtyFixture, PullingTheCableHangsUpTheHostAndPluggingPublishesAFreshLine) {
  auto link = plat::paths::serialPortDevice(1);
  auto port = plat::serial::SerialPort::open(link, 115200).valueOr(nullptr);
  ASSERT_TRUE(port);
  std::string reply;
  ASSERT_TRUE(sim.fault("unplug", {}, &reply));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  std::uint8_t b;
  EXPECT_FALSE(port->read(&b, 1, 500)) << "a hang-up is a failure of the line";
  ASSERT_TRUE(sim.fault("plug", {}, &reply));
  port.reset();
  port = plat::serial::SerialPort::open(link, 115200).valueOr(nullptr);
  ASSERT_TRUE(port);
  EXPECT_EQ(ask(*port, {0xA2}, 3), (Bytes{0xA3, 0xA3, 0x00})) << "a replugged subsystem starts cold";
}

TEST_F(PtyFixture, FaultArgumentsAreChecked) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> bad = {
      {"silence", {"many"}}, {"late", {}},        {"late", {"-4"}},       {"status", {"0"}}, {"garbage", {"99999"}},
      {"fail-disk", {"7"}},  {"fan", {"9", "0"}}, {"temperature", {"x"}}, {"event", {}},     {"handshake", {"hot"}},
  };
  for (const auto& [name, args] : bad) {
    std::string reply;
    EXPECT_TRUE(sim.fault(name, args, &reply)) << name;
    EXPECT_EQ(reply.rfind("error", 0), 0u) << name << ": " << reply;
  }
  std::string reply;
  EXPECT_FALSE(sim.fault("no-such-fault", {}, &reply));
}

}  // namespace
}  // namespace sim::serial
