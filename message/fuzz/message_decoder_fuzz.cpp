// Feeds arbitrary bytes to the record decoder, whole and in pieces, and checks that every record
// it accepts survives a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "message/message_codec.h"
#include "message/pea.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void roundTrip(const CMessage& m) {
  const std::string wire = EncodeMessage(m);
  CMessage back;
  const DecodeResult r = DecodeMessage(wire, back);
  check(r.status == DecodeStatus::kOk && r.consumed == wire.size() && back == m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 17;
  const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Whole: the same records as the chunked reading below.
  std::vector<CMessage> whole;
  DecodeStatus last = DecodeStatus::kNeedMore;
  for (std::size_t at = 0;;) {
    CMessage m;
    const DecodeResult r = DecodeMessage(in.substr(at), m);
    last = r.status;
    if (r.status != DecodeStatus::kOk) break;
    check(r.consumed >= 13 && r.consumed <= in.size() - at);
    at += r.consumed;
    roundTrip(m);
    whole.push_back(std::move(m));
  }

  MessageDecoder d;
  std::vector<CMessage> chunked;
  DecodeStatus chunkedLast = DecodeStatus::kNeedMore;
  for (std::size_t at = 0; at < in.size(); at += chunk) {
    d.Feed(in.substr(at, chunk));
    CMessage m;
    while ((chunkedLast = d.Next(m)) == DecodeStatus::kOk) chunked.push_back(m);
    if (chunkedLast == DecodeStatus::kInvalid) break;
  }
  check(chunked == whole);
  check(chunkedLast == last || in.empty());

  CPea node;
  ArchiveReader ar(in);
  if (node.Load(ar) == DecodeStatus::kOk) {
    std::string wire;
    ArchiveWriter w(wire);
    node.Serialize(w);
    CPea back;
    ArchiveReader again(wire);
    check(back.Load(again) == DecodeStatus::kOk && back.name() == node.name() && back.type() == node.type() &&
          back.value() == node.value());
  }
  return 0;
}

// Seeds: records and a node written by the project's own writers, behind the chunk-size byte.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  std::string stream(1, '\x05');
  for (const CMessage& m : {CMessage(4099, 7, 1, "\\"), CMessage(4105, 12345, 4, "hello buddy!"),
                            CMessage(4102, 9, 3, "Rebuild@512@3"), CMessage(4100, 9, 2, "800@Functional"),
                            CMessage(4104, 0, 1, ""), CMessage(4102, 1, 1, std::string(300, 'z'))}) {
    seeds.push_back("\x01" + EncodeMessage(m));
    AppendMessage(stream, m);
  }
  seeds.push_back(stream);
  // A wide text: the 0xFF 0xFFFE marker, a count, UTF-16 units (one a lone surrogate).
  std::string wide = "\x02" + EncodeMessage(CMessage(4101, 3, 1, ""));
  wide.pop_back();
  wide += std::string("\xFF\xFE\xFF\x03", 4) + std::string("A\0\x3D\xD8\xE9\x00", 6);
  seeds.push_back(wide);
  CPea node;
  node.setName("Arrays");
  node.setType("o--");
  node.setValue("2");
  std::string pea = "\x03";
  ArchiveWriter w(pea);
  node.Serialize(w);
  seeds.push_back(pea);
}
