// Where a stream's two threads run. A frame crosses three thread hand-offs (board -> acquisition thread ->
// copy thread -> the consumer in EventGetData), and waking a thread on another CPU costs several times what
// waking one on the same CPU does. So while the stream leaves its threads mostly idle, each of them moves,
// before it next waits, to the CPU the consumer last waited for a buffer on (seen there twice in a row, so
// that a consumer calling from two threads does not move them at every frame): the frame is then handed on
// within one CPU. While frames come closer together than a few hand-offs, or copying them keeps a CPU more
// than a quarter busy, the stream's threads need a CPU of their own beside the consumer's, and go back to
// every CPU they started with, where the system places them. VNGTL_STREAM_PLACEMENT=system keeps them there
// always (for measuring one against the other, or for a consumer that places the threads itself).
//
// Thread safety: consumer_waits is called by the consumer's threads, frame_arrived by the acquisition thread,
// copied by the copy thread, place by each stream thread for itself; all share only relaxed atomics, which
// are hints: a stale value moves a thread a frame late, never wrongly.
#pragma once

#include <atomic>
#include <cstdint>

#include <sched.h>

namespace vngtl {

class StreamPlacement {
public:
    // Below this mean interval between frames the threads stay where the system puts them.
    static constexpr uint64_t frames_close_ns = 50'000;

    StreamPlacement();

    // One stream thread's own placement: the CPUs it started with, and where it has put itself.
    class Thread {
    public:
        Thread();

    private:
        friend class StreamPlacement;
        cpu_set_t allowed_;
        int placed_ = unplaced;
    };

    // In EventGetData, on the consumer's thread, before it waits.
    void consumer_waits() noexcept;
    // On the acquisition thread, for each frame, at `now_ns` on the steady clock.
    void frame_arrived(uint64_t now_ns) noexcept;
    // On the copy thread, after each copy, with the time it took.
    void copied(uint64_t took_ns) noexcept;
    // On a stream thread, before it waits: moves it to the consumer's CPU or back to all of its own.
    void place(Thread& thread) noexcept;

private:
    static constexpr int unplaced = -1;
    static constexpr int everywhere = -2;

    const bool follows_;
    std::atomic<int> consumer_cpu_{unplaced};
    std::atomic<int> last_seen_cpu_{unplaced};
    std::atomic<uint64_t> last_frame_ns_{0};
    // Means over about the last eight frames and copies.
    std::atomic<uint64_t> frame_interval_ns_{0};
    std::atomic<uint64_t> copy_ns_{0};
};

}  // namespace vngtl
