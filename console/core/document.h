#pragma once
// The console's one document: the mirrored tree, the agent connection, the display settings, the
// current node every command acts on, the commands with their enable rules, the node labels and
// images, and the one-second poll.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console/core/pellwick.h"
#include "console/core/ui_services.h"
#include "console/core/virtual_folder.h"
#include "message/message_api.h"
#include "platform/base/clock.h"
#include "platform/loop/event_loop.h"
#include "platform/registry/profile.h"

namespace kelm::console {

// Command ids. The frame's own commands (bars, panes, scrolling, help) are listed too, so that menus,
// accelerators and prompts name them from one place.
enum CommandId : int {
  kCmdOk = 1,
  kCmdOutlineBar = 150,  // show or hide the outline bar
  kCmdClearCommandNode = 8192,
  kCmdRebuildArray = 32777,
  kCmdSyncArray = 32778,
  kCmdDeleteArray = 32781,
  kCmdRefresh = 32784,
  kCmdCollapseNode = 32791,
  kCmdAddUser = 32799,
  kCmdDeleteUser = 32802,
  kCmdNewServer = 32807,
  kCmdCreateArray = 32809,
  kCmdRebuildDisk = 32810,
  kCmdDeleteServer = 32811,
  kCmdDisconnect = 32813,
  kCmdConnect = 32814,
  kCmdRename = 32816,
  kCmdExpandNode = 32817,
  kCmdReadEvents = 32818,
  kCmdClearEvents = 32819,
  kCmdFont = 32821,
  kCmdBackground = 32822,
  kCmdHideOutline = 32826,
  kCmdDeleteKey = 32827,
  kCmdRemoveFromNewArray = 32828,
  kCmdAutoDemo = 32829,
  kCmdContinue = 32832,
  kCmdPause = 32833,
  kCmdStop = 32834,
  kCmdBeeper = 32835,
  kCmdNextItem = 32840,
  kCmdPreviousItem = 32841,
  kCmdLogin = 32842,
  kCmdLogout = 32843,
  kCmdNextPane = 32844,
  kCmdScrollColumnRight = 32847,
  kCmdScrollColumnLeft = 32848,
  kCmdScrollLineDown = 32849,
  kCmdScrollLineUp = 32850,
  kCmdScrollPageDown = 32851,
  kCmdScrollPageUp = 32852,
  kCmdAddToNewArray = 32853,
  kCmdKeyboardHelp = 32854,
  kCmdRunOnStartup = 32857,
  kCmdAbout = 57664,
  kCmdToolBar = 59392,
  kCmdStatusBar = 59393,
};

// A view of the document: told of every hint.
class DocumentView {
 public:
  virtual ~DocumentView() = default;
  virtual void OnUpdate(int hint, CPea* node) = 0;
  // The one-second poll: the outline's demo step and the current page's refresh.
  virtual void OnPoll() {}
};

// What a pane shows for a node.
struct NodeLabel {
  int nodeType = kNodeUnknown;
  std::string text;
  CPea* node = nullptr;  // null when the node went away while it was labelled
};

// Where the document keeps what it must not hard-wire, so that tests run it in a private root.
struct DocumentOptions {
  std::string registryKey = "Velkari Technology Inc.";
  std::string appName = "Kelm";
  // The channel to the local agent; the real one when empty.
  ChannelFactory channelFactory;
  // The console program's own path, for the run-on-startup value.
  std::string programPath;
};

class CDremmoralDoc {
 public:
  static constexpr std::size_t kNewArraySlots = 8;

  CDremmoralDoc(UiServices& ui, plat::EventLoop& loop, const plat::Clock& clock, DocumentOptions options = {});
  ~CDremmoralDoc();
  CDremmoralDoc(const CDremmoralDoc&) = delete;
  CDremmoralDoc& operator=(const CDremmoralDoc&) = delete;

  // The first update of a new document: the local agent is added and connected.
  void OnInitialUpdate();
  // Saves the agents' logon profiles and the display settings, closes every connection.
  void Close();

  CRootFolder* root() const { return root_; }
  CPeaLink* link() { return &link_; }
  UiServices& ui() { return ui_; }
  plat::EventLoop& loop() { return loop_; }
  const plat::Clock& clock() const { return clock_; }
  const plat::reg::Profile& profile() const { return profile_; }

  // Views and hints.
  void AddView(DocumentView* view);
  void RemoveView(DocumentView* view);
  void UpdateAllViews(int hint, CPea* node);

  // The current node: the command node when set, else the active view's selection.
  CPea* GetCurrentNode() const;
  void SetCommandNode(CPea* node);
  CPea* commandNode() const { return commandNode_.get(); }
  void SetViewSelection(CPea* node);
  // Whether the node is still in the tree below the console root (false for null or a pruned node).
  bool IsInTree(const CPea* node) const;
  void OnSelectionChanged(CPea* node);

  // Commands.
  void OnCommand(int id);
  bool IsCommandEnabled(int id);
  // The same rule for a given node instead of the current one (the node caches use it).
  bool IsCommandEnabledFor(int id, CPea* node);
  bool IsCommandChecked(int id) const;
  // The Delete key in the outline pane: the delete command that applies, only when enabled.
  void OnDeleteKey();

  NodeLabel BuildNodeLabel(CPea* node);
  int GetNodeImage(CPea* node);
  void OnNodeTypeSet(CVirtualFolder* node);
  void Poll();
  void WatchArray(CVirtualFolder* node);
  void UnwatchArray(CVirtualFolder* node);

  // Connections.
  void AddLocalAgent();
  void ConnectServer();
  void DisconnectServer();
  void DeleteServer();
  void NewServer();
  void OnServerConnected(CPellwick* connection);
  void OnConnectionClosed(CPellwick* connection);
  void RemoveConnection(CPellwick* connection);
  // A request of this node timed out: the node's connection goes (the node stays, marked disconnected).
  void DisconnectNode(CVirtualFolder* node);
  const std::vector<CPellwick*>& connections() const { return connections_; }
  ChannelFactory channelFactory() const;

  // Logon.
  int BuildCredentials(CVirtualFolder* node, std::string& out);
  void OnLogonReply(CVirtualFolder* node, int status, const std::string& text);
  void Login();
  void Logout();
  bool autoLogon() const { return autoLogon_; }
  // The local agent's token words, from the machine's registry.
  static void ReadLocalToken(std::uint32_t& word1, std::uint32_t& word2);

  // Message boxes, one at a time. A box asked for inside a reply callback or while another box is
  // open waits in a queue and shows, in order, once nothing is open (its answer is OK). A question
  // (OK/Cancel, Yes/No) cannot wait for its answer there: it is not shown and answers Cancel or No.
  // Commands that ask therefore never run from a callback or under an open box: OnCommand queues
  // them until then.
  int ShowMessage(MessageBoxRequest request);
  // The first query of a connection timed out: the agent it was opening is disconnected.
  void OnFirstQueryTimedOut(CPellwick* connection);
  // A node leaves the tree: the document forgets every mark it kept for it.
  void ForgetNode(const CPea* node);
  // Runs fn on the loop once the current call has returned; dropped with the document.
  void Defer(std::function<void()> fn);
  // The stored form of a token without its password: the user name and '@'.
  static std::string NameOnlyToken(const std::string& name);

  // Brackets the engine's callbacks.
  class CallbackScope {
   public:
    explicit CallbackScope(CDremmoralDoc* doc);
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

   private:
    CDremmoralDoc* doc_;
  };

  // Dragging disks onto an array (outline and list pane): whether the nodes may be dragged, whether
  // a drop on the target would take them all, and the drop itself (false when refused; nothing
  // changes then).
  bool CanDragNodes(const std::vector<CPea*>& nodes);
  bool CanDropOn(const std::vector<CPea*>& nodes, CPea* target);
  bool DropOn(const std::vector<CPea*>& nodes, CPea* target);

  // New-array disks.
  void AddDisksToNewArray(const std::vector<CPea*>& disks);
  bool CanAddToNewArray(CPea* disk);
  void ForgetNewArrayDisk(CPea* disk);
  void ClearNewArrayMarks();
  // The initialisation choice of the last create-array options dialog (saved with the display settings).
  void setLastInitialization(bool on) { initialize_ = on ? 1 : 0; }
  bool lastInitialization() const { return initialize_ != 0; }

  // State other parts read.
  bool freeDiskAvailable() const { return freeDiskAvailable_; }
  void setFreeDiskAvailable(bool v) { freeDiskAvailable_ = v; }
  void ClearFreeDiskAvailable() { freeDiskAvailable_ = false; }
  // An array still in the tree is "Critical" or "Offline" (alarm), or runs a task that blocks array
  // creation; arrays cut off with a pruned branch count no more.
  bool alarm() const { return AnyInTree(alarmed_); }
  bool arrayTaskRunning() const { return AnyInTree(tasked_); }
  bool beeper() const { return beeper_; }
  bool connectAllowed() const { return connectAllowed_; }
  bool notIntelligentIo() const { return notIop_; }
  bool runOnStartup() const { return runOnStartup_; }
  int guiStatusCount() const { return guiStatusCount_; }
  int controllerArrayAct() const { return arrayAct_; }
  std::string userText() const { return userText_; }
  void setReloadAfterLogin(bool arrays, bool controllers) {
    reloadArrays_ = arrays;
    reloadControllers_ = controllers;
  }

  // Display settings ("Format").
  struct Display {
    bool sysFont = true;
    std::vector<std::uint8_t> paneFont;
    bool sysBkColor = true;
    ColorRef backgroundColor = kColorWhite;
    bool sysTxtColor = true;
    ColorRef foregroundColor = kColorBlack;
  };
  const Display& display() const { return display_; }

  // Run on startup (the machine's Run value).
  bool IsRunOnStartup() const;
  bool WriteRunOnStartup() const;
  bool DeleteRunOnStartup() const;

  // The agent stop on a real session end: once, and waiting only when the event was opened.
  // sleeper waits the given milliseconds.
  void StopLocalAgent(const std::function<void(int)>& sleeper);

 private:
  class DocLink : public CPeaLink {};
  struct Watched {
    CVirtualFolder* node;
    int count;
    std::int64_t lastFull = -1;  // monotonic ms of the last full read
    int lightChecks = 0;
    int lastStatus = 0;
  };

  void LoadDisplay();
  void SaveDisplay();
  void SaveProfiles();
  void SaveAgentProfile(CVirtualFolder* agent);
  void RestrictProfileFile() const;
  void FlushMessages();
  void ScheduleFlush();
  bool AnyInTree(const std::set<const CPea*>& nodes) const;
  void UpdateUserText();
  void ProgressCheck(Watched& w);
  CVirtualFolder* CurrentFolder();
  void CommandCreateArray(CVirtualFolder* node);
  void CommandRefresh(CVirtualFolder* node);
  void CommandDeleteUser(CVirtualFolder* node);
  void CommandBeeper(CVirtualFolder* node);
  void CommandFont();
  void CommandBackground();
  bool CommandDeleteArrayEnabled(CVirtualFolder* node);
  bool CommandRemoveEnabled(CPea* node);
  CVirtualFolder* NewArrayUnder(CVirtualFolder* controller);
  // A disk's controller: two levels up (disk, channel, controller).
  static CVirtualFolder* ControllerOfDisk(CVirtualFolder* disk);

  UiServices& ui_;
  plat::EventLoop& loop_;
  const plat::Clock& clock_;
  DocumentOptions options_;
  plat::reg::Profile profile_;
  DocLink link_;
  CRootFolder* root_ = nullptr;
  std::vector<CPellwick*> connections_;
  std::vector<DocumentView*> views_;
  PeaRef<CPea> commandNode_;
  PeaRef<CPea> viewSelection_;
  Display display_;
  std::set<const CPea*> alarmed_;
  std::set<const CPea*> tasked_;
  bool freeDiskAvailable_ = false;
  int arrayAct_ = 0;
  std::vector<PeaRef<CPea>> newArrayDisks_;
  bool reloadArrays_ = false;
  bool reloadControllers_ = false;
  PeaRef<CVirtualFolder> currentIopController_;
  int iopIsQx6_ = 99;
  int lastArrayStatus_ = 0;
  int lastArrayPercent_ = 0;
  std::string userText_;
  bool notIop_ = true;
  bool runOnStartup_ = false;
  int guiStatusCount_ = 0;
  bool connectAllowed_ = true;
  bool autoLogon_ = false;
  bool beeper_ = true;
  std::vector<Watched> watched_;
  int serverCounter_ = 0;
  int callbackDepth_ = 0;
  std::deque<MessageBoxRequest> pendingMessages_;
  int boxOpen_ = 0;
  bool polling_ = false;
  struct PendingCommand {
    int id;
    PeaRef<CPea> node;
  };
  std::deque<PendingCommand> pendingCommands_;
  plat::Timer flushTimer_;
  std::vector<plat::Timer> reloadTimers_;
  std::vector<plat::Timer> deferred_;
  std::map<const CPea*, std::string> profileSections_;
  std::set<const CPea*> logoffPending_;
  bool explicitLogin_ = false;
  int initialize_ = 1;
  bool agentStopped_ = false;
  bool closed_ = false;
};

}  // namespace kelm::console
