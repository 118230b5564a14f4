// The property pane's pages of the array, controller, channel, disk and enclosure forms.
#pragma once

namespace kelm::console::ui {

// Registers every page form that takes its presenter from the property pane. Call once, before the
// main frame is made.
void RegisterPageForms();

}  // namespace kelm::console::ui
