// The rebuild animation's reader: the file made at build time, and files it must refuse or clamp.
#include "console/core/avi_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace kelm::console {
namespace {

std::string Built() {
  std::ifstream in(KELM_REBUILD_AVI, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Set32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::size_t Offset(const std::string& b, const char* id) { return b.find(id); }

TEST(AviReader, ReadsTheBuiltAnimation) {
  const std::string bytes = Built();
  ASSERT_FALSE(bytes.empty());
  auto movie = ReadAvi(bytes);
  ASSERT_TRUE(movie) << movie.message();
  EXPECT_EQ(movie->frames.size(), 12u);
  EXPECT_EQ(movie->width, 96);
  EXPECT_EQ(movie->height, 64);
  EXPECT_EQ(movie->periodMs, 120);
  EXPECT_NE(movie->frames[0], movie->frames[11]);
  // Top row first: the top left corner is the white background.
  EXPECT_EQ(movie->frames[0][0], 0xFFFFFFFFu);
}

TEST(AviReader, RefusesOrClamps) {
  const std::string good = Built();
  ASSERT_FALSE(good.empty());
  const std::size_t avih = Offset(good, "avih") + 8;
  const std::size_t strf = Offset(good, "strf") + 8;
  const std::size_t frame = Offset(good, "00dc");
  struct Case {
    const char* what;
    std::function<void(std::string&)> mutate;
    bool ok;
    int period;
  } cases[] = {
      {"zero period means 100 ms", [&](std::string& b) { Set32(b, avih, 0); }, true, 100},
      {"truncated header", [&](std::string& b) { b.resize(avih + 10); }, false, 0},
      {"truncated frame", [&](std::string& b) { b.resize(frame + 20); }, false, 0},
      {"too wide", [&](std::string& b) { Set32(b, strf + 4, 5000); }, false, 0},
      {"negative height", [&](std::string& b) { Set32(b, strf + 8, 0xFFFFFFC0u); }, false, 0},
      {"24-bit", [&](std::string& b) { b[strf + 14] = 24; }, false, 0},
      {"other codec", [&](std::string& b) { Set32(b, strf + 16, 2); }, false, 0},
      {"palette past its chunk", [&](std::string& b) { Set32(b, strf + 32, 200); }, false, 0},
      // A run of 200 pixels in a row of 96.
      {"run past the row", [&](std::string& b) { b[frame + 8] = static_cast<char>(200); }, false, 0},
      {"not RIFF", [&](std::string& b) { b[0] = 'X'; }, false, 0},
      {"empty", [&](std::string& b) { b.clear(); }, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string b = good;
    c.mutate(b);
    auto movie = ReadAvi(b);
    EXPECT_EQ(movie.ok(), c.ok) << (movie.ok() ? "" : movie.message());
    if (movie.ok()) {
      EXPECT_EQ(movie->periodMs, c.period);
    }
  }
  EXPECT_FALSE(ReadAviFile("/nonexistent/Rebuild.avi"));
}

TEST(AviReader, CapsTheFrameCount) {
  std::string b = Built();
  const std::size_t movi = b.find("movi");
  const std::size_t first = b.find("00dc");
  const std::uint32_t size = static_cast<unsigned char>(b[first + 4]) | static_cast<unsigned char>(b[first + 5]) << 8 |
                             static_cast<unsigned char>(b[first + 6]) << 16;
  const std::string one = b.substr(first, 8 + size + (size & 1));
  std::string frames;
  for (int i = 0; i < kAviMaxFrames + 1; ++i) frames += one;
  std::string head = b.substr(0, movi + 4);
  std::string file = head + frames;
  Set32(file, movi - 4, static_cast<std::uint32_t>(4 + frames.size()));
  Set32(file, 4, static_cast<std::uint32_t>(file.size() - 8));
  auto movie = ReadAvi(file);
  ASSERT_FALSE(movie);
  EXPECT_NE(movie.message().find("too many frames"), std::string::npos);
}

}  // namespace
}  // namespace kelm::console
