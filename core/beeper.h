// Beeper: the system sounds a run makes. Implemented by the window (a real
// beep), the command-line front end and the tests (counted), so core code
// never calls a user-interface library. User-interface thread only.
#pragma once

namespace quimbel {

enum class BeepKind {
  kExclamation,  // an outcome without a report category
  kDefault,      // the end of a run
};

class Beeper {
 public:
  virtual ~Beeper() = default;
  virtual void Beep(BeepKind kind) = 0;
};

}  // namespace quimbel
