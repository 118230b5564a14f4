// A component built only for tests: a root with a property, a method that fires a change, and a
// controller child that offers IEventLog.
#include <deque>

#include "components/framework/component_module.h"
#include "components/framework/component_timer.h"
#include "components/framework/river_node.h"
#include "components/framework/tests/test_component_ids.h"
#include "platform/com/inproc_server.h"

using namespace kelm::fw;

namespace {

// The family's process-wide timer, started when its first node is built on a thread with a loop,
// as every family does; it only counts its ticks.
ComponentTimer ticker;
int ticks = 0;

class Controller final : public CRiverNode, public IEventLog {
 public:
  Controller() : CRiverNode(kNodeBase, kSerialController) {}
  KELM_COM_FORWARD_UNKNOWN(CRiverNode)

  HRESULT GetNewCount(std::uint32_t* n) override {
    if (n) *n = static_cast<std::uint32_t>(events_.size());
    return plat::S_OK;
  }
  HRESULT ReadEventLog(std::string* buf, std::uint32_t* size) override {
    if (!buf) return plat::E_POINTER;
    buf->clear();
    if (events_.empty()) {
      if (size) *size = 0;
      return plat::S_OK;
    }
    *buf = events_.front().format();
    events_.pop_front();
    if (size) *size = 1;
    return plat::S_OK;
  }
  HRESULT ClearLog() override {
    events_.clear();
    return plat::S_OK;
  }

  int UpdateValues() override {
    SetAttrInt("EventCount", kDropReadOnlyVolatile, static_cast<long long>(events_.size()));
    return 1;
  }
  int DeclareMethods() override { return AddMethod("MakeEvent", 1); }
  int InvokeHandler(const std::string& name, const std::string& arg) override {
    events_.push_back({4101, 1000, 3, "Test event", arg});
    UpdateValues();
    Fire(kNotifyChanged);
    return 0;
  }

 protected:
  void* queryMore(const Guid& iid) override { return iid == IEventLog::kIid ? static_cast<IEventLog*>(this) : nullptr; }

 private:
  std::deque<EventRecord> events_;
};

class Root final : public CRiverNode {
 public:
  Root() : CRiverNode(kNodeBase, kSerialRoot) {}
  int UpdateValues() override {
    SetAttr("Model", kDropReadOnly, "Test subsystem");
    SetAttr("Label", 0, "unnamed");
    return 1;
  }
  int DeclareMethods() override {
    AddMethod("Ping", 0x7FFFFFFF);
    return 1;
  }
  int InvokeHandler(const std::string& name, const std::string& arg) override {
    SetAttr("LastPing", kDropReadOnly, arg);
    Fire(kNotifyChanged);
    return 0;
  }
  void Build() {
    Init(nullptr, "TestRAID", 0, 0, 0);
    auto c = plat::com::makeObject<Controller>();
    c->Init(this, "Controller0", 0, 0, 0);
    AddChild(c.get());
  }
};

}  // namespace

KELM_EXPORT plat::HRESULT DllGetClassObject(const plat::com::Guid* clsid, const plat::com::Guid* iid, void** out) {
  return GetClassObject(kTestComponent, clsid, iid, out, [](const Guid& want, void** obj) {
    auto root = plat::com::makeObject<Root>();
    root->Build();
    if (!ticker.Running()) ticker.Start(std::chrono::milliseconds(1000), [] { ++ticks; });
    return root->QueryInterface(want, obj);
  });
}

KELM_EXPORT plat::HRESULT DllCanUnloadNow() { return CanUnloadNow(); }

KELM_EXPORT plat::HRESULT DllRegisterServer() {
  return RegisterComponent(kTestComponent, ThisModulePath().valueOr({}));
}

KELM_EXPORT plat::HRESULT DllUnregisterServer() { return UnregisterComponent(kTestComponent); }

// For the tests: the ticks so far, and stopping the timer.
KELM_EXPORT void KelmTestTicksInto(int* out) { *out = ticks; }
KELM_EXPORT void KelmTestStopTicks() { ticker.Stop(); }
