#include "platform/registry/profile.h"

#include <algorithm>
#include <cctype>

namespace plat::reg {

Profile::Profile(std::string registryKey, std::string appName, Hive hive)
    : hive_(hive), appPath_("Software\\" + registryKey + "\\" + appName) {}

Result<Key> Profile::openSection(std::string_view section) const {
  return Key::open(hive_, appPath_ + "\\" + std::string(section));
}

Result<Key> Profile::createSection(std::string_view section) const {
  return Key::create(hive_, appPath_ + "\\" + std::string(section));
}

std::string Profile::getString(std::string_view section, std::string_view entry, std::string_view def) const {
  auto key = openSection(section);
  if (!key) return std::string(def);
  return key->getString(entry).valueOr(std::string(def));
}

int Profile::getInt(std::string_view section, std::string_view entry, int def) const {
  auto key = openSection(section);
  if (!key) return def;
  auto v = key->getDword(entry);
  return v ? static_cast<int>(*v) : def;
}

Result<std::vector<std::uint8_t>> Profile::getBinary(std::string_view section, std::string_view entry) const {
  auto key = openSection(section);
  if (!key) return key.error();
  return key->getBinary(entry);
}

namespace {

// Writes one value into a section created as needed.
Result<void> writeValue(const Result<Key>& section, const Value& v) {
  if (!section) return section.error();
  return section->setValue(v);
}

Result<void> goneIsFine(Result<void> r) { return isNotFound(r) ? success() : r; }

}  // namespace

Result<void> Profile::writeString(std::string_view section, std::string_view entry, std::string_view value) const {
  return writeValue(createSection(section), Value::string(std::string(entry), value));
}

Result<void> Profile::writeInt(std::string_view section, std::string_view entry, int value) const {
  return writeValue(createSection(section), Value::dword(std::string(entry), static_cast<std::uint32_t>(value)));
}

Result<void> Profile::writeBinary(std::string_view section, std::string_view entry,
                                  const std::vector<std::uint8_t>& value) const {
  return writeValue(createSection(section), Value::binary(std::string(entry), value));
}

Result<void> Profile::deleteEntry(std::string_view section, std::string_view entry) const {
  auto key = openSection(section);
  if (!key) return isNotFound(key) ? success() : Result<void>(key.error());
  return goneIsFine(key->deleteValue(entry));
}

Result<void> Profile::replaceSection(std::string_view section, std::span<const Value> entries) const {
  auto key = createSection(section);
  if (!key) return key.error();
  if (auto written = key->setValues(entries); !written) return written;
  const auto sameName = [](std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
  };
  auto stored = key->values();
  if (!stored) return stored.error();
  for (const Value& old : *stored) {
    const bool kept =
        std::any_of(entries.begin(), entries.end(), [&](const Value& e) { return sameName(e.name, old.name); });
    if (kept) continue;
    if (auto gone = goneIsFine(key->deleteValue(old.name)); !gone) return gone;
  }
  return success();
}

Result<void> Profile::deleteSection(std::string_view section) const {
  auto key = openSection(section);
  if (!key) return isNotFound(key) ? success() : Result<void>(key.error());
  auto subKeys = key->subKeyCount();
  if (!subKeys) return goneIsFine(Result<void>(subKeys.error()));
  if (*subKeys == 0) {
    auto app = Key::open(hive_, appPath_);
    if (!app) return isNotFound(app) ? success() : Result<void>(app.error());
    return goneIsFine(app->deleteSubKey(section));
  }
  auto entries = key->values();
  if (!entries) return goneIsFine(Result<void>(entries.error()));
  for (const Value& v : *entries) {
    if (auto gone = goneIsFine(key->deleteValue(v.name)); !gone) return gone;
  }
  return success();
}

}  // namespace plat::reg
