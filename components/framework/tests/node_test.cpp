#include <gtest/gtest.h>

#include <set>

#include "components/framework/tests/test_nodes.h"

using namespace kelm::fw;
using kelm::fw::testing::Bus;
using kelm::fw::testing::Leaf;
using plat::S_FALSE;
using plat::S_OK;
using plat::com::ComPtr;
using plat::com::IEnumString;
using plat::com::makeObject;

namespace {

using Lines = std::vector<std::string>;

// A controller with a property, a writable property, a method and one child.
struct Tree : ::testing::Test {
  ComPtr<Leaf> ctrl = makeObject<Leaf>(kSerialController);
  ComPtr<Leaf> disk = makeObject<Leaf>(kSerialDisk);
  void SetUp() override {
    ctrl->Init(nullptr, "Controller", 0, 0, 0);
    disk->Init(ctrl.get(), "Disk0", 7, 0, 0);
    ASSERT_EQ(ctrl->AddChild(disk.get()), 1);
  }
  Lines List(CRiverNode& n) {
    ComPtr<IUnknown> u;
    EXPECT_EQ(n.dir(u.put()), S_OK);
    auto e = u.as<IEnumString>();
    Lines all, some;
    while (e->Next(2, some) == S_OK) all.insert(all.end(), some.begin(), some.end());
    return all;
  }
};

TEST_F(Tree, OperationsOnEachKindOfEntry) {
  const std::string childHandle = disk->HandleText();
  struct Case {
    const char* name;
    HRESULT get, set, invoke, cd;
    const char* value;  // what get gives (the buffer starts as "untouched")
  };
  const Case cases[] = {
      {"Nothing", S_OK, S_FALSE, S_FALSE, S_FALSE, "untouched"},
      {"Disk0", S_OK, S_FALSE, S_FALSE, S_OK, childHandle.c_str()},
      {"Label", S_OK, S_OK, S_FALSE, S_FALSE, "default"},
      {"Status", S_OK, S_FALSE, S_FALSE, S_FALSE, "0"},
      {"Rebuild", S_OK, S_FALSE, S_OK, S_FALSE, "33"},
  };
  for (const Case& c : cases) {
    std::string value = "untouched";
    EXPECT_EQ(ctrl->get(c.name, &value), c.get) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
    ComPtr<IUnknown> child;
    EXPECT_EQ(ctrl->cd(c.name, child.put()), c.cd) << c.name;
    EXPECT_EQ(child != nullptr, c.cd == S_OK) << c.name;
    EXPECT_EQ(ctrl->invoke(c.name, "1@2"), c.invoke) << c.name;
    // set last: it changes what get would give
    EXPECT_EQ(ctrl->set(c.name, "v", 0xFFFFFFFF), c.set) << c.name;
  }
  EXPECT_EQ(ctrl->calls, Lines{"Rebuild(1@2)"}) << "the failing handler still gave S_OK";
  EXPECT_EQ(ctrl->GetAttr("Label", ""), "v");
  // cd gives the child as IRiver with its own reference.
  ComPtr<IUnknown> u;
  ASSERT_EQ(ctrl->cd("Disk0", u.put()), S_OK);
  auto river = u.as<IRiver>();
  std::string name;
  river->get("handle", &name);
  EXPECT_EQ(name, childHandle);
}

TEST_F(Tree, ListingLinesAndHandles) {
  Lines want = {"handle@pr-@" + ctrl->HandleText(), "Status@prv@0", "Label@prw@default", "Rebuild@m--@33",
                "Disk0@o--@24"};
  EXPECT_EQ(List(*ctrl), want);
  // Handles carry a process-unique id, not an address, and resolve only inside the subtree.
  auto h = ParseHandle(disk->HandleText());
  ASSERT_TRUE(h);
  EXPECT_EQ(h->id, disk->NodeId());
  EXPECT_EQ(h->type, kSerialDisk);
  EXPECT_NE(disk->NodeId(), ctrl->NodeId());
  EXPECT_EQ(ctrl->FindByHandle(disk->HandleText()), disk.get());
  EXPECT_EQ(ctrl->FindByHandle(disk->NodeId(), kSerialArray), nullptr) << "the type must match too";
  EXPECT_EQ(disk->FindByHandle(ctrl->HandleText()), nullptr) << "a parent is outside the subtree";
  auto stranger = makeObject<Leaf>();
  stranger->Init(nullptr, "S", 0, 0, 0);
  EXPECT_EQ(ctrl->FindByHandle(stranger->HandleText()), nullptr);
  EXPECT_EQ(ctrl->FindByHandle("12345678;24"), nullptr);
}

TEST_F(Tree, MethodMasksAreWrittenAsSignedDecimal) {
  ctrl->AddMethod("Initialise", 0xF7FFFFFF);
  ctrl->AddMethod("Local", 0x0800003C);
  ctrl->AddMethod("Everyone", 0xFFFFFFFF);
  EXPECT_EQ(ctrl->FindDrop("Initialise")->ListingLine(), "Initialise@m--@-134217729");
  EXPECT_EQ(ctrl->FindDrop("Local")->ListingLine(), "Local@m--@134217788");
  EXPECT_EQ(ctrl->FindDrop("Everyone")->ListingLine(), "Everyone@m--@-1");
}

TEST_F(Tree, DepthFirstSearchesInListOrder) {
  // ctrl -> [Disk0 -> [Deep(id 9)], Other(id 9)]: the deep one comes first.
  auto deep = makeObject<Leaf>(kSerialArray), other = makeObject<Leaf>(kSerialArray);
  deep->Init(disk.get(), "Deep", 9, 0, 0);
  other->Init(ctrl.get(), "Other", 9, 0, 0);
  disk->AddChild(deep.get());
  ctrl->AddChild(other.get());
  EXPECT_EQ(ctrl->FindById(9, kSerialArray), deep.get());
  EXPECT_EQ(ctrl->FindChildById(9, kNodeBase), other.get()) << "direct children only";
  EXPECT_EQ(ctrl->FindChildById(9, kNodeBase, true), deep.get());
  EXPECT_EQ(ctrl->FindByHandle(other->HandleText()), other.get());
  // A loop in the child lists ends the search instead of the stack.
  deep->AddChild(ctrl.get());
  EXPECT_EQ(ctrl->FindById(12345, 1), nullptr);
  deep->RemoveAll();
}

TEST_F(Tree, EnumeratorEdgeCases) {
  ComPtr<IUnknown> u;
  ASSERT_EQ(ctrl->dir(u.put()), S_OK);
  auto e = u.as<IEnumString>();
  Lines got;
  EXPECT_EQ(e->Next(0, got), S_FALSE) << "nothing asked, nothing copied";
  EXPECT_EQ(e->Skip(3), S_OK);  // on "Rebuild"
  ComPtr<IEnumString> clone;
  ASSERT_EQ(e->Clone(clone.put()), S_OK);
  EXPECT_EQ(e->Next(10, got), S_OK) << "fewer than asked is still S_OK";
  EXPECT_EQ(got, (Lines{"Rebuild@m--@33", "Disk0@o--@24"}));
  EXPECT_EQ(e->Next(1, got), S_FALSE);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(clone->Next(1, got), S_OK);
  EXPECT_EQ(got, Lines{"Rebuild@m--@33"}) << "the clone starts where the original stood";
  EXPECT_EQ(clone->Skip(5), S_FALSE);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Next(1, got), S_OK);
  EXPECT_EQ(got[0].rfind("handle@", 0), 0u);

  // A node with no entries.
  auto empty = makeObject<Leaf>();
  ASSERT_EQ(empty->dir(u.put()), S_OK);
  e = u.as<IEnumString>();
  EXPECT_EQ(e->Reset(), S_FALSE);
  EXPECT_EQ(e->Next(1, got), S_FALSE);
  EXPECT_EQ(e->Skip(1), S_FALSE);
}

TEST_F(Tree, EnumeratorsAndNodesKeepTheModuleBusy) {
  long base = Module().objects();
  ComPtr<IUnknown> u;
  ASSERT_EQ(disk->dir(u.put()), S_OK);
  EXPECT_EQ(Module().objects(), base + 1);
  CRiverNode* weak = disk.get();
  disk.reset();
  ctrl->RemoveAll();  // the enumerator alone keeps the disk alive
  EXPECT_EQ(Module().objects(), base + 1);
  Lines got;
  EXPECT_EQ(u.as<IEnumString>()->Next(1, got), S_OK);
  EXPECT_EQ(got[0], "handle@pr-@" + weak->HandleText());
  u.reset();
  EXPECT_EQ(Module().objects(), base - 1) << "enumerator and disk are gone";
}

struct Recorder final : plat::com::Object<IRAIDEvent> {
  Recorder(std::string n, std::string* l) : name(std::move(n)), log(l) {}
  HRESULT RAIDNotification(std::uint32_t code) override {
    *log += name + ":" + std::to_string(code) + " ";
    return plat::E_FAIL;  // answers are ignored
  }
  std::string name;
  std::string* log;
};

TEST_F(Tree, FireReachesTheSinksOfThatNodeInAdviseOrder) {
  std::string log;
  ComPtr<plat::com::IConnectionPoint> cp;
  ASSERT_EQ(ctrl->FindConnectionPoint(IRAIDEvent::kIid, cp.put()), S_OK);
  EXPECT_EQ(ctrl->FindConnectionPoint(IRiver::kIid, ComPtr<plat::com::IConnectionPoint>().put()),
            plat::CONNECT_E_NOCONNECTION);
  std::uint32_t c1 = 0, c2 = 0, c3 = 0;
  cp->Advise(makeObject<Recorder>("b", &log).get(), &c1);
  cp->Advise(makeObject<Recorder>("a", &log).get(), &c2);
  cp->Advise(makeObject<Recorder>("c", &log).get(), &c3);
  ctrl->Fire(kNotifyChanged);
  disk->Fire(kNotifyChanged);  // no sink on the disk
  EXPECT_EQ(log, "b:8194 a:8194 c:8194 ");
  EXPECT_EQ(cp->Unadvise(c2), S_OK);
  EXPECT_EQ(cp->Unadvise(c2), plat::CONNECT_E_NOCONNECTION);
  log.clear();
  ctrl->Fire(kNotifyChanged);
  EXPECT_EQ(log, "b:8194 c:8194 ");
}

TEST(Container, ChildScanFindsMakesAndRemoves) {
  auto bus = makeObject<Bus>();
  bus->present = {1, 2};
  int link = 0;
  bus->InitContainer(nullptr, "Channel0", 0, &link);
  EXPECT_EQ(bus->DeviceLink(), &link);
  EXPECT_EQ(bus->made, 2);
  ASSERT_TRUE(bus->ChildByName("Disk2"));
  EXPECT_EQ(bus->ChildByName("Disk2")->DeviceLink(), &link) << "children take the container's link";
  ComPtr<CRiverNode> keep(bus->ChildByName("Disk1"));
  bus->present = {2, 3};
  bus->refresh();
  EXPECT_EQ(bus->made, 3) << "Disk2 was found again, only Disk3 is new";
  EXPECT_FALSE(bus->ChildByName("Disk1"));
  EXPECT_TRUE(bus->ChildByName("Disk3"));
  EXPECT_EQ(keep->Parent(), nullptr) << "a removed child no longer points at its old parent";
  bus->present = {};
  bus->refresh();
  std::size_t pos = bus->FirstChildPosition();
  EXPECT_EQ(bus->NextChild(pos), nullptr);
}

}  // namespace
