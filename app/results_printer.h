// Printing the results: the indented listing of BuildReportLines in one
// bold font, paginated. Positions are in hundredths of an inch from the
// printable area's top-left corner: a line is its font's height plus 5
// high, lines start 75 from the left and two lines down, and a page holds
// (printable height - 2 lines - 3) / line height of them. User-interface thread only.
#pragma once

#include <QFont>
#include <string>
#include <vector>

class QPrinter;

namespace quimbel {

struct ListingLayout {
  int line_height = 0;     // hundredths of an inch
  int lines_per_page = 0;  // at least 1
};

QFont ListingFont();  // "Arial", 16 hundredths of an inch, bold
ListingLayout LayoutFor(QPrinter& printer);
// Prints the lines; the number of pages printed.
int PrintListing(QPrinter& printer, const std::vector<std::string>& lines);

}  // namespace quimbel
