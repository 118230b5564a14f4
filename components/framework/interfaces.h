#pragma once
// The interfaces every controller component offers to the agent: the generic node interface, the
// event-record reader and the change notification, with the identifiers the components share.
#include <cstdint>
#include <string>

#include "platform/com/unknown.h"

namespace kelm::fw {

using plat::HRESULT;
using plat::com::Guid;
using plat::com::IUnknown;

// Every node of a component's tree. Names, values and arguments are UTF-8 text.
struct IRiver : IUnknown {
  static constexpr Guid kIid = plat::com::guid("{89176F07-E5EC-11D1-B4A6-00A02448219B}");
  // An IEnumString with one "name@type@value" line per entry.
  virtual HRESULT dir(IUnknown** ppenum) = 0;
  // The text of an entry; a name that is not listed leaves *value as it was and still gives S_OK.
  virtual HRESULT get(const std::string& name, std::string* value) = 0;
  // S_OK when a writable property was stored, S_FALSE otherwise. `right` is not used.
  virtual HRESULT set(const std::string& name, const std::string& value, std::uint32_t right) = 0;
  // S_OK when the entry is a method (whatever the method then did), S_FALSE otherwise.
  virtual HRESULT invoke(const std::string& name, const std::string& arg) = 0;
  virtual HRESULT refresh() = 0;
  // The child node as an IRiver with one reference for the caller; S_FALSE when there is no child entry.
  virtual HRESULT cd(const std::string& name, IUnknown** ppriver) = 0;
};

// Offered by controller nodes: the event records waiting to be read.
struct IEventLog : IUnknown {
  static constexpr Guid kIid = plat::com::guid("{5C69FDA1-56FF-11D2-B4F7-00A02448219B}");
  // 0 when none or on any failure; S_OK always.
  virtual HRESULT GetNewCount(std::uint32_t* newCount) = 0;
  // One waiting record "%d@%d@%d@%s@%s" into *buf. When no record can be given *buf is left
  // empty, and the caller skips it. *size, when given, is the number of records wanted and is set
  // to the number given.
  virtual HRESULT ReadEventLog(std::string* buf, std::uint32_t* size) = 0;
  virtual HRESULT ClearLog() = 0;
};

// The outgoing interface of every node; components fire kNotifyChanged.
struct IRAIDEvent : IUnknown {
  static constexpr Guid kIid = plat::com::guid("{8A9AFC56-5808-11D2-B508-0060972975C2}");
  virtual HRESULT RAIDNotification(std::uint32_t notificationCode) = 0;
};

// Something in the tree changed and is to be re-read.
inline constexpr std::uint32_t kNotifyChanged = 8194;

// Identifiers of the shared type library and its two described-only classes.
inline constexpr Guid kLibId = plat::com::guid("{3CFC3273-E902-11D1-B4A7-00A02448219B}");
inline constexpr Guid kClsidEventLog = plat::com::guid("{5C69FDA2-56FF-11D2-B4F7-00A02448219B}");
inline constexpr Guid kClsidRAIDEvent = plat::com::guid("{8A9AFC57-5808-11D2-B508-0060972975C2}");

}  // namespace kelm::fw
