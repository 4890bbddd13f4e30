// One frame-grabber board channel, addressed by its board number: the library's only route to the board SDK.
//
// The board is opened lazily and in levels (BoardState): for inspection, for acquisition, and configured for
// circular acquisition. Every operation records its failures with report_error and answers with a state, a
// boolean or the SDK's own result; none throws.
//
// Locks, always taken in this order and never the other way round:
//   1. state lock  (recursive, timed) - every operation that looks at or changes the open state, the handle,
//                  the camera file or the geometry. Modules hold it across several board calls.
//   2. SDK lock    - held around opening, closing and buffer set-up and tear-down, and across the wait for a
//                  completed frame. frame_wait gives the state lock back before it waits, so start, stop and
//                  abort (state lock only) get through while another thread waits for a frame, whereas open,
//                  close and set-up wait until that wait has ended.
//   3. frame lock  - the frame table (the latest record of each circular buffer) and the geometry that
//                  frame_copy hands to the destination.
// The state itself is atomic; status queries read it without a lock.
#pragma once

#include "acquisition/BoardTypes.h"
#include "acquisition/VantrelSdk.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace VNBoards {

class FrameSink;

class Board {
public:
    // Opens the board at level 1 with its default camera file; a failed open leaves it Closed, and later
    // check_init calls try again.
    explicit Board(uint32_t board_number);
    // Closes the board unless it is Configured.
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Opens the board at `level` (1 inspection, 2 acquisition), closing and reopening it when it is open at a
    // lower level or `camera_file` names a camera file other than the current one. A Configured board is
    // never reopened. Returns the state afterwards; any other level only returns the state.
    BoardState check_init(uint32_t level, const std::string& camera_file = {});
    // As check_init, but closes the board first when it is open above `level`, so the level can go down.
    BoardState reopen(uint32_t level, const std::string& camera_file = {});
    // Closes the board. True when it is Closed afterwards; false (and nothing done) when it is Configured.
    bool close_board();

    // Sets the region of interest; only while OpenForAcquisition (false and no record otherwise). The
    // current region is read back from the board whether or not the board accepted it.
    bool set_roi(const Roi& roi);
    // Allocates `count` circular buffers and sets up circular acquisition: OpenForAcquisition -> Configured.
    BoardState setup_acq(uint64_t count);
    // Stops acquisition and frees the circular buffers: Configured -> OpenForAcquisition.
    BoardState teardown_acq();
    // The number of circular buffers while Configured, else 0.
    uint32_t buffer_count();

    bool start_acq();
    void stop_acq(bool wait);
    void abort_acq();

    // Waits up to 100 ms for the next completed frame and keeps its record in the frame table. Returns the
    // SDK's result (0 frame, 221 time-out, 0x10004 stopped, 0x10005 aborted), or 218 when not Configured.
    int32_t frame_wait(FrameRecord& record);
    // Hands a completed frame's buffer back to the board. The SDK's result, or 218 when not Configured.
    int32_t set_frame_available(const FrameRecord& record);
    // Passes the frame kept for circular buffer `index` to `destination` and marks it consumed.
    bool frame_copy(size_t index, FrameSink& destination);

    std::string camera_file();
    // The board's ID (the interface module's ID); empty until the board has been opened once. Needs no lock.
    std::string board_id() const;
    // "<make> <model>" of the camera file; empty when the board is closed or the SDK has no answer.
    std::string camera_identity();
    Roi default_roi();
    Roi current_roi();
    std::string kind_name() const;

    // The next code on the buffer library's error stack (0 when empty).
    int32_t pop_vb_error();
    std::string vb_error_text(int32_t code);
    // The driver's last error code, which is cleared (0 when there is none).
    int32_t pop_vn_error();
    std::string vn_error_text(int32_t code);

    // For the modules and ports that talk to the SDK directly: they hold state_lock() while they use the
    // handle and the serial values.
    std::recursive_timed_mutex& state_lock() noexcept { return state_lock_; }
    BoardState state() const noexcept { return state_.load(); }
    uint32_t board_number() const noexcept { return board_number_; }
    BoardKind kind() const noexcept { return kind_.load(); }
    uint32_t bit_depth();
    VN_HANDLE handle() const noexcept { return handle_; }
    void* serial_handle() const noexcept { return serial_handle_; }
    void* serial_reference() const noexcept { return serial_reference_; }

private:
    // What frame_copy hands to the destination besides the frame itself; fixed while Configured.
    struct FrameGeometry {
        BoardKind kind = BoardKind::Custom;
        size_t frame_size = 0;
        uint32_t bit_depth = 0;
        Roi roi;
    };

    // close_board with the state and SDK locks already held.
    bool P_close_board();
    // Reads the camera file, board ID, family, bit depth and region of interest after an open.
    void P_check_params();
    // One inquiry key of the open board; 0 when the board has no answer.
    uint32_t inquire(uint32_t key);
    Roi inquire_roi();
    bool has_handle() const noexcept { return handle_ != nullptr; }

    std::atomic<BoardState> state_{BoardState::Closed};
    const uint32_t board_number_;
    std::string camera_file_;
    std::atomic<std::shared_ptr<const std::string>> board_id_;
    std::atomic<BoardKind> kind_{BoardKind::Custom};
    uint32_t bit_depth_ = 0;
    Roi default_roi_;
    Roi current_roi_;
    VN_HANDLE handle_ = nullptr;
    VB_CIRC_DESC descriptor_{};
    std::vector<FrameRecord> frames_;  // guarded by frame_lock_
    FrameGeometry geometry_;           // guarded by frame_lock_
    void* serial_handle_ = nullptr;
    void* serial_reference_ = nullptr;

    // Lock order: state_lock_, then sdk_lock_, then frame_lock_ (see the top of this file).
    std::recursive_timed_mutex state_lock_;
    std::mutex sdk_lock_;
    std::mutex frame_lock_;
};

}  // namespace VNBoards
