#pragma once
// The console's string table, compiled in.
#include <string_view>

namespace kelm::console {

// The text of a string resource; empty for an id the table does not hold.
std::string_view LoadString(int id);

// String ids the core refers to by name.
enum StringId : int {
  kStrSocketsFailed = 129,
  kStrLoginError = 133,
  kStrFunctional = 140,
  kStrCritical = 141,
  kStrOffline = 142,
  kStrAppTitle = 144,
  kStrNoUser = 146,
  kStrDocTitle = 152,
  kStrPleaseWait = 153,
  kStrMenuTitleBase = 157,  // + node type 0..14
  kStrRebuilding = 172,
  kStrSynchronizing = 173,
  kStrExpanding = 174,
  kStrArray = 175,
  kStrNewUser = 176,
  kStrConfirmDeleteUser = 189,
  kStrConfirmDeleteServer = 190,
  kStrConfirmDeleteArray = 191,
  kStrReady = 194,
  kStrConfirmClearEvents = 195,
  kStrConfirmRebuild = 198,
  kStrConfirmSync = 199,
  kStrDeleteLoggedOnUser = 201,
  kStrConfirmPause = 203,
  kStrConfirmStop = 204,
  kStrMenuController = 205,
  kStrMenuArray = 206,
  kStrMenuChannel = 207,
  kStrMenuDisk = 208,
  kStrMenuEnclosure = 209,
  kStrConverting = 61210,
  kStrInitializing = 61211,
  kStrConfirmDeleteSerialArray = 61214,
  kStrConfirmStopConversion = 61216,
};

}  // namespace kelm::console
