// The cached labels, images and command states the panes read.
#include "console/core/node_cache.h"
#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {
namespace {

class NodeCacheTest : public ConsoleTest {
 protected:
  void SetUp() override {
    FakeNode* a1 = agent.root.Child("Controller0")->Child("Array1");
    a1->Child("Status")->value = "512";  // rebuilding
    a1->Child("Status")->type = "prv";
    a1->Child("percent")->value = "30";
    ValidProfile();
    Start();
    Node("\\HOST7\\Controller0")->Refresh();
    Pump();
    array = Node("\\HOST7\\Controller0\\Array1");
    ASSERT_NE(array, nullptr);
    array->Refresh();
    Pump();
    cache = std::make_unique<NodeCache>(*doc);
    cache->onChanged = [this](CPea* n) { changed.push_back(n); };
  }
  void TearDown() override { cache.reset(); }
  int Sent(std::size_t mark, std::int32_t code, const std::string& text = "") {
    int n = 0;
    for (const CMessage& m : agent.Since(mark)) n += m.code == code && (text.empty() || m.text == text);
    return n;
  }
  void Second() {
    clock.advanceMs(1000);
    doc->Poll();
    Pump();
  }

  CVirtualFolder* array = nullptr;
  std::unique_ptr<NodeCache> cache;
  std::vector<CPea*> changed;
};

TEST_F(NodeCacheTest, TenIdleSecondsWithARebuildingArrayOnScreenSendABoundedFewRequests) {
  // The outline's items: the root, the agent, the controller and the array, which it also watches.
  for (CPea* n : {static_cast<CPea*>(doc->root()), static_cast<CPea*>(Agent()), static_cast<CPea*>(array->GetParent()),
                  static_cast<CPea*>(array)}) {
    cache->Track(n);
  }
  doc->WatchArray(array);
  const std::size_t mark = agent.received.size();
  for (int i = 0; i < 10; ++i) {
    Second();
    // A view reads the cache as often as it paints: nothing goes out for that.
    for (int paint = 0; paint < 50; ++paint) ASSERT_NE(cache->Find(array), nullptr);
  }
  // The progress check's one full read (Status, percent, ThrottleStatus) and the cache's percent
  // read at 1 s and 6 s.
  EXPECT_EQ(Sent(mark, kReqQuery, "percent"), 3);
  EXPECT_LE(Sent(mark, kReqQuery), 5);
  EXPECT_EQ(Sent(mark, kReqListRights), 0);
  EXPECT_EQ(cache->Find(array)->label, "Data Rebuilding 30%");
  doc->UnwatchArray(array);
}

TEST_F(NodeCacheTest, TheLabelFollowsTheAgentThroughHintsAndTheFiveSecondRead) {
  cache->Track(array);
  const CachedNode* entry = cache->Find(array);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->label, "Data Rebuilding 30%");
  EXPECT_EQ(entry->nodeType, kNodeIdeArray);
  EXPECT_EQ(entry->task, 0x200);
  EXPECT_TRUE(cache->CommandEnabled(array, kCmdRebuildArray));
  EXPECT_FALSE(cache->CommandEnabled(array, kCmdAddUser));
  agent.root.Child("Controller0")->Child("Array1")->Child("percent")->value = "60";
  Second();  // the first read goes out at once
  EXPECT_EQ(cache->Find(array)->label, "Data Rebuilding 60%");
  ASSERT_FALSE(changed.empty());
  EXPECT_EQ(changed.back(), array);
  // Four seconds later nothing is read again; at five it is.
  agent.root.Child("Controller0")->Child("Array1")->Child("percent")->value = "70";
  for (int i = 0; i < 4; ++i) Second();
  EXPECT_EQ(cache->Find(array)->label, "Data Rebuilding 60%");
  Second();
  EXPECT_EQ(cache->Find(array)->label, "Data Rebuilding 70%");
  // A value the agent reports on its own (a reload after 8194) shows through the hints.
  agent.root.Child("Controller0")->Child("Array1")->Child("Status")->value = "0";
  array->Reload();
  Pump();
  EXPECT_EQ(cache->Find(array)->label, "Data");
  EXPECT_EQ(cache->Find(array)->task, 0);
}

TEST_F(NodeCacheTest, EntriesAreCountedAndHoldTheirNodes) {
  cache->Track(array);
  cache->Track(array);
  const int held = array->RefCount();
  cache->Untrack(array);
  ASSERT_NE(cache->Find(array), nullptr);
  // A pruned node keeps its last entry, is not read, and goes with its last view.
  PeaRef<CVirtualFolder> watch(array);
  array->GetParent()->RemoveChild(array);
  Second();
  EXPECT_EQ(cache->Find(array)->label, "Data Rebuilding 30%");
  cache->Untrack(array);
  EXPECT_EQ(cache->Find(array), nullptr);
  EXPECT_EQ(cache->size(), 0u);
  EXPECT_LT(array->RefCount(), held);
  cache->Untrack(array);  // once too often: ignored
}

}  // namespace
}  // namespace kelm::console::testing
