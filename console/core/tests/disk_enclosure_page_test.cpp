// The painted disk and channel pages and the enclosure page, against the scripted agent.
#include "console/core/pages/disk_page.h"
#include "console/core/pages/enclosure_page.h"
#include "console/core/strings.h"
#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::DiskPage;
using pages::EnclosurePage;

class DiskEnclosureTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    for (const char* name : {"IOP1", "IOP2", "IOP3"}) {
      FakeNode* c = agent.root.Folder(name, kNodeIopController);
      c->Add("IsQx6", "pr-", name == std::string("IOP1") ? "1" : name == std::string("IOP2") ? "0" : "99");
      c->Add("GetSmart", "pr-", "1");
      FakeNode* d = c->Folder("Channel0", kNodeChannel)->Folder("Disk0", kNodeIopDisk);
      d->Add("model", "pr-", "QD-1000");
      d->Add("Size", "pr-", "9.31 GB");
      d->Add("Status", "prv", "-2147483135");  // 0x80000201
      d->Add("Timing_Mode", "pr-", "-2147483643");  // 0x80000005
    }
    FakeNode* e = agent.root.Child("IOP1")->Folder("Enclosure", kNodeEnclosure);
    e->Add("HardwareType", "pr-", "0");
    e->Add("BuzzStatus", "prv", "1");
    e->Add("NumEnclosures", "prv", "2");
    e->Add("SilentBuzzer", "m--", "80");
    e->Add("TurnOnBuzzer", "m--", "80");
    FakeNode* t = e->Folder("Temp0", kNodeTemperature);
    t->Add("Temperature", "prv", "100");
    const char* temps[] = {"100", "0", "122"};
    const char* rpms[] = {"51", "50", "-2"};
    const char* kinds[] = {"0", "17", "2"};
    for (int i = 0; i < 3; ++i) {
      FakeNode* s = e->Folder("Sensor" + std::to_string(i), kNodeSensorGroup);
      s->Add("Channel", "pr-", std::to_string(i + 1));
      s->Add("Temperature", "prv", temps[i]);
      s->Add("FanRPM", "prv", rpms[i]);
      s->Add("EnclosureType", "pr-", kinds[i]);
      s->Add("Power5VStatus", "prv", i == 0 ? "5000" : "-1");
      s->Add("Power12VStatus", "prv", "12040");
    }
    Start();
  }
};

TEST_F(DiskEnclosureTest, DiskTextsAndTheirPaint) {
  DiskPage page(*doc);
  struct Case {
    const char* ctl;
    const char* smart;
  } cases[] = {{"IOP1", "Functional"}, {"IOP2", "N/A"}, {"IOP3", "N/A"}};
  for (const Case& c : cases) {
    page.ShowNode(Open(std::string(c.ctl) + "\\Channel0\\Disk0"));
    EXPECT_EQ(page.texts().status, "Warning  (Rebuilding)");
    EXPECT_EQ(page.texts().mode, "UDMA-5");
    EXPECT_EQ(page.texts().configuration, "Assigned to an array");
    EXPECT_EQ(page.texts().smart, c.smart) << c.ctl;
  }
  page.ShowNode(Open("IOP1\\Channel0\\Disk0"));
  DrawList list;
  page.Paint(list, 400, 300);
  const auto& ops = list.ops();
  ASSERT_EQ(ops.size(), 1u + 6 * 3);
  EXPECT_EQ(ops[0].kind, DrawOp::Kind::FillRect);
  EXPECT_EQ(ops[0].colour, doc->display().backgroundColor);
  struct Row {
    int index;
    const char* text;
    int x, y;
    ColorRef colour;
  } rows[] = {
      {1, "Disk Model", 15, 10, doc->display().foregroundColor},
      {3, "QD-1000", 175, 10, doc->display().foregroundColor},
      {6, "Warning  (Rebuilding)", 175, 40, pages::kColourGreen},
      {9, "9.31 GB", 175, 70, pages::kColourValue},
      {12, "UDMA-5", 175, 100, pages::kColourValue},
      {15, "Assigned to an array", 175, 130, pages::kColourGreen},
      {16, "S.M.A.R.T Status", 15, 160, doc->display().foregroundColor},
      {17, ":", 150, 160, doc->display().foregroundColor},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ops[r.index].text, r.text);
    EXPECT_EQ(ops[r.index].rect.left, r.x) << r.text;
    EXPECT_EQ(ops[r.index].rect.top, r.y) << r.text;
    EXPECT_EQ(ops[r.index].colour, r.colour) << r.text;
  }
  EXPECT_EQ(ops[17].fontWeight, 300);
  // A failed disk is red; without S.M.A.R.T the row is not painted.
  agent.root.Child("IOP2")->Child("Channel0")->Child("Disk0")->Child("Status")->value = "-2147483646";
  CVirtualFolder* failed = Open("IOP2\\Channel0\\Disk0");
  failed->Reload();
  Pump();
  page.ShowNode(failed);
  page.Paint(list, 400, 300);
  ASSERT_EQ(list.ops().size(), 1u + 5 * 3);
  EXPECT_EQ(list.ops()[6].text, "Error");
  EXPECT_EQ(list.ops()[6].colour, pages::kColourRed);
  EXPECT_EQ(pages::kColourRed, 0x0000FFu);
}

TEST_F(DiskEnclosureTest, EnclosureSlotsAndBoxes) {
  EnclosurePage page(*doc);
  CVirtualFolder* encl = Open("IOP1\\Enclosure");
  for (int i = 0; i < 3; ++i) Open("IOP1\\Enclosure\\Sensor" + std::to_string(i));
  Open("IOP1\\Enclosure\\Temp0");
  page.ShowNode(encl);
  EXPECT_EQ(page.enclosurePicture(), pages::kBitmapEnclosure);
  const auto& t = page.temps()[0];
  EXPECT_TRUE(t.visible);
  EXPECT_EQ(t.text, "Temp:  122.0\xC2\xB0" "F/ 50.0\xC2\xB0" "C");
  EXPECT_EQ(t.picture, pages::kBitmapTempNormal);
  EXPECT_FALSE(page.fans()[0].visible);
  // NumEnclosures 2: the third box is not shown.
  const auto& b = page.boxes();
  EXPECT_TRUE(b[0].visible && b[1].visible);
  EXPECT_FALSE(b[2].visible);
  EXPECT_EQ(b[0].title, "Channel 2");
  EXPECT_EQ(b[0].kind, "Brindle66");
  EXPECT_EQ(b[0].temp.text, "Temp: 122.0 F/ 50.0 C");
  EXPECT_EQ(b[0].temp.picture, pages::kBitmapTempNormal);
  EXPECT_EQ(b[0].rpm, "51");
  EXPECT_TRUE(b[0].fan.animate);
  EXPECT_EQ(b[0].fan.text, "Working");
  EXPECT_EQ(b[0].volt5, "5.00");
  EXPECT_EQ(b[0].volt12, "12.04");
  EXPECT_EQ(b[1].kind, "Sorventic");
  EXPECT_EQ(b[1].temp.text, "Error");
  EXPECT_EQ(b[1].temp.picture, pages::kBitmapTempError);
  EXPECT_EQ(b[1].fan.text, "Error");
  EXPECT_FALSE(b[1].fan.animate);
  EXPECT_EQ(b[1].volt5, "Error");

  // A new reading of a sensor updates its box; a negative fan speed hides the fan.
  agent.root.Child("IOP1")->Child("Enclosure")->Child("Sensor1")->Child("FanRPM")->value = "-2";
  agent.root.Child("IOP1")->Child("Enclosure")->Child("Sensor1")->Child("Temperature")->value = "192";
  CVirtualFolder* s1 = Node("\\HOST7\\IOP1\\Enclosure\\Sensor1");
  s1->Reload();
  Pump();
  page.OnUpdate(kHintChildArrived, s1->FindChild("FanRPM"));
  EXPECT_FALSE(page.boxes()[1].fanShown);
  EXPECT_EQ(page.boxes()[1].rpm, "");
  EXPECT_EQ(page.boxes()[1].temp.picture, pages::kBitmapTempHot);

  // The painted texts sit under their slot windows.
  DrawList list;
  page.Paint(list, 900, 600);
  bool found = false;
  for (const DrawOp& op : list.ops()) {
    if (op.kind == DrawOp::Kind::Text && op.text == t.text) {
      found = true;
      const DrawRect w = EnclosurePage::TempRect(0);
      EXPECT_EQ(op.rect.top, w.bottom);
      EXPECT_EQ(op.rect.width(), EnclosurePage::kTextBoxWidth);
      EXPECT_EQ(op.rect.height(), 30);
      EXPECT_EQ((op.rect.left + op.rect.right) / 2, (w.left + w.right) / 2);
      EXPECT_TRUE(op.centred) << "the text is centred under its window";
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(DiskEnclosureTest, BuzzerTogglesByStateAndIsEnabledAgainOnTheReply) {
  EnclosurePage page(*doc);
  CVirtualFolder* encl = Open("IOP1\\Enclosure");
  page.ShowNode(encl);
  EXPECT_TRUE(page.buzzerEnabled());
  EXPECT_TRUE(page.buzzerOn());
  page.ToggleBuzzer();
  EXPECT_FALSE(page.buzzerEnabled());
  // The pane shows the node again after a reload while the invoke runs: still disabled, and a
  // second press sends nothing.
  page.ShowNode(encl);
  EXPECT_FALSE(page.buzzerEnabled());
  page.ToggleBuzzer();
  EXPECT_EQ(Invoked(), std::vector<std::string>{"\\IOP1\\Enclosure|SilentBuzzer@"});
  EXPECT_TRUE(page.buzzerEnabled());  // its final reply came
  agent.root.Child("IOP1")->Child("Enclosure")->Child("BuzzStatus")->value = "0";
  encl->Reload();
  Pump();
  page.ToggleBuzzer();
  EXPECT_EQ(Invoked(1), std::vector<std::string>{"\\IOP1\\Enclosure|TurnOnBuzzer@"});
  // An unknown state sends nothing; a failed invoke keeps the button enabled.
  agent.root.Child("IOP1")->Child("Enclosure")->Child("BuzzStatus")->value = "2";
  encl->Reload();
  Pump();
  page.ToggleBuzzer();
  EXPECT_EQ(Invoked().size(), 2u);
  agent.root.Child("IOP1")->Child("Enclosure")->Child("BuzzStatus")->value = "1";
  encl->Reload();
  Pump();
  encl->setOpen(false);
  page.ToggleBuzzer();
  EXPECT_TRUE(page.buzzerEnabled());
  EXPECT_EQ(Invoked().size(), 2u);
}

}  // namespace
}  // namespace kelm::console::testing
