#pragma once
// The application profile: sections of entries under
// <hive>\Software\<registry key>\<application>\<section>. A section name with backslashes is a
// path of nested keys. Missing entries read as the caller's default.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace plat::reg {

class Profile {
 public:
  // registryKey is the maker's key ("Velkari Technology Inc."), appName the program's profile name.
  Profile(std::string registryKey, std::string appName, Hive hive = Hive::CurrentUser);

  // Text entries (String or ExpandString); anything else, a missing entry or a store that cannot
  // answer, gives the default: these read settings that always have one.
  std::string getString(std::string_view section, std::string_view entry, std::string_view def = {}) const;
  // Number entries (32-bit); anything else gives the default.
  int getInt(std::string_view section, std::string_view entry, int def) const;
  // Binary entries, failing as Key::getBinary does (NotFound also for a missing section).
  plat::Result<std::vector<std::uint8_t>> getBinary(std::string_view section, std::string_view entry) const;

  // Each creates the section as needed.
  plat::Result<void> writeString(std::string_view section, std::string_view entry, std::string_view value) const;
  plat::Result<void> writeInt(std::string_view section, std::string_view entry, int value) const;
  plat::Result<void> writeBinary(std::string_view section, std::string_view entry,
                                 const std::vector<std::uint8_t>& value) const;
  // Removes one entry; succeeds when it is gone (also when it was never there).
  plat::Result<void> deleteEntry(std::string_view section, std::string_view entry) const;

  // Replaces a section's entries with these (a settings page saved as a whole): all are written in
  // one transaction first, then the entries they do not name are removed, so a failure leaves the
  // old entries or the new ones, never an emptied section.
  plat::Result<void> replaceSection(std::string_view section, std::span<const Value> entries) const;

  // A section without subsections is deleted with its entries; one with subsections keeps them
  // and loses all its own entries. Succeeds when the section is gone or empty afterwards.
  plat::Result<void> deleteSection(std::string_view section) const;

  // The application's key path below the hive root: "Software\<registry key>\<application>".
  const std::string& appKeyPath() const { return appPath_; }
  Hive hive() const { return hive_; }
  plat::Result<Key> openSection(std::string_view section) const;

 private:
  plat::Result<Key> createSection(std::string_view section) const;
  Hive hive_;
  std::string appPath_;
};

}  // namespace plat::reg
