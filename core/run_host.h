// RunHost: everything a run shows or asks, behind one seam. The window
// implements it with widgets, quimbel-cli with standard error, and tests
// with a recorder that answers questions in advance. The controller calls
// it on the user-interface thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/beeper.h"
#include "platform/prompter.h"

namespace quimbel {

enum class StatusPane { kConnection = 1, kMethod = 2 };

inline constexpr std::string_view kConnectionStatusIdle = "Connection Status";
inline constexpr std::string_view kMethodStatusIdle = "HTTP Method Status";

// Timers of the results view.
inline constexpr int kWatchdogTimer = 105;
inline constexpr int kPurgeSettleTimer = 107;
// A watch waits this long after a page's last change before reading it,
// so that one save is one check.
inline constexpr int kWatchSettleTimer = 108;
// A test that has worked a while without waiting for any reply (pages
// whose links are all local) lets the loop run, then goes on.
inline constexpr int kContinueTimer = 109;

// The seven texts of the progress window.
struct ProgressTexts {
  std::string current_file;
  std::string file_number;
  std::string file_total;
  std::string current_url;
  std::string url_link_text;
  std::string url_number;
  std::string url_total;
  // A crawl's pages: "12 found, 9 fetched, 3 queued", and its links:
  // "3400 links checked, 250 a second"; empty for files.
  std::string pages;
  std::string links_checked;
  bool operator==(const ProgressTexts&) const = default;
};

// The modeless progress window of a run. Ranges start at 0 and step by 1.
class ProgressHost {
 public:
  virtual ~ProgressHost() = default;
  // file_only hides the URL part (a comment purge).
  virtual void CreateProgress(bool file_only) = 0;
  virtual void TransferProgress(const ProgressTexts& texts) = 0;
  virtual void SetFileBarRange(int count) = 0;
  virtual void StepFileBar() = 0;
  virtual void SetUrlBarRange(int count) = 0;
  virtual void StepUrlBar() = 0;
  virtual void SetUrlBarPosition(int position) = 0;
  virtual void DestroyProgress() = 0;
};

class RunHost : public Prompter, public Beeper, public ProgressHost {
 public:
  // Appends a text and a line break to the log (see LogLineText).
  virtual void LogAppend(std::string_view text) = 0;
  // A log line the user must see even when the log is not shown (a
  // damaged cache the run passes over): where the log is silenced, it is
  // said all the same.
  virtual void LogWarning(std::string_view text) { LogAppend(text); }
  virtual void LogClear() = 0;
  virtual void SetStatusText(StatusPane pane, std::string_view text) = 0;
  // Scrolls the results list so the row is wholly visible.
  virtual void ScrollToRow(std::size_t row) = 0;
  // Window-style timers: each fires repeatedly until killed, on the
  // user-interface thread, by calling the controller's OnTimer(id).
  virtual void StartTimer(int id, std::chrono::milliseconds interval) = 0;
  virtual void KillTimer(int id) = 0;
  // The long local date and time of the log lines.
  virtual std::string LongDateTime();
  // A watch checked a page again: its rows are now the `count` rows from
  // `first` (none: it lists nothing, or it is gone).
  virtual void PageCheckedAgain(const std::string& page, std::size_t first, std::size_t count) {
    (void)page;
    (void)first;
    (void)count;
  }
};

// The log's text for one append: the text with its CR LF pairs made plain
// line feeds, and one line feed after it. A text that ends in "\r\n" is
// therefore followed by an empty line.
std::string LogLineText(std::string_view text);

// The current local date and time in the long form: weekday and month
// spelled out, then the time ("Sunday, December 06, 2026 23:09:01").
std::string FormatLongDateTime(std::chrono::system_clock::time_point when);

}  // namespace quimbel
