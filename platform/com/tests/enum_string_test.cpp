#include "platform/com/enum_string.h"

#include <gtest/gtest.h>

using namespace plat;
using namespace plat::com;

namespace {

using Lines = std::vector<std::string>;

TEST(StringEnumerator, NextSkipResetCloneTable) {
  struct Step {
    char op;  // N next, S skip, R reset, C clone (then continue on the clone)
    std::uint32_t count;
    HRESULT want;
    Lines lines;
  };
  const Step steps[] = {
      {'N', 2, S_OK, {"a", "b"}},
      {'N', 0, S_OK, {}},
      {'S', 1, S_OK, {}},
      {'C', 0, S_OK, {}},
      {'N', 5, S_FALSE, {"d"}},
      {'N', 1, S_FALSE, {}},
      {'S', 1, S_FALSE, {}},
      {'R', 0, S_OK, {}},
      {'S', 9, S_FALSE, {}},
      {'R', 0, S_OK, {}},
      {'N', 4, S_OK, {"a", "b", "c", "d"}},
  };
  ComPtr<IEnumString> e = makeObject<StringEnumerator>(Lines{"a", "b", "c", "d"});
  ComPtr<IEnumString> original = e;
  int i = 0;
  for (const Step& s : steps) {
    Lines got{"stale"};
    HRESULT h = S_OK;
    switch (s.op) {
      case 'N':
        h = e->Next(s.count, got);
        break;
      case 'S':
        h = e->Skip(s.count);
        got.clear();
        break;
      case 'R':
        h = e->Reset();
        got.clear();
        break;
      case 'C': {
        ComPtr<IEnumString> c;
        h = e->Clone(c.put());
        e = c;
        got.clear();
        break;
      }
    }
    EXPECT_EQ(h, s.want) << "step " << i;
    EXPECT_EQ(got, s.lines) << "step " << i;
    ++i;
  }
  // The original kept its own position (after "c").
  Lines rest;
  EXPECT_EQ(original->Next(3, rest), S_FALSE);
  EXPECT_EQ(rest, Lines{"d"});
}

TEST(StringEnumerator, EmptyList) {
  ComPtr<IEnumString> e = makeObject<StringEnumerator>(Lines{});
  Lines got{"x"};
  EXPECT_EQ(e->Next(1, got), S_FALSE);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Clone(nullptr), E_POINTER);
}

}  // namespace
