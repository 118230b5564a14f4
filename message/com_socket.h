#pragma once
// The agent's local-server class ComSocket: one message record in (IComSocket::ProcessMessage),
// one message record out (the IComSocketEvents::SendReply event). Between processes the records
// travel on the class's Unix-domain socket in their stream form, both ways.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/com/connection_point.h"
#include "platform/com/unknown.h"

namespace kelm {

inline constexpr plat::com::Guid kClsidComSocket = plat::com::guid("{30C22F4E-190D-11D3-86BA-00A0CC30DAF0}");
inline constexpr plat::com::Guid kLibIdHalvornCom = plat::com::guid("{30C22F41-190D-11D3-86BA-00A0CC30DAF0}");
inline constexpr plat::com::Guid kAppIdHalvornCom = plat::com::guid("{30C22F42-190D-11D3-86BA-00A0CC30DAF0}");
// The class's socket under the runtime directory.
inline constexpr const char* kComSocketName = "ComSocket.sock";

constexpr plat::HRESULT DISP_E_TYPEMISMATCH = plat::hr(0x80020005);
constexpr plat::HRESULT DISP_E_BADPARAMCOUNT = plat::hr(0x8002000E);

struct IComSocket : plat::com::IUnknown {
  static constexpr plat::com::Guid kIid = plat::com::guid("{30C22F4D-190D-11D3-86BA-00A0CC30DAF0}");
  // The four fields of one record: request code, request identifier, status, text.
  virtual plat::HRESULT ProcessMessage(std::int32_t code, std::int32_t serial, std::int32_t status,
                                       const std::string& text) = 0;
};

// An argument of a late-bound event call: a number or a text.
using DispArg = std::variant<std::int32_t, std::string>;

struct IComSocketEvents : plat::com::IUnknown {
  static constexpr plat::com::Guid kIid = plat::com::guid("{30C22F4F-190D-11D3-86BA-00A0CC30DAF0}");
  static constexpr std::int32_t kDispIdSendReply = 1;
  virtual plat::HRESULT SendReply(std::int32_t code, std::int32_t serial, std::int32_t status,
                                  const std::string& text) = 0;
  // The event by dispatch identifier, arguments in reverse order (the last one is the first
  // parameter); *result, when given, receives the call's answer.
  virtual plat::HRESULT Invoke(std::int32_t dispId, const std::vector<DispArg>& params, std::int32_t* result) = 0;
};

// Makes CoCreateInstance of ComSocket with CLSCTX_LOCAL_SERVER work in this process: the object
// it gives speaks to the agent's socket on the calling thread's event loop, and its SendReply
// events arrive on that loop's thread (release the object before that loop goes). When the agent's
// end goes away, every subscribed sink gets one SendReply of the close record {4104, 0, 1, ""} and
// later calls fail with RPC_E_DISCONNECTED. Idempotent.
void RegisterComSocketProxy();

}  // namespace kelm
