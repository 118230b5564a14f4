#pragma once
// CAgent: the message server's one connection to an agent, shared by every console. It puts the
// agent into a console's logon and folder before each request, routes replies back to the folder
// that asked, and rewrites the agent's notifications into the server's path space.
#include <cstdint>
#include <string>

#include "message/message_api.h"

namespace kelm::msgserver {

class CPellwickDoc;
class CUser;
class CVirtualFolder;

// Engine request flags of the server, beside the engine's own.
inline constexpr std::uint32_t kAgentForFolder = 0x100;   // the owner is a console folder
inline constexpr std::uint32_t kAgentOpening = 0x200;     // the opening exchange
inline constexpr std::uint32_t kAgentUserSelect = 0x400;  // selects a console's logon on the agent

class CAgent final : public CMessageApi {
 public:
  CAgent(CPellwickDoc& doc, std::string name, std::string address, std::uint32_t idSeed);
  ~CAgent() override;

  // Starts the non-blocking connect and the opening exchange; Connect's result.
  std::int32_t ConnectAgent(std::uint16_t port);
  static std::int32_t AgentCallback(std::int32_t code, void* context, const RequestView* view, std::int32_t reserved);
  std::int32_t OnAgentMessage(std::int32_t code, const RequestView* view);
  // 0, kPending, or an error: the folder's queue must then end the request itself. The sequence's
  // identifier goes to *sequence, so that its replies are told apart from those of another.
  plat::HRESULT ForwardRequest(std::int32_t code, const std::string& text, CVirtualFolder* folder,
                               std::int32_t* sequence = nullptr);
  void PurgeUserRequests(CUser* user);
  // Once removed, nothing more is forwarded.
  void MarkRemoved() { removed_ = true; }

  const std::string& name() const { return name_; }
  const std::string& address() const { return address_; }
  const std::string& rootEntry() const { return rootEntry_; }
  // The root's "IPAddress" as the opening learned it; empty when the agent has none or does not
  // answer it to a link without a logon.
  const std::string& ipAddress() const { return ipAddress_; }
  bool opening() const { return opening_; }
  // The opening has finished and the consoles have its folder.
  bool ready() const { return ready_; }
  // The host name of the root entry.
  std::string rootName() const;

 private:
  plat::HRESULT SyncUserPath(CVirtualFolder* folder);
  bool OwnsFolder(const CVirtualFolder* folder) const;
  std::string RewritePath(const std::string& text) const;
  void OnOpeningReply(std::int32_t code, const RequestView& view);
  void FinishOpening();

  std::string name_;
  std::string address_;
  std::string rootEntry_;
  std::string ipAddress_;
  CPellwickDoc& doc_;
  bool opening_ = false;
  bool rootAnswered_ = false;
  bool ready_ = false;
  std::int32_t openingId_ = 0;
  bool removed_ = false;
};

}  // namespace kelm::msgserver
