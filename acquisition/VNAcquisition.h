// The acquisition engine of one data stream. Two threads run for the stream's whole life: the acquisition
// thread waits on the board for completed frames (at most 100 ms per wait), hands each board buffer straight
// back and records the frame's position in the FrameRing; the copy thread copies pending frames into the
// oldest queued consumer buffers (BufferPool::fill_next) and so moves them to the output queue, where the
// stream's new-buffer event picks them up. The data-stream module drives it through status, make_ready, teardown,
// start, stop and abort.
//
// Ownership: owns the stream's BufferPool; shares the Board. Both threads are joined by
// the destructor, never detached.
//
// Locks, in this order:
//   1. the board's state lock (through Board::exclusively) - held around every change of the acquisition
//      state (start, stop, abort, teardown, make_ready, the completion of a finite acquisition and the restart
//      after an unexpected board stop), so that the data-stream module may call these inside its own
//      exclusive board section;
//   2. the acquisition mutex - the acquisition state, the running flag and the session number; never held
//      while the board is waited on, so that a caller holding the state lock never waits for the frame loop;
//   then the ring's own mutex and the pool's locks.
// The copy thread is woken without a lock: the acquisition thread counts each recorded frame in an atomic
// word the copy thread waits on (a futex wait), and the copy thread reads the word before it looks at the
// ring, so a frame recorded after it looked changes the word and its wait returns at once.
// Counters and the two state words are atomics, read without locks by info queries.
#pragma once

#include "acquisition/AcquisitionState.h"
#include "acquisition/BufferPool.h"
#include "board/BoardTypes.h"
#include "acquisition/FrameCopier.h"
#include "acquisition/FrameRing.h"
#include "acquisition/PoolBuffer.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace VNBoards {
class Board;
}

namespace vngtl {

class VNAcquisition {
public:
    // The acquisition state, as status reports it (VNAcquisition::Ready and so on).
    using State = AcquisitionState;
    using enum AcquisitionState;

    // Starts both threads (each confirms it runs before the constructor goes on) and raises them to the
    // highest real-time priority the process may use.
    // `factory` makes the stream's buffers for the pool.
    VNAcquisition(std::shared_ptr<VNBoards::Board> board, BufferFactory factory);
    // Stops and joins both threads.
    ~VNAcquisition();
    VNAcquisition(const VNAcquisition&) = delete;
    VNAcquisition& operator=(const VNAcquisition&) = delete;

    State status() const;
    // Whether the board's region of interest is `roi`, or its default region when `roi` has no size.
    bool roi_matches(const VNBoards::Roi& roi);
    // The board's frame size in bytes; 0 when the board cannot tell.
    uint64_t payload_size();

    // Configures the board for circular acquisition with `count` buffers and `roi` (no size: the board's
    // current region). Answers Ready, or NotConfigured when the board refused.
    State make_ready(uint64_t count, const VNBoards::Roi& roi);
    // Frees the board's circular buffers; the engine is NotConfigured afterwards. Answers status.
    State teardown();
    // Starts the board; `count` buffers are delivered before the acquisition completes (GENTL_INFINITE: no
    // limit). Answers status.
    State start(uint64_t count);
    // Stops (abort: aborts) the board and drops the frames not yet copied. Answers status.
    State stop();
    State abort();

    // Copy thread, through the pool: fills `buffer` from a view of the frame `copy_offset` places after the
    // oldest pending one, consuming the oldest.
    bool copy_frame(PoolBuffer& buffer);
    // Records every code on the board's two error stacks with its text.
    void dump_vantrel_errors();

    BufferPool& pool() noexcept { return *pool_; }
    FrameRing& frame_ring() noexcept { return ring_; }
    // Copies frames into the buffers; splits large frames across the stream's helper threads.
    FrameCopier& copier() noexcept { return copier_; }
    const std::shared_ptr<VNBoards::Board>& board() const noexcept { return board_; }

    uint64_t underrun_count() const noexcept { return underruns_.load(); }
    uint64_t started_count() const noexcept { return started_.load(); }
    uint64_t delivered_since_start() const noexcept { return delivered_since_start_.load(); }
    uint64_t copy_offset() const noexcept { return copy_offset_.load(); }
    // Frames whose copy was dropped because the board had begun writing another frame into their buffer
    // before or during the copy.
    uint64_t overwritten_count() const noexcept { return overwritten_.load(); }
    // The data-stream module keeps the offset below the board's buffer count.
    void set_copy_offset(uint64_t offset) noexcept { copy_offset_.store(offset); }

private:
    void acquisition_thread_func(std::stop_token stop);
    // One acquisition session, from a start until the board stops for good or the session ends.
    void frame_loop(std::stop_token stop, uint64_t session);
    // After an unexpected board stop: starts the board again unless the session ended meanwhile.
    bool restart(uint64_t session);
    void copy_thread_func(std::stop_token stop);
    // Whether a finite acquisition has delivered its count; completes it (and stops the board) when the
    // next frame shows up after that.
    bool check_done();
    // Stop or abort: the common part.
    State end_acquisition(bool abort);
    // Ends the current session: the frame loop leaves at its next turn. Acquisition mutex held.
    void end_session_locked() noexcept;
    void wake_copy_thread();
    // After each copy: a copy the board overwrote widens the copy margin, a run of whole copies narrows it.
    void adapt_margin(bool overwritten) noexcept;

    std::shared_ptr<VNBoards::Board> board_;
    std::unique_ptr<BufferPool> pool_;

    std::atomic<uint64_t> underruns_{0};
    std::atomic<uint64_t> started_{0};
    std::atomic<uint64_t> copy_offset_{0};
    std::atomic<uint64_t> delivered_since_start_{0};
    std::atomic<uint64_t> overwritten_{0};
    // How many whole frames the board must still have to write before it reaches the frame the copy thread
    // takes (FrameRing::take's margin), and the whole copies since the margin last changed. Copy thread only.
    uint64_t copy_margin_ = 0;
    uint64_t whole_copies_ = 0;

    FrameRing ring_;
    // Before the engine's own threads, so that the copy thread finds it built.
    FrameCopier copier_;

    std::atomic<State> state_{NotConfigured};
    std::atomic<uint32_t> running_{0};
    std::atomic<uint64_t> requested_{0};
    // Changed by every start and every end of an acquisition; the frame loop runs for one session.
    std::atomic<uint64_t> session_{0};
    // The ring's capacity for the session that start began (the board's buffer count then).
    uint64_t session_capacity_ = 0;  // guarded by acquisition_mutex_
    bool in_frame_loop_ = false;     // guarded by acquisition_mutex_

    std::mutex acquisition_mutex_;
    std::condition_variable_any acquisition_condition_;
    std::atomic<bool> acquisition_thread_running_{false};
    // Counts the frames the acquisition thread recorded (and the destructor's stop): what the copy thread
    // waits on when it finds nothing to copy.
    std::atomic<uint32_t> copy_signal_{0};
    std::atomic<bool> copy_thread_running_{false};

    // Last, so that everything the threads use is built before them.
    std::jthread acquisition_thread_;
    std::jthread copy_thread_;
};

}  // namespace vngtl
