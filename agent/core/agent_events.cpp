#include "agent/core/agent_events.h"

#include <cerrno>

#include <charconv>

#include "agent/core/agent_names.h"
#include "agent/core/halvorn_doc.h"
#include "agent/core/virtual_folder.h"
#include "message/message.h"

namespace kelm::agent {

using plat::FAILED;
using plat::SUCCEEDED;

namespace {
const char* ListEntry(NoticeList which) { return which == NoticeList::kEmail ? "EmailNotice" : "ReportNotice"; }
bool HasControl(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20) return true;
  return false;
}
}  // namespace

bool NoticeListHas(const std::string& list, std::int32_t code) {
  std::size_t start = list.find('@');  // the count comes first
  while (start != std::string::npos) {
    const std::size_t begin = start + 1;
    const std::size_t end = list.find('@', begin);
    const std::string_view item(list.data() + begin, (end == std::string::npos ? list.size() : end) - begin);
    std::int32_t v = 0;
    auto r = std::from_chars(item.data(), item.data() + item.size(), v);
    if (r.ec == std::errc() && r.ptr == item.data() + item.size() && v == code) return true;
    start = end;
  }
  return false;
}

void CBasicAgentEvents::DispatchEvent(const std::string& record, CVirtualFolder& folder, const std::string&) {
  auto list = GetNoticeList(NoticeList::kReport);
  if (!list) return;
  std::int32_t code = 0;
  auto r = std::from_chars(record.data(), record.data() + record.size(), code);
  if (r.ec != std::errc()) return;
  if (NoticeListHas(*list, code)) doc_.NotifyClients(kNotifyEvent, folder.FullPath() + "@" + record);
}

std::optional<std::string> CBasicAgentEvents::GetNoticeList(NoticeList which) {
  std::string v = AgentProfile().getString("LogEvent", ListEntry(which));
  if (v.empty()) return std::nullopt;
  return v;
}

plat::Result<void> CBasicAgentEvents::SetNoticeList(NoticeList which, const std::string& text) {
  if (text.size() > 4096 || HasControl(text)) return plat::Error{EINVAL, "not a notice list"};
  return AgentProfile().writeString("LogEvent", ListEntry(which), text);
}

plat::Result<void> CBasicAgentEvents::SetSmtpServer(const std::string& server) {
  if (server.size() > 255 || HasControl(server)) return plat::Error{EINVAL, "not a server name"};
  mail_.smtpServer = server;
  return plat::success();
}

bool CBasicAgentEvents::ParseMailAddress(const std::string& text, std::string* normalised) {
  const auto at = text.find('@');
  if (text.size() > 255 || HasControl(text) || at == std::string::npos || at == 0 || at + 1 == text.size() ||
      text.find('@', at + 1) != std::string::npos || text.find_first_of(" ,<>") != std::string::npos)
    return false;
  if (normalised) *normalised = text;
  return true;
}

plat::Result<void> CBasicAgentEvents::AddReceiptor(const std::string& address) {
  std::string list = mail_.receiptorList;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    auto end = list.find(',', pos);
    if (list.substr(pos, end == std::string::npos ? std::string::npos : end - pos) == address) return plat::Error{EEXIST, "already listed"};
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  mail_.receiptorList = list.empty() ? address : list + "," + address;
  return plat::success();
}

plat::Result<void> CBasicAgentEvents::DelReceiptor(const std::string& address) {
  std::vector<std::string> items;
  std::string& list = mail_.receiptorList;
  std::size_t pos = 0;
  bool found = false;
  while (!list.empty() && pos <= list.size()) {
    auto end = list.find(',', pos);
    std::string item = list.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (item == address && !found)
      found = true;
    else
      items.push_back(item);
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  if (!found) return plat::Error{ENOENT, "not listed"};
  list.clear();
  for (const auto& i : items) list += (list.empty() ? "" : ",") + i;
  return plat::success();
}

bool CBasicAgentEvents::ParseSchedule(const std::string& text) {
  if (text.size() > 255 || HasControl(text)) return false;
  schedule_ = text;
  return true;
}

}  // namespace kelm::agent
