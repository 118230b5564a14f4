// The shared library as its users see it: every export by name, the constant answers, the result texts.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kExports[] = {
    "CheckIfVaildComport",
    "DetectOsVer",
    "FindFirstAvailComport",
    "FindNextAvailComport",
    "GetNumofAvailComports",
    "SetAutoConnectFlag",
    "SetCurrentComport",
    "StopComportActivity",
    "TryToConnectComPort",
    "evtDiskTest",
    "raAbortArryRebuild",
    "raArrayConversion",
    "raArrayExpansion",
    "raArrayRebuildDisk",
    "raArraySynchronize",
    "raCacheDoubleBufModeSet",
    "raCachePbmBufSizeGet",
    "raCachePbmBufSizeSet",
    "raCachePreReadSizeSet",
    "raComPortCfg",
    "raCreateArray",
    "raCreateArrayInitializeEnabled",
    "raDeleteArray",
    "raEnclosureType",
    "raEnumerateAllArrays",
    "raEnumerateAllDisks",
    "raEnumerateDisksInArray",
    "raErrorDescription",
    "raErrorLogCheck",
    "raErrorLogClear",
    "raExpanConv",
    "raFirmwareDescription",
    "raGBBoundaryEnabled",
    "raGetArrayDescription",
    "raGetArrayName",
    "raGetArrayStatus",
    "raGetArrayThrottleStatus",
    "raGetAutoFlushFreq",
    "raGetBuzzCtrlStatus",
    "raGetCacheBlockSize",
    "raGetCacheMemorySize",
    "raGetCacheRWHit",
    "raGetCacheWriteBackPolicy",
    "raGetDLLVersion",
    "raGetDeviceName",
    "raGetDiskDescription",
    "raGetDiskSize",
    "raGetDiskStatus",
    "raGetDiskTiming",
    "raGetDriverVersion",
    "raGetEnclosureStatus",
    "raGetEvents",
    "raGetFWRevision",
    "raGetHardDiskWriteCache",
    "raGetHardwareType",
    "raGetHardwareVersion",
    "raGetI2CStatus",
    "raGetQuorlinsDescription",
    "raGetMaxChannelsPerAdapter",
    "raGetMaxDeviceInChannel",
    "raGetMemSize",
    "raGetNumberOfAdapters",
    "raGetRebuildPriority",
    "raGetSeqRandomAcessDetection",
    "raGetSmartCheckEnable",
    "raInitTimeStamp",
    "raInitialize",
    "raIsComportReady",
    "raReadMemory",
    "raScanChannel",
    "raScanDevice",
    "raSetArrayName",
    "raSetAutoFlushFreq",
    "raSetBuzzCtrlStatus",
    "raSetCacheWriteBackPolicy",
    "raSetComportWaitFlag",
    "raSetHardDiskWriteCache",
    "raSetRebuildPriority",
    "raSetSeqRandomAcessDetection",
    "raSetSmartCheckEnable",
    "raSmartCheckEnabled",
    "raStopRaidConversion",
    "raTerminate",
    "raWriteMemory",
};

class SharedLibrary : public ::testing::Test {
 protected:
  static std::string libraryPath() {
    const char* dir = std::getenv("KELM_TEST_LIB");
    return std::string(dir ? dir : ".") + "/libglimmora.so";
  }
  void SetUp() override {
    handle = dlopen(libraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }
  template <typename F>
  F fn(const char* name) {
    return reinterpret_cast<F>(dlsym(handle, name));
  }
  void* handle = nullptr;
};

TEST_F(SharedLibrary, ExportsEveryFunctionByItsName) {
  for (const char* name : kExports) EXPECT_NE(dlsym(handle, name), nullptr) << name;
  EXPECT_EQ(dlsym(handle, "_ZN8glimmora4LinkC1ENS_7LinkEnvE"), nullptr) << "internals stay hidden";
}

// Unloading takes the library with everything it made; under the leak checker anything it kept
// fails the run.
TEST_F(SharedLibrary, UnloadsWithTheInstanceItMade) {
  EXPECT_EQ(fn<unsigned char (*)()>("raIsComportReady")(), 0);  // makes the process-wide instance
  ASSERT_EQ(dlclose(handle), 0);
  handle = nullptr;
  void* still = dlopen(libraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr) << "the library stayed loaded, so a leak in it would not show";
  if (still) dlclose(still);
}

TEST_F(SharedLibrary, ResultTextsKeepTheirSpelling) {
  auto describe = fn<const char* (*)(int)>("raErrorDescription");
  const std::pair<int, const char*> cases[] = {
      {0, "OK"},
      {1, "API Not Initialized"},
      {2, "Generic Error"},
      {3, "Function Not Supported"},
      {4, "No Adapter"},
      {5, "Driver Not Found"},
      {6, "Version Mismatch"},
      {7, "No Disk Present"},
      {8, "Invalid Array Id"},
      {9, "Array Status Error"},
      {10, "Cannot create Mailslot, max=4"},
      {11, "Cannot Delete: No Such Array Exists"},
      {12, "Cannot Create: Invalid Array Number"},
      {13, "Error Creating Array"},
      {14, "Cannot Create: Invalid RAID Mode"},
      {15, "Cannot Create: Invalid Array Configuration"},
      {16, "Invalid parameters"},
      {17, "Conneciton lost"},
      {-1, "Not Implemented for this platform"},
      {18, "Unknown Status"},
      {-2, "Unknown Status"},
  };
  for (auto [code, text] : cases) EXPECT_STREQ(describe(code), text) << code;
}

TEST_F(SharedLibrary, ConstantAnswersNeedNoLink) {
  char a[16], b[16];
  ASSERT_EQ(fn<int (*)(char*)>("raGetDLLVersion")(a), 0);
  EXPECT_STREQ(a, "1.11");
  ASSERT_EQ(fn<int (*)(char*, char*)>("raGetDriverVersion")(a, b), 0);
  EXPECT_STREQ(a, "1.1");
  EXPECT_STREQ(b, "11/10/2001");
  ASSERT_EQ(fn<int (*)(char*)>("raGetHardwareVersion")(a), 0);
  EXPECT_STREQ(a, "1c");

  unsigned char record[64];
  std::memset(record, 0xEE, sizeof record);
  ASSERT_EQ(fn<int (*)(void*)>("raGetQuorlinsDescription")(record), 0);
  EXPECT_EQ(std::memcmp(record, "0201", 4), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(record + 10), "Quorlins 1.1 FCS");
  EXPECT_STREQ(reinterpret_cast<char*>(record + 40), "10/22/01");
  EXPECT_EQ(record[60] | record[61] << 8 | record[62] << 16 | record[63] << 24, 0x40000);

  int v = 0, w = 0;
  fn<int (*)(int*)>("raGetNumberOfAdapters")(&v);
  EXPECT_EQ(v, 1);
  fn<int (*)(int, int*)>("raGetMaxDeviceInChannel")(7, &v);
  EXPECT_EQ(v, 2);
  fn<int (*)(int*)>("raGetHardwareType")(&v);
  EXPECT_EQ(v, 4);
  fn<int (*)(int, int*)>("raEnclosureType")(7, &v);
  EXPECT_EQ(v, 4);
  fn<int (*)(int, int, int*, int*)>("raScanChannel")(0, 1, &v, &w);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(fn<int (*)()>("raInitTimeStamp")(), 17);
  EXPECT_EQ(fn<unsigned char (*)()>("raIsComportReady")(), 0);
  EXPECT_EQ(fn<int (*)(int)>("raDeleteArray")(1), 17);
  EXPECT_EQ(fn<int (*)(int)>("raTerminate")(0), 0);
}

}  // namespace
