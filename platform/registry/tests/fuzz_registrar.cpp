// Registration scripts are files a component carries: parsing must hold for any text.
// Unregistering against empty hives parses the whole script and writes nothing.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry/registrar.h"
#include "platform/registry/tests/registration_seeds.h"
#include "tests/fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelm-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    setenv("KELM_ROOT", tmpl.c_str(), 1);
    return true;
  }();
  (void)ready;
  plat::reg::Registrar reg;
  reg.addReplacement("MODULE", "/opt/kelm/lib/libbrask.so");
  (void)reg.unregisterScript(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

// Seeds: scripts of the shape components carry.
void KelmFuzzSeeds(std::vector<std::string>& seeds) { addRegistrationScripts(seeds); }
