// Large blocks go back to the system as soon as they are freed.
//
// The list's sorting and filtering jobs run on threads of their own and
// each needs working arrays of tens of megabytes for a million rows. glibc
// serves the first such array from mmap, then raises its threshold to the
// size freed, and from there on keeps every later one in the thread's heap
// when it is freed: the window grew by a hundred megabytes over a few sorts
// and never gave it back. A fixed threshold keeps those arrays in mmap.
#pragma once

#include <malloc.h>

namespace quimbel {

inline void ReturnLargeBlocksToSystem() {
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

}  // namespace quimbel
