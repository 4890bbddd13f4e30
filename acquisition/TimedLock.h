// Timed locking against a deadline on the steady clock, for the engine's timed mutexes.
#pragma once

#include <chrono>

namespace vngtl {

// Tries to take `lock` (a unique_lock over a timed mutex) until `deadline`; true when it is held.
//
// WORKAROUND(tsan-clocklock): libstdc++ takes a timed mutex against the steady clock with
// pthread_mutex_clocklock, which GCC 12's ThreadSanitizer does not intercept; it then believes the mutex free
// and reports races on everything the mutex guards. Under ThreadSanitizer the same wait is expressed on the
// system clock, which goes through pthread_mutex_timedlock, an intercepted call.
template <class Lock>
bool try_lock_until(Lock& lock, std::chrono::steady_clock::time_point deadline)
{
#if defined(__SANITIZE_THREAD__)
    return lock.try_lock_until(std::chrono::system_clock::now() + (deadline - std::chrono::steady_clock::now()));
#else
    return lock.try_lock_until(deadline);
#endif
}

template <class Lock, class Rep, class Period>
bool try_lock_for(Lock& lock, std::chrono::duration<Rep, Period> timeout)
{
    return try_lock_until(lock, std::chrono::steady_clock::now() +
                                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout));
}

}  // namespace vngtl
