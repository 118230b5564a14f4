#include "serialapi/glimmora_api.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace glimmora {
namespace {

constexpr int kMaxDisk = 254;
constexpr int kMaxArray = 16;

bool validDisk(int disk) { return disk >= 0 && disk <= kMaxDisk; }
bool validArray(int array) { return array >= 0 && array <= kMaxArray; }
// The arguments of a reshape that can be checked before anything goes on the line.
bool validReshape(int array, int n, const int* disks) {
  return validArray(array) && n > 0 && n <= RA_MAX_DISKS && disks;
}

int toInt(std::uint32_t v) { return static_cast<int>(v); }

// Counts and sizes that come from the device are kept within what a caller can hold.
int clampCount(std::uint32_t v) { return v > INT_MAX ? INT_MAX : static_cast<int>(v); }

struct ModeInfo {
  std::uint32_t code;
  int minimum;
};
constexpr ModeInfo kModes[] = {{0, 1}, {1, 2}, {257, 1}, {8, 1}, {2, 3}, {4, 3}, {16, 6}, {32, 6}};
constexpr int kModeCount = static_cast<int>(sizeof kModes / sizeof kModes[0]);

bool enoughDisks(int modeIndex, int n) {
  if (n < kModes[modeIndex].minimum) return false;
  if (modeIndex == 1 && n % 2 != 0) return false;
  return true;
}

}  // namespace

const char* resultText(int code) {
  switch (code) {
    case 0:
      return "OK";
    case 1:
      return "API Not Initialized";
    case 2:
      return "Generic Error";
    case 3:
      return "Function Not Supported";
    case 4:
      return "No Adapter";
    case 5:
      return "Driver Not Found";
    case 6:
      return "Version Mismatch";
    case 7:
      return "No Disk Present";
    case 8:
      return "Invalid Array Id";
    case 9:
      return "Array Status Error";
    case 10:
      return "Cannot create Mailslot, max=4";
    case 11:
      return "Cannot Delete: No Such Array Exists";
    case 12:
      return "Cannot Create: Invalid Array Number";
    case 13:
      return "Error Creating Array";
    case 14:
      return "Cannot Create: Invalid RAID Mode";
    case 15:
      return "Cannot Create: Invalid Array Configuration";
    case 16:
      return "Invalid parameters";
    case 17:
      return "Conneciton lost";
    case -1:
      return "Not Implemented for this platform";
    default:
      return "Unknown Status";
  }
}

std::optional<std::uint32_t> modeCode(int modeIndex) {
  if (modeIndex < 0 || modeIndex >= kModeCount) return std::nullopt;
  return kModes[modeIndex].code;
}

int modeIndexFromCode(std::uint32_t code, std::uint32_t diskCount) {
  switch (code) {
    case 0:
      return 0;
    case 1:
      return diskCount > 3 ? 2 : 1;
    case 257:
      return 2;
    case 8:
      return 3;
    case 2:
      return 4;
    case 4:
      return 5;
    case 16:
      return 6;
    case 32:
      return 7;
    default:
      return -1;
  }
}

int Glimmora::initialize() {
  bool first = !link_.started();
  int rc = link_.initialize();
  if (first && rc == kOk) firmwarePart_ = 0;
  return rc;
}

int Glimmora::terminate() { return link_.terminate(); }

Reply Glimmora::transact(std::uint16_t code, const Payload& payload, std::uint16_t replyLength,
                         std::optional<int> timeoutMs) {
  Reply reply(replyLength);
  auto request = buildRequest(code, payload, replyLength);
  // A long command carries its own read time-out and then puts the default back. After a failure the
  // link is down and the reconnect sets the handshake time-out, which the restore must not overwrite.
  auto sent = link_.transaction(reply.data(), reply.size(), request.data(), request.size(), timeoutMs.value_or(0));
  if (sent && timeoutMs) link_.setLinkTimeout(Link::kDefaultTimeoutMs);
  if (!sent) {
    // The caller answers its result code; why the command failed goes to the log.
    link_.report("command %u failed: %s", unsigned{code}, sent.message().c_str());
    // A reply cut short by the time-out may already hold a matching echo; it must not pass for an answer.
    reply = Reply(replyLength);
  }
  return reply;
}

int Glimmora::statusOf(const Reply& reply, std::uint16_t code, const char* okTrace, const char* errTrace) {
  if (!reply.echoes(code)) return kGenericError;
  if (reply.u8(0) != 0) {
    if (errTrace) link_.trace("%s", errTrace);
    return kGenericError;
  }
  if (okTrace) link_.trace("%s", okTrace);
  return kOk;
}

int Glimmora::statusCommand(std::uint16_t code, const Payload& payload) {
  if (!link_.ready()) return kConnectionLost;
  return statusOf(transact(code, payload, 1), code);
}

int Glimmora::readWords(std::uint16_t code, const Payload& payload, std::uint16_t replyLength, int* first, int* second,
                        bool byteReply) {
  if (!link_.ready()) return kConnectionLost;
  Reply r = transact(code, payload, replyLength);
  if (!r.echoes(code)) return kGenericError;
  if (first) *first = byteReply ? r.u8(0) : toInt(r.u32(0));
  if (second) *second = toInt(r.u32(4));
  return kOk;
}

int Glimmora::maxChannelsPerAdapter(int* channels) {
  if (!link_.ready()) return kConnectionLost;
  Reply r = transact(kCmdGetMaxChannels, Payload{}, 4);
  if (!r.echoes(kCmdGetMaxChannels)) {
    if (channels) *channels = 0;
    return kGenericError;
  }
  // Two channels per reported unit; an absurd count from the device is held to a sane table.
  std::uint32_t n = std::min<std::uint32_t>(r.u32(0), 8);
  if (channels) *channels = toInt(2 * n);
  return kOk;
}

int Glimmora::scanDevice(int position, int value, int* kind, int* id) {
  if (!link_.ready()) return kConnectionLost;
  if (position < 0 || position > 255) return kInvalidParameters;
  Reply r = transact(kCmdScanDevice, Payload{}.byte(position).byte(value), 5);
  if (r.echoes(kCmdScanDevice) && r.u8(0) != 0) {
    if (kind) *kind = position >= 170 ? 4 : 1;
    if (id) *id = position;
    return kOk;
  }
  if (kind) *kind = 0;
  if (id) *id = -1;
  return r.echoes(kCmdScanDevice) ? kNoDiskPresent : kGenericError;
}

int Glimmora::deviceName(int device, char* name) {
  if (!link_.ready()) return kConnectionLost;
  if (!validDisk(device)) return kInvalidParameters;
  if (name) name[0] = '\0';
  Reply r = transact(kCmdGetDeviceName, Payload{}.byte(device), 40);
  if (!r.echoes(kCmdGetDeviceName)) return kGenericError;
  if (name) {
    std::size_t n = strnlen(reinterpret_cast<const char*>(r.payload()), 40);
    std::memcpy(name, r.payload(), n);
    name[n] = '\0';
  }
  return kOk;
}

int Glimmora::listCommand(std::uint16_t code, const Payload& payload, std::size_t maxItems, int* count, int* items) {
  Reply r = transact(code, payload, static_cast<std::uint16_t>(1 + maxItems));
  if (!r.echoes(code)) return kGenericError;
  std::size_t n = std::min<std::size_t>(r.u8(0), maxItems);
  std::vector<int> v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(r.u8(1 + i));
  std::sort(v.begin(), v.end());
  if (count) *count = static_cast<int>(n);
  if (items) std::copy(v.begin(), v.end(), items);
  return kOk;
}

int Glimmora::enumerateAllDisks(int* count, int* ids) {
  if (!link_.ready()) return kConnectionLost;
  return listCommand(kCmdEnumerateAllDisks, Payload{}, RA_MAX_DISKS, count, ids);
}

int Glimmora::enumerateDisksInArray(int array, int* count, int* disks) {
  if (!link_.ready()) return kConnectionLost;
  if (!validArray(array)) return kInvalidParameters;
  return listCommand(kCmdEnumerateDisksInArray, Payload{}.byte(array), RA_MAX_MEMBERS, count, disks);
}

int Glimmora::enumerateAllArrays(int* count, int* arrays) {
  if (!link_.ready()) return kConnectionLost;
  return listCommand(kCmdEnumerateAllArrays, Payload{}, RA_MAX_ARRAYS, count, arrays);
}

int Glimmora::diskStatus(int disk, int* status, int* second, int* third, int* slot) {
  if (!link_.ready()) return kConnectionLost;
  if (!validDisk(disk)) return kInvalidParameters;
  if (status) *status = -1;
  if (second) *second = -1;
  if (third) *third = 0;
  if (slot) {
    *slot = -1;
    int byte = 0;
    int rc = readMemory(mem::kSlotBase + static_cast<std::uint32_t>(disk), 8, &byte);
    if (rc != kOk) return rc;
    switch (byte & 0xFF) {
      case 0:
        *slot = 3;
        break;
      case 1:
        *slot = 0;
        break;
      case 2:
        *slot = 1;
        break;
      case 4:
        *slot = 2;
        break;
      default:
        break;
    }
  }
  Reply r = transact(kCmdGetDiskStatus, Payload{}.byte(disk), 4);
  if (!r.echoes(kCmdGetDiskStatus)) return kGenericError;
  struct Row {
    std::uint32_t word;
    int status, second, third;
  };
  static constexpr Row kRows[] = {
      {0, 0, -1, 0},         {0x100, -1, 0, 0},     {0x200, 0, 1, 0},
      {0x300, -1, 0, 0},     {0x80000001, 3, 1, 1}, {0x80000002, 1, -1, 0},
      {0x80000102, 4, 0, 0}, {0x80000201, 2, 1, 1}, {0x80000302, 4, 0, 0},
  };
  Row found{0, -1, -1, 0};
  for (const Row& row : kRows)
    if (row.word == r.u32(0)) found = row;
  if (status) *status = found.status;
  if (second) *second = found.second;
  if (third) *third = found.third;
  return kOk;
}

int Glimmora::diskTiming(int disk, int* mode) {
  if (!link_.ready()) return kConnectionLost;
  if (!validDisk(disk)) return kInvalidParameters;
  Reply r = transact(kCmdGetDiskTiming, Payload{}.byte(disk), 1);
  if (!r.echoes(kCmdGetDiskTiming)) return kGenericError;
  static constexpr std::pair<int, int> kBits[] = {{0x01, 4}, {0x02, 3}, {0x04, 2}, {0x08, 1},
                                                  {0x10, 0}, {0x20, 8}, {0x40, 9}};
  int m = 5;
  for (auto [bit, value] : kBits)
    if (r.u8(0) & bit) m = value;
  if (mode) *mode = m;
  return kOk;
}

int Glimmora::diskDescription(int disk, int* a, int* b, int* c, int* d) {
  if (!link_.ready()) return kConnectionLost;
  if (!validDisk(disk)) return kInvalidParameters;
  Reply r = transact(kCmdGetDiskDescription, Payload{}.byte(disk), 16);
  if (!r.echoes(kCmdGetDiskDescription)) return kGenericError;
  int* out[] = {a, b, c, d};
  for (int i = 0; i < 4; ++i)
    if (out[i]) *out[i] = toInt(r.u32(4 * i));
  return kOk;
}

int Glimmora::diskSize(int disk, int* a, int* b) {
  if (!link_.ready()) return kConnectionLost;
  if (!validDisk(disk)) return kInvalidParameters;
  Reply r = transact(kCmdGetDiskSize, Payload{}.byte(disk), 12);
  if (!r.echoes(kCmdGetDiskSize)) return kGenericError;
  if (a) *a = toInt(r.u32(0));
  if (b) *b = toInt(r.u32(8));
  return kOk;
}

int Glimmora::firmwareDescription(void* record) {
  if (!link_.ready()) return kConnectionLost;
  int part = firmwarePart_;
  firmwarePart_ = (part + 1) % 3;
  Reply r = transact(kCmdFirmwareDescription, Payload{}.byte(part), 64);
  if (!r.echoes(kCmdFirmwareDescription)) return kGenericError;
  if (record) std::memcpy(record, r.payload(), 64);
  return kOk;
}

int Glimmora::deleteArray(int array) {
  if (!link_.ready()) return kConnectionLost;
  if (!validArray(array)) return kInvalidParameters;
  Reply r = transact(kCmdDeleteArray, Payload{}.byte(array), 1, 90000);
  int rc = statusOf(r, kCmdDeleteArray, "delete array OK!", "delete array Error!");
  link_.sleeper().sleepMs(100);
  return rc;
}

int Glimmora::abortRebuild(int array) {
  if (!link_.ready()) return kConnectionLost;
  if (!validArray(array)) return kInvalidParameters;
  return statusOf(transact(kCmdAbortArrayRebuild, Payload{}.byte(array), 1, 60000), kCmdAbortArrayRebuild);
}

int Glimmora::stopConversion() {
  if (!link_.ready()) return kConnectionLost;
  return statusOf(transact(kCmdStopRaidConversion, Payload{}.byte(0), 1, 60000), kCmdStopRaidConversion);
}

int Glimmora::errorLogClear() {
  if (!link_.ready()) return kConnectionLost;
  return transact(kCmdErrorLogClear, Payload{}.byte(0), 1).echoes(kCmdErrorLogClear) ? kOk : kGenericError;
}

int Glimmora::errorLogCheck(int* count) {
  if (!link_.ready()) return kConnectionLost;
  Reply r = transact(kCmdErrorLogCheck, Payload{}, 4);
  if (!r.echoes(kCmdErrorLogCheck)) return kGenericError;
  if (count) *count = clampCount(r.u32(0));
  return kOk;
}

int Glimmora::createArray(const char* name, int modeIndex, int n, const int* disks, int blockValue) {
  if (!link_.ready()) return kConnectionLost;
  auto code = modeCode(modeIndex);
  if (!code || n <= 0 || n > RA_MAX_DISKS || !disks || blockValue < 0 || blockValue > 64 || !enoughDisks(modeIndex, n))
    return kInvalidParameters;
  std::string padded(name ? name : "", name ? strnlen(name, 20) : 0);
  if (padded.size() < 5) padded.resize(5, ' ');
  Payload p;
  p.text(padded, 20).u32(*code).u32(static_cast<std::uint32_t>(n));
  for (int i = 0; i < n; ++i) p.byte(disks[i]);
  p.u32(static_cast<std::uint32_t>(blockValue));
  Reply r = transact(kCmdCreateArray, p, 1, 60000);
  int rc = statusOf(r, kCmdCreateArray, "Create array OK!", "Create array Error!");
  link_.sleeper().sleepMs(100);
  return rc;
}

int Glimmora::expandConvert(int array, int modeIndex, int n, const int* disks) {
  if (!link_.ready()) return kConnectionLost;
  auto code = modeCode(modeIndex);
  if (!code || !validReshape(array, n, disks)) return kInvalidParameters;
  Payload p;
  p.u32(static_cast<std::uint32_t>(array) & 0xFF).u32(*code).u32(static_cast<std::uint32_t>(n)).u32(0);
  for (int i = 0; i < n; ++i) p.byte(disks[i]);
  Reply r = transact(kCmdExpandConvert, p, 1, 95000);
  int rc = statusOf(r, kCmdExpandConvert, "ExpandConv array OK!", "ExpandConv array Error!");
  link_.sleeper().sleepMs(200);
  return rc;
}

int Glimmora::arrayConversion(int array, const int* disks, int n, int newModeIndex) {
  if (!link_.ready()) return kConnectionLost;
  // Bad arguments are refused before the description is read.
  if (!modeCode(newModeIndex) || !validReshape(array, n, disks)) return kInvalidParameters;
  int current = -1;
  int rc = arrayDescription(array, &current, nullptr, nullptr);
  if (rc != kOk) return rc;
  return expandConvert(array, newModeIndex, n, disks);
}

int Glimmora::arrayExpansion(int array, const int* disks, int n) {
  if (!link_.ready()) return kConnectionLost;
  if (!validReshape(array, n, disks)) return kInvalidParameters;
  int current = -1;
  int rc = arrayDescription(array, &current, nullptr, nullptr);
  if (rc != kOk) return rc;
  // An array whose mode the controller does not report cannot be grown in that mode.
  if (current < 0) return kGenericError;
  return expandConvert(array, current, n, disks);
}

int Glimmora::arrayStatus(int array, int* state, int* activity, int* percent) {
  if (!link_.ready()) return kConnectionLost;
  if (!validArray(array)) return kInvalidParameters;
  if (state) *state = -1;
  if (activity) *activity = -1;
  if (percent) *percent = 0;
  Reply r = transact(kCmdGetArrayStatus, Payload{}.byte(array), 9);
  if (!r.echoes(kCmdGetArrayStatus)) return kGenericError;
  int s = -1, a = -1, pc = 0;
  int second = toInt(r.u32(4));
  switch (r.u32(0)) {
    case 0:
      s = 0;
      break;
    case 0x80000001:
      s = 1;
      break;
    case 0x80000002:
      s = 2;
      break;
    case 0x80000101:
      s = 1, a = 3, pc = second;
      break;
    case 0x80000201:
      s = 1, a = 1, pc = second;
      break;
    case 0x80000401:
      s = 1, a = r.u8(8) ? 5 : 4, pc = second;
      break;
    case 0x80000801:
      s = 1, a = 6, pc = second;
      break;
    default:
      break;
  }
  if (state) *state = s;
  if (activity) *activity = a;
  if (percent) *percent = pc;
  return kOk;
}

int Glimmora::arrayDescription(int array, int* modeIndex, int* size, int* half) {
  if (!link_.ready()) return kConnectionLost;
  if (!validArray(array)) return kInvalidParameters;
  if (modeIndex) *modeIndex = -1;
  Reply r = transact(kCmdGetArrayDescription, Payload{}.byte(array), 20);
  if (!r.echoes(kCmdGetArrayDescription)) return kGenericError;
  if (modeIndex) *modeIndex = modeIndexFromCode(r.u32(0), r.u32(16));
  if (size) *size = toInt(r.u32(4));
  if (half) *half = toInt(r.u32(8) / 2);
  return kOk;
}

int Glimmora::busyTest(int array) {
  int count = 0;
  int arrays[RA_MAX_ARRAYS] = {};
  int rc = enumerateAllArrays(&count, arrays);
  if (rc != kOk) return rc;
  for (int i = 0; i < count; ++i) {
    if (arrays[i] == array) continue;
    int state = -1, activity = -1, percent = 0;
    if (arrayStatus(arrays[i], &state, &activity, &percent) != kOk) continue;
    if (activity >= 1 && activity <= 6) return kInvalidParameters;
  }
  return kOk;
}

int Glimmora::synchronize(int array, int value) {
  if (!link_.ready()) return kConnectionLost;
  if (!validArray(array)) return kInvalidParameters;
  if (int rc = busyTest(array); rc != kOk) return rc;
  return statusOf(transact(kCmdArraySynchronize, Payload{}.byte(array).byte(value), 1, 60000), kCmdArraySynchronize,
                  "sync array OK!", "sync array Error!");
}

int Glimmora::rebuildDisk(int array, int disk, int value) {
  if (!link_.ready()) return kConnectionLost;
  // A disk of -1 leaves the choice of the disk to the subsystem.
  if (!validArray(array) || disk < -1 || disk > kMaxDisk) return kInvalidParameters;
  if (int rc = busyTest(array); rc != kOk) return rc;
  return statusOf(transact(kCmdArrayRebuildDisk, Payload{}.byte(array).byte(disk).byte(value), 1, 60000),
                  kCmdArrayRebuildDisk, "rebuild array OK!", "rebuild array Error!");
}

int Glimmora::i2cStatus(int* temperatures, int* fanCount, int* fanSpeeds, int* volts5, int* volts12) {
  if (!link_.ready()) return kConnectionLost;
  Reply r = transact(kCmdGetI2CStatus, Payload{}, 56);
  if (!r.echoes(kCmdGetI2CStatus)) return kGenericError;
  if (volts5) *volts5 = toInt(r.u32(0));
  if (volts12) *volts12 = toInt(r.u32(4));
  if (temperatures)
    for (int i = 0; i < 3; ++i) temperatures[i] = toInt(r.u32(8 + 4 * i));
  int fans = static_cast<int>(std::min<std::uint32_t>(r.u32(20), RA_MAX_FANS));
  if (fanCount) *fanCount = fans;
  if (fanSpeeds)
    for (int i = 0; i < fans; ++i) fanSpeeds[i] = toInt(r.u32(24 + 4 * i));
  return kOk;
}

int Glimmora::enclosureStatus(int* type, int* size, int* record) {
  if (type) *type = 4;
  if (size) *size = 56;
  int temps[3] = {}, fans = 0, speeds[RA_MAX_FANS] = {}, v5 = 0, v12 = 0;
  int rc = i2cStatus(temps, &fans, speeds, &v5, &v12);
  if (record && rc == kOk) {
    int i = 0;
    record[i++] = v5;
    record[i++] = v12;
    for (int t : temps) record[i++] = t;
    record[i++] = fans;
    for (int f = 0; f < fans; ++f) record[i++] = speeds[f];
  }
  return rc;
}

int Glimmora::setArrayName(int array, const char* name) {
  if (!link_.ready()) return kConnectionLost;
  if (!validArray(array) || !name) return kInvalidParameters;
  // At most 63 characters, so the subsystem always finds a terminator.
  std::string_view text(name, strnlen(name, 63));
  return statusCommand(kCmdSetArrayName, Payload{}.byte(array).text(text, 64));
}

int Glimmora::readMemory(std::uint32_t address, int width, int* value) {
  if (!link_.ready()) return kConnectionLost;
  if (width != 8 && width != 16 && width != 32) return kInvalidParameters;
  Reply r = transact(kCmdReadMemory, Payload{}.u32(address).u32(static_cast<std::uint32_t>(width)), 4);
  if (!r.echoes(kCmdReadMemory)) return kGenericError;
  if (value) *value = toInt(r.u32(0));
  return kOk;
}

int Glimmora::writeMemory(std::uint32_t address, int value, int width) {
  if (!link_.ready()) return kConnectionLost;
  if (width != 8 && width != 16 && width != 32) return kInvalidParameters;
  Payload p;
  p.u32(address).u32(static_cast<std::uint32_t>(value)).u32(static_cast<std::uint32_t>(width));
  return transact(kCmdWriteMemory, p, 4).echoes(kCmdWriteMemory) ? kOk : kGenericError;
}

int Glimmora::readSetting8(std::uint32_t address, int* value) {
  int v = 0;
  int rc = readMemory(address, 8, &v);
  if (rc == kOk && value) *value = v & 0xFF;
  return rc;
}

int Glimmora::writeSetting8(std::uint32_t address, int value) { return writeMemory(address, value & 0xFF, 8); }

int Glimmora::fwRevision(char* text) {
  int w = 0;
  int rc = readMemory(mem::kFirmwareRevision, 16, &w);
  if (rc != kOk) return rc;
  w &= 0xFFFF;
  if (text) std::snprintf(text, RA_VERSION_BUFFER, "%d.%d.%d.%d", (w >> 4) & 0xF, (w >> 2) & 3, w & 3, (w >> 8) & 0xFF);
  return kOk;
}

int Glimmora::getEvents(RaEventRecord* records, int* count) {
  if (count) *count = 0;
  if (!link_.ready()) {
    if (count) *count = 1;
    if (records) {
      RaEventRecord& e = records[0];
      std::memset(&e, 0, sizeof e);
      e.kind = 29;
      e.cls = 1;
      e.array = -1;
      e.disk = -1;
      std::snprintf(e.text, sizeof e.text, "%s", "Serial port connection lost.");
      e.detail1 = -1;
      e.detail2 = -1;
    }
    return kConnectionLost;
  }
  int waiting = 0;
  int rc = errorLogCheck(&waiting);
  if (rc != kOk) return rc;
  if (waiting <= 0) return kOk;
  int n = std::min(waiting, static_cast<int>(RA_MAX_EVENTS));
  Reply r = transact(kCmdGetEvents, Payload{}.byte(n), static_cast<std::uint16_t>(n * 40));
  if (!r.echoes(kCmdGetEvents)) {
    link_.trace("raGetevent timeout");
    return kGenericError;
  }
  errorLogClear();
  ArrayResolver resolver;
  int listed[RA_MAX_ARRAYS] = {}, listedCount = 0;
  bool namesArrays = false;
  for (int i = 0; i < n; ++i) namesArrays |= eventArrayPosition(r.payload() + 40 * i).has_value();
  if (namesArrays && enumerateAllArrays(&listedCount, listed) == kOk) {
    resolver.listed.assign(listed, listed + listedCount);
    // The modes are needed only when an event names an array that is not listed.
    bool unlisted = false;
    for (int i = 0; i < n; ++i) {
      auto position = eventArrayPosition(r.payload() + 40 * i);
      unlisted |= position && std::find(listed, listed + listedCount, *position) == listed + listedCount;
    }
    for (int i = 0; unlisted && i < listedCount; ++i) {
      int mode = -1;
      if (arrayDescription(listed[i], &mode, nullptr, nullptr) == kOk && (mode == 6 || mode == 7))
        resolver.twoLevel.push_back(listed[i]);
    }
  }
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    RaEventRecord e = translateEvent(r.payload() + 40 * i, resolver, firstTemperature_, firstFan_);
    if (e.text[0] == '\0') continue;
    if (records) records[kept] = e;
    ++kept;
  }
  if (count) *count = kept;
  return kOk;
}

}  // namespace glimmora
