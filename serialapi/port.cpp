#include "serialapi/port.h"

#include "platform/base/paths.h"

namespace glimmora {
namespace {

constexpr unsigned kBaud = 115200;

class TtyPort final : public Port {
 public:
  explicit TtyPort(std::unique_ptr<plat::serial::SerialPort> port) : port_(std::move(port)) {}
  IoStatus write(const std::uint8_t* data, std::size_t n, int timeoutMs) override {
    return port_->write(data, n, timeoutMs).status;
  }
  IoStatus read(std::uint8_t* data, std::size_t n, int timeoutMs, std::size_t* got) override {
    auto r = port_->read(data, n, timeoutMs);
    if (got) *got = r.bytes;
    return r.status;
  }
  void purge() override { port_->purge(); }
  void clearErrors() override { port_->clearErrors(); }

 private:
  std::unique_ptr<plat::serial::SerialPort> port_;
};

}  // namespace

std::unique_ptr<Port> openComPort(int index) {
  auto sp = plat::serial::SerialPort::open(plat::paths::serialPortDevice(index + 1), kBaud);
  if (!sp) return nullptr;
  return std::make_unique<TtyPort>(std::move(*sp));
}

}  // namespace glimmora
