#include "serialapi/port.h"

#include "platform/base/paths.h"

namespace glimmora {
namespace {

constexpr unsigned kBaud = 115200;

class TtyPort final : public Port {
 public:
  explicit TtyPort(std::unique_ptr<plat::serial::SerialPort> port) : port_(std::move(port)) {}
  plat::Result<std::size_t> write(const std::uint8_t* data, std::size_t n, int timeoutMs) override {
    return port_->write(data, n, timeoutMs);
  }
  plat::Result<std::size_t> read(std::uint8_t* data, std::size_t n, int timeoutMs) override {
    return port_->read(data, n, timeoutMs);
  }
  void purge() override { port_->purge(); }
  void discardInput() override { port_->discardInput(); }
  void clearErrors() override { port_->clearErrors(); }

 private:
  std::unique_ptr<plat::serial::SerialPort> port_;
};

}  // namespace

plat::Result<std::unique_ptr<Port>> openComPort(int index) {
  auto sp = plat::serial::SerialPort::open(plat::paths::serialPortDevice(index + 1), kBaud);
  if (!sp) return sp.error();
  return std::unique_ptr<Port>(std::make_unique<TtyPort>(std::move(*sp)));
}

}  // namespace glimmora
