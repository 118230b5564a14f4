#include "platform/com/activation.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/base/paths.h"
#include "platform/base/unix_address.h"
#include "platform/com/inproc_server.h"
#include "platform/registry/registry.h"

namespace plat::com {

namespace {

constexpr std::size_t kMaxLibraryPath = 4096;

struct Library {
  void* handle = nullptr;
  KelmDllGetClassObject getClassObject = nullptr;
  KelmDllCanUnloadNow canUnloadNow = nullptr;
};

struct Runtime {
  std::mutex mutex;
  std::map<std::string, Library> libraries;  // by path as registered
  std::map<Guid, LocalProxyMaker> proxies;
};

Runtime& runtime() {
  static Runtime* r = new Runtime;  // outlives every static that might still release objects
  return *r;
}

// The library of a class: absolute, bounded, as registered. Error codes are the HRESULTs that
// CoGetClassObject answers with.
Result<std::string> inprocPath(const Guid& clsid) {
  auto key = reg::Key::open(reg::Hive::ClassesRoot, classKeyPath(clsid) + "\\InprocServer32");
  if (!key) return Error{REGDB_E_CLASSNOTREG, key.message()};
  auto p = key->getString("");
  if (!p) return Error{REGDB_E_CLASSNOTREG, p.message()};
  if (p->empty()) return Error{REGDB_E_CLASSNOTREG, "the class names no library"};
  if (p->size() > kMaxLibraryPath || p->front() != '/' || p->find('\0') != std::string::npos)
    return Error{CO_E_DLLNOTFOUND, "the class's library is no absolute path"};
  return std::move(*p);
}

Result<Library> loadLibrary(const std::string& path) {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  auto it = rt.libraries.find(path);
  if (it != rt.libraries.end()) return it->second;
  // RTLD_LOCAL: every component keeps its own copy of what it links statically.
  void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* why = ::dlerror();
    return Error{CO_E_DLLNOTFOUND, why ? why : "cannot load " + path};
  }
  Library lib;
  lib.handle = h;
  lib.getClassObject = reinterpret_cast<KelmDllGetClassObject>(::dlsym(h, kDllGetClassObject));
  lib.canUnloadNow = reinterpret_cast<KelmDllCanUnloadNow>(::dlsym(h, kDllCanUnloadNow));
  if (!lib.getClassObject) {
    ::dlclose(h);
    return Error{CO_E_ERRORINDLL, path + " has no " + kDllGetClassObject};
  }
  rt.libraries.emplace(path, lib);
  return lib;
}

HRESULT localObject(const Guid& clsid, const Guid& iid, void** out) {
  LocalProxyMaker maker;
  {
    Runtime& rt = runtime();
    std::lock_guard<std::mutex> lock(rt.mutex);
    auto it = rt.proxies.find(clsid);
    if (it != rt.proxies.end()) maker = it->second;
  }
  auto fd = connectLocalServer(clsid);
  if (!fd) return fd.code();
  if (!maker) return E_NOINTERFACE;  // nothing in this process speaks the class's protocol
  return maker(std::move(*fd), iid, out);
}

}  // namespace

std::string classKeyPath(const Guid& clsid) { return "CLSID\\" + clsid.toString(); }

HRESULT CoGetClassObject(const Guid& clsid, std::uint32_t context, const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  auto path = inprocPath(clsid);
  if (!path) return path.code();
  auto lib = loadLibrary(*path);
  if (!lib) return lib.code();
  HRESULT h = lib->getClassObject(&clsid, &iid, out);
  if (FAILED(h)) *out = nullptr;
  return h;
}

HRESULT CoCreateInstance(const Guid& clsid, IUnknown* outer, std::uint32_t context, const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  HRESULT h = REGDB_E_CLASSNOTREG;
  if (context & CLSCTX_INPROC_SERVER) {
    ComPtr<IClassFactory> factory;
    h = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, IClassFactory::kIid, factory.putVoid());
    if (SUCCEEDED(h) && factory) return factory->CreateInstance(outer, iid, out);
    // A class that is not in-process may still be a local server.
    if (h != REGDB_E_CLASSNOTREG || !(context & CLSCTX_LOCAL_SERVER)) return FAILED(h) ? h : E_NOINTERFACE;
  }
  if (context & CLSCTX_LOCAL_SERVER) {
    if (outer) return CLASS_E_NOAGGREGATION;
    h = localObject(clsid, iid, out);
  }
  return h;
}

void CoFreeUnusedLibraries() {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  for (auto it = rt.libraries.begin(); it != rt.libraries.end();) {
    if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
      ::dlclose(it->second.handle);
      it = rt.libraries.erase(it);
    } else {
      ++it;
    }
  }
}

// --- Local servers ------------------------------------------------------------------------------

bool validLocalSocketName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name.front() == '/') return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == '{' || c == '}'))
      return false;
  return name != "." && name != "..";
}

std::filesystem::path localSocketPath(const std::string& name) { return paths::runtimeDir() / "com" / name; }

void registerLocalProxy(const Guid& clsid, LocalProxyMaker maker) {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  rt.proxies[clsid] = std::move(maker);
}

void unregisterLocalProxy(const Guid& clsid) {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  rt.proxies.erase(clsid);
}

Result<UniqueFd> connectLocalServer(const Guid& clsid) {
  auto key = reg::Key::open(reg::Hive::ClassesRoot, classKeyPath(clsid) + "\\LocalServer32");
  if (!key)
    return Error{REGDB_E_CLASSNOTREG, reg::isNotFound(key) ? "class not registered as a local server" : key.message()};
  auto name = key->getString("Socket");
  if (!name) return Error{REGDB_E_CLASSNOTREG, reg::isNotFound(name) ? "class names no socket" : name.message()};
  if (!validLocalSocketName(*name)) return Error{CO_E_SERVER_EXEC_FAILURE, "invalid socket name '" + *name + "'"};
  return connectLocalSocket(localSocketPath(*name));
}

Result<UniqueFd> connectLocalSocket(const std::filesystem::path& socketPath) {
  auto addr = unixAddress(socketPath.string());
  if (!addr) return Error{CO_E_SERVER_EXEC_FAILURE, addr.message()};
  UniqueFd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s) return Error{E_FAIL, errnoError("socket").message};
  // A local connect never waits: it completes or fails at once (EAGAIN when the server's backlog
  // is full, which counts as a server that does not answer).
  if (::connect(s.get(), addr->get(), addr->length) != 0) {
    const int err = errno;
    return Error{(err == EACCES || err == EPERM) ? E_ACCESSDENIED : CO_E_SERVER_EXEC_FAILURE,
                 errnoError("connect " + socketPath.string(), err).message};
  }
  return s;
}

HRESULT registerLocalServer(const Guid& clsid, const std::string& description, const std::string& socketName,
                            const std::filesystem::path& program) {
  if (!validLocalSocketName(socketName)) return E_INVALIDARG;
  auto cls = reg::Key::create(reg::Hive::ClassesRoot, classKeyPath(clsid));
  if (!cls) return reg::toHresult(cls);
  if (auto set = cls->setString("", description); !set) return reg::toHresult(set);
  auto server = cls->createSubKey("LocalServer32");
  if (!server) return reg::toHresult(server);
  if (auto set = server->setString("", program.string()); !set) return reg::toHresult(set);
  return reg::toHresult(server->setString("Socket", socketName));
}

HRESULT unregisterLocalServer(const Guid& clsid) {
  auto gone = reg::deleteKey(reg::Hive::ClassesRoot, classKeyPath(clsid) + "\\LocalServer32");
  return reg::isNotFound(gone) ? S_OK : reg::toHresult(gone);
}

}  // namespace plat::com
