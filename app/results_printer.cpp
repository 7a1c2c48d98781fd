#include "app/results_printer.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

namespace quimbel {
namespace {

constexpr int kLeftMargin = 75;

double UnitsPerDevicePixel(QPrinter& printer) {
  return 100.0 / printer.resolution();
}

}  // namespace

QFont ListingFont() {
  QFont font("Arial");
  // Pixel sizes are drawn in the painter's units: hundredths of an inch.
  font.setPixelSize(16);
  font.setBold(true);
  return font;
}

ListingLayout LayoutFor(QPrinter& printer) {
  ListingLayout layout;
  layout.line_height = QFontMetrics(ListingFont()).height() + 5;
  const double height = printer.pageLayout().paintRectPixels(printer.resolution()).height() *
                        UnitsPerDevicePixel(printer);
  layout.lines_per_page =
      std::max(1, (static_cast<int>(height) - 2 * layout.line_height - 3) / layout.line_height);
  return layout;
}

int PrintListing(QPrinter& printer, const std::vector<std::string>& lines) {
  const ListingLayout layout = LayoutFor(printer);
  QPainter painter(&printer);
  if (!painter.isActive()) return 0;
  const double scale = 1.0 / UnitsPerDevicePixel(printer);
  painter.scale(scale, scale);
  painter.setFont(ListingFont());
  const int per_page = layout.lines_per_page;
  const int pages = std::max<int>(1, (static_cast<int>(lines.size()) + per_page - 1) / per_page);
  const double width =
      printer.pageLayout().paintRectPixels(printer.resolution()).width() / scale - kLeftMargin;
  for (int page = 0; page < pages; ++page) {
    if (page > 0) printer.newPage();
    for (int k = 0; k < per_page; ++k) {
      const auto index = static_cast<std::size_t>(page) * static_cast<std::size_t>(per_page) +
                         static_cast<std::size_t>(k);
      if (index >= lines.size()) break;
      const QRectF cell(kLeftMargin, 2 * layout.line_height + k * layout.line_height, width,
                        layout.line_height);
      painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                       QString::fromStdString(lines[index]));
    }
  }
  return pages;
}

}  // namespace quimbel
