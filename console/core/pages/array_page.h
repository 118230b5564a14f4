#pragma once
// The intelligent-I/O family's array page (node type 3): the editor of an existing array and the
// create form of a console-made one. The form shows controls(), calls the setters for the
// administrator's edits and Commit/Reset for the buttons.
#include <array>
#include <cstdint>
#include <string>

#include "console/core/pages/page_presenter.h"
#include "console/core/pages/page_support.h"
#include "console/core/virtual_folder.h"

namespace kelm::console::pages {

class ArrayPage : public PagePresenter {
 public:
  using ControlSet = ModelSet;
  enum Modified : std::uint32_t { kModName = 0x1, kModCache = 0x2 };
  static constexpr int kStatCount = 9;
  static const std::array<const char*, kStatCount> kStatNames;
  static constexpr int kStatisticsPeriod = 15;

  struct Controls {
    std::string name;
    std::string level = "RAID5(PARITY-DISTRIBUTED)";
    int blockSize = 64;
    int blockMax = 64;
    int readCache = -1;   // list index: "OFF", "ON"
    int writeCache = -1;  // "OFF", "Write back"
    bool autoDetect = false;
    bool writeBack = false;
    std::string sizeText;
    std::string statusText;
    std::array<std::string, kStatCount> stats;
  };
  struct Enables {
    bool commit = false;  // and Reset
    bool resetStats = false;
    bool level = false;  // and the block size
    bool name = false;
    bool readCache = false;
    bool writeCache = false;
    bool autoDetect = false;
    bool writeBack = false;
  };

  explicit ArrayPage(CDremmoralDoc& document) : PagePresenter(document) {}

  void RefreshPage() override;
  void OnUpdate(int hint, CPea* node) override;

  // The administrator's edits.
  void SetName(const std::string& name);
  void SetLevel(const std::string& level);
  void SetBlockSize(int block);
  void SetReadCache(int index);
  void SetWriteCache(int index);
  void SetAutoDetect(bool on);
  void SetWriteBack(bool on);
  // "&Commit", "&Reset", "Reset Cache stats".
  void Commit();
  void Reset();
  void ResetCacheStats();

  const Controls& controls() const { return c_; }
  Enables enables() const;
  ControlSet controlSet() const;
  bool isNewArray() const { return (flags_ & CVirtualFolder::kFlagNew) != 0; }
  std::uint32_t modified() const { return modified_; }
  int isQx6() const { return isQx6_; }

 protected:
  void OnShowNode() override;

 private:
  enum Touched : std::uint32_t {
    kTName = 0x1, kTLevel = 0x2, kTBlock = 0x4, kTRead = 0x8, kTWrite = 0x10, kTAuto = 0x20, kTBack = 0x40
  };
  // Reads the node; editable controls only where untouched (all of them with everything).
  void Fill(bool everything);
  void Edited(std::uint32_t touched, std::uint32_t modified);
  void CommitNew(CVirtualFolder* array);
  void CommitExisting(CVirtualFolder* array);
  // The node's parent controller, or null.
  CVirtualFolder* Controller() const;

  Controls c_;
  RepeatShow shown_;
  std::uint32_t flags_ = 0;
  std::uint32_t modified_ = 0;
  std::uint32_t touched_ = 0;
  int isQx6_ = 99;
  int statsCounter_ = 0;
  int status_ = 0;
  int percent_ = 0;
  // As read from the node (or as last sent with success): what Commit compares with.
  bool readAutoDetect_ = false;
  bool readWriteBack_ = false;
  std::string readName_;
};

}  // namespace kelm::console::pages
