#include "console/ui/art.h"

#include <QCoreApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <map>

namespace kelm::console::ui {
namespace {

// Every image is drawn on a 32-unit grid and scaled to the size asked for.
const QColor kInk(40, 40, 48);
const QColor kSteel(150, 160, 176);
const QColor kBlue(40, 96, 200);
const QColor kGreen(40, 160, 72);
const QColor kRed(208, 40, 40);
const QColor kAmber(232, 160, 24);
const QColor kGrey(128, 128, 128);

void Disk(QPainter& p, QRectF r, QColor body) {
  const qreal cap = r.height() / 4;
  QLinearGradient g(r.topLeft(), r.topRight());
  g.setColorAt(0, body.darker(130));
  g.setColorAt(0.5, body.lighter(130));
  g.setColorAt(1, body.darker(140));
  QPainterPath path;
  path.moveTo(r.left(), r.top() + cap / 2);
  path.lineTo(r.left(), r.bottom() - cap / 2);
  path.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
  path.lineTo(r.right(), r.top() + cap / 2);
  path.arcTo(QRectF(r.left(), r.top(), r.width(), cap), 0, 180);
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(g);
  p.drawPath(path);
  p.setBrush(body.lighter(150));
  p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
}

void Box(QPainter& p, QRectF r, QColor body) {
  p.setPen(QPen(kInk, 1.2));
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, body.lighter(140));
  g.setColorAt(1, body.darker(120));
  p.setBrush(g);
  p.drawRoundedRect(r, 2, 2);
}

void Badge(QPainter& p, QColor c, bool cross) {
  p.setPen(QPen(Qt::white, 1.5));
  p.setBrush(c);
  p.drawEllipse(QRectF(18, 18, 13, 13));
  p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
  if (cross) {
    p.drawLine(QPointF(21.5, 21.5), QPointF(27.5, 27.5));
    p.drawLine(QPointF(27.5, 21.5), QPointF(21.5, 27.5));
  } else {
    p.drawLine(QPointF(24.5, 20.5), QPointF(24.5, 25.5));
    p.drawPoint(QPointF(24.5, 28.5));
  }
}

void Monitor(QPainter& p, QColor screen) {
  Box(p, QRectF(3, 4, 26, 18), kSteel);
  p.setBrush(screen);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(6, 7, 20, 12));
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kSteel);
  p.drawRect(QRectF(12, 22, 8, 3));
  p.drawRoundedRect(QRectF(7, 25, 18, 4), 1, 1);
}

void Tower(QPainter& p, QColor body) {
  Box(p, QRectF(8, 2, 16, 28), body);
  p.setPen(QPen(kInk, 1));
  for (int i = 0; i < 3; ++i) p.drawLine(QPointF(11, 7 + 4 * i), QPointF(21, 7 + 4 * i));
  p.setBrush(kGreen);
  p.drawEllipse(QRectF(14, 23, 4, 4));
}

void Array(QPainter& p, QColor body) {
  Disk(p, QRectF(3, 12, 14, 17), body);
  Disk(p, QRectF(9, 7, 14, 17), body);
  Disk(p, QRectF(15, 2, 14, 17), body);
}

void Controller(QPainter& p) {
  Box(p, QRectF(2, 8, 28, 16), QColor(56, 140, 88));
  p.setBrush(kInk);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(8, 12, 9, 8));
  p.setBrush(QColor(220, 190, 80));
  for (int i = 0; i < 6; ++i) p.drawRect(QRectF(5 + 4 * i, 24, 2.5, 4));
}

void Channel(QPainter& p) {
  p.setPen(QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(4, 16), QPointF(28, 16));
  for (int i = 0; i < 3; ++i) {
    p.setBrush(kBlue);
    p.setPen(QPen(kInk, 1));
    p.drawRect(QRectF(6 + 8 * i, 10, 5, 12));
  }
}

void Enclosure(QPainter& p, QColor body) {
  Box(p, QRectF(3, 4, 26, 24), body);
  p.setPen(QPen(kInk, 1));
  for (int i = 0; i < 4; ++i) {
    p.setBrush(kSteel.lighter(120));
    p.drawRect(QRectF(6, 7 + 5 * i, 20, 3.5));
    p.setBrush(kGreen);
    p.drawRect(QRectF(22, 8 + 5 * i, 2, 1.5));
  }
}

void Power(QPainter& p, bool failed) {
  p.setPen(QPen(failed ? kRed : kAmber, 3, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(6, 6, 20, 20), 120 * 16, 300 * 16);
  p.drawLine(QPointF(16, 3), QPointF(16, 15));
}

void Fan(QPainter& p, bool failed) {
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(failed ? kRed.lighter(130) : QColor(120, 180, 220));
  p.drawEllipse(QRectF(3, 3, 26, 26));
  p.setBrush(kInk);
  for (int i = 0; i < 3; ++i) {
    p.save();
    p.translate(16, 16);
    p.rotate(120 * i);
    QPainterPath blade;
    blade.moveTo(0, 0);
    blade.cubicTo(4, -4, 4, -11, 0, -11);
    blade.cubicTo(-3, -8, -2, -3, 0, 0);
    p.drawPath(blade);
    p.restore();
  }
}

void Thermometer(QPainter& p, bool failed) {
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(13, 3, 6, 20), 3, 3);
  p.setBrush(failed ? kRed : kBlue);
  p.drawEllipse(QRectF(10, 20, 12, 10));
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(14.5, 10, 3, 12));
}

void Voltage(QPainter& p) {
  QPainterPath bolt;
  bolt.moveTo(18, 2);
  bolt.lineTo(7, 18);
  bolt.lineTo(15, 18);
  bolt.lineTo(12, 30);
  bolt.lineTo(25, 12);
  bolt.lineTo(17, 12);
  bolt.closeSubpath();
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kAmber);
  p.drawPath(bolt);
}

void Person(QPainter& p, QPointF at, qreal scale, QColor shirt) {
  p.setPen(QPen(kInk, 1.1));
  p.setBrush(QColor(240, 200, 160));
  p.drawEllipse(QRectF(at.x() - 4 * scale, at.y(), 8 * scale, 8 * scale));
  p.setBrush(shirt);
  p.drawRoundedRect(QRectF(at.x() - 7 * scale, at.y() + 9 * scale, 14 * scale, 10 * scale), 4 * scale, 4 * scale);
}

void Unknown(QPainter& p) {
  Box(p, QRectF(6, 3, 20, 26), Qt::white);
  p.setPen(kInk);
  QFont f;
  f.setPixelSize(18);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRectF(6, 3, 20, 26), Qt::AlignCenter, QStringLiteral("?"));
}

void Hourglass(QPainter& p) {
  p.setPen(QPen(kInk, 1.4));
  p.setBrush(QColor(230, 220, 180));
  QPolygonF glass;
  glass << QPointF(8, 4) << QPointF(24, 4) << QPointF(16, 16) << QPointF(24, 28) << QPointF(8, 28) << QPointF(16, 16);
  p.drawPolygon(glass);
  p.setBrush(kAmber);
  QPolygonF sand;
  sand << QPointF(11, 27) << QPointF(21, 27) << QPointF(16, 21);
  p.drawPolygon(sand);
}

void Draw(QPainter& p, int index) {
  switch (index) {
    case 0: Monitor(p, kBlue); break;                              // console root
    case 1: Tower(p, kSteel); break;                               // server
    case 2: Monitor(p, kGreen); break;                             // agent machine
    case 3: Array(p, kSteel); break;                               // array
    case 4: Controller(p); break;                                  // controller
    case 5: Channel(p); break;                                     // channel
    case 6: Disk(p, QRectF(7, 3, 18, 26), kSteel); break;          // disk
    case 7: Disk(p, QRectF(7, 3, 18, 26), kGreen); break;          // free disk
    case 8: Disk(p, QRectF(7, 3, 18, 26), kAmber); break;          // spare disk
    case 9: Enclosure(p, kSteel); break;                           // enclosure
    case 10: Power(p, false); break;
    case 11: Fan(p, false); break;
    case 12: Thermometer(p, false); break;
    case 13: Voltage(p); break;
    case 14:                                                       // user accounts
      Person(p, QPointF(11, 4), 0.9, kGreen);
      Person(p, QPointF(21, 8), 0.95, kBlue);
      break;
    case 15: Person(p, QPointF(16, 4), 1.2, kBlue); break;         // user
    case 16: Box(p, QRectF(3, 6, 26, 20), kBlue.lighter(140)); Array(p, kSteel); break;  // RAID system
    case 17: Unknown(p); break;
    case 18: Hourglass(p); break;                                  // please wait
    case 19: Tower(p, kGrey); Badge(p, kRed, true); break;         // server, not connected
    case 20: Array(p, kSteel); Badge(p, kRed, false); break;       // array critical or offline
    case 21: Array(p, kSteel); Badge(p, kAmber, false); break;     // array degraded while busy
    case 22: Power(p, true); break;
    case 23: Fan(p, true); break;
    case 24: Thermometer(p, true); break;
    case 25: Monitor(p, kGrey); Badge(p, kRed, true); break;       // agent, not connected
    case 26: Box(p, QRectF(3, 6, 26, 20), kGreen.lighter(150)); Array(p, kSteel); break;  // software RAID
    case 27: Enclosure(p, QColor(170, 150, 200)); break;           // sensor group, other enclosure kind
    case 28: Disk(p, QRectF(7, 3, 18, 26), kSteel); Badge(p, kRed, true); break;  // failed disk
    default: Unknown(p); break;
  }
}

QImage Canvas(int w, int h, QColor fill) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(fill);
  return img;
}

}  // namespace

QPixmap NodeImage(int index, int size) {
  QImage img = Canvas(size, size, Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  Draw(p, index);
  p.end();
  return QPixmap::fromImage(img);
}

namespace {

// Drawing an icon costs far more than showing it, and the panes set one on every item they list:
// each image is drawn once and shared. The cache goes with the application, before its pixmaps
// can no longer be freed.
std::map<int, QIcon>& IconCache() {
  static std::map<int, QIcon> cache;
  static bool cleared = false;
  if (!cleared) {
    cleared = true;
    qAddPostRoutine([] {
      IconCache().clear();
    });
  }
  return cache;
}

}  // namespace

QIcon NodeIcon(int index) {
  std::map<int, QIcon>& cache = IconCache();
  if (auto it = cache.find(index); it != cache.end()) return it->second;
  QIcon icon;
  for (int s : {16, 32, 48}) icon.addPixmap(NodeImage(index, s));
  // Only the images there are are kept, so the cache stays bounded whatever index is asked for.
  if (index >= 0 && index < 64) cache.emplace(index, icon);
  return icon;
}

QImage ToolbarStrip() {
  // 32784 refresh, 32809 create array, 32781 delete array, 32777 rebuild, 32778 synchronise,
  // 32833 pause, 32832 continue, 32834 stop, 32799 new user, 32802 delete user, 32818 events,
  // 32842 login, 32843 logout, 32835 beeper, 57664 about.
  constexpr int kCount = 15;
  QImage strip = Canvas(16 * kCount, 15, QColor(192, 192, 192));
  QPainter p(&strip);
  p.setRenderHint(QPainter::Antialiasing);
  auto cell = [&](int i) {
    p.resetTransform();
    p.translate(16 * i, 0);
    p.scale(16 / 32.0, 15 / 32.0);
  };
  auto arrow = [&](QColor c) {
    p.setPen(QPen(c, 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 6, 20, 20), 30 * 16, 280 * 16);
    p.setBrush(c);
    p.setPen(Qt::NoPen);
    QPolygonF head;
    head << QPointF(22, 2) << QPointF(30, 12) << QPointF(19, 13);
    p.drawPolygon(head);
  };
  auto sign = [&](QColor c, bool plus) {
    p.setPen(QPen(c, 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19, 25), QPointF(29, 25));
    if (plus) p.drawLine(QPointF(24, 20), QPointF(24, 30));
  };
  cell(0); arrow(QColor(0, 128, 0));
  cell(1); Array(p, kSteel); sign(kGreen, true);
  cell(2); Array(p, kSteel); sign(kRed, false);
  cell(3); Array(p, kSteel); p.setPen(QPen(kBlue, 4)); p.drawLine(QPointF(4, 28), QPointF(28, 28));
  cell(4); Array(p, kSteel); p.setPen(QPen(kGreen, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(16, 26), QPointF(21, 30)); p.drawLine(QPointF(21, 30), QPointF(30, 18));
  cell(5); p.setPen(Qt::NoPen); p.setBrush(kInk); p.drawRect(QRectF(8, 5, 6, 22)); p.drawRect(QRectF(18, 5, 6, 22));
  cell(6); p.setPen(Qt::NoPen); p.setBrush(QColor(0, 128, 0));
  { QPolygonF play; play << QPointF(8, 4) << QPointF(27, 16) << QPointF(8, 28); p.drawPolygon(play); }
  cell(7); p.setPen(Qt::NoPen); p.setBrush(QColor(176, 0, 0)); p.drawRect(QRectF(7, 6, 18, 20));
  cell(8); Person(p, QPointF(13, 3), 1.1, kBlue); sign(kGreen, true);
  cell(9); Person(p, QPointF(13, 3), 1.1, kBlue); sign(kRed, false);
  cell(10); Box(p, QRectF(5, 3, 22, 26), Qt::white); p.setPen(QPen(kInk, 2));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(9, 9 + 5 * i), QPointF(23, 9 + 5 * i));
  cell(11); p.setPen(QPen(kInk, 1.5)); p.setBrush(kAmber); p.drawEllipse(QRectF(3, 8, 14, 14));
  p.drawRect(QRectF(15, 13, 14, 4)); p.drawRect(QRectF(24, 17, 3, 6));
  cell(12); p.setPen(QPen(kInk, 1.5)); p.setBrush(kGrey); p.drawEllipse(QRectF(3, 8, 14, 14));
  p.drawRect(QRectF(15, 13, 14, 4)); p.setPen(QPen(kRed, 4)); p.drawLine(QPointF(4, 28), QPointF(28, 4));
  cell(13); p.setPen(QPen(kInk, 1.5)); p.setBrush(kAmber);
  { QPolygonF bell; bell << QPointF(16, 3) << QPointF(25, 22) << QPointF(7, 22); p.drawPolygon(bell); }
  p.drawEllipse(QRectF(13, 22, 6, 6));
  cell(14); p.setPen(QPen(kBlue, 2)); p.setBrush(Qt::white); p.drawEllipse(QRectF(3, 3, 26, 26));
  { QFont f; f.setPixelSize(22); f.setBold(true); p.setFont(f); p.setPen(kBlue);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("i")); }
  p.end();
  return strip;
}

QImage LoginAnimationStrip() {
  // A key turning in four steps.
  constexpr int kSize = 32;
  QImage strip = Canvas(kSize * 4, kSize, Qt::white);
  QPainter p(&strip);
  p.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 4; ++i) {
    p.resetTransform();
    p.translate(kSize * i + 16, 16);
    p.rotate(90.0 * i);
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(kAmber);
    p.drawEllipse(QRectF(-13, -5, 10, 10));
    p.drawRect(QRectF(-3, -2, 15, 4));
    p.drawRect(QRectF(6, 2, 2.5, 4));
    p.drawRect(QRectF(10, 2, 2.5, 5));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(-10, -2, 4, 4));
  }
  p.end();
  return strip;
}

QImage ConsoleBanner() {
  QImage img = Canvas(309, 52, Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.save();
  p.translate(4, 2);
  p.scale(1.5, 1.5);
  Array(p, kBlue.lighter(140));
  p.restore();
  QFont f;
  f.setPixelSize(22);
  f.setBold(true);
  p.setFont(f);
  p.setPen(kBlue.darker(130));
  p.drawText(QRectF(58, 2, 250, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Velkari"));
  f.setPixelSize(13);
  f.setBold(false);
  p.setFont(f);
  p.setPen(kInk);
  p.drawText(QRectF(58, 28, 250, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Array Management"));
  p.end();
  return img;
}

QPixmap MultiDragIcon() {
  QImage img = Canvas(32, 32, Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  Disk(p, QRectF(2, 8, 14, 22), kSteel);
  Disk(p, QRectF(9, 5, 14, 22), kSteel);
  Disk(p, QRectF(16, 2, 14, 22), kSteel);
  p.end();
  return QPixmap::fromImage(img);
}

QIcon AppIcon() { return NodeIcon(3); }

}  // namespace kelm::console::ui
