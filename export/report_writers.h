// The two forms of a results report: an indented text listing grouped by
// source file (also what is printed), and an HTML report with one link per
// row. Both take every row in list order, whatever its check box or repair
// marks. Any thread, given a list nobody changes meanwhile.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/result_list.h"
#include "platform/product.h"

namespace quimbel {

// The listing: each new File Name on a line of its own, then per row three
// spaces and the URL, six spaces and the Reason, six spaces and the Site
// Name, and six spaces and the Alternate URL when there is one.
std::vector<std::string> BuildReportLines(const ResultList& rows);

// Writes the listing, one line and a line end each, nothing else.
void WriteTextReport(std::ostream& out, const ResultList& rows);
// The same for the `count` rows from `first`, their file named first.
void WriteTextReportRows(std::ostream& out, const ResultList& rows, std::size_t first,
                         std::size_t count);

// Writes the HTML 3.2 report. `user` stands after " results for "; `date`
// after "Start of report: ". Every value is HTML-escaped, so the report
// shows each text exactly as the list does and page text cannot run as
// markup.
void WriteHtmlReport(std::ostream& out, const ResultList& rows, std::string_view user,
                     std::string_view date);

// The block at the top of the HTML report: the rows per reason as a small
// inline SVG bar chart, with "N rows · B broken · R redirects" above it.
// Reasons in the order of their first row.
void WriteHtmlSummary(std::ostream& out, const ResultList& rows);

// `&`, `<`, `>` and `"` as character references.
std::string HtmlEscape(std::string_view text);

// The account's full name, else its login name, else "".
std::string UserDisplayName();

}  // namespace quimbel
