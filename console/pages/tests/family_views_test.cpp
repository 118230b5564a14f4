// The Qt forms of the agent's settings page, the RAID system page and the IDE family's pages: what
// they show and read aloud, and a screenshot of each kept as a test artefact.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QLabel>
#include <QTest>

#include "console/pages/tests/form_test.h"
#include "console/controls/time_edit.h"
#include "console/pages/family_views.h"

namespace kelm::console::testing {
namespace {

using namespace pages;

class FamilyViewsTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    FakeNode& r = agent.root;
    const char* values[][2] = {{"FileVersion", "2.10"},
                               {"bEmailEnable", "1"},
                               {"ReceiptorList", "\"Doe, John\" <j@x.y>,\"Ann\" <a@b.c>"},
                               {"SMTPServer", "mail.example"},
                               {"EmailID", "\"Kelm\" <kelm@x.y>"},
                               {"IPAddress", "127.0.0.1"},
                               {"NTEventLog", "1"},
                               {"GetEmailInterval", "3"},
                               {"EmailProtection", "1"},
                               {"TestEvent", "523"}};
    for (auto& v : values) r.Add(v[0], "prw", v[1]);
    for (const char* m : {"SetProperty", "AddReceiptor", "DelReceiptor", "SetEmailNoticeList", "SetReportNoticeList",
                          "SetVerifySchedule", "GetEmailNoticeList", "GetReportNoticeList", "GetVerifySchedule"}) {
      r.Add(m, "m--", "64");
    }
    agent.answers["GetEmailNoticeList"].partials = {"GetEmailNoticeList@0@3@256@257@530"};
    agent.answers["GetReportNoticeList"].partials = {"GetReportNoticeList@0@1@523"};
    agent.answers["GetVerifySchedule"].partials = {"GetVerifySchedule@0@1@2@0@22@0"};
    FakeNode* sys = r.Folder("RAID", kNodeRaidSystem);
    sys->Add("Type", "pr-", "VELKARI SorventicRAID");
    sys->Add("ComportStatus", "prv", "Connected");
    sys->Add("FileVersion", "pr-", "1.07");
    sys->Add("connectComPort", "m--", "64");
    sys->Add("disconnectComPort", "m--", "64");
    FakeNode* c = r.Folder("MV0", kNodeIdeController);
    const char* cv[][2] = {{"IRQ", "11"},       {"HardWare", "MV-133"}, {"BMB", "0xD000"},     {"RBA", "0xC8000"},
                           {"DV", "1.20"},      {"GetSmart", "1"},      {"GetPCIBus", "25"},   {"GetCachePolicy", "1"},
                           {"GetDisableHotSpare", "0"}, {"GetMaintenanceRate", "16"}};
    for (auto& v : cv) c->Add(v[0], "prv", v[1]);
    for (const char* m : {"SetSmart", "SetPCIBus", "SetCachePolicy", "SetDisableHotSpare", "SetMaintenanceRate"}) {
      c->Add(m, "m--", "64");
    }
    FakeNode* a = c->Folder("Array1", kNodeIdeArray);
    const char* av[][2] = {{"RAID_Mode", "STRIPING"}, {"Size", "19.1 GB"}, {"percent", "37"}, {"Status", "256"},
                           {"Block Size", "64 (kb)"}, {"Cyls", "2491"},    {"Heads", "255"},  {"Sectors", "63"}};
    for (auto& v : av) a->Add(v[0], "prv", v[1]);
    FakeNode* d = c->Folder("Channel0", kNodeIdeChannel)->Folder("Disk0", kNodeIdeDisk);
    const char* dv[][2] = {{"model", "QM-2000"},  {"Size", "9.5 GB"}, {"Status", "512"}, {"Rebuild", "1"},
                           {"Timing_Mode", "UDMA Mode 5"}, {"smart", "Functional"}};
    for (auto& v : dv) d->Add(v[0], "prv", v[1]);
    Start();
  }
};

TEST_F(FamilyViewsTest, ScreenshotsOfTheAgentSystemAndIdePages) {
  {
    AgentSettingsPage page(*doc);
    CRAIDMachineView form(page);
    form.presenter().ShowNode(Agent());
    Pump();
    QApplication::processEvents();
    auto* sender = form.findChild<QLineEdit*>();
    ASSERT_NE(sender, nullptr);
    EXPECT_EQ(form.presenter().controls().recipients.size(), 2u);
    bool logSwitch = false;
    for (auto* b : form.findChildren<QAbstractButton*>()) {
      logSwitch |= b->accessibleName() == QStringLiteral("Write events to the system log") && b->isChecked();
    }
    EXPECT_TRUE(logSwitch);
    Shot(form, "agent", QSize(1000, 720));
  }
  {
    RaidSystemPage page(*doc);
    CRAIDSystemView form(page);
    form.presenter().ShowNode(Open("RAID"));
    Shot(form, "raid-system", QSize(500, 200));
  }
  {
    IdeControllerPage page(*doc);
    CMaroveltCtrlrView form(page);
    form.presenter().ShowNode(Open("MV0"));
    Shot(form, "ide-controller", QSize(760, 360));
  }
  {
    IdeArrayPage page(*doc);
    CMaroveltArrayView form(page);
    form.presenter().ShowNode(Open("MV0\\Array1"));
    form.resize(500, 260);
    EXPECT_TRUE(form.paintedTexts().contains(QStringLiteral("Synchronizing 37%")));
    Shot(form, "ide-array", QSize(500, 260));
  }
  {
    IdeDiskPage page(*doc);
    CMaroveltDiskView form(page);
    Open("MV0\\Channel0");
    form.presenter().ShowNode(Open("MV0\\Channel0\\Disk0"));
    form.resize(500, 260);
    EXPECT_TRUE(form.accessibleDescription().contains(QStringLiteral("(Rebuilding)")));
    Shot(form, "ide-disk", QSize(500, 260));
  }
}

// The schedule's buttons, weekday list, time editor and count reach the presenter and what Apply sends.
TEST_F(FamilyViewsTest, TheScheduleControlsSendWhatTheyShow) {
  AgentSettingsPage page(*doc);
  CRAIDMachineView form(page);
  form.presenter().ShowNode(Agent());
  Pump();
  const auto named = [&](const QString& name) -> QWidget* {
    for (auto* w : form.findChildren<QWidget*>()) {
      if (w->accessibleName() == name) return w;
    }
    ADD_FAILURE() << "nothing reads as " << name.toStdString();
    return nullptr;
  };
  const auto apply = [&] {
    const std::size_t mark = agent.invoked.size();
    if (auto* b = qobject_cast<QPushButton*>(named(QStringLiteral("Apply verify schedule")))) b->click();
    return Invoked(mark);
  };
  auto* weekday = qobject_cast<QComboBox*>(named(QStringLiteral("Weekday")));
  auto* time = qobject_cast<controls::CTimeEdit*>(named(QStringLiteral("Time")));
  ASSERT_TRUE(weekday && time);
  // As read: weekly, SUNDAY, 22:00.
  EXPECT_EQ(weekday->currentText(), QStringLiteral("SUNDAY"));
  EXPECT_EQ(time->hourEdit()->text(), QStringLiteral("22"));
  weekday->setCurrentIndex(3);
  emit weekday->activated(3);
  time->minuteEdit()->setText(QStringLiteral("15"));
  EXPECT_EQ(apply(), (std::vector<std::string>{"\\|SetVerifySchedule@1@2@3@22@15", "\\|GetVerifySchedule@"}));

  static_cast<QAbstractButton*>(named(QStringLiteral("Every n hours")))->click();
  qobject_cast<QSpinBox*>(named(QStringLiteral("Every")))->setValue(6);
  EXPECT_EQ(apply(), (std::vector<std::string>{"\\|SetVerifySchedule@1@5@6", "\\|GetVerifySchedule@"}));
}

// The IDE channel's own page exists for its class alone: it paints the background and nothing else.
TEST_F(FamilyViewsTest, TheIdeChannelPagePaintsOnlyItsBackground) {
  ChannelPage page(*doc);
  CMaroveltChannelView form(page);
  form.presenter().ShowNode(Open("MV0\\Channel0"));
  form.resize(300, 200);
  form.show();
  QApplication::processEvents();
  EXPECT_TRUE(form.paintedTexts().isEmpty());
  const QImage image = form.grab().toImage();
  const QColor background = ToQColor(doc->display().backgroundColor);
  for (int y = 0; y < image.height(); y += 7) {
    for (int x = 0; x < image.width(); x += 7) ASSERT_EQ(image.pixelColor(x, y), background) << x << "," << y;
  }
}

}  // namespace
}  // namespace kelm::console::testing
