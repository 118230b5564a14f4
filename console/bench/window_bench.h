#pragma once
// The window side of kelm-bench-console (a QApplication must exist, offscreen).
#include <cstddef>
#include <optional>
#include <string>

namespace kelm::console::bench {

struct WindowFigures {
  static constexpr int kRebuilding = 10;  // arrays rebuilding during the polls
  double buildMs = 0;                     // outline and list built again, median
  double pollMs = 0;                      // one poll's update, median
  double pollMaxMs = 0;
  std::size_t items = 0;   // outline items
  std::size_t listed = 0;  // list items
  int bars = 0;            // progress bars drawn after the polls
};

// A mirrored tree of that many nodes: one controller with its arrays.
std::optional<WindowFigures> MeasureWindows(int nodes, int rounds);

// A start of the console against the real agent with the three simulated families, logging on
// from a saved profile, until the outline shows every controller; why says what was missing.
std::optional<double> MeasureStart(std::string& why);

}  // namespace kelm::console::bench
