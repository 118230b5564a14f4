// Fuzzes the component's ways to its cards: the driver's own device or the SCSI ports behind the
// probe, with the identify request, API messages and parameter reads answered from the input.
// The whole tree is built on those answers, polled, and its events read.
//
// Input: one byte of flags (bit 0: the driver's own device, else ten SCSI ports), then one chunk
// per request in the order they are sent: a status byte (non-zero: the request fails), a 16-bit
// length and that many bytes. On a SCSI port a chunk lands where the wrapped request's reply lies
// (for the probe: over the block sent); requests after the last chunk fail.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "components/iop/iop_api.h"
#include "components/iop/iop_controller.h"
#include "components/iop/iop_nodes.h"
#include "components/iop/iop_poll.h"
#include "components/iop/iop_root.h"
#include "platform/com/object.h"
#include "platform/devio/device.h"
#include "platform/testing/manual_clock.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm::iop;

namespace {

constexpr std::size_t kMaxRequests = 4000;  // a bound on one input's work
constexpr std::size_t kMaxValue = 64 * 1024;

void check(bool ok) {
  if (!ok) std::abort();
}

std::uint32_t Word(std::span<const std::uint8_t> b, std::size_t at) {
  return at + 4 <= b.size() ? GetLe(b, at, 4) : 0;
}

// Where the answer to a request lies in the output buffer: 0 on the driver's own device, else
// behind the block at the place the wrapped request's reply is read from.
std::size_t ReplyOffset(std::uint32_t code, std::span<const std::uint8_t> in) {
  if (code != kIoctlScsiMiniport || in.size() < kSrbHeader) return 0;
  switch (Word(in, 16)) {
    case kIoctlIdentify: return kSrbHeader + 16;
    case kIoctlApiMessage: return kTunnelReplyOffset;
    case kIoctlParams: return in.size();
    default: return 0;  // the probe
  }
}

// The answers the requests get, in order.
class Source {
 public:
  virtual ~Source() = default;
  // The reply to one request (the reply alone: status word first for an API message), or an error.
  virtual plat::Result<std::vector<std::uint8_t>> Next(std::uint32_t code, std::span<const std::uint8_t> in) = 0;
};

// Replies read from the fuzz input.
class InputSource final : public Source {
 public:
  InputSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  plat::Result<std::vector<std::uint8_t>> Next(std::uint32_t, std::span<const std::uint8_t>) override {
    if (at_ + 3 > size_ || ++served_ > kMaxRequests) return plat::Error{EIO, "no more answers"};
    const std::uint8_t status = data_[at_];
    const std::size_t n = std::min<std::size_t>(data_[at_ + 1] | data_[at_ + 2] << 8, size_ - at_ - 3);
    std::vector<std::uint8_t> reply(data_ + at_ + 3, data_ + at_ + 3 + n);
    at_ += 3 + n;
    if (status) return plat::Error{status % 2 ? EIO : ETIMEDOUT, "the device refused"};
    return reply;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_, at_ = 0, served_ = 0;
};

// Serves the requests from a source, as the driver's device or as a SCSI port.
plat::devio::InProcessHandler Serve(Source& source) {
  return [&source](std::uint32_t code, std::span<const std::uint8_t> in,
                   std::span<std::uint8_t> out) -> plat::Result<std::size_t> {
    auto reply = source.Next(code, in);
    if (!reply) return reply.error();
    const std::size_t at = ReplyOffset(code, in);
    // A wrapped request comes back in its own buffer, with the reply laid into it.
    if (code == kIoctlScsiMiniport) std::copy_n(in.begin(), std::min(in.size(), out.size()), out.begin());
    if (at >= out.size()) return std::min(in.size(), out.size());
    const std::size_t n = std::min(reply->size(), out.size() - at);
    std::copy_n(reply->begin(), n, out.begin() + static_cast<std::ptrdiff_t>(at));
    return std::max(at + n, code == kIoctlScsiMiniport ? std::min(in.size(), out.size()) : std::size_t{0});
  };
}

// Builds the tree over the devices, polls it and reads its events.
void Run(bool direct, Source& source) {
  static plat::ManualClock clock;
  clock.setWall(1765360000);
  Environment env;
  env.clock = &clock;
  env.log = [](std::string_view) {};
  env.language = 1033;
  SetEnvironment(std::move(env));
  ResetPath();
  PollList::Get().ResetCounter();
  EnclosureMode() = 0;
  std::vector<std::unique_ptr<plat::devio::InProcessDevice>> devices;
  if (direct) {
    devices.push_back(std::make_unique<plat::devio::InProcessDevice>(kDriverDevice, Serve(source)));
  } else {
    for (int n = 0; n < kPortCount; ++n)
      devices.push_back(std::make_unique<plat::devio::InProcessDevice>("Scsi" + std::to_string(n) + ":", Serve(source)));
  }
  {
    auto root = plat::com::makeObject<CVantrelRoot>();
    root->Build();
    for (int i = 0; i < 3; ++i) PollList::Get().Tick();
    for (std::size_t pos = 0; kelm::fw::CRiverNode* child = root->NextChild(pos);) {
      auto* c = dynamic_cast<CIopController*>(child);
      if (!c) continue;
      plat::com::ComPtr<CIopController> keep(c);
      std::uint32_t count = 0;
      c->GetNewCount(&count);
      std::string record;
      std::uint32_t wanted = 1;
      c->ReadEventLog(&record, &wanted);
      check(record.size() < kMaxValue);
      c->refresh();
      for (const auto& e : c->Entries()) check(e->value.size() < kMaxValue);
    }
  }
  check(PollList::Get().Arrays().empty());
  check(PollList::Get().Controllers().empty());
  SetEnvironment({});
}

// A card that answers as a real one would, for the seeds: a controller with one channel of two
// disks, a mirror of both, an enclosure and one event waiting.
class ModelSource final : public Source {
 public:
  explicit ModelSource(std::uint32_t hardware) : hardware_(hardware) {}
  plat::Result<std::vector<std::uint8_t>> Next(std::uint32_t code, std::span<const std::uint8_t> in) override {
    std::vector<std::uint8_t> r;
    std::size_t at = 0;
    if (code == kIoctlScsiMiniport) {
      code = Word(in, 16);
      at = kSrbHeader;
      if (code == 1) return Record(r);  // the probe: the block comes back as it went
    }
    auto body = in.subspan(std::min(at, in.size()));
    if (code == kIoctlIdentify) {
      if (Word(body, 0) != 0) return Fail();  // one card
      Words(r, {0, 0x021u << 16 | 33});
      r.resize(kIdentifyReply, 0);
      return Record(r);
    }
    if (code == kIoctlParams) {
      // A result header, the block's length in words, then the group's rows.
      const std::uint32_t group = body.size() >= 14 ? GetLe(body, 12, 2) : 0;
      Words(r, {1, group == 0 ? 9u : group == 5 ? 11u : 9u});
      if (group == 0) {
        r.resize(40, 0);
        r[24] = 2;  // the processor type
      } else {
        Words(r, {1});  // one row
        Field(r, group == 5 ? "Palindrex Firmware" : "Quorlin RAID Engine", 24);
        Field(r, group == 5 ? "0102" : "0300", 4);
        if (group == 5) Field(r, "15062002", 8);
        Words(r, {group == 5 ? 0x80000u : 0x20000u});
      }
      return Record(r);
    }
    const std::uint16_t command = body.size() >= 10 ? static_cast<std::uint16_t>(GetLe(body, 8, 2)) : 0;
    auto arg = [&](std::size_t i) { return Word(body, 10 + 4 * i); };
    switch (command) {
      case 0x0000:
        Words(r, {0, 1, 0x10001, 0});
        r.push_back('I');
        r.push_back(0);
        break;
      case 0x3000: Words(r, {0, hardware_}); break;
      case 0x3001: Words(r, {0, 3}); break;
      case 0x3002: {
        const std::uint32_t objects[3][2] = {{0, 1}, {20, 4}, {30, 5}};
        if (arg(1) < 3)
          Words(r, {0, objects[arg(1)][0], objects[arg(1)][1]});
        else
          Words(r, {1, 0, 0});
        break;
      }
      case 0x3003: Words(r, {0, arg(0) == 0 ? 2u : arg(0) == 20 ? 1u : 0u}); break;
      case 0x3004:
        if (arg(0) == 0 && arg(1) < 2)
          Words(r, {0, 200 + arg(1), 1});
        else if (arg(0) == 20 && arg(1) == 0)
          Words(r, {0, 100, 4});
        else
          Words(r, {1, 0, 0});
        break;
      case 0x3005: Words(r, {0, 1}); break;
      case 0x310C: Words(r, {0, arg(0) == 0 ? 0x11u : 4000u}); break;
      case 0x3100: {
        Words(r, {0});
        const std::string name = arg(0) == 100 ? "Ary1" : "PX DISK";
        r.insert(r.end(), name.begin(), name.end());
        r.push_back(0);
        break;
      }
      case 0x3102: Words(r, {0, 0}); break;
      case 0x3103: Words(r, {0, events_}); break;
      case 0x3104: Words(r, {0, events_, 256, 1, 2, 1, 200}); events_ = 0; break;
      case 0x3200: Words(r, {0, 0x80000005u}); break;
      case 0x3201: Words(r, {0, 0x4000000, 512}); break;
      case 0x3202: Words(r, {0, 0x200, 100}); break;
      case 0x3300: Words(r, {0, 1, 0x4000000, 64}); break;
      case 0x3301: Words(r, {0, 0x80000201u}); break;
      case 0x3302: Words(r, {0, 2, 200, 201}); break;
      case 0x3401: Words(r, {0, 1, 40}); break;
      default: Words(r, {0, 0, 0, 0, 0}); break;
    }
    return Record(r);
  }
  std::string recorded;

 private:
  static void Words(std::vector<std::uint8_t>& r, std::initializer_list<std::uint32_t> words) {
    for (auto w : words) PutLe(r, w, 4);
  }
  static void Field(std::vector<std::uint8_t>& r, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) r.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ');
  }
  plat::Result<std::vector<std::uint8_t>> Record(const std::vector<std::uint8_t>& r) {
    recorded += '\0';
    recorded += static_cast<char>(r.size() & 0xFF);
    recorded += static_cast<char>(r.size() >> 8);
    recorded.append(r.begin(), r.end());
    return r;
  }
  plat::Result<std::vector<std::uint8_t>> Fail() {
    recorded += std::string("\1\0\0", 3);
    return plat::Error{ENODEV, "no such card"};
  }
  std::uint32_t hardware_;
  std::uint32_t events_ = 1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  InputSource source(data + 1, size - 1);
  Run((data[0] & 1) != 0, source);
  return 0;
}

void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  // The same cards on both ways and of both series; the recorded answers are the seed.
  for (bool direct : {true, false}) {
    for (std::uint32_t hardware : {0x0126u, 0x0113u}) {
      ModelSource model(hardware);
      Run(direct, model);
      seeds.push_back(std::string(1, direct ? '\1' : '\0') + model.recorded);
    }
  }
}
