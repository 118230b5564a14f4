#pragma once
// The root of one serial-attached RAID subsystem: brings the serial library up, connects, makes
// the controller node, shows the link state and lets an administrator connect and disconnect.
#include <string>

#include "components/framework/river_node.h"

namespace kelm::brask {

inline constexpr const char* kStatusConnected = "Connected";
inline constexpr const char* kStatusDisconnected = "Disconnected";
inline constexpr const char* kStatusReady = "Ready";
inline constexpr std::uint32_t kRightsAnyUser = 0xF7FFFFFF;

class CBraskRoot final : public fw::CRiverNode {
 public:
  // How long the root gives a new link to come up, and the slices it waits in.
  static constexpr int kConnectWaitMs = 3000;
  static constexpr int kConnectSliceMs = 100;

  CBraskRoot();
  // Brings the library up, connects, makes the controllers and joins the poll.
  void Build();

  int InvokeHandler(const std::string& name, const std::string& arg) override;
  void Refresh() override;
  // From the timer: drops the controllers of a link that fell, then Refresh.
  void Poll();
  void Connect();
  void Disconnect();

  bool IsDisconnected() const { return disconnected_; }

 private:
  ~CBraskRoot() override;
  // Up to kConnectWaitMs for the link, ending as soon as it is ready.
  void WaitForLink();
  // One controller child per adapter; true when any was made.
  bool MakeControllers();
  bool RemoveControllers();
  void ShowStatus(const char* status);

  bool libraryUp_ = false;  // raInitialize answered 0, so raTerminate is owed
  bool disconnected_ = true;
  bool joined_ = false;
};

}  // namespace kelm::brask
