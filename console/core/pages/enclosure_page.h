#pragma once
// The enclosure page (node type 7, and the sensors below one): fans, temperature sensors and up to
// eight channel boxes bound to display slots, the supplies, and the buzzer button. The slots' texts
// are painted under their pictures; the form places the pictures at the slot rectangles.
#include <array>
#include <string>

#include "console/core/pages/page_presenter.h"
#include "console/core/pages/page_support.h"
#include "console/core/pages/page_texts.h"
#include "console/core/virtual_folder.h"

namespace kelm::console::pages {

// Our own pictures: the enclosure (two kinds), the fan strip and the temperature states.
inline constexpr int kBitmapFan = 161;  // six frames, white mask
inline constexpr int kBitmapTempNormal = 189;
inline constexpr int kBitmapTempHot = 190;
inline constexpr int kBitmapTempWarm = 191;
inline constexpr int kBitmapTempError = 193;
inline constexpr int kBitmapEnclosure = 320;
inline constexpr int kBitmapEnclosureKind2 = 321;  // HardwareType 2
inline constexpr int kFanFrames = 6;
inline constexpr int kFanFrameMs = 30;

class EnclosurePage : public PagePresenter, public ReplyListener {
 public:
  static constexpr int kFanSlots = 6;
  static constexpr int kTempSlots = 4;
  static constexpr int kBoxSlots = 8;
  // Wide enough for "Temp:  122.0°F/ 50.0°C" in the pane font.
  static constexpr int kTextBoxWidth = 170;
  static constexpr int kTextBoxHeight = 30;

  struct Slot {
    bool visible = false;
    std::string text;  // painted under the slot window
    int picture = 0;   // a temperature picture; 0 for a fan
    bool animate = false;
    PeaRef<CVirtualFolder> sensor;
  };
  struct Box {
    bool visible = false;
    std::string title;  // "Channel 3"
    std::string kind;   // after "Encl. Type : "
    Slot temp;
    Slot fan;
    std::string rpm;  // shown beside "RPM"; empty when the fan is absent
    bool fanShown = false;
    std::string volt5, volt12;
    int channel = -1;
  };

  explicit EnclosurePage(CDremmoralDoc& document) : PagePresenter(document) {}
  ~EnclosurePage() override;

  void OnUpdate(int hint, CPea* node) override;
  void Paint(DrawList& out, int width, int height) override;
  void OnDisplaySettingsChanged() override { Changed(); }
  void OnInvokeReply(int status, const std::string& text) override;

  // Button 1083: silences or turns on the buzzer by the state read.
  void ToggleBuzzer();

  int hardwareType() const { return hardwareType_; }
  int enclosurePicture() const { return hardwareType_ == 2 ? kBitmapEnclosureKind2 : kBitmapEnclosure; }
  const std::array<Slot, kFanSlots>& fans() const { return fans_; }
  const std::array<Slot, kTempSlots>& temps() const { return temps_; }
  const std::array<Box, kBoxSlots>& boxes() const { return boxes_; }
  bool buzzerEnabled() const;
  bool buzzerOn() const { return buzzStatus_ == 1; }

  // The slot windows' rectangles in the page.
  static DrawRect FanRect(int i);
  static DrawRect TempRect(int i);
  static DrawRect BoxRect(int i);
  static DrawRect BoxTempRect(int i);
  static DrawRect BoxFanRect(int i);

 protected:
  void OnShowNode() override;

 private:
  void Bind();
  void UpdateSensor(CVirtualFolder* sensor);
  void Listen(CVirtualFolder* node);

  int hardwareType_ = 0;
  int buzzStatus_ = -1;
  bool buzzerPending_ = false;
  std::array<Slot, kFanSlots> fans_;
  std::array<Slot, kTempSlots> temps_;
  std::array<Box, kBoxSlots> boxes_;
  PeaRef<CVirtualFolder> listened_;
  RepeatShow shown_;
};

}  // namespace kelm::console::pages
