#include <gtest/gtest.h>

#include "components/framework/component_types.h"
#include "components/framework/river_node.h"

using namespace kelm::fw;

namespace {

using Tokens = std::vector<std::string>;

TEST(SplitArgs, QuotingTable) {
  struct Case {
    const char* text;
    Tokens want;
  };
  const Case cases[] = {
      {"a@b@c", {"a", "b", "c"}},
      {"", {""}},
      {"a@", {"a", ""}},
      {"@@", {"", "", ""}},
      {"\"x@y\"@z", {"x@y", "z"}},  // separators inside quotes are kept
      {"a@\"b c\"", {"a", "b c"}},
      {"\"q\"tail@next", {"q", "next"}},  // text between the closing quote and the separator is dropped
      {"a@\"open@b", {"a"}},              // an unclosed quote ends the list before it
      {"\"\"@x", {"", "x"}},
      {"solo", {"solo"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitArgs(c.text, '@'), c.want) << c.text;
  EXPECT_EQ(SplitArgs("1,2", ','), (Tokens{"1", "2"}));
}

TEST(EncodeBytes, LowNibbleThenHighNibble) {
  const std::uint8_t bytes[] = {0x12, 0xAB, 0x00, 0xFF};
  EXPECT_EQ(EncodeBytes(bytes, 2), "CBLK");
  EXPECT_EQ(EncodeBytes(bytes + 2, 2), "AAPP");
  EXPECT_EQ(EncodeBytes(bytes, 0), "");
}

TEST(Handle, ParsesOnlyTwoNumbersAroundOneSemicolon) {
  EXPECT_EQ(FormatHandle(17, 22), "17;22");
  auto h = ParseHandle("17;22");
  ASSERT_TRUE(h);
  EXPECT_EQ(h->id, 17u);
  EXPECT_EQ(h->type, 22);
  for (const char* bad :
       {"", ";", "17", "17;", ";22", "0;22", "-3;22", "17;22;1", "x;22", "17;2x", "99999999999;1", " 17;22"})
    EXPECT_FALSE(ParseHandle(bad)) << bad;
}

TEST(EventRecord, FormatsAndParsesFiveFields) {
  EventRecord r{4101, 946684800, 3, "Disk failed", "Channel 1 ID 0"};
  EXPECT_EQ(r.format(), "4101@946684800@3@Disk failed@Channel 1 ID 0");
  auto back = EventRecord::parse(r.format());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->code, 4101);
  EXPECT_EQ(back->time, 946684800);
  EXPECT_EQ(back->text, "Channel 1 ID 0");
  // An '@' inside a field would shift every field after it; it is written as a blank.
  EventRecord at{1, 2, 3, "a@b", "c@d"};
  EXPECT_EQ(at.format(), "1@2@3@a b@c d");
  for (const char* bad : {"", "1@2@3@t", "1@2@3@t@x@y", "x@2@3@t@x", "1@@3@t@x"})
    EXPECT_FALSE(EventRecord::parse(bad)) << bad;
}

}  // namespace
