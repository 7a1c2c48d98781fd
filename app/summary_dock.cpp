#include "app/summary_dock.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QHorizontalBarSeries>
#include <QValueAxis>

namespace quimbel {

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
  if (chosen_ && *chosen_ >= static_cast<int>(counts_.reasons.size())) chosen_.reset();
  auto* chart = new QChart;
  chart->legend()->hide();
  chart->setTitle(QString("%1 rows, %2 redirects")
                      .arg(static_cast<qulonglong>([&] {
                        std::size_t rows = 0;
                        for (const auto& entry : counts_.reasons)
                          rows += entry.second;
                        return rows;
                      }()))
                      .arg(static_cast<qulonglong>(counts_.redirects)));
  auto* bars = new QBarSet("Rows");
  QStringList names;
  std::size_t most = 1;
  // The first reason at the top.
  for (auto entry = counts_.reasons.rbegin(); entry != counts_.reasons.rend(); ++entry) {
    *bars << static_cast<qreal>(entry->second);
    names << QString::fromStdString(entry->first);
    most = std::max(most, entry->second);
  }
  auto* series = new QHorizontalBarSeries;
  series->append(bars);
  chart->addSeries(series);
  auto* reasons = new QBarCategoryAxis;
  reasons->append(names);
  chart->addAxis(reasons, Qt::AlignLeft);
  series->attachAxis(reasons);
  auto* values = new QValueAxis;
  values->setRange(0, static_cast<qreal>(most));
  values->setLabelFormat("%d");
  chart->addAxis(values, Qt::AlignBottom);
  series->attachAxis(values);
  const int size = static_cast<int>(counts_.reasons.size());
  connect(bars, &QBarSet::clicked, this, [this, size](int shown) { ChooseBar(size - 1 - shown); });
  QChart* old = view_->chart();
  view_->setChart(chart);
  delete old;
}

void SummaryDock::ChooseBar(int index) {
  if (index < 0 || index >= static_cast<int>(counts_.reasons.size())) return;
  chosen_ = chosen_ == index ? std::nullopt : std::optional<int>(index);
  if (on_reason_chosen) {
    on_reason_chosen(chosen_ ? std::optional<std::string>(
                                   counts_.reasons[static_cast<std::size_t>(*chosen_)].first)
                             : std::nullopt);
  }
}

}  // namespace quimbel
