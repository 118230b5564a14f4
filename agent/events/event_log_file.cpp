#include "agent/events/event_log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "message/message_codec.h"
#include "platform/base/paths.h"

namespace kelm::events {
namespace {

constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();
// prev, code, time, severity, two empty texts, next.
constexpr std::int64_t kMinRecordSize = 4 * 4 + 2 + 4;
// The largest record the reader takes: two texts at the archive limit and their prefixes.
constexpr std::int64_t kMaxRecordSize = 4 * 4 + 2 * (7 + static_cast<std::int64_t>(kelm::kMaxTextBytes)) + 4;
constexpr std::size_t kFirstWindow = 512;

// The int32 at pos; nothing when the storage ends first.
plat::Result<std::optional<std::int32_t>> readInt32At(const LogStorage& storage, std::int64_t pos) {
  auto b = storage.readAt(pos, 4);
  if (!b) return b.error();
  if (b->size() < 4) return std::optional<std::int32_t>{};
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t{static_cast<unsigned char>((*b)[i])} << (8 * i);
  return std::optional<std::int32_t>(static_cast<std::int32_t>(v));
}

// At most max bytes of s, cut on a character boundary.
std::string_view cutAtCharacter(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  return s.substr(0, cut);
}

std::string escapeByte(unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  return {'%', kHex[c >> 4], kHex[c & 15]};
}

}  // namespace

std::string encodeHeader(std::int32_t identity) {
  std::string out;
  kelm::ArchiveWriter ar(out);
  ar.WriteInt32(kLogVersion);
  ar.WriteInt32(identity);
  out.append(kCompanyText);
  out.push_back('\0');
  out.append(4, '\0');  // uint16 0 and two reserved bytes
  return out;
}

plat::Result<std::optional<std::int32_t>> readIdentity(const LogStorage& storage) {
  using Identity = std::optional<std::int32_t>;
  auto h = storage.readAt(0, kHeaderSize);
  if (!h) return h.error();
  if (h->size() < static_cast<std::size_t>(kHeaderSize)) return Identity{};
  kelm::ArchiveReader ar(*h);
  std::int32_t version = 0, identity = 0;
  if (ar.ReadInt32(version) != kelm::DecodeStatus::kOk || ar.ReadInt32(identity) != kelm::DecodeStatus::kOk)
    return Identity{};
  if (version != kLogVersion || identity == 0) return Identity{};
  if (std::string_view(*h).substr(8, kCompanyText.size() + 1) != std::string(kCompanyText) + '\0') return Identity{};
  return Identity(identity);
}

plat::Result<std::optional<StoredRecord>> readRecordAt(const LogStorage& storage, std::int64_t fileSize,
                                                       std::int64_t pos) {
  using Found = std::optional<StoredRecord>;
  if (pos < kHeaderSize || fileSize > kMaxPosition + 4 || pos > fileSize - kMinRecordSize - 4) return Found{};
  const std::int64_t room = std::min(fileSize - 4 - pos, kMaxRecordSize);
  std::int64_t window = std::min<std::int64_t>(room, kFirstWindow);
  for (;;) {
    auto bytes = storage.readAt(pos, static_cast<std::size_t>(window));
    if (!bytes) return bytes.error();
    if (bytes->size() < static_cast<std::size_t>(window)) return Found{};  // the file is shorter than it was
    kelm::ArchiveReader ar(*bytes);
    StoredRecord r;
    r.position = static_cast<std::int32_t>(pos);
    kelm::DecodeStatus s = ar.ReadInt32(r.previous);
    if (s == kelm::DecodeStatus::kOk) s = ar.ReadInt32(r.record.code);
    if (s == kelm::DecodeStatus::kOk) s = ar.ReadInt32(r.record.time);
    if (s == kelm::DecodeStatus::kOk) s = ar.ReadInt32(r.record.severity);
    if (s == kelm::DecodeStatus::kOk) s = ar.ReadString(r.record.title);
    if (s == kelm::DecodeStatus::kOk) s = ar.ReadString(r.record.text);
    if (s == kelm::DecodeStatus::kOk) s = ar.ReadInt32(r.next);
    if (s == kelm::DecodeStatus::kNeedMore && window < room) {
      window = std::min(room, window * 8);
      continue;
    }
    if (s != kelm::DecodeStatus::kOk) return Found{};
    // The links must agree with where the record lies: next names the int32 right behind it, and
    // previous lies before it, so following either never stands still or turns round.
    if (r.next != pos + static_cast<std::int64_t>(ar.position())) return Found{};
    if (r.previous != 0 && (r.previous < kHeaderSize || r.previous >= pos)) return Found{};
    return Found(std::move(r));
  }
}

plat::Result<LogTail> findTail(const LogStorage& storage, std::int64_t fileSize) {
  if (fileSize <= kHeaderSize) return LogTail{0, kHeaderSize, fileSize == kHeaderSize};
  auto last = readInt32At(storage, fileSize - 4);
  if (!last) return last.error();
  if (*last && fileSize == kHeaderSize + 4 && **last == 0) return LogTail{0, kHeaderSize, true};
  if (*last && **last >= kHeaderSize) {
    auto r = readRecordAt(storage, fileSize, **last);
    if (!r) return r.error();
    if (*r && (*r)->next == fileSize - 4) return LogTail{**last, (*r)->next, true};
  }
  // Torn or corrupt: keep the records that chain up from the first.
  LogTail tail{0, kHeaderSize, false};
  std::int64_t pos = kHeaderSize;
  for (;;) {
    auto found = readRecordAt(storage, fileSize, pos);
    if (!found) return found.error();
    const auto& r = *found;
    if (!r || r->previous != tail.last) break;
    tail.last = r->position;
    tail.linkAt = r->next;
    pos = r->next;
  }
  return tail;
}

plat::Result<std::int32_t> appendRecord(LogStorage& storage, const EventRecord& record) {
  auto size = storage.size();
  if (!size) return size.error();
  if (*size < kHeaderSize) return plat::Error{EIO, "event log file has no header"};
  auto found = findTail(storage, *size);
  if (!found) return found.error();
  const LogTail tail = *found;
  std::string bytes;
  kelm::ArchiveWriter ar(bytes);
  ar.WriteInt32(tail.last);
  ar.WriteInt32(record.code);
  ar.WriteInt32(record.time);
  ar.WriteInt32(record.severity);
  ar.WriteString(cutAtCharacter(record.title, kelm::kMaxTextBytes));
  ar.WriteString(cutAtCharacter(record.text, kelm::kMaxTextBytes));
  const std::int64_t next = tail.linkAt + static_cast<std::int64_t>(bytes.size()) + 4;
  if (next + 4 > kMaxPosition) return plat::Error{EFBIG, "event log file is full"};
  ar.WriteInt32(static_cast<std::int32_t>(next));
  ar.WriteInt32(tail.linkAt);
  // A torn tail is cut off first, so a crash in between leaves the whole records.
  if (!tail.sound) {
    if (auto cut = storage.truncate(tail.linkAt); !cut) return cut.error();
  }
  if (auto written = storage.writeAt(tail.linkAt, bytes); !written) return written.error();
  return tail.linkAt;
}

plat::Result<std::int32_t> appendOrStart(LogStorage& storage, bool isNew, std::int32_t newIdentity,
                                         const EventRecord& record) {
  if (!isNew) {
    auto identity = readIdentity(storage);
    if (!identity) return identity.error();  // storage that cannot be read is left as it is
    isNew = !*identity;
  }
  if (isNew) {
    if (auto cut = storage.truncate(0); !cut) return cut.error();
    if (auto header = storage.writeAt(0, encodeHeader(newIdentity != 0 ? newIdentity : 1)); !header)
      return header.error();
  }
  return appendRecord(storage, record);
}

std::string safePathElement(std::string_view name) {
  if (name == ".") return "%2E";
  if (name == "..") return "%2E%2E";
  std::string out;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '%' || c == '/')
      out += escapeByte(c);
    else
      out.push_back(ch);
  }
  // Long names are cut and told apart by a digest of the whole name.
  constexpr std::size_t kMaxElement = 200;
  if (out.size() > kMaxElement) {
    std::uint32_t h = 2166136261u;
    for (char ch : name) h = (h ^ static_cast<unsigned char>(ch)) * 16777619u;
    out.resize(cutAtCharacter(out, kMaxElement).size());
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kHex[(h >> shift) & 15]);
  }
  return out;
}

std::filesystem::path eventLogPath(const std::filesystem::path& logRoot, std::string_view folderFullPath) {
  std::filesystem::path dir = logRoot;
  std::string last;
  std::size_t start = 0;
  while (start <= folderFullPath.size()) {
    std::size_t end = folderFullPath.find('\\', start);
    if (end == std::string_view::npos) end = folderFullPath.size();
    const std::string_view element = folderFullPath.substr(start, end - start);
    if (!element.empty()) {
      last = safePathElement(element);
      dir /= last;
    }
    start = end + 1;
  }
  return dir / (last + ".log");
}

plat::Result<std::int32_t> EventLogFile::append(const EventRecord& record) {
  bool created = false;
  plat::UniqueFd fd(::open(file_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!fd && errno == ENOENT) {
    if (auto made = plat::paths::ensureDir(file_.parent_path()); !made) return made.error();
    fd.reset(::open(file_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    created = fd.valid();
    if (!fd && errno == EEXIST) fd.reset(::open(file_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  }
  if (!fd) return plat::errnoError("opening " + file_.string());
  FileStorage storage(std::move(fd));
  const std::int64_t now = clock_.wallSeconds();
  auto appended = appendOrStart(storage, created, static_cast<std::int32_t>(now > 0 ? now : 1), record);
  if (!appended) return plat::prefixed(file_.string(), appended.error());
  return appended;
}

bool EventLogFile::remove() { return ::unlink(file_.c_str()) == 0; }

plat::Result<EventCursor> EventCursor::open(const std::filesystem::path& file, std::int32_t& position,
                                            std::int32_t& cookie, bool forwards) {
  plat::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return plat::errnoError("opening " + file.string());
  auto c = open(std::make_unique<FileStorage>(std::move(fd)), position, cookie, forwards);
  if (!c) return plat::prefixed(file.string(), c.error());
  return c;
}

plat::Result<EventCursor> EventCursor::open(std::unique_ptr<LogStorage> storage, std::int32_t& position,
                                            std::int32_t& cookie, bool forwards) {
  const auto sized = storage->size();
  if (!sized) return sized.error();
  const auto read = readIdentity(*storage);
  if (!read) return read.error();
  if (*sized < kHeaderSize || !*read) return plat::Error{EBADMSG, "not an event log file"};
  const std::int64_t size = *sized;
  const std::int32_t identity = **read;
  if (position != 0 && cookie != identity) return plat::Error{ESTALE, "the log was started again since that page"};
  cookie = identity;
  EventCursor c(std::move(storage), size, identity, forwards);
  if (position == 0) {
    if (forwards) {
      c.position_ = kHeaderSize;
    } else {
      auto tail = findTail(*c.storage_, size);
      if (!tail) return tail.error();
      c.position_ = tail->last;
    }
  } else if (forwards) {
    auto r = readRecordAt(*c.storage_, size, position);
    if (!r) return r.error();
    c.position_ = *r && size - (*r)->next > 4 ? (*r)->next : 0;
  } else {
    c.position_ = position;
  }
  position = c.position_;
  return c;
}

bool EventCursor::next(EventRecord& out) {
  if (position_ == 0) return false;
  auto found = readRecordAt(*storage_, size_, position_);
  if (!found || !*found) {
    position_ = 0;
    return false;
  }
  auto& r = *found;
  if (forwards_)
    position_ = size_ - r->next > 4 ? r->next : 0;
  else
    position_ = r->previous;
  out = std::move(r->record);
  return true;
}

void EventCursor::close(std::int32_t& position, std::int32_t& cookie) {
  if (forwards_ && position_ != 0) {
    auto r = readRecordAt(*storage_, size_, position_);
    position_ = r && *r ? (*r)->previous : 0;
  }
  position = position_;
  cookie = identity_;
}

}  // namespace kelm::events
