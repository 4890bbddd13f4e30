#include "acquisition/VNAcquisition.h"

#include "acquisition/FrameWaitPlan.h"
#include "board/VNBoards.h"
#include "core/ErrorReport.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

namespace vngtl {

using namespace GenTL;
using VNBoards::BoardState;

namespace {

// How long stop and abort wait for the frame loop to notice the end of the acquisition. The loop waits on
// the board for at most 100 ms at a time; the bound only matters when the caller holds the board's state
// lock, which the loop then needs to finish its turn.
constexpr auto frame_loop_exit_wait = std::chrono::milliseconds(500);
// The longest wait on the board for one frame, so that the loop looks at its stop and session in between.
constexpr uint32_t frame_wait_ms = 100;
// In a long burst of frames the copy thread is woken every this many, so it copies while the rest come.
constexpr uint32_t burst_signal_every = 8;

// The highest SCHED_FIFO priority the process may use; where it may use none the thread keeps its priority.
void raise_priority(std::jthread& thread)
{
    // VNGTL_STREAM_SCHED=other leaves the threads at the system's default policy, to measure one against
    // the other.
    if (const char* chosen = std::getenv("VNGTL_STREAM_SCHED"); chosen != nullptr && std::string(chosen) == "other") {
        return;
    }
    const int highest = sched_get_priority_max(SCHED_FIFO);
    if (highest < 0) {
        return;
    }
    sched_param parameters{};
    parameters.sched_priority = highest;
    if (pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &parameters) == 0) {
        return;
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0) {
        parameters.sched_priority = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(highest)));
        pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &parameters);
    }
}

// The steady clock in nanoseconds, as the fill record keeps its host times.
uint64_t steady_ns() noexcept
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

bool is_configured(const VNBoards::Board& board)
{
    return board.state() == BoardState::Configured;
}

// A set of acquisition states, one bit each.
using StateSet = uint32_t;

constexpr StateSet states_of(std::initializer_list<AcquisitionState> states) noexcept
{
    StateSet set = 0;
    for (const AcquisitionState state : states) {
        set |= StateSet{1} << static_cast<uint32_t>(state);
    }
    return set;
}

constexpr AcquisitionState all_states[] = {AcquisitionState::NoBoard, AcquisitionState::NotConfigured,
                                           AcquisitionState::Ready, AcquisitionState::Running,
                                           AcquisitionState::Completed};
constexpr StateSet every_state = states_of({AcquisitionState::NoBoard, AcquisitionState::NotConfigured,
                                            AcquisitionState::Ready, AcquisitionState::Running,
                                            AcquisitionState::Completed});

// What the gate knows of one call: its name and the states it may run in.
struct CallRule {
    const char* name;
    StateSet states;
};

constexpr CallRule rule_of(StreamCall call) noexcept
{
    switch (call) {
    case StreamCall::AnnounceBuffer: return {"Announcing a buffer", every_state};
    case StreamCall::AllocAndAnnounceBuffer: return {"Allocating and announcing a buffer", every_state};
    case StreamCall::RevokeBuffer: return {"Revoking a buffer", every_state};
    case StreamCall::QueueBuffer: return {"Queueing a buffer", every_state};
    case StreamCall::FlushQueue: return {"Flushing a queue", every_state};
    case StreamCall::GetBufferId: return {"Getting a buffer by its ID", every_state};
    case StreamCall::StartAcquisition:
        return {"Starting acquisition", states_of({AcquisitionState::NotConfigured, AcquisitionState::Ready})};
    case StreamCall::StopAcquisition:
        return {"Stopping acquisition", states_of({AcquisitionState::Running, AcquisitionState::Completed})};
    }
    return {"An unknown call", 0};
}

constexpr bool contains(StateSet set, AcquisitionState state) noexcept
{
    return (set & (StateSet{1} << static_cast<uint32_t>(state))) != 0;
}

std::string state_list(StateSet set)
{
    std::string text;
    for (const AcquisitionState state : all_states) {
        if (contains(set, state)) {
            text += text.empty() ? "" : " or ";
            text += state_name(state);
        }
    }
    return text.empty() ? std::string("no state") : text;
}

// The refusal of `call` in `state` (which its rule does not allow): its code and its text.
std::pair<GC_ERROR, std::string> refusal_of(StreamCall call, AcquisitionState state, std::string_view name)
{
    const std::string stream(name);
    switch (call) {
    case StreamCall::StartAcquisition:
        if (state == AcquisitionState::NoBoard) {
            return {GC_ERR_ERROR, "Acquisition cannot be started because " + stream + " is in a bad state."};
        }
        if (state == AcquisitionState::Running) {
            return {GC_ERR_RESOURCE_IN_USE, "Acquisition has already been started on " + stream + "."};
        }
        return {GC_ERR_RESOURCE_IN_USE,
                "Acquisition has completed on " + stream + ", but it has not been formally stopped."};
    case StreamCall::StopAcquisition:
        return {GC_ERR_RESOURCE_IN_USE, "Acquisition on " + stream + " cannot be stopped because it is not running."};
    default: {
        const CallRule rule = rule_of(call);
        return {GC_ERR_ERROR, std::string(rule.name) + " is not possible while " + stream + " is " +
                                  std::string(state_name(state)) + "; it needs " + state_list(rule.states) + "."};
    }
    }
}

}  // namespace

VNAcquisition::VNAcquisition(std::shared_ptr<VNBoards::Board> board, BufferFactory factory, SettingsSource settings)
    : board_(std::move(board)), pool_(std::make_unique<BufferPool>(std::move(factory))), settings_(std::move(settings))
{
    {
        MutexLock guard(acquisition_mutex_);
        acquisition_thread_ = std::jthread([this](std::stop_token stop) { acquisition_thread_func(std::move(stop)); });
        acquisition_condition_.wait(guard, [this] { return acquisition_thread_running_.load(); });
    }
    copy_thread_ = std::jthread([this](std::stop_token stop) { copy_thread_func(std::move(stop)); });
    copy_thread_running_.wait(false);
    // Named, so that tools (top -H, the benchmark) tell them apart.
    pthread_setname_np(acquisition_thread_.native_handle(), "vngtl-acq");
    pthread_setname_np(copy_thread_.native_handle(), "vngtl-copy");
    raise_priority(acquisition_thread_);
    raise_priority(copy_thread_);
}

VNAcquisition::VNAcquisition(std::shared_ptr<VNBoards::Board> board, BufferFactory factory)
    : VNAcquisition(std::move(board), std::move(factory), SettingsSource{})
{
}

VNAcquisition::~VNAcquisition()
{
    acquisition_thread_.request_stop();
    copy_thread_.request_stop();
    // After the stop request: a copy thread that reads the word from here on also sees the request.
    copy_signal_.fetch_add(1);
    copy_signal_.notify_all();
    if (acquisition_thread_.joinable()) {
        acquisition_thread_.join();
    }
    if (copy_thread_.joinable()) {
        copy_thread_.join();
    }
}

VNAcquisition::State VNAcquisition::status() const
{
    if (!acquisition_thread_running_ || !board_) {
        return NoBoard;
    }
    if (!is_configured(*board_)) {
        return NotConfigured;
    }
    return state_.load();
}

bool VNAcquisition::roi_matches(const VNBoards::Roi& roi)
{
    if (!board_) {
        return false;
    }
    const VNBoards::Roi current = board_->current_roi();
    if (roi.width != 0 && roi.height != 0) {
        return current == roi;
    }
    return current == board_->default_roi();
}

uint64_t VNAcquisition::payload_size()
{
    if (!board_) {
        return 0;
    }
    return board_->frame_bytes();
}

void VNAcquisition::end_session_locked() noexcept
{
    session_ += 1;
    acquisition_condition_.notify_all();
}

VNAcquisition::State VNAcquisition::make_ready(uint64_t count, const VNBoards::Roi& roi)
{
    if (!board_) {
        return NotConfigured;
    }
    return board_->exclusively([&]() -> State {
        if (is_configured(*board_)) {
            teardown();
        }
        if (board_->check_init(VNBoards::OpenLevel::Acquire) != BoardState::OpenForAcquisition) {
            return NotConfigured;
        }
        if (roi.width != 0 && roi.height != 0 && !board_->set_roi(roi)) {
            return NotConfigured;
        }
        if (board_->setup_acq(count) != BoardState::Configured) {
            return NotConfigured;
        }
        MutexLock guard(acquisition_mutex_);
        state_ = Ready;
        return Ready;
    });
}

VNAcquisition::State VNAcquisition::teardown()
{
    if (!board_) {
        return status();
    }
    return board_->exclusively([&] {
        {
            // The frame loop must not take the board's stop for an accident to recover from.
            MutexLock guard(acquisition_mutex_);
            running_ = 0;
            end_session_locked();
        }
        // The positions refer to a frame table that is about to go.
        ring_.resize(1);
        if (is_configured(*board_)) {
            board_->teardown_acq();
        }
        {
            MutexLock guard(acquisition_mutex_);
            const State now = state_;
            if (now == Ready || now == Running || now == Completed) {
                state_ = NotConfigured;
            }
        }
        return status();
    });
}

VNAcquisition::State VNAcquisition::start(uint64_t count)
{
    if (!board_) {
        return NoBoard;
    }
    if (acquisition_thread_running_ && is_configured(*board_) && state_ > Ready) {
        return status();
    }
    return board_->exclusively([&] {
        {
            MutexLock guard(acquisition_mutex_);
            requested_ = count;
            delivered_since_start_ = 0;
            running_ = 1;
            session_capacity_ = board_->buffer_count();
            if (board_->start_acq()) {
                state_ = Running;
                end_session_locked();
            } else {
                running_ = 0;
            }
        }
        return status();
    });
}

VNAcquisition::State VNAcquisition::stop()
{
    return end_acquisition(false);
}

VNAcquisition::State VNAcquisition::abort()
{
    return end_acquisition(true);
}

VNAcquisition::State VNAcquisition::end_acquisition(bool abort)
{
    // Frames not copied yet are dropped.
    ring_.resize(1);
    if (board_) {
        board_->exclusively([&] {
            running_ = 0;
            if (state_ != Completed) {
                if (abort) {
                    board_->abort_acq();
                } else {
                    board_->stop_acq(false);
                }
            }
        });
    }
    MutexLock guard(acquisition_mutex_);
    end_session_locked();
    acquisition_condition_.wait_for(guard, frame_loop_exit_wait,
                                  [this]() REQUIRES(acquisition_mutex_) { return !in_frame_loop_; });
    const State now = state_;
    if (now == Ready || now == Running || now == Completed) {
        state_ = Ready;
    }
    guard.unlock();
    return status();
}

void VNAcquisition::acquisition_thread_func(std::stop_token stop)
{
    StreamPlacement::Thread placed;
    MutexLock guard(acquisition_mutex_);
    acquisition_thread_running_ = true;
    acquisition_condition_.notify_all();

    underruns_ = 0;
    started_ = 0;
    delivered_since_start_ = 0;
    ring_.reset();
    copy_offset_ = 0;
    if (!board_) {
        state_ = NoBoard;
    }

    uint64_t seen = session_;
    while (!stop.stop_requested()) {
        // Sleeps until a start or an end of acquisition changes the session.
        acquisition_condition_.wait(guard, stop, [&] { return session_ != seen; });
        if (stop.stop_requested()) {
            break;
        }
        seen = session_;
        if (!board_) {
            state_ = NoBoard;
            continue;
        }
        if (state_ != Running) {
            continue;
        }
        ring_.resize(session_capacity_);
        const uint32_t buffers = static_cast<uint32_t>(session_capacity_);
        in_frame_loop_ = true;
        guard.unlock();

        frame_loop(stop, seen, buffers, placed);

        guard.lock();
        in_frame_loop_ = false;
        acquisition_condition_.notify_all();
        guard.unlock();
        dump_vantrel_errors();
        guard.lock();
    }
    acquisition_thread_running_ = false;
}

void VNAcquisition::frame_loop(std::stop_token stop, uint64_t session, uint32_t buffers,
                               StreamPlacement::Thread& placed)
{
    const std::string board_number = std::to_string(board_->board_number());
    VNBoards::FrameRecord record{};
    FrameWaitPlan plan(buffers);
    // Frames recorded in the ring since the copy thread was last woken: a burst drained by polls is handed
    // on with one wake-up, at its end (or every few frames of a long one).
    uint32_t unsignalled = 0;
    const auto signal_copy_thread = [&] {
        if (unsignalled > 0) {
            copy_signal_.notify_one();
            unsignalled = 0;
        }
    };
    while (!stop.stop_requested() && session_ == session) {
        const FrameWaitPlan::Step step = plan.next();
        if (step != FrameWaitPlan::Step::Poll) {
            placement_.place(placed);  // before the thread waits or pauses; a poll does neither
        }
        if (step == FrameWaitPlan::Step::Pause) {
            signal_copy_thread();
            std::this_thread::sleep_for(std::chrono::nanoseconds(plan.pause_ns()));
            plan.paused();
            continue;
        }
        const bool poll = step == FrameWaitPlan::Step::Poll;
        const VNBoards::FrameWait result = board_->frame_wait(record, poll ? 0 : frame_wait_ms);
        if (result != VNBoards::FrameWait::Frame) {
            signal_copy_thread();
        }
        if (result == VNBoards::FrameWait::Timeout) {
            if (poll) {
                plan.nothing();
            }
            continue;
        }
        if (result == VNBoards::FrameWait::Stopped) {
            if (running_ == 0 || session_ != session) {
                break;  // the end of acquisition that stop, abort or completion asked for
            }
            report_error("VNAcquisition::frame_loop", GC_ERR_ERROR,
                         "Acquisition on board " + board_number +
                             " stopped or aborted unexpectedly. Dumping the Vantrel error stacks, then restarting.");
            dump_vantrel_errors();
            if (!restart(session)) {
                break;
            }
            continue;
        }
        if (result == VNBoards::FrameWait::Frame) {
            plan.frame(record.frame_counter, record.timestamp_us);
            board_->set_frame_available(record);
            // The frame counter says how many frames completed since the last one seen, lost ones included.
            // The buffers of lost frames still hold records of an earlier lap; the ring numbers their
            // positions with the lost frames' numbers, so the copy thread never hands those records out.
            const uint64_t written = ring_.total_written();
            const uint64_t counter = record.frame_counter;
            const uint64_t now = steady_ns();
            const uint64_t pending = ring_.advance(counter > written ? counter - written : 1, counter, now);
            placement_.frame_arrived(now, pending - std::min<uint64_t>(pending, copy_offset_));
            copy_signal_.fetch_add(1, std::memory_order_release);
            // Frames far apart are handed on at once; close together, at the end of their burst.
            if (++unsignalled >= burst_signal_every || !plan.close_together()) {
                signal_copy_thread();
            }
            continue;
        }
        report_error("VNAcquisition::frame_loop", GC_ERR_ERROR,
                     "Received an unexpected error during acquisition on board " + board_number +
                         ". Dumping the Vantrel error stacks.");
        dump_vantrel_errors();
        if (!is_configured(*board_)) {
            break;  // nothing left to wait on
        }
    }
    signal_copy_thread();
}

bool VNAcquisition::restart(uint64_t session)
{
    return board_->exclusively([&] {
        MutexLock guard(acquisition_mutex_);
        if (running_ == 0 || session_ != session) {
            return false;
        }
        return board_->start_acq();
    });
}

void VNAcquisition::copy_thread_func(std::stop_token stop)
{
    copy_thread_running_ = true;
    copy_thread_running_.notify_all();

    const BufferPool::CopyFrame copy = [this](PoolBuffer& buffer) { return copy_frame(buffer); };
    StreamPlacement::Thread placed;
    for (;;) {
        placement_.place(placed);
        // Read before the stop request and the ring are looked at: a frame recorded (or a stop asked for)
        // after this changes the word, and the wait below returns at once.
        const uint32_t seen = copy_signal_.load(std::memory_order_acquire);
        if (stop.stop_requested()) {
            break;
        }
        if (ring_.pending() > copy_offset_) {
            const bool done = check_done();
            if (!done && pool_->fill_next(copy, stop)) {
                delivered_since_start_ += 1;
            }
            if (!done) {
                continue;
            }
            // A completed acquisition copies nothing more: wait for the next start rather than spin.
        }
        copy_signal_.wait(seen, std::memory_order_acquire);
    }
    copy_thread_running_ = false;
}

bool VNAcquisition::check_done()
{
    if (state_ == Completed) {
        return true;
    }
    if (requested_ == GENTL_INFINITE || delivered_since_start_ < requested_) {
        return false;
    }
    return board_->exclusively([&] {
        MutexLock guard(acquisition_mutex_);
        if (state_ != Running) {
            return true;  // stopped meanwhile; the pending frames are stale
        }
        state_ = Completed;
        running_ = 0;
        board_->stop_acq(true);
        return true;
    });
}

void VNAcquisition::adapt_margin(bool overwritten) noexcept
{
    // Under overrun the board comes round to the oldest pending frame first. How much of a lap a copy needs
    // depends on the frame size, the consumers and the machine's load, so the margin is learnt: each copy the
    // board overwrote widens it by a frame (up to all but the newest frame of the ring, which
    // FrameRing::take bounds); 64 whole copies in a row narrow it by one, so that a margin left over from a
    // burst stops costing frames. At a rate the consumers keep up with, few frames are pending, no copy is
    // overwritten, the margin stays 0 and nothing is given up.
    constexpr uint64_t narrow_after = 64;
    if (overwritten) {
        const uint64_t capacity = ring_.capacity();
        copy_margin_ = std::min(copy_margin_ + 1, capacity > 2 ? capacity - 2 : 0);
        whole_copies_ = 0;
    } else if (++whole_copies_ >= narrow_after) {
        copy_margin_ -= copy_margin_ > 0 ? 1 : 0;
        whole_copies_ = 0;
    }
}

bool VNAcquisition::copy_frame(PoolBuffer& buffer)
{
    // Frame numbers start again at 1 with every start, so after a stop and a start the board may have begun
    // the new acquisition's frame of the same number in the buffer being copied. The session, changed by
    // every start and end of an acquisition and read before the position is taken, tells the two apart.
    const uint64_t session = session_.load();
    const auto slot = ring_.take(copy_offset_, copy_margin_);
    if (!slot) {
        return false;
    }
    started_ += 1;
    // The view is taken under the board's frame lock; the copy is made from it with none of the board's
    // locks held, so the acquisition thread never waits for it. Only the frame recorded for the position is
    // taken: when the board has come round to the buffer since, that later frame waits for its own turn.
    std::optional<VNBoards::FrameView> frame = board_->frame_view(static_cast<size_t>(slot->position), slot->frame);
    if (!frame) {
        return false;
    }
    frame->received_ns = slot->received_ns;
    // The board buffer was handed back when the frame arrived, so the board may be writing the next lap's
    // frame into it before or while it is copied. Such a copy is never delivered: the frame is lost and
    // the buffer waits in the input queue for the next one.
    if (!board_->frame_intact(*frame)) {
        overwritten_ += 1;
        adapt_margin(true);
        return false;
    }
    bool overwritten = false;
    const uint64_t copy_begun = steady_ns();
    const bool filled = buffer.fill(*frame, copier_, [&] {
        overwritten = !board_->frame_intact(*frame) || session_.load() != session;
        return !overwritten;
    });
    placement_.copied(steady_ns() - copy_begun);
    if (overwritten) {
        overwritten_ += 1;
    }
    adapt_margin(overwritten);
    return filled;
}

void VNAcquisition::dump_vantrel_errors()
{
    if (!board_) {
        return;
    }
    for (const std::string& text : board_->drain_errors()) {
        report_error("VNAcquisition::dump_vantrel_errors", GC_ERR_ERROR, text);
    }
}

// The gate and the doors. The settings lock comes before the gate lock; a door that changes the board's
// set-up takes both itself, so that it keeps that order when it is reached from a register write (which
// holds the settings lock already) as well as from the gate.

namespace {

// The settings lock, when the engine was given one, then the gate lock.
class GateLock {
public:
    GateLock(std::recursive_mutex* settings, std::recursive_mutex& gate)
        : settings_(settings != nullptr ? std::unique_lock(*settings) : std::unique_lock<std::recursive_mutex>()),
          gate_(gate)
    {
    }

private:
    std::unique_lock<std::recursive_mutex> settings_;
    std::lock_guard<std::recursive_mutex> gate_;
};

}  // namespace

VNAcquisition::GateAnswer VNAcquisition::transition(StreamCall call, std::string_view stream, const Change& change)
{
    GateAnswer answer;
    if (rule_of(call).states == every_state) {
        // Nothing to check, and the work runs without the gate lock: it may drop a buffer, whose handle then
        // waits for the other calls that found it, and those must not be waiting for the gate meanwhile. The
        // doors that change the board's set-up (configure, release) take the gate lock themselves.
        answer.state = status();
        answer.code = change ? change() : GC_ERR_SUCCESS;
        return answer;
    }
    const GateLock gate(settings_.lock, gate_mutex_);
    answer.state = status();
    if (!contains(rule_of(call).states, answer.state)) {
        std::tie(answer.code, answer.refusal) = refusal_of(call, answer.state, stream);
        return answer;
    }
    answer.code = change ? change() : GC_ERR_SUCCESS;
    return answer;
}

GC_ERROR VNAcquisition::configure()
{
    static constexpr const char* function = "VNAcquisition::configure";
    const GateLock gate(settings_.lock, gate_mutex_);
    if (!settings_.read) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "The data stream has no settings to configure the board for acquisition from.");
    }
    // The count and region are read, and the board configured from them, as one step against the writes to
    // the registers they come from (which hold the settings lock): an announcement sees a whole region and
    // cannot apply one that a write has replaced since.
    const Settings settings = settings_.read();
    const State now = status();
    if (now == NoBoard) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "The board is in a bad state, and cannot be configured for acquisition.");
    }
    if (now != NotConfigured && board_->buffer_count() == settings.count && roi_matches(settings.roi)) {
        return GC_ERR_SUCCESS;
    }
    const bool ready = board_->exclusively([&] {
        board_->check_init(VNBoards::OpenLevel::Inspect);
        // A reconfiguration keeps the level that the board had before the stream first configured it.
        if (board_->state() != BoardState::Configured) {
            saved_state_ = board_->state();
        }
        return make_ready(settings.count, settings.roi) == Ready;
    });
    // The board has recorded why it could not be configured.
    return ready ? GC_ERR_SUCCESS : GC_ERR_ACCESS_DENIED;
}

GC_ERROR VNAcquisition::release()
{
    const GateLock gate(settings_.lock, gate_mutex_);
    const State now = status();
    if (now == NoBoard) {
        return report_error("VNAcquisition::release", GC_ERR_ACCESS_DENIED,
                            "The board is in a bad state, and cannot be deconfigured from acquisition.");
    }
    if (now == NotConfigured) {
        return GC_ERR_SUCCESS;
    }
    board_->exclusively([&] {
        board_->check_init(VNBoards::OpenLevel::Inspect);
        teardown();
        board_->reopen(saved_state_);
    });
    return GC_ERR_SUCCESS;
}

GC_ERROR VNAcquisition::announce(void* data, size_t size, void* user_pointer, std::shared_ptr<PoolBuffer>* buffer_out)
{
    if (const GC_ERROR code = pool_->announce_shared(buffer_out, data, size, user_pointer)) {
        return code;
    }
    return configure();
}

GC_ERROR VNAcquisition::announce(size_t size, void* user_pointer, std::shared_ptr<PoolBuffer>* buffer_out)
{
    if (const GC_ERROR code = pool_->announce_shared(buffer_out, size, user_pointer)) {
        return code;
    }
    return configure();
}

GC_ERROR VNAcquisition::revoke(PoolBuffer* buffer, void** data_out, void** user_pointer_out)
{
    if (const GC_ERROR code = pool_->revoke_buffer(buffer, data_out, user_pointer_out)) {
        return code;
    }
    if (pool_->announced_count() == 0) {
        release();
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNAcquisition::queue(PoolBuffer* buffer)
{
    return pool_->queue_to_input(buffer);
}

GC_ERROR VNAcquisition::flush(int32_t operation)
{
    switch (operation) {
    case ACQ_QUEUE_INPUT_TO_OUTPUT:
        return pool_->flush_input_to_output();
    case ACQ_QUEUE_OUTPUT_DISCARD:
        // The frames not copied yet would otherwise fill the discarded buffers' successors.
        ring_.skip_all();
        return pool_->flush_output_discard();
    case ACQ_QUEUE_ALL_TO_INPUT:
        return pool_->flush_all_to_input();
    case ACQ_QUEUE_UNQUEUED_TO_INPUT:
        return pool_->flush_unqueued_to_input();
    case ACQ_QUEUE_ALL_DISCARD:
        ring_.skip_all();
        return pool_->flush_all_discard();
    default:
        return GC_ERR_NOT_IMPLEMENTED;
    }
}

GC_ERROR VNAcquisition::buffer_from_id(uint64_t id, std::shared_ptr<PoolBuffer>* buffer_out)
{
    return pool_->shared_buffer_from_id(id, buffer_out);
}

GC_ERROR VNAcquisition::buffer_id_of_handle(const void* handle, uint64_t* id_out)
{
    return pool_->buffer_id_of_handle(handle, id_out);
}

GC_ERROR VNAcquisition::wait_buffer(std::shared_ptr<PoolBuffer>* buffer_out, uint64_t timeout_ms,
                                    std::atomic<uint32_t>& kill, const BufferPool::WaitEnded& ended)
{
    placement_.consumer_waits();
    return pool_->dequeue_latest(buffer_out, timeout_ms, kill, ended);
}

void VNAcquisition::wake_waiters()
{
    pool_->wake_output_waiters();
}

GC_ERROR VNAcquisition::start_acquisition(uint64_t count)
{
    const GateLock gate(settings_.lock, gate_mutex_);
    if (status() == NotConfigured) {
        if (const GC_ERROR code = configure()) {
            return code;
        }
    }
    // A board that refuses to start has recorded why.
    return start(count) > Ready ? GC_ERR_SUCCESS : GC_ERR_ERROR;
}

GC_ERROR VNAcquisition::stop_acquisition(bool kill)
{
    const GateLock gate(settings_.lock, gate_mutex_);
    if (kill) {
        abort();
    } else {
        stop();
    }
    return GC_ERR_SUCCESS;
}

}  // namespace vngtl
