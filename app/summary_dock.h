// SummaryDock: View > Summary. A bar chart of the rows per reason (Qt
// Charts); a click on a bar shows only that reason's rows in the list, a
// second click on it every row again. User-interface thread only.
#pragma once

#include <QDockWidget>
#include <functional>
#include <optional>
#include <string>

#include "core/row_order.h"

class QChartView;

namespace quimbel {

class SummaryDock : public QDockWidget {
 public:
  explicit SummaryDock(QWidget* parent);

  // Redraws the chart for these counts.
  void Show(const ReasonCounts& counts);
  // A click on a bar: the reason to show alone, or nothing for all rows.
  std::function<void(std::optional<std::string>)> on_reason_chosen;
  // As a click on the bar of `index` would.
  void ChooseBar(int index);
  const ReasonCounts& counts() const { return counts_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  ReasonCounts counts_;
  std::optional<int> chosen_;
  QChartView* view_ = nullptr;
};

}  // namespace quimbel
