#pragma once
// The simulated Palindrex cards behind the driver: channels, disks, the logical container with its
// arrays, the enclosure and its sensors, controller settings, the event FIFO and the background task
// engine (rebuild and synchronise on model time). It answers API commands by value; the driver
// (driver.h) frames them.
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/result.h"
#include "sim/iop/api_table.h"

namespace sim::iop {

constexpr int kMaxCards = 2;
constexpr int kMaxChannels = 8;
constexpr int kMaxPositions = 2;
constexpr std::size_t kMaxArrays = 16;
constexpr std::size_t kMaxEvents = 256;
constexpr std::size_t kMaxNameLength = 64;
constexpr std::uint32_t kNone = 0xFFFFFFFF;

// Object kinds at the controller level and inside channels and the container.
constexpr std::uint32_t kKindDisk = 1;
constexpr std::uint32_t kKindContainer = 4;
constexpr std::uint32_t kKindEnclosure = 5;
constexpr std::uint32_t kContainerHandle = 0x40;
constexpr std::uint32_t kEnclosureHandle = 0x50;

// Array state: low word 0 functional, or critical / offline; bits 8-15 the task running.
constexpr std::uint32_t kArrayFunctional = 0;
constexpr std::uint32_t kArrayCritical = 0x80000001;
constexpr std::uint32_t kArrayOffline = 0x80000002;
constexpr std::uint32_t kTaskSync = 0x100;
constexpr std::uint32_t kTaskRebuild = 0x200;
// Disk states.
// Bits 8-15 say how a disk is used: 0x100 free, 0x200 assigned to an array.
constexpr std::uint32_t kDiskOnline = 0x200;
constexpr std::uint32_t kDiskFree = 0x100;
constexpr std::uint32_t kDiskRebuilding = 0x80000201;
constexpr std::uint32_t kDiskWaiting = 0x80000001;  // a member whose rebuild has not finished
constexpr std::uint32_t kDiskFailed = 0x80000002;
// Timing mode word of 0x3200: the mode number in the low byte, bit 31 for an Ultra DMA mode.
constexpr std::uint32_t kTimingUdma = 0x80000000;
// Task progress word of 0x3401.
constexpr std::uint32_t kThrottleRunning = 1;
constexpr std::uint32_t kThrottleNone = 2;
constexpr std::uint32_t kThrottlePaused = 4;
// Action codes in the low half of the 0x3400 action word (with 2 in the low byte).
constexpr std::uint32_t kActionContinue = 256;
constexpr std::uint32_t kActionStart = 512;
constexpr std::uint32_t kActionPause = 1024;
constexpr std::uint32_t kActionStop = 2048;
// Command statuses.
constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kNoSuchObject = 1;
constexpr std::uint32_t kBadArgument = 2;
constexpr std::uint32_t kRefused = 3;  // the state does not allow it
constexpr std::uint32_t kNotArmed = 4; // a start without its precheck

struct Disk {
  std::uint32_t handle = 0;
  int channel = 0;
  int position = 0;
  std::uint32_t state = kDiskFree;
  std::string model;
  std::uint32_t blocks = 0;  // 512-byte blocks
  std::uint32_t timing = kTimingUdma | 5;
  std::uint32_t array = kNone;
};

struct Task {
  std::uint32_t kind = 0;  // 0, kTaskSync or kTaskRebuild
  std::uint32_t disk = kNone;
  std::int64_t doneMs = 0;
  bool paused = false;
};

struct Array {
  std::uint32_t handle = 0;
  std::string name;
  std::uint32_t level = 0;  // 0, 1, 2, 4, 8
  std::uint32_t levelWord = 0;
  std::uint32_t blockSize = 64;
  std::uint32_t blocks = 0;
  std::vector<std::uint32_t> members;
  std::uint32_t state = kArrayFunctional;
  Task task;
  std::optional<std::uint32_t> armed;  // precheck passed: the disk (or kNone for a synchronise)
  std::uint32_t readCache = 1, writeCache = 1, readAheadMode = 0, readAheadRange = 16, autoSeq = 1, writeBack = 1;
};

struct Channel {
  int number = 0;
  std::uint32_t kind = 1;  // 1 or 2
  std::uint32_t enclosureType = kNone;
  std::uint32_t fanRpm = 0, temperature = 0, volts5 = 0, volts12 = 0;
};

struct Event {
  std::uint32_t type = 0;
  std::uint32_t severity = 0;
  std::vector<std::uint32_t> args;
};

struct Card {
  bool present = true;
  std::uint16_t targetId = 0;
  std::uint32_t hardware = 0;
  std::vector<Channel> channels;
  std::vector<Disk> disks;
  std::vector<Array> arrays;
  std::uint32_t enclosureMode = 1;
  std::uint32_t buzzer = 0;
  std::uint32_t clock = 0;
  bool attached = false;
  std::map<std::uint16_t, std::uint32_t> settings;  // keyed by the Get command
  std::deque<Event> events;
  std::uint32_t eventSerial = 0;
  std::uint32_t nextDisk = 0x100;
  std::uint32_t nextArray = 0x200;
  std::uint8_t processorType = 0x02;
  std::uint32_t memoryBytes = 64u << 20;
};

// Faults that change answers of the model (the driver keeps the transport ones).
struct ModelFaults {
  std::map<std::uint16_t, std::uint32_t> status;  // command -> status answered
  std::size_t longText = 0;      // 0x3100 answers a text of this length
  std::size_t extraMembers = 0;  // 0x3302 answers this many handles more (repeats)
};

class CardModel {
 public:
  CardModel() { loadDefault(); }
  void loadDefault();
  plat::Result<void> configure(const std::vector<std::string>& lines);

  int cardCount() const { return static_cast<int>(cards_.size()); }
  const Card* card(int n) const;
  Card* card(int n);
  // The card whose identify names controller n: present and existing.
  bool answers(int n) const { return card(n) && card(n)->present; }

  // One API command for card n, by its unpacked request values; the reply values (status first).
  std::vector<Value> execute(int n, std::uint16_t code, const std::vector<Value>& request, std::size_t replyRoom);

  // Moves tasks to model time nowMs; the model time of the next task end, or -1.
  std::int64_t advance(std::int64_t nowMs);

  // Control.
  // Faults on the model: the "ok: ..." reply line, or why the model refuses.
  plat::Result<std::string> failDisk(int n, int channel, int position);
  plat::Result<std::string> insertDisk(int n, int channel, int position, std::uint32_t sizeMb);
  plat::Result<std::string> setSensor(int n, int channel, const std::string& what, std::uint32_t value);
  void pushEvent(int n, Event e);
  ModelFaults& faults() { return faults_; }
  const ModelFaults& faults() const { return faults_; }
  std::int64_t taskMs() const { return taskMs_; }

  std::string status() const;

 private:
  Disk* disk(Card& c, std::uint32_t handle);
  Disk* diskAt(Card& c, int channel, int position);
  Array* array(Card& c, std::uint32_t handle);
  Channel* channel(Card& c, std::uint32_t number);
  std::vector<Value> taskAction(Card& c, std::uint32_t handle, std::uint32_t word, std::uint32_t third);
  void endTask(Card& c, Array& a, bool completed);
  std::uint32_t percent(const Array& a) const;
  void event(Card& c, std::uint32_t type, std::uint32_t severity, std::vector<std::uint32_t> args);
  std::string nameOf(Card& c, std::uint32_t handle);
  plat::Result<void> parseLine(const std::vector<std::string>& w);
  Card& addCard(std::uint32_t hardware, std::uint16_t target);
  // The new array's handle.
  plat::Result<std::uint32_t> addArray(Card& c, const std::string& name, std::uint32_t levelWord,
                                       const std::vector<std::uint32_t>& disks);

  std::vector<Card> cards_;
  ModelFaults faults_;
  std::int64_t taskMs_ = 100000;
  std::int64_t lastMs_ = 0;
};

// Timing mode word of a scenario mode name (udma0-6, dma0-2); nothing for another.
std::optional<std::uint32_t> timingCode(const std::string& word);

// Level word of a scenario level name; nothing for an unknown one.
std::optional<std::uint32_t> levelCode(const std::string& word);

}  // namespace sim::iop
