// The root: bringing the library up, the wait for the link, connect and disconnect, and the poll.
#include <chrono>

#include "components/framework/river_node.h"
#include "components/serial/tests/brask_fixture.h"
#include "platform/loop/event_loop.h"
#include "platform/testing/manual_clock.h"

using namespace kelm;
using namespace kelm::brask;
using namespace kelm::brask::testing;

namespace {

using Names = std::vector<std::string>;

TEST_F(BraskTest, ConnectedRootShowsItsControllerAndItsTree) {
  CBraskRoot* root = MakeRoot();
  EXPECT_EQ(Value(root, "ComportStatus"), "Connected");
  EXPECT_EQ(Value(root, "Type"), "VELKARI SorventicRAID");
  EXPECT_EQ(root->NodeType(), 14);
  EXPECT_EQ(root->Name(), "brask");
  EXPECT_EQ(ChildNames(root), Names{"Controller1"});
  EXPECT_EQ(Rights(root, "connectComPort"), 0xF7FFFFFFu);
  EXPECT_EQ(Rights(root, "disconnectComPort"), 0xF7FFFFFFu);
  auto* controller = Child(root, "Controller1");
  EXPECT_EQ(controller->NodeType(), 23);
  EXPECT_EQ(ChildNames(controller), (Names{"ch1", "ch2", "ch3", "ch4", "Enclosure1", "Array1"}));
  EXPECT_EQ(ChildNames(Child(controller, "Array1")), (Names{"disk1", "disk2", "disk3"}));
  EXPECT_EQ(ChildNames(Child(controller, "ch1")), Names{"master"});
  EXPECT_EQ(Child(controller, "ch4/master")->Id1(), 3) << "a channel's disk is the one at its position";
  EXPECT_TRUE(sleeper.calls().empty()) << "a link that is up at once costs no wait";
}

TEST_F(BraskTest, TheWaitForTheLinkEndsWhenItComesUpAndNeverExceedsThreeSeconds) {
  api.ready = false;
  api.readyAfterChecks = 5;
  CBraskRoot* root = MakeRoot();
  EXPECT_EQ(Value(root, "ComportStatus"), "Connected");
  EXPECT_EQ(sleeper.calls(), (std::vector<std::uint32_t>(4, 100))) << "sliced, and no slice after the link came up";

  api.ready = false;
  api.readyAfterChecks = 0;
  roots.clear();
  const auto slices = sleeper.calls().size();
  const auto before = clock.monotonicMs();
  root = MakeRoot();
  EXPECT_EQ(clock.monotonicMs() - before, 3000) << "the wait is the root's own pause at most";
  EXPECT_EQ(sleeper.calls().size() - slices, 30u);
  EXPECT_EQ(Value(root, "ComportStatus"), "Disconnected");
  EXPECT_TRUE(ChildNames(root).empty());
  EXPECT_EQ(api.Calls("StopComportActivity").size(), 1u);
}

TEST_F(BraskTest, TerminateOnlyAfterASuccessfulInitialize) {
  api.initResult = 2;
  CBraskRoot* root = MakeRoot();
  EXPECT_EQ(Value(root, "ComportStatus"), "Disconnected");
  EXPECT_TRUE(api.Calls("TryToConnectComPort").empty());
  EXPECT_TRUE(sleeper.calls().empty()) << "nothing to wait for without a library";
  roots.clear();
  EXPECT_TRUE(api.Calls("raTerminate").empty());

  api.initResult = 0;
  MakeRoot();
  roots.clear();
  EXPECT_EQ(api.Calls("raTerminate").size(), 1u);
}

TEST_F(BraskTest, ALinkThatFallsDropsTheControllersAndComesBackReady) {
  CBraskRoot* root = MakeRoot();
  auto seen = Watch(root);
  api.ready = false;
  PollOnce();
  EXPECT_EQ(Value(root, "ComportStatus"), "Disconnected");
  EXPECT_TRUE(ChildNames(root).empty());
  EXPECT_TRUE(root->IsDisconnected());
  EXPECT_EQ(seen->codes, std::vector<std::uint32_t>{8194}) << "the children changed";
  PollOnce();
  EXPECT_EQ(seen->codes.size(), 1u) << "nothing changes while the link stays down";

  api.ready = true;
  PollOnce();
  EXPECT_EQ(Value(root, "ComportStatus"), "Ready");
  EXPECT_EQ(ChildNames(root), Names{"Controller1"});
  EXPECT_EQ(seen->codes.size(), 2u);
  PollOnce();
  EXPECT_EQ(Value(root, "ComportStatus"), "Connected");
}

TEST_F(BraskTest, RefreshWithTheLinkDownDropsTheChildrenLikeThePoll) {
  CBraskRoot* root = MakeRoot();
  api.ready = false;
  EXPECT_EQ(root->refresh(), plat::S_OK);
  EXPECT_EQ(Value(root, "ComportStatus"), "Disconnected");
  EXPECT_TRUE(ChildNames(root).empty()) << "\"Disconnected\" means no controller";
}

TEST_F(BraskTest, ConnectAndDisconnectByMethod) {
  CBraskRoot* root = MakeRoot();
  auto seen = Watch(root);
  EXPECT_EQ(root->invoke("connectComPort", "anything"), plat::S_OK);
  EXPECT_EQ(ChildNames(root), Names{"Controller1"}) << "a link already up changes nothing";
  EXPECT_TRUE(seen->codes.empty());

  EXPECT_EQ(root->invoke("disconnectComPort", ""), plat::S_OK);
  EXPECT_TRUE(ChildNames(root).empty());
  EXPECT_EQ(seen->codes.size(), 1u);
  PollOnce();
  EXPECT_TRUE(ChildNames(root).empty()) << "the link stays down after a disconnect";
  EXPECT_EQ(Value(root, "ComportStatus"), "Disconnected");

  api.ready = true;  // the library reconnected when asked
  root->invoke("connectComPort", "");
  EXPECT_EQ(ChildNames(root), Names{"Controller1"});
  EXPECT_EQ(seen->codes.size(), 2u);
}

TEST_F(BraskTest, OneCounterForAllRootsSpreadsTheirPolls) {
  CBraskRoot* first = MakeRoot();
  CBraskRoot* second = MakeRoot();
  api.ready = false;           // a poll shows as the children going
  PollRegistry::Get().Tick();  // tick 0: the first root
  EXPECT_TRUE(ChildNames(first).empty()) << "the first poll is on the first tick";
  EXPECT_FALSE(ChildNames(second).empty());
  for (int i = 1; i < 9; ++i) PollRegistry::Get().Tick();
  EXPECT_FALSE(ChildNames(second).empty());
  PollRegistry::Get().Tick();  // tick 9: (9 + 1) is a multiple of 10
  EXPECT_TRUE(ChildNames(second).empty());
  EXPECT_EQ(PollRegistry::Get().TickCount(), 10u) << "one rise per tick, whatever the roots";
}

TEST_F(BraskTest, TheTimerRunsWithTheRootsAndHoldsTheLibrary) {
  plat::ManualClock loopClock;
  auto made = plat::makeEpollLoop(loopClock);
  ASSERT_TRUE(made);
  auto loop = std::move(made).value();
  CBraskRoot* root = MakeRoot();
  MakeRoot();
  EXPECT_TRUE(PollRegistry::Get().TimerRunning());
  // Take the live nodes out of the count for a moment: what then keeps the library is the lock.
  const long nodes = fw::Module().objects();
  for (long i = 0; i < nodes; ++i) fw::Module().objectDown();
  const bool unloadable = fw::Module().canUnload();
  for (long i = 0; i < nodes; ++i) fw::Module().objectUp();
  EXPECT_FALSE(unloadable) << "a live timer keeps the library loaded";

  api.ready = false;
  loopClock.advanceMs(1000);
  loop->runOnce(0);
  EXPECT_TRUE(ChildNames(root).empty()) << "the timer polled the first root";
  EXPECT_EQ(PollRegistry::Get().TickCount(), 1u);

  roots.pop_back();
  EXPECT_TRUE(PollRegistry::Get().TimerRunning()) << "one root is left";
  roots.clear();
  EXPECT_FALSE(PollRegistry::Get().TimerRunning()) << "the last root stops the timer";
  EXPECT_TRUE(fw::Module().canUnload());
  loopClock.advanceMs(5000);
  loop->runOnce(0);
  EXPECT_EQ(PollRegistry::Get().TickCount(), 1u);
}

}  // namespace
