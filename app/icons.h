// The toolbar's icons, the program's own and the mark of a row the repair
// handled, as vector images. User-interface thread only.
#pragma once

#include <QIcon>

namespace quimbel {

enum class IconKind {
  kSelect,
  kExport,
  kRepair,
  kPrint,
  kPreferences,
  kStop,
  kAbout,
  kProgram,
  kHandled
};
QIcon MakeIcon(IconKind kind);

}  // namespace quimbel
