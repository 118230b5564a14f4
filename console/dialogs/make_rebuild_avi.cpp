// Writes the rebuild wizard's animation, our own small AVI: RLE8 frames of a disk whose stripes
// are written one after another, with a sweeping arrow.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 96, kHeight = 64, kFrames = 12, kPeriodUs = 120000;

void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& s, std::uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
std::string Chunk(const std::string& id, const std::string& body) {
  std::string s = id;
  Put32(s, static_cast<std::uint32_t>(body.size()));
  s += body;
  if (body.size() & 1) s += '\0';
  return s;
}
std::string List(const std::string& type, const std::string& body) { return Chunk("LIST", type + body); }

// Palette: 0 white, 1 grey, 2 dark grey, 3 blue, 4 green.
std::vector<std::uint8_t> Frame(int n) {
  std::vector<std::uint8_t> px(kWidth * kHeight, 0);  // top row first
  auto at = [&](int x, int y) -> std::uint8_t& { return px[static_cast<std::size_t>(y) * kWidth + x]; };
  // Two disks side by side; the stripes of the right one fill up as the frames go.
  for (int d = 0; d < 2; ++d) {
    const int left = 8 + d * 48, top = 12;
    for (int y = top; y < top + 40; ++y) {
      for (int x = left; x < left + 32; ++x) at(x, y) = (y == top || y == top + 39 || x == left || x == left + 31) ? 2 : 1;
    }
    for (int s = 0; s < 6; ++s) {
      const bool filled = d == 0 || s < (n * 6) / kFrames + 1;
      for (int x = left + 4; x < left + 28; ++x) at(x, top + 5 + s * 6) = filled ? 4 : 2;
    }
  }
  // The arrow from the left disk to the right one, its head moving.
  const int head = 42 + (n % 4) * 3;
  for (int x = 40; x <= head; ++x) at(x, 32) = 3;
  for (int k = 1; k <= 3; ++k) {
    at(head - k, 32 - k) = 3;
    at(head - k, 32 + k) = 3;
  }
  return px;
}

std::string Rle8(const std::vector<std::uint8_t>& px) {
  std::string out;
  for (int y = kHeight - 1; y >= 0; --y) {  // bottom up
    int x = 0;
    while (x < kWidth) {
      const std::uint8_t v = px[static_cast<std::size_t>(y) * kWidth + x];
      int n = 1;
      while (x + n < kWidth && n < 255 && px[static_cast<std::size_t>(y) * kWidth + x + n] == v) ++n;
      out += static_cast<char>(n);
      out += static_cast<char>(v);
      x += n;
    }
    out += '\0';
    out += y == 0 ? '\1' : '\0';
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_rebuild_avi OUTPUT\n");
    return 2;
  }
  std::string avih;
  for (std::uint32_t v : {std::uint32_t(kPeriodUs), 0u, 0u, 0x10u, std::uint32_t(kFrames), 0u, 1u, 0u,
                          std::uint32_t(kWidth), std::uint32_t(kHeight), 0u, 0u, 0u, 0u}) {
    Put32(avih, v);
  }
  std::string strh = "vidsRLE ";
  for (int i = 0; i < 12; ++i) Put32(strh, i == 3 ? 1 : i == 4 ? 8 : i == 6 ? kFrames : 0);
  std::string strf;
  Put32(strf, 40);
  Put32(strf, kWidth);
  Put32(strf, kHeight);
  Put16(strf, 1);
  Put16(strf, 8);
  Put32(strf, 1);  // RLE8
  for (int i = 0; i < 5; ++i) Put32(strf, i == 3 ? 5 : 0);
  const std::uint8_t pal[5][3] = {{255, 255, 255}, {200, 200, 200}, {96, 96, 96}, {0, 0, 224}, {0, 170, 0}};
  for (const auto& c : pal) {
    strf += static_cast<char>(c[2]);
    strf += static_cast<char>(c[1]);
    strf += static_cast<char>(c[0]);
    strf += '\0';
  }
  std::string movi;
  for (int n = 0; n < kFrames; ++n) movi += Chunk("00dc", Rle8(Frame(n)));
  const std::string hdrl = List("hdrl", Chunk("avih", avih) + List("strl", Chunk("strh", strh) + Chunk("strf", strf)));
  const std::string riff = Chunk("RIFF", "AVI " + hdrl + List("movi", movi));
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) return 1;
  const bool ok = std::fwrite(riff.data(), 1, riff.size(), f) == riff.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}
