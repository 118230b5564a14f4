#pragma once
// Enumerators of text lines. The lines come back as owned strings: no caller buffers to overrun.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/object.h"

namespace plat::com {

struct IEnumString : IUnknown {
  static constexpr Guid kIid = guid("{00000101-0000-0000-C000-000000000046}");
  // Replaces out with up to count lines from the current position and advances past them.
  virtual HRESULT Next(std::uint32_t count, std::vector<std::string>& out) = 0;
  virtual HRESULT Skip(std::uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  // A new enumerator over the same lines at the same position, with one reference for the caller.
  virtual HRESULT Clone(IEnumString** out) = 0;
};

// Enumerates a fixed list of lines. Next answers S_OK when it gave all it was asked for, else
// S_FALSE; Skip likewise. Clones share the list.
class StringEnumerator final : public Object<IEnumString> {
 public:
  explicit StringEnumerator(std::vector<std::string> lines)
      : lines_(std::make_shared<const std::vector<std::string>>(std::move(lines))) {}

  HRESULT Next(std::uint32_t count, std::vector<std::string>& out) override;
  HRESULT Skip(std::uint32_t count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumString** out) override;

 private:
  StringEnumerator(std::shared_ptr<const std::vector<std::string>> lines, std::size_t pos)
      : lines_(std::move(lines)), pos_(pos) {}
  std::shared_ptr<const std::vector<std::string>> lines_;
  std::size_t pos_ = 0;
};

}  // namespace plat::com
