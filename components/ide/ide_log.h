#pragma once
// Where the component's failures go: the system log, unless a test replaces it. Every line names
// what failed and, in parentheses, why.
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/base/result.h"

namespace tirrow {

// Replaces the log (null: the system log again) and forgets which failures were logged.
void SetErrorLog(std::function<void(const std::string&)> log);
void LogError(const std::string& text);

// "text (reason)".
std::string WithReason(std::string_view text, const plat::Error& error);

// Requests the poll repeats every second would fill the log while a driver stays unwell: a failure
// of `what` is logged when it begins or its reason changes, and a success of `what` ends it.
void LogFailureOnce(const std::string& what, const plat::Error& error);
void ClearFailure(const std::string& what);

// The value, or (logged as above) the fallback the caller shows for a failed request.
template <class T>
T ValueOrLogOnce(plat::Result<T> result, T fallback, const std::string& what) {
  if (!result) {
    LogFailureOnce(what, result.error());
    return fallback;
  }
  ClearFailure(what);
  return std::move(*result);
}

// Whether it worked; a failure logged as above.
inline bool OkOrLogOnce(const plat::Result<void>& result, const std::string& what) {
  if (!result) {
    LogFailureOnce(what, result.error());
    return false;
  }
  ClearFailure(what);
  return true;
}

}  // namespace tirrow
