#pragma once
// The console's connection to one agent, over the local channel. Turns node operations into
// request sequences, hands replies to the node that asked, routes notifications to the node they
// name, and tells the document when the link is up or gone.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "message/message_api.h"
#include "platform/loop/event_loop.h"

namespace kelm::console {

class CDremmoralDoc;
class CVirtualFolder;

// Request flags of the console's sequences.
inline constexpr std::uint32_t kReqToOwner = 0x100;     // replies go to the owner node
inline constexpr std::uint32_t kReqFirstQuery = 0x200;  // the two requests of the first query

class CPellwick : public CMessageApi {
 public:
  CPellwick(CDremmoralDoc* document, std::string name, std::string address, std::string description,
            const plat::Clock& clock, plat::EventLoop* loop);
  ~CPellwick() override;

  // 0 connected; negative on failure (after the message box).
  int Connect();

  plat::HRESULT ChangeFolderTo(CVirtualFolder* node);
  plat::HRESULT ListFolder(CVirtualFolder* node);
  plat::HRESULT QueryNode(CVirtualFolder* node, const std::string& text);
  plat::HRESULT SetNodeProperty(CVirtualFolder* node, const std::string& name, const std::string& value);
  plat::HRESULT InvokeNodeMethod(CVirtualFolder* node, const std::string& method, const std::string& arguments);
  plat::HRESULT ReloadNode(CVirtualFolder* node);
  // Whether a listing of the node is still queued (sent and unanswered, or waiting to be sent).
  bool ListingQueued(const CVirtualFolder* node) const;
  plat::HRESULT LogonNode(CVirtualFolder* node, const std::string& credentials);
  plat::HRESULT LogoffNode(CVirtualFolder* node, const std::string& handle);

  // "\" + root + "\" + agent + rest  ->  rest (with its leading "\"), or "\" for the agent itself.
  static std::string PathBelowAgent(const std::string& fullPath);

  const std::string& name() const { return name_; }
  const std::string& address() const { return address_; }
  const std::string& description() const { return description_; }
  const std::string& ownEntry() const { return ownEntry_; }
  bool firstQueryPending() const { return firstQueryPending_; }
  // Owner references held for requests still queued (for tests).
  std::size_t heldReferences() const;
  // Lets go of every owner still held (the link is closed: nothing more will be answered).
  void ReleaseAllHeld();

  // The message layer's reply callback.
  std::int32_t OnCallback(std::int32_t code, const RequestView* view);

 private:
  std::int32_t OnFirstQueryReply(std::int32_t code, const RequestView& view);
  // Changes folder to the node, then queues the node's own request under the same identifier.
  plat::HRESULT FolderRequest(CVirtualFolder* node, std::int32_t code, std::string text, std::uint32_t flags);
  // Queues one request with its owner counted for as long as the request lives.
  plat::HRESULT QueueOwned(std::int32_t code, std::string text, std::uint32_t flags, CVirtualFolder* owner);
  // Lets go of the owners of identifiers no longer in the queue.
  void ReleaseFinished();
  void ScheduleRelease();

  CDremmoralDoc* document_;
  plat::EventLoop* loop_;
  std::string name_;
  std::string address_;
  std::string ownEntry_;
  std::string description_;
  bool firstQueryPending_ = false;
  // Set while the destructor runs: replies and the close are no longer handed on.
  bool destroying_ = false;
  std::int32_t firstQueryId_ = 0;
  std::map<std::int32_t, std::vector<CVirtualFolder*>> held_;
  plat::Timer releaseTimer_;
};

}  // namespace kelm::console
