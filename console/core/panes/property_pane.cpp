#include "console/core/panes/property_pane.h"

#include "console/core/virtual_folder.h"

namespace kelm::console {

namespace {

bool IsChannelLike(int t) { return t == kNodeChannel || t == kNodeUserAccounts || t == kNodeIdeChannel; }

}  // namespace

PageId PageIdForNodeType(int t) {
  switch (t) {
    case kNodeConsoleRoot:
      return PageId::MyConsole;
    case kNodeServer:
      return PageId::Server;
    case kNodeAgent:
      return PageId::RaidMachine;
    case kNodeIopArray:
      return PageId::Array;
    case kNodeIopController:
      return PageId::Controller;
    case kNodeChannel:
    case kNodeUserAccounts:
    case kNodeIdeChannel:
      return PageId::Channel;
    case kNodeIopDisk:
      return PageId::Disk;
    case kNodeEnclosure:
      return PageId::Enclosure;
    case kNodeUser:
      return PageId::User;
    case kNodeRaidSystem:
      return PageId::RaidSystem;
    case kNodeIdeArray:
      return PageId::MaroveltArray;
    case kNodeIdeController:
      return PageId::MaroveltController;
    case kNodeIdeDisk:
    case kNodeSerialDisk:
      return PageId::MaroveltDisk;
    case kNodeSerialArray:
      return PageId::SorventicArray;
    case kNodeSerialController:
      return PageId::SorventicController;
    case kNodeSerialEnclosure:
      return PageId::SorventicBox;
    default:
      return PageId::None;
  }
}

PageChoice ChoosePage(CPea* node) {
  PageChoice choice;
  if (!node) return choice;
  int type = NodeTypeOf(node);
  const bool sensor = (type >= kNodePower && type <= kNodeVoltage) || type == kNodeSensorGroup;
  if (sensor && NodeTypeOf(node->GetParent()) == kNodeEnclosure) {
    node = node->GetParent();
    type = kNodeEnclosure;
  }
  choice.page = PageIdForNodeType(type);
  if (choice.page != PageId::None) choice.node = node;
  return choice;
}

PropertyPanePresenter::PropertyPanePresenter(CDremmoralDoc& document) : document_(document) {
  document_.AddView(this);
}

PropertyPanePresenter::~PropertyPanePresenter() {
  document_.RemoveView(this);
  if (shown_) shown_->ShowNode(nullptr);
}

void PropertyPanePresenter::RegisterPage(PageId id, Factory factory) { factories_[id] = std::move(factory); }

PagePresenter* PropertyPanePresenter::page(PageId id) const {
  auto it = pages_.find(id);
  return it == pages_.end() ? nullptr : it->second.get();
}

void PropertyPanePresenter::SelectPropertyForm(CPea* node) {
  PeaRef<CPea> keep(node);
  // Channels and the users folder keep the layout their list pane asked for.
  const int type = NodeTypeOf(node);
  if (node && !IsChannelLike(type)) {
    auto* folder = dynamic_cast<CVirtualFolder*>(node);
    const bool subFolders = folder ? folder->HasSubFolders() : false;
    // The splitter call may nest a loop; the node is held and the choice made after it.
    if (subFolders) {
      document_.ui().ShowAllPanes();
    } else {
      document_.ui().ShowOnlyPane(SplitterPane::Property);
    }
  }
  PageChoice choice = ChoosePage(node);
  if (choice.node && !document_.IsInTree(choice.node)) choice = PageChoice{};
  PagePresenter* next = nullptr;
  if (choice.page != PageId::None) {
    next = page(choice.page);
    if (!next) {
      auto f = factories_.find(choice.page);
      if (f != factories_.end() && f->second) {
        std::unique_ptr<PagePresenter> made = f->second(document_);
        next = made.get();
        if (made) pages_[choice.page] = std::move(made);
      }
    }
  }
  if (!next) choice = PageChoice{};
  PeaRef<CPea> previousNode = std::move(shownNode_);
  shownNode_ = PeaRef<CPea>(choice.node);
  PagePresenter* previous = shown_;
  shown_ = next;
  const bool pageChanged = previous != next || shownId_ != choice.page;
  shownId_ = next ? choice.page : PageId::None;
  if (previous && previous != next) previous->ShowNode(nullptr);
  if (next) next->ShowNode(choice.node);
  if (pageChanged && onPageShown) onPageShown(shownId_, shown_);
}

void PropertyPanePresenter::OnUpdate(int hint, CPea* node) {
  switch (hint) {
    case kHintCurrentChanged:
      SelectPropertyForm(node);
      return;
    case kHintChildrenChanged:
      if (node && node == shownNode_.get()) {
        SelectPropertyForm(node);
        return;
      }
      break;
    case kHintBackground:
    case kHintTextColour:
    case kHintFont:
      if (shown_) shown_->OnDisplaySettingsChanged();
      return;
    default:
      break;
  }
  if (!shown_ || !node) return;
  CPea* shown = shownNode_.get();
  if (node == shown || (hint == kHintChildArrived && node->GetParent() == shown)) shown_->OnUpdate(hint, node);
}

void PropertyPanePresenter::OnPoll() {
  if (!shown_) return;
  if (shownNode_ && !document_.IsInTree(shownNode_.get())) {
    // The shown node was pruned: the page lets it go and shows nothing.
    SelectPropertyForm(nullptr);
    return;
  }
  shown_->RefreshPage();
}

}  // namespace kelm::console
