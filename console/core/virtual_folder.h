#pragma once
// The console's mirror of an agent's folder tree. Each remote folder is a CVirtualFolder; its
// properties and methods are plain CPea children. Operations on a node become short request
// sequences on its agent connection; replies come back to the node that asked.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "message/pea.h"
#include "platform/base/hresult.h"

namespace kelm::console {

class CDremmoralDoc;
class CPellwick;

// Node type numbers the console uses.
enum NodeType : int {
  kNodeUnknown = -1,
  kNodeConsoleRoot = 0,
  kNodeServer = 1,
  kNodeAgent = 2,
  kNodeIopArray = 3,
  kNodeIopController = 4,
  kNodeChannel = 5,
  kNodeIopDisk = 6,
  kNodeEnclosure = 7,
  kNodePower = 8,
  kNodeFan = 9,
  kNodeTemperature = 10,
  kNodeVoltage = 11,
  kNodeUserAccounts = 12,
  kNodeUser = 13,
  kNodeRaidSystem = 14,
  kNodeSensorGroup = 17,
  kNodeIdeArray = 18,
  kNodeIdeController = 19,
  kNodeIdeChannel = 20,
  kNodeIdeDisk = 21,
  kNodeSerialArray = 22,
  kNodeSerialController = 23,
  kNodeSerialDisk = 24,
  kNodeSerialEnclosure = 25,
  kNodeShortCut = 126,
};

// Document hints.
enum Hint : int {
  kHintInitialUpdate = 256,
  kHintCurrentChanged = 257,
  kHintChildrenChanged = 258,
  kHintValuesChanged = 259,
  kHintChildArrived = 260,
  kHintBackground = 261,
  kHintTextColour = 262,
  kHintFont = 263,
};

inline bool IsArrayType(int t) { return t == kNodeIopArray || t == kNodeIdeArray || t == kNodeSerialArray; }
inline bool IsDiskType(int t) { return t == kNodeIopDisk || t == kNodeIdeDisk || t == kNodeSerialDisk; }

// name@type@value cut at the first two '@'; the name and the type must not be empty. The value
// is the whole remainder and may itself hold '@'.
struct TreeEntryParts {
  std::string name;
  std::string type;
  std::string value;
};
bool SplitTreeEntry(std::string_view entry, TreeEntryParts& out);

// The decimal number at the start of a text (a sign allowed), or the default when there is none.
// Numbers beyond 32 bits keep their low 32 bits, so masks read the same signed or unsigned.
int LeadingInt(std::string_view text, int def);

// Told of every reply to an invoke on the node it listens to.
class ReplyListener {
 public:
  virtual ~ReplyListener() = default;
  virtual void OnInvokeReply(int status, const std::string& text) = 0;
};

class CVirtualFolder : public CPea {
 public:
  enum Flags : std::uint32_t { kFlagNew = 2, kFlagPassive = 4 };

  CVirtualFolder();
  ~CVirtualFolder() override;

  void Attach(CPea* parent, CPeaLink* documentLink, CPeaLink* ownerLink);
  CDremmoralDoc* GetDocument() const;
  CPellwick* GetConnection() const;

  virtual int Invoke(const std::string& method, const std::string& arguments);
  virtual int Reload();
  virtual int Refresh();
  virtual int Query(const std::string& text);
  virtual int SetRemoteProperty(const std::string& name, const std::string& value);

  int GetChildValue(std::string_view name, std::string* type, std::string* value, bool noQuery);
  std::string GetProperty(std::string_view name, std::string_view def, bool noQuery = false);
  int GetIntProperty(std::string_view name, int def, bool noQuery = false);
  int SetProperty(std::string_view name, std::string_view value);
  int SetIntProperty(std::string_view name, int number);
  // A value the console keeps for itself (marks, connection state): changed or created here and
  // never sent to the agent.
  void SetLocalProperty(std::string_view name, std::string_view value);
  void SetLocalIntProperty(std::string_view name, int number);

  CPea* AddChildEntry(std::string_view name, std::string_view type, std::string_view value);
  CPea* AddIntChild(std::string_view name, std::string_view type, int number);
  CPea* AddMethod(std::string_view name, std::int32_t rights);
  void PinChild(CPea* child);
  CPea* AddOrUpdateChild(std::string_view entry);
  CPea* AddFolderFromEntry(std::string_view entry);
  bool ParseOwnEntry(std::string_view entry);
  void SetNodeType();
  CPea* FindMethod(std::string_view name, std::uint32_t* rights = nullptr) const;
  bool HasMethod(std::string_view name) const { return FindMethod(name) != nullptr; }
  CVirtualFolder* FindByPath(std::string_view path) const;
  std::string GetPath() const;
  std::string GetPathBelow(int nodeType) const;
  CVirtualFolder* FindAgent();
  bool HasSubFolders() const;
  // The children that are folders or short cuts; with refresh, a closed node is refreshed first.
  std::vector<CPea*> SubFolders(bool refresh);
  bool IsDescendantOf(const CPea* node) const;
  void NotifyViews(int hint, CPea* node);
  std::uint32_t SetFlags(std::uint32_t value, std::uint32_t mask);
  void AddListener(ReplyListener* listener);
  void RemoveListener(ReplyListener* listener);
  // Removes a child and forgets it in the seen list.
  void RemoveChildNode(CPea* child);
  // Removes every child not seen in the listing, then drops the seen list back to the pinned ones.
  void PruneUnseen();

  virtual int OnReply(int code, int status, const std::string& text);
  virtual int OnNotification(int code, const std::string& text);
  int Logon();
  // The node framework's letter form: each pair of letters is one byte, low half first.
  bool GetBinaryProperty(std::string_view name, std::vector<std::uint8_t>& out);

  // The local machine's agent: named after this computer, or "LOCALAGENT".
  bool IsLocalMachine() const;

  int nodeType() const { return nodeType_; }
  std::uint32_t flags() const { return flags_; }
  bool isOpen() const { return open_; }
  void setOpen(bool v) { open_ = v; }
  bool listingPending() const { return listingPending_; }
  void setListingPending(bool v) { listingPending_ = v; }
  bool keepChildren() const { return keepChildren_; }
  void setKeepChildren(bool v) { keepChildren_ = v; }
  bool inNewArray() const { return inNewArray_; }
  void setInNewArray(bool v) { inNewArray_ = v; }
  bool passive() const { return (flags_ & kFlagPassive) != 0; }
  bool IsSeen(const CPea* child) const;
  // Seen in the listing in progress (not merely pinned).
  bool IsSeenInListing(const CPea* child) const;
  std::size_t pinnedCount() const { return pinned_; }

 protected:
  void OnDetach() override;
  // Pins the children a node class always has; runs when the node is attached.
  virtual void PinFixedChildren() {}
  void MarkSeen(CPea* child);
  void OnRequestError(int code);

 private:
  std::uint32_t flags_ = 0;
  int nodeType_ = kNodeUnknown;
  std::vector<ReplyListener*> listeners_;
  bool open_ = false;
  std::vector<CPea*> seen_;  // pinned children first
  std::size_t pinned_ = 0;
  bool keepChildren_ = false;
  bool inNewArray_ = false;
  bool listingPending_ = false;
};

// The console root: node type 0, named from the profile, open from creation.
class CRootFolder : public CVirtualFolder {
 public:
  explicit CRootFolder(std::string name);
  int Invoke(const std::string& method, const std::string& arguments) override;

 protected:
  void PinFixedChildren() override;
};

// A server entry configured in the console.
class CServerFolder : public CVirtualFolder {
 public:
  CServerFolder();
  int Invoke(const std::string& method, const std::string& arguments) override;
  int SetRemoteProperty(const std::string& name, const std::string& value) override;

 protected:
  void PinFixedChildren() override;
};

// A local reference to another node, counted.
class CShortCut : public CPea {
 public:
  CShortCut() = default;
  ~CShortCut() override;
  void Init(CPea* parent, CPea* target);
  CPea* target() const { return target_; }

 private:
  CPea* target_ = nullptr;
};

// The target of a short cut, the node itself for any other node, null for null.
CPea* ResolveShortCut(CPea* node);
// The node as a folder (after resolving a short cut), or null.
CVirtualFolder* AsFolder(CPea* node);
// The node's own type: a folder's node type, kNodeShortCut for a short cut, else kNodeUnknown.
int NodeTypeOf(const CPea* node);
// The first folder of a node type among the listed folders under a node, depth first, short cuts
// not followed; null when there is none.
CVirtualFolder* FindFolderOfType(CPea* under, int type);

// The computer's name, read once.
const std::string& ComputerName();

}  // namespace kelm::console
