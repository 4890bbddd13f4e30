#include "acquisition/StreamPlacement.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

namespace vngtl {

namespace {

uint64_t running_mean(uint64_t mean, uint64_t value) noexcept
{
    return mean == 0 ? value : mean - mean / 8 + value / 8;
}

// How many frames in a row must find the copies caught up before a stream that fell behind is placed again.
constexpr uint32_t behind_settle_frames = 64;
// More frames than this waiting for their copy when the next one comes: the copies do not keep up (a
// copy thread held off for a moment leaves one or two).
constexpr uint64_t backlog_behind = 3;

// How many waits in a row the consumer must be seen on one CPU before the threads move there. With two in a
// row, at 1,000 frames/s on a two-CPU machine the threads moved at nearly every frame (a thousand affinity
// changes a second): the consumer, woken while the copy thread still ran on its CPU, was started on the
// other one, and the threads followed it there.
constexpr uint32_t consumer_settled = 16;

// How far (in thousandths of a CPU) a placed stream's load moves before its share is counted again.
constexpr uint32_t load_step = 10;

bool set_cpus(const cpu_set_t& cpus) noexcept
{
    return pthread_setaffinity_np(pthread_self(), sizeof cpus, &cpus) == 0;
}

// The shares of each CPU (in thousandths) that the process's streams placed there have taken.
std::atomic<uint32_t>& cpu_load(int cpu) noexcept
{
    static std::array<std::atomic<uint32_t>, CPU_SETSIZE> loads{};
    return loads[static_cast<size_t>(cpu)];
}

}  // namespace

StreamPlacement::StreamPlacement()
    : follows_([] {
          const char* chosen = std::getenv("VNGTL_STREAM_PLACEMENT");
          return chosen == nullptr || std::string_view(chosen) != "system";
      }())
{
}

StreamPlacement::~StreamPlacement()
{
    charge(everywhere, 0);
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
    if (cpu < 0 || cpu >= CPU_SETSIZE) {
        return;
    }
    // Counted in a row: a consumer that the system wakes on either CPU in turn (its waker is busy on its
    // own) would otherwise move the stream's threads after it every other frame.
    const uint32_t streak = last_seen_cpu_.exchange(cpu, std::memory_order_relaxed) == cpu
                                ? seen_in_a_row_.load(std::memory_order_relaxed) + 1
                                : 1;
    seen_in_a_row_.store(streak, std::memory_order_relaxed);
    if (streak >= consumer_settled) {
        consumer_cpu_.store(cpu, std::memory_order_relaxed);
    }
}

void StreamPlacement::frame_arrived(uint64_t now_ns, uint64_t backlog) noexcept
{
    if (!follows_) {
        return;
    }
    if (backlog > backlog_behind) {
        behind_frames_ = behind_settle_frames;
    } else if (behind_frames_ > 0) {
        --behind_frames_;
    }
    const uint64_t last = last_frame_ns_;
    last_frame_ns_ = now_ns;
    if (last == 0 || now_ns <= last) {
        return;
    }
    frame_interval_ns_ = running_mean(frame_interval_ns_, now_ns - last);
    const uint64_t busy_ns = copy_ns_.load(std::memory_order_relaxed) + hand_off_cost_ns;
    const auto load = static_cast<uint32_t>(std::min<uint64_t>(busy_ns * 1000 / frame_interval_ns_, 1000));
    // A stream placed stays while it fits the budget; one that spread comes back only with room to spare,
    // so that a load near the budget does not move the threads to and fro.
    const uint32_t limit = charged_cpu_ >= 0 ? cpu_budget : cpu_budget * 4 / 5;
    const int cpu = consumer_cpu_.load(std::memory_order_relaxed);
    if (cpu < 0 || behind_frames_ > 0 || load > limit || !charge(cpu, load)) {
        charge(everywhere, 0);
    }
}

bool StreamPlacement::charge(int cpu, uint32_t load) noexcept
{
    // The share kept is re-counted only when the load moved by more than a hundredth of the CPU, so that a
    // placed stream does not touch the shared count at every frame.
    const uint32_t moved = load > charged_load_ ? load - charged_load_ : charged_load_ - load;
    if (cpu == charged_cpu_ && (cpu < 0 || moved <= load_step)) {
        return true;
    }
    if (charged_cpu_ >= 0) {
        cpu_load(charged_cpu_).fetch_sub(charged_load_, std::memory_order_relaxed);
    }
    charged_cpu_ = everywhere;
    charged_load_ = 0;
    if (cpu >= 0) {
        std::atomic<uint32_t>& taken = cpu_load(cpu);
        uint32_t before = taken.load(std::memory_order_relaxed);
        do {
            if (before + load > cpu_budget) {
                target_.store(everywhere, std::memory_order_relaxed);
                return false;
            }
        } while (!taken.compare_exchange_weak(before, before + load, std::memory_order_relaxed));
        charged_cpu_ = cpu;
        charged_load_ = load;
    }
    target_.store(cpu >= 0 ? cpu : everywhere, std::memory_order_relaxed);
    return true;
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
    const int cpu = target_.load(std::memory_order_relaxed);
    if (cpu == thread.placed_) {
        return;
    }
    if (cpu < 0 || !CPU_ISSET(cpu, &thread.allowed_)) {
        if (thread.placed_ != everywhere && set_cpus(thread.allowed_)) {
            thread.placed_ = everywhere;
        }
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
