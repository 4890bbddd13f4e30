#include "acquisition/FrameWaitPlan.h"

#include <algorithm>

namespace vngtl {

void FrameWaitPlan::frame(uint32_t counter, uint32_t timestamp_us) noexcept
{
    drained_ = false;
    paused_ = false;
    // Counters and time stamps are the board's 32-bit ones: differences wrap as they do.
    const uint32_t frames = counter - last_counter_;
    if (have_last_ && frames != 0) {
        const uint64_t sample = uint64_t{static_cast<uint32_t>(timestamp_us - last_timestamp_us_)} * 1000u / frames;
        // A mean over about the last eight frames; the first sample is taken as it is.
        interval_ns_ = measured_ ? (interval_ns_ * 7 + sample) / 8 : sample;
        measured_ = true;
    }
    have_last_ = true;
    last_counter_ = counter;
    last_timestamp_us_ = timestamp_us;
}

void FrameWaitPlan::nothing() noexcept
{
    drained_ = true;
}

uint64_t FrameWaitPlan::pause_ns() const noexcept
{
    return std::min(max_pause_ns, interval_ns_ * buffers_ / 2);
}

FrameWaitPlan::Step FrameWaitPlan::next() const noexcept
{
    if (!have_last_) {
        return Step::Block;  // no frame yet: nothing to drain
    }
    if (!drained_) {
        return Step::Poll;
    }
    return close_together() && pause_ns() >= min_pause_ns && !paused_ ? Step::Pause : Step::Block;
}

}  // namespace vngtl
