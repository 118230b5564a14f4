#include "platform/com/local_listener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "platform/base/temp_root.h"
#include "platform/com/activation.h"
#include "platform/registry/registry.h"

using namespace plat;
using namespace plat::com;

namespace {

constexpr Guid kClass = guid("{7E57C0DE-0000-4000-8000-00000000AAAA}");

// A socket file left behind by a server that died: bound, never listened on, closed.
void leaveStaleSocket(const std::filesystem::path& p) {
  std::filesystem::create_directories(p.parent_path());
  int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, p.c_str());
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::close(s);
}

struct LocalListenerTest : ::testing::Test {
  plat::testing::TempRoot root;
  std::unique_ptr<EventLoop> loop = makeEpollLoop();
  std::string error;
};

TEST_F(LocalListenerTest, ReplacesAStaleSocketRefusesALiveOneAndCleansUp) {
  const auto path = localSocketPath("svc.sock");
  leaveStaleSocket(path);
  auto first = LocalListener::listen(*loop, "svc.sock", &error, std::nullopt);
  ASSERT_TRUE(first) << error;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_FALSE(LocalListener::listen(*loop, "svc.sock", &error, std::nullopt)) << "a running server keeps its socket";
  EXPECT_NE(error.find("in use"), std::string::npos) << error;
  first.reset();
  EXPECT_FALSE(std::filesystem::exists(path)) << "the socket goes with its server";

  std::ofstream(localSocketPath("file.sock")) << "not a socket";
  EXPECT_FALSE(LocalListener::listen(*loop, "file.sock", &error, std::nullopt));
  EXPECT_TRUE(std::filesystem::exists(localSocketPath("file.sock"))) << "a file that is no socket is left alone";
  for (const char* bad : {"", "..", "../x.sock", "/abs.sock", "a/b.sock", "sp ace"})
    EXPECT_FALSE(LocalListener::listen(*loop, bad, &error, std::nullopt)) << bad;
}

TEST_F(LocalListenerTest, TheSocketGoesToTheConsoleGroupWhenThatMayBeGiven) {
  const gid_t other = 65534;
  auto listener = LocalListener::listen(*loop, "grp.sock", &error, other);
  ASSERT_TRUE(listener) << error << " (a group that may not be given is left out, not fatal)";
  struct stat st {};
  ASSERT_EQ(::stat(listener->path().c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, ::geteuid() == 0 ? other : ::getegid());
  EXPECT_EQ(st.st_mode & 0777, 0660u);
}

TEST_F(LocalListenerTest, AcceptsEachClientAsItsOwnStream) {
  auto listener = LocalListener::listen(*loop, "svc.sock", &error, std::nullopt);
  ASSERT_TRUE(listener) << error;
  std::vector<std::unique_ptr<TcpStream>> accepted;
  listener->onAccept([&](std::unique_ptr<TcpStream> s) { accepted.push_back(std::move(s)); });
  int a = -1, b = -1;
  ASSERT_EQ(connectLocalSocket(listener->path(), &a), S_OK);
  ASSERT_EQ(connectLocalSocket(listener->path(), &b), S_OK);
  for (int i = 0; i < 100 && accepted.size() < 2; ++i) loop->runOnce(10);
  ASSERT_EQ(accepted.size(), 2u);
  std::string got;
  accepted[1]->onData([&](std::string_view d) { got += d; });
  ASSERT_EQ(::send(b, "hi", 2, MSG_NOSIGNAL), 2);
  for (int i = 0; i < 100 && got.empty(); ++i) loop->runOnce(10);
  EXPECT_EQ(got, "hi");
  ::close(a);
  ::close(b);
}

TEST_F(LocalListenerTest, ConnectFailuresByRegistration) {
  int fd = -1;
  EXPECT_EQ(connectLocalServer(kClass, &fd), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(registerLocalServer(kClass, "Test", "svc.sock", "/usr/bin/true"), S_OK);
  EXPECT_EQ(connectLocalServer(kClass, &fd), CO_E_SERVER_EXEC_FAILURE) << "registered, nobody listens";
  auto listener = LocalListener::listen(*loop, "svc.sock", &error, std::nullopt);
  ASSERT_TRUE(listener);
  ASSERT_EQ(connectLocalServer(kClass, &fd), S_OK);
  ::close(fd);
  // A registered name that leads out of the runtime directory is never followed.
  auto key = reg::Key::open(reg::Hive::ClassesRoot, classKeyPath(kClass) + "\\LocalServer32");
  ASSERT_TRUE(key);
  key->setString("Socket", "../../etc/x.sock");
  EXPECT_EQ(connectLocalServer(kClass, &fd), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(registerLocalServer(kClass, "Test", "../x", "/usr/bin/true"), E_INVALIDARG);
  ASSERT_EQ(unregisterLocalServer(kClass), S_OK);
  EXPECT_EQ(connectLocalServer(kClass, &fd), REGDB_E_CLASSNOTREG);
  // Without a proxy in this process the class cannot be spoken to.
  ASSERT_EQ(registerLocalServer(kClass, "Test", "svc.sock", "/usr/bin/true"), S_OK);
  ComPtr<IUnknown> obj;
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_LOCAL_SERVER, obj), E_NOINTERFACE);
}

}  // namespace
