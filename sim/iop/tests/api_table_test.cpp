#include "sim/iop/api_table.h"

#include <gtest/gtest.h>

#include <set>

#include "sim/iop/tests/helpers.h"

namespace sim::iop {
namespace {

using testing::Bytes;

TEST(ApiTable, KnowsTheNinetyFourCommandsAndNoOther) {
  std::set<std::uint16_t> codes;
  for (const auto& c : allCommands()) {
    codes.insert(c.code);
    EXPECT_EQ(c.reply[0], 'u') << std::hex << c.code << ": every reply starts with its status";
  }
  EXPECT_EQ(codes.size(), 94u);
  for (std::uint16_t code : {0x0000, 0x0001, 0x2000, 0x3009, 0x310A, 0x310E, 0x3204, 0x3309, 0x3401, 0x350C, 0x350F,
                             0x3517, 0x351C, 0x351D, 0x3520, 0x3532, 0x4003, 0x400C, 0x4013})
    EXPECT_NE(findCommand(code), nullptr) << std::hex << code;
  for (std::uint16_t code : {0x0002, 0x3010, 0x3108, 0x3203, 0x330A, 0x3402, 0x350D, 0x3518, 0x351E, 0x3533, 0x4000, 0x4014})
    EXPECT_EQ(findCommand(code), nullptr) << std::hex << code;
}

TEST(ApiTable, UnpacksTheCreateRequestWithTextCountAndHandles) {
  Bytes data{'N', 'e', 'w', 0};
  put32(data, 0x40000004);
  put32(data, 3);
  for (std::uint32_t h : {0x101u, 0x103u, 0x105u}) put32(data, h);
  put32(data, 7);
  auto v = unpackRequest(findCommand(0x3303)->request, data);
  ASSERT_TRUE(v);
  ASSERT_EQ(v->size(), 5u);
  EXPECT_EQ((*v)[0].text, "New");
  EXPECT_EQ((*v)[1].u, 0x40000004u);
  EXPECT_EQ((*v)[3].array, (std::vector<std::uint32_t>{0x101, 0x103, 0x105}));
  EXPECT_EQ((*v)[4].u, 7u);
  EXPECT_EQ(packRequest("tuuUu", *v), data);
}

TEST(ApiTable, RefusesRequestDataThatDoesNotMatchItsShape) {
  struct Case {
    const char* what;
    const char* shape;
    Bytes data;
  } cases[] = {
      {"short scalar", "uu", testing::words({1}) },
      {"trailing bytes", "u", testing::words({1, 2})},
      {"text without its NUL", "ut", Bytes{1, 0, 0, 0, 'a', 'b'}},
      {"array longer than the data", "uU", testing::words({3, 1, 2})},
      {"array beyond the limit", "uU", testing::words({100000})},
      {"odd length for plain words", "*", Bytes{1, 2, 3}},
      {"data for a command without any", "", Bytes{0}},
  };
  for (const auto& c : cases) EXPECT_FALSE(unpackRequest(c.shape, c.data)) << c.what;
  EXPECT_TRUE(unpackRequest("", {}));
  EXPECT_TRUE(unpackRequest("uU", testing::words({0})));
}

TEST(ApiTable, PacksEventRecordsAndTextsInPlace) {
  std::vector<Value> v{Value{0}, Value{1}, Value{}};
  v[2].records = testing::words({256, 1, 2, 1, 0x101});
  EXPECT_EQ(packReply("uuR", v), testing::words({0, 1, 256, 1, 2, 1, 0x101}));
  std::vector<Value> t{Value{0}, Value{0, "Ary1"}};
  EXPECT_EQ(packReply("ut", t), (Bytes{0, 0, 0, 0, 'A', 'r', 'y', '1', 0}));
}

}  // namespace
}  // namespace sim::iop
