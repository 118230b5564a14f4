// The cards' model: the objects a management program walks, the task engine on model time, disk
// failures and their events, and the scenario.
#include "sim/iop/card_model.h"

#include <gtest/gtest.h>

namespace sim::iop {
namespace {

class CardModelTest : public ::testing::Test {
 protected:
  std::vector<std::uint32_t> run(std::uint16_t code, std::vector<std::uint32_t> args, int card = 0) {
    std::vector<Value> rq;
    for (auto a : args) rq.push_back(Value{a});
    auto r = model.execute(card, code, rq, 2048);
    std::vector<std::uint32_t> out;
    for (auto& v : r) out.push_back(v.u);
    return out;
  }
  std::uint32_t status(std::uint16_t code, std::vector<std::uint32_t> args) { return run(code, std::move(args))[0]; }
  // Types of the events queued, read and removed.
  std::vector<std::uint32_t> takeEvents(std::vector<std::vector<std::uint32_t>>* args = nullptr) {
    std::vector<std::uint32_t> types;
    for (auto& e : model.card(0)->events) {
      types.push_back(e.type);
      if (args) args->push_back(e.args);
    }
    model.card(0)->events.clear();
    return types;
  }
  std::uint32_t arrayHandle(int index) { return run(0x3004, {kContainerHandle, static_cast<std::uint32_t>(index)})[1]; }
  std::uint32_t diskAt(std::uint32_t ch, std::uint32_t pos) { return run(0x3004, {ch, pos})[1]; }
  CardModel model;
};

TEST_F(CardModelTest, TheDefaultCardOffersChannelsContainerEnclosureArraysAndDisks) {
  auto count = run(0x3001, {0});
  ASSERT_EQ(count, (std::vector<std::uint32_t>{0, 7}));
  std::vector<std::vector<std::uint32_t>> objects;
  for (std::uint32_t i = 0; i < count[1]; ++i) objects.push_back(run(0x3002, {0, i}));
  EXPECT_EQ(objects[0], (std::vector<std::uint32_t>{0, 0, 1})) << "channel 0, kind 1, handle = channel number";
  EXPECT_EQ(objects[4], (std::vector<std::uint32_t>{0, 4, 2})) << "the serial channel, kind 2";
  EXPECT_EQ(objects[5], (std::vector<std::uint32_t>{0, kContainerHandle, 4}));
  EXPECT_EQ(objects[6], (std::vector<std::uint32_t>{0, kEnclosureHandle, 5}));
  EXPECT_EQ(run(0x3002, {0, 7})[0], kNoSuchObject);

  EXPECT_EQ(run(0x3003, {kContainerHandle}), (std::vector<std::uint32_t>{0, 2}));
  std::uint32_t mirror = arrayHandle(0), raid5 = arrayHandle(1);
  EXPECT_EQ(run(0x3004, {kContainerHandle, 0})[2], 4u) << "arrays are objects of kind 4";
  EXPECT_EQ(run(0x3300, {mirror}), (std::vector<std::uint32_t>{0, 1, 36u * 1024 * 2048, 64}));
  EXPECT_EQ(run(0x3300, {raid5})[1], 4u);
  EXPECT_EQ(run(0x3301, {mirror}), (std::vector<std::uint32_t>{0, kArrayFunctional}));
  auto members = model.execute(0, 0x3302, {Value{mirror}}, 2048);
  EXPECT_EQ(members[1].u, 2u);
  EXPECT_EQ(members[2].array, (std::vector<std::uint32_t>{diskAt(0, 0), diskAt(1, 0)}));

  // A kind-1 channel has two places; an empty one is an object of kind 0.
  EXPECT_EQ(run(0x3003, {2}), (std::vector<std::uint32_t>{0, 2}));
  EXPECT_EQ(run(0x3004, {2, 1}), (std::vector<std::uint32_t>{0, 0, 0}));
  EXPECT_EQ(run(0x3004, {2, 2})[0], kNoSuchObject);
  EXPECT_EQ(run(0x3003, {4}), (std::vector<std::uint32_t>{0, 1})) << "a kind-2 channel counts its disks";
  EXPECT_EQ(run(0x3004, {6, 0})[0], kNoSuchObject) << "channels 0 to 5 are walked; 5 and 6 do not exist";

  std::uint32_t d = diskAt(0, 0);
  EXPECT_EQ(run(0x3202, {d}), (std::vector<std::uint32_t>{0, 0x200, mirror})) << "assigned to an array";
  EXPECT_EQ(run(0x3202, {diskAt(3, 0)}), (std::vector<std::uint32_t>{0, kDiskFree, kNone}));
  EXPECT_EQ(run(0x3201, {d})[1], 36u * 1024 * 2048);
  EXPECT_EQ(run(0x3200, {d}), (std::vector<std::uint32_t>{0, 0x80000005})) << "Ultra DMA mode 5";
  EXPECT_EQ(run(0x3102, {diskAt(1, 0)}), (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(model.execute(0, 0x3100, {Value{d}}, 2048)[1].text, "PX36 ULTRA");
  EXPECT_EQ(model.execute(0, 0x3100, {Value{mirror}}, 2048)[1].text, "Ary1");
}

TEST_F(CardModelTest, EnclosureSensorsAndBuzzer) {
  EXPECT_EQ(run(0x3005, {}), (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(run(0x310C, {0, 0, 0, 0}), (std::vector<std::uint32_t>{0, 0x01}));
  EXPECT_EQ(run(0x310C, {0, 3, 0, 0}), (std::vector<std::uint32_t>{0, 0x11}));
  EXPECT_EQ(run(0x310C, {0, 1, 0, 0}), (std::vector<std::uint32_t>{0, kNone})) << "a channel without enclosure";
  EXPECT_EQ(run(0x310C, {1, 0, 0, 0})[1], 4200u);
  EXPECT_EQ(run(0x310C, {2, 0, 0, 0})[1], 70u);
  EXPECT_EQ(run(0x310C, {3, 0, 0, 0})[1], 5000u);
  EXPECT_EQ(run(0x310C, {4, 0, 0, 0})[1], 12000u);
  EXPECT_EQ(run(0x310C, {1, 1, 0, 0})[0], kNoSuchObject);
  EXPECT_EQ(run(0x310C, {5, 0, 0, 0})[0], kBadArgument);
  EXPECT_EQ(run(0x310C, {0, 7, 0, 0})[0], kNoSuchObject);
  EXPECT_EQ(run(0x310D, {0})[1], 0u);
  run(0x310E, {0});
  EXPECT_EQ(run(0x310D, {0})[1], 1u);
  run(0x3107, {0});
  EXPECT_EQ(run(0x310D, {0})[1], 0u);
  run(0x3106, {1700000000});
  EXPECT_EQ(model.card(0)->clock, 1700000000u);
}

TEST_F(CardModelTest, ControllerSettingsKeepWhatIsSetWithinRange) {
  struct Case {
    std::uint16_t set, get;
    std::uint32_t good, bad;
  } cases[] = {
      {0x3007, 0x3006, 0, 2},   {0x3009, 0x3008, 0, 2},     {0x3523, 0x3527, 0, 2},    {0x3525, 0x3529, 60, 3601},
      {0x352B, 0x352A, 80, 101}, {0x352F, 0x352E, 1, 2},    {0x3531, 0x3530, 128, 257},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(status(c.set, {c.good}), kOk) << std::hex << c.set;
    EXPECT_EQ(status(c.set, {c.bad}), kBadArgument) << std::hex << c.set;
    EXPECT_EQ(run(c.get, {})[1], c.good) << std::hex << c.get;
  }
  EXPECT_EQ(run(0x350F, {}), (std::vector<std::uint32_t>{0, 90, 10}));
  EXPECT_EQ(status(0x3510, {50, 60}), kBadArgument) << "stop must be below start";
  EXPECT_EQ(status(0x3510, {80, 20}), kOk);
  EXPECT_EQ(run(0x350F, {}), (std::vector<std::uint32_t>{0, 80, 20}));
  EXPECT_EQ(status(0x3514, {1, 30}), kOk);
  EXPECT_EQ(run(0x3513, {}), (std::vector<std::uint32_t>{0, 1, 30}));
  EXPECT_EQ(status(0x352D, {1, 0}), kOk) << "per array, by its place in the container";
  EXPECT_EQ(run(0x352C, {1})[1], 0u);
  EXPECT_EQ(status(0x352D, {2, 0}), kNoSuchObject);
  EXPECT_EQ(run(0x4003, {})[1], 64u << 20);
}

TEST_F(CardModelTest, RebuildWithPauseContinueAndCompletion) {
  std::uint32_t mirror = arrayHandle(0);
  std::uint32_t d = diskAt(1, 0), spare = diskAt(3, 0);
  EXPECT_EQ(status(0x3400, {mirror, kActionStart | 0x10002, 0}), kNotArmed) << "no precheck";
  EXPECT_EQ(status(0x3309, {mirror, spare}), kRefused) << "a free disk for an array that lacks nothing";
  EXPECT_EQ(status(0x3309, {mirror, d}), kOk);
  EXPECT_EQ(status(0x3400, {mirror, kActionStart | 0x10002, 1}), kBadArgument) << "the third value is 0";
  EXPECT_EQ(status(0x3400, {mirror, kActionStart | 0x10002, 0}), kOk);
  EXPECT_EQ(run(0x3301, {mirror})[1], kArrayCritical | kTaskRebuild);
  EXPECT_EQ(run(0x3202, {d})[1], kDiskRebuilding);

  model.advance(25000);
  EXPECT_EQ(run(0x3401, {mirror}), (std::vector<std::uint32_t>{0, kThrottleRunning, 25}));
  EXPECT_EQ(status(0x3400, {mirror, kActionPause | 0x10002, 0}), kOk);
  model.advance(60000);
  EXPECT_EQ(run(0x3401, {mirror}), (std::vector<std::uint32_t>{0, kThrottlePaused, 25})) << "no progress while paused";
  EXPECT_EQ(status(0x3400, {mirror, kActionPause | 0x10002, 0}), kRefused);
  EXPECT_EQ(status(0x3400, {mirror, kActionContinue | 0x10002, 0}), kOk);
  EXPECT_EQ(model.advance(100000), 60000 + 75000);
  model.advance(135000);
  EXPECT_EQ(run(0x3301, {mirror})[1], kArrayFunctional);
  EXPECT_EQ(run(0x3401, {mirror}), (std::vector<std::uint32_t>{0, kThrottleNone, 0}));
  std::vector<std::vector<std::uint32_t>> args;
  EXPECT_EQ(takeEvents(&args), (std::vector<std::uint32_t>{513, 523}));
  EXPECT_EQ(args[0], (std::vector<std::uint32_t>{mirror, d}));
  EXPECT_EQ(args[1], (std::vector<std::uint32_t>{mirror, d}));
}

TEST_F(CardModelTest, StoppedTasksReportWhereTheyStopped) {
  std::uint32_t raid5 = arrayHandle(1);
  ASSERT_EQ(status(0x3308, {raid5}), kOk);
  EXPECT_EQ(status(0x3400, {raid5, kActionStart | 0x10002, 0}), kNotArmed) << "armed for a synchronise only";
  ASSERT_EQ(status(0x3308, {raid5}), kOk);
  ASSERT_EQ(status(0x3400, {raid5, kActionStart | 0x20002, 0}), kOk);
  EXPECT_EQ(run(0x3301, {raid5})[1], kArrayFunctional | kTaskSync);
  model.advance(40000);
  EXPECT_EQ(status(0x3400, {raid5, kActionStop | 0x10002, 0}), kRefused) << "not a rebuild";
  EXPECT_EQ(status(0x3400, {raid5, kActionStop | 0x20002, 0}), kOk);
  std::vector<std::vector<std::uint32_t>> args;
  EXPECT_EQ(takeEvents(&args), (std::vector<std::uint32_t>{516, 517}));
  EXPECT_EQ(args[1], (std::vector<std::uint32_t>{raid5, 40}));

  std::uint32_t d = diskAt(2, 0);
  ASSERT_EQ(status(0x3309, {raid5, d}), kOk);
  ASSERT_EQ(status(0x3400, {raid5, kActionStart | 0x10002, 0}), kOk);
  model.advance(50000);
  ASSERT_EQ(status(0x3400, {raid5, kActionStop | 0x10002, 0}), kOk);
  args.clear();
  EXPECT_EQ(takeEvents(&args), (std::vector<std::uint32_t>{513, 515}));
  EXPECT_EQ(args[1], (std::vector<std::uint32_t>{raid5, d, 10}));
  EXPECT_EQ(run(0x3301, {raid5})[1], kArrayCritical) << "the member is not rebuilt";
  EXPECT_EQ(run(0x3202, {d})[1], kDiskWaiting);
  EXPECT_EQ(status(0x3308, {raid5}), kRefused) << "no synchronise of a critical array";

  model.advance(60000);
  ASSERT_EQ(status(0x3309, {raid5, d}), kOk);
  ASSERT_EQ(status(0x3400, {raid5, kActionStart | 0x10002, 0}), kOk);
  model.advance(160000);
  EXPECT_EQ(run(0x3301, {raid5})[1], kArrayFunctional);
  EXPECT_EQ(takeEvents(), (std::vector<std::uint32_t>{513, 523}));
}

TEST_F(CardModelTest, ADriveFailureDegradesThenTakesTheArrayDown) {
  std::uint32_t mirror = arrayHandle(0);
  std::uint32_t d = diskAt(0, 0);
  auto failed = model.failDisk(0, 0, 0);
  ASSERT_TRUE(failed) << failed.message();
  std::vector<std::vector<std::uint32_t>> args;
  EXPECT_EQ(takeEvents(&args), (std::vector<std::uint32_t>{256, 522}));
  EXPECT_EQ(args[0], (std::vector<std::uint32_t>{d}));
  EXPECT_EQ(args[1], (std::vector<std::uint32_t>{mirror}));
  EXPECT_EQ(model.card(0)->events.size(), 0u);
  EXPECT_EQ(run(0x3301, {mirror})[1], kArrayCritical);
  EXPECT_EQ(run(0x3202, {d})[1], kDiskFailed);
  EXPECT_FALSE(model.failDisk(0, 0, 0)) << "already failed";

  // A new disk in its place rebuilds the mirror.
  auto inserted = model.insertDisk(0, 0, 0, 40000);
  ASSERT_TRUE(inserted) << inserted.message();
  takeEvents();
  std::uint32_t fresh = diskAt(0, 0);
  EXPECT_NE(fresh, d);
  EXPECT_EQ(status(0x3309, {mirror, fresh}), kOk);
  ASSERT_EQ(status(0x3400, {mirror, kActionStart | 0x10002, 0}), kOk);
  auto members = model.execute(0, 0x3302, {Value{mirror}}, 2048);
  EXPECT_EQ(members[2].array[0], fresh) << "the new disk takes the missing member's place";
  // The other member fails during the rebuild: the task halts and the array goes down.
  ASSERT_TRUE(model.failDisk(0, 1, 0));
  EXPECT_EQ(takeEvents(), (std::vector<std::uint32_t>{513, 256, 515, 521}));
  EXPECT_EQ(run(0x3301, {mirror})[1], kArrayOffline);
}

TEST_F(CardModelTest, CreateAndDeleteArrays) {
  std::uint32_t a = diskAt(3, 0), b = diskAt(4, 0);
  std::vector<Value> rq{Value{0, "New"}, Value{0x40000000 | 1}, Value{2}, Value{}, Value{0}};
  rq[3].array = {a, b};
  auto r = model.execute(0, 0x3303, rq, 2048);
  ASSERT_EQ(r[0].u, kOk);
  std::uint32_t h = r[1].u;
  EXPECT_EQ(run(0x3003, {kContainerHandle})[1], 3u);
  EXPECT_EQ(run(0x3202, {a}), (std::vector<std::uint32_t>{0, kDiskOnline, h}));
  EXPECT_EQ(model.execute(0, 0x3303, rq, 2048)[0].u, kBadArgument) << "disks already in use";
  EXPECT_EQ(status(0x3304, {h}), kOk);
  EXPECT_EQ(run(0x3202, {a})[1], kDiskFree);
  EXPECT_EQ(takeEvents(), (std::vector<std::uint32_t>{519, 520}));
  rq[3].array = {a, a};
  EXPECT_EQ(model.execute(0, 0x3303, rq, 2048)[0].u, kBadArgument) << "the same disk twice";
  rq[1].u = 4;
  rq[3].array = {a, b};
  EXPECT_EQ(model.execute(0, 0x3303, rq, 2048)[0].u, kBadArgument) << "RAID 5 needs three disks";
}

TEST_F(CardModelTest, FaultsChangeTheAnswers) {
  model.faults().status[0x3000] = 9;
  EXPECT_EQ(run(0x3000, {0}), (std::vector<std::uint32_t>{9}));
  model.faults().longText = 1500;
  EXPECT_EQ(model.execute(0, 0x3100, {Value{arrayHandle(0)}}, 2048)[1].text.size(), 1500u);
  model.faults().extraMembers = 15;
  auto members = model.execute(0, 0x3302, {Value{arrayHandle(0)}}, 2048);
  EXPECT_EQ(members[1].u, 17u);
  EXPECT_EQ(members[2].array.size(), 17u);
  model.pushEvent(0, Event{515, 1, {arrayHandle(0)}});
  EXPECT_EQ(model.card(0)->events.back().args.size(), 1u) << "an event with fewer arguments than its text";
  for (std::size_t i = 0; i < kMaxEvents + 5; ++i) model.pushEvent(0, Event{600, 0, {}});
  EXPECT_EQ(model.card(0)->events.size(), kMaxEvents);
}

TEST_F(CardModelTest, ScenarioLines) {
  auto configured =
      model.configure({"card 0 0x0013 0x100", "channel 0 0 1", "channel 0 1 2", "disk 0 0 0 1000 dma2 BIG DISK",
                       "disk 0 0 1 1000", "disk 0 1 0 2000", "array 0 raid1 Pair 0:0 0:1", "enclosure 0 0 0x20",
                       "enclosure-mode 0 0", "task 5000"});
  ASSERT_TRUE(configured) << configured.message();
  EXPECT_EQ(model.cardCount(), 1);
  EXPECT_EQ(model.card(0)->targetId, 0x100);
  EXPECT_EQ(model.card(0)->arrays.size(), 1u);
  EXPECT_EQ(model.card(0)->disks[0].model, "BIG DISK");
  EXPECT_EQ(model.card(0)->disks[0].timing, 2u) << "DMA mode 2";
  EXPECT_EQ(model.card(0)->disks[1].timing, 0x80000005u) << "Ultra DMA mode 5 unless told";
  EXPECT_EQ(model.card(0)->enclosureMode, 0u);
  EXPECT_EQ(model.taskMs(), 5000);

  struct Case {
    const char* line;
  } bad[] = {
      {"card 2 0x13"},                 // cards from 0 in order, at most 2
      {"card 0 0x10000"},              // hardware word beyond 16 bits
      {"card 0 0x13 0x1000"},          // target id beyond 12 bits
      {"channel 0 8 1"},               // channel beyond 7
      {"channel 0 0 3"},               // kind 3
      {"channel 0 0 1 extra"},
      {"disk 0 5 0 100"},              // no such channel
      {"disk 0 0 2 100"},              // position 2
      {"disk 0 0 0 0"},                // size 0
      {"disk 0 0 1 100 udma7"},        // no such mode
      {"disk 0 0 1 100 5"},            // a mode by name only
      {"array 0 raid9 X 0:0"},
      {"array 0 raid1 X 0:0"},         // one disk for a mirror
      {"array 0 raid1 X 0:0 9:9"},
      {"enclosure 0 9 1"},
      {"task 0"},
      {"frobnicate"},
      {"disk 3 0 0 100"},              // no such card
  };
  for (const auto& c : bad) {
    CardModel m;
    std::vector<std::string> lines{"card 0 0x13", "channel 0 0 1", "disk 0 0 0 100", c.line};
    auto refused = m.configure(lines);
    EXPECT_FALSE(refused) << c.line;
    EXPECT_FALSE(refused.message().empty());
  }
  CardModel settingsOnly;
  ASSERT_TRUE(settingsOnly.configure({"task 1000"}));
  EXPECT_EQ(settingsOnly.card(0)->arrays.size(), 2u) << "settings alone keep the default cards";
}

}  // namespace
}  // namespace sim::iop
