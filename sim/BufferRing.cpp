#include "BufferRing.h"

#include "SdkCodes.h"

#include <cstring>

namespace vnsim {

namespace {

constexpr size_t record_ring_id_offset = 12;  // in the record's reserved bytes: the ring's id
constexpr size_t record_counter_offset = 20;  // and the frame's full 64-bit counter

}  // namespace

BufferRing::BufferRing(uint32_t count, const FrameGeometry& geometry, uint64_t id)
    : id_(id),
      count_(count),
      geometry_(geometry),
      memory_(std::make_unique<std::byte[]>(size_t{count} * geometry.frame_bytes())),
      held_(count, 0)
{
}

void BufferRing::set_up()
{
    state_ = RingState::SetUp;
    next_counter_ = 1;
    done_.clear();
    std::fill(held_.begin(), held_.end(), 0);
}

int32_t BufferRing::start()
{
    switch (state_) {
    case RingState::Allocated:
        return code::vb_not_configured;
    case RingState::Running:
        return code::vb_already_running;
    case RingState::BoardStopped:
    case RingState::BoardAborted:
        break;
    case RingState::SetUp:
    case RingState::HostStopped:
    case RingState::HostAborted:
        next_counter_ = 1;
        done_.clear();
        std::fill(held_.begin(), held_.end(), 0);
        break;
    }
    state_ = RingState::Running;
    return 0;
}

int32_t BufferRing::stop_by_host(bool abort)
{
    switch (state_) {
    case RingState::Allocated:
        return code::vb_not_configured;
    case RingState::SetUp:
        return code::vb_not_running;
    case RingState::HostStopped:
    case RingState::HostAborted:
        if (!abort) {
            return code::vb_not_running;
        }
        break;
    case RingState::Running:
    case RingState::BoardStopped:
    case RingState::BoardAborted:
        break;
    }
    state_ = abort ? RingState::HostAborted : RingState::HostStopped;
    if (abort) {
        done_.clear();
    }
    return 0;
}

void BufferRing::stop_by_board(bool abort)
{
    if (state_ == RingState::Running) {
        state_ = abort ? RingState::BoardAborted : RingState::BoardStopped;
        if (abort) {
            done_.clear();
        }
    }
}

void BufferRing::tear_down()
{
    state_ = RingState::Allocated;
    done_.clear();
}

BufferRing::Completion BufferRing::complete(PatternMode pattern, uint32_t timestamp_us, uint64_t board_timestamp)
{
    const uint64_t counter = next_counter_++;
    bool overwrote = false;
    if (done_.size() >= count_) {
        // The buffer of this frame still holds the oldest undelivered frame.
        done_.pop_front();
        overwrote = true;
    }
    FramePattern::write(buffer(static_cast<uint32_t>((counter - 1) % count_)), geometry_, counter, pattern);
    done_.push_back({counter, timestamp_us, board_timestamp});
    return {counter, overwrote};
}

std::optional<VB_FRAME_RECORD> BufferRing::take()
{
    if (done_.empty()) {
        return std::nullopt;
    }
    const Done frame = done_.front();
    done_.pop_front();
    const auto index = static_cast<uint32_t>((frame.counter - 1) % count_);
    held_[index] = frame.counter;

    VB_FRAME_RECORD record{};
    record.data_address = reinterpret_cast<uintptr_t>(buffer(index));
    record.frame_counter = static_cast<uint32_t>(frame.counter);
    record.timestamp_us = frame.timestamp_us;
    record.board_timestamp = frame.board_timestamp;
    record.buffer_index = index;
    std::memcpy(reinterpret_cast<std::byte*>(&record) + record_ring_id_offset, &id_, sizeof id_);
    std::memcpy(reinterpret_cast<std::byte*>(&record) + record_counter_offset, &frame.counter, sizeof frame.counter);
    return record;
}

int32_t BufferRing::give_back(const VB_FRAME_RECORD& record)
{
    uint64_t ring_id = 0;
    uint64_t counter = 0;
    std::memcpy(&ring_id, reinterpret_cast<const std::byte*>(&record) + record_ring_id_offset, sizeof ring_id);
    std::memcpy(&counter, reinterpret_cast<const std::byte*>(&record) + record_counter_offset, sizeof counter);
    if (ring_id != id_ || record.buffer_index >= count_ || counter == 0 || held_[record.buffer_index] != counter) {
        return code::vb_record_not_held;
    }
    held_[record.buffer_index] = 0;
    return 0;
}

}  // namespace vnsim
