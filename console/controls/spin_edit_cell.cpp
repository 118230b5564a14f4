#include "console/controls/spin_edit_cell.h"

#include <QIntValidator>
#include <QKeyEvent>
#include <QToolButton>

namespace kelm::controls {

SpinButtons::SpinButtons(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
  }
  connect(up_, &QToolButton::clicked, this, [this] { emit stepped(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { emit stepped(-1); });
}

void SpinButtons::resizeEvent(QResizeEvent*) {
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

CSpinEditCell::CSpinEditCell(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), spin_(new SpinButtons(this)) {
  edit_->setReadOnly(true);  // the value changes only through the spin
  edit_->setValidator(new QIntValidator(edit_));
  edit_->installEventFilter(this);
  connect(spin_, &SpinButtons::stepped, this, &CSpinEditCell::stepBy);
  connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    valueShown(text.toInt());
    emit changed(text.toInt());
  });
}

void CSpinEditCell::Setup(int value, int minimum, int maximum, int step, int mode) {
  minimum_ = minimum;
  maximum_ = maximum;
  step_ = step;
  mode_ = mode;
  spin_->setVisible(step != 0);
  spin_->setEnabled(step != 0);
  ready_ = true;
  edit_->setText(QString::number(value));
  layoutChildren();
}

void CSpinEditCell::EnableCell(bool on) {
  edit_->setEnabled(on);
  spin_->setEnabled(on && step_ != 0);
  setEnabled(on);
  update();
}

void CSpinEditCell::stepBy(int direction) {
  if (!ready_ || step_ == 0 || !isEnabled()) return;
  edit_->setText(QString::number(spinStep(GetValue(), direction, minimum_, maximum_, step_, mode_)));
}

void CSpinEditCell::resizeEvent(QResizeEvent*) { layoutChildren(); }

QSize CSpinEditCell::sizeHint() const {
  const QSize edit = edit_->sizeHint();
  return {edit.width() + kSpinWidth, edit.height()};
}

QSize CSpinEditCell::minimumSizeHint() const {
  const QSize edit = edit_->minimumSizeHint();
  return {edit.width() + kSpinWidth, edit.height()};
}

bool CSpinEditCell::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      stepBy(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CSpinEditCell::layoutChildren() {
  const bool spin = step_ != 0 && width() >= kSpinWidth;
  const int spinWidth = spin ? kSpinWidth : 0;
  edit_->setGeometry(0, 0, std::max(0, width() - spinWidth - 1), height());
  if (spin) spin_->setGeometry(width() - kSpinWidth, 0, kSpinWidth, height());
}

CSpinEditCellEx::CSpinEditCellEx(QWidget* parent) : CSpinEditCell(parent), suffix_(new QLabel(this)) {}

void CSpinEditCellEx::Setup(int value, int minimum, int maximum, int step, int mode) {
  edit_->setMaxLength(2);
  edit_->setFrame(false);
  CSpinEditCell::Setup(value, minimum, maximum, step, mode);
  valueShown(value);
}

void CSpinEditCellEx::layoutChildren() {
  const int spinWidth = (step_ != 0 && width() >= kSpinWidth) ? kSpinWidth : 0;
  const int editWidth = std::max(0, width() - spinWidth - kSuffixWidth - 1);
  edit_->setGeometry(0, 0, editWidth, height());
  suffix_->setGeometry(editWidth, 0, kSuffixWidth, height());
  if (spinWidth) spin_->setGeometry(width() - kSpinWidth, 0, kSpinWidth, height());
}

void CSpinEditCellEx::valueShown(int value) { suffix_->setText(QString::fromStdString(ordinalSuffix(value))); }

}  // namespace kelm::controls
