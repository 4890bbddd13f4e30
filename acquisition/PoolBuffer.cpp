#include "acquisition/PoolBuffer.h"

#include <new>

namespace vngtl {

PoolBuffer::PoolBuffer(void* data, size_t size, void* user_pointer) noexcept
    : data_(data), size_(size), user_pointer_(user_pointer)
{
}

PoolBuffer::PoolBuffer(size_t size, void* user_pointer)
    : external_(false), size_(size), user_pointer_(user_pointer)
{
    try {
        owned_ = std::make_unique_for_overwrite<uint8_t[]>(size);
        data_ = owned_.get();
    } catch (const std::bad_alloc& failure) {
        state_ = BufferState::Revoked;
        allocation_failure_ = failure.what();
    }
}

PoolBuffer::~PoolBuffer() = default;

bool PoolBuffer::in_queue() const noexcept
{
    const BufferState now = state();
    return now == BufferState::Queued || now == BufferState::Filling || now == BufferState::Filled;
}

bool PoolBuffer::begin_fill() noexcept
{
    if (state() != BufferState::Queued) {
        return false;
    }
    set_state(BufferState::Filling);
    return true;
}

void PoolBuffer::end_fill() noexcept
{
    BufferState expected = BufferState::Filling;
    state_.compare_exchange_strong(expected, BufferState::Filled);
}

}  // namespace vngtl
