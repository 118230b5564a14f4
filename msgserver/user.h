#pragma once
// CUser: one console connected to the message server, with its own tree: the root stands for
// the server host and every known agent is a folder under it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "agent/service/rcv_socket.h"
#include "message/pea.h"
#include "msgserver/pellwick_doc.h"

namespace kelm::msgserver {

class CAgent;
class CPellwickDoc;
class CVirtualFolder;

class CUser final : public CRcvSocket, public CPeaLink {
 public:
  // Holds a console's replies while one piece of work makes them (a local answer, a reply
  // passed on and its final), so that they reach the console in one send; the console is
  // counted meanwhile.
  class ReplyBatch {
   public:
    explicit ReplyBatch(CUser* user) : user_(user) {
      if (!user_) return;
      user_->AddRef();
      batch_.emplace(*user_);
    }
    ~ReplyBatch() {
      batch_.reset();
      if (user_) user_->Release();
    }
    ReplyBatch(const ReplyBatch&) = delete;
    ReplyBatch& operator=(const ReplyBatch&) = delete;

   private:
    CUser* user_;
    std::optional<OutputBatch> batch_;
  };

  explicit CUser(CPellwickDoc& doc);
  ~CUser() override;

  void OnAccepted(std::unique_ptr<plat::TcpStream> stream);
  void OnAgentChange(CAgent* agent, int flags);
  // Closes the link, finishes the tree's queues and lets go of the current folder.
  void DisconnectUser();
  void CheckIdleCounted();
  // Holds a logon key at some agent folder.
  bool HasLogon() const;
  void SetCurrentFolder(CVirtualFolder* folder);
  // The folder that stands for this agent, found by its connection.
  CVirtualFolder* AgentFolder(const CAgent* agent) const;

  CVirtualFolder* Root() const { return root_; }
  CVirtualFolder* Current() const { return current_; }
  CPellwickDoc& Doc() const { return doc_; }
  // The bytes of this console's queued requests, within the server's total.
  const std::shared_ptr<ByteBudget>& QueuedBytes() const { return queuedBytes_; }

 protected:
  void OnMessage(CMessage& m) override;
  void OnDisconnected() override;

 private:
  CPellwickDoc& doc_;
  CVirtualFolder* current_ = nullptr;
  CVirtualFolder* root_ = nullptr;
  bool gone_ = false;
  std::shared_ptr<ByteBudget> queuedBytes_;
};

}  // namespace kelm::msgserver
