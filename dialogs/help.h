// The program's help: a page shipped with it, opened in the desktop's
// browser at the anchor of a context number (0x20000 plus the resource
// number of the dialog that asks). User-interface thread only.
#pragma once

#include <QString>

namespace quimbel {

inline constexpr int kHelpContents = 0;
inline constexpr int kHelpPreferences = 0x20088;    // 131208
inline constexpr int kHelpRepairOptions = 0x20089;  // 131209

// Where the help page lies: beside the program's share folder when
// installed, else in the source tree it was built from.
QString HelpPagePath();
// Opens the page at "#context-N" (no anchor for the contents); false when
// the desktop could not open it.
bool OpenHelp(int context);

}  // namespace quimbel
