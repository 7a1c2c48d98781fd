// The 43 report categories every outcome code falls into, and the reason
// texts that name them in the results list, the exports and the repair
// decisions. Immutable; safe on any thread.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "core/beeper.h"
#include "probe/outcome_code.h"

namespace quimbel {

struct StatusCategory {
  int index;
  OutcomeCode code;
  std::string_view reason;  // "HTTP Code nnn ..." or "Error: ..."
};

class StatusCodeTable {
 public:
  static constexpr int kCategoryCount = 43;

  // The categories in filter order.
  static const std::array<StatusCategory, kCategoryCount>& Categories();

  // The category index 0 to 42 of a code, or nothing for a code without one
  // (207-299, 306-399, 416-499, 506-9999, above 10007, ...).
  static std::optional<int> CategoryIndex(OutcomeCode code);
};

inline constexpr std::string_view kUnknownErrorReason = "Error: UNKNOWN Error!";

// The reason text of a code's category. A code without a category gives
// kUnknownErrorReason, sets `unknown_error_seen` and sounds the exclamation
// beep: the repair command later asks before acting on such a run.
std::string_view ReasonText(OutcomeCode code, bool& unknown_error_seen, Beeper& beeper);

}  // namespace quimbel
