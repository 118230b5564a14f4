#include "console/controls/control_rules.h"

#include <Qt>
#include <cmath>

namespace kelm::controls {

int spinStep(int x, int direction, int minimum, int maximum, int step, int mode) {
  if (direction == 0) return x;
  long long target;
  if (mode == kSpinPower && step > 1 && x > 0 && minimum > 0) {
    const int n = static_cast<int>(
        std::floor(std::log(static_cast<double>(x) / minimum) / std::log(static_cast<double>(step)) + 0.00000001));
    long long d = minimum;
    for (int i = 0; i < n && d <= maximum; ++i) d *= step;
    if (direction > 0) {
      target = x >= d ? d * step : d;
    } else {
      target = d >= x ? d / step : d;
    }
    if (target == 0) target = maximum;
    if (target > maximum) target = minimum;
  } else {
    const long long s = step > 0 ? step : 1;
    target = static_cast<long long>(x) + (direction > 0 ? s : -s);
  }
  // The spin wraps past either end.
  if (target > maximum) return minimum;
  if (target < minimum) return maximum;
  return static_cast<int>(target);
}

std::string ordinalSuffix(int value) {
  if (value < 1 || value > 31) return {};
  if (value == 1 || value == 21 || value == 31) return "st";
  if (value == 2 || value == 22) return "nd";
  if (value == 3 || value == 23) return "rd";
  return "th";
}

TimeEditLayout layoutTimeEdit(QSize client, int fields, int listItemHeight) {
  const bool hour = fields & kTimeHour, minute = fields & kTimeMinute, second = fields & kTimeSecond;
  const bool ampm = fields & kTime12Hour;
  const bool sep1 = hour && (minute || second);
  const bool sep2 = minute && second;
  const int units = 2 * (hour + minute + second) + sep1 + sep2 + 3 * ampm + 2;
  const int unit = client.width() / units;
  const int h = client.height();
  TimeEditLayout l;
  int x = 0;
  auto place = [&](bool present, int n, QRect& r) {
    if (!present) return;
    r = QRect(x, 0, n * unit, h);
    x += n * unit;
  };
  place(hour, 2, l.hour);
  place(sep1, 1, l.sep1);
  place(minute, 2, l.minute);
  place(sep2, 1, l.sep2);
  place(second, 2, l.second);
  place(ampm, 3, l.ampm);
  if (ampm && listItemHeight + 1 < h) l.ampm.setHeight(listItemHeight + 1);
  l.spin = QRect(x, 0, client.width() - x, h);
  return l;
}

ShownHour toTwelveHour(int hour) {
  hour = ((hour % 24) + 24) % 24;
  const int shown = hour % 12;
  return ShownHour{shown == 0 ? 12 : shown, hour >= 12 ? 1 : 0};
}

int fromTwelveHour(int shown, int pm) { return (pm ? 12 : 0) + (((shown % 12) + 12) % 12); }

int cutHour(int hour, bool twelveHour) {
  const int top = twelveHour ? 12 : 23;
  if (hour > top) return top;
  if (hour < (twelveHour ? 1 : 0)) return twelveHour ? 12 : 0;
  return hour;
}

int cutMinute(int value) { return (value >= 60 || value < 0) ? 0 : value; }

QString clampAddressField(const QString& text) {
  QString digits;
  for (QChar c : text) {
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9') && digits.size() < 3) digits += c;
  }
  if (!digits.isEmpty() && digits.toInt() >= 256) return QStringLiteral("255");
  return digits;
}

int noticeColumnForKey(int key, int columnCount) {
  if (key < Qt::Key_F2 || key > Qt::Key_F11) return -1;
  const int column = key - Qt::Key_F2 + 1;
  return column < columnCount ? column : -1;
}

QRect animationFrame(QSize strip, int frames, int index) {
  if (frames < 1) frames = 1;
  const int w = strip.width() / frames;
  index = ((index % frames) + frames) % frames;
  return QRect(index * w, 0, w, strip.height());
}

}  // namespace kelm::controls
