#include "agent/crypto/big_number.h"

#include <algorithm>
#include <bit>

namespace kelm::crypto {

BigNumber BigNumber::fromBytes(ByteView bytes) {
  BigNumber n;
  n.limbs_.assign((bytes.size() + 3) / 4, 0);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::size_t pos = bytes.size() - 1 - i;  // byte i from the least significant end
    n.limbs_[i / 4] |= std::uint32_t(bytes[pos]) << (8 * (i % 4));
  }
  n.trim();
  return n;
}

bool BigNumber::toBytes(std::uint8_t* out, std::size_t length) const {
  if ((bitLength() + 7) / 8 > length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    std::size_t limb = i / 4;
    std::uint8_t b = limb < limbs_.size() ? std::uint8_t(limbs_[limb] >> (8 * (i % 4))) : 0;
    out[length - 1 - i] = b;
  }
  return true;
}

Bytes BigNumber::toBytes(std::size_t length) const {
  Bytes out(length);
  if (!toBytes(out.data(), length)) out.clear();
  return out;
}

unsigned BigNumber::bitLength() const {
  if (limbs_.empty()) return 0;
  return unsigned(limbs_.size() - 1) * 32 + unsigned(32 - std::countl_zero(limbs_.back()));
}

bool BigNumber::bit(unsigned i) const {
  std::size_t limb = i / 32;
  return limb < limbs_.size() && ((limbs_[limb] >> (i % 32)) & 1);
}

void BigNumber::setBit(unsigned i) {
  if (limbs_.size() <= i / 32) limbs_.resize(i / 32 + 1, 0);
  limbs_[i / 32] |= 1u << (i % 32);
}

int BigNumber::compare(const BigNumber& a, const BigNumber& b) {
  if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
  for (std::size_t i = a.limbs_.size(); i-- > 0;)
    if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
  return 0;
}

BigNumber BigNumber::add(const BigNumber& a, const BigNumber& b) {
  const BigNumber& big = a.limbs_.size() >= b.limbs_.size() ? a : b;
  const BigNumber& small = &big == &a ? b : a;
  BigNumber r;
  r.limbs_.resize(big.limbs_.size() + 1);
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < big.limbs_.size(); ++i) {
    carry += std::uint64_t(big.limbs_[i]) + (i < small.limbs_.size() ? small.limbs_[i] : 0);
    r.limbs_[i] = std::uint32_t(carry);
    carry >>= 32;
  }
  r.limbs_.back() = std::uint32_t(carry);
  r.trim();
  return r;
}

BigNumber BigNumber::sub(const BigNumber& a, const BigNumber& b) {
  BigNumber r;
  r.limbs_.resize(a.limbs_.size());
  std::int64_t borrow = 0;
  for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
    std::int64_t t = std::int64_t(a.limbs_[i]) - (i < b.limbs_.size() ? b.limbs_[i] : 0) - borrow;
    borrow = t < 0;
    r.limbs_[i] = std::uint32_t(t + (borrow << 32));
  }
  r.trim();
  return r;
}

BigNumber BigNumber::mul(const BigNumber& a, const BigNumber& b) {
  BigNumber r;
  if (a.isZero() || b.isZero()) return r;
  r.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
  for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < b.limbs_.size(); ++j) {
      carry += std::uint64_t(a.limbs_[i]) * b.limbs_[j] + r.limbs_[i + j];
      r.limbs_[i + j] = std::uint32_t(carry);
      carry >>= 32;
    }
    r.limbs_[i + b.limbs_.size()] = std::uint32_t(carry);
  }
  r.trim();
  return r;
}

std::uint32_t BigNumber::modWord(std::uint32_t m) const {
  std::uint64_t r = 0;
  for (std::size_t i = limbs_.size(); i-- > 0;) r = ((r << 32) | limbs_[i]) % m;
  return std::uint32_t(r);
}

BigNumber BigNumber::shiftedLeft(unsigned bits) const {
  BigNumber r;
  if (isZero()) return r;
  unsigned words = bits / 32, s = bits % 32;
  r.limbs_.assign(limbs_.size() + words + 1, 0);
  for (std::size_t i = 0; i < limbs_.size(); ++i) {
    r.limbs_[i + words] |= limbs_[i] << s;
    if (s) r.limbs_[i + words + 1] |= limbs_[i] >> (32 - s);
  }
  r.trim();
  return r;
}

// Long division, Knuth's algorithm D.
void BigNumber::divMod(const BigNumber& a, const BigNumber& b, BigNumber* q, BigNumber* r) {
  if (compare(a, b) < 0) {
    if (q) *q = BigNumber();
    if (r) *r = a;
    return;
  }
  const std::size_t n = b.limbs_.size(), m = a.limbs_.size();
  if (n == 1) {
    BigNumber quot;
    quot.limbs_.assign(m, 0);
    std::uint64_t rem = 0;
    for (std::size_t i = m; i-- > 0;) {
      std::uint64_t cur = (rem << 32) | a.limbs_[i];
      quot.limbs_[i] = std::uint32_t(cur / b.limbs_[0]);
      rem = cur % b.limbs_[0];
    }
    quot.trim();
    if (q) *q = std::move(quot);
    if (r) *r = BigNumber(std::uint32_t(rem));
    return;
  }
  const int s = std::countl_zero(b.limbs_.back());
  std::vector<std::uint32_t> vn(n), un(m + 1);
  for (std::size_t i = n - 1; i > 0; --i) vn[i] = (b.limbs_[i] << s) | (s ? b.limbs_[i - 1] >> (32 - s) : 0);
  vn[0] = b.limbs_[0] << s;
  un[m] = s ? a.limbs_[m - 1] >> (32 - s) : 0;
  for (std::size_t i = m - 1; i > 0; --i) un[i] = (a.limbs_[i] << s) | (s ? a.limbs_[i - 1] >> (32 - s) : 0);
  un[0] = a.limbs_[0] << s;

  BigNumber quot;
  quot.limbs_.assign(m - n + 1, 0);
  const std::uint64_t base = 1ull << 32;
  for (std::size_t j = m - n + 1; j-- > 0;) {
    std::uint64_t num = (std::uint64_t(un[j + n]) << 32) | un[j + n - 1];
    std::uint64_t qhat = num / vn[n - 1], rhat = num % vn[n - 1];
    while (qhat >= base || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
      --qhat;
      rhat += vn[n - 1];
      if (rhat >= base) break;
    }
    std::int64_t k = 0, t;
    for (std::size_t i = 0; i < n; ++i) {
      std::uint64_t p = qhat * vn[i];
      t = std::int64_t(un[i + j]) - k - std::int64_t(p & 0xFFFFFFFFu);
      un[i + j] = std::uint32_t(t);
      k = std::int64_t(p >> 32) - (t >> 32);
    }
    t = std::int64_t(un[j + n]) - k;
    un[j + n] = std::uint32_t(t);
    if (t < 0) {  // qhat was one too large: add the divisor back
      --qhat;
      std::uint64_t c = 0;
      for (std::size_t i = 0; i < n; ++i) {
        c += std::uint64_t(un[i + j]) + vn[i];
        un[i + j] = std::uint32_t(c);
        c >>= 32;
      }
      un[j + n] = std::uint32_t(std::uint64_t(un[j + n]) + c);
    }
    quot.limbs_[j] = std::uint32_t(qhat);
  }
  quot.trim();
  if (q) *q = std::move(quot);
  if (r) {
    BigNumber rem;
    rem.limbs_.resize(n);
    for (std::size_t i = 0; i < n; ++i) rem.limbs_[i] = (un[i] >> s) | (s ? un[i + 1] << (32 - s) : 0);
    rem.trim();
    *r = std::move(rem);
  }
  std::fill(un.begin(), un.end(), 0);
}

BigNumber BigNumber::mod(const BigNumber& a, const BigNumber& m) {
  BigNumber r;
  divMod(a, m, nullptr, &r);
  return r;
}

namespace {

// Montgomery arithmetic modulo an odd n of k limbs: values are kept as k-limb vectors.
struct Montgomery {
  std::vector<std::uint32_t> n;
  std::uint32_t n0inv;  // -n^-1 mod 2^32
  std::size_t k;

  explicit Montgomery(const std::vector<std::uint32_t>& mod) : n(mod), k(mod.size()) {
    std::uint32_t inv = 1;  // Newton iteration for n[0]^-1 mod 2^32
    for (int i = 0; i < 5; ++i) inv *= 2 - n[0] * inv;
    n0inv = std::uint32_t(0) - inv;
  }

  // out = a * b * R^-1 mod n (a, b < n)
  void mul(const std::uint32_t* a, const std::uint32_t* b, std::uint32_t* out, std::vector<std::uint32_t>& t) const {
    std::fill(t.begin(), t.end(), 0);
    for (std::size_t i = 0; i < k; ++i) {
      std::uint64_t c = 0;
      for (std::size_t j = 0; j < k; ++j) {
        c += std::uint64_t(a[j]) * b[i] + t[j];
        t[j] = std::uint32_t(c);
        c >>= 32;
      }
      c += t[k];
      t[k] = std::uint32_t(c);
      t[k + 1] = std::uint32_t(c >> 32);
      std::uint32_t mq = t[0] * n0inv;
      c = std::uint64_t(mq) * n[0] + t[0];
      c >>= 32;
      for (std::size_t j = 1; j < k; ++j) {
        c += std::uint64_t(mq) * n[j] + t[j];
        t[j - 1] = std::uint32_t(c);
        c >>= 32;
      }
      c += t[k];
      t[k - 1] = std::uint32_t(c);
      t[k] = t[k + 1] + std::uint32_t(c >> 32);
    }
    // t < 2n: subtract n once when t >= n
    bool geq = t[k] != 0;
    if (!geq) {
      geq = true;
      for (std::size_t i = k; i-- > 0;)
        if (t[i] != n[i]) {
          geq = t[i] > n[i];
          break;
        }
    }
    if (geq) {
      std::int64_t borrow = 0;
      for (std::size_t i = 0; i < k; ++i) {
        std::int64_t v = std::int64_t(t[i]) - n[i] - borrow;
        borrow = v < 0;
        out[i] = std::uint32_t(v + (borrow << 32));
      }
    } else {
      std::copy(t.begin(), t.begin() + std::ptrdiff_t(k), out);
    }
  }
};

std::vector<std::uint32_t> padded(const BigNumber& v, std::size_t k) {
  std::vector<std::uint32_t> out(k, 0);
  std::copy(v.limbs().begin(), v.limbs().end(), out.begin());
  return out;
}

}  // namespace

BigNumber BigNumber::modExp(const BigNumber& a, const BigNumber& e, const BigNumber& m) {
  if (!m.isOdd() || m.bitLength() < 2) return BigNumber();
  Montgomery mont(m.limbs_);
  const std::size_t k = mont.k;
  std::vector<std::uint32_t> t(k + 2);
  BigNumber rr = mod(BigNumber(1).shiftedLeft(unsigned(64 * k)), m);  // R^2 mod m
  std::vector<std::uint32_t> r2 = padded(rr, k);
  std::vector<std::uint32_t> base = padded(compare(a, m) >= 0 ? mod(a, m) : a, k);
  const unsigned bits = e.bitLength();
  // Short (public) exponents: plain square-and-multiply. Long ones: 4-bit windows over a table of
  // base^0..base^15 in Montgomery form.
  const int tableSize = bits <= 32 ? 2 : 16;
  std::vector<std::vector<std::uint32_t>> table(static_cast<std::size_t>(tableSize), std::vector<std::uint32_t>(k));
  std::vector<std::uint32_t> one(k, 0);
  one[0] = 1;
  mont.mul(one.data(), r2.data(), table[0].data(), t);
  mont.mul(base.data(), r2.data(), table[1].data(), t);
  for (int i = 2; i < tableSize; ++i) mont.mul(table[i - 1].data(), table[1].data(), table[i].data(), t);
  std::vector<std::uint32_t> acc = table[0];
  if (tableSize == 2) {
    for (unsigned b = bits; b-- > 0;) {
      mont.mul(acc.data(), acc.data(), acc.data(), t);
      if (e.bit(b)) mont.mul(acc.data(), table[1].data(), acc.data(), t);
    }
  } else {
    for (unsigned w = (bits + 3) / 4; w-- > 0;) {
      for (int s = 0; s < 4; ++s) mont.mul(acc.data(), acc.data(), acc.data(), t);
      unsigned idx = 0;
      for (int b = 3; b >= 0; --b) idx = (idx << 1) | (e.bit(w * 4 + unsigned(b)) ? 1 : 0);
      if (idx) mont.mul(acc.data(), table[idx].data(), acc.data(), t);
    }
  }
  std::vector<std::uint32_t> res(k);
  mont.mul(acc.data(), one.data(), res.data(), t);
  BigNumber out;
  out.limbs_ = std::move(res);
  out.trim();
  for (auto& row : table) std::fill(row.begin(), row.end(), 0);
  std::fill(acc.begin(), acc.end(), 0);
  std::fill(base.begin(), base.end(), 0);
  std::fill(t.begin(), t.end(), 0);
  return out;
}

BigNumber BigNumber::gcd(BigNumber a, BigNumber b) {
  while (!b.isZero()) {
    BigNumber r = mod(a, b);
    a = std::move(b);
    b = std::move(r);
  }
  return a;
}

// Extended Euclid on unsigned values, tracking the sign of the cofactor by the step's parity.
BigNumber BigNumber::modInverse(const BigNumber& a, const BigNumber& m) {
  if (m.isZero()) return BigNumber();
  // Invariant: x_i * a = (-1)^i * r_i (mod m), starting from (r, x) = (m, 0) and (a mod m, 1).
  bool negative = false;
  BigNumber x1(1), x0, r0 = m, r1 = mod(a, m);
  while (!r1.isZero()) {
    BigNumber q, r;
    divMod(r0, r1, &q, &r);
    BigNumber x = add(x0, mul(q, x1));
    r0 = std::move(r1);
    r1 = std::move(r);
    x0 = std::move(x1);
    x1 = std::move(x);
    negative = !negative;
  }
  if (!(r0 == BigNumber(1))) return BigNumber();
  // After an even number of steps x0 * a = -1: the inverse is m - x0.
  if (!negative) x0 = sub(m, mod(x0, m));
  return mod(x0, m);
}

}  // namespace kelm::crypto
