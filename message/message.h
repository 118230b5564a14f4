#pragma once
// The one record every exchange between console, agent and message server is made of,
// with the request codes, statuses and result texts that travel in it.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace kelm {

class ArchiveWriter;
class ArchiveReader;
enum class DecodeStatus;

// Request and notification codes.
enum RequestCode : std::int32_t {
  kReqLogon = 4097,         // "logon <credentials>" or "logoff <key>"
  kReqListRights = 4098,    // list the children with the caller's rights
  kReqChangeFolder = 4099,  // one step: "\" (root), ".." or a child's name
  kReqQuery = 4100,         // "." or a child's name
  kReqSetProperty = 4101,   // name@value
  kReqInvoke = 4102,        // method@arguments
  kReqRefresh = 4103,
  kReqClose = 4104,      // the sender is closing the link
  kReqKeepAlive = 4105,  // "hello buddy!", id = sender's time
  kReqComOpen = 4112,
  kReqComClose = 4113,
  kNotifyNotLoggedOn = 8192,
  kNotifyFolderGone = 8193,
  kNotifyFolderChanged = 8194,
  kNotifyEvent = 8195,
};

// The message server's own numbers for the folder requests it answers itself.
enum ServerRequestCode : std::int32_t {
  kSrvListRights = 0xA001,
  kSrvChangeFolder = 0xA002,
  kSrvQuery = 0xA003,
  kSrvSetProperty = 0xA004,
  kSrvRefresh = 0xA006,
};

enum MessageStatus : std::int32_t {
  kStatusNone = 0,
  kStatusRequest = 1,
  kStatusPartial = 2,
  kStatusFinal = 3,
  kStatusNotify = 4,
};

enum ResultCode : std::int32_t {
  kResultFunctional = 800,
  kResultError = 801,
  kResultAccessDenied = 802,
  kResultNotFound = 803,
  kResultAbort = 804,
  kResultInvalidArgument = 805,
  kResultTimeOut = 806,
};

inline constexpr std::string_view kKeepAliveText = "hello buddy!";

// The text of a result code ("Functional" ...), empty for a code without one.
std::string_view ResultText(std::int32_t code);
// "%d@%s": "806@Time Out".
std::string FormatResult(std::int32_t code);
// The decimal number at the start of a result text; 0 when it does not start with one
// (or the number does not fit in 32 bits).
std::int32_t ParseResultCode(std::string_view text);

// Tree entry type codes.
inline constexpr std::string_view kTypeFolder = "o--";
inline constexpr std::string_view kTypeMethod = "m--";
// "p%c%c": 'r' or '-', then 'w', else 'v' for a value that changes by itself, else '-'.
std::string PropertyType(bool readable, bool writable, bool isVolatile);
// name@type@value.
std::string TreeEntry(std::string_view name, std::string_view type, std::string_view value);

class CMessage {
 public:
  CMessage() = default;
  CMessage(std::int32_t c, std::int32_t i, std::int32_t s, std::string t)
      : code(c), id(i), status(s), text(std::move(t)) {}

  // Back to the cleared state: code -1, id 0, status 0, empty text.
  void Clear();

  // Stores the four fields in wire order.
  void Serialize(ArchiveWriter& ar) const;
  // Loads the four fields; on anything but kOk the record is left cleared.
  DecodeStatus Load(ArchiveReader& ar);

  bool operator==(const CMessage&) const = default;

  std::int32_t code = -1;
  std::int32_t id = 0;
  std::int32_t status = 0;
  std::string text;
};

}  // namespace kelm
