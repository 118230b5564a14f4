// Request bytes and reply translation of every command, through the exported functions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "serialapi/tests/scripted_port.h"

namespace glimmora::testing {
namespace {

// The request frame as the subsystem reads it, built here independently of the library.
Bytes frame(std::uint16_t code, std::uint16_t replyLength, Bytes payload) {
  Bytes b{0xA1,
          0xA1,
          static_cast<std::uint8_t>(code),
          static_cast<std::uint8_t>(code >> 8),
          static_cast<std::uint8_t>(payload.size()),
          static_cast<std::uint8_t>(payload.size() >> 8),
          static_cast<std::uint8_t>(replyLength),
          static_cast<std::uint8_t>(replyLength >> 8)};
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

Bytes ok(std::uint16_t code) { return replyFrame(code, {0}); }
// A list reply: the count, the items, padded to the full reply length.
Bytes list(std::uint16_t code, Bytes items, std::size_t max) {
  Bytes payload{static_cast<std::uint8_t>(items.size())};
  payload.insert(payload.end(), items.begin(), items.end());
  payload.resize(1 + max, 0);
  return replyFrame(code, payload);
}
Bytes memRead(std::uint32_t address, std::uint32_t width) { return frame(146, 4, cat({le32(address), le32(width)})); }

class LinkedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(s.connect());
    setInstanceForTesting(s.lib.get());
    s.wire->takeRequests();
  }
  void TearDown() override { setInstanceForTesting(nullptr); }

  ScriptedLibrary s;
};

struct Out {
  int v[32];
  char text[128];
  unsigned char record[64];
  Out() {
    for (int& x : v) x = 0x5A5A;
    std::memset(text, 'x', sizeof text);
    std::memset(record, 0xEE, sizeof record);
  }
};

struct FrameCase {
  const char* name;
  std::function<int(Out&)> call;
  std::vector<Bytes> requests;
  std::vector<Bytes> replies;
  int result;
  std::function<void(const Out&)> check;
};

using FrameTable = LinkedLibrary;

TEST_F(FrameTable, EveryCommandSendsItsFrameAndReadsItsReply) {
  const Bytes name40 = [] {
    Bytes b(40, 0);
    std::memcpy(b.data(), "Disk-A", 6);
    return b;
  }();
  Bytes createName = {'A', ' ', ' ', ' ', ' '};
  createName.resize(20, 0);
  Bytes arrayName(64, 0);
  std::memcpy(arrayName.data(), "Data", 4);
  const Bytes i2c =
      cat({le32(5010), le32(11950), le32(41), le32(42), le32(43), le32(2), le32(3000), le32(3100), Bytes(24, 0)});
  const Bytes notBusy = cat({le32(0), le32(0), {0}});

  const std::vector<FrameCase> cases = {
      {"delete array 3", [](Out&) { return raDeleteArray(3); },
       {{0xA1, 0xA1, 0x6C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x03}}, {ok(108)}, 0, nullptr},
      {"max channels", [](Out& o) { return raGetMaxChannelsPerAdapter(&o.v[0]); },
       {frame(101, 4, {})}, {replyFrame(101, le32(1))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 2); }},
      {"scan device enclosure", [](Out& o) { return raScanDevice(170, 0, &o.v[0], &o.v[1]); },
       {frame(102, 5, {170, 0})}, {replyFrame(102, {1, 0, 0, 0, 0})}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 4); EXPECT_EQ(o.v[1], 170); }},
      {"scan device absent", [](Out& o) { return raScanDevice(3, 7, &o.v[0], &o.v[1]); },
       {frame(102, 5, {3, 7})}, {replyFrame(102, {0, 0, 0, 0, 0})}, 7,
       [](const Out& o) { EXPECT_EQ(o.v[0], 0); EXPECT_EQ(o.v[1], -1); }},
      {"device name", [](Out& o) { return raGetDeviceName(3, o.text); },
       {frame(103, 40, {3})}, {replyFrame(103, name40)}, 0, [](const Out& o) { EXPECT_STREQ(o.text, "Disk-A"); }},
      {"array name", [](Out& o) { return raGetArrayName(1, o.text); },
       {frame(103, 40, {1})}, {replyFrame(103, name40)}, 0, [](const Out& o) { EXPECT_STREQ(o.text, "Disk-A"); }},
      {"all disks sorted", [](Out& o) { return raEnumerateAllDisks(&o.v[0], &o.v[1]); },
       {frame(104, 21, {})}, {list(104, {5, 1, 3}, 20)}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 3); EXPECT_EQ(o.v[1], 1); EXPECT_EQ(o.v[2], 3); EXPECT_EQ(o.v[3], 5);
                          EXPECT_EQ(o.v[4], 0x5A5A); }},
      {"disk status with slot", [](Out& o) { return raGetDiskStatus(2, &o.v[0], &o.v[1], &o.v[2], &o.v[3]); },
       {memRead(0xE0077F22, 8), frame(105, 4, {2})}, {replyFrame(146, le32(4)), replyFrame(105, le32(0x80000201))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 2); EXPECT_EQ(o.v[1], 1); EXPECT_EQ(o.v[2], 1); EXPECT_EQ(o.v[3], 2); }},
      {"disk status without slot", [](Out& o) { return raGetDiskStatus(2, &o.v[0], &o.v[1], &o.v[2], nullptr); },
       {frame(105, 4, {2})}, {replyFrame(105, le32(0x200))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 0); EXPECT_EQ(o.v[1], 1); EXPECT_EQ(o.v[2], 0); }},
      {"disk timing highest bit wins", [](Out& o) { return raGetDiskTiming(1, &o.v[0]); },
       {frame(106, 1, {1})}, {replyFrame(106, {0x41})}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 9); }},
      {"disk description", [](Out& o) { return raGetDiskDescription(4, &o.v[0], &o.v[1], &o.v[2], &o.v[3]); },
       {frame(107, 16, {4})}, {replyFrame(107, cat({le32(9), le32(1024), le32(16), le32(63)}))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 9); EXPECT_EQ(o.v[1], 1024); EXPECT_EQ(o.v[2], 16); EXPECT_EQ(o.v[3], 63); }},
      {"disk size first and third", [](Out& o) { return raGetDiskSize(4, &o.v[0], &o.v[1]); },
       {frame(118, 12, {4})}, {replyFrame(118, cat({le32(100), le32(200), le32(300)}))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 100); EXPECT_EQ(o.v[1], 300); }},
      {"firmware description", [](Out& o) { return raFirmwareDescription(o.record); },
       {frame(121, 64, {0})}, {replyFrame(121, Bytes(64, 0x31))}, 0,
       [](const Out& o) { EXPECT_EQ(o.record[0], 0x31); EXPECT_EQ(o.record[63], 0x31); }},
      {"abort rebuild", [](Out&) { return raAbortArryRebuild(2); }, {frame(149, 1, {2})}, {ok(149)}, 0, nullptr},
      {"stop conversion", [](Out&) { return raStopRaidConversion(); }, {frame(150, 1, {0})}, {ok(150)}, 0, nullptr},
      {"error log clear", [](Out&) { return raErrorLogClear(); }, {frame(151, 1, {0})}, {replyFrame(151, {9})}, 0, nullptr},
      {"error log check", [](Out& o) { return raErrorLogCheck(&o.v[0]); },
       {frame(153, 4, {})}, {replyFrame(153, le32(6))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 6); }},
      {"create mirror of four, one-letter name", [](Out&) {
         int disks[] = {0, 1, 2, 3};
         return raCreateArray("A", 1, 4, disks, 64, nullptr);
       },
       {frame(109, 1, cat({createName, le32(1), le32(4), {0, 1, 2, 3}, le32(64)}))}, {ok(109)}, 0, nullptr},
      {"expand-convert", [](Out&) {
         int disks[] = {4};
         return raExpanConv(2, 5, 1, disks, nullptr);
       },
       {frame(147, 1, cat({le32(2), le32(4), le32(1), le32(0), {4}}))}, {ok(147)}, 0, nullptr},
      {"conversion reads the description first", [](Out&) {
         int disks[] = {4, 5};
         return raArrayConversion(2, disks, 2, 4);
       },
       {frame(113, 20, {2}), frame(147, 1, cat({le32(2), le32(2), le32(2), le32(0), {4, 5}}))},
       {replyFrame(113, cat({le32(0), le32(10), le32(20), le32(0), le32(2)})), ok(147)}, 0, nullptr},
      {"expansion keeps the current mode", [](Out&) {
         int disks[] = {6};
         return raArrayExpansion(1, disks, 1);
       },
       {frame(113, 20, {1}), frame(147, 1, cat({le32(1), le32(4), le32(1), le32(0), {6}}))},
       {replyFrame(113, cat({le32(4), le32(10), le32(20), le32(0), le32(3)})), ok(147)}, 0, nullptr},
      {"array status converting", [](Out& o) { return raGetArrayStatus(1, &o.v[0], &o.v[1], &o.v[2]); },
       {frame(110, 9, {1})}, {replyFrame(110, cat({le32(0x80000401), le32(37), {1}}))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 1); EXPECT_EQ(o.v[1], 5); EXPECT_EQ(o.v[2], 37); }},
      {"disks in array", [](Out& o) { return raEnumerateDisksInArray(1, &o.v[0], &o.v[1]); },
       {frame(111, 16, {1})}, {list(111, {7, 2}, 15)}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 2); EXPECT_EQ(o.v[1], 2); EXPECT_EQ(o.v[2], 7); }},
      {"all arrays", [](Out& o) { return raEnumerateAllArrays(&o.v[0], &o.v[1]); },
       {frame(112, 16, {})}, {list(112, {4, 0}, 15)}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 2); EXPECT_EQ(o.v[1], 0); EXPECT_EQ(o.v[2], 4); }},
      {"array description, mirror of four is 0+1",
       [](Out& o) { return raGetArrayDescription(1, &o.v[0], &o.v[1], &o.v[2]); }, {frame(113, 20, {1})},
       {replyFrame(113, cat({le32(1), le32(1000), le32(64), le32(0), le32(4)}))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 2); EXPECT_EQ(o.v[1], 1000); EXPECT_EQ(o.v[2], 32); }},
      {"synchronise checks the other arrays", [](Out&) { return raArraySynchronize(0, 2); },
       {frame(112, 16, {}), frame(110, 9, {1}), frame(114, 1, {0, 2})},
       {list(112, {0, 1}, 15), replyFrame(110, notBusy), ok(114)}, 0, nullptr},
      {"rebuild with any disk", [](Out&) { return raArrayRebuildDisk(0, -1, 2); },
       {frame(112, 16, {}), frame(115, 1, {0, 0xFF, 2})}, {list(112, {0}, 15), ok(115)}, 0, nullptr},
      {"sensors", [](Out& o) { return raGetI2CStatus(&o.v[0], &o.v[3], &o.v[4], &o.v[12], &o.v[13]); },
       {frame(123, 56, {})}, {replyFrame(123, i2c)}, 0,
       [](const Out& o) {
         EXPECT_EQ(o.v[0], 41); EXPECT_EQ(o.v[2], 43); EXPECT_EQ(o.v[3], 2); EXPECT_EQ(o.v[4], 3000);
         EXPECT_EQ(o.v[5], 3100); EXPECT_EQ(o.v[6], 0x5A5A); EXPECT_EQ(o.v[12], 5010); EXPECT_EQ(o.v[13], 11950);
       }},
      {"enclosure record", [](Out& o) { return raGetEnclosureStatus(0, &o.v[0], &o.v[1], &o.v[2]); },
       {frame(123, 56, {})}, {replyFrame(123, i2c)}, 0,
       [](const Out& o) {
         EXPECT_EQ(o.v[0], 4); EXPECT_EQ(o.v[1], 56); EXPECT_EQ(o.v[2], 5010); EXPECT_EQ(o.v[3], 11950);
         EXPECT_EQ(o.v[4], 41); EXPECT_EQ(o.v[7], 2); EXPECT_EQ(o.v[8], 3000); EXPECT_EQ(o.v[9], 3100);
         EXPECT_EQ(o.v[10], 0x5A5A);
       }},
      {"set write-back", [](Out&) { return raSetCacheWriteBackPolicy(0, 1); },
       {frame(124, 1, cat({{0}, le32(1)}))}, {ok(124)}, 0, nullptr},
      {"get write-back", [](Out& o) { return raGetCacheWriteBackPolicy(0, &o.v[0]); },
       {frame(125, 4, {0})}, {replyFrame(125, le32(1))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 1); }},
      {"cache memory", [](Out& o) { return raGetCacheMemorySize(&o.v[0]); },
       {frame(126, 4, {})}, {replyFrame(126, le32(64))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 64); }},
      {"cache block", [](Out& o) { return raGetCacheBlockSize(&o.v[0]); },
       {frame(127, 4, {})}, {replyFrame(127, le32(16))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 16); }},
      {"cache hits", [](Out& o) { return raGetCacheRWHit(&o.v[0], &o.v[1]); },
       {frame(128, 8, {})}, {replyFrame(128, cat({le32(80), le32(20)}))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 80); EXPECT_EQ(o.v[1], 20); }},
      {"throttle", [](Out& o) { return raGetArrayThrottleStatus(1, &o.v[0], &o.v[1]); },
       {frame(129, 8, {1})}, {replyFrame(129, cat({le32(1), le32(4)}))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 1); EXPECT_EQ(o.v[1], 4); }},
      {"double buffer", [](Out&) { return raCacheDoubleBufModeSet(1, 2); }, {frame(130, 1, {1, 2})}, {ok(130)}, 0, nullptr},
      {"set sequential detection", [](Out&) { return raSetSeqRandomAcessDetection(1, 1); },
       {frame(131, 1, {1, 1})}, {ok(131)}, 0, nullptr},
      {"pre-read size", [](Out&) { return raCachePreReadSizeSet(3, 0x1000); },
       {frame(132, 1, cat({{3}, le32(0x1000)}))}, {ok(132)}, 0, nullptr},
      {"pbm size set", [](Out&) { return raCachePbmBufSizeSet(8); }, {frame(133, 1, le32(8))}, {ok(133)}, 0, nullptr},
      {"flush frequency set", [](Out&) { return raSetAutoFlushFreq(5); }, {frame(134, 1, le32(5))}, {ok(134)}, 0, nullptr},
      {"get sequential detection", [](Out& o) { return raGetSeqRandomAcessDetection(1, &o.v[0]); },
       {frame(135, 1, {1})}, {replyFrame(135, {1})}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 1); }},
      {"pbm size get", [](Out& o) { return raCachePbmBufSizeGet(&o.v[0]); },
       {frame(136, 4, {})}, {replyFrame(136, le32(8))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 8); }},
      {"flush frequency get", [](Out& o) { return raGetAutoFlushFreq(&o.v[0]); },
       {frame(137, 4, {})}, {replyFrame(137, le32(5))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 5); }},
      {"set array name", [](Out&) { return raSetArrayName(1, "Data"); },
       {frame(141, 1, cat({{1}, arrayName}))}, {ok(141)}, 0, nullptr},
      {"read memory", [](Out& o) { return raReadMemory(0xE0077FE4, 32, &o.v[0]); },
       {memRead(0xE0077FE4, 32)}, {replyFrame(146, le32(0x4000000))}, 0,
       [](const Out& o) { EXPECT_EQ(o.v[0], 0x4000000); }},
      {"write memory", [](Out&) { return raWriteMemory(0xE0077FE0, 1, 8); },
       {frame(148, 4, cat({le32(0xE0077FE0), le32(1), le32(8)}))}, {replyFrame(148, le32(0))}, 0, nullptr},
      {"disk test", [](Out&) { return evtDiskTest(1, 2, 3); }, {frame(155, 1, {1, 2, 3})}, {ok(155)}, 0, nullptr},
      {"memory size", [](Out& o) { return raGetMemSize(&o.v[0]); },
       {memRead(0xE0077FE4, 32)}, {replyFrame(146, le32(1 << 26))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 1 << 26); }},
      {"buzzer low byte", [](Out& o) { return raGetBuzzCtrlStatus(&o.v[0]); },
       {memRead(0xE0077FE0, 8)}, {replyFrame(146, le32(0x1201))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 1); }},
      {"buzzer set", [](Out&) { return raSetBuzzCtrlStatus(0x101); },
       {frame(148, 4, cat({le32(0xE0077FE0), le32(1), le32(8)}))}, {replyFrame(148, le32(0))}, 0, nullptr},
      {"rebuild priority", [](Out& o) { return raGetRebuildPriority(&o.v[0]); },
       {memRead(0xE0077FE2, 8)}, {replyFrame(146, le32(3))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 3); }},
      {"disk write cache set", [](Out&) { return raSetHardDiskWriteCache(1); },
       {frame(148, 4, cat({le32(0xE0077F1C), le32(1), le32(8)}))}, {replyFrame(148, le32(0))}, 0, nullptr},
      {"gb boundary read", [](Out& o) { return raGBBoundaryEnabled(0, &o.v[0]); },
       {memRead(0xE0077FE1, 8)}, {replyFrame(146, le32(1))}, 0, [](const Out& o) { EXPECT_EQ(o.v[0], 1); }},
      {"smart write", [](Out& o) { o.v[0] = 1; return raSmartCheckEnabled(1, &o.v[0]); },
       {frame(148, 4, cat({le32(0xE0077F1B), le32(1), le32(8)}))}, {replyFrame(148, le32(0))}, 0, nullptr},
      {"initialise-on-create writes bit 0", [](Out& o) { o.v[0] = 3; return raCreateArrayInitializeEnabled(1, &o.v[0]); },
       {frame(148, 4, cat({le32(0xE0077F1D), le32(1), le32(8)}))}, {replyFrame(148, le32(0))}, 0, nullptr},
      {"firmware revision", [](Out& o) { return raGetFWRevision(o.text); },
       {memRead(0xE0077F90, 16)}, {replyFrame(146, le32(0x0236))}, 0,
       [](const Out& o) { EXPECT_STREQ(o.text, "3.1.2.2"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& r : c.replies) s.wire->reply(r);
    Out out;
    EXPECT_EQ(c.call(out), c.result);
    EXPECT_EQ(s.wire->takeRequests(), c.requests);
    if (c.check) c.check(out);
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->replies.clear();
  }
}

TEST_F(LinkedLibrary, LongCommandsRaiseTheReadTimeOutAndRestoreIt) {
  struct Case {
    const char* name;
    std::function<int()> call;
    std::vector<Bytes> replies;
    int timeout;
  };
  int disks[] = {0, 1};
  const std::vector<Case> cases = {
      {"delete", [] { return raDeleteArray(1); }, {ok(108)}, 90000},
      {"create", [&] { return raCreateArray("Array", 0, 2, disks, 16, nullptr); }, {ok(109)}, 60000},
      {"expand-convert", [&] { return raExpanConv(1, 0, 2, disks, nullptr); }, {ok(147)}, 95000},
      {"abort", [] { return raAbortArryRebuild(1); }, {ok(149)}, 60000},
      {"rebuild", [] { return raArrayRebuildDisk(1, 3, 2); }, {list(112, {}, 15), ok(115)}, 60000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& r : c.replies) s.wire->reply(r);
    {
      std::lock_guard<std::mutex> g(s.wire->m);
      s.wire->readTimeouts.clear();
    }
    EXPECT_EQ(c.call(), 0);
    std::lock_guard<std::mutex> g(s.wire->m);
    ASSERT_FALSE(s.wire->readTimeouts.empty());
    EXPECT_EQ(s.wire->readTimeouts.back(), c.timeout);
    EXPECT_EQ(s.lib->link().linkTimeout(), 9000);
  }
}

TEST_F(LinkedLibrary, FailedRepliesAnswerGenericError) {
  struct Case {
    const char* name;
    Bytes reply;  // empty: nothing comes back
  };
  const std::vector<Case> cases = {
      {"wrong echo", replyFrame(109, {0})},
      {"non-zero status", replyFrame(108, {1})},
      {"short reply", Bytes{108, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    s.wire->reply(c.reply);
    EXPECT_EQ(raDeleteArray(1), 2);
  }
  EXPECT_TRUE(s.hasTrace("delete array Error!"));
}

TEST_F(LinkedLibrary, ParametersOutOfRangeAnswer16WithoutSending) {
  int disks[21] = {};
  const std::vector<std::pair<const char*, std::function<int()>>> cases = {
      {"array 17", [] { return raDeleteArray(17); }},
      {"negative array", [] { return raDeleteArray(-1); }},
      {"device 255",
       [] {
         char n[RA_NAME_BUFFER];
         return raGetDeviceName(255, n);
       }},
      {"negative disk", [] { return raGetDiskTiming(-3, nullptr); }},
      {"mirror of three", [&] { return raCreateArray("A", 1, 3, disks, 0, nullptr); }},
      {"raid 5 of two", [&] { return raCreateArray("A", 5, 2, disks, 0, nullptr); }},
      {"mode index 8", [&] { return raCreateArray("A", 8, 2, disks, 0, nullptr); }},
      {"negative mode", [&] { return raCreateArray("A", -1, 2, disks, 0, nullptr); }},
      {"no disks", [&] { return raCreateArray("A", 0, 0, disks, 0, nullptr); }},
      {"21 disks", [&] { return raCreateArray("A", 0, 21, disks, 0, nullptr); }},
      {"disk list missing", [&] { return raCreateArray("A", 0, 2, nullptr, 0, nullptr); }},
      {"block 65", [&] { return raCreateArray("A", 0, 2, disks, 65, nullptr); }},
      {"expand-convert bad mode", [&] { return raExpanConv(1, 9, 1, disks, nullptr); }},
      {"conversion to mode 8", [&] { return raArrayConversion(1, disks, 1, 8); }},
      {"conversion of no disks", [&] { return raArrayConversion(1, disks, 0, 0); }},
      {"expansion of 21 disks", [&] { return raArrayExpansion(1, disks, 21); }},
      {"expansion of array 17", [&] { return raArrayExpansion(17, disks, 1); }},
      {"rebuild disk -2", [] { return raArrayRebuildDisk(0, -2, 2); }},
      {"memory width 12", [] { return raReadMemory(0xE0077FE0, 12, nullptr); }},
      {"scan position -1", [] { return raScanDevice(-1, 0, nullptr, nullptr); }},
      {"name missing", [] { return raSetArrayName(1, nullptr); }},
      {"write-back of array -1", [] { return raSetCacheWriteBackPolicy(-1, 1); }},
      {"throttle of array 40", [] { return raGetArrayThrottleStatus(40, nullptr, nullptr); }},
  };
  for (const auto& [name, call] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(call(), 16);
    EXPECT_TRUE(s.wire->takeRequests().empty());
  }
}

TEST_F(LinkedLibrary, RebuildWhileAnotherArrayIsBusyAnswers16AndSendsNothing) {
  s.wire->reply(list(112, {0, 1}, 15));
  s.wire->reply(replyFrame(110, cat({le32(0x80000101), le32(50), {0}})));  // array 1 synchronising
  EXPECT_EQ(raArrayRebuildDisk(0, 2, 2), 16);
  auto sent = s.wire->takeRequests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][2], 112);
  EXPECT_EQ(sent[1][2], 110);
}

TEST_F(LinkedLibrary, DeviceCountsAndTextsAreBounded) {
  Bytes many(21, 9);
  many[0] = 200;
  s.wire->reply(replyFrame(104, many));
  int count = 0, ids[RA_MAX_DISKS + 1];
  ids[RA_MAX_DISKS] = 0x77;
  EXPECT_EQ(raEnumerateAllDisks(&count, ids), 0);
  EXPECT_EQ(count, 20);
  EXPECT_EQ(ids[RA_MAX_DISKS], 0x77);

  Bytes arrays(16, 1);
  arrays[0] = 99;
  s.wire->reply(replyFrame(112, arrays));
  int arrayIds[RA_MAX_ARRAYS + 1];
  arrayIds[RA_MAX_ARRAYS] = 0x77;
  EXPECT_EQ(raEnumerateAllArrays(&count, arrayIds), 0);
  EXPECT_EQ(count, 15);
  EXPECT_EQ(arrayIds[RA_MAX_ARRAYS], 0x77);

  Bytes i2c = cat({le32(0), le32(0), le32(0), le32(0), le32(0), le32(0xFFFFFFFF)});
  i2c.resize(56, 1);
  s.wire->reply(replyFrame(123, i2c));
  int temps[3], fans = 0, speeds[RA_MAX_FANS + 1], v5, v12;
  speeds[RA_MAX_FANS] = 0x77;
  EXPECT_EQ(raGetI2CStatus(temps, &fans, speeds, &v5, &v12), 0);
  EXPECT_EQ(fans, 8);
  EXPECT_EQ(speeds[RA_MAX_FANS], 0x77);

  s.wire->reply(replyFrame(103, Bytes(40, 'Z')));
  char name[RA_NAME_BUFFER + 1];
  name[RA_NAME_BUFFER] = 0x77;
  EXPECT_EQ(raGetDeviceName(1, name), 0);
  EXPECT_EQ(std::strlen(name), 40u);
  EXPECT_EQ(name[RA_NAME_BUFFER], 0x77);
}

TEST_F(LinkedLibrary, FirmwareDescriptionCyclesThroughThreeParts) {
  std::vector<int> parts;
  for (int i = 0; i < 4; ++i) {
    s.wire->reply(replyFrame(121, Bytes(64, 0)));
    unsigned char record[RA_RECORD_BUFFER];
    ASSERT_EQ(raFirmwareDescription(record), 0);
    parts.push_back(s.wire->takeRequests().at(0).at(8));
  }
  EXPECT_EQ(parts, (std::vector<int>{0, 1, 2, 0}));
}

Bytes rawEvent(std::uint32_t code, std::uint32_t severity, std::uint32_t a, std::uint32_t b = 0, std::uint32_t c = 0,
               std::uint32_t lba = 0) {
  Bytes e = cat({le32(code), le32(0), le32(severity), le32(0), le32(a), le32(b), le32(c), le32(lba)});
  e.resize(40, 0);
  return e;
}

TEST_F(LinkedLibrary, EventsFetchAtMostTenThenClearTheWholeLog) {
  Bytes events;
  for (int i = 0; i < 10; ++i) events = cat({events, rawEvent(257, 3, static_cast<std::uint32_t>(i))});
  s.wire->reply(replyFrame(153, le32(14)));
  s.wire->reply(replyFrame(152, events));
  s.wire->reply(replyFrame(151, {0}));
  s.wire->reply(list(112, {0}, 15));
  RaEventRecord records[RA_MAX_EVENTS];
  int count = 0;
  EXPECT_EQ(raGetEvents(records, &count), 0);
  EXPECT_EQ(count, 10);
  auto sent = s.wire->takeRequests();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], frame(153, 4, {}));
  EXPECT_EQ(sent[1], frame(152, 400, {10}));
  EXPECT_EQ(sent[2], frame(151, 1, {0}));
  EXPECT_STREQ(records[9].text, "Disk Plugged in: 10.");
  EXPECT_EQ(records[9].disk, 10);
  EXPECT_EQ(records[9].detail1, 0);
  EXPECT_EQ(records[9].detail2, 10);
}

TEST_F(LinkedLibrary, EventsOfATwoLevelMemberAreReportedAgainstTheTwoLevelArray) {
  s.wire->reply(replyFrame(153, le32(1)));
  s.wire->reply(replyFrame(152, rawEvent(522, 1, 5)));
  s.wire->reply(replyFrame(151, {0}));
  s.wire->reply(list(112, {0, 2}, 15));
  s.wire->reply(replyFrame(113, cat({le32(0), le32(0), le32(0), le32(0), le32(2)})));
  s.wire->reply(replyFrame(113, cat({le32(32), le32(0), le32(0), le32(0), le32(6)})));
  RaEventRecord records[RA_MAX_EVENTS];
  int count = 0;
  ASSERT_EQ(raGetEvents(records, &count), 0);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(records[0].text, "Array 3 has entered degraded mode.");
  EXPECT_EQ(records[0].cls, 2);
}

TEST(Events, WithoutALinkTheRecordSaysSo) {
  ScriptedLibrary s;
  setInstanceForTesting(s.lib.get());
  RaEventRecord records[RA_MAX_EVENTS];
  int count = 0;
  EXPECT_EQ(raGetEvents(records, &count), 17);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(records[0].kind, 29);
  EXPECT_EQ(records[0].cls, 1);
  EXPECT_STREQ(records[0].text, "Serial port connection lost.");
  EXPECT_EQ(raDeleteArray(1), 17);
  EXPECT_EQ(raInitTimeStamp(), 17);
  EXPECT_EQ(raSmartCheckEnabled(1, nullptr), 17) << "the link is checked before the arguments";
  setInstanceForTesting(nullptr);
}

TEST(Events, TranslationTable) {
  struct Case {
    Bytes raw;
    int kind;
    const char* text;
  };
  const std::vector<Case> cases = {
      {rawEvent(256, 1, 0), 1, "Disk Set Down: 1."},
      {rawEvent(258, 2, 4), 12, "Reserved Sector Error: Disk 5."},
      {rawEvent(512, 1, 0, 2, 0x10, 0x20), 3,
       "Array 1 has bad sector at LBA 0x00000010, which is genereated by drive 3 at LBA 0x00000020."},
      {rawEvent(513, 3, 25, 1), 4, "Rebuild begun on Drive 2 of Array 2."},
      {rawEvent(514, 3, 0, 1), 4, "Automatic rebuild begun by Engine on Drive 2 of Array 1."},
      {rawEvent(515, 3, 0, 1), 13, "Array 1, Rebuild Aborted on Disk 2."},
      {rawEvent(516, 3, 1), 5, "Synchronization begun for Array 2."},
      {rawEvent(517, 3, 1, 40), 14, "Synchronization halted by user on Array 2 at 40 percent completed."},
      {rawEvent(518, 3, 0, 0), 6, "Retry drive access in Array 1 Drive 1."},
      {rawEvent(519, 3, 0), 24, "Create a new array 1."},
      {rawEvent(520, 3, 0), 25, "Delete array 1."},
      {rawEvent(521, 1, 0), 8, "Array 1 was set down."},
      {rawEvent(523, 3, 0, 3), 9, "Rebuild succesfully completed for Drive 4 in Array 1."},
      {rawEvent(524, 3, 0), 10, "Synchronization successfully completed on Array 1."},
      {rawEvent(525, 2, 0, 1, 2), 11, "Drive 2 of Array 1 has Read Write Error ch2."},
      {rawEvent(530, 3, 0, 1), 28, "Conversion started on Array #1"},
      {rawEvent(530, 3, 0, 0), 28, "Expansion  started on Array #1"},
      {rawEvent(0x777, 3, 0), -1, "Unknown Error, Code = 0x777."},
      {rawEvent(526, 1, 0), 20, "Temperature out of range."},
      {rawEvent(526, 1, 0), 20, ""},
      {rawEvent(527, 1, 0), 21, "Fan error for Enclosure."},
      {rawEvent(527, 1, 0), 21, ""},
  };
  ArrayResolver arrays{{0, 1}, {}};
  std::atomic<bool> firstTemperature{true}, firstFan{true};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    RaEventRecord e = translateEvent(c.raw.data(), arrays, firstTemperature, firstFan);
    EXPECT_EQ(e.kind, c.kind);
    EXPECT_STREQ(e.text, c.text);
  }
}

TEST(StatusWords, DiskAndArrayStatesTranslate) {
  struct DiskCase {
    std::uint32_t word;
    int status, second, third;
  };
  const std::vector<DiskCase> disks = {
      {0, 0, -1, 0},         {0x100, -1, 0, 0},      {0x200, 0, 1, 0},      {0x300, -1, 0, 0},
      {0x80000001, 3, 1, 1}, {0x80000002, 1, -1, 0}, {0x80000102, 4, 0, 0}, {0x80000201, 2, 1, 1},
      {0x80000302, 4, 0, 0}, {0x12345, -1, -1, 0},
  };
  ScriptedLibrary s;
  ASSERT_TRUE(s.connect());
  for (const auto& c : disks) {
    SCOPED_TRACE(c.word);
    s.wire->reply(replyFrame(105, le32(c.word)));
    int st = 9, sec = 9, th = 9;
    ASSERT_EQ(s.lib->diskStatus(0, &st, &sec, &th, nullptr), 0);
    EXPECT_EQ(st, c.status);
    EXPECT_EQ(sec, c.second);
    EXPECT_EQ(th, c.third);
  }
  struct ArrayCase {
    std::uint32_t word;
    std::uint8_t flag;
    int state, activity, percent;
  };
  const std::vector<ArrayCase> arrays = {
      {0, 0, 0, -1, 0},          {0x80000001, 0, 1, -1, 0}, {0x80000002, 0, 2, -1, 0},
      {0x80000101, 0, 1, 3, 33}, {0x80000201, 0, 1, 1, 33}, {0x80000401, 0, 1, 4, 33},
      {0x80000401, 1, 1, 5, 33}, {0x80000801, 0, 1, 6, 33}, {0x7, 0, -1, -1, 0},
  };
  for (const auto& c : arrays) {
    SCOPED_TRACE(c.word);
    s.wire->reply(replyFrame(110, cat({le32(c.word), le32(33), {c.flag}})));
    int st = 9, act = 9, pc = 9;
    ASSERT_EQ(s.lib->arrayStatus(0, &st, &act, &pc), 0);
    EXPECT_EQ(st, c.state);
    EXPECT_EQ(act, c.activity);
    EXPECT_EQ(pc, c.percent);
  }
}

}  // namespace
}  // namespace glimmora::testing
