#include "msgserver/tests/fake_agent.h"

#include <chrono>

namespace kelm::msgserver::testing {

FakeAgent::FakeAgent(plat::EventLoop& loop, std::string address, std::uint16_t port, std::string hostName)
    : address_(std::move(address)), host_(std::move(hostName)) {
  listener_ = std::move(plat::TcpListener::listen(loop, address_, port).value());
  listener_->onAccept([this](std::unique_ptr<plat::TcpStream> s) {
    auto c = std::make_unique<Conn>();
    c->stream = std::move(s);
    Conn* raw = c.get();
    c->stream->onData([this, raw](std::string_view b) {
      raw->decoder.Feed(b);
      CMessage m;
      while (raw->decoder.Next(m) == DecodeStatus::kOk) OnRecord(*raw, m);
    });
    c->stream->onClosed([](const std::string&) {});
    conns_.push_back(std::move(c));
  });
  children["\\"] = {"Controller1@o--@5", "Status@pr-@OK"};
  children["\\Controller1"] = {"Temp@prv@40", "Name@prw@c1", "Rebuild@m--@2"};
}

void FakeAgent::Send(Conn& c, const CMessage& m) { (void)c.stream->write(EncodeMessage(m)); }

void FakeAgent::Notify(std::int32_t code, const std::string& text) {
  for (auto& c : conns_) Send(*c, CMessage(code, 1, kStatusNotify, text));
}

void FakeAgent::DropConnections() {
  for (auto& c : conns_) c->stream->close();
  conns_.clear();
  held_.clear();
}

void FakeAgent::AnswerHeld() {
  auto held = std::move(held_);
  held_.clear();
  for (auto& [c, m] : held) Answer(*c, m);
}

void FakeAgent::PartialToHeld(const std::string& text) {
  for (auto& [c, m] : held_) Send(*c, CMessage(m.code, m.id, kStatusPartial, text));
}

void FakeAgent::OnRecord(Conn& c, const CMessage& m) {
  if (m.status != kStatusRequest) return;
  received.push_back(m);
  if (!notifyFirst.empty() && received.size() == 1) Send(c, CMessage(8195, 7, kStatusNotify, notifyFirst));
  for (std::int32_t s : silentCodes)
    if (s == m.code) return;
  if (hold && hold(m)) {
    held_.emplace_back(&c, m);
    return;
  }
  Answer(c, m);
}

void FakeAgent::Answer(Conn& c, const CMessage& m) {
  const std::string ok = "800@Functional";
  auto final = [&](const std::string& t) { Send(c, CMessage(m.code, m.id, kStatusFinal, t)); };
  auto partial = [&](const std::string& t) { Send(c, CMessage(m.code, m.id, kStatusPartial, t)); };
  switch (m.code) {
    case kReqLogon:
      if (m.text.rfind("user ", 0) == 0) {
        final(userReply);
      } else {
        partial("logon 1a2b");
        final(ok);
      }
      break;
    case kReqChangeFolder:
      if (m.text == "\\") {
        c.path = "\\";
        final(ok);
      } else if (children.count((c.path == "\\" ? "\\" : c.path + "\\") + m.text)) {
        c.path = (c.path == "\\" ? "\\" : c.path + "\\") + m.text;
        final(ok);
      } else {
        final("803@Not found");
      }
      break;
    case kReqQuery:
      if (m.text == ".") {
        partial(c.path == "\\" ? ".@" + host_ + "@o--@2" : ".@" + c.path.substr(c.path.rfind('\\') + 1) + "@o--@5");
      } else {
        for (const std::string& e : children[c.path])
          if (e.rfind(m.text + "@", 0) == 0) partial(e);
      }
      final(ok);
      break;
    case kReqListRights:
      for (const std::string& e : children[c.path]) partial(e);
      final(ok);
      break;
    case kReqSetProperty:
      final(setReply);
      break;
    case kReqInvoke:
      partial("800@Functional@" + m.text + "@");
      final(ok);
      break;
    default:
      final(ok);
  }
}

Console::Console(plat::EventLoop& loop, std::uint16_t port) {
  stream_ = std::move(plat::TcpStream::connect(loop, "127.0.0.1", port, std::chrono::seconds(5)).value());
  stream_->onData([this](std::string_view b) {
    decoder_.Feed(b);
    CMessage m;
    while (decoder_.Next(m) == DecodeStatus::kOk) got.push_back(m);
  });
  stream_->onClosed([this](const std::string&) { closed = true; });
}

void Console::Send(std::int32_t code, std::int32_t id, const std::string& text) {
  (void)stream_->write(EncodeMessage(CMessage(code, id, kStatusRequest, text)));
}

void Console::SendRaw(std::string_view bytes) { (void)stream_->write(bytes); }

std::vector<CMessage> Console::Take() {
  std::vector<CMessage> out;
  out.swap(got);
  return out;
}

}  // namespace kelm::msgserver::testing
