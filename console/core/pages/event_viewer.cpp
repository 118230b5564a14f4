#include "console/core/pages/event_viewer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "console/core/document.h"
#include "console/core/pages/page_support.h"
#include "console/core/strings.h"
#include "message/message.h"
#include "platform/base/unique_fd.h"

namespace kelm::console::pages {

namespace {

constexpr int kStrClearEvents = 195;
constexpr int kStrError = 181;
constexpr std::size_t kColumnCap = 512;

// A whole decimal field of [lo, hi]; nothing else (no sign unless lo < 0, no blanks).
template <typename T>
bool Field(std::string_view s, T lo, T hi, T& out) {
  if (s.empty()) return false;
  T v{};
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < lo || v > hi) return false;
  out = v;
  return true;
}

// Cuts the text at its first '@': the part before, and the rest behind it in text.
std::string_view Cut(std::string_view& text) {
  const std::size_t at = text.find('@');
  std::string_view head = text.substr(0, at);
  text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
  return head;
}

std::string Column(const std::string& s) { return s.substr(0, kColumnCap); }

}  // namespace

EventRow MakeEventRow(std::string_view record) {
  EventRow row;
  Cut(record);  // the event code is not shown
  const std::string_view time = Cut(record);
  const std::string_view severity = Cut(record);
  row.name = std::string(Cut(record));
  row.description = std::string(record);
  std::int64_t seconds = 0;
  std::tm tm{};
  // A time that is not a plain non-negative number of seconds cannot be converted.
  bool converted = Field<std::int64_t>(time, 0, 0xFFFFFFFFLL, seconds);
  if (converted) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    converted = ::localtime_r(&t, &tm) != nullptr;
  }
  char buf[64];
  if (converted) {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100);
    row.date = buf;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    row.time = buf;
  } else {
    row.date = "na/na/na";
    row.time = "na:na:na";
  }
  int level = 0;
  if (!Field<int>(severity, 0, 1000000, level)) level = 0;
  if (level >= 1 && level <= 3) {
    row.level = std::string(LoadString(kStrError + level - 1));
    row.image = level - 1;
  } else {
    row.level = std::string(LoadString(kStrError + 3));
    row.image = -1;
  }
  return row;
}

EventReply ParseEventReply(std::string_view text) {
  EventReply out;
  if (Cut(text) != "ReadEvent") return out;
  const std::string_view kind = Cut(text);
  if (kind == "0") {
    out.kind = EventReply::Record;
    out.row = MakeEventRow(text);
    return out;
  }
  if (kind != "255") return out;
  int tag = 0, position = 0;
  std::int64_t marker = 0;
  if (!Field<int>(Cut(text), 0, 0x7FFFFFFF, tag) || tag != 256) return out;
  if (!Field<int>(Cut(text), 0, 0x7FFFFFFF, position)) return out;
  // The agent writes its 32-bit cookie signed; either reading is the same marker.
  if (!Field<std::int64_t>(text, -0x80000000LL, 0xFFFFFFFFLL, marker)) return out;
  out.kind = EventReply::EndOfPage;
  out.position = position;
  out.marker = static_cast<int>(static_cast<std::uint32_t>(marker));
  return out;
}

std::string EventExportText(const std::vector<EventRow>& rows) {
  std::string out;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const EventRow& r = rows[i];
    if (i) out += '\n';
    const std::string c[5] = {Column(r.date), Column(r.time), Column(r.level), Column(r.name), Column(r.description)};
    auto pad = [&](const std::string& s, std::size_t w) {
      out += s;
      if (s.size() < w) out.append(w - s.size(), ' ');
      out += ' ';
    };
    pad(c[0], 10);
    pad(c[1], 10);
    pad(c[2], 15);
    pad(c[3], 15);
    out += c[4];
  }
  return out;
}

bool WriteReplacing(const std::string& path, std::string_view text) {
  const std::string temp = path + ".kelm-part";
  plat::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd.get()) == 0;
  ok = ::close(fd.release()) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::string EventSaveFailureText(const std::string& fullPath) {
  const bool floppy = fullPath.size() >= 2 && (fullPath[0] == 'A' || fullPath[0] == 'a') && fullPath[1] == ':';
  return "Unable to open " + fullPath +
         (floppy ? ", maybe Write Protected, or Disk Full" : ", maybe no Permission, or Disk Full");
}

EventViewerLayout LayoutEventViewer(int width, int height, int buttonWidth, int buttonHeight) {
  EventViewerLayout l;
  l.listWidth = std::max(0, width - 14);
  l.listHeight = std::max(0, height - buttonHeight - 20);
  l.columns[4] = width >= 915 ? width - 315 : 600;
  l.gap = std::max(0, (width - 5 * buttonWidth) / 6);
  l.buttonY = height - 5 - buttonHeight;
  for (int i = 0; i < 5; ++i) l.buttonX[i] = l.gap + i * (buttonWidth + l.gap);
  return l;
}

EventViewer::EventViewer(CDremmoralDoc& doc, CPea* node) : doc_(doc), node_(AsFolder(node)) {
  if (node_) node_->AddListener(this);
}

EventViewer::~EventViewer() {
  if (node_) node_->RemoveListener(this);
}

void EventViewer::Start() {
  clearEnabled_ = node_ && node_->HasMethod("ClearEvent");
  Read(kPageSize);
}

void EventViewer::NextTen() {
  if (!nextEnabled()) return;
  Read(kPageSize);
}

void EventViewer::GetAll() {
  if (pending_) return;
  start_ = previousStart_ = 0;
  rows_.clear();
  Read(kAllSize);
}

bool EventViewer::Send(const std::string& method, const std::string& args) {
  if (!node_ || !doc_.IsInTree(node_.get())) return false;
  if (node_->Invoke(method, args) != 0) return false;
  sent_.push_back({nextId_++, method == "ReadEvent", false});
  return true;
}

void EventViewer::Read(int size) {
  char args[64];
  std::snprintf(args, sizeof args, "%d@%d@%d", start_, size, marker_);
  // Pending only once the request went out: nothing would ever answer a refused one.
  if (Send("ReadEvent", args)) {
    pending_ = true;
    sawEnd_ = false;
    pendingId_ = sent_.back().id;
  }
  Changed();
}

void EventViewer::ClearEvents() {
  if (pending_ || !clearEnabled_) return;
  PeaRef<CVirtualFolder> keep(node_.get());
  if (Message(doc_, kStrClearEvents, MsgIcon::Question, MsgButtons::OkCancel) != kIdOk) return;
  if (!Send("ClearEvent", "")) return;
  GetAll();
}

void EventViewer::EndPending() {
  if (!pending_) return;
  pending_ = false;
  // A page that ended without its end-of-page record had no log or a stale marker: only a read
  // from the start, with a new marker, can go on.
  if (!sawEnd_) {
    nextEnabled_ = false;
    marker_ = 0;
  }
  Changed();
}

void EventViewer::OnInvokeReply(int status, const std::string& text) {
  if (status == kStatusFinal) {
    if (sent_.empty()) return;
    const Sent s = sent_.front();
    sent_.pop_front();
    if (s.id == pendingId_) EndPending();
    return;
  }
  if (status != kStatusPartial) return;
  const EventReply r = ParseEventReply(text);
  switch (r.kind) {
    case EventReply::Record:
      if (pending_ && rows_.size() < kMaxRows) {
        rows_.push_back(r.row);
        Changed();
      }
      return;
    case EventReply::EndOfPage:
      if (!pending_) return;
      sawEnd_ = true;
      if (r.position != 0) {
        previousStart_ = start_;
        start_ = r.position;
        nextEnabled_ = true;
      } else {
        nextEnabled_ = false;
      }
      marker_ = r.marker;
      EndPending();
      return;
    case EventReply::None:
      break;
  }
  // The echo "<result>@<text>@<method>@<args>" of one of our own invokes, in the order sent.
  std::string_view rest = text;
  std::string_view result = Cut(rest);
  int code = 0;
  if (!Field<int>(result, 0, 0x7FFFFFFF, code)) return;
  Cut(rest);
  const std::string_view method = Cut(rest);
  if (method != "ReadEvent" && method != "ClearEvent") return;
  for (Sent& s : sent_) {
    if (s.echoed) continue;
    if (s.readEvent != (method == "ReadEvent")) return;
    s.echoed = true;
    if (s.id == pendingId_) EndPending();
    return;
  }
}

bool EventViewer::SaveToFile() {
  const auto path = doc_.ui().PickSaveFile(kEventSaveName, kEventSaveExt, kEventSaveFilter);
  if (!path) return false;
  return SaveTo(*path);
}

bool EventViewer::SaveTo(const std::string& path) {
  if (WriteReplacing(path, EventExportText(rows_))) return true;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  MessageText(doc_, EventSaveFailureText(ec ? path : full.string()), MsgIcon::Exclamation);
  return false;
}

}  // namespace kelm::console::pages
