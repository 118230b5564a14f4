#pragma once
// The simulated serial-attached RAID subsystem: one adapter with six channels, disks, arrays with
// their state words and running work, the controller memory map, the enclosure sensors and the
// event queue. It answers each request payload with its reply payload; the wire layer frames it.
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/result.h"

namespace sim::serial {

using Bytes = std::vector<std::uint8_t>;

// Disk state words as the subsystem reports them.
constexpr std::uint32_t kDiskMember = 0;
// A free disk is a spare to the host: the word whose second output reads 0.
constexpr std::uint32_t kDiskFree = 0x100;
constexpr std::uint32_t kDiskFailed = 0x80000002;
constexpr std::uint32_t kDiskRebuilding = 0x80000201;

// Array state words.
constexpr std::uint32_t kArrayFunctional = 0;
constexpr std::uint32_t kArrayCritical = 0x80000001;
constexpr std::uint32_t kArrayOffline = 0x80000002;
constexpr std::uint32_t kArraySynchronising = 0x80000101;
constexpr std::uint32_t kArrayRebuilding = 0x80000201;
constexpr std::uint32_t kArrayReshaping = 0x80000401;  // expansion or conversion
constexpr std::uint32_t kArrayInitialising = 0x80000801;

// RAID mode codes on the wire.
constexpr std::uint32_t kRaid0 = 0, kRaid1 = 1, kRaid3 = 2, kRaid5 = 4, kSpan = 8, kRaid30 = 16, kRaid50 = 32,
                        kRaid01 = 257;
// A mirror and a stripe-mirror are one family: the host sends either code for an array reported as 1.
constexpr std::uint32_t modeFamily(std::uint32_t mode) { return mode == kRaid01 ? kRaid1 : mode; }

constexpr std::uint32_t kMemoryBase = 0xE0077F00;
constexpr std::size_t kMaxEvents = 64;
// Array numbers run from 0 to 16 and share the device numbers with the disks (a device's name is
// asked by number), so no array takes a disk's number. The list replies carry at most 15 arrays
// and 15 members of an array, and 20 disks.
constexpr int kMaxArrayId = 16;
constexpr int kMaxArrays = 15;
constexpr int kMaxMembers = 15;
constexpr int kMaxDisks = 20;
// The adapter reports its channels in pairs; a disk whose id is below twice this sits on that channel.
constexpr std::uint32_t kChannelPairs = 3;

struct Disk {
  int id = 0;
  std::string name;
  std::uint32_t sizeMb = 0;
  std::uint32_t cylinders = 0, heads = 16, sectors = 63;
  std::uint8_t timing = 0x20;
  std::uint32_t state = kDiskFree;
  bool present = true;
};

enum class Task { None, Rebuild, Synchronise, Expand, Convert, Initialise };
const char* taskName(Task t);

struct Array {
  int id = 0;
  std::string name;
  std::uint32_t mode = kRaid0;
  std::vector<int> members;
  std::uint32_t health = kArrayFunctional;  // functional, critical or offline
  Task task = Task::None;
  std::int64_t taskStartMs = 0;
  std::int64_t taskDurationMs = 0;
  int rebuildDisk = -1;
  std::uint32_t targetMode = 0;  // conversion
  std::vector<int> newMembers;   // expansion and conversion
  std::uint32_t block = 64;
  std::uint32_t writeBack = 1;
  std::uint8_t sequential = 0;
  int percent(std::int64_t nowMs) const;
  std::uint32_t stateWord() const;
};

// Supply readings in hundredths of a volt (5.02 V reads 502).
struct Sensors {
  std::uint32_t volts5 = 502, volts12 = 1204;
  std::array<std::uint32_t, 3> temperatures{38, 40, 36};
  std::vector<std::uint32_t> fans{3200, 3150};
};

class Subsystem {
 public:
  Subsystem();
  // The built-in model: five disks, a RAID 5 of three and two free disks.
  void loadDefault();
  void clear();
  // One scenario line, already split into words.
  plat::Result<void> configure(const std::vector<std::string>& words);

  // The reply payload for a request; nothing for a command that gets no answer.
  std::optional<Bytes> handle(std::uint16_t code, const Bytes& payload, std::int64_t nowMs);

  // Runs work to `nowMs`; the model time of the next completion, or -1.
  std::int64_t advance(std::int64_t nowMs);
  std::string status(std::int64_t nowMs) const;
  bool fault(const std::string& name, const std::vector<std::string>& args, std::int64_t nowMs, std::string* reply);

  // For tests and the status.
  const std::map<int, Array>& arrays() const { return arrays_; }
  const std::map<int, Disk>& disks() const { return disks_; }
  const std::deque<Bytes>& events() const { return events_; }
  bool hostPresent() const { return hostPresent_; }
  std::int64_t taskMs() const { return taskMs_; }

 private:
  void pushEvent(std::uint32_t code, std::uint32_t severity, std::uint32_t a = 0, std::uint32_t b = 0,
                 std::uint32_t c = 0, std::uint32_t lba = 0);
  std::uint32_t readMemory(std::uint32_t address, std::uint32_t width) const;
  void writeMemory(std::uint32_t address, std::uint32_t value, std::uint32_t width);
  std::uint8_t slotByte(int disk) const;
  bool diskInUse(int disk) const;
  std::uint32_t arraySizeMb(const Array& a) const;
  void startTask(Array& a, Task t, std::int64_t nowMs);
  void finishTask(Array& a);
  void failDisk(int id);
  Array* arrayAt(int id);
  std::uint8_t create(const Bytes& p, std::int64_t nowMs);
  std::uint8_t reshape(const Bytes& p, std::int64_t nowMs);

  std::map<int, Disk> disks_;
  std::map<int, Array> arrays_;
  Sensors sensors_;
  std::array<std::uint8_t, 256> memory_{};
  std::deque<Bytes> events_;
  std::int64_t taskMs_ = 10000;  // how long one piece of array work takes
  std::uint32_t cacheMb_ = 64, cacheBlock_ = 16, readHits_ = 0, writeHits_ = 0, pbmSize_ = 8, flushFreq_ = 5;
  std::uint32_t preRead_ = 0;
  bool hostPresent_ = false;
  std::int64_t lastAdvance_ = 0;
};

}  // namespace sim::serial
