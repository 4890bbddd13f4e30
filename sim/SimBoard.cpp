#include "SimBoard.h"

#include "ImageReplay.h"
#include "SdkCodes.h"

#include <pthread.h>

#include <algorithm>
#include <optional>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer's annotations: the calling thread's memory accesses are not recorded between the two.
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace vnsim {

namespace {

constexpr uint64_t descriptor_magic = 0x56425249'4E473031;  // marks a descriptor the SDK filled in
constexpr size_t vb_stack_depth = 64;
constexpr size_t vn_stack_depth = 16;
constexpr uint32_t register_count = 3634;
constexpr uint32_t trigger_input_register = VNSIM_TRIGGER_INPUT_REGISTER;
// CoaXPress bit-rate codes of the board's link-speed table rows 1 to 5 (row 0: the camera's default).
constexpr std::array<uint32_t, 6> link_speed_codes{0, 0x28, 0x30, 0x38, 0x40, 0x48};

// Ring ids are unique in the process, so that a descriptor is never taken for another board's.
std::atomic<uint64_t> next_ring_id{1};

// Copies text with its NUL into a caller buffer; false when it does not fit.
bool copy_text(const std::string& text, char* out, uint32_t size)
{
    if (out == nullptr || text.size() + 1 > size) {
        return false;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

SimBoard::SimBoard(uint32_t index, BoardConfig config)
    : index_(index),
      config_(std::move(config)),
      register_values_(register_count, 0),
      source_(config_.source)
{
    present_ = !config_.faults.missing;
    open_fails_ = config_.faults.open_fails;
    stop_after_ = config_.faults.stop_after_frames;
    stop_is_abort_ = config_.faults.stop_is_abort;
    roi_set_fails_ = config_.faults.roi_set_fails;
    buffer_alloc_fails_ = config_.faults.buffer_alloc_fails;
    circ_setup_fails_ = config_.faults.circ_setup_fails;
    for (const auto& reg : config_.registers) {
        register_values_[reg.number] = reg.value;
    }
    if (config_.kind == BoardKind::CameraLink) {
        auto camera = std::make_unique<ClCamera>(config_.cl_camera, config_.serial_line.baud_rate);
        // Serial traffic reaches the camera without the board; the line tells the board afterwards.
        serial_line_ = std::make_unique<SerialLine>(config_.serial_line, *camera, [this] {
            std::lock_guard guard(lock_);
            camera_changed_locked();
        });
        attached_ = std::move(camera);
    }
    if (config_.kind == BoardKind::CoaXPress) {
        auto camera = std::make_unique<CxpCamera>(config_.cxp_camera, config_.camera_files, config_.source.rate);
        cxp_camera_ = camera.get();
        attached_ = std::move(camera);
        const uint32_t link = config_.cxp_camera.link_config_default;
        cxp_connections_ = link >> 16;
        const auto row = std::find(link_speed_codes.begin() + 1, link_speed_codes.end(), link & 0xFFFF);
        cxp_speed_row_ = row == link_speed_codes.end() ? 0 : static_cast<uint32_t>(row - link_speed_codes.begin());
    }
    if (attached_) {
        camera_generation_ = attached_->generation();
        camera_format_ = attached_->format();
        camera_rate_ = attached_->frame_rate();
        camera_ready_ = attached_->frame_ready();
        if (camera_rate_) {
            source_.rate = *camera_rate_;
        }
    }
}

SimBoard::~SimBoard()
{
    shutdown();
}

void SimBoard::shutdown()
{
    std::lock_guard control(control_);
    {
        std::lock_guard guard(lock_);
        retired_ = true;
        ring_.reset();
        set_begun_numbers_locked();
        handles_ = 0;
        acquisition_open_ = false;
    }
    frame_done_.notify_all();
    stop_generator();
    if (serial_line_) {
        serial_line_->shutdown();
    }
}

bool SimBoard::present() const
{
    std::lock_guard guard(lock_);
    return present_ && !retired_;
}

void SimBoard::set_present(bool present)
{
    {
        std::lock_guard guard(lock_);
        present_ = present;
    }
    frame_done_.notify_all();
}

// ---- Handles ---------------------------------------------------------------------------------------

int32_t SimBoard::open(uint32_t flags, const char* camera_file, bool& acquisition)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vb_no_board;
    }
    if (flags != VB_OPEN_INSPECT && flags != VB_OPEN_ACQUIRE && flags != VB_OPEN_INSPECT_SHARED) {
        return code::vb_bad_argument;
    }
    if (open_fails_ > 0) {
        --open_fails_;
        return code::vb_open_failed;
    }
    // Acquisition and exclusive inspection need the board free of other acquiring handles.
    if (flags != VB_OPEN_INSPECT_SHARED && acquisition_open_) {
        return code::vb_board_busy;
    }
    const CameraFileConfig* camera = camera_;
    if (camera_file != nullptr && *camera_file != '\0') {
        camera = SimConfig::find_camera_file(config_, camera_file);
        if (camera == nullptr) {
            return code::vb_camera_file_unknown;
        }
        if (handles_ > 0 && camera != camera_) {
            return code::vb_board_busy;
        }
    } else if (handles_ == 0) {
        camera = config_.default_camera_file ? SimConfig::find_camera_file(config_, *config_.default_camera_file) : nullptr;
    }
    if (handles_ == 0) {
        camera_ = camera;
        if (attached_ && camera_ != nullptr && attached_->loaded_camera_file() != camera_) {
            attached_->load_camera_file(*camera_);
            camera_changed_locked();
        }
        const FrameGeometry sensor = sensor_locked();
        roi_x_ = roi_y_ = 0;
        roi_width_ = camera_ != nullptr ? sensor.width : 0;
        roi_height_ = camera_ != nullptr ? sensor.height : 0;
    }
    acquisition = flags == VB_OPEN_ACQUIRE;
    acquisition_open_ = acquisition_open_ || acquisition;
    ++handles_;
    return 0;
}

void SimBoard::close(bool acquisition)
{
    std::lock_guard control(control_);
    {
        std::lock_guard guard(lock_);
        if (handles_ > 0) {
            --handles_;
        }
        if (acquisition) {
            // Closing the acquiring handle releases the circular buffers with it.
            acquisition_open_ = false;
            ring_.reset();
            set_begun_numbers_locked();
        }
    }
    frame_done_.notify_all();
    if (acquisition) {
        stop_generator();
    }
}

int SimBoard::open_handles() const
{
    std::lock_guard guard(lock_);
    return handles_;
}

// ---- Camera file, geometry, region of interest -------------------------------------------------------

int32_t SimBoard::camera_file_name(char* text, uint32_t size) const
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vb_bad_handle;
    }
    if (camera_ == nullptr) {
        return code::vb_no_camera_file;
    }
    return copy_text(camera_->name, text, size) ? 0 : code::vb_bad_argument;
}

FrameGeometry SimBoard::sensor_locked() const
{
    if (attached_) {
        return attached_->format();
    }
    if (camera_ == nullptr) {
        return {0, 0, 0};
    }
    return {camera_->width, camera_->height, camera_->bits_per_pixel};
}

FrameGeometry SimBoard::geometry_locked() const
{
    return {roi_width_, roi_height_, camera_ != nullptr ? sensor_locked().bits_per_pixel : 0};
}

PatternMode SimBoard::pattern_locked() const
{
    if (source_.pattern == PatternMode::Benchmark || !attached_) {
        return source_.pattern;
    }
    return attached_->pattern().value_or(source_.pattern);
}

void SimBoard::camera_changed_locked()
{
    if (!attached_ || attached_->generation() == camera_generation_) {
        return;
    }
    camera_generation_ = attached_->generation();
    const FrameGeometry format = attached_->format();
    if (format.width != camera_format_.width || format.height != camera_format_.height ||
        format.bits_per_pixel != camera_format_.bits_per_pixel) {
        // A new frame format: the region of interest becomes the whole new frame.
        camera_format_ = format;
        roi_x_ = roi_y_ = 0;
        roi_width_ = camera_ != nullptr ? format.width : 0;
        roi_height_ = camera_ != nullptr ? format.height : 0;
    }
    bool wake = false;
    const std::optional<double> rate = attached_->frame_rate();
    if (rate != camera_rate_) {
        camera_rate_ = rate;
        if (rate) {
            source_.rate = *rate;
            wake = true;
        }
    }
    if (attached_->frame_ready() != camera_ready_) {
        camera_ready_ = attached_->frame_ready();
        wake = true;
    }
    if (wake) {
        ++pace_epoch_;
        pace_.notify_all();
    }
}

int32_t SimBoard::inquire(uint32_t key, uint32_t& value) const
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vb_bad_handle;
    }
    if (camera_ == nullptr) {
        return code::vb_no_camera_file;
    }
    switch (key) {
    case VB_INQ_WIDTH:
        value = roi_width_;
        return 0;
    case VB_INQ_HEIGHT:
        value = roi_height_;
        return 0;
    case VB_INQ_BITS_PER_PIXEL:
        value = sensor_locked().bits_per_pixel;
        return 0;
    case VB_INQ_FRAME_BYTES:
        value = static_cast<uint32_t>(std::min<uint64_t>(geometry_locked().frame_bytes(), 0xFFFFFFFFu));
        return 0;
    case VB_INQ_X_OFFSET:
        value = roi_x_;
        return 0;
    case VB_INQ_Y_OFFSET:
        value = roi_y_;
        return 0;
    default:
        return code::vb_unknown_key;
    }
}

int32_t SimBoard::set_roi(bool acquisition, uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t flags)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (!acquisition) {
        return vn_fail(code::vn_inspection_only);
    }
    if (roi_set_fails_) {
        roi_set_fails_ = false;
        return vn_fail(code::vn_roi_failed);
    }
    if (camera_ == nullptr) {
        return vn_fail(code::vn_no_camera_file);
    }
    if (ring_) {
        return vn_fail(code::vn_roi_busy);
    }
    if (flags != 0) {
        return vn_fail(code::vn_bad_argument);
    }
    const FrameGeometry sensor = sensor_locked();
    if (width == 0 || height == 0 || uint64_t{x} + width > sensor.width || uint64_t{y} + height > sensor.height) {
        return vn_fail(code::vn_roi_outside_sensor);
    }
    roi_x_ = x;
    roi_y_ = y;
    roi_width_ = width;
    roi_height_ = height;
    return 0;
}

int32_t SimBoard::camera_identity(char* make, uint32_t make_size, char* model, uint32_t model_size, char* mode,
                                  uint32_t mode_size) const
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (camera_ == nullptr) {
        return code::vn_no_camera_file;
    }
    if (camera_->make.empty() && camera_->model.empty()) {
        return code::vn_no_camera_identity;
    }
    if (!copy_text(camera_->make, make, make_size) || !copy_text(camera_->model, model, model_size) ||
        !copy_text(camera_->mode, mode, mode_size)) {
        return code::vn_buffer_too_small;
    }
    return 0;
}

// ---- Circular acquisition ----------------------------------------------------------------------------

BufferRing* SimBoard::ring_for_locked(const VB_CIRC_DESC* desc) const
{
    if (desc == nullptr || !ring_ || desc->sdk_private[0] != descriptor_magic || desc->sdk_private[1] != ring_->id()) {
        return nullptr;
    }
    return ring_.get();
}

int32_t SimBoard::alloc_buffers(bool acquisition, VB_CIRC_DESC* desc, uint32_t count)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vb_bad_handle;
    }
    if (!acquisition) {
        return code::vb_inspection_only;
    }
    if (desc == nullptr || count == 0) {
        return code::vb_bad_argument;
    }
    if (ring_) {
        return code::vb_already_allocated;
    }
    if (camera_ == nullptr) {
        return code::vb_no_camera_file;
    }
    if (buffer_alloc_fails_) {
        buffer_alloc_fails_ = false;
        return code::vb_alloc_failed;
    }
    const FrameGeometry geometry = geometry_locked();
    const uint64_t frame = geometry.frame_bytes();
    if (frame == 0 || frame > 0xFFFFFFFFu || frame * count > config_.max_buffer_bytes) {
        return code::vb_alloc_failed;
    }
    try {
        ring_ = std::make_unique<BufferRing>(count, geometry, next_ring_id.fetch_add(1));
        set_begun_numbers_locked();
    } catch (const std::bad_alloc&) {
        return code::vb_alloc_failed;
    }
    *desc = VB_CIRC_DESC{};
    desc->buffer_count = count;
    desc->frame_size = ring_->frame_size();
    desc->sdk_private[0] = descriptor_magic;
    desc->sdk_private[1] = ring_->id();
    return 0;
}

int32_t SimBoard::setup(VB_CIRC_DESC* desc, uint32_t mode, uint32_t flags)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vb_bad_handle;
    }
    BufferRing* ring = ring_for_locked(desc);
    if (ring == nullptr) {
        return code::vb_not_allocated;
    }
    if (mode != VB_CIRC_MODE || flags != VB_CIRC_FLAGS) {
        return code::vb_bad_circ_mode;
    }
    if (circ_setup_fails_) {
        circ_setup_fails_ = false;
        return code::vb_setup_failed;
    }
    if (ring->running()) {
        return code::vb_already_running;
    }
    ring->set_up();
    return 0;
}

int32_t SimBoard::control(VB_CIRC_DESC* desc, uint32_t command, uint32_t flags)
{
    std::lock_guard control(control_);
    int32_t result = 0;
    bool run_generator = false;
    {
        std::lock_guard guard(lock_);
        if (!usable_locked()) {
            return code::vb_bad_handle;
        }
        BufferRing* ring = ring_for_locked(desc);
        if (ring == nullptr) {
            return code::vb_not_configured;
        }
        if (flags != VB_CIR_WAIT && flags != VB_CIR_NO_WAIT) {
            return code::vb_bad_command;
        }
        switch (command) {
        case VB_CIR_START:
            result = ring->start();
            run_generator = result == 0 && source_.trigger == TriggerMode::Free;
            break;
        case VB_CIR_STOP:
        case VB_CIR_ABORT:
            result = ring->stop_by_host(command == VB_CIR_ABORT);
            break;
        default:
            return code::vb_bad_command;
        }
    }
    frame_done_.notify_all();
    // The generator is joined in every case: once control returns, no further frame completes until the
    // next start (with either flag; the board finishes no frame in flight in this simulation).
    if (run_generator) {
        start_generator();
    } else if (result == 0) {
        stop_generator();
    }
    return result;
}

int32_t SimBoard::wait_done(VB_CIRC_DESC* desc, uint32_t timeout_ms, VB_FRAME_RECORD* record)
{
    std::unique_lock guard(lock_);
    if (record == nullptr) {
        return code::vb_bad_argument;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    // A board that no longer answers (removed, or replaced by a new configuration) lets the wait run out
    // its time-out before failing, as a dead board would, so that a waiting loop does not spin.
    while (!usable_locked()) {
        if (frame_done_.wait_until(guard, deadline) == std::cv_status::timeout) {
            return code::vb_bad_handle;
        }
    }
    const BufferRing* ring = ring_for_locked(desc);
    if (ring == nullptr) {
        return code::vb_not_configured;
    }
    const uint64_t ring_id = ring->id();
    for (;;) {
        if (!usable_locked()) {
            return code::vb_bad_handle;
        }
        if (!ring_ || ring_->id() != ring_id || ring_->state() == RingState::Allocated) {
            return code::vb_not_configured;
        }
        if (auto done = ring_->take()) {
            *record = *done;
            ++delivered_;
            return 0;
        }
        switch (ring_->state()) {
        case RingState::HostStopped:
        case RingState::BoardStopped:
            return code::vb_stopped;
        case RingState::HostAborted:
        case RingState::BoardAborted:
            return code::vb_aborted;
        default:
            break;
        }
        if (timeout_ms == 0) {
            return code::vb_timeout;  // a poll
        }
        if (frame_done_.wait_until(guard, deadline) == std::cv_status::timeout && Clock::now() >= deadline) {
            // One last look: a frame or a stop may have come with the time-out.
            if (ring_ && ring_->id() == ring_id && ring_->pending() > 0) {
                continue;
            }
            return code::vb_timeout;
        }
    }
}

int32_t SimBoard::give_back(VB_CIRC_DESC* desc, const VB_FRAME_RECORD* record)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vb_bad_handle;
    }
    if (record == nullptr) {
        return code::vb_bad_argument;
    }
    BufferRing* ring = ring_for_locked(desc);
    if (ring == nullptr) {
        return code::vb_not_configured;
    }
    const int32_t result = ring->give_back(*record);
    if (result == 0) {
        ++returned_;
    }
    return result;
}

void SimBoard::set_begun_numbers_locked()
{
    std::lock_guard begun_guard(begun_lock_);
    begun_ring_id_ = ring_ ? ring_->id() : 0;
    begun_count_ = ring_ ? ring_->count() : 0;
    begun_numbers_ = ring_ ? ring_->begun_numbers() : nullptr;
}

int32_t SimBoard::frame_begun(const VB_CIRC_DESC* desc, uint32_t index, uint64_t& counter) const
{
    std::shared_ptr<const std::atomic<uint64_t>[]> numbers;
    {
        std::lock_guard begun_guard(begun_lock_);
        if (desc == nullptr || !begun_numbers_ || desc->sdk_private[0] != descriptor_magic ||
            desc->sdk_private[1] != begun_ring_id_) {
            return code::vb_not_configured;
        }
        if (index >= begun_count_) {
            return code::vb_bad_argument;
        }
        numbers = begun_numbers_;
    }
    counter = numbers[index].load(std::memory_order_seq_cst);
    return 0;
}

int32_t SimBoard::cleanup(VB_CIRC_DESC* desc)
{
    std::lock_guard control(control_);
    {
        std::lock_guard guard(lock_);
        if (!usable_locked()) {
            return code::vb_bad_handle;
        }
        BufferRing* ring = ring_for_locked(desc);
        if (ring == nullptr) {
            return code::vb_not_allocated;
        }
        ring->tear_down();
    }
    frame_done_.notify_all();
    stop_generator();
    return 0;
}

int32_t SimBoard::free_buffers(VB_CIRC_DESC* desc)
{
    std::lock_guard control(control_);
    {
        std::lock_guard guard(lock_);
        if (!usable_locked()) {
            return code::vb_bad_handle;
        }
        if (ring_for_locked(desc) == nullptr) {
            return code::vb_not_allocated;
        }
        ring_.reset();
        set_begun_numbers_locked();
        desc->sdk_private[0] = 0;
        desc->sdk_private[1] = 0;
    }
    frame_done_.notify_all();
    stop_generator();
    return 0;
}

// ---- Frame generation --------------------------------------------------------------------------------

void SimBoard::finish_frame_locked(const BufferRing::Begun& frame)
{
    const auto since = Clock::now() - epoch_;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    // The board's clock ticks at 125 MHz; its stamps strictly increase.
    last_board_timestamp_ = std::max(last_board_timestamp_ + 1, static_cast<uint64_t>(nanos / 8));
    ring_->finish(frame, static_cast<uint32_t>(micros), last_board_timestamp_);
    ++generated_;
    if (stop_after_ > 0 && --stop_after_ == 0) {
        ring_->stop_by_board(stop_is_abort_);
        push_vb_locked(stop_is_abort_ ? code::vb_dma_fault : code::vb_signal_lost);
    }
    if (attached_) {
        attached_->frame_sent();  // counts the camera's triggers and counted acquisition down
        camera_changed_locked();
    }
}

SimBoard::FrameSource SimBoard::frame_source_locked() const
{
    FrameSource source;
    source.pattern = pattern_locked();
    source.images = source_.images;
    // The user's image is cut at the region of interest and the camera's own window on its sensor.
    source.image_x = roi_x_ + (cxp_camera_ ? cxp_camera_->offset_x() : 0);
    source.image_y = roi_y_ + (cxp_camera_ ? cxp_camera_->offset_y() : 0);
    return source;
}

std::optional<BufferRing::Begun> SimBoard::begin_frame_locked(FrameSource& source)
{
    if (!usable_locked() || !ring_ || !ring_->running()) {
        return std::nullopt;
    }
    source = frame_source_locked();
    if (source.images && !source.images->has_frame(ring_->last_counter() + 1)) {
        return std::nullopt;  // the last image was sent: the camera has no more
    }
    const BufferRing::Begun frame = ring_->begin();
    if (frame.overwrote) {
        ++overwritten_;
        push_vb_locked(code::vb_overflow);
    }
    return frame;
}

bool SimBoard::complete_frame_locked()
{
    FrameSource source;
    const std::optional<BufferRing::Begun> begun = begin_frame_locked(source);
    if (!begun) {
        return false;
    }
    const BufferRing::Begun& frame = *begun;
    if (source.images) {
        source.images->write(frame.data, ring_->geometry(), source.image_x, source.image_y, frame.counter);
    } else {
        FramePattern::write(frame.data, ring_->geometry(), frame.counter, source.pattern);
    }
    finish_frame_locked(frame);
    return true;
}

namespace {

// The rows of one part of a frame that the board writes at a time.
constexpr uint32_t rows_per_part = 32;

// The board's DMA writes the frame's bytes: memory the process's threads read, but written by no thread of
// the process. A race detector must not take these writes for a thread's (the host's check after its copy
// is what finds a frame overwritten), so they are hidden from it; the begun number stays visible.
#if defined(__SANITIZE_THREAD__)
struct DmaWrites {
    DmaWrites() { AnnotateIgnoreWritesBegin(__FILE__, __LINE__); }
    ~DmaWrites() { AnnotateIgnoreWritesEnd(__FILE__, __LINE__); }
    DmaWrites(const DmaWrites&) = delete;
    DmaWrites& operator=(const DmaWrites&) = delete;
};
#else
struct DmaWrites {};
#endif

// With a bus bandwidth the DMA cannot move a frame faster than the bus carries it. Each part of the frame is
// due a fixed time after the one before; the writer sleeps only once it is ahead by more than a timer's
// usual slack, so small frames are not slowed by sleeps far longer than they are, and a late wake-up is
// made up by the parts after it.
constexpr auto dma_sleep_threshold = std::chrono::microseconds(200);

}  // namespace

bool SimBoard::make_frame(std::unique_lock<std::mutex>& guard)
{
    FrameSource source;
    const std::optional<BufferRing::Begun> begun = begin_frame_locked(source);
    if (!begun) {
        return false;
    }
    const BufferRing::Begun& frame = *begun;
    const uint64_t ring_id = ring_->id();
    const FrameGeometry geometry = ring_->geometry();
    const double bandwidth = source_.bus_bandwidth;
    guard.unlock();
    {
        [[maybe_unused]] const DmaWrites hidden;
        // A board idle since its last frame starts this one now; back to back, it goes on from the last due.
        dma_due_ = std::max(dma_due_, Clock::now());
        const double row_bytes = static_cast<double>(geometry.frame_bytes()) / std::max(geometry.height, 1u);
        if (source.images) {
            source.images->write(frame.data, geometry, source.image_x, source.image_y, frame.counter);
        }
        for (uint32_t row = 0; row < geometry.height; row += rows_per_part) {
            if (!source.images) {
                FramePattern::write_rows(frame.data, geometry, frame.counter, source.pattern, row, rows_per_part);
            }
            if (bandwidth > 0) {
                const double part = row_bytes * std::min(rows_per_part, geometry.height - row);
                dma_due_ += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(part / bandwidth));
                if (dma_due_ - Clock::now() > dma_sleep_threshold) {
                    std::this_thread::sleep_until(dma_due_);
                }
            }
        }
    }
    guard.lock();
    // A stop or abort of the host, or buffers freed meanwhile, leave the frame unfinished: the board
    // completes no frame in flight once stopped.
    if (!usable_locked() || !ring_ || ring_->id() != ring_id || !ring_->running()) {
        return false;
    }
    finish_frame_locked(frame);
    return true;
}

int SimBoard::trigger(uint32_t n)
{
    int made = 0;
    {
        std::lock_guard guard(lock_);
        if (!usable_locked() || !ring_ || !ring_->running()) {
            return -1;
        }
        for (uint32_t i = 0; i < n && camera_streaming_locked() && complete_frame_locked(); ++i) {
            ++made;
        }
    }
    if (made > 0) {
        frame_done_.notify_all();
    }
    return made;
}

void SimBoard::pulse_trigger_input(uint32_t n)
{
    std::lock_guard guard(lock_);
    const bool level = register_values_[trigger_input_register] & 1;
    for (uint32_t i = 0; i < n; ++i) {
        set_trigger_input_locked(!level);
        set_trigger_input_locked(level);
    }
}

void SimBoard::set_trigger_input_locked(bool level)
{
    register_values_[trigger_input_register] = level ? 1 : 0;
    if (attached_) {
        attached_->trigger_input(level);
        camera_changed_locked();
    }
}

void SimBoard::generate(std::stop_token stop)
{
    std::unique_lock guard(lock_);
    auto next = Clock::now();
    uint64_t seen_epoch = pace_epoch_;
    while (!stop.stop_requested()) {
        if (source_.trigger != TriggerMode::Free) {
            return;
        }
        if (!camera_ready_locked()) {
            // The camera sends nothing: sleep until it is told to start or triggered (or the rate or mode
            // changes).
            pace_.wait(guard, stop, [&] { return pace_epoch_ != seen_epoch; });
            seen_epoch = pace_epoch_;
            next = Clock::now();
            continue;
        }
        if (source_.rate > 0) {
            // Slower than one frame an hour is taken as one frame an hour, which keeps the clock arithmetic
            // far from overflowing.
            const double period = std::min(1.0 / source_.rate, 3600.0);
            next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(period));
            const bool changed = pace_.wait_until(guard, stop, next, [&] { return pace_epoch_ != seen_epoch; });
            if (stop.stop_requested()) {
                return;
            }
            if (changed) {
                // New rate or mode: start a fresh schedule from now.
                seen_epoch = pace_epoch_;
                next = Clock::now();
                continue;
            }
            // When this thread was held off (the host's threads share its cores), the frames it owed are
            // not made up in a burst that a real camera, running on its own clock, would never send: the
            // schedule catches up by at most a few periods, half a millisecond at least, and then starts
            // afresh.
            const auto now = Clock::now();
            const auto slack = std::max<Clock::duration>(
                std::chrono::microseconds(500),
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(4 * period)));
            if (now - next > std::min<Clock::duration>(slack, std::chrono::seconds(1))) {
                next = now;
            }
        }
        if (!make_frame(guard)) {
            return;  // stopped by the host or by the board, or the buffers are gone
        }
        const bool flat_out = source_.rate <= 0;
        guard.unlock();
        frame_done_.notify_all();
        if (flat_out) {
            // As fast as possible, but let waiting hosts in between frames.
            std::this_thread::yield();
        }
        guard.lock();
    }
}

void SimBoard::start_generator()
{
    stop_generator();
    generator_ = std::jthread([this](std::stop_token stop) { generate(stop); });
    // Named, so that tools (top -H, the benchmark) tell the board's frame clock from the host's threads.
    pthread_setname_np(generator_.native_handle(), "vnsim-frames");
}

void SimBoard::stop_generator()
{
    if (generator_.joinable()) {
        generator_.request_stop();
        generator_.join();
    }
}

void SimBoard::set_rate(double frames_per_second)
{
    {
        std::lock_guard guard(lock_);
        source_.rate = frames_per_second;
        ++pace_epoch_;
    }
    pace_.notify_all();
}

void SimBoard::set_trigger_mode(TriggerMode mode)
{
    std::lock_guard control(control_);
    bool run = false;
    {
        std::lock_guard guard(lock_);
        source_.trigger = mode;
        ++pace_epoch_;
        run = mode == TriggerMode::Free && usable_locked() && ring_ && ring_->running();
    }
    pace_.notify_all();
    if (run) {
        start_generator();
    } else {
        stop_generator();
    }
}

void SimBoard::set_pattern(PatternMode pattern)
{
    std::lock_guard guard(lock_);
    source_.pattern = pattern;
}

VnsimFrameStats SimBoard::stats() const
{
    std::lock_guard guard(lock_);
    VnsimFrameStats stats{};
    stats.generated = generated_;
    stats.overwritten = overwritten_;
    stats.delivered = delivered_;
    stats.returned = returned_;
    stats.pending = ring_ ? ring_->pending() : 0;
    stats.running = ring_ && ring_->running() ? 1 : 0;
    stats.last_counter = ring_ ? ring_->last_counter() : 0;
    return stats;
}

// ---- Faults ------------------------------------------------------------------------------------------

void SimBoard::fault_open_fails(uint32_t count)
{
    std::lock_guard guard(lock_);
    open_fails_ = count;
}

void SimBoard::fault_stop_after(uint32_t frames, bool abort)
{
    std::lock_guard guard(lock_);
    stop_after_ = frames;
    stop_is_abort_ = abort;
}

void SimBoard::fault_next_fails(int which)
{
    std::lock_guard guard(lock_);
    switch (which) {
    case VNSIM_FAIL_ROI_SET:
        roi_set_fails_ = true;
        break;
    case VNSIM_FAIL_BUFFER_ALLOC:
        buffer_alloc_fails_ = true;
        break;
    case VNSIM_FAIL_CIRC_SETUP:
        circ_setup_fails_ = true;
        break;
    default:
        break;
    }
}

// ---- Error stacks ------------------------------------------------------------------------------------

int32_t SimBoard::pop_vb_error()
{
    std::lock_guard guard(lock_);
    if (vb_errors_.empty()) {
        return 0;
    }
    const int32_t code = vb_errors_.front();
    vb_errors_.pop_front();
    return code;
}

void SimBoard::push_vb_error(int32_t code)
{
    std::lock_guard guard(lock_);
    push_vb_locked(code);
}

void SimBoard::push_vn_error(int32_t code)
{
    std::lock_guard guard(lock_);
    push_vn_locked(code);
}

void SimBoard::push_vb_locked(int32_t code)
{
    if (vb_errors_.size() >= vb_stack_depth) {
        vb_errors_.pop_front();
    }
    vb_errors_.push_back(code);
}

int32_t SimBoard::last_vn_error()
{
    std::lock_guard guard(lock_);
    return vn_errors_.empty() ? 0 : vn_errors_.back();
}

void SimBoard::clear_last_vn_error()
{
    std::lock_guard guard(lock_);
    if (!vn_errors_.empty()) {
        vn_errors_.pop_back();
    }
}

void SimBoard::push_vn_locked(int32_t code)
{
    if (!vn_errors_.empty() && vn_errors_.back() == code) {
        return;  // a repeated failure is one entry
    }
    if (vn_errors_.size() >= vn_stack_depth) {
        vn_errors_.erase(vn_errors_.begin());
    }
    vn_errors_.push_back(code);
}

int32_t SimBoard::vn_fail(int32_t code)
{
    push_vn_locked(code);
    return code;
}

// ---- Registers ---------------------------------------------------------------------------------------

namespace {

const RegisterConfig* find_register(const std::vector<RegisterConfig>& registers, uint32_t number)
{
    const auto at = std::lower_bound(registers.begin(), registers.end(), number,
                                     [](const RegisterConfig& r, uint32_t n) { return r.number < n; });
    return at != registers.end() && at->number == number ? &*at : nullptr;
}

}  // namespace

int32_t SimBoard::register_name(uint32_t number, char* text, uint32_t size) const
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (number >= register_count) {
        return code::vn_register_range;
    }
    const RegisterConfig* reg = find_register(config_.registers, number);
    if (reg == nullptr || reg->name.empty()) {
        return code::vn_register_range;  // an unnamed number: a query answer, not a failure to record
    }
    return copy_text(reg->name, text, size) ? 0 : code::vn_buffer_too_small;
}

uint32_t SimBoard::live_value_locked(const RegisterConfig& reg) const
{
    const uint64_t ticks = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch_).count() / 8);
    if (reg.live == "status") {
        uint32_t status = handles_ > 0 ? 1u : 0u;
        status |= acquisition_open_ ? 2u : 0u;
        status |= ring_ ? 4u : 0u;
        status |= ring_ && ring_->state() != RingState::Allocated ? 8u : 0u;
        status |= ring_ && ring_->running() ? 16u : 0u;
        return status;
    }
    if (reg.live == "frames") {
        return static_cast<uint32_t>(generated_);
    }
    if (reg.live == "pending") {
        return ring_ ? ring_->pending() : 0;
    }
    if (reg.live == "overwritten") {
        return static_cast<uint32_t>(overwritten_);
    }
    if (reg.live == "timestamp_lo") {
        return static_cast<uint32_t>(ticks);
    }
    if (reg.live == "timestamp_hi") {
        return static_cast<uint32_t>(ticks >> 32);
    }
    return register_values_[reg.number];
}

int32_t SimBoard::peek(uint32_t number, uint32_t& value)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (number >= register_count) {
        return vn_fail(code::vn_register_range);
    }
    const RegisterConfig* reg = find_register(config_.registers, number);
    value = reg != nullptr ? live_value_locked(*reg) : register_values_[number];
    return 0;
}

int32_t SimBoard::poke(uint32_t number, uint32_t value)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (number >= register_count) {
        return vn_fail(code::vn_register_range);
    }
    const RegisterConfig* reg = find_register(config_.registers, number);
    if (reg != nullptr && !reg->writable) {
        return vn_fail(code::vn_register_read_only);
    }
    if (number == trigger_input_register) {
        if ((value & 1) != (register_values_[number] & 1)) {
            set_trigger_input_locked(value & 1);
        }
        return 0;
    }
    register_values_[number] = value;
    return 0;
}

// ---- CoaXPress -----------------------------------------------------------------------------------------

int32_t SimBoard::cxp_access(CxpAccess kind, uint32_t address, uint32_t length,
                             const std::function<int32_t(CxpCamera&)>& access)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (!cxp_camera_) {
        return vn_fail(code::vn_wrong_family);
    }
    const bool write = kind == CxpAccess::Write || kind == CxpAccess::RegisterWrite;
    const bool block = kind == CxpAccess::Read || kind == CxpAccess::Write;
    ++(block ? (write ? cxp_stats_.writes : cxp_stats_.reads)
             : (write ? cxp_stats_.register_writes : cxp_stats_.register_reads));
    (write ? cxp_stats_.last_write_address : cxp_stats_.last_read_address) = address;
    (write ? cxp_stats_.last_write_length : cxp_stats_.last_read_length) = length;
    uint64_t& failed = write ? cxp_stats_.failed_writes : cxp_stats_.failed_reads;
    if (block && config_.cxp_whole_words && length % 4 != 0) {
        ++failed;
        return vn_fail(code::vn_cxp_whole_words);
    }
    const int32_t result = access(*cxp_camera_);
    if (write) {
        camera_changed_locked();
    }
    if (result != 0) {
        ++failed;
        return vn_fail(result);
    }
    if (block) {
        (write ? cxp_stats_.bytes_written : cxp_stats_.bytes_read) += length;
    }
    return 0;
}

int32_t SimBoard::cxp_read(uint32_t address, uint8_t* data, uint32_t length)
{
    return cxp_access(CxpAccess::Read, address, length,
                      [&](CxpCamera& camera) { return camera.read(address, data, length); });
}

int32_t SimBoard::cxp_write(uint32_t address, const uint8_t* data, uint32_t length)
{
    return cxp_access(CxpAccess::Write, address, length,
                      [&](CxpCamera& camera) { return camera.write(address, data, length); });
}

int32_t SimBoard::cxp_read_register(uint32_t address, uint32_t& value)
{
    return cxp_access(CxpAccess::RegisterRead, address, sizeof value,
                      [&](CxpCamera& camera) { return camera.read_register(address, value); });
}

int32_t SimBoard::cxp_write_register(uint32_t address, uint32_t value)
{
    return cxp_access(CxpAccess::RegisterWrite, address, sizeof value,
                      [&](CxpCamera& camera) { return camera.write_register(address, value); });
}

int32_t SimBoard::cxp_configure_link(uint32_t connections, uint32_t speed_row, uint32_t apply)
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (!cxp_camera_) {
        return vn_fail(code::vn_wrong_family);
    }
    ++cxp_stats_.link_speed_calls;
    if (connections == 0 || connections > config_.cxp_connections || speed_row >= link_speed_codes.size()) {
        return vn_fail(code::vn_cxp_bad_speed);
    }
    cxp_connections_ = connections;
    cxp_speed_row_ = speed_row;
    cxp_stats_.last_link_apply = apply;
    if (apply != 0) {
        const uint32_t speed = speed_row == 0 ? cxp_camera_->connection_config_default() & 0xFFFF
                                              : link_speed_codes[speed_row];
        cxp_camera_->set_connection_config(connections << 16 | speed);
    }
    return 0;
}

bool SimBoard::cxp_stats(VnsimCxpStats& stats) const
{
    std::lock_guard guard(lock_);
    if (!cxp_camera_) {
        return false;
    }
    stats = cxp_stats_;
    stats.connections = cxp_connections_;
    stats.speed_row = cxp_speed_row_;
    stats.connection_config = cxp_camera_->connection_config();
    stats.injected_read_failures = cxp_camera_->failed_reads();
    return true;
}

bool SimBoard::cxp_clear_stats()
{
    std::lock_guard guard(lock_);
    if (!cxp_camera_) {
        return false;
    }
    const uint32_t apply = cxp_stats_.last_link_apply;
    cxp_stats_ = VnsimCxpStats{};
    cxp_stats_.last_link_apply = apply;
    return true;
}

int32_t SimBoard::cxp_peek(uint32_t address, uint8_t* data, uint32_t length) const
{
    std::lock_guard guard(lock_);
    return cxp_camera_ ? cxp_camera_->peek(address, data, length) : code::vn_wrong_family;
}

int32_t SimBoard::cxp_poke(uint32_t address, const uint8_t* data, uint32_t length)
{
    std::lock_guard guard(lock_);
    if (!cxp_camera_) {
        return code::vn_wrong_family;
    }
    // The camera's own rules apply, but no fault: the control interface needs a camera that answers.
    CxpCamera& camera = *cxp_camera_;
    const bool silent = camera.silent();
    camera.set_silent(false);
    const int32_t result = camera.write(address, data, length);
    camera.set_silent(silent);
    camera_changed_locked();
    return result;
}

bool SimBoard::cxp_fault_reads(uint32_t address, int32_t count)
{
    std::lock_guard guard(lock_);
    if (!cxp_camera_) {
        return false;
    }
    cxp_camera_->fail_reads(address, count);
    return true;
}

bool SimBoard::cxp_fault_silent(bool silent)
{
    std::lock_guard guard(lock_);
    if (!cxp_camera_) {
        return false;
    }
    cxp_camera_->set_silent(silent);
    return true;
}

bool SimBoard::cxp_link(uint32_t& connections, uint32_t& speed_row) const
{
    std::lock_guard guard(lock_);
    if (!cxp_camera_) {
        return false;
    }
    connections = cxp_connections_;
    speed_row = cxp_speed_row_;
    return true;
}

int32_t SimBoard::option(const char* key, uint32_t& value) const
{
    std::lock_guard guard(lock_);
    if (!usable_locked()) {
        return code::vn_bad_handle;
    }
    if (key == nullptr) {
        return code::vn_bad_argument;
    }
    const auto found = config_.options.find(key);
    if (found == config_.options.end()) {
        return code::vn_option_missing;  // an absent option is an answer, not a failure to record
    }
    const std::string& text = found->second;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 16);
    if (text.empty() || end == nullptr || *end != '\0' || parsed > 0xFFFFFFFFu || text.find('-') != std::string::npos) {
        return code::vn_option_malformed;
    }
    value = static_cast<uint32_t>(parsed);
    return 0;
}

}  // namespace vnsim
