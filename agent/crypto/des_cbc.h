#pragma once
// DES (FIPS 46) in CBC mode (FIPS 81) with PKCS #5 padding and the toolkit's fixed initialisation vector.
#include <array>
#include <cstdint>

#include "agent/crypto/crypt_buffer.h"

namespace kelm::crypto {

// The fixed initialisation vector: the first eight characters of "marlock 4 1".
inline constexpr std::array<std::uint8_t, 8> kDesIv = {'m', 'a', 'r', 'l', 'o', 'c', 'k', ' '};

// One DES key schedule; blocks are 8 big-endian bytes.
class DesKey {
 public:
  explicit DesKey(const std::uint8_t key[8]);
  ~DesKey();
  void encryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const;
  void decryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const;

 private:
  std::uint64_t crypt(std::uint64_t block, bool decrypt) const;
  std::uint64_t subkeys_[16];
};

// Raw CBC over whole blocks (no padding); false when the input is not a multiple of 8 bytes.
bool desCbcRaw(const std::uint8_t key[8], const std::uint8_t iv[8], ByteView in, Bytes& out, bool encrypt);

// Encrypt: pads to the next multiple of 8 (a full block of 8 when already a multiple) and encrypts.
// Decrypt: needs a non-empty multiple of 8 bytes and a padding whose last byte p <= 8 is repeated p times.
// Low-level result: 0, kReLen or kReData; `out` is left empty on failure.
int desCbcCrypt(const std::uint8_t key[8], ByteView in, Bytes& out, bool encrypt);

// The wrapper: S_OK, or E_FAIL with an empty output buffer.
plat::HRESULT DesCbc(const std::uint8_t key[8], ByteView in, CryptBuffer& out, bool encrypt);

}  // namespace kelm::crypto
