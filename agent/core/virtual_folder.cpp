#include "agent/core/virtual_folder.h"

#include <charconv>

#include "agent/core/agent_names.h"
#include "agent/core/halvorn_doc.h"
#include "agent/core/settings_folder.h"
#include "agent/core/svr_socket.h"
#include "message/message_codec.h"
#include "platform/com/connection_point.h"
#include "platform/com/enum_string.h"
#include "platform/com/object.h"

namespace kelm::agent {

using plat::FAILED;
using plat::SUCCEEDED;

using plat::HRESULT;
using plat::com::ComPtr;

// Entries longer than this are not a component's (the reader's buffer held 1024 characters).
constexpr std::size_t kMaxEntryText = 4096;
// A component tree is never deeper than this; a deeper one is cut off instead of recursing on.
constexpr int kMaxDepth = 32;

// The folder's IRAIDEvent: a small object of its own, so that the component's hold on it never
// keeps a removed folder alive; the folder cuts it loose when it detaches.
class FolderEventSink final : public plat::com::Object<fw::IRAIDEvent> {
 public:
  explicit FolderEventSink(CVirtualFolder* folder) : folder_(folder) {}
  void Cut() { folder_ = nullptr; }
  HRESULT RAIDNotification(std::uint32_t code) override {
    if (folder_) folder_->OnRaidNotification(code);
    return plat::S_OK;
  }

 private:
  CVirtualFolder* folder_;
};

bool SplitAt(std::string_view text, std::string& head, std::string& tail) {
  auto at = text.find('@');
  if (at == std::string_view::npos) return false;
  head.assign(text.substr(0, at));
  tail.assign(text.substr(at + 1));
  return true;
}

std::int64_t DecimalOr(std::string_view text, std::int64_t def) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::int64_t v = 0;
  auto r = std::from_chars(text.data() + i, text.data() + text.size(), v);
  if (r.ec != std::errc()) return def;
  return v;
}

// A client's paging number: decimal with an optional sign ('+' too), clamped to +-2147483647, so
// that no value, however long, overflows what is done with it; 0 where unreadable.
std::int32_t ClampedDecimal(std::string_view text) {
  constexpr std::int64_t kMax = 2147483647;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = std::min(kMax, v * 10 + (text[i] - '0'));
  return static_cast<std::int32_t>(negative ? -v : v);
}

CVirtualFolder::CVirtualFolder() = default;

CVirtualFolder::~CVirtualFolder() { Detach(); }

CVirtualFolder* CVirtualFolder::ParentFolder() const { return dynamic_cast<CVirtualFolder*>(GetParent()); }

CVirtualFolder* CVirtualFolder::TopFolder() {
  CVirtualFolder* f = this;
  while (CVirtualFolder* p = f->ParentFolder()) f = p;
  return f;
}

CVirtualFolder* CVirtualFolder::FindFolder(std::string_view name) const {
  CPea* c = FindChild(name);
  return c && c->IsFolder() ? dynamic_cast<CVirtualFolder*>(c) : nullptr;
}

std::int32_t CVirtualFolder::NodeType() const { return static_cast<std::int32_t>(DecimalOr(value(), 0)); }

void CVirtualFolder::Attach(CVirtualFolder* parent, CHalvornDoc& doc, fw::IRiver* component) {
  doc_ = &doc;
  if (parent) parent->AddChild(this);
  SetParent(parent, nullptr, doc.OwnerLink());
  if (!component) return;
  Detach();
  component_ = ComPtr<fw::IRiver>(component);
  Advise();
  ReadChildren();
}

void CVirtualFolder::Advise() {
  auto container = component_.as<plat::com::IConnectionPointContainer>();
  if (!container) return;
  ComPtr<plat::com::IConnectionPoint> point;
  if (FAILED(container->FindConnectionPoint(fw::IRAIDEvent::kIid, point.put())) || !point) return;
  sink_ = plat::com::makeObject<FolderEventSink>(this);
  if (FAILED(point->Advise(sink_.get(), &cookie_))) {
    cookie_ = 0;
    sink_->Cut();
    sink_ = nullptr;
  }
}

void CVirtualFolder::Detach() {
  if (sink_) sink_->Cut();
  if (cookie_ && component_) {
    if (auto container = component_.as<plat::com::IConnectionPointContainer>()) {
      ComPtr<plat::com::IConnectionPoint> point;
      if (SUCCEEDED(container->FindConnectionPoint(fw::IRAIDEvent::kIid, point.put())) && point)
        point->Unadvise(cookie_);
    }
  }
  cookie_ = 0;
  sink_ = nullptr;
}

void CVirtualFolder::OnRaidNotification(std::uint32_t code) { Notify(static_cast<std::int32_t>(code)); }

std::string CVirtualFolder::FullPath() const {
  if (!GetParent()) return "\\";
  std::string path;
  for (const CPea* n = this; n->GetParent(); n = n->GetParent()) path = "\\" + n->name() + path;
  return path;
}

void CVirtualFolder::SetTextProperty(const std::string& name, const std::string& text) {
  if (CPea* c = FindChild(name)) {
    if (c->value() != text) c->setValue(text);
    return;
  }
  auto* p = new CPea;
  p->setName(name);
  p->setType("prw");
  p->setValue(text);
  AddChild(p);
  p->SetParent(this, nullptr, GetOwnerLink());
}

void CVirtualFolder::SetIntProperty(const std::string& name, std::int64_t n) { SetTextProperty(name, std::to_string(n)); }

void CVirtualFolder::AddMethodEntry(const std::string& name, std::int32_t rights) {
  ParseEntry(name + "@m--@" + std::to_string(rights));
}

std::int64_t CVirtualFolder::GetIntProperty(const std::string& name, std::int64_t def) const {
  const CPea* c = FindChild(name);
  return c ? DecimalOr(c->value(), def) : def;
}

void CVirtualFolder::ParseEntry(std::string_view text) {
  if (text.size() > kMaxEntryText) return;
  auto a = text.find('@');
  if (a == std::string_view::npos) return;
  auto b = text.find('@', a + 1);
  if (b == std::string_view::npos) return;
  std::string name(text.substr(0, a)), type(text.substr(a + 1, b - a - 1)), value(text.substr(b + 1));
  if (name.empty() || type.empty()) return;
  if (CPea* existing = FindChild(name)) {
    existing->setType(type);
    existing->setValue(value);
    return;
  }
  if (type[0] == 'o') {
    auto* f = new CVirtualFolder;
    f->setName(name);
    f->setType(type);
    f->setValue(value);
    ComPtr<fw::IRiver> child;
    int depth = 0;
    for (const CPea* n = this; n; n = n->GetParent()) ++depth;
    if (component_ && depth < kMaxDepth) {
      ComPtr<plat::com::IUnknown> obj;
      if (component_->cd(name, obj.put()) == plat::S_OK && obj) child = obj.as<fw::IRiver>();
    }
    f->Attach(this, *doc_, child.get());
    return;
  }
  auto* p = new CPea;
  p->setName(name);
  p->setType(type);
  p->setValue(value);
  AddChild(p);
  p->SetParent(this, nullptr, GetOwnerLink());
}

void CVirtualFolder::ReadChildren() {
  if (!component_) return;
  ComPtr<plat::com::IUnknown> obj;
  HRESULT h = component_->dir(obj.put());
  if (FAILED(h) || h != plat::S_OK || !obj) return;
  auto en = obj.as<plat::com::IEnumString>();
  if (!en) return;
  en->Reset();
  std::vector<std::string> seen;
  std::vector<std::string> line;
  // Bounded: a component that never ends its listing cannot hold the worker.
  for (int i = 0; i < 100000 && en->Next(1, line) == plat::S_OK && !line.empty(); ++i) {
    const std::string& entry = line.front();
    if (entry.size() > kMaxEntryText) continue;
    ParseEntry(entry);
    auto at = entry.find('@');
    if (at != std::string::npos && at > 0) seen.push_back(entry.substr(0, at));
  }
  std::vector<CPea*> gone;
  for (CPea::Position pos = GetFirstChildPosition(); pos;) {
    CPea* c = GetNextChild(pos);
    bool found = false;
    for (const auto& s : seen) found = found || s == c->name();
    if (!found) gone.push_back(c);
  }
  for (CPea* c : gone) RemoveChild(c);
}

void CVirtualFolder::Notify(std::int32_t code, CSvrSocket* c) {
  if (doc_) doc_->NotifyClients(code, FullPath() + "@", c);
}

std::uint32_t CVirtualFolder::EffectiveMask(const CPea& method, CSvrSocket& c) const {
  const auto mask = static_cast<std::uint32_t>(DecimalOr(method.value(), 0));
  if ((mask & kLocalOnlyBit) && !c.CurrentLogonIsLocal()) return 0;
  return mask;
}

std::uint32_t CVirtualFolder::GetRights(CSvrSocket& c) {
  if (!c.HasValidLogon() || !doc_) return 0;
  return doc_->Accounts().GetHandleRights(c.CurrentHandle());
}

void CVirtualFolder::Reply(CMessage& m, CSvrSocket& c, std::int32_t result) { c.ReplyStatus(m, result); }

void CVirtualFolder::OnRequest(CMessage& m, CSvrSocket& c) {
  if (!c.HasValidLogon() && m.code != kReqLogon && !(m.code == kReqChangeFolder && m.text == "\\")) {
    c.Notify(kNotifyNotLoggedOn, FullPath() + "@");
    return;
  }
  switch (m.code) {
    case kReqLogon:
      return OnLogon(m, c);
    case kReqListRights:
      return OnList(m, c);
    case kReqChangeFolder:
      return OnChangeFolder(m, c);
    case kReqQuery:
      return OnQuery(m, c);
    case kReqSetProperty:
      return OnSetProperty(m, c);
    case kReqInvoke:
      return OnInvoke(m, c);
    case kReqRefresh:
      return OnRefresh(m, c);
    default:
      return;
  }
}

void CVirtualFolder::OnLogon(CMessage& m, CSvrSocket& c) { c.HandleLogon(m); }

bool CVirtualFolder::ListChildren(CMessage& m, CSvrSocket& c) {
  const std::uint32_t rights = GetRights(c);
  bool all = true;
  CMessage out(m.code, m.id, kStatusPartial, std::string());
  for (CPea::Position pos = GetFirstChildPosition(); pos;) {
    CPea* child = GetNextChild(pos);
    if (child->IsMethod()) {
      const std::uint32_t allowed = EffectiveMask(*child, c) & rights;
      if (!allowed) continue;
      out.text = TreeEntry(child->name(), child->type(), std::to_string(static_cast<std::int32_t>(allowed)));
    } else {
      child->GetFullName(out.text);
    }
    // An entry no record can carry would cost the client its link; the rest is still listed.
    if (!TextFits(out.text)) {
      all = false;
      continue;
    }
    c.Send(out);
  }
  return all;
}

void CVirtualFolder::OnList(CMessage& m, CSvrSocket& c) {
  Reply(m, c, ListChildren(m, c) ? kResultFunctional : kResultError);
}

void CVirtualFolder::OnChangeFolder(CMessage& m, CSvrSocket& c) {
  CVirtualFolder* target = nullptr;
  if (m.text == "\\")
    target = c.Doc().Root();  // from anywhere, a folder that left the tree included
  else if (m.text == "..")
    target = ParentFolder();
  else
    target = FindFolder(m.text);
  if (!target) return Reply(m, c, kResultNotFound);
  c.SetCurrentFolder(target);
  Reply(m, c, kResultFunctional);
}

void CVirtualFolder::OnQuery(CMessage& m, CSvrSocket& c) {
  CMessage out(m.code, m.id, kStatusPartial, std::string());
  std::int32_t result = kResultFunctional;
  if (m.text == ".") {
    std::string entry;
    GetFullName(entry);
    out.text = ".@" + entry;
  } else {
    CPea* child = FindChild(m.text);
    if (!child) return Reply(m, c, kResultNotFound);
    if (child->IsMethod()) {
      const std::uint32_t allowed = EffectiveMask(*child, c) & GetRights(c);
      out.text = TreeEntry(child->name(), child->type(), std::to_string(static_cast<std::int32_t>(allowed)));
    } else {
      // Without a component the stored value is the answer: nothing to read it from.
      if (component_) {
        std::string text;
        result = GetValue(child->name(), text);
        if (result == kResultFunctional) child->setValue(text);
      }
      child->GetFullName(out.text);
    }
  }
  c.Send(out);
  Reply(m, c, result);
}

void CVirtualFolder::OnSetProperty(CMessage& m, CSvrSocket& c) {
  std::string name, value;
  if (!SplitAt(m.text, name, value)) return Reply(m, c, kResultNotFound);
  CPea* child = FindChild(name);
  if (!child) return Reply(m, c, kResultNotFound);
  if (!child->IsProperty() || child->type().size() < 3 || child->type()[2] != 'w')
    return Reply(m, c, kResultAccessDenied);
  const std::int32_t r = SetValue(name, value, GetRights(c));
  if (r == kResultFunctional) child->setValue(value);
  Reply(m, c, r);
}

void CVirtualFolder::OnInvoke(CMessage& m, CSvrSocket& c) {
  std::string name, args;
  std::int32_t result;
  // The reply repeats the request behind the result's text; one that could not be sent is refused
  // before anything runs.
  constexpr std::size_t kResultTextRoom = 64;
  if (m.text.size() > kMaxTextBytes - kResultTextRoom) return Reply(m, c, kResultInvalidArgument);
  if (!SplitAt(m.text, name, args) || name.empty()) {
    result = kResultInvalidArgument;
  } else {
    CPea* child = FindChild(name);
    if (!child || !child->IsMethod()) {
      result = kResultNotFound;
    } else if ((EffectiveMask(*child, c) & GetRights(c)) == 0) {
      result = kResultAccessDenied;  // the method does not run
    } else {
      const std::int32_t pre = PreInvoke(m, name, args, c);
      result = pre == kResultNotFound ? InvokeMethod(m, name, args, c) : kResultAccessDenied;
    }
  }
  CMessage partial(m.code, m.id, kStatusPartial, FormatResult(result) + "@" + m.text);
  c.Send(partial);
  Reply(m, c, result);
}

void CVirtualFolder::OnRefresh(CMessage& m, CSvrSocket& c) {
  if (component_) {
    component_->refresh();
    ReadChildren();
  }
  Reply(m, c, kResultFunctional);
}

std::int32_t CVirtualFolder::GetValue(const std::string& name, std::string& text) {
  if (!component_) {
    const CPea* child = FindChild(name);
    text = child ? child->value() : std::string();
    return kResultFunctional;
  }
  std::string value;
  HRESULT h = component_->get(name, &value);
  if (FAILED(h)) return kResultError;
  text = std::move(value);
  return kResultFunctional;
}

std::int32_t CVirtualFolder::SetValue(const std::string& name, const std::string& value, std::uint32_t rights) {
  if (!component_) return kResultFunctional;
  HRESULT h = component_->set(name, value, rights);
  if (h == plat::S_OK) return kResultFunctional;
  return SUCCEEDED(h) ? kResultAccessDenied : kResultError;  // S_FALSE: the component would not store it
}

std::int32_t CVirtualFolder::InvokeMethod(CMessage&, const std::string& name, const std::string& args, CSvrSocket&) {
  if (!component_) return kResultError;
  return component_->invoke(name, args) == plat::S_OK ? kResultFunctional : kResultError;
}

std::int32_t CVirtualFolder::PreInvoke(CMessage& m, const std::string& name, const std::string& args,
                                       CSvrSocket& c) {
  if (GetIntProperty("HasEvent", 0) == 0 || !doc_) return kResultNotFound;
  if (name == "ReadEvent") {
    std::string posText, rest, countText, cookieText;
    if (!SplitAt(args, posText, rest)) return kResultNotFound;
    if (!SplitAt(rest, countText, cookieText)) countText = rest, cookieText.clear();
    std::int32_t position = ClampedDecimal(posText);
    const std::int32_t count = ClampedDecimal(countText);
    std::int32_t cookie = ClampedDecimal(cookieText);
    auto cursor = doc_->Events().OpenEventCursor(*this, position, cookie, count < 0);
    if (!cursor) return kResultNotFound;
    const std::int64_t limit = count < 0 ? -std::int64_t{count} : count;
    CMessage out(m.code, m.id, kStatusPartial, std::string());
    std::string record;
    for (std::int64_t n = 0; (limit == 0 || n < limit) && cursor->ReadNextEvent(record); ++n) {
      out.text = name + "@0@" + record;
      c.Send(out);
    }
    cursor->CloseEventCursor(position, cookie);
    out.text = name + "@255@256@" + std::to_string(position) + "@" + std::to_string(cookie);
    c.Send(out);
  } else if (name == "ClearEvent") {
    doc_->Events().ClearEventLog(*this);
  }
  return kResultNotFound;
}

void CVirtualFolder::OnTick() {
  const std::int64_t h = GetIntProperty("HasEvent", 0);
  familyWord_ = h == 3 ? "yes" : h == 4 ? "Maybe" : "no";
  if (h != 0 && component_ && doc_) {
    if (auto log = component_.as<fw::IEventLog>()) {
      std::uint32_t n = 0;
      log->GetNewCount(&n);
      // A component that claims more records than it can have is read in bounded steps.
      n = std::min<std::uint32_t>(n, 10000);
      for (std::uint32_t i = 0; i < n; ++i) {
        std::string record;
        std::uint32_t size = 1;
        if (FAILED(log->ReadEventLog(&record, &size))) break;
        if (!record.empty()) doc_->Events().DispatchEvent(record, *this, familyWord_);
      }
    }
  }
  if (component_ && doc_ && doc_->Events().ScheduleIsDue()) {
    const std::int32_t t = NodeType();
    if (t == 3 || t == 18) component_->invoke("SyncArray", "512");
    if (t == 23) component_->invoke("ScheduleSync", "512");
  }
  std::vector<CVirtualFolder*> folders;
  for (CPea::Position pos = GetFirstChildPosition(); pos;) {
    CPea* child = GetNextChild(pos);
    if (child->IsFolder())
      if (auto* f = dynamic_cast<CVirtualFolder*>(child)) folders.push_back(f);
  }
  for (CVirtualFolder* f : folders) {
    f->AddRef();
    f->OnTick();
    f->Release();
  }
}

}  // namespace kelm::agent
