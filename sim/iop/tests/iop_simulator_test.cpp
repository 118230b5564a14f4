// The simulated driver as a host reaches it: device sockets under a private root, opened and sent
// requests through platform/devio, while a serving thread runs the simulator's poll loop.
#include "sim/iop/iop_simulator.h"

#include <gtest/gtest.h>
#include "platform/base/clock.h"
#include "platform/base/format.h"
#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"
#include "platform/devio/device.h"
#include "sim/core/daemon.h"
#include "sim/core/serving_thread.h"
#include "sim/iop/tests/helpers.h"
#include "platform/testing/manual_clock.h"

namespace sim::iop {
namespace {

using testing::Bytes;
using testing::words;

class Served : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.configureDefault();
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
  // One request; the bytes answered, or nothing with the device's status in *status.
  std::optional<Bytes> request(plat::devio::Handle& h, std::uint32_t code, const Bytes& in, std::size_t capacity,
                               int* status = nullptr) {
    Bytes out(capacity);
    auto r = plat::devio::ioctl(h, code, in, out);
    if (!r) {
      if (status) *status = r.error().code;
      return std::nullopt;
    }
    out.resize(*r);
    return out;
  }
  plat::testing::TempRoot root;
  IopSimulator sim;
  std::unique_ptr<sim::testing::ServingThread> server;
};

TEST_F(Served, EachHandleSpeaksToTheCardItIdentified) {
  auto first = plat::devio::open("\\\\.\\i2oexec");
  auto second = plat::devio::open("\\\\.\\i2oexec");
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(request(*first, kIoctlIdentify, testing::identifyRequest(0), 80));
  ASSERT_TRUE(request(*second, kIoctlIdentify, testing::identifyRequest(1), 80));
  auto a = request(*first, kIoctlApi, testing::apiMessage(0, 0x21, 0x3000, words({0})), 2048);
  auto b = request(*second, kIoctlApi, testing::apiMessage(1, 0x22, 0x3000, words({0})), 2048);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, words({0, 0x0126}));
  EXPECT_EQ(*b, words({0, 0x0115}));
  int status = 0;
  EXPECT_FALSE(request(*first, kIoctlApi, testing::apiMessage(1, 0x22, 0x3000, words({0})), 2048, &status));
  EXPECT_EQ(status, ENXIO);

  fault("second-absent");
  auto third = plat::devio::open("\\\\.\\i2oexec");
  ASSERT_TRUE(third);
  EXPECT_FALSE(request(*third, kIoctlIdentify, testing::identifyRequest(1), 80, &status));
  EXPECT_EQ(status, ENODEV);
}

TEST_F(Served, TheDriverFileLiesBesideTheOtherDriversWhileAPathIsServed) {
  const auto file = driverFilePath();
  EXPECT_EQ(file.parent_path(), plat::paths::windowsDir() / "system32/drivers");
  EXPECT_EQ(file.filename(), "quorvan.sys");
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(fault("path", {"none"}), "ok: path set\n");
  EXPECT_FALSE(std::filesystem::exists(file)) << "no driver, no driver file";
  EXPECT_EQ(fault("path", {"tunnel", "0"}), "ok: path set\n");
  EXPECT_TRUE(std::filesystem::exists(file));
  server.reset();
  sim.stop();
  EXPECT_FALSE(std::filesystem::exists(file)) << "removed when the simulator stops";
}

TEST_F(Served, TheTunnelPathAndAForeignAdapter) {
  EXPECT_EQ(fault("path", {"tunnel", "3"}), "ok: path set\n");
  EXPECT_EQ(fault("foreign-port", {"2"}), "ok: foreign-port set\n");
  EXPECT_FALSE(plat::devio::open("\\\\.\\i2oexec")) << "the driver's own device is gone";
  auto foreign = plat::devio::open("\\\\.\\Scsi2:");
  auto ours = plat::devio::open("\\\\.\\Scsi3:");
  auto next = plat::devio::open("\\\\.\\Scsi4:");
  ASSERT_TRUE(foreign && ours && next);
  auto f = request(*foreign, kIoctlMiniport, testing::block(1, 0), 28);
  auto o = request(*ours, kIoctlMiniport, testing::block(1, 0), 28);
  ASSERT_TRUE(f && o);
  EXPECT_EQ(std::string(f->begin() + 4, f->begin() + 12), "OTHERHBA");
  EXPECT_EQ(std::string(o->begin() + 4, o->begin() + 12), "PALNDREX");

  Bytes id = testing::block(kIoctlIdentify, 96, testing::identifyRequest(1));
  id.resize(124, 0);
  ASSERT_TRUE(request(*next, kIoctlMiniport, id, 124));
  auto api = request(*next, kIoctlMiniport, testing::block(kIoctlApi, 4096, testing::apiMessage(1, 0x22, 0x3000, words({0}))),
                     4130);
  ASSERT_TRUE(api);
  ASSERT_EQ(api->size(), 4130u);
  EXPECT_EQ(Bytes(api->begin() + 2086, api->begin() + 2094), words({0, 0x0115}));

  EXPECT_EQ(fault("path", {"none"}), "ok: path set\n");
  EXPECT_FALSE(plat::devio::open("\\\\.\\Scsi3:"));
}

TEST_F(Served, FaultCommandsAreCheckedAndReported) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool ok;
  } cases[] = {
      {"disk-fail", {"0", "0", "0"}, true},
      {"disk-fail", {"0", "0"}, false},
      {"disk-fail", {"2", "0", "0"}, false},
      {"disk-insert", {"0", "0", "0", "500"}, true},
      {"disk-insert", {"0", "9", "0"}, false},
      {"sensor", {"0", "0", "fan", "500"}, true},
      {"sensor", {"0", "0", "smell", "5"}, false},
      {"sensor", {"0", "1", "fan", "500"}, false},
      {"event", {"0", "515", "1", "0x200"}, true},
      {"event", {"0", "515"}, false},
      {"event", {"0", "1", "1", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16", "17"}, false},
      {"command-status", {"0x3301", "7"}, true},
      {"command-status", {"0x3399", "7"}, false},
      {"command-status", {"0x3301", "0"}, true},
      {"transport-fail", {"2", "0x222EC0"}, true},
      {"transport-fail", {"x"}, false},
      {"identify-fail", {}, true},
      {"short-reply", {"1", "0x3302"}, true},
      {"short-reply", {"1", "0x9999"}, false},
      {"long-text", {"1500"}, true},
      {"long-text", {"2001"}, false},
      {"long-members", {"20"}, true},
      {"long-members", {"65"}, false},
      {"path", {"tunnel", "9"}, false},
      {"path", {"sideways"}, false},
      {"foreign-port", {"10"}, false},
      {"second-present", {}, true},
      {"clear", {}, true},
  };
  for (const auto& c : cases) {
    std::string reply = fault(c.name, c.args);
    EXPECT_EQ(reply.rfind(c.ok ? "ok" : "error", 0), 0u) << c.name << ": " << reply;
  }
  fault("long-text", {"100"});
  EXPECT_NE(server->locked([](Simulator& x) { return x.status(); }).find("faults: names 100 long;"), std::string::npos);
  fault("clear");
  EXPECT_EQ(server->fault("no-such-fault"), "");
  std::string s = server->locked([](Simulator& x) { return x.status(); });
  EXPECT_NE(s.find("IOP1: present"), std::string::npos) << s;
  EXPECT_NE(s.find("devices: i2oexec"), std::string::npos) << s;
}

}  // namespace
}  // namespace sim::iop

namespace sim::iop {
namespace {

// The daemon as kelmsim runs it: the [iop] section, faults by name and model time by steps.
TEST(IopDaemon, ScenarioSectionFaultsAndSteppedTasks) {
  plat::ManualClock real;
  ModelClock clock(real, true);
  std::vector<std::unique_ptr<Simulator>> sims;
  sims.push_back(makeIopSimulator());
  auto* iop = static_cast<IopSimulator*>(sims.back().get());
  Daemon daemon(std::move(sims), clock);
  auto configured = daemon.configureText(
      "[iop]\ncard 0 0x0126\nchannel 0 0 1\nchannel 0 1 1\n"
      "disk 0 0 0 1000\ndisk 0 1 0 1000\ndisk 0 0 1 1000\n"
      "array 0 raid1 Pair 0:0 1:0\ntask 10000\npath none\n");
  ASSERT_TRUE(configured) << configured.message();
  CardModel& m = iop->model();
  ASSERT_EQ(m.cardCount(), 1);
  std::uint32_t pair = m.card(0)->arrays[0].handle;
  std::uint32_t first = m.card(0)->disks[0].handle;
  EXPECT_EQ(daemon.command("fault iop:disk-fail 0 0 0"), plat::format("ok: disk 0x%X failed\n", first));
  EXPECT_EQ(daemon.command("fault iop:disk-fail 0 0 0"), "error: no working disk at that place\n");
  EXPECT_EQ(daemon.command("fault iop:disk-insert 0 0 0 1000").rfind("ok", 0), 0u);
  std::uint32_t fresh = m.card(0)->disks.back().handle;
  auto run = [&](std::uint16_t code, std::vector<std::uint32_t> args) {
    std::vector<Value> rq(args.begin(), args.end());
    return m.execute(0, code, rq, 2048)[0].u;
  };
  ASSERT_EQ(run(0x3309, {pair, fresh}), kOk);
  ASSERT_EQ(run(0x3400, {pair, kActionStart | 0x10002, 0}), kOk);
  daemon.command("fault step 4000");
  EXPECT_NE(daemon.command("status").find("raid1 critical+rebuilding 40%"), std::string::npos) << daemon.command("status");
  daemon.command("fault step 6000");
  std::vector<std::uint32_t> types;
  for (const auto& e : m.card(0)->events) types.push_back(e.type);
  EXPECT_EQ(types, (std::vector<std::uint32_t>{256, 522, 257, 513, 523}));
  EXPECT_NE(daemon.command("status").find("raid1 functional"), std::string::npos);

  EXPECT_EQ(daemon.command("fault iop:long-members 99").rfind("error", 0), 0u);
  std::vector<std::unique_ptr<Simulator>> again;
  again.push_back(makeIopSimulator());
  Daemon strict(std::move(again), clock);
  auto refused = strict.configureText("[iop]\npath tunnel 42\n");
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.message().find("[iop]"), std::string::npos) << refused.message();
}

}  // namespace
}  // namespace sim::iop
