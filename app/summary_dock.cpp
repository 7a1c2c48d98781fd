#include "app/summary_dock.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QFontMetrics>
#include <QHorizontalBarSeries>
#include <QValueAxis>
#include <algorithm>

namespace quimbel {

namespace {

// A long reason on two lines (the axis labels are rich text), so the
// chart's narrow label column cuts as little of it as it can.
QStringList TwoLines(const QString& text) {
  if (text.size() < 20) return {text};
  int best = -1;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == ' ' &&
        (best < 0 || std::abs(i - text.size() / 2) < std::abs(best - text.size() / 2)))
      best = i;
  }
  if (best < 0) return {text};
  return {text.left(best), text.mid(best + 1)};
}

}  // namespace

SummaryDock::SummaryDock(QWidget* parent) : QDockWidget("Summary", parent) {
  setObjectName("SummaryDock");
  view_ = new QChartView(this);
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setMinimumSize(320, 160);
  setWidget(view_);
  Show({});
}

void SummaryDock::Show(const ReasonCounts& counts) {
  counts_ = counts;
  if (!ChosenIndex()) chosen_.reset();
  auto* chart = new QChart;
  chart->legend()->hide();
  std::size_t rows = 0;
  for (const auto& entry : counts_.reasons)
    rows += entry.second;
  const auto counted = [](std::size_t n, const char* what) {
    return QString("%1 %2%3").arg(static_cast<qulonglong>(n)).arg(what).arg(n == 1 ? "" : "s");
  };
  chart->setTitle(counted(rows, "row") + ", " + counted(counts_.redirects, "redirect"));
  auto* bars = new QBarSet("Rows");
  QList<QStringList> lines;
  std::size_t most = 1;
  // The first reason at the top.
  for (auto entry = counts_.reasons.rbegin(); entry != counts_.reasons.rend(); ++entry) {
    *bars << static_cast<qreal>(entry->second);
    lines << TwoLines(QString::fromStdString(entry->first));
    most = std::max(most, entry->second);
  }
  auto* series = new QHorizontalBarSeries;
  series->append(bars);
  chart->addSeries(series);
  auto* reasons = new QBarCategoryAxis;
  // Wide enough for the longest reason next to its bar, within reason: the
  // chart gives its axis labels at most two fifths of its width, less
  // padding. A line still too long loses its middle, not its end, so
  // "Error: Can't…Named Host" and "Error: Can't…to Host" stay apart
  // (the chart's own cut would leave both "Error:…").
  int longest = 0;
  const QFontMetrics metrics(reasons->labelsFont());
  for (const QStringList& reason : lines) {
    for (const QString& line : reason)
      longest = std::max(longest, metrics.horizontalAdvance(line));
  }
  const int width = std::clamp(longest * 3 + 60, 320, 560);
  view_->setMinimumWidth(width);
  const int room = width * 2 / 5 - 24;
  labels_.clear();
  for (const QStringList& reason : lines) {
    QStringList shown;
    for (const QString& line : reason)
      shown << metrics.elidedText(line, Qt::ElideMiddle, room).toHtmlEscaped();
    labels_ << shown.join("<br>");
  }
  reasons->setTruncateLabels(false);
  reasons->append(labels_);
  chart->addAxis(reasons, Qt::AlignLeft);
  series->attachAxis(reasons);
  auto* values = new QValueAxis;
  values->setRange(0, static_cast<qreal>(most));
  // Whole, round steps (0, 3, 6, 9, 12 rather than 0, 2.75, 5.5, ...).
  values->setTickCount(static_cast<int>(std::min<std::size_t>(most, 4)) + 1);
  values->applyNiceNumbers();
  values->setLabelFormat("%d");
  chart->addAxis(values, Qt::AlignBottom);
  series->attachAxis(values);
  // Drawn in the window's own colours, so a dark style gets a dark chart.
  const QPalette colours = palette();
  chart->setBackgroundBrush(colours.base());
  chart->setTitleBrush(colours.text());
  for (QAbstractAxis* axis : chart->axes()) {
    axis->setLabelsBrush(colours.text());
    axis->setLinePenColor(colours.color(QPalette::Mid));
    axis->setGridLineColor(colours.color(QPalette::Mid));
  }
  bars->setColor(colours.color(QPalette::Highlight));
  bars->setBorderColor(colours.color(QPalette::Highlight));
  // The chosen bar stands out: it is what the list shows.
  bars->setSelectedColor(colours.color(QPalette::Link).darker(130));
  const int size = static_cast<int>(counts_.reasons.size());
  connect(bars, &QBarSet::clicked, this, [this, size](int shown) { ChooseBar(size - 1 - shown); });
  QChart* old = view_->chart();
  view_->setChart(chart);
  delete old;
  bars_ = bars;
  MarkChosenBar();
}

void SummaryDock::MarkChosenBar() {
  if (bars_ == nullptr) return;
  bars_->deselectAllBars();
  const int size = static_cast<int>(counts_.reasons.size());
  if (const auto index = ChosenIndex()) bars_->selectBar(size - 1 - *index);
}

std::optional<int> SummaryDock::ChosenIndex() const {
  if (!chosen_) return std::nullopt;
  for (std::size_t i = 0; i < counts_.reasons.size(); ++i) {
    if (counts_.reasons[i].first == *chosen_) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<std::string> SummaryDock::chosen_reason() const {
  return ChosenIndex() ? chosen_ : std::nullopt;
}

void SummaryDock::ClearChoice() {
  if (!chosen_) return;
  chosen_.reset();
  MarkChosenBar();
  if (on_reason_chosen) on_reason_chosen(std::nullopt);
}

void SummaryDock::changeEvent(QEvent* event) {
  QDockWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && view_ != nullptr) Show(counts_);
}

void SummaryDock::ChooseBar(int index) {
  if (index < 0 || index >= static_cast<int>(counts_.reasons.size())) return;
  const std::string& reason = counts_.reasons[static_cast<std::size_t>(index)].first;
  chosen_ = chosen_ == reason ? std::nullopt : std::optional<std::string>(reason);
  MarkChosenBar();
  if (on_reason_chosen) on_reason_chosen(chosen_reason());
}

}  // namespace quimbel
