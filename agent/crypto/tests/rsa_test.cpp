#include "agent/crypto/rsa.h"

#include <gtest/gtest.h>

#include "agent/crypto/big_number.h"
#include "agent/crypto/random_pool.h"
#include "agent/crypto/tests/test_util.h"

namespace kelm::crypto {
namespace {

void seed(RandomPool& pool, std::uint8_t tag) {
  Bytes s(RandomPool::kSeedBytesNeeded, tag);
  pool.update(s);
}

struct KeyPair {
  RsaPublicKey pub;
  RsaPrivateKey priv;
};

KeyPair makeKeys(std::uint32_t bits, std::uint32_t fermat4, std::uint8_t tag) {
  RandomPool pool;
  seed(pool, tag);
  KeyPair k;
  EXPECT_EQ(rsaGenerateKeys({bits, fermat4}, pool, k.pub, k.priv), 0);
  return k;
}

TEST(RsaKeys, GeneratedKeysAreConsistent) {
  struct Case {
    std::uint32_t bits;
    std::uint32_t fermat4;
    std::uint32_t e;
  } cases[] = {{512, 1, 65537}, {508, 0, 3}, {1024, 1, 65537}, {509, 1, 65537}};
  for (const auto& c : cases) {
    KeyPair k = makeKeys(c.bits, c.fermat4, std::uint8_t(c.bits));
    BigNumber n = BigNumber::fromBytes(k.priv.modulus), p = BigNumber::fromBytes(k.priv.prime[0]),
              q = BigNumber::fromBytes(k.priv.prime[1]), one(1);
    EXPECT_EQ(n.bitLength(), c.bits);
    EXPECT_EQ(BigNumber::mul(p, q), n);
    EXPECT_EQ(BigNumber::fromBytes(k.pub.exponent), BigNumber(c.e));
    // e * d = 1 modulo p - 1 and q - 1, and the coefficient inverts q modulo p.
    BigNumber e(c.e), d = BigNumber::fromBytes(k.priv.exponent);
    EXPECT_EQ(BigNumber::mod(BigNumber::mul(e, d), BigNumber::sub(p, one)), one);
    EXPECT_EQ(BigNumber::mod(BigNumber::mul(e, d), BigNumber::sub(q, one)), one);
    EXPECT_EQ(BigNumber::mod(BigNumber::mul(BigNumber::fromBytes(k.priv.coefficient), q), p), one);
    // Raw RSA both ways on a message below the modulus.
    Bytes msg(k.pub.blockLength() - 11, 0x5A);
    CryptBuffer c1, back;
    ASSERT_EQ(RsaPublicEncrypt(msg, c1, k.pub), plat::S_OK);
    ASSERT_EQ(RsaPrivateDecrypt(c1.view(), back, k.priv), plat::S_OK);
    EXPECT_EQ(back.bytes(), msg) << c.bits;
  }
}

TEST(RsaKeys, RefusesModulusLengthsOutOfRangeAndAnUnseededPool) {
  RandomPool pool;
  seed(pool, 1);
  RsaPublicKey pub;
  RsaPrivateKey priv;
  EXPECT_EQ(rsaGenerateKeys({507, 1}, pool, pub, priv), kReModulusLen);
  EXPECT_EQ(rsaGenerateKeys({1025, 1}, pool, pub, priv), kReModulusLen);
  RandomPool empty;
  EXPECT_EQ(rsaGenerateKeys({512, 1}, empty, pub, priv), kReNeedRandom);
  std::uint8_t b;
  EXPECT_EQ(empty.generate(&b, 1), kReNeedRandom);
  empty.update(Bytes(255, 1));
  EXPECT_EQ(empty.generate(&b, 1), kReNeedRandom);  // one byte short of 256
  empty.update(Bytes(1, 1));
  EXPECT_EQ(empty.generate(&b, 1), 0);
}

TEST(RsaKeys, StoredFormsHaveTheirSizesAndParseBack) {
  RandomPool pool;
  seed(pool, 9);
  CryptBuffer pubBuf, privBuf;
  ASSERT_EQ(GenerateRsaKeyPair(pubBuf, privBuf, pool), plat::S_OK);
  ASSERT_EQ(pubBuf.size(), 260u);
  ASSERT_EQ(privBuf.size(), 708u);
  auto pub = RsaPublicKey::parse(pubBuf.view());
  auto priv = RsaPrivateKey::parse(privBuf.view());
  ASSERT_TRUE(pub && priv);
  EXPECT_EQ(pub->bits, 512u);
  EXPECT_EQ(priv->publicKey(), *pub);
  EXPECT_EQ(priv->serialize(), privBuf.bytes());
  // Wrong sizes, a bit length out of range, a modulus shorter than its bit length: refused.
  EXPECT_FALSE(RsaPublicKey::parse(ByteView(pubBuf.data(), 259)));
  Bytes bad = pubBuf.bytes();
  bad[0] = 0x00;
  bad[1] = 0x08;  // 2048 bits
  EXPECT_FALSE(RsaPublicKey::parse(bad));
  bad = pubBuf.bytes();
  bad[4 + 128 - 64] = 0;  // the modulus' top byte
  EXPECT_FALSE(RsaPublicKey::parse(bad));
  EXPECT_FALSE(RsaPrivateKey::parse(Bytes(708, 0)));
}

class RsaMessages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { keys_ = new KeyPair(makeKeys(512, 1, 77)); }
  static void TearDownTestSuite() { delete keys_; }
  static KeyPair* keys_;
};
KeyPair* RsaMessages::keys_ = nullptr;

TEST_F(RsaMessages, LongMessagesGoInPiecesOf53Bytes) {
  for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(53), std::size_t(54), std::size_t(716)}) {
    Bytes msg(n);
    for (std::size_t i = 0; i < n; ++i) msg[i] = std::uint8_t(i);
    std::size_t blocks = n == 0 ? 1 : (n + 52) / 53;
    CryptBuffer c1, c2, back;
    ASSERT_EQ(RsaPrivateEncrypt(msg, c1, keys_->priv), plat::S_OK);
    EXPECT_EQ(c1.size(), blocks * 64) << n;
    ASSERT_EQ(RsaPublicDecrypt(c1.view(), back, keys_->pub), plat::S_OK);
    EXPECT_EQ(back.bytes(), msg);
    ASSERT_EQ(RsaPublicEncrypt(msg, c2, keys_->pub), plat::S_OK);
    EXPECT_EQ(c2.size(), blocks * 64);
    ASSERT_EQ(RsaPrivateDecrypt(c2.view(), back, keys_->priv), plat::S_OK);
    EXPECT_EQ(back.bytes(), msg);
  }
}

TEST_F(RsaMessages, PublicEncryptionIsRandomised) {
  CryptBuffer a, b;
  ASSERT_EQ(RsaPublicEncrypt(testing::text("same"), a, keys_->pub), plat::S_OK);
  ASSERT_EQ(RsaPublicEncrypt(testing::text("same"), b, keys_->pub), plat::S_OK);
  EXPECT_NE(a.bytes(), b.bytes());
}

TEST_F(RsaMessages, DecryptionRefusesBadInput) {
  CryptBuffer sig, out;
  ASSERT_EQ(RsaPrivateEncrypt(testing::text("rights"), sig, keys_->priv), plat::S_OK);
  Bytes s = sig.bytes();
  Bytes longer = s;
  longer.push_back(0);  // 65 bytes
  Bytes flipped = s;
  flipped[10] ^= 1;              // a damaged signature
  Bytes aboveModulus(64, 0xFF);  // not below the modulus
  KeyPair other = makeKeys(512, 1, 78);
  for (const Bytes& in : {longer, flipped, aboveModulus, Bytes(), Bytes(63)}) {
    EXPECT_EQ(RsaPublicDecrypt(in, out, keys_->pub), plat::E_FAIL);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(RsaPrivateDecrypt(in, out, keys_->priv), plat::E_FAIL);
  }
  EXPECT_EQ(RsaPublicDecrypt(s, out, other.pub), plat::E_FAIL);  // another key's signature
  // A block can carry at most k - 11 bytes.
  Bytes block;
  EXPECT_EQ(rsaPrivateEncryptBlock(Bytes(54), keys_->priv, block), kReLen);
  EXPECT_EQ(rsaPrivateEncryptBlock(Bytes(53), keys_->priv, block), 0);
}

TEST_F(RsaMessages, BrokenKeysFailCleanly) {
  RsaPrivateKey broken = keys_->priv;
  broken.prime[0].fill(0);
  CryptBuffer out;
  EXPECT_EQ(RsaPrivateEncrypt(testing::text("x"), out, broken), plat::E_FAIL);
  RsaPublicKey zero;
  EXPECT_EQ(RsaPublicEncrypt(testing::text("x"), out, zero), plat::E_FAIL);
  EXPECT_EQ(RsaPublicDecrypt(Bytes(64), out, zero), plat::E_FAIL);
}

}  // namespace
}  // namespace kelm::crypto
