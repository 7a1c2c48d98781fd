// The toolbar's icons and the program's own, as vector images.
#pragma once

#include <QIcon>

namespace quimbel {

enum class IconKind { kSelect, kExport, kRepair, kPrint, kPreferences, kStop, kAbout, kProgram };
QIcon MakeIcon(IconKind kind);

}  // namespace quimbel
