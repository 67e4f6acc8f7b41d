// The program's help pages: 13 HTML files installed in "help" beside the program, opened in the
// operator's browser. Page numbers are those the windows ask for (the main window 11, the global
// options 6, the scheduler 5, ...). GUI thread.
#pragma once

#include <QString>

namespace hm {

inline constexpr int kHelpPages = 13;

// The file of page n (0 to 12) in the installed help folder ($HALDMOOR3_HELP_DIR when set); empty
// for another number.
QString HelpPagePath(int page);
// Opens page n in the browser (QDesktopServices, so tests can capture the address). False when the
// page is missing or nothing opened it.
bool OpenHelpPage(int page);

}  // namespace hm
