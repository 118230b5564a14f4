#pragma once
// The exported functions of libglimmora.so, the serial controller access library.
// Every function returns a small result code (0 success, texts from raErrorDescription) unless noted.
// Output pointers may be null unless noted; text outputs are caller-owned buffers of the sizes below.
//
// Use: raInitialize(0) per user (calls are counted; the last raTerminate(0) ends the link). The link
// comes up on the library's own connection thread: at once when the user's registry value
// VelkariRaidApiCfg\comport\autoconnect is non-zero, else after TryToConnectComPort() or
// SetAutoConnectFlag(1). raIsComportReady() says when commands can go out; until then, and after a
// time-out took the link down, every command answers 17 without touching the port. Commands may be
// called from any thread: one lock serialises the transactions. ComN is dev/ttyS<N-1> under KELM_ROOT.
#include <cstdint>

extern "C" {

// Buffer sizes a caller provides for text and record outputs (every text is NUL-terminated).
enum {
  RA_NAME_BUFFER = 41,      // raGetDeviceName, raGetArrayName: up to 40 characters
  RA_VERSION_BUFFER = 16,   // raGetDLLVersion, raGetDriverVersion, raGetHardwareVersion, raGetFWRevision
  RA_RECORD_BUFFER = 64,    // raGetQuorlinsDescription, raFirmwareDescription
  RA_MAX_DISKS = 20,        // raEnumerateAllDisks
  RA_MAX_ARRAYS = 15,       // raEnumerateAllArrays
  RA_MAX_MEMBERS = 15,      // raEnumerateDisksInArray
  RA_MAX_FANS = 8,          // raGetI2CStatus
  RA_MAX_EVENTS = 10,       // raGetEvents fills at most this many records
  RA_ENCLOSURE_RECORD = 14  // ints in the raGetEnclosureStatus record
};

// One translated controller event (152 bytes).
struct RaEventRecord {
  std::int32_t kind;     // event kind, -1 for an unknown controller code
  std::int32_t cls;      // 2 when the raw severity is 1, 1 when 2, 0 otherwise
  std::int32_t array;    // array number from 1, -1 when none
  std::int32_t disk;     // disk number from 1, -1 when none
  char text[128];        // NUL-terminated
  std::int32_t detail1;  // -1 when none
  std::int32_t detail2;  // -1 when none
};
static_assert(sizeof(RaEventRecord) == 152);

#define RA_EXPORT __attribute__((visibility("default")))

// Life cycle and port functions.
RA_EXPORT int raInitialize(int reserved);
RA_EXPORT int raTerminate(int reserved);
RA_EXPORT int TryToConnectComPort(void);
RA_EXPORT void SetAutoConnectFlag(int on);
RA_EXPORT unsigned char raIsComportReady(void);
RA_EXPORT int raSetComportWaitFlag(int flag);
RA_EXPORT unsigned char raComPortCfg(int index);
RA_EXPORT unsigned char FindFirstAvailComport(void);
RA_EXPORT unsigned char FindNextAvailComport(void);
RA_EXPORT unsigned char GetNumofAvailComports(void);
RA_EXPORT void SetCurrentComport(unsigned index);
RA_EXPORT int CheckIfVaildComport(int index);
RA_EXPORT void StopComportActivity(void);

// Information without I/O.
RA_EXPORT int raGetDLLVersion(char* text);
RA_EXPORT int raGetDriverVersion(char* version, char* date);
RA_EXPORT int raGetHardwareVersion(char* text);
RA_EXPORT int raGetQuorlinsDescription(void* record);
RA_EXPORT int raGetNumberOfAdapters(int* count);
RA_EXPORT int raGetMaxDeviceInChannel(int adapter, int* count);
RA_EXPORT int raGetHardwareType(int* type);
RA_EXPORT int raEnclosureType(int adapter, int* type);
RA_EXPORT int raScanChannel(int adapter, int channel, int* present, int* id);
RA_EXPORT int raInitTimeStamp(void);
RA_EXPORT int DetectOsVer(void);
RA_EXPORT const char* raErrorDescription(int code);

// Controller commands.
RA_EXPORT int raGetMaxChannelsPerAdapter(int* channels);
RA_EXPORT int raScanDevice(int position, int value, int* kind, int* id);
RA_EXPORT int raGetDeviceName(int device, char* name);
RA_EXPORT int raGetArrayName(int array, char* name);
RA_EXPORT int raEnumerateAllDisks(int* count, int* ids);
RA_EXPORT int raGetDiskStatus(int disk, int* status, int* second, int* third, int* slot);
RA_EXPORT int raGetDiskTiming(int disk, int* mode);
RA_EXPORT int raGetDiskDescription(int disk, int* first, int* cylinders, int* heads, int* sectors);
RA_EXPORT int raGetDiskSize(int disk, int* first, int* third);
RA_EXPORT int raFirmwareDescription(void* record);
RA_EXPORT int raDeleteArray(int array);
RA_EXPORT int raAbortArryRebuild(int array);
RA_EXPORT int raStopRaidConversion(void);
RA_EXPORT int raErrorLogClear(void);
RA_EXPORT int raErrorLogCheck(int* count);
RA_EXPORT int raCreateArray(const char* name, int modeIndex, int diskCount, int* disks, int blockValue, void* reserved);
RA_EXPORT int raExpanConv(int array, int modeIndex, int diskCount, int* disks, void* reserved);
RA_EXPORT int raArrayConversion(int array, int* disks, int diskCount, int newModeIndex);
RA_EXPORT int raArrayExpansion(int array, int* disks, int diskCount);
RA_EXPORT int raGetArrayStatus(int array, int* state, int* activity, int* percent);
RA_EXPORT int raEnumerateDisksInArray(int array, int* count, int* disks);
RA_EXPORT int raEnumerateAllArrays(int* count, int* arrays);
RA_EXPORT int raGetArrayDescription(int array, int* modeIndex, int* size, int* half);
RA_EXPORT int raArraySynchronize(int array, int value);
RA_EXPORT int raArrayRebuildDisk(int array, int disk, int value);
RA_EXPORT int raGetI2CStatus(int* temperatures, int* fanCount, int* fanSpeeds, int* volts5, int* volts12);
RA_EXPORT int raGetEnclosureStatus(int reserved, int* type, int* size, int* record);
RA_EXPORT int raSetCacheWriteBackPolicy(int array, int policy);
RA_EXPORT int raGetCacheWriteBackPolicy(int array, int* policy);
RA_EXPORT int raGetCacheMemorySize(int* size);
RA_EXPORT int raGetCacheBlockSize(int* size);
RA_EXPORT int raGetCacheRWHit(int* readHits, int* writeHits);
RA_EXPORT int raGetArrayThrottleStatus(int array, int* first, int* second);
RA_EXPORT int raCacheDoubleBufModeSet(int a, int b);
RA_EXPORT int raSetSeqRandomAcessDetection(int array, int on);
RA_EXPORT int raGetSeqRandomAcessDetection(int array, int* on);
RA_EXPORT int raCachePreReadSizeSet(int a, int size);
RA_EXPORT int raCachePbmBufSizeSet(int size);
RA_EXPORT int raCachePbmBufSizeGet(int* size);
RA_EXPORT int raSetAutoFlushFreq(int frequency);
RA_EXPORT int raGetAutoFlushFreq(int* frequency);
RA_EXPORT int raSetArrayName(int array, const char* name);
RA_EXPORT int raReadMemory(unsigned address, int width, int* value);
RA_EXPORT int raWriteMemory(unsigned address, int value, int width);
RA_EXPORT int raGetEvents(RaEventRecord* records, int* count);
RA_EXPORT int evtDiskTest(int a, int b, int c);

// Settings kept in controller memory.
RA_EXPORT int raGetBuzzCtrlStatus(int* value);
RA_EXPORT int raSetBuzzCtrlStatus(int value);
RA_EXPORT int raGBBoundaryEnabled(int direction, int* value);
RA_EXPORT int raGetRebuildPriority(int* value);
RA_EXPORT int raSetRebuildPriority(int value);
RA_EXPORT int raGetMemSize(int* size);
RA_EXPORT int raGetSmartCheckEnable(int* value);
RA_EXPORT int raSetSmartCheckEnable(int value);
RA_EXPORT int raSmartCheckEnabled(int direction, int* value);
RA_EXPORT int raGetHardDiskWriteCache(int* value);
RA_EXPORT int raSetHardDiskWriteCache(int value);
RA_EXPORT int raCreateArrayInitializeEnabled(int direction, int* value);
RA_EXPORT int raGetFWRevision(char* text);

}  // extern "C"
