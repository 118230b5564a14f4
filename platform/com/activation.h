#pragma once
// Creating objects by class identifier. In-process classes are found in the registry
// (CLSID\{...}\InprocServer32 names the library), loaded with dlopen and asked through their
// DllGetClassObject export. Local-server classes name a Unix-domain socket under the runtime
// directory (CLSID\{...}\LocalServer32, value "Socket"); a proxy registered in this process for
// the class speaks over it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"
#include "platform/com/class_factory.h"

namespace plat::com {

// Asks the class object for IClassFactory and creates one instance. Results beyond those of the
// class itself: REGDB_E_CLASSNOTREG (no such class for the context), CO_E_DLLNOTFOUND (the library
// does not load), CO_E_ERRORINDLL (it lacks DllGetClassObject), and for a local server
// CO_E_SERVER_EXEC_FAILURE (nobody listens) and E_ACCESSDENIED (the socket refuses this user).
HRESULT CoCreateInstance(const Guid& clsid, IUnknown* outer, std::uint32_t context, const Guid& iid, void** out);

template <class T>
HRESULT CoCreateInstance(const Guid& clsid, std::uint32_t context, ComPtr<T>& out) {
  return CoCreateInstance(clsid, nullptr, context, T::kIid, out.putVoid());
}

// The class object of an in-process class.
HRESULT CoGetClassObject(const Guid& clsid, std::uint32_t context, const Guid& iid, void** out);

// Unloads every library whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// The registry key of a class: "CLSID\{...}" under HKEY_CLASSES_ROOT.
std::string classKeyPath(const Guid& clsid);

// --- Local servers --------------------------------------------------------------------------

// Registered socket names are relative to the runtime directory; this bounds them (no "..", no
// absolute path, short enough for a socket address).
bool validLocalSocketName(const std::string& name);
std::filesystem::path localSocketPath(const std::string& name);

// Makes the client-side object for a connected socket (which it then owns). Registered per class
// by the library that knows the class's protocol.
using LocalProxyMaker = std::function<HRESULT(UniqueFd connected, const Guid& iid, void** out)>;
void registerLocalProxy(const Guid& clsid, LocalProxyMaker maker);
void unregisterLocalProxy(const Guid& clsid);

// Connects to the class's registered socket: the descriptor (non-blocking, close-on-exec), or an
// error whose code is the failure's HRESULT as above.
Result<UniqueFd> connectLocalServer(const Guid& clsid);
// The same for a socket path: CO_E_SERVER_EXEC_FAILURE when nobody listens there, E_ACCESSDENIED
// when its mode refuses this user.
Result<UniqueFd> connectLocalSocket(const std::filesystem::path& path);

// Writes the class's socket name into its registry key (the server's registration); removes it.
HRESULT registerLocalServer(const Guid& clsid, const std::string& description, const std::string& socketName,
                            const std::filesystem::path& program);
HRESULT unregisterLocalServer(const Guid& clsid);

}  // namespace plat::com
