#include "console/pages/page_views.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QVBoxLayout>

#include "console/controls/animate_static.h"
#include "console/controls/control_rules.h"
#include "console/controls/spin_edit_cell.h"
#include "console/core/document.h"

// A static library's resources are registered by hand, once.
static bool LoadPageResources() {
  Q_INIT_RESOURCE(pages);
  return true;
}

namespace kelm::console::pages {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A check box whose accessible name is its caption, as Qt gives a labelled control.
QCheckBox* Check(const char* caption, QWidget* parent) {
  auto* c = new QCheckBox(QString::fromUtf8(caption), parent);
  c->setAccessibleName(c->text().remove('&'));
  return c;
}

QPushButton* Button(const char* caption, QWidget* parent) {
  auto* b = new QPushButton(QString::fromUtf8(caption), parent);
  b->setAccessibleName(b->text().remove('&'));
  return b;
}

controls::CSpinEditCell* Cell(const char* name, QWidget* parent) {
  auto* c = new controls::CSpinEditCell(parent);
  c->setAccessibleName(QString::fromUtf8(name));
  c->edit()->setAccessibleName(QString::fromUtf8(name));
  c->setFixedWidth(100);
  return c;
}

void SetChecked(QCheckBox* c, bool on) {
  QSignalBlocker b(c);
  c->setChecked(on);
}

void SetCell(controls::CSpinEditCell* c, int value, int minimum, int maximum, int step, int mode) {
  QSignalBlocker b(c);
  if (c->GetValue() != value || c->GetText().isEmpty()) c->Setup(value, minimum, maximum, step, mode);
}

void LoadFan(controls::CAnimateStatic* fan) {
  fan->LoadFrames(PageBitmap(kBitmapFan), qRgb(255, 255, 255), kFanFrames, kFanFrameMs);
}

}  // namespace

QColor ToQColor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

QImage PageBitmap(int id) {
  static const bool loaded = LoadPageResources();
  (void)loaded;
  return QImage(QStringLiteral(":/kelm/pages/%1.xpm").arg(id));
}

void PaintDrawList(QPainter& painter, const DrawList& list, const QFont& font) {
  for (const DrawOp& op : list.ops()) {
    const QRect r(op.rect.left, op.rect.top, op.rect.width(), op.rect.height());
    switch (op.kind) {
      case DrawOp::Kind::FillRect:
        painter.fillRect(r, ToQColor(op.colour));
        break;
      case DrawOp::Kind::FrameRect:
        painter.setPen(ToQColor(op.colour));
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        break;
      case DrawOp::Kind::Line:
        painter.setPen(ToQColor(op.colour));
        painter.drawLine(op.rect.left, op.rect.top, op.rect.right, op.rect.bottom);
        break;
      case DrawOp::Kind::Text: {
        QFont f = font;
        if (op.fontWeight != 400) {
          // The light colon column is 15-pixel Arial (a metric-compatible sans where Arial is absent).
          f = QFont(QStringLiteral("Arial"));
          f.setPixelSize(15);
          f.setWeight(op.fontWeight <= 300 ? QFont::Light : QFont::Bold);
        }
        painter.setFont(f);
        painter.setPen(ToQColor(op.colour));
        painter.drawText(r, (op.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                         Q(op.text));
        break;
      }
      case DrawOp::Kind::Bitmap: {
        QImage image = PageBitmap(op.bitmapId);
        if (op.masked) {
          image = image.convertToFormat(QImage::Format_ARGB32);
          const QRgb mask = ToQColor(op.colour).rgb();
          for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
              if ((image.pixel(x, y) & 0xFFFFFF) == (mask & 0xFFFFFF)) image.setPixel(x, y, 0);
            }
          }
        }
        painter.drawImage(op.rect.left, op.rect.top, image);
        break;
      }
    }
  }
}

// --- painted pages ---

CPaintedPage::CPaintedPage(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
}

void CPaintedPage::Bind(PagePresenter& presenter) {
  presenter_ = &presenter;
  presenter.onChanged = [this] { Changed(); };
}

void CPaintedPage::Changed() {
  if (!presenter_) return;
  presenter_->Paint(list_, width(), height());
  // A screen reader reads the painted texts as it reads a form's labels.
  const QStringList texts = paintedTexts();
  setAccessibleDescription(texts.join('\n'));
  update();
}

QStringList CPaintedPage::paintedTexts() const {
  QStringList out;
  for (const DrawOp& op : list_.ops()) {
    if (op.kind == DrawOp::Kind::Text && !op.text.empty() && op.text != ":") out << Q(op.text);
  }
  return out;
}

void CPaintedPage::paintEvent(QPaintEvent*) {
  if (presenter_) presenter_->Paint(list_, width(), height());
  QPainter p(this);
  PaintDrawList(p, list_, font());
}

QString PaintedPageName(const DiskPage&) { return QStringLiteral("Disk"); }
QString PaintedPageName(const ChannelPage&) { return QStringLiteral("Channel"); }

// --- enclosure ---

CEnclosureView::CEnclosureView(EnclosurePage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Enclosure"));
  picture_ = new QLabel(this);
  picture_->setGeometry(10, 10, 96, 64);
  picture_->setAccessibleName(QStringLiteral("Enclosure"));
  beeper_ = Check("Beeper", this);
  beeper_->setGeometry(10, 90, 120, 24);
  connect(beeper_, &QCheckBox::clicked, this, [this] { page_.ToggleBuzzer(); });
  for (int i = 0; i < EnclosurePage::kFanSlots; ++i) {
    const DrawRect r = EnclosurePage::FanRect(i);
    fans_[i] = new controls::CAnimateStatic(this);
    fans_[i]->setGeometry(r.left, r.top, r.width(), r.height());
    LoadFan(fans_[i]);
  }
  for (int i = 0; i < EnclosurePage::kTempSlots; ++i) {
    const DrawRect r = EnclosurePage::TempRect(i);
    temps_[i] = new QLabel(this);
    temps_[i]->setGeometry(r.left, r.top, r.width(), r.height());
  }
  for (int i = 0; i < EnclosurePage::kBoxSlots; ++i) {
    const DrawRect b = EnclosurePage::BoxRect(i);
    BoxWidgets& w = boxes_[i];
    w.frame = new QLabel(this);
    w.frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    w.frame->setGeometry(b.left, b.top, b.width(), b.height());
    w.title = new QLabel(QStringLiteral("Channel %1").arg(i + 1), this);
    w.title->setGeometry(b.left + 8, b.top + 4, b.width() - 16, 18);
    w.kind = new QLabel(this);
    w.kind->setGeometry(b.left + 8, b.top + 24, b.width() - 16, 18);
    const DrawRect f = EnclosurePage::BoxFanRect(i);
    w.fan = new controls::CAnimateStatic(this);
    w.fan->setGeometry(f.left, f.top, f.width(), f.height());
    LoadFan(w.fan);
    w.rpm = new QLabel(this);
    w.rpm->setGeometry(f.right + 8, f.top + 8, 80, 18);
    const DrawRect t = EnclosurePage::BoxTempRect(i);
    w.temp = new QLabel(this);
    w.temp->setGeometry(t.left, t.top, t.width(), t.height());
    w.volts = new QLabel(this);
    w.volts->setGeometry(b.left + 8, b.top + 176, b.width() - 16, 40);
  }
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CEnclosureView::Sync() {
  picture_->setPixmap(QPixmap::fromImage(PageBitmap(page_.enclosurePicture())));
  beeper_->setEnabled(page_.buzzerEnabled());
  SetChecked(beeper_, page_.buzzerOn());
  QStringList spoken;
  for (int i = 0; i < EnclosurePage::kFanSlots; ++i) {
    const auto& s = page_.fans()[i];
    fans_[i]->setVisible(s.visible);
    fans_[i]->setStopped(!s.animate);
    if (s.visible) spoken << Q(s.text);
  }
  for (int i = 0; i < EnclosurePage::kTempSlots; ++i) {
    const auto& s = page_.temps()[i];
    temps_[i]->setVisible(s.visible);
    if (s.visible) {
      temps_[i]->setPixmap(QPixmap::fromImage(PageBitmap(s.picture)));
      temps_[i]->setAccessibleName(Q(s.text));
      spoken << Q(s.text);
    }
  }
  for (int i = 0; i < EnclosurePage::kBoxSlots; ++i) {
    const auto& b = page_.boxes()[i];
    BoxWidgets& w = boxes_[i];
    for (QWidget* x : {static_cast<QWidget*>(w.frame), static_cast<QWidget*>(w.title), static_cast<QWidget*>(w.kind),
                       static_cast<QWidget*>(w.temp), static_cast<QWidget*>(w.volts)}) {
      x->setVisible(b.visible);
    }
    w.fan->setVisible(b.visible && b.fanShown);
    w.rpm->setVisible(b.visible && b.fanShown);
    if (!b.visible) continue;
    w.title->setText(Q(b.title));
    w.kind->setText(QStringLiteral("Encl. Type : ") + Q(b.kind));
    w.fan->setStopped(!b.fan.animate);
    w.rpm->setText(Q(b.rpm) + QStringLiteral(" RPM"));
    w.temp->setPixmap(QPixmap::fromImage(PageBitmap(b.temp.picture)));
    w.volts->setText(QStringLiteral("Voltage 5V = ") + Q(b.volt5) + QStringLiteral("\nVoltage 12V = ") + Q(b.volt12));
    spoken << w.title->text() << w.kind->text() << Q(b.temp.text) << Q(b.fan.text) << w.volts->text();
  }
  setAccessibleDescription(spoken.join('\n'));
  update();
}

void CEnclosureView::paintEvent(QPaintEvent*) {
  page_.Paint(list_, width(), height());
  QPainter p(this);
  PaintDrawList(p, list_, font());
}

// --- intelligent-I/O array ---

CArrayView::CArrayView(ArrayPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Array"));
  auto* top = new QVBoxLayout(this);
  auto* form = new QFormLayout();
  name_ = new QLineEdit(this);
  name_->setMaxLength(20);
  level_ = new QComboBox(this);
  for (auto l : kIopLevels) level_->addItem(Q(std::string(l)));
  block_ = Cell("Block Size", this);
  size_ = new QLabel(this);
  status_ = new QLabel(this);
  form->addRow(QStringLiteral("Array Name"), name_);
  form->addRow(QStringLiteral("RAID Level"), level_);
  form->addRow(QStringLiteral("Block Size (KB)"), block_);
  form->addRow(QStringLiteral("Array Size"), size_);
  form->addRow(QStringLiteral("Array Status"), status_);
  name_->setAccessibleName(QStringLiteral("Array Name"));
  level_->setAccessibleName(QStringLiteral("RAID Level"));
  top->addLayout(form);

  auto* buffer = new QGroupBox(QStringLiteral("Buffer Setting"), this);
  auto* bl = new QVBoxLayout(buffer);
  autoDetect_ = Check("Automatic Sequential/Random Access Detection ", buffer);
  bl->addWidget(autoDetect_);
  auto* wbLabel = new QLabel(QStringLiteral("Write Cache Policy Setting"), buffer);
  bl->addWidget(wbLabel);
  writeBack_ = Check("Enable Write Back", buffer);
  bl->addWidget(writeBack_);
  buffer_ = buffer;
  top->addWidget(buffer);

  auto* cache = new QGroupBox(QStringLiteral("Cache Policy Settings"), this);
  auto* cl = new QGridLayout(cache);
  readCache_ = new QComboBox(cache);
  readCache_->addItems({QStringLiteral("OFF"), QStringLiteral("ON")});
  writeCache_ = new QComboBox(cache);
  writeCache_->addItems({QStringLiteral("OFF"), QStringLiteral("Write back")});
  readCache_->setAccessibleName(QStringLiteral("Read Cache"));
  writeCache_->setAccessibleName(QStringLiteral("Write Cache"));
  cl->addWidget(new QLabel(QStringLiteral("Read Cache"), cache), 0, 0);
  cl->addWidget(readCache_, 0, 1);
  cl->addWidget(new QLabel(QStringLiteral("Write Cache"), cache), 1, 0);
  cl->addWidget(writeCache_, 1, 1);
  auto* statsBox = new QGroupBox(QStringLiteral("Cache Statistics"), cache);
  auto* sl = new QFormLayout(statsBox);
  const char* statLabels[] = {"Read Cache Hit",   "Write Cache Hit",    "Partial Read Cache Hit",
                              "Partial Write Cache Hit", "Dirty Usage", "Cache Access Read",
                              "Cache Access Write", "RAID Access Read", "RAID Access Write"};
  for (int i = 0; i < ArrayPage::kStatCount; ++i) {
    stats_[i] = new QLabel(statsBox);
    sl->addRow(QString::fromUtf8(statLabels[i]), stats_[i]);
  }
  resetStats_ = Button("Reset Cache stats", statsBox);
  sl->addRow(resetStats_);
  cl->addWidget(statsBox, 2, 0, 1, 2);
  cache_ = cache;
  top->addWidget(cache);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  reset_ = Button("&Reset", this);
  commit_ = Button("&Commit", this);
  buttons->addWidget(reset_);
  buttons->addWidget(commit_);
  top->addLayout(buttons);
  top->addStretch();

  connect(name_, &QLineEdit::textEdited, this, [this](const QString& t) { page_.SetName(t.toStdString()); });
  connect(level_, &QComboBox::activated, this, [this](int) { page_.SetLevel(level_->currentText().toStdString()); });
  connect(block_, &controls::CSpinEditCell::changed, this, [this](int v) {
    if (!syncing_) page_.SetBlockSize(v);
  });
  connect(readCache_, &QComboBox::activated, this, [this](int i) { page_.SetReadCache(i); });
  connect(writeCache_, &QComboBox::activated, this, [this](int i) { page_.SetWriteCache(i); });
  connect(autoDetect_, &QCheckBox::clicked, this, [this](bool on) { page_.SetAutoDetect(on); });
  connect(writeBack_, &QCheckBox::clicked, this, [this](bool on) { page_.SetWriteBack(on); });
  connect(resetStats_, &QPushButton::clicked, this, [this] { page_.ResetCacheStats(); });
  connect(commit_, &QPushButton::clicked, this, [this] { page_.Commit(); });
  connect(reset_, &QPushButton::clicked, this, [this] { page_.Reset(); });
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CArrayView::Sync() {
  syncing_ = true;
  const auto& c = page_.controls();
  const auto e = page_.enables();
  if (name_->text() != Q(c.name)) name_->setText(Q(c.name));
  {
    QSignalBlocker b(level_);
    level_->setCurrentIndex(level_->findText(Q(c.level)));
  }
  SetCell(block_, c.blockSize, 4, c.blockMax, 2, controls::kSpinPower);
  size_->setText(Q(c.sizeText));
  status_->setText(Q(c.statusText));
  SetChecked(autoDetect_, c.autoDetect);
  SetChecked(writeBack_, c.writeBack);
  {
    QSignalBlocker b1(readCache_), b2(writeCache_);
    readCache_->setCurrentIndex(c.readCache);
    writeCache_->setCurrentIndex(c.writeCache);
  }
  for (int i = 0; i < ArrayPage::kStatCount; ++i) stats_[i]->setText(Q(c.stats[i]));
  const auto set = page_.controlSet();
  buffer_->setVisible(set == ArrayPage::ControlSet::Qx);
  cache_->setVisible(set == ArrayPage::ControlSet::Standard);
  name_->setEnabled(e.name);
  level_->setEnabled(e.level);
  block_->EnableCell(e.level);
  readCache_->setEnabled(e.readCache);
  writeCache_->setEnabled(e.writeCache);
  autoDetect_->setEnabled(e.autoDetect);
  writeBack_->setEnabled(e.writeBack);
  resetStats_->setEnabled(e.resetStats);
  commit_->setEnabled(e.commit);
  reset_->setEnabled(e.commit);
  syncing_ = false;
}

// --- intelligent-I/O controller ---

CCtrlrView::CCtrlrView(ControllerPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Controller"));
  auto* top = new QVBoxLayout(this);
  auto* info = new QFormLayout();
  memory_ = new QLabel(this);
  processor_ = new QLabel(this);
  hardware_ = new QLabel(this);
  info->addRow(QStringLiteral("Memory Size (MB)"), memory_);
  info->addRow(QStringLiteral("Processor"), processor_);
  info->addRow(QStringLiteral("Hardware"), hardware_);
  top->addLayout(info);

  auto* policy = new QGroupBox(QStringLiteral("System Cache Policy"), this);
  auto* pl = new QFormLayout(policy);
  flush_ = Cell("Flush Frequency (sec)", policy);
  start_ = Cell("Dirty Threshold Start (%)", policy);
  stop_ = Cell("Dirty Threshold Stop (%)", policy);
  cacheSize_ = new QLabel(policy);
  cacheBlock_ = new QLabel(policy);
  rwCache_ = new QLabel(policy);
  pl->addRow(QStringLiteral("Flush Frequency (sec)"), flush_);
  pl->addRow(QStringLiteral("Dirty Threshold Start (%)"), start_);
  pl->addRow(QStringLiteral("Dirty Threshold Stop (%)"), stop_);
  pl->addRow(QStringLiteral("Total Cache Size (MB)"), cacheSize_);
  pl->addRow(QStringLiteral("Cache Block Size (KB)"), cacheBlock_);
  pl->addRow(QStringLiteral("R/W Cache Size (MB)"), rwCache_);
  auto* pb = new QHBoxLayout();
  resetPolicy_ = Button("&Reset", policy);
  commitPolicy_ = Button("&Commit", policy);
  pb->addStretch();
  pb->addWidget(resetPolicy_);
  pb->addWidget(commitPolicy_);
  pl->addRow(pb);
  policy_ = policy;
  top->addWidget(policy);

  auto* settings = new QWidget(this);
  auto* sl = new QVBoxLayout(settings);
  sl->setContentsMargins(0, 0, 0, 0);
  auto* rebuildBox = new QGroupBox(QStringLiteral("Rebuild Setting"), settings);
  rebuild_ = Check("High Rebuild Priority", rebuildBox);
  (new QVBoxLayout(rebuildBox))->addWidget(rebuild_);
  auto* ctlBox = new QGroupBox(QStringLiteral("Controller Setting"), settings);
  bbu_ = Check("Battery Backup Support", ctlBox);
  (new QVBoxLayout(ctlBox))->addWidget(bbu_);
  auto* cacheBox = new QGroupBox(QStringLiteral("Cache Setting"), settings);
  auto* cf = new QFormLayout(cacheBox);
  autoFlush_ = Cell("Auto Flush Frequency (sec)", cacheBox);
  cf->addRow(QStringLiteral("Auto Flush Frequency (sec)"), autoFlush_);
  auto* diskBox = new QGroupBox(QStringLiteral("Disk Parameters"), settings);
  auto* dl = new QVBoxLayout(diskBox);
  smart_ = Check("Enable S.M.A.R.T Check", diskBox);
  hdCache_ = Check("Enable Hard Disks'  Write Cache", diskBox);
  dl->addWidget(smart_);
  dl->addWidget(hdCache_);
  for (QWidget* w : {static_cast<QWidget*>(rebuildBox), static_cast<QWidget*>(ctlBox), static_cast<QWidget*>(cacheBox),
                     static_cast<QWidget*>(diskBox)}) {
    sl->addWidget(w);
  }
  auto* sb = new QHBoxLayout();
  resetSettings_ = Button("Reset", settings);
  commitSettings_ = Button("Commit", settings);
  sb->addStretch();
  sb->addWidget(resetSettings_);
  sb->addWidget(commitSettings_);
  sl->addLayout(sb);
  settings_ = settings;
  top->addWidget(settings);

  modules_ = new QTreeWidget(this);
  modules_->setRootIsDecorated(false);
  modules_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Version"), QStringLiteral("Date"),
                             QStringLiteral("Size")});
  modules_->setAccessibleName(QStringLiteral("Modules"));
  modules_->setMinimumHeight(90);
  top->addWidget(modules_);

  connect(flush_, &controls::CSpinEditCell::changed, this, [this](int v) {
    if (!syncing_) page_.SetFlush(v);
  });
  connect(start_, &controls::CSpinEditCell::changed, this, [this](int v) {
    if (!syncing_) page_.SetStart(v);
  });
  connect(stop_, &controls::CSpinEditCell::changed, this, [this](int v) {
    if (!syncing_) page_.SetStop(v);
  });
  connect(autoFlush_, &controls::CSpinEditCell::changed, this, [this](int v) {
    if (!syncing_) page_.SetAutoFlush(v);
  });
  connect(smart_, &QCheckBox::clicked, this, [this](bool on) { page_.SetSmart(on); });
  connect(hdCache_, &QCheckBox::clicked, this, [this](bool on) { page_.SetHdCache(on); });
  connect(rebuild_, &QCheckBox::clicked, this, [this](bool on) { page_.SetRebuildPriority(on); });
  connect(commitPolicy_, &QPushButton::clicked, this, [this] { page_.CommitCachePolicy(); });
  connect(resetPolicy_, &QPushButton::clicked, this, [this] { page_.ResetCachePolicy(); });
  connect(commitSettings_, &QPushButton::clicked, this, [this] { page_.CommitSettings(); });
  connect(resetSettings_, &QPushButton::clicked, this, [this] { page_.ResetSettings(); });
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CCtrlrView::Sync() {
  syncing_ = true;
  const auto& c = page_.controls();
  const auto e = page_.enables();
  SetCell(flush_, c.flush, 5, 60, 1, controls::kSpinLinear);
  SetCell(start_, c.start, 10, 90, 1, controls::kSpinLinear);
  SetCell(stop_, c.stop, 0, 80, 1, controls::kSpinLinear);
  SetCell(autoFlush_, c.autoFlush, 5, 60, 5, controls::kSpinLinear);
  cacheSize_->setText(Q(c.cacheSize));
  cacheBlock_->setText(Q(c.cacheBlockSize));
  rwCache_->setText(Q(c.rwCacheSize));
  memory_->setText(Q(c.memory));
  processor_->setText(Q(c.processor));
  hardware_->setText(Q(c.hardware));
  SetChecked(smart_, c.smart);
  SetChecked(hdCache_, c.hdCache);
  SetChecked(bbu_, c.bbu);
  SetChecked(rebuild_, c.rebuildPriority);
  const bool firstFill = modules_->topLevelItemCount() == 0;
  modules_->clear();
  for (const auto& m : c.modules) {
    modules_->addTopLevelItem(new QTreeWidgetItem({Q(m.name), Q(m.version), Q(m.date), Q(m.size)}));
  }
  // Wide enough for the module names once; a column the administrator resized keeps its width.
  if (firstFill && modules_->topLevelItemCount() > 0) {
    for (int col = 0; col < modules_->columnCount(); ++col) modules_->resizeColumnToContents(col);
  }
  const auto set = page_.controlSet();
  if (set != ControllerPage::ControlSet::Unchanged) {
    policy_->setVisible(set == ControllerPage::ControlSet::Standard);
    settings_->setVisible(set == ControllerPage::ControlSet::Qx);
  }
  flush_->EnableCell(e.cacheCells);
  start_->EnableCell(e.cacheCells);
  stop_->EnableCell(e.cacheCells);
  commitPolicy_->setEnabled(e.cacheCommit);
  resetPolicy_->setEnabled(e.cacheCommit);
  smart_->setEnabled(e.smart);
  hdCache_->setEnabled(e.hdCache);
  bbu_->setEnabled(e.bbu);
  rebuild_->setEnabled(e.rebuildPriority);
  autoFlush_->EnableCell(e.autoFlush);
  commitSettings_->setEnabled(e.settingsCommit);
  resetSettings_->setEnabled(e.settingsCommit);
  syncing_ = false;
}

// --- serial controller ---

CSorventicCtrlrView::CSorventicCtrlrView(SerialControllerPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Controller"));
  auto* top = new QVBoxLayout(this);
  auto* info = new QFormLayout();
  const char* captions[] = {"Port", "Hardware Version", "RAID API Version", "Firmware Version", "Memory Size"};
  for (int i = 0; i < 5; ++i) {
    texts_[i] = new QLabel(this);
    info->addRow(QString::fromUtf8(captions[i]), texts_[i]);
  }
  top->addLayout(info);
  auto* box = new QGroupBox(QStringLiteral("Settings"), this);
  auto* bl = new QFormLayout(box);
  autoFlush_ = Cell("Auto Flush Frequency (sec)", box);
  bl->addRow(QStringLiteral("Auto Flush Frequency (sec)"), autoFlush_);
  smart_ = Check("Enable S.M.A.R.T Check", box);
  rebuild_ = Check("High Rebuild Priority", box);
  hdCache_ = Check("Enable Hard Disks' Write Cache", box);
  writeBack_ = Check("Enable Write Back", box);
  for (QCheckBox* c : {smart_, rebuild_, hdCache_, writeBack_}) bl->addRow(c);
  apply_ = Button("Apply", box);
  // At the group's right edge, as the other pages place their buttons.
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(apply_);
  bl->addRow(buttons);
  top->addWidget(box);
  top->addStretch();
  connect(autoFlush_, &controls::CSpinEditCell::changed, this, [this](int v) {
    if (!syncing_) page_.SetAutoFlush(v);
  });
  connect(smart_, &QCheckBox::clicked, this, [this](bool on) { page_.SetSmart(on); });
  connect(rebuild_, &QCheckBox::clicked, this, [this](bool on) { page_.SetRebuildPriority(on); });
  connect(hdCache_, &QCheckBox::clicked, this, [this](bool on) { page_.SetHdCache(on); });
  connect(writeBack_, &QCheckBox::clicked, this, [this](bool on) { page_.SetWriteBack(on); });
  connect(apply_, &QPushButton::clicked, this, [this] { page_.Apply(); });
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CSorventicCtrlrView::Sync() {
  syncing_ = true;
  const auto& c = page_.controls();
  const auto e = page_.enables();
  const std::string* t[] = {&c.comport, &c.hardware, &c.raidapi, &c.firmware, &c.memory};
  for (int i = 0; i < 5; ++i) texts_[i]->setText(Q(*t[i]));
  SetCell(autoFlush_, c.autoFlush, 5, 60, 5, controls::kSpinLinear);
  SetChecked(smart_, c.smart);
  SetChecked(rebuild_, c.rebuildPriority);
  SetChecked(hdCache_, c.hdCache);
  SetChecked(writeBack_, c.writeBack);
  autoFlush_->EnableCell(e.autoFlush);
  smart_->setEnabled(e.smart);
  rebuild_->setEnabled(e.rebuildPriority);
  hdCache_->setEnabled(e.hdCache);
  writeBack_->setEnabled(e.writeBack);
  apply_->setEnabled(e.apply);
  syncing_ = false;
}

// --- serial box ---

CSorventicBoxView::CSorventicBoxView(SerialBoxPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Enclosure"));
  auto* top = new QGridLayout(this);
  auto* temps = new QGroupBox(QStringLiteral("Temperature and Voltage"), this);
  auto* tl = new QVBoxLayout(temps);
  for (auto*& l : lines_) tl->addWidget(l = new QLabel(temps));
  auto* fans = new QGroupBox(QStringLiteral("Fans"), this);
  auto* fl = new QVBoxLayout(fans);
  for (auto*& l : fans_) fl->addWidget(l = new QLabel(fans));
  top->addWidget(temps, 0, 0, Qt::AlignTop);
  top->addWidget(fans, 0, 1, Qt::AlignTop);
  top->setRowStretch(1, 1);
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CSorventicBoxView::Sync() {
  const auto& l = page_.lines();
  for (int i = 0; i < 3; ++i) lines_[i]->setText(Q(l.temps[i]));
  lines_[3]->setText(Q(l.volt5));
  lines_[4]->setText(Q(l.volt12));
  for (int i = 0; i < 8; ++i) {
    fans_[i]->setVisible(l.fans[i].shown);
    fans_[i]->setText(Q(l.fans[i].text));
    // The alarm indicator: the line in red while the fan is failing.
    fans_[i]->setStyleSheet(l.fans[i].alarm ? QStringLiteral("color: #FF0000") : QString());
  }
}

// --- serial array ---

CSorventicArrayView::CSorventicArrayView(SerialArrayPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Array"));
  auto* top = new QVBoxLayout(this);
  auto* form = new QFormLayout();
  name_ = new QLineEdit(this);
  name_->setReadOnly(true);  // the subsystem names every array itself
  level_ = new QComboBox(this);
  for (auto l : kSerialLevels) level_->addItem(Q(std::string(l)));
  block_ = Cell("Block Size", this);
  size_ = new QLabel(this);
  status_ = new QLabel(this);
  name_->setAccessibleName(QStringLiteral("Array Name"));
  level_->setAccessibleName(QStringLiteral("RAID Mode"));
  form->addRow(QStringLiteral("Array Name"), name_);
  form->addRow(QStringLiteral("RAID Mode"), level_);
  form->addRow(QStringLiteral("Block Size (KB)"), block_);
  form->addRow(QStringLiteral("Array Size"), size_);
  form->addRow(QStringLiteral("Array Status"), status_);
  top->addLayout(form);
  autoDetect_ = Check("Automatic Sequential/Random Access Detection", this);
  writeBack_ = Check("Enable Write Back", this);
  top->addWidget(autoDetect_);
  top->addWidget(writeBack_);
  disksLabel_ = new QLabel(QStringLiteral("Free disks to add"), this);
  disks_ = new QListWidget(this);
  disks_->setAccessibleName(disksLabel_->text());
  top->addWidget(disksLabel_);
  top->addWidget(disks_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  reset_ = Button("&Reset", this);
  apply_ = Button("&Apply", this);
  buttons->addWidget(reset_);
  buttons->addWidget(apply_);
  top->addLayout(buttons);
  top->addStretch();
  connect(level_, &QComboBox::activated, this, [this](int) { page_.SetLevel(level_->currentText().toStdString()); });
  connect(block_, &controls::CSpinEditCell::changed, this, [this](int v) {
    if (!syncing_) page_.SetBlockSize(v);
  });
  connect(disks_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (!syncing_) page_.ChooseDisk(static_cast<std::size_t>(disks_->row(item)), item->checkState() == Qt::Checked);
  });
  connect(apply_, &QPushButton::clicked, this, [this] { page_.Apply(); });
  connect(reset_, &QPushButton::clicked, this, [this] { page_.Reset(); });
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CSorventicArrayView::Sync() {
  syncing_ = true;
  const auto& c = page_.controls();
  const auto e = page_.enables();
  name_->setText(Q(c.name));
  {
    QSignalBlocker b(level_);
    level_->setCurrentIndex(level_->findText(Q(c.level)));
  }
  SetCell(block_, c.blockSize, 4, 64, 2, controls::kSpinPower);
  size_->setText(Q(c.sizeText));
  status_->setText(Q(c.statusText));
  SetChecked(autoDetect_, c.autoDetect);
  SetChecked(writeBack_, c.writeBack);
  autoDetect_->setEnabled(e.checks);
  writeBack_->setEnabled(e.checks);
  level_->setEnabled(e.apply);
  block_->EnableCell(e.apply && page_.createMode());
  apply_->setEnabled(e.apply);
  reset_->setEnabled(e.apply);
  disks_->setVisible(!page_.createMode());
  disksLabel_->setVisible(!page_.createMode());
  disks_->clear();
  for (const auto& cand : page_.candidates()) {
    auto* item = new QListWidgetItem(Q(cand.text), disks_);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(cand.chosen ? Qt::Checked : Qt::Unchecked);
  }
  disks_->setEnabled(e.apply);
  syncing_ = false;
}

}  // namespace kelm::console::pages
