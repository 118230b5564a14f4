// The simulated IDE driver as the real kelmsim daemon serves it: requests through device I/O on the
// device sockets of a private root, faults and model time through the kelmsim command.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include "sim/ide/tests/request_helpers.h"
#include "tests/system/serial/sim_process.h"

namespace {

using namespace sim::ide::testing;

constexpr const char* kPort0 = "\\\\.\\Scsi0:";

bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 2000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return f();
}

struct Event {
  std::uint32_t code, w20, w24, w28;
};

std::vector<Event> readEvents() {
  std::vector<Event> out;
  auto count = send(kPort0, request(18, 4));
  if (count.error || count.out.size() != 32) return out;
  auto read = send(kPort0, request(19, 884, {static_cast<std::uint8_t>(u32(count.out, 28))}));
  if (read.error) return out;
  for (std::uint32_t i = 0; i < u32(read.out, 28); ++i) {
    std::size_t at = 32 + 44 * i;
    out.push_back({u32(read.out, at), u32(read.out, at + 20), u32(read.out, at + 24), u32(read.out, at + 28)});
  }
  return out;
}

std::vector<std::uint32_t> codes(const std::vector<Event>& events) {
  std::vector<std::uint32_t> c;
  for (const auto& e : events) c.push_back(e.code);
  return c;
}

class DriverAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string out;
    ASSERT_EQ(sim.kelmsim("start --stepped-clock", &out), 0) << out;
  }
  std::string kelmsim(const std::string& args) {
    std::string out;
    EXPECT_EQ(sim.kelmsim(args, &out), 0) << args << ": " << out;
    return out;
  }
  bool blocked() {
    std::string out;
    sim.kelmsim("status", &out);
    return out.find("blocked: rebuild") != std::string::npos;
  }
  const char* bin = std::getenv("KELM_TEST_BIN");
  kelm::systest::SimProcess sim{bin ? bin : ".", "kelm-ide-driver"};
};

TEST_F(DriverAgainstSim, ARebuildRunsOnModelTimeAndAnotherHandleStopsTheNext) {
  Bytes member(64, 0);
  member[60] = 1;  // the mirror's second member, disk 2
  auto first = std::async(std::launch::async, [&] { return send(kPort0, request(9, 64, member)); });
  ASSERT_TRUE(eventually([&] { return blocked(); }));
  kelmsim("fault step 50000");
  auto activity = send(kPort0, request(10, 16));
  ASSERT_EQ(activity.error, 0) << "other handles keep working while the rebuild blocks";
  EXPECT_EQ(Bytes(activity.out.begin() + 28, activity.out.begin() + 32), hex("02 32 01 00"));
  kelmsim("fault step 60000");
  auto done = first.get();
  ASSERT_EQ(done.error, 0);
  EXPECT_EQ(u32(done.out, 20), 0u) << "completed";
  auto events = readEvents();
  EXPECT_EQ(codes(events), (std::vector<std::uint32_t>{0x40000001, 0x80000200}));

  auto second = std::async(std::launch::async, [&] { return send(kPort0, request(9, 64, member)); });
  ASSERT_TRUE(eventually([&] { return blocked(); }));
  kelmsim("fault step 25000");
  Bytes abort(64, 0);
  set32(abort, 8, 0x3000000);
  abort[60] = 2;
  EXPECT_EQ(u32(send(kPort0, request(9, 64, abort)).out, 20), 0u);
  auto stopped = second.get();
  ASSERT_EQ(stopped.error, 0);
  EXPECT_EQ(u32(stopped.out, 20), 2u) << "aborted";
  events = readEvents();
  ASSERT_EQ(codes(events), (std::vector<std::uint32_t>{0x40000001, 0x80000202}));
  EXPECT_EQ(events[1].w20, 0u) << "array";
  EXPECT_EQ(events[1].w24, 2u) << "disk";
  EXPECT_EQ(events[1].w28, 25u) << "percent";
}

TEST_F(DriverAgainstSim, ADiskFailureShowsInTheTablesAndQueuesItsEvents) {
  kelmsim("fault disk-fail 2");
  auto events = readEvents();
  ASSERT_EQ(codes(events), (std::vector<std::uint32_t>{0x80000100, 0x80000206}));
  EXPECT_EQ(events[0].w20, 2u);
  EXPECT_EQ(events[1].w20, 0u);
  auto disks = send(kPort0, request(6, 408));
  ASSERT_EQ(disks.out.size(), 28u + 408);
  EXPECT_EQ(disks.out[28 + 2 * 24] & 7, 1) << "offline";
  auto arrays = send(kPort0, request(4, 256));
  EXPECT_EQ(arrays.out[28 + 2], 0x1F) << "critical";
  EXPECT_EQ(arrays.out[28 + 32 + 4 + 0] & 3, 1) << "the member is present, not online";
}

TEST_F(DriverAgainstSim, TheDriverMovesAcrossPortsAndAwayWithItsVersion) {
  kelmsim("fault driver-version 1.10");
  EXPECT_EQ(u32(send(kPort0, request(1, 0)).out, 20), 0x000A0001u);
  kelmsim("fault driver-port 2");
  // The host's scan: the first port whose version answer is not left at -1.
  int found = -1;
  for (int port = 0; port < 10 && found < 0; ++port) {
    std::string name = "\\\\.\\Scsi" + std::to_string(port) + ":";
    auto r = send(name.c_str(), request(1, 0));
    if (r.error == 0 && u32(r.out, 20) != 0xFFFFFFFF) found = port;
  }
  EXPECT_EQ(found, 2);
  kelmsim("fault no-driver");
  EXPECT_EQ(send("\\\\.\\Scsi2:", request(1, 0)).error, ENOENT);
  EXPECT_EQ(send("\\\\.\\Quellix", request(1, 0)).error, ENOENT);
}

TEST_F(DriverAgainstSim, AnEnclosureAlarmIsQueuedAndTheSensorReadsTheNewValue) {
  kelmsim("fault enclosure 0 temperature 60");
  auto events = readEvents();
  ASSERT_EQ(codes(events), (std::vector<std::uint32_t>{0x8000020E}));
  EXPECT_EQ(events[0].w20, 0u) << "channel";
  EXPECT_EQ(events[0].w28, 120u) << "half degrees";
  auto sensor = send(kPort0, request(24, 8, {2, 0, 0}));
  ASSERT_EQ(sensor.out.size(), 36u);
  EXPECT_EQ(u32(sensor.out, 32), 120u);
}

TEST_F(DriverAgainstSim, ProtocolFaultsReachTheHost) {
  kelmsim("fault short-reply 1 18");
  EXPECT_EQ(send(kPort0, request(18, 4)).out.size(), 28u);
  kelmsim("fault fail-requests 2");
  EXPECT_NE(send(kPort0, request(1, 0)).error, 0);
  EXPECT_NE(send(kPort0, request(1, 0)).error, 0);
  EXPECT_EQ(send(kPort0, request(1, 0)).error, 0);
}

}  // namespace
