#pragma once
// The node of every folder tree (console mirror, agent folders, message server namespace):
// name, type code and value, an ordered list of counted children, a parent, a context link and a
// counted owner link. CPeaLink is the small reference-count interface that nodes, connections and
// the local channel's event sink share, so that a node can hold its connection by the same rules.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/hresult.h"

namespace kelm {

class ArchiveWriter;
class ArchiveReader;
enum class DecodeStatus;

class CPeaLink {
 public:
  // The key under which a link stores its target (for a connection: the connection itself).
  static constexpr std::int32_t kTargetKey = 4096;

  CPeaLink() = default;
  CPeaLink(const CPeaLink&) = delete;
  CPeaLink& operator=(const CPeaLink&) = delete;
  virtual ~CPeaLink() = default;

  // Key 4096 stores the target and gives S_OK; any other key gives E_INVALIDARG.
  virtual plat::HRESULT SetLink(std::int32_t key, void* target);
  // Key 4096 gives the target; any other key gives the link itself. Always S_OK.
  virtual plat::HRESULT GetLink(std::int32_t key, void** out);
  // Returns the new count. When it falls from 1 to 0 the containing object is deleted.
  // A release without a matching AddRef is ignored (returns 0) instead of corrupting the count.
  std::int32_t Release();
  std::int32_t AddRef();
  std::int32_t RefCount() const { return count_; }

 private:
  void* target_ = nullptr;
  std::int32_t count_ = 0;
};

class CPea : public CPeaLink {
 public:
  // 1-based place in the child list; 0 means "none left".
  using Position = std::size_t;

  CPea() = default;
  ~CPea() override;

  // Stores the parent and the context link, then SetOwner(ownerLink).
  void SetParent(CPea* parent, CPeaLink* contextLink, CPeaLink* ownerLink);
  // Moves this node, and every child that shares its current owner (recursively), to a new
  // counted owner link; children with another owner keep theirs.
  void SetOwner(CPeaLink* ownerLink);
  plat::HRESULT QueryParentLink(std::int32_t key, void** out) const;
  plat::HRESULT QueryOwnerLink(std::int32_t key, void** out) const;

  CPea* GetParent() const { return parent_; }
  CPeaLink* GetContextLink() const { return contextLink_; }
  CPeaLink* GetOwnerLink() const { return ownerLink_; }

  // Appends and counts the child. E_INVALIDARG for a null child, a child that already sits in a
  // child list (this one or another), this node itself or one of its ancestors.
  plat::HRESULT AddChild(CPea* child);
  // E_INVALIDARG for a node that is not a child. Else it leaves the list, its OnDetach runs, its
  // parent pointer is cleared and it is released. A null child removes every child in order.
  plat::HRESULT RemoveChild(CPea* child);

  Position GetFirstChildPosition() const { return children_.empty() ? 0 : 1; }
  // The child at pos, advancing pos (to 0 after the last).
  CPea* GetNextChild(Position& pos) const;
  std::size_t GetChildCount() const { return children_.size(); }
  // The first child with exactly this name (case-sensitive), or null.
  CPea* FindChild(std::string_view name) const;
  // From pos on, the next child whose owner link is ownerLink, advancing pos; null when none.
  CPea* FindChildByKey(const CPeaLink* ownerLink, Position& pos) const;

  bool IsFolder() const { return !type_.empty() && type_[0] == 'o'; }
  bool IsProperty() const { return !type_.empty() && type_[0] == 'p'; }
  bool IsMethod() const { return !type_.empty() && type_[0] == 'm'; }
  bool IsReadableProperty() const { return IsProperty() && type_.size() > 1 && type_[1] == 'r'; }
  bool IsVolatileProperty() const { return IsProperty() && type_.size() > 2 && type_[2] == 'v'; }

  void CopyStrings(const CPea& other);
  // name@type@value; returns 1.
  virtual int GetFullName(std::string& out) const;
  // Name, type and value as archived strings; children, parent and links are not written.
  virtual void Serialize(ArchiveWriter& ar) const;
  DecodeStatus Load(ArchiveReader& ar);

  const std::string& name() const { return name_; }
  const std::string& type() const { return type_; }
  const std::string& value() const { return value_; }
  void setName(std::string v) { name_ = std::move(v); }
  void setType(std::string v) { type_ = std::move(v); }
  void setValue(std::string v) { value_ = std::move(v); }

 protected:
  // Called on a child as it leaves its parent; folders override it.
  virtual void OnDetach() {}

 private:
  bool InAncestry(const CPea* node) const;
  void Detach(CPea* child);

  std::string name_;
  std::string type_;
  std::string value_;
  CPea* parent_ = nullptr;
  CPeaLink* contextLink_ = nullptr;
  CPeaLink* ownerLink_ = nullptr;
  // The node whose child list holds this one: keeps a node in at most one list.
  CPea* listHolder_ = nullptr;
  std::vector<CPea*> children_;
};

// A counted reference to a CPeaLink object (a node or a connection): AddRef on taking, Release on
// letting go, so a holder keeps the object alive across callbacks, dialogs and drags.
template <class T>
class PeaRef {
 public:
  PeaRef() = default;
  explicit PeaRef(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  PeaRef(const PeaRef& o) : PeaRef(o.p_) {}
  PeaRef(PeaRef&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  PeaRef& operator=(PeaRef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~PeaRef() { reset(); }
  void reset() {
    if (T* p = p_) {
      p_ = nullptr;
      p->Release();
    }
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace kelm
