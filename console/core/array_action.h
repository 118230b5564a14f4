#pragma once
// The two small builders of array method calls: CArgList joins argument fields with '@', and
// CArrayAction runs delete, rebuild, synchronise and the task controls on one array node, with
// their confirmations.
#include <string>
#include <string_view>

#include "message/pea.h"

namespace kelm::console {

class CDremmoralDoc;
class CVirtualFolder;

// Array action codes.
enum ArrayActionCode : int { kActContinue = 256, kActStart = 512, kActPause = 1024, kActStop = 2048 };

class CArgList {
 public:
  explicit CArgList(std::string& text) : text_(text) {}
  void Add(int value);
  void Add(std::string_view value);
  const std::string& GetText() const { return text_; }

 private:
  std::string& text_;
};

class CArrayAction {
 public:
  CArrayAction(CDremmoralDoc* document, CPea* node);
  int DeleteArray();
  int RebuildArray(int code, CPea* disk);
  int SyncArray(int code);
  int StopConversion(int code);
  int ThrottleArrayTask(int code);
  void RemoveMember(CPea* child);
  void RemoveAllMembers();
  bool EnableIfNew() const;
  CVirtualFolder* node() const { return node_.get(); }

 private:
  bool Confirm(int stringId, bool yesNo, bool exclamation);

  CDremmoralDoc* document_;
  PeaRef<CVirtualFolder> node_;
};

}  // namespace kelm::console
