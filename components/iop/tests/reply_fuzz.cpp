// Fuzzes the unpacking of driver replies: the first two bytes pick a command, the rest is its
// reply, unpacked into bounded destinations; event records are then parsed and formatted.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "components/iop/api_message.h"
#include "components/iop/iop_texts.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm::iop;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto commands = Commands();
  const CommandDescriptor& c = commands[(data[0] | (data[1] << 8)) % commands.size()];
  std::span<const std::uint8_t> reply(data + 2, size - 2);

  std::uint32_t scalars[8] = {};
  std::string texts[8];
  std::vector<std::uint32_t> arrays[8];
  std::vector<std::uint8_t> bytes[8];
  std::vector<ApiOut> outs;
  std::size_t k = 0;
  for (const Element* e = c.reply + 1; e->type != kElemEnd && k < 8; ++e, ++k) {
    if (e->type == kElemText) {
      outs.push_back(ApiOut::Text(texts[k], 511));
    } else if (e->type == kElemRecord || e->type == kElemRecordArray) {
      outs.push_back(ApiOut::Bytes(bytes[k], 1024));
    } else if (static_cast<std::uint32_t>(e->type) & 0x80000000u) {
      outs.push_back(ApiOut::Array(arrays[k], 16));
    } else {
      outs.push_back(ApiOut::Scalar(scalars[k]));
    }
  }
  if (UnpackReply(c.reply, reply, outs)) {
    for (std::size_t i = 0; i < 8; ++i) {
      check(texts[i].size() <= 511);
      check(arrays[i].size() <= 16);
      check(bytes[i].size() <= 1024);
      check(bytes[i].size() <= reply.size());
    }
  }
  // The records of a read-events reply, however they came.
  std::vector<std::uint8_t> records(reply.begin(), reply.end());
  if (auto e = FirstEvent(records)) {
    auto text = [](std::uint32_t h) { return std::to_string(h); };
    std::string message = EventMessage(*e, 1033, text, text);
    check(message.size() < 4096);
  }
  return 0;
}

// Seeds: replies as a driver gives them.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto seed = [&](std::uint16_t code, std::initializer_list<std::uint32_t> words, const std::string& tail = "") {
    std::size_t index = 0;
    for (; index < Commands().size() && Commands()[index].code != code; ++index) {
    }
    std::vector<std::uint8_t> b{static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8)};
    for (auto w : words) PutLe(b, w, 4);
    b.insert(b.end(), tail.begin(), tail.end());
    seeds.emplace_back(b.begin(), b.end());
  };
  seed(0x3104, {0, 2, 513, 0, 2, 2, 100, 201, 526, 0, 1, 3, 0, 200, 91});
  seed(0x3302, {0, 2, 200, 201});
  seed(0x3100, {0}, std::string("DiskA\0", 6));
  seed(0x0000, {0, 1, 0x00020001, 7}, std::string("I2O\0", 4));
  seed(0x3300, {0, 1, 4096, 64});
}
