#include "agent/crypto/md5_digest.h"

#include <cstring>

namespace kelm::crypto {
namespace {

constexpr std::uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kS[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
                        14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                        4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

inline std::uint32_t rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

}  // namespace

void CMd5Digest::reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  bitCount_ = 0;
  std::memset(buffer_, 0, sizeof buffer_);
  ready_ = true;
}

plat::HRESULT CMd5Digest::Init(int algorithm) {
  if (algorithm != kAlgorithmMd5) {
    ready_ = false;
    return plat::E_FAIL;
  }
  reset();
  return plat::S_OK;
}

void CMd5Digest::transform(const std::uint8_t block[64]) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = std::uint32_t(block[i * 4]) | std::uint32_t(block[i * 4 + 1]) << 8 | std::uint32_t(block[i * 4 + 2]) << 16 |
           std::uint32_t(block[i * 4 + 3]) << 24;
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    std::uint32_t t = d;
    d = c;
    c = b;
    b = b + rotl(a + f + kT[i] + m[g], kS[i]);
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  secureZero(m, sizeof m);
}

plat::HRESULT CMd5Digest::Update(const void* data, std::size_t length) {
  if (!ready_) return plat::E_FAIL;
  if (length == 0) return plat::S_OK;
  if (!data) return plat::E_FAIL;
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  std::size_t used = std::size_t((bitCount_ >> 3) & 63);
  bitCount_ += std::uint64_t(length) << 3;
  std::size_t room = 64 - used;
  if (length >= room) {
    std::memcpy(buffer_ + used, p, room);
    transform(buffer_);
    p += room;
    length -= room;
    while (length >= 64) {
      transform(p);
      p += 64;
      length -= 64;
    }
    used = 0;
  }
  std::memcpy(buffer_ + used, p, length);
  return plat::S_OK;
}

plat::HRESULT CMd5Digest::Final(std::uint8_t* out, std::size_t capacity) {
  if (!ready_ || !out || capacity < 16) return plat::E_FAIL;
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = std::uint8_t(bitCount_ >> (8 * i));
  std::size_t used = std::size_t((bitCount_ >> 3) & 63);
  static const std::uint8_t kPad[64] = {0x80};
  Update(kPad, used < 56 ? 56 - used : 120 - used);
  Update(length, 8);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i * 4 + j] = std::uint8_t(state_[i] >> (8 * j));
  reset();
  return plat::S_OK;
}

Md5 md5(ByteView data) { return md5(data, {}); }

Md5 md5(ByteView a, ByteView b) {
  CMd5Digest d;
  d.Update(a);
  d.Update(b);
  Md5 out{};
  d.Final(out.data(), out.size());
  return out;
}

}  // namespace kelm::crypto
