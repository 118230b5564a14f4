#pragma once
// The subsystem's wire codes as the library speaks them: the line's control bytes, the command
// codes of the request frames, and the raw event codes it translates.
#include <cstdint>

namespace glimmora {

// Bytes of the line: a frame starts with two frame marks; the handshake is hello, answer, enter.
inline constexpr std::uint8_t kFrameMark = 0xA1;
inline constexpr std::uint8_t kHello = 0xA2;
inline constexpr std::uint8_t kHelloAnswer = 0xA3;
inline constexpr std::uint8_t kEnterCommandMode = 0xA4;

enum Command : std::uint16_t {
  kCmdGetMaxChannels = 101,
  kCmdScanDevice = 102,
  kCmdGetDeviceName = 103,
  kCmdEnumerateAllDisks = 104,
  kCmdGetDiskStatus = 105,
  kCmdGetDiskTiming = 106,
  kCmdGetDiskDescription = 107,
  kCmdDeleteArray = 108,
  kCmdCreateArray = 109,
  kCmdGetArrayStatus = 110,
  kCmdEnumerateDisksInArray = 111,
  kCmdEnumerateAllArrays = 112,
  kCmdGetArrayDescription = 113,
  kCmdArraySynchronize = 114,
  kCmdArrayRebuildDisk = 115,
  kCmdHostLeaving = 117,  // sent by raTerminate; no reply is read
  kCmdGetDiskSize = 118,
  kCmdFirmwareDescription = 121,
  kCmdGetI2CStatus = 123,
  kCmdSetCacheWriteBackPolicy = 124,
  kCmdGetCacheWriteBackPolicy = 125,
  kCmdGetCacheMemorySize = 126,
  kCmdGetCacheBlockSize = 127,
  kCmdGetCacheRWHit = 128,
  kCmdGetArrayThrottleStatus = 129,
  kCmdCacheDoubleBufModeSet = 130,
  kCmdSetSeqRandomAccessDetection = 131,
  kCmdCachePreReadSizeSet = 132,
  kCmdCachePbmBufSizeSet = 133,
  kCmdSetAutoFlushFreq = 134,
  kCmdGetSeqRandomAccessDetection = 135,
  kCmdCachePbmBufSizeGet = 136,
  kCmdGetAutoFlushFreq = 137,
  kCmdSetArrayName = 141,
  kCmdReadMemory = 146,
  kCmdExpandConvert = 147,
  kCmdWriteMemory = 148,
  kCmdAbortArrayRebuild = 149,
  kCmdStopRaidConversion = 150,
  kCmdErrorLogClear = 151,
  kCmdGetEvents = 152,
  kCmdErrorLogCheck = 153,
  kCmdDiskTest = 155,
};

// Raw event codes in the controller's event log.
enum RawEvent : std::uint32_t {
  kEvtDiskSetDown = 256,
  kEvtDiskPluggedIn = 257,
  kEvtReservedSectorError = 258,
  kEvtBadSector = 512,
  kEvtRebuildBegun = 513,
  kEvtAutoRebuildBegun = 514,
  kEvtRebuildAborted = 515,
  kEvtSyncBegun = 516,
  kEvtSyncHalted = 517,
  kEvtRetryDriveAccess = 518,
  kEvtArrayCreated = 519,
  kEvtArrayDeleted = 520,
  kEvtArraySetDown = 521,
  kEvtArrayDegraded = 522,
  kEvtRebuildCompleted = 523,
  kEvtSyncCompleted = 524,
  kEvtReadWriteError = 525,
  kEvtTemperature = 526,
  kEvtFan = 527,
  kEvtReshapeStarted = 530,
};

}  // namespace glimmora
