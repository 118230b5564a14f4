#include "platform/com/connection_point.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/com/object.h"

using namespace plat;
using namespace plat::com;

namespace {

struct ITick : IUnknown {
  static constexpr Guid kIid = guid("{22222222-0000-0000-0000-000000000001}");
  virtual void tick(int code) = 0;
};
struct IOther : IUnknown {
  static constexpr Guid kIid = guid("{22222222-0000-0000-0000-000000000002}");
};

class Source final : public Object<IConnectionPointContainer> {
 public:
  HRESULT FindConnectionPoint(const Guid& iid, IConnectionPoint** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != ITick::kIid) return CONNECT_E_NOCONNECTION;
    *out = &cp;
    cp.AddRef();
    return S_OK;
  }
  ConnectionPoint<ITick> cp{*this};
};

class Sink final : public Object<ITick> {
 public:
  Sink(std::string name, std::string* log) : name_(std::move(name)), log_(log) {}
  void tick(int code) override {
    *log_ += name_ + std::to_string(code) + " ";
    if (onTick) onTick();
  }
  std::function<void()> onTick;

 private:
  std::string name_;
  std::string* log_;
};

class Silent final : public Object<IOther> {};

struct ConnectionPointTest : ::testing::Test {
  ComPtr<Source> source = makeObject<Source>();
  ComPtr<IConnectionPoint> cp;
  std::string log;
  void SetUp() override { ASSERT_EQ(source->FindConnectionPoint(ITick::kIid, cp.put()), S_OK); }
  std::uint32_t advise(const ComPtr<Sink>& s) {
    std::uint32_t cookie = 0;
    EXPECT_EQ(cp->Advise(s.get(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    return cookie;
  }
};

TEST_F(ConnectionPointTest, FiresInAdviseOrderAndUnadviseTakesTheCookieBack) {
  auto a = makeObject<Sink>("a", &log), b = makeObject<Sink>("b", &log), c = makeObject<Sink>("c", &log);
  std::uint32_t ca = advise(a), cb = advise(b), cc = advise(c);
  EXPECT_TRUE(ca != cb && cb != cc && ca != cc);
  source->cp.fire([](ITick& t) { t.tick(1); });
  EXPECT_EQ(log, "a1 b1 c1 ");
  EXPECT_EQ(cp->Unadvise(cb), S_OK);
  EXPECT_EQ(cp->Unadvise(cb), CONNECT_E_NOCONNECTION) << "a cookie is taken back once";
  EXPECT_EQ(cp->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp->Unadvise(12345), CONNECT_E_NOCONNECTION);
  log.clear();
  source->cp.fire([](ITick& t) { t.tick(2); });
  EXPECT_EQ(log, "a2 c2 ");
  // A new sink never gets a cookie that was handed out before.
  auto d = makeObject<Sink>("d", &log);
  std::uint32_t cd = advise(d);
  EXPECT_TRUE(cd != ca && cd != cb && cd != cc);
}

TEST_F(ConnectionPointTest, RefusesSinksWithoutTheEventInterfaceAndUnknownPoints) {
  auto silent = makeObject<Silent>();
  std::uint32_t cookie = 7;
  EXPECT_EQ(cp->Advise(silent.get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(cp->Advise(nullptr, &cookie), E_POINTER);
  ComPtr<IConnectionPoint> other;
  EXPECT_EQ(source->FindConnectionPoint(IOther::kIid, other.put()), CONNECT_E_NOCONNECTION);
  Guid iid;
  EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, ITick::kIid);
}

TEST_F(ConnectionPointTest, FireWalksASnapshotWhileSinksUnadviseAndAdvise) {
  auto a = makeObject<Sink>("a", &log), b = makeObject<Sink>("b", &log), late = makeObject<Sink>("late", &log);
  advise(a);
  std::uint32_t cb = advise(b);
  // a unadvises b and advises a newcomer while being called: b is still called this time (it was
  // advised when the fire began), the newcomer only from the next fire on, and nothing dangles.
  bool first = true;
  a->onTick = [&] {
    if (!first) return;
    first = false;
    EXPECT_EQ(cp->Unadvise(cb), S_OK);
    b.reset();  // the snapshot keeps b alive for this fire
    advise(late);
  };
  source->cp.fire([](ITick& t) { t.tick(1); });
  EXPECT_EQ(log, "a1 b1 ");
  log.clear();
  source->cp.fire([](ITick& t) { t.tick(2); });
  EXPECT_EQ(log, "a2 late2 ");
}

TEST_F(ConnectionPointTest, SinksAreReleasedWithTheirSource) {
  int before = 0;
  auto a = makeObject<Sink>("a", &log);
  advise(a);
  before = static_cast<int>(a->AddRef()) - 1;
  a->Release();
  EXPECT_EQ(before, 2) << "the connection point holds one reference";
  cp.reset();
  source.reset();
  EXPECT_EQ(a->AddRef(), 2u) << "destroying the source released its sinks";
  a->Release();
}

}  // namespace
