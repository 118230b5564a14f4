#include "agent/crypto/big_number.h"

#include <gtest/gtest.h>

#include "agent/crypto/tests/test_util.h"
#include "platform/base/clock.h"
#include "platform/testing/seeded_random.h"

namespace kelm::crypto {
namespace {

Bytes randomBytes(plat::SeededRandom& r, std::size_t n) {
  Bytes b(n);
  r.fill(b.data(), n);
  return b;
}

// Division is checked by its definition on many shapes of operands: a = q*b + r with r < b.
TEST(BigNumber, DivisionMeetsItsDefinition) {
  plat::SeededRandom rnd(7);
  for (int i = 0; i < 2000; ++i) {
    std::size_t la = 1 + rnd.next32() % 140, lb = 1 + rnd.next32() % 70;
    Bytes a = randomBytes(rnd, la), b = randomBytes(rnd, lb);
    if (i % 3 == 0) b[0] = 0xFF;  // top limb with no free bits
    if (i % 5 == 0) std::fill(b.begin() + 1, b.end(), 0xFF);
    BigNumber A = BigNumber::fromBytes(a), B = BigNumber::fromBytes(b), q, r;
    if (B.isZero()) continue;
    BigNumber::divMod(A, B, &q, &r);
    ASSERT_LT(BigNumber::compare(r, B), 0);
    ASSERT_EQ(BigNumber::add(BigNumber::mul(q, B), r), A) << testing::toHex(a) << " / " << testing::toHex(b);
  }
}

TEST(BigNumber, BytesRoundTripRightAligned) {
  BigNumber n = BigNumber::fromBytes(testing::hex("000102030405060708"));
  EXPECT_EQ(n.bitLength(), 57u);
  EXPECT_EQ(testing::toHex(n.toBytes(12)), "000000000102030405060708");
  EXPECT_TRUE(n.toBytes(7).empty());  // does not fit
  EXPECT_TRUE(BigNumber::fromBytes(Bytes(5, 0)).isZero());
}

TEST(BigNumber, ModExpAndInverseAgreeWithSmallArithmetic) {
  plat::SeededRandom rnd(11);
  for (int i = 0; i < 300; ++i) {
    std::uint64_t m = (std::uint64_t(rnd.next32() % 0xFFFFFF) << 8 | 1) | 1;  // odd, below 2^32
    if (m < 3) continue;
    std::uint64_t a = rnd.next32() % m, e = rnd.next32() % 5000, expect = 1, base = a;
    for (std::uint64_t k = e; k; k >>= 1, base = base * base % m)
      if (k & 1) expect = expect * base % m;
    BigNumber M{std::uint32_t(m)}, A{std::uint32_t(a)}, E{std::uint32_t(e)};
    ASSERT_EQ(BigNumber::modExp(A, E, M).lowWord(), expect) << a << "^" << e << " mod " << m;
    BigNumber inv = BigNumber::modInverse(A, M);
    if (!inv.isZero())
      EXPECT_EQ(std::uint64_t(inv.lowWord()) * a % m, 1u);
    else
      EXPECT_NE(BigNumber::gcd(A, M).lowWord(), 1u);
  }
}

TEST(BigNumber, LargeModExpMatchesRepeatedMultiplication) {
  plat::SeededRandom rnd(5);
  Bytes mb = randomBytes(rnd, 64);
  mb[63] |= 1;
  mb[0] |= 0x80;
  BigNumber m = BigNumber::fromBytes(mb), a = BigNumber::fromBytes(randomBytes(rnd, 70));
  BigNumber expect(1);
  for (int i = 0; i < 37; ++i) expect = BigNumber::mod(BigNumber::mul(expect, a), m);
  EXPECT_EQ(BigNumber::modExp(a, BigNumber(37), m), expect);
}

}  // namespace
}  // namespace kelm::crypto
