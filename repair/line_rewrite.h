// RewriteLine: what the line that holds a bad URL becomes. A pure function
// of the line, the row and the options; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result_list.h"
#include "repair/repair_options.h"

namespace quimbel {

inline constexpr std::string_view kRepairMarker = "<!-- QUIMBEL COMMENT ";

// What a row asks of its line.
struct RepairRequest {
  std::string url;
  std::string reason;
  std::string alternate_url;
  bool resource = false;  // an image, script or the like: disabled or removed, never replaced
  // A reference in style text (a style sheet, a <style> block, a style
  // attribute): left as it is, since an HTML comment or a removed line
  // there would break the style sheet.
  bool style = false;
};

// Whether `url` may be written into a page as a repair: an http, https or
// ftp URL that reads as one, with no blank, control byte, "<", ">", '"' or
// "'". A server's Location is the server's text: "javascript:" or "file:"
// must never become the author's link.
bool IsSafeReplacementUrl(std::string_view url);

// Whether a repair with `options` leaves the row alone because its
// Alternate URL is no URL it may write; the reason for the log and the
// window when it does.
std::optional<std::string> UnsafeAlternateReason(const RepairRequest& request,
                                                 const RepairOptions& options);

// The text a line holding the request's URL becomes (without its line
// end), or nothing when the line is to be removed. `file_name` is the
// source file's name without its folder.
//   type 0: the whole line inside "<!-- QUIMBEL COMMENT " ... "-->";
//   type 1: the URL's first occurrence replaced by the file name (or, for
//           a 301, 302, 307 or 308 whose Alternate URL is a plain absolute URL, by
//           that), then the marker
//           comment with the URL when preserving; one-line comments are
//           dropped first when asked, and if that takes the URL's only
//           occurrence, the comment-free line is the result;
//   type 2: nothing.
// Whether a Reason is an HTTP status ("HTTP Code ..."): the option to pass
// over other failures leaves every other row, a local link's included, as
// it is, as its label says.
bool IsHttpCodeReason(std::string_view reason);

// Why a repair with `options` leaves a row's line as it is ("the repair
// passes over ..."); nothing when it rewrites it.
std::optional<std::string> LeftAloneReason(const RepairRequest& request,
                                           const RepairOptions& options);

// With skipNonHttp a Reason that is no HTTP code leaves the line as is;
// so does type 1 for a resource, as nothing stands in for a missing image.
std::optional<std::string> RewriteLine(std::string_view line, const RepairRequest& request,
                                       const RepairOptions& options, std::string_view file_name);

// The same for a line of a Markdown page, in Markdown's own syntax: type 1
// rewrites only the link's destination (a definition's URL takes no marker
// comment after it), type 2 keeps the link's text and drops the link, type
// 0 puts the link (a definition: its line) inside the marker comment. Each
// new line is read back by the parser, and one that would not read as
// meant is left as it was with `left_alone` saying why. A link written as
// HTML is rewritten as RewriteLine() does.
struct MarkdownLineRepair {
  std::optional<std::string> text;  // nothing: the line is removed
  std::string left_alone;           // when not empty, the line stays as it was
};
// `previous` is the line before: a definition's URL may stand below its label.
MarkdownLineRepair RewriteMarkdownLine(std::string_view line, const RepairRequest& request,
                                       const RepairOptions& options, std::string_view file_name,
                                       std::string_view previous = {});

// Whether a Markdown page's line holds a link to `url`, Markdown's own or
// HTML, that a repair can rewrite there.
bool MarkdownLineHoldsLink(std::string_view line, std::string_view url);

// Whether a line may hold the link a request names; on a Markdown page a
// bare "www." link is written without the "http://" it is requested with.
bool LineMayHoldLink(std::string_view line, std::string_view url, bool markdown);

// What a repair with `options` did with a row it handled (RowDone), or
// why it leaves a row alone, in a few words for the window; empty for a
// row it has not handled and would repair.
std::string HandledRowNote(const ResultRow& row, const RepairOptions& options);

}  // namespace quimbel
