// RepairOptions: how the line that holds a bad URL is rewritten, as the
// repair options dialog shows them and the settings store keeps them. A plain value; any thread.
#pragma once

#include "core/settings_store.h"

namespace quimbel {

enum class RepairType : int { kDisableLine = 0, kReplaceUrl = 1, kRemoveLine = 2 };

struct RepairOptions {
  RepairType type = RepairType::kDisableLine;
  bool saveBadUrls = true;        // type 2: export the rows afterwards
  bool useAlternateUrl = true;    // type 1: a 301 or 302 URL becomes its Alternate URL
  bool skipNonHttp = true;        // every type: leave rows whose Reason is no "HTTP Code ..."
  bool preserveAsComment = true;  // type 1: keep the bad URL in a marker comment
  bool removeComments = false;    // type 1: first drop one-line comments from the line
  bool operator==(const RepairOptions&) const = default;
};

// Section "Repair". A stored "Type" outside 0 to 2 is read as 0.
RepairOptions LoadRepairOptions(SettingsStore& settings);
// Stores all six values, whatever the type.
void StoreRepairOptions(SettingsStore& settings, const RepairOptions& options);

// Which of the dialog's check boxes apply to a type; the radio buttons and
// the non-HTTP box always do. Disabled boxes keep their marks.
struct RepairControlsEnabled {
  bool saveBadUrls, useAlternateUrl, preserveAsComment, removeComments;
  bool operator==(const RepairControlsEnabled&) const = default;
};
RepairControlsEnabled EnabledRepairControls(RepairType type);

}  // namespace quimbel
