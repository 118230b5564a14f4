// Hostile clients: a thousand connections of random bytes, oversize prefixes and half records,
// while a well-behaved client keeps being served and the agent's memory stays flat.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <random>

#include "platform/base/paths.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

plat::UniqueFd RawConnect(std::uint16_t port) {
  plat::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return plat::UniqueFd();
  return fd;
}

std::string Hostile(int kind, std::mt19937& rng) {
  std::string b;
  switch (kind % 4) {
    case 0: {  // random bytes
      std::uniform_int_distribution<int> len(1, 4096), byte(0, 255);
      for (int n = len(rng); n > 0; --n) b.push_back(static_cast<char>(byte(rng)));
      break;
    }
    case 1:  // a text length of nearly 4 GB
      b = std::string(12, '\x01') + "\xFF\xFF\xFF\xFF\xFF\xFF\xFF";
      break;
    case 2: {  // half a record
      std::string whole = EncodeMessage(CMessage(4100, 1, 1, std::string(300, 'q')));
      b = whole.substr(0, whole.size() / 2);
      break;
    }
    default:  // a just-too-long text announced, then some of it
      b = std::string(12, '\x02') + "\xFF\xFF\xFF\x01\x00\x20\x00" + std::string(2000, 'z');
      break;
  }
  return b;
}

TEST(AgentBadInput, AThousandHostileConnectionsNeitherStopNorGrowTheAgent) {
  AgentRoot root({AgentRoot::lib("libkelmtestcomponent.so")});
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  AgentProcess agent(root, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto good = agent.Tcp();
  ASSERT_TRUE(good) << "no TCP connection to the agent";
  ASSERT_EQ(good->Logon("admin", "secret"), 800);
  ASSERT_EQ(good->Result(kReqChangeFolder, "TEST_RAID"), 800);
  ASSERT_EQ(good->Result(kReqQuery, "Model"), 800);
  const long before = agent.ResidentKb();
  std::mt19937 rng(12345);
  const std::uint16_t port = root.port(plat::paths::kAgentPort);
  int connected = 0;
  for (int batch = 0; batch < 20; ++batch) {
    std::vector<plat::UniqueFd> open;
    for (int i = 0; i < 50; ++i) {
      auto fd = RawConnect(port);
      if (!fd) continue;
      ++connected;
      const std::string bytes = Hostile(batch * 50 + i, rng);
      ssize_t n = ::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
      (void)n;
      open.push_back(std::move(fd));
    }
    // Throughout, the well-behaved client is answered.
    ASSERT_EQ(good->Result(kReqQuery, "Model"), 800) << "batch " << batch;
    open.clear();  // every hostile connection closes
  }
  EXPECT_EQ(connected, 1000);
  ASSERT_EQ(good->Result(kReqQuery, "Model"), 800);
  const long after = agent.ResidentKb();
  std::printf("agent resident size: %ld kB before, %ld kB after 1000 hostile connections\n", before, after);
  EXPECT_LT(after - before, 64 * 1024);
  EXPECT_TRUE(agent.Wait(0) == std::nullopt);  // still running
}

}  // namespace
}  // namespace kelm::systest
