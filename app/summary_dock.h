// SummaryDock: View > Summary. A bar chart of the rows per reason (Qt
// Charts); a click on a bar shows only that reason's rows in the list, a
// second click on it every row again. User-interface thread only.
#pragma once

#include <QDockWidget>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

#include "core/row_order.h"

class QBarSet;
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
  // Shows every reason again, as a second click on the chosen bar would.
  void ClearChoice();
  // The reason shown alone, if any.
  std::optional<std::string> chosen_reason() const;
  const ReasonCounts& counts() const { return counts_; }
  // The bars' labels as drawn (rich text), the last reason first.
  const QStringList& labels() const { return labels_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  ReasonCounts counts_;
  // Highlights the chosen bar (and only it) on the chart as drawn.
  void MarkChosenBar();

  // Where the chosen reason's bar is now, if it has one.
  std::optional<int> ChosenIndex() const;
  // The chosen bar's reason: a recheck that moves the bars keeps the
  // reason the list is filtered by, not the place.
  std::optional<std::string> chosen_;
  QChartView* view_ = nullptr;
  QBarSet* bars_ = nullptr;  // owned by the chart
  QStringList labels_;
};

}  // namespace quimbel
