#include "components/serial/serial_array.h"

#include <algorithm>
#include <cstring>

#include "components/serial/brask_root.h"
#include "components/serial/child_sweep.h"
#include "components/serial/poll_registry.h"
#include "components/serial/raid_api.h"
#include "components/serial/serial_controller.h"
#include "components/serial/serial_devices.h"
#include "components/serial/serial_texts.h"

namespace kelm::brask {

namespace {

constexpr std::uint32_t kRightsRename = 16;
constexpr std::uint32_t kRightsArrayWork = 0x0800003C;
constexpr int kNoDisk = 255;
constexpr int kSectorsPerMiB = 2048;

}  // namespace

CSerialArray::CSerialArray() : CRiverNode(fw::kSerialArray, fw::kSerialArray) { PollRegistry::Get().AddArray(this); }

CSerialArray::~CSerialArray() { PollRegistry::Get().RemoveArray(this); }

bool CSerialArray::IsDeviceReady() { return Api().raIsComportReady(); }

int CSerialArray::InitArray(fw::CRiverNode* parent, const std::string& name, int arrayId) {
  id1_ = arrayId;
  storedName_ = name;
  InitNode(parent, name, fw::kSerialArray);
  if (parent) SetDeviceLink(parent->DeviceLink());
  MakeMembers();
  UpdateValues();
  DeclareMethods();
  last_ = ReadStatus();
  return 1;
}

std::optional<std::pair<int, int>> CSerialArray::ReadStatus() {
  int state = -1, activity = -1, percent = 0;
  if (Api().raGetArrayStatus(id1_, &state, &activity, &percent) != 0) return std::nullopt;
  const ArrayStatus s = ArrayStatusOf(state, activity);
  SetAttrInt("percent", fw::kDropReadWrite, percent);
  if (s.status) SetAttrInt("Status", fw::kDropReadWrite, *s.status);
  SetAttrInt("ThrottleStatus", fw::kDropReadOnlyVolatile, s.throttle);
  return std::make_pair(s.status.value_or(-1), percent);
}

int CSerialArray::UpdateValues() {
  RaidApi& api = Api();
  SetAttrInt("ArrayHandle", fw::kDropReadOnly, id1_);
  int index = -1, size = 0, half = 0;
  if (api.raGetArrayDescription(id1_, &index, &size, &half) == 0) {
    if (auto mode = ModeNameOfLibraryIndex(index)) {
      mode_ = std::string(*mode);
      SetAttr("RAID_Mode", fw::kDropReadWrite, mode_);
    }
    SetAttrInt("Block Size", fw::kDropReadWrite, half);
    SetAttr("Size", fw::kDropReadOnly, SizeText(static_cast<std::uint32_t>(size) / kSectorsPerMiB));
  }
  char name[RA_NAME_BUFFER] = {};
  if (api.raGetArrayName(id1_, name) == 0) {
    SetAttr("name", fw::kDropReadOnly, std::string(name, ::strnlen(name, sizeof name)));
  } else {
    SetAttr("name", fw::kDropReadOnly, storedName_);
  }
  if (auto busy = AnyArrayBusy()) SetAttrInt("ArrayAct", fw::kDropReadOnly, *busy ? 1 : 0);
  ReadStatus();
  int on = 0;
  if (api.raGetSeqRandomAcessDetection(id1_, &on) == 0) SetAttrInt("GetAutoSeqRandDet", fw::kDropReadOnly, on);
  return 1;
}

int CSerialArray::DeclareMethods() {
  const bool noRedundancy = mode_ == kModeRaid0 || mode_ == kModeSpan;
  const bool twoLevel = mode_ == kModeRaid30 || mode_ == kModeRaid50;
  AddMethod("rename", kRightsRename);
  AddMethod("RebuildArray", noRedundancy ? 0 : kRightsArrayWork);
  AddMethod("SyncArray", noRedundancy ? 0 : kRightsArrayWork);
  AddMethod("ForceIT", kRightsAnyUser);
  AddMethod("GUI_Status", kRightsAnyUser);
  AddMethod("SetAutoSeqRandDet", kRightsArrayWork);
  AddMethod("ArrayConversion", twoLevel ? 0 : kRightsArrayWork);
  AddMethod("ArrayExpansion", twoLevel ? 0 : kRightsArrayWork);
  AddMethod("StopConversion", twoLevel ? 0 : kRightsArrayWork);
  return 1;
}

void CSerialArray::Refresh() {
  if (!IsDeviceReady()) return;
  plat::com::ComPtr<CSerialArray> keep(this);
  UpdateValues();
  DeclareMethods();
}

int CSerialArray::InvokeHandler(const std::string& name, const std::string& arg) {
  RaidApi& api = Api();
  if (name == "rename") {
    const std::string newName = arg.substr(0, kMaxNameLength);
    if (api.raSetArrayName(id1_, newName.c_str()) == 0) {
      SetAttr("name", fw::kDropReadOnly, newName);
      Fire(fw::kNotifyChanged);
    }
  } else if (name == "RebuildArray") {
    if (auto done = Rebuild(arg); !done) LogFailure("Rebuild request on " + Name(), done.error());
  } else if (name == "SyncArray") {
    if (auto done = Synchronise(arg); !done) LogFailure("Synchronise request on " + Name(), done.error());
  } else if (name == "SetAutoSeqRandDet") {
    const int on = LenientNumber(arg);
    if (api.raSetSeqRandomAcessDetection(id1_, on) == 0) {
      SetAttrInt("GetAutoSeqRandDet", fw::kDropReadOnly, on);
      Fire(fw::kNotifyChanged);
    }
  } else if (name == "ArrayConversion") {
    ConvertOrExpand(arg, true);
  } else if (name == "ArrayExpansion") {
    ConvertOrExpand(arg, false);
  } else if (name == "StopConversion") {
    if (api.raStopRaidConversion() == 0) Fire(fw::kNotifyChanged);
  }
  return 0;
}

plat::Result<void> CSerialArray::Rebuild(const std::string& arg) {
  // "512@disk" starts a rebuild onto a disk (-1: the subsystem's choice), "2048" stops it; any
  // other code, or a disk that is not a number, sends nothing.
  const auto fields = fw::SplitArgs(arg, '@');
  const auto code = fields.empty() ? std::nullopt : StrictNumber(fields[0], kActionStop);
  if (code == kActionStart) {
    int disk = -1;
    if (fields.size() > 1 && !fields[1].empty() && fields[1] != "-1") {
      auto d = StrictNumber(fields[1], 254);
      if (!d) return plat::success();
      disk = *d;
    }
    return Checked(Api().raArrayRebuildDisk(id1_, disk, kTaskValue));
  }
  if (code == kActionStop) return Checked(Api().raAbortArryRebuild(id1_));
  return plat::success();
}

plat::Result<void> CSerialArray::Synchronise(const std::string& arg) {
  const auto fields = fw::SplitArgs(arg, '@');
  const auto code = fields.empty() ? std::nullopt : StrictNumber(fields[0], kActionStop);
  if (code == kActionStart) return Checked(Api().raArraySynchronize(id1_, kTaskValue));
  if (code == kActionStop) return Checked(Api().raAbortArryRebuild(id1_));
  return plat::success();
}

void CSerialArray::ConvertOrExpand(const std::string& arg, bool conversion) {
  // Conversion: mode@n@d1..dn; expansion: n@d1..dn. Anything malformed refreshes and sends nothing.
  const auto fields = fw::SplitArgs(arg, '@');
  std::optional<int> index;
  if (conversion) {
    index = fields.empty() ? std::nullopt : LibraryModeIndex(fields[0]);
    if (!index) {
      Refresh();
      return;
    }
  }
  auto disks = StrictDiskList(fields, conversion ? 1 : 0);
  if (!disks) {
    Refresh();
    return;
  }
  const int n = static_cast<int>(disks->size());
  auto done = Checked(conversion ? Api().raArrayConversion(id1_, disks->data(), n, *index)
                                 : Api().raArrayExpansion(id1_, disks->data(), n));
  if (done) {
    Fire(fw::kNotifyChanged);
    return;
  }
  // The event's text is fixed whatever the library answered; the log says what it did answer.
  LogFailure((conversion ? "Conversion of " : "Expansion of ") + Name(), done.error());
  const std::string text =
      conversion ? "Conversion failed - Incorrect Array Size" : "Expansion failed - Incorrect Array Size";
  const auto controllers = PollRegistry::Get().Controllers();
  for (CSerialController* c : controllers) c->PostLocalEvent(text);
}

void CSerialArray::MakeMembers() {
  int count = 0;
  int disks[RA_MAX_MEMBERS] = {};
  if (Api().raEnumerateDisksInArray(id1_, &count, disks) != 0) return;
  count = std::clamp(count, 0, static_cast<int>(RA_MAX_MEMBERS));
  members_.assign(disks, disks + count);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    if (disks[i] == kNoDisk) continue;
    const std::string name = "disk" + std::to_string(i + 1);
    names.push_back(name);
    if (auto* disk = static_cast<CSerialDisk*>(ChildByName(name))) {
      plat::com::ComPtr<CSerialDisk> keep(disk);
      disk->SetDiskId(disks[i]);
      disk->Refresh();
      disk->Fire(fw::kNotifyChanged);
      continue;
    }
    auto disk = plat::com::makeObject<CSerialDisk>();
    disk->Init(this, name, disks[i], 0, 0);
    AddChild(disk.get());
  }
  RemoveChildren(*this,
                 [&](const fw::CDrop& d) { return std::find(names.begin(), names.end(), d.name) == names.end(); });
}

void CSerialArray::Poll() {
  if (!IsDeviceReady()) return;
  auto now = ReadStatus();
  if (!now || now == last_) return;
  last_ = now;
  plat::com::ComPtr<CSerialArray> keep(this);
  Refresh();
  Fire(fw::kNotifyChanged);
  MakeMembers();
}

}  // namespace kelm::brask
