#pragma once
// A document on a manual clock in a private root, with local-channel clients that see every
// record the agent sends them, and a fake component.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/core/com_socket_object.h"
#include "agent/core/halvorn_doc.h"
#include "agent/core/settings_folder.h"
#include "components/framework/interfaces.h"
#include "platform/testing/temp_root.h"
#include "platform/com/connection_point.h"
#include "platform/com/object.h"
#include "platform/testing/manual_clock.h"

namespace kelm::agent::testing {

// Records every reply and notification of one local client.
class CaptureSink final : public plat::com::Object<IComSocketEvents> {
 public:
  plat::HRESULT SendReply(std::int32_t code, std::int32_t serial, std::int32_t status, const std::string& text) override {
    got.emplace_back(code, serial, status, text);
    return plat::S_OK;
  }
  plat::HRESULT Invoke(std::int32_t, const std::vector<DispArg>&, std::int32_t*) override { return plat::E_NOTIMPL; }
  std::vector<CMessage> got;
};

// A component node whose answers the test sets.
class FakeRiver final : public plat::com::Object<fw::IRiver, plat::com::IConnectionPointContainer> {
 public:
  plat::HRESULT dir(plat::com::IUnknown** out) override;
  plat::HRESULT get(const std::string& name, std::string* value) override;
  plat::HRESULT set(const std::string& name, const std::string& value, std::uint32_t) override;
  plat::HRESULT invoke(const std::string& name, const std::string& arg) override;
  plat::HRESULT refresh() override { ++refreshes; return plat::S_OK; }
  plat::HRESULT cd(const std::string&, plat::com::IUnknown**) override { return plat::S_FALSE; }
  plat::HRESULT FindConnectionPoint(const plat::com::Guid& iid, plat::com::IConnectionPoint** out) override;
  void Fire(std::uint32_t code) {
    events.fire([&](fw::IRAIDEvent& e) { e.RAIDNotification(code); });
  }

  std::vector<std::string> entries;  // what dir lists
  plat::HRESULT dirResult = plat::S_OK;
  std::map<std::string, std::string> values;
  plat::HRESULT getResult = plat::S_OK, setResult = plat::S_OK, invokeResult = plat::S_OK;
  std::vector<std::string> invoked;
  int refreshes = 0;
  plat::com::ConnectionPoint<fw::IRAIDEvent> events{static_cast<fw::IRiver&>(*this)};
};

class AgentTest : public ::testing::Test {
 protected:
  AgentTest();
  ~AgentTest() override;

  struct Client {
    plat::com::ComPtr<CComSocketObject> object;
    plat::com::ComPtr<CaptureSink> sink;
  };
  // A local client (its channel opened with 4112 and the records that answer it cleared).
  Client& NewClient();
  // Sends one request and gives everything that came back while it was handled.
  std::vector<CMessage> Request(Client& c, std::int32_t code, const std::string& text);
  // The result code of the final reply among the records; -1 when there is none.
  static std::int32_t FinalResult(const std::vector<CMessage>& got);
  static std::vector<std::string> Partials(const std::vector<CMessage>& got);
  // Logs on with a token for name and password and the given local-token words.
  std::int32_t Logon(Client& c, const std::string& name, const std::string& password, std::uint32_t w1 = 0,
                     std::uint32_t w2 = 0);
  std::pair<std::uint32_t, std::uint32_t> LocalWords() const;
  std::int32_t Invoke(Client& c, const std::string& text) { return FinalResult(Request(c, kReqInvoke, text)); }
  std::int32_t ChangeFolder(Client& c, const std::string& text) {
    return FinalResult(Request(c, kReqChangeFolder, text));
  }
  // Attaches a folder over a fake component under the root.
  CVirtualFolder* AttachFake(const std::string& name, plat::com::ComPtr<FakeRiver> river);

  plat::testing::TempRoot root_;
  plat::ManualClock clock_;
  std::unique_ptr<plat::EventLoop> loop_;
  std::unique_ptr<CHalvornDoc> doc_;
  std::vector<std::string> logged_;  // what the document logged
  std::vector<std::unique_ptr<Client>> clients_;
  std::int32_t nextId_ = 100;
};

}  // namespace kelm::agent::testing
