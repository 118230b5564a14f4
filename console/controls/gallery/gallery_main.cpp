// kelm-controls-gallery: every console control in one window, for a look and for the screenshot
// the tests keep. With --screenshot FILE it saves the window once it is shown, and exits.
#include <QApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "console/controls/animate_static.h"
#include "console/controls/flat_toolbar.h"
#include "console/controls/ip_address_edit.h"
#include "console/controls/list_ctrls.h"
#include "console/controls/size_dock.h"
#include "console/controls/spin_edit_cell.h"
#include "console/controls/time_edit.h"

using namespace kelm::controls;

namespace {

const QString kStrip = QStringLiteral(":/kelm/controls/sample_toolbar.xpm");

// One glyph in each state the bar can draw, side by side with its name.
QWidget* buttonStates(const SysColors& colors) {
  auto* box = new QGroupBox(QStringLiteral("Tool bar button states"));
  auto* grid = new QGridLayout(box);
  const QImage strip = recolorGlyphs(QImage(kStrip), colors);
  const std::pair<const char*, std::uint32_t> states[] = {
      {"flat", 0},
      {"hot", kStyleHot},
      {"pressed", kStylePressed},
      {"checked", kStyleChecked},
      {"disabled", kStyleDisabled},
      {"indeterminate", kStyleIndeterminate},
      {"checked, disabled", kStyleChecked | kStyleDisabled},
  };
  int col = 0;
  for (const auto& [name, style] : states) {
    auto* pic = new QLabel;
    const QImage b = renderButton(strip, ToolbarMetrics{}, 2, style, colors);
    pic->setPixmap(QPixmap::fromImage(b.scaled(b.size() * 2)));
    pic->setAlignment(Qt::AlignCenter);
    grid->addWidget(pic, 0, col);
    auto* label = new QLabel(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    grid->addWidget(label, 1, col++);
  }
  return box;
}

QWidget* controlsPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout;

  auto addCell = [form](const char* label, CSpinEditCell* cell, int value, int min, int max, int step, int mode) {
    cell->setFixedSize(90, 24);
    cell->Setup(value, min, max, step, mode);
    form->addRow(QString::fromLatin1(label), cell);
  };
  addCell("Block size (power steps):", new CSpinEditCell, 16, 4, 64, 2, kSpinPower);
  addCell("Interval (steps of 5):", new CSpinEditCell, 30, 0, 100, 5, kSpinLinear);
  addCell("Fixed (no spin):", new CSpinEditCell, 7, 0, 10, 0, kSpinLinear);
  addCell("Day of month:", new CSpinEditCellEx, 22, 1, 31, 1, kSpinLinear);

  auto* time24 = new CTimeEdit;
  time24->setFixedSize(150, 24);
  time24->Create(17, 5, 30, kTimeHour | kTimeMinute | kTimeSecond);
  form->addRow(QStringLiteral("Time (24-hour):"), time24);

  auto* time12 = new CTimeEdit;
  time12->setFixedSize(170, 24);
  time12->Create(12, 30, 0, kTimeHour | kTimeMinute | kTime12Hour);
  form->addRow(QStringLiteral("Time (12-hour):"), time12);

  auto* address = new CIPAddressEdit;
  address->setFixedSize(150, 24);
  address->CreateFields();
  address->SetAddress(192, 168, 10, 25);
  form->addRow(QStringLiteral("Mail server address:"), address);

  auto* disabled = new CIPAddressEdit;
  disabled->setFixedSize(150, 24);
  disabled->CreateFields();
  disabled->DisableFields();
  form->addRow(QStringLiteral("Address (disabled):"), disabled);

  auto* anim = new CAnimateStatic;
  anim->LoadFrames(QImage(QStringLiteral(":/kelm/controls/spinner.xpm")), 0xFFFF00FF, 8, 120);
  form->addRow(QStringLiteral("Animation:"), anim);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(buttonStates(SysColors::fromPalette(page->palette())));
  layout->addStretch();
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString shot;
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == QLatin1String("--screenshot")) shot = args[i + 1];
  }

  CSizeDockFrame frame;
  frame.setWindowTitle(QStringLiteral("Kelm controls"));
  frame.setCentralWidget(controlsPage());
  frame.resize(1000, 700);

  auto* host = new CFlatToolbarHost(QStringLiteral("Tool bar"), &frame);
  CFlatToolbar* bar = host->bar();
  bar->SetButtons({101, 102, 0, 103, 104, 0, 105, 106});
  bar->LoadBitmap(kStrip);
  bar->setCmdUiUpdater([](CFlatToolCmdUI& ui) {
    if (ui.id() == 103) ui.Enable(false);
    if (ui.id() == 105) ui.SetCheck(1);
    if (ui.id() == 106) ui.SetCheck(2);
  });
  bar->updateCommandUi();
  frame.addToolBar(Qt::TopToolBarArea, host);
  QObject::connect(bar, &CFlatToolbar::command, &frame,
                   [&frame](int id) { frame.statusBar()->showMessage(QStringLiteral("Command %1").arg(id), 2000); });

  auto* outline = new CSizeControlBar(QStringLiteral("Outline"), &frame);
  outline->Create(&frame);
  auto* tree = new CStaticHeaderListCtrl;
  tree->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Status")});
  tree->DisableHeaderButtons();
  for (const char* n : {"Server", "RAID system", "Controller 1", "Array 0", "Disk 0:1"}) {
    auto* item = new QTreeWidgetItem(tree, {QString::fromLatin1(n), QStringLiteral("Functional")});
    (void)item;
  }
  outline->setWidget(tree);
  frame.addSizeBar(Qt::LeftDockWidgetArea, outline);

  auto* notices = new CSizeControlBar(QStringLiteral("Notices"), &frame);
  notices->Create(&frame);
  auto* grid = new CNoticeListCtrl;
  notices->setWidget(grid);
  frame.addSizeBar(Qt::BottomDockWidgetArea, notices);
  frame.EnableDocking(Qt::AllDockWidgetAreas);
  grid->resize(600, 120);
  grid->SetColumns(4, {QStringLiteral("Event"), QStringLiteral("Mail"), QStringLiteral("Log"), QStringLiteral("Pop-up")});
  grid->FindOrAddItem(QStringLiteral("Disk failed"), {0, 1, 1, 0});
  grid->FindOrAddItem(QStringLiteral("Rebuild finished"), {0, 0, 1, 1});
  grid->FindOrAddItem(QStringLiteral("Array critical"), {0, 1, 1, 1});

  frame.statusBar()->showMessage(QStringLiteral("Ready"));
  frame.show();

  if (!shot.isEmpty()) {
    QTimer::singleShot(500, &frame, [&frame, &shot] {
      frame.fitRows();
      QApplication::processEvents();
      const QImage img = frame.grab().toImage();
      const bool ok = !img.isNull() && img.save(shot);
      std::fprintf(ok ? stdout : stderr, "%s %s (%dx%d)\n", ok ? "saved" : "cannot save", qPrintable(shot),
                   img.width(), img.height());
      QApplication::exit(ok ? 0 : 1);
    });
  }
  return QApplication::exec();
}
