// Any text handed to the token decoder gives a clean answer; a decoded token builds back to one
// that decodes to the same name and password.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/crypto/logon_token.h"
#include "tests/fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string name, password;
  if (kelm::crypto::DecodeLogonToken(text, name, password)) {
    std::string again = kelm::crypto::BuildLogonToken(name, password);
    std::string n2, p2;
    if (name.find('@') == std::string::npos && again.size() <= kelm::crypto::kMaxTokenText &&
        (!kelm::crypto::DecodeLogonToken(again, n2, p2) || n2 != name || p2 != password))
      __builtin_trap();
  }
  kelm::crypto::TokenUserName(text);
  return 0;
}

// Seeds: tokens the builder makes.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  for (auto [name, password] : {std::pair<const char*, const char*>{"admin", "secret"},
                                {"night shift", ""},
                                {"a", "a very long password that fills more than one block of the cipher"}})
    seeds.push_back(kelm::crypto::BuildLogonToken(name, password));
}
