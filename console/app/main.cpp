// The console program: everything is in the console's window library.
#include "console/ui/console_app.h"

int main(int argc, char** argv) { return kelm::console::ui::KelmMain(argc, argv); }
