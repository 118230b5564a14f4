#include "components/serial/brask_root.h"

#include "components/framework/component_module.h"
#include "components/framework/version_info.h"
#include "components/serial/child_sweep.h"
#include "components/serial/poll_registry.h"
#include "components/serial/raid_api.h"
#include "components/serial/serial_controller.h"

namespace kelm::brask {

namespace {

constexpr int kMaxAdapters = 8;

}  // namespace

CBraskRoot::CBraskRoot() : CRiverNode(fw::kSerialRoot, fw::kSerialRoot) {}

CBraskRoot::~CBraskRoot() {
  if (joined_) PollRegistry::Get().RemoveRoot(this);
  RemoveAll();  // the controllers go before the library they talk to
  if (libraryUp_) Api().raTerminate(0);
}

void CBraskRoot::Build() {
  InitNode(nullptr, "brask", fw::kSerialRoot);
  AddMethod("connectComPort", kRightsAnyUser);
  AddMethod("disconnectComPort", kRightsAnyUser);
  libraryUp_ = Api().raInitialize(0) == 0;
  if (libraryUp_) {
    Api().TryToConnectComPort();
    WaitForLink();
  }
  if (libraryUp_ && Api().raIsComportReady() && MakeControllers()) {
    disconnected_ = false;
    ShowStatus(kStatusConnected);
  } else {
    disconnected_ = true;
    ShowStatus(kStatusDisconnected);
    Api().StopComportActivity();
  }
  fw::CVersionInfo version;
  if (auto self = fw::ThisModulePath(); self && version.Open(*self)) {
    if (auto text = version.String("FileVersion")) SetAttr("FileVersion", fw::kDropReadOnly, *text);
  }
  SetAttr("Type", fw::kDropReadOnly, "VELKARI SorventicRAID");
  PollRegistry::Get().AddRoot(this);
  joined_ = true;
}

void CBraskRoot::WaitForLink() {
  plat::Sleeper& sleeper = *Env().sleeper;
  for (int waited = 0; waited < kConnectWaitMs && !Api().raIsComportReady(); waited += kConnectSliceMs)
    sleeper.sleepMs(kConnectSliceMs);
}

bool CBraskRoot::MakeControllers() {
  int adapters = 0;
  if (Api().raGetNumberOfAdapters(&adapters) != 0) return false;
  bool made = false;
  for (int i = 0; i < adapters && i < kMaxAdapters; ++i) {
    auto controller = plat::com::makeObject<CSerialController>();
    controller->InitController(this, "Controller" + std::to_string(i + 1), i);
    made = AddChild(controller.get()) != 0 || made;
  }
  return made;
}

bool CBraskRoot::RemoveControllers() {
  return RemoveChildren(*this, [](const fw::CDrop&) { return true; });
}

void CBraskRoot::ShowStatus(const char* status) { SetAttr("ComportStatus", fw::kDropReadOnly, status); }

int CBraskRoot::InvokeHandler(const std::string& name, const std::string&) {
  if (name == "connectComPort") Connect();
  if (name == "disconnectComPort") Disconnect();
  return 0;
}

void CBraskRoot::Connect() {
  Api().TryToConnectComPort();
  if (!Api().raIsComportReady() || !disconnected_) return;
  if (MakeControllers()) {
    disconnected_ = false;
    Fire(fw::kNotifyChanged);
  }
}

void CBraskRoot::Disconnect() {
  Api().StopComportActivity();
  const bool changed = RemoveControllers();
  disconnected_ = true;
  if (changed) Fire(fw::kNotifyChanged);
}

void CBraskRoot::Refresh() {
  plat::com::ComPtr<CBraskRoot> keep(this);
  if (!Api().raIsComportReady()) {
    // A link that fell drops the controllers here too, not only in the poll.
    if (!disconnected_) Disconnect();
    ShowStatus(kStatusDisconnected);
  } else if (disconnected_) {
    Connect();
    ShowStatus(disconnected_ ? kStatusDisconnected : kStatusReady);
  } else {
    ShowStatus(kStatusConnected);
  }
  SetAttr("Type", fw::kDropReadOnly, "VELKARI SorventicRAID");
}

void CBraskRoot::Poll() {
  if (!Api().raIsComportReady() && !disconnected_) Disconnect();
  Refresh();
}

}  // namespace kelm::brask
