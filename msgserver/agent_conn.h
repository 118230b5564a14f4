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
  CAgent(CPellwickDoc& doc, std::string name, std::string address, std::int32_t idSeed);
  ~CAgent() override;

  // Starts the non-blocking connect and the opening exchange; Connect's result.
  std::int32_t ConnectAgent(std::uint16_t port);
  static std::int32_t AgentCallback(std::int32_t code, void* context, const RequestView* view, std::int32_t reserved);
  std::int32_t OnAgentMessage(std::int32_t code, const RequestView* view);
  // 0, kPending, or an error: the folder's queue must then end the request itself.
  plat::HRESULT ForwardRequest(std::int32_t code, const std::string& text, CVirtualFolder* folder);
  void PurgeUserRequests(CUser* user);
  // Once removed, nothing more is forwarded.
  void MarkRemoved() { removed_ = true; }

  const std::string& name() const { return name_; }
  const std::string& address() const { return address_; }
  const std::string& rootEntry() const { return rootEntry_; }
  bool opening() const { return opening_; }

 private:
  plat::HRESULT SyncUserPath(CVirtualFolder* folder);
  bool OwnsFolder(const CVirtualFolder* folder) const;
  std::string RewritePath(const std::string& text) const;

  std::string name_;
  std::string address_;
  std::string rootEntry_;
  CPellwickDoc& doc_;
  bool opening_ = false;
  std::int32_t openingId_ = 0;
  bool removed_ = false;
};

}  // namespace kelm::msgserver
