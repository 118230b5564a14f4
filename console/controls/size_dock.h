#pragma once
// Resizable docking bars: QMainWindow and QDockWidget dock and float them, while each bar keeps
// its own three sizes (floating, docked top or bottom, docked left or right), its maximised
// state and its place in the profile, and the frame fits the bars of each side to its length.
#include <QDockWidget>
#include <QMainWindow>
#include <optional>
#include <string>

#include "console/controls/flat_toolbar.h"
#include "console/controls/size_bar_model.h"

namespace plat::reg {
class Profile;
}

namespace kelm::controls {

// The size and close buttons' command ids.
inline constexpr int kCaptionSizeCommand = 0xF000;
inline constexpr int kCaptionCloseCommand = 0xF060;

class CSizeControlBar;

// The caption of a docked bar: gripper and two small buttons, drawn and hit-tested by the flat
// tool bar from the caption strip.
class CSizeBarCaption : public CFlatToolbar {
  Q_OBJECT

 public:
  static constexpr int kThickness = 19;  // a 13-pixel button and 3 pixels each side
  explicit CSizeBarCaption(CSizeControlBar* bar);
  // Follows the bar's side and maximise state.
  void follow();
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintBar(QPainter& p) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  CSizeControlBar* bar_;
};

class CSizeDockFrame;

class CSizeControlBar : public QDockWidget {
  Q_OBJECT

 public:
  explicit CSizeControlBar(const QString& title, QWidget* parent = nullptr);

  // Takes the starting sizes: from `rect`, or from the frame's client area by default.
  bool Create(QMainWindow* frame, std::optional<QRect> rect = std::nullopt);
  void EnableDocking(Qt::DockWidgetAreas areas) { setAllowedAreas(areas); }
  void LoadState(const plat::reg::Profile& profile, const std::string& profileName, int index) {
    model_.LoadState(profile, profileName, index);
  }
  bool SaveState(const plat::reg::Profile& profile, const std::string& profileName, int index) {
    return model_.SaveState(profile, profileName, index);
  }

  CSizeControlBarModel& model() { return model_; }
  const CSizeControlBarModel& model() const { return model_; }
  CSizeBarCaption* caption() const { return caption_; }

 signals:
  // The same call as OnSizedOrDocked, for owners that do not derive.
  void sizedOrDocked(int cx, int cy, bool floating, int flags);

 protected:
  // The bar's size or docking changed (flags: kSizedChanged, kSizedFloated, kSizedHorzDock).
  virtual void OnSizedOrDocked(int cx, int cy, bool floating, int flags);
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  friend class CSizeDockFrame;
  void positionChanged();
  void commitSize();
  void onCaptionCommand(int id);

  CSizeControlBarModel model_;
  CSizeBarCaption* caption_;
  bool applying_ = false;  // the frame is setting sizes; nothing to commit
};

class CSizeDockFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CSizeDockFrame(QWidget* parent = nullptr);

  void EnableDocking(Qt::DockWidgetAreas areas);
  // Every sizeable bar of the frame, in the order they were added, indexed from 1.
  void LoadSizeBarState(const plat::reg::Profile& profile, const std::string& profileName);
  void SaveSizeBarState(const plat::reg::Profile& profile, const std::string& profileName);

  void addSizeBar(Qt::DockWidgetArea area, CSizeControlBar* bar);
  // Gives each bar its thickness and fits the bars of every side to the side's length.
  void fitRows();
  // The size button of a docked bar: maximise it in its row, or restore the row.
  void toggleMaximise(CSizeControlBar* bar);

  std::vector<CSizeControlBar*> sizeBars() const { return bars_; }
  std::vector<CSizeControlBar*> row(Qt::DockWidgetArea area) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int rowLength(Qt::DockWidgetArea area) const;
  void applyRow(Qt::DockWidgetArea area, const std::vector<CSizeControlBar*>& bars, const std::vector<int>& lengths);
  std::vector<CSizeControlBar*> bars_;
};

DockSide sideOf(Qt::DockWidgetArea area, bool floating);

}  // namespace kelm::controls
