// The simulated intelligent-I/O driver as the real kelmsim daemon serves it: requests through device
// I/O on the device sockets of a private root, faults and model time through the kelmsim command.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/devio/device.h"
#include "sim/iop/tests/helpers.h"
#include "tests/system/serial/sim_process.h"

namespace {

using sim::iop::get32;
using sim::iop::testing::Bytes;
using sim::iop::testing::words;

class IopDriverAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string out;
    ASSERT_EQ(sim.kelmsim("start --stepped-clock", &out), 0) << out;
    auto h = plat::devio::open("\\\\.\\i2oexec");
    ASSERT_TRUE(h) << "the driver's own device is served without a scenario";
    handle = std::move(*h);
    ASSERT_EQ(send(sim::iop::kIoctlIdentify, sim::iop::testing::identifyRequest(0), 80).size(), 80u);
  }
  std::string kelmsim(const std::string& args) {
    std::string out;
    EXPECT_EQ(sim.kelmsim(args, &out), 0) << args << ": " << out;
    return out;
  }
  Bytes send(std::uint32_t code, const Bytes& in, std::size_t capacity) {
    Bytes out(capacity);
    auto r = plat::devio::ioctl(handle, code, in, out);
    EXPECT_TRUE(r) << std::hex << code;
    out.resize(r.valueOr(0));
    return out;
  }
  // Reply words of one API command of IOP1.
  std::vector<std::uint32_t> call(std::uint16_t command, std::initializer_list<std::uint32_t> args) {
    Bytes out = send(sim::iop::kIoctlApi, sim::iop::testing::apiMessage(0, 0x21, command, words(args)), 2048);
    std::vector<std::uint32_t> w;
    for (std::size_t i = 0; i + 4 <= out.size(); i += 4) w.push_back(get32(out.data() + i));
    return w;
  }
  std::vector<std::uint32_t> eventTypes() {
    std::vector<std::uint32_t> types;
    auto r = call(0x3104, {0, 16});
    std::size_t at = 2;
    for (std::uint32_t i = 0; r.size() >= 2 && i < r[1] && at + 4 <= r.size(); ++i) {
      types.push_back(r[at]);
      at += 4 + r[at + 3];
    }
    return types;
  }
  const char* bin = std::getenv("KELM_TEST_BIN");
  kelm::systest::SimProcess sim{bin ? bin : ".", "kelm-iop-driver"};
  plat::devio::Handle handle;
};

TEST_F(IopDriverAgainstSim, TheDefaultCardAndARebuildAfterADriveFailure) {
  EXPECT_EQ(call(0x3000, {0}), (std::vector<std::uint32_t>{0, 0x0126}));
  EXPECT_EQ(call(0x3003, {0x40}), (std::vector<std::uint32_t>{0, 2})) << "two arrays in the container";
  std::uint32_t mirror = call(0x3004, {0x40, 0})[1];
  std::uint32_t failed = call(0x3004, {0, 0})[1];

  kelmsim("fault iop:disk-fail 0 0 0");
  EXPECT_EQ(eventTypes(), (std::vector<std::uint32_t>{256, 522}));
  EXPECT_EQ(call(0x3301, {mirror})[1], 0x80000001u);
  kelmsim("fault iop:disk-insert 0 0 0");
  std::uint32_t fresh = call(0x3004, {0, 0})[1];
  EXPECT_NE(fresh, failed);
  ASSERT_EQ(call(0x3309, {mirror, fresh})[0], 0u);
  ASSERT_EQ(call(0x3400, {mirror, 512 | 0x10002, 0})[0], 0u);
  kelmsim("fault step 30000");
  EXPECT_EQ(call(0x3401, {mirror}), (std::vector<std::uint32_t>{0, 1, 30}));
  ASSERT_EQ(call(0x3400, {mirror, 1024 | 0x10002, 0})[0], 0u);
  kelmsim("fault step 50000");
  EXPECT_EQ(call(0x3401, {mirror}), (std::vector<std::uint32_t>{0, 4, 30}));
  ASSERT_EQ(call(0x3400, {mirror, 256 | 0x10002, 0})[0], 0u);
  kelmsim("fault step 70000");
  EXPECT_EQ(call(0x3301, {mirror})[1], 0u);
  EXPECT_EQ(eventTypes(), (std::vector<std::uint32_t>{257, 513, 523}));
}

TEST_F(IopDriverAgainstSim, TheTunnelPathBesideTheIdeDriver) {
  kelmsim("fault iop:path tunnel 1");
  auto port = plat::devio::open("\\\\.\\Scsi1:");
  ASSERT_TRUE(port);
  Bytes out(28);
  ASSERT_TRUE(plat::devio::ioctl(*port, sim::iop::kIoctlMiniport, sim::iop::testing::block(1, 0), out));
  EXPECT_EQ(std::string(out.begin() + 4, out.begin() + 12), "PALNDREX");
  EXPECT_TRUE(plat::devio::open("\\\\.\\Scsi0:")) << "the IDE driver keeps its port";
  std::string status = kelmsim("status");
  EXPECT_NE(status.find("devices: Scsi1: Scsi2:"), std::string::npos) << status;
  std::string refused;
  EXPECT_NE(sim.kelmsim("fault iop:path tunnel 0", &refused), 0) << "port 0 is the IDE driver's";
  EXPECT_NE(kelmsim("status").find("devices: Scsi1: Scsi2:"), std::string::npos) << "what stood keeps being served";
}

}  // namespace
