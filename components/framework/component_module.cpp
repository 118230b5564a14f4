#include "components/framework/component_module.h"

#include "components/framework/river_node.h"
#include "platform/kernel/module_path.h"
#include "platform/registry/registrar.h"

namespace kelm::fw {

namespace {

// The component's class object. It counts as a live object of the library, so that the library
// stays loaded while anybody holds it.
class CComponentFactory final : public plat::com::Object<plat::com::IClassFactory> {
 public:
  explicit CComponentFactory(RootMaker make) : make_(std::move(make)) { Module().objectUp(); }
  ~CComponentFactory() override { Module().objectDown(); }
  HRESULT CreateInstance(plat::com::IUnknown* outer, const Guid& iid, void** out) override {
    if (!out) return plat::E_POINTER;
    *out = nullptr;
    if (outer) return plat::CLASS_E_NOAGGREGATION;
    return make_(iid, out);
  }
  HRESULT LockServer(bool lock) override {
    Module().lock(lock);
    return plat::S_OK;
  }

 private:
  RootMaker make_;
};

}  // namespace

HRESULT GetClassObject(const ComponentIdentity& id, const Guid* clsid, const Guid* iid, void** out, RootMaker make) {
  if (!out) return plat::E_POINTER;
  *out = nullptr;
  if (!clsid || !iid) return plat::E_INVALIDARG;
  if (*clsid != id.clsid) return plat::CLASS_E_CLASSNOTAVAILABLE;
  auto factory = plat::com::makeObject<CComponentFactory>(std::move(make));
  return factory->QueryInterface(*iid, out);
}

HRESULT CanUnloadNow() { return Module().canUnload() ? plat::S_OK : plat::S_FALSE; }

namespace {

// Quoted for the registrar: a quote inside is doubled.
std::string Quote(std::string_view s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

std::string WithoutVersion(std::string_view progId) {
  std::string s(progId);
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".1") == 0) s.resize(s.size() - 2);
  return s;
}

}  // namespace

std::string RegistrationScript(const ComponentIdentity& id) {
  const std::string clsid = id.clsid.toString();
  const std::string desc = Quote(id.helpString), progId = Quote(id.progId);
  std::string s;
  s += "HKCR\n{\n";
  s += "  " + progId + " = s " + desc + "\n  {\n    CLSID = s '" + clsid + "'\n  }\n";
  s += "  " + Quote(WithoutVersion(id.progId)) + " = s " + desc + "\n  {\n    CurVer = s " + progId + "\n  }\n";
  s += "  NoRemove CLSID\n  {\n";
  s += "    ForceRemove " + clsid + " = s " + desc + "\n    {\n";
  s += "      ProgID = s " + progId + "\n";
  s += "      VersionIndependentProgID = s " + Quote(id.versionIndependentProgId) + "\n";
  s += "      ForceRemove Programmable\n";
  s += "      InprocServer32 = s '%MODULE%'\n      {\n        val ThreadingModel = s 'Apartment'\n      }\n";
  s += "    }\n  }\n}\n";
  s += "HKLM\n{\n  NoRemove SOFTWARE\n  {\n    NoRemove 'Velkari Technology, Inc.'\n    {\n";
  s += "      NoRemove 'Message Agent'\n      {\n        NoRemove IO_CLSID\n        {\n";
  s += "          ForceRemove " + clsid + " = s " + Quote(id.typeName) + "\n          {\n";
  s += "            val ProgID = s " + progId + "\n          }\n";
  s += "        }\n      }\n    }\n  }\n}\n";
  return s;
}

HRESULT RegisterComponent(const ComponentIdentity& id, const std::filesystem::path& module) {
  if (module.empty()) return plat::E_FAIL;
  plat::reg::Registrar r;
  r.addReplacement("MODULE", module.string());
  return r.registerScript(RegistrationScript(id));
}

HRESULT UnregisterComponent(const ComponentIdentity& id) {
  plat::reg::Registrar r;
  r.addReplacement("MODULE", "");
  return r.unregisterScript(RegistrationScript(id));
}

plat::Result<std::filesystem::path> ThisModulePath() {
  return plat::kernel::modulePathOf(reinterpret_cast<const void*>(&ThisModulePath));
}

}  // namespace kelm::fw
