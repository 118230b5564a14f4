#pragma once
// A numeric cell: a read-only edit that changes only through its spin arrows, stepping linearly
// or through powers of the step; and the same cell with the day's ordinal ending beside it.
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include "console/controls/control_rules.h"

class QToolButton;

namespace kelm::controls {

// Two stacked arrows, the stepping half of a spin control.
class SpinButtons : public QWidget {
  Q_OBJECT

 public:
  explicit SpinButtons(QWidget* parent = nullptr);

 signals:
  void stepped(int direction);  // +1 up, -1 down

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* up_;
  QToolButton* down_;
};

class CSpinEditCell : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSpinWidth = 20;

  explicit CSpinEditCell(QWidget* parent = nullptr);

  // With step 0 there is no spin, and the value cannot change.
  virtual void Setup(int value, int minimum, int maximum, int step, int mode = kSpinLinear);
  QString GetText() const { return edit_->text(); }
  int GetValue() const { return edit_->text().toInt(); }
  void EnableCell(bool on);
  // One click of the spin (+1 up, -1 down), as the arrows and the arrow keys give it.
  void stepBy(int direction);

  QLineEdit* edit() const { return edit_; }
  SpinButtons* spin() const { return spin_; }

  // As tall as a line edit, so that a layout does not squeeze the arrows to slivers.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The cell's value changed (the edit's change, reported from the cell).
  void changed(int value);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  virtual void layoutChildren();
  virtual void valueShown(int value) {}

  QLineEdit* edit_;
  SpinButtons* spin_;
  int minimum_ = 0;
  int maximum_ = 0;
  int step_ = 0;
  int mode_ = kSpinLinear;
  bool ready_ = false;
};

class CSpinEditCellEx : public CSpinEditCell {
  Q_OBJECT

 public:
  static constexpr int kSuffixWidth = 29;

  explicit CSpinEditCellEx(QWidget* parent = nullptr);
  void Setup(int value, int minimum, int maximum, int step, int mode = kSpinLinear) override;
  QString suffix() const { return suffix_->text(); }

 protected:
  void layoutChildren() override;
  void valueShown(int value) override;

 private:
  QLabel* suffix_;
};

}  // namespace kelm::controls
