// The published test vectors of MD5 (RFC 1321), DES (FIPS 46), DES-CBC (FIPS 81), base64 (RFC 4648
// with this toolkit's alphabet and no padding), and PKCS #1 v1.5 blocks made once with OpenSSL.
#include <gtest/gtest.h>

#include "agent/crypto/base64.h"
#include "agent/crypto/des_cbc.h"
#include "agent/crypto/md5_digest.h"
#include "agent/crypto/rsa.h"
#include "agent/crypto/tests/test_util.h"

namespace kelm::crypto {
namespace {

using testing::bytesOf;
using testing::hex;
using testing::text;
using testing::toHex;

TEST(Md5, Rfc1321Suite) {
  struct Case {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toHex(md5(text(c.input))), c.digest) << c.input;
    // The same digest when the input arrives one byte at a time, across block boundaries.
    CMd5Digest d;
    ASSERT_EQ(d.Init(5), plat::S_OK);
    for (const char* p = c.input; *p; ++p) ASSERT_EQ(d.Update(p, 1), plat::S_OK);
    std::uint8_t out[16];
    ASSERT_EQ(d.Final(out, 16), plat::S_OK);
    EXPECT_EQ(toHex({out, 16}), c.digest) << c.input;
  }
}

TEST(Md5, RefusesOtherAlgorithmsAndShortOutput) {
  CMd5Digest d;
  EXPECT_EQ(d.Init(3), plat::E_FAIL);  // MD2 is not offered
  EXPECT_EQ(d.Update("x", 1), plat::E_FAIL);
  std::uint8_t out[16];
  EXPECT_EQ(d.Final(out, 16), plat::E_FAIL);
  ASSERT_EQ(d.Init(5), plat::S_OK);
  EXPECT_EQ(d.Final(out, 15), plat::E_FAIL);
}

TEST(Des, Fips46Example) {
  Bytes key = hex("133457799BBCDFF1"), in = hex("0123456789ABCDEF");
  DesKey k(key.data());
  std::uint8_t out[8], back[8];
  k.encryptBlock(in.data(), out);
  EXPECT_EQ(toHex({out, 8}), "85e813540f0ab405");
  k.decryptBlock(out, back);
  EXPECT_EQ(toHex({back, 8}), "0123456789abcdef");
}

TEST(Des, Fips81CbcExample) {
  Bytes key = hex("0123456789abcdef"), iv = hex("1234567890abcdef"), out, back;
  ASSERT_TRUE(desCbcRaw(key.data(), iv.data(), text("Now is the time for all "), out, true));
  EXPECT_EQ(toHex(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
  ASSERT_TRUE(desCbcRaw(key.data(), iv.data(), out, back, false));
  EXPECT_EQ(std::string(back.begin(), back.end()), "Now is the time for all ");
  EXPECT_FALSE(desCbcRaw(key.data(), iv.data(), text("seven b"), out, true));
}

TEST(DesCbc, PadsEveryLengthAndRoundTrips) {
  Bytes key = hex("0123456789abcdef");
  for (std::size_t n = 0; n <= 17; ++n) {
    Bytes plain(n);
    for (std::size_t i = 0; i < n; ++i) plain[i] = std::uint8_t(i * 37 + 1);
    CryptBuffer cipher, back;
    ASSERT_EQ(DesCbc(key.data(), plain, cipher, true), plat::S_OK);
    EXPECT_EQ(cipher.size(), (n / 8 + 1) * 8) << n;  // 8 input bytes give 16
    ASSERT_EQ(DesCbc(key.data(), cipher.view(), back, false), plat::S_OK);
    EXPECT_EQ(back.bytes(), plain);
  }
}

TEST(DesCbc, DecryptChecksLengthAndPadding) {
  Bytes key = hex("0123456789abcdef");
  // Blocks whose plain text ends as given, made with the raw cipher under the fixed vector.
  struct Case {
    const char* lastBytes;  // the plain block's bytes
    bool ok;
    std::size_t length;
  } cases[] = {
      {"4142434445464701", true, 7},  {"4142434445040404", false, 0},  // 04 not repeated four times
      {"4142434404040404", true, 4},  {"0808080808080808", true, 0},
      {"4142434445464709", false, 0},  // 9 exceeds a block
      {"4142434445464700", true, 8},   // a last 0 removes nothing
  };
  for (const auto& c : cases) {
    Bytes plain = hex(c.lastBytes), cipher;
    ASSERT_TRUE(desCbcRaw(key.data(), kDesIv.data(), plain, cipher, true));
    CryptBuffer out;
    plat::HRESULT h = DesCbc(key.data(), cipher, out, false);
    EXPECT_EQ(plat::SUCCEEDED(h), c.ok) << c.lastBytes;
    EXPECT_EQ(out.size(), c.length) << c.lastBytes;
  }
  CryptBuffer out;
  EXPECT_EQ(DesCbc(key.data(), Bytes(), out, false), plat::E_FAIL);
  EXPECT_EQ(DesCbc(key.data(), Bytes(12), out, false), plat::E_FAIL);
  Bytes raw;
  EXPECT_EQ(desCbcCrypt(key.data(), Bytes(12), raw, false), kReLen);
}

TEST(Base64, Rfc4648VectorsWithThisAlphabet) {
  struct Case {
    const char* bytes;
    const char* text;
  } cases[] = {{"", ""},           {"f", "Zg"},          {"fo", "Zm8"},           {"foo", "Zm9v"},
               {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"},  {"ab", "YWI"},
               {"abc", "YWJj"},    {"\xfb\xff", "+_8"},  {"\xff\xff\xfe", "___+"}};
  for (const auto& c : cases) {
    EXPECT_EQ(base64Encode(text(c.bytes)), c.text) << c.text;
    Bytes back = base64Decode(c.text);
    EXPECT_EQ(std::string(back.begin(), back.end()), c.bytes) << c.text;
  }
}

TEST(Base64, StopsAtCapacityAndMapsStrangersToZero) {
  const std::uint8_t in[] = {'f', 'o', 'o', 'b', 'a', 'r'};
  char out[8] = {};
  EXPECT_EQ(Base64Encode(in, 6, out, 5), 5u);
  EXPECT_EQ(std::string(out, 5), "Zm9vY");
  std::uint8_t bytes[8] = {};
  std::size_t cap = 4;
  ASSERT_EQ(Base64Decode("Zm9vYmFy", 8, bytes, cap), plat::S_OK);
  EXPECT_EQ(cap, 4u);
  EXPECT_EQ(std::string(bytes, bytes + 4), "foob");
  // '/' and '=' are not in the alphabet and count as 0; a lone last character gives no byte.
  EXPECT_EQ(base64Decode("/=/="), hex("000000"));
  EXPECT_EQ(base64Decode("//8"), hex("000f"));
  EXPECT_EQ(base64Decode("Zm9vY"), bytesOf("foo"));
}

// A 512-bit key made with OpenSSL, and its PKCS #1 v1.5 outputs.
constexpr const char* kModulus =
    "de9d1f70b3960c90b4e617350fc2f5783393576043e4a1323371b72d703448101ae0c49ae03703162d1a8289612fed87b991822ae0489863f8"
    "7a7b0bcb587e55";
constexpr const char* kPrivateExponent =
    "5f81bf9c659fe99227da537893638c56dea1c729e8d6ed0591a6a6f51a9f838e80631492fc0a09689bd509ff2f35cd4eab04dbe366b476a86d"
    "83fa66914512a1";
constexpr const char* kPrime1 = "f4950c9afd7497041f42111e64163f28f66111e714257fa7f9525defc8b07279";
constexpr const char* kPrime2 = "e9018878cac6f61c9f6147e38b29aec439381d5f4c328ff8d30a497fdffd13bd";
constexpr const char* kExponent1 = "bb043d5f45eea08ac65bfe3afecd03fe8e662b0a469d65bf4b25702ea9864201";
constexpr const char* kExponent2 = "06f0a4bff44a38ca6174e44f42b5db1ebd158eca67da99af2f99fed670357981";
constexpr const char* kCoefficient = "856a74155bca34d86726ababb728d6ae637e8bb0de2822d7ac8061547119baf8";
// Block type 1 over "kelm logon check", over nothing, and over the bytes 0..52.
constexpr const char* kM1Sig =
    "dd72e5ea740a79af0f503a0ca976db22b3aea15ddf25400714fd836f2dd24b56bfb318e5fdbde719e31601af0847c2bf16d23938cb0cf68cfe"
    "b3c58531cace46";
constexpr const char* kM0Sig =
    "488272f85f4330b026e3e2a05eb9dce8486a93494b02cb749af5fa31c9410af0da26f8777ce05b852ea8926df5794ba7b30987428242de11d8"
    "7365310a12b206";
constexpr const char* kM53Sig =
    "598444137854c8b4e9389edad43881aff033a72caa556998f3babcd14162172638a048d7c0568382ce7a9f1d09921dc00a064d60c97177d7d3"
    "59056c7849d8ae";
// Block type 2 (random padding) over "kelm logon check".
constexpr const char* kM1Enc =
    "334d67e249c9c898a5714521287c4423cd3f51e0e28d42db3e3db491eefe6ab07f8c6a387d56c87961f6a9d340ebe870e00d1d21f7dd31ba7f"
    "7938ce5278db40";

template <std::size_t N>
void fill(std::array<std::uint8_t, N>& a, const char* h) {
  Bytes b = hex(h);
  ASSERT_LE(b.size(), N);
  std::copy(b.begin(), b.end(), a.end() - std::ptrdiff_t(b.size()));
}

RsaPrivateKey opensslKey() {
  RsaPrivateKey k;
  k.bits = 512;
  fill(k.modulus, kModulus);
  fill(k.publicExponent, "010001");
  fill(k.exponent, kPrivateExponent);
  fill(k.prime[0], kPrime1);
  fill(k.prime[1], kPrime2);
  fill(k.primeExponent[0], kExponent1);
  fill(k.primeExponent[1], kExponent2);
  fill(k.coefficient, kCoefficient);
  return k;
}

Bytes bytes0to52() {
  Bytes b(53);
  for (int i = 0; i < 53; ++i) b[std::size_t(i)] = std::uint8_t(i);
  return b;
}

TEST(Pkcs1, BlockType1MatchesOpenSsl) {
  RsaPrivateKey key = opensslKey();
  struct Case {
    Bytes message;
    const char* signature;
  } cases[] = {{bytesOf("kelm logon check"), kM1Sig}, {Bytes(), kM0Sig}, {bytes0to52(), kM53Sig}};
  for (const auto& c : cases) {
    CryptBuffer sig, back;
    ASSERT_EQ(RsaPrivateEncrypt(c.message, sig, key), plat::S_OK);
    EXPECT_EQ(toHex(sig.view()), c.signature);
    ASSERT_EQ(RsaPublicDecrypt(sig.view(), back, key.publicKey()), plat::S_OK);
    EXPECT_EQ(back.bytes(), c.message);
  }
}

TEST(Pkcs1, DecryptsOpenSslBlockType2) {
  RsaPrivateKey key = opensslKey();
  CryptBuffer plain;
  ASSERT_EQ(RsaPrivateDecrypt(hex(kM1Enc), plain, key), plat::S_OK);
  EXPECT_EQ(std::string(plain.bytes().begin(), plain.bytes().end()), "kelm logon check");
  // A type-2 block does not pass as a type-1 signature, nor the other way round.
  EXPECT_EQ(RsaPublicDecrypt(hex(kM1Enc), plain, key.publicKey()), plat::E_FAIL);
  EXPECT_EQ(RsaPrivateDecrypt(hex(kM1Sig), plain, key), plat::E_FAIL);
  EXPECT_TRUE(plain.empty());
}

}  // namespace
}  // namespace kelm::crypto
