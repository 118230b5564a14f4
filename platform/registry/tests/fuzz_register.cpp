// Registration scripts run for real: a populated hive takes the fuzzed script's registration and
// then its unregistration. Whatever the script says, both finish, and the keys it never named
// survive its unregistration.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry/registrar.h"
#include "platform/registry/registry.h"
#include "platform/registry/tests/registration_seeds.h"
#include "tests/fuzz/fuzz_seeds.h"

namespace {

// Another component's registration, present before and after every input.
constexpr const char kResident[] = R"(HKCR
{
  Resident.Component.1 = s 'Resident Class'
  {
    CLSID = s '{11111111-2222-3333-4444-555555555555}'
  }
  NoRemove CLSID
  {
    ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Resident Class'
    {
      InprocServer32 = s '/opt/kelm/lib/libresident.so'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
}
HKLM { NoRemove Software { NoRemove Kelm { Resident { val Ports = m 'Com1\0Com2\0' } } } })";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = [] {
    // Every write is a synced transaction: in memory, when the machine has it, they cost little.
    const std::filesystem::path dir = std::filesystem::is_directory("/dev/shm")
                                          ? std::filesystem::path("/dev/shm")
                                          : std::filesystem::temp_directory_path();
    std::string tmpl = (dir / "kelm-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    setenv("KELM_ROOT", tmpl.c_str(), 1);
    plat::reg::Registrar base;
    if (base.registerScript(kResident) != plat::S_OK) std::abort();
    return true;
  }();
  (void)ready;
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  plat::reg::Registrar reg;
  reg.addReplacement("MODULE", "/opt/kelm/lib/libbrask.so");
  (void)reg.registerScript(script);
  (void)reg.unregisterScript(script);
  // A script that never names the resident component's keys, nor one above them, leaves them be.
  bool named = false;
  for (std::string_view word : {"Resident", "1111", "CLSID", "Software", "Classes", "Kelm"})
    named = named || script.find(word) != std::string_view::npos;
  if (!named && (!plat::reg::Key::open(plat::reg::Hive::ClassesRoot, "CLSID\\{11111111-2222-3333-4444-555555555555}") ||
                 !plat::reg::Key::open(plat::reg::Hive::LocalMachine, "Software\\Kelm\\Resident")))
    std::abort();
  // Whatever it removed, the resident component is registered afresh for the next input.
  plat::reg::Registrar base;
  if (base.registerScript(kResident) != plat::S_OK) std::abort();
  return 0;
}

// Seeds: scripts of the shape components carry, overlapping the resident one in places.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  addRegistrationScripts(seeds);
  seeds.push_back("HKCR { NoRemove CLSID { {11111111-2222-3333-4444-555555555555} } }");
}
