#include "console/pages/family_views.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "console/controls/time_edit.h"
#include "console/core/strings.h"

namespace kelm::console::pages {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

template <class W>
W* Named(W* w, const QString& name) {
  w->setAccessibleName(QString(name).remove('&'));
  return w;
}
QCheckBox* Check(const char* caption, QWidget* parent) {
  return Named(new QCheckBox(QString::fromUtf8(caption), parent), QString::fromUtf8(caption));
}
QPushButton* Button(const char* caption, QWidget* parent) {
  return Named(new QPushButton(QString::fromUtf8(caption), parent), QString::fromUtf8(caption));
}
QSpinBox* Spin(int lo, int hi, QWidget* parent) {
  auto* s = new QSpinBox(parent);
  s->setRange(lo, hi);
  return s;
}
// A captioned row of a form, its control read aloud by the caption.
template <class W>
W* Row(QFormLayout* form, const char* caption, W* w) {
  form->addRow(QString::fromUtf8(caption), Named(w, QString::fromUtf8(caption)));
  return w;
}
QLabel* Value(QFormLayout* form, const char* caption, QWidget* parent) { return Row(form, caption, new QLabel(parent)); }
// Controls side by side, kept to the left.
QHBoxLayout* Side(std::initializer_list<QWidget*> widgets) {
  auto* row = new QHBoxLayout();
  for (QWidget* w : widgets) row->addWidget(w);
  row->addStretch();
  return row;
}
void Set(QCheckBox* c, bool on) {
  QSignalBlocker b(c);
  c->setChecked(on);
}
void Set(QSpinBox* s, int v) {
  QSignalBlocker b(s);
  s->setValue(v);
}
void Set(QLineEdit* e, const std::string& text) {
  if (e->text() == Q(text)) return;
  QSignalBlocker b(e);
  e->setText(Q(text));
}
void Set(QSlider* s, int v) {
  QSignalBlocker b(s);
  s->setValue(v);
}

}  // namespace

// --- agent settings ---

CRAIDMachineView::CRAIDMachineView(AgentSettingsPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Agent settings"));
  auto* top = new QGridLayout(this);
  auto* id = new QGroupBox(QStringLiteral("Agent"), this);
  auto* idl = new QFormLayout(id);
  name_ = Value(idl, "Name", id);
  version_ = Value(idl, "Version", id);
  ip_ = Value(idl, "IP Address", id);
  autoSave_ = Check("Auto save", id);
  // The agent's system-log switch, in place of the Windows event log.
  ntLog_ = Check("Write events to the system log", id);
  idl->addRow(autoSave_);
  idl->addRow(ntLog_);
  top->addWidget(id, 0, 0);

  auto* mail = new QGroupBox(QStringLiteral("E-mail"), this);
  auto* ml = new QFormLayout(mail);
  email_ = Check("Enable e-mail notification", mail);
  ml->addRow(email_);
  sender_ = Row(ml, "Sender", new QLineEdit(mail));
  server_ = Row(ml, "SMTP Server", new QLineEdit(mail));
  // Apply sends the server and the interval; three buttons read "Apply", and each is read aloud
  // with what it applies.
  interval_ = Named(Spin(1, 24, mail), QStringLiteral("Interval (hours)"));
  serverApply_ = Named(Button("Apply", mail), QStringLiteral("Apply e-mail settings"));
  ml->addRow(QStringLiteral("Interval (hours)"), Side({interval_, serverApply_}));
  protection_ = Check("E-mail protection", mail);
  ml->addRow(protection_);
  recipients_ = Row(ml, "Recipients", new QListWidget(mail));
  recipients_->setMaximumHeight(70);
  newRecipient_ = Named(new QLineEdit(mail), QStringLiteral("New recipient"));
  add_ = Button("Add", mail);
  del_ = Button("Delete", mail);
  ml->addRow(QStringLiteral("New recipient"), Side({newRecipient_, add_, del_}));
  top->addWidget(mail, 1, 0);

  auto* notice = new QGroupBox(QStringLiteral("Event Notice"), this);
  auto* nl = new QVBoxLayout(notice);
  notices_ = Named(new QTableWidget(static_cast<int>(kNoticeEvents.size()), 3, notice), QStringLiteral("Events"));
  notices_->setHorizontalHeaderLabels({QStringLiteral("Event"), QStringLiteral("Email"), QStringLiteral("Popup")});
  notices_->verticalHeader()->hide();
  notices_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int col = 1; col < 3; ++col) notices_->horizontalHeader()->setSectionResizeMode(col, QHeaderView::ResizeToContents);
  for (int r = 0; r < notices_->rowCount(); ++r) {
    auto* ev = new QTableWidgetItem(Q(std::string(LoadString(kNoticeEvents[static_cast<std::size_t>(r)].stringId))));
    ev->setFlags(Qt::ItemIsEnabled);
    notices_->setItem(r, 0, ev);
    for (int col = 1; col < 3; ++col) {
      auto* it = new QTableWidgetItem();
      it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      it->setCheckState(Qt::Unchecked);
      notices_->setItem(r, col, it);
    }
  }
  nl->addWidget(notices_);
  allEmail_ = Check("All events by e-mail", notice);
  allPopup_ = Check("All events as pop-ups", notice);
  noticeApply_ = Named(Button("Apply", notice), QStringLiteral("Apply event notices"));
  nl->addLayout(Side({allEmail_, allPopup_, noticeApply_}));
  top->addWidget(notice, 0, 1, 2, 1);

  auto* sched = new QGroupBox(QStringLiteral("Verify Schedule"), this);
  auto* sl = new QFormLayout(sched);
  sl->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  schedEnabled_ = Check("Enable verify schedule", sched);
  sl->addRow(schedEnabled_);
  // The buttons' ids are the schedule types.
  schedType_ = new QButtonGroup(this);
  auto* types = new QGridLayout();
  const char* typeNames[] = {"None", "Daily", "Weekly", "Monthly", "Every n minutes", "Every n hours"};
  for (int t = 0; t < 6; ++t) {
    auto* b = Named(new QRadioButton(QString::fromUtf8(typeNames[t]), sched), QString::fromUtf8(typeNames[t]));
    schedType_->addButton(b, t);
    types->addWidget(b, t / 3, t % 3);
  }
  sl->addRow(QStringLiteral("Type"), types);
  time_ = Row(sl, "Time", new controls::CTimeEdit(sched));
  time_->Create(0, 0, 0, controls::kTimeHour | controls::kTimeMinute);
  time_->setFixedSize(110, 24);
  weekday_ = Row(sl, "Weekday", new QComboBox(sched));
  weekday_->addItems({QStringLiteral("SUNDAY"), QStringLiteral("MONDAY"), QStringLiteral("TUESDAY"),
                      QStringLiteral("WEDNESDAY"), QStringLiteral("THURSDAY"), QStringLiteral("FRIDAY"),
                      QStringLiteral("SATURDAY")});
  monthDay_ = Row(sl, "Day of the month", Spin(1, 31, sched));
  count_ = Row(sl, "Every", Spin(0, 65535, sched));
  schedApply_ = Named(Button("Apply", sched), QStringLiteral("Apply verify schedule"));
  sl->addRow(Side({schedApply_}));
  top->addWidget(sched, 2, 0);

  auto* test = new QGroupBox(QStringLiteral("Test Event"), this);
  test_ = Named(new QLineEdit(test), QStringLiteral("Event code"));
  test_->setMaxLength(5);
  test_->setMaximumWidth(test_->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
  testButton_ = Button("Test", test);
  (new QVBoxLayout(test))->addLayout(Side({test_, testButton_}));
  top->addWidget(test, 2, 1, Qt::AlignTop);

  connect(autoSave_, &QCheckBox::clicked, this, [this](bool on) { page_.SetAutoSave(on); });
  connect(email_, &QCheckBox::clicked, this, [this](bool on) { page_.SetEmailEnable(on); });
  connect(ntLog_, &QCheckBox::clicked, this, [this](bool on) { page_.SetNtEventLog(on); });
  connect(protection_, &QCheckBox::clicked, this, [this](bool on) { page_.SetProtection(on); });
  connect(sender_, &QLineEdit::textEdited, this, [this](const QString& t) { page_.TypeEmailId(t.toStdString()); });
  connect(sender_, &QLineEdit::editingFinished, this, [this] { page_.LeaveEmailId(); });
  connect(server_, &QLineEdit::textEdited, this, [this](const QString& t) { page_.TypeSmtpServer(t.toStdString()); });
  connect(interval_, &QSpinBox::valueChanged, this, [this](int v) { page_.SetInterval(v); });
  connect(serverApply_, &QPushButton::clicked, this, [this] { page_.ApplyServer(); });
  connect(newRecipient_, &QLineEdit::textEdited, this,
          [this](const QString& t) { page_.TypeNewRecipient(t.toStdString()); });
  connect(add_, &QPushButton::clicked, this, [this] { page_.AddRecipient(); });
  connect(del_, &QPushButton::clicked, this, [this] { page_.DeleteRecipient(); });
  connect(recipients_, &QListWidget::currentTextChanged, this, [this](const QString& t) {
    if (!syncing_) page_.SelectRecipient(t.toStdString());
  });
  connect(notices_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* it) {
    if (syncing_ || it->column() == 0) return;
    const bool on = it->checkState() == Qt::Checked;
    if (it->column() == 1) {
      page_.SetEmailMark(static_cast<std::size_t>(it->row()), on);
    } else {
      page_.SetPopupMark(static_cast<std::size_t>(it->row()), on);
    }
  });
  connect(allEmail_, &QCheckBox::clicked, this, [this](bool on) { page_.SetAllEmail(on); });
  connect(allPopup_, &QCheckBox::clicked, this, [this](bool on) { page_.SetAllPopup(on); });
  connect(noticeApply_, &QPushButton::clicked, this, [this] { page_.ApplyNoticeLists(); });
  connect(schedEnabled_, &QCheckBox::clicked, this, [this](bool on) { page_.SetScheduleEnabled(on); });
  connect(schedType_, &QButtonGroup::idClicked, this, [this](int t) { page_.SetScheduleType(t); });
  const auto time = [this] {
    if (syncing_) return;
    int hour = 0, minute = 0, second = 0;
    time_->GetTime(&hour, &minute, &second);
    page_.SetScheduleTime(hour, minute);
  };
  connect(time_->hourEdit(), &QLineEdit::textChanged, this, time);
  connect(time_->minuteEdit(), &QLineEdit::textChanged, this, time);
  connect(weekday_, &QComboBox::activated, this, [this](int v) { page_.SetScheduleWeekday(v); });
  connect(monthDay_, &QSpinBox::valueChanged, this, [this](int v) { page_.SetScheduleMonthDay(v); });
  connect(count_, &QSpinBox::valueChanged, this, [this](int v) { page_.SetScheduleCount(v); });
  connect(schedApply_, &QPushButton::clicked, this, [this] { page_.ApplySchedule(); });
  connect(test_, &QLineEdit::textEdited, this, [this](const QString& t) { page_.TypeTestEvent(t.toStdString()); });
  connect(testButton_, &QPushButton::clicked, this, [this] { page_.SendTestEvent(); });
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CRAIDMachineView::Sync() {
  syncing_ = true;
  const auto& c = page_.controls();
  const auto e = page_.enables();
  name_->setText(Q(c.name));
  version_->setText(Q(c.version));
  ip_->setText(Q(c.ipAddress));
  Set(autoSave_, c.autoSave);
  Set(email_, c.emailEnable);
  Set(ntLog_, c.ntEventLog);
  Set(protection_, c.protection);
  Set(sender_, c.emailId);
  Set(server_, c.smtpServer);
  Set(interval_, c.interval);
  Set(newRecipient_, c.newRecipient);
  Set(test_, c.testEvent);
  QStringList items;
  for (const auto& r : c.recipients) items << Q(r);
  QStringList shown;
  for (int i = 0; i < recipients_->count(); ++i) shown << recipients_->item(i)->text();
  if (shown != items) {
    recipients_->clear();
    recipients_->addItems(items);
  }
  for (int r = 0; r < notices_->rowCount(); ++r) {
    const auto row = static_cast<std::size_t>(r);
    notices_->item(r, 1)->setCheckState(c.email[row] ? Qt::Checked : Qt::Unchecked);
    notices_->item(r, 2)->setCheckState(c.popup[row] ? Qt::Checked : Qt::Unchecked);
  }
  Set(allEmail_, c.allEmail);
  Set(allPopup_, c.allPopup);
  Set(schedEnabled_, c.scheduleEnabled);
  if (QAbstractButton* b = schedType_->button(c.scheduleType)) b->setChecked(true);
  int hour = -1, minute = -1, second = 0;
  time_->GetTime(&hour, &minute, &second);
  if (hour != c.hour || minute != c.minute) time_->SetTime(c.hour, c.minute, 0);
  weekday_->setCurrentIndex(std::clamp(c.weekday, 0, 6));
  Set(monthDay_, c.monthDay);
  Set(count_, c.scheduleType == 5 ? c.hours : c.minutes);
  ntLog_->setEnabled(e.ntEventLog);
  email_->setEnabled(e.emailEnable);
  autoSave_->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{sender_, server_, serverApply_}) w->setEnabled(e.emailFields);
  newRecipient_->setEnabled(e.addRecipient);
  add_->setEnabled(e.addRecipient);
  del_->setEnabled(e.delRecipient);
  protection_->setEnabled(e.protection);
  interval_->setEnabled(e.interval);
  notices_->setEnabled(e.noticeList);
  allEmail_->setEnabled(e.noticeList);
  allPopup_->setEnabled(e.noticeList);
  noticeApply_->setEnabled(e.noticeApply);
  schedEnabled_->setEnabled(e.scheduleEnabled);
  for (QAbstractButton* b : schedType_->buttons()) b->setEnabled(e.scheduleEnabled);
  time_->EnableTime(e.scheduleEnabled);
  for (QWidget* w : std::initializer_list<QWidget*>{weekday_, monthDay_, count_}) w->setEnabled(e.scheduleEnabled);
  schedApply_->setEnabled(e.scheduleApply);
  test_->setEnabled(e.testEvent);
  testButton_->setEnabled(e.testEvent);
  syncing_ = false;
}

// --- RAID system ---

CRAIDSystemView::CRAIDSystemView(RaidSystemPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("RAID system"));
  auto* l = new QFormLayout(this);
  type_ = Value(l, "Type", this);
  port_ = Value(l, "Port Status", this);
  version_ = Value(l, "Firmware Version", this);
  connect_ = Button("Connect", this);
  disconnect_ = Button("Disconnect", this);
  l->addRow(Side({connect_, disconnect_}));
  connect(connect_, &QPushButton::clicked, this, [this] { page_.Connect(); });
  connect(disconnect_, &QPushButton::clicked, this, [this] { page_.Disconnect(); });
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CRAIDSystemView::Sync() {
  const auto& c = page_.controls();
  type_->setText(Q(c.type));
  port_->setText(Q(c.portStatus));
  version_->setText(Q(c.version));
  connect_->setVisible(c.portControls);
  disconnect_->setVisible(c.portControls);
  connect_->setEnabled(c.connect);
  disconnect_->setEnabled(c.disconnect);
}

// --- IDE family ---

CMaroveltArrayView::CMaroveltArrayView(IdeArrayPage& page, QWidget* parent) : CPaintedPage(parent), page_(page) {
  Bind(page_);
  setAccessibleName(QStringLiteral("Array"));
}

CMaroveltDiskView::CMaroveltDiskView(IdeDiskPage& page, QWidget* parent) : CPaintedPage(parent), page_(page) {
  Bind(page_);
  setAccessibleName(QStringLiteral("Disk"));
}

CMaroveltCtrlrView::CMaroveltCtrlrView(IdeControllerPage& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAccessibleName(QStringLiteral("Controller"));
  auto* top = new QGridLayout(this);
  auto* sys = new QGroupBox(QStringLiteral("System Information"), this);
  auto* sl = new QFormLayout(sys);
  const char* captions[] = {"IRQ", "Bus Master Base", "ROM Base Address", "Driver Version", "Hardware Type"};
  for (std::size_t i = 0; i < info_.size(); ++i) info_[i] = Value(sl, captions[i], sys);
  top->addWidget(sys, 0, 0);
  auto* disk = new QGroupBox(QStringLiteral("Disk Parameters"), this);
  auto* dl = new QVBoxLayout(disk);
  smart_ = Check("Enable S.M.A.R.T Check", disk);
  cache_ = Check("Enable Hard Disks' Write Cache", disk);
  dl->addWidget(smart_);
  dl->addWidget(cache_);
  dl->addStretch();
  top->addWidget(disk, 0, 1);
  const auto slider = [](const char* name, int max, int tick, QWidget* p) {
    auto* s = Named(new QSlider(Qt::Horizontal, p), QString::fromUtf8(name));
    s->setRange(0, max);
    s->setTickInterval(tick);
    s->setTickPosition(QSlider::TicksBelow);
    return s;
  };
  const auto lowHigh = [](QSlider* s, QWidget* p) {
    auto* row = new QHBoxLayout();
    row->addWidget(new QLabel(QStringLiteral("Low"), p));
    row->addWidget(s, 1);
    row->addWidget(new QLabel(QStringLiteral("High"), p));
    return row;
  };
  auto* rebuild = new QGroupBox(QStringLiteral("Rebuild Setting"), this);
  auto* rl = new QVBoxLayout(rebuild);
  hotSpare_ = Check("Disable Hot Spare/Auto Rebuild", rebuild);
  rate_ = slider("Rebuild Rate", 31, 4, rebuild);
  rl->addWidget(hotSpare_);
  rl->addLayout(lowHigh(rate_, rebuild));
  top->addWidget(rebuild, 1, 0);
  auto* pciBox = new QGroupBox(QStringLiteral("PCI Bus Utilization"), this);
  auto* pl = new QVBoxLayout(pciBox);
  pci_ = slider("PCI Bus Utilization", 100, 10, pciBox);
  pl->addLayout(lowHigh(pci_, pciBox));
  top->addWidget(pciBox, 1, 1);
  reset_ = Button("Reset", this);
  commit_ = Button("Commit", this);
  auto* bl = new QHBoxLayout();
  bl->addStretch();
  bl->addWidget(reset_);
  bl->addWidget(commit_);
  top->addLayout(bl, 2, 0, 1, 2);
  top->setRowStretch(3, 1);
  connect(smart_, &QCheckBox::clicked, this, [this](bool on) { page_.SetSmart(on); });
  connect(cache_, &QCheckBox::clicked, this, [this](bool on) { page_.SetWriteCache(on); });
  connect(hotSpare_, &QCheckBox::clicked, this, [this](bool on) { page_.SetDisableHotSpare(on); });
  connect(rate_, &QSlider::valueChanged, this, [this](int v) { page_.SetMaintenanceRate(v); });
  connect(pci_, &QSlider::valueChanged, this, [this](int v) { page_.SetPciBus(v); });
  connect(reset_, &QPushButton::clicked, this, [this] { page_.Reset(); });
  connect(commit_, &QPushButton::clicked, this, [this] { page_.Commit(); });
  page_.onChanged = [this] { Sync(); };
  Sync();
}

void CMaroveltCtrlrView::Sync() {
  const auto& c = page_.controls();
  const auto e = page_.enables();
  const std::string* t[] = {&c.irq, &c.busMasterBase, &c.romBase, &c.driverVersion, &c.hardware};
  for (std::size_t i = 0; i < info_.size(); ++i) info_[i]->setText(Q(*t[i]));
  Set(smart_, c.smart);
  Set(cache_, c.writeCache);
  Set(hotSpare_, c.disableHotSpare);
  Set(rate_, c.maintenanceRate);
  Set(pci_, c.pciBus);
  smart_->setEnabled(e.smart);
  cache_->setEnabled(e.writeCache);
  hotSpare_->setEnabled(e.disableHotSpare);
  rate_->setEnabled(e.maintenanceRate);
  pci_->setEnabled(e.pciBus);
  reset_->setEnabled(e.commit);
  commit_->setEnabled(e.commit);
}

}  // namespace kelm::console::pages
