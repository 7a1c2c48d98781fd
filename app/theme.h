// The window's colours: the desktop's own, or Qt's Fusion style in light
// or dark. User-interface thread only.
#pragma once

#include <QPalette>

#include "core/window_rules.h"

namespace quimbel {

// A dark palette as a dark desktop theme would hand to Fusion.
QPalette DarkPalette();

// Sets the application's style and palette for `theme`. The desktop's own
// look is remembered before the first change, so System brings it back;
// until a change, System leaves everything alone.
void ApplyTheme(Theme theme);

}  // namespace quimbel
