// Purge: the comment purge on its own. One file at a time goes to the
// purge worker, with a short settle between files so the window keeps up,
// and each gets a log line: its count of comments removed, or why it was
// left alone.
//
// Its owner shows the progress and ends the run through the hooks, and
// passes on the worker's messages and the settle timer. User-interface
// thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/run_host.h"
#include "platform/worker_message.h"
#include "purge/purge_worker.h"

namespace quimbel {

// Whether a purge asks before it changes any file. A purge cannot be
// undone, so the window asks; a command line that names --purge has
// already said yes.
enum class PurgeConfirmation { kAsk, kGiven };

// The question a purge asks before it starts.
std::string PurgeQuestion(std::size_t file_count);

class Purge {
 public:
  struct Hooks {
    // A file's turn: `number` counts the purge's files from 1.
    std::function<void(const std::string& file, int number)> on_file;
    // The last file is done, or the one under way when it was stopped.
    std::function<void()> on_end;
  };

  Purge(RunHost& host, MessagePoster& poster, Hooks hooks);

  // Starts the worker; once.
  void SetUp() { worker_.Start(); }
  void Start(std::vector<std::string> files);
  // The file under way is the last.
  void Stop() { files_.clear(); }
  // A new run supersedes what a stopped purge left: its worker's reply and
  // its settle timer no longer count.
  void Forget();

  // Whether a purge worker message is about this purge's file under way.
  bool Owns(std::uint64_t job) const { return job != 0 && job == job_; }
  void OnFileDone(const WorkerMessage& message);
  // The settle timer after a file: the next one's turn.
  void OnSettled();
  // Files of the last purge that could not be rewritten.
  int failures() const { return failures_; }

 private:
  void Next();

  RunHost& host_;
  PurgeWorker worker_;
  Hooks hooks_;
  std::deque<std::string> files_;  // the one under way first
  std::string current_;
  int number_ = 0;
  std::uint64_t job_ = 0;
  int comments_ = 0;
  std::string error_;  // why the file under way was left alone
  int failures_ = 0;
};

}  // namespace quimbel
