#include "console/ui/page_hosts.h"

#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "console/core/pages/array_page.h"
#include "console/core/pages/controller_page.h"
#include "console/core/pages/disk_page.h"
#include "console/core/pages/enclosure_page.h"
#include "console/core/pages/serial_pages.h"
#include "console/pages/page_views.h"
#include "console/ui/panes.h"

namespace kelm::console::ui {
namespace {

// A property form around a page's own widget. The widget listens to its presenter; the pane takes
// that listener over to tell the form, so the host keeps the widget's listener and passes it on.
class CHostedPage : public CPropertyForm {
 public:
  CHostedPage(PagePresenter* presenter, QWidget* parent, const std::function<QWidget*(QWidget*)>& make)
      : CPropertyForm(presenter, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(make(this));
    layout->addStretch(1);
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
        return new CHostedPage(presenter, parent, [page](QWidget* host) { return new View(*page, host); });
      });
}

}  // namespace

void RegisterPageForms() {
  using namespace kelm::console::pages;
  Register<ArrayPage, CArrayView>(PageId::Array);
  Register<ControllerPage, CCtrlrView>(PageId::Controller);
  Register<ChannelPage, CChannelView>(PageId::Channel);
  Register<DiskPage, CDiskView>(PageId::Disk);
  Register<EnclosurePage, CEnclosureView>(PageId::Enclosure);
  Register<SerialArrayPage, CSorventicArrayView>(PageId::SorventicArray);
  Register<SerialControllerPage, CSorventicCtrlrView>(PageId::SorventicController);
  Register<SerialBoxPage, CSorventicBoxView>(PageId::SorventicBox);
}

}  // namespace kelm::console::ui
