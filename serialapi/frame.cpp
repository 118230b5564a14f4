#include "serialapi/frame.h"

namespace glimmora {

Payload& Payload::text(std::string_view s, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes_.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
  return *this;
}

std::vector<std::uint8_t> buildRequest(std::uint16_t code, const Payload& payload, std::uint16_t replyPayloadLength) {
  const auto& p = payload.bytes();
  std::vector<std::uint8_t> out;
  out.reserve(kRequestHeader + p.size());
  auto put16 = [&](std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  put16(kSignature);
  put16(code);
  put16(static_cast<std::uint16_t>(p.size()));
  put16(replyPayloadLength);
  out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::uint8_t Reply::u8(std::size_t offset) const { return offset < payloadSize() ? bytes_[kReplyHeader + offset] : 0; }

std::uint32_t Reply::u32(std::size_t offset) const {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(u8(offset + i)) << (8 * i);
  return v;
}

}  // namespace glimmora
