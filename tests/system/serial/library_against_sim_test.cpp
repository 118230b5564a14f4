// The serial access library against the simulated subsystem, each on its side of a real pseudo-terminal.
// Waits that stand for seconds are scaled down a hundredfold and read time-outs are capped, so a
// silent line costs a fraction of a second; model time moves only when the test steps it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "serialapi/glimmora_api.h"
#include "tests/system/serial/sim_process.h"

namespace {

constexpr int kCapMs = 500;

// The real port, with every time-out held to a short real wait.
class CappedPort final : public glimmora::Port {
 public:
  explicit CappedPort(std::unique_ptr<glimmora::Port> p) : p_(std::move(p)) {}
  plat::Result<std::size_t> write(const std::uint8_t* d, std::size_t n, int ms) override {
    // A line that drops the tail of one frame: the host believes it sent it all.
    if (n > 1 && truncateNext.exchange(0) > 0) {
      (void)p_->write(d, std::min<std::size_t>(n, 18), std::min(ms, kCapMs));
      return n;
    }
    return p_->write(d, n, std::min(ms, kCapMs));
  }
  plat::Result<std::size_t> read(std::uint8_t* d, std::size_t n, int ms) override {
    return p_->read(d, n, std::min(ms, kCapMs));
  }
  void purge() override { p_->purge(); }
  void discardInput() override { p_->discardInput(); }
  void clearErrors() override { p_->clearErrors(); }

  static inline std::atomic<int> truncateNext{0};

 private:
  std::unique_ptr<glimmora::Port> p_;
};

// Records every wait and sleeps a hundredth of it, so retry loops pace themselves without real seconds.
class ScaledSleeper final : public plat::Sleeper {
 public:
  void sleepMs(std::uint32_t ms) override {
    {
      std::lock_guard<std::mutex> g(m_);
      if (ms >= 40) calls_.push_back(ms);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(ms * 10));
  }
  std::vector<std::uint32_t> calls() {
    std::lock_guard<std::mutex> g(m_);
    return calls_;
  }

 private:
  std::mutex m_;
  std::vector<std::uint32_t> calls_;
};

bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 1000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return f();
}

class LibraryAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("KELM_TEST_BIN");
    sim = std::make_unique<kelm::systest::SimProcess>(bin ? bin : ".", "glimmora-e2e");
    std::string out;
    ASSERT_EQ(sim->kelmsim("start --stepped-clock", &out), 0) << out;
    glimmora::LinkEnv env;
    env.sleeper = &sleeper;
    env.openPort = [](int index) -> plat::Result<std::unique_ptr<glimmora::Port>> {
      auto p = glimmora::openComPort(index);
      if (!p) return p.error();
      return std::unique_ptr<glimmora::Port>(std::make_unique<CappedPort>(std::move(*p)));
    };
    env.readSettings = [this] { return settings; };
    lib = std::make_unique<glimmora::Glimmora>(std::move(env));
    glimmora::setInstanceForTesting(lib.get());
  }
  void TearDown() override {
    raTerminate(0);
    glimmora::setInstanceForTesting(nullptr);
    lib.reset();
    sim.reset();
  }
  void connect() {
    settings.autoconnect = 1;
    ASSERT_EQ(raInitialize(0), 0);
    ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; }));
  }
  void fault(const std::string& args) {
    std::string out;
    ASSERT_EQ(sim->kelmsim("fault " + args, &out), 0) << out;
  }
  std::vector<std::string> eventTexts() {
    std::vector<std::string> texts;
    RaEventRecord records[RA_MAX_EVENTS];
    int count = 0;
    EXPECT_EQ(raGetEvents(records, &count), 0);
    for (int i = 0; i < count; ++i) texts.emplace_back(records[i].text);
    return texts;
  }
  std::vector<int> arrays() {
    int count = 0, ids[RA_MAX_ARRAYS];
    EXPECT_EQ(raEnumerateAllArrays(&count, ids), 0);
    return std::vector<int>(ids, ids + count);
  }

  std::unique_ptr<kelm::systest::SimProcess> sim;
  ScaledSleeper sleeper;
  glimmora::Settings settings;
  std::unique_ptr<glimmora::Glimmora> lib;
};

TEST_F(LibraryAgainstSim, ConnectEnumerateCreateAndDelete) {
  connect();
  auto waits = sleeper.calls();
  ASSERT_FALSE(waits.empty());
  EXPECT_EQ(waits.front(), 4000u) << "a subsystem that just woke gets the long wait";

  int count = 0, disks[RA_MAX_DISKS];
  ASSERT_EQ(raEnumerateAllDisks(&count, disks), 0);
  EXPECT_EQ(std::vector<int>(disks, disks + count), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(arrays(), (std::vector<int>{0}));
  char name[RA_NAME_BUFFER];
  ASSERT_EQ(raGetArrayName(0, name), 0);
  EXPECT_STREQ(name, "Data");
  int mode = -1, size = 0, half = 0;
  ASSERT_EQ(raGetArrayDescription(0, &mode, &size, &half), 0);
  EXPECT_EQ(mode, 5);
  char revision[RA_VERSION_BUFFER];
  ASSERT_EQ(raGetFWRevision(revision), 0);
  EXPECT_STREQ(revision, "3.1.2.2");

  int members[] = {4, 5};
  EXPECT_EQ(raCreateArray("Array", 1, 2, members, 64, nullptr), 0);
  // Numbers 1 to 5 are the disks': the new array takes the first number that is no device's yet.
  EXPECT_EQ(arrays(), (std::vector<int>{0, 6}));
  ASSERT_EQ(raGetArrayDescription(6, &mode, &size, &half), 0);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(half, 64);
  EXPECT_EQ(raCreateArray("Array", 1, 2, members, 64, nullptr), 2) << "the disks are in use";
  EXPECT_EQ(raDeleteArray(6), 0);
  EXPECT_EQ(arrays(), (std::vector<int>{0}));
  EXPECT_EQ(eventTexts(), (std::vector<std::string>{"Create a new array 7.", "Delete array 7."}));
  EXPECT_TRUE(eventTexts().empty()) << "fetched events are cleared from the controller";
}

// A component walks the adapter's channels and asks each channel position for its disk; every disk
// the subsystem lists must turn up on its channel, and the empty channel answers "no disk".
TEST_F(LibraryAgainstSim, ChannelWalkFindsTheDisksTheSubsystemLists) {
  connect();
  int channels = 0;
  ASSERT_EQ(raGetMaxChannelsPerAdapter(&channels), 0);
  EXPECT_EQ(channels, 6);
  std::vector<int> found;
  for (int position = 0; position < channels; ++position) {
    SCOPED_TRACE(position);
    int kind = -2, id = -2;
    int rc = raScanDevice(position, 0, &kind, &id);
    if (rc == 0) {
      EXPECT_EQ(kind, 1);
      EXPECT_EQ(id, position);
      found.push_back(id);
    } else {
      EXPECT_EQ(rc, 7);
      EXPECT_EQ(kind, 0);
      EXPECT_EQ(id, -1);
    }
  }
  int count = 0, disks[RA_MAX_DISKS];
  ASSERT_EQ(raEnumerateAllDisks(&count, disks), 0);
  EXPECT_EQ(found, std::vector<int>(disks, disks + count));
  EXPECT_EQ(found, (std::vector<int>{1, 2, 3, 4, 5}));
  int members = 0, ids[RA_MAX_MEMBERS];
  ASSERT_EQ(raEnumerateDisksInArray(0, &members, ids), 0);
  EXPECT_EQ(std::vector<int>(ids, ids + members), (std::vector<int>{1, 2, 3})) << "the RAID 5 array keeps three";
  char name[RA_NAME_BUFFER];
  ASSERT_EQ(raGetArrayName(0, name), 0);
  EXPECT_STREQ(name, "Data") << "no disk shadows the array's name";
  ASSERT_EQ(raGetDeviceName(1, name), 0);
  EXPECT_STREQ(name, "SV-DISK 1");
}

TEST_F(LibraryAgainstSim, RebuildRunsToCompletionWithItsEvents) {
  connect();
  fault("fail-disk 2");
  int state = -1, activity = -1, percent = -1;
  ASSERT_EQ(raGetArrayStatus(0, &state, &activity, &percent), 0);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(activity, -1);
  EXPECT_EQ(eventTexts(), (std::vector<std::string>{"Disk Set Down: 3.", "Array 1 has entered degraded mode."}));

  ASSERT_EQ(raArrayRebuildDisk(0, -1, 2), 0);
  fault("step 4000");
  ASSERT_EQ(raGetArrayStatus(0, &state, &activity, &percent), 0);
  EXPECT_EQ(activity, 1);
  EXPECT_EQ(percent, 40);
  int disk = 0, second = 0, third = 0, slot = 0;
  ASSERT_EQ(raGetDiskStatus(4, &disk, &second, &third, &slot), 0);
  EXPECT_EQ(disk, 2) << "the disk being rebuilt";
  EXPECT_EQ(raArraySynchronize(0, 2), 2) << "a rebuilding array takes no other work";

  fault("step 6000");
  ASSERT_EQ(raGetArrayStatus(0, &state, &activity, &percent), 0);
  EXPECT_EQ(state, 0);
  EXPECT_EQ(activity, -1);
  int count = 0, ids[RA_MAX_MEMBERS];
  ASSERT_EQ(raEnumerateDisksInArray(0, &count, ids), 0);
  EXPECT_EQ(std::vector<int>(ids, ids + count), (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(eventTexts(), (std::vector<std::string>{"Rebuild begun on Drive 5 of Array 1.",
                                                    "Rebuild succesfully completed for Drive 5 in Array 1."}));
}

TEST_F(LibraryAgainstSim, TimeOutThenLinkLostThenReconnect) {
  settings.autoconnect = 0;
  ASSERT_EQ(raInitialize(0), 0);
  EXPECT_EQ(raIsComportReady(), 0) << "without autoconnect the first connection waits to be asked";
  TryToConnectComPort();
  ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; }));
  int size = 0;
  fault("silence 1");
  EXPECT_EQ(raGetCacheMemorySize(&size), 2);
  EXPECT_EQ(raIsComportReady(), 0);
  EXPECT_TRUE(lib->link().lost());
  EXPECT_EQ(raGetCacheMemorySize(&size), 17);
  TryToConnectComPort();
  ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; }));
  EXPECT_EQ(raGetCacheMemorySize(&size), 0);
  EXPECT_EQ(size, 64);

  SetAutoConnectFlag(1);
  fault("silence 1");
  EXPECT_EQ(raGetCacheMemorySize(&size), 2);
  EXPECT_TRUE(eventually([] { return raIsComportReady() != 0; })) << "autoconnect brings it back by itself";
  EXPECT_EQ(raGetCacheMemorySize(&size), 0);
}

TEST_F(LibraryAgainstSim, SpoiledRepliesFailOneCommandEach) {
  connect();
  int size = 0;
  for (const char* f : {"echo", "status 3", "garbage 16", "late 600"}) {
    SCOPED_TRACE(f);
    fault(f);
    EXPECT_EQ(raSetAutoFlushFreq(7), 2);
    ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; }));
    // A late reply may still be on its way; it is purged before the next request, or spoils one more.
    if (raGetCacheMemorySize(&size) != 0) {
      ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; }));
      ASSERT_EQ(raGetCacheMemorySize(&size), 0);
    }
    EXPECT_EQ(size, 64);
  }
}

TEST_F(LibraryAgainstSim, CablePulledAndPluggedBack) {
  connect();
  fault("unplug");
  int size = 0;
  EXPECT_EQ(raGetCacheMemorySize(&size), 2);
  EXPECT_EQ(raGetCacheMemorySize(&size), 17);
  fault("plug");
  ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; }));
  EXPECT_EQ(raGetCacheMemorySize(&size), 0);
  EXPECT_EQ(size, 64);
  EXPECT_EQ(raTerminate(0), 0);
  std::string status;
  sim->kelmsim("status", &status);
  EXPECT_NE(status.find("host absent"), std::string::npos) << "raTerminate says goodbye: " << status;
}

// Arrays and disks share the device numbers a name is asked by: every new array answers with its
// own name, before and after a rename, and the disks keep theirs.
TEST_F(LibraryAgainstSim, NewArraysAreNamedAndRenamedByTheirNumber) {
  connect();
  ASSERT_EQ(raDeleteArray(0), 0);
  for (int disk = 1; disk <= 5; ++disk) {
    const std::string name = "Volume " + std::to_string(disk);
    ASSERT_EQ(raCreateArray(name.c_str(), 0, 1, &disk, 64, nullptr), 0) << name;
  }
  const std::vector<int> ids = arrays();
  ASSERT_EQ(ids.size(), 5u);
  char name[RA_NAME_BUFFER];
  for (std::size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(ids[i]);
    ASSERT_EQ(raGetArrayName(ids[i], name), 0);
    EXPECT_EQ(std::string(name), "Volume " + std::to_string(i + 1));
    const std::string renamed = "Renamed " + std::to_string(i + 1);
    ASSERT_EQ(raSetArrayName(ids[i], renamed.c_str()), 0);
    ASSERT_EQ(raGetArrayName(ids[i], name), 0);
    EXPECT_EQ(std::string(name), renamed);
  }
  for (int disk = 1; disk <= 5; ++disk) {
    ASSERT_EQ(raGetDeviceName(disk, name), 0);
    EXPECT_EQ(std::string(name), "SV-DISK " + std::to_string(disk));
  }
}

// A mirror of four disks reads back as a stripe-mirror and a stripe-mirror of two as a mirror; the
// library grows each in the mode it read, and the subsystem takes that as the same family.
TEST_F(LibraryAgainstSim, GrowingAMirrorOrStripeMirrorIsAnExpansion) {
  connect();
  ASSERT_EQ(raDeleteArray(0), 0);
  eventTexts();
  struct Case {
    const char* what;
    int modeIndex;
    std::vector<int> disks;
    int readBack;
  };
  const std::vector<Case> cases = {
      {"a mirror of four disks", 1, {1, 2, 3, 4}, 2},
      {"a stripe-mirror of two disks", 2, {1, 2}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int> disks = c.disks;
    ASSERT_EQ(raCreateArray("Grow", c.modeIndex, static_cast<int>(disks.size()), disks.data(), 64, nullptr), 0);
    ASSERT_EQ(arrays().size(), 1u);
    const int id = arrays()[0];
    int mode = -1, size = 0, half = 0;
    ASSERT_EQ(raGetArrayDescription(id, &mode, &size, &half), 0);
    EXPECT_EQ(mode, c.readBack);
    int extra = 5;
    ASSERT_EQ(raArrayExpansion(id, &extra, 1), 0);
    const std::vector<std::string> events = eventTexts();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].rfind("Expansion  started on Array #", 0), 0u) << events[1];
    fault("step 10000");
    int count = 0, ids[RA_MAX_MEMBERS];
    ASSERT_EQ(raEnumerateDisksInArray(id, &count, ids), 0);
    EXPECT_EQ(count, static_cast<int>(c.disks.size()) + 1);
    ASSERT_EQ(raGetArrayDescription(id, &mode, &size, &half), 0);
    EXPECT_EQ(mode, count > 3 ? 2 : 1) << "still of the mirror family";
    ASSERT_EQ(raDeleteArray(id), 0);
    eventTexts();
  }
}

// The list replies carry at most 15 members and 15 arrays; the subsystem refuses to create what
// its lists could not show.
TEST_F(LibraryAgainstSim, CreationStopsWhereTheListsEnd) {
  ASSERT_EQ(sim->kelmsim("stop"), 0);
  const auto scenario = sim->root() / "twenty-disks.scenario";
  {
    std::ofstream out(scenario);
    out << "[serial]\nempty\n";
    for (int i = 0; i < 20; ++i) out << "disk " << 30 + i << " SV-DISK-" << 30 + i << " 1000\n";
  }
  std::string out;
  ASSERT_EQ(sim->kelmsim("start --stepped-clock --scenario " + scenario.string(), &out), 0) << out;
  connect();
  std::vector<int> disks;
  for (int i = 0; i < 20; ++i) disks.push_back(30 + i);

  EXPECT_EQ(raCreateArray("Wide", 0, 16, disks.data(), 64, nullptr), 2) << "16 members would not fit the list";
  ASSERT_EQ(raCreateArray("Wide", 0, 15, disks.data(), 64, nullptr), 0);
  int count = 0, ids[RA_MAX_MEMBERS];
  ASSERT_EQ(raEnumerateDisksInArray(arrays().at(0), &count, ids), 0);
  EXPECT_EQ(std::vector<int>(ids, ids + count), std::vector<int>(disks.begin(), disks.begin() + 15));
  ASSERT_EQ(raDeleteArray(arrays().at(0)), 0);

  for (int i = 0; i < 15; ++i) ASSERT_EQ(raCreateArray("One", 0, 1, &disks[i], 64, nullptr), 0) << i;
  EXPECT_EQ(arrays().size(), 15u);
  EXPECT_EQ(raCreateArray("One", 0, 1, &disks[15], 64, nullptr), 2) << "a 16th array would not fit the list";
  EXPECT_EQ(arrays().size(), 15u);
}

// A frame that loses its tail on the line: the subsystem drops it after a pause, hears the next
// handshake, and the link comes back.
TEST_F(LibraryAgainstSim, ATruncatedFrameDoesNotLeaveTheLineDeaf) {
  connect();
  CappedPort::truncateNext = 1;
  EXPECT_EQ(raSetArrayName(0, "Cut short"), 2) << "the frame's tail never arrived, so no reply does";
  ASSERT_TRUE(eventually([] { return raIsComportReady() != 0; })) << "the handshake is recognised again";
  char name[RA_NAME_BUFFER];
  ASSERT_EQ(raGetArrayName(0, name), 0);
  EXPECT_STREQ(name, "Data");
  ASSERT_EQ(raSetArrayName(0, "Whole"), 0);
  ASSERT_EQ(raGetArrayName(0, name), 0);
  EXPECT_STREQ(name, "Whole");
}

}  // namespace
