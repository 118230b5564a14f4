#include "message/message_codec.h"

#include <cstring>

#include "platform/base/text.h"

namespace kelm {
namespace {

void putLe(std::string& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint64_t getLe(std::string_view in, std::size_t pos, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint64_t{static_cast<unsigned char>(in[pos + i])} << (8 * i);
  return v;
}

}  // namespace

void ArchiveWriter::WriteInt32(std::int32_t v) { putLe(out_, static_cast<std::uint32_t>(v), 4); }

void ArchiveWriter::WriteString(std::string_view text) {
  const std::uint64_t n = text.size();
  if (n < 255) {
    putLe(out_, n, 1);
  } else if (n < 0xFFFE) {
    putLe(out_, 0xFF, 1);
    putLe(out_, n, 2);
  } else {
    putLe(out_, 0xFF, 1);
    putLe(out_, 0xFFFF, 2);
    putLe(out_, n, 4);
  }
  out_.append(text);
}

namespace {

// Eight bytes at a time: a large text costs one quick pass, not a branch per byte.
bool IsAscii(std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & 0x8080808080808080ULL) return false;
  }
  for (; i < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
  return true;
}

}  // namespace

DecodeStatus ArchiveReader::Fail(std::string why) {
  error_ = std::move(why);
  return DecodeStatus::kInvalid;
}

DecodeStatus ArchiveReader::ReadInt32(std::int32_t& v) {
  if (remaining() < 4) return DecodeStatus::kNeedMore;
  v = static_cast<std::int32_t>(static_cast<std::uint32_t>(getLe(in_, pos_, 4)));
  pos_ += 4;
  return DecodeStatus::kOk;
}

// One length prefix: n, or 0xFF + 16-bit n, or 0xFF 0xFFFF + 32-bit n; 0xFF 0xFFFE marks wide
// text (reported through `wide`, the caller reads the count that follows).
DecodeStatus ArchiveReader::ReadLength(std::uint64_t& n, bool& wide) {
  wide = false;
  std::size_t p = pos_;
  if (in_.size() - p < 1) return DecodeStatus::kNeedMore;
  n = getLe(in_, p, 1);
  p += 1;
  if (n == 0xFF) {
    if (in_.size() - p < 2) return DecodeStatus::kNeedMore;
    n = getLe(in_, p, 2);
    p += 2;
    if (n == 0xFFFE) {
      wide = true;
    } else if (n == 0xFFFF) {
      if (in_.size() - p < 4) return DecodeStatus::kNeedMore;
      n = getLe(in_, p, 4);
      p += 4;
    }
  }
  pos_ = p;
  return DecodeStatus::kOk;
}

DecodeStatus ArchiveReader::ReadTextLength(std::uint64_t& n, bool& wide) {
  const std::size_t start = pos_;
  DecodeStatus s = ReadLength(n, wide);
  if (s == DecodeStatus::kOk && wide) {
    s = ReadLength(n, wide);
    if (s == DecodeStatus::kOk && wide) s = Fail("text length: wide marker repeated");
    wide = true;
    if (s == DecodeStatus::kOk && n > kMaxTextBytes / 2)
      s = Fail("wide text of " + std::to_string(n) + " characters is over the limit");
    if (s == DecodeStatus::kOk && remaining() < 2 * n) s = DecodeStatus::kNeedMore;
  } else {
    if (s == DecodeStatus::kOk && n > kMaxTextBytes)
      s = Fail("text of " + std::to_string(n) + " bytes is over the limit");
    if (s == DecodeStatus::kOk && remaining() < n) s = DecodeStatus::kNeedMore;
  }
  if (s != DecodeStatus::kOk) pos_ = start;
  return s;
}

DecodeStatus ArchiveReader::SkipString() {
  std::uint64_t n = 0;
  bool wide = false;
  const DecodeStatus s = ReadTextLength(n, wide);
  if (s == DecodeStatus::kOk) pos_ += static_cast<std::size_t>(wide ? 2 * n : n);
  return s;
}

DecodeStatus ArchiveReader::ReadString(std::string& text) {
  const std::size_t start = pos_;
  std::uint64_t n = 0;
  bool wide = false;
  const DecodeStatus s = ReadTextLength(n, wide);
  if (s != DecodeStatus::kOk) return s;
  if (wide) {
    std::u16string wideText(static_cast<std::size_t>(n), u'\0');
    for (std::size_t i = 0; i < n; ++i) wideText[i] = static_cast<char16_t>(getLe(in_, pos_ + 2 * i, 2));
    std::string converted = plat::utf16ToUtf8(wideText);
    // Converted text can be longer than what arrived; no peer would take it back.
    if (converted.size() > kMaxTextBytes) {
      pos_ = start;
      return Fail("wide text converts to " + std::to_string(converted.size()) + " bytes, over the limit");
    }
    pos_ += 2 * n;
    text = std::move(converted);
    return DecodeStatus::kOk;
  }
  const std::string_view raw = in_.substr(pos_, static_cast<std::size_t>(n));
  // Plain ASCII needs no checking; anything else is made well-formed UTF-8.
  if (IsAscii(raw)) {
    text.assign(raw);
  } else {
    // Each invalid byte becomes a three-byte replacement character: check the limit on the result,
    // so that nothing decoded here is refused when it is written out again.
    std::string converted = plat::sanitizeUtf8(raw);
    if (converted.size() > kMaxTextBytes) {
      pos_ = start;
      return Fail("text converts to " + std::to_string(converted.size()) + " bytes, over the limit");
    }
    text = std::move(converted);
  }
  pos_ += n;
  return DecodeStatus::kOk;
}

bool AppendMessage(std::string& out, const CMessage& m) {
  if (!TextFits(m.text)) return false;
  ArchiveWriter ar(out);
  m.Serialize(ar);
  return true;
}

std::string EncodeMessage(const CMessage& m) {
  std::string out;
  if (!TextFits(m.text)) return out;
  out.reserve(13 + m.text.size() + 6);
  AppendMessage(out, m);
  return out;
}

std::size_t RecordLength(std::string_view in) {
  ArchiveReader ar(in);
  std::int32_t field = 0;
  DecodeStatus s = DecodeStatus::kOk;
  for (int i = 0; i < 3 && s == DecodeStatus::kOk; ++i) s = ar.ReadInt32(field);
  if (s == DecodeStatus::kOk) s = ar.SkipString();
  if (s == DecodeStatus::kInvalid) return kBrokenRecord;
  return s == DecodeStatus::kOk ? ar.position() : 0;
}

DecodeResult DecodeMessage(std::string_view in, CMessage& out) {
  ArchiveReader ar(in);
  const DecodeStatus s = out.Load(ar);
  if (s == DecodeStatus::kOk) return {s, ar.position(), {}};
  return {s, 0, s == DecodeStatus::kInvalid ? ar.error() : std::string()};
}

void MessageDecoder::Feed(std::string_view bytes) {
  if (broken_) return;
  if (start_ > 0 && start_ >= buf_.size() / 2) {
    buf_.erase(0, start_);
    start_ = 0;
  }
  buf_.append(bytes);
}

DecodeStatus MessageDecoder::Next(CMessage& out) {
  if (broken_) return DecodeStatus::kInvalid;
  DecodeResult r = DecodeMessage(std::string_view(buf_).substr(start_), out);
  if (r.status == DecodeStatus::kOk) {
    start_ += r.consumed;
    if (start_ == buf_.size()) {
      buf_.clear();
      start_ = 0;
    }
  } else if (r.status == DecodeStatus::kInvalid) {
    broken_ = true;
    error_ = std::move(r.error);
    buf_.clear();
    start_ = 0;
  }
  return r.status;
}

void MessageDecoder::Reset() {
  buf_.clear();
  start_ = 0;
  broken_ = false;
  error_.clear();
}

}  // namespace kelm
