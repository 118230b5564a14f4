#pragma once
// One logical array of a serial-attached subsystem, with its member disks and the array methods
// (rename, rebuild, synchronise, conversion, expansion).
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "components/framework/river_node.h"
#include "platform/base/result.h"

namespace kelm::brask {

class CSerialArray final : public fw::CRiverNode {
 public:
  static constexpr std::size_t kMaxNameLength = 63;
  static constexpr int kActionContinue = 256;
  static constexpr int kActionStart = 512;
  static constexpr int kActionStop = 2048;
  // The value rebuild and synchronisation send to the subsystem, unchanged.
  static constexpr int kTaskValue = 2;

  CSerialArray();
  // Member disks first, then the values and the methods.
  int InitArray(fw::CRiverNode* parent, const std::string& name, int arrayId);

  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;
  // Values first, so that the method masks follow the mode just read.
  void Refresh() override;
  bool IsDeviceReady() override;

  // Every tenth second while the link is up: on a change of status or percent the array is
  // refreshed, notifies, and its members are made again.
  void Poll();

  int ArrayId() const { return id1_; }
  const std::string& Mode() const { return mode_; }

 private:
  ~CSerialArray() override;
  // Reads status and percent and shows them; nothing when the library fails.
  std::optional<std::pair<int, int>> ReadStatus();
  void MakeMembers();
  // What the library answered to the request the argument makes (nothing sent: success).
  plat::Result<void> Rebuild(const std::string& arg);
  plat::Result<void> Synchronise(const std::string& arg);
  void ConvertOrExpand(const std::string& arg, bool conversion);

  std::string mode_;
  std::string storedName_;
  std::vector<int> members_;
  std::optional<std::pair<int, int>> last_;
};

}  // namespace kelm::brask
