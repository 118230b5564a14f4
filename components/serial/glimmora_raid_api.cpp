// The real seam: each call goes straight to the serial access library's export of the same name.
#include "components/serial/raid_api.h"

namespace kelm::brask {

namespace {

class GlimmoraRaidApi final : public RaidApi {
 public:
  int raInitialize(int reserved) override { return ::raInitialize(reserved); }
  int raTerminate(int reserved) override { return ::raTerminate(reserved); }
  int TryToConnectComPort() override { return ::TryToConnectComPort(); }
  bool raIsComportReady() override { return ::raIsComportReady() != 0; }
  void StopComportActivity() override { ::StopComportActivity(); }
  int raGetNumberOfAdapters(int* count) override { return ::raGetNumberOfAdapters(count); }

  int raGetDLLVersion(char* text) override { return ::raGetDLLVersion(text); }
  int raGetFWRevision(char* text) override { return ::raGetFWRevision(text); }
  int raGetMemSize(int* size) override { return ::raGetMemSize(size); }
  int raGetHardwareType(int* type) override { return ::raGetHardwareType(type); }
  int raGetMaxChannelsPerAdapter(int* channels) override { return ::raGetMaxChannelsPerAdapter(channels); }
  int raGetEnclosureStatus(int reserved, int* type, int* size, int* record) override {
    return ::raGetEnclosureStatus(reserved, type, size, record);
  }
  int raGetCacheWriteBackPolicy(int array, int* policy) override { return ::raGetCacheWriteBackPolicy(array, policy); }
  int raSetCacheWriteBackPolicy(int array, int policy) override { return ::raSetCacheWriteBackPolicy(array, policy); }
  int raGetAutoFlushFreq(int* frequency) override { return ::raGetAutoFlushFreq(frequency); }
  int raSetAutoFlushFreq(int frequency) override { return ::raSetAutoFlushFreq(frequency); }
  int raGetRebuildPriority(int* value) override { return ::raGetRebuildPriority(value); }
  int raSetRebuildPriority(int value) override { return ::raSetRebuildPriority(value); }
  int raGetSmartCheckEnable(int* value) override { return ::raGetSmartCheckEnable(value); }
  int raSetSmartCheckEnable(int value) override { return ::raSetSmartCheckEnable(value); }
  int raGetHardDiskWriteCache(int* value) override { return ::raGetHardDiskWriteCache(value); }
  int raSetHardDiskWriteCache(int value) override { return ::raSetHardDiskWriteCache(value); }
  int raSetBuzzCtrlStatus(int value) override { return ::raSetBuzzCtrlStatus(value); }
  int raCreateArrayInitializeEnabled(int direction, int* value) override {
    return ::raCreateArrayInitializeEnabled(direction, value);
  }
  int raGBBoundaryEnabled(int direction, int* value) override { return ::raGBBoundaryEnabled(direction, value); }
  int raGetEvents(RaEventRecord* records, int* count) override { return ::raGetEvents(records, count); }

  int raEnumerateAllDisks(int* count, int* ids) override { return ::raEnumerateAllDisks(count, ids); }
  int raEnumerateAllArrays(int* count, int* arrays) override { return ::raEnumerateAllArrays(count, arrays); }
  int raEnumerateDisksInArray(int array, int* count, int* disks) override {
    return ::raEnumerateDisksInArray(array, count, disks);
  }
  int raScanDevice(int position, int value, int* kind, int* id) override {
    return ::raScanDevice(position, value, kind, id);
  }
  int raGetDeviceName(int device, char* name) override { return ::raGetDeviceName(device, name); }
  int raGetDiskStatus(int disk, int* status, int* second, int* third, int* slot) override {
    return ::raGetDiskStatus(disk, status, second, third, slot);
  }
  int raGetDiskTiming(int disk, int* mode) override { return ::raGetDiskTiming(disk, mode); }
  int raGetDiskDescription(int disk, int* first, int* cylinders, int* heads, int* sectors) override {
    return ::raGetDiskDescription(disk, first, cylinders, heads, sectors);
  }
  int raGetDiskSize(int disk, int* first, int* third) override { return ::raGetDiskSize(disk, first, third); }
  int raGetArrayName(int array, char* name) override { return ::raGetArrayName(array, name); }
  int raSetArrayName(int array, const char* name) override { return ::raSetArrayName(array, name); }
  int raGetArrayDescription(int array, int* modeIndex, int* size, int* half) override {
    return ::raGetArrayDescription(array, modeIndex, size, half);
  }
  int raGetArrayStatus(int array, int* state, int* activity, int* percent) override {
    return ::raGetArrayStatus(array, state, activity, percent);
  }
  int raGetSeqRandomAcessDetection(int array, int* on) override { return ::raGetSeqRandomAcessDetection(array, on); }
  int raSetSeqRandomAcessDetection(int array, int on) override { return ::raSetSeqRandomAcessDetection(array, on); }
  int raCreateArray(const char* name, int modeIndex, int diskCount, int* disks, int blockValue,
                    void* reserved) override {
    return ::raCreateArray(name, modeIndex, diskCount, disks, blockValue, reserved);
  }
  int raDeleteArray(int array) override { return ::raDeleteArray(array); }
  int raArrayRebuildDisk(int array, int disk, int value) override { return ::raArrayRebuildDisk(array, disk, value); }
  int raArraySynchronize(int array, int value) override { return ::raArraySynchronize(array, value); }
  int raAbortArryRebuild(int array) override { return ::raAbortArryRebuild(array); }
  int raArrayConversion(int array, int* disks, int diskCount, int newModeIndex) override {
    return ::raArrayConversion(array, disks, diskCount, newModeIndex);
  }
  int raArrayExpansion(int array, int* disks, int diskCount) override {
    return ::raArrayExpansion(array, disks, diskCount);
  }
  int raStopRaidConversion() override { return ::raStopRaidConversion(); }

  const char* raErrorDescription(int code) override { return ::raErrorDescription(code); }
};

}  // namespace

RaidApi& GlimmoraApi() {
  static GlimmoraRaidApi api;
  return api;
}

}  // namespace kelm::brask
