#include "components/framework/river_node.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/base/format.h"
#include "platform/base/text.h"

namespace kelm::fw {

using plat::E_INVALIDARG;
using plat::E_OUTOFMEMORY;
using plat::E_POINTER;
using plat::S_FALSE;
using plat::S_OK;

plat::com::ModuleCount& Module() {
  static plat::com::ModuleCount count;
  return count;
}

namespace {

constexpr int kMaxDepth = 64;

}  // namespace

std::string FormatHandle(std::uint32_t id, int type) { return std::to_string(id) + ';' + std::to_string(type); }

std::optional<Handle> ParseHandle(std::string_view text) {
  std::size_t semi = text.find(';');
  if (semi == std::string_view::npos || semi == 0 || semi + 1 >= text.size()) return std::nullopt;
  std::int64_t id = 0;
  int type = 0;
  auto a = std::from_chars(text.data(), text.data() + semi, id);
  if (a.ec != std::errc() || a.ptr != text.data() + semi || id <= 0 || id > INT32_MAX) return std::nullopt;
  auto b = std::from_chars(text.data() + semi + 1, text.data() + text.size(), type);
  if (b.ec != std::errc() || b.ptr != text.data() + text.size()) return std::nullopt;
  return Handle{static_cast<std::uint32_t>(id), type};
}

std::vector<std::string> SplitArgs(std::string_view text, char separator) {
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  while (true) {
    if (pos < text.size() && text[pos] == '"') {
      std::size_t close = text.find('"', pos + 1);
      if (close == std::string_view::npos) break;
      tokens.emplace_back(text.substr(pos + 1, close - pos - 1));
      std::size_t sep = text.find(separator, close + 1);
      if (sep == std::string_view::npos) break;
      pos = sep + 1;
      continue;
    }
    std::size_t sep = text.find(separator, pos);
    if (sep == std::string_view::npos) {
      tokens.emplace_back(text.substr(pos));
      break;
    }
    tokens.emplace_back(text.substr(pos, sep - pos));
    pos = sep + 1;
  }
  return tokens;
}

std::string EncodeBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    out += static_cast<char>('A' + (bytes[i] & 0x0F));
    out += static_cast<char>('A' + (bytes[i] >> 4));
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Node

CRiverNode::CRiverNode(int classType, int nodeType)
    : nodeType_(nodeType < 0 ? classType : nodeType), classType_(classType), nodeId_(plat::com::newObjectId()) {
  Module().objectUp();
}

CRiverNode::~CRiverNode() {
  RemoveAll();
  events_.clear();
  Module().objectDown();
}

HRESULT CRiverNode::FindConnectionPoint(const Guid& iid, plat::com::IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IRAIDEvent::kIid) return plat::CONNECT_E_NOCONNECTION;
  events_.AddRef();
  *out = &events_;
  return S_OK;
}

HRESULT CRiverNode::dir(IUnknown** ppenum) {
  if (!ppenum) return E_POINTER;
  *ppenum = nullptr;
  auto* e = new (std::nothrow) CDirEnum(this, 0);
  if (!e) return E_OUTOFMEMORY;
  e->AddRef();
  *ppenum = static_cast<plat::com::IEnumString*>(e);
  return S_OK;
}

HRESULT CRiverNode::get(const std::string& name, std::string* value) {
  if (!value) return E_POINTER;
  if (CDrop* d = FindDrop(name)) {
    UpdateAttribute(*d);
    // UpdateAttribute may have redefined entries; look the entry up again.
    if ((d = FindDrop(name))) *value = d->value;
  }
  return S_OK;
}

HRESULT CRiverNode::set(const std::string& name, const std::string& value, std::uint32_t) {
  CDrop* d = FindDrop(name);
  if (!d || d->IsChild() || !d->IsWritable()) return S_FALSE;
  d->value = value;
  return S_OK;
}

HRESULT CRiverNode::invoke(const std::string& name, const std::string& arg) {
  CDrop* d = FindDrop(name);
  if (!d || !d->IsMethod()) return S_FALSE;
  plat::com::ComPtr<CRiverNode> keep(this);  // a handler may drop the last outside reference
  InvokeHandler(name, arg);
  return S_OK;
}

HRESULT CRiverNode::refresh() {
  plat::com::ComPtr<CRiverNode> keep(this);
  Refresh();
  return S_OK;
}

HRESULT CRiverNode::cd(const std::string& name, IUnknown** ppriver) {
  if (!ppriver) return E_POINTER;
  *ppriver = nullptr;
  CRiverNode* child = ChildByName(name);
  if (!child) return S_FALSE;
  void* out = nullptr;
  HRESULT h = child->QueryInterface(IRiver::kIid, &out);
  if (plat::FAILED(h)) return h;
  *ppriver = static_cast<IRiver*>(out);
  return S_OK;
}

void CRiverNode::Refresh() {
  if (!IsDeviceReady()) return;
  DeclareMethods();
  UpdateValues();
}

int CRiverNode::Init(CRiverNode* parent, const std::string& name, int id1, int id2, int id3) {
  id1_ = id1;
  id2_ = id2;
  id3_ = id3;
  InitNode(parent, name, nodeType_);
  if (parent) deviceLink_ = parent->deviceLink_;
  UpdateValues();
  DeclareMethods();
  return 1;
}

void CRiverNode::InitNode(CRiverNode* parent, const std::string& name, int type) {
  name_ = name;
  nodeType_ = type;
  parent_ = parent;
  SetAttr("handle", kDropReadOnly, HandleText());
  initialised_ = true;
}

CDrop* CRiverNode::FindDrop(std::string_view name) {
  for (auto& d : entries_)
    if (d->name == name) return d.get();
  return nullptr;
}

void CRiverNode::Detach(CDrop& entry) {
  plat::com::ComPtr<CRiverNode> child = std::move(entry.child);
  if (child && child->parent_ == this) child->parent_ = nullptr;  // no pointer to a parent that may go
}

int CRiverNode::AddDrop(const std::string& name, std::uint32_t flags, const std::string& value) {
  CDrop* d = FindDrop(name);
  if (!d) {
    auto fresh = std::unique_ptr<CDrop>(new (std::nothrow) CDrop);
    if (!fresh) return 0;
    d = fresh.get();
    entries_.push_back(std::move(fresh));
  } else if (d->child) {
    Detach(*d);
  }
  d->name = name;
  d->flags = flags;
  d->value = value;
  d->mode = ModeFor(flags, d->mode);
  return 1;
}

int CRiverNode::SetAttr(const std::string& name, std::uint32_t flags, const std::string& value) {
  CDrop* d = FindDrop(name);
  if (!d) return AddDrop(name, flags ? flags : kDropReadWrite, value);
  if (flags == 0) return d->IsWritable() ? 1 : 0;
  return AddDrop(name, flags, value);
}

int CRiverNode::SetAttrF(const std::string& name, std::uint32_t flags, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string value = plat::vformat(format, args);
  va_end(args);
  return SetAttr(name, flags, value);
}

int CRiverNode::SetAttrInt(const std::string& name, std::uint32_t flags, long long n) {
  return SetAttr(name, flags, std::to_string(n));
}

int CRiverNode::AddMethod(const std::string& name, std::uint32_t rights) {
  return SetAttr(name, kDropMethod, plat::formatWord32(rights));
}

int CRiverNode::SetAttrBinary(const std::string& name, std::uint32_t flags, const std::uint8_t* bytes,
                              std::size_t count) {
  return SetAttr(name, flags, EncodeBytes(bytes, count));
}

std::string CRiverNode::GetAttr(std::string_view name, const std::string& fallback) {
  CDrop* d = FindDrop(name);
  if (!d) return fallback;
  std::string key(name);
  UpdateAttribute(*d);
  d = FindDrop(key);
  return d ? d->value : fallback;
}

int CRiverNode::GetAttrInt(std::string_view name, int fallback) {
  std::string text = GetAttr(name, std::to_string(fallback));
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

int CRiverNode::AddChild(CRiverNode* child, const std::string* name) {
  if (!child || !child->initialised_ || child == this) return 0;
  const std::string entryName = name ? *name : child->name_;
  plat::com::ComPtr<CRiverNode> keep(child);
  // Listing a child again under its entry (a scan that finds it once more) must not cut it off
  // from this node: redefining the entry detaches the child it held.
  CRiverNode* const parentBefore = child->parent_;
  if (!AddDrop(entryName, kDropChild, child->HandleText())) return 0;
  CDrop* d = FindDrop(entryName);
  d->child = std::move(keep);
  if (parentBefore == this) child->parent_ = this;
  return 1;
}

CDrop* CRiverNode::ChildEntry(std::string_view name) {
  CDrop* d = FindDrop(name);
  return d && d->IsChild() ? d : nullptr;
}

CRiverNode* CRiverNode::ChildByName(std::string_view name) {
  CDrop* d = ChildEntry(name);
  if (!d) return nullptr;
  // The entry's text names the child by id: the held node when it matches, else the node of that
  // id in this subtree (an entry written by SetAttr holds no node).
  auto h = ParseHandle(d->value);
  if (!h) return nullptr;
  if (d->child && d->child->nodeId_ == h->id && d->child->nodeType_ == h->type) return d->child.get();
  return FindByHandle(h->id, h->type);
}

CRiverNode* CRiverNode::NextChild(std::size_t& position) {
  while (position < entries_.size()) {
    CDrop& d = *entries_[position++];
    if (d.IsChild() && d.child) return d.child.get();
  }
  return nullptr;
}

bool CRiverNode::RemoveEntry(const CDrop* entry) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& d) { return d.get() == entry; });
  if (it == entries_.end()) return false;
  std::unique_ptr<CDrop> gone = std::move(*it);
  entries_.erase(it);
  Detach(*gone);
  return true;
}

void CRiverNode::RemoveAll() {
  while (!entries_.empty()) {
    std::unique_ptr<CDrop> gone = std::move(entries_.front());
    entries_.erase(entries_.begin());
    Detach(*gone);
  }
}

template <class Match>
CRiverNode* CRiverNode::SearchDepthFirst(const Match& match, int depth) {
  // Trees are a few levels deep; the bound only stops a child list that loops back on itself.
  if (depth > kMaxDepth) return nullptr;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    CRiverNode* c = entries_[i]->IsChild() ? entries_[i]->child.get() : nullptr;
    if (!c) continue;
    if (match(*c)) return c;
    if (CRiverNode* found = c->SearchDepthFirst(match, depth + 1)) return found;
  }
  return nullptr;
}

CRiverNode* CRiverNode::FindByHandle(std::uint32_t id, int type) {
  return SearchDepthFirst([&](const CRiverNode& n) { return n.nodeId_ == id && n.nodeType_ == type; });
}

CRiverNode* CRiverNode::FindByHandle(std::string_view handleText) {
  auto h = ParseHandle(handleText);
  return h ? FindByHandle(h->id, h->type) : nullptr;
}

CRiverNode* CRiverNode::FindById(int id1, int type) {
  return SearchDepthFirst([&](const CRiverNode& n) { return n.id1_ == id1 && n.nodeType_ == type; });
}

CRiverNode* CRiverNode::FindChildById(int id1, int classType, bool recursive) {
  auto match = [&](const CRiverNode& n) { return n.id1_ == id1 && n.classType_ == classType; };
  if (recursive) return SearchDepthFirst(match);
  for (auto& d : entries_)
    if (d->IsChild() && d->child && match(*d->child)) return d->child.get();
  return nullptr;
}

void CRiverNode::Fire(std::uint32_t code) {
  plat::com::ComPtr<CRiverNode> keep(this);  // a sink may release the node while it is called
  events_.fire([code](IRAIDEvent& sink) { sink.RAIDNotification(code); });
}

// ---------------------------------------------------------------------------------------------
// Container

int CRiverContainer::InitContainer(CRiverNode* parent, const std::string& name, int number, void* deviceLink) {
  number_ = number;
  SetDeviceLink(deviceLink);
  void* link = deviceLink;
  Init(parent, name, number, 0, 0);
  SetDeviceLink(link);  // the container keeps the link it was given, not the parent's
  ChildScan();
  return 1;
}

void CRiverContainer::Refresh() {
  plat::com::ComPtr<CRiverNode> keep(this);
  ChildScan();
  UpdateValues();
}

void CRiverContainer::ChildScan() {
  std::vector<CRiverNode*> seen;
  std::vector<plat::com::ComPtr<CRiverNode>> held;  // keeps what was seen alive through the sweep
  ScanDevices(seen);
  for (CRiverNode* n : seen) held.emplace_back(n);
  const auto& list = Entries();
  for (std::size_t i = 0; i < list.size();) {
    const CDrop& d = *list[i];
    if (d.IsChild() && std::find(seen.begin(), seen.end(), d.child.get()) == seen.end()) {
      RemoveEntry(&d);
      continue;
    }
    ++i;
  }
}

// ---------------------------------------------------------------------------------------------
// Directory enumerator

CDirEnum::CDirEnum(CRiverNode* node, std::size_t position) : node_(node), position_(position) { Module().objectUp(); }

CDirEnum::~CDirEnum() { Module().objectDown(); }

HRESULT CDirEnum::Next(std::uint32_t count, std::vector<std::string>& out) {
  out.clear();
  if (!node_) return S_FALSE;
  const auto& list = node_->Entries();
  while (out.size() < count && position_ < list.size()) out.push_back(list[position_++]->ListingLine());
  return out.empty() ? S_FALSE : S_OK;
}

HRESULT CDirEnum::Skip(std::uint32_t count) {
  if (!node_) return S_FALSE;
  const std::size_t size = node_->Entries().size();
  position_ = std::min<std::size_t>(size, position_ + count);
  return position_ < size ? S_OK : S_FALSE;
}

HRESULT CDirEnum::Reset() {
  position_ = 0;
  return node_ && !node_->Entries().empty() ? S_OK : S_FALSE;
}

HRESULT CDirEnum::Clone(plat::com::IEnumString** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* e = new (std::nothrow) CDirEnum(node_.get(), position_);
  if (!e) return E_OUTOFMEMORY;
  e->AddRef();
  *out = e;
  return S_OK;
}

}  // namespace kelm::fw
