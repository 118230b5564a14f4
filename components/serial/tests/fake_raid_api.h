#pragma once
// A recording stand-in for the serial access library: a small model of one subsystem that answers
// the reads, and a log of every call that changes something ("raArrayRebuildDisk(0,5,2)").
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "components/serial/raid_api.h"

namespace kelm::brask::testing {

struct FakeDisk {
  std::string name = "DISK";
  int sizeFirst = 2500 * 2048, sizeThird = 512;  // sectors and bytes per sector: 2500 MiB
  int timing = 0;
  int cylinders = 16383, heads = 16, sectors = 63;
  int status = 0, second = -1, third = 0, slot = 0;
};

struct FakeArray {
  int libraryIndex = 5;
  int size = 2 * 1024 * 2048;  // 2 GiB in sectors
  int half = 64;
  std::string name = "Data";
  int state = 0, activity = -1, percent = 0;
  int statusResult = 0;  // what reading this array's status answers instead
  std::vector<int> members;
  int seqDetection = 0;
};

class FakeRaidApi final : public RaidApi {
 public:
  bool ready = true;
  int initResult = 0;
  int adapters = 1;
  int channels = 4;
  int hardwareType = 4;
  std::vector<int> fans{3000, 2900};
  int temperatures[3] = {30, 31, 32};
  int volts5 = 502, volts12 = 1204;  // hundredths of a volt, as the subsystem reports them
  int memSize = 64 * 1048576;
  int flush = 5, rebuildPriority = 1, smart = 1, hdCache = 0, writeBack = 1;
  std::map<int, FakeDisk> disks;
  std::map<int, FakeArray> arrays;
  std::vector<RaEventRecord> events;
  // A result to answer instead of the model's, by function name.
  std::map<std::string, int> fail;
  std::vector<std::string> calls;
  // Called on every call the link becomes ready (so a wait loop sees it come up).
  int readyAfterChecks = 0;

  static RaEventRecord Event(int kind, int array = -1, const char* text = "") {
    RaEventRecord r{};
    r.kind = kind;
    r.array = array;
    r.disk = -1;
    r.detail1 = r.detail2 = -1;
    std::snprintf(r.text, sizeof r.text, "%s", text);
    return r;
  }

  // The calls whose name starts with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }

  int raInitialize(int) override { return Log("raInitialize()", initResult); }
  int raTerminate(int) override { return Log("raTerminate()", 0); }
  int TryToConnectComPort() override { return Log("TryToConnectComPort()", 0); }
  bool raIsComportReady() override {
    if (readyAfterChecks > 0 && --readyAfterChecks == 0) ready = true;
    return ready;
  }
  void StopComportActivity() override {
    Log("StopComportActivity()", 0);
    ready = false;
  }
  int raGetNumberOfAdapters(int* count) override {
    *count = adapters;
    return 0;
  }

  int raGetDLLVersion(char* text) override { return Text(text, RA_VERSION_BUFFER, "1.11", "raGetDLLVersion"); }
  int raGetFWRevision(char* text) override { return Text(text, RA_VERSION_BUFFER, "3.1.2.2", "raGetFWRevision"); }
  int raGetMemSize(int* size) override { return Read(size, memSize, "raGetMemSize"); }
  int raGetHardwareType(int* type) override { return Read(type, hardwareType, "raGetHardwareType"); }
  int raGetMaxChannelsPerAdapter(int* n) override { return Read(n, channels, "raGetMaxChannelsPerAdapter"); }
  int raGetEnclosureStatus(int, int* type, int* size, int* record) override {
    if (int rc = Result("raGetEnclosureStatus")) return rc;
    *type = 4;
    *size = 56;
    record[0] = volts5;
    record[1] = volts12;
    for (int i = 0; i < 3; ++i) record[2 + i] = temperatures[i];
    record[5] = static_cast<int>(fans.size());
    for (std::size_t i = 0; i < fans.size() && i < 8; ++i) record[6 + i] = fans[i];
    return 0;
  }
  int raGetCacheWriteBackPolicy(int, int* v) override { return Read(v, writeBack, "raGetCacheWriteBackPolicy"); }
  int raSetCacheWriteBackPolicy(int a, int v) override { return Set("raSetCacheWriteBackPolicy", writeBack, v, a); }
  int raGetAutoFlushFreq(int* v) override { return Read(v, flush, "raGetAutoFlushFreq"); }
  int raSetAutoFlushFreq(int v) override { return Set("raSetAutoFlushFreq", flush, v); }
  int raGetRebuildPriority(int* v) override { return Read(v, rebuildPriority, "raGetRebuildPriority"); }
  int raSetRebuildPriority(int v) override { return Set("raSetRebuildPriority", rebuildPriority, v); }
  int raGetSmartCheckEnable(int* v) override { return Read(v, smart, "raGetSmartCheckEnable"); }
  int raSetSmartCheckEnable(int v) override { return Set("raSetSmartCheckEnable", smart, v); }
  int raGetHardDiskWriteCache(int* v) override { return Read(v, hdCache, "raGetHardDiskWriteCache"); }
  int raSetHardDiskWriteCache(int v) override { return Set("raSetHardDiskWriteCache", hdCache, v); }
  int raSetBuzzCtrlStatus(int v) override { return Log("raSetBuzzCtrlStatus(" + std::to_string(v) + ")", 0); }
  int raCreateArrayInitializeEnabled(int d, int* v) override {
    return Log("raCreateArrayInitializeEnabled(" + std::to_string(d) + "," + std::to_string(*v) + ")", 0);
  }
  int raGBBoundaryEnabled(int d, int* v) override {
    return Log("raGBBoundaryEnabled(" + std::to_string(d) + "," + std::to_string(*v) + ")", 0);
  }
  int raGetEvents(RaEventRecord* records, int* count) override {
    *count = 0;
    if (int rc = Result("raGetEvents")) return rc;
    const std::size_t n = std::min<std::size_t>(events.size(), RA_MAX_EVENTS);
    std::copy(events.begin(), events.begin() + static_cast<long>(n), records);
    events.erase(events.begin(), events.begin() + static_cast<long>(n));
    *count = static_cast<int>(n);
    return 0;
  }

  int raEnumerateAllDisks(int* count, int* ids) override {
    if (int rc = Result("raEnumerateAllDisks")) return rc;
    *count = 0;
    for (const auto& [id, d] : disks) ids[(*count)++] = id;
    return 0;
  }
  int raEnumerateAllArrays(int* count, int* ids) override {
    if (int rc = Result("raEnumerateAllArrays")) return rc;
    *count = 0;
    for (const auto& [id, a] : arrays) ids[(*count)++] = id;
    return 0;
  }
  int raEnumerateDisksInArray(int array, int* count, int* ids) override {
    auto it = arrays.find(array);
    if (it == arrays.end()) return 2;
    *count = static_cast<int>(it->second.members.size());
    std::copy(it->second.members.begin(), it->second.members.end(), ids);
    return 0;
  }
  int raScanDevice(int position, int, int* kind, int* id) override {
    if (int rc = Result("raScanDevice")) return rc;
    if (!disks.count(position)) {
      *kind = 0;
      *id = -1;
      return 7;
    }
    *kind = 1;
    *id = position;
    return 0;
  }
  int raGetDeviceName(int device, char* name) override {
    auto it = disks.find(device);
    return it == disks.end() ? 2 : Text(name, RA_NAME_BUFFER, it->second.name.c_str(), "raGetDeviceName");
  }
  int raGetDiskStatus(int disk, int* status, int* second, int* third, int* slot) override {
    auto it = disks.find(disk);
    if (int rc = Result("raGetDiskStatus"); rc || it == disks.end()) return rc ? rc : 2;
    *status = it->second.status;
    *second = it->second.second;
    *third = it->second.third;
    if (slot) *slot = it->second.slot;
    return 0;
  }
  int raGetDiskTiming(int disk, int* mode) override {
    auto it = disks.find(disk);
    if (it == disks.end()) return 2;
    *mode = it->second.timing;
    return 0;
  }
  int raGetDiskDescription(int disk, int* a, int* c, int* h, int* s) override {
    auto it = disks.find(disk);
    if (it == disks.end()) return 2;
    *a = 0;
    *c = it->second.cylinders;
    *h = it->second.heads;
    *s = it->second.sectors;
    return 0;
  }
  int raGetDiskSize(int disk, int* first, int* third) override {
    auto it = disks.find(disk);
    if (it == disks.end()) return 2;
    *first = it->second.sizeFirst;
    *third = it->second.sizeThird;
    return 0;
  }
  int raGetArrayName(int array, char* name) override {
    auto it = arrays.find(array);
    return it == arrays.end() ? 2 : Text(name, RA_NAME_BUFFER, it->second.name.c_str(), "raGetArrayName");
  }
  int raSetArrayName(int array, const char* name) override {
    int rc = Log("raSetArrayName(" + std::to_string(array) + "," + name + ")", Result("raSetArrayName"));
    if (rc == 0 && arrays.count(array)) arrays[array].name = name;
    return rc;
  }
  int raGetArrayDescription(int array, int* index, int* size, int* half) override {
    auto it = arrays.find(array);
    if (it == arrays.end()) return 2;
    *index = it->second.libraryIndex;
    *size = it->second.size;
    *half = it->second.half;
    return 0;
  }
  int raGetArrayStatus(int array, int* state, int* activity, int* percent) override {
    auto it = arrays.find(array);
    if (int rc = Result("raGetArrayStatus"); rc || it == arrays.end()) return rc ? rc : 2;
    if (it->second.statusResult) return it->second.statusResult;
    *state = it->second.state;
    *activity = it->second.activity;
    *percent = it->second.percent;
    return 0;
  }
  int raGetSeqRandomAcessDetection(int array, int* on) override {
    auto it = arrays.find(array);
    if (it == arrays.end()) return 2;
    *on = it->second.seqDetection;
    return 0;
  }
  int raSetSeqRandomAcessDetection(int array, int on) override {
    return Log("raSetSeqRandomAcessDetection(" + std::to_string(array) + "," + std::to_string(on) + ")",
               Result("raSetSeqRandomAcessDetection"));
  }
  int raCreateArray(const char* name, int mode, int n, int* ids, int block, void*) override {
    std::string c = std::string("raCreateArray(") + name + "," + std::to_string(mode) + "," + std::to_string(n);
    for (int i = 0; i < n; ++i) c += "," + std::to_string(ids[i]);
    return Log(c + "," + std::to_string(block) + ")", Result("raCreateArray"));
  }
  int raDeleteArray(int array) override {
    int rc = Log("raDeleteArray(" + std::to_string(array) + ")", Result("raDeleteArray"));
    if (rc == 0) arrays.erase(array);
    return rc;
  }
  int raArrayRebuildDisk(int a, int d, int v) override {
    return Log("raArrayRebuildDisk(" + std::to_string(a) + "," + std::to_string(d) + "," + std::to_string(v) + ")",
               Result("raArrayRebuildDisk"));
  }
  int raArraySynchronize(int a, int v) override {
    return Log("raArraySynchronize(" + std::to_string(a) + "," + std::to_string(v) + ")", Result("raArraySynchronize"));
  }
  int raAbortArryRebuild(int a) override {
    return Log("raAbortArryRebuild(" + std::to_string(a) + ")", Result("raAbortArryRebuild"));
  }
  int raArrayConversion(int a, int* ids, int n, int mode) override {
    return Log("raArrayConversion(" + std::to_string(a) + "," + Ids(ids, n) + "," + std::to_string(mode) + ")",
               Result("raArrayConversion"));
  }
  int raArrayExpansion(int a, int* ids, int n) override {
    return Log("raArrayExpansion(" + std::to_string(a) + "," + Ids(ids, n) + ")", Result("raArrayExpansion"));
  }
  int raStopRaidConversion() override { return Log("raStopRaidConversion()", Result("raStopRaidConversion")); }
  const char* raErrorDescription(int code) override { return ::raErrorDescription(code); }

 private:
  int Result(const std::string& name) const {
    if (!ready) return 17;
    auto it = fail.find(name);
    return it == fail.end() ? 0 : it->second;
  }
  int Log(const std::string& call, int rc) {
    calls.push_back(call);
    return rc;
  }
  int Read(int* out, int value, const char* name) {
    if (int rc = Result(name)) return rc;
    *out = value;
    return 0;
  }
  int Set(const char* name, int& field, int value, int array = -1) {
    std::string c =
        std::string(name) + "(" + (array >= 0 ? std::to_string(array) + "," : "") + std::to_string(value) + ")";
    int rc = Log(c, Result(name));
    if (rc == 0) field = value;
    return rc;
  }
  int Text(char* out, std::size_t size, const char* text, const char* name) {
    if (int rc = Result(name)) return rc;
    std::snprintf(out, size, "%s", text);
    return 0;
  }
  static std::string Ids(const int* ids, int n) {
    std::string s = "{";
    for (int i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(ids[i]);
    return s + "}";
  }
};

}  // namespace kelm::brask::testing
