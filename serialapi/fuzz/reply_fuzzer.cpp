// Fuzzes the translation of subsystem replies: every command reads its reply from the fuzz input,
// and raw 40-byte events go through the event translation. The first byte chooses the command and
// whether the echo is set right (so the parsers behind the echo test are reached).
#include <cstdint>
#include <cstring>
#include <thread>

#include "serialapi/glimmora_api.h"
#include "tests/fuzz/fuzz_seeds.h"

namespace {

struct Input {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
  bool fixEcho = false;
};
Input input;

class FuzzPort final : public glimmora::Port {
 public:
  plat::Result<std::size_t> write(const std::uint8_t* d, std::size_t n, int) override {
    handshake_ = n == 1 && d[0] == 0xA2;
    if (n >= 4) code_ = static_cast<std::uint16_t>(d[2] | d[3] << 8);
    return n;
  }
  plat::Result<std::size_t> read(std::uint8_t* d, std::size_t n, int) override {
    if (handshake_) {
      std::memset(d, 0xA3, n);
      return n;
    }
    for (std::size_t i = 0; i < n; ++i) d[i] = input.pos < input.size ? input.data[input.pos++] : 0;
    if (input.fixEcho && n >= 2) {
      d[0] = static_cast<std::uint8_t>(code_);
      d[1] = static_cast<std::uint8_t>(code_ >> 8);
    }
    return n;
  }
  void purge() override {}
  void discardInput() override {}
  void clearErrors() override {}

 private:
  bool handshake_ = false;
  std::uint16_t code_ = 0;
};

class NoSleep final : public plat::Sleeper {
 public:
  void sleepMs(std::uint32_t) override {}
};

glimmora::Glimmora& library() {
  static NoSleep sleeper;
  static glimmora::Glimmora* lib = [] {
    glimmora::LinkEnv env;
    env.sleeper = &sleeper;
    env.openPort = [](int) -> plat::Result<std::unique_ptr<glimmora::Port>> {
      return std::unique_ptr<glimmora::Port>(std::make_unique<FuzzPort>());
    };
    env.readSettings = [] {
      glimmora::Settings s;
      s.autoconnect = 1;
      return s;
    };
    auto* g = new glimmora::Glimmora(std::move(env));
    g->initialize();
    while (!g->link().ready()) std::this_thread::yield();
    return g;
  }();
  return *lib;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  glimmora::Glimmora& g = library();
  input = {data + 1, size - 1, 0, (data[0] & 1) != 0};
  int v[32] = {};
  char text[128];
  unsigned char record[64];
  RaEventRecord events[RA_MAX_EVENTS];
  int disks[] = {1, 2, 3, 4};
  switch ((data[0] >> 1) % 24) {
    case 0:
      g.maxChannelsPerAdapter(&v[0]);
      break;
    case 1:
      g.scanDevice(data[0], 0, &v[0], &v[1]);
      break;
    case 2:
      g.deviceName(1, text);
      break;
    case 3:
      g.enumerateAllDisks(&v[0], &v[1]);
      break;
    case 4:
      g.diskStatus(1, &v[0], &v[1], &v[2], &v[3]);
      break;
    case 5:
      g.diskTiming(1, &v[0]);
      break;
    case 6:
      g.diskDescription(1, &v[0], &v[1], &v[2], &v[3]);
      break;
    case 7:
      g.diskSize(1, &v[0], &v[1]);
      break;
    case 8:
      g.firmwareDescription(record);
      break;
    case 9:
      g.enumerateDisksInArray(1, &v[0], &v[1]);
      break;
    case 10:
      g.enumerateAllArrays(&v[0], &v[1]);
      break;
    case 11:
      g.arrayStatus(1, &v[0], &v[1], &v[2]);
      break;
    case 12:
      g.arrayDescription(1, &v[0], &v[1], &v[2]);
      break;
    case 13:
      g.i2cStatus(&v[0], &v[3], &v[4], &v[12], &v[13]);
      break;
    case 14:
      g.enclosureStatus(&v[0], &v[1], &v[2]);
      break;
    case 15:
      g.getEvents(events, &v[0]);
      break;
    case 16:
      g.rebuildDisk(1, -1, 2);
      break;
    case 17:
      g.synchronize(1, 2);
      break;
    case 18:
      g.arrayExpansion(1, disks, 2);
      break;
    case 19:
      g.fwRevision(text);
      break;
    case 20:
      g.errorLogCheck(&v[0]);
      break;
    case 21:
      g.readWords(128, glimmora::Payload{}, 8, &v[0], &v[1]);
      break;
    case 22:
      g.createArray("A", 5, 4, disks, 64);
      break;
    default: {
      glimmora::ArrayResolver arrays{{0, 1}, {2}};
      std::atomic<bool> t{true}, f{true};
      for (std::size_t off = 1; off + 40 <= size; off += 40) glimmora::translateEvent(data + off, arrays, t, f);
      break;
    }
  }
  return 0;
}

// Seeds: every command, its echo set right, with a reply of small counts and numbers.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  for (int command = 0; command < 24; ++command) {
    std::string s(1, static_cast<char>(command << 1 | 1));
    s += std::string("\0\0\0\0\x02\x01\x02\0\0\0\x40\0\0\0\x03\0\0\0", 18);
    s.append(40, '\x01');
    seeds.push_back(s);
  }
}
