#pragma once
// The project's one way for an internal function to fail: a value, or an error code with a message.
// Interfaces that promise HRESULTs or result codes keep them; everything behind them returns this.
//
// What returns Result: every function that can fail for a reason someone may need to read (a system
// call, a file, a device, a peer, input from outside that is decoded), and every function with a
// "how much" answer that can also fail (the count moved, the bytes answered): the count is the value.
// No null-plus-error-string, status out-parameter, failure enum member or bare optional for these.
//
// What may stay a bool or an optional: a pure question whose "no" is an ordinary answer, never a
// failure (is it open, does anyone hold the mutex, which timer is due first, was there such a
// request to answer), and a parse of one short token whose only "no" is "not in this form" (a
// GUID, a version text, a 32-bit number): the caller names the token in its own message, and
// Result cannot be constexpr where such a parse must be.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace plat {

struct Error {
  int code = 0;  // an errno value, an HRESULT, or a code the caller documents
  std::string message;
};

// An error from errno as it stands now, prefixed with what was being done.
inline Error errnoError(const std::string& what, int err = errno) {
  return Error{err, what + ": " + std::strerror(err)};
}

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit on purpose
  Result(Error error) : error_(std::move(error)) {}  // NOLINT

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }

  // Only on success: asking a failure for its value is a bug, and stops the process with the error.
  T& value() & { return checked(); }
  const T& value() const& { return const_cast<Result*>(this)->checked(); }
  T&& value() && { return std::move(checked()); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }
  T valueOr(T fallback) && { return ok() ? std::move(*value_) : std::move(fallback); }

  // Empty (code 0) on success.
  const Error& error() const { return error_; }
  int code() const { return error_.code; }
  const std::string& message() const { return error_.message; }

 private:
  T& checked() {
    if (!value_) {
      std::fprintf(stderr, "value of a failed result: %s\n", error_.message.c_str());
      std::abort();
    }
    return *value_;
  }

  std::optional<T> value_;
  Error error_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }
  int code() const { return failed_ ? error_.code : 0; }
  const std::string& message() const { return error_.message; }

 private:
  Error error_;
  bool failed_ = false;
};

// The same error with what was being done put in front ("reading 'Port': ...").
inline Error prefixed(std::string_view what, Error error) {
  error.message = std::string(what) + ": " + error.message;
  return error;
}

// Success of a Result<void>.
inline Result<void> success() { return {}; }

}  // namespace plat
