#include "message/pea.h"

#include <algorithm>

#include "message/message_codec.h"

namespace kelm {

plat::HRESULT CPeaLink::SetLink(std::int32_t key, void* target) {
  if (key != kTargetKey) return plat::E_INVALIDARG;
  target_ = target;
  return plat::S_OK;
}

plat::HRESULT CPeaLink::GetLink(std::int32_t key, void** out) {
  if (out) *out = key == kTargetKey ? target_ : static_cast<void*>(this);
  return plat::S_OK;
}

std::int32_t CPeaLink::AddRef() { return ++count_; }

std::int32_t CPeaLink::Release() {
  if (count_ <= 0) return 0;
  if (--count_ == 0) {
    delete this;
    return 0;
  }
  return count_;
}

CPea::~CPea() {
  RemoveChild(nullptr);
  SetOwner(nullptr);
}

void CPea::SetParent(CPea* parent, CPeaLink* contextLink, CPeaLink* ownerLink) {
  parent_ = parent;
  contextLink_ = contextLink;
  SetOwner(ownerLink);
}

void CPea::SetOwner(CPeaLink* ownerLink) {
  for (CPea* child : children_) {
    if (child->ownerLink_ == ownerLink_) child->SetOwner(ownerLink);
  }
  if (ownerLink) ownerLink->AddRef();
  CPeaLink* old = ownerLink_;
  ownerLink_ = ownerLink;
  if (old) old->Release();
}

plat::HRESULT CPea::QueryParentLink(std::int32_t key, void** out) const {
  if (!contextLink_) {
    if (out) *out = nullptr;
    return plat::S_OK;
  }
  return contextLink_->GetLink(key, out);
}

plat::HRESULT CPea::QueryOwnerLink(std::int32_t key, void** out) const {
  if (!ownerLink_) {
    if (out) *out = nullptr;
    return plat::S_OK;
  }
  return ownerLink_->GetLink(key, out);
}

bool CPea::InAncestry(const CPea* node) const {
  for (const CPea* p = this; p; p = p->listHolder_) {
    if (p == node) return true;
  }
  return false;
}

plat::HRESULT CPea::AddChild(CPea* child) {
  // A node held by two lists, or a cycle, would be released twice or never.
  if (!child || child->listHolder_ || InAncestry(child)) return plat::E_INVALIDARG;
  children_.push_back(child);
  child->listHolder_ = this;
  child->AddRef();
  return plat::S_OK;
}

void CPea::Detach(CPea* child) {
  child->listHolder_ = nullptr;
  child->OnDetach();
  if (child->parent_ == this) child->parent_ = nullptr;
  child->Release();
}

plat::HRESULT CPea::RemoveChild(CPea* child) {
  if (!child) {
    while (!children_.empty()) {
      CPea* first = children_.front();
      children_.erase(children_.begin());
      Detach(first);
    }
    return plat::S_OK;
  }
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return plat::E_INVALIDARG;
  children_.erase(it);
  Detach(child);
  return plat::S_OK;
}

CPea* CPea::GetNextChild(Position& pos) const {
  if (pos == 0 || pos > children_.size()) {
    pos = 0;
    return nullptr;
  }
  CPea* child = children_[pos - 1];
  pos = pos < children_.size() ? pos + 1 : 0;
  return child;
}

CPea* CPea::FindChild(std::string_view name) const {
  for (CPea* child : children_) {
    if (child->name_ == name) return child;
  }
  return nullptr;
}

CPea* CPea::FindChildByKey(const CPeaLink* ownerLink, Position& pos) const {
  while (pos != 0) {
    CPea* child = GetNextChild(pos);
    if (child && child->ownerLink_ == ownerLink) return child;
  }
  return nullptr;
}

void CPea::CopyStrings(const CPea& other) {
  name_ = other.name_;
  type_ = other.type_;
  value_ = other.value_;
}

int CPea::GetFullName(std::string& out) const {
  out = TreeEntry(name_, type_, value_);
  return 1;
}

void CPea::Serialize(ArchiveWriter& ar) const {
  ar.WriteString(name_);
  ar.WriteString(type_);
  ar.WriteString(value_);
}

DecodeStatus CPea::Load(ArchiveReader& ar) {
  const std::size_t start = ar.position();
  std::string n, t, v;
  DecodeStatus s = ar.ReadString(n);
  if (s == DecodeStatus::kOk) s = ar.ReadString(t);
  if (s == DecodeStatus::kOk) s = ar.ReadString(v);
  if (s != DecodeStatus::kOk) {
    ar.seek(start);
    return s;
  }
  name_ = std::move(n);
  type_ = std::move(t);
  value_ = std::move(v);
  return s;
}

}  // namespace kelm
