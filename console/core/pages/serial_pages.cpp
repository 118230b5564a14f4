#include "console/core/pages/serial_pages.h"

#include <algorithm>

#include "console/core/array_action.h"
#include "console/core/document.h"
#include "console/core/strings.h"
#include "platform/base/format.h"

namespace kelm::console::pages {

const char kSettingChangedText[] = "Setting has been changed";
const char kDiskNotFreeText[] = "A chosen disk is no longer free; nothing was sent.";

bool MethodAllowed(const CVirtualFolder* node, const char* method) {
  std::uint32_t rights = 0;
  return node && node->FindMethod(method, &rights) && rights != 0;
}

namespace {

bool IsFree(CVirtualFolder* disk) {
  const int second = (disk->GetIntProperty("Status", 0) >> 8) & 0xFF;
  return second == 1 || second == 3;
}

}  // namespace

// --- controller ---

void SerialControllerPage::OnShowNode() { Fill(!shown_.Again(GetFolder())); }

void SerialControllerPage::Fill(bool everything) {
  CVirtualFolder* node = GetFolder();
  if (!node) return;
  if (everything) touched_ = 0;
  c_.comport = node->GetProperty("ComportStatus", "");
  c_.hardware = node->GetProperty("HWVersion", "");
  c_.raidapi = node->GetProperty("RaidapiVersion", "");
  c_.firmware = node->GetProperty("FirmwareVersion", "");
  c_.memory = node->GetProperty("MemorySize", "");
  read_.autoFlush = node->GetIntProperty("GetAutoFlushFreq", 5);
  read_.smart = node->GetIntProperty("GetSmart", 0) != 0;
  read_.rebuildPriority = node->GetIntProperty("GetRebuildPriority", 0) != 0;
  read_.hdCache = node->GetIntProperty("GetHDCache", 0) != 0;
  read_.writeBack = node->GetIntProperty("GetWriteBackCache", 0) != 0;
  if (!(touched_ & kTAuto)) c_.autoFlush = read_.autoFlush;
  if (!(touched_ & kTSmart)) c_.smart = read_.smart;
  if (!(touched_ & kTRebuild)) c_.rebuildPriority = read_.rebuildPriority;
  if (!(touched_ & kTHd)) c_.hdCache = read_.hdCache;
  if (!(touched_ & kTBack)) c_.writeBack = read_.writeBack;
  Changed();
}

SerialControllerPage::Enables SerialControllerPage::enables() const {
  Enables e;
  CVirtualFolder* node = GetFolder();
  e.smart = MethodAllowed(node, "SetSmart");
  e.hdCache = MethodAllowed(node, "SetHDCache");
  e.writeBack = MethodAllowed(node, "SetWriteBackCache");
  e.rebuildPriority = MethodAllowed(node, "SetRebuildPriority");
  e.autoFlush = MethodAllowed(node, "SetAutoFlushFreq");
  e.apply = e.smart || e.hdCache || e.writeBack || e.rebuildPriority || e.autoFlush;
  return e;
}

void SerialControllerPage::OnUpdate(int hint, CPea* node) {
  if (hint == kHintChildArrived && node && node->GetParent() == GetFolder()) Fill(false);
}

void SerialControllerPage::Touch(std::uint32_t t) {
  touched_ |= t;
  Changed();
}
void SerialControllerPage::SetAutoFlush(int v) {
  c_.autoFlush = v;
  Touch(kTAuto);
}
void SerialControllerPage::SetSmart(bool on) {
  c_.smart = on;
  Touch(kTSmart);
}
void SerialControllerPage::SetRebuildPriority(bool on) {
  c_.rebuildPriority = on;
  Touch(kTRebuild);
}
void SerialControllerPage::SetHdCache(bool on) {
  c_.hdCache = on;
  Touch(kTHd);
}
void SerialControllerPage::SetWriteBack(bool on) {
  c_.writeBack = on;
  Touch(kTBack);
}
void SerialControllerPage::Reset() { Fill(true); }

void SerialControllerPage::Apply() {
  PeaRef<CVirtualFolder> hold(GetFolder());
  CVirtualFolder* node = hold.get();
  if (!node || !NodeInTree()) return;
  bool made = false;
  int last = 0;
  const auto send = [&](const char* method, bool changed, int value) {
    if (last != 0 || !changed || !MethodAllowed(node, method)) return false;
    made = true;
    last = node->Invoke(method, std::to_string(value));
    return last == 0;
  };
  if (send("SetSmart", c_.smart != read_.smart, c_.smart)) read_.smart = c_.smart;
  if (send("SetHDCache", c_.hdCache != read_.hdCache, c_.hdCache)) read_.hdCache = c_.hdCache;
  if (send("SetRebuildPriority", c_.rebuildPriority != read_.rebuildPriority, c_.rebuildPriority)) {
    read_.rebuildPriority = c_.rebuildPriority;
  }
  if (send("SetAutoFlushFreq", c_.autoFlush != read_.autoFlush, c_.autoFlush)) read_.autoFlush = c_.autoFlush;
  if (send("SetWriteBackCache", c_.writeBack != read_.writeBack, c_.writeBack)) read_.writeBack = c_.writeBack;
  if (!made) return;
  if (last == 0) {
    touched_ = 0;
    MessageText(document(), kSettingChangedText, MsgIcon::Information);
  } else {
    ConnectionError(document());
  }
  Changed();
}

// --- enclosure box ---

void SerialBoxPage::Fill() {
  l_ = Lines();
  CVirtualFolder* node = GetFolder();
  if (!node) return;
  for (int i = 0; i < 3; ++i) {
    l_.temps[i] = SerialTempLine(i + 1, node->GetIntProperty(plat::format("Temp%d", i + 1), -1));
  }
  l_.volt5 = SerialVoltLine("5V", node->GetIntProperty("Volt5", -1));
  l_.volt12 = SerialVoltLine("12V", node->GetIntProperty("Volt12", -1));
  for (int i = 0; i < 8; ++i) l_.fans[i] = SerialFanLine(i + 1, node->GetIntProperty(plat::format("fanrpm%d", i + 1), -1));
}

// --- array ---

CVirtualFolder* SerialArrayPage::Controller() const {
  CVirtualFolder* array = GetFolder();
  return array ? dynamic_cast<CVirtualFolder*>(array->GetParent()) : nullptr;
}

void SerialArrayPage::OnShowNode() {
  const bool again = shown_.Again(GetFolder());
  if (!again) {
    candidates_.clear();
    statusRead_ = false;
  }
  Fill(!again);
}

void SerialArrayPage::Fill(bool everything) {
  CVirtualFolder* array = GetFolder();
  if (!array) return;
  if (everything) touched_ = 0;
  createMode_ = (array->flags() & CVirtualFolder::kFlagNew) != 0;
  readLevel_ = array->GetProperty("RAID_Mode", "");
  if (!(touched_ & kTLevel)) c_.level = readLevel_.empty() && createMode_ ? std::string(kSerialLevels[4]) : readLevel_;
  if (!(touched_ & kTName)) {
    c_.name = array->GetProperty("name", "");
    if (c_.name.empty()) c_.name = "Array";
  }
  if (!(touched_ & kTBlock)) c_.blockSize = array->GetIntProperty("Block Size", 64);
  c_.sizeText = array->GetProperty("Size", "");
  const int status = array->GetIntProperty("Status", 0);
  // A task that started or ended changes which disks are free, and a disk's state is read only
  // with its node: read them again, or the list would offer the new members.
  const bool taskChanged = statusRead_ && status != status_;
  status_ = status;
  statusRead_ = true;
  c_.statusText = ArrayStatusText(status_, array->GetIntProperty("percent", 0), true);
  c_.autoDetect = array->GetIntProperty("GetAutoSeqRandDet", 0) != 0;
  c_.writeBack = array->GetIntProperty("GetWriteBackCache", 0) != 0;
  if (createMode_) return;
  if (taskChanged) RereadDisks(ControllerDisks());
  FindCandidates();
}

void SerialArrayPage::FindCandidates() {
  std::vector<Candidate> found;
  for (CVirtualFolder* disk : ControllerDisks()) {
    if (!IsFree(disk)) continue;
    Candidate cand;
    cand.disk = PeaRef<CVirtualFolder>(disk);
    cand.text = disk->GetParent()->name() + "\\" + disk->name();
    for (const Candidate& old : candidates_) cand.chosen |= old.chosen && old.disk.get() == disk;
    found.push_back(std::move(cand));
  }
  candidates_ = std::move(found);
}

std::vector<CVirtualFolder*> SerialArrayPage::ControllerDisks() const {
  std::vector<CVirtualFolder*> disks;
  CVirtualFolder* controller = Controller();
  if (!controller) return disks;
  for (CPea* c : controller->SubFolders(false)) {
    auto* channel = dynamic_cast<CVirtualFolder*>(c);
    if (!channel || channel->nodeType() != kNodeIdeChannel) continue;
    for (CPea* d : channel->SubFolders(false)) {
      auto* disk = dynamic_cast<CVirtualFolder*>(d);
      if (disk && disk->nodeType() == kNodeSerialDisk) disks.push_back(disk);
    }
  }
  return disks;
}

bool SerialArrayPage::busy() const {
  const int task = status_ & 0xFF00;
  return task >= 0x100 && task <= 0x400;
}

SerialArrayPage::Enables SerialArrayPage::enables() const {
  Enables e;
  CVirtualFolder* array = GetFolder();
  if (!array || busy()) return e;
  e.apply = createMode_ ? MethodAllowed(Controller(), "CreateArray")
                        : MethodAllowed(array, "ArrayConversion") || MethodAllowed(array, "ArrayExpansion");
  e.checks = false;  // neither check has a send path
  return e;
}

void SerialArrayPage::RefreshPage() {
  Fill(false);
  Changed();
}

void SerialArrayPage::OnUpdate(int hint, CPea* node) {
  if (!node) return;
  if (hint == kHintChildArrived && node->GetParent() == GetFolder()) {
    Fill(false);
    Changed();
    return;
  }
  // A disk of the controller was read: the free disks may have changed.
  CVirtualFolder* disk = AsFolder(hint == kHintChildArrived ? node->GetParent() : node);
  if (!createMode_ && disk && disk->nodeType() == kNodeSerialDisk && disk->IsDescendantOf(Controller())) {
    FindCandidates();
    Changed();
  }
}

void SerialArrayPage::SetLevel(const std::string& level) {
  c_.level = level;
  touched_ |= kTLevel;
  Changed();
}
void SerialArrayPage::SetName(const std::string& name) {
  c_.name = name;
  touched_ |= kTName;
  Changed();
}
void SerialArrayPage::SetBlockSize(int block) {
  c_.blockSize = block;
  touched_ |= kTBlock;
  Changed();
}
void SerialArrayPage::ChooseDisk(std::size_t index, bool chosen) {
  if (index < candidates_.size()) candidates_[index].chosen = chosen;
  Changed();
}
void SerialArrayPage::Reset() {
  for (Candidate& c : candidates_) c.chosen = false;
  Fill(true);
  Changed();
}

void SerialArrayPage::Apply() {
  PeaRef<CVirtualFolder> hold(GetFolder());
  CVirtualFolder* array = hold.get();
  if (!array || !enables().apply) return;
  if (createMode_) {
    Create(array);
  } else {
    Change(array);
  }
  Changed();
}

void SerialArrayPage::Create(CVirtualFolder* array) {
  if (c_.blockSize != 64) {
    Message(document(), kStrBadBlockSize, MsgIcon::Exclamation);
    return;
  }
  NewArrayRequest r;
  r.controllerType = kNodeSerialController;
  r.diskType = kNodeSerialDisk;
  r.idProperty = "Channel";
  r.serial = true;
  r.askOptions = LevelTakesOptions(c_.level);
  r.name = c_.name;
  r.level = c_.level;
  r.blockSent = c_.blockSize;
  if (CommitConsoleArray(document(), array, r)) touched_ = 0;
}

void SerialArrayPage::Change(CVirtualFolder* array) {
  CDremmoralDoc& doc = document();
  if (!NodeInTree()) return;
  std::vector<CVirtualFolder*> chosen;
  for (const Candidate& c : candidates_) {
    if (c.chosen) chosen.push_back(c.disk.get());
  }
  // Only free disks go, as they are now.
  for (CVirtualFolder* disk : chosen) {
    if (!doc.IsInTree(disk) || !IsFree(disk)) {
      FindCandidates();
      MessageText(doc, kDiskNotFreeText, MsgIcon::Exclamation);
      return;
    }
  }
  const bool convert = c_.level != readLevel_;
  if (!convert && chosen.empty()) return;
  if (convert ? SerialLevelFixed(c_.level) || SerialLevelFixed(readLevel_) : SerialLevelFixed(c_.level)) {
    Message(doc, convert ? kStrNoConversion : kStrNoExpansion, MsgIcon::Exclamation);
    return;
  }
  const auto ids = MemberIds(chosen, "Channel");
  if (!ids) {
    RereadDisks(chosen);
    MessageText(doc, kMembersUnreadText, MsgIcon::Exclamation);
    return;
  }
  std::vector<PeaRef<CVirtualFolder>> held(chosen.begin(), chosen.end());
  if (Message(doc, convert ? kStrConfirmConversion : kStrConfirmExpansion, MsgIcon::Question, MsgButtons::OkCancel) !=
      kIdOk) {
    return;
  }
  // The box may have run a nested loop: the array and the disks must still be there and free.
  if (!NodeInTree()) return;
  for (auto& d : held) {
    if (!doc.IsInTree(d.get()) || !IsFree(d.get())) {
      FindCandidates();
      MessageText(doc, kDiskNotFreeText, MsgIcon::Exclamation);
      return;
    }
  }
  std::string text;
  CArgList list(text);
  if (convert) list.Add(c_.level);
  list.Add(static_cast<int>(ids->size()));
  for (int id : *ids) list.Add(id);
  array->Invoke(convert ? "ArrayConversion" : "ArrayExpansion", text);
  for (Candidate& c : candidates_) c.chosen = false;
  touched_ = 0;
  array->Reload();
}

}  // namespace kelm::console::pages
