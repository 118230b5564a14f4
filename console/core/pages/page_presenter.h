#pragma once
// The base of every property page's presenter: the shown node (counted), the one-second refresh,
// the hints about the shown node, and the draw list of a painted page. The Qt page shows what its
// presenter holds and calls it for every action; the presenter calls onChanged when the page must
// read it again.
#include <functional>

#include "console/core/pages/draw_list.h"
#include "message/pea.h"

namespace kelm::console {

class CDremmoralDoc;
class CVirtualFolder;

class PagePresenter {
 public:
  explicit PagePresenter(CDremmoralDoc& document) : document_(document) {}
  virtual ~PagePresenter() = default;
  PagePresenter(const PagePresenter&) = delete;
  PagePresenter& operator=(const PagePresenter&) = delete;

  CDremmoralDoc& document() const { return document_; }
  // The shown node as given (a short cut stays a short cut), and resolved to its folder.
  CPea* GetNode() const { return node_.get(); }
  CVirtualFolder* GetFolder() const;
  // Counts the new node, releases the previous one, then lets the page fill itself (OnShowNode).
  // Null hides the page.
  void ShowNode(CPea* node);
  // Whether the shown node is still in the document's tree; a page sends nothing for one that left.
  bool NodeInTree() const;

  // Every second while the page is shown.
  virtual void RefreshPage() {}
  // A hint about the shown node (259 its values, 260 a child arrived, 258 its children).
  virtual void OnUpdate(int hint, CPea* node) {
    (void)hint;
    (void)node;
  }
  // The font or a colour of the display settings changed.
  virtual void OnDisplaySettingsChanged() {}
  // A painted page draws its client area of the given size into the list (cleared first).
  virtual void Paint(DrawList& out, int width, int height) {
    (void)out;
    (void)width;
    (void)height;
  }

  // Set by the view: the presenter's state changed and the page should show it again.
  std::function<void()> onChanged;

 protected:
  // After ShowNode changed the node (null when the page is hidden).
  virtual void OnShowNode() {}
  void Changed() {
    if (onChanged) onChanged();
  }

 private:
  CDremmoralDoc& document_;
  PeaRef<CPea> node_;
};

}  // namespace kelm::console
