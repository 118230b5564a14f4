// The device paths: the driver's own device and the SCSI-port tunnel, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <atomic>
#include <memory>
#include <thread>

#include "components/iop/controller_device.h"
#include "components/iop/tests/wire_bytes.h"
#include "platform/testing/temp_root.h"
#include "platform/devio/device_server.h"

namespace kelm::iop {
namespace {

using testing::Bytes;
using testing::Le32;

struct Seen {
  std::uint32_t code = 0;
  Bytes in;
  std::size_t outSize = 0;
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPath(); }
  void TearDown() override { ResetPath(); }

  // A device that records each request and answers with `answer(code, in, out)`.
  using Answer =
      std::function<plat::Result<std::size_t>(std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t>)>;
  void Serve(const std::string& name, Answer answer) {
    devices.push_back(std::make_unique<plat::devio::InProcessDevice>(
        name, [this, answer](std::uint32_t code, std::span<const std::uint8_t> in,
                             std::span<std::uint8_t> out) -> plat::Result<std::size_t> {
          seen.push_back({code, Bytes(in.begin(), in.end()), out.size()});
          return answer(code, in, out);
        }));
  }
  // A SCSI port whose miniport answers the probe with `signature`, then serves `inner`.
  void ServePort(int n, const char* signature, Answer inner = nullptr) {
    Serve("\\\\.\\Scsi" + std::to_string(n) + ":",
          [signature, inner](std::uint32_t code, std::span<const std::uint8_t> in,
                             std::span<std::uint8_t> out) -> plat::Result<std::size_t> {
            std::copy(in.begin(), in.end(), out.begin());
            if (GetLe(in, 16, 4) == 1) {
              std::memcpy(out.data() + 4, signature, 8);
              return in.size();
            }
            return inner ? inner(code, in, out) : plat::Result<std::size_t>(std::size_t{0});
          });
  }

  plat::testing::TempRoot root;
  std::vector<std::unique_ptr<plat::devio::InProcessDevice>> devices;
  std::vector<Seen> seen;
  plat::devio::Handle handle;
};

TEST_F(DeviceTest, ProbeBlockGolden) {
  Bytes want = Le32({28});
  want.insert(want.end(), {'P', 'A', 'L', 'N', 'D', 'R', 'E', 'X'});
  for (auto w : {10000u, 1u, 0xFFFFFFFFu, 0u}) PutLe(want, w, 4);
  EXPECT_EQ(SrbBlock(1, 0), want);
}

TEST_F(DeviceTest, IdentifyOnTheDriverDevice) {
  Serve(kDriverDevice, [](std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t> out) {
    PutLeAt(out, 4, 0xF5A70000u, 4);  // target id in bits 16 to 27, other bits set around it
    return std::size_t{80};
  });
  ControllerDevice dev(handle);
  std::array<std::uint8_t, kIdentifyReply> reply{};
  ASSERT_TRUE(dev.ExecControlRequest(1, 1, 33, 1, reply));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, kIoctlIdentify);
  EXPECT_EQ(seen[0].in, Le32({1, 1, 33, 1}));
  EXPECT_EQ(seen[0].outSize, 80u);
  EXPECT_EQ(TargetIdOf(reply), 0x5A7);
  EXPECT_FALSE(Path().tunnel);
}

TEST_F(DeviceTest, IdentifyThroughTheTunnelSkippingAForeignPort) {
  ServePort(0, "FOREIGN!");
  ServePort(1, "PALNDREX", [](std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t> out) {
    PutLeAt(out, 44 + 4, 0x00230000u, 4);
    return out.size();
  });
  ControllerDevice dev(handle);
  std::array<std::uint8_t, kIdentifyReply> reply{};
  ASSERT_TRUE(dev.ExecControlRequest(0, 1, 33, 1, reply));
  ASSERT_EQ(seen.size(), 3u) << "probe of port 0, probe of port 1, identify";
  EXPECT_EQ(seen[0].in, SrbBlock(1, 0));
  Bytes want = SrbBlock(kIoctlIdentify, 96);
  auto req = Le32({0, 1, 33, 1});
  want.insert(want.end(), req.begin(), req.end());
  want.resize(124);
  EXPECT_EQ(seen[2].code, kIoctlScsiMiniport);
  EXPECT_EQ(seen[2].in, want);
  EXPECT_EQ(seen[2].outSize, 124u);
  EXPECT_EQ(TargetIdOf(reply), 0x23);
  EXPECT_TRUE(Path().tunnel);
  EXPECT_EQ(Path().lastPort, "\\\\.\\Scsi1:");

  // A second controller on the tunnel path takes the next answering port.
  ServePort(4, "PALNDREX");
  plat::devio::Handle second;
  ControllerDevice other(second);
  EXPECT_TRUE(other.Open());
  EXPECT_EQ(Path().lastPort, "\\\\.\\Scsi4:");
}

TEST_F(DeviceTest, NothingAnswersSoEveryCallFails) {
  ServePort(2, "FOREIGN!");
  ControllerDevice dev(handle);
  EXPECT_FALSE(dev.Open());
  std::uint32_t v = 0;
  ApiOut out[] = {ApiOut::Scalar(v)};
  ApiIn in[] = {0u};
  EXPECT_FALSE(dev.SendApiMessage({}, 0x3000, in, out));
  EXPECT_FALSE(handle.valid());
}

bool Says(const plat::Error& e, const std::string& part) { return e.message.find(part) != std::string::npos; }

// A request that fails says why, in the device's own code and words, and names what was asked:
// a caller can tell a missing driver from a refusal, a time-out or a reply that makes no sense.
TEST_F(DeviceTest, FailuresCarryTheirReason) {
  {
    ControllerDevice none(handle);
    auto opened = none.Open();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.code(), ENOENT);
    EXPECT_TRUE(Says(opened.error(), "i2oexec")) << opened.message();
  }
  struct Case {
    const char* name;
    plat::Result<std::size_t> answer;
    int code;
    bool paramsFail;  // a parameter read takes a reply of any length
  } cases[] = {
      {"refused", plat::Error{EACCES, "the driver refuses this caller"}, EACCES, true},
      {"timed out", plat::Error{ETIMEDOUT, "the device did not answer in time"}, ETIMEDOUT, true},
      {"short reply", std::size_t{2}, EPROTO, false},
  };
  for (const Case& k : cases) {
    handle.close();
    devices.clear();
    Serve(kDriverDevice,
          [&k](std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t>) { return k.answer; });
    ControllerDevice dev(handle);
    std::array<std::uint8_t, kIdentifyReply> reply{};
    auto identified = dev.ExecControlRequest(0, 1, 33, 1, reply);
    ASSERT_FALSE(identified) << k.name;
    EXPECT_EQ(identified.code(), k.code) << k.name;
    EXPECT_TRUE(Says(identified.error(), "identify of controller 0")) << identified.message();

    std::uint32_t v = 0;
    ApiIn in[] = {0u};
    ApiOut out[] = {ApiOut::Scalar(v)};
    auto sent = dev.SendApiMessage({}, 0x3000, in, out);
    ASSERT_FALSE(sent) << k.name;
    EXPECT_EQ(sent.code(), k.code) << k.name;
    EXPECT_TRUE(Says(sent.error(), "command 0x3000")) << sent.message();
    if (!k.answer) {
      EXPECT_TRUE(Says(sent.error(), k.answer.message())) << sent.message();
    }

    auto params = dev.GetI2OParams(5, 0, 3, {}, 64);
    EXPECT_EQ(params.ok(), !k.paramsFail) << k.name;
    if (k.paramsFail) {
      EXPECT_EQ(params.code(), k.code);
      EXPECT_TRUE(Says(params.error(), "parameter group 3")) << params.message();
    }
  }
  ControllerDevice dev(handle);
  std::uint32_t v = 0;
  ApiOut out[] = {ApiOut::Scalar(v)};
  auto unknown = dev.SendApiMessage({}, 0x3203, {}, out);
  EXPECT_EQ(unknown.code(), EINVAL);
  EXPECT_TRUE(Says(unknown.error(), "command 0x3203")) << unknown.message();
}

TEST_F(DeviceTest, ApiMessageOnTheDriverDevice) {
  Serve(kDriverDevice, [](std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t> out) {
    Bytes r = Le32({0});
    for (char c : std::string("WD800\0", 6)) r.push_back(static_cast<std::uint8_t>(c));
    std::copy(r.begin(), r.end(), out.begin());
    return r.size();
  });
  ControllerDevice dev(handle);
  std::string model;
  ApiIn in[] = {0x44u};
  ApiOut out[] = {ApiOut::Text(model, 511)};
  auto status = dev.SendApiMessage({1, 0x123, kMessageFunction}, 0x3100, in, out);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0u);
  EXPECT_EQ(model, "WD800");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, kIoctlApiMessage);
  EXPECT_EQ(seen[0].in, (Bytes{1, 0, 0, 0, 0x23, 0x01, 0x91, 0, 0x00, 0x31, 0x44, 0, 0, 0}));
  EXPECT_EQ(seen[0].outSize, 2048u);

  // A command whose request is empty sends the header alone; a code outside the table sends nothing.
  std::uint32_t type = 0;
  ApiOut one[] = {ApiOut::Scalar(type)};
  EXPECT_TRUE(dev.SendApiMessage({}, 0x3005, {}, one));
  EXPECT_EQ(seen.back().in.size(), 10u);
  const std::size_t before = seen.size();
  EXPECT_FALSE(dev.SendApiMessage({}, 0x3203, {}, one));
  EXPECT_EQ(seen.size(), before);
}

TEST_F(DeviceTest, ApiMessageThroughTheTunnel) {
  ServePort(0, "PALNDREX", [](std::uint32_t, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    PutLeAt(out, 2086, 0, 4);
    PutLeAt(out, 2090, 0x0321, 4);
    return out.size();
  });
  ControllerDevice dev(handle);
  std::uint32_t word = 0;
  ApiIn in[] = {0u};
  ApiOut out[] = {ApiOut::Scalar(word)};
  auto status = dev.SendApiMessage({0, 7, kMessageFunction}, 0x3000, in, out);
  ASSERT_TRUE(status);
  EXPECT_EQ(word, 0x0321u);
  const Seen& s = seen.back();
  EXPECT_EQ(s.code, kIoctlScsiMiniport);
  ASSERT_EQ(s.in.size(), 38u + 4u);
  EXPECT_EQ(s.outSize, 4130u);
  Bytes want = SrbBlock(kIoctlApiMessage, 4096);
  Bytes msg = MessageHeader(0, 7, 0x3000);
  want.insert(want.end(), msg.begin(), msg.end());
  PutLe(want, 0, 4);
  EXPECT_EQ(s.in, want);
}

TEST_F(DeviceTest, ParameterReadsOnBothPaths) {
  const std::uint16_t fields[] = {5, 6, 8};
  Bytes all = ParamsRequest(1, 0, 0, {});
  EXPECT_EQ(all, (Bytes{0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0, 0}));
  Bytes some = ParamsRequest(5, 0, 3, fields);
  EXPECT_EQ(some, (Bytes{0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 5, 0, 3, 0, 3, 0, 5, 0, 6, 0, 8, 0}));

  Serve(kDriverDevice, [](std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t> out) {
    out[24] = 0x42;
    return std::size_t{40};
  });
  ControllerDevice dev(handle);
  auto reply = dev.GetI2OParams(1, 0, 0, {}, 1024);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->size(), 40u);
  EXPECT_EQ((*reply)[24], 0x42);
  EXPECT_EQ(seen.back().code, kIoctlParams);
  EXPECT_EQ(seen.back().in, all);
  EXPECT_EQ(seen.back().outSize, 1024u);
}

TEST_F(DeviceTest, ParameterReadThroughTheTunnel) {
  ServePort(0, "PALNDREX", [](std::uint32_t, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    out[28 + 22 + 8] = 1;
    return std::size_t{28 + 22 + 64};
  });
  ControllerDevice dev(handle);
  const std::uint16_t fields[] = {5, 6, 8};
  auto reply = dev.GetI2OParams(5, 0, 3, fields, 1024);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->size(), 64u);
  EXPECT_EQ((*reply)[8], 1);
  Bytes want = SrbBlock(kIoctlParams, 22 + 1024);
  Bytes req = ParamsRequest(5, 0, 3, fields);
  want.insert(want.end(), req.begin(), req.end());
  want.resize(28 + 22 + 1024);
  EXPECT_EQ(seen.back().in, want);
}

}  // namespace
}  // namespace kelm::iop

namespace kelm::iop {
namespace {

// The same tunnel over a real device socket, served by a thread of its own: the framing's bounds
// (the reply never longer than the capacity asked) hold for every request the component sends.
TEST_F(DeviceTest, TunnelOverADeviceSocket) {
  auto server = plat::devio::DeviceServer::listen("\\\\.\\Scsi3:");
  ASSERT_TRUE(server) << server.error().message;
  std::atomic<bool> stop{false};
  std::vector<std::uint32_t> capacities;
  (*server)->onRequest([&](plat::devio::DeviceServer::Request r) {
    capacities.push_back(static_cast<std::uint32_t>(r.outputCapacity));
    Bytes out(r.input.begin(), r.input.end());
    out.resize(r.outputCapacity, 0);
    if (GetLe(r.input, 16, 4) == 1) {
      std::memcpy(out.data() + 4, kSignature, 8);
    } else if (GetLe(r.input, 16, 4) == kIoctlIdentify) {
      PutLeAt(out, 48, 0x00420000u, 4);
    } else {
      PutLeAt(out, 2086, 0, 4);
      PutLeAt(out, 2090, 0x0126, 4);
    }
    (*server)->answer(r.id, 0, out);
  });
  std::thread serve([&] {
    while (!stop) (*server)->pollOnce(20);
  });
  std::array<std::uint8_t, kIdentifyReply> reply{};
  ControllerDevice dev(handle);
  const bool identified = dev.ExecControlRequest(0, 1, 33, 1, reply).ok();
  std::uint32_t word = 0;
  ApiIn in[] = {0u};
  ApiOut out[] = {ApiOut::Scalar(word)};
  auto status = dev.SendApiMessage({}, 0x3000, in, out);
  stop = true;
  serve.join();
  ASSERT_TRUE(identified);
  EXPECT_EQ(TargetIdOf(reply), 0x42);
  ASSERT_TRUE(status);
  EXPECT_EQ(word, 0x0126u);
  EXPECT_EQ(capacities, (std::vector<std::uint32_t>{28, 124, 4130}));
}

}  // namespace
}  // namespace kelm::iop
