#include "agent/core/tests/agent_fixture.h"

#include "agent/crypto/logon_token.h"
#include "platform/com/enum_string.h"

namespace kelm::agent::testing {

plat::HRESULT FakeRiver::dir(plat::com::IUnknown** out) {
  if (dirResult != plat::S_OK) return dirResult;
  *out = static_cast<plat::com::IEnumString*>(new plat::com::StringEnumerator(entries));
  (*out)->AddRef();
  return plat::S_OK;
}

plat::HRESULT FakeRiver::get(const std::string& name, std::string* value) {
  if (auto it = values.find(name); it != values.end()) *value = it->second;
  return getResult;
}

plat::HRESULT FakeRiver::set(const std::string& name, const std::string& value, std::uint32_t) {
  if (setResult == plat::S_OK) values[name] = value;
  return setResult;
}

plat::HRESULT FakeRiver::invoke(const std::string& name, const std::string& arg) {
  invoked.push_back(name + "@" + arg);
  return invokeResult;
}

plat::HRESULT FakeRiver::FindConnectionPoint(const plat::com::Guid& iid, plat::com::IConnectionPoint** out) {
  *out = nullptr;
  if (iid != fw::IRAIDEvent::kIid) return plat::CONNECT_E_NOCONNECTION;
  events.AddRef();
  *out = &events;
  return plat::S_OK;
}

AgentTest::AgentTest() {
  loop_ = std::move(plat::makeEpollLoop(clock_).value());
  DocOptions o;
  o.loop = loop_.get();
  o.clock = &clock_;
  o.hostName = "testhost";
  o.localChannel = false;
  o.log = [this](const std::string& text) { logged_.push_back(text); };
  doc_ = std::make_unique<CHalvornDoc>(o);
  EXPECT_EQ(doc_->Accounts().InitUserStore("admin", "secret"), plat::S_OK);
}

AgentTest::~AgentTest() {
  for (auto& c : clients_) c->object->ProcessMessage(kReqComClose, 0, 0, "");
  clients_.clear();
  doc_.reset();
}

AgentTest::Client& AgentTest::NewClient() {
  auto c = std::make_unique<Client>();
  c->object = plat::com::makeObject<CComSocketObject>(*doc_);
  c->sink = plat::com::makeObject<CaptureSink>();
  plat::com::ComPtr<plat::com::IConnectionPoint> point;
  EXPECT_EQ(c->object->FindConnectionPoint(IComSocketEvents::kIid, point.put()), plat::S_OK);
  std::uint32_t cookie = 0;
  EXPECT_EQ(point->Advise(static_cast<IComSocketEvents*>(c->sink.get()), &cookie), plat::S_OK);
  c->object->ProcessMessage(kReqComOpen, 0, 0, "");
  loop_->runOnce(0);
  c->sink->got.clear();
  clients_.push_back(std::move(c));
  return *clients_.back();
}

std::vector<CMessage> AgentTest::Request(Client& c, std::int32_t code, const std::string& text) {
  c.sink->got.clear();
  c.object->ProcessMessage(code, ++nextId_, kStatusRequest, text);
  loop_->runOnce(0);
  return c.sink->got;
}

std::int32_t AgentTest::FinalResult(const std::vector<CMessage>& got) {
  for (const auto& m : got)
    if (m.status == kStatusFinal) return ParseResultCode(m.text);
  return -1;
}

std::vector<std::string> AgentTest::Partials(const std::vector<CMessage>& got) {
  std::vector<std::string> out;
  for (const auto& m : got)
    if (m.status == kStatusPartial) out.push_back(m.text);
  return out;
}

std::int32_t AgentTest::Logon(Client& c, const std::string& name, const std::string& password, std::uint32_t w1,
                              std::uint32_t w2) {
  return FinalResult(Request(c, kReqLogon, crypto::LogonText(w1, w2, crypto::BuildLogonToken(name, password))));
}

std::pair<std::uint32_t, std::uint32_t> AgentTest::LocalWords() const {
  auto t = *doc_->LocalToken();
  return {t[0] | t[1] << 8 | t[2] << 16 | std::uint32_t(t[3]) << 24,
          t[4] | t[5] << 8 | t[6] << 16 | std::uint32_t(t[7]) << 24};
}

CVirtualFolder* AgentTest::AttachFake(const std::string& name, plat::com::ComPtr<FakeRiver> river) {
  auto* f = new CVirtualFolder;
  f->setName(name);
  f->setType("o--");
  f->setValue("14");
  f->Attach(doc_->Root(), *doc_, river.get());
  return f;
}

}  // namespace kelm::agent::testing
