#include "console/core/pages/page_presenter.h"

#include "console/core/document.h"
#include "console/core/virtual_folder.h"

namespace kelm::console {

CVirtualFolder* PagePresenter::GetFolder() const { return AsFolder(node_.get()); }

void PagePresenter::ShowNode(CPea* node) {
  PeaRef<CPea> previous = std::move(node_);
  node_ = PeaRef<CPea>(node);
  OnShowNode();
  Changed();
}

bool PagePresenter::NodeInTree() const { return document_.IsInTree(node_.get()); }

}  // namespace kelm::console
