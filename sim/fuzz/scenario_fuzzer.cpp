// Fuzzes what an administrator hands the simulators: a scenario file, then control commands.
// The input is the scenario text, a line "%%", and one command per line after it. Plugging the
// cable is left out (it would publish a terminal device); everything else runs as the daemon runs it.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/clock.h"
#include "sim/core/daemon.h"
#include "sim/core/model_clock.h"
#include "sim/ide/ide_simulator.h"
#include "sim/iop/iop_simulator.h"
#include "sim/serial/serial_simulator.h"
#include "tests/fuzz/fuzz_seeds.h"
#include "platform/testing/manual_clock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t split = in.find("\n%%\n");
  const std::string scenario(in.substr(0, split));
  const std::string_view commands = split == std::string_view::npos ? std::string_view() : in.substr(split + 4);

  plat::ManualClock real;
  sim::ModelClock clock(real, true);
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  sims.push_back(std::make_unique<sim::serial::SerialSimulator>(real));
  sims.push_back(std::make_unique<sim::ide::IdeSimulator>());  // never started: it publishes nothing
  sims.push_back(std::make_unique<sim::iop::IopSimulator>());  // nor this one
  sim::Daemon daemon(std::move(sims), clock);
  if (auto configured = daemon.configureText(scenario); !configured && configured.message().empty()) std::abort();
  std::size_t at = 0;
  for (int n = 0; at < commands.size() && n < 64; ++n) {
    std::size_t end = commands.find('\n', at);
    if (end == std::string_view::npos) end = commands.size();
    const std::string line(commands.substr(at, end - at));
    at = end + 1;
    if (line.find("plug") != std::string::npos) continue;
    if (daemon.command(line).empty()) std::abort();
  }
  return 0;
}

// Seeds: a scenario of every kind of line, and the commands an administrator types.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  seeds.push_back(R"([serial]
# two arrays on six disks
disk 1 SV-DISK-1 76319
disk 2 SV-DISK-2 76319 32
disk 3 SV-DISK-3 76319
disk 4 SV-DISK-4 38000
disk 8 SV-DISK-8 76319
disk 9 SV-DISK-9 76319
array 0 raid5 Data 1 2 3
array 12 raid1 Mirror 8 9
sensors 502 1204 38 40 36 3200 3150
memory 0xE0077FE0 1 8
work 5000
%%
status
fault serial:fail-disk 2
fault step 6000
fault add-disk 7 40000
fault temperature 70
fault fan 1 0
fault event 530 3 0 1
fault silence 2
fault late 300
fault echo
fault status 3
fault garbage 16
status
stop
)");
  seeds.push_back("[serial]\nempty\ndisk 0 A 100\narray 0 span A 0\n%%\nfault serial:warm on\nstatus\n");
  seeds.push_back(R"([ide]
card 0 3 0x0005
card 1 9
disk 0 40960 udma5 MV-DISK 0
disk 2 40960 dma2
disk 4 20480 pio
disk 5 20480
disk 6 20480
array 0 raid1 0 2
array 1 raid5 4 5 6
enclosure 0 1 4200 35 5.0 12.0
enclosure 2 17
version 1.11
port 1
pci 16 8
maintenance 5
smart on
task 5000
%%
status
fault ide:disk-fail 2
fault disk-insert 2
fault media-error 0 4096
fault enclosure 0 fan 500
fault enclosure 0 temperature 60
fault enclosure 0 12v 10.5
fault driver-event 0x80000209 2 1
fault wrong-length 2 4
fault short-reply 1 24
fault return-code-left
fault fail-requests 3
fault protocol-clear
fault driver-version 1.10
fault driver-port 3
fault no-driver
fault step 6000
status
)");
  seeds.push_back(R"([iop]
card 0 0x0126 0x21
card 1 0x0115
channel 0 0 1
channel 0 1 1
channel 0 2 2
disk 0 0 0 36000 udma5 PX DISK
disk 0 0 1 36000
disk 0 1 0 36000
disk 0 2 0 36000
array 0 raid1 Ary1 0:0 1:0
enclosure 0 0 0x11 4000 70 5000 12000
enclosure-mode 0 1
channel 1 0 1
disk 1 0 0 1000
absent 1
task 5000
path direct
%%
status
fault iop:disk-fail 0 0 0
fault iop:disk-insert 0 0 0 500
fault iop:sensor 0 0 fan 300
fault iop:event 0 515 1 0x200
fault iop:command-status 0x3301 7
fault iop:transport-fail 2 0x222EC0
fault iop:identify-fail
fault iop:short-reply 1 0x3302
fault iop:long-text 1500
fault iop:long-members 20
fault iop:second-absent
fault iop:clear
fault step 6000
status
)");
}
