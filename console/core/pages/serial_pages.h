#pragma once
// The serial family's pages: the controller (node type 23), the enclosure box (25) and the array
// (22) in create mode (a console-made array) and change mode (conversion and expansion).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "console/core/pages/page_presenter.h"
#include "console/core/pages/page_support.h"
#include "console/core/pages/page_texts.h"
#include "console/core/virtual_folder.h"

namespace kelm::console::pages {

extern const char kSettingChangedText[];
extern const char kDiskNotFreeText[];

// Whether the node lists the method with rights for this user.
bool MethodAllowed(const CVirtualFolder* node, const char* method);

class SerialControllerPage : public PagePresenter {
 public:
  struct Controls {
    std::string comport, hardware, raidapi, firmware, memory;
    int autoFlush = 5;  // cell 5-60, step 5
    bool smart = false, rebuildPriority = false, hdCache = false, writeBack = false;
  };
  struct Enables {
    bool autoFlush = false, smart = false, rebuildPriority = false, hdCache = false, writeBack = false;
    bool apply = false;
  };

  explicit SerialControllerPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void RefreshPage() override { Fill(false); }
  void OnUpdate(int hint, CPea* node) override;

  void SetAutoFlush(int v);
  void SetSmart(bool on);
  void SetRebuildPriority(bool on);
  void SetHdCache(bool on);
  void SetWriteBack(bool on);
  void Apply();
  void Reset();

  const Controls& controls() const { return c_; }
  Enables enables() const;

 protected:
  void OnShowNode() override;

 private:
  enum Touched : std::uint32_t { kTAuto = 1, kTSmart = 2, kTRebuild = 4, kTHd = 8, kTBack = 16 };
  void Fill(bool everything);
  void Touch(std::uint32_t t);

  Controls c_;
  Controls read_;  // as read, or as last sent with success
  std::uint32_t touched_ = 0;
  RepeatShow shown_;
};

class SerialBoxPage : public PagePresenter {
 public:
  struct Lines {
    std::array<std::string, 3> temps;
    std::string volt5, volt12;
    std::array<FanLine, 8> fans;
  };
  explicit SerialBoxPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void RefreshPage() override {
    Fill();
    Changed();
  }
  const Lines& lines() const { return l_; }

 protected:
  void OnShowNode() override { Fill(); }

 private:
  void Fill();
  Lines l_;
};

class SerialArrayPage : public PagePresenter {
 public:
  struct Controls {
    std::string level = std::string(kSerialLevels[4]);
    std::string name;
    int blockSize = 64;  // cell 4-64, step 2
    std::string sizeText, statusText;
    bool autoDetect = false, writeBack = false;  // shown, never sent
  };
  // A free disk of the controller that change mode offers.
  struct Candidate {
    PeaRef<CVirtualFolder> disk;
    std::string text;
    bool chosen = false;
  };
  struct Enables {
    bool apply = false;  // and the mode list, block cell and disk list
    bool checks = false;
  };

  explicit SerialArrayPage(CDremmoralDoc& document) : PagePresenter(document) {}
  void RefreshPage() override;
  void OnUpdate(int hint, CPea* node) override;

  void SetLevel(const std::string& level);
  void SetName(const std::string& name);
  void SetBlockSize(int block);
  void ChooseDisk(std::size_t index, bool chosen);
  void Apply();
  void Reset();

  bool createMode() const { return createMode_; }
  bool busy() const;
  const Controls& controls() const { return c_; }
  const std::vector<Candidate>& candidates() const { return candidates_; }
  Enables enables() const;

 protected:
  void OnShowNode() override;

 private:
  enum Touched : std::uint32_t { kTLevel = 1, kTName = 2, kTBlock = 4 };
  void Fill(bool everything);
  void FindCandidates();
  std::vector<CVirtualFolder*> ControllerDisks() const;
  CVirtualFolder* Controller() const;
  void Create(CVirtualFolder* array);
  void Change(CVirtualFolder* array);

  Controls c_;
  std::string readLevel_;
  int status_ = 0;
  bool statusRead_ = false;  // status_ holds the shown array's
  bool createMode_ = false;
  std::uint32_t touched_ = 0;
  std::vector<Candidate> candidates_;
  RepeatShow shown_;
};

}  // namespace kelm::console::pages
