#pragma once
// The rules the console's small controls keep, apart from their widgets: spin stepping, ordinal
// endings, the time editor's layout and twelve-hour clock, the address field clamp, the notice
// grid's function keys and the animation's frames.
#include <QRect>
#include <QString>
#include <string>

namespace kelm::controls {

enum SpinMode { kSpinLinear = 0, kSpinPower = 1 };

// The value after one spin click (direction +1 up, -1 down) from x, wrapping at the ends.
// Linear: one click moves by one step. Power: the value runs through minimum x step^n; a
// step of 1 or less, or a value or minimum of 0 or less, falls back to linear stepping.
int spinStep(int x, int direction, int minimum, int maximum, int step, int mode);

// "st", "nd", "rd" or "th" for the days 1 to 31; empty for anything else.
std::string ordinalSuffix(int value);

// Field word of the time editor.
enum TimeFields : int { kTimeHour = 0x1, kTimeMinute = 0x2, kTimeSecond = 0x4, kTime12Hour = 0x8 };

struct TimeEditLayout {
  QRect hour, sep1, minute, sep2, second, ampm, spin;  // empty when the field is not shown
};
TimeEditLayout layoutTimeEdit(QSize client, int fields, int listItemHeight);

// Twelve-hour clock: the hour shown (1-12) and the AM/PM index (0 AM, 1 PM) for an hour 0-23,
// and back. Midnight is 12 AM and noon 12 PM, both ways.
struct ShownHour {
  int hour;
  int pm;
};
ShownHour toTwelveHour(int hour);
int fromTwelveHour(int shown, int pm);
// What a field shows once it loses the focus.
int cutHour(int hour, bool twelveHour);
int cutMinute(int value);

// Every change of an address field, typed or pasted: digits only, three at most, and a value
// of 256 or more becomes "255".
QString clampAddressField(const QString& text);

// The notice grid's column for F2 to F11 (columns 1 to 10), or -1 when the key is another one
// or its column is not below the column count.
int noticeColumnForKey(int key, int columnCount);

// Frame `index` of an animation strip cut into `frames` (at least 1) equal frames.
QRect animationFrame(QSize strip, int frames, int index);

}  // namespace kelm::controls
