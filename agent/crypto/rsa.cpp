#include "agent/crypto/rsa.h"

#include <cstring>

#include "agent/crypto/big_number.h"

namespace kelm::crypto {
namespace {

void putLe32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}
std::uint32_t getLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
template <std::size_t N>
void append(Bytes& out, const std::array<std::uint8_t, N>& a) {
  out.insert(out.end(), a.begin(), a.end());
}
template <std::size_t N>
const std::uint8_t* take(std::array<std::uint8_t, N>& a, const std::uint8_t* p) {
  std::memcpy(a.data(), p, N);
  return p + N;
}

BigNumber num(ByteView b) { return BigNumber::fromBytes(b); }
template <std::size_t N>
BigNumber num(const std::array<std::uint8_t, N>& a) {
  return BigNumber::fromBytes({a.data(), a.size()});
}
template <std::size_t N>
bool put(std::array<std::uint8_t, N>& a, const BigNumber& v) {
  return v.toBytes(a.data(), N);
}

bool validModulus(std::uint32_t bits, const BigNumber& n) {
  return bits >= kMinRsaBits && bits <= kMaxRsaBits && n.bitLength() == bits && n.isOdd();
}

// Small primes for trial division of candidates.
const std::vector<std::uint32_t>& smallPrimes() {
  static const std::vector<std::uint32_t> primes = [] {
    std::vector<std::uint32_t> p;
    for (std::uint32_t c = 3; c < 2000; c += 2) {
      bool prime = true;
      for (std::uint32_t d : p) {
        if (d * d > c) break;
        if (c % d == 0) {
          prime = false;
          break;
        }
      }
      if (prime) p.push_back(c);
    }
    return p;
  }();
  return primes;
}

bool millerRabin(const BigNumber& n, RandomPool& pool, int rounds) {
  BigNumber one(1), nm1 = BigNumber::sub(n, one);
  unsigned s = 0;
  while (!nm1.bit(s)) ++s;
  BigNumber d;
  BigNumber::divMod(nm1, BigNumber(1).shiftedLeft(s), &d, nullptr);
  std::size_t len = (n.bitLength() + 7) / 8;
  for (int r = 0; r < rounds; ++r) {
    BigNumber a;
    do {
      Bytes raw(len);
      if (pool.generate(raw.data(), raw.size())) return false;
      a = BigNumber::mod(num(raw), nm1);
    } while (BigNumber::compare(a, BigNumber(2)) < 0);
    BigNumber x = BigNumber::modExp(a, d, n);
    if (x == one || x == nm1) continue;
    bool composite = true;
    for (unsigned i = 1; i < s && composite; ++i) {
      x = BigNumber::mod(BigNumber::mul(x, x), n);
      if (x == nm1) composite = false;
    }
    if (composite) return false;
  }
  return true;
}

// A prime of exactly `bits` bits with its two top bits set, so that two of them make a full-length
// modulus, and with gcd(p - 1, e) = 1.
int generatePrime(unsigned bits, std::uint32_t e, RandomPool& pool, BigNumber& out) {
  std::size_t len = (bits + 7) / 8;
  Bytes raw(len);
  for (;;) {
    if (pool.generate(raw.data(), raw.size())) return kReNeedRandom;
    unsigned extra = unsigned(len * 8 - bits);
    raw[0] &= std::uint8_t(0xFF >> extra);
    BigNumber c = num(raw);
    c.setBit(bits - 1);
    c.setBit(bits - 2);
    c.setBit(0);
    // Step through odd candidates from this start.
    for (int step = 0; step < 4096; ++step) {
      if (c.bitLength() != bits) break;
      bool divisible = false;
      for (std::uint32_t p : smallPrimes())
        if (c.modWord(p) == 0) {
          divisible = true;
          break;
        }
      if (!divisible && c.modWord(e) != 1 && millerRabin(c, pool, 20)) {
        out = std::move(c);
        secureZero(raw.data(), raw.size());
        return 0;
      }
      c = BigNumber::add(c, BigNumber(2));
    }
  }
}

// m^d mod n through the two primes (Chinese remainder theorem).
bool privateOp(const BigNumber& c, const RsaPrivateKey& key, BigNumber& out) {
  BigNumber p = num(key.prime[0]), q = num(key.prime[1]);
  BigNumber dp = num(key.primeExponent[0]), dq = num(key.primeExponent[1]), qinv = num(key.coefficient);
  if (!p.isOdd() || !q.isOdd() || p.bitLength() < 2 || q.bitLength() < 2) return false;
  BigNumber m1 = BigNumber::modExp(c, dp, p);
  BigNumber m2 = BigNumber::modExp(c, dq, q);
  BigNumber m2p = BigNumber::mod(m2, p);
  BigNumber diff =
      BigNumber::compare(m1, m2p) >= 0 ? BigNumber::sub(m1, m2p) : BigNumber::sub(BigNumber::add(m1, p), m2p);
  BigNumber h = BigNumber::mod(BigNumber::mul(qinv, diff), p);
  out = BigNumber::add(m2, BigNumber::mul(h, q));
  return true;
}

// Raw RSA on one k-byte block: refuses a value not below the modulus.
int publicBlock(ByteView in, const RsaPublicKey& key, Bytes& out) {
  BigNumber n = num(key.modulus), e = num(key.exponent);
  if (!validModulus(key.bits, n) || e.isZero()) return kReData;
  BigNumber c = num(in);
  if (BigNumber::compare(c, n) >= 0) return kReData;
  out = BigNumber::modExp(c, e, n).toBytes(key.blockLength());
  return out.empty() ? kReData : 0;
}

int privateBlock(ByteView in, const RsaPrivateKey& key, Bytes& out) {
  BigNumber n = num(key.modulus);
  if (!validModulus(key.bits, n)) return kReData;
  BigNumber c = num(in), m;
  if (BigNumber::compare(c, n) >= 0) return kReData;
  if (!privateOp(c, key, m) || BigNumber::compare(m, n) >= 0) return kReData;
  out = m.toBytes(key.blockLength());
  return out.empty() ? kReData : 0;
}

// Removes PKCS #1 padding of the given block type from a decrypted block.
int unpad(const Bytes& block, std::uint8_t type, Bytes& out) {
  std::size_t k = block.size();
  if (k < 11 || block[0] != 0 || block[1] != type) return kReData;
  std::size_t i = 2;
  for (; i < k && block[i] != 0; ++i)
    if (type == 1 && block[i] != 0xFF) return kReData;
  if (i >= k || i - 2 < 8) return kReData;  // no separator, or fewer than 8 padding bytes
  out.assign(block.begin() + std::ptrdiff_t(i + 1), block.end());
  return 0;
}

}  // namespace

RsaPrivateKey::~RsaPrivateKey() {
  secureZero(exponent.data(), exponent.size());
  secureZero(prime.data(), sizeof prime);
  secureZero(primeExponent.data(), sizeof primeExponent);
  secureZero(coefficient.data(), coefficient.size());
}

Bytes RsaPublicKey::serialize() const {
  Bytes out;
  out.reserve(kSize);
  putLe32(out, bits);
  append(out, modulus);
  append(out, exponent);
  return out;
}

std::optional<RsaPublicKey> RsaPublicKey::parse(ByteView bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  RsaPublicKey k;
  k.bits = getLe32(bytes.data());
  const std::uint8_t* p = bytes.data() + 4;
  p = take(k.modulus, p);
  take(k.exponent, p);
  if (!validModulus(k.bits, num(k.modulus)) || num(k.exponent).isZero()) return std::nullopt;
  return k;
}

Bytes RsaPrivateKey::serialize() const {
  Bytes out;
  out.reserve(kSize);
  putLe32(out, bits);
  append(out, modulus);
  append(out, publicExponent);
  append(out, exponent);
  append(out, prime[0]);
  append(out, prime[1]);
  append(out, primeExponent[0]);
  append(out, primeExponent[1]);
  append(out, coefficient);
  return out;
}

std::optional<RsaPrivateKey> RsaPrivateKey::parse(ByteView bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  RsaPrivateKey k;
  k.bits = getLe32(bytes.data());
  const std::uint8_t* p = bytes.data() + 4;
  p = take(k.modulus, p);
  p = take(k.publicExponent, p);
  p = take(k.exponent, p);
  p = take(k.prime[0], p);
  p = take(k.prime[1], p);
  p = take(k.primeExponent[0], p);
  p = take(k.primeExponent[1], p);
  take(k.coefficient, p);
  if (!validModulus(k.bits, num(k.modulus)) || !num(k.prime[0]).isOdd() || !num(k.prime[1]).isOdd())
    return std::nullopt;
  return k;
}

RsaPublicKey RsaPrivateKey::publicKey() const {
  RsaPublicKey k;
  k.bits = bits;
  k.modulus = modulus;
  k.exponent = publicExponent;
  return k;
}

int rsaGenerateKeys(const RsaKeyRequest& request, RandomPool& pool, RsaPublicKey& pub, RsaPrivateKey& priv) {
  if (request.bits < kMinRsaBits || request.bits > kMaxRsaBits) return kReModulusLen;
  if (!pool.seeded()) return kReNeedRandom;
  const std::uint32_t ev = request.useFermat4 ? 65537 : 3;
  const unsigned pBits = (request.bits + 1) / 2, qBits = request.bits - pBits;
  BigNumber e(ev), one(1), p, q, n;
  for (;;) {
    if (int r = generatePrime(pBits, ev, pool, p)) return r;
    if (int r = generatePrime(qBits, ev, pool, q)) return r;
    if (p == q) continue;
    if (BigNumber::compare(p, q) < 0) std::swap(p, q);
    n = BigNumber::mul(p, q);
    if (n.bitLength() == request.bits) break;
  }
  BigNumber pm1 = BigNumber::sub(p, one), qm1 = BigNumber::sub(q, one);
  BigNumber phi = BigNumber::mul(pm1, qm1);
  BigNumber d = BigNumber::modInverse(e, phi);
  if (d.isZero()) return kReData;  // cannot happen: both p - 1 and q - 1 are prime to e
  RsaPrivateKey k;
  k.bits = request.bits;
  bool ok = put(k.modulus, n) && put(k.publicExponent, e) && put(k.exponent, d) && put(k.prime[0], p) &&
            put(k.prime[1], q) && put(k.primeExponent[0], BigNumber::mod(d, pm1)) &&
            put(k.primeExponent[1], BigNumber::mod(d, qm1)) && put(k.coefficient, BigNumber::modInverse(q, p));
  if (!ok) return kReData;
  priv = k;
  pub = k.publicKey();
  return 0;
}

int rsaPublicEncryptBlock(ByteView in, const RsaPublicKey& key, RandomPool& pool, Bytes& out) {
  std::size_t k = key.blockLength();
  if (key.bits < kMinRsaBits || key.bits > kMaxRsaBits) return kReModulusLen;
  if (in.size() + 11 > k) return kReLen;
  Bytes block(k);
  block[0] = 0;
  block[1] = 2;
  for (std::size_t i = 2; i < k - in.size() - 1; ++i) {
    do {
      if (pool.generate(&block[i], 1)) return kReNeedRandom;
    } while (block[i] == 0);
  }
  block[k - in.size() - 1] = 0;
  if (!in.empty()) std::memcpy(block.data() + k - in.size(), in.data(), in.size());
  int r = publicBlock(block, key, out);
  secureZero(block.data(), block.size());
  return r;
}

int rsaPrivateEncryptBlock(ByteView in, const RsaPrivateKey& key, Bytes& out) {
  std::size_t k = key.blockLength();
  if (key.bits < kMinRsaBits || key.bits > kMaxRsaBits) return kReModulusLen;
  if (in.size() + 11 > k) return kReLen;
  Bytes block(k, 0xFF);
  block[0] = 0;
  block[1] = 1;
  block[k - in.size() - 1] = 0;
  if (!in.empty()) std::memcpy(block.data() + k - in.size(), in.data(), in.size());
  int r = privateBlock(block, key, out);
  secureZero(block.data(), block.size());
  return r;
}

int rsaPublicDecryptBlock(ByteView in, const RsaPublicKey& key, Bytes& out) {
  if (key.bits < kMinRsaBits || key.bits > kMaxRsaBits) return kReModulusLen;
  if (in.size() != key.blockLength()) return kReLen;
  Bytes block;
  if (int r = publicBlock(in, key, block)) return r;
  return unpad(block, 1, out);
}

int rsaPrivateDecryptBlock(ByteView in, const RsaPrivateKey& key, Bytes& out) {
  if (key.bits < kMinRsaBits || key.bits > kMaxRsaBits) return kReModulusLen;
  if (in.size() != key.blockLength()) return kReLen;
  Bytes block;
  if (int r = privateBlock(in, key, block)) return r;
  int r = unpad(block, 2, out);
  secureZero(block.data(), block.size());
  return r;
}

plat::HRESULT GenerateRsaKeyPair(CryptBuffer& publicKey, CryptBuffer& privateKey) {
  return GenerateRsaKeyPair(publicKey, privateKey, processRandomPool());
}

plat::HRESULT GenerateRsaKeyPair(CryptBuffer& publicKey, CryptBuffer& privateKey, RandomPool& pool,
                                 const RsaKeyRequest& request) {
  publicKey.clear();
  privateKey.clear();
  RsaPublicKey pub;
  RsaPrivateKey priv;
  if (rsaGenerateKeys(request, pool, pub, priv) != 0) return plat::E_FAIL;
  publicKey = CryptBuffer(pub.serialize());
  privateKey = CryptBuffer(priv.serialize());
  return plat::S_OK;
}

namespace {

template <typename Op>
plat::HRESULT encryptPieces(ByteView in, CryptBuffer& out, std::size_t k, Op op) {
  out.clear();
  if (k < 11) return plat::E_FAIL;
  const std::size_t piece = k - 11;
  Bytes result, block;
  std::size_t off = 0;
  do {
    std::size_t n = std::min(piece, in.size() - off);
    if (op(in.subspan(off, n), block) != 0) return plat::E_FAIL;
    result.insert(result.end(), block.begin(), block.end());
    off += n;
  } while (off < in.size());
  out = CryptBuffer(std::move(result));
  return plat::S_OK;
}

template <typename Op>
plat::HRESULT decryptPieces(ByteView in, CryptBuffer& out, std::size_t k, Op op) {
  out.clear();
  if (k == 0 || in.empty() || in.size() % k != 0) return plat::E_FAIL;
  CryptBuffer result;
  Bytes block;
  for (std::size_t off = 0; off < in.size(); off += k) {
    if (op(in.subspan(off, k), block) != 0) return plat::E_FAIL;
    result.bytes().insert(result.bytes().end(), block.begin(), block.end());
    secureZero(block.data(), block.size());
  }
  out = std::move(result);
  return plat::S_OK;
}

}  // namespace

plat::HRESULT RsaPublicEncrypt(ByteView in, CryptBuffer& out, const RsaPublicKey& key) {
  return RsaPublicEncrypt(in, out, key, processRandomPool());
}

plat::HRESULT RsaPublicEncrypt(ByteView in, CryptBuffer& out, const RsaPublicKey& key, RandomPool& pool) {
  return encryptPieces(in, out, key.blockLength(),
                       [&](ByteView piece, Bytes& b) { return rsaPublicEncryptBlock(piece, key, pool, b); });
}

plat::HRESULT RsaPrivateEncrypt(ByteView in, CryptBuffer& out, const RsaPrivateKey& key) {
  return encryptPieces(in, out, key.blockLength(),
                       [&](ByteView piece, Bytes& b) { return rsaPrivateEncryptBlock(piece, key, b); });
}

plat::HRESULT RsaPublicDecrypt(ByteView in, CryptBuffer& out, const RsaPublicKey& key) {
  return decryptPieces(in, out, key.blockLength(),
                       [&](ByteView block, Bytes& b) { return rsaPublicDecryptBlock(block, key, b); });
}

plat::HRESULT RsaPrivateDecrypt(ByteView in, CryptBuffer& out, const RsaPrivateKey& key) {
  return decryptPieces(in, out, key.blockLength(),
                       [&](ByteView block, Bytes& b) { return rsaPrivateDecryptBlock(block, key, b); });
}

}  // namespace kelm::crypto
