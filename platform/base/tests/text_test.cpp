#include "platform/base/text.h"

#include <gtest/gtest.h>

#include "platform/base/hresult.h"

using namespace plat;

TEST(Text, Utf16RoundTripsEveryPlane) {
  const std::u16string wide = u"A\u00e9\u20ac\U0001F600z";
  const std::string utf8 = utf16ToUtf8(wide);
  EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(utf8ToUtf16(utf8), wide);
}

TEST(Text, InvalidSequencesAreReplaced) {
  struct Case {
    std::string in;
    std::string out;
  };
  const std::string r = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"\x80", r},              // lone continuation byte
      {"a\xC3", "a" + r},       // truncated at the end
      {"\xC0\xAF", r},          // overlong slash
      {"\xED\xA0\x80", r},      // encoded surrogate
      {"\xF4\x90\x80\x80", r},  // above U+10FFFF
      {"\xFF"
       "b",
       r + "b"},  // impossible lead byte, next character kept
      {"\xE2\x82"
       "c",
       r + "c"},  // broken middle, next character kept
  };
  for (const auto& c : cases) EXPECT_EQ(sanitizeUtf8(c.in), c.out) << c.in;
}

TEST(Text, UnpairedSurrogatesAreReplaced) {
  const std::u16string lone_high = {u'x', 0xD800, u'y'};
  const std::u16string lone_low = {0xDC00};
  EXPECT_EQ(utf16ToUtf8(lone_high), "x\xEF\xBF\xBDy");
  EXPECT_EQ(utf16ToUtf8(lone_low), "\xEF\xBF\xBD");
}

TEST(Text, Word32IsWrittenSignedAndReadInEitherForm) {
  EXPECT_EQ(formatWord32(0xF7FFFFFF), "-134217729");
  EXPECT_EQ(formatWord32(0x7FFFFFFF), "2147483647");
  EXPECT_EQ(formatWord32(0x80000000), "-2147483648");
  EXPECT_EQ(formatWord32(0), "0");
  struct Case {
    const char* text;
    std::optional<std::uint32_t> word;
  };
  for (const Case& c :
       {Case{"-134217729", 0xF7FFFFFF}, Case{"4160749567", 0xF7FFFFFF}, Case{"60", 60}, Case{"-1", 0xFFFFFFFF},
        Case{"4294967295", 0xFFFFFFFF}, Case{"-2147483648", 0x80000000}, Case{"4294967296", std::nullopt},
        Case{"-2147483649", std::nullopt}, Case{"", std::nullopt}, Case{"12x", std::nullopt}, Case{" 12", std::nullopt},
        Case{"+12", std::nullopt}, Case{"0x3C", std::nullopt}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseWord32(c.text), c.word);
  }
  for (std::uint32_t w : {0u, 1u, 0x3Cu, 0x0800003Cu, 0x7FFFFFFFu, 0x80000000u, 0xF7FFFFFFu, 0xFFFFFFFFu})
    EXPECT_EQ(parseWord32(formatWord32(w)), w);
}

TEST(HResult, SuccessAndFailure) {
  EXPECT_TRUE(SUCCEEDED(S_OK));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(FAILED(KELM_E_REQUEST_FAILED));
  EXPECT_TRUE(FAILED(KELM_E_ALREADY_OPEN));
  EXPECT_EQ(hresultText(REGDB_E_CLASSNOTREG), "0x80040154");
}

#include "platform/base/format.h"

TEST(Format, GrowsToAnyLengthAndTreatsArgumentsAsData) {
  const std::string long_name(5000, 'x');
  EXPECT_EQ(plat::format("%s@%d", long_name.c_str(), -7), long_name + "@-7");
  // A name containing conversions is data, never a format.
  EXPECT_EQ(plat::format("%s", "%s%n%d"), "%s%n%d");
  EXPECT_EQ(plat::format("%s", ""), "");
}
