// Fuzzes what reaches a component from outside: identifiers, handles, argument texts, event
// records, and node operations with arbitrary names and values.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "components/framework/component_types.h"
#include "components/framework/river_node.h"
#include "components/framework/tests/test_nodes.h"
#include "platform/com/guid.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm::fw;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);

  if (auto g = plat::com::Guid::parse(in)) check(plat::com::Guid::parse(g->toString()) == g);
  if (auto h = ParseHandle(in)) check(ParseHandle(FormatHandle(h->id, h->type))->id == h->id);
  if (auto r = EventRecord::parse(in)) check(EventRecord::parse(r->format()).has_value());
  if (!in.empty()) {
    auto tokens = SplitArgs(in.substr(1), in[0]);
    std::size_t total = 0;
    for (auto& t : tokens) total += t.size();
    check(total <= in.size());
  }

  // Node operations: the input is split at NUL into names and values used in turn.
  auto root = plat::com::makeObject<testing::Leaf>(kSerialController);
  root->Init(nullptr, "Root", 0, 0, 0);
  auto child = plat::com::makeObject<testing::Leaf>();
  child->Init(root.get(), "Child", 1, 0, 0);
  root->AddChild(child.get());
  child.reset();
  std::size_t pos = 0;
  auto next = [&]() {
    std::size_t end = in.find('\0', pos);
    std::string s(in.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    pos = end == std::string_view::npos ? in.size() : end + 1;
    return s;
  };
  for (int step = 0; pos < in.size() && step < 64; ++step) {
    std::string op = next(), name = next(), value = next();
    std::string out;
    plat::com::ComPtr<plat::com::IUnknown> u;
    switch (op.empty() ? 0 : op[0] % 8) {
      case 0:
        root->get(name, &out);
        break;
      case 1:
        root->set(name, value, 0);
        break;
      case 2:
        root->invoke(name, value);
        break;
      case 3:
        root->cd(name, u.put());
        break;
      case 4:
        root->SetAttr(name, static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 0)), value);
        break;
      case 5:
        root->FindByHandle(name);
        break;
      case 6:
        root->RemoveEntry(root->FindDrop(name));
        break;
      case 7: {
        root->dir(u.put());
        std::vector<std::string> lines;
        if (auto e = u.as<plat::com::IEnumString>()) e->Next(1000, lines);
        break;
      }
    }
  }
  return 0;
}

// Seeds: the forms the framework writes, and a few node operations.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  seeds.push_back(plat::com::guid("{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}").toString());
  seeds.push_back(FormatHandle(42, kSerialController));
  EventRecord e{519, 1765360000, 0, "Array", "Create a new array 2."};
  seeds.push_back(e.format());
  seeds.push_back("@Rebuild@1@2@@3");
  using namespace std::string_literals;
  seeds.push_back("\x01\0Name\0value\0\x00\0Name\0\0\x04\0Method\0\x31\x32\0\x02\0Method\0arg\0\x07\0\0\0"s);
}
