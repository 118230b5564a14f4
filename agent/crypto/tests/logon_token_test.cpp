#include "agent/crypto/logon_token.h"

#include <gtest/gtest.h>

#include "agent/crypto/base64.h"
#include "agent/crypto/des_cbc.h"
#include "agent/crypto/md5_digest.h"
#include "agent/crypto/tests/test_util.h"

namespace kelm::crypto {
namespace {

using testing::text;

// A token assembled by hand from its parts, as another implementation would build it.
std::string handToken(std::string_view name, const std::uint8_t salt[4], std::uint8_t count, std::string_view password,
                      std::size_t cutCipher = 0) {
  Md5 d = md5(text(name), {salt, 4});
  for (int i = 1; i < (count == 0 ? 1 : count); ++i) d = md5(d);
  Bytes cipher;
  desCbcCrypt(d.data(), text(password), cipher, true);
  cipher.resize(cipher.size() - cutCipher);
  Bytes raw(name.begin(), name.end());
  raw.push_back('@');
  raw.insert(raw.end(), salt, salt + 4);
  raw.push_back(count);
  raw.push_back(0x55);  // ignored
  raw.insert(raw.end(), cipher.begin(), cipher.end());
  return base64Encode(raw);
}

TEST(LogonToken, BuiltTokenDecodesAgainAndVaries) {
  std::string name, password;
  std::string t1 = BuildLogonToken("admin", "s3cret pass");
  std::string t2 = BuildLogonToken("admin", "s3cret pass");
  EXPECT_NE(t1, t2);  // fresh salt and count each time
  ASSERT_EQ(DecodeLogonToken(t1, name, password), 1);
  EXPECT_EQ(name, "admin");
  EXPECT_EQ(password, "s3cret pass");
  EXPECT_EQ(TokenUserName(t2), "admin");
  ASSERT_EQ(DecodeLogonToken(BuildLogonToken("u", ""), name, password), 1);
  EXPECT_EQ(password, "");
}

TEST(LogonToken, IterationCountIsOneToEight) {
  for (int i = 0; i < 200; ++i) {
    Bytes raw = base64Decode(BuildLogonToken("admin", "pw"));
    ASSERT_GE(raw.size(), 11u);
    std::uint8_t count = raw[5 + 5];
    EXPECT_GE(count, 1);
    EXPECT_LE(count, 8);
  }
}

TEST(LogonToken, DecodesHandMadeTokensIncludingCountZero) {
  const std::uint8_t salt[4] = {1, 2, 0xFE, '@'};  // a salt byte of '@' does not move the name's end
  struct Case {
    std::uint8_t count;
    const char* password;
  } cases[] = {{1, "a"}, {0, "count zero runs one round"}, {255, "many rounds"}, {7, "exactly8"}};
  for (const auto& c : cases) {
    std::string name, password;
    ASSERT_EQ(DecodeLogonToken(handToken("op", salt, c.count, c.password), name, password), 1) << int(c.count);
    EXPECT_EQ(name, "op");
    EXPECT_EQ(password, c.password);
  }
}

TEST(LogonToken, RefusesMalformedTokens) {
  const std::uint8_t salt[4] = {9, 9, 9, 9};
  std::string wrongName = handToken("admin", salt, 3, "pw");
  Bytes raw = base64Decode(wrongName);
  raw[0] = 'A';  // the key no longer matches the name: padding fails
  struct Case {
    const char* what;
    std::string token;
  } cases[] = {
      {"empty", ""},
      {"no @", base64Encode(text("adminxxxxxxxxxxxxxxx"))},
      {"fewer than 7 bytes after the name", base64Encode(text("admin@123"))},
      {"no cipher block", base64Encode(text("admin@1234567"))},
      {"cipher not a multiple of 8", handToken("admin", salt, 3, "pw", 3)},
      {"wrong key", base64Encode(raw)},
      {"too long", std::string(kMaxTokenText + 4, 'A')},
  };
  for (const auto& c : cases) {
    std::string name = "stale", password = "stale";
    EXPECT_EQ(DecodeLogonToken(c.token, name, password), 0) << c.what;
    EXPECT_TRUE(name.empty() && password.empty()) << c.what;
  }
}

TEST(LogonToken, UserNameAndLogonText) {
  EXPECT_EQ(TokenUserName(""), "");
  EXPECT_EQ(TokenUserName(base64Encode(text("nobody without at"))), "");
  EXPECT_EQ(TokenUserName(base64Encode(text("@x"))), "");
  EXPECT_EQ(LogonText(0x1a2b, 0, "TOKEN"), "logon 1a2b 0@TOKEN");
  std::string longText = LogonText(0xffffffff, 0xffffffff, std::string(400, 'Q'));
  EXPECT_EQ(longText.size(), 6u + 255u);
}

}  // namespace
}  // namespace kelm::crypto
