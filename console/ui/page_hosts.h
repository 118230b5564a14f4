// The property pane's pages of the array, controller, channel, disk and enclosure forms.
#pragma once
#include <QWidget>
#include <functional>

#include "console/core/pages/page_presenter.h"

namespace kelm::console::ui {

class CPropertyForm;

// A property form around a page's own widget, made by make with its parent; the page scrolls in
// the pane when the pane is smaller.
CPropertyForm* HostPage(PagePresenter* presenter, QWidget* parent, const std::function<QWidget*(QWidget*)>& make);

// Registers every page form that takes its presenter from the property pane. Call once, before the
// main frame is made.
void RegisterPageForms();

}  // namespace kelm::console::ui
