// ReportFilter: which report categories become rows of the results list.
// One character per category in table order; "0" hides it, any other
// character reports it. A plain value; copy it freely. A plain value; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "probe/outcome_code.h"

namespace quimbel {

// Everything but code 200: the default, and the "Watch Like a Hawk" preset.
inline constexpr std::string_view kDefaultFilter =
    "0111111111111111111111111111111111111111111"  // the original 43
    "1111111111111111111111"                       // 307 ... 511
    "1"                                            // https handshake
    "11"                                           // local file, local anchor
    "11"                                           // redirect loop, too many redirects
    "1"                                            // anchor on another site's page
    "1";                                           // an HTTP/2 stream reset
// Codes 401 to 415 and 10002, and the added client errors but 429 (a busy
// server is not the page's fault): the "Watch With One Eye Shut" preset.
inline constexpr std::string_view kTypeBFilter =
    "0000000000000011111111111111100000000100000"
    "0001000111111111100000"
    "1"
    "11"
    "11"
    "1"
    "1";

inline constexpr std::string_view kSafeDefaultMessage = "Setting Filter Codes to Safe Default";

// Codes from `first` to `last`, both included.
struct CodeRange {
  OutcomeCode first = 0;
  OutcomeCode last = 0;
  bool Contains(OutcomeCode code) const { return code >= first && code <= last; }
  bool operator==(const CodeRange&) const = default;
};

class ReportFilter {
 public:
  ReportFilter() : text_(kDefaultFilter) {}
  explicit ReportFilter(std::string text) : text_(std::move(text)) {}

  const std::string& text() const { return text_; }

  // True when the code's category character is not "0", and for every code
  // without a category: an outcome nobody expected is always shown. An
  // accepted code is never reported.
  bool IsReported(OutcomeCode code) const;

  // Marks the codes as good: their categories are unticked, and a code
  // without a category is accepted too.
  void Accept(const std::vector<CodeRange>& codes);
  const std::vector<CodeRange>& accepted() const { return accepted_; }

 private:
  std::string text_;
  std::vector<CodeRange> accepted_;
};

struct LoadedFilter {
  ReportFilter filter;
  // The stored text had the wrong length: tell the user kSafeDefaultMessage
  // and write the default back.
  bool reset_to_default = false;
  // An original 43-character text was extended; store the full one.
  bool extended = false;
};

// The filter to use for a stored text. Only the length is checked: a text
// of the full length is taken as it stands; one of the original 43
// characters keeps its choices and gains the added categories' defaults
// (`extended`); any other length is reset.
LoadedFilter LoadFilterText(std::string_view stored);

}  // namespace quimbel
