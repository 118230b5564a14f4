#pragma once
// The node framework: every object a component shows is a CRiverNode with an ordered list of
// entries (properties, methods, children). The generic IRiver operations work on that list; a node
// class adds behaviour through the virtual operations.
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/framework/component_types.h"
#include "components/framework/drop.h"
#include "components/framework/interfaces.h"
#include "platform/com/connection_point.h"
#include "platform/com/enum_string.h"
#include "platform/com/inproc_server.h"
#include "platform/com/object.h"

namespace kelm::fw {

// Live nodes, enumerators and server locks of this component library, for DllCanUnloadNow.
plat::com::ModuleCount& Module();

// "%d;%d": a node id and a node type number.
std::string FormatHandle(std::uint32_t id, int type);
struct Handle {
  std::uint32_t id;
  int type;
};
// Two decimal numbers around one ';' and nothing else; the id must be positive.
std::optional<Handle> ParseHandle(std::string_view text);

// Carries a device-access object from a parent to its children.
class CLinkSlot {
 public:
  static constexpr std::uint32_t kKey = 0x10000001;
  // The stored pointer for kKey, else the slot itself.
  void* Fetch(std::uint32_t key) { return key == kKey ? target_ : static_cast<void*>(this); }
  HRESULT Store(std::uint32_t key, void* target) {
    if (key != kKey) return plat::E_INVALIDARG;
    target_ = target;
    return plat::S_OK;
  }

 private:
  void* target_ = nullptr;
};

// Splits a text at a separator. A token that starts with '"' runs to the next '"' (both removed,
// separators inside kept) and the next token starts after the separator behind it; an opening quote
// without a closing one ends the list before that token.
std::vector<std::string> SplitArgs(std::string_view text, char separator);

// Two letters per byte, 'A' plus the low four bits, then 'A' plus the high four bits.
std::string EncodeBytes(const std::uint8_t* bytes, std::size_t count);

class CRiverNode : public plat::com::Object<IRiver, plat::com::IConnectionPointContainer> {
 public:
  static constexpr int kClassType = kNodeBase;

  // IRiver
  HRESULT dir(IUnknown** ppenum) override;
  HRESULT get(const std::string& name, std::string* value) override;
  HRESULT set(const std::string& name, const std::string& value, std::uint32_t right) override;
  HRESULT invoke(const std::string& name, const std::string& arg) override;
  HRESULT refresh() override;
  HRESULT cd(const std::string& name, IUnknown** ppriver) override;
  // IConnectionPointContainer: one point, for IRAIDEvent.
  HRESULT FindConnectionPoint(const Guid& iid, plat::com::IConnectionPoint** out) override;

  // Called just before an entry's text is read (get, GetAttr).
  virtual void UpdateAttribute(CDrop& entry) {}
  // Runs a method; the answer does not reach the caller of invoke.
  virtual int InvokeHandler(const std::string& name, const std::string& arg) { return 0; }
  // Re-reads the node: when the device is ready, DeclareMethods and then UpdateValues.
  virtual void Refresh();
  virtual bool IsDeviceReady() { return true; }
  // Stores the identifiers, initialises the node, takes the parent's device link, then
  // UpdateValues and DeclareMethods; answers 1.
  virtual int Init(CRiverNode* parent, const std::string& name, int id1, int id2, int id3);
  virtual int DeclareMethods() { return 1; }
  virtual int UpdateValues() { return 1; }

  // Entries.
  // Finds the entry by name or appends one; sets name, flags, value and mode. 1, or 0 without memory.
  int AddDrop(const std::string& name, std::uint32_t flags, const std::string& value);
  CDrop* FindDrop(std::string_view name);
  // Absent: AddDrop with the flags (7 when 0). Present and flags not 0: redefined, 1.
  // Present and flags 0: untouched, 1 when it is writable, else 0.
  int SetAttr(const std::string& name, std::uint32_t flags, const std::string& value);
  int SetAttrF(const std::string& name, std::uint32_t flags, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  int SetAttrInt(const std::string& name, std::uint32_t flags, long long n);
  // The rights mask is kept as signed decimal (plat::formatWord32); readers take either form.
  int AddMethod(const std::string& name, std::uint32_t rights);
  int SetAttrBinary(const std::string& name, std::uint32_t flags, const std::uint8_t* bytes, std::size_t count);
  // UpdateAttribute then the value; the default when the entry is absent.
  std::string GetAttr(std::string_view name, const std::string& fallback);
  // GetAttr converted to a number (leading blanks and sign, then digits; 0 for no number,
  // clamped to the int range).
  int GetAttrInt(std::string_view name, int fallback);
  // Adds a child entry "id;type" under the given name (else the child's own) holding one reference
  // to the child. Refused (0) unless the child is initialised. Redefining an entry that held
  // another child releases that child.
  int AddChild(CRiverNode* child, const std::string* name = nullptr);
  int AddChild(CRiverNode* child, const std::string& name) { return AddChild(child, &name); }
  CRiverNode* ChildByName(std::string_view name);
  // The next child from a list position, which moves past it; null at the end.
  CRiverNode* NextChild(std::size_t& position);
  std::size_t FirstChildPosition() const { return 0; }
  // Only an entry of this node: releases its child and removes it.
  bool RemoveEntry(const CDrop* entry);
  void RemoveAll();
  // Depth-first over the child entries in list order.
  CRiverNode* FindByHandle(std::uint32_t id, int type);
  CRiverNode* FindByHandle(std::string_view handleText);
  CRiverNode* FindById(int id1, int type);
  CRiverNode* FindChildById(int id1, int classType, bool recursive = false);
  // RAIDNotification(code) to every sink advised on this node, in advise order.
  void Fire(std::uint32_t code);

  void InitNode(CRiverNode* parent, const std::string& name, int type);

  const std::string& Name() const { return name_; }
  int NodeType() const { return nodeType_; }
  int ClassType() const { return classType_; }
  bool Initialised() const { return initialised_; }
  CRiverNode* Parent() const { return parent_; }
  // The process-unique number in this node's handle; never an address, never reused.
  std::uint32_t NodeId() const { return nodeId_; }
  std::string HandleText() const { return FormatHandle(nodeId_, nodeType_); }
  const std::vector<std::unique_ptr<CDrop>>& Entries() const { return entries_; }
  int Id1() const { return id1_; }
  int Id2() const { return id2_; }
  int Id3() const { return id3_; }
  void* DeviceLink() const { return deviceLink_; }
  void SetDeviceLink(void* link) { deviceLink_ = link; }
  std::size_t SinkCount() const { return events_.sinkCount(); }

 protected:
  // nodeType: the number this node shows in its handle and listing (its class type when not given).
  explicit CRiverNode(int classType = kClassType, int nodeType = -1);
  ~CRiverNode() override;

  int id1_ = 0, id2_ = 0, id3_ = 0;

 private:
  CDrop* ChildEntry(std::string_view name);
  void Detach(CDrop& entry);
  template <class Match>
  CRiverNode* SearchDepthFirst(const Match& match, int depth = 0);

  plat::com::ConnectionPoint<IRAIDEvent> events_{static_cast<IRiver&>(*this)};
  bool initialised_ = false;
  std::string name_;
  int nodeType_ = 0;
  std::vector<std::unique_ptr<CDrop>> entries_;
  CRiverNode* parent_ = nullptr;
  int classType_;
  void* deviceLink_ = nullptr;
  std::uint32_t nodeId_;
};

// A node whose children are scanned from the device.
class CRiverContainer : public CRiverNode {
 public:
  static constexpr int kClassType = kNodeContainer;

  // Stores the number and the link, runs Init, then a child scan.
  virtual int InitContainer(CRiverNode* parent, const std::string& name, int number, void* deviceLink);
  // Finds or makes the child for a device; the base makes none.
  virtual CRiverNode* MakeChild(int deviceId, int sub, void* deviceLink) { return nullptr; }
  virtual int Accepts(int a, int b, int c) { return 1; }
  // Used by enclosure containers for their count property.
  virtual int Count() { return 0; }
  // A child scan, then UpdateValues.
  void Refresh() override;
  // Asks the family's ScanDevices for the children that are present and removes every other child.
  void ChildScan();

  int Number() const { return number_; }

 protected:
  explicit CRiverContainer(int classType = kClassType, int nodeType = -1) : CRiverNode(classType, nodeType) {}
  // Adds every child that is present now to `seen` (making it through MakeChild as needed).
  virtual void ScanDevices(std::vector<CRiverNode*>& seen) {}

  int number_ = 0;
};

// The directory enumerator of a node: one listing line per entry.
class CDirEnum final : public plat::com::Object<plat::com::IEnumString> {
 public:
  CDirEnum(CRiverNode* node, std::size_t position);
  ~CDirEnum() override;

  HRESULT Next(std::uint32_t count, std::vector<std::string>& out) override;
  HRESULT Skip(std::uint32_t count) override;
  HRESULT Reset() override;
  HRESULT Clone(plat::com::IEnumString** out) override;

 private:
  plat::com::ComPtr<CRiverNode> node_;
  std::size_t position_;
};

}  // namespace kelm::fw
