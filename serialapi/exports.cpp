// The exported C functions: thin calls into the process-wide library instance.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "serialapi/glimmora_api.h"

using glimmora::Glimmora;
namespace mem = glimmora::mem;

namespace {

Glimmora* replacement = nullptr;
Glimmora* instance = nullptr;  // made on first use, freed with the library

Glimmora& lib() {
  if (replacement) return *replacement;
  static std::once_flag made;
  std::call_once(made, [] { instance = new Glimmora(glimmora::defaultEnv()); });
  return *instance;
}

// Runs when the library is unloaded, and at exit after every static destructor (which may still
// call raTerminate). A link a host left running without raTerminate is left alone, so that its
// thread is not torn down under a host thread still inside a call.
__attribute__((destructor)) void freeInstance() {
  if (instance && !instance->link().started()) {
    delete instance;
    instance = nullptr;
  }
}

glimmora::Link& link() { return lib().link(); }

bool validArray(int array) { return array >= 0 && array <= 16; }

void copyText(char* out, const char* text) {
  if (out) std::snprintf(out, RA_VERSION_BUFFER, "%s", text);
}

// The two-way settings: 0 reads into the pointer, 1 writes the pointed value, anything else does nothing.
int twoWay(int direction, int* value, std::uint32_t address) {
  if (direction == 0) return lib().readSetting8(address, value);
  if (direction == 1) return value ? lib().writeSetting8(address, *value) : lib().refuse();
  return 0;
}

}  // namespace

namespace glimmora {
void setInstanceForTesting(Glimmora* instance) { replacement = instance; }
}  // namespace glimmora

extern "C" {

int raInitialize(int) { return lib().initialize(); }
int raTerminate(int) { return lib().terminate(); }
int TryToConnectComPort(void) { return link().tryToConnect(); }
void SetAutoConnectFlag(int on) { link().setAutoConnect(on); }
unsigned char raIsComportReady(void) { return link().ready() ? 1 : 0; }
int raSetComportWaitFlag(int flag) { return link().setWaitFlag(flag); }
unsigned char raComPortCfg(int index) { return link().configurePort(index); }
unsigned char FindFirstAvailComport(void) { return link().firstAvailable(); }
unsigned char FindNextAvailComport(void) { return link().nextAvailable(); }
unsigned char GetNumofAvailComports(void) { return link().availableCount(); }
void SetCurrentComport(unsigned index) { link().setCurrent(index); }
int CheckIfVaildComport(int index) { return link().validPort(index) ? 1 : 0; }
void StopComportActivity(void) { link().stopActivity(); }

int raGetDLLVersion(char* text) {
  copyText(text, "1.11");
  return 0;
}
int raGetDriverVersion(char* version, char* date) {
  copyText(version, "1.1");
  copyText(date, "11/10/2001");
  return 0;
}
int raGetHardwareVersion(char* text) {
  copyText(text, "1c");
  return 0;
}
int raGetQuorlinsDescription(void* record) {
  if (!record) return 0;
  auto* r = static_cast<unsigned char*>(record);
  std::memset(r, 0, RA_RECORD_BUFFER);
  std::memcpy(r, "0201", 4);
  std::strcpy(reinterpret_cast<char*>(r + 10), "Quorlins 1.1 FCS");
  std::strcpy(reinterpret_cast<char*>(r + 40), "10/22/01");
  const std::uint32_t v = 0x40000;
  for (int i = 0; i < 4; ++i) r[60 + i] = static_cast<unsigned char>(v >> (8 * i));
  return 0;
}
int raGetNumberOfAdapters(int* count) {
  if (count) *count = 1;
  return 0;
}
int raGetMaxDeviceInChannel(int, int* count) {
  if (count) *count = 2;
  return 0;
}
int raGetHardwareType(int* type) {
  if (type) *type = 4;
  return 0;
}
int raEnclosureType(int, int* type) {
  if (type) *type = 4;
  return 0;
}
int raScanChannel(int, int channel, int* present, int* id) {
  if (present) *present = 1;
  if (id) *id = channel;
  return 0;
}
int raInitTimeStamp(void) { return lib().initTimeStamp(); }
// Not one of the operating systems the values name.
int DetectOsVer(void) { return -1; }
const char* raErrorDescription(int code) { return glimmora::resultText(code); }

int raGetMaxChannelsPerAdapter(int* channels) { return lib().maxChannelsPerAdapter(channels); }
int raScanDevice(int position, int value, int* kind, int* id) { return lib().scanDevice(position, value, kind, id); }
int raGetDeviceName(int device, char* name) { return lib().deviceName(device, name); }
int raGetArrayName(int array, char* name) { return lib().deviceName(array, name); }
int raEnumerateAllDisks(int* count, int* ids) { return lib().enumerateAllDisks(count, ids); }
int raGetDiskStatus(int disk, int* status, int* second, int* third, int* slot) {
  return lib().diskStatus(disk, status, second, third, slot);
}
int raGetDiskTiming(int disk, int* mode) { return lib().diskTiming(disk, mode); }
int raGetDiskDescription(int disk, int* a, int* b, int* c, int* d) { return lib().diskDescription(disk, a, b, c, d); }
int raGetDiskSize(int disk, int* a, int* b) { return lib().diskSize(disk, a, b); }
int raFirmwareDescription(void* record) { return lib().firmwareDescription(record); }
int raDeleteArray(int array) { return lib().deleteArray(array); }
int raAbortArryRebuild(int array) { return lib().abortRebuild(array); }
int raStopRaidConversion(void) { return lib().stopConversion(); }
int raErrorLogClear(void) { return lib().errorLogClear(); }
int raErrorLogCheck(int* count) { return lib().errorLogCheck(count); }
int raCreateArray(const char* name, int modeIndex, int n, int* disks, int blockValue, void*) {
  return lib().createArray(name, modeIndex, n, disks, blockValue);
}
int raExpanConv(int array, int modeIndex, int n, int* disks, void*) {
  return lib().expandConvert(array, modeIndex, n, disks);
}
int raArrayConversion(int array, int* disks, int n, int newModeIndex) {
  return lib().arrayConversion(array, disks, n, newModeIndex);
}
int raArrayExpansion(int array, int* disks, int n) { return lib().arrayExpansion(array, disks, n); }
int raGetArrayStatus(int array, int* state, int* activity, int* percent) {
  return lib().arrayStatus(array, state, activity, percent);
}
int raEnumerateDisksInArray(int array, int* count, int* disks) {
  return lib().enumerateDisksInArray(array, count, disks);
}
int raEnumerateAllArrays(int* count, int* arrays) { return lib().enumerateAllArrays(count, arrays); }
int raGetArrayDescription(int array, int* modeIndex, int* size, int* half) {
  return lib().arrayDescription(array, modeIndex, size, half);
}
int raArraySynchronize(int array, int value) { return lib().synchronize(array, value); }
int raArrayRebuildDisk(int array, int disk, int value) { return lib().rebuildDisk(array, disk, value); }
int raGetI2CStatus(int* temperatures, int* fanCount, int* fanSpeeds, int* volts5, int* volts12) {
  return lib().i2cStatus(temperatures, fanCount, fanSpeeds, volts5, volts12);
}
int raGetEnclosureStatus(int, int* type, int* size, int* record) { return lib().enclosureStatus(type, size, record); }

using glimmora::Payload;
int raSetCacheWriteBackPolicy(int array, int policy) {
  if (!validArray(array)) return lib().refuse();
  return lib().statusCommand(glimmora::kCmdSetCacheWriteBackPolicy,
                             Payload{}.byte(array).u32(static_cast<std::uint32_t>(policy)));
}
int raGetCacheWriteBackPolicy(int array, int* policy) {
  if (!validArray(array)) return lib().refuse();
  return lib().readWords(glimmora::kCmdGetCacheWriteBackPolicy, Payload{}.byte(array), 4, policy);
}
int raGetCacheMemorySize(int* size) { return lib().readWords(glimmora::kCmdGetCacheMemorySize, Payload{}, 4, size); }
int raGetCacheBlockSize(int* size) { return lib().readWords(glimmora::kCmdGetCacheBlockSize, Payload{}, 4, size); }
int raGetCacheRWHit(int* readHits, int* writeHits) {
  return lib().readWords(glimmora::kCmdGetCacheRWHit, Payload{}, 8, readHits, writeHits);
}
int raGetArrayThrottleStatus(int array, int* first, int* second) {
  if (!validArray(array)) return lib().refuse();
  return lib().readWords(glimmora::kCmdGetArrayThrottleStatus, Payload{}.byte(array), 8, first, second);
}
int raCacheDoubleBufModeSet(int a, int b) {
  return lib().statusCommand(glimmora::kCmdCacheDoubleBufModeSet, Payload{}.byte(a).byte(b));
}
int raSetSeqRandomAcessDetection(int array, int on) {
  if (!validArray(array)) return lib().refuse();
  return lib().statusCommand(glimmora::kCmdSetSeqRandomAccessDetection, Payload{}.byte(array).byte(on));
}
int raGetSeqRandomAcessDetection(int array, int* on) {
  if (!validArray(array)) return lib().refuse();
  return lib().readWords(glimmora::kCmdGetSeqRandomAccessDetection, Payload{}.byte(array), 1, on, nullptr, true);
}
int raCachePreReadSizeSet(int a, int size) {
  return lib().statusCommand(glimmora::kCmdCachePreReadSizeSet,
                             Payload{}.byte(a).u32(static_cast<std::uint32_t>(size)));
}
int raCachePbmBufSizeSet(int size) {
  return lib().statusCommand(glimmora::kCmdCachePbmBufSizeSet, Payload{}.u32(static_cast<std::uint32_t>(size)));
}
int raCachePbmBufSizeGet(int* size) { return lib().readWords(glimmora::kCmdCachePbmBufSizeGet, Payload{}, 4, size); }
int raSetAutoFlushFreq(int frequency) {
  return lib().statusCommand(glimmora::kCmdSetAutoFlushFreq, Payload{}.u32(static_cast<std::uint32_t>(frequency)));
}
int raGetAutoFlushFreq(int* frequency) {
  return lib().readWords(glimmora::kCmdGetAutoFlushFreq, Payload{}, 4, frequency);
}
int raSetArrayName(int array, const char* name) { return lib().setArrayName(array, name); }
int raReadMemory(unsigned address, int width, int* value) { return lib().readMemory(address, width, value); }
int raWriteMemory(unsigned address, int value, int width) { return lib().writeMemory(address, value, width); }
int raGetEvents(RaEventRecord* records, int* count) { return lib().getEvents(records, count); }
int evtDiskTest(int a, int b, int c) {
  return lib().statusCommand(glimmora::kCmdDiskTest, Payload{}.byte(a).byte(b).byte(c));
}

int raGetBuzzCtrlStatus(int* value) { return lib().readSetting8(mem::kBuzzer, value); }
int raSetBuzzCtrlStatus(int value) { return lib().writeSetting8(mem::kBuzzer, value); }
int raGBBoundaryEnabled(int direction, int* value) {
  twoWay(direction, value, mem::kGbBoundary);
  return 0;
}
int raGetRebuildPriority(int* value) { return lib().readSetting8(mem::kRebuildPriority, value); }
int raSetRebuildPriority(int value) { return lib().writeSetting8(mem::kRebuildPriority, value); }
int raGetMemSize(int* size) { return lib().readMemory(mem::kMemorySize, 32, size); }
int raGetSmartCheckEnable(int* value) { return lib().readSetting8(mem::kSmartCheck, value); }
int raSetSmartCheckEnable(int value) { return lib().writeSetting8(mem::kSmartCheck, value); }
int raSmartCheckEnabled(int direction, int* value) { return twoWay(direction, value, mem::kSmartCheck); }
int raGetHardDiskWriteCache(int* value) { return lib().readSetting8(mem::kDiskWriteCache, value); }
int raSetHardDiskWriteCache(int value) { return lib().writeSetting8(mem::kDiskWriteCache, value); }
int raCreateArrayInitializeEnabled(int direction, int* value) {
  int bit = value ? *value & 1 : 0;  // only bit 0 is written
  twoWay(direction, direction == 1 && value ? &bit : value, mem::kInitOnCreate);
  return 0;
}
int raGetFWRevision(char* text) { return lib().fwRevision(text); }

}  // extern "C"
