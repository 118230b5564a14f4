#include "console/controls/animate_static.h"

#include <QPainter>

#include "console/controls/control_rules.h"

namespace kelm::controls {

CAnimateStatic::CAnimateStatic(QWidget* parent) : QWidget(parent) {
  connect(&timer_, &QTimer::timeout, this, &CAnimateStatic::tick);
}

bool CAnimateStatic::LoadFrames(const QImage& strip, QRgb mask, int frames, int periodMs) {
  timer_.stop();
  frames_.clear();
  current_ = 0;
  if (strip.isNull()) {
    update();
    return false;
  }
  if (frames < 1) frames = 1;
  const QImage argb = strip.convertToFormat(QImage::Format_ARGB32);
  for (int i = 0; i < frames; ++i) {
    QImage f = argb.copy(animationFrame(argb.size(), frames, i));
    for (int y = 0; y < f.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(f.scanLine(y));
      for (int x = 0; x < f.width(); ++x) {
        if ((line[x] & 0xFFFFFFu) == (mask & 0xFFFFFFu)) line[x] = 0;
      }
    }
    frames_.push_back(std::move(f));
  }
  frameSize_ = frames_.front().size();
  if (frames > 1 && periodMs > 0) timer_.start(periodMs);
  resize(frameSize_);
  updateGeometry();
  update();
  return true;
}

void CAnimateStatic::tick() {
  if (frames_.size() <= 1 || stopped_) {
    timer_.stop();
    return;
  }
  current_ = (current_ + 1) % static_cast<int>(frames_.size());
  update();
}

void CAnimateStatic::paintEvent(QPaintEvent*) {
  if (frames_.empty()) return;
  QPainter p(this);
  p.drawImage(QPoint(0, 0), frames_[static_cast<std::size_t>(current_)]);
}

}  // namespace kelm::controls
