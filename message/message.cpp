#include "message/message.h"

#include <limits>

#include "message/message_codec.h"

namespace kelm {

std::string_view ResultText(std::int32_t code) {
  switch (code) {
    case kResultFunctional:
      return "Functional";
    case kResultError:
      return "Error";
    case kResultAccessDenied:
      return "Access Denied";
    case kResultNotFound:
      return "Not found";
    case kResultAbort:
      return "Abort";
    case kResultInvalidArgument:
      return "Invalid argument";
    case kResultTimeOut:
      return "Time Out";
    default:
      return {};
  }
}

std::string FormatResult(std::int32_t code) {
  std::string out = std::to_string(code);
  out += '@';
  out += ResultText(code);
  return out;
}

std::int32_t ParseResultCode(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  const size_t digitsStart = i;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return 0;
  }
  if (i == digitsStart) return 0;
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(value);
}

std::string PropertyType(bool readable, bool writable, bool isVolatile) {
  std::string t = "p";
  t += readable ? 'r' : '-';
  t += writable ? 'w' : (isVolatile ? 'v' : '-');
  return t;
}

std::string TreeEntry(std::string_view name, std::string_view type, std::string_view value) {
  std::string out;
  out.reserve(name.size() + type.size() + value.size() + 2);
  out.append(name).append(1, '@').append(type).append(1, '@').append(value);
  return out;
}

void CMessage::Clear() {
  code = -1;
  id = 0;
  status = 0;
  text.clear();
}

void CMessage::Serialize(ArchiveWriter& ar) const {
  ar.WriteInt32(code);
  ar.WriteInt32(id);
  ar.WriteInt32(status);
  ar.WriteString(text);
}

DecodeStatus CMessage::Load(ArchiveReader& ar) {
  const std::size_t start = ar.position();
  CMessage m;
  DecodeStatus s = ar.ReadInt32(m.code);
  if (s == DecodeStatus::kOk) s = ar.ReadInt32(m.id);
  if (s == DecodeStatus::kOk) s = ar.ReadInt32(m.status);
  if (s == DecodeStatus::kOk) s = ar.ReadString(m.text);
  if (s == DecodeStatus::kOk) {
    *this = std::move(m);
  } else {
    ar.seek(start);
    Clear();
  }
  return s;
}

}  // namespace kelm
