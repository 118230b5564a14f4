#include "platform/com/object.h"

#include <gtest/gtest.h>

#include "platform/com/class_factory.h"

using namespace plat;
using namespace plat::com;

namespace {

struct IAlpha : IUnknown {
  static constexpr Guid kIid = guid("{11111111-0000-0000-0000-000000000001}");
  virtual int alpha() = 0;
};
struct IBeta : IUnknown {
  static constexpr Guid kIid = guid("{11111111-0000-0000-0000-000000000002}");
  virtual int beta() = 0;
};
struct IGamma : IUnknown {
  static constexpr Guid kIid = guid("{11111111-0000-0000-0000-000000000003}");
};

class Both final : public Object<IAlpha, IBeta> {
 public:
  explicit Both(int* alive) : alive_(alive) { ++*alive_; }
  ~Both() override { --*alive_; }
  int alpha() override { return 1; }
  int beta() override { return 2; }

 private:
  int* alive_;
};

TEST(Object, QueryInterfaceGivesEachInterfaceAndCountsOneObject) {
  int alive = 0;
  {
    ComPtr<IAlpha> a = makeObject<Both>(&alive);
    ComPtr<IBeta> b = a.as<IBeta>();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->beta(), 2);
    ComPtr<IUnknown> u1 = a.as<IUnknown>(), u2 = b.as<IUnknown>();
    EXPECT_EQ(u1.get(), u2.get()) << "identity: both interfaces give the same IUnknown";
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(a->QueryInterface(IGamma::kIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(a->QueryInterface(IGamma::kIid, nullptr), E_POINTER);
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0) << "the last Release destroys the object";
}

TEST(Object, ComPtrAdoptDetachAndPut) {
  int alive = 0;
  IAlpha* raw = nullptr;
  {
    ComPtr<IAlpha> a = makeObject<Both>(&alive);
    raw = a.detach();  // we own that reference now
  }
  EXPECT_EQ(alive, 1);
  {
    auto adopted = ComPtr<IAlpha>::adopt(raw);
    ComPtr<IBeta> b;
    ASSERT_EQ(adopted->QueryInterface(IBeta::kIid, b.putVoid()), S_OK);
    b.put();  // releases what it held
    EXPECT_FALSE(b);
  }
  EXPECT_EQ(alive, 0);
}

TEST(ClassFactory, RefusesAggregationAndCountsLocks) {
  int alive = 0, locks = 0;
  auto factory =
      makeObject<ClassFactory>([&](const Guid& iid, void** out) { return createAndQuery<Both>(iid, out, &alive); },
                               [&](bool lock) { locks += lock ? 1 : -1; });
  void* out = nullptr;
  ComPtr<IUnknown> outer = makeObject<Both>(&alive).as<IUnknown>();
  EXPECT_EQ(factory->CreateInstance(outer.get(), IAlpha::kIid, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IGamma::kIid, &out), E_NOINTERFACE);
  EXPECT_EQ(alive, 1) << "an instance nobody could take is destroyed again";
  ComPtr<IBeta> b;
  ASSERT_EQ(factory->CreateInstance(nullptr, IBeta::kIid, b.putVoid()), S_OK);
  EXPECT_EQ(b->beta(), 2);
  factory->LockServer(true);
  factory->LockServer(true);
  factory->LockServer(false);
  EXPECT_EQ(locks, 1);
}

}  // namespace
