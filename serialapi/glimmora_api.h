#pragma once
// The library behind the exports: one link and the controller command set on top of it.
// The exported functions call the process-wide instance; tests build their own with a scripted port.
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "serialapi/commands.h"
#include "serialapi/frame.h"
#include "serialapi/glimmora.h"
#include "serialapi/link.h"

namespace glimmora {

// Result codes.
enum Result : int {
  kOk = 0,
  kGenericError = 2,
  kNoDiskPresent = 7,
  kInvalidParameters = 16,
  kConnectionLost = 17,
};

const char* resultText(int code);

// RAID mode index -> wire code, minimum disks; and back.
std::optional<std::uint32_t> modeCode(int modeIndex);
int modeIndexFromCode(std::uint32_t code, std::uint32_t diskCount);

// Translates one 40-byte raw controller event. `arrays` resolves the raw array position;
// `firstTemperature` and `firstFan` are consumed by the first such event.
// The raw array position an event names, or nothing for an event about no array.
std::optional<int> eventArrayPosition(const std::uint8_t* raw);
struct ArrayResolver {
  std::vector<int> listed;    // arrays the controller lists
  std::vector<int> twoLevel;  // listed arrays whose mode index is 6 or 7, in listed order
  int resolve(int position) const;
};
RaEventRecord translateEvent(const std::uint8_t* raw, const ArrayResolver& arrays, std::atomic<bool>& firstTemperature,
                             std::atomic<bool>& firstFan);

class Glimmora {
 public:
  explicit Glimmora(LinkEnv env) : link_(std::move(env)) {}
  Link& link() { return link_; }

  int initialize();
  int terminate();

  int maxChannelsPerAdapter(int* channels);
  int scanDevice(int position, int value, int* kind, int* id);
  int deviceName(int device, char* name);
  int enumerateAllDisks(int* count, int* ids);
  int diskStatus(int disk, int* status, int* second, int* third, int* slot);
  int diskTiming(int disk, int* mode);
  int diskDescription(int disk, int* a, int* b, int* c, int* d);
  int diskSize(int disk, int* a, int* b);
  int firmwareDescription(void* record);
  int deleteArray(int array);
  int abortRebuild(int array);
  int stopConversion();
  int errorLogClear();
  int errorLogCheck(int* count);
  int createArray(const char* name, int modeIndex, int n, const int* disks, int blockValue);
  int expandConvert(int array, int modeIndex, int n, const int* disks);
  int arrayConversion(int array, const int* disks, int n, int newModeIndex);
  int arrayExpansion(int array, const int* disks, int n);
  int arrayStatus(int array, int* state, int* activity, int* percent);
  int enumerateDisksInArray(int array, int* count, int* disks);
  int enumerateAllArrays(int* count, int* arrays);
  int arrayDescription(int array, int* modeIndex, int* size, int* half);
  int synchronize(int array, int value);
  int rebuildDisk(int array, int disk, int value);
  int i2cStatus(int* temperatures, int* fanCount, int* fanSpeeds, int* volts5, int* volts12);
  int enclosureStatus(int* type, int* size, int* record);
  // Commands with a status reply and a plain payload.
  int statusCommand(std::uint16_t code, const Payload& payload);
  // Commands whose reply is one or two words (or a byte) read back into the caller's ints.
  int readWords(std::uint16_t code, const Payload& payload, std::uint16_t replyLength, int* first,
                int* second = nullptr, bool byteReply = false);
  int setArrayName(int array, const char* name);
  int readMemory(std::uint32_t address, int width, int* value);
  int writeMemory(std::uint32_t address, int value, int width);
  int readSetting8(std::uint32_t address, int* value);
  int writeSetting8(std::uint32_t address, int value);
  int getEvents(RaEventRecord* records, int* count);
  int fwRevision(char* text);
  int initTimeStamp() { return link_.ready() ? kOk : kConnectionLost; }
  // A parameter out of range: 17 without a link (the link is checked first), else 16.
  int refuse() const { return link_.ready() ? kInvalidParameters : kConnectionLost; }

 private:
  // One transaction; the reply's echo is checked by the caller. `timeoutMs` is set around it.
  Reply transact(std::uint16_t code, const Payload& payload, std::uint16_t replyLength,
                 std::optional<int> timeoutMs = std::nullopt);
  int statusOf(const Reply& reply, std::uint16_t code, const char* okTrace = nullptr, const char* errTrace = nullptr);
  int listCommand(std::uint16_t code, const Payload& payload, std::size_t maxItems, int* count, int* items);
  int busyTest(int array);

  Link link_;
  std::atomic<int> firmwarePart_{0};
  std::atomic<bool> firstTemperature_{true};
  std::atomic<bool> firstFan_{true};
};

// Points the exported functions at another instance (nullptr: back to the process-wide one). Tests only.
void setInstanceForTesting(Glimmora* instance);

// Addresses of the settings kept in controller memory.
namespace mem {
constexpr std::uint32_t kBuzzer = 0xE0077FE0;
constexpr std::uint32_t kGbBoundary = 0xE0077FE1;
constexpr std::uint32_t kRebuildPriority = 0xE0077FE2;
constexpr std::uint32_t kMemorySize = 0xE0077FE4;
constexpr std::uint32_t kSmartCheck = 0xE0077F1B;
constexpr std::uint32_t kDiskWriteCache = 0xE0077F1C;
constexpr std::uint32_t kInitOnCreate = 0xE0077F1D;
constexpr std::uint32_t kSlotBase = 0xE0077F20;
constexpr std::uint32_t kFirmwareRevision = 0xE0077F90;
}  // namespace mem

}  // namespace glimmora
