#include "console/dialogs/console_dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "console/core/avi_reader.h"
#include "console/core/document.h"

namespace kelm::console::dialogs {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The "&Commit" and "&Reset" row of an editing page, at its left.
QHBoxLayout* CommitResetRow(QPushButton*& commit, QPushButton*& reset) {
  commit = new QPushButton(QStringLiteral("&Commit"));
  reset = new QPushButton(QStringLiteral("&Reset"));
  auto* row = new QHBoxLayout;
  row->addWidget(commit);
  row->addWidget(reset);
  row->addStretch();
  return row;
}
}  // namespace

QString ProgramFile(const QString& name) {
  return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

QImage ConsoleBanner() {
  QImage img(pages::kConsoleBitmapWidth, pages::kConsoleBitmapHeight, QImage::Format_RGB32);
  img.fill(Qt::white);  // the mask colour
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0, 70, 160));
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 3; ++i) p.drawRoundedRect(6 + i * 14, 10 + i * 4, 10, 32 - i * 8, 2, 2);
  QFont f = p.font();
  f.setPixelSize(20);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(0, 70, 160));
  p.drawText(QRect(52, 4, 255, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Velkari"));
  f.setPixelSize(13);
  f.setBold(false);
  p.setFont(f);
  p.setPen(QColor(60, 60, 60));
  p.drawText(QRect(52, 28, 255, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Array Management"));
  return img;
}

QIcon EventLevelIcon(int image) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  // No picture: an empty one keeps the level texts in one column.
  if (image < 0 || image > 2) return QIcon(pm);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor colours[3] = {QColor(210, 0, 0), QColor(230, 180, 0), QColor(0, 90, 200)};
  p.setBrush(colours[image]);
  p.setPen(Qt::NoPen);
  if (image == 1) {
    p.drawPolygon(QPolygon({QPoint(8, 1), QPoint(15, 15), QPoint(1, 15)}));
  } else {
    p.drawEllipse(1, 1, 14, 14);
  }
  p.setPen(QPen(Qt::white, 2));
  if (image == 0) {
    p.drawLine(5, 5, 11, 11);
    p.drawLine(11, 5, 5, 11);
  } else {
    p.setPen(QPen(image == 1 ? Qt::black : Qt::white, 2));
    p.drawLine(8, image == 1 ? 6 : 7, 8, 11);
    p.drawPoint(8, image == 1 ? 13 : 4);
  }
  return QIcon(pm);
}

// ---- console root ----

CMyConsoleView::CMyConsoleView(pages::ConsolePage& page, QWidget* parent) : QWidget(parent), page_(page) {
  page_.onChanged = [this] { update(); };
}

void CMyConsoleView::paintEvent(QPaintEvent*) {
  DrawList list;
  page_.Paint(list, width(), height());
  QPainter p(this);
  static const QImage banner = [] {
    QImage b = ConsoleBanner().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < b.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(b.scanLine(y));
      for (int x = 0; x < b.width(); ++x) {
        if ((row[x] & 0xFFFFFF) == 0xFFFFFF) row[x] = 0;  // white is the mask
      }
    }
    return b;
  }();
  for (const DrawOp& op : list.ops()) {
    const ColorRef c = op.colour;
    if (op.kind == DrawOp::Kind::FillRect) {
      p.fillRect(QRect(op.rect.left, op.rect.top, op.rect.right - op.rect.left, op.rect.bottom - op.rect.top),
                 QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    } else if (op.kind == DrawOp::Kind::Bitmap && op.bitmapId == pages::kBitmapConsole) {
      p.drawImage(op.rect.left, op.rect.top, banner);
    }
  }
}

// ---- server ----

CServerView::CServerView(pages::ServerPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  auto* grid = new QGridLayout;
  name_ = new QLineEdit;
  address_ = new QLineEdit;
  address_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("^[0-9]{0,3}(\\.[0-9]{0,3}){0,3}$")), address_));
  label_ = new QLineEdit;
  label_->setMaxLength(static_cast<int>(pages::ServerPage::kLabelMax));
  version_ = new QLabel;
  grid->addWidget(new QLabel(QStringLiteral("Server Name:")), 0, 0);
  grid->addWidget(name_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("IP Address:")), 1, 0);
  grid->addWidget(address_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Label:")), 2, 0);
  grid->addWidget(label_, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("Version:")), 3, 0);
  grid->addWidget(version_, 3, 1);
  auto* buttons = CommitResetRow(commit_, reset_);
  auto* box = new QVBoxLayout(this);
  auto* form = new QWidget;
  form->setLayout(grid);
  form->setMaximumWidth(420);
  box->addWidget(form);
  box->addLayout(buttons);
  box->addStretch();
  connect(name_, &QLineEdit::textEdited, this, [this](const QString& t) { if (!filling_) page_.SetName(S(t)); });
  connect(address_, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (!filling_) page_.SetAddress(S(t));
  });
  connect(label_, &QLineEdit::textEdited, this, [this](const QString& t) { if (!filling_) page_.SetLabel(S(t)); });
  connect(commit_, &QPushButton::clicked, this, [this] { page_.Commit(); });
  connect(reset_, &QPushButton::clicked, this, [this] { page_.Fill(); });
  page_.onChanged = [this] { Show(); };
  Show();
}

void CServerView::Show() {
  filling_ = true;
  if (name_->text() != Q(page_.name())) name_->setText(Q(page_.name()));
  if (!address_->hasFocus()) address_->setText(Q(page_.address()));
  if (label_->text() != Q(page_.label())) label_->setText(Q(page_.label()));
  version_->setText(Q(page_.version()));
  name_->setEnabled(page_.nameEnabled());
  address_->setEnabled(page_.addressEnabled());
  commit_->setEnabled(page_.commitEnabled());
  reset_->setEnabled(page_.resetEnabled());
  filling_ = false;
}

// ---- user ----

CUserView::CUserView(pages::UserPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  name_ = new QLineEdit;
  name_->setMaxLength(static_cast<int>(pages::kUserNameMax));
  password_ = new QLineEdit;
  confirm_ = new QLineEdit;
  for (QLineEdit* e : {password_, confirm_}) {
    e->setEchoMode(QLineEdit::Password);
    e->setMaxLength(static_cast<int>(pages::kPasswordMax));
  }
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("User Name:")), 0, 0);
  grid->addWidget(name_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Password:")), 1, 0);
  grid->addWidget(password_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Confirm Password:")), 2, 0);
  grid->addWidget(confirm_, 2, 1);
  auto* edits = new QWidget;
  edits->setLayout(grid);
  edits->setMaximumWidth(420);
  for (int b = 0; b < pages::UserPage::kBoxCount; ++b) {
    boxes_[static_cast<std::size_t>(b)] = new QCheckBox(QString::fromLatin1(pages::UserPage::kBoxTexts[static_cast<std::size_t>(b)]));
    connect(boxes_[static_cast<std::size_t>(b)], &QCheckBox::clicked, this, [this, b](bool on) {
      if (!filling_) page_.SetBox(b, on);
    });
  }
  auto* arrays = new QGroupBox(QStringLiteral("Array Administration Rights"));
  auto* ag = new QGridLayout(arrays);
  ag->addWidget(boxes_[pages::UserPage::kCreateArray], 0, 0);
  ag->addWidget(boxes_[pages::UserPage::kDeleteArray], 0, 1);
  ag->addWidget(boxes_[pages::UserPage::kArrayStatistics], 1, 0);
  ag->addWidget(boxes_[pages::UserPage::kMaintainArray], 1, 1);
  auto* adapter = new QGroupBox(QStringLiteral("Adapter Maintenance Rights"));
  (new QVBoxLayout(adapter))->addWidget(boxes_[pages::UserPage::kAdapter]);
  auto* users = new QGroupBox(QStringLiteral("User Account Rights"));
  (new QVBoxLayout(users))->addWidget(boxes_[pages::UserPage::kUserAccounts]);
  auto* rights = new QHBoxLayout;
  rights->addWidget(arrays);
  rights->addWidget(adapter);
  rights->addWidget(users);
  rights->addStretch();
  auto* buttons = CommitResetRow(commit_, reset_);
  auto* box = new QVBoxLayout(this);
  box->addWidget(edits);
  box->addLayout(rights);
  box->addLayout(buttons);
  box->addStretch();
  connect(name_, &QLineEdit::textEdited, this, [this](const QString& t) { if (!filling_) page_.SetName(S(t)); });
  connect(password_, &QLineEdit::textEdited, this, [this](const QString& t) { if (!filling_) page_.SetPassword(S(t)); });
  connect(confirm_, &QLineEdit::textEdited, this, [this](const QString& t) { if (!filling_) page_.SetConfirm(S(t)); });
  connect(commit_, &QPushButton::clicked, this, [this] { page_.Commit(); });
  connect(reset_, &QPushButton::clicked, this, [this] { page_.Fill(); });
  page_.onChanged = [this] { Show(); };
  Show();
}

void CUserView::Show() {
  filling_ = true;
  if (name_->text() != Q(page_.name())) name_->setText(Q(page_.name()));
  if (password_->text() != Q(page_.password())) password_->setText(Q(page_.password()));
  if (confirm_->text() != Q(page_.confirm())) confirm_->setText(Q(page_.confirm()));
  name_->setEnabled(page_.nameEnabled());
  password_->setEnabled(page_.passwordEnabled());
  confirm_->setEnabled(page_.passwordEnabled());
  for (int b = 0; b < pages::UserPage::kBoxCount; ++b) {
    boxes_[static_cast<std::size_t>(b)]->setChecked(page_.ticked(b));
    boxes_[static_cast<std::size_t>(b)]->setEnabled(page_.boxEnabled(b));
  }
  commit_->setEnabled(page_.buttonsEnabled());
  reset_->setEnabled(page_.buttonsEnabled());
  filling_ = false;
}

// ---- animation ----

CAnimateCtrl::CAnimateCtrl(QWidget* parent) : QLabel(parent) { setAlignment(Qt::AlignCenter); }

bool CAnimateCtrl::Open(const QString& path) {
  Stop();
  frames_.clear();
  clear();
  auto movie = ReadAviFile(path.toStdString());
  if (!movie) return false;  // a missing or malformed file leaves the area blank
  for (const auto& f : movie->frames) {
    QImage img(reinterpret_cast<const uchar*>(f.data()), movie->width, movie->height, movie->width * 4,
               QImage::Format_ARGB32);
    frames_.push_back(QPixmap::fromImage(img.copy()));
  }
  periodMs_ = movie->periodMs;
  at_ = 0;
  setPixmap(frames_.front());
  return true;
}

void CAnimateCtrl::Play() {
  if (frames_.size() > 1 && !timer_) timer_ = startTimer(periodMs_);
}

void CAnimateCtrl::Stop() {
  if (timer_) killTimer(timer_);
  timer_ = 0;
}

void CAnimateCtrl::timerEvent(QTimerEvent* e) {
  if (e->timerId() != timer_ || frames_.empty()) return;
  at_ = (at_ + 1) % static_cast<int>(frames_.size());
  setPixmap(frames_[static_cast<std::size_t>(at_)]);
}

void CAnimateCtrl::hideEvent(QHideEvent* e) {
  Stop();
  QLabel::hideEvent(e);
}

void CAnimateCtrl::showEvent(QShowEvent* e) {
  QLabel::showEvent(e);
  Play();
}

// ---- rebuild wizard ----

CRebuildWizard::CRebuildWizard(CDremmoralDoc& doc, CPea* array, CPea* disk, QWidget* parent)
    : QDialog(parent), doc_(doc), wizard_(doc, array, disk) {
  doc_.AddView(this);
  pages_ = new QStackedWidget;
  auto* select = new QWidget;
  auto* sv = new QVBoxLayout(select);
  auto* prompt = new QLabel(QStringLiteral("Select the disk member of the array that you would like to Rebuild"));
  prompt->setWordWrap(true);
  list_ = new QListWidget;
  list_->setViewMode(QListView::IconMode);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setIconSize(QSize(32, 32));
  // Room for the whole icon above its two-line label; a fixed grid cut the icons' tops.
  list_->setSpacing(10);
  list_->setWordWrap(true);
  list_->setResizeMode(QListView::Adjust);
  list_->setMovement(QListView::Static);
  sv->addWidget(prompt);
  sv->addWidget(list_);
  auto* finish = new QWidget;
  auto* fv = new QVBoxLayout(finish);
  auto* t1 = new QLabel(QStringLiteral("You have selected to rebuild the following disk."));
  auto* t2 = new QLabel(QStringLiteral(
      "To confirm that you want to do so, please press FINISH button, if you want to select another disk, please "
      "press BACK, if you change your mind, please press CANCEL"));
  t2->setWordWrap(true);
  disk_ = new QLabel;
  QFont bold = disk_->font();
  bold.setBold(true);
  disk_->setFont(bold);
  animation_ = new CAnimateCtrl;
  animation_->setMinimumSize(100, 70);
  animation_->Open(ProgramFile(QString::fromLatin1(pages::kRebuildAnimation)));
  fv->addWidget(t1);
  fv->addWidget(disk_);
  fv->addWidget(t2);
  fv->addWidget(animation_);
  fv->addStretch();
  pages_->addWidget(select);
  pages_->addWidget(finish);
  back_ = new QPushButton(QStringLiteral("< &Back"));
  next_ = new QPushButton(QStringLiteral("&Next >"));
  finish_ = new QPushButton(QStringLiteral("Finish"));
  cancel_ = new QPushButton(QStringLiteral("Cancel"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  for (QPushButton* b : {back_, next_, finish_, cancel_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  auto* box = new QVBoxLayout(this);
  box->addWidget(pages_);
  box->addLayout(buttons);
  resize(480, 320);
  connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
    std::vector<bool> sel(wizard_.items().size(), false);
    for (int i = 0; i < list_->count() && i < static_cast<int>(sel.size()); ++i) sel[static_cast<std::size_t>(i)] = list_->item(i)->isSelected();
    wizard_.SetSelected(std::move(sel));
  });
  connect(next_, &QPushButton::clicked, this, [this] {
    if (wizard_.Next()) Show();
  });
  connect(back_, &QPushButton::clicked, this, [this] {
    wizard_.Back();
    Show();
  });
  connect(finish_, &QPushButton::clicked, this, [this] {
    if (wizard_.Finish()) accept();
  });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  Show();
}

CRebuildWizard::~CRebuildWizard() { doc_.RemoveView(this); }

void CRebuildWizard::FillList() {
  const QSignalBlocker block(list_);
  list_->clear();
  for (std::size_t i = 0; i < wizard_.items().size(); ++i) {
    auto* item = new QListWidgetItem(Q(wizard_.items()[i].label), list_);
    item->setIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
    item->setSelected(wizard_.selected()[i]);
  }
}

void CRebuildWizard::Show() {
  const int page = wizard_.page();
  setWindowTitle(page == 0 ? QStringLiteral("Select disk to Rebuild") : QStringLiteral("Finish"));
  pages_->setCurrentIndex(page);
  if (page == 0) FillList();
  disk_->setText(Q(wizard_.FinishLabel()));
  back_->setVisible(wizard_.backShown());
  next_->setVisible(wizard_.nextShown());
  finish_->setVisible(wizard_.finishShown());
  if (page == 1) animation_->Play(); else animation_->Stop();
}

void CRebuildWizard::OnUpdate(int hint, CPea* node) {
  const std::size_t before = wizard_.items().size();
  wizard_.OnUpdate(hint, node);
  if (wizard_.page() == 0 && (before != wizard_.items().size() || hint == kHintChildrenChanged)) FillList();
}

// ---- event viewer ----

CEventViewerDlg::CEventViewerDlg(CDremmoralDoc& doc, CPea* node, QWidget* parent)
    : QDialog(parent), viewer_(doc, node) {
  setWindowTitle(QStringLiteral("Event Viewer"));
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setColumnCount(5);
  list_->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Time"), QStringLiteral("Level"),
                          QStringLiteral("Name"), QStringLiteral("Description")});
  list_->header()->setSectionsClickable(false);
  list_->header()->setStretchLastSection(false);
  list_->setIconSize(QSize(16, 16));
  next_ = new QPushButton(QStringLiteral("&Next 10"), this);
  all_ = new QPushButton(QStringLiteral("Get &All"), this);
  save_ = new QPushButton(QStringLiteral("&Save to File"), this);
  clear_ = new QPushButton(QStringLiteral("&Clear Events"), this);
  close_ = new QPushButton(QStringLiteral("&Close"), this);
  for (QPushButton* b : {next_, all_, save_, clear_, close_}) b->setAutoDefault(false);
  connect(next_, &QPushButton::clicked, this, [this] { viewer_.NextTen(); });
  connect(all_, &QPushButton::clicked, this, [this] { viewer_.GetAll(); });
  connect(save_, &QPushButton::clicked, this, [this] { viewer_.SaveToFile(); });
  connect(clear_, &QPushButton::clicked, this, [this] { viewer_.ClearEvents(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  viewer_.onChanged = [this] { Show(); };
  resize(760, 360);
  Layout();
  viewer_.Start();
  Show();
}

void CEventViewerDlg::Show() {
  const auto& rows = viewer_.rows();
  if (rows.size() < shownRows_) {
    list_->clear();
    shownRows_ = 0;
  }
  for (; shownRows_ < rows.size(); ++shownRows_) {
    const pages::EventRow& r = rows[shownRows_];
    auto* item = new QTreeWidgetItem(list_, {Q(r.date), Q(r.time), Q(r.level), Q(r.name), Q(r.description)});
    item->setIcon(2, EventLevelIcon(r.image));
  }
  next_->setEnabled(viewer_.nextEnabled());
  all_->setEnabled(viewer_.getAllEnabled());
  clear_->setEnabled(viewer_.clearEnabled());
}

void CEventViewerDlg::Layout() {
  const QSize b = close_->sizeHint().expandedTo(QSize(96, 0));
  const auto l = pages::LayoutEventViewer(width(), height(), b.width(), b.height());
  list_->setGeometry(l.listX, l.listY, l.listWidth, l.listHeight);
  // The level column is widened to show "Information" beside its picture in the dialog's font.
  const int level = list_->fontMetrics().horizontalAdvance(QStringLiteral("Information")) + 16 + 16;
  for (int i = 0; i < 5; ++i) list_->setColumnWidth(i, i == 2 ? std::max(l.columns[i], level) : l.columns[i]);
  QPushButton* buttons[5] = {next_, all_, save_, clear_, close_};
  for (int i = 0; i < 5; ++i) buttons[i]->setGeometry(l.buttonX[i], l.buttonY, b.width(), b.height());
}

void CEventViewerDlg::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  Layout();
}

}  // namespace kelm::console::dialogs
