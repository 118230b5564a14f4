#include "setup/installer/part_args.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>

#include "setup/core/setup_model.h"

namespace kelm::setup {

const std::vector<PartPackage>& partPackages() {
  // In the wizard's component order; the words and titles are the wizard's own.
  static const struct {
    const char* package;
    const char* library;
  } kPackages[kComponentCount] = {
      {"kelm-remote", nullptr}, {"kelm-local", nullptr},       {"kelm-server", nullptr},   {"kelm-agent", nullptr},
      {"kelm-i2o", "libvantrel.so"}, {"kelm-mv", "libtirrow.so"}, {"kelm-sc", "libbrask.so"},
  };
  static const std::vector<PartPackage> kParts = [] {
    std::vector<PartPackage> parts;
    for (int i = 0; i < kComponentCount; ++i)
      parts.push_back({componentInfo(i).partWord, kPackages[i].package, componentInfo(i).listText, kPackages[i].library});
    return parts;
  }();
  return kParts;
}

plat::Result<std::vector<const PartPackage*>> ParsePartArgument(std::string_view arg) {
  constexpr std::string_view kPrefix = "-PART=";
  constexpr std::size_t kMaxLength = 1024;
  if (arg.size() > kMaxLength) return plat::Error{EINVAL, "the part list is too long"};
  if (arg.size() < kPrefix.size() || ::strncasecmp(arg.data(), kPrefix.data(), kPrefix.size()) != 0)
    return plat::Error{EINVAL, "expected -PART=\"$Part...\", got '" + std::string(arg) + "'"};
  std::string_view list = arg.substr(kPrefix.size());
  if (!list.empty() && list.front() == '"') {
    if (list.size() < 2 || list.back() != '"') return plat::Error{EINVAL, "the part list's closing quote is missing"};
    list = list.substr(1, list.size() - 2);
  }
  if (list.empty()) return plat::Error{EINVAL, "no part named"};
  if (list.front() != '$') return plat::Error{EINVAL, "unknown part word '" + std::string(list.substr(0, list.find('$'))) + "'"};

  std::vector<bool> chosen(partPackages().size(), false);
  std::size_t pos = 0;
  while (pos < list.size()) {
    std::size_t next = list.find('$', pos + 1);
    if (next == std::string_view::npos) next = list.size();
    const std::string word(list.substr(pos, next - pos));
    pos = next;
    if (word == "$") return plat::Error{EINVAL, "empty part word '$'"};
    auto it = std::find_if(partPackages().begin(), partPackages().end(),
                           [&](const PartPackage& p) { return word == p.word; });
    if (it == partPackages().end()) return plat::Error{EINVAL, "unknown part word '" + word + "'"};
    const auto index = static_cast<std::size_t>(it - partPackages().begin());
    if (chosen[index]) return plat::Error{EINVAL, "part word '" + word + "' given twice"};
    chosen[index] = true;
  }
  std::vector<const PartPackage*> out;
  for (std::size_t i = 0; i < chosen.size(); ++i)
    if (chosen[i]) out.push_back(&partPackages()[i]);
  return out;
}

}  // namespace kelm::setup
