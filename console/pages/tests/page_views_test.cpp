// The Qt page forms over their presenters: what they show, what they expose to assistive
// technology, and a screenshot of each page kept as a test artefact.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QTest>

#include "console/pages/tests/form_test.h"
#include "console/pages/page_views.h"

namespace kelm::console::testing {
namespace {

using namespace pages;

class PageViewsTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    FakeNode* c = agent.root.Folder("IOP1", kNodeIopController);
    c->Add("IsQx6", "pr-", "1");
    c->Add("ProcessorMemory", "pr-", "16777216");
    c->Add("ProcessorType", "pr-", "0");
    c->Add("HWVersion", "pr-", "B1");
    c->Add("ModuleList", "pr-", Letters(ModuleBytes()));
    c->Add("GetSmart", "pr-", "1");
    c->Add("GetAutoFlushFreq", "pr-", "10");
    for (const char* meth : {"SetSmart", "SetHDCache", "SetRebuildPriority", "SetAutoFlushFreq", "CreateArray"}) {
      c->Add(meth, "m--", "60");
    }
    FakeNode* disk = c->Folder("Channel0", kNodeChannel)->Folder("Disk0", kNodeIopDisk);
    disk->Add("model", "pr-", "QD-1000");
    disk->Add("Size", "pr-", "9.31 GB");
    disk->Add("Status", "prv", "-2147483135");
    disk->Add("Timing_Mode", "pr-", "-2147483643");
    FakeNode* a = c->Folder("Array0", kNodeIopArray);
    a->Add("name", "prw", "Data");
    a->Add("RAID_Mode", "pr-", "RAID5(PARITY-DISTRIBUTED)");
    a->Add("Block Size", "pr-", "16");
    a->Add("Size", "pr-", "4294967295");
    a->Add("Status", "prv", "256");
    a->Add("percent", "prv", "37");
    a->Add("SetAutoSeqRandDet", "m--", "60");
    a->Add("rename", "m--", "60");
    FakeNode* e = c->Folder("Enclosure", kNodeEnclosure);
    e->Add("HardwareType", "pr-", "0");
    e->Add("BuzzStatus", "prv", "1");
    e->Add("NumEnclosures", "prv", "2");
    e->Add("SilentBuzzer", "m--", "80");
    e->Add("TurnOnBuzzer", "m--", "80");
    e->Folder("Temp0", kNodeTemperature)->Add("Temperature", "prv", "100");
    for (int i = 0; i < 2; ++i) {
      FakeNode* s = e->Folder("Sensor" + std::to_string(i), kNodeSensorGroup);
      s->Add("Channel", "pr-", std::to_string(i));
      s->Add("Temperature", "prv", i ? "130" : "100");
      s->Add("FanRPM", "prv", i ? "40" : "3000");
      s->Add("EnclosureType", "pr-", i ? "17" : "0");
      s->Add("Power5VStatus", "prv", "5000");
      s->Add("Power12VStatus", "prv", "12040");
    }
    FakeNode* sc = agent.root.Folder("SC0", kNodeSerialController);
    sc->Add("ComportStatus", "pr-", "Connected");
    sc->Add("HWVersion", "pr-", "HW 2.1");
    sc->Add("RaidapiVersion", "pr-", "1.07");
    sc->Add("FirmwareVersion", "pr-", "3.20");
    sc->Add("MemorySize", "pr-", "64 MB");
    sc->Add("GetAutoFlushFreq", "prv", "5");
    sc->Add("GetSmart", "prv", "1");
    for (const char* meth : {"SetSmart", "SetHDCache", "SetRebuildPriority", "SetAutoFlushFreq", "SetWriteBackCache"}) {
      sc->Add(meth, "m--", "60");
    }
    for (int i = 0; i < 3; ++i) {
      FakeNode* dd = sc->Folder("ch" + std::to_string(i), kNodeIdeChannel)->Folder("Disk" + std::to_string(i), kNodeSerialDisk);
      dd->Add("Channel", "pr-", std::to_string(i));
      dd->Add("Status", "prv", i == 2 ? "512" : "256");
    }
    FakeNode* sa = sc->Folder("Array1", kNodeSerialArray);
    sa->Add("RAID_Mode", "pr-", "RAID1(MIRROR)");
    sa->Add("Size", "pr-", "9.5 GB");
    sa->Add("Status", "prv", "0");
    sa->Add("ArrayConversion", "m--", "60");
    sa->Add("ArrayExpansion", "m--", "60");
    FakeNode* box = sc->Folder("Enclosure3", kNodeSerialEnclosure);
    const char* values[][2] = {{"Temp1", "-1"}, {"Temp2", "40"}, {"Temp3", "25"}, {"Volt5", "5020"},
                               {"Volt12", "12040"}, {"fanrpm1", "3100"}, {"fanrpm2", "30"}};
    for (auto& val : values) box->Add(val[0], "prv", val[1]);
    for (int i = 3; i <= 8; ++i) box->Add("fanrpm" + std::to_string(i), "prv", "-1");
    Start();
  }
};

TEST_F(PageViewsTest, DiskPageIsPaintedAndReadAloud) {
  DiskPage page(*doc);
  CDiskView form(page);
  form.presenter().ShowNode(Open("IOP1\\Channel0\\Disk0"));
  form.resize(400, 240);
  const QStringList texts = form.paintedTexts();
  EXPECT_TRUE(texts.contains(QStringLiteral("Warning  (Rebuilding)")));
  EXPECT_TRUE(texts.contains(QStringLiteral("UDMA-5")));
  EXPECT_TRUE(form.accessibleDescription().contains(QStringLiteral("Assigned to an array")));
  Shot(form, "disk");
  const QImage image = form.grab().toImage();
  // The status value is painted in green (0, 180, 0) somewhere on its row.
  bool green = false;
  for (int x = 175; x < 400 && !green; ++x) {
    for (int y = 40; y < 60 && !green; ++y) green = image.pixelColor(x, y) == QColor(0, 180, 0);
  }
  EXPECT_TRUE(green);
}

TEST_F(PageViewsTest, ArrayFormShowsAndSends) {
  ArrayPage page(*doc);
  CArrayView form(page);
  form.presenter().ShowNode(Open("IOP1\\Array0"));
  auto labels = form.findChildren<QLabel*>();
  bool size = false, status = false;
  for (QLabel* l : labels) {
    size |= l->text() == QStringLiteral("2097151 MB (2047.999 GB)");
    status |= l->text() == QStringLiteral("Synchronizing 37%");
  }
  EXPECT_TRUE(size && status);
  Shot(form, "array");
  for (QAbstractButton* b : form.findChildren<QAbstractButton*>()) {
    if (!qobject_cast<QCheckBox*>(b) && !qobject_cast<QPushButton*>(b)) continue;  // the cells' spin arrows
    EXPECT_FALSE(b->accessibleName().isEmpty()) << b->text().toStdString();
    if (b->text() == QStringLiteral("Automatic Sequential/Random Access Detection ")) b->click();
  }
  for (QAbstractButton* b : form.findChildren<QAbstractButton*>()) {
    if (b->text() == QStringLiteral("&Commit")) b->click();
  }
  EXPECT_EQ(Invoked(), std::vector<std::string>{"\\IOP1\\Array0|SetAutoSeqRandDet@1"});
}

TEST_F(PageViewsTest, ScreenshotsOfEveryPage) {
  {
    ControllerPage page(*doc);
    CCtrlrView form(page);
    form.presenter().ShowNode(Open("IOP1"));
    Shot(form, "controller");
  }
  {
    ChannelPage page(*doc);
    CChannelView form(page);
    form.presenter().ShowNode(Open("IOP1\\Channel0"));
    Shot(form, "channel");
  }
  {
    EnclosurePage page(*doc);
    CEnclosureView form(page);
    for (const char* s : {"Sensor0", "Sensor1", "Temp0"}) Open(std::string("IOP1\\Enclosure\\") + s);
    form.presenter().ShowNode(Open("IOP1\\Enclosure"));
    EXPECT_TRUE(form.accessibleDescription().contains(QStringLiteral("Channel 2")));
    Shot(form, "enclosure", QSize(1080, 660));
  }
  {
    ArrayPage page(*doc);
    CArrayView form(page);
    CVirtualFolder* ctl = Open("IOP1");
    Open("IOP1\\Channel0\\Disk0");
    doc->setFreeDiskAvailable(true);
    doc->SetCommandNode(ctl);
    doc->OnCommand(kCmdCreateArray);
    doc->SetCommandNode(nullptr);
    form.presenter().ShowNode(ctl->FindChild("New Array"));
    Shot(form, "array-create");
  }
  {
    SerialControllerPage page(*doc);
    CSorventicCtrlrView form(page);
    form.presenter().ShowNode(Open("SC0"));
    Shot(form, "serial-controller");
  }
  {
    SerialBoxPage page(*doc);
    CSorventicBoxView form(page);
    form.presenter().ShowNode(Open("SC0\\Enclosure3"));
    Shot(form, "serial-box");
  }
  {
    SerialArrayPage page(*doc);
    CSorventicArrayView form(page);
    for (int i = 0; i < 3; ++i) Open("SC0\\ch" + std::to_string(i) + "\\Disk" + std::to_string(i));
    form.presenter().ShowNode(Open("SC0\\Array1"));
    Shot(form, "serial-array");
  }
}

}  // namespace
}  // namespace kelm::console::testing
