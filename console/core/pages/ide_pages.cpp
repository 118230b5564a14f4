#include "console/core/pages/ide_pages.h"

#include "console/core/document.h"
#include "console/core/pages/page_texts.h"
#include "console/core/pages/serial_pages.h"
#include "console/core/strings.h"
#include "message/message.h"

namespace kelm::console::pages {

namespace {

constexpr int kBoldWeight = 700;
constexpr unsigned kStatusSynchronizing = 256;
constexpr unsigned kStatusAssigned = 512;
constexpr unsigned kStatusOffline = 0x80000001u;
constexpr int kStatusUnknown = 6;

bool Touches(const CPea* node, const CVirtualFolder* shown) {
  return node && shown && (node == shown || node->GetParent() == shown);
}

void Label(DrawList& out, const CDremmoralDoc::Display& display, int y, const char* label, int weight = kBoldWeight) {
  out.Text({kIdeLabelX, y, kIdeColonX, y + kIdeTextHeight}, label, display.foregroundColor, weight);
  out.Text({kIdeColonX, y, kIdeValueX, y + kIdeTextHeight}, ":", display.foregroundColor, weight);
}

void Row(DrawList& out, const CDremmoralDoc::Display& display, int y, int width, const char* label, const std::string& value,
         ColorRef colour, int weight = kBoldWeight) {
  Label(out, display, y, label, weight);
  out.Text({kIdeValueX, y, width, y + kIdeTextHeight}, value, colour);
}

ColorRef StateColour(const std::string& status) {
  return status == LoadString(kStrFunctional) ? kColourGreen : kColourRed;
}

}  // namespace

// --- array ---

void IdeArrayPage::OnShowNode() {
  t_ = Texts();
  percent_ = -1;
  Update();
  statusOnly_ = false;
}

void IdeArrayPage::OnUpdate(int hint, CPea* node) {
  if ((hint == kHintValuesChanged || hint == kHintChildArrived) && Touches(node, GetFolder())) Update();
}

void IdeArrayPage::Update() {
  CVirtualFolder* a = GetFolder();
  if (!a) return;
  const int percent = a->GetIntProperty("percent", 0);
  Texts t;
  t.mode = a->GetProperty("RAID_Mode", "");
  t.status = ArrayStatusText(a->GetIntProperty("Status", 0), percent, false);
  t.size = a->GetProperty("Size", "");
  t.blockSize = a->GetProperty("Block Size", "");
  t.cyls = a->GetProperty("Cyls", "");
  t.heads = a->GetProperty("Heads", "");
  t.sectors = a->GetProperty("Sectors", "");
  const bool onlyPercent = percent != percent_ && t.mode == t_.mode && t.size == t_.size &&
                           t.blockSize == t_.blockSize && t.cyls == t_.cyls && t.heads == t_.heads &&
                           t.sectors == t_.sectors;
  const bool same = percent == percent_ && t.status == t_.status && t.mode == t_.mode && t.size == t_.size &&
                    t.blockSize == t_.blockSize && t.cyls == t_.cyls && t.heads == t_.heads &&
                    t.sectors == t_.sectors;
  percent_ = percent;
  t_ = std::move(t);
  if (same) return;
  statusOnly_ = onlyPercent;
  Changed();
}

bool IdeArrayPage::showsBlockSize() const { return t_.mode == "STRIPING" || t_.mode == "STRIPING + MIRRORING"; }

void IdeArrayPage::PaintStatusLine(DrawList& out) {
  out.FillRect(kStatusLine, document().display().backgroundColor);
  out.Text({kIdeValueX, 40, kStatusLine.right, 40 + kIdeTextHeight}, t_.status, StateColour(t_.status));
}

void IdeArrayPage::Paint(DrawList& out, int width, int height) {
  const CDremmoralDoc::Display& display = document().display();
  out.FillRect({0, 0, width, height}, display.backgroundColor);
  if (!GetFolder()) return;
  const ColorRef value = kColourValue;
  Row(out, display, 10, width, "RAID Mode", t_.mode, value);
  Label(out, display, 40, "Array Status");
  PaintStatusLine(out);
  Row(out, display, 70, width, "Array Size", t_.size, value);
  Row(out, display, 100, width, "Mapping", t_.cyls, value);
  out.Text({kIdeMappingLabelX, 100, width, 100 + kIdeTextHeight}, "Cyls", display.foregroundColor);
  out.Text({kIdeValueX, 120, kIdeMappingLabelX, 120 + kIdeTextHeight}, t_.heads, value);
  out.Text({kIdeMappingLabelX, 120, width, 120 + kIdeTextHeight}, "Heads", display.foregroundColor);
  out.Text({kIdeValueX, 140, kIdeMappingLabelX, 140 + kIdeTextHeight}, t_.sectors, value);
  out.Text({kIdeMappingLabelX, 140, width, 140 + kIdeTextHeight}, "Sectors", display.foregroundColor);
  if (showsBlockSize()) Row(out, display, 170, width, "Block Size", t_.blockSize, value);
}

// --- disk ---

IdeDiskState IdeDiskStateOf(int status, int rebuild) {
  IdeDiskState s;
  s.usage = std::string(LoadString(185));
  switch (static_cast<unsigned>(status)) {
    case kStatusSynchronizing:
      s.status = std::string(LoadString(kStrFunctional));
      s.usage = std::string(LoadString(186));
      break;
    case kStatusAssigned:
      s.status = std::string(LoadString(kStrFunctional));
      s.usage = std::string(LoadString(187));
      break;
    case kStatusOffline:
      s.status = std::string(LoadString(kStrOffline));
      s.offline = true;
      break;
    default:  // 6 and every state this page does not know
      (void)kStatusUnknown;
      s.status = "Unknown";
      break;
  }
  if (rebuild == 1 || rebuild == 2) {
    s.status = "Warning";
    s.note = rebuild == 1 ? "(Rebuilding)" : "(Needs Rebuilding)";
  }
  return s;
}

void IdeDiskPage::OnShowNode() {
  t_ = Texts();
  Update();
}

void IdeDiskPage::OnUpdate(int hint, CPea* node) {
  if ((hint == kHintValuesChanged || hint == kHintChildArrived) && Touches(node, GetFolder())) Update();
}

void IdeDiskPage::Update() {
  CVirtualFolder* d = GetFolder();
  if (!d) return;
  Texts t;
  t.model = d->GetProperty("model", "");
  t.size = d->GetProperty("Size", "");
  const IdeDiskState s = IdeDiskStateOf(d->GetIntProperty("Status", -1), d->GetIntProperty("Rebuild", 0));
  t.status = s.status;
  t.usage = s.usage;
  t.note = s.note;
  t.mode = d->GetProperty("Timing_Mode", "");
  t.smart = s.offline ? "Unknown" : d->GetProperty("smart", "");
  t.cyls = d->GetProperty("Cyls", "");
  t.heads = d->GetProperty("Heads", "");
  t.sectors = d->GetProperty("Sectors", "");
  const bool same = t.model == t_.model && t.size == t_.size && t.status == t_.status && t.usage == t_.usage &&
                    t.note == t_.note && t.mode == t_.mode && t.smart == t_.smart;
  t_ = std::move(t);
  if (!same) Changed();
}

void IdeDiskPage::Paint(DrawList& out, int width, int height) {
  const CDremmoralDoc::Display& display = document().display();
  out.FillRect({0, 0, width, height}, display.backgroundColor);
  if (!GetFolder()) return;
  constexpr int kPlain = 400;  // the disk page's labels are not bold
  Row(out, display, 10, width, "Disk Model", t_.model, kColourValue, kPlain);
  Label(out, display, 40, "Disk Status", kPlain);
  out.Text({kIdeValueX, 40, t_.note.empty() ? width : kIdeNoteX, 40 + kIdeTextHeight}, t_.status,
           StateColour(t_.status));
  if (!t_.note.empty()) out.Text({kIdeNoteX, 40, width, 40 + kIdeTextHeight}, t_.note, kColourRed);
  Row(out, display, 70, width, "Disk Size", t_.size, kColourValue, kPlain);
  Row(out, display, 100, width, "Mode Setting", t_.mode, kColourValue, kPlain);
  Row(out, display, 130, width, "Configuration", t_.usage, kColourValue, kPlain);
  Row(out, display, 160, width, "S.M.A.R.T Status", t_.smart, kColourValue, kPlain);
}

// --- controller ---

IdeControllerPage::~IdeControllerPage() { Listen(nullptr); }

void IdeControllerPage::Listen(CVirtualFolder* node) {
  if (listening_.get() == node) return;
  if (listening_) listening_->RemoveListener(this);
  listening_ = PeaRef<CVirtualFolder>(node);
  awaited_ = 0;
  allFunctional_ = true;
  rebootAsked_ = false;
  confirmTimer_.stop();
  if (node) node->AddListener(this);
}

void IdeControllerPage::OnShowNode() {
  Listen(GetFolder());
  Fill(!shown_.Again(GetFolder()));
}

void IdeControllerPage::OnUpdate(int hint, CPea* node) {
  if ((hint == kHintValuesChanged || hint == kHintChildArrived) && Touches(node, GetFolder())) Fill(false);
}

void IdeControllerPage::Fill(bool everything) {
  CVirtualFolder* c = GetFolder();
  if (!c) return;
  if (everything) touched_ = 0;
  c_.irq = c->GetProperty("IRQ", "");
  c_.busMasterBase = c->GetProperty("BMB", "");
  c_.romBase = c->GetProperty("RBA", "");
  c_.driverVersion = c->GetProperty("DV", "");
  c_.hardware = c->GetProperty("HardWare", "");
  // "Status" is not one of the IDE controller's values, so it is not asked for.
  read_.smart = c->GetIntProperty("GetSmart", 0) != 0;
  read_.pciBus = c->GetIntProperty("GetPCIBus", 0);
  read_.writeCache = c->GetIntProperty("GetCachePolicy", 0) != 0;
  read_.disableHotSpare = c->GetIntProperty("GetDisableHotSpare", 0) != 0;
  read_.maintenanceRate = c->GetIntProperty("GetMaintenanceRate", 0);
  if (!(touched_ & kTSmart)) c_.smart = read_.smart;
  if (!(touched_ & kTPci)) c_.pciBus = read_.pciBus;
  if (!(touched_ & kTCache)) c_.writeCache = read_.writeCache;
  if (!(touched_ & kTHotSpare)) c_.disableHotSpare = read_.disableHotSpare;
  if (!(touched_ & kTRate)) c_.maintenanceRate = read_.maintenanceRate;
  Changed();
}

IdeControllerPage::Enables IdeControllerPage::enables() const {
  Enables e;
  const CVirtualFolder* c = GetFolder();
  e.disableHotSpare = MethodAllowed(c, "SetDisableHotSpare");
  e.writeCache = MethodAllowed(c, "SetCachePolicy");
  e.smart = MethodAllowed(c, "SetSmart");
  e.pciBus = MethodAllowed(c, "SetPCIBus");
  e.maintenanceRate = MethodAllowed(c, "SetMaintenanceRate");
  e.commit = e.disableHotSpare || e.writeCache || e.smart || e.pciBus || e.maintenanceRate;
  return e;
}

void IdeControllerPage::Touch(std::uint32_t t) {
  touched_ |= t;
  Changed();
}
void IdeControllerPage::SetSmart(bool on) {
  c_.smart = on;
  Touch(kTSmart);
}
void IdeControllerPage::SetWriteCache(bool on) {
  c_.writeCache = on;
  Touch(kTCache);
}
void IdeControllerPage::SetDisableHotSpare(bool on) {
  c_.disableHotSpare = on;
  Touch(kTHotSpare);
}
void IdeControllerPage::SetMaintenanceRate(int v) {
  c_.maintenanceRate = v;
  Touch(kTRate);
}
void IdeControllerPage::SetPciBus(int v) {
  c_.pciBus = v;
  Touch(kTPci);
}
void IdeControllerPage::Reset() { Fill(true); }

void IdeControllerPage::Commit() {
  PeaRef<CVirtualFolder> hold(GetFolder());
  CVirtualFolder* c = hold.get();
  if (!c || !NodeInTree() || rebootAsked_) return;
  bool failed = false;
  bool needsReboot = false;
  const auto send = [&](const char* method, bool changed, int value, bool reboot) {
    if (failed || !changed || !MethodAllowed(c, method)) return false;
    if (c->Invoke(method, std::to_string(value)) != 0) {
      failed = true;
      return false;
    }
    ++awaited_;
    needsReboot |= reboot;
    return true;
  };
  allFunctional_ = true;
  if (send("SetSmart", c_.smart != read_.smart, c_.smart, true)) read_.smart = c_.smart;
  if (send("SetPCIBus", c_.pciBus != read_.pciBus, c_.pciBus, false)) read_.pciBus = c_.pciBus;
  if (send("SetCachePolicy", c_.writeCache != read_.writeCache, c_.writeCache, true)) {
    read_.writeCache = c_.writeCache;
  }
  if (send("SetDisableHotSpare", c_.disableHotSpare != read_.disableHotSpare, c_.disableHotSpare, true)) {
    read_.disableHotSpare = c_.disableHotSpare;
  }
  if (send("SetMaintenanceRate", c_.maintenanceRate != read_.maintenanceRate, c_.maintenanceRate, false)) {
    read_.maintenanceRate = c_.maintenanceRate;
  }
  touched_ = 0;
  Changed();
  if (failed) {
    ConnectionError(document());
    return;
  }
  if (!needsReboot) return;
  if (MessageText(document(), kRebootQuestion, MsgIcon::Exclamation, MsgButtons::YesNo) != kIdYes) return;
  if (hold.get() != listening_.get()) return;  // the page moved on while it asked
  if (!allFunctional_) return GiveUp();
  rebootAsked_ = true;
  if (awaited_ == 0) return Confirmed();
  confirmTimer_ = document().loop().singleShot(kConfirmWait, [this] { GiveUp(); });
}

void IdeControllerPage::OnInvokeReply(int status, const std::string& text) {
  if (status != kStatusFinal || awaited_ == 0) return;
  --awaited_;
  if (ParseResultCode(text) != kResultFunctional) allFunctional_ = false;
  if (!rebootAsked_) return;
  if (!allFunctional_) {
    GiveUp();
  } else if (awaited_ == 0) {
    Confirmed();
  }
}

void IdeControllerPage::Confirmed() {
  rebootAsked_ = false;
  confirmTimer_.stop();
  UiServices& ui = document().ui();
  if (!ui.RebootMachine()) MessageText(document(), kRebootFail, MsgIcon::Stop);
  ui.CloseMainWindow();
}

void IdeControllerPage::GiveUp() {
  rebootAsked_ = false;
  confirmTimer_.stop();
  MessageText(document(), kNotConfirmed, MsgIcon::Exclamation);
}

}  // namespace kelm::console::pages
