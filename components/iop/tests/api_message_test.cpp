// The command descriptors and the packing of requests and replies.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "components/iop/api_message.h"
#include "components/iop/tests/wire_bytes.h"

namespace kelm::iop {
namespace {

using testing::Bytes;
using testing::Le32;

TEST(Descriptors, NinetyFourCommandsInOrderEachReplyStartingWithItsStatus) {
  auto table = Commands();
  ASSERT_EQ(table.size(), 94u);
  std::set<std::uint16_t> codes;
  for (std::size_t i = 0; i < table.size(); ++i) {
    codes.insert(table[i].code);
    if (i) {
      EXPECT_LT(table[i - 1].code, table[i].code);
    }
    ASSERT_NE(table[i].reply, nullptr);
    EXPECT_EQ(table[i].reply[0].type, kElemDword) << std::hex << table[i].code;
    EXPECT_EQ(FindCommand(table[i].code), &table[i]);
  }
  for (std::uint16_t outside : {0x0002, 0x3203, 0x3108, 0x350D, 0x351B, 0x3533, 0x4004, 0xFFFF})
    EXPECT_EQ(FindCommand(outside), nullptr) << std::hex << outside;
}

// Every command whose reply has no records: the values packed by the reply descriptor unpack to
// the same values; the request side packs to the expected length.
TEST(Descriptors, RepliesRoundTrip) {
  for (const CommandDescriptor& c : Commands()) {
    std::vector<ApiIn> values;
    std::vector<std::uint32_t> scalars;
    std::vector<std::string> texts;
    std::vector<std::vector<std::uint32_t>> arrays;
    bool records = false;
    std::uint32_t n = 0;
    for (const Element* e = c.reply; e->type != kElemEnd; ++e) {
      if (e->type == kElemRecordArray || e->type == kElemRecord) records = true;
      if (e->type == kElemText) {
        values.push_back(ApiIn::Text("name " + std::to_string(n)));
      } else if (e->type == kElemDwordArray) {
        values.push_back(ApiIn::Array({7, 8, 9}));
      } else {
        const std::uint32_t v = e == c.reply ? 0 : (e + 1)->type == kElemDwordArray ? 3 : 0x100 + n;
        values.push_back(v);
      }
      ++n;
    }
    if (records) continue;
    auto packed = PackRequest(c.reply, values);
    ASSERT_TRUE(packed) << std::hex << c.code;
    std::vector<std::uint32_t> gotScalars(n);
    std::vector<std::string> gotTexts(n);
    std::vector<std::vector<std::uint32_t>> gotArrays(n);
    std::vector<ApiOut> outs;
    std::size_t k = 1;
    for (const Element* e = c.reply + 1; e->type != kElemEnd; ++e, ++k) {
      if (e->type == kElemText) {
        outs.push_back(ApiOut::Text(gotTexts[k], 64));
      } else if (e->type == kElemDwordArray) {
        outs.push_back(ApiOut::Array(gotArrays[k], 16));
      } else {
        outs.push_back(ApiOut::Scalar(gotScalars[k]));
      }
    }
    auto status = UnpackReply(c.reply, *packed, outs);
    ASSERT_TRUE(status) << std::hex << c.code << ": " << status.error().message;
    EXPECT_EQ(*status, 0u);
    for (std::size_t i = 1; i < n; ++i) {
      const ApiIn& v = values[i];
      if (v.kind == ApiIn::kText) {
        EXPECT_EQ(gotTexts[i], v.text);
      } else if (v.kind == ApiIn::kArray) {
        EXPECT_EQ(gotArrays[i], v.array);
      } else {
        EXPECT_EQ(gotScalars[i], v.value);
      }
    }
  }
}

TEST(Pack, CreateArrayRequestGolden) {
  const CommandDescriptor* c = FindCommand(0x3303);
  std::vector<ApiIn> v{ApiIn::Text("Data"), 0x40000004u, 2u, ApiIn::Array({0x11, 0x22}), 64u};
  auto packed = PackRequest(c->request, v);
  ASSERT_TRUE(packed);
  Bytes want{'D', 'a', 't', 'a', 0};
  for (auto w : {0x40000004u, 2u, 0x11u, 0x22u, 64u}) PutLe(want, w, 4);
  EXPECT_EQ(*packed, want);
}

TEST(Pack, RefusesWhatItCannotSendWhole) {
  const Element* create = FindCommand(0x3303)->request;
  // Fewer handles than the count: never sent short.
  std::vector<ApiIn> shortList{ApiIn::Text("A"), 1u, 3u, ApiIn::Array({1, 2}), 0u};
  EXPECT_FALSE(PackRequest(create, shortList));
  std::vector<ApiIn> missing{ApiIn::Text("A"), 1u, 1u};
  EXPECT_FALSE(PackRequest(create, missing));
  std::vector<ApiIn> wrongKind{5u, 1u, 1u, ApiIn::Array({1}), 0u};
  EXPECT_FALSE(PackRequest(create, wrongKind));
  const Element records[] = {{kElemRecord, FindCommand(0x3000)->request}, {kElemEnd, nullptr}};
  std::vector<ApiIn> one{1u};
  EXPECT_FALSE(PackRequest(records, one));
  const Element texts[] = {{kElemTextArray, nullptr}, {kElemEnd, nullptr}};
  EXPECT_FALSE(PackRequest(texts, one));
}

TEST(Pack, EmptyDescriptorAndTheCapacityLimit) {
  auto empty = PackRequest(FindCommand(0x3005)->request, {});
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  const Element* rename = FindCommand(0x3101)->request;
  std::vector<ApiIn> fits{7u, ApiIn::Text(std::string(2043, 'n'))};  // 4 + 2043 + NUL = 2048
  auto at = PackRequest(rename, fits);
  ASSERT_TRUE(at);
  EXPECT_EQ(at->size(), 2048u);
  std::vector<ApiIn> over{7u, ApiIn::Text(std::string(2044, 'n'))};
  EXPECT_FALSE(PackRequest(rename, over));
  std::vector<ApiIn> bigArray{ApiIn::Text(""), 1u, 600u, ApiIn::Array(std::vector<std::uint32_t>(600, 1)), 0u};
  EXPECT_FALSE(PackRequest(FindCommand(0x3303)->request, bigArray));
}

TEST(Unpack, InterfaceInformationWithItsSixteenBitFields) {
  Bytes reply = Le32({0, 0x01020304});
  PutLe(reply, 0xBEEF, 2);
  PutLe(reply, 0x0102, 2);
  PutLe(reply, 9, 4);
  for (char ch : std::string("I2O 1.5")) reply.push_back(static_cast<std::uint8_t>(ch));
  reply.push_back(0);
  std::uint32_t a = 0, b = 0, c = 0, d = 0;
  std::string text;
  ApiOut outs[] = {ApiOut::Scalar(a), ApiOut::Scalar(b), ApiOut::Scalar(c), ApiOut::Scalar(d), ApiOut::Text(text, 64)};
  auto status = UnpackReply(FindCommand(0x0000)->reply, reply, outs);
  ASSERT_TRUE(status);
  EXPECT_EQ(a, 0x01020304u);
  EXPECT_EQ(b, 0xBEEFu);
  EXPECT_EQ(c, 0x0102u);
  EXPECT_EQ(d, 9u);
  EXPECT_EQ(text, "I2O 1.5");
}

TEST(Unpack, EveryDestinationKeepsItsCapacity) {
  const Element* name = FindCommand(0x3100)->reply;
  Bytes longText = Le32({0});
  longText.insert(longText.end(), 600, 'x');
  longText.push_back(0);
  std::string text;
  ApiOut small[] = {ApiOut::Text(text, 511)};
  EXPECT_FALSE(UnpackReply(name, longText, small)) << "a model text over its 512-byte buffer";
  ApiOut big[] = {ApiOut::Text(text, 1000)};
  ASSERT_TRUE(UnpackReply(name, longText, big));
  EXPECT_EQ(text.size(), 600u) << "values are owned strings, never cut";

  Bytes unterminated = Le32({0});
  unterminated.insert(unterminated.end(), 8, 'y');
  EXPECT_FALSE(UnpackReply(name, unterminated, big)) << "a text running past the reply";

  const Element* members = FindCommand(0x3302)->reply;
  Bytes seventeen = Le32({0, 17});
  for (int i = 0; i < 17; ++i) PutLe(seventeen, i, 4);
  std::uint32_t count = 0;
  std::vector<std::uint32_t> handles;
  ApiOut sixteen[] = {ApiOut::Scalar(count), ApiOut::Array(handles, 16)};
  EXPECT_FALSE(UnpackReply(members, seventeen, sixteen));
  Bytes claimsMore = Le32({0, 4, 1, 2});
  EXPECT_FALSE(UnpackReply(members, claimsMore, sixteen)) << "a count beyond the reply";
  Bytes huge = Le32({0, 0xFFFFFFFFu});
  EXPECT_FALSE(UnpackReply(members, huge, sixteen));

  std::uint32_t v = 0;
  ApiOut one[] = {ApiOut::Scalar(v)};
  EXPECT_FALSE(UnpackReply(FindCommand(0x3000)->reply, Le32({0}), one)) << "a reply shorter than its descriptor";
  EXPECT_FALSE(UnpackReply(FindCommand(0x3000)->reply, Bytes{0, 0}, one));
  ApiOut none[] = {ApiOut::Scalar(v)};
  EXPECT_FALSE(UnpackReply(FindCommand(0x3000)->reply, Le32({0, 1}), std::span<const ApiOut>(none, 0)));
}

TEST(Unpack, EventRecordsLandPackedAndBounded) {
  const Element* events = FindCommand(0x3104)->reply;
  std::uint32_t count = 99;
  std::vector<std::uint8_t> records{1, 2, 3};
  ApiOut outs[] = {ApiOut::Scalar(count), ApiOut::Bytes(records, 1024)};
  ASSERT_TRUE(UnpackReply(events, Le32({0, 0}), outs));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(records.empty()) << "no records, nothing written";

  Bytes two = Le32({0, 2, 513, 0, 2, 2, 5, 6, 516, 0, 1, 1, 5});
  ASSERT_TRUE(UnpackReply(events, two, outs));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(records, Bytes(two.begin() + 8, two.end()));

  Bytes truncated(two.begin(), two.end() - 4);
  EXPECT_FALSE(UnpackReply(events, truncated, outs));
  Bytes many = Le32({0, 1, 513, 0, 2, 300});
  for (int i = 0; i < 300; ++i) PutLe(many, i, 4);
  EXPECT_FALSE(UnpackReply(events, many, outs)) << "records over the 1024-byte buffer";
}

TEST(Message, HeaderGolden) {
  EXPECT_EQ(MessageHeader(1, 0x0ABC, 0x3005), (Bytes{1, 0, 0, 0, 0xBC, 0x0A, 0x91, 0, 0x05, 0x30}));
}

}  // namespace
}  // namespace kelm::iop
