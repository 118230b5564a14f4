#pragma once
// The account file's byte layout: tagged elements, the region directory, and the four areas
// (digest table, record area, list area, key area with the rights table at the end).
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "agent/crypto/crypt_buffer.h"
#include "agent/crypto/random_pool.h"
#include "agent/crypto/rsa.h"

namespace kelm::accounts {

using crypto::Bytes;
using crypto::ByteView;
using crypto::CryptBuffer;

// Element tags.
constexpr char kTagVersion = '0';
constexpr char kTagCount = '1';
constexpr char kTagRecord = '2';
constexpr char kTagName = '3';
constexpr char kTagRights = '4';
constexpr char kTagProtected = '5';
constexpr char kTagItem = '6';
constexpr char kTagPiece = '7';
constexpr char kTagList = '8';

constexpr std::uint32_t kStoreVersion = 0x00010000;
constexpr std::uint32_t kBlockFormat = 3680150;
constexpr std::size_t kMaxStoreSize = 16u << 20;  // far beyond any real store; bounds what is read

// Appends one element: tag, length (one byte below 128, else 0x80 + n and n big-endian bytes), value.
void putElement(Bytes& out, char tag, ByteView value);
Bytes element(char tag, ByteView value);

struct Element {
  char tag = 0;
  ByteView value;
  std::size_t size = 0;  // of the whole element
};
// The element at `offset`, or nothing when it does not fit in `data` or its length is malformed.
std::optional<Element> readElement(ByteView data, std::size_t offset);
// The elements of a group that fills `data` exactly, each with the given tag.
std::optional<std::vector<Element>> readGroup(ByteView data, char tag);

// Encrypted block: '8' { '7' format, '7' { '7' salt, '7' count }, '7' ciphertext }.
Bytes encryptBlock(ByteView keyMaterial, ByteView plain, crypto::RandomPool& pool);
std::optional<CryptBuffer> decryptBlock(ByteView block, ByteView keyMaterial);

// Signed block: "velkari\0" and the value under an RSA private key; opened with the public key.
Bytes signBlock(ByteView value, const crypto::RsaPrivateKey& key);
std::optional<CryptBuffer> openSignedBlock(ByteView block, const crypto::RsaPublicKey& key);

std::uint32_t getLe32(const std::uint8_t* p);
void putLe32(std::uint8_t* p, std::uint32_t v);

// The whole file image, checked on load; every change keeps its layout.
class StoreImage {
 public:
  // The layout of a new store: 18144 bytes, no accounts, empty names list and rights table elements
  // still to be written by the caller.
  static StoreImage fresh();
  // Refuses (nothing) a file whose version, directory, counts or elements do not hold together.
  static std::optional<StoreImage> parse(Bytes bytes);

  const Bytes& bytes() const { return bytes_; }
  std::uint32_t count() const { return count_; }
  // Index of the account with that name (first equal digest), or -1.
  int find(std::string_view name) const;

  ByteView record(std::size_t i) const;
  ByteView namesList() const;    // the '8' element
  ByteView rightsTable() const;  // the '8' element
  ByteView rightsKeyElement() const;

  // Each write answers false when its area has no room; the image is then unchanged.
  bool appendAccount(std::string_view name, ByteView record);
  bool replaceRecord(std::size_t i, ByteView record);
  void removeAccount(std::size_t i);
  void setDigest(std::size_t i, std::string_view name);
  bool setNamesList(ByteView element);
  void setRightsTable(ByteView element);
  bool setRightsKeyElement(ByteView element);
  // Rebuilds the file with every area larger (digests +256, records +16384, lists +800).
  bool grow();

 private:
  bool locate();  // re-reads the directory and walks the records
  void setCount(std::uint32_t n);

  Bytes bytes_;
  std::uint32_t count_ = 0;
  std::uint32_t digestStart_ = 0, recordStart_ = 0, listStart_ = 0, keyStart_ = 0;
  std::uint32_t namesStart_ = 0, rightsStart_ = 0;
  std::vector<std::size_t> recordOffsets_;  // count + 1 entries: the last is the end of the records
};

}  // namespace kelm::accounts
