// How the acquisition thread waits for the board's next frame. A board waking the thread for every frame
// costs a thread switch per frame on each side, which at tens of thousands of frames a second is most of
// the stream's CPU time. So the thread drains what the board has completed with polls (a wait of no time),
// hands the whole burst to the copy thread with one wake-up, and then:
//   - frames far apart (or too few board buffers to hold a pause's worth of them): it blocks on the board
//     until the next frame, as before, so that each frame is handed on the moment it completes;
//   - frames close together: it sleeps a short pause before polling again, so that the frames completed
//     meanwhile are taken in one burst, as a network card moderates its interrupts. The pause is bounded
//     by half of what the board's buffers hold at the current interval (so the board does not come round
//     to a buffer not yet taken) and by max_pause; a poll after a pause that finds nothing goes back to
//     blocking, so a stream whose frames stop uses no CPU.
// The interval is the board's own: the time stamps of the frames taken, over their frame counters, so the
// bursts themselves do not shorten it.
//
// Thread safety: none; the acquisition thread owns its plan.
#pragma once

#include <cstdint>

namespace vngtl {

class FrameWaitPlan {
public:
    // Frames closer together than this are taken in bursts.
    static constexpr uint64_t burst_below_ns = 20'000;
    // No pause is shorter (a sleep shorter than a timer's usual wake-up buys nothing) or longer than these.
    static constexpr uint64_t min_pause_ns = 20'000;
    static constexpr uint64_t max_pause_ns = 50'000;

    enum class Step { Block, Poll, Pause };

    // `buffers`: the board's circular buffers for this acquisition.
    explicit FrameWaitPlan(uint32_t buffers) noexcept : buffers_(buffers) {}

    // A frame was taken: its board frame counter and its time stamp in microseconds.
    void frame(uint32_t counter, uint32_t timestamp_us) noexcept;
    // A poll found no frame.
    void nothing() noexcept;
    // A pause was slept: a poll comes next.
    void paused() noexcept
    {
        paused_ = true;
        drained_ = false;
    }

    // Whether the board's frames come closer together than burst_below_ns.
    bool close_together() const noexcept { return measured_ && interval_ns_ < burst_below_ns; }
    // What to do next, and for a pause how long (pause_ns()).
    Step next() const noexcept;
    uint64_t pause_ns() const noexcept;
    // The mean interval between the board's frames (0 also until two frames were seen).
    uint64_t interval_ns() const noexcept { return interval_ns_; }

private:
    const uint32_t buffers_;
    bool have_last_ = false;
    uint32_t last_counter_ = 0;
    uint32_t last_timestamp_us_ = 0;
    uint64_t interval_ns_ = 0;
    bool measured_ = false;  // interval_ns_ holds at least one interval
    bool drained_ = false;  // the last poll found nothing
    bool paused_ = false;   // a pause was slept since the last frame
};

}  // namespace vngtl
