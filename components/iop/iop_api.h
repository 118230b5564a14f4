#pragma once
// What every Vantrel node reaches the card through: its controller's API message address and
// device handle, shared by the controller and all nodes below it, and the nodes' environment.
#include <cerrno>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
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

  // The card's status when the call went through (the request packed, the device answered, the
  // reply unpacked into the destinations); else why it did not.
  plat::Result<std::uint32_t> Call(std::uint16_t command, std::initializer_list<ApiIn> request,
                                   std::initializer_list<ApiOut> reply);
  // The call went through with status 0. A card that answers another status fails with
  // kCardRefused, the status in the message.
  plat::Result<void> Ok(std::uint16_t command, std::initializer_list<ApiIn> request,
                        std::initializer_list<ApiOut> reply);
  // A command answering one 32-bit value: the value on status 0.
  plat::Result<std::uint32_t> Read(std::uint16_t command, std::initializer_list<ApiIn> request);
  plat::Result<std::vector<std::uint8_t>> Params(std::uint16_t operation, std::uint16_t group,
                                                 std::initializer_list<std::uint16_t> fields);
  // Sets the target id from the identify reply.
  plat::Result<void> Identify();
};

// The error code of a command the card answered with a status other than 0.
inline constexpr int kCardRefused = EREMOTEIO;
// What a call came to: its own failure, a refusal (kCardRefused) when the card answered a status
// other than 0, else success.
plat::Result<void> StatusOf(std::uint16_t command, const plat::Result<std::uint32_t>& status);

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
// Logs "<what>: <why>".
void LogFailure(std::string_view what, const plat::Error& why);

// "%d" text of a decimal argument, as atoi reads it.
int Atoi(const std::string& text);

}  // namespace kelm::iop
