#include "console/controls/flat_toolbar_model.h"

#include <utility>

namespace kelm::controls {

namespace {
constexpr int kDockedLead = 8;  // room for the gripper's two etched lines
constexpr int kFloatLead = 2;
constexpr int kTrail = 2;
}  // namespace

CFlatToolCmdUI::CFlatToolCmdUI(CFlatToolbarModel& bar, int index)
    : bar_(bar), index_(index), id_(bar.button(index).id) {}

void CFlatToolCmdUI::Enable(bool on) {
  std::uint32_t style = bar_.GetButtonStyle(index_) & ~kStyleDisabled;
  if (!on) style |= kStyleDisabled;
  bar_.SetButtonStyle(index_, style);
}

void CFlatToolCmdUI::SetCheck(int check) {
  std::uint32_t style = (bar_.GetButtonStyle(index_) | kStyleCheckBox) & ~(kStyleChecked | kStyleIndeterminate);
  if (check == 1) style |= kStyleChecked;
  if (check == 2) style |= kStyleIndeterminate;
  bar_.SetButtonStyle(index_, style);
}

void CFlatToolbarModel::SetButtons(const std::vector<int>& ids) {
  buttons_.clear();
  int image = 0;
  for (int id : ids) {
    if (id != 0) {
      buttons_.push_back(ToolButton{id, 0, image++});
    } else {
      buttons_.push_back(ToolButton{0, kStyleSeparator, metrics.gap + 2 * metrics.sharedBorder});
    }
  }
  tracking = hot = -1;
}

bool CFlatToolbarModel::LoadToolBar(const std::vector<std::uint16_t>& resource) {
  if (resource.size() < 4) return false;
  const int width = resource[1];
  const int height = resource[2];
  const std::size_t count = resource[3];
  if (width == 0 || height == 0 || resource.size() < 4 + count) return false;
  std::vector<int> ids(resource.begin() + 4, resource.begin() + 4 + static_cast<std::ptrdiff_t>(count));
  SetButtons(ids);
  SetSizes(QSize(width + 7, height + 7), QSize(width, height));
  return true;
}

void CFlatToolbarModel::SetSizes(QSize button, QSize image) {
  metrics.button = button;
  metrics.image = image;
}

bool CFlatToolbarModel::SetButtonStyle(int index, std::uint32_t style) {
  ToolButton& b = buttons_.at(static_cast<std::size_t>(index));
  const std::uint32_t old = std::exchange(b.style, style);
  if (old == style) return false;
  // A button that stays pressed is not redrawn for a change underneath.
  return !((old & kStylePressed) && (style & kStylePressed));
}

void CFlatToolbarModel::SetButtonInfo(int index, int id, std::uint32_t style, int image) {
  buttons_.at(static_cast<std::size_t>(index)) = ToolButton{id, style, image};
}

int CFlatToolbarModel::CommandToIndex(int id) const {
  for (int i = 0; i < count(); ++i) {
    if (button(i).id == id && !(button(i).style & kStyleSeparator)) return i;
  }
  return -1;
}

QMargins CFlatToolbarModel::insideMargins() const {
  const int lead = floating ? kFloatLead : kDockedLead;
  if (vertical) return QMargins(metrics.topBorder, lead, metrics.bottomBorder, kTrail);
  return QMargins(lead, metrics.topBorder, kTrail, metrics.bottomBorder);
}

QRect CFlatToolbarModel::insideRect() const { return client.marginsRemoved(insideMargins()); }

int CFlatToolbarModel::extent(int index) const {
  const ToolButton& b = button(index);
  if (b.style & kStyleSeparator) return b.image;
  return vertical ? metrics.button.height() : metrics.button.width();
}

QRect CFlatToolbarModel::GetItemRect(int index) const {
  const QRect in = insideRect();
  int pos = vertical ? in.top() : in.left();
  if (!floating) pos += kGripperOffset;
  for (int i = 0; i < index; ++i) pos += extent(i) - metrics.sharedBorder;
  if (vertical) return QRect(in.left(), pos, metrics.button.width(), extent(index));
  return QRect(pos, in.top(), extent(index), metrics.button.height());
}

int CFlatToolbarModel::HitTest(QPoint point) const {
  // Built from the item rectangles, so a docked bar's gripper offset is counted exactly once.
  for (int i = 0; i < count(); ++i) {
    if (button(i).style & kStyleSeparator) continue;
    if (GetItemRect(i).contains(point)) return i;
  }
  return -1;
}

QSize CFlatToolbarModel::fixedSize() const {
  const QMargins m = insideMargins();
  int along = floating ? 0 : kGripperOffset;
  for (int i = 0; i < count(); ++i) along += extent(i) - metrics.sharedBorder;
  along += metrics.sharedBorder;
  if (vertical) return QSize(metrics.button.width() + m.left() + m.right(), along + m.top() + m.bottom());
  return QSize(along + m.left() + m.right(), metrics.button.height() + m.top() + m.bottom());
}

QPoint CFlatToolbarModel::glyphOffset(std::uint32_t style) const {
  QPoint p((metrics.button.width() - metrics.image.width() - 1) / 2,
           (metrics.button.height() - metrics.image.height()) / 2);
  if (style & (kStylePressed | kStyleChecked)) p += QPoint(1, 1);
  return p;
}

void CFlatToolbarModel::updateButtonUi(int index, const CmdUiUpdater& update) {
  if (!update || index < 0 || index >= count() || (button(index).style & kStyleSeparator)) return;
  CFlatToolCmdUI ui(*this, index);
  update(ui);
}

void CFlatToolbarModel::updateCommandUi(const CmdUiUpdater& update) {
  for (int i = 0; i < count(); ++i) updateButtonUi(i, update);
}

ToolbarTransition stepToolbar(CFlatToolbarModel bar, const ToolbarMouse& event, const CmdUiUpdater& update,
                              bool statusPrompt) {
  using E = ToolbarEffect;
  std::vector<E> fx;
  auto setStyle = [&](int index, std::uint32_t style) {
    if (bar.SetButtonStyle(index, style)) fx.push_back({E::Redraw, index});
  };
  switch (event.kind) {
    case ToolbarMouse::Down: {
      const int index = bar.HitTest(event.point);
      if (index < 0) {
        fx.push_back({E::Default});
        break;
      }
      bar.updateButtonUi(index, update);
      if (bar.GetButtonStyle(index) & kStyleDisabled) break;  // not tracked
      bar.tracking = index;
      if (bar.hot == index) bar.hot = -1;
      setStyle(index, (bar.GetButtonStyle(index) | kStylePressed) & ~kStyleHot);
      fx.push_back({E::Capture});
      if (statusPrompt) fx.push_back({E::StatusPrompt, bar.button(index).id});
      break;
    }
    case ToolbarMouse::Move: {
      if (bar.tracking >= 0) {
        const int index = bar.tracking;
        const std::uint32_t style = bar.GetButtonStyle(index);
        if (!event.haveCapture) {
          bar.tracking = -1;
          setStyle(index, style & ~kStylePressed);
          if (statusPrompt) fx.push_back({E::StatusPrompt, kIdlePrompt});
          break;
        }
        const bool over = bar.HitTest(event.point) == index;
        setStyle(index, over ? (style | kStylePressed) : (style & ~kStylePressed));
        break;
      }
      if (!event.foreground) break;  // hot tracking only while the console is the active application
      const int index = bar.HitTest(event.point);
      fx.push_back({index < 0 ? E::ReleaseCapture : E::Capture});
      if (index == bar.hot) break;
      if (index >= 0 && !(bar.GetButtonStyle(index) & kStyleDisabled)) {
        setStyle(index, bar.GetButtonStyle(index) | kStyleHot);
      }
      if (bar.hot >= 0 && bar.hot < bar.count()) setStyle(bar.hot, bar.GetButtonStyle(bar.hot) & ~kStyleHot);
      bar.hot = index;
      break;
    }
    case ToolbarMouse::Up: {
      if (bar.tracking < 0) {
        fx.push_back({E::Default});
        break;
      }
      const int index = bar.tracking;
      fx.push_back({E::ReleaseCapture});
      const bool over = bar.HitTest(event.point) == index;
      bar.updateButtonUi(index, update);
      std::uint32_t style = bar.GetButtonStyle(index);
      const bool send = over && !(style & kStyleDisabled);
      if (send && (style & kStyleCheckBox)) {
        if (style & kStyleIndeterminate) {
          style = (style & ~(kStyleIndeterminate | kStylePressed)) | kStyleChecked;
        } else {
          style ^= kStyleChecked;
        }
      }
      style &= ~kStylePressed;
      // The new style is stored and tracking ended before the command runs: the command may
      // change this bar (or destroy its owner's state), and must not be undone afterwards.
      bar.SetButtonStyle(index, style);
      bar.tracking = -1;
      if (statusPrompt) fx.push_back({E::StatusPrompt, kIdlePrompt});
      if (send) fx.push_back({E::Command, bar.button(index).id});
      fx.push_back({E::UpdateCommandUi});
      fx.push_back({E::Redraw, index});
      break;
    }
    case ToolbarMouse::Cancel: {
      if (bar.tracking < 0) break;
      const int index = bar.tracking;
      fx.push_back({E::ReleaseCapture});
      bar.tracking = -1;
      setStyle(index, bar.GetButtonStyle(index) & ~kStylePressed);
      break;
    }
  }
  return ToolbarTransition{std::move(bar), std::move(fx)};
}

}  // namespace kelm::controls
