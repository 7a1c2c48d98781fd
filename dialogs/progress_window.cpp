#include "dialogs/progress_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace quimbel {
namespace {

// A one-line text that is clipped at the right edge instead of growing the
// window or wrapping.
QLabel* LineLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  label->setTextFormat(Qt::PlainText);
  label->setMinimumWidth(200);
  return label;
}

// A counter wide enough for any count, so the row never shifts or clips.
QLabel* NumberLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setMinimumWidth(label->fontMetrics().horizontalAdvance("00000"));
  return label;
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner, bool file_only)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle("Testing Progress");
  setModal(false);
  auto* layout = new QGridLayout(this);
  layout->setColumnStretch(1, 1);

  layout->addWidget(new QLabel("Current File:", this), 0, 0);
  current_file_ = LineLabel(this);
  layout->addWidget(current_file_, 0, 1);
  auto* file_counter = new QHBoxLayout;
  file_number_ = NumberLabel(this);
  file_total_ = NumberLabel(this);
  file_counter->addWidget(new QLabel("File:", this));
  file_counter->addWidget(file_number_);
  file_counter->addWidget(new QLabel("of", this));
  file_counter->addWidget(file_total_);
  file_counter->addStretch();
  layout->addLayout(file_counter, 1, 0, 1, 2);
  file_bar_ = new QProgressBar(this);
  file_bar_->setTextVisible(false);
  layout->addWidget(file_bar_, 2, 0, 1, 2);

  url_caption_ = new QLabel("Current URL:", this);
  layout->addWidget(url_caption_, 3, 0);
  current_url_ = LineLabel(this);
  layout->addWidget(current_url_, 3, 1);
  url_link_text_ = LineLabel(this);
  layout->addWidget(url_link_text_, 4, 1);
  auto* url_counter = new QHBoxLayout;
  url_counter_caption_ = new QLabel("URL:", this);
  url_number_ = NumberLabel(this);
  url_of_ = new QLabel("of", this);
  url_total_ = NumberLabel(this);
  url_counter->addWidget(url_counter_caption_);
  url_counter->addWidget(url_number_);
  url_counter->addWidget(url_of_);
  url_counter->addWidget(url_total_);
  url_counter->addStretch();
  layout->addLayout(url_counter, 5, 0, 1, 2);
  url_bar_ = new QProgressBar(this);
  url_bar_->setTextVisible(false);
  layout->addWidget(url_bar_, 6, 0, 1, 2);
  // A crawl finds its pages as it goes: it counts them here.
  pages_caption_ = new QLabel("Pages:", this);
  layout->addWidget(pages_caption_, 7, 0);
  pages_ = LineLabel(this);
  layout->addWidget(pages_, 7, 1);
  pages_caption_->hide();
  pages_->hide();

  if (file_only) {
    for (QWidget* part :
         std::initializer_list<QWidget*>{url_caption_, url_counter_caption_, url_of_, url_bar_}) {
      part->hide();
    }
  }
  setMinimumWidth(640);
  // Centred over the main window.
  if (owner) {
    adjustSize();
    const QWidget* top = owner->window();
    move(top->geometry().center() - rect().center());
  }
}

void ProgressWindow::Transfer(const ProgressTexts& texts) {
  current_file_->setText(QString::fromStdString(texts.current_file));
  file_number_->setText(QString::fromStdString(texts.file_number));
  file_total_->setText(QString::fromStdString(texts.file_total));
  current_url_->setText(QString::fromStdString(texts.current_url));
  url_link_text_->setText(QString::fromStdString(texts.url_link_text));
  url_number_->setText(QString::fromStdString(texts.url_number));
  url_total_->setText(QString::fromStdString(texts.url_total));
  const bool crawl = !texts.pages.empty();
  pages_caption_->setVisible(crawl);
  pages_->setVisible(crawl);
  if (crawl) {
    pages_->setText(QString::fromStdString(texts.pages + "  \u00b7  " + texts.links_checked));
  }
}

bool ProgressWindow::url_part_visible() const {
  return !url_bar_->isHidden();
}

void ProgressWindow::reject() {
  if (on_stop) on_stop();
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  // Only the end of the run closes it (by destroying it).
  event->ignore();
  if (on_stop) on_stop();
}

}  // namespace quimbel
