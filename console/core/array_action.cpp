#include "console/core/array_action.h"

#include "console/core/document.h"
#include "console/core/strings.h"
#include "console/core/virtual_folder.h"

namespace kelm::console {

void CArgList::Add(int value) { Add(std::to_string(value)); }

void CArgList::Add(std::string_view value) {
  if (!text_.empty()) text_ += '@';
  text_ += value;
}

CArrayAction::CArrayAction(CDremmoralDoc* document, CPea* node) : document_(document) {
  auto* folder = dynamic_cast<CVirtualFolder*>(node);
  if (folder && IsArrayType(folder->nodeType())) node_ = PeaRef<CVirtualFolder>(folder);
}

bool CArrayAction::Confirm(int stringId, bool yesNo, bool exclamation) {
  if (!document_) return false;
  // The box runs a nested loop: the array is held (node_) and must still be in the tree after it.
  MessageBoxRequest req;
  req.stringId = stringId;
  req.text = std::string(LoadString(stringId));
  req.buttons = yesNo ? MsgButtons::YesNo : MsgButtons::OkCancel;
  req.icon = exclamation ? MsgIcon::Exclamation : MsgIcon::Question;
  const int answer = document_->ShowMessage(req);
  if (!document_->IsInTree(node_.get())) return false;
  return yesNo ? answer == kIdYes : answer == kIdOk;
}

int CArrayAction::DeleteArray() {
  CVirtualFolder* node = node_.get();
  auto* parent = node ? dynamic_cast<CVirtualFolder*>(node->GetParent()) : nullptr;
  if (!node || !parent) {
    if (document_) document_->ui().Beep(kBeepHand);
    return 0;
  }
  parent->setKeepChildren(false);
  if (node->flags() & CVirtualFolder::kFlagNew) {
    RemoveAllMembers();
    PeaRef<CVirtualFolder> keep(parent);
    parent->RemoveChildNode(node);
    return 0;
  }
  const bool serial = node->nodeType() == kNodeSerialArray;
  PeaRef<CVirtualFolder> keepParent(parent);
  if (!Confirm(serial ? kStrConfirmDeleteSerialArray : kStrConfirmDeleteArray, !serial, false)) return 0;
  if (node->GetParent() != parent) return 0;
  // The controller deletes its arrays; the array node itself answers a delete with a failure.
  parent->Invoke("DeleteArray", node->GetProperty("ArrayHandle", ""));
  return 0;
}

int CArrayAction::RebuildArray(int code, CPea* disk) {
  CVirtualFolder* node = node_.get();
  if (!node || code == 0) return 0;
  auto* target = AsFolder(disk);
  PeaRef<CVirtualFolder> keepDisk(target);
  if (code == kActStart && !Confirm(kStrConfirmRebuild, true, false)) return 0;
  if (target && document_ && !document_->IsInTree(target)) return 0;
  std::string args;
  CArgList list(args);
  switch (node->nodeType()) {
    case kNodeIopArray:
      list.Add(code);
      args += '@';
      if (target) args += target->GetProperty("DiskHandle", "");
      break;
    case kNodeIdeArray:
      list.Add(code);
      args += '@';
      if (target) args += target->GetProperty("handle", "");
      break;
    case kNodeSerialArray:
      list.Add(code);
      list.Add(target ? target->GetIntProperty("Channel", 0) : 0);
      break;
    default:
      break;
  }
  node->Invoke("RebuildArray", args);
  return 0;
}

int CArrayAction::SyncArray(int code) {
  CVirtualFolder* node = node_.get();
  if (!node || code == 0) return 0;
  if (code == kActStart && !Confirm(kStrConfirmSync, true, false)) return 0;
  node->Invoke("SyncArray", std::to_string(code));
  return 0;
}

int CArrayAction::StopConversion(int code) {
  CVirtualFolder* node = node_.get();
  if (!node) return 0;
  if (code == kActStop && !Confirm(kStrConfirmStopConversion, true, false)) return 0;
  node->Invoke("StopConversion", "");
  return 0;
}

int CArrayAction::ThrottleArrayTask(int code) {
  CVirtualFolder* node = node_.get();
  if (!node || code == 0) return 0;
  node->SetFlags(0, CVirtualFolder::kFlagPassive);
  const int status = node->GetIntProperty("Status", -1);
  int throttle = 0;
  if (status & 0xFF00) throttle = node->GetIntProperty("ThrottleStatus", 0);
  node->SetFlags(CVirtualFolder::kFlagPassive, CVirtualFolder::kFlagPassive);
  if (throttle != 1 && throttle != 4) return 0;
  switch (status & 0xFF00) {
    case 0x100:
      return SyncArray(code);
    case 0x200:
      return RebuildArray(code, nullptr);
    case 0x300:
    case 0x400:
      return StopConversion(code);
    default:
      return 0;
  }
}

void CArrayAction::RemoveMember(CPea* child) {
  CVirtualFolder* node = node_.get();
  if (!node || !child) return;
  PeaRef<CPea> keepChild(child);
  if (dynamic_cast<CShortCut*>(child)) {
    if (auto* disk = AsFolder(child)) {
      disk->SetLocalIntProperty("Status", 256);
      disk->SetFlags(0, CVirtualFolder::kFlagPassive);
      disk->setInNewArray(false);
      if (document_) {
        document_->ForgetNewArrayDisk(disk);
        document_->UpdateAllViews(kHintValuesChanged, disk);
      }
    }
  }
  node->RemoveChildNode(child);
}

void CArrayAction::RemoveAllMembers() {
  CVirtualFolder* node = node_.get();
  if (!node) return;
  std::vector<CPea*> members;
  CPea::Position pos = node->GetFirstChildPosition();
  while (CPea* child = node->GetNextChild(pos)) members.push_back(child);
  for (CPea* child : members) RemoveMember(child);
}

bool CArrayAction::EnableIfNew() const {
  return node_ && (node_->flags() & CVirtualFolder::kFlagNew) != 0;
}

}  // namespace kelm::console
