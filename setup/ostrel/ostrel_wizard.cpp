#include "setup/ostrel/ostrel_wizard.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <iostream>

namespace kelm::setup {

namespace {

constexpr const char* kTitle = "Velkari Array Management Installation Wizard";  // string 104
constexpr const char* kWebAddress = "velkari.example";                           // string 105
constexpr const char* kWebUrl = "https://velkari.example/";
// Where the web address is painted; the link is the text's own rectangle there.
const QPoint kLinkAt(200, 240);
constexpr int kPageWidth = 520;
constexpr int kPageHeight = 280;

QString q(const std::string& s) { return QString::fromStdString(s); }

// One line on standard output: line breaks written as \n so that each question stays one line.
void scriptLine(const char* kind, const std::string& text) {
  std::string line = kind;
  line += ": ";
  for (char c : text) line += c == '\n' ? std::string("\\n") : std::string(1, c);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

QFont arialBold(int pixels) {
  QFont f("Arial");
  f.setPixelSize(pixels);
  f.setBold(true);
  return f;
}

QRect linkRect() {
  const QFontMetrics m(arialBold(16));
  return QRect(kLinkAt, QSize(m.horizontalAdvance(kWebAddress), m.height()));
}

}  // namespace

// ---- prompts, pacer, progress ----

bool QtPrompts::OkCancel(const std::string& text) {
  if (scripted_) {
    scriptLine("prompt", text);
    std::string answer;
    // No answer is no permission to go on.
    if (!std::getline(std::cin, answer)) return false;
    return answer == "ok";
  }
  return QMessageBox::question(parent_, "Ostrel", q(text), QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
         QMessageBox::Ok;
}

void QtPrompts::Message(const std::string& text) {
  if (scripted_) {
    scriptLine("message", text);
    return;
  }
  QMessageBox::information(parent_, "Ostrel", q(text));
}

void QtPacer::Pause(std::uint32_t ms) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(ms), &loop, &QEventLoop::quit);
  loop.exec();
}

CCopyProgressDlg::CCopyProgressDlg(QWidget* parent, bool scripted) : QDialog(parent), scripted_(scripted) {
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  text_ = new QLabel(this);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  layout->addWidget(text_);
  layout->addWidget(bar_);
  setMinimumWidth(360);
}

void CCopyProgressDlg::Show(const std::string& caption, const std::string& text) {
  if (scripted_) scriptLine("progress", caption);
  setWindowTitle(q(caption));
  text_->setText(q(text));
  show();
}

void CCopyProgressDlg::SetPercent(int percent) { bar_->setValue(percent); }

void CCopyProgressDlg::Hide() { hide(); }

// ---- page 1 ----

CSetupWizardStep1::CSetupWizardStep1(COstrelWizard* wizard, int probe) : QWizardPage(wizard) {
  // Wide enough for the title in whatever font stands in for Arial.
  const int titleWidth = QFontMetrics(arialBold(20)).horizontalAdvance(kTitle);
  setMinimumSize(std::max(kPageWidth, 22 + titleWidth + 22), kPageHeight);
  setMouseTracking(true);
  auto* intro = new QLabel(
      "This wizard prepares the installation of the Velkari array management software. Choose what to install, "
      "then click Next.",
      this);
  intro->setWordWrap(true);
  intro->setGeometry(22, 56, minimumWidth() - 44, 48);
  auto* label = new QLabel("Installation type:", this);
  label->setGeometry(22, 120, 200, 20);
  types_ = new QComboBox(this);
  for (int i = 0; i < kInstallTypeCount; ++i) types_->addItem(installTypeText(static_cast<InstallType>(i)));
  types_->setGeometry(22, 142, 240, 26);
  presenter_.OnInitDialog(probe);
  types_->setCurrentIndex(static_cast<int>(presenter_.type()));
  connect(types_, &QComboBox::currentIndexChanged, this, [this](int i) { presenter_.OnInstallTypeChange(i); });
}

int CSetupWizardStep1::nextId() const {
  return presenter_.NextPage() == 2 ? COstrelWizard::kStep2 : COstrelWizard::kStep3;
}

void CSetupWizardStep1::paintEvent(QPaintEvent* e) {
  QWizardPage::paintEvent(e);
  QPainter p(this);
  p.setFont(arialBold(20));
  p.drawText(QRect(22, 12, width() - 30, 32), Qt::AlignLeft | Qt::AlignTop, kTitle);
  p.setFont(arialBold(16));
  p.setPen(QColor(33, 140, 224));
  p.drawText(linkRect(), Qt::AlignLeft | Qt::AlignTop, kWebAddress);
}

void CSetupWizardStep1::mouseMoveEvent(QMouseEvent* e) {
  setCursor(linkRect().contains(e->position().toPoint()) ? Qt::PointingHandCursor : Qt::ArrowCursor);
  QWizardPage::mouseMoveEvent(e);
}

void CSetupWizardStep1::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && linkRect().contains(e->position().toPoint()))
    QDesktopServices::openUrl(QUrl(kWebUrl));
  QWizardPage::mousePressEvent(e);
}

// ---- page 2 ----

CSetupWizardStep2::CSetupWizardStep2(COstrelWizard* wizard) : QWizardPage(wizard), wizard_(wizard) {
  setMinimumSize(kPageWidth, kPageHeight);
  auto* outer = new QHBoxLayout(this);

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel("Components to install:", this));
  list_ = new QListWidget(this);
  for (int i = 0; i < kComponentCount; ++i) {
    auto* item = new QListWidgetItem(componentInfo(i).listText, list_);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(Qt::Unchecked);
  }
  left->addWidget(list_);
  selectAll_ = new QCheckBox("Select All", this);
  left->addWidget(selectAll_);
  outer->addLayout(left, 1);

  auto* right = new QVBoxLayout;
  auto* group = new QGroupBox("Program mode", this);
  auto* radios = new QVBoxLayout(group);
  for (int m = 0; m < kProgramModeCount; ++m) {
    modes_[static_cast<std::size_t>(m)] = new QRadioButton(programModeText(static_cast<ProgramMode>(m)), group);
    radios->addWidget(modes_[static_cast<std::size_t>(m)]);
  }
  right->addWidget(group);
  description_ = new QLabel(this);
  description_->setWordWrap(true);
  description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  description_->setMinimumHeight(52);
  right->addWidget(description_);
  auto* hwRow = new QHBoxLayout;
  hwRow->addWidget(new QLabel("Hardware:", this));
  hardware_ = new QComboBox(this);
  for (int h = 0; h < kHardwareCount; ++h) hardware_->addItem(hardwareText(static_cast<Hardware>(h)));
  hwRow->addWidget(hardware_, 1);
  right->addLayout(hwRow);
  right->addStretch();
  outer->addLayout(right, 1);

  for (int m = 0; m < kProgramModeCount; ++m)
    connect(modes_[static_cast<std::size_t>(m)], &QRadioButton::toggled, this, [this, m](bool on) {
      if (on && !showing_) SetMode(static_cast<ProgramMode>(m));
    });
  connect(hardware_, &QComboBox::currentIndexChanged, this, [this](int h) {
    if (!showing_ && h >= 0) SetHardware(static_cast<Hardware>(h));
  });
  connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (!showing_) SetMark(list_->row(item), item->checkState() == Qt::Checked);
  });
  connect(selectAll_, &QCheckBox::toggled, this, [this](bool on) {
    if (!showing_ && on) ClickSelectAll();
  });
}

void CSetupWizardStep2::initializePage() {
  if (initialised_) return;  // the choice stays when the administrator comes back
  initialised_ = true;
  presenter_.OnInitDialog();
  Show();
}

void CSetupWizardStep2::SetMode(ProgramMode m) {
  presenter_.SetMode(m);
  Show();
}
void CSetupWizardStep2::SetHardware(Hardware h) {
  presenter_.SetHardware(h);
  Show();
}
void CSetupWizardStep2::SetMark(int index, bool on) {
  presenter_.SetMark(index, on);
  Show();
}
void CSetupWizardStep2::ClickSelectAll() {
  presenter_.SelectAll();
  Show();
}

void CSetupWizardStep2::Show() {
  showing_ = true;
  for (int i = 0; i < kComponentCount; ++i)
    list_->item(i)->setCheckState(presenter_.marks()[static_cast<std::size_t>(i)] ? Qt::Checked : Qt::Unchecked);
  list_->setEnabled(presenter_.listEnabled());
  selectAll_->setChecked(presenter_.selectAllChecked());
  selectAll_->setEnabled(presenter_.selectAllEnabled());
  modes_[static_cast<std::size_t>(presenter_.mode())]->setChecked(true);
  description_->setText(presenter_.description());
  hardware_->setCurrentIndex(static_cast<int>(presenter_.hardware()));
  hardware_->setEnabled(presenter_.hardwareEnabled());
  showing_ = false;
}

bool CSetupWizardStep2::validatePage() {
  const std::string refusal = presenter_.OnWizardNext();
  if (refusal.empty()) return true;
  wizard_->prompts().Message(refusal);
  return false;
}

int CSetupWizardStep2::nextId() const { return COstrelWizard::kStep3; }

// ---- page 3 ----

CSetupWizardStep3::CSetupWizardStep3(COstrelWizard* wizard) : QWizardPage(wizard), wizard_(wizard) {
  setMinimumSize(kPageWidth, kPageHeight);
  setFinalPage(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(22, 48, 22, 8);
  auto* form = new QFormLayout;
  hardware_ = new QLabel(this);
  mode_ = new QLabel(this);
  components_ = new QLabel(this);
  components_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  form->addRow("Hardware:", hardware_);
  form->addRow("Program mode:", mode_);
  form->addRow("Components:", components_);
  layout->addLayout(form);
  layout->addStretch();
  layout->addWidget(new QLabel("Click Finish to stop the running services and start the installation.", this));
}

void CSetupWizardStep3::initializePage() {
  const InstallType type = wizard_->step1()->presenter().type();
  summary_ = SummaryFor(type, wizard_->step2()->presenter());
  hardware_->setText(q(summary_.hardware));
  mode_->setText(q(summary_.mode));
  components_->setText(q(summary_.components));
  update();
}

void CSetupWizardStep3::paintEvent(QPaintEvent* e) {
  QWizardPage::paintEvent(e);
  QPainter p(this);
  p.setFont(arialBold(18));
  p.drawText(QRect(22, 10, width() - 30, 30), Qt::AlignLeft | Qt::AlignTop,
             q(SummaryHeading(wizard_->step1()->presenter().type())));
}

bool CSetupWizardStep3::validatePage() {
  if (wizard_->busy()) return false;
  wizard_->setBusy(true);
  const auto outcome = wizard_->finish().OnWizardFinish(summary_.install);
  wizard_->setBusy(false);
  if (outcome == FinishOrchestrator::Outcome::kStay) return false;
  wizard_->setFinished();
  return true;
}

// ---- the wizard ----

COstrelWizard::COstrelWizard(std::unique_ptr<FinishOrchestrator> finish, Prompts& prompts, int probe)
    : finish_(std::move(finish)), prompts_(prompts) {
  setWindowTitle("Velkari Array Management Setup");
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::NoBackButtonOnStartPage, true);
  setOption(QWizard::HaveCustomButton1, true);
  setButtonText(QWizard::CustomButton1, "&About Ostrel...");
  connect(this, &QWizard::customButtonClicked, this, [this](int which) {
    if (which == QWizard::CustomButton1) ShowAbout();
  });
  step1_ = new CSetupWizardStep1(this, probe);
  step2_ = new CSetupWizardStep2(this);
  step3_ = new CSetupWizardStep3(this);
  setPage(kStep1, step1_);
  setPage(kStep2, step2_);
  setPage(kStep3, step3_);
  setStartId(kStep1);
  // Room for the widest page and the buttons below it, whatever the platform's window manager does.
  setMinimumSize(step1_->minimumWidth() + 24, kPageHeight + 80);
  resize(minimumSize().expandedTo(sizeHint()));
}

void COstrelWizard::setBusy(bool busy) {
  busy_ = busy;
  for (auto b : {QWizard::BackButton, QWizard::FinishButton, QWizard::CancelButton, QWizard::CustomButton1})
    if (auto* w = button(b)) w->setEnabled(!busy);
}

void COstrelWizard::reject() {
  if (!busy_) QWizard::reject();
}

void COstrelWizard::ShowAbout() {
  QMessageBox::about(this, "About Ostrel", "Ostrel, the Velkari array management setup\nVersion " KELM_SETUP_VERSION);
}

std::string RunScriptCommand(COstrelWizard& wizard, const std::string& line) {
  const auto space = line.find(' ');
  const std::string cmd = line.substr(0, space);
  const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
  const auto indexOf = [&](int count, const char* (*text)(int)) {
    for (int i = 0; i < count; ++i)
      if (arg == text(i) || arg + " " == text(i)) return i;
    return -1;
  };
  if (cmd == "type") {
    int i = indexOf(kInstallTypeCount, [](int k) { return installTypeText(static_cast<InstallType>(k)); });
    if (i < 0) return "no installation type '" + arg + "'";
    wizard.step1()->typeList()->setCurrentIndex(i);
  } else if (cmd == "mode") {
    int i = indexOf(kProgramModeCount, [](int k) { return programModeText(static_cast<ProgramMode>(k)); });
    if (i < 0) return "no program mode '" + arg + "'";
    wizard.step2()->SetMode(static_cast<ProgramMode>(i));
  } else if (cmd == "hardware") {
    int i = indexOf(kHardwareCount, [](int k) { return hardwareText(static_cast<Hardware>(k)); });
    if (i < 0) return "no hardware '" + arg + "'";
    wizard.step2()->SetHardware(static_cast<Hardware>(i));
  } else if (cmd == "mark") {
    const auto sp = arg.find(' ');
    const int index = std::atoi(arg.substr(0, sp).c_str());
    if (sp == std::string::npos || index < 0 || index >= kComponentCount) return "mark needs INDEX on|off";
    wizard.step2()->SetMark(index, arg.substr(sp + 1) == "on");
  } else if (cmd == "selectall") {
    wizard.step2()->ClickSelectAll();
  } else if (cmd == "next") {
    wizard.button(QWizard::NextButton)->click();
  } else if (cmd == "back") {
    wizard.button(QWizard::BackButton)->click();
  } else if (cmd == "finish") {
    wizard.button(QWizard::FinishButton)->click();
  } else if (cmd == "cancel") {
    wizard.reject();
  } else {
    return "unknown command '" + line + "'";
  }
  return {};
}

}  // namespace kelm::setup
