#pragma once
// The rebuild wizard's logic: page 0 lists the array's member disks to choose one, page 1 names the
// chosen disk and Finish starts the rebuild. The array and the disks are held counted across the
// wizard's modal loop, in which listings can prune them.
#include <string>
#include <vector>

#include "console/core/virtual_folder.h"

namespace kelm::console {
class CDremmoralDoc;
}

namespace kelm::console::pages {

inline constexpr char kRebuildAnimation[] = "Rebuild.avi";

class RebuildWizard {
 public:
  struct Item {
    PeaRef<CVirtualFolder> disk;
    std::string label;
    int image = 0;
  };

  RebuildWizard(CDremmoralDoc& doc, CPea* array, CPea* disk);

  int page() const { return page_; }
  bool backShown() const { return page_ > 0; }
  bool nextShown() const { return page_ == 0; }
  bool finishShown() const { return page_ == 1; }

  // Page 0's list and which of its items are selected.
  const std::vector<Item>& items() const { return items_; }
  const std::vector<bool>& selected() const { return selected_; }
  void SetSelected(std::vector<bool> selected);
  // Lists the members again, keeping the chosen one selected; a hint about the array does it.
  void Refill();
  void OnUpdate(int hint, CPea* node);

  // Page 0's Next: exactly one disk selected. False (with the message) when it stays.
  bool Next();
  void Back();
  // The chosen disk's label on page 1, "NONE" without one.
  std::string FinishLabel() const;
  // Starts the rebuild after its confirmation; true when the wizard closes.
  bool Finish();

  CVirtualFolder* array() const { return array_.get(); }
  CVirtualFolder* chosen() const { return chosen_.get(); }

 private:
  CDremmoralDoc& doc_;
  PeaRef<CVirtualFolder> array_;
  PeaRef<CVirtualFolder> chosen_;
  std::vector<Item> items_;
  std::vector<bool> selected_;
  int page_ = 0;
};

}  // namespace kelm::console::pages
