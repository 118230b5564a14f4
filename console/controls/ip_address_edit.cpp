#include "console/controls/ip_address_edit.h"

#include <QKeyEvent>

#include "console/controls/control_rules.h"

namespace kelm::controls {

CAddressFieldEdit::CAddressFieldEdit(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(3);
  // Every change, typed or pasted, is held to the field's rule.
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    const QString clamped = clampAddressField(text);
    if (clamped != text) setText(clamped);
  });
}

void CAddressFieldEdit::enter(CAddressFieldEdit* field) {
  field->setFocus();
  field->selectAll();
}

void CAddressFieldEdit::keyPressEvent(QKeyEvent* event) {
  const QString t = event->text();
  if (t == QLatin1String(".") && next_) return enter(next_);
  if (t == QLatin1String(">") && previous_) return enter(previous_);
  if (t.size() == 1 && t[0].isDigit()) {
    QLineEdit::keyPressEvent(event);
    emit command(kAddressFieldCommand);
    return;
  }
  if (t.size() == 1 && t[0].isPrint()) return;  // the field takes digits only
  QLineEdit::keyPressEvent(event);
}

void CAddressFieldEdit::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Right && cursorPosition() == text().size() && next_) return enter(next_);
  if (event->key() == Qt::Key_Left && cursorPosition() == 0 && previous_) return enter(previous_);
  QLineEdit::keyReleaseEvent(event);
}

CIPAddressEdit::CIPAddressEdit(QWidget* parent) : QWidget(parent), container_(new QWidget(this)) {
  setFocusPolicy(Qt::StrongFocus);
}

void CIPAddressEdit::CreateFields() {
  if (created_) return;
  created_ = true;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i] = new CAddressFieldEdit(container_);
    fields_[i]->setText(QString::number(bytes_[i]));
    connect(fields_[i], &CAddressFieldEdit::command, this, &CIPAddressEdit::command);
    connect(fields_[i], &QLineEdit::textChanged, this, &CIPAddressEdit::changed);
  }
  for (std::size_t i = 0; i < dots_.size(); ++i) {
    dots_[i] = new QLabel(QStringLiteral("."), container_);
    dots_[i]->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i]->link(i > 0 ? fields_[i - 1] : nullptr, i + 1 < fields_.size() ? fields_[i + 1] : nullptr);
  }
  layoutChildren();
  container_->show();
  for (QWidget* w : fields_) w->show();
  for (QWidget* w : dots_) w->show();
}

int CIPAddressEdit::GetAddress(int* a, int* b, int* c, int* d) const {
  int* out[4] = {a, b, c, d};
  int filled = 0;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    int v = 0;
    if (fields_[i] && !fields_[i]->text().isEmpty()) {
      v = fields_[i]->text().toInt();
      ++filled;
    }
    if (out[i]) *out[i] = v;
  }
  return filled;
}

void CIPAddressEdit::SetAddress(int a, int b, int c, int d) {
  bytes_ = {a, b, c, d};
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i]) fields_[i]->setText(QString::number(bytes_[i]));
  }
}

void CIPAddressEdit::setFieldsEnabled(bool on) {
  for (QWidget* w : fields_) {
    if (w) w->setEnabled(on);
  }
  for (QWidget* w : dots_) {
    if (w) w->setEnabled(on);
  }
}

void CIPAddressEdit::resizeEvent(QResizeEvent*) { layoutChildren(); }

void CIPAddressEdit::layoutChildren() {
  container_->setGeometry(rect());
  if (!created_) return;
  const int w = (width() - 15) / 4;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const int x = static_cast<int>(i) * (w + 5);
    fields_[i]->setGeometry(x, 0, w, height());
    if (i < dots_.size()) dots_[i]->setGeometry(x + w, 0, 4, height());
  }
}

void CIPAddressEdit::focusInEvent(QFocusEvent*) {
  if (fields_[0]) fields_[0]->setFocus();
}

}  // namespace kelm::controls
