#include "cli/cli_host.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

void CliHost::LogWarning(std::string_view text) {
  if (!quiet_) {
    LogAppend(text);
    return;
  }
  std::string line = LogLineText(text);
  while (line.ends_with('\n'))
    line.pop_back();
  err_ << "quimbel: " << line << "\n";
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
  counts_ = {};
  started_ = std::chrono::steady_clock::now();
}

void CliHost::TransferProgress(const ProgressTexts& texts) {
  progress_ = texts;
  // Ten redraws a second are plenty, and a terminal is slow to write to.
  const auto now = std::chrono::steady_clock::now();
  if (progress_shown_ && now - drawn_ < std::chrono::milliseconds(100)) return;
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
  drawn_ = std::chrono::steady_clock::now();
  counts_.elapsed = drawn_ - started_;
  // One line, clipped at the right edge, never wrapped.
  winsize size{};
  const std::size_t width =
      ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
  err_ << ProgressLine(progress_, counts_, file_only_, width) << std::flush;
  progress_shown_ = true;
}

std::string ProgressLine(const ProgressTexts& texts, const ProgressCounts& counts, bool file_only,
                         std::size_t width) {
  // A crawl does not know its pages ahead: it counts them instead.
  const bool crawl = !texts.pages.empty();
  std::string line =
      crawl ? "Pages " + texts.pages : "File " + texts.file_number + " of " + texts.file_total;
  if (file_only || texts.url_number.empty()) {
    line += "  " + texts.current_file;
  } else {
    line += "  " + std::to_string(counts.links_done) + " links";
    const double seconds = std::chrono::duration<double>(counts.elapsed).count();
    const double rate = static_cast<double>(counts.links_done) / std::max(seconds, 1e-9);
    if (seconds >= 0.5 && counts.links_done > 0)
      line += "  " + std::to_string(std::lround(rate)) + "/s";
    const auto number = [](const std::string& text) { return std::atof(text.c_str()); };
    const double files_total = number(texts.file_total);
    const double file_number = number(texts.file_number);
    // A guess from the first few pages of thousands says nothing yet.
    const bool enough_pages = file_number >= 20 || file_number * 20 >= files_total;
    if (seconds >= 0.5 && counts.links_done > 0 && !crawl && enough_pages) {
      // What is left: the rest of this file, and the files after it at
      // the links per file seen so far.
      const double in_file = number(texts.url_total) - number(texts.url_number) + 1;
      const double seen = static_cast<double>(counts.links_done) + in_file;
      const double left = in_file + (files_total - file_number) * seen / std::max(file_number, 1.0);
      const long left_seconds = std::lround(left / rate);
      char clock[32];
      std::snprintf(clock, sizeof clock, "%ld:%02ld", left_seconds / 60, left_seconds % 60);
      line += "  ";
      line += clock;
      line += " left";
    }
    line += "  " + texts.current_url;
  }
  if (line.size() > width) line.resize(width);
  return line;
}

}  // namespace quimbel
