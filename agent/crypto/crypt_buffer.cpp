#include "agent/crypto/crypt_buffer.h"

#include <new>
#include <stdexcept>

namespace kelm::crypto {

void secureZero(void* p, std::size_t n) {
  volatile std::uint8_t* v = static_cast<volatile std::uint8_t*>(p);
  while (n--) *v++ = 0;
}

plat::HRESULT AllocCryptBuffer(CryptBuffer& buffer, std::size_t size) {
  buffer.clear();
  try {
    buffer.bytes().assign(size, 0);
  } catch (const std::bad_alloc&) {
    return plat::E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return plat::E_OUTOFMEMORY;
  }
  return plat::S_OK;
}

void FreeCryptBuffer(CryptBuffer& buffer) { buffer.clear(); }

}  // namespace kelm::crypto
