#include "console/controls/size_bar_model.h"

#include <algorithm>
#include <cstdio>

#include "platform/registry/profile.h"

namespace kelm::controls {

namespace {
constexpr const char* kEntries[6] = {"FloatSize_cx",    "FloatSize_cy",    "HorzDockSize_cx",
                                     "HorzDockSize_cy", "VertDockSize_cx", "VertDockSize_cy"};
}

void CSizeControlBarModel::Create(QSize parentClient, std::optional<QRect> rect) {
  int w, h;
  if (rect) {
    w = rect->width();
    h = rect->height();
  } else {
    w = parentClient.width() - parentClient.width() / 2;
    h = parentClient.height() - parentClient.height() / 4;
  }
  floatSize = QSize(w, h);
  horzDockSize = QSize(w, h / 2);
  vertDockSize = QSize((h / 2) * 3 / 2, w * 2 / 3);
}

QSize& CSizeControlBarModel::sizeInUse() {
  if (floating()) return floatSize;
  return isHorzDock(side) ? horzDockSize : vertDockSize;
}

QSize CSizeControlBarModel::fixedLayout() const {
  if (floating()) return floatSize;
  return isHorzDock(side) ? horzDockSize : vertDockSize;
}

QSize CSizeControlBarModel::CalcDynamicLayout(int length, std::uint32_t mode) {
  const QSize fixed = fixedLayout();
  if (length == -1 && !(mode & (LM_MRUWIDTH | LM_COMMIT)) && (mode & (LM_HORZDOCK | LM_VERTDOCK))) return fixed;
  if (!dynamicSize) return fixed;
  if (mode & LM_COMMIT) {
    if (mode & LM_MRUWIDTH) length = mruWidth;
    QSize* size;
    if (!floating()) {
      if (mode & LM_HORZDOCK) {
        size = &horzDockSize;
      } else if (mode & LM_VERTDOCK) {
        size = &vertDockSize;
      } else {
        return fixed;
      }
    } else {
      size = &floatSize;
    }
    if (mode & LM_LENGTHY) {
      size->setHeight(length);
    } else {
      size->setWidth(length);
    }
    return *size;
  }
  if (mode & LM_MRUWIDTH) return floatSize;
  if (mode & LM_HORZDOCK) return QSize(horzDockSize.width(), fixed.height());
  if (mode & LM_VERTDOCK) return QSize(fixed.width(), vertDockSize.height());
  QSize out = fixed;
  if (length != -1 && stretch) {
    if (mode & LM_LENGTHY) {
      out.setHeight(length);
    } else {
      out.setWidth(length);
    }
  }
  return out;
}

std::string CSizeControlBarModel::sectionName(const std::string& profileName, int index) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "-size_%d", index);
  return profileName + buf;
}

void CSizeControlBarModel::LoadState(const plat::reg::Profile& profile, const std::string& profileName, int index) {
  const std::string section = sectionName(profileName, index);
  QSize* sizes[3] = {&floatSize, &horzDockSize, &vertDockSize};
  for (int i = 0; i < 3; ++i) {
    const int cx = profile.getInt(section, kEntries[2 * i], 0);
    const int cy = profile.getInt(section, kEntries[2 * i + 1], 0);
    // A pair of zeros (or a missing pair) keeps the size from Create; a negative size is no
    // size at all.
    if ((cx != 0 || cy != 0) && cx >= 0 && cy >= 0) *sizes[i] = QSize(cx, cy);
  }
}

bool CSizeControlBarModel::SaveState(const plat::reg::Profile& profile, const std::string& profileName, int index) {
  const std::string section = sectionName(profileName, index);
  if (maxState != kMaxNone) restore();  // the restored size is the one to keep
  const QSize sizes[3] = {floatSize, horzDockSize, vertDockSize};
  std::vector<plat::reg::Value> entries;
  for (int i = 0; i < 3; ++i) {
    entries.push_back(plat::reg::Value::dword(kEntries[2 * i], static_cast<std::uint32_t>(sizes[i].width())));
    entries.push_back(plat::reg::Value::dword(kEntries[2 * i + 1], static_cast<std::uint32_t>(sizes[i].height())));
  }
  // One replacement of the section: a failed save keeps the sizes saved before.
  return profile.replaceSection(section, entries).ok();
}

void CSizeControlBarModel::setMaxState(int state) {
  if (state == kMaxNone) {
    maxState = kMaxNone;
    savedSize = QSize();
    return;
  }
  if (maxState == kMaxNone) {
    savedSize = sizeInUse();
    savedStyle = style;
  }
  maxState = state;
}

void CSizeControlBarModel::restore() {
  if (maxState == kMaxNone) return;
  sizeInUse() = savedSize;
  style = savedStyle;
  maxState = kMaxNone;
  savedSize = QSize();
}

std::optional<int> CSizeControlBarModel::positionChanged(QSize client, bool isFloating) {
  int flags = 0;
  if (!floating() && isHorzDock(side)) flags |= kSizedHorzDock;
  const bool floatChanged = !seen_ || isFloating != lastFloating_;
  if (isFloating && floatChanged) flags |= kSizedFloated;
  if (client != lastClient_) flags |= kSizedChanged;
  seen_ = true;
  if (flags == 0 && !floatChanged) return std::nullopt;
  lastClient_ = client;
  lastFloating_ = isFloating;
  return flags;
}

QRect CSizeControlBarModel::captionButtonRect(int n, const QRect& inside) const {
  const int cx = kCaptionButton.width(), cy = kCaptionButton.height();
  if (!floating() && isHorzDock(side)) {
    return QRect(inside.left(), inside.top() + (kCaptionButtons - n - 1) * (cy + 2), cx, cy);
  }
  return QRect(inside.right() + 1 + 2 + (n - kCaptionButtons) * (cx + 2), inside.top(), cx, cy);
}

int CSizeControlBarModel::sizeButtonImage() const {
  const int base = (!floating() && isHorzDock(side)) ? 2 : 0;
  return base + ((maxState & kMaxSelf) ? 1 : 0);
}

int CSizeControlBarModel::minimumLength() const {
  // The caption area: the buttons and their gaps along the bar, and the 3-pixel lead.
  if (!floating() && isHorzDock(side)) return kCaptionButton.width() + 3 + 2;
  return kCaptionButton.height() + 3 + 2;
}

std::vector<int> fitRow(int available, const std::vector<RowBar>& bars, int sharedBorder) {
  std::vector<int> out;
  out.reserve(bars.size());
  int needed = 0;
  int shrinkable = 0;
  int lastSizeable = -1;
  bool previousSizeable = false;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    out.push_back(bars[i].length);
    if (!bars[i].visible) continue;
    needed += bars[i].length - sharedBorder;
    if (bars[i].sizeable) {
      if (previousSizeable) needed += kSliderWidth;
      shrinkable += bars[i].length - bars[i].minimum;
      lastSizeable = static_cast<int>(i);
    }
    previousSizeable = bars[i].sizeable;
  }
  const int delta = available - needed;
  int given = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (!bars[i].visible || !bars[i].sizeable) continue;
    int share;
    if (static_cast<int>(i) == lastSizeable) {
      share = delta - given;
    } else {
      share = shrinkable < 1 ? 0
                             : static_cast<int>(static_cast<long long>(delta) * (bars[i].length - bars[i].minimum) /
                                                shrinkable);
      given += share;
    }
    out[i] = std::max(0, bars[i].length + share);
  }
  return out;
}

RowMaximise maximiseInRow(const std::vector<RowBar>& bars, int index, bool verticalDock) {
  RowMaximise r;
  for (const RowBar& b : bars) {
    r.lengths.push_back(b.length);
    r.states.push_back(kMaxNone);
  }
  if (index < 0 || index >= static_cast<int>(bars.size())) return r;
  auto canGive = [&](std::size_t i) {
    return (bars[i].visible && bars[i].sizeable) ? std::max(0, bars[i].length - bars[i].minimum) : 0;
  };
  int before = 0, after = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (static_cast<int>(i) < index) before += canGive(i);
    if (static_cast<int>(i) > index) after += canGive(i);
  }
  if (verticalDock && after > 8) after -= 8;
  int taken = 0;
  // Each side gives from its bars in turn, each down to its minimum at most.
  auto take = [&](std::size_t from, std::size_t to, int want) {
    for (std::size_t i = from; i < to && want > 0; ++i) {
      const int give = std::min(want, canGive(i));
      r.lengths[i] -= give;
      want -= give;
      taken += give;
    }
  };
  take(0, static_cast<std::size_t>(index), before);
  take(static_cast<std::size_t>(index) + 1, bars.size(), after);
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (bars[i].sizeable && bars[i].visible && static_cast<int>(i) != index) r.states[i] = kMaxOther;
  }
  r.lengths[static_cast<std::size_t>(index)] += taken;
  r.states[static_cast<std::size_t>(index)] = kMaxSelf;
  return r;
}

}  // namespace kelm::controls
