#pragma once
// CVirtualFolder: one folder of a console's tree on the message server. The root stands for the
// server host, each child of the root for an agent. Requests about what the server already knows
// are answered from its copy; the rest go through the agent's connection, whose replies come back
// here and are passed to the console under the console's own identifier.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "message/message_api.h"
#include "message/pea.h"
#include "msgserver/pellwick_doc.h"

namespace kelm::msgserver {

class CAgent;
class CUser;

// Folder request flags.
inline constexpr std::uint32_t kFolderOwn = 0x100;     // queued by the server itself: its replies are not passed on
inline constexpr std::uint32_t kFolderFailed = 0x200;  // its identifier failed at the agent, or it is already answered

struct FolderRequest {
  std::int32_t code = 0;
  std::int32_t id = 0;
  std::int32_t state = kStatusRequest;
  std::string text;
  std::uint32_t flags = 0;
  // The engine's identifier of the sequence that carries it to the agent, once forwarded; only
  // replies of that sequence are its own.
  std::int32_t agentId = 0;
  // The sequence has been sent: the time-out counts from then.
  bool atAgent = false;
  BudgetShare bytes;
};

// The console's number of a request the server renumbers (0 when it keeps its own), and back.
std::int32_t ServerCode(std::int32_t consoleCode);
std::int32_t ConsoleCode(std::int32_t code);

class CVirtualFolder : public CPea {
 public:
  // A folder's busy head without an answer for this many ticks after it was sent to the agent
  // ends with "806@Time Out" (the document's folderTimeoutTicks, this by default).
  static constexpr int kBusyTimeoutTicks = 60;

  CVirtualFolder() = default;
  ~CVirtualFolder() override;

  void OnRequest(const CMessage& m);
  // The agent's reply to the head request.
  plat::HRESULT OnAgentReply(std::int32_t code, const RequestView& view);
  // name@type@value: the child of that name, updated or created; null for a malformed entry.
  CPea* AddEntry(const std::string& text);
  void GetPath(std::string& out) const;
  std::string Path() const {
    std::string p;
    GetPath(p);
    return p;
  }
  void SetLogonKey(std::int32_t key);
  std::int32_t GetLogonKey() const;
  // Every queued request of this folder and its child folders ends with "804@Abort".
  void CloseTree();
  // The agent refused the logon selection: the console is told, the head's identifier ends.
  void AbortHeadId();
  // The busy head's time-out, once a second, for the whole subtree.
  void TickTree();

  CUser* User() const;
  CAgent* OwnerAgent() const;
  // The nearest folder, this one included, that stands for an agent.
  const CVirtualFolder* AgentFolder() const;
  bool busy() const { return busy_; }
  // The head is at the agent under this sequence's identifier.
  bool AwaitsSequence(std::int32_t sequence) const;
  bool listed() const { return listed_; }
  bool listing() const { return listing_; }
  void setListed(bool v) { listed_ = v; }
  std::size_t QueueSize() const { return queue_.size(); }
  const std::deque<FolderRequest>& Queue() const { return queue_; }

 private:
  void Pump();
  bool PumpStep();
  void PassToConsole(const FolderRequest& r);
  bool LocalHandler(FolderRequest& head);
  void EndRequest(FolderRequest& r, std::int32_t result);
  void EndAgentStep();
  void Queue(std::int32_t code, std::int32_t id, std::string text, std::uint32_t flags, bool atHead = false);
  // Refused for a full queue or a full byte budget: the console is answered and one line logged.
  bool Refuse(const CMessage& m);
  bool IsRoot() const { return GetParent() == nullptr; }

  bool listing_ = false;
  bool listed_ = false;
  std::vector<CPea*> seen_;
  bool busy_ = false;
  int busyTicks_ = 0;
  std::deque<FolderRequest> queue_;
  std::int32_t logonKey_ = -1;
  bool pumping_ = false;
};

}  // namespace kelm::msgserver
