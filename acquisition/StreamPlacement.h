// Where a stream's two threads run. A frame crosses three thread hand-offs (board -> acquisition thread ->
// copy thread -> the consumer in EventGetData), and waking a thread on another CPU costs several times what
// waking one on the same CPU does. So while a stream keeps a CPU only lightly busy, its two threads move,
// each just before it next waits, to the CPU the consumer waits for a buffer on (seen there sixteen times in
// a row, so that neither a consumer calling from two threads nor one the system wakes on either CPU in turn
// drags them to and fro): the frame is then handed on within one CPU.
//
// How busy a stream keeps a CPU is estimated from the mean interval between its frames and the mean time a
// copy takes, plus a fixed cost per frame for its hand-offs; a stream whose copies fall behind its frames
// (the machine's CPUs are taken, whatever its own share) counts as busy for a while. The streams placed on
// one CPU share a budget
// of a quarter of it, so that the consumer keeps the rest: a stream that does not fit (frames close
// together, large frames, or the CPU already taken by other streams) leaves its threads on every CPU they
// started with, where the system places them. VNGTL_STREAM_PLACEMENT=system keeps them there always (for
// measuring one against the other, or for a consumer that places the threads itself).
//
// Thread safety: consumer_waits is called by the consumer's threads, frame_arrived (which decides) by the
// acquisition thread, copied by the copy thread, place by each stream thread for itself. They share relaxed
// atomics, which are hints: a stale value moves a thread a frame late, never wrongly. The budget of each
// CPU is one atomic shared by the streams of the process.
#pragma once

#include <atomic>
#include <cstdint>

#include <sched.h>

namespace vngtl {

class StreamPlacement {
public:
    // The share of a CPU, in thousandths, that the streams placed on it may take together.
    static constexpr uint32_t cpu_budget = 250;
    // What one frame's hand-offs cost the stream's threads beside the copy.
    static constexpr uint64_t hand_off_cost_ns = 30'000;

    StreamPlacement();
    // Gives back the stream's share of the CPU it was placed on.
    ~StreamPlacement();
    StreamPlacement(const StreamPlacement&) = delete;
    StreamPlacement& operator=(const StreamPlacement&) = delete;

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
    // On the acquisition thread, for each frame, at `now_ns` on the steady clock, with `backlog` frames
    // recorded and not yet copied: decides where the stream's threads go.
    void frame_arrived(uint64_t now_ns, uint64_t backlog) noexcept;
    // On the copy thread, after each copy, with the time it took.
    void copied(uint64_t took_ns) noexcept;
    // On a stream thread, before it waits: moves it to the CPU decided, or back to all of its own.
    void place(Thread& thread) noexcept;

private:
    static constexpr int unplaced = -1;
    static constexpr int everywhere = -2;

    // Takes the stream's share of `cpu` (everywhere: none) in place of its share of the CPU it had.
    bool charge(int cpu, uint32_t load) noexcept;

    const bool follows_;
    std::atomic<int> consumer_cpu_{unplaced};
    std::atomic<int> last_seen_cpu_{unplaced};
    std::atomic<uint32_t> seen_in_a_row_{0};
    // Means over about the last eight frames and copies.
    uint64_t last_frame_ns_ = 0;  // acquisition thread
    uint64_t frame_interval_ns_ = 0;  // acquisition thread
    std::atomic<uint64_t> copy_ns_{0};
    // Where both threads go, and the share of that CPU the stream has taken (acquisition thread, and the
    // destructor once the threads are gone).
    std::atomic<int> target_{everywhere};
    // Frames to go before a stream whose copies fell behind may be placed again (acquisition thread).
    uint32_t behind_frames_ = 0;
    int charged_cpu_ = everywhere;
    uint32_t charged_load_ = 0;
};

}  // namespace vngtl
