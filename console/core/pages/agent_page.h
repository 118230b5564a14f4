#pragma once
// The agent's settings page (node type 2): identity, mail settings and recipients, the two event
// notice lists, the system-log switch, e-mail protection, the verify schedule and the test event;
// and the RAID system page (type 14) with the serial family's port controls.
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/pages/page_presenter.h"
#include "console/core/pages/page_support.h"
#include "console/core/virtual_folder.h"
#include "platform/loop/event_loop.h"

namespace kelm::console::pages {

// The event notice table, in the page's row order.
struct NoticeEvent {
  int code;
  int stringId;
};
inline constexpr std::array<NoticeEvent, 22> kNoticeEvents{{
    {256, 1201}, {257, 1202}, {258, 1203}, {512, 1204}, {513, 1205}, {523, 1216}, {514, 1206}, {515, 1207},
    {516, 1208}, {524, 1215}, {521, 1213}, {522, 1214}, {517, 1209}, {518, 1210}, {519, 1211}, {520, 1212},
    {525, 1217}, {526, 1218}, {527, 1219}, {528, 1220}, {529, 1221}, {530, 61205},
}};

// "n@c1@...@cn" of the rows whose mark is set, in table order; "0" when none is.
std::string NoticeListText(const std::array<bool, kNoticeEvents.size()>& marks);
// The marks of a notice list text, or false when the text is not one the table can hold: a count
// of 23 or more, a code outside the table, or fewer or more codes than the count says.
bool ParseNoticeList(std::string_view text, std::array<bool, kNoticeEvents.size()>& marks);

// The recipients of a ReceiptorList: split at commas outside double quotes, empty parts skipped.
std::vector<std::string> SplitRecipients(std::string_view list);
// The agent's own address rules: a '<' and a '>' after it holding an address with text before its
// '@' and a '.' after it; nothing on a second line.
bool MailAddressValid(std::string_view text);
// The test event's field: 1 to 5 digits.
bool TestEventFieldValid(std::string_view text);

class AgentSettingsPage : public PagePresenter, public ReplyListener {
 public:
  enum Permission : std::uint32_t {
    kPermSetProperty = 1,
    kPermAddReceiptor = 2,
    kPermDelReceiptor = 4,
    kPermNoticeLists = 8,
    kPermSchedule = 16,
  };
  struct Controls {
    std::string name, version;
    bool autoSave = false, emailEnable = false, ntEventLog = false, protection = false;
    std::vector<std::string> recipients;
    std::string newRecipient, selectedRecipient;
    std::string smtpServer, emailId, ipAddress;
    int interval = 1;  // spin 1-24
    std::string testEvent;
    std::array<bool, kNoticeEvents.size()> email{}, popup{};
    bool allEmail = false, allPopup = false;
    int scheduleType = 0;  // 0 none, 1 daily, 2 weekly, 3 monthly, 4 every n minutes, 5 every n hours
    bool scheduleEnabled = false;
    int hour = 0, minute = 0;
    int weekday = 0;   // 0 SUNDAY .. 6 SATURDAY
    int monthDay = 1;  // 1-31
    int minutes = 0, hours = 0;
  };
  struct Enables {
    bool ntEventLog = false, emailEnable = false, emailFields = false, addRecipient = false,
         delRecipient = false, protection = false, interval = false;
    bool noticeList = false, noticeApply = false, scheduleEnabled = false, scheduleApply = false;
    bool testEvent = false;
  };

  explicit AgentSettingsPage(CDremmoralDoc& document) : PagePresenter(document) {}
  ~AgentSettingsPage() override;

  void OnInvokeReply(int status, const std::string& text) override;
  void OnUpdate(int hint, CPea* node) override;

  // Check boxes act at once.
  void SetAutoSave(bool on);
  void SetEmailEnable(bool on);
  void SetNtEventLog(bool on);
  void SetProtection(bool on);  // off asks first
  // Fields keep what was typed until their action.
  void TypeEmailId(const std::string& text);
  void LeaveEmailId();
  void TypeSmtpServer(const std::string& text);
  void SetInterval(int hours);
  void ApplyServer();
  void TypeNewRecipient(const std::string& text);
  void AddRecipient();
  void SelectRecipient(const std::string& text);
  void DeleteRecipient();
  void SetEmailMark(std::size_t row, bool on);
  void SetPopupMark(std::size_t row, bool on);
  void SetAllEmail(bool on);
  void SetAllPopup(bool on);
  void ApplyNoticeLists();
  void TypeTestEvent(const std::string& text);
  void SendTestEvent();
  // The schedule's controls.
  void SetScheduleType(int type);
  void SetScheduleEnabled(bool on);
  void SetScheduleTime(int hour, int minute);
  void SetScheduleWeekday(int day);
  void SetScheduleMonthDay(int day);
  void SetScheduleCount(int count);  // the field of the chosen type (4 minutes, 5 hours)
  void ApplySchedule();

  const Controls& controls() const { return c_; }
  std::uint32_t permissions() const { return perms_; }
  Enables enables() const;

  // The test button's counter, shared by every page of the process.
  static int& TestCounter();

 protected:
  void OnShowNode() override;

 private:
  enum Touched : std::uint32_t {
    kTEmailId = 1,
    kTSmtp = 2,
    kTInterval = 4,
    kTNewRecipient = 8,
    kTNotice = 0x10,
    kTSchedule = 0x20,
    kTTest = 0x40,
  };
  void Fill(bool everything);
  void Listen(CVirtualFolder* node);
  void Touch(std::uint32_t t);
  // An invoke of this page, remembered so that its final reply is read.
  int Send(const char* method, const std::string& args);
  void Final(const std::string& method, int result);
  void ReadSchedule(std::string_view payload);

  Controls c_;
  std::uint32_t perms_ = 0;
  std::uint32_t touched_ = 0;
  PeaRef<CVirtualFolder> listening_;  // the node this page is a listener of
  std::deque<std::pair<std::string, std::string>> sent_;  // method and argument, in send order
  RepeatShow shown_;
};

class RaidSystemPage : public PagePresenter {
 public:
  static constexpr const char* kSerialType = "VELKARI SorventicRAID";
  static constexpr const char* kPleaseWait = "Please wait...";
  static constexpr const char* kPortArgument = "VERUZARI!";
  static constexpr int kReloadEveryTicks = 6;
  static constexpr std::chrono::milliseconds kConnectWait{5000};

  struct Controls {
    std::string type, portStatus, version;
    bool portControls = false, connect = false, disconnect = false;
  };

  explicit RaidSystemPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void RefreshPage() override;
  void OnUpdate(int hint, CPea* node) override;
  void Connect();
  void Disconnect();
  const Controls& controls() const { return c_; }
  bool waiting() const { return waitNode_.get() != nullptr; }

 protected:
  void OnShowNode() override;

 private:
  void Fill();
  void Wait();

  Controls c_;
  int ticks_ = 0;
  PeaRef<CVirtualFolder> waitNode_;  // held while the wait after connect runs
  plat::Timer wait_;
};

}  // namespace kelm::console::pages
