#include "cli/cli_host.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace quimbel {

CliHost::CliHost(MessageLoop& loop, std::ostream& err, bool quiet, bool terminal)
    : loop_(loop), err_(err), quiet_(quiet), terminal_(terminal && !quiet) {}

void CliHost::ShowMessage(const std::string& text, MessageIcon) {
  ClearProgressLine();
  err_ << "quimbel: " << text << '\n';
  failed_ = true;
  DrawProgressLine();
}

bool CliHost::AskYesNo(const std::string& text, MessageIcon) {
  // Nobody is there to answer: the careful answer is No.
  ClearProgressLine();
  err_ << "quimbel: " << text << " (No)\n";
  return false;
}

void CliHost::LogAppend(std::string_view text) {
  if (quiet_) return;
  ClearProgressLine();
  err_ << LogLineText(text);
  DrawProgressLine();
}

void CliHost::StartTimer(int id, std::chrono::milliseconds interval) {
  loop_.StartTimer(id, interval, [this, id] {
    if (on_timer) on_timer(id);
  });
}

void CliHost::KillTimer(int id) {
  loop_.KillTimer(id);
}

void CliHost::CreateProgress(bool file_only) {
  file_only_ = file_only;
  progress_ = {};
}

void CliHost::TransferProgress(const ProgressTexts& texts) {
  progress_ = texts;
  ClearProgressLine();
  DrawProgressLine();
}

void CliHost::DestroyProgress() {
  ClearProgressLine();
  progress_ = {};
}

void CliHost::ClearProgressLine() {
  if (!progress_shown_) return;
  err_ << "\r\033[K" << std::flush;
  progress_shown_ = false;
}

void CliHost::DrawProgressLine() {
  if (!terminal_ || progress_.file_number.empty()) return;
  std::string line = "File " + progress_.file_number + " of " + progress_.file_total;
  if (!file_only_ && !progress_.url_number.empty()) {
    line += "  URL " + progress_.url_number + " of " + progress_.url_total + "  " +
            progress_.current_url;
  } else {
    line += "  " + progress_.current_file;
  }
  // One line, clipped at the right edge, never wrapped.
  winsize size{};
  const std::size_t width =
      ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
  if (line.size() > width) line.resize(width);
  err_ << line << std::flush;
  progress_shown_ = true;
}

}  // namespace quimbel
