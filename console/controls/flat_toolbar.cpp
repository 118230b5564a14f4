#include "console/controls/flat_toolbar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>

// The artwork is compiled into this static library; registering it here makes sure the linker
// keeps it wherever a bar is used.
static void initControlsResources() { Q_INIT_RESOURCE(controls); }

namespace kelm::controls {

CFlatToolbar::CFlatToolbar(QWidget* parent) : QWidget(parent) {
  initControlsResources();
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  foreground_ = [] { return QApplication::activeWindow() != nullptr; };
  colors_ = SysColors::fromPalette(palette());
}

bool CFlatToolbar::LoadBitmap(const QString& path) { return LoadBitmap(QImage(path)); }

bool CFlatToolbar::LoadBitmap(const QImage& strip) {
  if (strip.isNull()) {
    source_ = glyphs_ = QImage();
    update();
    return false;
  }
  source_ = strip;
  glyphs_ = recolorGlyphs(source_, colors_);
  update();
  return true;
}

bool CFlatToolbar::LoadToolBar(const std::vector<std::uint16_t>& resource, const QString& bitmap) {
  if (!model_.LoadToolBar(resource)) return false;
  updateGeometry();
  return LoadBitmap(bitmap);
}

void CFlatToolbar::SetButtons(const std::vector<int>& ids) {
  model_.SetButtons(ids);
  updateGeometry();
  update();
}

void CFlatToolbar::SetSizes(QSize button, QSize image) {
  model_.SetSizes(button, image);
  updateGeometry();
  update();
}

void CFlatToolbar::SetButtonStyle(int index, std::uint32_t style) {
  if (model_.SetButtonStyle(index, style)) update(GetItemRect(index));
}

void CFlatToolbar::SetButtonInfo(int index, int id, std::uint32_t style, int image) {
  model_.SetButtonInfo(index, id, style, image);
  update(GetItemRect(index));
}

void CFlatToolbar::setDocking(bool floating, bool vertical) {
  if (model_.floating == floating && model_.vertical == vertical) return;
  model_.floating = floating;
  model_.vertical = vertical;
  updateGeometry();
  update();
}

void CFlatToolbar::updateCommandUi() {
  const CFlatToolbarModel before = model_;
  model_.updateCommandUi(update_);
  for (int i = 0; i < model_.count(); ++i) {
    if (before.GetButtonStyle(i) != model_.GetButtonStyle(i)) update(GetItemRect(i));
  }
}

QSize CFlatToolbar::sizeHint() const {
  CFlatToolbarModel m = model_;
  m.client = QRect();
  return m.fixedSize();
}

QRect CFlatToolbar::gripperRect() const {
  if (model_.floating) return QRect();
  if (model_.vertical) return QRect(0, 0, width(), model_.insideRect().top() + kGripperOffset);
  return QRect(0, 0, model_.insideRect().left() + kGripperOffset, height());
}

void CFlatToolbar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor::fromRgb(colors_.face));
  paintBar(p);
}

void CFlatToolbar::paintBar(QPainter& p) {
  if (!model_.floating) {
    // Two etched lines 3 pixels wide, at 3 and 7 from the leading edge.
    for (int at : {3, 7}) {
      const QRect r = model_.vertical ? QRect(3, at, width() - 6, 3) : QRect(at, 3, 3, height() - 6);
      drawEtched(p, r, colors_);
    }
  }
  if (glyphs_.isNull()) return;
  for (int i = 0; i < model_.count(); ++i) paintButton(p, i);
}

void CFlatToolbar::paintButton(QPainter& p, int index) {
  const ToolButton& b = model_.button(index);
  const QRect r = GetItemRect(index);
  if (b.style & kStyleSeparator) {
    // An etched line 2 pixels thick across the bar, centred in the separator.
    const QRect in = model_.insideRect();
    if (model_.vertical) {
      const int y = r.top() + r.height() / 2 - 1;
      p.fillRect(QRect(in.left(), y, in.width(), 1), QColor::fromRgb(colors_.shadow));
      p.fillRect(QRect(in.left(), y + 1, in.width(), 1), QColor::fromRgb(colors_.highlight));
    } else {
      const int x = r.left() + r.width() / 2 - 1;
      p.fillRect(QRect(x, in.top(), 1, in.height()), QColor::fromRgb(colors_.shadow));
      p.fillRect(QRect(x + 1, in.top(), 1, in.height()), QColor::fromRgb(colors_.highlight));
    }
    return;
  }
  p.drawImage(r.topLeft(), renderButton(glyphs_, model_.metrics, b.image, b.style, colors_));
}

void CFlatToolbar::apply(ToolbarTransition t) {
  const QPointer<CFlatToolbar> alive(this);  // a command may close the window that holds the bar
  const CFlatToolbarModel before = model_;
  model_ = std::move(t.state);
  for (int i = 0; i < model_.count() && i < before.count(); ++i) {
    if (before.GetButtonStyle(i) != model_.GetButtonStyle(i)) update(GetItemRect(i));
  }
  for (const ToolbarEffect& e : t.effects) {
    switch (e.kind) {
      case ToolbarEffect::Redraw:
        if (e.value >= 0 && e.value < model_.count()) repaint(GetItemRect(e.value));
        break;
      case ToolbarEffect::StatusPrompt:
        emit statusPrompt(e.value);
        break;
      case ToolbarEffect::Command:
        emit command(e.value);
        if (!alive) return;
        break;
      case ToolbarEffect::UpdateCommandUi:
        updateCommandUi();
        break;
      case ToolbarEffect::Capture:
      case ToolbarEffect::ReleaseCapture:
      case ToolbarEffect::Default:
        break;  // Qt grabs the mouse while a button is held and reports the leave itself
    }
  }
}

void CFlatToolbar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || gripperRect().contains(event->position().toPoint())) {
    event->ignore();  // the host tool bar moves the bar from its gripper
    return;
  }
  apply(stepToolbar(model_, {ToolbarMouse::Down, event->position().toPoint()}, update_, statusPrompt_));
}

void CFlatToolbar::mouseMoveEvent(QMouseEvent* event) {
  ToolbarMouse m{ToolbarMouse::Move, event->position().toPoint()};
  m.foreground = foreground_ ? foreground_() : true;
  apply(stepToolbar(model_, m, update_, statusPrompt_));
}

void CFlatToolbar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  apply(stepToolbar(model_, {ToolbarMouse::Up, event->position().toPoint()}, update_, statusPrompt_));
}

void CFlatToolbar::leaveEvent(QEvent*) {
  if (model_.tracking >= 0) return;
  ToolbarMouse m{ToolbarMouse::Move, QPoint(-1, -1)};
  m.foreground = true;  // leaving always drops the hot button
  apply(stepToolbar(model_, m, update_, statusPrompt_));
}

void CFlatToolbar::resizeEvent(QResizeEvent*) { model_.client = rect(); }

void CFlatToolbar::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) reloadColors();
  if (event->type() == QEvent::ActivationChange && !isActiveWindow() && model_.tracking >= 0) {
    apply(stepToolbar(model_, {ToolbarMouse::Cancel, QPoint()}, update_, statusPrompt_));
  }
  QWidget::changeEvent(event);
}

void CFlatToolbar::reloadColors() {
  colors_ = SysColors::fromPalette(palette());
  if (!source_.isNull()) glyphs_ = recolorGlyphs(source_, colors_);
  update();
}

namespace {

// The host's handle is the bar's own gripper: the style draws none and reports the gripper's
// area as the handle, so a press there (which the bar ignores) starts the tool bar's move.
class HostStyle : public QProxyStyle {
 public:
  explicit HostStyle(CFlatToolbar* bar) : bar_(bar) {}
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    switch (metric) {
      case PM_ToolBarHandleExtent:
      case PM_ToolBarFrameWidth:
      case PM_ToolBarItemMargin:
      case PM_ToolBarItemSpacing:
        return 0;
      default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
  }
  QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override {
    if (element == SE_ToolBarHandle && bar_->isVisible() && !bar_->model().floating) {
      const QRect in = bar_->model().insideRect();
      return bar_->model().vertical ? QRect(0, 0, option->rect.width(), in.top() + kGripperOffset)
                                    : QRect(0, 0, in.left() + kGripperOffset, option->rect.height());
    }
    return QProxyStyle::subElementRect(element, option, widget);
  }
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element == PE_IndicatorToolBarHandle || element == PE_PanelToolBar) return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

 private:
  CFlatToolbar* bar_;
};

}  // namespace

CFlatToolbarHost::CFlatToolbarHost(const QString& title, QWidget* parent)
    : QToolBar(title, parent), bar_(new CFlatToolbar(this)) {
  auto* style = new HostStyle(bar_);
  style->setParent(this);
  setStyle(style);
  addWidget(bar_);
  connect(this, &QToolBar::topLevelChanged, this, [this] { follow(); });
  connect(this, &QToolBar::orientationChanged, this, [this] { follow(); });
  follow();
}

void CFlatToolbarHost::follow() { bar_->setDocking(isFloating(), orientation() == Qt::Vertical); }

}  // namespace kelm::controls
