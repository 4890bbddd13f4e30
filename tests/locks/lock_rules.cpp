// Compiled by the thread-safety step of scripts/test.sh, three times, to show that clang's analysis is on and
// refuses what the lock rules forbid: as it stands this file must compile; with BREAK_GUARD or BREAK_ORDER
// defined it must fail with the analysis's own message. If the annotations of core/ThreadSafety.h ever
// expanded to nothing, or the flags were lost, the broken variants would compile and the step would fail.
#include "core/ThreadSafety.h"

namespace lock_rules {

struct Counters {
    vngtl::Mutex outer;
    vngtl::Mutex inner ACQUIRED_AFTER(outer);
    int total GUARDED_BY(outer) = 0;
    int detail GUARDED_BY(inner) = 0;
};

int bump(Counters& counters);
int bump(Counters& counters)
{
#if defined(BREAK_ORDER)
    vngtl::MutexLock second(counters.inner);
    vngtl::MutexLock first(counters.outer);
#else
    vngtl::MutexLock first(counters.outer);
    vngtl::MutexLock second(counters.inner);
#endif
    counters.detail += 1;
    return ++counters.total;
}

int peek(Counters& counters);
int peek(Counters& counters)
{
#if !defined(BREAK_GUARD)
    vngtl::MutexLock guard(counters.outer);
#endif
    return counters.total;
}

}  // namespace lock_rules
