#pragma once
// The page tests' fixture: the scripted agent serves one controller of a family with its channels,
// disks and arrays; the test lists what it needs and hands nodes to a page presenter.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {

// Bytes in the node framework's letter form (two letters a byte, low half first).
inline std::string Letters(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (std::uint8_t b : bytes) {
    out += static_cast<char>('A' + (b & 0xF));
    out += static_cast<char>('A' + (b >> 4));
  }
  return out;
}

// A controller's module records holding one "FIRMWARE" row: version 0102, 31/12/2001, 524288 bytes.
inline std::vector<std::uint8_t> ModuleBytes() {
  std::vector<std::uint8_t> m(12, 0);
  m[8] = 1;
  std::vector<std::uint8_t> r(40, 0);
  const std::string name = "FIRMWARE", version = "0102", date = "12312001";
  std::copy(name.begin(), name.end(), r.begin());
  std::copy(version.begin(), version.end(), r.begin() + 24);
  std::copy(date.begin(), date.end(), r.begin() + 28);
  r[38] = 0x08;
  m.insert(m.end(), r.begin(), r.end());
  return m;
}

class PageTest : public ConsoleTest {
 protected:
  void SetUp() override {
    agent.root.Remove("Controller0");
    ValidProfile();
  }
  // Lists each folder of the path below the agent ("IOP1\\Array0"), so its values are mirrored.
  CVirtualFolder* Open(const std::string& path) {
    CVirtualFolder* node = Agent();
    std::size_t from = 0;
    while (node && from <= path.size()) {
      const std::size_t to = std::min(path.find('\\', from), path.size());
      node = AsFolder(node->FindChild(path.substr(from, to - from)));
      if (!node) return nullptr;
      node->Refresh();
      Pump();
      from = to + 1;
    }
    return node;
  }
  // The invokes the agent received, after everything due was delivered.
  std::vector<std::string> Invoked(std::size_t from = 0) {
    Pump();
    return std::vector<std::string>(agent.invoked.begin() + static_cast<long>(from), agent.invoked.end());
  }
  std::vector<int> BoxIds() const {
    std::vector<int> out;
    for (const auto& b : ui.boxes) out.push_back(b.stringId);
    return out;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> out;
    for (const auto& b : ui.boxes) out.push_back(b.text);
    return out;
  }
};

}  // namespace kelm::console::testing
