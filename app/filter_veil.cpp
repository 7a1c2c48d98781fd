#include "app/filter_veil.h"

#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace quimbel {
namespace {

// Quicker than this a result needs no sign: it shows before one is noticed.
constexpr int kBusySignAfterMs = 150;

}  // namespace

FilterVeil::FilterVeil(QWidget* viewport, std::function<bool()> pending)
    : QObject(viewport),
      viewport_(viewport),
      pending_(std::move(pending)),
      timer_(new QTimer(this)) {
  timer_->setSingleShot(true);
  timer_->setInterval(kBusySignAfterMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    busy_shown_ = pending_();
    if (busy_shown_) viewport_->setCursor(Qt::BusyCursor);
    viewport_->update();
  });
}

void FilterVeil::Update() {
  if (pending_()) {
    if (!busy_shown_ && !timer_->isActive()) timer_->start();
  } else {
    timer_->stop();
    if (busy_shown_) viewport_->unsetCursor();
    busy_shown_ = false;
  }
  viewport_->update();
}

void FilterVeil::Paint() {
  if (!pending_()) return;
  QPainter painter(viewport_);
  QColor veil = viewport_->palette().color(QPalette::Base);
  veil.setAlpha(190);
  painter.fillRect(viewport_->rect(), veil);
  if (!busy_shown_) return;
  painter.setPen(viewport_->palette().color(QPalette::Text));
  painter.drawText(viewport_->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                   QStringLiteral("Filtering\u2026"));
}

}  // namespace quimbel
