#pragma once
// The one object that talks to the Marovelt driver: it opens the driver's device, checks its
// version, sends miniport requests, keeps the driver's tables, runs the blocking rebuild and
// synchronise requests on workers, and reads and writes the driver's registry settings.
//
// Used on the component's thread (nodes and the poll); the workers touch only the activity entries,
// the current percent and the worker flag bits, which are locked.
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "components/ide/srb.h"
#include "platform/base/result.h"
#include "platform/devio/device.h"
#include "platform/loop/blocking_worker.h"

namespace tirrow {

// Driver status.
inline constexpr std::uint32_t kDriverOk = 0;
inline constexpr std::uint32_t kDriverTooOld = 0x80000001;
inline constexpr std::uint32_t kDriverMissing = 0x80000002;

// Activity types of an array slot's entry.
inline constexpr std::uint8_t kActivityNone = 0;
inline constexpr std::uint8_t kActivitySync = 3;
inline constexpr std::uint8_t kActivityRequested = 255;

// The platform the driver is reached on: 1 opens the driver's own name, 2 the SCSI ports.
enum class DriverPlatform { kWin9x = 1, kWinNT = 2, kOther = 3 };

// What the component takes from a drive slot's identify data.
struct IdentifyInfo {
  int cylinders = 0;
  int heads = 0;
  int sectors = 0;
  std::uint32_t totalSectors = 0;
  std::string model;
  std::uint16_t word49 = 0, word53 = 0, word63 = 0, word88 = 0;
  // Cylinders as shown: recomputed from the total when the drive reports 16383 or more.
  int ShownCylinders() const;
  std::uint64_t SizeBytes() const;
};
IdentifyInfo ParseIdentify(const std::uint8_t* words178);

struct ArrayMember {
  int entry = 0;      // which of the record's eight member entries
  int diskIndex = 0;  // into the disk table
  std::uint8_t flags = 0;
};

// One decoded array record.
struct ArrayInfo {
  int slot = -1;
  std::uint8_t flags = 0;
  int typeCode = 0;
  int memberCount = 0;  // byte 4, as the driver gave it
  int cylinders = 0;    // stored minus one; these are the real values
  int heads = 0;
  int sectors = 0;
  int blockSectors = 0;
  std::vector<ArrayMember> members;  // entries present and online
  std::vector<ArrayMember> present;  // entries present, online or not (a member being rebuilt)
  std::uint64_t SizeBytes() const;
  bool AllOnline() const { return (flags & 0x0E) == 0x0E; }
  bool Critical() const { return (flags & 0x10) != 0; }
};
ArrayInfo ParseArrayRecord(int slot, const std::uint8_t* record64);
// RAID level of a record: 0 striping, 1 mirroring, 2 striping with mirroring, 3 spanning, 4 parity,
// 5 distributed parity, -1 unknown.
int RaidLevel(int typeCode, int memberCount);

struct DiskRecord {
  std::uint8_t status = 0;
  int globalChannel = 0;
  int device = 0;  // 0 master, 1 slave
  bool InUse() const { return (status & 1) != 0; }
  bool BeingRebuilt() const { return (status & 0x20) != 0; }
};

struct ActivityEntry {
  std::uint8_t type = 0;
  std::uint8_t percent = 0;
  std::uint8_t extra[2] = {0, 0};
  bool operator==(const ActivityEntry&) const = default;
};

// The sensors of a channel's enclosure; -2 for a value not read, -1 for one whose request failed.
struct EnclosureSensors {
  int type = -1;  // enclosure type: 1, 17 or 0; -1 when it could not be read
  int fan = -2, temperature = -2, power5 = -2, power12 = -2;
  std::vector<plat::Error> failures;  // why each request that failed did
};

struct HardwareId {
  std::uint32_t modelCode = 0;
  std::uint32_t pciDeviceId = 0;
};

using EventRecordBytes = std::array<std::uint8_t, kEventRecordSize>;

// Which rows of the driver's tables a full read found changed.
struct TableChanges {
  std::array<bool, kArraySlots> arrays{};
  std::array<bool, kDiskSlots> disks{};
  // Controllers whose record changed, or that a changed disk row names (before or after).
  std::array<bool, kMaxControllers> controllers{};
  bool Any() const;
};

// The return code of a rebuild or synchronise request: carried out, stopped before its end (by the
// abort form, or a member's failure), or any other value: refused.
inline constexpr std::uint32_t kTaskDone = 0;
inline constexpr std::uint32_t kTaskStopped = 2;
// The error code of a request that the driver answered with a refusal (its message: the return code).
inline constexpr int kTaskRefused = EPERM;
plat::Result<void> TaskAnswer(std::uint32_t returnCode);

class CMaroveltDriver {
 public:
  // loop: where worker completions run (null: rebuild and synchronise are refused).
  explicit CMaroveltDriver(plat::EventLoop* loop, DriverPlatform platform = DriverPlatform::kWinNT);
  ~CMaroveltDriver();
  CMaroveltDriver(const CMaroveltDriver&) = delete;
  CMaroveltDriver& operator=(const CMaroveltDriver&) = delete;

  // Opening. OpenDriver gives the first device whose version check passes; when none does, why
  // each device that could be opened, or that refused to open, did not do.
  plat::Result<plat::devio::Handle> OpenDriver();
  std::uint32_t Status() const { return status_; }
  bool DriverNotFound() const { return (flags_.load() & kFlagNotFound) != 0; }
  // The message of the last status: "No Error", the too-old text, or the no-driver text.
  std::string DriverVersionMessage() const;

  // The full read: every table from the driver. A table whose read fails keeps no entries (its
  // count is -1); the failure names each such table and why.
  plat::Result<void> ReadDriverState();
  // Told, after a full read, of the rows that it changed: whoever re-reads the tables (an event's
  // decoding, the poll's periodic read) thus also has the nodes of those rows refreshed.
  void SetTablesChanged(std::function<void(const TableChanges&)> changed) { tablesChanged_ = std::move(changed); }

  // Tables. Counts are 0 while the driver is not found or a read failed.
  int ArrayCount() const;
  // The slot of the index-th array in use, or -1.
  int ArraySlot(int index) const;
  std::optional<ArrayInfo> Array(int slot) const;
  int ControllerCount() const;
  const std::uint8_t* ControllerRecord(int controller) const;
  // Identify data of a drive slot (channel within the controller, device 0 or 1).
  std::optional<IdentifyInfo> Identify(int controller, int channel, int device) const;
  bool DevicePresent(int controller, int channel, int device) const;
  int DiskCount() const;
  std::optional<DiskRecord> Disk(int diskIndex) const;
  // The disk table index of the disk on a controller's channel and device, or -1.
  int FindDisk(int controller, int channel, int device) const;
  // "%s (%s %d, %s)": the model, "Channel", the channel + 1, "Master" or "Slave".
  std::string DiskDisplayName(int diskIndex) const;

  // Settings requests. A reader fails when the request does, or when the driver left the return
  // code at -1; the callers show the failure values (-1 for codes 12, 14, 17; 255 for 22 and 20).
  // A setter fails also when the driver refuses the value (kTaskRefused), and sends no value that
  // its byte cannot carry.
  plat::Result<int> GetPciThreshold();
  plat::Result<void> SetPciThreshold(int count);
  plat::Result<int> GetPciMaximum();
  plat::Result<void> SetMaintenanceRate(int rate);
  plat::Result<int> GetMaintenanceRate();
  plat::Result<int> GetSmartEnable();  // 255 when the driver has none
  plat::Result<void> SetSmartEnable(int on);
  plat::Result<int> GetDiskSmart(int controller, int channel, int device);  // 255 when none
  plat::Result<HardwareId> GetHardwareId();
  // Fails also when the reply is not whole (its value is then -1 to the callers).
  plat::Result<int> EnclosureRequest(int subFunction, int channel, int device);
  // The type, then for types 1 and 17 the sensors its capability flags name.
  EnclosureSensors ReadEnclosure(int channel);

  // Queued driver events (at most 20).
  plat::Result<std::vector<EventRecordBytes>> ReadDriverEvents();

  // Activity. 0 no change, 1 a percent changed, 2 an activity began or ended.
  plat::Result<int> PollActivity();
  ActivityEntry Activity(int slot) const;
  int CurrentPercent() const;
  int RunningSlot() const { return runningSlot_; }
  // Re-reads the disk and array tables; true when a disk's first four bytes or the array table
  // changed. When either read fails, both tables stay as they were.
  plat::Result<bool> DetectDiskChange();

  // Rebuild (mirror only) and synchronise workers; a refusal says why. The abort form (kTaskAbort)
  // is never refused for a running task. `done` runs on the loop when the worker's request has
  // ended, with its outcome (not at all once Shutdown has begun).
  using TaskDone = std::function<void(const plat::Result<void>&)>;
  plat::Result<void> StartRebuild(int slot, int member, std::uint32_t argument, TaskDone done = {});
  plat::Result<void> StartSynchronise(int slot, std::uint32_t argument, TaskDone done = {});
  bool WorkerBusy() const { return (flags_.load() & kFlagWorker) != 0; }
  // Stops waiting on the driver: blocked requests are interrupted and the workers joined.
  void Shutdown();

  // The driver's options text in the registry: an entry's value, nothing when it has none.
  plat::Result<std::optional<int>> ReadAdapterSetting(const std::string& name);
  plat::Result<void> WriteAdapterSetting(const std::string& name, int value);

  // The driver file's version text and its modification time; "UNKNOWN" when unread.
  std::pair<std::string, std::string> DriverFileVersion() const;

  // Sends one request on an open handle; the buffer carries the answer. The bytes answered.
  static plat::Result<std::size_t> Send(plat::devio::Handle& handle, CSrbBuffer& request);

 private:
  static constexpr std::uint8_t kFlagNotFound = 0x80;
  static constexpr std::uint8_t kFlagWorker = 0x40;
  static constexpr std::uint8_t kFlagRebuild = 0x20;
  static constexpr std::uint8_t kFlagSync = 0x10;

  plat::Result<plat::devio::Handle> OpenChecked(std::uint32_t* status, bool forWorker) const;
  // The version word the driver answers on a handle.
  static plat::Result<std::uint32_t> ReadVersion(plat::devio::Handle& handle);
  plat::Result<void> ReadTables();
  plat::Result<void> ReadArrayTable(plat::devio::Handle& h);
  plat::Result<void> ReadDiskTable(plat::devio::Handle& h);
  plat::Result<void> ReadControllers(plat::devio::Handle& h);
  // A request whose answer is the ReturnCode byte.
  plat::Result<int> ReadReturnByte(std::uint32_t code);
  plat::Result<void> SendByte(std::uint32_t code, int value);
  plat::Result<void> StartTask(std::uint32_t code, int slot, int member, std::uint32_t argument, TaskDone done);
  plat::Result<void> RunTask(std::uint32_t code, int slot, int member, std::uint32_t argument, bool abort);

  plat::EventLoop* loop_;
  DriverPlatform platform_;
  std::uint32_t status_ = kDriverMissing;
  std::atomic<std::uint8_t> flags_{0};

  std::array<std::uint8_t, kArrayTableSize> arrays_{};
  int arrayCount_ = -1;
  std::vector<std::array<std::uint8_t, kControllerRecordSize>> controllers_;
  int controllerCount_ = -1;
  std::array<std::uint8_t, kDiskTableSize> disks_{};
  std::array<std::uint8_t, kDiskTableSize> previousDisks_{};
  int diskCount_ = -1;

  // Shared with the workers.
  mutable std::mutex activityMutex_;
  std::array<ActivityEntry, kArraySlots> activity_{};
  int currentPercent_ = 0;
  std::map<std::uint64_t, plat::devio::Interrupter> inFlight_;  // requests the workers block on
  std::atomic<std::uint64_t> nextTicket_{1};
  bool stopping_ = false;
  // Tasks started and not yet returned from the driver: one runs, and at most one more waits
  // behind a task the driver has already ended.
  int tasks_ = 0;
  // The activity poll saw the driver end the running task while its worker was still returning
  // (a stop): the next start is taken, and runs once the worker is free.
  bool taskEnded_ = false;

  int runningSlot_ = -1;
  int runningType_ = 0;

  std::function<void(const TableChanges&)> tablesChanged_;

  std::unique_ptr<plat::BlockingWorker> taskWorker_;
  std::unique_ptr<plat::BlockingWorker> abortWorker_;
};

}  // namespace tirrow
