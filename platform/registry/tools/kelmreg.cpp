// kelmreg: reads and writes the registry hives from the command line.
//
//   kelmreg query KEY [NAME]            one line per value "NAME    TYPE    DATA", then the subkeys
//   kelmreg set KEY NAME TYPE DATA      TYPE: sz expand_sz dword binary multi_sz
//   kelmreg delete KEY [NAME]           a value, or the key with everything under it
//   kelmreg export KEY                  the key and everything under it, as text
//
// KEY starts with HKLM, HKCU or HKCR; NAME @ is the default value. Binary DATA is hex,
// multi_sz DATA is split at \0, dword DATA is decimal or 0x hex.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/value_text.h"

using namespace plat::reg;

namespace {

struct Target {
  Hive hive;
  std::string root;  // as typed on the command line, for output
  std::string path;
};

std::optional<Target> parseKey(std::string_view key) {
  std::string_view head = key.substr(0, key.find('\\'));
  std::string_view rest = head.size() < key.size() ? key.substr(head.size() + 1) : std::string_view();
  std::string h(head);
  for (char& c : h) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Target t;
  if (h == "HKLM" || h == "HKEY_LOCAL_MACHINE")
    t.hive = Hive::LocalMachine, t.root = "HKLM";
  else if (h == "HKCU" || h == "HKEY_CURRENT_USER")
    t.hive = Hive::CurrentUser, t.root = "HKCU";
  else if (h == "HKCR" || h == "HKEY_CLASSES_ROOT")
    t.hive = Hive::ClassesRoot, t.root = "HKCR";
  else
    return std::nullopt;
  t.path = std::string(rest);
  return t;
}

std::string valueName(std::string_view arg) { return arg == "@" ? std::string() : std::string(arg); }

const char* typeName(Type t) {
  switch (t) {
    case Type::String:
      return "sz";
    case Type::ExpandString:
      return "expand_sz";
    case Type::Dword:
      return "dword";
    case Type::Binary:
      return "binary";
    case Type::MultiString:
      return "multi_sz";
    default:
      return "none";
  }
}

// Control characters would break the one-line-per-value output.
std::string printable(std::string_view s) {
  std::string out;
  for (char c : s) out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c);
  return out;
}

std::string hex(const std::vector<std::uint8_t>& b) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (auto x : b) out += {digits[x >> 4], digits[x & 15]};
  return out;
}

std::string dataText(const Value& v) {
  switch (v.type) {
    case Type::String:
    case Type::ExpandString:
      return printable(v.asString().value_or(""));
    case Type::Dword: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%08x", v.asDword().value_or(0));
      return buf;
    }
    case Type::MultiString: {
      std::string out;
      auto items = v.asMultiString().value_or(std::vector<std::string>{});
      for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "\\0" : "") + printable(items[i]);
      return out;
    }
    default:
      return hex(v.data);
  }
}

void printValue(const Value& v) {
  std::printf("%s    %s    %s\n", v.name.empty() ? "@" : printable(v.name).c_str(), typeName(v.type),
              dataText(v).c_str());
}

std::string fullName(const Target& t, const std::string& path) { return path.empty() ? t.root : t.root + "\\" + path; }

int fail(const std::string& why) {
  std::fprintf(stderr, "kelmreg: %s\n", why.c_str());
  return 1;
}

// "no such key" when it is absent, else what kept it from being opened.
int failOpen(const Target& t, const plat::Result<Key>& key) {
  return fail(isNotFound(key) ? "no such key: " + fullName(t, t.path) : key.message());
}

int usage() {
  std::fprintf(stderr,
               "usage: kelmreg query KEY [NAME]\n"
               "       kelmreg set KEY NAME TYPE DATA   (TYPE: sz expand_sz dword binary multi_sz)\n"
               "       kelmreg delete KEY [NAME]\n"
               "       kelmreg export KEY\n"
               "KEY starts with HKLM, HKCU or HKCR; NAME @ is the default value\n");
  return 2;
}

std::optional<Value> parseData(std::string name, std::string_view type, std::string_view data) {
  if (type == "sz") return Value::string(std::move(name), data);
  if (type == "expand_sz") return Value::string(std::move(name), data, Type::ExpandString);
  if (type == "dword") {
    auto v = parseDwordText(data);
    if (!v) return std::nullopt;
    return Value::dword(std::move(name), *v);
  }
  if (type == "binary") {
    auto bytes = parseHexText(data);
    if (!bytes) return std::nullopt;
    return Value::binary(std::move(name), std::move(*bytes));
  }
  if (type == "multi_sz") return Value::multiString(std::move(name), splitMultiText(data));
  return std::nullopt;
}

// Export text: a [KEY] line, then one "NAME"=type:data line per value, then the subkeys.
std::string quotedText(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

// A listing that fails part way is an error: an export that silently missed a key would mislead.
plat::Result<void> exportKey(const Target& t, const Key& key, int depth) {
  auto values = key.values();
  if (!values) return values.error();
  auto subKeys = key.subKeyNames();
  if (!subKeys) return subKeys.error();
  std::printf("[%s]\n", printable(fullName(t, key.path())).c_str());
  for (const auto& v : *values) {
    std::string name = v.name.empty() ? "@" : quotedText(printable(v.name));
    std::string data =
        v.type == Type::String ? quotedText(dataText(v)) : std::string(typeName(v.type)) + ":" + dataText(v);
    std::printf("%s=%s\n", name.c_str(), data.c_str());
  }
  std::printf("\n");
  if (depth >= static_cast<int>(kMaxDepth)) return plat::success();
  for (const auto& sub : *subKeys) {
    auto k = key.openSubKey(sub);
    if (!k) {
      if (plat::reg::isNotFound(k)) continue;  // deleted meanwhile
      return k.error();
    }
    if (auto done = exportKey(t, *k, depth + 1); !done) return done;
  }
  return plat::success();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string_view cmd = argv[1];
  auto t = parseKey(argv[2]);
  if (!t) return fail(std::string("the key must start with HKLM, HKCU or HKCR: ") + argv[2]);

  if (cmd == "query" && argc <= 4) {
    auto key = Key::open(t->hive, t->path);
    if (!key) return failOpen(*t, key);
    if (argc == 4) {
      auto v = key->getValue(valueName(argv[3]));
      if (!v) return fail(isNotFound(v) ? std::string("no such value: ") + argv[3] : v.message());
      printValue(*v);
      return 0;
    }
    auto values = key->values();
    if (!values) return fail(values.message());
    auto subKeys = key->subKeyNames();
    if (!subKeys) return fail(subKeys.message());
    for (const auto& v : *values) printValue(v);
    for (const auto& sub : *subKeys)
      std::printf("%s\n", printable(fullName(*t, key->path().empty() ? sub : key->path() + "\\" + sub)).c_str());
    return 0;
  }
  if (cmd == "set" && argc == 6) {
    auto v = parseData(valueName(argv[3]), argv[4], argv[5]);
    if (!v) return fail(std::string("bad ") + argv[4] + " data (or unknown type): " + argv[5]);
    auto key = Key::create(t->hive, t->path);
    // The store's messages name the key and the value themselves.
    if (!key) return fail("cannot create: " + key.message());
    if (auto set = key->setValue(*v); !set) return fail("cannot set: " + set.message());
    return 0;
  }
  if (cmd == "delete" && argc <= 4) {
    plat::Result<void> gone;
    if (argc == 4) {
      auto key = Key::open(t->hive, t->path);
      if (!key) return failOpen(*t, key);
      gone = key->deleteValue(valueName(argv[3]));
    } else {
      gone = deleteKey(t->hive, t->path);
    }
    if (!gone) return fail("cannot delete: " + gone.message());
    return 0;
  }
  if (cmd == "export" && argc == 3) {
    auto key = Key::open(t->hive, t->path);
    if (!key) return failOpen(*t, key);
    if (auto done = exportKey(*t, *key, 0); !done) {
      std::fflush(stdout);
      return fail("export stopped: " + done.message());
    }
    return 0;
  }
  return usage();
}
