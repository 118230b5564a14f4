#pragma once
// A client of the agent: a TCP connection or a local-channel client. It carries the client's
// logons, its current folder and the way back to the client.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/accounts/account_store.h"
#include "agent/service/rcv_socket.h"
#include "message/message.h"
#include "message/pea.h"
#include "platform/com/unknown.h"

namespace kelm::agent {

class CHalvornDoc;
class CVirtualFolder;
class CComSocketObject;

class CSvrSocket : public CPeaLink {
 public:
  // Logon records one connection may hold.
  static constexpr std::size_t kMaxLogons = 64;

  explicit CSvrSocket(CHalvornDoc& doc);
  // Releases the folder and logs off every logon.
  ~CSvrSocket() override;

  // The final reply: status 3, "%d@%s".
  void ReplyStatus(CMessage& m, std::int32_t result);
  virtual void CheckIdle() {}
  // The link is gone: the connection leaves the document's client list.
  virtual void OnClosed();
  // Hands one request to the current folder.
  void OnMessage(CMessage& m);
  virtual void Shutdown() = 0;
  virtual void Start();
  virtual bool Send(const CMessage& m) = 0;
  virtual void SendClose() = 0;
  virtual void Notify(std::int32_t code, const std::string& text) = 0;

  // Request 4097; returns the result it replied with. `wasLogon` tells whether the text was a
  // logon command.
  std::int32_t HandleLogon(CMessage& m, bool* wasLogon = nullptr);
  void SetCurrentFolder(CVirtualFolder* folder);
  CVirtualFolder* CurrentFolder() const { return folder_; }
  bool HasValidLogon() const;
  accounts::AccountHandle CurrentHandle() const;
  // The current logon carried the agent's local token.
  bool CurrentLogonIsLocal() const;
  bool HasLogons() const { return !logons_.empty(); }
  // The client has sent a request (keep-alives are none).
  bool SentRequests() const { return sentRequests_; }
  void LogoffAll();
  CHalvornDoc& Doc() const { return doc_; }

 protected:
  CHalvornDoc& doc_;

 private:
  struct LogonRecord {
    std::uint32_t word1 = 0, word2 = 0;
    accounts::AccountHandle handle = 0;
    std::uint32_t key = 0;
  };
  const LogonRecord* Current() const;

  CVirtualFolder* folder_ = nullptr;
  bool sentRequests_ = false;
  std::vector<LogonRecord> logons_;
  std::uint32_t currentKey_ = 0;  // 0: no current logon
  std::uint32_t nextKey_;
};

class CSvrSocketTcpIp final : public CSvrSocket {
 public:
  CSvrSocketTcpIp(CHalvornDoc& doc, std::unique_ptr<plat::TcpStream> stream);
  void CheckIdle() override;
  void Shutdown() override;
  void Start() override;
  bool Send(const CMessage& m) override { return socket_.SendMessage(m); }
  void SendClose() override { socket_.SendDisconnect(); }
  void Notify(std::int32_t code, const std::string& text) override { socket_.SendCode(code, text); }
  bool IsConnected() const { return socket_.IsConnected(); }
  // Seconds a new client has to complete its first record.
  static constexpr std::int64_t kFirstRecordSeconds = 30;

 private:
  class TcpClientSocket final : public CRcvSocket {
   public:
    TcpClientSocket(CSvrSocketTcpIp& owner, plat::EventLoop& loop, const plat::Clock& clock)
        : CRcvSocket(loop, clock), owner_(owner) {}

   protected:
    void OnMessage(CMessage& m) override { owner_.OnMessage(m); }
    void OnDisconnected() override { owner_.OnClosed(); }

   private:
    CSvrSocketTcpIp& owner_;
  };
  TcpClientSocket socket_;
  std::unique_ptr<plat::TcpStream> pending_;
};

class CSvrSocketCom final : public CSvrSocket {
 public:
  CSvrSocketCom(CHalvornDoc& doc, CComSocketObject* object);
  ~CSvrSocketCom() override;
  void OnClosed() override {}
  void Shutdown() override;
  bool Send(const CMessage& m) override;
  void SendClose() override {}
  void Notify(std::int32_t code, const std::string& text) override;

 private:
  plat::com::ComPtr<CComSocketObject> object_;
};

}  // namespace kelm::agent
