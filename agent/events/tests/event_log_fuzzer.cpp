// Any bytes taken for an event log file: the reader stays inside them and always ends, in both
// directions and from any position; an append afterwards leaves a file whose newest record, read
// backwards, is the one appended.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "agent/events/event_log_file.h"

using namespace kelm::events;

namespace {

int readAll(const std::string& bytes, std::int32_t position, std::int32_t cookie, bool forwards,
            EventRecord* first = nullptr) {
  auto c = EventCursor::open(std::make_unique<MemoryStorage>(bytes), position, cookie, forwards);
  if (!c) return -1;
  EventRecord r;
  int n = 0;
  while (c->next(r)) {
    if (n == 0 && first) *first = r;
    // Each step moves strictly one way, so a file of n bytes holds fewer than n records.
    if (++n > static_cast<int>(bytes.size())) __builtin_trap();
  }
  c->close(position, cookie);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::int32_t position = 0;
  if (size >= 4) std::memcpy(&position, data + size - 4, 4);
  std::int32_t cookie = 0;
  if (size >= 8) std::memcpy(&cookie, data + 4, 4);
  for (bool forwards : {true, false}) {
    readAll(bytes, 0, 0, forwards);
    readAll(bytes, position, cookie, forwards);
    readAll(bytes, static_cast<std::int32_t>(size / 2), cookie, forwards);
  }

  MemoryStorage storage(bytes);
  if (auto identity = readIdentity(storage); !identity || !*identity) return 0;
  const EventRecord added{527, 994730139, 2, "fuzz", "appended"};
  auto pos = appendRecord(storage, added);
  if (!pos.ok()) return 0;
  EventRecord newest;
  const int back = readAll(storage.bytes(), 0, 0, false, &newest);
  readAll(storage.bytes(), 0, 0, true);
  if (!(newest == added) || back < 1) __builtin_trap();
  return 0;
}
