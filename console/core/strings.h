#pragma once
// The console's string table, compiled in.
#include <string_view>

namespace kelm::console {

// The text of a string resource; empty for an id the table does not hold.
std::string_view LoadString(int id);

// A command's prompt is the string of the command's own id, "status text\ntool-tip": the status
// bar shows the first line, a tool-bar button's tip the second (empty when the prompt has none).
std::string_view CommandStatusText(int commandId);
std::string_view CommandToolTip(int commandId);

// String ids the core refers to by name.
enum StringId : int {
  kStrSocketsFailed = 129,
  kStrBadBlockSize = 131,
  kStrLoginError = 133,
  kStrRaid0Count = 134,
  kStrRaid1Count = 135,
  kStrRaid01Count = 136,
  kStrRaid35Count = 137,
  kStrSpanCount = 138,
  kStrUnknownLevel = 139,
  kStrFunctional = 140,
  kStrCritical = 141,
  kStrOffline = 142,
  kStrAppTitle = 144,
  kStrCacheReboot = 145,
  kStrNoUser = 146,
  kStrDisabled = 147,
  kStrDocTitle = 152,
  kStrPleaseWait = 153,
  kStrMenuTitleBase = 157,  // + node type 0..14
  kStrRebuilding = 172,
  kStrSynchronizing = 173,
  kStrExpanding = 174,
  kStrArray = 175,
  kStrNewUser = 176,
  kStrPasswordMismatch = 177,
  kStrNoNewPassword = 178,
  kStrLevelError = 181,  // 181..184: "Error", "Warning", "Information", "Unknown"
  kStrLevelWarning = 182,
  kStrLevelInformation = 183,
  kStrLevelUnknown = 184,
  kStrNoValue = 185,
  kStrFree = 186,
  kStrAssigned = 187,
  kStrConfirmDeleteUser = 189,
  kStrConfirmDeleteServer = 190,
  kStrConfirmDeleteArray = 191,
  kStrBadThresholds = 193,
  kStrReady = 194,
  kStrConfirmClearEvents = 195,
  kStrNoDiskSelected = 196,
  kStrTooManyDisks = 197,
  kStrConfirmRebuild = 198,
  kStrConfirmSync = 199,
  kStrDeleteLoggedOnUser = 201,
  kStrBadFlushTimer = 202,
  kStrConfirmPause = 203,
  kStrConfirmStop = 204,
  kStrMenuController = 205,
  kStrMenuArray = 206,
  kStrMenuChannel = 207,
  kStrMenuDisk = 208,
  kStrMenuEnclosure = 209,
  kStrDiskFunctional = 800,
  kStrRebootForSetting = 61206,
  kStrRebootAfterInit = 61207,
  kStrConverting = 61210,
  kStrInitializing = 61211,
  kStrConfirmConversion = 61212,
  kStrConfirmExpansion = 61213,
  kStrConfirmDeleteSerialArray = 61214,
  kStrNoConversion = 61215,
  kStrConfirmStopConversion = 61216,
  kStrRaid3050Count = 61217,
  kStrNoExpansion = 61218,
};

}  // namespace kelm::console
