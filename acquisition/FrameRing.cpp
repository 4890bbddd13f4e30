#include "acquisition/FrameRing.h"

#include <algorithm>

namespace vngtl {

void FrameRing::resize(uint64_t capacity)
{
    std::lock_guard guard(lock_);
    capacity_ = capacity;
    head_ = tail_ = total_written_ = total_taken_ = 0;
    frames_.assign(capacity, 0);
}

void FrameRing::reset()
{
    std::lock_guard guard(lock_);
    head_ = tail_ = total_written_ = total_taken_ = 0;
    std::fill(frames_.begin(), frames_.end(), 0);
}

uint64_t FrameRing::total_written() const
{
    std::lock_guard guard(lock_);
    return total_written_;
}

uint64_t FrameRing::total_taken() const
{
    std::lock_guard guard(lock_);
    return total_taken_;
}

uint64_t FrameRing::capacity() const
{
    std::lock_guard guard(lock_);
    return capacity_;
}

uint64_t FrameRing::pending() const
{
    std::lock_guard guard(lock_);
    return pending_locked();
}

uint64_t FrameRing::pending_locked() const noexcept
{
    return capacity_ == 0 ? 0 : (tail_ + capacity_ - head_) % capacity_;
}

void FrameRing::advance(uint64_t count, uint64_t newest_frame)
{
    std::lock_guard guard(lock_);
    if (capacity_ == 0) {
        return;
    }
    // The frames already pending plus the new ones: once they reach the capacity the board is about to write
    // over the oldest of them, so the head is moved past the tail and capacity - 1 frames stay pending.
    const uint64_t pending_with_new = pending_locked() + count;
    total_written_ += count;
    const uint64_t newest = newest_frame != 0 ? newest_frame : total_written_;
    // Only the last capacity positions written can still be pending; each is numbered back from the newest.
    const uint64_t numbered = std::min(count, capacity_);
    for (uint64_t back = numbered; back > 0; --back) {
        frames_[(tail_ + count - back) % capacity_] = newest - (back - 1);
    }
    tail_ = (tail_ + count % capacity_) % capacity_;
    if (pending_with_new >= capacity_) {
        head_ = (tail_ + 1) % capacity_;
    }
}

std::optional<FrameRing::Slot> FrameRing::take(uint64_t offset)
{
    std::lock_guard guard(lock_);
    if (head_ == tail_ || capacity_ == 0 || pending_locked() <= offset) {
        return std::nullopt;
    }
    const uint64_t oldest = head_;
    total_taken_ += 1;
    head_ = (head_ + 1) % capacity_;
    const uint64_t position = (oldest + offset) % capacity_;
    return Slot{position, frames_[position]};
}

void FrameRing::skip_all()
{
    std::lock_guard guard(lock_);
    if (head_ != tail_) {
        total_taken_ += pending_locked();
        head_ = tail_;
    }
}

}  // namespace vngtl
