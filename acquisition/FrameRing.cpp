#include "acquisition/FrameRing.h"

#include <algorithm>

namespace vngtl {

void FrameRing::resize(uint64_t capacity)
{
    MutexLock guard(lock_);
    capacity_ = capacity;
    head_ = tail_ = total_written_ = total_taken_ = total_skipped_ = 0;
    frames_.assign(capacity, 0);
    received_.assign(capacity, 0);
}

void FrameRing::reset()
{
    MutexLock guard(lock_);
    head_ = tail_ = total_written_ = total_taken_ = total_skipped_ = 0;
    std::fill(frames_.begin(), frames_.end(), 0);
    std::fill(received_.begin(), received_.end(), 0);
}

uint64_t FrameRing::total_written() const
{
    MutexLock guard(lock_);
    return total_written_;
}

uint64_t FrameRing::total_taken() const
{
    MutexLock guard(lock_);
    return total_taken_;
}

uint64_t FrameRing::total_skipped() const
{
    MutexLock guard(lock_);
    return total_skipped_;
}

uint64_t FrameRing::capacity() const
{
    MutexLock guard(lock_);
    return capacity_;
}

uint64_t FrameRing::pending() const
{
    MutexLock guard(lock_);
    return pending_locked();
}

uint64_t FrameRing::pending_locked() const noexcept
{
    return capacity_ == 0 ? 0 : (tail_ + capacity_ - head_) % capacity_;
}

uint64_t FrameRing::advance(uint64_t count, uint64_t newest_frame, uint64_t received_ns)
{
    MutexLock guard(lock_);
    if (capacity_ == 0) {
        return 0;
    }
    // The frames already pending plus the new ones: once they reach the capacity the board is about to write
    // over the oldest of them, so the head is moved past the tail and capacity - 1 frames stay pending.
    const uint64_t pending_with_new = pending_locked() + count;
    total_written_ += count;
    const uint64_t newest = newest_frame != 0 ? newest_frame : total_written_;
    // Only the last capacity positions written can still be pending; each is numbered back from the newest.
    const uint64_t numbered = std::min(count, capacity_);
    for (uint64_t back = numbered; back > 0; --back) {
        const uint64_t position = (tail_ + count - back) % capacity_;
        frames_[position] = newest - (back - 1);
        received_[position] = received_ns;
    }
    tail_ = (tail_ + count % capacity_) % capacity_;
    if (pending_with_new >= capacity_) {
        head_ = (tail_ + 1) % capacity_;
    }
    return pending_locked();
}

std::optional<FrameRing::Slot> FrameRing::take(uint64_t offset, uint64_t margin)
{
    MutexLock guard(lock_);
    if (head_ == tail_ || capacity_ == 0 || pending_locked() <= offset) {
        return std::nullopt;
    }
    // The board writes the tail's buffer, then the next ones in turn: with p frames pending, the frame
    // `offset` places after the head is overwritten once the board has written capacity - p - 1 + offset
    // whole frames after the current one. While that is under the margin, the oldest frame is given up.
    const uint64_t pending = pending_locked();
    const uint64_t needed = pending + 1 + margin;
    if (needed > capacity_ + offset) {
        const uint64_t skip = std::min(needed - capacity_ - offset, pending - offset - 1);
        head_ = (head_ + skip) % capacity_;
        total_taken_ += skip;
        total_skipped_ += skip;
    }
    const uint64_t oldest = head_;
    total_taken_ += 1;
    head_ = (head_ + 1) % capacity_;
    const uint64_t position = (oldest + offset) % capacity_;
    return Slot{position, frames_[position], received_[position]};
}

void FrameRing::skip_all()
{
    MutexLock guard(lock_);
    if (head_ != tail_) {
        total_taken_ += pending_locked();
        head_ = tail_;
    }
}

}  // namespace vngtl
