// The driver's device control interface, with buffers laid out by hand as the host sends them.
#include "sim/iop/driver.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "sim/iop/tests/helpers.h"

namespace sim::iop {
namespace {

using testing::Bytes;
using testing::words;

constexpr std::uint64_t kHandle = 7;

class DriverTest : public ::testing::Test {
 protected:
  Answer direct(std::uint32_t code, const Bytes& in, std::size_t capacity, std::uint64_t handle = kHandle) {
    return driver.request(handle, Path::Direct, code, in, capacity);
  }
  Answer tunnel(const Bytes& in, std::size_t capacity, std::uint64_t handle = kHandle) {
    return driver.request(handle, Path::Tunnel, kIoctlMiniport, in, capacity);
  }
  Answer call(std::uint16_t command, const Bytes& data = {}, std::uint32_t controller = 0, std::uint16_t target = 0x21) {
    return direct(kIoctlApi, testing::apiMessage(controller, target, command, data), 2048);
  }
  void identify(std::uint32_t controller = 0, std::uint64_t handle = kHandle) {
    ASSERT_EQ(direct(kIoctlIdentify, testing::identifyRequest(controller), 80, handle).status, 0);
  }
  CardModel model;
  Driver driver{model};
};

TEST_F(DriverTest, IdentifyAnswersEightyBytesWithTheTwelveBitTargetId) {
  Answer a = direct(kIoctlIdentify, testing::identifyRequest(0), 80);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(a.out.size(), 80u);
  Bytes head(a.out.begin(), a.out.begin() + 12);
  EXPECT_EQ(head, (Bytes{0, 0, 0, 0, 0x21, 0x00, 0x21, 0x00, 0x26, 0x01, 0, 0}));
  EXPECT_EQ((get32(a.out.data() + 4) >> 16) & 0xFFF, 0x021u);

  a = direct(kIoctlIdentify, testing::identifyRequest(1), 80, 8);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ((get32(a.out.data() + 4) >> 16) & 0xFFF, 0x022u);
}

TEST_F(DriverTest, IdentifyRefusesWhatIsNotAnIdentify) {
  struct Case {
    const char* what;
    Bytes in;
    std::size_t capacity;
    int status;
  } cases[] = {
      {"no such controller", testing::identifyRequest(2), 80, ENODEV},
      {"wrong function", words({0, 1, 34, 1}), 80, EINVAL},
      {"wrong target field", words({0, 2, 33, 1}), 80, EINVAL},
      {"short request", words({0, 1, 33}), 80, EINVAL},
      {"reply buffer too small", testing::identifyRequest(0), 79, EINVAL},
  };
  for (const auto& c : cases) EXPECT_EQ(direct(kIoctlIdentify, c.in, c.capacity).status, c.status) << c.what;
  model.card(1)->present = false;
  EXPECT_EQ(direct(kIoctlIdentify, testing::identifyRequest(1), 80).status, ENODEV) << "second processor absent";
  driver.faults().identifyFail = 1;
  EXPECT_EQ(direct(kIoctlIdentify, testing::identifyRequest(0), 80).status, EIO);
  EXPECT_EQ(direct(kIoctlIdentify, testing::identifyRequest(0), 80).status, 0) << "the fault is counted";
}

TEST_F(DriverTest, ApiMessagesGoToTheCardOfTheHandlesIdentify) {
  EXPECT_EQ(call(0x3000).status, ENXIO) << "a handle that never identified";
  identify(0);
  Answer a = call(0x3000, words({0}));
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(a.out, words({0, 0x0126}));
  EXPECT_EQ(call(0x3000, words({0}), 1, 0x22).status, ENXIO) << "another card on a handle bound to IOP1";
  EXPECT_EQ(call(0x3000, words({0}), 0, 0x22).status, ENXIO) << "the wrong target id";

  identify(1, 9);
  a = direct(kIoctlApi, testing::apiMessage(1, 0x22, 0x3000, words({0})), 2048, 9);
  EXPECT_EQ(a.out, words({0, 0x0115}));
  driver.closed(9);
  EXPECT_EQ(direct(kIoctlApi, testing::apiMessage(1, 0x22, 0x3000, words({0})), 2048, 9).status, ENXIO);
}

TEST_F(DriverTest, ApiMessageErrors) {
  identify();
  EXPECT_EQ(call(0x3099).out, words({5})) << "a code outside the table answers a status";
  EXPECT_EQ(call(0x3000, words({0, 0})).status, EINVAL) << "request data longer than its shape";
  EXPECT_EQ(call(0x3000).status, EINVAL) << "request data missing";
  Bytes msg = testing::apiMessage(0, 0x21, 0x3000, words({0}));
  msg[6] = 144;
  EXPECT_EQ(direct(kIoctlApi, msg, 2048).status, EINVAL) << "message function other than 145";
  EXPECT_EQ(direct(kIoctlApi, Bytes(9, 0), 2048).status, EINVAL) << "shorter than the header";
  EXPECT_EQ(direct(0x222E84, words({0}), 2048).status, EINVAL) << "unknown control code";
  // A command with no request data is the bare 10-byte header.
  Answer a = direct(kIoctlApi, testing::apiMessage(0, 0x21, 0x3005), 2048);
  EXPECT_EQ(a.out, words({0, 1}));
}

TEST_F(DriverTest, InterfaceInformationAndAttach) {
  identify();
  Answer a = call(0x0000);
  ASSERT_EQ(a.status, 0);
  ASSERT_GE(a.out.size(), 17u);
  EXPECT_EQ(get32(a.out.data()), 0u);
  EXPECT_EQ(a.out.back(), 0) << "the text ends with its NUL";
  EXPECT_EQ(call(0x0001, words({0})).out, words({0}));
  EXPECT_EQ(call(0x0001, words({5})).out, words({kBadArgument}));
}

TEST_F(DriverTest, TunnelProbeAndTheWrappedRequests) {
  Answer a = tunnel(testing::block(1, 0), 28);
  ASSERT_EQ(a.status, 0);
  Bytes probe = testing::block(1, 0);
  probe[20] = probe[21] = probe[22] = probe[23] = 0;  // ReturnCode 0
  EXPECT_EQ(a.out, probe);

  Bytes idIn = testing::block(kIoctlIdentify, 96, testing::identifyRequest(0));
  idIn.resize(124, 0);
  a = tunnel(idIn, 124);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(a.out.size(), 124u);
  EXPECT_EQ((get32(a.out.data() + 44 + 4) >> 16) & 0xFFF, 0x21u);

  Bytes apiIn = testing::block(kIoctlApi, 4096, testing::apiMessage(0, 0x21, 0x3000, words({0})));
  EXPECT_EQ(apiIn.size(), 42u);
  a = tunnel(apiIn, 4130);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(a.out.size(), 4130u);
  EXPECT_EQ(Bytes(a.out.begin() + 2086, a.out.begin() + 2094), words({0, 0x0126}));
  EXPECT_EQ(get32(a.out.data() + 20), 0u);

  Bytes wrongSignature = testing::block(1, 0);
  wrongSignature[4] = 'Q';
  EXPECT_EQ(tunnel(wrongSignature, 28).status, EINVAL);
  EXPECT_EQ(tunnel(testing::block(kIoctlApi, 4000, testing::apiMessage(0, 0x21, 0x3000, words({0}))), 4130).status,
            EINVAL)
      << "a Length other than 4096";
  EXPECT_EQ(driver.request(kHandle, Path::Tunnel, kIoctlApi, apiIn, 4130).status, EINVAL)
      << "a port takes only the miniport control code";
}

TEST_F(DriverTest, AForeignAdapterAnswersTheProbeWithItsOwnSignature) {
  Answer a = Driver::foreignAnswer(testing::block(1, 0), 28);
  ASSERT_EQ(a.out.size(), 28u);
  EXPECT_EQ(std::string(a.out.begin() + 4, a.out.begin() + 12), "OTHERHBA");
}

TEST_F(DriverTest, ParameterGroupsInTheResultLayout) {
  identify();
  Answer a = direct(kIoctlParams, testing::paramsRequest(1, 0, {}), 1024);
  ASSERT_EQ(a.status, 0);
  ASSERT_GT(a.out.size(), 24u);
  EXPECT_EQ(a.out[24], 0x02) << "processor type";

  // The module table: the block's length in words at 4, the row count at 8, rows of 40 bytes from
  // 12 (name 24, version 4, date 8 as day, month and year, size).
  a = direct(kIoctlParams, testing::paramsRequest(5, 5, {5, 6, 7, 8, 9, 10}), 1024);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(a.out.size(), 8 + 4 * get32(a.out.data() + 4)) << "the module list's length";
  ASSERT_EQ(get16(a.out.data() + 8), 2u);
  ASSERT_EQ(a.out.size(), 12u + 2 * 40);
  auto text = [&](std::size_t at, std::size_t n) { return std::string(a.out.begin() + at, a.out.begin() + at + n); };
  EXPECT_EQ(text(12, 24), "Palindrex I2O Firmware  ");
  EXPECT_EQ(text(36, 4), "0102");
  EXPECT_EQ(text(40, 8), "15062002");
  EXPECT_EQ(get32(a.out.data() + 48), 512u * 1024);
  EXPECT_EQ(text(52, 24), "Palindrex BIOS          ");
  EXPECT_EQ(get32(a.out.data() + 88), 64u * 1024);

  // The engine's table: one row at 12 of name 24, version 4 and size.
  a = direct(kIoctlParams, testing::paramsRequest(5, 3, {5, 6, 8}), 1024);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(get16(a.out.data() + 8), 1u);
  ASSERT_EQ(a.out.size(), 44u);
  EXPECT_EQ(text(12, 24), "Quorlin RAID Engine     ");
  EXPECT_EQ(text(36, 4), "0300");
  EXPECT_EQ(get32(a.out.data() + 40), 128u * 1024);

  // Through the tunnel the reply follows the request behind the block.
  Bytes req = testing::paramsRequest(5, 5, {5, 6, 7, 8, 9, 10});
  Bytes in = testing::block(kIoctlParams, static_cast<std::uint32_t>(req.size() + 1024), req);
  in.resize(28 + req.size() + 1024, 0);
  Answer t = tunnel(in, in.size());
  ASSERT_EQ(t.status, 0);
  EXPECT_EQ(Bytes(t.out.begin() + 28 + static_cast<std::ptrdiff_t>(req.size()), t.out.end()),
            direct(kIoctlParams, req, 1024).out);

  EXPECT_EQ(direct(kIoctlParams, testing::paramsRequest(5, 9, {1}), 1024).status, EINVAL) << "no such group";
  EXPECT_EQ(direct(kIoctlParams, testing::paramsRequest(1, 0, {}), 10).status, EOVERFLOW);
  Bytes twoOps = testing::paramsRequest(1, 0, {});
  twoOps[6] = 2;
  EXPECT_EQ(direct(kIoctlParams, twoOps, 1024).status, EINVAL);
  EXPECT_EQ(direct(kIoctlParams, testing::paramsRequest(1, 0, {}), 1024, 99).status, ENXIO) << "unbound handle";
}

TEST_F(DriverTest, TransportAndShortReplyFaults) {
  identify();
  driver.faults().fail = 1;
  driver.faults().failCode = kIoctlApi;
  EXPECT_EQ(call(0x3000, words({0})).status, EIO);
  EXPECT_EQ(call(0x3000, words({0})).status, 0);
  driver.faults().shortReply = 1;
  driver.faults().shortCommand = 0x3000;
  EXPECT_EQ(call(0x3001, words({0})).out.size(), 8u) << "only the command named";
  EXPECT_EQ(call(0x3000, words({0})).out.size(), 4u);
}

TEST_F(DriverTest, EventReadsFitTheReplyRoom) {
  identify();
  for (int i = 0; i < 200; ++i) model.pushEvent(0, Event{600, 0, std::vector<std::uint32_t>(16, 1)});
  Answer a = call(0x3104, words({0, 200}));
  ASSERT_EQ(a.status, 0);
  std::uint32_t count = get32(a.out.data() + 4);
  EXPECT_EQ(count, (2048u - 8) / 80);
  EXPECT_EQ(a.out.size(), 8 + count * 80);
  EXPECT_EQ(call(0x3103, words({0})).out, words({0, 200 - count}));
}

}  // namespace
}  // namespace sim::iop
