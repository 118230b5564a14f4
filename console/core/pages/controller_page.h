#pragma once
// The intelligent-I/O family's controller page (node type 4): the cache policy of the standard model,
// the controller settings of the QX model, and the processor, memory and module texts of both.
#include <cstdint>
#include <string>
#include <vector>

#include "console/core/pages/module_list.h"
#include "console/core/pages/page_presenter.h"
#include "console/core/pages/page_support.h"
#include "console/core/virtual_folder.h"

namespace kelm::console::pages {

class ControllerPage : public PagePresenter {
 public:
  using ControlSet = ModelSet;

  struct Controls {
    // The standard model's cache policy (cells 5-60, 10-90, 0-80).
    int flush = 0;
    int start = 0;
    int stop = 0;
    std::string cacheSize, cacheBlockSize, rwCacheSize;
    // Every model.
    std::string memory, processor, hardware;
    std::vector<ModuleRow> modules;
    // The QX model's settings.
    bool smart = false;
    bool hdCache = false;
    bool bbu = false;
    bool rebuildPriority = false;
    int autoFlush = 5;  // cell 5-60, step 5
    int bufferCount = 100;
    int bufferMax = 20;
  };
  struct Enables {
    bool cacheCommit = false;  // "&Commit" and "&Reset"
    bool cacheCells = false;
    bool smart = false, hdCache = false, bbu = false, rebuildPriority = false, autoFlush = false;
    bool settingsCommit = false;  // the second "Commit" and "Reset"
  };

  explicit ControllerPage(CDremmoralDoc& document) : PagePresenter(document) {}

  void OnUpdate(int hint, CPea* node) override;

  void SetFlush(int v);
  void SetStart(int v);
  void SetStop(int v);
  void SetSmart(bool on);
  void SetHdCache(bool on);
  void SetRebuildPriority(bool on);
  void SetAutoFlush(int v);
  // "&Commit"/"&Reset" of the cache policy; the second "Commit"/"Reset" of the controller settings.
  void CommitCachePolicy();
  void ResetCachePolicy();
  void CommitSettings();
  void ResetSettings();

  const Controls& controls() const { return c_; }
  Enables enables() const;
  ControlSet controlSet() const;
  bool modified() const { return modified_; }

 protected:
  void OnShowNode() override;

 private:
  enum Touched : std::uint32_t { kTCache = 0x1, kTSmart = 0x2, kTHd = 0x4, kTRebuild = 0x8, kTAuto = 0x10 };
  void Fill(std::uint32_t rewrite);
  void Touch(std::uint32_t t);

  Controls c_;
  RepeatShow shown_;
  std::uint32_t touched_ = 0;
  bool modified_ = false;
  int isQx6_ = 99;
  // As read, or as last sent with success.
  bool readSmart_ = false, readHd_ = false, readRebuild_ = false;
  int lastAutoFlush_ = 5;
};

}  // namespace kelm::console::pages
