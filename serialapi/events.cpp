// Translation of the controller's raw 40-byte events into the caller's records.
// Raw layout: code at 0, severity at 8, then four values at 16, 20, 24, 28: the first position
// (disk or array), the second position or a percent, a third value, and an LBA.
#include <algorithm>
#include <cstdio>
#include <cstring>

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
  if ((code >= 512 && code <= 525) || code == 530) {
    int position = static_cast<int>(word(raw, 16) & 0xFF);
    if (code == 513 && position >= 24) position -= 24;
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
  const std::uint32_t first = word(raw, 16), second = word(raw, 20), third = word(raw, 24), lba = word(raw, 28);
  // Positions are small numbers; anything larger from the wire is cut to a byte so the text stays sane.
  const int disk1 = static_cast<int>(first & 0xFF) + 1;
  const int disk2 = static_cast<int>(second & 0xFF) + 1;
  auto arrayNumber = [&](std::uint32_t position) { return arrays.resolve(static_cast<int>(position & 0xFF)) + 1; };
  char* t = e.text;
  const std::size_t n = sizeof e.text;
  switch (code) {
    case 256:
    case 257:
    case 258: {
      e.kind = code == 256 ? 1 : code == 257 ? 2 : 12;
      if (code == 256) std::snprintf(t, n, "Disk Set Down: %d.", disk1);
      if (code == 257) std::snprintf(t, n, "Disk Plugged in: %d.", disk1);
      if (code == 258) std::snprintf(t, n, "Reserved Sector Error: Disk %d.", disk1);
      e.disk = disk1;
      e.detail1 = 0;
      e.detail2 = disk1;
      break;
    }
    case 512:
      e.kind = 3;
      e.array = arrayNumber(first);
      e.disk = disk2;
      std::snprintf(t, n, "Array %d has bad sector at LBA 0x%08x, which is genereated by drive %d at LBA 0x%08x.",
                    e.array, third, e.disk, lba);
      break;
    case 513: {
      e.kind = 4;
      std::uint32_t position = first & 0xFF;
      if (position >= 24) position -= 24;
      e.array = arrayNumber(position);
      e.disk = disk2;
      std::snprintf(t, n, "Rebuild begun on Drive %d of Array %d.", e.disk, e.array);
      break;
    }
    case 514:
      e.kind = 4;
      e.array = arrayNumber(first);
      e.disk = disk2;
      std::snprintf(t, n, "Automatic rebuild begun by Engine on Drive %d of Array %d.", e.disk, e.array);
      break;
    case 515:
      e.kind = 13;
      e.array = arrayNumber(first);
      e.disk = disk2;
      std::snprintf(t, n, "Array %d, Rebuild Aborted on Disk %d.", e.array, e.disk);
      break;
    case 516:
      e.kind = 5;
      e.array = arrayNumber(first);
      std::snprintf(t, n, "Synchronization begun for Array %d.", e.array);
      break;
    case 517:
      e.kind = 14;
      e.array = arrayNumber(first);
      std::snprintf(t, n, "Synchronization halted by user on Array %d at %d percent completed.", e.array,
                    static_cast<int>(std::min<std::uint32_t>(second, 100)));
      break;
    case 518:
      e.kind = 6;
      e.array = arrayNumber(first);
      e.disk = disk2;
      std::snprintf(t, n, "Retry drive access in Array %d Drive %d.", e.array, e.disk);
      break;
    case 519:
      e.kind = 24;
      e.array = arrayNumber(first);
      std::snprintf(t, n, "Create a new array %d.", e.array);
      break;
    case 520:
      e.kind = 25;
      e.array = arrayNumber(first);
      std::snprintf(t, n, "Delete array %d.", e.array);
      break;
    case 521:
      e.kind = 8;
      e.array = arrayNumber(first);
      std::snprintf(t, n, "Array %d was set down.", e.array);
      break;
    case 522:
      e.kind = 26;
      e.array = arrayNumber(first);
      std::snprintf(t, n, "Array %d has entered degraded mode.", e.array);
      break;
    case 523:
      e.kind = 9;
      e.array = arrayNumber(first);
      e.disk = disk2;
      std::snprintf(t, n, "Rebuild succesfully completed for Drive %d in Array %d.", e.disk, e.array);
      break;
    case 524:
      e.kind = 10;
      e.array = arrayNumber(first);
      std::snprintf(t, n, "Synchronization successfully completed on Array %d.", e.array);
      break;
    case 525:
      e.kind = 11;
      e.array = arrayNumber(first);
      e.disk = disk2;
      std::snprintf(t, n, "Drive %d of Array %d has Read Write Error ch%d.", e.disk, e.array,
                    static_cast<int>(third & 0xFF));
      break;
    case 526:
    case 527: {
      e.kind = code == 526 ? 20 : 21;
      std::atomic<bool>& once = code == 526 ? firstTemperature : firstFan;
      if (once.exchange(false))
        std::snprintf(t, n, "%s", code == 526 ? "Temperature out of range." : "Fan error for Enclosure.");
      e.detail1 = 2;
      e.detail2 = -1;
      break;
    }
    case 530:
      e.kind = 28;
      e.array = arrayNumber(first);
      if (second != 0) {
        std::snprintf(t, n, "Conversion started on Array #%d", e.array);
      } else {
        std::snprintf(t, n, "Expansion  started on Array #%d", e.array);
      }
      break;
    default:
      e.kind = -1;
      std::snprintf(t, n, "Unknown Error, Code = 0x%x.", code);
      break;
  }
  return e;
}

}  // namespace glimmora
