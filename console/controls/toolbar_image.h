#pragma once
// The glyph operations of the flat tool bar on QImage: recolouring a strip to the palette, the
// masks of a glyph, and one button drawn in each of its states (flat, hot, pressed, checked,
// disabled, indeterminate).
#include <QColor>
#include <QImage>
#include <QPalette>
#include <QPoint>
#include <QSize>
#include <cstdint>

#include "console/controls/flat_toolbar_model.h"

class QPainter;

namespace kelm::controls {

// The five system colours the bar draws with.
struct SysColors {
  QRgb face = 0xFFC0C0C0;
  QRgb shadow = 0xFF808080;
  QRgb highlight = 0xFFFFFFFF;
  QRgb text = 0xFF000000;
  QRgb frame = 0xFF000000;
  static SysColors fromPalette(const QPalette& palette);
};

// Replaces black, dark grey, light grey and white by the text, shadow, face and highlight
// colours: in the colour table of an indexed image (its first 16 entries, as many as it really
// has), in the pixels of a true-colour one.
QImage recolorGlyphs(const QImage& strip, const SysColors& colors);

// A one-bit mask of (size) pixels, white where nothing is to be drawn: the glyph at `offset`
// is black wherever it is not the face colour (nor, with `highlight`, the highlight colour).
// With `andPass` the mask is ANDed with itself shifted by one pixel, which thickens the glyph
// for the dither of a disabled checked button.
QImage buildMask(const QImage& strip, int image, QSize imageSize, QPoint offset, QSize size, const SysColors& colors,
                 bool highlight, bool andPass);

// The 8 x 8 checkerboard of face and highlight drawn behind a checked or indeterminate glyph.
QImage ditherPattern(const SysColors& colors);

// One button of the bar in its style, as an image of the button size.
QImage renderButton(const QImage& strip, const ToolbarMetrics& metrics, int image, std::uint32_t style,
                    const SysColors& colors);

// A 3-pixel etched line pair of a gripper or caption: highlight on the top-left, shadow on the
// bottom-right.
void drawEtched(QPainter& p, const QRect& r, const SysColors& colors);

}  // namespace kelm::controls
