// One frame-grabber board channel, addressed by its board number: the library's only route to the board SDK.
// Every SDK call of the producer is made by an operation of this class (or by the free functions below);
// neither its handle nor its locks are handed out.
//
// The board is opened lazily and in levels (OpenLevel, BoardState): for inspection, for acquisition, and
// configured for circular acquisition. Every operation records its failures with report_error and answers
// with a state, a boolean or the SDK's own result; none throws.
//
// Locks, always taken in this order and never the other way round:
//   1. state lock  (recursive, timed) - every operation that looks at or changes the open state, the handle,
//                  the camera file or the geometry, and every camera-side call. A caller that needs several
//                  operations to be seen as one runs them in exclusively(), which holds it across them.
//   2. SDK lock    - held around opening, closing and buffer set-up and tear-down, and across the wait for a
//                  completed frame. frame_wait gives the state lock back before it waits, so start, stop and
//                  abort (state lock only) get through while another thread waits for a frame, whereas open,
//                  close and set-up wait until that wait has ended. Camera access never takes it, so it is
//                  not held up by a frame wait.
//   3. frame lock  - the frame table (the latest record of each circular buffer) and the geometry that
//                  frame_view describes frames with; held only while a view is made, never during a copy.
// Beside them, the memory lock (shared) is held by every FrameView for as long as its frame is copied, and
// taken exclusively (after the SDK lock) by teardown_acq before it frees the circular buffers.
// The state itself is atomic; status queries read it without a lock.
//
// The board's parts: the CoaXPress link (BoardCxpLink) and the Camera Link serial line (BoardSerialLine),
// each with a leaf lock of its own, taken last. The board attaches them to its handle when it opens and
// detaches them before it closes; its camera-side operations reach them with the state lock held.
//
// The compiler checks these rules under clang (core/ThreadSafety.h): what each lock guards, the functions that
// need a lock held, and the order state -> SDK -> frame. Not checked, and why: the state lock is recursive
// (operations call each other, and run inside exclusively(), with it held), which the analysis knows only as
// a plain lock; the memory lock is carried by a FrameView beyond the call that took it; and the SDK handle is
// written under the state and SDK locks together but read under either, or under a FrameView's hold, which
// no one lock guards.
#pragma once

#include "board/BoardCxpLink.h"
#include "board/BoardSerialLine.h"
#include "board/BoardTypes.h"
#include "board/FrameView.h"
#include "core/ThreadSafety.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

// The SDK's board handle and circular-buffer descriptor, known here only by name: no file above the board
// sees the SDK.
struct VnBoard;
struct VbCircDesc;

namespace VNBoards {

struct BoardTestAccess;

// Numbers of the board's own registers run from 0 to one below this.
inline constexpr uint32_t board_register_count = 3634;

// The number of boards the SDK enumerates; 0 when it cannot tell.
uint32_t enumerate_boards();

// Passes one line to the board driver's debug output.
void debug_output(const char* line);

class Board {
public:
    // Opens the board for inspection with its default camera file; a failed open leaves it Closed, and later
    // check_init calls try again.
    explicit Board(uint32_t board_number);
    // Closes the board unless it is Configured.
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Opens the board at `level`, closing and reopening it when it is open at a lower level or `camera_file`
    // names a camera file other than the current one. A Configured board is never reopened. Returns the
    // state afterwards; a value outside OpenLevel only returns the state.
    BoardState check_init(OpenLevel level, const std::string& camera_file = {});
    // Brings the board to `level` (Closed, Open or OpenForAcquisition): closes it first when it is open
    // above that level, so the level can go down, then opens it as check_init does.
    BoardState reopen(BoardState level, const std::string& camera_file = {});
    // Closes the board. True when it is Closed afterwards; false (and nothing done) when it is Configured.
    bool close_board();

    // Runs `step` with the state lock held, so that the board operations it makes (and the caller's own
    // state that must change with them) are seen by every other user of the board as one. `step` calls
    // only operations of this board and locks that come after the state lock.
    template <class Step>
    decltype(auto) exclusively(Step&& step)
    {
        vngtl::RecursiveTimedMutexLock state_guard(state_lock_);
        return std::forward<Step>(step)();
    }

    // What a change of camera file came to.
    enum class CameraFileChange {
        Changed,     // the board is open with the new file, at the level it had
        Configured,  // refused: the board is configured for acquisition
        Failed,      // the board would not open with the file; it was reopened with the one it had
    };
    // Opens the board with `file` at its present level.
    CameraFileChange change_camera_file(const std::string& file);

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

    // Waits up to `timeout_ms` for the next completed frame and keeps its record in the frame table; 0 only
    // looks (Timeout when no frame is waiting). Failed (and a record) when not Configured.
    FrameWait frame_wait(FrameRecord& record, uint32_t timeout_ms = 100);
    // Hands a completed frame's buffer back to the board. False when the board refused it or is not
    // Configured (recorded).
    bool set_frame_available(const FrameRecord& record);
    // The frame kept for circular buffer `index`, marked consumed: none (recorded) when there is no such
    // buffer or it holds no frame not handed out yet. The caller copies from the view and makes no other
    // call on this board until it has dropped it (a tear-down waits for the view under the state lock).
    // With `frame` given (not 0), only that frame's record is handed out: a buffer whose record is of another
    // frame (the board came round to it again since the position was taken, or it still holds a lap before)
    // answers none, unrecorded and unconsumed, as that other frame has its own turn or none.
    std::optional<FrameView> frame_view(size_t index, uint64_t frame = 0);
    // Whether the board has begun no other frame in the view's buffer since the view's frame: asked before
    // a copy from the view (nothing to copy otherwise) and after it, as a sequence-lock reader does. The
    // board announces a frame in a buffer before it writes any of its bytes, so a copy that read any byte
    // of a later frame finds the number changed afterwards and must be dropped. Needs no lock: only the
    // holder of the view asks, and the view keeps the circular buffers (and the handle) in place.
    bool frame_intact(const FrameView& view);

    std::string camera_file();
    // Opens the board for inspection; whether it then has a camera file (and so a camera).
    bool has_camera_file();
    // The board's ID (the interface module's ID); empty until the board has been opened once. Needs no lock.
    std::string board_id() const;
    // "<make> <model>" of the camera file; empty when the board is closed or the SDK has no answer.
    std::string camera_identity();
    // The model text of the board's identity strings, after opening for inspection; empty when the SDK has
    // no answer.
    std::string board_model();
    // The serial number of the board's identity strings followed by "-" and the board number, so that the
    // channels of one board tell apart; "Vantrel board <n>" when the SDK has no answer. Opens for inspection.
    std::string board_serial();
    // The size of one frame in bytes, opening the board for inspection first when it has no camera file; 0
    // when the board cannot tell.
    uint32_t frame_bytes();

    // The board's register names by number, after opening for inspection; numbers without a name are left
    // out.
    std::vector<std::pair<uint32_t, std::string>> register_names();
    // One board register, after opening for inspection: its value, and the SDK's result of a write.
    uint32_t reg_peek(uint32_t number);
    int32_t reg_poke(uint32_t number, uint32_t value);

    Roi default_roi();
    Roi current_roi();
    // Counts the changes of the frame the camera sends (its size or pixel depth), as seen after each write
    // to the camera and after acquisition is torn down: the region of interest then starts again as the
    // whole new frame. Needs no lock.
    uint64_t geometry_generation() const noexcept { return geometry_generation_.load(); }
    std::string kind_name() const;

    // The next code on the buffer library's error stack (0 when empty).
    int32_t pop_vb_error();
    std::string vb_error_text(int32_t code);
    // The driver's last error code, which is cleared (0 when there is none).
    int32_t pop_vn_error();
    std::string vn_error_text(int32_t code);
    // Empties both error stacks into texts, the buffer library's first: "Vb[<code>] = <text>", then
    // "VN[<code>] = <text>" (at most 1024 of each, so a stack that never empties cannot hold the caller).
    std::vector<std::string> drain_errors();

    // Camera-side access for the remote-device ports. Each takes the state lock (never the SDK lock), opens
    // the board for inspection and makes one SDK call (the CoaXPress ones through the board's BoardCxpLink).
    // Family of the opened board, asked of the SDK now; false when the board cannot be opened.
    bool is_cl();
    bool is_cxp();
    // A per-board option: the SDK answered `key` with success and a value other than 0.
    bool registry_flag(const std::string& key);
    // The camera's make, model and mode texts; false when the board cannot be opened or the SDK fails.
    bool camera_mmm(std::string& make, std::string& model, std::string& mode);
    // CoaXPress camera access on the board's own link.
    BoardCall cxp_read_data(uint32_t address, void* buffer, uint32_t length, uint32_t& bytes_read);
    BoardCall cxp_write_data(uint32_t address, const void* buffer, uint32_t length);
    BoardCall cxp_read_reg(uint32_t address, uint32_t& value);
    BoardCall cxp_write_reg(uint32_t address, uint32_t value);
    // Sets the link's connection count and speed-table row and applies the change at once.
    BoardCall cxp_configure_link_speed(uint32_t connections, uint32_t row);

    // Camera Link serial access on the board's serial handle, through the Camera Link serial library and the
    // board's BoardSerialLine. Each takes the state lock, opens the board for inspection and makes its calls;
    // `opened` is false (and nothing called) when the board stays closed or lacks the serial handle. A read or
    // write that times out (-10004) flushes the port, so that the next request starts clean.
    BoardCall serial_read(void* buffer, uint32_t& size, uint32_t timeout_ms);
    BoardCall serial_write(const void* buffer, uint32_t& size, uint32_t timeout_ms);
    BoardCall serial_supported_baud_rates(uint32_t& rates);
    BoardCall serial_set_baud_rate(uint32_t rate);
    // The line's rate in bits per second (clVNGetBaudRate on the serial reference); `opened` is false
    // without the SDK handle or the serial reference.
    BoardCall serial_baud_rate(uint32_t& rate);
    // -10006 when the board cannot be opened, 0 with both serial values, -10003 otherwise.
    int32_t serial_check();
    // Both serial values present on the opened board.
    bool serial_ready();
    // The index of the board's serial port in the serial library's list: the configured devices in sorted
    // order, counting those with a serial port, up to this board's device name. -1 when it is not listed,
    // -10006 when the SDK cannot tell or the board cannot be opened.
    int32_t serial_port_index();

    BoardState state() const noexcept { return state_.load(); }
    uint32_t board_number() const noexcept { return board_number_; }
    BoardKind kind() const noexcept { return kind_.load(); }
    uint32_t bit_depth();

private:
    // White-box tests compare the board's answers with the SDK's own on the same handle.
    friend struct BoardTestAccess;

    // The model and serial texts of the board's identity strings, after opening for inspection; both empty
    // when the SDK has no answer.
    std::pair<std::string, std::string> board_strings();

    // What frame_view describes each frame with besides its record; fixed while Configured.
    struct FrameGeometry {
        BoardKind kind = BoardKind::Custom;
        size_t frame_size = 0;
        uint32_t bit_depth = 0;
        Roi roi;
    };

    // close_board with the state and SDK locks already held.
    bool P_close_board() REQUIRES(state_lock_, sdk_lock_);
    // Reads the camera file, board ID, family, bit depth and region of interest after an open.
    void P_check_params() REQUIRES(state_lock_);
    // Re-reads the frame geometry after the camera may have changed it (not while Configured: the buffers
    // keep the format they were set up with).
    void P_refresh_geometry() REQUIRES(state_lock_);
    // After a write to the camera (a CoaXPress write, a serial transfer): a completed one may have changed
    // the camera's frame, which the board then takes up. Answers `call`.
    BoardCall P_after_camera_write(BoardCall call) REQUIRES(state_lock_);
    // One inquiry key of the open board; 0 when the board has no answer.
    uint32_t inquire(uint32_t key);
    Roi inquire_roi();
    bool has_handle() const noexcept { return handle_ != nullptr; }
    // Opens the board for inspection for a camera-side call; false when it stays closed.
    bool open_for_camera() REQUIRES(state_lock_);

    std::atomic<BoardState> state_{BoardState::Closed};
    const uint32_t board_number_;
    std::string camera_file_ GUARDED_BY(state_lock_);
    std::atomic<std::shared_ptr<const std::string>> board_id_;
    std::atomic<BoardKind> kind_{BoardKind::Custom};
    uint32_t bit_depth_ GUARDED_BY(state_lock_) = 0;
    std::atomic<uint64_t> geometry_generation_{0};
    Roi default_roi_ GUARDED_BY(state_lock_);
    Roi current_roi_ GUARDED_BY(state_lock_);
    // Written under the state and SDK locks together; read under either, or while a FrameView holds the
    // memory lock (see the top of this file).
    VnBoard* handle_ = nullptr;
    const std::unique_ptr<VbCircDesc> descriptor_;  // made with the board, never replaced
    std::vector<FrameRecord> frames_ GUARDED_BY(frame_lock_);
    FrameGeometry geometry_ GUARDED_BY(frame_lock_);
    BoardCxpLink cxp_;        // attached to the handle while the board is open
    BoardSerialLine serial_;  // opened with the board, closed before it

    // Lock order: state_lock_, then sdk_lock_, then frame_lock_ (see the top of this file).
    vngtl::RecursiveTimedMutex state_lock_;
    vngtl::Mutex sdk_lock_ ACQUIRED_AFTER(state_lock_);
    vngtl::Mutex frame_lock_ ACQUIRED_AFTER(sdk_lock_);
    // The circular buffers' memory: shared by each FrameView, exclusive while teardown_acq frees it.
    std::shared_mutex memory_lock_;
};

}  // namespace VNBoards
