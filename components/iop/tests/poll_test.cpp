// The one-second poll: arrays on two ticks of three, the staggered controller refresh, and what
// the array poll tells its watchers.
#include "components/iop/tests/vantrel_fixture.h"

namespace kelm::iop::testing {
namespace {

TEST_F(VantrelTest, ArraysPollTwoTicksOfThree) {
  Controller();
  std::vector<int> polled;
  for (int tick = 1; tick <= 9; ++tick) {
    card.sent.clear();
    PollList::Get().Tick();
    if (!card.Sent(0x3301).empty()) polled.push_back(tick);
  }
  EXPECT_EQ(polled, (std::vector<int>{2, 3, 5, 6, 8, 9}));
}

TEST_F(VantrelTest, ControllerRefreshOnTick136ThenEvery135) {
  Controller();
  std::vector<int> refreshed;
  for (int tick = 1; tick <= 420; ++tick) {
    card.sent.clear();
    PollList::Get().Tick();
    if (!card.Sent(0x3001).empty()) refreshed.push_back(tick);
  }
  EXPECT_EQ(refreshed, (std::vector<int>{136, 271, 406}));
}

TEST_F(VantrelTest, TwoControllersShareTheCounter) {
  card.cards[1] = 0x0B1;
  MakeRoot();
  std::vector<std::pair<int, std::int32_t>> refreshed;
  for (int tick = 1; tick <= 140; ++tick) {
    card.sent.clear();
    PollList::Get().Tick();
    for (auto& m : card.Sent(0x3001)) refreshed.emplace_back(tick, m.controller);
  }
  // The counter moves twice a tick: its value 135 falls to the second controller on tick 68, and
  // from then on to each controller in turn.
  ASSERT_EQ(refreshed.size(), 2u);
  EXPECT_EQ(refreshed[0], std::make_pair(68, 1));
  EXPECT_EQ(refreshed[1], std::make_pair(136, 0));
}

TEST_F(VantrelTest, ArrayPollNotifiesOnChangesOnly) {
  CIopController* c = Controller();
  auto* array = dynamic_cast<CIopArray*>(Child(c, "Array1"));
  auto watch = Watch(array);
  auto tick = [] { PollList::Get().Tick(); };
  for (int i = 0; i < 6; ++i) tick();
  EXPECT_EQ(watch->codes.size(), 1u) << "the first poll stores the state";
  EXPECT_EQ(Value(array, "Status"), "1");
  for (int i = 0; i < 6; ++i) tick();
  EXPECT_EQ(watch->codes.size(), 1u) << "a steady state with throttle 0 says nothing";

  // A rebuild runs: every polled tick notifies while the throttle is not 0.
  arrayState = 0x0201;
  throttle = 1;
  for (int i = 0; i < 3; ++i) tick();
  EXPECT_EQ(watch->codes.size(), 3u);
  EXPECT_EQ(Value(array, "percent"), "40");
  EXPECT_EQ(Value(array, "ThrottleStatus"), "1");
  EXPECT_EQ(Value(array, "Status"), std::to_string(0x0201));

  // Throttle 2: the task ended, the state loses bits 8 to 15.
  throttle = 2;
  for (int i = 0; i < 3; ++i) tick();
  EXPECT_EQ(Value(array, "Status"), "1");
  EXPECT_EQ(array->StoredState(), 1u);
}

TEST_F(VantrelTest, AStateChangeRescansTheMembers) {
  CIopController* c = Controller();
  auto* array = dynamic_cast<CIopArray*>(Child(c, "Array1"));
  for (int i = 0; i < 3; ++i) PollList::Get().Tick();
  ASSERT_EQ(ChildNames(array), (std::vector<std::string>{"master00", "slave01"}));
  owner[201] = 0;
  members = {200};
  arrayState = 3;
  for (int i = 0; i < 3; ++i) PollList::Get().Tick();
  EXPECT_EQ(ChildNames(array), std::vector<std::string>{"master00"});
  EXPECT_EQ(array->Members(), std::vector<std::uint32_t>{200});
}

TEST_F(VantrelTest, TheFirstArrayStartsTheTimerAndTheLastNodeStopsIt) {
  auto loop = plat::makeEpollLoop().value();
  card.cards.clear();
  MakeRoot();
  EXPECT_FALSE(PollList::Get().TimerRunning()) << "no arrays, no timer";
  roots.clear();
  card.cards[0] = 1;
  MakeRoot();
  EXPECT_TRUE(PollList::Get().TimerRunning());
  roots.clear();
  EXPECT_FALSE(PollList::Get().TimerRunning());
}

}  // namespace
}  // namespace kelm::iop::testing
