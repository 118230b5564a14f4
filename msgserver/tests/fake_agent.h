#pragma once
// Test doubles on real loopback sockets: an agent that answers the server's requests from a
// small tree, and a console client that records what the server sends it.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "message/message.h"
#include "message/message_codec.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"

namespace kelm::msgserver::testing {

// One agent on address:port. Its tree: the root "Host" (type o--, value 2) with a folder
// Controller1 holding a volatile property and a method. Answers follow the agent's rules: a
// partial reply per entry, then "800@Functional".
class FakeAgent {
 public:
  FakeAgent(plat::EventLoop& loop, std::string address, std::uint16_t port, std::string hostName);
  std::uint16_t port() const { return listener_->port(); }
  const std::string& address() const { return address_; }

  // Every request record received, across connections.
  std::vector<CMessage> received;
  // Codes that get no answer at all (the agent hangs on them).
  std::vector<std::int32_t> silentCodes;
  // A result other than 800 for the "user" selection.
  std::string userReply = "800@Functional";
  std::string setReply = "800@Functional";
  // Requests this picks are held unanswered until AnswerHeld.
  std::function<bool(const CMessage&)> hold;
  // A notification sent ahead of the answer to the first record this agent receives.
  std::string notifyFirst;
  // Children per folder path as name@type@value.
  std::map<std::string, std::vector<std::string>> children;

  void Notify(std::int32_t code, const std::string& text);
  // Answers every held request (the hold stays as it is for new ones).
  void AnswerHeld();
  // A partial reply with this text to every held request.
  void PartialToHeld(const std::string& text);
  std::size_t heldCount() const { return held_.size(); }
  void DropConnections();
  std::size_t connections() const { return conns_.size(); }

 private:
  struct Conn {
    std::unique_ptr<plat::TcpStream> stream;
    MessageDecoder decoder;
    std::string path = "\\";
  };
  void OnRecord(Conn& c, const CMessage& m);
  void Answer(Conn& c, const CMessage& m);
  void Send(Conn& c, const CMessage& m);

  std::string address_;
  std::string host_;
  std::unique_ptr<plat::TcpListener> listener_;
  std::vector<std::unique_ptr<Conn>> conns_;
  std::vector<std::pair<Conn*, CMessage>> held_;
};

class Console {
 public:
  Console(plat::EventLoop& loop, std::uint16_t port);
  void Send(std::int32_t code, std::int32_t id, const std::string& text);
  void SendRaw(std::string_view bytes);
  std::vector<CMessage> Take();  // everything received since the last Take
  std::vector<CMessage> got;
  bool closed = false;
  bool connected() const { return stream_->isConnected(); }
  void Close() { stream_->close(); }

 private:
  std::unique_ptr<plat::TcpStream> stream_;
  MessageDecoder decoder_;
};

}  // namespace kelm::msgserver::testing
