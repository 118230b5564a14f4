#pragma once
// The seam between the serial-family nodes and the serial access library: every library call the
// nodes make goes through RaidApi, so that unit tests can stand a recording double in its place.
// The component library installs the real one; the environment (sleeper, clock, log) is
// injectable the same way.
#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/base/clock.h"
#include "platform/base/result.h"
#include "serialapi/glimmora.h"

namespace kelm::brask {

class RaidApi {
 public:
  virtual ~RaidApi() = default;

  // Life cycle and link.
  virtual int raInitialize(int reserved) = 0;
  virtual int raTerminate(int reserved) = 0;
  virtual int TryToConnectComPort() = 0;
  virtual bool raIsComportReady() = 0;
  virtual void StopComportActivity() = 0;
  virtual int raGetNumberOfAdapters(int* count) = 0;

  // Controller information and settings.
  virtual int raGetDLLVersion(char* text) = 0;  // RA_VERSION_BUFFER
  virtual int raGetFWRevision(char* text) = 0;  // RA_VERSION_BUFFER
  virtual int raGetMemSize(int* size) = 0;
  virtual int raGetHardwareType(int* type) = 0;
  virtual int raGetMaxChannelsPerAdapter(int* channels) = 0;
  virtual int raGetEnclosureStatus(int reserved, int* type, int* size, int* record) = 0;  // RA_ENCLOSURE_RECORD
  virtual int raGetCacheWriteBackPolicy(int array, int* policy) = 0;
  virtual int raSetCacheWriteBackPolicy(int array, int policy) = 0;
  virtual int raGetAutoFlushFreq(int* frequency) = 0;
  virtual int raSetAutoFlushFreq(int frequency) = 0;
  virtual int raGetRebuildPriority(int* value) = 0;
  virtual int raSetRebuildPriority(int value) = 0;
  virtual int raGetSmartCheckEnable(int* value) = 0;
  virtual int raSetSmartCheckEnable(int value) = 0;
  virtual int raGetHardDiskWriteCache(int* value) = 0;
  virtual int raSetHardDiskWriteCache(int value) = 0;
  virtual int raSetBuzzCtrlStatus(int value) = 0;
  virtual int raCreateArrayInitializeEnabled(int direction, int* value) = 0;
  virtual int raGBBoundaryEnabled(int direction, int* value) = 0;
  virtual int raGetEvents(RaEventRecord* records, int* count) = 0;  // RA_MAX_EVENTS records

  // Disks and arrays.
  virtual int raEnumerateAllDisks(int* count, int* ids) = 0;                   // RA_MAX_DISKS ids
  virtual int raEnumerateAllArrays(int* count, int* arrays) = 0;               // RA_MAX_ARRAYS ids
  virtual int raEnumerateDisksInArray(int array, int* count, int* disks) = 0;  // RA_MAX_MEMBERS ids
  virtual int raScanDevice(int position, int value, int* kind, int* id) = 0;
  virtual int raGetDeviceName(int device, char* name) = 0;  // RA_NAME_BUFFER
  virtual int raGetDiskStatus(int disk, int* status, int* second, int* third, int* slot) = 0;
  virtual int raGetDiskTiming(int disk, int* mode) = 0;
  virtual int raGetDiskDescription(int disk, int* first, int* cylinders, int* heads, int* sectors) = 0;
  virtual int raGetDiskSize(int disk, int* first, int* third) = 0;
  virtual int raGetArrayName(int array, char* name) = 0;  // RA_NAME_BUFFER
  virtual int raSetArrayName(int array, const char* name) = 0;
  virtual int raGetArrayDescription(int array, int* modeIndex, int* size, int* half) = 0;
  virtual int raGetArrayStatus(int array, int* state, int* activity, int* percent) = 0;
  virtual int raGetSeqRandomAcessDetection(int array, int* on) = 0;
  virtual int raSetSeqRandomAcessDetection(int array, int on) = 0;
  virtual int raCreateArray(const char* name, int modeIndex, int diskCount, int* disks, int blockValue,
                            void* reserved) = 0;
  virtual int raDeleteArray(int array) = 0;
  virtual int raArrayRebuildDisk(int array, int disk, int value) = 0;
  virtual int raArraySynchronize(int array, int value) = 0;
  virtual int raAbortArryRebuild(int array) = 0;
  virtual int raArrayConversion(int array, int* disks, int diskCount, int newModeIndex) = 0;
  virtual int raArrayExpansion(int array, int* disks, int diskCount) = 0;
  virtual int raStopRaidConversion() = 0;

  // The library's text of a result code.
  virtual const char* raErrorDescription(int code) = 0;
};

// What the nodes wait with, read the time from and report to.
struct Environment {
  plat::Sleeper* sleeper = nullptr;           // the wait for the link after connecting
  const plat::Clock* clock = nullptr;         // the time of an event record
  std::function<void(std::string_view)> log;  // failures a user would otherwise see in a message box
};

// The library the nodes call. The component installs the real one before it makes a root.
RaidApi& Api();
void SetApi(RaidApi* api);

// The nodes' environment; a member left empty takes the process's real one.
const Environment& Env();
void SetEnvironment(Environment env);

// The real library (libglimmora.so, or its objects in a test that runs it against the simulator).
RaidApi& GlimmoraApi();

// A library result code as a Result: nothing to say for 0, else the code with the library's text.
plat::Result<void> Checked(int code);
// Logs what failed and why: "<what> failed: <reason>".
void LogFailure(std::string_view what, const plat::Error& error);

}  // namespace kelm::brask
