#pragma once
// What a component library needs for its four exports: its class object, its unload answer and
// its registration (the class keys and its IO_CLSID entry, through the registrar).
#include <filesystem>
#include <functional>
#include <string>

#include "components/framework/component_types.h"
#include "components/framework/interfaces.h"
#include "platform/base/result.h"
#include "platform/com/class_factory.h"

namespace kelm::fw {

// Makes the component's root node and queries it for iid.
using RootMaker = std::function<HRESULT(const Guid& iid, void** out)>;

// The body of DllGetClassObject: a class factory for the component's one class.
HRESULT GetClassObject(const ComponentIdentity& id, const Guid* clsid, const Guid* iid, void** out, RootMaker make);
// The body of DllCanUnloadNow: S_OK when no node, enumerator or lock of this library is alive.
HRESULT CanUnloadNow();

// The registrar script of a component (%MODULE% stands for the library's path).
std::string RegistrationScript(const ComponentIdentity& id);
// Registering twice leaves one entry; unregistering keeps IO_CLSID and the keys above it.
HRESULT RegisterComponent(const ComponentIdentity& id, const std::filesystem::path& module);
HRESULT UnregisterComponent(const ComponentIdentity& id);
// The path of the library this code is linked into.
plat::Result<std::filesystem::path> ThisModulePath();

}  // namespace kelm::fw
