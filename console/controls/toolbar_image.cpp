#include "console/controls/toolbar_image.h"

#include <QPainter>
#include <algorithm>

namespace kelm::controls {

namespace {

QRgb opaque(QRgb c) { return c | 0xFF000000u; }

// The four standard colours a glyph strip is drawn in, and what each becomes.
bool mapStandard(QRgb c, const SysColors& colors, QRgb* out) {
  switch (c & 0xFFFFFFu) {
    case 0x000000: *out = colors.text; return true;
    case 0x808080: *out = colors.shadow; return true;
    case 0xC0C0C0: *out = colors.face; return true;
    case 0xFFFFFF: *out = colors.highlight; return true;
    default: return false;
  }
}

// Paints `color` wherever the mask is black, the mask's (0,0) landing on `at`.
void paintThroughMask(QImage& dst, const QImage& mask, QPoint at, QSize size, QRgb color) {
  for (int y = 0; y < size.height() && y < mask.height(); ++y) {
    for (int x = 0; x < size.width() && x < mask.width(); ++x) {
      if (mask.pixelIndex(x, y) != 0) continue;  // index 0 is black
      const QPoint d = at + QPoint(x, y);
      if (dst.rect().contains(d)) dst.setPixel(d, color);
    }
  }
}

void draw3dRect(QImage& img, QRect r, QRgb topLeft, QRgb bottomRight) {
  QPainter p(&img);
  p.setPen(QColor::fromRgb(topLeft));
  p.drawLine(r.topLeft(), r.topRight() - QPoint(1, 0));
  p.drawLine(r.topLeft(), r.bottomLeft() - QPoint(0, 1));
  p.setPen(QColor::fromRgb(bottomRight));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

}  // namespace

SysColors SysColors::fromPalette(const QPalette& palette) {
  SysColors c;
  c.face = opaque(palette.color(QPalette::Button).rgb());
  c.shadow = opaque(palette.color(QPalette::Dark).rgb());
  c.highlight = opaque(palette.color(QPalette::Light).rgb());
  c.text = opaque(palette.color(QPalette::ButtonText).rgb());
  c.frame = opaque(palette.color(QPalette::Shadow).rgb());
  return c;
}

QImage recolorGlyphs(const QImage& strip, const SysColors& colors) {
  QImage out = strip;
  QRgb mapped;
  if (out.colorCount() > 0) {
    // Never past the table the image really has, however short.
    const int n = std::min(16, out.colorCount());
    for (int i = 0; i < n; ++i) {
      const QRgb c = out.color(i);
      if (qAlpha(c) != 0 && mapStandard(c, colors, &mapped)) out.setColor(i, mapped);
    }
    return out;
  }
  out = out.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      if (qAlpha(line[x]) != 0 && mapStandard(line[x], colors, &mapped)) line[x] = mapped;
    }
  }
  return out;
}

QImage buildMask(const QImage& strip, int image, QSize imageSize, QPoint offset, QSize size, const SysColors& colors,
                 bool highlight, bool andPass) {
  QImage mask(size, QImage::Format_Mono);
  mask.setColor(0, 0xFF000000);
  mask.setColor(1, 0xFFFFFFFF);
  mask.fill(1);
  const QImage glyphs = strip.convertToFormat(QImage::Format_ARGB32);
  const int sx = image * imageSize.width();
  for (int y = 0; y < imageSize.height(); ++y) {
    for (int x = 0; x < imageSize.width(); ++x) {
      const QPoint m = offset + QPoint(x, y);
      if (!mask.rect().contains(m) || sx + x >= glyphs.width() || y >= glyphs.height()) continue;
      const QRgb c = glyphs.pixel(sx + x, y);
      const bool background = qAlpha(c) == 0 || (c & 0xFFFFFFu) == (colors.face & 0xFFFFFFu) ||
                              (highlight && (c & 0xFFFFFFu) == (colors.highlight & 0xFFFFFFu));
      mask.setPixel(m, background ? 1 : 0);
    }
  }
  if (andPass) {
    const QImage copy = mask;
    for (int y = 0; y + 1 < size.height() && y < size.height() - 2; ++y) {
      for (int x = 0; x + 1 < size.width() && x < size.width() - 2; ++x) {
        if (copy.pixelIndex(x, y) == 0) mask.setPixel(x + 1, y + 1, 0);
      }
    }
  }
  return mask;
}

QImage ditherPattern(const SysColors& colors) {
  QImage p(8, 8, QImage::Format_ARGB32);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) p.setPixel(x, y, ((x + y) & 1) ? colors.highlight : colors.face);
  }
  return p;
}

QImage renderButton(const QImage& strip, const ToolbarMetrics& metrics, int image, std::uint32_t style,
                    const SysColors& colors) {
  const QSize size = metrics.button;
  QImage out(size, QImage::Format_ARGB32);
  out.fill(colors.face);
  const QRect all(QPoint(0, 0), size);
  QPoint offset((size.width() - metrics.image.width() - 1) / 2, (size.height() - metrics.image.height()) / 2);
  const bool pressed = style & kStylePressed;
  const bool checked = style & kStyleChecked;
  const bool disabled = style & kStyleDisabled;
  const bool indeterminate = style & kStyleIndeterminate;
  if (pressed || checked) {
    draw3dRect(out, all, metrics.newLook ? colors.frame : colors.shadow,
               metrics.newLook ? colors.highlight : colors.face);
    offset += QPoint(1, 1);
  }
  if (style & kStyleHot) draw3dRect(out, all, colors.highlight, metrics.newLook ? colors.frame : colors.shadow);
  const QImage glyphs = strip.convertToFormat(QImage::Format_ARGB32);
  if (pressed || !(disabled || indeterminate)) {
    QPainter p(&out);
    p.drawImage(offset, glyphs, QRect(QPoint(image * metrics.image.width(), 0), metrics.image));
    if (pressed) return out;
  }
  const QSize inner = size - QSize(2, 2);
  if (disabled || indeterminate) {
    const QImage mask = buildMask(strip, image, metrics.image, offset, inner, colors, true, false);
    // Embossed: the glyph's shape in highlight one pixel down and right, then in shadow.
    if (disabled) paintThroughMask(out, mask, QPoint(1, 1), inner, colors.highlight);
    paintThroughMask(out, mask, QPoint(0, 0), inner, colors.shadow);
  }
  if (checked || indeterminate) {
    const int border = metrics.newLook ? 2 : 1;
    const int m = (indeterminate && !metrics.newLook) ? 3 : 2 * border;
    const QSize area = size - QSize(m, m);
    const QImage mask = buildMask(strip, image, metrics.image, offset - QPoint(border, border), inner, colors,
                                  !indeterminate, disabled);
    const QImage dither = ditherPattern(colors);
    // The dither fills what the glyph leaves white; the glyph itself keeps its colours.
    for (int y = 0; y < area.height() && y < mask.height(); ++y) {
      for (int x = 0; x < area.width() && x < mask.width(); ++x) {
        if (mask.pixelIndex(x, y) == 0) continue;
        const QPoint d(x + border, y + border);
        out.setPixel(d, dither.pixel(d.x() & 7, d.y() & 7));
      }
    }
  }
  return out;
}

void drawEtched(QPainter& p, const QRect& r, const SysColors& colors) {
  p.setPen(QColor::fromRgb(colors.highlight));
  p.drawLine(r.topLeft(), r.topRight() - QPoint(1, 0));
  p.drawLine(r.topLeft(), r.bottomLeft() - QPoint(0, 1));
  p.setPen(QColor::fromRgb(colors.shadow));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

}  // namespace kelm::controls
