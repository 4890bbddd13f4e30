#include "acquisition/FrameRing.h"

namespace vngtl {

void FrameRing::resize(uint64_t capacity)
{
    std::lock_guard guard(lock_);
    capacity_ = capacity;
    head_ = tail_ = total_written_ = total_taken_ = 0;
}

void FrameRing::reset()
{
    std::lock_guard guard(lock_);
    head_ = tail_ = total_written_ = total_taken_ = 0;
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

void FrameRing::advance(uint64_t count)
{
    std::lock_guard guard(lock_);
    if (capacity_ == 0) {
        return;
    }
    // The frames already pending plus the new ones: once they reach the capacity the board is about to write
    // over the oldest of them, so the head is moved past the tail and capacity - 1 frames stay pending.
    const uint64_t pending_with_new = pending_locked() + count;
    total_written_ += count;
    tail_ = (tail_ + count % capacity_) % capacity_;
    if (pending_with_new >= capacity_) {
        head_ = (tail_ + 1) % capacity_;
    }
}

std::optional<uint64_t> FrameRing::take(uint64_t offset)
{
    std::lock_guard guard(lock_);
    if (head_ == tail_ || capacity_ == 0 || pending_locked() <= offset) {
        return std::nullopt;
    }
    const uint64_t oldest = head_;
    total_taken_ += 1;
    head_ = (head_ + 1) % capacity_;
    return (oldest + offset) % capacity_;
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
