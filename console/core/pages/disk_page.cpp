#include "console/core/pages/disk_page.h"

#include "console/core/document.h"
#include "console/core/pages/page_texts.h"
#include "console/core/strings.h"

namespace kelm::console::pages {

void DiskPage::OnShowNode() {
  t_ = Texts();
  CVirtualFolder* disk = GetFolder();
  if (!disk) return;
  t_.model = disk->GetProperty("model", "");
  t_.size = disk->GetProperty("Size", "");
  const int status = disk->GetIntProperty("Status", -1);
  t_.status = DiskStatusText(status);
  t_.mode = DiskModeText(disk->GetIntProperty("Timing_Mode", -1));
  t_.configuration = DiskConfigText(status);
  // The controller is the disk's grandparent (disk, channel, controller).
  auto* channel = disk->GetParent();
  auto* controller = AsFolder(channel ? channel->GetParent() : nullptr);
  const int isQx6 = controller ? controller->GetIntProperty("IsQx6", 99) : 99;
  t_.smart = DiskSmartText(isQx6, controller ? controller->GetIntProperty("GetSmart", 0) : 0);
}

void DiskPage::OnUpdate(int hint, CPea* node) {
  CVirtualFolder* disk = GetFolder();
  if (!disk || !node || (node != disk && node->GetParent() != disk)) return;
  if (hint != kHintChildArrived && hint != kHintValuesChanged) return;
  OnShowNode();
  Changed();
}

void DiskPage::Paint(DrawList& out, int width, int height) {
  const auto& display = document().display();
  out.Clear();
  out.FillRect({0, 0, width, height}, display.backgroundColor);
  struct Row {
    const char* label;
    const std::string* value;
    ColorRef colour;
  };
  const bool smart = t_.smart != "N/A";
  const Row rows[] = {
      {"Disk Model", &t_.model, display.foregroundColor},
      {"Disk Status", &t_.status, t_.status == LoadString(kStrLevelError) ? kColourRed : kColourGreen},
      {"Disk Size", &t_.size, kColourValue},
      {"Mode Setting", &t_.mode, kColourValue},
      {"Configuration", &t_.configuration, kColourGreen},
      {"S.M.A.R.T Status", &t_.smart, display.foregroundColor},
  };
  int y = kFirstRow;
  for (const Row& r : rows) {
    if (r.value == &t_.smart && !smart) break;
    out.Text({kLabelX, y, kColonX, y + kTextHeight}, r.label, display.foregroundColor);
    out.Text({kColonX, y, kValueX, y + kTextHeight}, ":", display.foregroundColor, kColonWeight);
    out.Text({kValueX, y, width, y + kTextHeight}, *r.value, r.colour);
    y += kRowHeight;
  }
}

void ChannelPage::Paint(DrawList& out, int width, int height) {
  out.Clear();
  out.FillRect({0, 0, width, height}, document().display().backgroundColor);
}

}  // namespace kelm::console::pages
