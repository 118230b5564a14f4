#include "components/serial/serial_devices.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "components/serial/raid_api.h"
#include "components/serial/serial_texts.h"

namespace kelm::brask {

namespace {

constexpr int kKindDisk = 1;
constexpr int kNoDiskPresent = 7;
constexpr std::uint32_t kRightsBuzzer = 80;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Disk

CSerialDisk::CSerialDisk() : CRiverNode(fw::kSerialDisk, fw::kSerialDisk) {}

bool CSerialDisk::IsDeviceReady() { return Api().raIsComportReady(); }

int CSerialDisk::UpdateValues() {
  RaidApi& api = Api();
  char name[RA_NAME_BUFFER] = {};
  if (api.raGetDeviceName(id1_, name) == 0)
    SetAttr("model", fw::kDropReadOnly, std::string(name, ::strnlen(name, sizeof name)));
  int first = 0, third = 0;
  if (api.raGetDiskSize(id1_, &first, &third) == 0) {
    const std::uint64_t mib = static_cast<std::uint64_t>(static_cast<std::uint32_t>(first) / 1024u) *
                              static_cast<std::uint32_t>(third) / 1024u;
    SetAttr("Size", fw::kDropReadOnly, SizeText(mib));
  }
  int mode = 0;
  if (api.raGetDiskTiming(id1_, &mode) == 0)
    SetAttr("Timing_Mode", fw::kDropReadOnly, std::string(TimingModeText(mode)));
  int a = 0, cylinders = 0, heads = 0, sectors = 0;
  if (api.raGetDiskDescription(id1_, &a, &cylinders, &heads, &sectors) == 0) {
    SetAttrInt("Cyls", fw::kDropReadOnly, cylinders);
    SetAttrInt("Heads", fw::kDropReadOnly, heads);
    SetAttrInt("Sectors", fw::kDropReadOnly, sectors);
  }
  SetAttrInt("Channel", fw::kDropReadOnly, id1_);
  int status = -1, second = -1, rebuilding = 0, slot = -1;
  if (api.raGetDiskStatus(id1_, &status, &second, &rebuilding, &slot) == 0) {
    SetAttrInt("Status", fw::kDropReadOnlyVolatile, DiskStatusOf(status, second));
    SetAttrInt("Rebuild", fw::kDropReadOnlyVolatile, rebuilding == 1 ? 1 : 0);
    SetAttr("smart", fw::kDropReadOnly, std::string(SmartText(slot)));
  }
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Channel

CSerialChannel::CSerialChannel() : CRiverContainer(fw::kSerialChannel, fw::kSerialChannel) {}

void CSerialChannel::ScanDevices(std::vector<fw::CRiverNode*>& seen) {
  int kind = 0, id = -1;
  const int rc = Api().raScanDevice(Number(), 0, &kind, &id);
  if (rc == 0 && kind == kKindDisk) {
    if (fw::CRiverNode* disk = MakeChild(id, 0, DeviceLink())) seen.push_back(disk);
    return;
  }
  if (rc == kNoDiskPresent) return;
  // The scan itself failed: the channel keeps what it showed.
  for (const auto& d : Entries())
    if (d->IsChild() && d->child) seen.push_back(d->child.get());
}

fw::CRiverNode* CSerialChannel::MakeChild(int deviceId, int, void*) {
  if (auto* disk = static_cast<CSerialDisk*>(ChildByName("master"))) {
    plat::com::ComPtr<CSerialDisk> keep(disk);
    disk->SetDiskId(deviceId);
    disk->Refresh();
    disk->Fire(fw::kNotifyChanged);
    return disk;
  }
  auto disk = plat::com::makeObject<CSerialDisk>();
  disk->Init(this, "master", deviceId, 0, 0);
  return AddChild(disk.get()) ? disk.get() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Enclosure

CSerialEnclosure::CSerialEnclosure() : CRiverContainer(fw::kSerialEnclosure, fw::kSerialEnclosure) {}

int CSerialEnclosure::UpdateValues() {
  SetAttrInt("HardwareType", fw::kDropReadOnly, 1);
  SetAttrInt("NumEnclosures", fw::kDropReadOnlyVolatile, Count());
  int type = 0, size = 0;
  int record[RA_ENCLOSURE_RECORD] = {};
  if (Api().raGetEnclosureStatus(id1_, &type, &size, record) != 0) return 1;
  const int fans = std::clamp(record[5], 0, kMaxFans);
  SetAttrInt("NumFan", fw::kDropReadOnlyVolatile, fans);
  for (int i = 0; i < kMaxFans; ++i)
    SetAttrInt("fanrpm" + std::to_string(i + 1), fw::kDropReadOnlyVolatile, i < fans ? record[6 + i] : -1);
  for (int i = 0; i < 3; ++i) SetAttrInt("Temp" + std::to_string(i + 1), fw::kDropReadOnlyVolatile, record[2 + i]);
  SetAttrInt("Volt5", fw::kDropReadOnlyVolatile, static_cast<long long>(record[0]) * 10);
  SetAttrInt("Volt12", fw::kDropReadOnlyVolatile, static_cast<long long>(record[1]) * 10);
  return 1;
}

int CSerialEnclosure::DeclareMethods() {
  AddMethod("SilentBuzzer", kRightsBuzzer);
  AddMethod("TurnOnBuzzer", kRightsBuzzer);
  return 1;
}

}  // namespace kelm::brask
