#include "app/icons.h"

namespace quimbel {

QIcon MakeIcon(IconKind kind) {
  // Vector icons: Qt's SVG icon engine draws them afresh at every size and
  // screen scale, so they stay sharp at 200 % and beyond.
  switch (kind) {
    case IconKind::kSelect:
      return QIcon(":/icons/select.svg");
    case IconKind::kExport:
      return QIcon(":/icons/export.svg");
    case IconKind::kRepair:
      return QIcon(":/icons/repair.svg");
    case IconKind::kPrint:
      return QIcon(":/icons/print.svg");
    case IconKind::kPreferences:
      return QIcon(":/icons/preferences.svg");
    case IconKind::kStop:
      return QIcon(":/icons/stop.svg");
    case IconKind::kAbout:
      return QIcon(":/icons/about.svg");
    case IconKind::kProgram:
      return QIcon(":/icons/quimbel.svg");
    case IconKind::kHandled:
      return QIcon(":/icons/handled.svg");
  }
  return {};
}

}  // namespace quimbel
