#include "console/core/windows/frame_rules.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "console/core/strings.h"
#include "platform/base/format.h"
#include "platform/base/paths.h"

namespace kelm::console {

std::string FormatWindowPos(const WindowPlacement& p) {
  return plat::format("%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", p.flags, p.showCommand, p.minX, p.minY, p.maxX, p.maxY,
                      p.normal.left, p.normal.top, p.normal.right, p.normal.bottom);
}

std::optional<WindowPlacement> ParseWindowPos(std::string_view text) {
  if (text.size() > 200) return std::nullopt;
  long long v[10];
  std::size_t n = 0;
  const char* p = text.data();
  const char* end = text.data() + text.size();
  while (n < 10) {
    while (p < end && *p == ' ') ++p;
    auto [next, ec] = std::from_chars(p, end, v[n]);
    if (ec != std::errc() || v[n] < -1000000 || v[n] > 1000000) return std::nullopt;
    ++n;
    p = next;
    if (n < 10) {
      if (p >= end || *p != ',') return std::nullopt;
      ++p;
    }
  }
  while (p < end && *p == ' ') ++p;
  if (p != end) return std::nullopt;
  if (v[0] < 0 || v[1] < 0) return std::nullopt;
  WindowPlacement w;
  w.flags = static_cast<unsigned>(v[0]);
  w.showCommand = static_cast<unsigned>(v[1]);
  w.minX = static_cast<int>(v[2]);
  w.minY = static_cast<int>(v[3]);
  w.maxX = static_cast<int>(v[4]);
  w.maxY = static_cast<int>(v[5]);
  w.normal = ScreenRect{static_cast<int>(v[6]), static_cast<int>(v[7]), static_cast<int>(v[8]), static_cast<int>(v[9])};
  if (w.normal.right <= w.normal.left || w.normal.bottom <= w.normal.top) return std::nullopt;
  if (w.showCommand != kShowMaximised) {
    // A console that was closed minimised must not start as if it never started.
    w.showCommand = (w.showCommand == kShowMinimised && (w.flags & kPlacementRestoreMaximised)) ? kShowMaximised
                                                                                                : kShowNormal;
  }
  return w;
}

ScreenRect FitOnScreens(ScreenRect r, const std::vector<ScreenRect>& screens) {
  if (screens.empty()) return r;
  for (const ScreenRect& s : screens) {
    const int w = std::min(r.right, s.right) - std::max(r.left, s.left);
    const int h = std::min(r.bottom, s.bottom) - std::max(r.top, s.top);
    if (w >= kMinVisible && h >= kMinVisible) return r;
  }
  const ScreenRect& s = screens.front();
  const int width = std::min(r.width(), s.width());
  const int height = std::min(r.height(), s.height());
  const int left = std::clamp(r.left, s.left, s.right - width);
  const int top = std::clamp(r.top, s.top, s.bottom - height);
  return ScreenRect{left, top, left + width, top + height};
}

int ContentHeight(int saved, int clientHeight) {
  if (clientHeight <= 0) return 0;
  if (saved <= 0) return clientHeight / 5;
  const int room = std::max(clientHeight - kMinPropertyPane, clientHeight / 5);
  return std::min(saved, room);
}

std::optional<Pane> NextPane(Pane focus, const std::array<bool, 3>& usable) {
  const int start = focus == Pane::Other ? 0 : static_cast<int>(focus) + 1;
  for (int i = 0; i < 3; ++i) {
    const int p = (start + i) % 3;
    if (focus != Pane::Other && p == static_cast<int>(focus)) continue;
    if (usable[static_cast<std::size_t>(p)]) return static_cast<Pane>(p);
  }
  return std::nullopt;
}

std::string AboutText(const std::optional<std::string>& version) {
  return std::string(LoadString(kStrAppTitle)) + " " + (version && !version->empty() ? *version : "UNKNOWN VERSION");
}

std::string DesktopExecArgument(std::string_view path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  // The value is a string first: its own escape for '\', then '%' is no field code.
  std::string out;
  for (char c : quoted) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '%') {
      out += "%%";
    } else {
      out += c;
    }
  }
  return out;
}

std::string AutostartEntry(std::string_view programPath) {
  return "[Desktop Entry]\nType=Application\nName=" + std::string(LoadString(kStrAppTitle)) +
         "\nExec=" + DesktopExecArgument(programPath) + "\nTerminal=false\n";
}

std::string AutostartPath() {
  const std::filesystem::path root = plat::paths::root();
  const std::filesystem::path rel = "etc/xdg/autostart/kelm.desktop";
  return (root.empty() ? std::filesystem::path("/") / rel : root / rel).string();
}

bool MirrorAutostart(bool on, std::string_view programPath) {
  const std::filesystem::path file = AutostartPath();
  std::error_code ec;
  if (!on) {
    std::filesystem::remove(file, ec);
    return !ec;
  }
  if (!plat::paths::ensureDir(file.parent_path())) return false;
  const std::filesystem::path tmp = file.string() + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << AutostartEntry(programPath);
    out.flush();
    if (!out) {
      std::filesystem::remove(tmp, ec);
      return false;
    }
  }
  std::filesystem::rename(tmp, file, ec);
  if (ec) std::filesystem::remove(tmp, ec);
  return !ec;
}

}  // namespace kelm::console
