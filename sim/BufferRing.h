// The circular buffers of one board and the state of its circular acquisition: frame k of an acquisition
// lands in buffer (k - 1) mod count, completed frames wait in order for the host, and when the host falls
// a whole ring behind the board overwrites the oldest waiting frame. Not thread-safe: the owning SimBoard
// guards it with its lock.
#pragma once

#include "FramePattern.h"
#include "SimConfig.h"

#include "board/VantrelSdk.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace vnsim {

enum class RingState {
    Allocated,     // buffers allocated, circular acquisition not set up
    SetUp,         // set up, never started
    Running,
    HostStopped,   // stopped by the host: waits answer 0x10004 once the waiting frames are taken
    HostAborted,   // aborted by the host: waiting frames dropped, waits answer 0x10005
    BoardStopped,  // stopped by the board itself; a host start continues the frame counter
    BoardAborted,  // aborted by the board itself; likewise
};

class BufferRing {
public:
    // Allocates count zeroed buffers of the geometry's frame size; throws std::bad_alloc.
    BufferRing(uint32_t count, const FrameGeometry& geometry, uint64_t id);

    uint64_t id() const { return id_; }
    uint32_t count() const { return count_; }
    uint32_t frame_size() const { return static_cast<uint32_t>(geometry_.frame_bytes()); }
    const FrameGeometry& geometry() const { return geometry_; }
    RingState state() const { return state_; }
    bool running() const { return state_ == RingState::Running; }
    uint32_t pending() const { return static_cast<uint32_t>(done_.size()); }
    uint64_t last_counter() const { return next_counter_ - 1; }

    void set_up();
    // 0 or a Vb code. A start after set-up or a host stop or abort restarts the counter at 1 and empties
    // the ring; a start after the board stopped by itself continues it.
    int32_t start();
    // The host's stop or abort; 0 or a Vb code (not running, never started).
    int32_t stop_by_host(bool abort);
    // The board's own stop or abort (a lost signal, a DMA fault).
    void stop_by_board(bool abort);
    // Back to Allocated: acquisition stopped, waiting frames dropped.
    void tear_down();

    struct Completion {
        uint64_t counter;
        bool overwrote;  // an undelivered frame was lost to make room
    };
    // Completes the next frame into its buffer with that pattern; only while running.
    Completion complete(PatternMode pattern, uint32_t timestamp_us, uint64_t board_timestamp);

    // The bytes of the frame with that counter (in its buffer, until the board comes round to it again).
    std::byte* frame_data(uint64_t counter) const { return buffer(static_cast<uint32_t>((counter - 1) % count_)); }
    // The oldest completed frame's record, removed from the waiting list; none when nothing waits.
    std::optional<VB_FRAME_RECORD> take();
    // The host hands a buffer back; 0 or a Vb code (the record does not match a frame it holds).
    int32_t give_back(const VB_FRAME_RECORD& record);

private:
    struct Done {
        uint64_t counter;
        uint32_t timestamp_us;
        uint64_t board_timestamp;
    };

    std::byte* buffer(uint32_t index) const { return memory_.get() + size_t{index} * frame_size(); }

    uint64_t id_;
    uint32_t count_;
    FrameGeometry geometry_;
    std::unique_ptr<std::byte[]> memory_;
    RingState state_ = RingState::Allocated;
    uint64_t next_counter_ = 1;
    std::deque<Done> done_;
    std::vector<uint64_t> held_;  // per buffer: counter of the frame the host holds, 0 when none
};

}  // namespace vnsim
