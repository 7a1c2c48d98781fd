#include "repair/repair_options.h"

namespace quimbel {

RepairOptions LoadRepairOptions(SettingsStore& settings) {
  RepairOptions options;
  const int type = settings.Get(settings::kRepairType);
  options.type = type >= 0 && type <= 2 ? static_cast<RepairType>(type) : RepairType::kDisableLine;
  options.saveBadUrls = settings.Get(settings::kRepairSave) != 0;
  options.useAlternateUrl = settings.Get(settings::kRepair302) != 0;
  options.skipNonHttp = settings.Get(settings::kRepairIgnore) != 0;
  options.preserveAsComment = settings.Get(settings::kRepairPreserve) != 0;
  options.removeComments = settings.Get(settings::kRepairPurge) != 0;
  return options;
}

void StoreRepairOptions(SettingsStore& settings, const RepairOptions& options) {
  settings.Set(settings::kRepairType, static_cast<int>(options.type));
  settings.Set(settings::kRepairSave, options.saveBadUrls ? 1 : 0);
  settings.Set(settings::kRepair302, options.useAlternateUrl ? 1 : 0);
  settings.Set(settings::kRepairPreserve, options.preserveAsComment ? 1 : 0);
  settings.Set(settings::kRepairPurge, options.removeComments ? 1 : 0);
  settings.Set(settings::kRepairIgnore, options.skipNonHttp ? 1 : 0);
}

RepairControlsEnabled EnabledRepairControls(RepairType type) {
  const bool replace = type == RepairType::kReplaceUrl;
  return {type == RepairType::kRemoveLine, replace, replace, replace};
}

}  // namespace quimbel
