#include "console/core/avi_reader.h"

#include <cerrno>
#include <fstream>

namespace kelm::console {

namespace {

plat::Error Bad(const std::string& why) { return plat::Error{EINVAL, "Rebuild animation: " + why}; }

std::uint32_t U32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint16_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

struct Chunk {
  std::string_view id;
  std::string_view body;  // for a LIST: after its list type
  std::string_view listType;
};

// The chunks directly inside a region; a chunk running past it is refused.
bool Chunks(std::string_view region, std::vector<Chunk>& out) {
  std::size_t at = 0;
  while (at < region.size()) {
    if (region.size() - at < 8) return false;
    Chunk c;
    c.id = region.substr(at, 4);
    const std::uint32_t size = U32(region, at + 4);
    if (size > region.size() - at - 8) return false;
    c.body = region.substr(at + 8, size);
    if (c.id == "LIST" || c.id == "RIFF") {
      if (size < 4) return false;
      c.listType = c.body.substr(0, 4);
      c.body = c.body.substr(4);
    }
    out.push_back(c);
    at += 8 + size + (size & 1);
    if (out.size() > 4 * kAviMaxFrames + 64) return false;
  }
  return true;
}

const Chunk* Find(const std::vector<Chunk>& chunks, std::string_view id, std::string_view listType = {}) {
  for (const Chunk& c : chunks) {
    if (c.id == id && (listType.empty() || c.listType == listType)) return &c;
  }
  return nullptr;
}

// One RLE8 frame into palette indexes, bottom row first; a run past its row or the frame is refused.
bool DecodeRle8(std::string_view src, int width, int height, std::vector<std::uint8_t>& out) {
  out.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  int x = 0, y = 0;
  std::size_t at = 0;
  while (at + 2 <= src.size()) {
    const int n = static_cast<unsigned char>(src[at]);
    const int v = static_cast<unsigned char>(src[at + 1]);
    at += 2;
    if (n > 0) {
      if (y >= height || x + n > width) return false;
      for (int i = 0; i < n; ++i) out[static_cast<std::size_t>(y) * width + x++] = static_cast<std::uint8_t>(v);
      continue;
    }
    if (v == 0) {  // end of line
      x = 0;
      ++y;
    } else if (v == 1) {  // end of bitmap
      return true;
    } else if (v == 2) {  // delta
      if (at + 2 > src.size()) return false;
      x += static_cast<unsigned char>(src[at]);
      y += static_cast<unsigned char>(src[at + 1]);
      at += 2;
      if (x > width || y > height) return false;
    } else {  // absolute run, padded to a word
      if (y >= height || x + v > width || at + static_cast<std::size_t>(v) > src.size()) return false;
      for (int i = 0; i < v; ++i) out[static_cast<std::size_t>(y) * width + x++] = static_cast<std::uint8_t>(src[at + i]);
      at += static_cast<std::size_t>(v + (v & 1));
    }
  }
  return true;
}

}  // namespace

plat::Result<AviMovie> ReadAvi(std::string_view bytes) {
  if (bytes.size() > kAviMaxFileBytes) return Bad("file too large");
  std::vector<Chunk> top;
  if (bytes.size() < 12 || !Chunks(bytes.substr(0, std::min<std::size_t>(bytes.size(), 8 + U32(bytes, 4))), top) ||
      top.empty() || top[0].id != "RIFF" || top[0].listType != "AVI ") {
    return Bad("not an AVI file");
  }
  std::vector<Chunk> riff;
  if (!Chunks(top[0].body, riff)) return Bad("truncated chunk");
  const Chunk* hdrl = Find(riff, "LIST", "hdrl");
  const Chunk* movi = Find(riff, "LIST", "movi");
  if (!hdrl || !movi) return Bad("missing header or frames");
  std::vector<Chunk> headers;
  if (!Chunks(hdrl->body, headers)) return Bad("truncated header");
  const Chunk* avih = Find(headers, "avih");
  const Chunk* strl = Find(headers, "LIST", "strl");
  if (!avih || avih->body.size() < 56 || !strl) return Bad("missing main header");
  std::vector<Chunk> stream;
  if (!Chunks(strl->body, stream)) return Bad("truncated stream header");
  const Chunk* strh = Find(stream, "strh");
  const Chunk* strf = Find(stream, "strf");
  if (!strh || strh->body.size() < 8 || strh->body.substr(0, 4) != "vids" || !strf || strf->body.size() < 40) {
    return Bad("no video stream");
  }
  const std::string_view bi = strf->body;
  const std::int32_t width = static_cast<std::int32_t>(U32(bi, 4));
  const std::int32_t height = static_cast<std::int32_t>(U32(bi, 8));
  const int bits = U16(bi, 14);
  const std::uint32_t compression = U32(bi, 16);
  std::uint32_t colours = U32(bi, 32);
  const std::uint32_t headerSize = U32(bi, 0);
  if (width <= 0 || height <= 0 || width > kAviMaxSide || height > kAviMaxSide) return Bad("frame size out of range");
  if (bits != 8 || (compression != 0 && compression != 1)) return Bad("only 8-bit plain or RLE8 frames");
  if (colours == 0) colours = 256;
  if (colours > 256 || headerSize < 40 || headerSize > bi.size() || (bi.size() - headerSize) / 4 < colours) {
    return Bad("bad palette");
  }
  std::uint32_t palette[256] = {};
  for (std::uint32_t i = 0; i < colours; ++i) {
    const std::size_t at = headerSize + 4 * i;
    palette[i] = 0xFF000000u | static_cast<std::uint32_t>(static_cast<unsigned char>(bi[at + 2])) << 16 |
                 static_cast<std::uint32_t>(static_cast<unsigned char>(bi[at + 1])) << 8 |
                 static_cast<unsigned char>(bi[at]);
  }
  AviMovie movie;
  movie.width = width;
  movie.height = height;
  const std::uint32_t micro = U32(avih->body, 0);
  movie.periodMs = micro == 0 ? 100 : static_cast<int>(std::min<std::uint32_t>(std::max<std::uint32_t>(micro / 1000, 1), 10000));
  std::vector<Chunk> frames;
  if (!Chunks(movi->body, frames)) return Bad("truncated frame");
  const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> indexes;
  for (const Chunk& f : frames) {
    if (f.id.size() != 4 || f.id.substr(0, 2) != "00" || (f.id.substr(2) != "db" && f.id.substr(2) != "dc")) continue;
    if (static_cast<int>(movie.frames.size()) >= kAviMaxFrames) return Bad("too many frames");
    if (compression == 1) {
      if (!DecodeRle8(f.body, width, height, indexes)) return Bad("bad RLE8 frame");
    } else {
      if (f.body.size() < stride * static_cast<std::size_t>(height)) return Bad("short frame");
      indexes.assign(static_cast<std::size_t>(width) * height, 0);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          indexes[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(f.body[y * stride + x]);
        }
      }
    }
    // Rows are stored bottom up.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        pixels[static_cast<std::size_t>(height - 1 - y) * width + x] = palette[indexes[static_cast<std::size_t>(y) * width + x]];
      }
    }
    movie.frames.push_back(std::move(pixels));
  }
  if (movie.frames.empty()) return Bad("no frames");
  return movie;
}

plat::Result<AviMovie> ReadAviFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return plat::errnoError("open " + path);
  std::string bytes;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    bytes.append(buf, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > kAviMaxFileBytes) return Bad("file too large");
  }
  return ReadAvi(bytes);
}

}  // namespace kelm::console
