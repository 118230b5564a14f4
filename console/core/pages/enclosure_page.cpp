#include "console/core/pages/enclosure_page.h"

#include "console/core/document.h"
#include "console/core/strings.h"
#include "message/message.h"
#include "platform/base/format.h"

namespace kelm::console::pages {

namespace {

constexpr int kSlotSize = 32;
constexpr int kSlotStep = 180;
constexpr int kBoxWidth = 260;
constexpr int kBoxHeight = 220;

std::string Str(int id) { return std::string(LoadString(id)); }

void PaintSlotText(DrawList& out, const DrawRect& window, const std::string& text, ColorRef back, ColorRef fore) {
  const int centre = (window.left + window.right) / 2;
  const DrawRect box{centre - EnclosurePage::kTextBoxWidth / 2, window.bottom, centre + EnclosurePage::kTextBoxWidth / 2,
                     window.bottom + EnclosurePage::kTextBoxHeight};
  out.FillRect(box, back);
  out.CentredText(box, text, fore);
}

}  // namespace

DrawRect EnclosurePage::FanRect(int i) {
  const int x = 200 + i * kSlotStep;
  return {x, 10, x + kSlotSize, 10 + kSlotSize};
}
DrawRect EnclosurePage::TempRect(int i) {
  const int x = 200 + i * kSlotStep;
  return {x, 90, x + kSlotSize, 90 + kSlotSize};
}
DrawRect EnclosurePage::BoxRect(int i) {
  const int x = 10 + (i % 4) * (kBoxWidth + 5);
  const int y = 180 + (i / 4) * (kBoxHeight + 10);
  return {x, y, x + kBoxWidth, y + kBoxHeight};
}
DrawRect EnclosurePage::BoxFanRect(int i) {
  const DrawRect b = BoxRect(i);
  const int x = b.left + (kBoxWidth - kSlotSize) / 2;
  return {x, b.top + 46, x + kSlotSize, b.top + 46 + kSlotSize};
}
DrawRect EnclosurePage::BoxTempRect(int i) {
  const DrawRect b = BoxRect(i);
  const int x = b.left + (kBoxWidth - kSlotSize) / 2;
  return {x, b.top + 112, x + kSlotSize, b.top + 112 + kSlotSize};
}

EnclosurePage::~EnclosurePage() { Listen(nullptr); }

void EnclosurePage::Listen(CVirtualFolder* node) {
  if (listened_.get() == node) return;
  if (listened_) listened_->RemoveListener(this);
  listened_ = PeaRef<CVirtualFolder>(node);
  if (node) node->AddListener(this);
}

void EnclosurePage::OnShowNode() {
  CVirtualFolder* node = GetFolder();
  Listen(node && node->nodeType() == kNodeEnclosure ? node : nullptr);
  // The pane shows the node again after every reload: a buzzer invoke still running keeps the
  // button disabled until its reply.
  if (!shown_.Again(node)) buzzerPending_ = false;
  Bind();
}

void EnclosurePage::Bind() {
  fans_ = {};
  temps_ = {};
  boxes_ = {};
  CVirtualFolder* node = GetFolder();
  if (!node) return;
  hardwareType_ = node->GetIntProperty("HardwareType", 0);
  buzzStatus_ = node->GetIntProperty("BuzzStatus", -1);
  // The count of channel boxes is the enclosure's own.
  const int limit = std::min(kBoxSlots, std::max(0, node->GetIntProperty("NumEnclosures", 0)));
  int fans = 0, temps = 0, boxes = 0;
  for (CPea* child : node->SubFolders(true)) {
    auto* sensor = dynamic_cast<CVirtualFolder*>(child);
    if (!sensor) continue;
    switch (sensor->nodeType()) {
      case kNodeFan:
        fans_[fans++ % kFanSlots].sensor = PeaRef<CVirtualFolder>(sensor);
        break;
      case kNodeTemperature:
        temps_[temps++ % kTempSlots].sensor = PeaRef<CVirtualFolder>(sensor);
        break;
      case kNodeSensorGroup:
        if (boxes < limit) {
          Box& b = boxes_[boxes++];
          b.temp.sensor = PeaRef<CVirtualFolder>(sensor);
          b.fan.sensor = PeaRef<CVirtualFolder>(sensor);
        }
        break;
      default:
        break;
    }
  }
  for (Slot& s : fans_) {
    if (s.sensor) UpdateSensor(s.sensor.get());
  }
  for (Slot& s : temps_) {
    if (s.sensor) UpdateSensor(s.sensor.get());
  }
  for (Box& b : boxes_) {
    if (b.temp.sensor) UpdateSensor(b.temp.sensor.get());
  }
}

void EnclosurePage::UpdateSensor(CVirtualFolder* sensor) {
  switch (sensor->nodeType()) {
    case kNodeFan:
      for (Slot& s : fans_) {
        if (s.sensor.get() != sensor) continue;
        s.visible = hardwareType_ == 1;
        s.animate = s.visible;
        s.text = s.visible ? "Working" : "";
      }
      return;
    case kNodeTemperature:
      for (Slot& s : temps_) {
        if (s.sensor.get() != sensor) continue;
        s.visible = hardwareType_ == 0;
        const int raw = sensor->GetIntProperty("Temperature", 0);
        s.text = SensorTempText(raw);
        s.picture = TempPicture(raw * 0.5);
      }
      return;
    case kNodeSensorGroup:
      for (Box& b : boxes_) {
        if (b.temp.sensor.get() != sensor) continue;
        b.visible = true;
        b.channel = sensor->GetIntProperty("Channel", -1);
        b.title = plat::format("Channel %d", b.channel + 1);
        b.kind = EnclosureKindText(sensor->GetIntProperty("EnclosureType", -1));
        const int raw = sensor->GetIntProperty("Temperature", 0);
        b.temp.visible = true;
        b.temp.text = BoxTempText(raw);
        b.temp.picture = TempPicture(raw * 0.5);
        const int rpm = sensor->GetIntProperty("FanRPM", -1);
        const FanState state = EnclosureFanState(rpm);
        b.fanShown = state != FanState::Absent;
        b.fan.visible = b.fanShown;
        b.fan.animate = state == FanState::Working;
        b.fan.text = state == FanState::Absent ? "" : state == FanState::Working ? "Working" : Str(kStrLevelError);
        b.rpm = b.fanShown ? std::to_string(rpm) : "";
        b.volt5 = SupplyText(sensor->GetIntProperty("Power5VStatus", -1));
        b.volt12 = SupplyText(sensor->GetIntProperty("Power12VStatus", -1));
      }
      return;
    default:
      return;
  }
}

void EnclosurePage::OnUpdate(int hint, CPea* node) {
  CVirtualFolder* enclosure = GetFolder();
  if (!enclosure || !node) return;
  if (hint == kHintChildrenChanged && node == enclosure) {
    Bind();
    Changed();
    return;
  }
  if (hint != kHintChildArrived) return;
  CPea* parent = node->GetParent();
  if (parent == enclosure) {
    if (node->name() == "BuzzStatus") {
      const int now = LeadingInt(node->value(), -1);
      if (now != buzzStatus_) buzzerPending_ = false;
      buzzStatus_ = now;
    } else if (node->name() == "HardwareType" || node->name() == "NumEnclosures") {
      Bind();
    }
    Changed();
    return;
  }
  auto* sensor = dynamic_cast<CVirtualFolder*>(parent);
  if (sensor && sensor->GetParent() == enclosure) {
    UpdateSensor(sensor);
    Changed();
  }
}

bool EnclosurePage::buzzerEnabled() const {
  CVirtualFolder* node = GetFolder();
  return node && node->nodeType() == kNodeEnclosure && node->HasMethod("SilentBuzzer") &&
         node->HasMethod("TurnOnBuzzer") && !buzzerPending_;
}

void EnclosurePage::ToggleBuzzer() {
  CVirtualFolder* node = GetFolder();
  if (!buzzerEnabled()) return;
  buzzStatus_ = node->GetIntProperty("BuzzStatus", -1);
  const char* method = buzzStatus_ == 1 ? "SilentBuzzer" : buzzStatus_ == 0 ? "TurnOnBuzzer" : nullptr;
  if (!method) return;
  if (node->Invoke(method, "") == 0) buzzerPending_ = true;
  Changed();
}

void EnclosurePage::OnInvokeReply(int status, const std::string&) {
  if (status != kStatusFinal || !buzzerPending_) return;
  buzzerPending_ = false;
  Changed();
}

void EnclosurePage::Paint(DrawList& out, int width, int height) {
  const auto& display = document().display();
  out.Clear();
  out.FillRect({0, 0, width, height}, display.backgroundColor);
  for (int i = 0; i < kFanSlots; ++i) {
    if (fans_[i].visible) PaintSlotText(out, FanRect(i), fans_[i].text, display.backgroundColor, display.foregroundColor);
  }
  for (int i = 0; i < kTempSlots; ++i) {
    if (temps_[i].visible) {
      PaintSlotText(out, TempRect(i), temps_[i].text, display.backgroundColor, display.foregroundColor);
    }
  }
  for (int i = 0; i < kBoxSlots; ++i) {
    const Box& b = boxes_[i];
    if (!b.visible) continue;
    PaintSlotText(out, BoxTempRect(i), b.temp.text, display.backgroundColor, display.foregroundColor);
    if (b.fan.visible) PaintSlotText(out, BoxFanRect(i), b.fan.text, display.backgroundColor, display.foregroundColor);
  }
}

}  // namespace kelm::console::pages
