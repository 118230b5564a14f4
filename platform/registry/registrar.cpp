#include "platform/registry/registrar.h"

#include <cctype>
#include <optional>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/value_text.h"

namespace plat::reg {
namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

enum class Flag { None, ForceRemove, NoRemove, Delete };

struct Node {
  bool isValue = false;
  Flag flag = Flag::None;
  std::string name;
  std::optional<Value> value;  // a key's default value, or the named value
  std::vector<Node> children;
};

struct Root {
  Hive hive;
  std::vector<Node> children;
};

struct Token {
  enum Kind { End, Open, Close, Equals, Word } kind = End;
  std::string text;
  bool quoted = false;
  int line = 1;
};

class Parser {
 public:
  Parser(std::string_view src, const std::map<std::string, std::string>& repl) : src_(src), repl_(repl) {}

  std::optional<std::vector<Root>> parse() {
    std::vector<Root> roots;
    advance();
    while (tok_.kind != Token::End) {
      if (!ok_) return std::nullopt;
      if (tok_.kind != Token::Word) return fail("expected a root key");
      std::optional<Hive> hive;
      std::string r = upper(tok_.text);
      if (r == "HKCR" || r == "HKEY_CLASSES_ROOT")
        hive = Hive::ClassesRoot;
      else if (r == "HKLM" || r == "HKEY_LOCAL_MACHINE")
        hive = Hive::LocalMachine;
      else if (r == "HKCU" || r == "HKEY_CURRENT_USER")
        hive = Hive::CurrentUser;
      if (!hive) return fail("unknown root key '" + tok_.text + "'");
      advance();
      Root root{*hive, {}};
      if (tok_.kind == Token::Open) {
        advance();
        if (!body(root.children, 1)) return std::nullopt;
      }
      roots.push_back(std::move(root));
    }
    if (!ok_) return std::nullopt;
    return roots;
  }

  const std::string& error() const { return error_; }

 private:
  // Parses entries up to the closing brace (which it consumes).
  bool body(std::vector<Node>& out, int depth) {
    if (depth > Registrar::kMaxNesting) return failB("keys nested too deeply");
    for (;;) {
      if (!ok_) return false;
      if (tok_.kind == Token::Close) {
        advance();
        return ok_;
      }
      if (tok_.kind != Token::Word) return failB("expected a key name or '}'");
      Node n;
      if (!tok_.quoted) {
        std::string w = upper(tok_.text);
        if (w == "FORCEREMOVE")
          n.flag = Flag::ForceRemove;
        else if (w == "NOREMOVE")
          n.flag = Flag::NoRemove;
        else if (w == "DELETE")
          n.flag = Flag::Delete;
        else if (w == "VAL")
          n.isValue = true;
        if (n.flag != Flag::None || n.isValue) {
          advance();
          if (tok_.kind != Token::Word) return failB("expected a name after '" + w + "'");
        }
      }
      n.name = tok_.text;
      advance();
      if (tok_.kind == Token::Equals) {
        advance();
        if (!valueSpec(n)) return false;
      } else if (n.isValue) {
        return failB("expected '=' after the value name '" + n.name + "'");
      }
      if (tok_.kind == Token::Open) {
        if (n.isValue) return failB("a value cannot have subkeys");
        advance();
        if (!body(n.children, depth + 1)) return false;
      }
      out.push_back(std::move(n));
    }
  }

  bool valueSpec(Node& n) {
    if (tok_.kind != Token::Word || tok_.quoted) return failB("expected a value type (s, d, b or m)");
    std::string type = upper(tok_.text);
    advance();
    if (tok_.kind != Token::Word) return failB("expected the value's data");
    const std::string& data = tok_.text;
    std::string name = n.isValue ? n.name : std::string();
    if (type == "S") {
      n.value = Value::string(name, data);
    } else if (type == "D") {
      auto v = parseDwordText(data);
      if (!v) return failB("'" + data + "' is not a 32-bit number");
      n.value = Value::dword(name, *v);
    } else if (type == "B") {
      auto bytes = parseHexText(data);
      if (!bytes) return failB("'" + data + "' is not an even number of hex digits");
      n.value = Value::binary(name, std::move(*bytes));
    } else if (type == "M") {
      n.value = Value::multiString(name, splitMultiText(data));
    } else {
      return failB("unknown value type '" + type + "'");
    }
    advance();
    return ok_;
  }

  void advance() {
    if (!ok_) return;
    while (pos_ < src_.size() && std::isspace(static_cast<unsigned char>(src_[pos_]))) {
      if (src_[pos_] == '\n') ++line_;
      ++pos_;
    }
    tok_ = Token{};
    tok_.line = line_;
    if (pos_ >= src_.size()) return;
    char c = src_[pos_];
    if (c == '{' && isGuidAt(pos_)) {
      tok_.kind = Token::Word;
      tok_.text = std::string(src_.substr(pos_, kGuidLength));
      pos_ += kGuidLength;
      return;
    }
    if (c == '{' || c == '}' || c == '=') {
      tok_.kind = c == '{' ? Token::Open : c == '}' ? Token::Close : Token::Equals;
      ++pos_;
      return;
    }
    tok_.kind = Token::Word;
    std::string raw;
    if (c == '\'') {
      tok_.quoted = true;
      ++pos_;
      for (;;) {
        if (pos_ >= src_.size()) {
          fail("unterminated quoted text");
          return;
        }
        char d = src_[pos_++];
        if (d == '\n') ++line_;
        if (d == '\'') {
          if (pos_ < src_.size() && src_[pos_] == '\'') {
            raw.push_back('\'');
            ++pos_;
            continue;
          }
          break;
        }
        raw.push_back(d);
      }
    } else {
      while (pos_ < src_.size()) {
        char d = src_[pos_];
        if (std::isspace(static_cast<unsigned char>(d)) || d == '{' || d == '}' || d == '=' || d == '\'') break;
        raw.push_back(d);
        ++pos_;
      }
    }
    auto text = substitute(raw);
    if (text) tok_.text = std::move(*text);
  }

  // A key named by a class identifier, {8-4-4-4-12 hex digits}, is a name, not a block.
  static constexpr std::size_t kGuidLength = 38;
  bool isGuidAt(std::size_t at) const {
    if (src_.size() - at < kGuidLength) return false;
    for (std::size_t i = 1; i < kGuidLength - 1; ++i) {
      char ch = src_[at + i];
      bool dash = i == 9 || i == 14 || i == 19 || i == 24;
      if (dash ? ch != '-' : !std::isxdigit(static_cast<unsigned char>(ch))) return false;
    }
    return src_[at + kGuidLength - 1] == '}';
  }

  std::optional<std::string> substitute(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '%') {
        out.push_back(raw[i]);
        continue;
      }
      std::size_t end = raw.find('%', i + 1);
      if (end == std::string_view::npos) {
        fail("unmatched '%'");
        return std::nullopt;
      }
      std::string_view name = raw.substr(i + 1, end - i - 1);
      if (name.empty()) {
        out.push_back('%');
      } else {
        auto it = repl_.find(upper(name));
        if (it == repl_.end()) {
          fail("no replacement for %" + std::string(name) + "%");
          return std::nullopt;
        }
        out += it->second;
      }
      i = end;
    }
    return out;
  }

  std::nullopt_t fail(const std::string& why) {
    if (ok_) error_ = "line " + std::to_string(line_) + ": " + why;
    ok_ = false;
    tok_ = Token{};
    return std::nullopt;
  }
  bool failB(const std::string& why) {
    fail(why);
    return false;
  }

  std::string_view src_;
  const std::map<std::string, std::string>& repl_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Token tok_;
  bool ok_ = true;
  std::string error_;
};

Result<void> ignoreMissing(Result<void> r) { return isNotFound(r) ? success() : r; }

Result<void> applyRegister(const Key& parent, const std::vector<Node>& nodes) {
  std::vector<Value> values;  // a run of values under one key is written in one transaction
  auto flush = [&] {
    Result<void> done = values.empty() ? success() : parent.setValues(values);
    values.clear();
    return done;
  };
  for (const auto& n : nodes) {
    if (n.isValue) {
      values.push_back(*n.value);
      continue;
    }
    if (auto done = flush(); !done) return done;
    if (n.flag == Flag::Delete || n.flag == Flag::ForceRemove) {
      if (auto gone = ignoreMissing(parent.deleteSubKey(n.name)); !gone) return gone;
      if (n.flag == Flag::Delete) continue;
    }
    auto key = parent.createSubKey(n.name);
    if (!key) return key.error();
    if (n.value) {
      if (auto set = key->setValue(*n.value); !set) return set;
    }
    if (auto below = applyRegister(*key, n.children); !below) return below;
  }
  return flush();
}

Result<void> applyUnregister(const Key& parent, const std::vector<Node>& nodes) {
  Result<void> result;  // keep going past a failure: undo as much as can be undone
  auto note = [&](Result<void> r) {
    if (!r && result) result = std::move(r);
  };
  for (const auto& n : nodes) {
    if (n.isValue) {
      note(ignoreMissing(parent.deleteValue(n.name)));
      continue;
    }
    if (n.flag == Flag::Delete) continue;
    if (n.flag == Flag::ForceRemove) {
      note(ignoreMissing(parent.deleteSubKey(n.name)));
      continue;
    }
    auto key = parent.openSubKey(n.name);
    if (!key) {
      if (!isNotFound(key)) note(key.error());
      continue;
    }
    note(applyUnregister(*key, n.children));
    if (n.flag == Flag::NoRemove) continue;
    auto left = key->subKeyCount();
    if (!left)
      note(ignoreMissing(Result<void>(left.error())));
    else if (*left == 0)
      note(ignoreMissing(parent.deleteSubKey(n.name)));
  }
  return result;
}

}  // namespace

void Registrar::addReplacement(std::string name, std::string value) { repl_[upper(name)] = std::move(value); }

HRESULT Registrar::registerScript(std::string_view script) { return run(script, true); }
HRESULT Registrar::unregisterScript(std::string_view script) { return run(script, false); }

HRESULT Registrar::run(std::string_view script, bool doRegister) {
  error_.clear();
  if (script.size() > kMaxScriptSize) {
    error_ = "script too large";
    return E_INVALIDARG;
  }
  Parser parser(script, repl_);
  auto roots = parser.parse();
  if (!roots) {
    error_ = parser.error();
    return E_INVALIDARG;
  }
  for (const auto& root : *roots) {
    auto top = doRegister ? Key::create(root.hive, "") : Key::open(root.hive, "");
    if (!top) {
      if (!doRegister && isNotFound(top)) continue;  // nothing registered there
      error_ = "cannot open the root key: " + top.message();
      return toHresult(top);
    }
    auto done = doRegister ? applyRegister(*top, root.children) : applyUnregister(*top, root.children);
    if (!done) {
      error_ = std::string(doRegister ? "registration failed: " : "unregistration failed: ") + done.message();
      if (doRegister) {
        for (const auto& r : *roots)
          if (auto k = Key::open(r.hive, "")) (void)applyUnregister(*k, r.children);
      }
      return toHresult(done);
    }
  }
  return S_OK;
}

}  // namespace plat::reg
