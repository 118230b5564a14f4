#pragma once
// An animated picture: a strip of equal frames shown one after another on a timer.
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <vector>

namespace kelm::controls {

class CAnimateStatic : public QWidget {
  Q_OBJECT

 public:
  explicit CAnimateStatic(QWidget* parent = nullptr);

  // Cuts the strip into `frames` images (at least 1), each strip-width / frames wide, with
  // `mask` made transparent; starts over at frame 0 and animates every `periodMs` when there is
  // more than one frame. False (and an empty control) when the strip is empty.
  bool LoadFrames(const QImage& strip, QRgb mask, int frames, int periodMs);
  // The owner's stop: the animation halts at the next tick.
  void setStopped(bool stopped) { stopped_ = stopped; }
  bool isStopped() const { return stopped_; }
  bool isRunning() const { return timer_.isActive(); }
  int frameCount() const { return static_cast<int>(frames_.size()); }
  int currentFrame() const { return current_; }
  const QImage& frame(int i) const { return frames_.at(static_cast<std::size_t>(i)); }
  // One tick of the animation timer.
  void tick();

  QSize sizeHint() const override { return frameSize_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QImage> frames_;
  QSize frameSize_;
  int current_ = 0;
  bool stopped_ = false;
  QTimer timer_;
};

}  // namespace kelm::controls
