#include "message/message_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/message.h"

using namespace kelm;

namespace {

std::string bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

const std::string kHeader = bytes({0x01, 0x10, 0, 0, 0x02, 0, 0, 0, 0x03, 0, 0, 0});

}  // namespace

TEST(Message, ConstructionAndClearGiveTheClearedRecord) {
  CMessage m;
  EXPECT_EQ(m, CMessage(-1, 0, 0, ""));
  m = CMessage(4099, 7, 1, "x");
  m.Clear();
  EXPECT_EQ(m, CMessage(-1, 0, 0, ""));
}

TEST(MessageCodec, KnownRecordByteForByte) {
  EXPECT_EQ(EncodeMessage(CMessage(4099, 0x01020304, 1, "\\")),
            bytes({0x03, 0x10, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x5C}));
  const std::string empty = EncodeMessage(CMessage());
  EXPECT_EQ(empty, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}));
  EXPECT_EQ(empty.size(), 13u);
}

TEST(MessageCodec, LengthPrefixBoundaries) {
  struct Case {
    std::size_t n;
    std::string prefix;
  };
  const std::vector<Case> cases = {
      {0, bytes({0x00})},
      {254, bytes({0xFE})},
      {255, bytes({0xFF, 0xFF, 0x00})},
      {65533, bytes({0xFF, 0xFD, 0xFF})},
      {65534, bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
      {70000, bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    const CMessage m(4102, 2, 3, std::string(c.n, 'a'));
    const std::string wire = EncodeMessage(m);
    ASSERT_EQ(wire.size(), 12 + c.prefix.size() + c.n);
    EXPECT_EQ(wire.substr(0, 12), bytes({0x06, 0x10, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(wire.substr(12, c.prefix.size()), c.prefix);
    CMessage back;
    const DecodeResult r = DecodeMessage(wire, back);
    ASSERT_EQ(r.status, DecodeStatus::kOk);
    EXPECT_EQ(r.consumed, wire.size());
    EXPECT_EQ(back, m);
  }
}

TEST(MessageCodec, ReaderAcceptsWideTextAndNonShortestPrefixes) {
  struct Case {
    const char* what;
    std::string tail;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"wide ab", bytes({0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b', 0}), "ab"},
      {"wide empty", bytes({0xFF, 0xFE, 0xFF, 0x00}), ""},
      {"wide, 16-bit count", bytes({0xFF, 0xFE, 0xFF, 0xFF, 0x01, 0x00, 0xE9, 0x00}), "\xC3\xA9"},
      {"wide, unpaired surrogate", bytes({0xFF, 0xFE, 0xFF, 0x01, 0x00, 0xD8}), "\xEF\xBF\xBD"},
      {"16-bit prefix of a short text", bytes({0xFF, 0x02, 0x00, 'h', 'i'}), "hi"},
      {"32-bit prefix of a short text", bytes({0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 'x'}), "x"},
      {"invalid utf-8 is replaced", bytes({0x02, 0xC3, 'x'}), "\xEF\xBF\xBDx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CMessage m;
    const std::string wire = kHeader + c.tail;
    const DecodeResult r = DecodeMessage(wire, m);
    ASSERT_EQ(r.status, DecodeStatus::kOk);
    EXPECT_EQ(r.consumed, wire.size());
    EXPECT_EQ(m, CMessage(4097, 2, 3, c.text));
    // The framing alone tells the same length, and nothing for every part of it.
    EXPECT_EQ(RecordLength(wire + "more"), wire.size());
    for (std::size_t n = 0; n < wire.size(); ++n) ASSERT_EQ(RecordLength(wire.substr(0, n)), 0u) << n;
  }
}

TEST(MessageCodec, OversizeAndMalformedLengthsAreRefused) {
  struct Case {
    const char* what;
    std::string tail;
  };
  const std::vector<Case> cases = {
      {"32-bit length over 1 MiB", bytes({0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x10, 0x00})},
      {"32-bit length 0xFFFFFFFF", bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"wide count over 1 MiB of bytes", bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x08, 0x00})},
      {"wide marker twice", bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CMessage m(1, 2, 3, "old");
    const DecodeResult r = DecodeMessage(kHeader + c.tail, m);
    EXPECT_EQ(r.status, DecodeStatus::kInvalid);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_EQ(m, CMessage());
    EXPECT_EQ(RecordLength(kHeader + c.tail), kBrokenRecord);
  }
  // Exactly at the limit is still a record (it only waits for its bytes).
  CMessage m;
  EXPECT_EQ(DecodeMessage(kHeader + bytes({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x10, 0x00}), m).status,
            DecodeStatus::kNeedMore);
}

// What a text decodes to is held to the limit too: invalid bytes become three-byte replacement
// characters and wide characters up to three bytes each, so a record that arrived within the
// limit may convert to more. Such a record is refused; one that converts to just the limit is not.
TEST(MessageCodec, TheLimitHoldsForTheConvertedText) {
  auto narrow = [](std::size_t invalidBytes) {
    std::string tail = bytes({0xFF, 0xFF, 0xFF});
    for (int i = 0; i < 4; ++i) tail.push_back(static_cast<char>((invalidBytes >> (8 * i)) & 0xFF));
    return tail + std::string(invalidBytes, '\xFF');
  };
  auto wide = [](std::size_t euros) {
    std::string tail = bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF});
    for (int i = 0; i < 4; ++i) tail.push_back(static_cast<char>((euros >> (8 * i)) & 0xFF));
    for (std::size_t i = 0; i < euros; ++i) tail += bytes({0xAC, 0x20});
    return tail;
  };
  struct Case {
    const char* what;
    std::string tail;
    bool accepted;
  };
  const std::size_t fits = kMaxTextBytes / 3;  // 349,525 characters of three bytes: 1,048,575
  const std::vector<Case> cases = {
      {"invalid bytes converting to just under the limit", narrow(fits), true},
      {"invalid bytes converting to over the limit", narrow(fits + 1), false},
      {"wide text converting to just under the limit", wide(fits), true},
      {"wide text converting to over the limit", wide(fits + 1), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CMessage m;
    const DecodeResult r = DecodeMessage(kHeader + c.tail, m);
    if (!c.accepted) {
      EXPECT_EQ(r.status, DecodeStatus::kInvalid);
      EXPECT_NE(r.error.find("over the limit"), std::string::npos) << r.error;
      continue;
    }
    ASSERT_EQ(r.status, DecodeStatus::kOk);
    EXPECT_EQ(m.text.size(), 3 * fits);
    // What was accepted can be written out again and read back.
    const std::string again = EncodeMessage(m);
    ASSERT_FALSE(again.empty());
    CMessage back;
    EXPECT_EQ(DecodeMessage(again, back).status, DecodeStatus::kOk);
  }
}

TEST(MessageCodec, TheWriterRefusesATextNoReaderAccepts) {
  std::string out = "kept";
  EXPECT_FALSE(AppendMessage(out, CMessage(4102, 1, 1, std::string(kMaxTextBytes + 1, 'x'))));
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(EncodeMessage(CMessage(4102, 1, 1, std::string(kMaxTextBytes + 1, 'x'))), "");
  EXPECT_TRUE(AppendMessage(out, CMessage(4102, 1, 1, std::string(kMaxTextBytes, 'x'))));
  EXPECT_EQ(out.size(), 4 + 13 + 6 + kMaxTextBytes);
}

TEST(MessageCodec, EveryTruncationWaitsForMore) {
  const std::vector<std::string> wires = {
      EncodeMessage(CMessage(4105, 9, 4, "hello buddy!")),
      EncodeMessage(CMessage(4102, 9, 1, std::string(300, 'z'))),
      EncodeMessage(CMessage(4102, 9, 1, std::string(70000, 'y'))),
      kHeader + bytes({0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b', 0}),
  };
  for (const std::string& wire : wires) {
    for (std::size_t cut = 0; cut < wire.size(); cut += (cut < 40 ? 1 : 997)) {
      CMessage m;
      ASSERT_EQ(DecodeMessage(std::string_view(wire).substr(0, cut), m).status, DecodeStatus::kNeedMore) << cut;
    }
  }
}

TEST(MessageDecoder, SplitsAStreamIntoRecordsWhateverTheChunking) {
  const std::vector<CMessage> records = {CMessage(4099, 1, 1, "\\"), CMessage(4098, 1, 2, "Array1@o--@22"),
                                         CMessage(4098, 1, 3, "800@Functional"),
                                         CMessage(8195, 0, 4, std::string(1000, 'e'))};
  std::string stream;
  for (const CMessage& m : records) AppendMessage(stream, m);
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{64}, stream.size()}) {
    SCOPED_TRACE(chunk);
    MessageDecoder d;
    std::vector<CMessage> got;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      d.Feed(std::string_view(stream).substr(at, chunk));
      CMessage m;
      while (d.Next(m) == DecodeStatus::kOk) got.push_back(m);
    }
    EXPECT_EQ(got, records);
    EXPECT_EQ(d.buffered(), 0u);
  }
}

TEST(MessageDecoder, StaysBrokenAfterAnInvalidRecord) {
  MessageDecoder d;
  d.Feed(kHeader + bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
  d.Feed(EncodeMessage(CMessage(1, 1, 1, "late")));
  CMessage m;
  EXPECT_EQ(d.Next(m), DecodeStatus::kInvalid);
  EXPECT_NE(d.error().find("limit"), std::string::npos);
  EXPECT_EQ(d.Next(m), DecodeStatus::kInvalid);
  EXPECT_EQ(d.buffered(), 0u);
}

TEST(ResultCodes, ParseResultCode) {
  struct Case {
    const char* text;
    std::int32_t code;
  };
  const std::vector<Case> cases = {
      {"806@Time Out", 806},
      {"800@Functional", 800},
      {"abc", 0},
      {"", 0},
      {"@800", 0},
      {"802", 802},
      {"801xyz@Error", 801},
      {"-1@x", -1},
      {"99999999999@x", 0},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseResultCode(c.text), c.code) << c.text;
}

TEST(ResultCodes, FormatsEveryResultWithItsText) {
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {800, "800@Functional"}, {801, "801@Error"}, {802, "802@Access Denied"},
      {803, "803@Not found"},  {804, "804@Abort"}, {805, "805@Invalid argument"},
      {806, "806@Time Out"},   {42, "42@"}};
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(FormatResult(code), text);
    EXPECT_EQ(ParseResultCode(text), code);
  }
}

TEST(TreeEntry, TypeCodes) {
  EXPECT_EQ(PropertyType(true, true, false), "prw");
  EXPECT_EQ(PropertyType(true, false, false), "pr-");
  EXPECT_EQ(PropertyType(true, false, true), "prv");
  EXPECT_EQ(PropertyType(false, true, true), "p-w");
  EXPECT_EQ(TreeEntry("Array1", kTypeFolder, "22"), "Array1@o--@22");
}
