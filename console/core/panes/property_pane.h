#pragma once
// The property pane: one page presenter per page id, created once on first use and reused, showing
// the current node; the splitter layout that goes with it; the hints and the one-second refresh
// passed to the shown page. The Qt property view registers the page factories and shows the page
// that onPageShown names.
#include <functional>
#include <map>
#include <memory>

#include "console/core/document.h"
#include "console/core/pages/page_presenter.h"

namespace kelm::console {

enum class PageId {
  None,
  MyConsole,            // 0
  Server,               // 1
  RaidMachine,          // 2
  Array,                // 3
  Controller,           // 4
  Channel,              // 5, 12, 20
  Disk,                 // 6
  Enclosure,            // 7
  User,                 // 13
  RaidSystem,           // 14
  MaroveltArray,        // 18
  MaroveltController,   // 19
  MaroveltDisk,         // 21, 24
  SorventicArray,       // 22
  SorventicController,  // 23
  SorventicBox,         // 25
};

// The page of a node type; None for a type without one.
PageId PageIdForNodeType(int nodeType);

// The page for a node and the node it shows: sensors (8 to 11) and sensor groups (17) under an
// enclosure (7) show the enclosure's page for the enclosure. Node null: no page.
struct PageChoice {
  PageId page = PageId::None;
  CPea* node = nullptr;
};
PageChoice ChoosePage(CPea* node);

class PropertyPanePresenter : public DocumentView {
 public:
  using Factory = std::function<std::unique_ptr<PagePresenter>(CDremmoralDoc&)>;

  // Registers itself with the document as a view; unregisters when destroyed.
  explicit PropertyPanePresenter(CDremmoralDoc& document);
  ~PropertyPanePresenter() override;
  PropertyPanePresenter(const PropertyPanePresenter&) = delete;
  PropertyPanePresenter& operator=(const PropertyPanePresenter&) = delete;

  // A page id without a factory shows no page.
  void RegisterPage(PageId id, Factory factory);

  // Chooses the layout and the page for the node and shows it there.
  void SelectPropertyForm(CPea* node);

  PageId shownPageId() const { return shownId_; }
  PagePresenter* shownPage() const { return shown_; }
  CPea* shownNode() const { return shownNode_.get(); }
  // The page of an id once created, else null.
  PagePresenter* page(PageId id) const;

  // The shown page changed (None and null when none shows).
  std::function<void(PageId, PagePresenter*)> onPageShown;

  void OnUpdate(int hint, CPea* node) override;
  void OnPoll() override;

 private:
  CDremmoralDoc& document_;
  std::map<PageId, Factory> factories_;
  std::map<PageId, std::unique_ptr<PagePresenter>> pages_;
  PageId shownId_ = PageId::None;
  PagePresenter* shown_ = nullptr;
  PeaRef<CPea> shownNode_;
};

}  // namespace kelm::console
