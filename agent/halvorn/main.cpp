// halvorn: the RAID message agent.
#include <strings.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agent/accounts/account_store.h"
#include "agent/halvorn/halvorn_app.h"
#include "message/com_socket.h"
#include "platform/base/format.h"
#include "platform/com/activation.h"
#include "platform/kernel/module_path.h"
#include "platform/registry/registry.h"

namespace {

constexpr const char* kUsage =
    "<<USAGE>>\nhalvorn.exe [/i name pwd] [/s] [/?|/help]\n /i name pwd\t initialize message agent.(generate \n\t\t "
    "admin account with specified name and \n\t\t password, wipe all old account). \n /s\t\t do job silently\n /? or "
    "/help \tshow this screen";
constexpr const char* kInitDone =
    "System initialize successful!\n\n new account generated:\n account name: %s\n  password: %s";
constexpr const char* kInitFailed = "System initialization failed, you may try it again later.";

constexpr const char* kProgId = "HalvornCom.ComSocket.1";
constexpr const char* kVersionlessProgId = "HalvornCom.ComSocket";
constexpr const char* kClassName = "ComSocket Class";

enum class Action { kNone, kInit, kHelp, kRegServer, kUnregServer };

bool Word(const std::string& arg, const char* word) {
  return arg.size() > 1 && (arg[0] == '-' || arg[0] == '/') && ::strcasecmp(arg.c_str() + 1, word) == 0;
}

// Sets the text values of one class-root key (created as needed); the first failure, if any.
plat::Result<void> SetTexts(const std::string& path, std::initializer_list<std::pair<const char*, std::string>> texts) {
  using namespace plat::reg;
  auto key = Key::create(Hive::ClassesRoot, path);
  if (!key) return key.error();
  for (const auto& [name, text] : texts)
    if (auto set = key->setString(name, text); !set) return set;
  return plat::success();
}

int RegisterServer() {
  const std::string clsid = kelm::kClsidComSocket.toString();
  auto self = plat::kernel::modulePath();
  if (!self) {
    std::fprintf(stderr, "halvorn: registering the ComSocket class failed: %s\n", self.message().c_str());
    return 1;
  }
  plat::HRESULT h = plat::com::registerLocalServer(kelm::kClsidComSocket, kClassName, kelm::kComSocketName, *self);
  if (plat::FAILED(h)) {
    std::fprintf(stderr, "halvorn: registering the ComSocket class failed: %s\n", plat::hresultText(h).c_str());
    return 1;
  }
  const plat::Result<void> steps[] = {
      SetTexts(plat::com::classKeyPath(kelm::kClsidComSocket), {{"ProgID", kProgId},
                                                                {"VersionIndependentProgID", kVersionlessProgId},
                                                                {"AppID", kelm::kAppIdHalvornCom.toString()}}),
      SetTexts(std::string(kProgId) + "\\CLSID", {{"", clsid}}),
      SetTexts(kProgId, {{"", kClassName}}),
      SetTexts(std::string(kVersionlessProgId) + "\\CLSID", {{"", clsid}}),
      SetTexts(kVersionlessProgId, {{"", kClassName}}),
      SetTexts(std::string(kVersionlessProgId) + "\\CurVer", {{"", kProgId}}),
      SetTexts("AppID\\" + kelm::kAppIdHalvornCom.toString(), {{"", "HalvornCom"}, {"LocalService", "ZODUzAve"}}),
  };
  for (const auto& step : steps) {
    if (!step) {
      std::fprintf(stderr, "halvorn: registering the ComSocket class failed: %s\n", step.message().c_str());
      return 1;
    }
  }
  return 0;
}

void UnregisterServer() {
  using namespace plat::reg;
  if (const plat::HRESULT h = plat::com::unregisterLocalServer(kelm::kClsidComSocket); plat::FAILED(h))
    std::fprintf(stderr, "halvorn: unregistering the ComSocket server failed: %s\n", plat::hresultText(h).c_str());
  for (const std::string& path : {plat::com::classKeyPath(kelm::kClsidComSocket), std::string(kProgId),
                                  std::string(kVersionlessProgId), "AppID\\" + kelm::kAppIdHalvornCom.toString()}) {
    auto gone = deleteKey(Hive::ClassesRoot, path);
    if (!gone && !isNotFound(gone)) std::fprintf(stderr, "halvorn: %s\n", gone.message().c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);

  Action action = Action::kNone;
  bool silent = false, svcdeb = false;
  std::string name, password;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (Word(a, "i")) {
      if (i + 2 < args.size()) {
        action = Action::kInit;
        name = args[i + 1];
        password = args[i + 2];
      }
    } else if (Word(a, "s")) {
      silent = true;
    } else if (Word(a, "?") || Word(a, "help")) {
      action = Action::kHelp;
    } else if (Word(a, "RegServer")) {
      action = Action::kRegServer;
    } else if (Word(a, "UnregServer")) {
      action = Action::kUnregServer;
    } else if (Word(a, "svcdeb")) {
      svcdeb = true;
    }
  }

  switch (action) {
    case Action::kHelp:
      std::printf("%s\n", kUsage);
      return 0;
    case Action::kInit: {
      kelm::accounts::AccountStore store;
      std::string why;
      store.setLog([&why](const std::string& reason) { why = reason; });
      const bool ok = store.InitUserStore(name, password) == plat::S_OK;
      if (!silent) {
        std::printf("%s\n", ok ? plat::format(kInitDone, name.c_str(), password.c_str()).c_str() : kInitFailed);
        if (!ok && !why.empty()) std::fprintf(stderr, "halvorn: %s\n", why.c_str());
      }
      return ok ? 0 : 1;
    }
    case Action::kRegServer:
      if (RegisterServer() != 0) return 1;
      break;
    case Action::kUnregServer:
      UnregisterServer();
      break;
    case Action::kNone:
      break;
  }

  kelm::agent::CHalvornApp app;
  app.SetLocalChannel(!svcdeb);
  const int code = app.InitInstance(args);
  // A registration run ends here as well (no service word follows); it did its work.
  if ((action == Action::kRegServer || action == Action::kUnregServer) &&
      kelm::ScanServiceWords(args).word == kelm::ServiceWord::kNone)
    return 0;
  return code;
}
