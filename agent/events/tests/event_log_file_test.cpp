#include "agent/events/event_log_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/testing/manual_clock.h"
#include "platform/testing/temp_root.h"

namespace kelm::events {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

EventRecord rec(std::int32_t code, std::string title, std::string text, std::int32_t time = 994730139) {
  return EventRecord{code, time, 1, std::move(title), std::move(text)};
}

// Every record of a file, read in one direction without a limit.
std::vector<EventRecord> readAll(const fs::path& file, bool forwards) {
  std::int32_t pos = 0, cookie = 0;
  auto c = EventCursor::open(file, pos, cookie, forwards);
  std::vector<EventRecord> out;
  if (!c) return out;
  EventRecord r;
  while (out.size() < 10000 && c->next(r)) out.push_back(r);
  return out;
}

class EventLogFileTest : public ::testing::Test {
 protected:
  plat::testing::TempRoot root;
  plat::ManualClock clock{1000000000};
  fs::path file = root.dir() / "log" / "MV_RAID" / "MV_RAID.log";
  EventLogFile log{file, clock};
};

TEST_F(EventLogFileTest, HeaderAndFirstRecordsByteForByte) {
  auto first = log.append(rec(513, "Title", "Text"));
  ASSERT_TRUE(first.ok()) << first.message();
  EXPECT_EQ(*first, 36);

  const std::string header =
      le32(1) + le32(1000000000) + std::string("Velkari Technology,Inc.") + '\0' + std::string(4, '\0');
  ASSERT_EQ(header.size(), 36u);
  // previous 0, code, time, severity, "Title", "Text", next, then the final link to the record.
  const std::string record1 = le32(0) + le32(513) + le32(994730139) + le32(1) + "\x05Title" + "\x04Text" + le32(67);
  EXPECT_EQ(slurp(file), header + record1 + le32(36));

  auto second = log.append(rec(256, "", "x"));
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(*second, 67);
  const std::string record2 = le32(36) + le32(256) + le32(994730139) + le32(1) + "\x00"s + "\x01x" + le32(67 + 23);
  EXPECT_EQ(slurp(file), header + record1 + record2 + le32(67));
}

TEST_F(EventLogFileTest, LongTextsUseTheLongerLengthPrefixes) {
  const std::string t300(300, 't');
  const std::string t70000(70000, 'u');
  ASSERT_TRUE(log.append(rec(512, t300, t70000)).ok());
  const std::string bytes = slurp(file);
  EXPECT_EQ(bytes.substr(52, 3), "\xFF\x2C\x01");
  EXPECT_EQ(bytes.substr(55 + 300, 7), "\xFF\xFF\xFF"s + le32(70000));
  EXPECT_EQ(readAll(file, true), (std::vector<EventRecord>{rec(512, t300, t70000)}));
}

TEST_F(EventLogFileTest, PagesForwardsAndBackwards) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(log.append(rec(512 + i, "t" + std::to_string(i), "x")).ok());

  struct Case {
    bool forwards;
    std::vector<int> firstPage, secondPage;
  };
  for (const Case& c : {Case{true, {512, 513}, {514, 515}}, Case{false, {516, 515}, {514, 513}}}) {
    SCOPED_TRACE(c.forwards ? "forwards" : "backwards");
    std::int32_t pos = 0, cookie = 0;
    for (const auto& page : {c.firstPage, c.secondPage}) {
      auto cursor = EventCursor::open(file, pos, cookie, c.forwards);
      ASSERT_TRUE(cursor);
      EXPECT_EQ(cookie, 1000000000);
      std::vector<int> got;
      EventRecord r;
      while (got.size() < 2 && cursor->next(r)) got.push_back(r.code);
      EXPECT_EQ(got, page);
      cursor->close(pos, cookie);
      EXPECT_NE(pos, 0);
    }
  }
  EXPECT_EQ(readAll(file, true).front().code, 512);
  EXPECT_EQ(readAll(file, false).front().code, 516);
  EXPECT_EQ(readAll(file, false).size(), 5u);
}

TEST_F(EventLogFileTest, ForwardsFromTheLastRecordDeliveredGivesOnlyNewerOnes) {
  ASSERT_TRUE(log.append(rec(512, "a", "x")).ok());
  auto second = log.append(rec(513, "b", "x"));
  ASSERT_TRUE(second.ok());
  std::int32_t pos = 0, cookie = 0;
  auto c = EventCursor::open(file, pos, cookie, true);
  EventRecord r;
  while (c->next(r)) {
  }
  pos = *second;
  ASSERT_TRUE(log.append(rec(514, "c", "x")).ok());
  c = EventCursor::open(file, pos, cookie, true);
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->next(r));
  EXPECT_EQ(r.code, 514);
  EXPECT_FALSE(c->next(r));
}

TEST_F(EventLogFileTest, ClearingDeletesTheFileAndOldCookiesNoLongerOpen) {
  ASSERT_TRUE(log.append(rec(512, "a", "x")).ok());
  std::int32_t pos = 0, cookie = 0;
  auto c = EventCursor::open(file, pos, cookie, false);
  ASSERT_TRUE(c);
  EventRecord r;
  ASSERT_TRUE(c->next(r));
  c->close(pos, cookie);
  const std::int32_t oldCookie = cookie;

  EXPECT_TRUE(log.remove());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(log.remove());
  EXPECT_FALSE(EventCursor::open(file, pos, cookie, false));

  clock.advanceSeconds(5);
  ASSERT_TRUE(log.append(rec(513, "b", "y")).ok());
  pos = 36;
  cookie = oldCookie;
  EXPECT_FALSE(EventCursor::open(file, pos, cookie, false));
  pos = 0;
  ASSERT_TRUE(EventCursor::open(file, pos, cookie, false));
  EXPECT_EQ(cookie, oldCookie + 5);
}

TEST_F(EventLogFileTest, AnAppendTornAtAnyByteIsCutOffByTheNextAppend) {
  ASSERT_TRUE(log.append(rec(512, "first", "one")).ok());
  ASSERT_TRUE(log.append(rec(513, "second", "two")).ok());
  const std::string whole2 = slurp(file);
  ASSERT_TRUE(log.append(rec(514, "third", "three")).ok());
  const std::string whole3 = slurp(file);

  for (std::size_t cut = whole2.size(); cut < whole3.size(); ++cut) {
    SCOPED_TRACE(cut);
    spit(file, whole3.substr(0, cut));
    // A torn file still reads back its whole records.
    EXPECT_EQ(readAll(file, true).size(), 2u);
    ASSERT_TRUE(log.append(rec(600, "after", "crash")).ok());
    const auto fwd = readAll(file, true);
    ASSERT_EQ(fwd.size(), 3u);
    EXPECT_EQ(fwd[0].code, 512);
    EXPECT_EQ(fwd[1].code, 513);
    EXPECT_EQ(fwd[2], rec(600, "after", "crash"));
    const auto back = readAll(file, false);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].code, 600);
  }
}

TEST_F(EventLogFileTest, TheFirstRecordOfAFileWithALoneLinkStillParses) {
  // A header and the first record's zero link, left by an append that went no further.
  fs::create_directories(file.parent_path());
  spit(file, le32(1) + le32(77) + std::string("Velkari Technology,Inc.") + std::string(5, '\0') + le32(0));
  ASSERT_EQ(fs::file_size(file), 40u);
  auto pos = log.append(rec(512, "a", "b"));
  ASSERT_TRUE(pos.ok());
  EXPECT_EQ(*pos, 36);
  EXPECT_EQ(readAll(file, true), (std::vector<EventRecord>{rec(512, "a", "b")}));
  EXPECT_EQ(readAll(file, false), (std::vector<EventRecord>{rec(512, "a", "b")}));
  EXPECT_EQ(slurp(file).size(), 64u);
}

TEST_F(EventLogFileTest, AShortOrCorruptHeaderMakesANewFile) {
  const std::string good = le32(1) + le32(77) + std::string("Velkari Technology,Inc.") + std::string(5, '\0');
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"short", good.substr(0, 20)},
      {"wrong version", le32(2) + good.substr(4)},
      {"identity 0", le32(1) + le32(0) + good.substr(8)},
      {"other company", good.substr(0, 8) + "Someone Else,Inc.      " + std::string(5, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(file.parent_path());
    spit(file, c.bytes + std::string(30, '\x7f'));
    ASSERT_TRUE(log.append(rec(515, "t", "x")).ok());
    std::int32_t pos = 0, cookie = 0;
    ASSERT_TRUE(EventCursor::open(file, pos, cookie, true));
    EXPECT_EQ(cookie, 1000000000);
    EXPECT_EQ(readAll(file, false), (std::vector<EventRecord>{rec(515, "t", "x")}));
  }
}

TEST_F(EventLogFileTest, HostilePositionsStayInsideTheFile) {
  ASSERT_TRUE(log.append(rec(512, "a", "x")).ok());
  ASSERT_TRUE(log.append(rec(513, "b", "y")).ok());
  const auto size = static_cast<std::int32_t>(fs::file_size(file));
  for (std::int32_t p : {-1, 1, 35, 37, 40, 50, size - 4, size - 1, size, size + 100, 0x7FFFFFFF,
                         static_cast<std::int32_t>(0x80000000)}) {
    for (bool forwards : {true, false}) {
      SCOPED_TRACE(std::to_string(p) + (forwards ? " forwards" : " backwards"));
      std::int32_t pos = p, cookie = 1000000000;
      auto c = EventCursor::open(file, pos, cookie, forwards);
      ASSERT_TRUE(c);
      EventRecord r;
      int n = 0;
      while (c->next(r)) ++n;
      EXPECT_EQ(n, 0);
      c->close(pos, cookie);
      EXPECT_EQ(pos, 0);
    }
  }
}

TEST(EventLogChain, LinksThatPointTheWrongWayEndTheReading) {
  MemoryStorage good(encodeHeader(5));
  ASSERT_TRUE(appendRecord(good, rec(512, "a", "x")).ok());
  ASSERT_TRUE(appendRecord(good, rec(513, "b", "y")).ok());
  std::string bytes = good.bytes();
  // The second record's previous names itself; the first record's next is altered.
  std::string selfLoop = bytes;
  selfLoop.replace(56, 4, le32(56));
  std::string badNext = bytes;
  badNext.replace(52, 4, le32(36));
  for (const std::string& b : {selfLoop, badNext}) {
    for (bool forwards : {true, false}) {
      std::int32_t pos = 0, cookie = 0;
      auto c = EventCursor::open(std::make_unique<MemoryStorage>(b), pos, cookie, forwards);
      ASSERT_TRUE(c);
      EventRecord r;
      int n = 0;
      while (n < 100 && c->next(r)) ++n;
      EXPECT_LT(n, 2);
    }
  }
  // An append to a damaged chain keeps what links up and stays readable.
  MemoryStorage damaged(badNext);
  ASSERT_TRUE(appendRecord(damaged, rec(514, "c", "z")).ok());
  std::int32_t pos = 0, cookie = 0;
  auto c = EventCursor::open(std::make_unique<MemoryStorage>(damaged.bytes()), pos, cookie, false);
  EventRecord r;
  ASSERT_TRUE(c->next(r));
  EXPECT_EQ(r.code, 514);
}

// Bytes in memory whose reads fail from a given position on, as a failing disk's would.
class FailingReads final : public LogStorage {
 public:
  FailingReads(std::string bytes, std::int64_t failFrom) : bytes_(std::move(bytes)), failFrom_(failFrom) {}
  plat::Result<std::int64_t> size() const override { return bytes_.size(); }
  plat::Result<std::string> readAt(std::int64_t pos, std::size_t n) const override {
    if (pos + static_cast<std::int64_t>(n) > failFrom_) return plat::Error{EIO, "Input/output error"};
    return bytes_.readAt(pos, n);
  }
  plat::Result<void> writeAt(std::int64_t pos, std::string_view bytes) override { return bytes_.writeAt(pos, bytes); }
  plat::Result<void> truncate(std::int64_t length) override { return bytes_.truncate(length); }
  const std::string& bytes() const { return bytes_.bytes(); }

 private:
  MemoryStorage bytes_;
  std::int64_t failFrom_;
};

// A read that fails is not a short header or a torn tail: the file is left as it is, and the
// append says why it failed, instead of starting the log again or cutting records off.
TEST(EventLogChain, AReadThatFailsLeavesTheFileAsItIs) {
  MemoryStorage good(encodeHeader(5));
  ASSERT_TRUE(appendRecord(good, rec(512, "a", "x")).ok());
  ASSERT_TRUE(appendRecord(good, rec(513, "b", "y")).ok());
  const std::string sound = good.bytes();
  const std::string torn = sound + "\x01\x02";  // a torn append after the last record
  struct Case {
    const char* what;
    std::string bytes;
    std::int64_t failFrom;
  };
  const Case cases[] = {
      {"the header", sound, 0},
      {"the tail's link", sound, static_cast<std::int64_t>(sound.size()) - 2},
      {"a record of a torn tail", torn, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FailingReads storage(c.bytes, c.failFrom);
    auto appended = appendOrStart(storage, false, 77, rec(514, "c", "z"));
    ASSERT_FALSE(appended);
    EXPECT_EQ(appended.code(), EIO);
    EXPECT_EQ(storage.bytes(), c.bytes);
  }
  // Only a header that reads but is not ours starts the log again.
  for (const std::string& header : {std::string("short"), "x"s + sound.substr(1)}) {
    MemoryStorage damaged(header);
    auto appended = appendOrStart(damaged, false, 77, rec(514, "c", "z"));
    ASSERT_TRUE(appended) << appended.message();
    EXPECT_EQ(*appended, kHeaderSize);
    EXPECT_EQ(damaged.bytes().substr(0, kHeaderSize), encodeHeader(77));
  }
}

// Why a page cannot be read: nothing to read, a stale page or a file not ours are told apart from a
// read that failed, which must not look like an empty log.
TEST(EventLogChain, ACursorSaysWhyItCannotOpen) {
  MemoryStorage good(encodeHeader(5));
  ASSERT_TRUE(appendRecord(good, rec(512, "a", "x")).ok());
  struct Case {
    const char* what;
    std::unique_ptr<LogStorage> storage;
    std::int32_t position, cookie;
    int code;
  };
  Case cases[] = {
      {"a header not ours", std::make_unique<MemoryStorage>("x" + good.bytes().substr(1)), 0, 0, EBADMSG},
      {"a page of an older log", std::make_unique<MemoryStorage>(good.bytes()), 36, 4, ESTALE},
      {"a header that cannot be read", std::make_unique<FailingReads>(good.bytes(), 0), 0, 0, EIO},
      {"a tail that cannot be read", std::make_unique<FailingReads>(good.bytes(), kHeaderSize + 1), 0, 0, EIO},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto cursor = EventCursor::open(std::move(c.storage), c.position, c.cookie, false);
    ASSERT_FALSE(cursor);
    EXPECT_EQ(cursor.code(), c.code) << cursor.message();
  }
  plat::testing::TempRoot root;
  std::int32_t pos = 0, cookie = 0;
  auto none = EventCursor::open(root.dir() / "none.log", pos, cookie, false);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.code(), ENOENT);
  EXPECT_NE(none.message().find("none.log"), std::string::npos) << none.message();
}

TEST(EventLogPath, FolderPathsBecomeSafeFileNames) {
  const fs::path root = "/logs";
  struct Case {
    std::string fullPath;
    fs::path file;
  };
  const Case cases[] = {
      {"\\", "/logs/.log"},
      {"\\MV_RAID", "/logs/MV_RAID/MV_RAID.log"},
      {"\\MV_RAID\\Controller 0", "/logs/MV_RAID/Controller 0/Controller 0.log"},
      {"\\..\\..", "/logs/%2E%2E/%2E%2E/%2E%2E.log"},
      {"\\.", "/logs/%2E/%2E.log"},
      {"\\a/b", "/logs/a%2Fb/a%2Fb.log"},
      {"\\50%\nx", "/logs/50%25%0Ax/50%25%0Ax.log"},
  };
  for (const Case& c : cases) EXPECT_EQ(eventLogPath(root, c.fullPath), c.file) << c.fullPath;

  const std::string longA(300, 'a'), longB = std::string(299, 'a') + 'b';
  EXPECT_LE(safePathElement(longA).size(), 209u);
  EXPECT_NE(safePathElement(longA), safePathElement(longB));
}

}  // namespace
}  // namespace kelm::events
