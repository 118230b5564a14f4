#include "console/controls/time_edit.h"

#include <QFocusEvent>
#include <QIntValidator>
#include <QPainter>

namespace kelm::controls {

CTimeEdit::CTimeEdit(QWidget* parent)
    : QWidget(parent),
      hour_(new QLineEdit(this)),
      minute_(new QLineEdit(this)),
      second_(new QLineEdit(this)),
      sep1_(new QLabel(QStringLiteral(":"), this)),
      sep2_(new QLabel(QStringLiteral(":"), this)),
      ampm_(new QListWidget(this)),
      spin_(new SpinButtons(this)) {
  for (QLineEdit* e : {hour_, minute_, second_}) {
    e->setValidator(new QIntValidator(0, 99, e));
    e->setAlignment(Qt::AlignCenter);
    e->setMaxLength(2);
    e->setFrame(false);
    e->installEventFilter(this);
    e->hide();
  }
  hour_->setFocusPolicy(Qt::ClickFocus);  // minute and second are the tab stops
  for (QLabel* s : {sep1_, sep2_}) {
    s->setAlignment(Qt::AlignCenter);
    s->hide();
  }
  ampm_->addItems({QStringLiteral("AM"), QStringLiteral("PM")});
  ampm_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ampm_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ampm_->installEventFilter(this);
  connect(ampm_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0) return;
    pm_ = row;
    showAmPm();
  });
  ampm_->hide();
  spin_->hide();
  setFocusPolicy(Qt::StrongFocus);
  connect(spin_, &SpinButtons::stepped, this, &CTimeEdit::stepBy);
}

void CTimeEdit::Create(int hour, int minute, int second, int fields) {
  fields_ = fields;
  hour_->setVisible(fields & kTimeHour);
  minute_->setVisible(fields & kTimeMinute);
  second_->setVisible(fields & kTimeSecond);
  sep1_->setVisible((fields & kTimeHour) && (fields & (kTimeMinute | kTimeSecond)));
  sep2_->setVisible((fields & kTimeMinute) && (fields & kTimeSecond));
  ampm_->setVisible(fields & kTime12Hour);
  spin_->show();
  ready_ = true;
  SetTime(hour, minute, second);
  layoutChildren();
}

void CTimeEdit::SetTime(int hour, int minute, int second) {
  if (fields_ & kTime12Hour) {
    const ShownHour s = toTwelveHour(hour);
    hour_->setText(QString::number(s.hour));
    pm_ = s.pm;
    showAmPm();
  } else {
    hour_->setText(QString::number(hour));
  }
  minute_->setText(QString::asprintf("%02d", minute));
  second_->setText(QString::asprintf("%02d", second));
}

void CTimeEdit::GetTime(int* hour, int* minute, int* second) const {
  const int h = fieldValue(hour_) & 0xFF;
  if (hour) *hour = (fields_ & kTime12Hour) ? fromTwelveHour(h, pm_) : h;
  if (minute) *minute = fieldValue(minute_) & 0xFF;
  if (second) *second = fieldValue(second_) & 0xFF;
}

void CTimeEdit::EnableTime(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{hour_, minute_, second_, sep1_, sep2_, ampm_, spin_}) {
    w->setEnabled(on);
  }
  setEnabled(on);
}

void CTimeEdit::stepBy(int direction) {
  if (!ready_ || !isEnabled()) return;
  if (buddy_ == ampm_) {
    pm_ = pm_ ? 0 : 1;  // two entries: either direction wraps to the other
    ampm_->setCurrentRow(pm_);
    showAmPm();
    return;
  }
  auto* e = qobject_cast<QLineEdit*>(buddy_);
  if (!e) e = (fields_ & kTimeHour) ? hour_ : (fields_ & kTimeMinute) ? minute_ : second_;
  const bool twelve = fields_ & kTime12Hour;
  const int lo = (e == hour_ && twelve) ? 1 : 0;
  const int hi = e == hour_ ? (twelve ? 12 : 23) : 59;
  const int v = spinStep(e->text().toInt(), direction, lo, hi, 1, kSpinLinear);
  e->setText(e == hour_ ? QString::number(v) : QString::asprintf("%02d", v));
}

void CTimeEdit::showAmPm() {
  // The list is one entry high: only the remembered entry is in it.
  for (int row = 0; row < ampm_->count(); ++row) ampm_->setRowHidden(row, row != pm_);
}

void CTimeEdit::resizeEvent(QResizeEvent*) { layoutChildren(); }

void CTimeEdit::layoutChildren() {
  if (!ready_) return;
  const int itemHeight = ampm_->sizeHintForRow(0) > 0 ? ampm_->sizeHintForRow(0) : fontMetrics().height();
  const TimeEditLayout l = layoutTimeEdit(size(), fields_, itemHeight);
  hour_->setGeometry(l.hour);
  sep1_->setGeometry(l.sep1);
  minute_->setGeometry(l.minute);
  sep2_->setGeometry(l.sep2);
  second_->setGeometry(l.second);
  ampm_->setGeometry(l.ampm);
  spin_->setGeometry(l.spin);
  showAmPm();
}

void CTimeEdit::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);  // the parts sit on white
}

void CTimeEdit::focusInEvent(QFocusEvent*) {
  QLineEdit* first = (fields_ & kTimeHour) ? hour_ : (fields_ & kTimeMinute) ? minute_ : second_;
  first->setFocus();
}

void CTimeEdit::leaveField(QObject* field) {
  if (field == hour_) {
    hour_->setText(QString::number(cutHour(hour_->text().toInt(), fields_ & kTime12Hour)));
  } else if (field == minute_ || field == second_) {
    auto* e = static_cast<QLineEdit*>(field);
    e->setText(QString::asprintf("%02d", cutMinute(e->text().toInt())));
  } else if (field == ampm_) {
    if (ampm_->currentRow() >= 0) pm_ = ampm_->currentRow();
    ampm_->clearSelection();
    showAmPm();
  }
}

bool CTimeEdit::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    buddy_ = watched;
    if (watched == ampm_) ampm_->setCurrentRow(pm_);
  } else if (event->type() == QEvent::FocusOut) {
    leaveField(watched);
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kelm::controls
