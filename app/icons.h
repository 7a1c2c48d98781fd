// The toolbar's icons, drawn by the program itself.
#pragma once

#include <QIcon>

namespace quimbel {

enum class IconKind { kSelect, kExport, kRepair, kPrint, kPreferences, kStop, kAbout, kProgram };
QIcon MakeIcon(IconKind kind);

}  // namespace quimbel
