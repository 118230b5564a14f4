#pragma once
// Request and reply frames of the serial protocol: a request is signature, code, request length,
// expected reply length and the payload; a reply is the echoed code, two unread bytes and the payload.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace glimmora {

constexpr std::uint16_t kSignature = 0xA1A1;
constexpr std::size_t kReplyHeader = 4;
constexpr std::size_t kRequestHeader = 8;

// Payload fields follow each other with no gaps, words little-endian.
class Payload {
 public:
  Payload& byte(int v) {
    bytes_.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Payload& u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  // Exactly `width` bytes: the text, then NULs.
  Payload& text(std::string_view s, std::size_t width);
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> buildRequest(std::uint16_t code, const Payload& payload, std::uint16_t replyPayloadLength);

// A reply buffer of a fixed size, cleared before the transaction so that a missing reply fails the echo.
// Every accessor is bounded: a field past the end reads as zero.
class Reply {
 public:
  explicit Reply(std::size_t payloadLength) : bytes_(payloadLength + kReplyHeader, 0) {}
  std::uint8_t* data() { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  std::size_t payloadSize() const { return bytes_.size() - kReplyHeader; }
  std::uint16_t echo() const { return static_cast<std::uint16_t>(bytes_[0] | (bytes_[1] << 8)); }
  bool echoes(std::uint16_t code) const { return echo() == code; }
  // Payload accessors, offsets from the start of the payload.
  std::uint8_t u8(std::size_t offset) const;
  std::uint32_t u32(std::size_t offset) const;
  const std::uint8_t* payload() const { return bytes_.data() + kReplyHeader; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace glimmora
