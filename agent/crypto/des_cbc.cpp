#include "agent/crypto/des_cbc.h"

#include <cstring>

namespace kelm::crypto {
namespace {

constexpr std::uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                  62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                  57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr std::uint8_t kFp[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                                  38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                                  36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                                  34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr std::uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                                 12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                                 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr std::uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                                   35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                                   46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8, 14, 6,  11, 3,  4, 9, 7, 2,  13, 12, 0, 5, 10, 3,  13, 4,  7, 15, 2,  8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0,  14, 7, 11, 10, 4,  13, 1, 5, 8, 12, 6,  9,  3, 2, 15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0, 8, 13, 3,  12, 9, 7, 5, 10, 6, 1, 13, 0,  11, 7, 4, 9, 1,  10, 14, 3, 5, 12, 2,  15, 8, 6,
     1, 4,  11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5,  9, 2, 6,  11, 13, 8, 1, 4, 10, 7,  9,  5, 0, 15, 14, 2,  3, 12},
    {13, 2, 8, 4, 6,  15, 11, 1, 10, 9,  3,  14, 5, 0, 12, 7, 1, 15, 13, 8, 10, 3, 7,  4,  12, 5, 6, 11, 0, 14, 9, 2, 7,
     11, 4, 1, 9, 12, 14, 2,  0, 6,  10, 13, 15, 3, 5, 8,  2, 1, 14, 7,  4, 10, 8, 13, 15, 12, 9, 0, 3,  5, 6,  11}};

// Bit i of a table counts from 1 at the most significant bit of an `inBits`-wide value.
std::uint64_t permute(std::uint64_t in, const std::uint8_t* table, int outBits, int inBits) {
  std::uint64_t out = 0;
  for (int i = 0; i < outBits; ++i) out = (out << 1) | ((in >> (inBits - table[i])) & 1);
  return out;
}

// S-box output already passed through P, indexed by box and 6-bit input.
struct SpTable {
  std::uint32_t sp[8][64];
  SpTable() {
    for (int box = 0; box < 8; ++box)
      for (int v = 0; v < 64; ++v) {
        int row = ((v >> 4) & 2) | (v & 1);
        int col = (v >> 1) & 15;
        std::uint32_t s = std::uint32_t(kS[box][row * 16 + col]) << (28 - 4 * box);
        sp[box][v] = std::uint32_t(permute(s, kP, 32, 32));
      }
  }
};
const SpTable& spTable() {
  static const SpTable t;
  return t;
}

// A bit permutation as one lookup per input byte: the permutation of a value is the OR of the
// permutations of its bytes.
struct ByteTable {
  std::uint64_t t[8][256];
  int bytes;
  ByteTable(const std::uint8_t* table, int outBits, int inBits) : bytes(inBits / 8) {
    for (int b = 0; b < bytes; ++b)
      for (int v = 0; v < 256; ++v)
        t[b][v] = permute(std::uint64_t(v) << (inBits - 8 * (b + 1)), table, outBits, inBits);
  }
  std::uint64_t operator()(std::uint64_t in) const {
    std::uint64_t out = 0;
    for (int b = 0; b < bytes; ++b) out |= t[b][(in >> (8 * (bytes - 1 - b))) & 0xFF];
    return out;
  }
};
struct Tables {
  ByteTable ip{kIp, 64, 64};
  ByteTable fp{kFp, 64, 64};
  ByteTable e{kE, 48, 32};
};
const Tables& tables() {
  static const Tables t;
  return t;
}

std::uint64_t load(const std::uint8_t b[8]) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | b[i];
  return v;
}
void store(std::uint64_t v, std::uint8_t b[8]) {
  for (int i = 7; i >= 0; --i) {
    b[i] = std::uint8_t(v);
    v >>= 8;
  }
}

}  // namespace

DesKey::DesKey(const std::uint8_t key[8]) {
  std::uint64_t cd = permute(load(key), kPc1, 56, 64);
  std::uint32_t c = std::uint32_t(cd >> 28) & 0x0FFFFFFF, d = std::uint32_t(cd) & 0x0FFFFFFF;
  for (int r = 0; r < 16; ++r) {
    for (int s = 0; s < kShifts[r]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    subkeys_[r] = permute((std::uint64_t(c) << 28) | d, kPc2, 48, 56);
  }
}

DesKey::~DesKey() { secureZero(subkeys_, sizeof subkeys_); }

std::uint64_t DesKey::crypt(std::uint64_t block, bool decrypt) const {
  const SpTable& t = spTable();
  const Tables& p = tables();
  std::uint64_t x = p.ip(block);
  std::uint32_t l = std::uint32_t(x >> 32), r = std::uint32_t(x);
  for (int i = 0; i < 16; ++i) {
    std::uint64_t e = p.e(r) ^ subkeys_[decrypt ? 15 - i : i];
    std::uint32_t f = 0;
    for (int box = 0; box < 8; ++box) f |= t.sp[box][(e >> (42 - 6 * box)) & 63];
    std::uint32_t nr = l ^ f;
    l = r;
    r = nr;
  }
  return p.fp((std::uint64_t(r) << 32) | l);
}

void DesKey::encryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const { store(crypt(load(in), false), out); }
void DesKey::decryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const { store(crypt(load(in), true), out); }

bool desCbcRaw(const std::uint8_t key[8], const std::uint8_t iv[8], ByteView in, Bytes& out, bool encrypt) {
  if (in.size() % 8 != 0) return false;
  DesKey k(key);
  out.resize(in.size());
  std::uint8_t chain[8];
  std::memcpy(chain, iv, 8);
  for (std::size_t off = 0; off < in.size(); off += 8) {
    std::uint8_t block[8];
    if (encrypt) {
      for (int i = 0; i < 8; ++i) block[i] = in[off + i] ^ chain[i];
      k.encryptBlock(block, &out[off]);
      std::memcpy(chain, &out[off], 8);
    } else {
      k.decryptBlock(&in[off], block);
      for (int i = 0; i < 8; ++i) block[i] ^= chain[i];
      std::memcpy(chain, &in[off], 8);
      std::memcpy(&out[off], block, 8);
    }
  }
  return true;
}

int desCbcCrypt(const std::uint8_t key[8], ByteView in, Bytes& out, bool encrypt) {
  out.clear();
  if (encrypt) {
    std::size_t pad = 8 - in.size() % 8;
    Bytes padded(in.begin(), in.end());
    padded.insert(padded.end(), pad, std::uint8_t(pad));
    desCbcRaw(key, kDesIv.data(), padded, out, true);
    secureZero(padded.data(), padded.size());
    return 0;
  }
  if (in.empty() || in.size() % 8 != 0) return kReLen;
  desCbcRaw(key, kDesIv.data(), in, out, false);
  std::uint8_t p = out.back();
  bool ok = p <= 8;
  for (std::size_t i = 0; ok && i < p; ++i) ok = out[out.size() - 1 - i] == p;
  if (!ok) {
    secureZero(out.data(), out.size());
    out.clear();
    return kReData;
  }
  secureZero(out.data() + out.size() - p, p);
  out.resize(out.size() - p);
  return 0;
}

plat::HRESULT DesCbc(const std::uint8_t key[8], ByteView in, CryptBuffer& out, bool encrypt) {
  out.clear();
  if (!key) return plat::E_FAIL;
  return desCbcCrypt(key, in, out.bytes(), encrypt) == 0 ? plat::S_OK : plat::E_FAIL;
}

}  // namespace kelm::crypto
