// One simulated frame-grabber board: its camera files, region of interest, registers, error stacks, the
// attached camera, its circular buffers and the thread that completes frames while it runs free. The
// frames' format, pace and pattern come from the attached camera when the board has one (AttachedCamera.h
// says how).
//
// Thread safety: every public operation is thread-safe. Two locks, taken in this order:
//   control_  serialises the operations that start or join the frame generator thread (acquisition
//             control, clean-up, close, trigger-mode changes, shutdown); never taken by the generator;
//   lock_     guards all other state; the generator thread takes it for each frame, and waits for
//             completed frames release it while blocked.
// Ownership: the board owns its attached camera. SimSystem owns the boards by shared_ptr; an SDK call
// holds its own reference for its duration, so a board retired by a new configuration stays valid
// (answering failures) until the last call on it returns.
#pragma once

#include "AttachedCamera.h"
#include "BufferRing.h"
#include "CxpCamera.h"
#include "SerialLine.h"
#include "SimConfig.h"

#include <VantrelSdk.h>

#include <vnsim.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vnsim {

class SimBoard {
public:
    SimBoard(uint32_t index, BoardConfig config);
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // Stops acquisition, joins the generator, frees the buffers; every later call fails.
    void shutdown();

    uint32_t index() const { return index_; }
    BoardKind kind() const { return config_.kind; }
    const BoardConfig& config() const { return config_; }  // immutable after construction
    bool present() const;
    void set_present(bool present);

    // Handles. open: 0 or a Vb code; acquisition tells whether the handle may acquire.
    int32_t open(uint32_t flags, const char* camera_file, bool& acquisition);
    void close(bool acquisition);
    int open_handles() const;

    // Camera file, geometry, region of interest.
    int32_t camera_file_name(char* text, uint32_t size) const;
    int32_t inquire(uint32_t key, uint32_t& value) const;
    int32_t set_roi(bool acquisition, uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t flags);
    int32_t camera_identity(char* make, uint32_t make_size, char* model, uint32_t model_size, char* mode,
                            uint32_t mode_size) const;

    // Circular acquisition; desc is the caller's descriptor.
    int32_t alloc_buffers(bool acquisition, VB_CIRC_DESC* desc, uint32_t count);
    int32_t setup(VB_CIRC_DESC* desc, uint32_t mode, uint32_t flags);
    int32_t control(VB_CIRC_DESC* desc, uint32_t command, uint32_t flags);
    int32_t wait_done(VB_CIRC_DESC* desc, uint32_t timeout_ms, VB_FRAME_RECORD* record);
    int32_t give_back(VB_CIRC_DESC* desc, const VB_FRAME_RECORD* record);
    // The counter of the frame the board last began writing into buffer `index`.
    int32_t frame_begun(const VB_CIRC_DESC* desc, uint32_t index, uint64_t& counter) const;
    int32_t cleanup(VB_CIRC_DESC* desc);
    int32_t free_buffers(VB_CIRC_DESC* desc);

    // Error stacks.
    int32_t pop_vb_error();
    int32_t last_vn_error();
    void clear_last_vn_error();
    void push_vb_error(int32_t code);
    void push_vn_error(int32_t code);

    // Registers 0 to 3633.
    int32_t register_name(uint32_t number, char* text, uint32_t size) const;
    int32_t peek(uint32_t number, uint32_t& value);
    int32_t poke(uint32_t number, uint32_t value);

    // CoaXPress.
    int32_t cxp_read(uint32_t address, uint8_t* data, uint32_t length);
    int32_t cxp_write(uint32_t address, const uint8_t* data, uint32_t length);
    int32_t cxp_read_register(uint32_t address, uint32_t& value);
    int32_t cxp_write_register(uint32_t address, uint32_t value);
    int32_t cxp_configure_link(uint32_t connections, uint32_t speed_row, uint32_t apply);
    bool cxp_link(uint32_t& connections, uint32_t& speed_row) const;
    // Control interface of the CoaXPress camera; false (or vn_wrong_family) on other boards.
    bool cxp_stats(VnsimCxpStats& stats) const;
    bool cxp_clear_stats();
    int32_t cxp_peek(uint32_t address, uint8_t* data, uint32_t length) const;
    int32_t cxp_poke(uint32_t address, const uint8_t* data, uint32_t length);
    bool cxp_fault_reads(uint32_t address, int32_t count);
    bool cxp_fault_silent(bool silent);
    int32_t option(const char* key, uint32_t& value) const;

    // Brings a change of the attached camera's state to the frames; call after every operation that
    // reached the camera. Requires lock_.
    void camera_changed_locked();

    // Camera Link: the serial line to the camera; null on other boards. Fixed at construction; valid for
    // as long as the board (a serial call holds a board reference).
    SerialLine* serial_line() const { return serial_line_.get(); }

    // Control interface.
    int trigger(uint32_t n);
    // Pulses the board's trigger input n times (each a rising, then a falling edge).
    void pulse_trigger_input(uint32_t n);
    void set_rate(double frames_per_second);
    void set_trigger_mode(TriggerMode mode);
    void set_pattern(PatternMode pattern);
    VnsimFrameStats stats() const;
    void fault_open_fails(uint32_t count);
    void fault_stop_after(uint32_t frames, bool abort);
    void fault_next_fails(int which);

private:
    using Clock = std::chrono::steady_clock;

    // Both require lock_.
    bool usable_locked() const { return !retired_ && present_; }
    BufferRing* ring_for_locked(const VB_CIRC_DESC* desc) const;
    FrameGeometry geometry_locked() const;
    // What the board receives: the attached camera's format, or the camera file's without a camera.
    FrameGeometry sensor_locked() const;
    bool camera_streaming_locked() const { return !attached_ || attached_->streaming(); }
    bool camera_ready_locked() const { return !attached_ || attached_->frame_ready(); }
    PatternMode pattern_locked() const;
    // What a frame's bytes come from: the user's images (cut at the region of interest and the camera's
    // window on its sensor) or else the test pattern. Taken under lock_, used while the frame is written.
    struct FrameSource {
        PatternMode pattern = PatternMode::Moving;
        std::shared_ptr<const ImageReplay> images;
        uint32_t image_x = 0;
        uint32_t image_y = 0;
    };
    FrameSource frame_source_locked() const;
    // Begins the next frame in its buffer (counting an overwrite) and says what its bytes come from; none
    // when the board is not acquiring or the user's images have run out.
    std::optional<BufferRing::Begun> begin_frame_locked(FrameSource& source);
    // Makes the next frame at once (a trigger): begun, written and completed under lock_.
    bool complete_frame_locked();
    // The generator's frame, made as a board's DMA makes it: begun under lock_, written with lock_ given up
    // (so the host may read the buffer meanwhile), then completed under lock_ again, unless the acquisition
    // stopped or the buffers went in between. False when there is no frame to make.
    bool make_frame(std::unique_lock<std::mutex>& guard);
    // Completion bookkeeping of a frame begun and written: time stamps, counters, a stop armed by a fault.
    // The caller wakes frame_done_'s waiters once it has given up lock_, so that a woken host thread does
    // not at once block again on the lock the board still holds.
    void finish_frame_locked(const BufferRing::Begun& frame);
    uint32_t live_value_locked(const RegisterConfig& reg) const;
    void push_vb_locked(int32_t code);
    // The level of the board's trigger input (the TRIG_IN register) changes; the camera sees the edge.
    void set_trigger_input_locked(bool level);
    void push_vn_locked(int32_t code);
    // Records a failed driver call as the board's last error and returns the code.
    int32_t vn_fail(int32_t code);
    // One access to the attached CoaXPress camera, the one path of cxp_read, cxp_write and the register
    // accesses: checks the board and its family, counts the access in the link statistics, holds a block
    // access to whole words where the board asks for them, runs `access` on the camera under lock_ and brings a
    // write's change to the frames.
    enum class CxpAccess { Read, Write, RegisterRead, RegisterWrite };
    int32_t cxp_access(CxpAccess kind, uint32_t address, uint32_t length,
                       const std::function<int32_t(CxpCamera&)>& access);

    // Both require control_ and not lock_.
    void start_generator();
    void stop_generator();
    void generate(std::stop_token stop);

    const uint32_t index_;
    const BoardConfig config_;
    const Clock::time_point epoch_ = Clock::now();

    mutable std::mutex control_;
    mutable std::mutex lock_;
    std::condition_variable frame_done_;    // completed frames and acquisition state changes
    std::condition_variable_any pace_;      // the generator's sleep between frames; a rate change wakes it
    std::jthread generator_;                // guarded by control_

    bool retired_ = false;
    bool present_ = true;
    int handles_ = 0;
    bool acquisition_open_ = false;
    const CameraFileConfig* camera_ = nullptr;  // points into config_
    uint32_t roi_x_ = 0, roi_y_ = 0, roi_width_ = 0, roi_height_ = 0;
    std::vector<uint32_t> register_values_;
    std::deque<int32_t> vb_errors_;
    std::vector<int32_t> vn_errors_;
    std::unique_ptr<AttachedCamera> attached_;  // the camera; null on boards without one
    CxpCamera* cxp_camera_ = nullptr;           // attached_ when it is a CoaXPress camera
    uint64_t camera_generation_ = 0;            // the camera's generation last brought to the frames
    FrameGeometry camera_format_;               // and its format, rate and streaming state then
    std::optional<double> camera_rate_;
    bool camera_ready_ = true;
    // Camera Link boards: the line to attached_ (a ClCamera); declared after it, so it goes first.
    std::unique_ptr<SerialLine> serial_line_;
    uint32_t cxp_connections_ = 0;
    uint32_t cxp_speed_row_ = 0;
    VnsimCxpStats cxp_stats_{};  // link traffic since the configuration (or the last clear)

    std::unique_ptr<BufferRing> ring_;
    // The begun numbers of ring_'s buffers, for frame_begun, which the host asks twice a frame: behind a
    // lock of their own (taken after lock_, or alone), so the question does not wait for the generator.
    void set_begun_numbers_locked();
    mutable std::mutex begun_lock_;
    uint64_t begun_ring_id_ = 0;                                   // guarded by begun_lock_
    uint32_t begun_count_ = 0;                                     // guarded by begun_lock_
    std::shared_ptr<const std::atomic<uint64_t>[]> begun_numbers_;  // guarded by begun_lock_
    FrameSourceConfig source_;
    uint64_t pace_epoch_ = 0;
    uint64_t last_board_timestamp_ = 0;
    // With a bus bandwidth: when the DMA's last byte so far is due. Generator thread only.
    Clock::time_point dma_due_{};

    uint64_t generated_ = 0, overwritten_ = 0, delivered_ = 0, returned_ = 0;

    uint32_t open_fails_ = 0;
    uint32_t stop_after_ = 0;
    bool stop_is_abort_ = false;
    bool roi_set_fails_ = false, buffer_alloc_fails_ = false, circ_setup_fails_ = false;
};

}  // namespace vnsim
