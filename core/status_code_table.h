// The report categories every outcome code falls into, and the reason
// texts that name them in the results list, the exports and the repair
// decisions. Immutable; safe on any thread.
//
// The first 43 are the original table: 200-206, 300-305, 400-415, 500-505
// and the connection errors 10000-10007. The codes today's servers send
// that it lacked follow, in this order (filter positions 43 to 64): 307,
// 308, 429, 451, 207, 208, 226, 416, 417, 421, 422, 423, 424, 425, 426,
// 428, 431, 506, 507, 508, 510, 511; then the failed https handshake
// 10008 (position 65); then the local links' "Local File Not Found" 10100
// and "Local Anchor Not Found" 10101 (66, 67); then the moves that lead
// nowhere, 10009 and 10010 (68, 69); then an anchor missing on another
// site's page, 10011 (70). New categories are only ever appended,
// so a stored filter keeps its meaning.
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
  static constexpr int kCategoryCount = 72;
  // The length of the filter before categories were added.
  static constexpr int kOriginalCategoryCount = 43;
  // The lengths of the filter as earlier versions stored it: with the
  // codes of today's servers, then with https, then with local links,
  // then with the moves that lead nowhere, then with anchors on other
  // sites' pages.
  static constexpr int kModernCodesCategoryCount = 65;
  static constexpr int kHttpsCategoryCount = 66;
  static constexpr int kLocalLinksCategoryCount = 68;
  static constexpr int kRedirectsCategoryCount = 70;
  static constexpr int kAnchorsCategoryCount = 71;

  // The categories in filter order.
  static const std::array<StatusCategory, kCategoryCount>& Categories();

  // The category index of a code, or nothing for a code without one (209,
  // 306, 418, 599, 10009 to 10099, ...).
  static std::optional<int> CategoryIndex(OutcomeCode code);
};

inline constexpr std::string_view kUnknownErrorReason = "Error: UNKNOWN Error!";

// The reason text of a code's category. A code without a category gives
// kUnknownErrorReason, sets `unknown_error_seen` and sounds the exclamation
// beep: the repair command later asks before acting on such a run.
std::string_view ReasonText(OutcomeCode code, bool& unknown_error_seen, Beeper& beeper);

}  // namespace quimbel
