#pragma once
// The installer's command line: one argument -PART="$Word$Word..." as the setup wizard passes it
// (never through a shell, so the double quotes arrive and the words are never expanded).
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"

namespace kelm::setup {

struct PartPackage {
  const char* word;     // "$Agent"
  const char* package;  // the Debian package that carries it
  const char* title;    // what the installer says it installed
  const char* library;  // a component library to register, or null
};
// The seven parts in their table order.
const std::vector<PartPackage>& partPackages();
// The package every part needs.
inline constexpr const char* kCommonPackage = "kelm-common";

// The chosen parts in table order; EINVAL naming the word for an unknown, empty or repeated
// word, and for an argument not of that form.
plat::Result<std::vector<const PartPackage*>> ParsePartArgument(std::string_view arg);

}  // namespace kelm::setup
