#include "platform/com/enum_string.h"

#include <algorithm>
#include <new>

namespace plat::com {

HRESULT StringEnumerator::Next(std::uint32_t count, std::vector<std::string>& out) {
  out.clear();
  std::size_t n = std::min<std::size_t>(count, lines_->size() - pos_);
  out.assign(lines_->begin() + static_cast<std::ptrdiff_t>(pos_),
             lines_->begin() + static_cast<std::ptrdiff_t>(pos_ + n));
  pos_ += n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT StringEnumerator::Skip(std::uint32_t count) {
  std::size_t n = std::min<std::size_t>(count, lines_->size() - pos_);
  pos_ += n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT StringEnumerator::Reset() {
  pos_ = 0;
  return S_OK;
}

HRESULT StringEnumerator::Clone(IEnumString** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* e = new (std::nothrow) StringEnumerator(lines_, pos_);
  if (!e) return E_OUTOFMEMORY;
  e->AddRef();
  *out = e;
  return S_OK;
}

}  // namespace plat::com
