#include "serialapi/settings.h"

#include "platform/registry/registry.h"

namespace glimmora {
namespace {

// The values are read by size, whatever type they were stored with; a value too short is absent.
std::optional<std::uint32_t> fourBytes(const plat::reg::Key& key, const char* name) {
  auto v = key.getValue(name);
  if (!v || v->data.size() < 4) return std::nullopt;
  return static_cast<std::uint32_t>(v->data[0]) | static_cast<std::uint32_t>(v->data[1]) << 8 |
         static_cast<std::uint32_t>(v->data[2]) << 16 | static_cast<std::uint32_t>(v->data[3]) << 24;
}

}  // namespace

Settings readRegistrySettings() {
  Settings s;
  auto key = plat::reg::Key::open(plat::reg::Hive::CurrentUser, "VelkariRaidApiCfg\\comport");
  if (!key) return s;
  s.port = fourBytes(*key, "port");
  s.flag = fourBytes(*key, "flag");
  if (auto n = fourBytes(*key, "number")) s.number = static_cast<std::int32_t>(*n);
  if (auto v = key->getValue("autoconnect"); v && !v->data.empty()) s.autoconnect = v->data[0];
  return s;
}

}  // namespace glimmora
