// The test component registered into a private registry and loaded by class identifier.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "components/framework/component_module.h"
#include "components/framework/interfaces.h"
#include "components/framework/tests/test_component_ids.h"
#include "platform/testing/temp_root.h"
#include "platform/com/activation.h"
#include "platform/com/connection_point.h"
#include "platform/com/enum_string.h"
#include "platform/loop/event_loop.h"
#include "platform/registry/registry.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/result_values.h"

using namespace kelm::fw;
using namespace plat;
using namespace plat::com;

namespace {

using Lines = std::vector<std::string>;

std::string testDir(const char* var) {
  const char* v = std::getenv(var);
  return v ? v : "";
}
std::string library() { return testDir("KELM_TEST_LIB") + "/libkelmtestcomponent.so"; }

int regsvr(const std::string& args) {
  std::string cmd = testDir("KELM_TEST_BIN") + "/kelmregsvr -s " + args + " '" + library() + "'";
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

HRESULT canUnloadNow() {
  void* h = ::dlopen(library().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return E_FAIL;  // not loaded at all
  auto fn = reinterpret_cast<KelmDllCanUnloadNow>(::dlsym(h, "DllCanUnloadNow"));
  HRESULT r = fn ? fn() : E_FAIL;
  ::dlclose(h);
  return r;
}

Lines listing(IRiver& node) {
  ComPtr<IUnknown> u;
  EXPECT_EQ(node.dir(u.put()), S_OK);
  auto e = u.as<IEnumString>();
  Lines all;
  if (e) e->Next(100, all);
  return all;
}

struct Sink final : Object<IRAIDEvent> {
  Sink(std::string n, std::string* l) : name(std::move(n)), log(l) {}
  HRESULT RAIDNotification(std::uint32_t code) override {
    *log += name + ":" + std::to_string(code) + " ";
    return S_OK;
  }
  std::string name;
  std::string* log;
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(regsvr(""), 0); }
  plat::testing::TempRoot tempRoot;
};

TEST_F(ComponentTest, RegisteredTwiceLeavesOneEntryAndUnregisterKeepsTheList) {
  ASSERT_EQ(regsvr(""), 0);
  auto list = reg::Key::open(reg::Hive::LocalMachine, kIoClsidKey);
  ASSERT_TRUE(list);
  EXPECT_EQ(plat::testing::valueOf(list->subKeyNames()), Lines{kTestComponent.clsid.toString()});
  auto entry = list->openSubKey(kTestComponent.clsid.toString());
  ASSERT_TRUE(entry);
  EXPECT_EQ(plat::testing::valueOf(entry->getString("")), "TEST_RAID");
  EXPECT_EQ(plat::testing::valueOf(entry->getString("ProgID")), "KelmTest.TestRAID.1");
  auto server = reg::Key::open(reg::Hive::ClassesRoot, classKeyPath(kTestComponent.clsid) + "\\InprocServer32");
  ASSERT_TRUE(server);
  EXPECT_EQ(plat::testing::valueOf(server->getString("ThreadingModel")), "Apartment");
  EXPECT_EQ(std::filesystem::path(server->getString("").valueOr("")).filename(), "libkelmtestcomponent.so");

  // The class keys: the ProgID, the ProgID without its version, and the class with its names.
  const std::string clsid = kTestComponent.clsid.toString();
  auto text = [](std::string_view path, std::string_view name = "") {
    auto k = reg::Key::open(reg::Hive::ClassesRoot, path);
    return k ? k->getString(name).valueOr("<no value>") : std::string("<no key>");
  };
  EXPECT_EQ(text("KelmTest.TestRAID.1"), "test Class");
  EXPECT_EQ(text("KelmTest.TestRAID.1\\CLSID"), clsid);
  EXPECT_EQ(text("KelmTest.TestRAID"), "test Class");
  EXPECT_EQ(text("KelmTest.TestRAID\\CurVer"), "KelmTest.TestRAID.1");
  EXPECT_EQ(text("CLSID\\" + clsid), "test Class");
  EXPECT_EQ(text("CLSID\\" + clsid + "\\ProgID"), "KelmTest.TestRAID.1");
  EXPECT_EQ(text("CLSID\\" + clsid + "\\VersionIndependentProgID"), "KelmTest.TestRAID");
  EXPECT_TRUE(reg::Key::open(reg::Hive::ClassesRoot, "CLSID\\" + clsid + "\\Programmable"));

  ASSERT_EQ(regsvr("-u"), 0);
  list = reg::Key::open(reg::Hive::LocalMachine, kIoClsidKey);
  ASSERT_TRUE(list) << "IO_CLSID stays";
  EXPECT_EQ(plat::testing::valueOf(list->subKeyCount()), 0u);
  EXPECT_TRUE(reg::Key::open(reg::Hive::LocalMachine, kAgentKey));
  EXPECT_FALSE(reg::Key::open(reg::Hive::ClassesRoot, classKeyPath(kTestComponent.clsid)));
  EXPECT_TRUE(reg::Key::open(reg::Hive::ClassesRoot, "CLSID")) << "CLSID is never removed";
  EXPECT_FALSE(reg::Key::open(reg::Hive::ClassesRoot, "KelmTest.TestRAID.1"));
  EXPECT_FALSE(reg::Key::open(reg::Hive::ClassesRoot, "KelmTest.TestRAID"));
  ComPtr<IRiver> river;
  EXPECT_EQ(CoCreateInstance(kTestComponent.clsid, CLSCTX_INPROC_SERVER, river), REGDB_E_CLASSNOTREG);
}

TEST_F(ComponentTest, CreatedByClassIdAndWalked) {
  ComPtr<IRiver> root;
  ASSERT_EQ(CoCreateInstance(kTestComponent.clsid, CLSCTX_INPROC_SERVER, root), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "its root node is alive";
  Lines lines = listing(*root);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], "Model@pr-@Test subsystem");
  EXPECT_EQ(lines[2], "Label@prw@unnamed");
  EXPECT_EQ(lines[3], "Ping@m--@2147483647");
  EXPECT_EQ(lines[4], "Controller0@o--@23");

  EXPECT_EQ(root->set("Label", "array room", 0), S_OK);
  EXPECT_EQ(root->set("Model", "x", 0), S_FALSE);
  std::string v;
  root->get("Label", &v);
  EXPECT_EQ(v, "array room");
  EXPECT_EQ(root->invoke("Ping", "a@b"), S_OK);
  root->get("LastPing", &v);
  EXPECT_EQ(v, "a@b");
  EXPECT_EQ(root->invoke("Label", ""), S_FALSE);

  ComPtr<IUnknown> u;
  ASSERT_EQ(root->cd("Controller0", u.put()), S_OK);
  auto ctrl = u.as<IRiver>();
  ASSERT_TRUE(ctrl);
  EXPECT_EQ(root->cd("Model", u.put()), S_FALSE);
  EXPECT_FALSE(u);

  // The controller hands out event records; a read with none waiting leaves the text empty.
  auto log = ctrl.as<IEventLog>();
  ASSERT_TRUE(log);
  EXPECT_FALSE(root.as<IEventLog>()) << "only the controller offers the event log";
  ASSERT_EQ(ctrl->invoke("MakeEvent", "disk 3"), S_OK);
  std::uint32_t n = 0, size = 1;
  log->GetNewCount(&n);
  EXPECT_EQ(n, 1u);
  std::string rec = "stale";
  log->ReadEventLog(&rec, &size);
  EXPECT_EQ(rec, "4101@1000@3@Test event@disk 3");
  log->ReadEventLog(&rec, &size);
  EXPECT_EQ(rec, "");
  EXPECT_EQ(size, 0u);

  // Releasing everything lets the library go.
  log.reset();
  ctrl.reset();
  root.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ComponentTest, EventsReachAdvisedSinksInAdviseOrder) {
  ComPtr<IRiver> root;
  ASSERT_EQ(CoCreateInstance(kTestComponent.clsid, CLSCTX_INPROC_SERVER, root), S_OK);
  auto container = root.as<IConnectionPointContainer>();
  ASSERT_TRUE(container);
  ComPtr<IConnectionPoint> cp;
  ASSERT_EQ(container->FindConnectionPoint(IRAIDEvent::kIid, cp.put()), S_OK);
  std::string log;
  std::uint32_t cookies[3] = {};
  const char* names[] = {"first", "second", "third"};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(cp->Advise(makeObject<Sink>(names[i], &log).get(), &cookies[i]), S_OK);
  root->invoke("Ping", "");
  EXPECT_EQ(log, "first:8194 second:8194 third:8194 ");
  EXPECT_EQ(cp->Unadvise(cookies[0]), S_OK);
  EXPECT_EQ(cp->Unadvise(cookies[0]), CONNECT_E_NOCONNECTION);
  log.clear();
  root->invoke("Ping", "");
  EXPECT_EQ(log, "second:8194 third:8194 ");
  // The connection point keeps the node alive and the library loaded.
  root.reset();
  container.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  cp.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ComponentTest, UnusedLibrariesUnloadOnlyWhenNothingHoldsThem) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(kTestComponent.clsid, CLSCTX_INPROC_SERVER, IClassFactory::kIid, factory.putVoid()), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "a held class object keeps the library loaded";
  ComPtr<IRiver> node;
  ASSERT_EQ(factory->CreateInstance(nullptr, IRiver::kIid, node.putVoid()), S_OK);
  factory->LockServer(true);
  factory.reset();
  CoFreeUnusedLibraries();
  std::string model;
  node->get("Model", &model);  // would crash if the library had gone
  EXPECT_EQ(model, "Test subsystem");
  node.reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "the server lock still holds it";
  // Unlock through a fresh class object, then nothing holds the library.
  ASSERT_EQ(CoGetClassObject(kTestComponent.clsid, CLSCTX_INPROC_SERVER, IClassFactory::kIid, factory.putVoid()), S_OK);
  factory->LockServer(false);
  factory.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_EQ(canUnloadNow(), E_FAIL) << "unloaded";
  ASSERT_EQ(CoCreateInstance(kTestComponent.clsid, CLSCTX_INPROC_SERVER, node), S_OK) << "and loaded again on demand";
}

// Calls an export of the loaded test component; false when the library is not loaded.
template <class Fn, class... Args>
bool callLoaded(const char* name, Args... args) {
  void* h = ::dlopen(library().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return false;
  auto fn = reinterpret_cast<Fn*>(::dlsym(h, name));
  if (fn) fn(args...);
  ::dlclose(h);
  return fn != nullptr;
}

TEST_F(ComponentTest, TheProcessWideTimerKeepsItsLibraryLoadedUntilItStops) {
  ManualClock clock;
  auto loop = makeEpollLoop(clock).value();
  ComPtr<IRiver> root;
  ASSERT_EQ(CoCreateInstance(kTestComponent.clsid, CLSCTX_INPROC_SERVER, root), S_OK);
  root.reset();  // no node is left: only the timer the first node started
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "the running timer holds the library";
  CoFreeUnusedLibraries();
  // The timer calls into the library: it is still mapped, so this neither crashes nor misses.
  clock.advanceMs(1000);
  loop->runOnce(0);
  clock.advanceMs(1000);
  loop->runOnce(0);
  int ticks = -1;
  ASSERT_TRUE(callLoaded<void(int*)>("KelmTestTicksInto", &ticks)) << "still loaded";
  EXPECT_EQ(ticks, 2);
  ASSERT_TRUE(callLoaded<void()>("KelmTestStopTicks"));
  EXPECT_EQ(canUnloadNow(), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_EQ(canUnloadNow(), E_FAIL) << "unloaded once the timer stopped";
  clock.advanceMs(5000);
  loop->runOnce(0);  // nothing of the library is called any more
}

TEST_F(ComponentTest, ActivationFailuresTable) {
  auto write = [](const Guid& clsid, const std::string& path) {
    auto k = reg::Key::create(reg::Hive::ClassesRoot, classKeyPath(clsid) + "\\InprocServer32");
    ASSERT_TRUE(k);
    ASSERT_TRUE(k->setString("", path));
  };
  const Guid wrongClass = guid("{7E57C0DE-0000-4000-8000-000000000001}");
  const Guid missingFile = guid("{7E57C0DE-0000-4000-8000-000000000002}");
  const Guid relative = guid("{7E57C0DE-0000-4000-8000-000000000003}");
  const Guid noExport = guid("{7E57C0DE-0000-4000-8000-000000000004}");
  const Guid empty = guid("{7E57C0DE-0000-4000-8000-000000000005}");
  write(wrongClass, library());  // a library that serves another class
  write(missingFile, "/nonexistent/libnothing.so");
  write(relative, "libkelmtestcomponent.so");
  write(noExport, testDir("KELM_TEST_LIB") + "/libkelmplat.so");
  write(empty, "");
  struct Case {
    Guid clsid;
    std::uint32_t context;
    HRESULT want;
  };
  const Case cases[] = {
      {guid("{7E57C0DE-0000-4000-8000-0000000000FF}"), CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
      {guid("{7E57C0DE-0000-4000-8000-0000000000FF}"), CLSCTX_ALL, REGDB_E_CLASSNOTREG},
      {kTestComponent.clsid, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
      {wrongClass, CLSCTX_INPROC_SERVER, CLASS_E_CLASSNOTAVAILABLE},
      {missingFile, CLSCTX_INPROC_SERVER, CO_E_DLLNOTFOUND},
      {relative, CLSCTX_INPROC_SERVER, CO_E_DLLNOTFOUND},
      {noExport, CLSCTX_INPROC_SERVER, CO_E_ERRORINDLL},
      {empty, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
  };
  for (const Case& c : cases) {
    ComPtr<IRiver> river;
    EXPECT_EQ(CoCreateInstance(c.clsid, c.context, river), c.want) << c.clsid.toString();
    EXPECT_FALSE(river);
  }
  // Asking the class for an interface it lacks, or with an outer object.
  ComPtr<IEnumString> e;
  EXPECT_EQ(CoCreateInstance(kTestComponent.clsid, CLSCTX_INPROC_SERVER, e), E_NOINTERFACE);
  ComPtr<IRiver> outer;
  ASSERT_EQ(CoCreateInstance(kTestComponent.clsid, CLSCTX_INPROC_SERVER, outer), S_OK);
  void* out = nullptr;
  EXPECT_EQ(CoCreateInstance(kTestComponent.clsid, outer.get(), CLSCTX_INPROC_SERVER, IRiver::kIid, &out),
            CLASS_E_NOAGGREGATION);
}

}  // namespace
