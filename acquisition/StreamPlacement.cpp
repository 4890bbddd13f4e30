#include "acquisition/StreamPlacement.h"

#include <pthread.h>

#include <cstdlib>
#include <string_view>

namespace vngtl {

namespace {

uint64_t running_mean(uint64_t mean, uint64_t value) noexcept
{
    return mean == 0 ? value : mean - mean / 8 + value / 8;
}

bool set_cpus(const cpu_set_t& cpus) noexcept
{
    return pthread_setaffinity_np(pthread_self(), sizeof cpus, &cpus) == 0;
}

}  // namespace

StreamPlacement::StreamPlacement()
    : follows_([] {
          const char* chosen = std::getenv("VNGTL_STREAM_PLACEMENT");
          return chosen == nullptr || std::string_view(chosen) != "system";
      }())
{
}

StreamPlacement::Thread::Thread()
{
    CPU_ZERO(&allowed_);
    if (pthread_getaffinity_np(pthread_self(), sizeof allowed_, &allowed_) != 0) {
        CPU_ZERO(&allowed_);  // unknown: the thread is never moved
    }
}

void StreamPlacement::consumer_waits() noexcept
{
    if (!follows_) {
        return;
    }
    const int cpu = sched_getcpu();
    if (last_seen_cpu_.exchange(cpu, std::memory_order_relaxed) == cpu) {
        consumer_cpu_.store(cpu, std::memory_order_relaxed);
    }
}

void StreamPlacement::frame_arrived(uint64_t now_ns) noexcept
{
    const uint64_t last = last_frame_ns_.load(std::memory_order_relaxed);
    last_frame_ns_.store(now_ns, std::memory_order_relaxed);
    if (last != 0 && now_ns > last) {
        frame_interval_ns_.store(running_mean(frame_interval_ns_.load(std::memory_order_relaxed), now_ns - last),
                                 std::memory_order_relaxed);
    }
}

void StreamPlacement::copied(uint64_t took_ns) noexcept
{
    copy_ns_.store(running_mean(copy_ns_.load(std::memory_order_relaxed), took_ns), std::memory_order_relaxed);
}

void StreamPlacement::place(Thread& thread) noexcept
{
    if (!follows_ || CPU_COUNT(&thread.allowed_) == 0) {
        return;
    }
    const uint64_t interval = frame_interval_ns_.load(std::memory_order_relaxed);
    if (interval < frames_close_ns || copy_ns_.load(std::memory_order_relaxed) * 4 > interval) {
        if (thread.placed_ != everywhere && set_cpus(thread.allowed_)) {
            thread.placed_ = everywhere;
        }
        return;
    }
    const int cpu = consumer_cpu_.load(std::memory_order_relaxed);
    if (cpu < 0 || cpu == thread.placed_ || cpu >= CPU_SETSIZE || !CPU_ISSET(cpu, &thread.allowed_)) {
        return;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (set_cpus(one)) {
        thread.placed_ = cpu;
    }
}

}  // namespace vngtl
