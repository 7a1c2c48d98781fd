// WorkerMessage and MessagePoster: how the worker threads report to the
// user-interface thread.
//
// A worker never touches run state. It posts messages; the host delivers
// them, in posting order, on the thread that owns the run (the window's
// event loop, or the headless MessageLoop of core/). Post() may be called
// from any thread.
#pragma once

#include <any>
#include <cstdint>
#include <string>

namespace quimbel {

// Message numbers, as offsets from the application message base.
enum class MessageId : int {
  kProbeDone = 12,  // probe over; param = outcome code
  kPurgeFileStarted = 14,
  kPurgeFileDone = 16,
  kPathChanged = 18,  // a watched file or folder changed; text = its path
};

struct WorkerMessage {
  MessageId id;
  std::uint64_t job = 0;   // the kick this message answers
  std::int64_t param = 0;  // the word parameter
  std::string text;        // the path (+14, +16, +18)
  std::any payload;        // the full outcome of +12 (a ProbeOutcome)
};

class MessagePoster {
 public:
  virtual ~MessagePoster() = default;
  virtual void Post(WorkerMessage message) = 0;
};

}  // namespace quimbel
