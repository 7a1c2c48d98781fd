// The process's limit on open files, and the links in flight it allows.
// Any thread; the limit is the process's.
#pragma once

namespace quimbel {

// Raises the soft limit on open files to the hard one; the soft limit now.
int RaiseOpenFileLimit();

// The links in flight `limit` open files allow, at most `wanted`: a
// transfer holds a socket and its name lookup a pair more, and the
// program keeps some for its own files.
int ParallelWithinFileLimit(int wanted, int limit);

}  // namespace quimbel
