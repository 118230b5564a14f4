// What the console's windows decide without a window: placement, panes, menus, pages, the
// outline's refill, path and Auto Demo, label edits and the list pane's progress bars.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "console/core/strings.h"
#include "console/core/tests/console_test_support.h"
#include "console/core/windows/frame_rules.h"
#include "console/core/windows/pane_rules.h"

namespace kelm::console::testing {
namespace {

TEST(WindowPos, RoundTripsAndRefusals) {
  struct Case {
    const char* saved;
    bool valid;
    unsigned show;
    ScreenRect rect;
  } cases[] = {
      {"0,1,-1,-1,-1,-1,10,20,810,620", true, kShowNormal, {10, 20, 810, 620}},
      {"2,3,-1,-1,-1,-1,10,20,810,620", true, kShowMaximised, {10, 20, 810, 620}},
      // Closed minimised: back normal, or maximised when it was maximised before.
      {"0,2,-1,-1,-1,-1,10,20,810,620", true, kShowNormal, {10, 20, 810, 620}},
      {"2,2,-1,-1,-1,-1,10,20,810,620", true, kShowMaximised, {10, 20, 810, 620}},
      {"0,1,-1,-1,-1,-1,10,20,810", false, 0, {}},
      {"0,1,-1,-1,-1,-1,10,20,810,620,5", false, 0, {}},
      {"a,b,c,d,e,f,g,h,i,j", false, 0, {}},
      {"0,1,-1,-1,-1,-1,810,20,10,620", false, 0, {}},
      {"0,1,-1,-1,-1,-1,10,20,810,20", false, 0, {}},
      {"0,1,-1,-1,-1,-1,10,20,99999999999999999999,620", false, 0, {}},
      {"-1,1,-1,-1,-1,-1,10,20,810,620", false, 0, {}},
      {"", false, 0, {}},
  };
  for (const Case& c : cases) {
    const auto p = ParseWindowPos(c.saved);
    ASSERT_EQ(p.has_value(), c.valid) << c.saved;
    if (!p) continue;
    EXPECT_EQ(p->showCommand, c.show) << c.saved;
    EXPECT_EQ(p->normal, c.rect) << c.saved;
  }
  WindowPlacement w;
  w.flags = 2;
  w.showCommand = kShowMaximised;
  w.normal = {10, 20, 810, 620};
  EXPECT_EQ(FormatWindowPos(w), "2,3,-1,-1,-1,-1,10,20,810,620");
  const auto back = ParseWindowPos(FormatWindowPos(w));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->normal, w.normal);
  EXPECT_TRUE(back->maximised());
}

TEST(WindowPos, ARectangleOffEveryScreenIsMovedOnto) {
  const std::vector<ScreenRect> screens = {{0, 0, 1280, 1024}, {1280, 0, 2560, 1024}};
  // On the second screen: kept.
  EXPECT_EQ(FitOnScreens({1400, 100, 2200, 700}, screens), (ScreenRect{1400, 100, 2200, 700}));
  // Off both: moved onto the primary, same size.
  EXPECT_EQ(FitOnScreens({5000, 5000, 5800, 5600}, screens), (ScreenRect{480, 424, 1280, 1024}));
  // Only a sliver shows: moved.
  EXPECT_EQ(FitOnScreens({-790, 10, 10, 610}, screens), (ScreenRect{0, 10, 800, 610}));
  // Larger than the screen but covering it: it shows, so it stays.
  EXPECT_EQ(FitOnScreens({-100, -100, 3000, 3000}, {{0, 0, 1280, 1024}}), (ScreenRect{-100, -100, 3000, 3000}));
  // Larger and off the screen: moved and cut to it.
  EXPECT_EQ(FitOnScreens({3000, 3000, 6000, 6000}, {{0, 0, 1280, 1024}}), (ScreenRect{0, 0, 1280, 1024}));
}

TEST(ContentSize, DefaultAndClamp) {
  EXPECT_EQ(ContentHeight(0, 600), 120);
  EXPECT_EQ(ContentHeight(-5, 600), 120);
  EXPECT_EQ(ContentHeight(200, 600), 200);
  EXPECT_EQ(ContentHeight(5000, 600), 600 - kMinPropertyPane);
  EXPECT_EQ(ContentHeight(100, 0), 0);
}

TEST(NextPane, CycleAndSkips) {
  struct Case {
    Pane focus;
    std::array<bool, 3> usable;
    std::optional<Pane> next;
  } cases[] = {
      {Pane::Outline, {true, true, true}, Pane::List},
      {Pane::List, {true, true, true}, Pane::Property},
      {Pane::Property, {true, true, true}, Pane::Outline},
      {Pane::Property, {false, true, true}, Pane::List},    // outline hidden
      {Pane::Outline, {true, false, true}, Pane::Property}, // list has an empty placement
      {Pane::Other, {true, true, true}, Pane::Outline},     // focus on the tool bar
      {Pane::Other, {false, false, true}, Pane::Property},
      {Pane::List, {false, true, false}, std::nullopt},     // only the focused pane: stays
      {Pane::Outline, {false, false, false}, std::nullopt}, // all hidden
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NextPane(c.focus, c.usable), c.next) << static_cast<int>(c.focus);
  }
}

TEST(About, WithAndWithoutVersion) {
  EXPECT_EQ(AboutText(std::string("1.2.3.4")), "Velkari Array Management 1.2.3.4");
  EXPECT_EQ(AboutText(std::nullopt), "Velkari Array Management UNKNOWN VERSION");
  EXPECT_EQ(AboutText(std::string()), "Velkari Array Management UNKNOWN VERSION");
}

TEST(Autostart, ExecQuotingAndTheEntry) {
  struct Case {
    const char* path;
    const char* exec;
  } cases[] = {
      {"/opt/kelm/bin/kelm", "\"/opt/kelm/bin/kelm\""},
      {"/opt/Kelm Console/kelm", "\"/opt/Kelm Console/kelm\""},
      {"/opt/100%/kelm", "\"/opt/100%%/kelm\""},
      {"/opt/a\"b/kelm", "\"/opt/a\\\\\"b/kelm\""},
      {"/opt/$HOME/kelm", "\"/opt/\\\\$HOME/kelm\""},
      {"/opt/`x`/kelm", "\"/opt/\\\\`x\\\\`/kelm\""},
      {"/opt/a\\b/kelm", "\"/opt/a\\\\\\\\b/kelm\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DesktopExecArgument(c.path), c.exec) << c.path;
  }
  plat::testing::TempRoot root;
  ASSERT_TRUE(MirrorAutostart(true, "/opt/Kelm Console/kelm"));
  std::ifstream in(AutostartPath());
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("\nExec=\"/opt/Kelm Console/kelm\"\n"), std::string::npos) << all;
  EXPECT_EQ(AutostartPath().rfind(root.dir().string(), 0), 0u);
  ASSERT_TRUE(MirrorAutostart(false, ""));
  EXPECT_FALSE(std::filesystem::exists(AutostartPath()));
  EXPECT_TRUE(MirrorAutostart(false, ""));  // already gone
}

TEST(ReentryGuard, APollInsideAPollReturnsAtOnce) {
  ReentryGuard guard;
  int runs = 0;
  std::function<void()> poll = [&] {
    ReentryGuard::Scope scope(guard);
    if (!scope) return;
    ++runs;
    poll();  // a nested loop's timer
  };
  poll();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(guard.busy());
  poll();
  EXPECT_EQ(runs, 2);
}

// Nodes made by the console under the fake agent, for rules that read only the node.
class Nodes : public NodeFixture {};

TEST_F(Nodes, RefillKeepsMatchedItemsAndMarksNewFolders) {
  CVirtualFolder* p = Make("P", kNodeIopController);
  CVirtualFolder* a = Make("A", kNodeIopArray, {}, p);
  CVirtualFolder* b = Make("B", kNodeIopArray, {}, p);
  CVirtualFolder* c = Make("C", kNodeIopArray, {}, p);
  CVirtualFolder* d = Make("D", kNodeIopArray, {}, p);
  const RefillPlan plan = PlanRefill({a, b, c}, {b, d}, true);
  EXPECT_FALSE(plan.placeholderOnly);
  EXPECT_EQ(plan.keep, (std::vector<std::size_t>{1}));
  EXPECT_EQ(plan.insert, (std::vector<CPea*>{d}));
  EXPECT_EQ(plan.remove, (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(plan.order, (std::vector<CPea*>{b, d}));
  // No sub-folders yet: the placeholder (the old one stays when it is already there).
  EXPECT_TRUE(PlanRefill({a}, {}, true).placeholderOnly);
  const RefillPlan again = PlanRefill({nullptr}, {}, true);
  EXPECT_FALSE(again.placeholderOnly);
  EXPECT_TRUE(again.remove.empty());
  // The listing arrived: the placeholder goes.
  EXPECT_EQ(PlanRefill({nullptr}, {a}, true).remove, (std::vector<std::size_t>{0}));
  EXPECT_FALSE(PlanRefill({}, {}, false).placeholderOnly);
}

TEST_F(Nodes, PlaceholderRule) {
  CVirtualFolder* closed = Make("X", kNodeIopController);
  closed->setOpen(false);  // not listed yet
  EXPECT_TRUE(WantsPlaceholder(closed));
  Agent()->SetLocalProperty("bValidProfile", "0");
  EXPECT_FALSE(WantsPlaceholder(Agent()));
  CVirtualFolder* down = Make("Y", kNodeServer, {{"ServerStatus", "2"}});
  EXPECT_FALSE(WantsPlaceholder(down));
  CVirtualFolder* empty = Make("Z", kNodeIopController);
  empty->setOpen(true);
  EXPECT_FALSE(WantsPlaceholder(empty));
}

struct LabelTree {
  std::string label;
  std::vector<LabelTree> children;
};

TEST(ActiveLeaf, EncodeAndFollowTheDeepestExactMatch) {
  EXPECT_EQ(EncodeActiveLeaf({"MyConsole", "HOST7", "MAROVELT", "Array1"}), "/MyConsole/HOST7/MAROVELT/Array1");
  EXPECT_EQ(ActiveLeafBelowRoot("/MyConsole/HOST7/MAROVELT/Array1"),
            (std::vector<std::string>{"HOST7", "MAROVELT", "Array1"}));
  EXPECT_TRUE(ActiveLeafBelowRoot("/").empty());
  EXPECT_TRUE(ActiveLeafBelowRoot("MyConsole/HOST7").empty());
  EXPECT_TRUE(ActiveLeafBelowRoot(std::string(kMaxActiveLeaf + 1, '/')).empty());
  std::string deep = "/R";
  for (int i = 0; i < 100; ++i) deep += "/x";
  EXPECT_EQ(ActiveLeafBelowRoot(deep).size(), kMaxActiveLeafDepth);

  const LabelTree tree{"MyConsole", {{"HOST7", {{"Marovelt", {{"Array1", {}}}}, {"PALINDREX", {}}}}}};
  auto children = [](const LabelTree* t) {
    std::vector<const LabelTree*> out;
    for (const LabelTree& c : t->children) out.push_back(&c);
    return out;
  };
  auto label = [](const LabelTree* t) { return t->label; };
  auto [at, matched] = FollowPath<const LabelTree*>(&tree, ActiveLeafBelowRoot("/MyConsole/HOST7/MAROVELT/Array1"),
                                                    children, label);
  EXPECT_EQ(at->label, "HOST7");  // case-sensitive: MAROVELT is not Marovelt
  EXPECT_EQ(matched, 1u);
  auto [root, none] = FollowPath<const LabelTree*>(&tree, ActiveLeafBelowRoot("/"), children, label);
  EXPECT_EQ(root, &tree);
  EXPECT_EQ(none, 0u);
  auto [leaf, all] = FollowPath<const LabelTree*>(&tree, {"HOST7", "Marovelt", "Array1"}, children, label);
  EXPECT_EQ(leaf->label, "Array1");
  EXPECT_EQ(all, 3u);
}

// A tree of nodes in the console's own tree, walked as the outline walks its items.
struct NodeNav {
  CPea* rootNode;
  std::set<CPea*> placeholders;
  CPea* root() const { return rootNode; }
  CPea* parent(CPea* n) const { return n ? n->GetParent() : nullptr; }
  std::vector<CPea*> children(CPea* n) const {
    std::vector<CPea*> out;
    if (!n) return out;
    CPea::Position pos = n->GetFirstChildPosition();
    while (CPea* c = n->GetNextChild(pos)) {
      if (c->IsFolder()) out.push_back(c);
    }
    return out;
  }
  bool isPlaceholder(CPea* n) const { return placeholders.count(n) != 0; }
};

TEST_F(Nodes, AutoDemoStepsInTreeOrderOnTheClockAndEndsAtTheStart) {
  CVirtualFolder* r = Make("R", kNodeIopController);
  CVirtualFolder* a = Make("A", kNodeIopArray, {}, r);
  CVirtualFolder* wait = Make("wait", kNodeUnknown, {}, a);  // a placeholder is skipped
  CVirtualFolder* a1 = Make("A1", kNodeIopDisk, {}, a);
  CVirtualFolder* a2 = Make("A2", kNodeIopDisk, {}, a);
  CVirtualFolder* b = Make("B", kNodeIopArray, {}, r);
  NodeNav nav{r, {wait}};
  AutoDemo demo;
  demo.Start(r, clock.monotonicMs());
  CPea* at = r;
  std::vector<CPea*> seen;
  for (int s = 1; s <= 60 && demo.on(); ++s) {
    clock.advanceMs(1000);
    if (s == 9) {
      EXPECT_FALSE(demo.Due(clock.monotonicMs()));
      continue;
    }
    if (!demo.Due(clock.monotonicMs())) continue;
    at = NextInTreeOrder<CPea*>(at, nav);
    seen.push_back(at);
    demo.Stepped(at);
  }
  EXPECT_EQ(seen, (std::vector<CPea*>{a, a1, a2, b, r}));
  EXPECT_FALSE(demo.on());
  demo.SetFreq(0);
  EXPECT_EQ(demo.freq(), 1);
}

TEST_F(Nodes, AutoDemoHoldsItsStartCounted) {
  CVirtualFolder* s = Make("S", kNodeIopArray);
  AutoDemo demo;
  demo.Start(s, 0);
  const int before = s->RefCount();
  Agent()->RemoveChildNode(s);
  // Still a valid node the demo can compare against, no longer in the tree.
  EXPECT_EQ(demo.start(), s);
  EXPECT_EQ(s->RefCount(), before - 1);
  demo.Stop();
}

TEST_F(Nodes, LabelEditsAreCheckedBeforeAnythingIsSent) {
  FakeNode* fa = agent.root.Folder("Arr", kNodeIdeArray);
  fa->Add("name", "prw", "Old");
  fa->Add("rename", "m--", "60");
  Agent()->Reload();
  Pump();
  CVirtualFolder* arr = Node("\\HOST7\\Arr");
  ASSERT_NE(arr, nullptr);
  arr->Refresh();
  Pump();
  ASSERT_TRUE(CanEditLabel(arr));
  EXPECT_EQ(LabelEditStart(arr), "Old");
  for (const char* bad : {"", "a@b", "a\\b", "tab\there", "bell\a", "del\x7f"}) {
    const std::size_t mark = agent.received.size();
    EXPECT_FALSE(CommitLabelEdit(arr, bad)) << bad;
    EXPECT_TRUE(agent.Since(mark).empty()) << bad;
  }
  const std::size_t mark = agent.received.size();
  ASSERT_TRUE(CommitLabelEdit(arr, "Data 2"));
  Pump();
  std::vector<std::pair<int, std::string>> sent;
  for (const CMessage& m : agent.Since(mark)) {
    if (m.code == kReqSetProperty || m.code == kReqInvoke) sent.emplace_back(m.code, m.text);
  }
  EXPECT_EQ(sent, (std::vector<std::pair<int, std::string>>{{kReqSetProperty, "name@Data 2"},
                                                            {kReqInvoke, "rename@Data 2"}}));
  // A node without the method is refused before the edit box opens.
  CVirtualFolder* plain = Make("Plain", kNodeIopDisk);
  EXPECT_FALSE(CanEditLabel(plain));
  EXPECT_FALSE(CommitLabelEdit(plain, "x"));
  // The root too: its name becomes every path.
  EXPECT_FALSE(CommitLabelEdit(doc->root(), "My\\Console"));
}

TEST_F(Nodes, ProgressBarsFromTheValuesAtHandWithoutARequest) {
  struct Case {
    int status;
    const char* percent;
    const char* word;
    int shown;
    bool draw;
  } cases[] = {
      {0x200, "30", "Reb.", 30, true},
      {0x100, "60", "Sync.", 60, true},
      {0x300, "150", "Exp.", -1, false},  // above 100: remembered as -1, not drawn
      {0x200, "100", "Reb.", 100, false}, // a full bar is erased, not drawn full
      {0x400, "10", "", 10, false},       // converting and initialising draw no bar
      {0x500, "10", "", 10, false},
  };
  std::vector<CPea*> items;
  int i = 0;
  for (const Case& c : cases) {
    items.push_back(Make("A" + std::to_string(i++), kNodeIdeArray,
                         {{"Status", std::to_string(c.status)}, {"percent", c.percent}}));
  }
  items.push_back(Make("Idle", kNodeIdeArray, {{"Status", "0"}, {"percent", "0"}}));
  items.push_back(Make("Disk", kNodeIdeDisk, {{"Status", "512"}}));
  const std::size_t mark = agent.received.size();
  const std::vector<ProgressBar> bars = ProgressBars(items);
  ASSERT_EQ(bars.size(), std::size(cases));  // no task, no bar; only arrays
  for (std::size_t k = 0; k < bars.size(); ++k) {
    EXPECT_EQ(bars[k].node, items[k]);
    EXPECT_EQ(bars[k].word, cases[k].word) << k;
    EXPECT_EQ(bars[k].percent, cases[k].shown) << k;
    EXPECT_EQ(bars[k].draw, cases[k].draw) << k;
  }
  Pump();
  EXPECT_TRUE(agent.Since(mark).empty());  // a paint never asks the agent
}

TEST(TaskWord, ByTaskByte) {
  EXPECT_EQ(TaskWord(0x100), "Sync.");
  EXPECT_EQ(TaskWord(0x200), "Reb.");
  EXPECT_EQ(TaskWord(0x300), "Exp.");
  EXPECT_EQ(TaskWord(0x400), "");
  EXPECT_EQ(TaskWord(0x500), "");
  EXPECT_EQ(TaskWord(0), "");
}

}  // namespace
}  // namespace kelm::console::testing
