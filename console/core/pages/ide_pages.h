#pragma once
// The IDE family's pages: the painted array page (node type 18), the controller page (19) with its
// settings and the reboot they need, and the painted disk page (21, and the serial family's 24).
#include <chrono>
#include <cstdint>
#include <string>

#include "console/core/pages/page_presenter.h"
#include "console/core/pages/page_support.h"
#include "console/core/virtual_folder.h"
#include "platform/loop/event_loop.h"

namespace kelm::console::pages {

// Where the painted IDE pages put their columns.
inline constexpr int kIdeLabelX = 15;
inline constexpr int kIdeColonX = 150;
inline constexpr int kIdeValueX = 175;
// The note follows the status word ("Warning") with room for it in the page's font.
inline constexpr int kIdeNoteX = 240;
inline constexpr int kIdeMappingLabelX = 220;
inline constexpr int kIdeTextHeight = 20;

class IdeArrayPage : public PagePresenter {
 public:
  struct Texts {
    std::string mode, status, size, blockSize, cyls, heads, sectors;
  };
  // The status line, repainted alone when only the percent moved.
  static constexpr DrawRect kStatusLine{175, 40, 350, 70};

  explicit IdeArrayPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void RefreshPage() override { Update(); }
  void OnUpdate(int hint, CPea* node) override;
  void OnDisplaySettingsChanged() override { Changed(); }
  void Paint(DrawList& out, int width, int height) override;
  // The status line alone: its rectangle erased first, then the text.
  void PaintStatusLine(DrawList& out);
  // After an update: true when only the status line needs painting.
  bool statusLineOnly() const { return statusOnly_; }
  const Texts& texts() const { return t_; }
  bool showsBlockSize() const;

 protected:
  void OnShowNode() override;

 private:
  void Update();
  Texts t_;
  int percent_ = -1;
  bool statusOnly_ = false;
};

// The disk page's texts from the disk's values.
struct IdeDiskState {
  std::string status, usage, note;
  bool offline = false;
};
IdeDiskState IdeDiskStateOf(int status, int rebuild);

class IdeDiskPage : public PagePresenter {
 public:
  struct Texts {
    std::string model, size, status, usage, note, mode, smart, cyls, heads, sectors;
  };
  explicit IdeDiskPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void RefreshPage() override { Update(); }
  void OnUpdate(int hint, CPea* node) override;
  void OnDisplaySettingsChanged() override { Changed(); }
  void Paint(DrawList& out, int width, int height) override;
  const Texts& texts() const { return t_; }

 protected:
  void OnShowNode() override;

 private:
  void Update();
  Texts t_;
};

class IdeControllerPage : public PagePresenter, public ReplyListener {
 public:
  struct Controls {
    std::string irq, busMasterBase, romBase, driverVersion, hardware;
    bool smart = false, writeCache = false, disableHotSpare = false;
    int maintenanceRate = 0;  // slider 0-31
    int pciBus = 0;           // slider 0-100
  };
  struct Enables {
    bool smart = false, writeCache = false, disableHotSpare = false, maintenanceRate = false, pciBus = false;
    bool commit = false;  // and Reset
  };
  static constexpr const char* kRebootQuestion =
      "Changing this setting requires you to reboot the machine. Would you like to reboot now?";
  static constexpr const char* kRebootFail = "Reboot Fail!";
  static constexpr const char* kNotConfirmed =
      "The agent did not confirm every setting, so the machine was not rebooted.";
  // How long the page waits for the agent's final answers before it gives up the reboot.
  static constexpr std::chrono::milliseconds kConfirmWait{15000};

  explicit IdeControllerPage(CDremmoralDoc& document) : PagePresenter(document) {}
  ~IdeControllerPage() override;
  void OnUpdate(int hint, CPea* node) override;
  void OnInvokeReply(int status, const std::string& text) override;

  void SetSmart(bool on);
  void SetWriteCache(bool on);
  void SetDisableHotSpare(bool on);
  void SetMaintenanceRate(int v);
  void SetPciBus(int v);
  void Commit();
  void Reset();

  const Controls& controls() const { return c_; }
  Enables enables() const;
  // A reboot waits for the agent's answers.
  bool awaitingConfirmation() const { return rebootAsked_; }

 protected:
  void OnShowNode() override;

 private:
  enum Touched : std::uint32_t { kTSmart = 1, kTCache = 2, kTHotSpare = 4, kTRate = 8, kTPci = 16 };
  void Fill(bool everything);
  void Touch(std::uint32_t t);
  void Listen(CVirtualFolder* node);
  void Confirmed();
  void GiveUp();

  Controls c_;
  Controls read_;  // as read, or as last sent with success
  std::uint32_t touched_ = 0;
  RepeatShow shown_;
  PeaRef<CVirtualFolder> listening_;
  // The sends whose final answers are awaited, and whether all answered so far were functional.
  int awaited_ = 0;
  bool allFunctional_ = true;
  bool rebootAsked_ = false;
  plat::Timer confirmTimer_;
};

}  // namespace kelm::console::pages
