#include "platform/com/local_listener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "platform/testing/temp_root.h"
#include "platform/base/unique_fd.h"
#include "platform/base/unix_address.h"
#include "platform/com/activation.h"
#include "platform/registry/registry.h"

using namespace plat;
using namespace plat::com;

namespace {

constexpr Guid kClass = guid("{7E57C0DE-0000-4000-8000-00000000AAAA}");

// A socket file left behind by a server that died: bound, never listened on, closed.
void leaveStaleSocket(const std::filesystem::path& p) {
  std::filesystem::create_directories(p.parent_path());
  UniqueFd s(::socket(AF_UNIX, SOCK_STREAM, 0));
  auto a = unixAddress(p.string());
  ASSERT_TRUE(a);
  ASSERT_EQ(::bind(s.get(), a->get(), a->length), 0);
}

struct LocalListenerTest : ::testing::Test {
  plat::testing::TempRoot root;
  std::unique_ptr<EventLoop> loop = makeEpollLoop().value();
};

TEST_F(LocalListenerTest, ReplacesAStaleSocketRefusesALiveOneAndCleansUp) {
  const auto path = localSocketPath("svc.sock");
  leaveStaleSocket(path);
  auto first = LocalListener::listen(*loop, "svc.sock", std::nullopt);
  ASSERT_TRUE(first) << first.message();
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  auto second = LocalListener::listen(*loop, "svc.sock", std::nullopt);
  EXPECT_FALSE(second) << "a running server keeps its socket";
  EXPECT_NE(second.message().find("in use"), std::string::npos) << second.message();
  first->reset();
  EXPECT_FALSE(std::filesystem::exists(path)) << "the socket goes with its server";

  std::ofstream(localSocketPath("file.sock")) << "not a socket";
  EXPECT_FALSE(LocalListener::listen(*loop, "file.sock", std::nullopt));
  EXPECT_TRUE(std::filesystem::exists(localSocketPath("file.sock"))) << "a file that is no socket is left alone";
  for (const char* bad : {"", "..", "../x.sock", "/abs.sock", "a/b.sock", "sp ace"})
    EXPECT_FALSE(LocalListener::listen(*loop, bad, std::nullopt)) << bad;
}

TEST_F(LocalListenerTest, TheSocketGoesToTheConsoleGroupWhenThatMayBeGiven) {
  const gid_t other = 65534;
  auto listener = LocalListener::listen(*loop, "grp.sock", other);
  ASSERT_TRUE(listener) << listener.message() << " (a group that may not be given is left out, not fatal)";
  struct stat st {};
  ASSERT_EQ(::stat((*listener)->path().c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, ::geteuid() == 0 ? other : ::getegid());
  EXPECT_EQ(st.st_mode & 0777, 0660u);
}

TEST_F(LocalListenerTest, AcceptsEachClientAsItsOwnStream) {
  auto listener = LocalListener::listen(*loop, "svc.sock", std::nullopt);
  ASSERT_TRUE(listener) << listener.message();
  std::vector<std::unique_ptr<TcpStream>> accepted;
  (*listener)->onAccept([&](std::unique_ptr<TcpStream> s) { accepted.push_back(std::move(s)); });
  auto a = connectLocalSocket((*listener)->path());
  auto b = connectLocalSocket((*listener)->path());
  ASSERT_TRUE(a && b);
  for (int i = 0; i < 100 && accepted.size() < 2; ++i) loop->runOnce(10);
  ASSERT_EQ(accepted.size(), 2u);
  std::string got;
  accepted[1]->onData([&](std::string_view d) { got += d; });
  ASSERT_EQ(::send(b->get(), "hi", 2, MSG_NOSIGNAL), 2);
  for (int i = 0; i < 100 && got.empty(); ++i) loop->runOnce(10);
  EXPECT_EQ(got, "hi");
}

TEST_F(LocalListenerTest, ConnectFailuresByRegistration) {
  EXPECT_EQ(connectLocalServer(kClass).code(), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(registerLocalServer(kClass, "Test", "svc.sock", "/usr/bin/true"), S_OK);
  EXPECT_EQ(connectLocalServer(kClass).code(), CO_E_SERVER_EXEC_FAILURE) << "registered, nobody listens";
  auto listener = LocalListener::listen(*loop, "svc.sock", std::nullopt);
  ASSERT_TRUE(listener);
  auto fd = connectLocalServer(kClass);
  ASSERT_TRUE(fd) << fd.message();
  EXPECT_TRUE(fd->valid());
  // A registered name that leads out of the runtime directory is never followed.
  auto key = reg::Key::open(reg::Hive::ClassesRoot, classKeyPath(kClass) + "\\LocalServer32");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setString("Socket", "../../etc/x.sock"));
  EXPECT_EQ(connectLocalServer(kClass).code(), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(registerLocalServer(kClass, "Test", "../x", "/usr/bin/true"), E_INVALIDARG);
  ASSERT_EQ(unregisterLocalServer(kClass), S_OK);
  EXPECT_EQ(connectLocalServer(kClass).code(), REGDB_E_CLASSNOTREG);
  // Without a proxy in this process the class cannot be spoken to.
  ASSERT_EQ(registerLocalServer(kClass, "Test", "svc.sock", "/usr/bin/true"), S_OK);
  ComPtr<IUnknown> obj;
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_LOCAL_SERVER, obj), E_NOINTERFACE);
}

}  // namespace
