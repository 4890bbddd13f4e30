#include "acquisition/PoolBuffer.h"

#include "acquisition/FrameCopier.h"
#include "core/ErrorReport.h"

#include <gentl/GenTL.h>

#include <algorithm>
#include <chrono>
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

void PoolBuffer::abandon_fill() noexcept
{
    BufferState expected = BufferState::Filling;
    state_.compare_exchange_strong(expected, BufferState::Queued);
}

uint64_t PoolBuffer::pixel_format(uint32_t bit_depth) noexcept
{
    switch (bit_depth) {
    case 8: return 0x01080001;   // Mono8
    case 10: return 0x01100003;  // Mono10
    case 12: return 0x01100005;  // Mono12
    case 14: return 0x01100025;  // Mono14
    case 16: return 0x01100007;  // Mono16
    case 24: return 0x02180014;  // RGB8
    case 30: return 0x0220001D;  // RGB10p32
    case 32: return 0x82200020;
    case 36: return 0x82300024;
    case 42: return 0x8230002A;
    case 48: return 0x02300033;  // RGB16
    default: return 0x80000000;
    }
}

bool PoolBuffer::fill(const VNBoards::FrameView& frame, FrameCopier& copier, const std::function<bool()>& intact)
{
    if (!begin_fill()) {
        report_error("PoolBuffer::fill", GenTL::GC_ERR_ERROR, "Cannot fill a buffer that isn't in the input queue.");
        return false;
    }
    const size_t count = std::min(frame.size, size());
    if (count > 0 && frame.data != nullptr && data() != nullptr) {
        copier.copy(data(), frame.data, count);
    }
    if (intact && !intact()) {
        abandon_fill();
        return false;
    }
    FillRecord record;
    record.copied_ns = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    record.received_ns = frame.received_ns;
    record.kind = frame.kind;
    record.size_filled = count;
    record.pixel_format = pixel_format(frame.bit_depth);
    record.width = frame.roi.width;
    record.height = frame.roi.height;
    record.x_offset = frame.roi.x_offset;
    record.y_offset = frame.roi.y_offset;
    record.frame_id = frame.frame_id;
    record.timestamp = frame.timestamp;
    record.timestamp_ns = frame.timestamp_ns;
    record.delivered_image_height = frame.roi.height;
    record.image_present = true;
    record.data_larger_than_buffer = count < frame.size;
    {
        std::lock_guard guard(record_mutex_);
        record_ = record;
    }
    end_fill();
    return true;
}

FillRecord PoolBuffer::fill_record() const
{
    std::lock_guard guard(record_mutex_);
    return record_;
}

void PoolBuffer::reset_fill_sizes()
{
    std::lock_guard guard(record_mutex_);
    record_.size_filled = 0;
}

}  // namespace vngtl
