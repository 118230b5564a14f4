// Translation of the controller's raw 40-byte events into the caller's records.
// Raw layout: code at 0, severity at 8, then four values at 16, 20, 24, 28: the first position
// (disk or array), the second position or a percent, a third value, and an LBA.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serialapi/commands.h"
#include "serialapi/glimmora_api.h"

namespace glimmora {
namespace {

std::uint32_t word(const std::uint8_t* p, std::size_t offset) {
  return static_cast<std::uint32_t>(p[offset]) | static_cast<std::uint32_t>(p[offset + 1]) << 8 |
         static_cast<std::uint32_t>(p[offset + 2]) << 16 | static_cast<std::uint32_t>(p[offset + 3]) << 24;
}

int classOf(std::uint32_t severity) {
  switch (severity) {
    case 1:
      return 2;
    case 2:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

std::optional<int> eventArrayPosition(const std::uint8_t* raw) {
  std::uint32_t code = word(raw, 0);
  if ((code >= kEvtBadSector && code <= kEvtReadWriteError) || code == kEvtReshapeStarted) {
    int position = static_cast<int>(word(raw, 16) & 0xFF);
    if (code == kEvtRebuildBegun && position >= 24) position -= 24;
    return position;
  }
  return std::nullopt;
}

int ArrayResolver::resolve(int position) const {
  if (std::find(listed.begin(), listed.end(), position) != listed.end()) return position;
  // A member of a two-level array reports under its own position: the event belongs to the two-level array.
  if (!twoLevel.empty()) return twoLevel.front();
  return position;
}

namespace {

// What an event's text is made from.
struct Fields {
  int array, disk;  // numbers from 1
  std::uint32_t second, third, lba;
};

enum Sets : unsigned {
  kSetsDisk = 1,       // a disk event: the disk from the first position, details 0 and the disk
  kSetsArray = 2,      // the array from the first position
  kSetsArrayDisk = 3,  // the array from the first position, the disk from the second
};

using TextFn = void (*)(char* text, std::size_t size, const Fields& f);

struct Rule {
  std::uint32_t code;
  int kind;
  unsigned sets;
  TextFn text;
};

// clang-format off
constexpr Rule kRules[] = {
    {kEvtDiskSetDown, 1, kSetsDisk,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Disk Set Down: %d.", f.disk); }},
    {kEvtDiskPluggedIn, 2, kSetsDisk,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Disk Plugged in: %d.", f.disk); }},
    {kEvtReservedSectorError, 12, kSetsDisk,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Reserved Sector Error: Disk %d.", f.disk); }},
    {kEvtBadSector, 3, kSetsArrayDisk,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Array %d has bad sector at LBA 0x%08x, which is genereated by drive %d at LBA 0x%08x.",
                     f.array, f.third, f.disk, f.lba);
     }},
    {kEvtRebuildBegun, 4, kSetsArrayDisk,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Rebuild begun on Drive %d of Array %d.", f.disk, f.array);
     }},
    {kEvtAutoRebuildBegun, 4, kSetsArrayDisk,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Automatic rebuild begun by Engine on Drive %d of Array %d.", f.disk, f.array);
     }},
    {kEvtRebuildAborted, 13, kSetsArrayDisk,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Array %d, Rebuild Aborted on Disk %d.", f.array, f.disk);
     }},
    {kEvtSyncBegun, 5, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Synchronization begun for Array %d.", f.array); }},
    {kEvtSyncHalted, 14, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Synchronization halted by user on Array %d at %d percent completed.", f.array,
                     static_cast<int>(std::min<std::uint32_t>(f.second, 100)));
     }},
    {kEvtRetryDriveAccess, 6, kSetsArrayDisk,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Retry drive access in Array %d Drive %d.", f.array, f.disk);
     }},
    {kEvtArrayCreated, 24, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Create a new array %d.", f.array); }},
    {kEvtArrayDeleted, 25, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Delete array %d.", f.array); }},
    {kEvtArraySetDown, 8, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Array %d was set down.", f.array); }},
    {kEvtArrayDegraded, 26, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) { std::snprintf(t, n, "Array %d has entered degraded mode.", f.array); }},
    {kEvtRebuildCompleted, 9, kSetsArrayDisk,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Rebuild succesfully completed for Drive %d in Array %d.", f.disk, f.array);
     }},
    {kEvtSyncCompleted, 10, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Synchronization successfully completed on Array %d.", f.array);
     }},
    {kEvtReadWriteError, 11, kSetsArrayDisk,
     [](char* t, std::size_t n, const Fields& f) {
       std::snprintf(t, n, "Drive %d of Array %d has Read Write Error ch%d.", f.disk, f.array,
                     static_cast<int>(f.third & 0xFF));
     }},
    {kEvtReshapeStarted, 28, kSetsArray,
     [](char* t, std::size_t n, const Fields& f) {
       if (f.second != 0)
         std::snprintf(t, n, "Conversion started on Array #%d", f.array);
       else
         std::snprintf(t, n, "Expansion  started on Array #%d", f.array);
     }},
};
// clang-format on

}  // namespace

RaEventRecord translateEvent(const std::uint8_t* raw, const ArrayResolver& arrays, std::atomic<bool>& firstTemperature,
                             std::atomic<bool>& firstFan) {
  RaEventRecord e;
  std::memset(&e, 0, sizeof e);
  e.array = -1;
  e.disk = -1;
  e.detail1 = -1;
  e.detail2 = -1;
  const std::uint32_t code = word(raw, 0);
  e.cls = classOf(word(raw, 8));
  const std::uint32_t first = word(raw, 16), second = word(raw, 20);
  // Positions are small numbers; anything larger from the wire is cut to a byte so the text stays sane.
  const int disk1 = static_cast<int>(first & 0xFF) + 1;
  const int disk2 = static_cast<int>(second & 0xFF) + 1;
  char* t = e.text;
  const std::size_t n = sizeof e.text;

  // The enclosure's events have a text only the first time after the library is loaded.
  if (code == kEvtTemperature || code == kEvtFan) {
    e.kind = code == kEvtTemperature ? 20 : 21;
    std::atomic<bool>& once = code == kEvtTemperature ? firstTemperature : firstFan;
    if (once.exchange(false))
      std::snprintf(t, n, "%s", code == kEvtTemperature ? "Temperature out of range." : "Fan error for Enclosure.");
    e.detail1 = 2;
    e.detail2 = -1;
    return e;
  }
  const Rule* rule =
      std::find_if(std::begin(kRules), std::end(kRules), [code](const Rule& r) { return r.code == code; });
  if (rule == std::end(kRules)) {
    e.kind = -1;
    std::snprintf(t, n, "Unknown Error, Code = 0x%x.", code);
    return e;
  }
  e.kind = rule->kind;
  Fields f{-1, -1, second, word(raw, 24), word(raw, 28)};
  if (rule->sets == kSetsDisk) {
    e.disk = f.disk = disk1;
    e.detail1 = 0;
    e.detail2 = disk1;
  } else {
    std::uint32_t position = first & 0xFF;
    // A rebuild reports the positions of two-level arrays 24 higher.
    if (code == kEvtRebuildBegun && position >= 24) position -= 24;
    e.array = f.array = arrays.resolve(static_cast<int>(position)) + 1;
    if (rule->sets == kSetsArrayDisk) e.disk = f.disk = disk2;
  }
  rule->text(t, n, f);
  return e;
}

}  // namespace glimmora
