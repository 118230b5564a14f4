// Feeds arbitrary bytes to the record decoder, whole and in pieces, and checks that every record
// it accepts survives a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "message/message_codec.h"
#include "message/pea.h"

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
