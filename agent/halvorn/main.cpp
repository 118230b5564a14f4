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
constexpr const char* kInitDone = "System initialize successful!\n\n new account generated:\n account name: %s\n  password: %s";
constexpr const char* kInitFailed = "System initialization failed, you may try it again later.";

constexpr const char* kProgId = "HalvornCom.ComSocket.1";
constexpr const char* kVersionlessProgId = "HalvornCom.ComSocket";
constexpr const char* kClassName = "ComSocket Class";

enum class Action { kNone, kInit, kHelp, kRegServer, kUnregServer };

bool Word(const std::string& arg, const char* word) {
  return arg.size() > 1 && (arg[0] == '-' || arg[0] == '/') && ::strcasecmp(arg.c_str() + 1, word) == 0;
}

int RegisterServer() {
  using namespace plat::reg;
  const std::string clsid = kelm::kClsidComSocket.toString();
  plat::HRESULT h = plat::com::registerLocalServer(kelm::kClsidComSocket, kClassName, kelm::kComSocketName,
                                                   plat::kernel::modulePath());
  auto cls = Key::create(Hive::ClassesRoot, plat::com::classKeyPath(kelm::kClsidComSocket));
  bool ok = plat::SUCCEEDED(h) && cls && cls->setString("ProgID", kProgId) == Status::Ok &&
            cls->setString("VersionIndependentProgID", kVersionlessProgId) == Status::Ok &&
            cls->setString("AppID", kelm::kAppIdHalvornCom.toString()) == Status::Ok;
  for (const char* progId : {kProgId, kVersionlessProgId}) {
    auto k = Key::create(Hive::ClassesRoot, std::string(progId) + "\\CLSID");
    ok = ok && k && k->setString("", clsid) == Status::Ok;
    if (auto p = Key::open(Hive::ClassesRoot, progId)) ok = ok && p->setString("", kClassName) == Status::Ok;
  }
  if (auto cur = Key::create(Hive::ClassesRoot, std::string(kVersionlessProgId) + "\\CurVer"))
    ok = ok && cur->setString("", kProgId) == Status::Ok;
  if (auto app = Key::create(Hive::ClassesRoot, "AppID\\" + kelm::kAppIdHalvornCom.toString())) {
    ok = ok && app->setString("", "HalvornCom") == Status::Ok && app->setString("LocalService", "ZODUzAve") == Status::Ok;
  }
  if (!ok) std::fprintf(stderr, "halvorn: registering the ComSocket class failed\n");
  return ok ? 0 : 1;
}

void UnregisterServer() {
  using namespace plat::reg;
  plat::com::unregisterLocalServer(kelm::kClsidComSocket);
  deleteKey(Hive::ClassesRoot, plat::com::classKeyPath(kelm::kClsidComSocket));
  deleteKey(Hive::ClassesRoot, kProgId);
  deleteKey(Hive::ClassesRoot, kVersionlessProgId);
  deleteKey(Hive::ClassesRoot, "AppID\\" + kelm::kAppIdHalvornCom.toString());
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
      const bool ok = store.InitUserStore(name, password) == plat::S_OK;
      if (!silent) std::printf("%s\n", ok ? plat::format(kInitDone, name.c_str(), password.c_str()).c_str() : kInitFailed);
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
  if ((action == Action::kRegServer || action == Action::kUnregServer) && kelm::ScanServiceWords(args).word == kelm::ServiceWord::kNone)
    return 0;
  return code;
}
