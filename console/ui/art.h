#pragma once
// The console's own artwork, drawn by code: the node images (bitmaps 130 and 131), the tool bar
// strip, the Login animation (154), the console page's banner (215) and the multi-drag icon (156).
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace kelm::console::ui {

inline constexpr int kNodeImageCount = 29;
// Image `index` of the node image lists at 16 or 32 pixels (transparent background).
QPixmap NodeImage(int index, int size);
QIcon NodeIcon(int index);
// The tool bar strip: one 16 x 15 glyph per tool bar button, in the tool bar's order.
QImage ToolbarStrip();
// Bitmap 154: four frames side by side on white (the mask colour).
QImage LoginAnimationStrip();
// Bitmap 215: 309 x 52 on white (the mask colour).
QImage ConsoleBanner();
// Icon 156: several disks, for dragging more than one item.
QPixmap MultiDragIcon();
// The program's window icon.
QIcon AppIcon();

}  // namespace kelm::console::ui
