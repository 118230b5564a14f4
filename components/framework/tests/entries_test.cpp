#include <gtest/gtest.h>

#include "components/framework/tests/test_nodes.h"

using namespace kelm::fw;
using kelm::fw::testing::Leaf;
using plat::com::ComPtr;
using plat::com::makeObject;

namespace {

std::vector<std::string> Names(CRiverNode& n) {
  std::vector<std::string> out;
  for (auto& d : n.Entries()) out.push_back(d->name);
  return out;
}

TEST(ModeFor, FlagsToModeLetters) {
  struct Case {
    std::uint32_t flags;
    const char* previous;
    const char* want;
  };
  const Case cases[] = {
      {3, "", "pr-"},       {7, "", "prw"},    {11, "", "prv"},    {5, "", "p-w"},     {1, "", "p--"},
      {15, "", "prw"},      {9, "", "p-v"},    {0x100, "", "m--"}, {0x101, "", "m--"}, {0x10000, "", "o--"},
      {0x10107, "", "o--"}, {0, "prw", "prw"}, {2, "m--", "m--"},  // no kind bit: the mode stays as it was
  };
  for (const Case& c : cases) EXPECT_EQ(ModeFor(c.flags, c.previous), c.want) << c.flags;
}

TEST(SetAttr, RulesTable) {
  struct Case {
    const char* name;
    bool present;  // the entry exists before, as "Old" with flags `before`
    std::uint32_t before;
    std::uint32_t flags;
    int answer;
    const char* value;  // value afterwards
    const char* mode;   // mode afterwards
  };
  const Case cases[] = {
      {"absent, flags 0 -> added read/write", false, 0, 0, 1, "new", "prw"},
      {"absent, flags 3 -> added with them", false, 0, 3, 1, "new", "pr-"},
      {"present, flags 3 -> redefined", true, 7, 3, 1, "new", "pr-"},
      {"present writable, flags 0 -> untouched, 1", true, 7, 0, 1, "old", "prw"},
      {"present read-only, flags 0 -> untouched, 0", true, 3, 0, 0, "old", "pr-"},
      {"present volatile, flags 0 -> untouched, 0", true, 11, 0, 0, "old", "prv"},
      {"present method, flags 0 -> untouched, 0", true, 0x100, 0, 0, "old", "m--"},
  };
  for (const Case& c : cases) {
    auto n = makeObject<Leaf>();
    n->SetAttr("First", 3, "1");
    if (c.present) n->AddDrop("Old", c.before, "old");
    n->SetAttr("Last", 3, "2");
    const char* name = c.present ? "Old" : "Fresh";
    EXPECT_EQ(n->SetAttrF(name, c.flags, "%s", "new"), c.answer) << c.name;
    CDrop* d = n->FindDrop(name);
    ASSERT_TRUE(d) << c.name;
    EXPECT_EQ(d->value, c.value) << c.name;
    EXPECT_EQ(d->mode, c.mode) << c.name;
    // A redefinition keeps the entry's place; a new entry goes to the end.
    EXPECT_EQ(Names(*n).back() == name, !c.present) << c.name;
  }
}

TEST(SetAttr, ClientValueSurvivesALaterDefaultAndFormatsAreNeverCut) {
  auto n = makeObject<Leaf>();
  n->Init(nullptr, "Disk0", 0, 0, 0);  // UpdateValues gives "Label" its default
  ASSERT_EQ(n->set("Label", "mine", 0), plat::S_OK);
  n->refresh();  // the default again
  EXPECT_EQ(n->GetAttr("Label", ""), "mine");
  std::string big(5000, 'x');
  n->SetAttrF("Big", 3, "%s-%d-%.3f", big.c_str(), -42, 1.5);
  EXPECT_TRUE(n->GetAttr("Big", "") == big + "--42-1.500");
  n->SetAttrInt("Int", 3, -2147483648LL);
  EXPECT_EQ(n->GetAttr("Int", ""), "-2147483648");
  const std::uint8_t bytes[] = {0x12, 0xAB};
  n->SetAttrBinary("Bin", 3, bytes, 2);
  EXPECT_EQ(n->GetAttr("Bin", ""), "CBLK");
}

TEST(GetAttr, DefaultsConversionAndUpdateHook) {
  auto n = makeObject<Leaf>();
  n->SetAttr("Num", 3, "  -17abc");
  n->SetAttr("Text", 3, "abc");
  n->SetAttr("Huge", 3, "99999999999");
  n->updates = 0;
  EXPECT_EQ(n->GetAttrInt("Num", 5), -17);
  EXPECT_EQ(n->GetAttrInt("Text", 5), 0);
  EXPECT_EQ(n->GetAttrInt("Huge", 5), INT_MAX);
  EXPECT_EQ(n->GetAttrInt("Missing", 5), 5);
  EXPECT_EQ(n->GetAttr("Missing", "dflt"), "dflt");
  EXPECT_EQ(n->updates, 3) << "UpdateAttribute runs before every read of a present entry";
}

TEST(Children, RedefiningAChildEntryReleasesThePreviousChild) {
  auto parent = makeObject<Leaf>(kSerialController);
  parent->Init(nullptr, "Ctrl", 0, 0, 0);
  auto a = makeObject<Leaf>(), b = makeObject<Leaf>();
  a->Init(parent.get(), "A", 1, 0, 0);
  b->Init(parent.get(), "B", 2, 0, 0);
  ASSERT_EQ(parent->AddChild(a.get(), std::string("Slot")), 1);
  CRiverNode* weakA = a.get();
  a.reset();  // only the entry holds A now
  EXPECT_EQ(parent->ChildByName("Slot"), weakA);
  long before = Module().objects();
  ASSERT_EQ(parent->AddChild(b.get(), std::string("Slot")), 1);
  EXPECT_EQ(Module().objects(), before - 1) << "A was released when its entry was redefined";
  EXPECT_EQ(parent->ChildByName("Slot"), b.get());
  // A child entry redefined as a property releases its child too, and leaves no dangling parent.
  parent->SetAttr("Slot", 3, "plain");
  EXPECT_EQ(parent->ChildByName("Slot"), nullptr);
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_EQ(parent->set("Slot", "x", 0), plat::S_FALSE);
}

TEST(Children, AddingTheSameChildAgainKeepsItListedUnderItsParent) {
  auto parent = makeObject<Leaf>(kSerialController);
  parent->Init(nullptr, "Ctrl", 0, 0, 0);
  auto a = makeObject<Leaf>();
  a->Init(parent.get(), "A", 1, 0, 0);
  ASSERT_EQ(parent->AddChild(a.get()), 1);
  long before = Module().objects();
  CRiverNode* weakA = a.get();
  a.reset();
  // A scan that finds the child again and lists it once more.
  ASSERT_EQ(parent->AddChild(weakA), 1);
  EXPECT_EQ(Module().objects(), before) << "the child is still held exactly once";
  EXPECT_EQ(parent->ChildByName("A"), weakA);
  EXPECT_EQ(weakA->Parent(), parent.get());
  EXPECT_EQ(parent->FindDrop("A")->value, weakA->HandleText());
}

TEST(Children, AddChildRefusesUninitialisedNodesAndRemoveEntryOnlyItsOwn) {
  auto parent = makeObject<Leaf>();
  parent->Init(nullptr, "P", 0, 0, 0);
  auto raw = makeObject<Leaf>();
  EXPECT_EQ(parent->AddChild(raw.get()), 0);
  EXPECT_EQ(parent->FindDrop(""), nullptr);
  EXPECT_EQ(parent->AddChild(parent.get()), 0) << "a node is never its own child";
  auto other = makeObject<Leaf>();
  other->Init(nullptr, "O", 0, 0, 0);
  other->SetAttr("X", 3, "1");
  EXPECT_FALSE(parent->RemoveEntry(other->FindDrop("X")));
  EXPECT_TRUE(other->FindDrop("X"));
  EXPECT_TRUE(parent->RemoveEntry(parent->FindDrop("handle")));
  EXPECT_FALSE(parent->FindDrop("handle"));
  parent->RemoveAll();
  EXPECT_TRUE(parent->Entries().empty());
}

}  // namespace
