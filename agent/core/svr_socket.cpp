#include "agent/core/svr_socket.h"

#include <strings.h>

#include <charconv>

#include "agent/core/com_socket_object.h"
#include "agent/core/halvorn_doc.h"
#include "agent/core/settings_folder.h"
#include "agent/crypto/logon_token.h"
#include "platform/base/format.h"

namespace kelm::agent {

using plat::FAILED;
using plat::SUCCEEDED;

namespace {

// A hexadecimal word; 0 where unreadable.
std::uint32_t HexOr0(std::string_view text) {
  std::uint32_t v = 0;
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  auto r = std::from_chars(text.data() + i, text.data() + text.size(), v, 16);
  return r.ec == std::errc() ? v : 0;
}

// A record key: exactly a hexadecimal number.
bool ParseKey(std::string_view text, std::uint32_t& key) {
  if (text.empty()) return false;
  auto r = std::from_chars(text.data(), text.data() + text.size(), key, 16);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

}  // namespace

CSvrSocket::CSvrSocket(CHalvornDoc& doc) : doc_(doc) {
  // Keys differ between connections and runs, so a key is no guess at another logon.
  plat::systemRandom().fill(&nextKey_, sizeof nextKey_);
  if (nextKey_ == 0) nextKey_ = 1;
}

CSvrSocket::~CSvrSocket() {
  SetCurrentFolder(nullptr);
  LogoffAll();
}

void CSvrSocket::Start() { SetCurrentFolder(doc_.Root()); }

void CSvrSocket::SetCurrentFolder(CVirtualFolder* folder) {
  if (folder) folder->AddRef();
  CVirtualFolder* old = folder_;
  folder_ = folder;
  if (old) old->Release();
}

void CSvrSocket::ReplyStatus(CMessage& m, std::int32_t result) {
  m.status = kStatusFinal;
  m.text = FormatResult(result);
  Send(m);
}

void CSvrSocket::OnClosed() { doc_.RemoveConnection(this); }

void CSvrSocket::OnMessage(CMessage& m) {
  sentRequests_ = true;
  if (!folder_) return;
  AddRef();
  CVirtualFolder* folder = folder_;
  folder->AddRef();
  folder->OnRequest(m, *this);
  folder->Release();
  Release();
}

const CSvrSocket::LogonRecord* CSvrSocket::Current() const {
  if (!currentKey_) return nullptr;
  for (const auto& r : logons_)
    if (r.key == currentKey_) return &r;
  return nullptr;
}

bool CSvrSocket::HasValidLogon() const {
  const LogonRecord* r = Current();
  return r && doc_.Accounts().IsOpenHandle(r->handle);
}

accounts::AccountHandle CSvrSocket::CurrentHandle() const {
  const LogonRecord* r = Current();
  return r ? r->handle : 0;
}

bool CSvrSocket::CurrentLogonIsLocal() const {
  const LogonRecord* r = Current();
  return r && doc_.IsLocalToken(r->word1, r->word2);
}

void CSvrSocket::LogoffAll() {
  for (const auto& r : logons_) doc_.Accounts().CloseAccount(r.handle);
  logons_.clear();
  currentKey_ = 0;
}

std::int32_t CSvrSocket::HandleLogon(CMessage& m, bool* wasLogon) {
  std::int32_t result = kResultFunctional;
  bool logonCommand = true;
  const std::string text = m.text;
  const auto blank = text.find(' ');
  if (blank == std::string::npos || blank == 0) {
    result = kResultNotFound;
    logonCommand = false;
  } else {
    const std::string word = text.substr(0, blank);
    const std::string arg = text.substr(blank + 1);
    if (::strcasecmp(word.c_str(), "user") == 0) {
      std::uint32_t key = 0;
      if (arg.empty()) {
        result = kResultNotFound;
      } else if (!ParseKey(arg, key) || std::none_of(logons_.begin(), logons_.end(), [&](auto& r) { return r.key == key; })) {
        currentKey_ = 0;
        result = kResultAccessDenied;
      } else {
        currentKey_ = key;
      }
    } else if (::strcasecmp(word.c_str(), "logon") == 0) {
      const auto at = arg.find('@');
      std::string name, password;
      if (at == std::string::npos || at == 0) {
        result = kResultNotFound;
      } else if (crypto::DecodeLogonToken(std::string_view(arg).substr(at + 1), name, password) != 1) {
        result = kResultNotFound;
      } else {
        const std::string words = arg.substr(0, at);
        const auto sp = words.find(' ');
        LogonRecord rec;
        rec.word1 = HexOr0(words.substr(0, sp));
        rec.word2 = sp == std::string::npos ? 0 : HexOr0(words.substr(sp + 1));
        if (FAILED(doc_.Accounts().OpenAccount(name, password, rec.handle))) {
          result = kResultAccessDenied;
        } else {
          auto same = std::find_if(logons_.begin(), logons_.end(), [&](auto& r) {
            return r.word1 == rec.word1 && r.word2 == rec.word2 && r.handle == rec.handle;
          });
          if (same != logons_.end()) {
            currentKey_ = same->key;
          } else if (logons_.size() >= kMaxLogons) {
            doc_.Accounts().CloseAccount(rec.handle);
            result = kResultError;
          } else {
            do {
              rec.key = nextKey_++;
            } while (rec.key == 0 || std::any_of(logons_.begin(), logons_.end(), [&](auto& r) { return r.key == rec.key; }));
            logons_.push_back(rec);
            currentKey_ = rec.key;
          }
          if (result == kResultFunctional) Send(CMessage(m.code, m.id, kStatusPartial, plat::format("logon %08x", currentKey_)));
        }
      }
      std::fill(password.begin(), password.end(), '\0');
    } else if (::strcasecmp(word.c_str(), "logoff") == 0) {
      std::uint32_t key = 0;
      auto it = ParseKey(arg, key) ? std::find_if(logons_.begin(), logons_.end(), [&](auto& r) { return r.key == key; })
                                   : logons_.end();
      if (it == logons_.end()) {
        result = kResultNotFound;
      } else {
        if (currentKey_ == it->key) currentKey_ = 0;
        const auto handle = it->handle;
        logons_.erase(it);
        if (FAILED(doc_.Accounts().CloseAccount(handle))) result = kResultError;
      }
    } else {
      logonCommand = false;
    }
  }
  if (wasLogon) *wasLogon = logonCommand;
  ReplyStatus(m, result);
  return result;
}

// --- TCP ------------------------------------------------------------------------------------

CSvrSocketTcpIp::CSvrSocketTcpIp(CHalvornDoc& doc, std::unique_ptr<plat::TcpStream> stream)
    : CSvrSocket(doc), socket_(*this, doc.Loop(), doc.Clock()), pending_(std::move(stream)) {}

void CSvrSocketTcpIp::Start() {
  // A silent or trickling client would otherwise hold its place for ever: keep-alives need no logon.
  socket_.SetFirstRecordLimit(kFirstRecordSeconds);
  socket_.AttachArchives(std::move(pending_));
  CSvrSocket::Start();
}

void CSvrSocketTcpIp::CheckIdle() {
  AddRef();
  socket_.CheckIdle();
  if (HasLogons() && socket_.IdleSeconds() > CRcvSocket::kIdleStepSeconds) LogoffAll();
  Release();
}

void CSvrSocketTcpIp::Shutdown() {
  socket_.Disconnect();
  SetCurrentFolder(nullptr);
}

// --- Local channel ----------------------------------------------------------------------------

CSvrSocketCom::CSvrSocketCom(CHalvornDoc& doc, CComSocketObject* object)
    : CSvrSocket(doc), object_(object) {}

CSvrSocketCom::~CSvrSocketCom() = default;

void CSvrSocketCom::Shutdown() {
  SetCurrentFolder(nullptr);
  // The object and its connection hold each other; the connection's end breaks the pair.
  if (auto object = std::move(object_); object && object->Connection() == this) object->DropConnection();
}

bool CSvrSocketCom::Send(const CMessage& m) {
  if (!object_) return false;
  object_->Fire(m.code, m.id, m.status, m.text);
  return true;
}

void CSvrSocketCom::Notify(std::int32_t code, const std::string& text) {
  Send(CMessage(code, static_cast<std::int32_t>(doc_.Clock().wallSeconds()), kStatusNotify, text));
}

}  // namespace kelm::agent
