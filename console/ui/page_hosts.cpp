#include "console/ui/page_hosts.h"

#include <QScrollArea>
#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "console/core/pages/agent_page.h"
#include "console/core/pages/array_page.h"
#include "console/core/pages/controller_page.h"
#include "console/core/pages/disk_page.h"
#include "console/core/pages/enclosure_page.h"
#include "console/core/pages/ide_pages.h"
#include "console/core/pages/serial_pages.h"
#include "console/dialogs/console_dialogs.h"
#include "console/pages/family_views.h"
#include "console/pages/page_views.h"
#include "console/ui/panes.h"

namespace kelm::console::ui {
namespace {

// A property form around a page's own widget. The widget listens to its presenter; the pane takes
// that listener over to tell the form, so the host keeps the widget's listener and passes it on.
// The page scrolls when the pane is smaller than it, so nothing of it is cut off.
class CHostedPage : public CPropertyForm {
 public:
  CHostedPage(PagePresenter* presenter, QWidget* parent, const std::function<QWidget*(QWidget*)>& make)
      : CPropertyForm(presenter, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* area = new QScrollArea(this);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setBackgroundRole(QPalette::Button);
    auto* inner = new QWidget(area);
    inner->setBackgroundRole(QPalette::Button);
    auto* column = new QVBoxLayout(inner);
    column->setContentsMargins(0, 0, 0, 0);
    QWidget* page = make(inner);
    if (page->layout()) {
      // A laid-out page keeps its own height at the top of the pane.
      column->addWidget(page);
      column->addStretch(1);
    } else {
      // A page that places or paints its parts itself fills the pane, at least as large as its parts.
      const QRect parts = page->childrenRect().united(QRect(0, 0, 1, 1));
      page->setMinimumSize(parts.right() + 8, parts.bottom() + 8);
      column->addWidget(page, 1);
    }
    area->setWidget(inner);
    layout->addWidget(area);
    if (presenter) changed_ = presenter->onChanged;
  }
  void ShowPresenter() override {
    if (changed_) changed_();
    update();
  }

 private:
  std::function<void()> changed_;
};

template <class Page, class View>
void Register(PageId id) {
  RegisterPage(
      id, [](CDremmoralDoc& doc) -> std::unique_ptr<PagePresenter> { return std::make_unique<Page>(doc); },
      [](PagePresenter* presenter, QWidget* parent) -> CPropertyForm* {
        auto* page = dynamic_cast<Page*>(presenter);
        if (!page) return new CPropertyForm(presenter, parent);
        return HostPage(presenter, parent, [page](QWidget* host) { return new View(*page, host); });
      });
}

}  // namespace

CPropertyForm* HostPage(PagePresenter* presenter, QWidget* parent, const std::function<QWidget*(QWidget*)>& make) {
  return new CHostedPage(presenter, parent, make);
}

void RegisterPageForms() {
  using namespace kelm::console::pages;
  Register<ConsolePage, dialogs::CMyConsoleView>(PageId::MyConsole);
  Register<ServerPage, dialogs::CServerView>(PageId::Server);
  Register<UserPage, dialogs::CUserView>(PageId::User);
  Register<ArrayPage, CArrayView>(PageId::Array);
  Register<ControllerPage, CCtrlrView>(PageId::Controller);
  Register<ChannelPage, CChannelView>(PageId::Channel);
  Register<DiskPage, CDiskView>(PageId::Disk);
  Register<EnclosurePage, CEnclosureView>(PageId::Enclosure);
  Register<SerialArrayPage, CSorventicArrayView>(PageId::SorventicArray);
  Register<SerialControllerPage, CSorventicCtrlrView>(PageId::SorventicController);
  Register<SerialBoxPage, CSorventicBoxView>(PageId::SorventicBox);
  Register<AgentSettingsPage, CRAIDMachineView>(PageId::RaidMachine);
  Register<RaidSystemPage, CRAIDSystemView>(PageId::RaidSystem);
  Register<IdeArrayPage, CMaroveltArrayView>(PageId::MaroveltArray);
  Register<IdeControllerPage, CMaroveltCtrlrView>(PageId::MaroveltController);
  Register<IdeDiskPage, CMaroveltDiskView>(PageId::MaroveltDisk);
}

}  // namespace kelm::console::ui
