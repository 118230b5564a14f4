#include "msgserver/user.h"

#include "msgserver/agent_conn.h"
#include "msgserver/pellwick_doc.h"
#include "msgserver/virtual_folder.h"

namespace kelm::msgserver {

CUser::CUser(CPellwickDoc& doc)
    : CRcvSocket(doc.Loop(), doc.Clock()),
      doc_(doc),
      queuedBytes_(std::make_shared<ByteBudget>(doc.Options().maxQueuedBytesPerConsole, doc.QueuedBytes())) {
  SetLink(kTargetKey, static_cast<CPeaLink*>(this));
  root_ = new CVirtualFolder;
  root_->SetParent(nullptr, this, doc.Link());
  root_->setListed(true);
  root_->AddRef();
  current_ = root_;
  current_->AddRef();
}

CUser::~CUser() {
  if (current_) current_->Release();
  current_ = nullptr;
  if (root_) {
    root_->RemoveChild(nullptr);
    root_->Release();
  }
}

void CUser::OnAccepted(std::unique_ptr<plat::TcpStream> stream) {
  // A silent or trickling connection would hold a place for ever.
  SetFirstRecordLimit(doc_.Options().recordTimeout.count());
  AttachArchives(std::move(stream));
  root_->setName(doc_.HostName());
  root_->setType("o--");
  root_->setValue("1");
  if (const auto& v = doc_.Options().fileVersion; v && !v->empty()) root_->AddEntry("FileVersion@pr-@" + *v);
  for (CAgent* a : doc_.Agents())
    if (a->ready()) OnAgentChange(a, CPellwickDoc::kAgentAdded | CPellwickDoc::kAgentQuiet);
}

CVirtualFolder* CUser::AgentFolder(const CAgent* agent) const {
  CPea::Position pos = root_->GetFirstChildPosition();
  return dynamic_cast<CVirtualFolder*>(root_->FindChildByKey(agent, pos));
}

void CUser::OnAgentChange(CAgent* agent, int flags) {
  if (gone_ || !agent) return;
  AddRef();
  CVirtualFolder* folder = AgentFolder(agent);
  if ((flags & CPellwickDoc::kAgentAdded) && !folder) {
    const std::string& entry = agent->rootEntry();
    const std::size_t a = entry.find('@');
    const std::size_t b = a == std::string::npos ? a : entry.find('@', a + 1);
    auto* f = new CVirtualFolder;
    if (a != std::string::npos && a > 0 && b != std::string::npos) {
      f->setName(entry.substr(0, a));
      f->setType(entry.substr(a + 1, b - a - 1));
      f->setValue(entry.substr(b + 1));
    } else {
      f->setName(agent->name());
      f->setType("o--");
      f->setValue("2");
    }
    f->SetParent(root_, this, agent);
    if (root_->AddChild(f) != plat::S_OK) {
      delete f;
    } else if (!(flags & CPellwickDoc::kAgentQuiet)) {
      SendCode(kNotifyFolderChanged, "\\");
    }
  } else if ((flags & CPellwickDoc::kAgentRemoved) && folder) {
    if (!(flags & CPellwickDoc::kAgentQuiet)) SendCode(kNotifyFolderGone, folder->Path());
    // Only a console that stood inside the agent goes back to the root.
    for (const CPea* p = current_; p; p = p->GetParent()) {
      if (p == folder) {
        SetCurrentFolder(nullptr);
        break;
      }
    }
    folder->AddRef();
    folder->CloseTree();
    folder->SetOwner(nullptr);
    root_->RemoveChild(folder);
    folder->Release();
  }
  Release();
}

void CUser::OnMessage(CMessage& m) {
  if (gone_ || !IsConnected() || !current_) return;
  AddRef();
  CVirtualFolder* f = current_;
  f->AddRef();
  f->OnRequest(m);
  f->Release();
  Release();
}

void CUser::OnDisconnected() {
  if (gone_) return;
  doc_.RemoveUser(this);
}

void CUser::DisconnectUser() {
  gone_ = true;
  Disconnect();
  if (root_) root_->CloseTree();
  if (current_) current_->Release();
  current_ = nullptr;
}

bool CUser::HasLogon() const {
  for (CPea::Position pos = root_->GetFirstChildPosition(); pos;) {
    if (auto* f = dynamic_cast<CVirtualFolder*>(root_->GetNextChild(pos)); f && f->GetLogonKey() != -1) return true;
  }
  return false;
}

void CUser::CheckIdleCounted() {
  AddRef();
  CheckIdle();
  Release();
}

void CUser::SetCurrentFolder(CVirtualFolder* folder) {
  if (!folder) folder = root_;
  folder->AddRef();
  if (current_) current_->Release();
  current_ = folder;
}

}  // namespace kelm::msgserver
