#include "agent/accounts/store_format.h"

#include <algorithm>
#include <cstring>

#include "agent/crypto/des_cbc.h"
#include "agent/crypto/md5_digest.h"

namespace kelm::accounts {
namespace {

constexpr std::uint8_t kMagic[8] = {'v', 'e', 'l', 'k', 'a', 'r', 'i', 0};
constexpr std::uint32_t kDigestStart = 64, kRecordStart = 320, kListStart = 16704, kKeyStart = 17504;
constexpr std::uint32_t kFreshSize = 18144;
constexpr std::uint32_t kListHeader = 32, kKeyHeader = 128, kRightsKeyOffset = 16, kKeyAreaCopied = 112;

crypto::Md5 nameDigest(std::string_view name) {
  return crypto::md5({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
}

std::array<std::uint8_t, 8> blockKey(ByteView keyMaterial, ByteView salt, std::uint32_t count) {
  crypto::Md5 d = crypto::md5(keyMaterial, salt);
  for (std::uint32_t i = 1; i < count; ++i) d = crypto::md5(d);
  std::array<std::uint8_t, 8> key;
  std::memcpy(key.data(), d.data(), 8);
  crypto::secureZero(d.data(), d.size());
  return key;
}

}  // namespace

std::uint32_t getLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

void putElement(Bytes& out, char tag, ByteView value) {
  out.push_back(std::uint8_t(tag));
  std::size_t n = value.size();
  if (n < 128) {
    out.push_back(std::uint8_t(n));
  } else {
    int bytes = 0;
    for (std::size_t v = n; v; v >>= 8) ++bytes;
    out.push_back(std::uint8_t(0x80 + bytes));
    for (int i = bytes - 1; i >= 0; --i) out.push_back(std::uint8_t(n >> (8 * i)));
  }
  out.insert(out.end(), value.begin(), value.end());
}

Bytes element(char tag, ByteView value) {
  Bytes out;
  putElement(out, tag, value);
  return out;
}

std::optional<Element> readElement(ByteView data, std::size_t offset) {
  if (offset >= data.size() || data.size() - offset < 2) return std::nullopt;
  Element e;
  e.tag = char(data[offset]);
  std::size_t pos = offset + 1;
  std::size_t len = data[pos++];
  if (len >= 128) {
    std::size_t n = len - 0x80;
    if (n == 0 || n > 4 || data.size() - pos < n) return std::nullopt;
    len = 0;
    for (std::size_t i = 0; i < n; ++i) len = (len << 8) | data[pos++];
  }
  if (data.size() - pos < len) return std::nullopt;
  e.value = data.subspan(pos, len);
  e.size = pos + len - offset;
  return e;
}

std::optional<std::vector<Element>> readGroup(ByteView data, char tag) {
  std::vector<Element> out;
  std::size_t pos = 0;
  while (pos < data.size()) {
    auto e = readElement(data, pos);
    if (!e || e->tag != tag) return std::nullopt;
    pos += e->size;
    out.push_back(*e);
  }
  return out;
}

Bytes encryptBlock(ByteView keyMaterial, ByteView plain, crypto::RandomPool& pool) {
  std::uint8_t pick[2];
  std::uint8_t salt[15];
  if (pool.generate(pick, 2)) return {};
  std::size_t saltLen = 8 + pick[0] % 8;        // 8 to 15 bytes
  std::uint32_t count = 1 + 2 * (pick[1] % 8);  // odd, 1 to 15
  if (pool.generate(salt, saltLen)) return {};
  auto key = blockKey(keyMaterial, {salt, saltLen}, count);
  Bytes cipher;
  crypto::desCbcCrypt(key.data(), plain, cipher, true);
  crypto::secureZero(key.data(), key.size());
  std::uint8_t word[4];
  Bytes inner, saltAndCount;
  putLe32(word, kBlockFormat);
  putElement(inner, kTagPiece, {word, 4});
  putElement(saltAndCount, kTagPiece, {salt, saltLen});
  putLe32(word, count);
  putElement(saltAndCount, kTagPiece, {word, 4});
  putElement(inner, kTagPiece, saltAndCount);
  putElement(inner, kTagPiece, cipher);
  return element(kTagList, inner);
}

std::optional<CryptBuffer> decryptBlock(ByteView block, ByteView keyMaterial) {
  auto outer = readElement(block, 0);
  if (!outer || outer->tag != kTagList || outer->size != block.size()) return std::nullopt;
  auto parts = readGroup(outer->value, kTagPiece);
  if (!parts || parts->size() != 3) return std::nullopt;
  const auto& format = (*parts)[0].value;
  if (format.size() != 4 || getLe32(format.data()) != kBlockFormat) return std::nullopt;
  auto sc = readGroup((*parts)[1].value, kTagPiece);
  if (!sc || sc->size() != 2 || (*sc)[1].value.size() != 4) return std::nullopt;
  ByteView salt = (*sc)[0].value;
  std::uint32_t count = getLe32((*sc)[1].value.data());
  // The writer draws 1 to 15: anything else is damage, and must not cost billions of rounds.
  if (salt.size() > 64 || count == 0 || count > 15) return std::nullopt;
  auto key = blockKey(keyMaterial, salt, count);
  CryptBuffer plain;
  int r = crypto::desCbcCrypt(key.data(), (*parts)[2].value, plain.bytes(), false);
  crypto::secureZero(key.data(), key.size());
  if (r != 0) return std::nullopt;
  return plain;
}

Bytes signBlock(ByteView value, const crypto::RsaPrivateKey& key) {
  CryptBuffer in, out;
  in.bytes().assign(kMagic, kMagic + 8);
  in.bytes().insert(in.bytes().end(), value.begin(), value.end());
  if (crypto::RsaPrivateEncrypt(in.view(), out, key) != plat::S_OK) return {};
  return out.bytes();
}

std::optional<CryptBuffer> openSignedBlock(ByteView block, const crypto::RsaPublicKey& key) {
  CryptBuffer out;
  if (crypto::RsaPublicDecrypt(block, out, key) != plat::S_OK) return std::nullopt;
  if (out.size() < 8 || std::memcmp(out.data(), kMagic, 8) != 0) return std::nullopt;
  return CryptBuffer(Bytes(out.bytes().begin() + 8, out.bytes().end()));
}

// ---- the image ----

StoreImage StoreImage::fresh() {
  StoreImage img;
  img.bytes_.assign(kFreshSize, 0);
  std::uint8_t word[4];
  Bytes head;
  putLe32(word, kStoreVersion);
  putElement(head, kTagVersion, {word, 4});
  putLe32(word, 0);
  putElement(head, kTagCount, {word, 4});
  std::copy(head.begin(), head.end(), img.bytes_.begin());
  std::uint8_t* p = img.bytes_.data();
  putLe32(p + 16, kDigestStart);
  putLe32(p + 20, kRecordStart);
  putLe32(p + 24, kListStart);
  putLe32(p + 28, kKeyStart);
  putLe32(p + kListStart, kListStart + kListHeader);
  putLe32(p + kKeyStart, kKeyStart + kKeyHeader);
  // Empty elements keep the image parseable until the caller writes the real ones.
  p[kListStart + kListHeader] = std::uint8_t(kTagList);
  p[kKeyStart + kKeyHeader] = std::uint8_t(kTagList);
  p[kKeyStart + kRightsKeyOffset] = std::uint8_t(kTagPiece);
  img.locate();
  return img;
}

std::optional<StoreImage> StoreImage::parse(Bytes bytes) {
  StoreImage img;
  img.bytes_ = std::move(bytes);
  if (!img.locate()) return std::nullopt;
  return img;
}

bool StoreImage::locate() {
  ByteView all(bytes_.data(), bytes_.size());
  if (bytes_.size() < 64 || bytes_.size() > kMaxStoreSize) return false;
  auto version = readElement(all, 0);
  if (!version || version->tag != kTagVersion || version->size != 6 || getLe32(version->value.data()) != kStoreVersion)
    return false;
  auto count = readElement(all, 6);
  if (!count || count->tag != kTagCount || count->size != 6) return false;
  count_ = getLe32(count->value.data());
  const std::uint8_t* p = bytes_.data();
  digestStart_ = getLe32(p + 16);
  recordStart_ = getLe32(p + 20);
  listStart_ = getLe32(p + 24);
  keyStart_ = getLe32(p + 28);
  const std::size_t size = bytes_.size();
  if (digestStart_ < 64 || recordStart_ < digestStart_ || (recordStart_ - digestStart_) % 16 != 0 ||
      listStart_ < recordStart_ || keyStart_ < listStart_ || std::size_t(keyStart_) + kKeyHeader > size ||
      listStart_ + 4 > keyStart_)
    return false;
  if (count_ > (recordStart_ - digestStart_) / 16) return false;
  namesStart_ = getLe32(p + listStart_);
  rightsStart_ = getLe32(p + keyStart_);
  if (namesStart_ < listStart_ + 4 || namesStart_ >= keyStart_) return false;
  if (rightsStart_ < keyStart_ + kRightsKeyOffset + 2 || rightsStart_ >= size) return false;
  recordOffsets_.clear();
  ByteView records = all.subspan(0, listStart_);
  std::size_t pos = recordStart_;
  for (std::uint32_t i = 0; i < count_; ++i) {
    auto r = readElement(records, pos);
    if (!r || r->tag != kTagRecord) return false;
    recordOffsets_.push_back(pos);
    pos += r->size;
  }
  recordOffsets_.push_back(pos);
  auto names = readElement(all.subspan(0, keyStart_), namesStart_);
  if (!names || names->tag != kTagList) return false;
  auto key = readElement(all.subspan(0, rightsStart_), keyStart_ + kRightsKeyOffset);
  if (!key || key->tag != kTagPiece) return false;
  auto rights = readElement(all, rightsStart_);
  if (!rights || rights->tag != kTagList) return false;
  return true;
}

void StoreImage::setCount(std::uint32_t n) {
  count_ = n;
  putLe32(bytes_.data() + 8, n);
}

int StoreImage::find(std::string_view name) const {
  crypto::Md5 d = nameDigest(name);
  for (std::uint32_t i = 0; i < count_; ++i)
    if (std::memcmp(bytes_.data() + digestStart_ + 16 * i, d.data(), 16) == 0) return int(i);
  return -1;
}

ByteView StoreImage::record(std::size_t i) const {
  return {bytes_.data() + recordOffsets_[i], recordOffsets_[i + 1] - recordOffsets_[i]};
}
ByteView StoreImage::namesList() const {
  auto e = readElement({bytes_.data(), keyStart_}, namesStart_);
  return {bytes_.data() + namesStart_, e->size};
}
ByteView StoreImage::rightsTable() const {
  auto e = readElement({bytes_.data(), bytes_.size()}, rightsStart_);
  return {bytes_.data() + rightsStart_, e->size};
}
ByteView StoreImage::rightsKeyElement() const {
  auto e = readElement({bytes_.data(), rightsStart_}, keyStart_ + kRightsKeyOffset);
  return {bytes_.data() + keyStart_ + kRightsKeyOffset, e->size};
}

void StoreImage::setDigest(std::size_t i, std::string_view name) {
  crypto::Md5 d = nameDigest(name);
  std::memcpy(bytes_.data() + digestStart_ + 16 * i, d.data(), 16);
}

bool StoreImage::appendAccount(std::string_view name, ByteView rec) {
  if (count_ >= (recordStart_ - digestStart_) / 16) return false;
  std::size_t end = recordOffsets_.back();
  if (rec.size() > listStart_ - end) return false;
  std::copy(rec.begin(), rec.end(), bytes_.begin() + std::ptrdiff_t(end));
  setDigest(count_, name);
  setCount(count_ + 1);
  recordOffsets_.push_back(end + rec.size());
  return true;
}

bool StoreImage::replaceRecord(std::size_t i, ByteView rec) {
  std::size_t start = recordOffsets_[i], oldEnd = recordOffsets_[i + 1], end = recordOffsets_.back();
  std::size_t newEnd = end - (oldEnd - start) + rec.size();
  if (newEnd > listStart_) return false;
  Bytes tail(bytes_.begin() + std::ptrdiff_t(oldEnd), bytes_.begin() + std::ptrdiff_t(end));
  std::fill(bytes_.begin() + std::ptrdiff_t(start), bytes_.begin() + std::ptrdiff_t(end), 0);
  std::copy(rec.begin(), rec.end(), bytes_.begin() + std::ptrdiff_t(start));
  std::copy(tail.begin(), tail.end(), bytes_.begin() + std::ptrdiff_t(start + rec.size()));
  locate();
  return true;
}

void StoreImage::removeAccount(std::size_t i) {
  std::size_t start = recordOffsets_[i], oldEnd = recordOffsets_[i + 1], end = recordOffsets_.back();
  Bytes tail(bytes_.begin() + std::ptrdiff_t(oldEnd), bytes_.begin() + std::ptrdiff_t(end));
  std::fill(bytes_.begin() + std::ptrdiff_t(start), bytes_.begin() + std::ptrdiff_t(end), 0);
  std::copy(tail.begin(), tail.end(), bytes_.begin() + std::ptrdiff_t(start));
  std::uint8_t* digests = bytes_.data() + digestStart_;
  std::memmove(digests + 16 * i, digests + 16 * (i + 1), 16 * (count_ - i - 1));
  std::memset(digests + 16 * (count_ - 1), 0, 16);
  setCount(count_ - 1);
  locate();
}

bool StoreImage::setNamesList(ByteView el) {
  if (el.size() > keyStart_ - namesStart_) return false;
  std::fill(bytes_.begin() + namesStart_, bytes_.begin() + keyStart_, 0);
  std::copy(el.begin(), el.end(), bytes_.begin() + namesStart_);
  return true;
}

void StoreImage::setRightsTable(ByteView el) {
  // The table runs to the end of the file and grows in place.
  if (bytes_.size() < rightsStart_ + el.size()) bytes_.resize(rightsStart_ + el.size(), 0);
  std::fill(bytes_.begin() + rightsStart_, bytes_.end(), 0);
  std::copy(el.begin(), el.end(), bytes_.begin() + rightsStart_);
}

bool StoreImage::setRightsKeyElement(ByteView el) {
  std::size_t at = keyStart_ + kRightsKeyOffset;
  if (el.size() > rightsStart_ - at) return false;
  std::fill(bytes_.begin() + std::ptrdiff_t(at), bytes_.begin() + rightsStart_, 0);
  std::copy(el.begin(), el.end(), bytes_.begin() + std::ptrdiff_t(at));
  return true;
}

bool StoreImage::grow() {
  const std::uint32_t digestSize = recordStart_ - digestStart_ + 256;
  const std::uint32_t recordSize = listStart_ - recordStart_ + 16384;
  const std::uint32_t listSize = keyStart_ - listStart_ + 800;
  const std::uint32_t tail = std::uint32_t(bytes_.size() - rightsStart_);
  const std::uint32_t nDigest = 64, nRecord = nDigest + digestSize, nList = nRecord + recordSize,
                      nKey = nList + listSize, nRights = nKey + kKeyHeader;
  if (std::size_t(nRights) + tail > kMaxStoreSize) return false;
  Bytes out(std::size_t(nRights) + tail, 0);
  std::copy(bytes_.begin(), bytes_.begin() + 16, out.begin());
  std::uint8_t* p = out.data();
  putLe32(p + 16, nDigest);
  putLe32(p + 20, nRecord);
  putLe32(p + 24, nList);
  putLe32(p + 28, nKey);
  std::copy(bytes_.begin() + digestStart_, bytes_.begin() + recordStart_, out.begin() + nDigest);
  std::copy(bytes_.begin() + recordStart_, bytes_.begin() + listStart_, out.begin() + nRecord);
  putLe32(p + nList, nList + kListHeader);
  ByteView names = namesList();
  std::copy(names.begin(), names.end(), out.begin() + nList + kListHeader);
  std::size_t keyCopied = std::min<std::size_t>(kKeyAreaCopied, rightsStart_ - keyStart_);
  std::copy(bytes_.begin() + keyStart_, bytes_.begin() + std::ptrdiff_t(keyStart_ + keyCopied), out.begin() + nKey);
  putLe32(p + nKey, nRights);
  std::copy(bytes_.begin() + rightsStart_, bytes_.end(), out.begin() + nRights);
  Bytes old = std::move(bytes_);
  bytes_ = std::move(out);
  if (!locate()) {
    bytes_ = std::move(old);
    locate();
    return false;
  }
  return true;
}

}  // namespace kelm::accounts
