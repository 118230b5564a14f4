#pragma once
// What every Vantrel node reaches the card through: its controller's API message address and
// device handle, shared by the controller and all nodes below it, and the nodes' environment.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/framework/river_node.h"
#include "components/iop/controller_device.h"
#include "platform/base/clock.h"

namespace kelm::iop {

inline constexpr int kEFail = static_cast<int>(0x80004005u);

// One controller's way to its card. The controller makes it; every node below holds it, so a
// node that a client keeps after the controller went still talks to a live object.
class ApiChannel {
 public:
  ApiAddress address;
  plat::devio::Handle handle;

  // The status when the call went through (the request packed, the device answered, the reply
  // unpacked into the destinations); nothing otherwise.
  std::optional<std::uint32_t> Call(std::uint16_t command, std::initializer_list<ApiIn> request,
                                    std::initializer_list<ApiOut> reply);
  // Status 0.
  bool Ok(std::uint16_t command, std::initializer_list<ApiIn> request, std::initializer_list<ApiOut> reply) {
    auto s = Call(command, request, reply);
    return s && *s == 0;
  }
  // A command answering one 32-bit value: the value on status 0.
  std::optional<std::uint32_t> Read(std::uint16_t command, std::initializer_list<ApiIn> request);
  std::optional<std::vector<std::uint8_t>> Params(std::uint16_t operation, std::uint16_t group,
                                                  std::initializer_list<std::uint16_t> fields);
  bool Identify();
};

// A node that calls its controller's card.
class ApiUser {
 public:
  ApiChannel* Api() const { return api_.get(); }
  const std::shared_ptr<ApiChannel>& ApiShared() const { return api_; }

 protected:
  // Takes the channel of the parent (when it has one).
  void InheritApi(fw::CRiverNode* parent);
  std::shared_ptr<ApiChannel> api_ = std::make_shared<ApiChannel>();
};

// Clock, log and language of the nodes; a member left empty takes the process's own.
struct Environment {
  const plat::Clock* clock = nullptr;
  std::function<void(std::string_view)> log;
  int language = 0;  // 1033 or 2057; 0 = from the locale
};
const Environment& Env();
void SetEnvironment(Environment env);

// "%d" text of a decimal argument, as atoi reads it.
int Atoi(const std::string& text);

}  // namespace kelm::iop
