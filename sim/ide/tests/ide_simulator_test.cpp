// The simulated driver as a host reaches it: device sockets under a private root, opened and sent
// requests through platform/devio, while a serving thread runs the simulator's poll loop.
#include "sim/ide/ide_simulator.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "platform/testing/temp_root.h"
#include "platform/kernel/version_block.h"
#include "sim/core/serving_thread.h"
#include "sim/ide/tests/request_helpers.h"

namespace sim::ide {
namespace {

using namespace sim::ide::testing;

class Served : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = sim.start();
    ASSERT_TRUE(started) << started.message();
    server = std::make_unique<sim::testing::ServingThread>(sim);
  }
  void TearDown() override { server.reset(); }
  std::string fault(const std::string& name, std::vector<std::string> args = {}) {
    std::string reply = server->fault(name, args);
    EXPECT_FALSE(reply.empty()) << name;
    return reply;
  }
  void advanceTo(std::int64_t ms) { server->advanceTo(ms); }
  bool blockedRequests() {
    return server->locked([](Simulator& s) { return s.status().find("blocked:") != std::string::npos; });
  }
  plat::testing::TempRoot root;
  IdeSimulator sim;
  std::unique_ptr<sim::testing::ServingThread> server;
};

TEST_F(Served, TheDriverAnswersOnItsPortAndUnderItsOwnName) {
  for (const char* name : {"\\\\.\\Scsi0:", "\\\\.\\Quellix"}) {
    auto r = send(name, request(1, 0));
    ASSERT_EQ(r.error, 0) << name;
    EXPECT_EQ(u32(r.out, 20), 2u) << name;
  }
  EXPECT_NE(send("\\\\.\\Scsi1:", request(1, 0)).error, 0) << "nothing serves port 1";
}

TEST_F(Served, PortsBeforeTheDriversBelongToOtherAdapters) {
  fault("driver-port", {"2"});
  for (const char* name : {"\\\\.\\Scsi0:", "\\\\.\\Scsi1:"}) {
    auto r = send(name, request(1, 0));
    ASSERT_EQ(r.error, 0) << name;
    EXPECT_EQ(u32(r.out, 20), 0xFFFFFFFFu) << name << ": the preset stays";
  }
  EXPECT_EQ(u32(send("\\\\.\\Scsi2:", request(1, 0)).out, 20), 2u);
  EXPECT_NE(send("\\\\.\\Scsi3:", request(1, 0)).error, 0);

  fault("no-driver");
  EXPECT_NE(send("\\\\.\\Scsi2:", request(1, 0)).error, 0);
  EXPECT_NE(send("\\\\.\\Quellix", request(1, 0)).error, 0);
  EXPECT_FALSE(std::filesystem::exists(driverFilePath()));
  fault("driver-port", {"0"});
  EXPECT_EQ(send("\\\\.\\Scsi0:", request(1, 0)).error, 0);
}

TEST_F(Served, TheDriverFileCarriesTheDriversVersion) {
  auto fileVersion = [] {
    auto block = plat::kernel::readVersionBlock(driverFilePath());
    if (!block) return std::string("none");
    auto v = plat::kernel::queryVersionValue(*block, "\\StringFileInfo\\040904b0\\FileVersion");
    return v ? std::string(v->begin(), v->end()) : std::string("none");
  };
  EXPECT_EQ(fileVersion(), "2.0.0.0");
  fault("driver-version", {"1.10"});
  EXPECT_EQ(fileVersion(), "1.10.0.0");
  EXPECT_EQ(u32(send("\\\\.\\Scsi0:", request(1, 0)).out, 20), 0x000A0001u);
}

TEST_F(Served, ARebuildBlocksItsCallerUntilAnotherHandleStopsIt) {
  Bytes start(64, 0);
  start[60] = 1;
  auto rebuild = std::async(std::launch::async, [&] { return send("\\\\.\\Scsi0:", request(9, 64, start)); });
  for (int i = 0; i < 5000 && !blockedRequests(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(blockedRequests());

  advanceTo(30000);
  auto activity = send("\\\\.\\Scsi0:", request(10, 16));
  ASSERT_EQ(activity.error, 0) << "other handles keep working";
  EXPECT_EQ(Bytes(activity.out.begin() + 28, activity.out.begin() + 32), hex("02 1E 01 00"));

  Bytes abort(64, 0);
  set32(abort, 8, kAbortWord);
  EXPECT_EQ(u32(send("\\\\.\\Scsi0:", request(9, 64, abort)).out, 20), kReturnOk);
  auto answered = rebuild.get();
  ASSERT_EQ(answered.error, 0);
  EXPECT_EQ(u32(answered.out, 20), kReturnAborted);
}

TEST_F(Served, ASynchroniseAnswersWhenModelTimeCompletesIt) {
  auto sync = std::async(std::launch::async, [&] { return send("\\\\.\\Scsi0:", request(8, 64, {1})); });
  for (int i = 0; i < 5000 && !blockedRequests(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(blockedRequests());
  advanceTo(100000);
  auto answered = sync.get();
  ASSERT_EQ(answered.error, 0);
  EXPECT_EQ(u32(answered.out, 20), kReturnOk);
  auto count = send("\\\\.\\Scsi0:", request(18, 4));
  EXPECT_EQ(u32(count.out, 28), 2u) << "started and completed";
}

}  // namespace
}  // namespace sim::ide
