#pragma once
// Byte form of records and archived strings on a stream: three little-endian 32-bit integers,
// then the text behind the archive's length prefix (1, 3 or 7 bytes), no terminator.
// Reading is incremental: a record that has arrived only in part is reported as kNeedMore and
// nothing is consumed, so the owning thread never waits for the rest.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "message/message.h"

namespace kelm {

// The longest text a record may carry, in bytes: what arrives (for the wide form: 2 bytes per
// character) and what it decodes to. Anything longer is a read failure, and is never written.
inline constexpr std::size_t kMaxTextBytes = 1u << 20;

enum class DecodeStatus {
  kOk,        // one item decoded
  kNeedMore,  // the input ends inside the item; nothing consumed
  kInvalid,   // the input can never form a valid item (oversize or malformed length)
};

// Appends to a byte buffer in archive form.
class ArchiveWriter {
 public:
  explicit ArchiveWriter(std::string& out) : out_(out) {}
  void WriteInt32(std::int32_t v);
  void WriteString(std::string_view text);

 private:
  std::string& out_;
};

// Reads archive form from a byte range; each read either succeeds and advances, or leaves the
// position where it was.
class ArchiveReader {
 public:
  explicit ArchiveReader(std::string_view in) : in_(in) {}
  DecodeStatus ReadInt32(std::int32_t& v);
  // Narrow text is made well-formed UTF-8; wide text is converted from UTF-16.
  DecodeStatus ReadString(std::string& text);
  // Passes over a string, checking only its length.
  DecodeStatus SkipString();

  std::size_t position() const { return pos_; }
  void seek(std::size_t pos) { pos_ = pos; }
  std::size_t remaining() const { return in_.size() - pos_; }
  // Why the last read gave kInvalid.
  const std::string& error() const { return error_; }

 private:
  DecodeStatus ReadLength(std::uint64_t& n, bool& wide);
  // The length prefix of a string within the limits, with its bytes all arrived: n characters
  // (wide: 2 bytes each) follow at the position.
  DecodeStatus ReadTextLength(std::uint64_t& n, bool& wide);
  DecodeStatus Fail(std::string why);

  std::string_view in_;
  std::size_t pos_ = 0;
  std::string error_;
};

// Whether a text fits in a record that every reader accepts.
inline bool TextFits(std::string_view text) { return text.size() <= kMaxTextBytes; }
// One record in wire form; a record whose text does not fit is refused: EncodeMessage gives an
// empty string and AppendMessage false, with nothing appended.
std::string EncodeMessage(const CMessage& m);
bool AppendMessage(std::string& out, const CMessage& m);

// The length of the record at the start of `in`, from its framing alone: 0 while it has arrived
// only in part, kBrokenRecord when no record can start so (decoding it may still refuse its text).
inline constexpr std::size_t kBrokenRecord = static_cast<std::size_t>(-1);
std::size_t RecordLength(std::string_view in);

struct DecodeResult {
  DecodeStatus status;
  std::size_t consumed;  // bytes of the record when kOk, else 0
  std::string error;     // set for kInvalid
};
// Decodes the record at the start of `in`.
DecodeResult DecodeMessage(std::string_view in, CMessage& out);

// Collects stream bytes and hands out complete records in order.
class MessageDecoder {
 public:
  void Feed(std::string_view bytes);
  // kOk with the next record, kNeedMore when no complete record is buffered, kInvalid once the
  // stream is broken (it stays broken: the peer's framing is lost).
  DecodeStatus Next(CMessage& out);
  const std::string& error() const { return error_; }
  std::size_t buffered() const { return buf_.size() - start_; }
  void Reset();

 private:
  std::string buf_;
  std::size_t start_ = 0;
  bool broken_ = false;
  std::string error_;
};

}  // namespace kelm
