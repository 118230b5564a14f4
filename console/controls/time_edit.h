#pragma once
// A time-of-day editor: hour, minute and second fields with ':' between them, an optional AM/PM
// list for the twelve-hour clock, and one spin that steps whichever part has the focus.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QWidget>

#include "console/controls/control_rules.h"
#include "console/controls/spin_edit_cell.h"

namespace kelm::controls {

class CTimeEdit : public QWidget {
  Q_OBJECT

 public:
  explicit CTimeEdit(QWidget* parent = nullptr);

  // Makes the parts named by the field word (kTimeHour, kTimeMinute, kTimeSecond, kTime12Hour).
  void Create(int hour, int minute, int second, int fields);
  void SetTime(int hour, int minute, int second);
  void GetTime(int* hour, int* minute, int* second) const;
  void EnableTime(bool on);

  QLineEdit* hourEdit() const { return hour_; }
  QLineEdit* minuteEdit() const { return minute_; }
  QLineEdit* secondEdit() const { return second_; }
  QListWidget* ampmList() const { return ampm_; }
  SpinButtons* spin() const { return spin_; }
  // One spin click on the part that has (or last had) the focus.
  void stepBy(int direction);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void layoutChildren();
  void leaveField(QObject* field);
  void showAmPm();
  int fieldValue(const QLineEdit* e) const { return e && !e->isHidden() ? e->text().toInt() : 0; }

  int fields_ = 0;
  bool ready_ = false;
  int pm_ = 0;  // the AM/PM index remembered while the list has no selection
  QObject* buddy_ = nullptr;
  QLineEdit* hour_;
  QLineEdit* minute_;
  QLineEdit* second_;
  QLabel* sep1_;
  QLabel* sep2_;
  QListWidget* ampm_;
  SpinButtons* spin_;
};

}  // namespace kelm::controls
