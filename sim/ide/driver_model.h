#pragma once
// The model behind the simulated Marovelt driver: up to four cards with their two IDE channels and
// four drive slots, the driver's array table, its activity (rebuild and synchronise on model time),
// its settings, the hot-swap enclosures on the channels and the driver's queue of event records.
//
// Disks are known by their disk-table index, which is their position: card x 4 + channel x 2 +
// device (0 master, 1 slave). Channels in enclosure and event words are counted across the cards
// (card x 2 + channel).
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/result.h"

namespace sim::ide {

constexpr int kMaxCards = 4;
constexpr int kSlotsPerCard = 4;
constexpr int kMaxDisks = kMaxCards * kSlotsPerCard;
constexpr int kDiskRecords = 17;
constexpr int kArraySlots = 4;
constexpr int kMaxMembers = 8;
constexpr int kMaxChannels = kMaxCards * 2;
constexpr std::size_t kMaxQueuedEvents = 256;
constexpr std::size_t kModelLength = 40;

// RAID type codes of the array table.
enum : std::uint8_t { kTypeStripe = 0, kTypeMirror = 1, kTypeParity = 2, kTypeDistributedParity = 6, kTypeSpan = 8 };

// Driver event codes the model produces.
enum : std::uint32_t {
  kEvEcc = 0x80000004,
  kEvDiskSetDown = 0x80000100,
  kEvDiskPlugged = 0x80000101,
  kEvRebuildStarted = 0x40000001,
  kEvSyncStarted = 0x50000001,
  kEvRebuildComplete = 0x80000200,
  kEvSyncComplete = 0x80000201,
  kEvRebuildStopped = 0x80000202,
  kEvSyncStopped = 0x80000203,
  kEvArrayOffline = 0x80000205,
  kEvArrayCritical = 0x80000206,
  kEvMediaError = 0x80000207,
  kEvOverTemperature = 0x8000020E,
  kEvFanStopped = 0x8000020F,
  kEv12V = 0x80000210,
  kEv5V = 0x80000211,
  kEvFanUnderspeed = 0x80000212,
};

// Event categories, the driver's own sorting of its records: an error is 0, a warning 1, anything
// else information.
enum : std::uint32_t { kCatError = 0, kCatWarning = 1, kCatInfo = 2 };

struct Drive {
  std::string model;
  std::uint64_t sectors = 0;
  int udma = 5;  // Ultra DMA mode, -1 when the drive has none
  int dma = 2;   // multiword DMA mode when it has no Ultra DMA, -1 for PIO only
  bool failed = false;
  // Its data is to be rebuilt: a replaced member, or one whose rebuild runs or was stopped. The
  // driver's disk table shows it as bit 5, from the replacement until the rebuild completes.
  bool rebuilding = false;
  int smart = 1;  // 1 functional, 2 error, 3 not supported
};

struct Card {
  std::uint32_t modelCode = 3;
  std::uint32_t deviceId = 0x0005;
  std::array<std::optional<Drive>, kSlotsPerCard> slots;
};

struct Member {
  int disk = -1;
  // Bit 0 present: the member's place holds a disk of this array. Bit 1 online: that disk answers
  // (a replaced disk waiting for its rebuild is online, its data marked in the disk table). Bit 3:
  // the disk failed.
  std::uint8_t flags = 0;
};
enum : std::uint8_t { kMemberPresent = 0x01, kMemberOnline = 0x02, kMemberError = 0x08 };

struct Array {
  bool used = false;
  std::uint8_t type = kTypeStripe;
  std::vector<Member> members;
  std::uint16_t blockSectors = 128;
};

enum class ArrayState { Functional, Critical, Offline };

struct Enclosure {
  int type = 0;  // 1, 17 or 0 (none)
  int caps = 12;
  int fanRpm = 4200;
  int temperatureHalfC = 70;  // half degrees Celsius
  int millivolts5 = 5000;
  int millivolts12 = 12000;
};

struct DriverEvent {
  std::uint32_t code = 0;
  std::uint32_t category = kCatInfo;
  std::uint32_t card = 0;
  std::uint32_t seconds = 0;                 // model time
  std::array<std::uint32_t, 5> args{};       // the words at 20, 24, 28, 36, 40
};

enum class TaskKind { None, Rebuild, Sync };
enum class TaskEnd { Completed, Aborted };

struct Task {
  TaskKind kind = TaskKind::None;
  int slot = -1;
  int member = -1;
  std::int64_t startMs = 0;
  int percent = 0;
};

// A task that ended: what its blocked request is answered with.
struct FinishedTask {
  TaskKind kind;
  int slot;
  TaskEnd end;
};

class DriverModel {
 public:
  DriverModel() { loadDefault(); }

  void clear();
  void loadDefault();
  // Lines of the [ide] section; the line and the reason on bad input. On failure the model is
  // left as it was.
  plat::Result<void> configure(const std::vector<std::string>& lines);

  // ---- The driver's view ----
  std::uint16_t versionMajor() const { return major_; }
  std::uint16_t versionMinor() const { return minor_; }
  void setVersion(std::uint16_t major, std::uint16_t minor) { major_ = major, minor_ = minor; }
  int port() const { return port_; }
  void setPort(int p) { port_ = p; }
  bool present() const { return present_; }
  void setPresent(bool p) { present_ = p; }

  int cardCount() const { return static_cast<int>(cards_.size()); }
  const Card& card(int i) const { return cards_.at(static_cast<std::size_t>(i)); }
  const std::array<Array, kArraySlots>& arrays() const { return arrays_; }
  int arrayCount() const;
  int diskCount() const;
  const Drive* drive(int disk) const;
  // Where a disk stands in the arrays: slot and member index, or nothing.
  std::optional<std::pair<int, int>> membership(int disk) const;
  ArrayState arrayState(int slot) const;
  std::uint64_t arraySectors(int slot) const;
  const Enclosure& enclosure(int channel) const { return enclosures_.at(static_cast<std::size_t>(channel)); }

  // Settings the driver keeps.
  std::uint8_t pciMax = 16;
  std::uint8_t pciThreshold = 8;
  std::uint8_t maintenanceRate = 5;
  bool smartEnabled = true;
  std::int64_t taskMs = 100000;  // model time of a whole rebuild or synchronise

  // ---- Tasks ----
  const Task& task() const { return task_; }
  // Starts the task, or says why the model refuses it.
  plat::Result<void> startRebuild(int slot, int member, std::int64_t nowMs);
  plat::Result<void> startSync(int slot, std::int64_t nowMs);
  // Stops the running task of that kind on that slot; false when none runs there.
  bool abortTask(TaskKind kind, int slot, std::int64_t nowMs);
  // Moves tasks to `nowMs`; the model time of the next percent step, or -1.
  std::int64_t advance(std::int64_t nowMs);
  std::vector<FinishedTask> takeFinished();
  // The 4-byte activity entry of a slot: type, percent, member, 0.
  std::array<std::uint8_t, 4> activity(int slot) const;

  // ---- Events ----
  const std::deque<DriverEvent>& events() const { return events_; }
  std::vector<DriverEvent> takeEvents(std::size_t max);
  std::size_t droppedEvents() const { return dropped_; }
  void pushEvent(DriverEvent e, std::int64_t nowMs);

  // ---- Faults on the model (the "ok: ..." reply line, or why the model refuses) ----
  plat::Result<std::string> failDisk(int disk, std::int64_t nowMs);
  plat::Result<std::string> insertDisk(int disk, std::uint64_t sizeMb, std::int64_t nowMs);
  plat::Result<std::string> mediaError(int disk, std::uint32_t lba, std::int64_t nowMs);
  plat::Result<std::string> enclosureFan(int channel, int rpm, std::int64_t nowMs);
  plat::Result<std::string> enclosureTemperature(int channel, int celsius, std::int64_t nowMs);
  plat::Result<std::string> enclosureVoltage(int channel, int rail, int millivolts, std::int64_t nowMs);

  std::string status(std::int64_t nowMs) const;

 private:
  explicit DriverModel(std::nullopt_t);  // no cards at all
  plat::Result<void> configureLine(const std::vector<std::string>& w);
  bool topologySeen_ = false;
  void endTask(TaskEnd how, std::int64_t nowMs);
  void noteArrayChange(int slot, ArrayState before, std::int64_t nowMs);
  int channelOf(int disk) const { return disk / 2; }

  std::uint16_t major_ = 2;
  std::uint16_t minor_ = 0;
  int port_ = 0;
  bool present_ = true;
  std::vector<Card> cards_;
  std::array<Array, kArraySlots> arrays_{};
  std::array<Enclosure, kMaxChannels> enclosures_{};
  Task task_;
  std::vector<FinishedTask> finished_;
  std::deque<DriverEvent> events_;
  std::size_t dropped_ = 0;
};

// The disk's identify words as a drive reports them (the first 89).
std::array<std::uint16_t, 89> identifyWords(const Drive& d);
// Cylinders, heads and sectors of a drive as its identify data gives them.
struct Chs {
  std::uint32_t cylinders, heads, sectors;
};
Chs driveGeometry(const Drive& d);
Chs arrayGeometry(std::uint64_t sectors);

const char* typeName(std::uint8_t type);

}  // namespace sim::ide
