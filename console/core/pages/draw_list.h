#pragma once
// What a painted page draws, as a list of simple operations: the Qt layer replays it on a painter,
// tests read it without a window. Coordinates are the page's client pixels; colours are COLORREF.
#include <string>
#include <vector>

#include "console/core/colorref.h"

namespace kelm::console {

struct DrawRect {
  int left = 0;
  int top = 0;
  int right = 0;  // exclusive
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const DrawRect&) const = default;
};

struct DrawOp {
  enum class Kind { FillRect, FrameRect, Line, Text, Bitmap };
  Kind kind = Kind::FillRect;
  DrawRect rect;         // FillRect, FrameRect; Line from (left, top) to (right, bottom); Text's box
  ColorRef colour = 0;   // fill, frame, line or text colour; a bitmap's mask colour
  std::string text;      // Text
  int fontWeight = 400;  // Text: 400 normal, 600 and more bold
  int bitmapId = 0;      // Bitmap: the resource id, drawn with its top-left at (left, top)
  bool masked = false;   // Bitmap: pixels of the mask colour are not drawn
  bool centred = false;  // Text: centred in its box rather than left-aligned
  bool operator==(const DrawOp&) const = default;
};

class DrawList {
 public:
  void FillRect(DrawRect r, ColorRef colour) { Add(DrawOp::Kind::FillRect, r, colour); }
  // A one-pixel frame just inside the rectangle.
  void FrameRect(DrawRect r, ColorRef colour) { Add(DrawOp::Kind::FrameRect, r, colour); }
  void Line(int x1, int y1, int x2, int y2, ColorRef colour) {
    Add(DrawOp::Kind::Line, DrawRect{x1, y1, x2, y2}, colour);
  }
  // Text left-aligned and vertically centred in the box, cut at its right edge.
  void Text(DrawRect box, std::string text, ColorRef colour, int fontWeight = 400) {
    DrawOp& op = Add(DrawOp::Kind::Text, box, colour);
    op.text = std::move(text);
    op.fontWeight = fontWeight;
  }
  // Text centred in the box, as under a picture.
  void CentredText(DrawRect box, std::string text, ColorRef colour) {
    DrawOp& op = Add(DrawOp::Kind::Text, box, colour);
    op.text = std::move(text);
    op.centred = true;
  }
  void Bitmap(int bitmapId, int x, int y) { Add(DrawOp::Kind::Bitmap, DrawRect{x, y, x, y}, 0).bitmapId = bitmapId; }
  void MaskedBitmap(int bitmapId, int x, int y, ColorRef mask) {
    DrawOp& op = Add(DrawOp::Kind::Bitmap, DrawRect{x, y, x, y}, mask);
    op.bitmapId = bitmapId;
    op.masked = true;
  }
  void Clear() { ops_.clear(); }
  const std::vector<DrawOp>& ops() const { return ops_; }
  bool empty() const { return ops_.empty(); }

 private:
  DrawOp& Add(DrawOp::Kind kind, DrawRect r, ColorRef colour) {
    DrawOp& op = ops_.emplace_back();
    op.kind = kind;
    op.rect = r;
    op.colour = colour;
    return op;
  }
  std::vector<DrawOp> ops_;
};

}  // namespace kelm::console
