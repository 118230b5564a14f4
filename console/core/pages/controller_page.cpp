#include "console/core/pages/controller_page.h"

#include "console/core/document.h"
#include "console/core/pages/page_support.h"
#include "console/core/pages/page_texts.h"
#include "console/core/strings.h"
#include "console/core/ui_services.h"
#include "platform/base/format.h"

namespace kelm::console::pages {

namespace {
constexpr std::uint32_t kAll = 0xFFFFFFFF;
}

ControllerPage::ControlSet ControllerPage::controlSet() const { return ModelSetOf(isQx6_); }

void ControllerPage::OnShowNode() {
  CVirtualFolder* node = GetFolder();
  const bool same = shown_.Again(node);
  if (!node) return;
  if (!same) {
    touched_ = 0;
    modified_ = false;
  }
  Fill(same ? 0 : kAll);
}

// Writes the controls in rewrite, and those not touched; read-only texts always.
void ControllerPage::Fill(std::uint32_t rewrite) {
  CVirtualFolder* node = GetFolder();
  if (!node) return;
  const auto take = [&](std::uint32_t t) { return (rewrite & t) || !(touched_ & t); };
  isQx6_ = node->GetIntProperty("IsQx6", 99);
  if (isQx6_ == 0) {
    if (take(kTCache)) {
      c_.flush = node->GetIntProperty("CacheFlushFrequency", 0);
      c_.start = node->GetIntProperty("DirtyThresholdStart", 0);
      c_.stop = node->GetIntProperty("DirtyThresholdStop", 0);
    }
    c_.cacheSize = MegabytesText(static_cast<std::uint32_t>(node->GetIntProperty("CacheSize", 0)));
    c_.cacheBlockSize =
        plat::format("%.2f", static_cast<std::uint32_t>(node->GetIntProperty("CacheBlockSize", 0)) / 1024.0);
    c_.rwCacheSize = MegabytesText(static_cast<std::uint32_t>(node->GetIntProperty("RWCacheSize", 0)));
  }
  c_.memory = MegabytesText(static_cast<std::uint32_t>(node->GetIntProperty("ProcessorMemory", 0)));
  c_.processor = ProcessorName(node->GetIntProperty("ProcessorType", -1));
  c_.hardware = node->GetProperty("HWVersion", "");
  c_.modules.clear();
  std::vector<std::uint8_t> bytes;
  if (node->GetBinaryProperty("ModuleList", bytes)) c_.modules = DecodeModuleList(bytes);
  bytes.clear();
  if (node->GetBinaryProperty("Quorlin", bytes)) {
    if (auto row = DecodeQuorlin(bytes)) c_.modules.push_back(std::move(*row));
  }
  if (isQx6_ != 0) {
    if (take(kTSmart)) c_.smart = readSmart_ = node->GetIntProperty("GetSmart", 0) != 0;
    if (take(kTHd)) c_.hdCache = readHd_ = node->GetIntProperty("GetHDCache", 0) != 0;
    if (take(kTRebuild)) c_.rebuildPriority = readRebuild_ = node->GetIntProperty("GetRebuildPriority", 0) != 0;
    c_.bbu = false;
    if (take(kTAuto)) c_.autoFlush = lastAutoFlush_ = node->GetIntProperty("GetAutoFlushFreq", 5);
    c_.bufferCount = node->GetIntProperty("GetBufferCount", 100);
    c_.bufferMax = node->GetIntProperty("MaxBufferCount", 20);
  }
  touched_ &= ~rewrite;
}

ControllerPage::Enables ControllerPage::enables() const {
  Enables e;
  CVirtualFolder* node = GetFolder();
  if (!node) return e;
  const bool policy = node->HasMethod("SetCachePolicy");
  e.cacheCommit = policy && modified_;
  e.cacheCells = policy;
  e.smart = node->HasMethod("SetSmart");
  e.hdCache = node->HasMethod("SetHDCache");
  e.rebuildPriority = node->HasMethod("SetRebuildPriority");
  e.autoFlush = node->HasMethod("SetAutoFlushFreq");
  e.bbu = false;  // no battery-backup state is ever read, so none is sent
  e.settingsCommit = e.smart || e.hdCache || e.rebuildPriority || e.autoFlush || node->HasMethod("SetBBU");
  return e;
}

void ControllerPage::Touch(std::uint32_t t) {
  touched_ |= t;
  Changed();
}

void ControllerPage::SetFlush(int v) {
  c_.flush = v;
  modified_ = true;
  Touch(kTCache);
}
void ControllerPage::SetStart(int v) {
  c_.start = v;
  modified_ = true;
  Touch(kTCache);
}
void ControllerPage::SetStop(int v) {
  c_.stop = v;
  modified_ = true;
  Touch(kTCache);
}
void ControllerPage::SetSmart(bool on) {
  c_.smart = on;
  Touch(kTSmart);
}
void ControllerPage::SetHdCache(bool on) {
  c_.hdCache = on;
  Touch(kTHd);
}
void ControllerPage::SetRebuildPriority(bool on) {
  c_.rebuildPriority = on;
  Touch(kTRebuild);
}
void ControllerPage::SetAutoFlush(int v) {
  c_.autoFlush = v;
  Touch(kTAuto);
}

void ControllerPage::ResetCachePolicy() {
  modified_ = false;
  Fill(kTCache);
  Changed();
}

void ControllerPage::ResetSettings() {
  Fill(kTSmart | kTHd | kTRebuild | kTAuto);
  Changed();
}

void ControllerPage::OnUpdate(int hint, CPea* node) {
  CVirtualFolder* folder = GetFolder();
  if (hint != kHintChildArrived || !folder || !node || node->GetParent() != folder) return;
  Fill(0);
  Changed();
}

void ControllerPage::CommitCachePolicy() {
  PeaRef<CVirtualFolder> hold(GetFolder());
  CVirtualFolder* node = hold.get();
  if (!node || !NodeInTree() || controlSet() != ControlSet::Standard) return;
  CDremmoralDoc& doc = document();
  const std::string text = CachePolicyArgument(c_.flush, c_.start, c_.stop);
  if (const int id = CachePolicyCheck(c_.flush, c_.start, c_.stop)) {
    doc.ui().Beep(kBeepHand);
    Message(doc, id, MsgIcon::Exclamation);
    return;
  }
  if (!node->HasMethod("SetCachePolicy")) return;
  if (node->Invoke("SetCachePolicy", text) == 0) {
    modified_ = false;
    touched_ &= ~kTCache;
    Message(doc, kStrCacheReboot, MsgIcon::Information);
  } else {
    ConnectionError(doc);
  }
  Changed();
}

void ControllerPage::CommitSettings() {
  PeaRef<CVirtualFolder> hold(GetFolder());
  CVirtualFolder* node = hold.get();
  if (!node || !NodeInTree() || isQx6_ == 0) return;
  CDremmoralDoc& doc = document();
  int last = 0;
  bool shown = false;  // a setting whose result is reported
  bool made = false;
  const auto send = [&](const char* method, bool changed, int value, bool reported) {
    if (last != 0 || !changed || !node->HasMethod(method)) return false;
    made = true;
    shown |= reported;
    last = node->Invoke(method, std::to_string(value));
    return last == 0;
  };
  // The battery-backup, optimisation and buffer-count controls are never shown: nothing of them goes.
  if (send("SetSmart", c_.smart != readSmart_, c_.smart, true)) readSmart_ = c_.smart;
  if (send("SetHDCache", c_.hdCache != readHd_, c_.hdCache, true)) readHd_ = c_.hdCache;
  if (send("SetRebuildPriority", c_.rebuildPriority != readRebuild_, c_.rebuildPriority, false)) {
    readRebuild_ = c_.rebuildPriority;
  }
  if (send("SetAutoFlushFreq", c_.autoFlush != lastAutoFlush_, c_.autoFlush, true)) lastAutoFlush_ = c_.autoFlush;
  touched_ &= ~(kTSmart | kTHd | kTRebuild | kTAuto);
  if (made && (shown || last != 0)) {
    if (last == 0) {
      Message(doc, kStrRebootForSetting, MsgIcon::Information);
    } else {
      ConnectionError(doc);
    }
  }
  Changed();
}

}  // namespace kelm::console::pages
