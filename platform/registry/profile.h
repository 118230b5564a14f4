#pragma once
// The application profile: sections of entries under
// <hive>\Software\<registry key>\<application>\<section>. A section name with backslashes is a
// path of nested keys. Missing entries read as the caller's default.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace plat::reg {

class Profile {
 public:
  // registryKey is the maker's key ("Velkari Technology Inc."), appName the program's profile name.
  Profile(std::string registryKey, std::string appName, Hive hive = Hive::CurrentUser);

  // Text entries (String or ExpandString); anything else, or a missing entry, gives the default.
  std::string getString(std::string_view section, std::string_view entry, std::string_view def = {}) const;
  // Number entries (32-bit); anything else gives the default.
  int getInt(std::string_view section, std::string_view entry, int def) const;
  // Binary entries; nothing when missing or of another type.
  std::optional<std::vector<std::uint8_t>> getBinary(std::string_view section, std::string_view entry) const;

  // Each creates the section as needed; true when written.
  bool writeString(std::string_view section, std::string_view entry, std::string_view value) const;
  bool writeInt(std::string_view section, std::string_view entry, int value) const;
  bool writeBinary(std::string_view section, std::string_view entry, const std::vector<std::uint8_t>& value) const;
  // Removes one entry; true when it is gone (also when it was never there).
  bool deleteEntry(std::string_view section, std::string_view entry) const;

  // A section without subsections is deleted with its entries; one with subsections keeps them
  // and loses all its own entries. True when the section is gone or empty afterwards.
  bool deleteSection(std::string_view section) const;

  // The application's key path below the hive root: "Software\<registry key>\<application>".
  const std::string& appKeyPath() const { return appPath_; }
  Hive hive() const { return hive_; }
  std::optional<Key> openSection(std::string_view section) const;

 private:
  std::optional<Key> createSection(std::string_view section) const;
  Hive hive_;
  std::string appPath_;
};

}  // namespace plat::reg
