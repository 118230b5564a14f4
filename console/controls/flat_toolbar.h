#pragma once
// The console's flat tool bar: buttons drawn from one glyph strip, raised only under the mouse,
// with a gripper while docked. The widget paints and forwards mouse events; the model decides.
#include <QImage>
#include <QToolBar>
#include <QWidget>
#include <functional>
#include <vector>

#include "console/controls/flat_toolbar_model.h"
#include "console/controls/toolbar_image.h"

namespace kelm::controls {

class CFlatToolbar : public QWidget {
  Q_OBJECT

 public:
  explicit CFlatToolbar(QWidget* parent = nullptr);

  // A glyph strip from a resource or file path, recoloured to the palette; false when missing
  // (the bar then paints no buttons).
  bool LoadBitmap(const QString& path);
  bool LoadBitmap(const QImage& strip);
  // A tool bar resource (version, width, height, count, ids) with its strip.
  bool LoadToolBar(const std::vector<std::uint16_t>& resource, const QString& bitmap);
  void SetButtons(const std::vector<int>& ids);
  void SetSizes(QSize button, QSize image);
  std::uint32_t GetButtonStyle(int index) const { return model_.GetButtonStyle(index); }
  void SetButtonStyle(int index, std::uint32_t style);
  void SetButtonInfo(int index, int id, std::uint32_t style, int image);
  QRect GetItemRect(int index) const { return model_.GetItemRect(index); }
  int HitTest(QPoint point) const { return model_.HitTest(point); }

  const CFlatToolbarModel& model() const { return model_; }
  // Docked left or right lays the items top to bottom; a floating bar has no gripper.
  void setDocking(bool floating, bool vertical);
  void setCmdUiUpdater(CmdUiUpdater update) { update_ = std::move(update); }
  // Whether the application counts as the foreground one (hot tracking only then).
  void setForegroundTest(std::function<bool()> test) { foreground_ = std::move(test); }
  void setStatusPromptEnabled(bool on) { statusPrompt_ = on; }
  // Runs the command-UI updater over every button and repaints what changed.
  void updateCommandUi();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

  SysColors colors() const { return colors_; }

 signals:
  void command(int id);
  // The prompt of a command for the status bar while its button is pressed; kIdlePrompt after.
  void statusPrompt(int id);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

  // The bar's own decorations (gripper) and the items; derived bars replace them.
  virtual void paintBar(QPainter& p);
  void paintButton(QPainter& p, int index);
  CFlatToolbarModel& mutableModel() { return model_; }
  const QImage& glyphs() const { return glyphs_; }

 private:
  void apply(ToolbarTransition t);
  void reloadColors();
  // The gripper's area, where a press starts moving the bar instead of a click.
  QRect gripperRect() const;

  CFlatToolbarModel model_;
  QImage source_;  // the strip as loaded, kept to recolour it again on a palette change
  QImage glyphs_;
  SysColors colors_;
  CmdUiUpdater update_;
  std::function<bool()> foreground_;
  bool statusPrompt_ = true;

  friend class CFlatToolbarHost;
};

// The QToolBar that docks and floats a CFlatToolbar; the bar's own gripper is its handle.
class CFlatToolbarHost : public QToolBar {
  Q_OBJECT

 public:
  explicit CFlatToolbarHost(const QString& title, QWidget* parent = nullptr);
  CFlatToolbar* bar() const { return bar_; }

 private:
  void follow();
  CFlatToolbar* bar_;
};

}  // namespace kelm::controls
