// ProgressWindow: the modeless Testing Progress window of a run. No buttons,
// no close box; the run writes its values through RunHost. In file-only
// mode (a comment purge) the URL part is hidden. User-interface thread only.
#pragma once

#include <QDialog>
#include <functional>

#include "core/run_host.h"

class QLabel;
class QProgressBar;

namespace quimbel {

class ProgressWindow : public QDialog {
 public:
  ProgressWindow(QWidget* owner, bool file_only);

  void Transfer(const ProgressTexts& texts);
  // What Esc asks for: the run stops, and the run closes the window. The
  // user cannot close it otherwise.
  std::function<void()> on_stop;
  QProgressBar* file_bar() const { return file_bar_; }
  QProgressBar* url_bar() const { return url_bar_; }

  // For tests and screenshots.
  QLabel* current_file_label() const { return current_file_; }
  bool url_part_visible() const;

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* current_file_;
  QLabel* file_number_;
  QLabel* file_total_;
  QLabel* current_url_;
  QLabel* url_link_text_;
  QLabel* url_number_;
  QLabel* url_total_;
  QLabel* url_caption_;
  QLabel* url_counter_caption_;
  QLabel* url_of_;
  QLabel* pages_caption_;
  QLabel* pages_;
  QProgressBar* file_bar_;
  QProgressBar* url_bar_;
};

}  // namespace quimbel
