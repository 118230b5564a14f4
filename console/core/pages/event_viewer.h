#pragma once
// The event viewer's logic: paging through a node's event history with ReadEvent, the rows it
// shows, Save to File and Clear Events. The Qt dialog shows what it holds and calls it per button.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/virtual_folder.h"

namespace kelm::console {
class CDremmoralDoc;
}

namespace kelm::console::pages {

inline constexpr int kBitmapEventLevels = 168;  // 16x16, black mask: 0 error, 1 warning, 2 information
inline constexpr char kEventSaveName[] = "Velkari Array Management";
inline constexpr char kEventSaveExt[] = "log";
inline constexpr char kEventSaveFilter[] =
    "Velkari Array Management Log Files (*.log)|*.log|All Files (*.*)|*.*||";

struct EventRow {
  std::string date, time, level;
  int image = -1;  // in bitmap 168; -1 none
  std::string name, description;
};

// What one partial reply of ReadEvent holds.
struct EventReply {
  enum Kind { None, Record, EndOfPage } kind = None;
  EventRow row;                  // Record
  int position = 0;              // EndOfPage
  int marker = 0;                // EndOfPage
};
// Only "ReadEvent" texts of kind exactly 0 or 255 count; numbers are read with bounds.
EventReply ParseEventReply(std::string_view text);
// The row of one event record "code@time@severity@name@description" (the description keeps '@').
EventRow MakeEventRow(std::string_view record);

// The saved text: one "%-10s %-10s %-15s %-15s %s" line a row, LF between lines, none after the last.
std::string EventExportText(const std::vector<EventRow>& rows);
// Writes the text beside the path and renames it into place, checking every write and the close; a
// failure removes the partial file and leaves an existing one as it was.
bool WriteReplacing(const std::string& path, std::string_view text);
// The message shown when the file cannot be written, with the full path.
std::string EventSaveFailureText(const std::string& fullPath);

// The dialog's layout for a client area and the Close button's size.
struct EventViewerLayout {
  int listX = 7, listY = 7, listWidth = 0, listHeight = 0;
  int columns[5] = {70, 60, 65, 120, 600};
  int buttonY = 0, gap = 0;
  int buttonX[5] = {};
};
EventViewerLayout LayoutEventViewer(int width, int height, int buttonWidth, int buttonHeight);

class EventViewer : public ReplyListener {
 public:
  static constexpr std::size_t kMaxRows = 100000;
  static constexpr int kPageSize = 10;
  static constexpr int kAllSize = 9999;

  EventViewer(CDremmoralDoc& doc, CPea* node);
  ~EventViewer() override;
  EventViewer(const EventViewer&) = delete;
  EventViewer& operator=(const EventViewer&) = delete;

  // Initialisation: reads the first page.
  void Start();
  void NextTen();
  void GetAll();
  // Asks 195, then ClearEvent and Get All.
  void ClearEvents();
  // Asks for the file and writes the rows; false when nothing was written.
  bool SaveToFile();
  // Writes the rows to the path, with the failure message on error.
  bool SaveTo(const std::string& path);

  bool nextEnabled() const { return !pending_ && nextEnabled_; }
  bool getAllEnabled() const { return !pending_; }
  bool clearEnabled() const { return clearEnabled_; }
  bool pending() const { return pending_; }
  const std::vector<EventRow>& rows() const { return rows_; }
  int start() const { return start_; }
  int marker() const { return marker_; }

  void OnInvokeReply(int status, const std::string& text) override;

  std::function<void()> onChanged;

 private:
  struct Sent {
    std::uint64_t id;
    bool readEvent;
    bool echoed;
  };
  void Read(int size);
  bool Send(const std::string& method, const std::string& args);
  void EndPending();
  void Changed() {
    if (onChanged) onChanged();
  }

  CDremmoralDoc& doc_;
  PeaRef<CVirtualFolder> node_;
  std::vector<EventRow> rows_;
  int start_ = 0, previousStart_ = 0;
  int marker_ = 0;
  bool pending_ = false, nextEnabled_ = true, clearEnabled_ = false, sawEnd_ = false;
  std::deque<Sent> sent_;
  std::uint64_t nextId_ = 1, pendingId_ = 0;
};

}  // namespace kelm::console::pages
