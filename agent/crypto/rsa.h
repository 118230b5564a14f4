#pragma once
// RSA with PKCS #1 v1.5 block padding: type 2 (random non-zero) for public-key encryption, type 1
// (0xFF) for private-key encryption. Keys hold fixed-length big-endian numbers, right-aligned.
#include <array>
#include <cstdint>
#include <optional>

#include "agent/crypto/crypt_buffer.h"
#include "agent/crypto/random_pool.h"

namespace kelm::crypto {

constexpr unsigned kMinRsaBits = 508;
constexpr unsigned kMaxRsaBits = 1024;
constexpr std::size_t kMaxRsaLen = 128;
constexpr std::size_t kMaxRsaPrimeLen = 64;

struct RsaPublicKey {
  static constexpr std::size_t kSize = 260;
  std::uint32_t bits = 0;
  std::array<std::uint8_t, kMaxRsaLen> modulus{};
  std::array<std::uint8_t, kMaxRsaLen> exponent{};

  // The stored form: bit length (int32, little-endian), modulus, exponent.
  Bytes serialize() const;
  // Refuses a wrong size, a bit length out of range or a modulus that is not of that length.
  static std::optional<RsaPublicKey> parse(ByteView bytes);
  std::size_t blockLength() const { return (bits + 7) / 8; }
  bool operator==(const RsaPublicKey&) const = default;
};

struct RsaPrivateKey {
  static constexpr std::size_t kSize = 708;
  std::uint32_t bits = 0;
  std::array<std::uint8_t, kMaxRsaLen> modulus{};
  std::array<std::uint8_t, kMaxRsaLen> publicExponent{};
  std::array<std::uint8_t, kMaxRsaLen> exponent{};
  std::array<std::array<std::uint8_t, kMaxRsaPrimeLen>, 2> prime{};
  std::array<std::array<std::uint8_t, kMaxRsaPrimeLen>, 2> primeExponent{};
  std::array<std::uint8_t, kMaxRsaPrimeLen> coefficient{};

  ~RsaPrivateKey();
  RsaPrivateKey() = default;
  RsaPrivateKey(const RsaPrivateKey&) = default;
  RsaPrivateKey& operator=(const RsaPrivateKey&) = default;

  Bytes serialize() const;
  static std::optional<RsaPrivateKey> parse(ByteView bytes);
  RsaPublicKey publicKey() const;
  std::size_t blockLength() const { return (bits + 7) / 8; }
  bool operator==(const RsaPrivateKey&) const = default;
};

struct RsaKeyRequest {
  std::uint32_t bits = 512;
  std::uint32_t useFermat4 = 1;  // 0: exponent 3, otherwise 65537
};

// Low-level results: 0, kReModulusLen, kReNeedRandom, kReLen or kReData.
int rsaGenerateKeys(const RsaKeyRequest& request, RandomPool& pool, RsaPublicKey& pub, RsaPrivateKey& priv);
// One block each: the input is at most k - 11 bytes to encrypt, exactly k bytes to decrypt.
int rsaPublicEncryptBlock(ByteView in, const RsaPublicKey& key, RandomPool& pool, Bytes& out);
int rsaPrivateEncryptBlock(ByteView in, const RsaPrivateKey& key, Bytes& out);
int rsaPublicDecryptBlock(ByteView in, const RsaPublicKey& key, Bytes& out);
int rsaPrivateDecryptBlock(ByteView in, const RsaPrivateKey& key, Bytes& out);

// The wrappers: a 512-bit key pair with exponent 65537, in the stored 260- and 708-byte forms.
plat::HRESULT GenerateRsaKeyPair(CryptBuffer& publicKey, CryptBuffer& privateKey);
plat::HRESULT GenerateRsaKeyPair(CryptBuffer& publicKey, CryptBuffer& privateKey, RandomPool& pool,
                                 const RsaKeyRequest& request = {});
// Messages of any length: cut into pieces of k - 11 bytes, each piece one k-byte block. Decryption
// needs a multiple of k bytes. Every failure is E_FAIL with an empty output.
plat::HRESULT RsaPublicEncrypt(ByteView in, CryptBuffer& out, const RsaPublicKey& key);
plat::HRESULT RsaPublicEncrypt(ByteView in, CryptBuffer& out, const RsaPublicKey& key, RandomPool& pool);
plat::HRESULT RsaPrivateDecrypt(ByteView in, CryptBuffer& out, const RsaPrivateKey& key);
plat::HRESULT RsaPrivateEncrypt(ByteView in, CryptBuffer& out, const RsaPrivateKey& key);
plat::HRESULT RsaPublicDecrypt(ByteView in, CryptBuffer& out, const RsaPublicKey& key);

}  // namespace kelm::crypto
