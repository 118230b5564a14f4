#pragma once
// The hierarchical store: keys holding a default value and named values, one SQLite database
// per hive. Names compare case-insensitively and keep the spelling they were created with.
// Every write is one transaction, so a crash leaves the old or the new state; several processes
// may use a hive at once (a busy hive is waited for, up to a time-out).
//
// Paths are backslash-separated ("Software\\Kelm\\Agent"); empty components are ignored.
// The default value of a key is the value with the empty name.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/hresult.h"
#include "platform/base/result.h"

namespace plat::reg {

enum class Hive {
  LocalMachine,  // stateDir()/machine.db
  CurrentUser,   // userConfigDir()/user.db
  ClassesRoot,   // LocalMachine's Software\Classes
};

enum class Type : std::uint32_t {
  None = 0,
  String = 1,
  ExpandString = 2,
  Binary = 3,
  Dword = 4,
  MultiString = 7,
};

// What went wrong. A failed operation gives a plat::Error whose `code` is static_cast<int>(Status)
// (never Ok) and whose message names the key, the value and what failed; statusOf() reads it back.
enum class Status {
  Ok,
  NotFound,      // no such key or value (or the key was deleted meanwhile)
  AccessDenied,  // the hive is read-only for this process
  InvalidArg,    // bad name, path too deep, data too large
  Busy,          // another process held the hive past the busy time-out
  Failed,        // the hive could not be opened or is damaged
  WrongType,     // the value exists but holds another type than the one asked for
};

const char* statusText(Status s);
HRESULT toHresult(Status s);

// The Status an error of this layer carries (Failed for a code this layer does not give).
Status statusOf(const plat::Error& e);
template <class T>
Status statusOf(const plat::Result<T>& r) {
  return r.ok() ? Status::Ok : statusOf(r.error());
}
// True for "no such key or value", as opposed to a store that could not answer.
template <class T>
bool isNotFound(const plat::Result<T>& r) {
  return statusOf(r) == Status::NotFound;
}
template <class T>
HRESULT toHresult(const plat::Result<T>& r) {
  return toHresult(statusOf(r));
}

// Limits on what the store accepts, so that nothing read back is unbounded.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxDataSize = 1u << 20;
constexpr std::size_t kMaxDepth = 512;

// A value as stored. String data is UTF-8 without a terminator; a number is 4 bytes little-endian;
// a multi-string is each string followed by one NUL.
struct Value {
  std::string name;
  Type type = Type::None;
  std::vector<std::uint8_t> data;

  static Value string(std::string name, std::string_view s, Type t = Type::String);
  static Value dword(std::string name, std::uint32_t v);
  static Value binary(std::string name, std::vector<std::uint8_t> bytes);
  static Value multiString(std::string name, const std::vector<std::string>& items);

  // Each gives nothing when the value is of another type (String and ExpandString both read as text):
  // a type query whose "no" is an ordinary answer, not a failure.
  std::optional<std::string> asString() const;
  std::optional<std::uint32_t> asDword() const;
  std::optional<std::vector<std::string>> asMultiString() const;
};

// A handle to one key. Copyable; it names the key by identity, so a key deleted by anyone
// makes every further operation on the handle give NotFound. Every operation that can fail
// returns a plat::Result whose error carries a Status (see above).
class Key {
 public:
  Key() = default;  // not a key: every operation fails

  // Opens an existing key (an empty path is the hive's root).
  static plat::Result<Key> open(Hive hive, std::string_view path);
  // Opens a key, creating it and any missing parents.
  static plat::Result<Key> create(Hive hive, std::string_view path);

  plat::Result<Key> openSubKey(std::string_view path) const;
  plat::Result<Key> createSubKey(std::string_view path) const;

  bool valid() const { return id_ != 0; }
  Hive hive() const { return hive_; }
  // The key's path from its hive root, as it was asked for.
  const std::string& path() const { return path_; }
  // True while the key still exists in the store.
  bool exists() const;

  // Reading. A missing value is NotFound, a value of another type WrongType, and a hive that
  // cannot answer (busy, damaged) Busy or Failed, so "absent" and "broken" stay apart.
  plat::Result<Value> getValue(std::string_view name) const;
  plat::Result<std::string> getString(std::string_view name) const;  // String or ExpandString
  plat::Result<std::uint32_t> getDword(std::string_view name) const;
  plat::Result<std::vector<std::uint8_t>> getBinary(std::string_view name) const;
  plat::Result<std::vector<std::string>> getMultiString(std::string_view name) const;

  // Writing: each replaces the value (and its type) in one transaction.
  plat::Result<void> setValue(const Value& v) const;
  // Several values in one transaction (a page that saves many settings at once): every value is
  // checked first, and either all are written or, on any failure, none.
  plat::Result<void> setValues(std::span<const Value> values) const;
  plat::Result<void> setString(std::string_view name, std::string_view s) const;
  plat::Result<void> setExpandString(std::string_view name, std::string_view s) const;
  plat::Result<void> setDword(std::string_view name, std::uint32_t v) const;
  plat::Result<void> setBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) const;
  plat::Result<void> setMultiString(std::string_view name, const std::vector<std::string>& items) const;
  // NotFound when there was no such value.
  plat::Result<void> deleteValue(std::string_view name) const;

  // Deletes a subkey (a path below this key) with everything under it; NotFound when there is none.
  plat::Result<void> deleteSubKey(std::string_view path) const;

  // Enumeration: subkeys in name order (case-insensitive), values in creation order. By index,
  // nothing past the end (the end of a list is an ordinary answer). A key that was deleted is
  // NotFound, and a hive that cannot answer or a stored value that is damaged fails the listing, so
  // a broken store never reads as an empty key.
  plat::Result<std::optional<std::string>> subKeyName(std::size_t index) const;
  plat::Result<std::optional<Value>> valueAt(std::size_t index) const;
  plat::Result<std::vector<std::string>> subKeyNames() const;
  plat::Result<std::vector<Value>> values() const;
  plat::Result<std::size_t> subKeyCount() const;
  plat::Result<std::size_t> valueCount() const;

 private:
  Key(Hive hive, std::int64_t id, std::string path) : hive_(hive), id_(id), path_(std::move(path)) {}
  // Creates the missing keys of `parts` below `parent` in one transaction.
  static plat::Result<Key> createBelow(Hive hive, std::int64_t parent, const std::vector<std::string_view>& parts,
                                       std::string path);
  Hive hive_ = Hive::LocalMachine;
  std::int64_t id_ = 0;
  std::string path_;
};

// The file holding a hive (ClassesRoot lives in LocalMachine's file).
std::filesystem::path hiveFile(Hive hive);

// Deletes the key at a path from the hive root, with everything under it; NotFound when there is none.
plat::Result<void> deleteKey(Hive hive, std::string_view path);

// How long a busy hive is waited for before Busy (default 5000 ms).
void setBusyTimeoutMs(int ms);

}  // namespace plat::reg
