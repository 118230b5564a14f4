#pragma once
// Test helper: a result's value as an optional, so a test compares it (and a failure prints it)
// as it would an optional: a failed result is nullopt.
#include <optional>
#include <utility>

#include "platform/base/result.h"

namespace plat::testing {

template <class T>
std::optional<T> valueOf(Result<T> r) {
  if (!r) return std::nullopt;
  return std::move(r).value();
}

}  // namespace plat::testing
