#pragma once
// The nodes below a controller: arrays with their member disks, channels with their disks,
// enclosures with their sensors.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "components/framework/river_node.h"
#include "components/iop/iop_api.h"

namespace kelm::iop {

inline constexpr int kNodeSensor = 17;
inline constexpr std::size_t kMaxMembers = 16;
inline constexpr std::uint32_t kNoHandle = 0xFFFFFFFFu;

// The enclosure mode the last enclosure read (0x3005), shared by the component.
int& EnclosureMode();

class CIopDisk final : public fw::CRiverNode, public ApiUser {
 public:
  CIopDisk() : CRiverNode(fw::kNodeBase, fw::kIopDisk) {}
  int Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle);
  int UpdateValues() override;
  std::uint32_t DiskHandle() const { return static_cast<std::uint32_t>(id1_); }
};

class CIopArray final : public fw::CRiverNode, public ApiUser {
 public:
  CIopArray();
  // False when the member list cannot be read; the array is then not added.
  bool Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle, int number);
  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;
  // The values first: the task methods follow the level just read.
  void Refresh() override {
    UpdateValues();
    DeclareMethods();
  }
  // One poll tick.
  void Poll();

  std::uint32_t ArrayHandle() const { return handle_; }
  std::uint32_t StoredState() const { return state_; }
  const std::vector<std::uint32_t>& Members() const { return members_; }

 private:
  ~CIopArray() override;
  bool ReadMembers();
  // Makes or refreshes the member disks found on channels 0 to 5; with `sweep` the others go.
  void ScanMembers(bool sweep);
  // Reads the state, and the progress while a task runs, into "Status", "percent" and
  // "ThrottleStatus"; `throttle` takes the progress word when it was read. The state (a finished
  // task's bits cleared), or nothing when it cannot be read.
  std::optional<std::uint32_t> ReadState(std::uint32_t& throttle);
  int Rebuild(const std::string& arg);
  int Sync(const std::string& arg);

  std::uint32_t handle_ = 0;
  int index_ = 0;
  std::uint32_t level_ = 0;
  std::uint32_t blockSize_ = 0;
  std::uint32_t size_ = 0;
  std::string name_;
  std::vector<std::uint32_t> members_;
  std::uint32_t state_ = 0;
  std::uint32_t throttle_ = 0;
  std::uint32_t percent_ = 0;
  std::uint32_t ticks_ = 0;
};

class CIopChannel final : public fw::CRiverNode, public ApiUser {
 public:
  CIopChannel() : CRiverNode(fw::kNodeContainer, fw::kIopChannel) {}
  int Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle, int kind);
  void Refresh() override { Scan(); }
  void Scan();
  int Kind() const { return kind_; }

 private:
  int kind_ = 1;
};

class CIopSensor final : public fw::CRiverNode, public ApiUser {
 public:
  CIopSensor() : CRiverNode(fw::kNodeBase, kNodeSensor) {}
  int Start(fw::CRiverNode* parent, const std::string& name, int channel, int id, std::uint32_t type);
  int UpdateValues() override;

 private:
  int channel_ = 0;
  int sensorId_ = 0;
  std::uint32_t type_ = 0;
};

class CIopEnclosure final : public fw::CRiverNode, public ApiUser {
 public:
  static constexpr std::uint32_t kRightsBuzzer = 80;
  CIopEnclosure() : CRiverNode(fw::kNodeContainer, fw::kIopEnclosure) {}
  int Start(fw::CRiverNode* parent, const std::string& name, std::uint32_t handle, int channels);
  int UpdateValues() override;
  int DeclareMethods() override;
  int InvokeHandler(const std::string& name, const std::string& arg) override;
  void Refresh() override;
  void Scan();
  void SetChannelCount(int channels) { channels_ = channels; }

 private:
  // The sensor node of a channel, made or refreshed; null when the channel shows none.
  fw::CRiverNode* SensorFor(int channel, int& running);

  int channels_ = 0;
  int count_ = 0;
};

// Makes the child `name` or, when a child of that name stands for the same device, refreshes it
// and tells its watchers. `make` gives a started node, or null.
template <class Node, class Make>
fw::CRiverNode* MakeOrRefresh(fw::CRiverNode& parent, const std::string& name, int id1, Make make) {
  if (auto* old = dynamic_cast<Node*>(parent.ChildByName(name)); old && old->Id1() == id1) {
    plat::com::ComPtr<fw::CRiverNode> keep(old);
    old->Refresh();
    old->Fire(fw::kNotifyChanged);
    return old;
  }
  plat::com::ComPtr<Node> fresh = make();
  if (!fresh || !parent.AddChild(fresh.get(), name)) return nullptr;
  return fresh.get();
}

// Removes the child entries whose node passes `pick` and is not in `seen`.
template <class Pick>
void RemoveUnseen(fw::CRiverNode& parent, const std::vector<fw::CRiverNode*>& seen, Pick pick) {
  for (std::size_t i = 0; i < parent.Entries().size();) {
    const fw::CDrop& d = *parent.Entries()[i];
    if (d.IsChild() && d.child && pick(*d.child) &&
        std::find(seen.begin(), seen.end(), d.child.get()) == seen.end()) {
      parent.RemoveEntry(&d);
      continue;
    }
    ++i;
  }
}

}  // namespace kelm::iop
