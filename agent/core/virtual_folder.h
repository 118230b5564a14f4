#pragma once
// CVirtualFolder: a folder of the agent's tree. It wraps a component node (IRiver) or is one of
// the agent's own folders, answers the requests of the connections whose current folder it is,
// passes the component's change notifications on to every client and reads its event records on
// the poll walk.
#include <cstdint>
#include <string>
#include <string_view>

#include "components/framework/interfaces.h"
#include "message/message.h"
#include "message/pea.h"
#include "platform/com/unknown.h"

namespace kelm::agent {

class CHalvornDoc;
class CSvrSocket;
class FolderEventSink;

class CVirtualFolder : public CPea {
 public:
  CVirtualFolder();
  ~CVirtualFolder() override;

  // Links the folder under its parent (appended to its children) with the document as owner;
  // with a component, keeps it, advises the event sink and mirrors the component's entries.
  void Attach(CVirtualFolder* parent, CHalvornDoc& doc, fw::IRiver* component = nullptr);
  // Drops the component's event connection.
  virtual void Detach();

  virtual void OnRequest(CMessage& m, CSvrSocket& c);
  // 803 lets the method go on to InvokeMethod; anything else refuses it.
  virtual std::int32_t PreInvoke(CMessage& m, const std::string& name, const std::string& args, CSvrSocket& c);
  virtual void OnTick();
  // 800 with the text, or a failure code.
  virtual std::int32_t GetValue(const std::string& name, std::string& text);
  virtual std::int32_t SetValue(const std::string& name, const std::string& value, std::uint32_t rights);
  virtual std::uint32_t GetRights(CSvrSocket& c);
  virtual std::int32_t InvokeMethod(CMessage& m, const std::string& name, const std::string& args, CSvrSocket& c);

  virtual void OnLogon(CMessage& m, CSvrSocket& c);
  virtual void OnRefresh(CMessage& m, CSvrSocket& c);
  virtual void OnInvoke(CMessage& m, CSvrSocket& c);
  virtual void OnSetProperty(CMessage& m, CSvrSocket& c);
  virtual void OnQuery(CMessage& m, CSvrSocket& c);
  virtual void OnChangeFolder(CMessage& m, CSvrSocket& c);
  virtual void OnList(CMessage& m, CSvrSocket& c);

  // "\" for the top; else "\" and the names below the top joined by "\".
  std::string FullPath() const;
  void SetTextProperty(const std::string& name, const std::string& text);
  void SetIntProperty(const std::string& name, std::int64_t n);
  void AddMethodEntry(const std::string& name, std::int32_t rights);
  std::int64_t GetIntProperty(const std::string& name, std::int64_t def) const;
  // name@type@value: creates or updates a child (a new folder gets its component by cd).
  void ParseEntry(std::string_view text);
  // The notification with FullPath() + "@" to one connection, or to all.
  void Notify(std::int32_t code, CSvrSocket* c = nullptr);

  // A method's mask after the local-only rule, for this connection.
  std::uint32_t EffectiveMask(const CPea& method, CSvrSocket& c) const;
  // The folder's node type number (its value).
  std::int32_t NodeType() const;
  CHalvornDoc* Doc() const { return doc_; }
  fw::IRiver* Component() const { return component_.get(); }
  CVirtualFolder* ParentFolder() const;
  CVirtualFolder* TopFolder();
  const std::string& FamilyWord() const { return familyWord_; }
  CVirtualFolder* FindFolder(std::string_view name) const;
  // The component's change notification.
  void OnRaidNotification(std::uint32_t code);

 protected:
  void OnDetach() override { Detach(); }
  // Re-reads the children from the component (dir).
  void ReadChildren();
  // Sends one entry per child with the caller's rights (the default listing).
  // False when an entry did not fit in a record and was left out.
  bool ListChildren(CMessage& m, CSvrSocket& c);
  void Reply(CMessage& m, CSvrSocket& c, std::int32_t result);

 private:
  void Advise();

  CHalvornDoc* doc_ = nullptr;
  plat::com::ComPtr<fw::IRiver> component_;
  plat::com::ComPtr<FolderEventSink> sink_;
  std::uint32_t cookie_ = 0;
  std::string familyWord_ = "no";
};

// Splits at the first '@'; false when there is none.
bool SplitAt(std::string_view text, std::string& head, std::string& tail);
// A decimal number; `def` when the text does not start with one. Bounded to 64 bits.
std::int64_t DecimalOr(std::string_view text, std::int64_t def);

}  // namespace kelm::agent
