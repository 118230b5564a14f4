#include "platform/base/paths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/testing/temp_root.h"

using namespace plat::paths;

namespace {

class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    if (old) old_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvGuard() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(Paths, SystemDirectoriesWithoutRoot) {
  EnvGuard g("KELM_ROOT", nullptr);
  EXPECT_EQ(stateDir(), "/var/lib/kelm");
  EXPECT_EQ(runtimeDir(), "/run/kelm");
  EXPECT_EQ(logDir(), "/var/log/kelm");
  EXPECT_EQ(serviceUnitDir(), "/etc/systemd/system");
  EXPECT_EQ(windowsDir(), "/var/lib/kelm/windows");
  EXPECT_EQ(serialPortDevice(1), "/dev/ttyS0");
  EXPECT_EQ(deviceNode("\\\\.\\MVRAID0"), "/run/kelm/dev/MVRAID0");
}

TEST(Paths, EverythingMovesUnderTheRoot) {
  EnvGuard g("KELM_ROOT", "/tmp/kr");
  EXPECT_EQ(stateDir(), "/tmp/kr/var/lib/kelm");
  EXPECT_EQ(runtimeDir(), "/tmp/kr/run/kelm");
  EXPECT_EQ(logDir(), "/tmp/kr/var/log/kelm");
  EXPECT_EQ(configDir(), "/tmp/kr/etc/kelm");
  EXPECT_EQ(userConfigDir(), "/tmp/kr/home/config/kelm");
  EXPECT_EQ(serviceUnitDir(), "/tmp/kr/etc/systemd/system");
  EXPECT_EQ(windowsDir(), "/tmp/kr/windows");
  EXPECT_EQ(deviceNode("\\\\.\\Scsi0:"), "/tmp/kr/dev/Scsi0:");
}

TEST(Paths, ComNames) {
  EnvGuard g("KELM_ROOT", "/r");
  struct Case {
    const char* name;
    const char* device;  // nullptr: not a port name
  };
  const Case cases[] = {
      {"Com1", "/r/dev/ttyS0"}, {"COM2", "/r/dev/ttyS1"}, {"com10", "/r/dev/ttyS9"},
      {"Com0", nullptr},        {"Com", nullptr},         {"Com1x", nullptr},
      {"Lpt1", nullptr},        {"Com-1", nullptr},       {"Com99999", nullptr},
  };
  for (const auto& c : cases) {
    auto dev = serialPortDevice(c.name);
    if (c.device) {
      ASSERT_TRUE(dev) << c.name;
      EXPECT_EQ(*dev, c.device);
    } else {
      ASSERT_FALSE(dev) << c.name;
      EXPECT_EQ(dev.code(), EINVAL);
      EXPECT_EQ(dev.message(), "'" + std::string(c.name) + "' is not a serial port name (Com1 to Com256)");
    }
  }
}

TEST(Paths, EnsureDirMakesParentsOrSaysWhatIsInTheWay) {
  plat::testing::TempRoot root;
  const path dir = root.dir();
  std::ofstream(dir / "file") << "x";
  ASSERT_TRUE(ensureDir(dir / "made"));
  struct Case {
    path target;
    const char* error;  // nullptr: made, or there already
  };
  const Case cases[] = {
      {dir / "a/b/c", nullptr},
      {dir / "made", nullptr},
      {dir / "file", "cannot create directory {}/file: Not a directory"},
      {dir / "file/sub/deeper", "cannot create directory {}/file: Not a directory"},
  };
  for (const auto& c : cases) {
    auto made = ensureDir(c.target);
    if (!c.error) {
      EXPECT_TRUE(made) << c.target << ": " << made.message();
      EXPECT_TRUE(std::filesystem::is_directory(c.target)) << c.target;
      continue;
    }
    ASSERT_FALSE(made) << c.target;
    std::string expected = c.error;
    expected.replace(expected.find("{}"), 2, dir.string());
    EXPECT_EQ(made.message(), expected);
    EXPECT_EQ(made.code(), ENOTDIR);
  }
}

TEST(Paths, DeviceNamesCannotEscapeTheDeviceDirectory) {
  EnvGuard g("KELM_ROOT", "/r");
  EXPECT_EQ(deviceNode("\\\\.\\..\\..\\etc"), "/r/dev/.._.._etc");
  EXPECT_EQ(deviceNode(".."), "/r/dev/_");
}

TEST(Paths, PortsMoveTogether) {
  {
    EnvGuard g("KELM_PORT_BASE", nullptr);
    EXPECT_EQ(port(kAgentPort), 710);
    EXPECT_EQ(port(kServerAnnouncePort), 713);
  }
  {
    EnvGuard g("KELM_PORT_BASE", "20710");
    EXPECT_EQ(port(kAgentPort), 20710);
    EXPECT_EQ(port(kServerPort), 20711);
    EXPECT_EQ(port(kAgentAnnouncePort), 20712);
    EXPECT_EQ(port(kServerAnnouncePort), 20713);
  }
  for (const char* bad : {"abc", "0", "65535", "-5", "12x"}) {
    EnvGuard g("KELM_PORT_BASE", bad);
    EXPECT_EQ(port(kAgentPort), 710) << bad;
  }
}

TEST(Paths, BroadcastAddress) {
  {
    EnvGuard g("KELM_BROADCAST", "127.255.255.255");
    EXPECT_EQ(broadcastAddress(), "127.255.255.255");
  }
  {
    EnvGuard g("KELM_BROADCAST", "not-an-address");
    EXPECT_EQ(broadcastAddress(), "255.255.255.255");
  }
}
