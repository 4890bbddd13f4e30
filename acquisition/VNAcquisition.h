// The acquisition engine of one data stream, and the one owner of the stream's life: its state gate
// (transition, with the table of the states each DS call may run in), the board's set-up for acquisition and
// its release (configure, release), the buffer pool and the frame ring, and two threads. The data-stream
// module reaches the stream only through the engine's doors: the gate, announce, revoke, queue, flush, the
// new-buffer event's wait, start and stop, and counts for its info values. The pool, the ring and the copier
// are the engine's own.
//
// Two threads run for the stream's whole life: the acquisition thread waits on the board for completed frames
// (at most 100 ms per wait), hands each board buffer straight back and records the frame's position in the
// FrameRing; the copy thread copies pending frames into the oldest queued consumer buffers
// (BufferPool::fill_next) and so moves them to the output queue, where the stream's new-buffer event picks
// them up.
//
// Ownership: owns the stream's BufferPool; shares the Board. Both threads are joined by
// the destructor, never detached.
//
// Locks, in this order:
//   0. the settings lock (the stream port's hook lock, given with the SettingsSource), then the gate lock
//      (recursive) - held by transition (for start and stop), configure and release across the check of the
//      state and the change, so that the consumer's calls change the state one at a time; the engine's
//      threads never take them, and no buffer is dropped under them;
//   1. the board's state lock (through Board::exclusively) - held around every change of the acquisition
//      state (start, stop, abort, teardown, make_ready, the completion of a finite acquisition and the restart
//      after an unexpected board stop), so that the gate may call these inside its own exclusive board
//      section;
//   2. the acquisition mutex - the acquisition state, the running flag and the session number; never held
//      while the board is waited on, so that a caller holding the state lock never waits for the frame loop;
//   then the ring's own mutex and the pool's locks.
// The compiler checks the acquisition mutex, the ring's and the copier's under clang (core/ThreadSafety.h):
// what they guard and the functions that need them held. The settings and gate locks are recursive (the
// gate's change may configure through a door that takes them again), which the analysis cannot follow, so
// their order is the documented one above.
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
#include "acquisition/StreamCall.h"
#include "acquisition/StreamPlacement.h"
#include "core/ThreadSafety.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
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

    // What the stream asks of the board: the count of circular buffers and the region of interest (no size:
    // the board's current region).
    struct Settings {
        uint64_t count = 0;
        VNBoards::Roi roi{};
    };
    // Where configure finds the settings: `read` is called with `lock` held, and the board is configured from
    // what it answers before `lock` is let go, so that a write to the registers the settings come from (which
    // holds `lock` too) and a configuration are ordered and the board gets one whole region. An engine without
    // `read` is configured through make_ready only.
    struct SettingsSource {
        std::recursive_mutex* lock = nullptr;
        std::function<Settings()> read;
    };

    // What the state gate answered to one call.
    struct GateAnswer {
        GenTL::GC_ERROR code = GenTL::GC_ERR_SUCCESS;  // the refusal's code, or what the call's change answered
        State state = NoBoard;                          // the state the gate found
        std::string refusal;                            // why the call was refused; empty when it was let through
    };
    // A call's work, run by the gate when the call may run.
    using Change = std::function<GenTL::GC_ERROR()>;

    // Starts both threads (each confirms it runs before the constructor goes on) and raises them to the
    // highest real-time priority the process may use.
    // `factory` makes the stream's buffers for the pool; `settings` tells configure what to set the board to.
    VNAcquisition(std::shared_ptr<VNBoards::Board> board, BufferFactory factory, SettingsSource settings);
    // An engine without settings, configured through make_ready only.
    VNAcquisition(std::shared_ptr<VNBoards::Board> board, BufferFactory factory);
    // Stops and joins both threads.
    ~VNAcquisition();
    VNAcquisition(const VNAcquisition&) = delete;
    VNAcquisition& operator=(const VNAcquisition&) = delete;

    State status() const;

    // The stream's one state gate. With the settings lock and the gate lock held: reads the state, checks it
    // against the rule of `call` (the states it may run in) and, when the call may run, runs `change` (the
    // call's work, through the doors below) before the locks are let go, so that no other call changes the
    // state between the check and the change. A refusal's text names the stream as `stream`; the caller
    // records it against its own operation, and `change` does not run. The engine's own threads change the
    // state only from Running to Completed (a finite acquisition done), and every call that may run in
    // Running may run in Completed too. A call that may run in every state has nothing to check: its work
    // runs without the gate's locks (a revocation drops a buffer, whose handle waits for the calls that found
    // it), and configure and release take them for the board's set-up.
    GateAnswer transition(StreamCall call, std::string_view stream, const Change& change = {});

    // The board's set-up for the stream: reads the settings and, unless the board is configured so already,
    // configures it from them (the board's level before the stream first configured it is kept for release),
    // all under the settings lock. GC_ERR_ACCESS_DENIED when the board is in a bad state or refused (it has
    // recorded why).
    GenTL::GC_ERROR configure();
    // Frees the board's circular buffers and brings the board back to the level it had before configure.
    GenTL::GC_ERROR release();

    // The buffers, as the DS functions reach them. An announcement configures the board (configure's answer
    // is the call's; the buffer is handed out all the same); the revocation of the last buffer releases it.
    GenTL::GC_ERROR announce(void* data, size_t size, void* user_pointer, std::shared_ptr<PoolBuffer>* buffer_out);
    GenTL::GC_ERROR announce(size_t size, void* user_pointer, std::shared_ptr<PoolBuffer>* buffer_out);
    GenTL::GC_ERROR revoke(PoolBuffer* buffer, void** data_out, void** user_pointer_out);
    GenTL::GC_ERROR queue(PoolBuffer* buffer);
    // By ACQ_QUEUE_TYPE; the two discarding flushes also drop the frames not copied yet. An unknown operation
    // answers GC_ERR_NOT_IMPLEMENTED with no record (the caller records it).
    GenTL::GC_ERROR flush(int32_t operation);
    GenTL::GC_ERROR buffer_from_id(uint64_t id, std::shared_ptr<PoolBuffer>* buffer_out);
    GenTL::GC_ERROR buffer_id_of_handle(const void* handle, uint64_t* id_out);
    // EventGetData's wait for the oldest filled buffer (BufferPool::dequeue_latest), and the wake-up of such
    // waits after a kill or the end of the event's waits.
    GenTL::GC_ERROR wait_buffer(std::shared_ptr<PoolBuffer>* buffer_out, uint64_t timeout_ms,
                                std::atomic<uint32_t>& kill, const BufferPool::WaitEnded& ended = {});
    void wake_waiters();
    // DSStartAcquisition's work: configures the board first when it is not configured, then starts `count`
    // buffers. GC_ERR_ERROR when the board would not start (it has recorded why).
    GenTL::GC_ERROR start_acquisition(uint64_t count);
    // DSStopAcquisition's work: stops the board, or aborts it when `kill`.
    GenTL::GC_ERROR stop_acquisition(bool kill);

    // The pool's counts, for the stream's and the event's info values.
    size_t announced_count() { return pool_->announced_count(); }
    size_t queued_count() { return pool_->queued_count(); }
    size_t output_count() { return pool_->output_count(); }
    uint64_t delivered_count() const noexcept { return pool_->delivered_count(); }
    uint64_t output_discarded_count() const noexcept { return pool_->output_discarded_count(); }

    // Whether the board's region of interest is `roi`, or its default region when `roi` has no size.
    bool roi_matches(const VNBoards::Roi& roi);
    // The board's frame size in bytes; 0 when the board cannot tell.
    uint64_t payload_size();

    // The state changes themselves, below the gate: its calls' changes (configure, release, start_acquisition,
    // stop_acquisition) make them, each in its own exclusive board section.
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

    // Records every code on the board's two error stacks with its text.
    void dump_vantrel_errors();

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
    // The tests' view of the pool, the ring and the copier.
    friend struct VNAcquisitionTestAccess;

    BufferPool& pool() noexcept { return *pool_; }
    FrameRing& frame_ring() noexcept { return ring_; }
    // Copies frames into the buffers; splits large frames across the stream's helper threads.
    FrameCopier& copier() noexcept { return copier_; }

    // Copy thread, through the pool: fills `buffer` from a view of the frame `copy_offset` places after the
    // oldest pending one, consuming the oldest.
    bool copy_frame(PoolBuffer& buffer);
    void acquisition_thread_func(std::stop_token stop);
    // One acquisition session, from a start until the board stops for good or the session ends, on a board
    // with `buffers` circular buffers; `placed` is where the thread has put itself, kept from session to
    // session. How it waits for frames is the FrameWaitPlan's.
    void frame_loop(std::stop_token stop, uint64_t session, uint32_t buffers, StreamPlacement::Thread& placed);
    // After an unexpected board stop: starts the board again unless the session ended meanwhile.
    bool restart(uint64_t session);
    void copy_thread_func(std::stop_token stop);
    // Whether a finite acquisition has delivered its count; completes it (and stops the board) when the
    // next frame shows up after that.
    bool check_done();
    // Stop or abort: the common part.
    State end_acquisition(bool abort);
    // Ends the current session: the frame loop leaves at its next turn.
    void end_session_locked() noexcept REQUIRES(acquisition_mutex_);
    // After each copy: a copy the board overwrote widens the copy margin, a run of whole copies narrows it.
    void adapt_margin(bool overwritten) noexcept;

    std::shared_ptr<VNBoards::Board> board_;
    std::unique_ptr<BufferPool> pool_;
    const SettingsSource settings_;
    // Held by the gate across the check and the change (see the top of this file); recursive, so that a
    // change may configure or release through the doors that take it too.
    std::recursive_mutex gate_mutex_;
    // The board's open level just before the stream configured it; board state lock.
    VNBoards::BoardState saved_state_ = VNBoards::BoardState::Closed;

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
    uint64_t session_capacity_ GUARDED_BY(acquisition_mutex_) = 0;
    bool in_frame_loop_ GUARDED_BY(acquisition_mutex_) = false;

    Mutex acquisition_mutex_;
    std::condition_variable_any acquisition_condition_;
    std::atomic<bool> acquisition_thread_running_{false};
    // Counts the frames the acquisition thread recorded (and the destructor's stop): what the copy thread
    // waits on when it finds nothing to copy.
    std::atomic<uint32_t> copy_signal_{0};
    std::atomic<bool> copy_thread_running_{false};
    // Where the two threads run: beside the consumer while they are mostly idle.
    StreamPlacement placement_;

    // Last, so that everything the threads use is built before them.
    std::jthread acquisition_thread_;
    std::jthread copy_thread_;
};

}  // namespace vngtl
