#include "BufferRing.h"

#include "SdkCodes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vnsim {

namespace {

constexpr size_t record_ring_id_offset = 12;  // in the record's reserved bytes: the ring's id
constexpr size_t record_counter_offset = 20;  // and the frame's full 64-bit counter

}  // namespace

BufferRing::BufferRing(uint32_t count, const FrameGeometry& geometry, uint64_t id)
    : id_(id),
      count_(count),
      geometry_(geometry),
      memory_(std::make_shared<std::byte[]>(size_t{count} * geometry.frame_bytes())),
      begun_(new std::atomic<uint64_t>[count]()),
      held_(count, 0)
{
    clear_begun();
}

void BufferRing::clear_begun()
{
    for (uint32_t i = 0; i < count_; ++i) {
        begun_[i].store(0);
    }
}

void BufferRing::set_up()
{
    state_ = RingState::SetUp;
    next_counter_ = 1;
    last_completed_ = 0;
    done_.clear();
    std::fill(held_.begin(), held_.end(), 0);
    clear_begun();
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
        last_completed_ = 0;
        done_.clear();
        std::fill(held_.begin(), held_.end(), 0);
        clear_begun();
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

BufferRing::Begun BufferRing::begin()
{
    Begun frame;
    frame.counter = next_counter_++;
    // Undelivered frames in this frame's buffer (a lap before) are lost to it.
    while (!done_.empty() && done_.front().counter + count_ <= frame.counter) {
        done_.pop_front();
        frame.overwrote = true;
    }
    const auto index = static_cast<uint32_t>((frame.counter - 1) % count_);
    // Announced before the first byte is written, so that a host that read any byte of this frame finds
    // the number changed when it looks after its copy.
    begun_[index].store(frame.counter, std::memory_order_seq_cst);
    frame.memory = memory_;
    frame.data = buffer(index);
    return frame;
}

void BufferRing::finish(const Begun& frame, uint32_t timestamp_us, uint64_t board_timestamp)
{
    // A frame triggered while the free-running board wrote another completes first; the host still gets
    // them in the order they were begun.
    auto at = done_.end();
    while (at != done_.begin() && std::prev(at)->counter > frame.counter) {
        --at;
    }
    done_.insert(at, {frame.counter, timestamp_us, board_timestamp});
    last_completed_ = std::max(last_completed_, frame.counter);
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
