#include "components/framework/component_types.h"

#include <charconv>
#include <vector>

namespace kelm::fw {

namespace {

std::string withoutSeparator(std::string s) {
  for (char& c : s)
    if (c == '@') c = ' ';
  return s;
}

template <class T>
bool parseNumber(std::string_view s, T& out) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

}  // namespace

std::string EventRecord::format() const {
  return std::to_string(code) + '@' + std::to_string(time) + '@' + std::to_string(severity) + '@' +
         withoutSeparator(title) + '@' + withoutSeparator(text);
}

std::optional<EventRecord> EventRecord::parse(std::string_view record) {
  std::vector<std::string_view> f;
  std::size_t start = 0;
  while (f.size() < 4) {
    std::size_t at = record.find('@', start);
    if (at == std::string_view::npos) return std::nullopt;
    f.push_back(record.substr(start, at - start));
    start = at + 1;
  }
  EventRecord r;
  if (!parseNumber(f[0], r.code) || !parseNumber(f[1], r.time) || !parseNumber(f[2], r.severity)) return std::nullopt;
  r.title = std::string(f[3]);
  std::string_view rest = record.substr(start);
  if (rest.find('@') != std::string_view::npos) return std::nullopt;
  r.text = std::string(rest);
  return r;
}

}  // namespace kelm::fw
