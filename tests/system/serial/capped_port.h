#pragma once
// The real serial port for tests against the simulator: every time-out held to a few seconds, so
// that a silent line costs little, while a reply that a loaded machine delays still arrives.
#include <algorithm>
#include <memory>

#include "serialapi/port.h"

namespace kelm::systest {

class CappedPort final : public glimmora::Port {
 public:
  static constexpr int kCapMs = 3000;
  explicit CappedPort(std::unique_ptr<glimmora::Port> p) : p_(std::move(p)) {}
  plat::Result<std::size_t> write(const std::uint8_t* d, std::size_t n, int ms) override {
    return p_->write(d, n, std::min(ms, kCapMs));
  }
  plat::Result<std::size_t> read(std::uint8_t* d, std::size_t n, int ms) override {
    return p_->read(d, n, std::min(ms, kCapMs));
  }
  void purge() override { p_->purge(); }
  void discardInput() override { p_->discardInput(); }
  void clearErrors() override { p_->clearErrors(); }

  // The ComN port the library would open, capped; the reason when it cannot be opened.
  static plat::Result<std::unique_ptr<glimmora::Port>> open(int index) {
    auto p = glimmora::openComPort(index);
    if (!p) return p.error();
    return std::unique_ptr<glimmora::Port>(std::make_unique<CappedPort>(std::move(*p)));
  }

 private:
  std::unique_ptr<glimmora::Port> p_;
};

}  // namespace kelm::systest
