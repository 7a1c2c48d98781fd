// FilterVeil: what a list shows while a filter text is still being matched
// on a big list. The rows shown then are those of the last text, some of
// which the new one may take away: they are veiled at once, so none passes
// for a match, and after a moment the veil says the list is filtering and
// the pointer turns busy. User-interface thread only.
#pragma once

#include <QObject>
#include <functional>

class QTimer;
class QWidget;

namespace quimbel {

class FilterVeil : public QObject {
 public:
  // `viewport` is the list's drawing surface; `pending` tells whether rows
  // shown may not match.
  FilterVeil(QWidget* viewport, std::function<bool()> pending);

  // After the filter text or the rows shown changed.
  void Update();
  // Paints over the rows, at the end of the viewport's paint event.
  void Paint();
  // Whether the busy sign shows.
  bool busy_shown() const { return busy_shown_; }

 private:
  QWidget* viewport_;
  std::function<bool()> pending_;
  QTimer* timer_;
  bool busy_shown_ = false;
};

}  // namespace quimbel
