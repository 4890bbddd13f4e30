// Lock rules the compiler checks: the annotations of Clang's thread-safety analysis and the lock types that
// carry them. The clang build (scripts/fuzz.sh, which compiles every layer) runs the analysis with
// -Wthread-safety -Wthread-safety-beta as errors: state marked GUARDED_BY a lock is touched only with that lock
// held, a function marked REQUIRES is called only with its locks held, and locks marked ACQUIRED_AFTER are
// taken in that order within one function. Under GCC the macros are empty and the types are the standard ones
// with the same cost.
//
// What the analysis cannot see: it follows one function at a time, so a lock taken in one function and
// relied on in another is a REQUIRES on the second; a lambda is a function of its own (a predicate a wait runs
// under the lock says so with REQUIRES); a recursive lock is not a capability it knows (the board's state lock
// is annotated as a plain one, see board/VNBoards.h); a lock held beyond the call that took it (the board's
// memory lock, which a FrameView carries) is left to the documented order; and the order checks see only the
// locks one function takes.
#pragma once

#include <chrono>
#include <mutex>

#if defined(__clang__)
#define VNGTL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VNGTL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VNGTL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VNGTL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VNGTL_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VNGTL_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VNGTL_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VNGTL_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VNGTL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) VNGTL_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) VNGTL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) VNGTL_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) VNGTL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) VNGTL_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) VNGTL_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VNGTL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VNGTL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS VNGTL_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace vngtl {

// A lock the analysis knows: the standard one it wraps (std::mutex, std::timed_mutex), locked through a
// MutexLock.
template <class Native>
class CAPABILITY("mutex") BasicMutex {
public:
    void lock() ACQUIRE() { native_.lock(); }
    void unlock() RELEASE() { native_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return native_.try_lock(); }
    // For the lock types below only.
    Native& native() noexcept { return native_; }

private:
    Native native_;
};

using Mutex = BasicMutex<std::mutex>;
using TimedMutex = BasicMutex<std::timed_mutex>;
// Known to the analysis as a plain lock: it cannot follow a lock taken again by the thread that holds it, so
// no function that may run with it held is marked EXCLUDES it.
using RecursiveTimedMutex = BasicMutex<std::recursive_timed_mutex>;

// Holds a BasicMutex for its scope, as std::unique_lock does (and can give it up and take it again inside the
// scope). It is itself a lock, so a std::condition_variable_any waits on it directly; a std::condition_variable
// waits on native().
template <class Native>
class SCOPED_CAPABILITY BasicMutexLock {
public:
    explicit BasicMutexLock(BasicMutex<Native>& mutex) ACQUIRE(mutex) : lock_(mutex.native()) {}
    // Does not take the lock; the caller locks it (try_lock_for, try_lock_until or lock) before using what it
    // guards.
    BasicMutexLock(BasicMutex<Native>& mutex, std::defer_lock_t) EXCLUDES(mutex)
        : lock_(mutex.native(), std::defer_lock)
    {
    }
    ~BasicMutexLock() RELEASE() {}
    BasicMutexLock(const BasicMutexLock&) = delete;
    BasicMutexLock& operator=(const BasicMutexLock&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }
    // Tries to take the lock until `deadline` (a timed mutex only); true when it is held.
    //
    // WORKAROUND(tsan-clocklock): libstdc++ takes a timed mutex against the steady clock with
    // pthread_mutex_clocklock, which GCC 12's ThreadSanitizer does not intercept; it then believes the mutex
    // free and reports races on everything the mutex guards. Under ThreadSanitizer the same wait is expressed
    // on the system clock, which goes through pthread_mutex_timedlock, an intercepted call.
    bool try_lock_until(std::chrono::steady_clock::time_point deadline) TRY_ACQUIRE(true)
    {
#if defined(__SANITIZE_THREAD__)
        return lock_.try_lock_until(std::chrono::system_clock::now() + (deadline - std::chrono::steady_clock::now()));
#else
        return lock_.try_lock_until(deadline);
#endif
    }
    template <class Rep, class Period>
    bool try_lock_for(std::chrono::duration<Rep, Period> timeout) TRY_ACQUIRE(true)
    {
        return try_lock_until(std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout));
    }
    bool owns_lock() const noexcept { return lock_.owns_lock(); }
    // For std::condition_variable, which waits on the standard lock type.
    std::unique_lock<Native>& native() noexcept { return lock_; }

private:
    std::unique_lock<Native> lock_;
};

using MutexLock = BasicMutexLock<std::mutex>;
using TimedMutexLock = BasicMutexLock<std::timed_mutex>;
using RecursiveTimedMutexLock = BasicMutexLock<std::recursive_timed_mutex>;

}  // namespace vngtl
