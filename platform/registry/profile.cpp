#include "platform/registry/profile.h"

namespace plat::reg {

Profile::Profile(std::string registryKey, std::string appName, Hive hive)
    : hive_(hive), appPath_("Software\\" + registryKey + "\\" + appName) {}

std::optional<Key> Profile::openSection(std::string_view section) const {
  return Key::open(hive_, appPath_ + "\\" + std::string(section));
}

std::optional<Key> Profile::createSection(std::string_view section) const {
  return Key::create(hive_, appPath_ + "\\" + std::string(section));
}

std::string Profile::getString(std::string_view section, std::string_view entry, std::string_view def) const {
  auto key = openSection(section);
  if (!key) return std::string(def);
  auto s = key->getString(entry);
  return s ? *s : std::string(def);
}

int Profile::getInt(std::string_view section, std::string_view entry, int def) const {
  auto key = openSection(section);
  if (!key) return def;
  auto v = key->getDword(entry);
  return v ? static_cast<int>(*v) : def;
}

std::optional<std::vector<std::uint8_t>> Profile::getBinary(std::string_view section, std::string_view entry) const {
  auto key = openSection(section);
  if (!key) return std::nullopt;
  return key->getBinary(entry);
}

bool Profile::writeString(std::string_view section, std::string_view entry, std::string_view value) const {
  auto key = createSection(section);
  return key && key->setString(entry, value) == Status::Ok;
}

bool Profile::writeInt(std::string_view section, std::string_view entry, int value) const {
  auto key = createSection(section);
  return key && key->setDword(entry, static_cast<std::uint32_t>(value)) == Status::Ok;
}

bool Profile::writeBinary(std::string_view section, std::string_view entry,
                          const std::vector<std::uint8_t>& value) const {
  auto key = createSection(section);
  return key && key->setBinary(entry, value) == Status::Ok;
}

bool Profile::deleteEntry(std::string_view section, std::string_view entry) const {
  auto key = openSection(section);
  if (!key) return true;
  Status st = key->deleteValue(entry);
  return st == Status::Ok || st == Status::NotFound;
}

bool Profile::deleteSection(std::string_view section) const {
  auto key = openSection(section);
  if (!key) return true;
  if (key->subKeyCount() == 0) {
    auto app = Key::open(hive_, appPath_);
    if (!app) return true;
    Status st = app->deleteSubKey(section);
    return st == Status::Ok || st == Status::NotFound;
  }
  bool ok = true;
  for (;;) {
    auto v = key->valueAt(0);
    if (!v) break;
    if (key->deleteValue(v->name) != Status::Ok) {
      ok = false;
      break;
    }
  }
  return ok;
}

}  // namespace plat::reg
