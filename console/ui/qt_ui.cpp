#include "console/ui/qt_ui.h"

#include "console/dialogs/console_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QTimer>
#include <QtGlobal>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "console/controls/animate_static.h"
#include "console/core/strings.h"
#include "console/ui/art.h"
#include "console/ui/main_frame.h"

namespace kelm::console::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::int32_t Get32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(d[at]) | static_cast<std::uint32_t>(d[at + 1]) << 8 |
                                   static_cast<std::uint32_t>(d[at + 2]) << 16 |
                                   static_cast<std::uint32_t>(d[at + 3]) << 24);
}

void Put32(std::vector<std::uint8_t>& d, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) d[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

}  // namespace

QColor FromColorRef(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

ColorRef ToColorRef(const QColor& c) {
  return Rgb(static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
             static_cast<std::uint8_t>(c.blue()));
}

std::optional<QFont> FontFromDescription(const std::vector<std::uint8_t>& d) {
  if (d.size() != kFontDescriptionSize) return std::nullopt;
  const std::int32_t height = Get32(d, 0);
  const std::int32_t weight = std::clamp(Get32(d, 16), 0, 1000);
  const char* face = reinterpret_cast<const char*>(d.data() + 28);
  const std::size_t len = strnlen(face, 32);
  QFont f(QString::fromLatin1(face, static_cast<int>(len)));
  // Heights are pixels; either sign names the size (cell or character height).
  const long px = height == std::numeric_limits<std::int32_t>::min() ? 0 : std::labs(height);
  if (px > 0) f.setPixelSize(static_cast<int>(std::clamp<long>(px, 1, 400)));
  f.setWeight(static_cast<QFont::Weight>(std::clamp(weight == 0 ? 400 : weight, 1, 1000)));
  f.setItalic(d[20] != 0);
  f.setUnderline(d[21] != 0);
  f.setStrikeOut(d[22] != 0);
  return f;
}

std::vector<std::uint8_t> DescriptionFromFont(const QFont& f) {
  std::vector<std::uint8_t> d(kFontDescriptionSize, 0);
  int px = f.pixelSize();
  if (px <= 0) px = static_cast<int>(f.pointSizeF() * 96.0 / 72.0 + 0.5);
  Put32(d, 0, -px);
  Put32(d, 16, std::clamp(static_cast<int>(f.weight()), 0, 1000));
  d[20] = f.italic() ? 1 : 0;
  d[21] = f.underline() ? 1 : 0;
  d[22] = f.strikeOut() ? 1 : 0;
  const QByteArray face = f.family().toLatin1().left(31);
  std::memcpy(d.data() + 28, face.constData(), static_cast<std::size_t>(face.size()));
  return d;
}

// ---- Login dialog ----

CLoginDlg::CLoginDlg(const QString& userName, const QString& agentName, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("LoginDialog"));
  setWindowTitle(QStringLiteral("Login to ") + agentName);
  auto* top = new QHBoxLayout;
  animation_ = new controls::CAnimateStatic(this);
  animation_->LoadFrames(LoginAnimationStrip(), qRgb(255, 255, 255), 4, 500);
  animation_->setAccessibleName(QStringLiteral("Login animation"));
  top->addWidget(animation_, 0, Qt::AlignTop);
  auto* form = new QFormLayout;
  user_ = new QLineEdit(userName, this);
  user_->setObjectName(QStringLiteral("Username"));
  user_->setMaxLength(64);
  password_ = new QLineEdit(this);
  password_->setObjectName(QStringLiteral("Password"));
  password_->setEchoMode(QLineEdit::Password);
  password_->setMaxLength(64);
  form->addRow(QStringLiteral("Username:"), user_);
  form->addRow(QStringLiteral("Password:"), password_);
  save_ = new QCheckBox(QStringLiteral("Save password"), this);
  form->addRow(QString(), save_);
  top->addLayout(form, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  (userName.isEmpty() ? user_ : password_)->setFocus();
  setMinimumWidth(340);
}

LoginInput CLoginDlg::input() const {
  return LoginInput{user_->text().toStdString(), password_->text().toStdString(), save_->isChecked()};
}

// ---- font picker ----

CFontPickDlg::CFontPickDlg(const QFont& font, const QColor& colour, QWidget* parent)
    : QDialog(parent), colour_(colour) {
  setWindowTitle(QStringLiteral("Font"));
  auto* layout = new QVBoxLayout(this);
  fonts_ = new QFontDialog(font, this);
  fonts_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
  fonts_->setWindowFlags(Qt::Widget);
  layout->addWidget(fonts_);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Color:"), this));
  colourButton_ = new QPushButton(this);
  colourButton_->setObjectName(QStringLiteral("TextColour"));
  colourButton_->setAccessibleName(QStringLiteral("Text color"));
  connect(colourButton_, &QPushButton::clicked, this, [this] {
    const QColor c = QColorDialog::getColor(colour_, this, QStringLiteral("Text color"));
    if (c.isValid()) {
      colour_ = c;
      showColour();
    }
  });
  row->addWidget(colourButton_);
  row->addStretch(1);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  showColour();
}

QFont CFontPickDlg::font() const { return fonts_->currentFont(); }

void CFontPickDlg::showColour() {
  QPixmap swatch(40, 14);
  swatch.fill(colour_);
  colourButton_->setIcon(QIcon(swatch));
  colourButton_->setIconSize(swatch.size());
  colourButton_->setText(colour_.name());
}

// ---- the services ----

QWidget* QtUiServices::parentWidget() const {
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  return frame_;
}

int QtUiServices::MessageBox(const MessageBoxRequest& r) {
  if (messageOverride) return messageOverride(r);
  QMessageBox box(parentWidget());
  box.setWindowTitle(Q(r.caption.empty() ? std::string(LoadString(kStrAppTitle)) : r.caption));
  box.setText(Q(r.text.empty() && r.stringId ? std::string(LoadString(r.stringId)) : r.text));
  switch (r.icon) {
    case MsgIcon::Stop: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::None: break;
  }
  switch (r.buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  }
  if (r.systemModal) {
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return kIdYes;
    case QMessageBox::No: return kIdNo;
    case QMessageBox::Ok: return kIdOk;
    default: return kIdCancel;
  }
}

void QtUiServices::Beep(std::uint32_t) {
  ++beeps_;
  QApplication::beep();
}

void QtUiServices::SetWaitCursor(bool on) {
  if (on) {
    ++waitDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (waitDepth_ > 0) {
    --waitDepth_;
    QApplication::restoreOverrideCursor();
  }
}

void QtUiServices::SetUserText(const std::string& text) {
  if (frame_ && frame_->status()) frame_->status()->user()->setText(Q(text));
}

void QtUiServices::SetActivity(int value) {
  if (frame_ && frame_->status()) frame_->status()->activity()->setValue(value);
}

std::optional<FontChoice> QtUiServices::PickFont(const FontChoice& start) {
  const QFont font = FontFromDescription(start.description).value_or(QApplication::font());
  CFontPickDlg dlg(font, FromColorRef(start.colour), parentWidget());
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return FontChoice{DescriptionFromFont(dlg.font()), ToColorRef(dlg.colour())};
}

std::optional<std::string> QtUiServices::PickSaveFile(const std::string& defaultName, const std::string& defaultExt,
                                                      const std::string& filter) {
  // "Text (*.x)|*.x|All Files (*.*)|*.*||" becomes Qt's "Text (*.x);;All Files (*.*)".
  QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (!parts[i].isEmpty()) filters << parts[i];
  }
  QFileDialog dlg(parentWidget(), QString(), Q(defaultName), filters.join(QStringLiteral(";;")));
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setDefaultSuffix(Q(defaultExt));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
  return dlg.selectedFiles().front().toStdString();
}

namespace {

SplitterMode ModeOf(int m) {
  if (m == CReinSplitterWnd::kListPane) return SplitterMode::ListOnly;
  if (m == CReinSplitterWnd::kPropertyPane) return SplitterMode::PropertyOnly;
  return SplitterMode::BothPanes;
}

}  // namespace

SplitterMode QtUiServices::ShowOnlyPane(SplitterPane pane) {
  if (!frame_ || !frame_->splitter()) return SplitterMode::BothPanes;
  return ModeOf(frame_->splitter()->ShowOnlyPane(pane == SplitterPane::List ? CReinSplitterWnd::kListPane
                                                                            : CReinSplitterWnd::kPropertyPane));
}

SplitterMode QtUiServices::ShowAllPanes() {
  if (!frame_ || !frame_->splitter()) return SplitterMode::BothPanes;
  return ModeOf(frame_->splitter()->ShowAllPanes());
}

std::optional<CreateArrayOptions> QtUiServices::RunCreateArrayOptions() {
  QDialog dlg(parentWidget());
  dlg.setWindowTitle(QStringLiteral("Option for Create Array"));
  auto* layout = new QVBoxLayout(&dlg);
  auto* init = new QCheckBox(QStringLiteral("Enable Initialization"), &dlg);
  init->setChecked(true);
  auto* gb = new QCheckBox(QStringLiteral("1 GB = 1000 MB"), &dlg);
  gb->setChecked(true);
  layout->addWidget(init);
  layout->addWidget(gb);
  auto* buttons = new QDialogButtonBox(&dlg);
  buttons->addButton(QStringLiteral("Commit"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  layout->addWidget(buttons);
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return CreateArrayOptions{init->isChecked(), gb->isChecked()};
}

void QtUiServices::CloseMainWindow() {
  if (CMainFrame* f = frame_) QTimer::singleShot(0, f, [f] { f->close(); });
}

bool QtUiServices::RebootMachine() {
  auto done = rebooter_->Reboot();
  // The page shows only "Reboot Fail!": the reason goes to the log.
  if (!done) qWarning("kelm: %s", done.message().c_str());
  return done.ok();
}

std::optional<ColorRef> QtUiServices::PickColour(ColorRef start) {
  const QColor c = QColorDialog::getColor(FromColorRef(start), parentWidget());
  if (!c.isValid()) return std::nullopt;
  return ToColorRef(c);
}

std::optional<LoginInput> QtUiServices::RunLoginDialog(const std::string& userName, const std::string& agentName) {
  if (loginOverride) return loginOverride(userName, agentName);
  CLoginDlg dlg(Q(userName), Q(agentName), parentWidget());
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return dlg.input();
}

void QtUiServices::FocusOutline() {
  if (frame_) frame_->outline()->setFocus(Qt::OtherFocusReason);
}

void QtUiServices::SelectInOutline(CPea* node) {
  if (frame_) frame_->outline()->SelectNode(node);
}

void QtUiServices::EditLabel(CPea* node) {
  if (frame_) frame_->outline()->EditNodeLabel(node);
}

void QtUiServices::OpenRebuildWizard(CPea* array, CPea* disk) {
  if (!frame_ || !array) return;
  // The nodes stay counted for the whole modal loop, in which listings can prune them.
  PeaRef<CPea> keepArray(array), keepDisk(disk);
  dialogs::CRebuildWizard wizard(frame_->doc(), array, disk, parentWidget());
  wizard.exec();
}

void QtUiServices::OpenEventViewer(CPea* node) {
  if (!frame_ || !node) return;
  PeaRef<CPea> keep(node);
  dialogs::CEventViewerDlg viewer(frame_->doc(), node, parentWidget());
  viewer.exec();
}

}  // namespace kelm::console::ui
