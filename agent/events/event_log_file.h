#pragma once
// The event log file of one folder: a 36-byte header (version 1, creation time, the company text,
// zeros), then records chained both ways by their positions, then one int32 holding the position of
// the last record. Positions are 32-bit, so a file never grows past 2 GiB.
//
// Record at P: int32 previous (0 for the first), int32 code, time, severity, the title and the text
// as archived strings, int32 next (= the position of the int32 that follows it). The int32 after the
// last record is the "previous" of the record not yet written.
//
// An append first checks the tail and repairs a torn one (an append cut short by a crash), so a
// crash at any moment leaves the records that were whole. Every position read, whether from the
// file or from a client, is checked against the file's bounds and the chain's direction, so no
// input makes a reader leave the file or go round in circles.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/events/event_record.h"
#include "agent/events/log_storage.h"
#include "platform/base/clock.h"
#include "platform/base/result.h"

namespace kelm::events {

inline constexpr std::int32_t kHeaderSize = 36;
inline constexpr std::int32_t kLogVersion = 1;
inline constexpr std::string_view kCompanyText = "Velkari Technology,Inc.";

// The header of a new file whose identity (cookie) is its creation time.
std::string encodeHeader(std::int32_t identity);
// The identity of a sound header; nothing when the header is short or not one of ours (wrong
// version or company, identity 0). An error only when the storage cannot be read: that is no
// reason to start the file again.
plat::Result<std::optional<std::int32_t>> readIdentity(const LogStorage& storage);

// A record as stored, with its links.
struct StoredRecord {
  EventRecord record;
  std::int32_t position = 0;
  std::int32_t previous = 0;
  std::int32_t next = 0;
};

// The record at pos, or nothing when it does not lie whole inside the file or is malformed; an
// error when the storage cannot be read.
plat::Result<std::optional<StoredRecord>> readRecordAt(const LogStorage& storage, std::int64_t fileSize,
                                                       std::int64_t pos);

// Where the next record goes: its "previous" field is written at linkAt and holds last (0: none).
struct LogTail {
  std::int32_t last = 0;
  std::int32_t linkAt = kHeaderSize;
  bool sound = true;  // false when a torn or corrupt tail has to be cut off first
};
// Checks the tail in constant time; when it does not hold, walks the chain from the first record
// and keeps the records that link up. A read that fails is an error, never a torn tail to cut.
plat::Result<LogTail> findTail(const LogStorage& storage, std::int64_t fileSize);

// Appends to storage that holds a sound header; gives the new record's position.
plat::Result<std::int32_t> appendRecord(LogStorage& storage, const EventRecord& record);
// Appends, first starting the storage afresh (a header with newIdentity) when it is new or its
// header is short or damaged. Storage that cannot be read is left untouched and the append fails.
plat::Result<std::int32_t> appendOrStart(LogStorage& storage, bool isNew, std::int32_t newIdentity,
                                         const EventRecord& record);

// The file of a folder: logRoot, then one safe element per folder name of the full path, then the
// last name with ".log". The root folder ("\") logs into logRoot/".log".
std::filesystem::path eventLogPath(const std::filesystem::path& logRoot, std::string_view folderFullPath);
// A folder name as one path element: '%', '/', control characters and "."/".." are escaped
// (%XX), so two names never share a file and no name leaves the log directory.
std::string safePathElement(std::string_view name);

// One folder's log file on disk.
class EventLogFile {
 public:
  EventLogFile(std::filesystem::path file, const plat::Clock& clock) : file_(std::move(file)), clock_(clock) {}

  // Creates the directory and the file as needed (a short or corrupt header makes a new file),
  // repairs a torn tail, appends; gives the record's position. A file that cannot be read is left
  // as it is and the append fails.
  plat::Result<std::int32_t> append(const EventRecord& record);
  // Deletes the file; true when it was there and is gone.
  bool remove();

  const std::filesystem::path& path() const { return file_; }

 private:
  std::filesystem::path file_;
  const plat::Clock& clock_;
};

// Reading a file page by page. Nothing is kept between pages: the position and the cookie (the
// file's identity) go to the client and come back with the next request.
class EventCursor {
 public:
  // Fails with ENOENT when there is no file, EBADMSG when its header is not one of ours, ESTALE when
  // position is non-zero and cookie is not the file's identity (the log was started again), or the
  // error of a read that failed. Sets cookie to the identity. Position 0 starts at the oldest record
  // (forwards) or the newest (backwards); another position names the last record delivered, which
  // forwards skips and backwards starts at.
  static plat::Result<EventCursor> open(const std::filesystem::path& file, std::int32_t& position,
                                        std::int32_t& cookie, bool forwards);
  static plat::Result<EventCursor> open(std::unique_ptr<LogStorage> storage, std::int32_t& position,
                                        std::int32_t& cookie, bool forwards);

  // The next record; false at the end or after a read error (the position is then 0).
  bool next(EventRecord& out);
  // The position and cookie for the next page: forwards the position steps back to the last record
  // delivered.
  void close(std::int32_t& position, std::int32_t& cookie);

  std::int32_t position() const { return position_; }

 private:
  EventCursor(std::unique_ptr<LogStorage> storage, std::int64_t size, std::int32_t identity, bool forwards)
      : storage_(std::move(storage)), size_(size), identity_(identity), forwards_(forwards) {}

  std::unique_ptr<LogStorage> storage_;
  std::int64_t size_;
  std::int32_t identity_;
  bool forwards_;
  std::int32_t position_ = 0;
};

}  // namespace kelm::events
