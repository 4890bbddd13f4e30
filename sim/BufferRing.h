// The circular buffers of one board and the state of its circular acquisition: frame k of an acquisition
// lands in buffer (k - 1) mod count, completed frames wait in order for the host, and when the host falls
// a whole ring behind the board overwrites the oldest waiting frame.
//
// A frame is made in three steps, as a board's DMA makes it: begin (the buffer's begun number becomes the
// frame's), the writing of its bytes (by the caller, outside the owner's lock, while the host may be
// reading the buffer), and finish (the frame waits for the host). The begun numbers are atomics, so the
// host can ask after a copy whether the board has begun another frame in that buffer since.
//
// Not thread-safe apart from frame_begun: the owning SimBoard guards it with its lock. The buffers' memory
// is shared with a writer, so it outlives the ring until the write in progress is done.
#pragma once

#include "FramePattern.h"
#include "SimConfig.h"

#include <VantrelSdk.h>

#include <atomic>
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
    // The latest completed frame's counter (0 before the first).
    uint64_t last_counter() const { return last_completed_; }

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

    // A frame begun and not yet finished: where its bytes go.
    struct Begun {
        uint64_t counter = 0;
        bool overwrote = false;  // an undelivered frame in its buffer was lost
        std::shared_ptr<std::byte[]> memory;  // keeps the buffers while the frame is written
        std::byte* data = nullptr;
    };
    // Begins the next frame: takes its counter, drops an undelivered frame of its buffer and marks the
    // buffer as holding a frame begun; only while running.
    Begun begin();
    // The begun frame is written: it waits for the host. Only while running.
    void finish(const Begun& frame, uint32_t timestamp_us, uint64_t board_timestamp);
    // The counter of the frame the board last began in buffer `index` (0: none since the start). Any
    // thread; read after a copy from the buffer, behind an acquire fence.
    uint64_t frame_begun(uint32_t index) const { return begun_[index].load(std::memory_order_seq_cst); }
    // The begun numbers themselves, which a reader may keep and read without the owner's lock.
    std::shared_ptr<const std::atomic<uint64_t>[]> begun_numbers() const { return begun_; }

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
    void clear_begun();

    uint64_t id_;
    uint32_t count_;
    FrameGeometry geometry_;
    std::shared_ptr<std::byte[]> memory_;
    std::shared_ptr<std::atomic<uint64_t>[]> begun_;  // per buffer
    RingState state_ = RingState::Allocated;
    uint64_t next_counter_ = 1;
    uint64_t last_completed_ = 0;
    std::deque<Done> done_;
    std::vector<uint64_t> held_;  // per buffer: counter of the frame the host holds, 0 when none
};

}  // namespace vnsim
