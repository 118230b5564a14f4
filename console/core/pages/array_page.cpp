#include "console/core/pages/array_page.h"

#include <algorithm>

#include "console/core/array_action.h"
#include "console/core/document.h"
#include "console/core/pages/page_support.h"
#include "console/core/pages/page_texts.h"
#include "console/core/strings.h"

namespace kelm::console::pages {

const std::array<const char*, ArrayPage::kStatCount> ArrayPage::kStatNames = {
    "ReadCacheHit", "WriteCacheHit", "PartialReadCacheHit", "PartialWriteCacheHit", "DirtyUsage",
    "CacheAccessR", "CacheAccessW", "RAIDAccessR",          "RAIDAccessW"};

namespace {

// The index of a policy value among the list's own values (0 and 1), -1 when absent or unknown.
int PolicyIndex(CVirtualFolder* node, const char* name) {
  const int v = node->GetIntProperty(name, -1);
  return v == 0 || v == 1 ? v : -1;
}

}  // namespace

CVirtualFolder* ArrayPage::Controller() const {
  CVirtualFolder* array = GetFolder();
  return array ? dynamic_cast<CVirtualFolder*>(array->GetParent()) : nullptr;
}

ArrayPage::ControlSet ArrayPage::controlSet() const { return ModelSetOf(isQx6_); }

void ArrayPage::OnShowNode() {
  CVirtualFolder* array = GetFolder();
  const bool same = shown_.Again(array);
  if (!array) return;
  Fill(!same);
}

void ArrayPage::Fill(bool everything) {
  CVirtualFolder* array = GetFolder();
  if (!array) return;
  if (everything) {
    touched_ = 0;
    modified_ = 0;
  }
  CVirtualFolder* controller = Controller();
  isQx6_ = controller ? controller->GetIntProperty("IsQx6", 99) : 99;
  flags_ = array->flags();
  if (isNewArray() && everything) document().ui().ShowAllPanes();
  const auto untouched = [&](std::uint32_t t) { return (touched_ & t) == 0; };

  c_.blockMax = isQx6_ != 0 ? 64 : 1024;
  if (untouched(kTBlock)) c_.blockSize = array->GetIntProperty("Block Size", 64);
  if (untouched(kTName)) {
    c_.name = array->GetProperty("name", "");
    readName_ = c_.name;
  }
  if (untouched(kTLevel)) {
    c_.level = array->GetProperty("RAID_Mode", "");
    if (c_.level.empty() && isNewArray()) c_.level = std::string(kIopLevels[4]);  // the list's first choice
  }
  c_.sizeText = ArraySizeText(static_cast<std::uint32_t>(array->GetIntProperty("Size", 0)));
  status_ = array->GetIntProperty("Status", 0);
  percent_ = array->GetIntProperty("percent", 0);
  c_.statusText = ArrayStatusText(status_, percent_, false);
  if (isQx6_ != 0) {
    if (untouched(kTAuto)) {
      readAutoDetect_ = array->GetIntProperty("GetAutoSeqRandDet", 0) != 0;
      c_.autoDetect = readAutoDetect_;
    }
    if (untouched(kTBack)) {
      readWriteBack_ = array->GetIntProperty("GetWriteBackCache", 0) != 0;
      c_.writeBack = readWriteBack_;
    }
  } else {
    if (untouched(kTRead)) c_.readCache = PolicyIndex(array, "ReadCachePolicy");
    if (untouched(kTWrite)) c_.writeCache = PolicyIndex(array, "WriteCachePolicy");
    if (c_.readCache == 0) c_.writeCache = 0;
    for (int i = 0; i < kStatCount; ++i) c_.stats[i] = array->GetProperty(kStatNames[i], "");
  }
  statsCounter_ = 0;
}

ArrayPage::Enables ArrayPage::enables() const {
  Enables e;
  CVirtualFolder* array = GetFolder();
  if (!array) return e;
  const bool isNew = isNewArray();
  e.autoDetect = array->HasMethod("SetAutoSeqRandDet");
  e.writeBack = array->HasMethod("SetWriteBackCache");
  e.commit = modified_ != 0 || e.autoDetect || e.writeBack || isNew;
  e.resetStats = array->HasMethod("ResetCacheStats");
  e.level = isNew;
  e.name = isNew || array->HasMethod("rename");
  e.readCache = array->HasMethod("SetCachePolicy");
  e.writeCache = e.readCache && c_.readCache != 0;
  return e;
}

void ArrayPage::Edited(std::uint32_t touched, std::uint32_t modified) {
  touched_ |= touched;
  modified_ |= modified;
  Changed();
}

void ArrayPage::SetName(const std::string& name) {
  c_.name = name;
  Edited(kTName, kModName);
}
void ArrayPage::SetLevel(const std::string& level) {
  c_.level = level;
  Edited(kTLevel, kModName);
}
void ArrayPage::SetBlockSize(int block) {
  c_.blockSize = block;
  Edited(kTBlock, kModName);
}
void ArrayPage::SetReadCache(int index) {
  c_.readCache = index;
  if (index == 0) c_.writeCache = 0;
  Edited(kTRead | kTWrite, kModCache);
}
void ArrayPage::SetWriteCache(int index) {
  c_.writeCache = index;
  Edited(kTWrite, kModCache);
}
void ArrayPage::SetAutoDetect(bool on) {
  c_.autoDetect = on;
  Edited(kTAuto, 0);
}
void ArrayPage::SetWriteBack(bool on) {
  c_.writeBack = on;
  Edited(kTBack, 0);
}

void ArrayPage::Reset() {
  Fill(true);
  Changed();
}

void ArrayPage::RefreshPage() {
  CVirtualFolder* array = GetFolder();
  if (!array || ++statsCounter_ <= kStatisticsPeriod) return;
  statsCounter_ = 0;
  if (isQx6_ != 0) return;
  array->SetFlags(0, CVirtualFolder::kFlagPassive);
  for (int i = 0; i < kStatCount; ++i) c_.stats[i] = array->GetProperty(kStatNames[i], "");
  Changed();
}

void ArrayPage::ResetCacheStats() {
  CVirtualFolder* array = GetFolder();
  if (!array || !array->HasMethod("ResetCacheStats")) return;
  array->Invoke("ResetCacheStats", "");
  statsCounter_ = kStatisticsPeriod;
}

void ArrayPage::OnUpdate(int hint, CPea* node) {
  CVirtualFolder* array = GetFolder();
  if (hint != kHintChildArrived || !array || !node || node->GetParent() != array || !node->IsProperty()) return;
  const std::string& name = node->name();
  const std::string& value = node->value();
  const auto untouched = [&](std::uint32_t t) { return (touched_ & t) == 0; };
  for (int i = 0; i < kStatCount; ++i) {
    if (name == kStatNames[i]) c_.stats[i] = value;
  }
  if (name == "Status") status_ = LeadingInt(value, 0);
  if (name == "percent") percent_ = LeadingInt(value, 0);
  if (name == "Status" || name == "percent") c_.statusText = ArrayStatusText(status_, percent_, false);
  if (name == "Size") c_.sizeText = ArraySizeText(static_cast<std::uint32_t>(LeadingInt(value, 0)));
  if (name == "name" && untouched(kTName)) c_.name = readName_ = value;
  if (name == "RAID_Mode" && untouched(kTLevel)) c_.level = value;
  if (name == "Block Size" && untouched(kTBlock)) c_.blockSize = LeadingInt(value, 64);
  if (name == "GetAutoSeqRandDet" && untouched(kTAuto)) c_.autoDetect = readAutoDetect_ = LeadingInt(value, 0) != 0;
  if (name == "GetWriteBackCache" && untouched(kTBack)) c_.writeBack = readWriteBack_ = LeadingInt(value, 0) != 0;
  Changed();
}

void ArrayPage::Commit() {
  PeaRef<CVirtualFolder> hold(GetFolder());
  CVirtualFolder* array = hold.get();
  if (!array) return;
  if (isNewArray()) {
    CommitNew(array);
  } else {
    CommitExisting(array);
  }
  Changed();
}

void ArrayPage::CommitExisting(CVirtualFolder* array) {
  CDremmoralDoc& doc = document();
  if (!NodeInTree()) return;
  if ((modified_ & kModName) && !ArrayNameValid(c_.name)) {
    MessageText(doc, kBadArrayNameText, MsgIcon::Exclamation);
    return;
  }
  if (CVirtualFolder* controller = Controller()) controller->setKeepChildren(false);

  // The buffer checks: only where shown, and only what differs from the value read.
  std::optional<bool> sentAuto, sentBack;
  if (controlSet() == ControlSet::Qx) {
    int last = 0;
    bool made = false;
    if (c_.autoDetect != readAutoDetect_) {
      made = true;
      last = array->Invoke("SetAutoSeqRandDet", std::to_string(c_.autoDetect ? 1 : 0));
      if (last == 0) sentAuto = c_.autoDetect;
    }
    if (last == 0 && c_.writeBack != readWriteBack_) {
      made = true;
      last = array->Invoke("SetWriteBackCache", std::to_string(c_.writeBack ? 1 : 0));
      if (last == 0) sentBack = c_.writeBack;
    }
    if (sentAuto) readAutoDetect_ = *sentAuto;
    if (sentBack) readWriteBack_ = *sentBack;
    if (made) {
      if (last == 0) {
        Message(doc, kStrRebootForSetting, MsgIcon::Information);
      } else {
        ConnectionError(doc);
      }
      if (!NodeInTree()) return;
    }
  }

  if ((modified_ & kModName) && array->HasMethod("rename") && c_.name != readName_) {
    const std::string before = readName_;
    array->SetLocalProperty("name", c_.name);
    if (array->Invoke("rename", c_.name) == 0) {
      readName_ = c_.name;
    } else {
      array->SetLocalProperty("name", before);
      ConnectionError(doc);
      if (!NodeInTree()) return;
    }
  }

  if ((modified_ & kModCache) && controlSet() == ControlSet::Standard && array->HasMethod("SetCachePolicy") &&
      c_.readCache >= 0) {
    std::string text;
    CArgList list(text);
    list.Add("ReadCachePolicy");
    list.Add(c_.readCache);
    if (c_.readCache != 0 && c_.writeCache >= 0) {
      list.Add("WriteCachePolicy");
      list.Add(c_.writeCache);
    }
    if (array->Invoke("SetCachePolicy", text) == 0) {
      Message(doc, kStrCacheReboot, MsgIcon::Information);
    } else {
      ConnectionError(doc);
    }
    if (!NodeInTree()) return;
  }

  Fill(true);
  // What was just sent stands until the agent's value arrives.
  if (sentAuto) c_.autoDetect = readAutoDetect_ = *sentAuto;
  if (sentBack) c_.writeBack = readWriteBack_ = *sentBack;
}

void ArrayPage::CommitNew(CVirtualFolder* array) {
  if (!BlockSizeValid(c_.blockSize)) {
    Message(document(), kStrBadBlockSize, MsgIcon::Exclamation);
    return;
  }
  NewArrayRequest r;
  r.controllerType = kNodeIopController;
  r.diskType = kNodeIopDisk;
  r.idProperty = "handle";
  r.askOptions = isQx6_ != 0 && LevelTakesOptions(c_.level);
  r.name = c_.name;
  r.level = c_.level;
  r.blockSent = BlockSizeToSend(c_.level, c_.blockSize);
  if (CommitConsoleArray(document(), array, r)) {
    modified_ = 0;
    touched_ = 0;
  }
}

}  // namespace kelm::console::pages
