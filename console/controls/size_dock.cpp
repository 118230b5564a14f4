#include "console/controls/size_dock.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QResizeEvent>
#include <QTimer>

#include "platform/registry/profile.h"

namespace kelm::controls {

DockSide sideOf(Qt::DockWidgetArea area, bool floating) {
  if (floating) return DockSide::Floating;
  switch (area) {
    case Qt::TopDockWidgetArea: return DockSide::Top;
    case Qt::BottomDockWidgetArea: return DockSide::Bottom;
    case Qt::RightDockWidgetArea: return DockSide::Right;
    default: return DockSide::Left;
  }
}

// ---- caption ----

CSizeBarCaption::CSizeBarCaption(CSizeControlBar* bar) : CFlatToolbar(bar), bar_(bar) {
  LoadBitmap(QStringLiteral(":/kelm/controls/caption_buttons.xpm"));
  setStatusPromptEnabled(false);
  follow();
}

void CSizeBarCaption::follow() {
  const CSizeControlBarModel& m = bar_->model();
  const bool horzDock = !m.floating() && isHorzDock(m.side);
  CFlatToolbarModel& tb = mutableModel();
  tb.metrics.button = CSizeControlBarModel::kCaptionButton;
  tb.metrics.image = CSizeControlBarModel::kCaptionImage;
  tb.metrics.sharedBorder = 0;
  tb.floating = true;  // the caption draws its own gripper
  tb.vertical = horzDock;
  // Buttons 2 pixels apart: the size button and the close button, top right on a bar docked
  // left or right, down the left edge (close first) on one docked top or bottom.
  const std::uint32_t sizeStyle = m.floating() ? std::uint32_t{kStyleDisabled} : 0u;  // no maximise while floating
  const int tracking = tb.tracking;
  if (horzDock) {
    tb.SetButtons({kCaptionCloseCommand, 0, kCaptionSizeCommand});
    tb.SetButtonInfo(0, kCaptionCloseCommand, 0, 4);
    tb.SetButtonInfo(1, 0, kStyleSeparator, 2);
    tb.SetButtonInfo(2, kCaptionSizeCommand, sizeStyle, m.sizeButtonImage());
  } else {
    tb.SetButtons({kCaptionSizeCommand, 0, kCaptionCloseCommand});
    tb.SetButtonInfo(0, kCaptionSizeCommand, sizeStyle, m.sizeButtonImage());
    tb.SetButtonInfo(1, 0, kStyleSeparator, 2);
    tb.SetButtonInfo(2, kCaptionCloseCommand, 0, 4);
  }
  tb.tracking = tracking < tb.count() ? tracking : -1;
  resizeEvent(nullptr);
  updateGeometry();
  update();
}

QSize CSizeBarCaption::sizeHint() const {
  const CSizeControlBarModel& m = bar_->model();
  if (!m.floating() && isHorzDock(m.side)) return QSize(kThickness, 2 * 15 + 6);
  return QSize(2 * 15 + 12, kThickness);
}

void CSizeBarCaption::resizeEvent(QResizeEvent*) {
  // Place the flat bar's items where the caption buttons belong.
  const CSizeControlBarModel& m = bar_->model();
  const QRect inside = rect().adjusted(3, 3, -3, -3);
  CFlatToolbarModel& tb = mutableModel();
  const bool horzDock = !m.floating() && isHorzDock(m.side);
  const QRect first = horzDock ? m.captionButtonRect(1, inside) : m.captionButtonRect(0, inside);
  // A floating flat bar's items start 2 pixels past its client's leading edge, below its top border.
  tb.client = horzDock ? QRect(first.left() - tb.metrics.topBorder, first.top() - 2, 13 + 6, 2 * 15 + 4)
                       : QRect(first.left() - 2, first.top() - tb.metrics.topBorder, 2 * 15 + 4, 13 + 6);
}

void CSizeBarCaption::paintBar(QPainter& p) {
  const CSizeControlBarModel& m = bar_->model();
  const bool horzDock = !m.floating() && isHorzDock(m.side);
  if (!m.floating()) {
    // Two etched lines 3 pixels thick, 4 apart, beside the buttons.
    const SysColors c = colors();
    if (horzDock) {
      const int top = 3 + 2 * 15 + 3;
      for (int x : {6, 10}) drawEtched(p, QRect(x, top, 3, std::max(0, height() - top - 3)), c);
    } else {
      const int right = width() - 3 - 2 * 15 - 3;
      for (int y : {6, 10}) drawEtched(p, QRect(3, y, std::max(0, right - 3), 3), c);
    }
  }
  if (glyphs().isNull()) return;
  for (int i = 0; i < model().count(); ++i) paintButton(p, i);
}

// ---- bar ----

CSizeControlBar::CSizeControlBar(const QString& title, QWidget* parent) : QDockWidget(title, parent) {
  setObjectName(title);
  caption_ = new CSizeBarCaption(this);
  setTitleBarWidget(caption_);
  connect(caption_, &CFlatToolbar::command, this, &CSizeControlBar::onCaptionCommand);
  connect(this, &QDockWidget::topLevelChanged, this, [this] { positionChanged(); });
  connect(this, &QDockWidget::dockLocationChanged, this, [this] { positionChanged(); });
}

bool CSizeControlBar::Create(QMainWindow* frame, std::optional<QRect> rect) {
  if (!frame) return false;
  model_.Create(frame->centralWidget() ? frame->centralWidget()->size() : frame->size(), rect);
  return true;
}

void CSizeControlBar::OnSizedOrDocked(int cx, int cy, bool floating, int flags) {
  emit sizedOrDocked(cx, cy, floating, flags);
}

void CSizeControlBar::positionChanged() {
  auto* frame = qobject_cast<QMainWindow*>(parentWidget());
  const DockSide side = sideOf(frame ? frame->dockWidgetArea(this) : Qt::LeftDockWidgetArea, isFloating());
  const bool sideChanged = side != model_.side;
  model_.side = side;
  setFeatures(isHorzDock(side) ? (features() | QDockWidget::DockWidgetVerticalTitleBar)
                               : (features() & ~QDockWidget::DockWidgetVerticalTitleBar));
  caption_->follow();
  if (sideChanged && side == DockSide::Floating) {
    applying_ = true;
    resize(model_.floatSize);
    applying_ = false;
  }
  if (const auto flags = model_.positionChanged(size(), isFloating())) {
    OnSizedOrDocked(width(), height(), isFloating(), *flags);
  }
  if (sideChanged && frame) {
    if (auto* f = qobject_cast<CSizeDockFrame*>(frame)) QTimer::singleShot(0, f, [f] { f->fitRows(); });
  }
}

void CSizeControlBar::commitSize() {
  if (applying_ || !isVisible()) return;
  if (model_.floating()) {
    model_.CalcDynamicLayout(width(), LM_COMMIT | LM_HORZ);
    model_.CalcDynamicLayout(height(), LM_COMMIT | LM_HORZ | LM_LENGTHY);
  } else if (isHorzDock(model_.side)) {
    model_.CalcDynamicLayout(width(), LM_COMMIT | LM_HORZDOCK | LM_HORZ);
    model_.CalcDynamicLayout(height(), LM_COMMIT | LM_HORZDOCK | LM_HORZ | LM_LENGTHY);
  } else {
    model_.CalcDynamicLayout(width(), LM_COMMIT | LM_VERTDOCK);
    model_.CalcDynamicLayout(height(), LM_COMMIT | LM_VERTDOCK | LM_LENGTHY);
  }
}

void CSizeControlBar::resizeEvent(QResizeEvent* event) {
  QDockWidget::resizeEvent(event);
  commitSize();
  if (const auto flags = model_.positionChanged(size(), isFloating())) {
    OnSizedOrDocked(width(), height(), isFloating(), *flags);
  }
}

void CSizeControlBar::moveEvent(QMoveEvent* event) {
  QDockWidget::moveEvent(event);
  // A bar docked top or bottom is told on every change of position.
  if (const auto flags = model_.positionChanged(size(), isFloating())) {
    OnSizedOrDocked(width(), height(), isFloating(), *flags);
  }
}

void CSizeControlBar::onCaptionCommand(int id) {
  if (id == kCaptionCloseCommand) {
    hide();
  } else if (id == kCaptionSizeCommand && !isFloating()) {
    if (auto* f = qobject_cast<CSizeDockFrame*>(parentWidget())) f->toggleMaximise(this);
  }
}

// ---- frame ----

namespace {

// The sliders between docked bars: 5 pixels thick, highlight on the leading edge, shadow one
// pixel inside the trailing edge and the window frame colour on it.
class FrameStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    if (metric == PM_DockWidgetSeparatorExtent) return kSliderWidth;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_IndicatorDockWidgetResizeHandle) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    const SysColors c = SysColors::fromPalette(option->palette);
    const QRect r = option->rect;
    painter->fillRect(r, QColor::fromRgb(c.face));
    // A separator wider than tall runs across and moves up and down.
    if (option->state & State_Horizontal) {
      painter->fillRect(QRect(r.left(), r.top(), 1, r.height()), QColor::fromRgb(c.highlight));
      painter->fillRect(QRect(r.right() - 1, r.top(), 1, r.height()), QColor::fromRgb(c.shadow));
      painter->fillRect(QRect(r.right(), r.top(), 1, r.height()), QColor::fromRgb(c.frame));
    } else {
      painter->fillRect(QRect(r.left(), r.top(), r.width(), 1), QColor::fromRgb(c.highlight));
      painter->fillRect(QRect(r.left(), r.bottom() - 1, r.width(), 1), QColor::fromRgb(c.shadow));
      painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), QColor::fromRgb(c.frame));
    }
  }
};

}  // namespace

CSizeDockFrame::CSizeDockFrame(QWidget* parent) : QMainWindow(parent) {
  auto* style = new FrameStyle;
  style->setParent(this);
  setStyle(style);
}

void CSizeDockFrame::EnableDocking(Qt::DockWidgetAreas areas) {
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks);
  for (CSizeControlBar* bar : bars_) bar->EnableDocking(areas);
}

void CSizeDockFrame::addSizeBar(Qt::DockWidgetArea area, CSizeControlBar* bar) {
  bars_.push_back(bar);
  addDockWidget(area, bar, (area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea) ? Qt::Vertical
                                                                                                   : Qt::Horizontal);
  bar->positionChanged();
}

void CSizeDockFrame::LoadSizeBarState(const plat::reg::Profile& profile, const std::string& profileName) {
  int index = 1;
  for (CSizeControlBar* bar : bars_) bar->LoadState(profile, profileName, index++);
  fitRows();
}

void CSizeDockFrame::SaveSizeBarState(const plat::reg::Profile& profile, const std::string& profileName) {
  int index = 1;
  for (CSizeControlBar* bar : bars_) bar->SaveState(profile, profileName, index++);
}

std::vector<CSizeControlBar*> CSizeDockFrame::row(Qt::DockWidgetArea area) const {
  std::vector<CSizeControlBar*> out;
  for (CSizeControlBar* bar : bars_) {
    if (!bar->isFloating() && !bar->isHidden() && dockWidgetArea(bar) == area) out.push_back(bar);
  }
  return out;
}

int CSizeDockFrame::rowLength(Qt::DockWidgetArea area) const {
  const bool vertical = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
  // The side's length: the client area between the tool bars and the status bar.
  const QRect client = centralWidget() ? centralWidget()->geometry() : rect();
  return vertical ? client.height() : width();
}

void CSizeDockFrame::applyRow(Qt::DockWidgetArea area, const std::vector<CSizeControlBar*>& bars,
                              const std::vector<int>& lengths) {
  const bool vertical = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
  QList<QDockWidget*> docks;
  QList<int> thickness, along;
  int thickest = 0;
  for (CSizeControlBar* bar : bars) {
    thickest = std::max(thickest, vertical ? bar->model().vertDockSize.width() : bar->model().horzDockSize.height());
  }
  for (std::size_t i = 0; i < bars.size(); ++i) {
    CSizeControlBarModel& m = bars[i]->model();
    // Each bar commits its length and the row's thickness, as a slider drag would.
    if (vertical) {
      m.CalcDynamicLayout(thickest, LM_COMMIT | LM_VERTDOCK);
      m.CalcDynamicLayout(lengths[i], LM_COMMIT | LM_VERTDOCK | LM_LENGTHY);
    } else {
      m.CalcDynamicLayout(lengths[i], LM_COMMIT | LM_HORZDOCK | LM_HORZ);
      m.CalcDynamicLayout(thickest, LM_COMMIT | LM_HORZDOCK | LM_HORZ | LM_LENGTHY);
    }
    docks.push_back(bars[i]);
    thickness.push_back(thickest);
    along.push_back(lengths[i]);
    bars[i]->applying_ = true;
  }
  resizeDocks(docks, thickness, vertical ? Qt::Horizontal : Qt::Vertical);
  resizeDocks(docks, along, vertical ? Qt::Vertical : Qt::Horizontal);
  for (CSizeControlBar* bar : bars) {
    bar->applying_ = false;
    bar->caption()->follow();
  }
}

void CSizeDockFrame::fitRows() {
  for (Qt::DockWidgetArea area : {Qt::LeftDockWidgetArea, Qt::RightDockWidgetArea, Qt::TopDockWidgetArea,
                                  Qt::BottomDockWidgetArea}) {
    const std::vector<CSizeControlBar*> bars = row(area);
    if (bars.empty()) continue;
    const bool vertical = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
    std::vector<RowBar> rb;
    for (CSizeControlBar* bar : bars) {
      const CSizeControlBarModel& m = bar->model();
      rb.push_back({vertical ? m.vertDockSize.height() : m.horzDockSize.width(), m.minimumLength(), true, true});
    }
    const std::vector<int> lengths = fitRow(rowLength(area), rb);
    for (CSizeControlBar* bar : bars) bar->model().setMaxState(kMaxNone);  // fitting leaves maximise
    applyRow(area, bars, lengths);
  }
}

void CSizeDockFrame::toggleMaximise(CSizeControlBar* bar) {
  const Qt::DockWidgetArea area = dockWidgetArea(bar);
  const std::vector<CSizeControlBar*> bars = row(area);
  const bool vertical = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
  std::vector<int> lengths;
  if (bar->model().maxState & kMaxSelf) {
    for (CSizeControlBar* b : bars) {
      b->model().restore();
      lengths.push_back(vertical ? b->model().vertDockSize.height() : b->model().horzDockSize.width());
    }
  } else {
    std::vector<RowBar> rb;
    int index = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
      const CSizeControlBarModel& m = bars[i]->model();
      rb.push_back({vertical ? m.vertDockSize.height() : m.horzDockSize.width(), m.minimumLength(), true, true});
      if (bars[i] == bar) index = static_cast<int>(i);
    }
    const RowMaximise r = maximiseInRow(rb, index, vertical);
    for (std::size_t i = 0; i < bars.size(); ++i) bars[i]->model().setMaxState(r.states[i]);
    lengths = r.lengths;
  }
  applyRow(area, bars, lengths);
}

void CSizeDockFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  QTimer::singleShot(0, this, [this] { fitRows(); });
}

}  // namespace kelm::controls
