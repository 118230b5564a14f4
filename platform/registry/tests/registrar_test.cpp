#include "platform/registry/registrar.h"

#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "platform/testing/held_hive.h"
#include "platform/testing/result_values.h"
#include "platform/testing/temp_root.h"

using namespace plat::reg;
using plat::testing::valueOf;

namespace {

// The shape of a component's own registration.
const char kComponent[] = R"(
HKCR
{
  VelkariRAID.SorventicRAID.1 = s 'brk Class'
  {
    CLSID = s '{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}'
  }
  VelkariRAID.SorventicRAID = s 'brk Class'
  {
    CurVer = s 'VelkariRAID.SorventicRAID.1'
  }
  NoRemove CLSID
  {
    ForceRemove {88AE717A-ACF1-4BBA-B7E3-C13F64F8908A} = s 'brk Class'
    {
      ProgID = s 'VelkariRAID.SorventicRAID.1'
      VersionIndependentProgID = s 'VelkariRAID.SorventicRAID'
      ForceRemove Programmable
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
}
HKLM
{
  NoRemove SOFTWARE
  {
    NoRemove 'Velkari Technology, Inc.'
    {
      NoRemove 'Message Agent'
      {
        NoRemove IO_CLSID
        {
          ForceRemove {88AE717A-ACF1-4BBA-B7E3-C13F64F8908A} = s 'SC_RAID'
          {
            val ProgID = s 'VelkariRAID.SorventicRAID.1'
          }
        }
      }
    }
  }
}
)";

constexpr const char* kIoClsid = "SOFTWARE\\Velkari Technology, Inc.\\Message Agent\\IO_CLSID";
constexpr const char* kClassKey = "CLSID\\{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}";

class RegistrarTest : public ::testing::Test {
 protected:
  RegistrarTest() { reg.addReplacement("MODULE", "/opt/kelm/lib/libbrask.so"); }
  plat::testing::TempRoot root;
  Registrar reg;
};

TEST_F(RegistrarTest, RegistersTheComponentTree) {
  ASSERT_EQ(reg.registerScript(kComponent), plat::S_OK) << reg.lastError();
  auto cls = Key::open(Hive::ClassesRoot, kClassKey);
  ASSERT_TRUE(cls);
  EXPECT_EQ(valueOf(cls->getString("")), "brk Class");
  EXPECT_EQ(valueOf(cls->openSubKey("InprocServer32")->getString("")), "/opt/kelm/lib/libbrask.so");
  EXPECT_EQ(valueOf(cls->openSubKey("InprocServer32")->getString("ThreadingModel")), "Apartment");
  EXPECT_TRUE(cls->openSubKey("Programmable"));
  EXPECT_EQ(valueOf(Key::open(Hive::ClassesRoot, "VelkariRAID.SorventicRAID\\CurVer")->getString("")),
            "VelkariRAID.SorventicRAID.1");
  auto io = Key::open(Hive::LocalMachine, kIoClsid);
  ASSERT_TRUE(io);
  auto entry = io->openSubKey("{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}");
  EXPECT_EQ(valueOf(entry->getString("")), "SC_RAID");
  EXPECT_EQ(valueOf(entry->getString("ProgID")), "VelkariRAID.SorventicRAID.1");
}

TEST_F(RegistrarTest, ForceRemoveReplacesOnRegisterAndRegisteringTwiceLeavesOneEntry) {
  ASSERT_EQ(reg.registerScript(kComponent), plat::S_OK);
  // Leftovers of an older registration inside a ForceRemove key disappear.
  ASSERT_TRUE(Key::open(Hive::ClassesRoot, kClassKey)->createSubKey("Stale")->setString("", "old"));
  ASSERT_TRUE(
      Key::open(Hive::LocalMachine, kIoClsid)->openSubKey("{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}")->setString("Extra", "x"));
  ASSERT_EQ(reg.registerScript(kComponent), plat::S_OK);
  EXPECT_FALSE(Key::open(Hive::ClassesRoot, std::string(kClassKey) + "\\Stale"));
  auto io = Key::open(Hive::LocalMachine, kIoClsid);
  ASSERT_EQ(valueOf(io->subKeyCount()), 1u);
  EXPECT_FALSE(io->openSubKey("{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}")->getString("Extra"));
}

TEST_F(RegistrarTest, UnregisterKeepsNoRemoveKeysAndOtherComponents) {
  ASSERT_EQ(reg.registerScript(kComponent), plat::S_OK);
  // Another component registered beside it, and a value someone else keeps under a plain key.
  ASSERT_TRUE(Key::open(Hive::LocalMachine, kIoClsid)
                  ->createSubKey("{BCA456A1-D159-11D4-BB07-0050DA2E128F}")
                  ->setString("", "MV_RAID"));
  ASSERT_TRUE(Key::open(Hive::ClassesRoot, "VelkariRAID.SorventicRAID")->createSubKey("Owned"));

  ASSERT_EQ(reg.unregisterScript(kComponent), plat::S_OK) << reg.lastError();
  auto io = Key::open(Hive::LocalMachine, kIoClsid);
  ASSERT_TRUE(io);
  EXPECT_EQ(valueOf(io->subKeyNames()), std::vector<std::string>{"{BCA456A1-D159-11D4-BB07-0050DA2E128F}"});
  EXPECT_FALSE(Key::open(Hive::ClassesRoot, kClassKey));
  EXPECT_TRUE(Key::open(Hive::ClassesRoot, "CLSID"));
  EXPECT_FALSE(Key::open(Hive::ClassesRoot, "VelkariRAID.SorventicRAID.1"));
  // A plain key that still has subkeys stays, without the script's own subkeys.
  auto vi = Key::open(Hive::ClassesRoot, "VelkariRAID.SorventicRAID");
  ASSERT_TRUE(vi);
  EXPECT_EQ(valueOf(vi->subKeyNames()), std::vector<std::string>{"Owned"});
  // Unregistering what is not there is not an error.
  EXPECT_EQ(reg.unregisterScript(kComponent), plat::S_OK);
}

// A store that cannot answer is a failure of both directions, never "nothing registered there".
TEST_F(RegistrarTest, ABusyHiveFailsRegistrationAndUnregistration) {
  ASSERT_EQ(reg.registerScript(kComponent), plat::S_OK);
  {
    plat::testing::HeldHive busy(Hive::LocalMachine);
    ASSERT_TRUE(busy.held());
    EXPECT_EQ(reg.unregisterScript(kComponent), plat::E_FAIL);
    EXPECT_NE(reg.lastError().find("hive busy"), std::string::npos) << reg.lastError();
    EXPECT_EQ(reg.registerScript(kComponent), plat::E_FAIL);
    EXPECT_NE(reg.lastError().find("hive busy"), std::string::npos) << reg.lastError();
  }
  EXPECT_TRUE(Key::open(Hive::ClassesRoot, kClassKey)) << "nothing was undone while the hive was held";
  EXPECT_EQ(reg.unregisterScript(kComponent), plat::S_OK) << reg.lastError();
  EXPECT_FALSE(Key::open(Hive::ClassesRoot, kClassKey));
}

TEST_F(RegistrarTest, ValueTypesDeleteFlagAndReplacements) {
  ASSERT_TRUE(Key::create(Hive::CurrentUser, "Software\\Old\\Gone"));
  const char script[] = R"(HKCU { NoRemove Software {
      Delete Old
      Kelm = s '100%% it''s %MODULE%'
      {
        val Number = d '0x2C'
        val Decimal = d 42
        val Bytes = b '00ff10'
        val Ports = m 'Com1\0Com2\0'
      }
  } })";
  ASSERT_EQ(reg.registerScript(script), plat::S_OK) << reg.lastError();
  EXPECT_FALSE(Key::open(Hive::CurrentUser, "Software\\Old"));
  auto k = Key::open(Hive::CurrentUser, "Software\\Kelm");
  ASSERT_TRUE(k);
  EXPECT_EQ(valueOf(k->getString("")), "100% it's /opt/kelm/lib/libbrask.so");
  EXPECT_EQ(valueOf(k->getDword("Number")), 0x2Cu);
  EXPECT_EQ(valueOf(k->getDword("Decimal")), 42u);
  EXPECT_EQ(valueOf(k->getBinary("Bytes")), (std::vector<std::uint8_t>{0, 0xff, 0x10}));
  EXPECT_EQ(valueOf(k->getMultiString("Ports")), (std::vector<std::string>{"Com1", "Com2"}));
}

TEST_F(RegistrarTest, ScriptsThatDoNotParseWriteNothing) {
  struct Case {
    const char* script;
    const char* error;
  };
  const Case cases[] = {
      {"HKCU { Software { Kelm = s 'x' }", "expected a key name"},
      {"HKXX { A }", "unknown root key"},
      {"HKCU { A = d 'twelve' }", "not a 32-bit number"},
      {"HKCU { A = d 4294967296 }", "not a 32-bit number"},
      {"HKCU { A = b 'abc' }", "hex digits"},
      {"HKCU { A = q 'x' }", "unknown value type"},
      {"HKCU { A = s 'open }", "unterminated"},
      {"HKCU { A = s '%NOPE%' }", "no replacement for %NOPE%"},
      {"HKCU { val A }", "expected '='"},
      {"HKCU { val A = s 'x' { B } }", "cannot have subkeys"},
      {"HKCU {\n\n A = }", "line 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    std::string full = std::string("HKCU { Written }\n") + c.script;
    EXPECT_EQ(reg.registerScript(full), plat::E_INVALIDARG);
    EXPECT_NE(reg.lastError().find(c.error), std::string::npos) << reg.lastError();
    EXPECT_FALSE(Key::open(Hive::CurrentUser, "Written"));
  }
  std::string deep = "HKCU ";
  for (int i = 0; i < 100; ++i) deep += "{ K ";
  for (int i = 0; i < 100; ++i) deep += "} ";
  EXPECT_EQ(reg.registerScript(deep), plat::E_INVALIDARG);
  EXPECT_EQ(reg.registerScript(std::string(Registrar::kMaxScriptSize + 1, ' ')), plat::E_INVALIDARG);
}

}  // namespace
