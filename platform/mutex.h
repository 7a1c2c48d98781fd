// Mutex and MutexLock: a standard mutex that clang's thread-safety analysis
// understands, so the few fields shared between threads say which lock
// guards them (GUARDED_BY) and a build with -Wthread-safety checks every
// access. With other compilers the annotations compile to nothing. Any
// thread.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define QUIMBEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUIMBEL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) QUIMBEL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY QUIMBEL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) QUIMBEL_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) QUIMBEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) QUIMBEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QUIMBEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// For the rare function whose locking the analysis cannot follow; say why.
#define NO_THREAD_SAFETY_ANALYSIS QUIMBEL_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace quimbel {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Waits on a Mutex the caller holds (through a MutexLock); the analysis
// sees the lock held throughout, as it is whenever the caller's code runs.
using ConditionVariable = std::condition_variable_any;

}  // namespace quimbel
