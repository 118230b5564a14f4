#pragma once
// The disk, channel and enclosure nodes below a serial-family controller.
#include <string>

#include "components/framework/river_node.h"

namespace kelm::brask {

// A disk: a member of an array ("disk%d") or the disk found on a channel ("master").
class CSerialDisk final : public fw::CRiverNode {
 public:
  CSerialDisk();
  int UpdateValues() override;
  bool IsDeviceReady() override;
  void SetDiskId(int id) { id1_ = id; }
  int DiskId() const { return id1_; }

 private:
  ~CSerialDisk() override = default;
};

// A channel: its only possible child is the disk "master" found at its position.
class CSerialChannel final : public fw::CRiverContainer {
 public:
  CSerialChannel();
  fw::CRiverNode* MakeChild(int deviceId, int sub, void* deviceLink) override;

 protected:
  void ScanDevices(std::vector<fw::CRiverNode*>& seen) override;

 private:
  ~CSerialChannel() override = default;
};

// The enclosure: its sensors, and two buzzer methods that do nothing here.
class CSerialEnclosure final : public fw::CRiverContainer {
 public:
  static constexpr int kMaxFans = 8;
  CSerialEnclosure();
  int UpdateValues() override;
  int DeclareMethods() override;
  int Count() override { return 0; }

 private:
  ~CSerialEnclosure() override = default;
};

}  // namespace kelm::brask
