#pragma once
// The server's document on a real loop with a manual clock, fake agents on loopback addresses
// (all on one port, told apart by address as on a network) and console clients.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "msgserver/agent_conn.h"
#include "msgserver/pellwick_doc.h"
#include "msgserver/tests/fake_agent.h"
#include "msgserver/user.h"
#include "msgserver/virtual_folder.h"
#include "platform/base/clock.h"
#include "platform/testing/manual_clock.h"

namespace kelm::msgserver::testing {

struct Rig {
  plat::ManualClock clock;
  std::unique_ptr<plat::EventLoop> loop = std::move(plat::makeEpollLoop(clock).value());
  std::unique_ptr<plat::UdpSocket> announceSink = std::move(plat::UdpSocket::bind(*loop, "127.0.0.1", 0).value());
  std::vector<std::string> serverAnnouncements;
  std::vector<std::unique_ptr<FakeAgent>> agents;
  std::uint16_t agentPort = 0;
  std::vector<std::string> logs;
  std::unique_ptr<CPellwickDoc> doc;

  // The first agent (127.0.0.2, "Host1") is the server's own host.
  explicit Rig(DocOptions extra = {}, bool start = true) {
    announceSink->onDatagram(
        [this](std::string_view d, const std::string&, std::uint16_t) { serverAnnouncements.emplace_back(d); });
    AddFakeAgent("127.0.0.2", "Host1");
    DocOptions o = std::move(extra);
    o.loop = loop.get();
    o.clock = &clock;
    o.hostName = "srvhost";
    o.hostAddress = "127.0.0.2";
    o.agentPort = agentPort;
    o.consolePort = 0;
    o.beaconPort = 0;
    o.listenHost = "127.0.0.1";
    o.serverAnnouncePort = announceSink->port();
    o.broadcastAddress = "127.0.0.1";
    if (!o.fileVersion) o.fileVersion = "1.0.0.7";
    o.log = [this](const std::string& t) { logs.push_back(t); };
    doc = std::make_unique<CPellwickDoc>(std::move(o));
    if (start) {
      doc->Start();
      Pump([this] { return ReadyAgents() == 1; });
    }
  }
  ~Rig() { doc.reset(); }

  FakeAgent& AddFakeAgent(const std::string& address, const std::string& host) {
    agents.push_back(std::make_unique<FakeAgent>(*loop, address, agentPort, host));
    if (agentPort == 0) agentPort = agents.back()->port();
    return *agents.back();
  }
  FakeAgent& Agent(std::size_t i) { return *agents.at(i); }

  std::size_t ReadyAgents() const {
    return std::count_if(doc->Agents().begin(), doc->Agents().end(),
                         [](const CAgent* a) { return a->ready(); });
  }

  template <class F>
  bool Pump(F done) {
    for (int i = 0; i < 500 && !done(); ++i) loop->runOnce(5);
    return done();
  }
  void Settle() {
    for (int i = 0; i < 20; ++i) loop->runOnce(2);
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      clock.advanceSeconds(1);
      doc->OnTimerTick();
      loop->runOnce(0);
    }
  }

  // A console that has connected and received its opening.
  std::unique_ptr<Console> Connect() {
    auto c = std::make_unique<Console>(*loop, doc->ConsolePort());
    const std::size_t before = doc->Users().size();
    Pump([&] { return doc->Users().size() > before; });
    return c;
  }
  // Sends a request and waits for its final reply; returns every record that arrived meanwhile.
  std::vector<CMessage> Ask(Console& c, std::int32_t code, std::int32_t id, const std::string& text) {
    c.Send(code, id, text);
    std::vector<CMessage> out;
    Pump([&] {
      for (CMessage& m : c.Take()) out.push_back(m);
      return std::any_of(out.begin(), out.end(), [&](const CMessage& m) { return m.id == id && m.status == kStatusFinal; });
    });
    return out;
  }
  void SendBeacon(const std::string& from, const std::string& text) {
    auto s = std::move(plat::UdpSocket::bind(*loop, from, 0).value());
    ASSERT_TRUE(s->sendTo("127.0.0.1", doc->BeaconPort(), text));
  }
};

inline std::vector<std::string> Texts(const std::vector<CMessage>& ms, std::int32_t status) {
  std::vector<std::string> out;
  for (const CMessage& m : ms)
    if (m.status == status) out.push_back(m.text);
  return out;
}

}  // namespace kelm::msgserver::testing
