#include "platform/open_files.h"

#include <sys/resource.h>

#include <algorithm>
#include <climits>

namespace quimbel {

int RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return INT_MAX;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > INT_MAX
             ? INT_MAX
             : static_cast<int>(limit.rlim_cur);
}

int ParallelWithinFileLimit(int wanted, int limit) {
  constexpr int kKept = 48;        // the program's own files, the loop's pipes, the pages read
  constexpr int kPerTransfer = 3;  // a socket, and the lookup's pair
  return std::clamp((limit - kKept) / kPerTransfer, 1, std::max(wanted, 1));
}

}  // namespace quimbel
