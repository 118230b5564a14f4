#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include <unordered_set>

using plat::com::Guid;

namespace {

constexpr Guid kComSocket = plat::com::guid("{30C22F4E-190D-11D3-86BA-00A0CC30DAF0}");

TEST(Guid, ParsesBothCasesAndFormatsUpperCase) {
  auto lower = Guid::parse("{30c22f4e-190d-11d3-86ba-00a0cc30daf0}");
  ASSERT_TRUE(lower);
  EXPECT_EQ(*lower, kComSocket);
  EXPECT_EQ(lower->toString(), "{30C22F4E-190D-11D3-86BA-00A0CC30DAF0}");
  EXPECT_EQ(kComSocket.data1, 0x30C22F4Eu);
  EXPECT_EQ(kComSocket.data4[0], 0x86);
  EXPECT_EQ(kComSocket.data4[7], 0xF0);
}

TEST(Guid, RefusesMalformedText) {
  const char* bad[] = {
      "30C22F4E-190D-11D3-86BA-00A0CC30DAF0",     // no braces
      "{30C22F4E-190D-11D3-86BA-00A0CC30DAF0",    // no closing brace
      "{30C22F4E-190D-11D3-86BA-00A0CC30DAF}",    // a digit short
      "{30C22F4E-190D-11D3-86BA-00A0CC30DAF00}",  // a digit too many
      "{30C22F4E_190D-11D3-86BA-00A0CC30DAF0}",   // wrong separator
      "{30C22F4E-190D-11D3-86BA-00A0CC30DAFG}",   // not hexadecimal
      "{+0C22F4E-190D-11D3-86BA-00A0CC30DAF0}",   // a sign is no digit
      " {30C22F4E-190D-11D3-86BA-00A0CC30DAF0}",  // leading blank
      "",
  };
  for (const char* text : bad) EXPECT_FALSE(Guid::parse(text)) << text;
}

TEST(Guid, ComparesAndHashesByValue) {
  Guid a = kComSocket, b = kComSocket;
  b.data4[7] ^= 1;
  EXPECT_NE(a, b);
  EXPECT_TRUE(a < b || b < a);
  EXPECT_TRUE(Guid{}.isNull());
  std::unordered_set<Guid, plat::com::GuidHash> set{a, b, a};
  EXPECT_EQ(set.size(), 2u);
}

}  // namespace
