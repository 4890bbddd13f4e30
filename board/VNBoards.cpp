#include "board/VNBoards.h"

#include "core/ErrorReport.h"

#include <VantrelSdk.h>
#include <gentl/GenTL.h>

#include <cstring>
#include <tuple>

namespace VNBoards {

using vngtl::report_error;

namespace {

using Guard = vngtl::RecursiveTimedMutexLock;

constexpr uint32_t level_of(BoardState state) noexcept
{
    return static_cast<uint32_t>(state);
}

constexpr uint32_t level_of(OpenLevel level) noexcept
{
    return static_cast<uint32_t>(level);
}

// The text in a fixed-size buffer the SDK filled, up to its NUL or the end of the buffer.
std::string text_of(const char* text, size_t size)
{
    return std::string(text, strnlen(text, size));
}

// An error text longer than this is taken as a fault of the SDK rather than grown into.
constexpr uint32_t largest_error_text = 1u << 20;

}  // namespace

uint32_t enumerate_boards()
{
    uint32_t count = 0;
    if (VcSysBrdEnum(VC_ENUM_BOARDS, &count) != 0) {
        return 0;
    }
    return count;
}

void debug_output(const char* line)
{
    VNOutputDebugString(line);
}

std::string kind_name(BoardKind kind)
{
    switch (kind) {
    case BoardKind::CameraLink:
        return "CL";
    case BoardKind::CoaXPress:
        return "CXP";
    default:
        return "Custom";
    }
}

uint32_t transport_type(BoardKind kind)
{
    switch (kind) {
    case BoardKind::CameraLink:
        return 1;
    case BoardKind::CoaXPress:
        return 3;
    default:
        return 5;
    }
}

Board::Board(uint32_t board_number) : board_number_(board_number), descriptor_(std::make_unique<VbCircDesc>())
{
    check_init(OpenLevel::Inspect);
}

Board::~Board()
{
    vngtl::MutexLock sdk_guard(sdk_lock_);
    P_close_board();
}

// ---- Open levels ------------------------------------------------------------------------------------------

BoardState Board::check_init(OpenLevel open_level, const std::string& camera_file)
{
    Guard state_guard(state_lock_);
    const uint32_t level = level_of(open_level);
    uint32_t flags = 0;
    if (open_level == OpenLevel::Inspect) {
        flags = VB_OPEN_INSPECT;
    } else if (open_level == OpenLevel::Acquire) {
        flags = VB_OPEN_ACQUIRE;
    } else {
        return state();
    }
    const bool other_camera_file = !camera_file.empty() && camera_file != camera_file_;
    if (!other_camera_file && level_of(state()) >= level) {
        return state();
    }

    vngtl::MutexLock sdk_guard(sdk_lock_);
    // The board reopens with the camera file asked for, or else with the one it has now.
    const std::string file = camera_file.empty() ? camera_file_ : camera_file;
    if (!P_close_board()) {
        return state();
    }

    VN_HANDLE opened = nullptr;
    int32_t result = 0;
    if (file.empty()) {
        result = VbBrdOpenEx(static_cast<uint32_t>(VB_DRIVER_ANY), board_number_, &opened, flags);
        if (result != 0 && open_level == OpenLevel::Inspect) {
            opened = nullptr;
            result = VbBrdOpenEx(static_cast<uint32_t>(VB_DRIVER_ANY), board_number_, &opened,
                                 VB_OPEN_INSPECT_SHARED);
        }
    } else {
        result = VbBrdOpenCamEx(static_cast<uint32_t>(VB_DRIVER_ANY), board_number_, &opened, file.c_str(), flags);
    }
    if (result != 0 || opened == nullptr) {
        handle_ = nullptr;
        report_error("Board::check_init", GenTL::GC_ERR_ERROR,
                     "Unable to open frame grabber board number " + std::to_string(board_number_) +
                         " with the default camera file. Acquisition will not be possible.");
        return state();
    }

    handle_ = opened;
    camera_file_ = file;
    state_.store(static_cast<BoardState>(level));
    cxp_.attach(handle_);
    serial_.open(handle_);
    P_check_params();
    return state();
}

BoardState Board::reopen(BoardState level, const std::string& camera_file)
{
    Guard state_guard(state_lock_);
    std::string file = camera_file;
    if (level_of(state()) > level_of(level)) {
        vngtl::MutexLock sdk_guard(sdk_lock_);
        if (file.empty()) {
            file = camera_file_;  // closing forgets the camera file; the board comes back with it
        }
        P_close_board();
    }
    // Closed and Configured are no open levels: the board stays as it is now.
    return check_init(static_cast<OpenLevel>(level_of(level)), file);
}

Board::CameraFileChange Board::change_camera_file(const std::string& file)
{
    Guard state_guard(state_lock_);
    const BoardState now = state();
    if (now >= BoardState::Configured) {
        return CameraFileChange::Configured;
    }
    const std::string previous = camera_file_;
    const auto level = static_cast<OpenLevel>(level_of(now));
    if (check_init(level, file) == BoardState::Closed) {
        check_init(level, previous);
        return CameraFileChange::Failed;
    }
    return CameraFileChange::Changed;
}

bool Board::has_camera_file()
{
    Guard state_guard(state_lock_);
    check_init(OpenLevel::Inspect);
    return !camera_file_.empty();
}

bool Board::close_board()
{
    Guard state_guard(state_lock_);
    vngtl::MutexLock sdk_guard(sdk_lock_);
    return P_close_board();
}

bool Board::P_close_board()
{
    switch (state()) {
    case BoardState::Closed:
        return true;
    case BoardState::Configured:
        return false;
    default:
        break;
    }
    serial_.close();
    cxp_.detach();
    VbBrdClose(handle_);
    handle_ = nullptr;
    camera_file_.clear();
    state_.store(BoardState::Closed);
    return true;
}

void Board::P_check_params()
{
    if (camera_file_.empty()) {
        char text[261] = {};
        if (VbCamGetFileName(handle_, descriptor_.get(), 0, text, sizeof text) != 0) {
            report_error("Board::P_check_params", GenTL::GC_ERR_ERROR,
                         "Unable to determine the default attached camera file, but board " +
                             std::to_string(board_number_) + " was opened successfully.");
        } else {
            camera_file_ = text_of(text, sizeof text);
        }
    }

    if (board_id().empty()) {
        char text_a[256] = {};
        char text_b[256] = {};
        uint32_t unused_1 = 0;
        uint32_t unused_2 = 0;
        std::string id;
        if (VNGetBoardStrings(handle_, text_a, sizeof text_a, text_b, sizeof text_b, &unused_1, &unused_2) == 0) {
            id = text_of(text_b, sizeof text_b) + " (" + std::to_string(board_number_) + ") " +
                 text_of(text_a, sizeof text_a);
        }
        if (id.empty()) {
            id = "Vantrel board " + std::to_string(board_number_);
        }
        board_id_.store(std::make_shared<const std::string>(std::move(id)));
    }

    if (VNIsCL(handle_) != 0) {
        kind_.store(BoardKind::CameraLink);
    } else if (VNIsCXP(handle_) != 0) {
        kind_.store(BoardKind::CoaXPress);
    } else {
        VNIsOrla(handle_);  // asked for completeness; the family stays Custom either way
        kind_.store(BoardKind::Custom);
    }

    bit_depth_ = inquire(VB_INQ_BITS_PER_PIXEL);
    default_roi_ = inquire_roi();
    current_roi_ = default_roi_;
}

uint32_t Board::inquire(uint32_t key)
{
    uint32_t value = 0;
    if (VbBrdInquire(handle_, key, &value) != 0) {
        return 0;
    }
    return value;
}

Roi Board::inquire_roi()
{
    return Roi{inquire(VB_INQ_X_OFFSET), inquire(VB_INQ_Y_OFFSET), inquire(VB_INQ_WIDTH), inquire(VB_INQ_HEIGHT)};
}

// ---- Configuration ----------------------------------------------------------------------------------------

bool Board::set_roi(const Roi& roi)
{
    Guard state_guard(state_lock_);
    if (state() != BoardState::OpenForAcquisition) {
        return false;
    }
    const int32_t result = VcAqROISet(handle_, roi.x_offset, roi.y_offset, roi.width, roi.height, 0);
    if (result != 0) {
        const std::string reason = vn_error_text(result);
        report_error("Board::set_roi", BOARD_ERR_REGION_OF_INTEREST, "Unable to set the region of interest: " + reason);
    }
    current_roi_ = inquire_roi();
    return result == 0;
}

BoardState Board::setup_acq(uint64_t count)
{
    Guard state_guard(state_lock_);
    if (state() != BoardState::OpenForAcquisition) {
        return state();
    }
    const std::string too_many =
        "Unable to allocate the quantity of buffers specified (" + std::to_string(count) + ").";
    if (count > 0xFFFFFFFFu) {
        report_error("Board::setup_acq", BOARD_ERR_BUFFER_ALLOCATION, too_many);
        return state();
    }

    vngtl::MutexLock sdk_guard(sdk_lock_);
    if (VbBufferAllocCam(handle_, descriptor_.get(), static_cast<uint32_t>(count)) != 0) {
        report_error("Board::setup_acq", BOARD_ERR_BUFFER_ALLOCATION, too_many);
        return state();
    }
    if (VbCircAqSetup(handle_, descriptor_.get(), VB_CIRC_MODE, VB_CIRC_FLAGS) != 0) {
        VbBufferFree(handle_, descriptor_.get());
        report_error("Board::setup_acq", BOARD_ERR_CIRCULAR_SETUP, "Failed to setup the board for circular acquisition.");
        return state();
    }
    {
        vngtl::MutexLock frame_guard(frame_lock_);
        frames_.assign(static_cast<size_t>(count), FrameRecord{});
        geometry_ = FrameGeometry{kind_.load(), descriptor_->frame_size, bit_depth_, current_roi_};
    }
    state_.store(BoardState::Configured);
    return state();
}

BoardState Board::teardown_acq()
{
    Guard state_guard(state_lock_);
    if (state() != BoardState::Configured) {
        return state();
    }
    VbCirControl(handle_, descriptor_.get(), VB_CIR_STOP, VB_CIR_NO_WAIT);
    {
        vngtl::MutexLock frame_guard(frame_lock_);
        frames_.clear();
        geometry_ = FrameGeometry{};
    }
    {
        vngtl::MutexLock sdk_guard(sdk_lock_);
        // A frame still being copied keeps its buffer until the copy is done.
        std::unique_lock memory_guard(memory_lock_);
        VbCircCleanUp(handle_, descriptor_.get());
        VbBufferFree(handle_, descriptor_.get());
    }
    state_.store(BoardState::OpenForAcquisition);
    // The camera may have changed its format while the buffers held the old one.
    P_refresh_geometry();
    return state();
}

void Board::P_refresh_geometry()
{
    if (!has_handle() || state() == BoardState::Configured) {
        return;
    }
    // The board reports the region it acquires, which it resets to the camera's whole frame when that frame
    // changes; so the camera has a new frame when the region is no longer the one last set (a region the
    // stream set is not the camera's frame, and must not become the maximum).
    const Roi frame = inquire_roi();
    const uint32_t bits = inquire(VB_INQ_BITS_PER_PIXEL);
    if (frame == current_roi_ && bits == bit_depth_) {
        return;
    }
    // A new frame from the camera: the board's region of interest is the whole of it again.
    default_roi_ = frame;
    current_roi_ = frame;
    bit_depth_ = bits;
    geometry_generation_.fetch_add(1);
}

uint32_t Board::buffer_count()
{
    Guard state_guard(state_lock_);
    return state() == BoardState::Configured ? descriptor_->buffer_count : 0;
}

bool Board::start_acq()
{
    Guard state_guard(state_lock_);
    if (state() != BoardState::Configured) {
        report_error("Board::start_acq", BOARD_ERR_ACQUISITION_CONTROL,
                     "Cannot start acquisition because the board isn't configured.");
        return false;
    }
    if (VbCirControl(handle_, descriptor_.get(), VB_CIR_START, VB_CIR_WAIT) != 0) {
        report_error("Board::start_acq", BOARD_ERR_ACQUISITION_CONTROL, "Failed to start an acquisition.");
        return false;
    }
    return true;
}

void Board::stop_acq(bool wait)
{
    Guard state_guard(state_lock_);
    if (state() != BoardState::Configured) {
        report_error("Board::stop_acq", BOARD_ERR_ACQUISITION_CONTROL,
                     "Cannot stop acquisition because the board isn't configured.");
        return;
    }
    if (VbCirControl(handle_, descriptor_.get(), VB_CIR_STOP, wait ? VB_CIR_WAIT : VB_CIR_NO_WAIT) != 0) {
        report_error("Board::stop_acq", BOARD_ERR_ACQUISITION_CONTROL,
                     "Failed to stop an acquisition. Was acquisition successfully started?");
    }
}

void Board::abort_acq()
{
    Guard state_guard(state_lock_);
    if (state() != BoardState::Configured) {
        report_error("Board::abort_acq", BOARD_ERR_ACQUISITION_CONTROL,
                     "Cannot abort acquisition because the board isn't configured.");
        return;
    }
    if (VbCirControl(handle_, descriptor_.get(), VB_CIR_ABORT, VB_CIR_NO_WAIT) != 0) {
        report_error("Board::abort_acq", BOARD_ERR_ACQUISITION_CONTROL,
                     "Failed to abort an acquisition. Was acquisition successfully started?");
    }
}

Roi Board::default_roi()
{
    Guard state_guard(state_lock_);
    return default_roi_;
}

Roi Board::current_roi()
{
    Guard state_guard(state_lock_);
    return current_roi_;
}

uint32_t Board::bit_depth()
{
    Guard state_guard(state_lock_);
    return bit_depth_;
}

std::string Board::kind_name() const
{
    return VNBoards::kind_name(kind_.load());
}

// ---- Frames -----------------------------------------------------------------------------------------------

FrameWait Board::frame_wait(FrameRecord& record, uint32_t timeout_ms)
{
    Guard state_guard(state_lock_);
    vngtl::MutexLock sdk_guard(sdk_lock_);
    if (state() != BoardState::Configured) {
        report_error("Board::frame_wait", BOARD_ERR_ACQUISITION_CONTROL,
                     "Cannot wait for a frame because the board isn't configured.");
        return FrameWait::Failed;
    }
    // The SDK lock alone keeps the handle and the buffers in place during the wait; with the state lock given
    // back, stop and abort can end the wait early.
    state_guard.unlock();
    VB_FRAME_RECORD done{};
    const int32_t result = VbCirWaitDoneFrame(handle_, descriptor_.get(), timeout_ms, &done);
    switch (result) {
    case 0:
        break;
    case VB_WAIT_TIMEOUT:
        return FrameWait::Timeout;
    case VB_ACQ_STOPPED:
    case VB_ACQ_ABORTED:
        return FrameWait::Stopped;
    default:
        return FrameWait::Failed;
    }
    static_assert(sizeof done == std::tuple_size_v<decltype(record.board_bytes)>);
    record.data_address = done.data_address;
    record.frame_counter = done.frame_counter;
    record.timestamp_us = done.timestamp_us;
    record.board_timestamp = done.board_timestamp;
    record.buffer_index = done.buffer_index;
    std::memcpy(record.board_bytes.data(), &done, sizeof done);
    vngtl::MutexLock frame_guard(frame_lock_);
    // A record for a buffer outside the table (left over from before a tear-down) is not kept.
    if (record.buffer_index < frames_.size()) {
        frames_[record.buffer_index] = record;
    }
    return FrameWait::Frame;
}

bool Board::set_frame_available(const FrameRecord& record)
{
    Guard state_guard(state_lock_);
    if (state() != BoardState::Configured) {
        report_error("Board::set_frame_available", BOARD_ERR_ACQUISITION_CONTROL,
                     "Cannot hand a frame back to the board because the board isn't configured.");
        return false;
    }
    VB_FRAME_RECORD copy{};
    std::memcpy(&copy, record.board_bytes.data(), sizeof copy);
    return VbCirStatusSet(handle_, descriptor_.get(), &copy, 0) == 0;
}

std::optional<FrameView> Board::frame_view(size_t index, uint64_t frame_number)
{
    std::shared_lock memory_guard(memory_lock_);
    vngtl::MutexLock frame_guard(frame_lock_);
    if (index >= frames_.size()) {
        report_error("Board::frame_view", GenTL::GC_ERR_INVALID_INDEX,
                     "There is no internal buffer with index " + std::to_string(index) + ".");
        return std::nullopt;
    }
    FrameRecord& frame = frames_[index];
    // The record keeps the low 32 bits of the board's frame counter.
    if (frame_number != 0 && frame.frame_counter != static_cast<uint32_t>(frame_number)) {
        return std::nullopt;
    }
    if (frame.data_address == 0) {
        report_error("Board::frame_view", GenTL::GC_ERR_INVALID_BUFFER,
                     "The buffer at index " + std::to_string(index) + " has no data.");
        return std::nullopt;
    }
    FrameView view;
    view.kind = geometry_.kind;
    view.data = reinterpret_cast<const void*>(frame.data_address);
    view.size = geometry_.frame_size;
    view.bit_depth = geometry_.bit_depth;
    view.roi = geometry_.roi;
    view.buffer_index = index;
    view.frame_id = frame.frame_counter;
    view.timestamp = frame.board_timestamp;
    view.timestamp_ns = uint64_t{frame.timestamp_us} * 1000u;
    view.hold = std::move(memory_guard);
    frame.data_address = 0;
    return view;
}

bool Board::frame_intact(const FrameView& view)
{
    if (!view.hold.owns_lock() || view.buffer_index > UINT32_MAX) {
        return false;
    }
    // The reads of the copy come before the look at the board's number, never after it.
#if defined(__SANITIZE_THREAD__)
    // The race detector has no fences; the SDK call below orders through the board's lock, which it sees.
    std::atomic_signal_fence(std::memory_order_acquire);
#else
    std::atomic_thread_fence(std::memory_order_acquire);
#endif
    uint64_t begun = 0;
    if (VbCirFrameBegun(handle_, descriptor_.get(), static_cast<uint32_t>(view.buffer_index), &begun) != 0) {
        return false;
    }
    // The view keeps the low 32 bits of the board's frame counter.
    return static_cast<uint32_t>(begun) == static_cast<uint32_t>(view.frame_id);
}

// ---- Identity and the board's registers -------------------------------------------------------------------

std::string Board::camera_file()
{
    Guard state_guard(state_lock_);
    return camera_file_;
}

std::string Board::board_id() const
{
    const auto id = board_id_.load();
    return id ? *id : std::string();
}

std::string Board::camera_identity()
{
    Guard state_guard(state_lock_);
    if (!has_handle()) {
        return {};
    }
    char make[256] = {};
    char model[256] = {};
    char mode[256] = {};
    if (VcBrdCamGetMMM(handle_, make, sizeof make, model, sizeof model, mode, sizeof mode) != 0) {
        return {};
    }
    return text_of(make, sizeof make) + " " + text_of(model, sizeof model);
}

std::pair<std::string, std::string> Board::board_strings()
{
    Guard state_guard(state_lock_);
    check_init(OpenLevel::Inspect);
    char model[256] = {};
    char serial[256] = {};
    uint32_t bus = 0;
    uint32_t slot = 0;
    if (VNGetBoardStrings(handle_, model, sizeof model, serial, sizeof serial, &bus, &slot) != 0) {
        return {};
    }
    return {text_of(model, sizeof model), text_of(serial, sizeof serial)};
}

std::string Board::board_model()
{
    return board_strings().first;
}

std::string Board::board_serial()
{
    const std::string serial = board_strings().second;
    if (serial.empty()) {
        return "Vantrel board " + std::to_string(board_number_);
    }
    return serial + "-" + std::to_string(board_number_);
}

uint32_t Board::frame_bytes()
{
    Guard state_guard(state_lock_);
    if (camera_file_.empty()) {
        check_init(OpenLevel::Inspect);
        if (state() == BoardState::Closed || camera_file_.empty()) {
            return 0;
        }
    }
    uint32_t bytes = 0;
    if (!has_handle() || VbBrdInquire(handle_, VB_INQ_FRAME_BYTES, &bytes) != 0) {
        return 0;
    }
    return bytes;
}

std::vector<std::pair<uint32_t, std::string>> Board::register_names()
{
    Guard state_guard(state_lock_);
    check_init(OpenLevel::Inspect);
    std::vector<std::pair<uint32_t, std::string>> names;
    for (uint32_t number = 0; number < board_register_count; ++number) {
        char text[1024] = {};
        if (VNRegName(handle_, number, text, sizeof text) == 0) {
            names.emplace_back(number, text_of(text, sizeof text));
        }
    }
    return names;
}

uint32_t Board::reg_peek(uint32_t number)
{
    Guard state_guard(state_lock_);
    check_init(OpenLevel::Inspect);
    return VNRegPeek(handle_, number);
}

int32_t Board::reg_poke(uint32_t number, uint32_t value)
{
    Guard state_guard(state_lock_);
    check_init(OpenLevel::Inspect);
    return VNRegPoke(handle_, number, value);
}

// ---- Error stacks -----------------------------------------------------------------------------------------

std::vector<std::string> Board::drain_errors()
{
    // A board whose error stack never empties must not keep the caller here for ever.
    constexpr int max_stacked_errors = 1024;
    std::vector<std::string> texts;
    for (int count = 0; count < max_stacked_errors; ++count) {
        const int32_t code = pop_vb_error();
        if (code == 0) {
            break;
        }
        texts.push_back("Vb[" + std::to_string(code) + "] = " + vb_error_text(code));
    }
    for (int count = 0; count < max_stacked_errors; ++count) {
        const int32_t code = pop_vn_error();
        if (code == 0) {
            break;
        }
        texts.push_back("VN[" + std::to_string(code) + "] = " + vn_error_text(code));
    }
    return texts;
}

int32_t Board::pop_vb_error()
{
    Guard state_guard(state_lock_);
    if (!has_handle()) {
        report_error("Board::pop_vb_error", GenTL::GC_ERR_ERROR,
                     "Cannot retrieve errors for uninitialized board number " + std::to_string(board_number_) + ".");
        return 0;
    }
    return VbCirErrorCheck(handle_, descriptor_.get());
}

std::string Board::vb_error_text(int32_t code)
{
    Guard state_guard(state_lock_);
    if (!has_handle()) {
        report_error("Board::vb_error_text", GenTL::GC_ERR_ERROR,
                     "Cannot retrieve error text for uninitialized board number " + std::to_string(board_number_) +
                         ".");
        return "Cannot retrieve error text for an uninitialized board!";
    }
    std::string text(256, '\0');
    int32_t result = 0;
    // Grow the buffer to the size the SDK asks for; a text that keeps growing is not chased for ever.
    for (int attempt = 0; attempt < 4; ++attempt) {
        uint32_t size = static_cast<uint32_t>(text.size());
        result = VbErrorTextGet(handle_, code, text.data(), &size);
        if (result == VB_TEXT_UNKNOWN_CODE) {
            report_error("Board::vb_error_text", GenTL::GC_ERR_ERROR,
                         "Unknown Vb error code " + std::to_string(code) + ".");
            return "Could not retrieve error text. The error code is unknown!";
        }
        if (result != 0 && result != VB_TEXT_TRUNCATED) {
            break;
        }
        if (size <= text.size()) {
            return text_of(text.data(), size);
        }
        if (size > largest_error_text) {
            break;
        }
        text.assign(size, '\0');
    }
    report_error("Board::vb_error_text", GenTL::GC_ERR_ERROR,
                 "Encountered an unexpected error (code " + std::to_string(result) +
                     " retrieving Vb error code text for board number " + std::to_string(board_number_) + ".");
    return "Encountered an unexpected error retrieving text for a Vb error code.";
}

int32_t Board::pop_vn_error()
{
    Guard state_guard(state_lock_);
    if (!has_handle()) {
        report_error("Board::pop_vn_error", GenTL::GC_ERR_ERROR,
                     "Cannot retrieve errors for uninitialized board number " + std::to_string(board_number_) + ".");
        return 0;
    }
    int32_t code = 0;
    if (VNErrorGetLast(handle_, &code) != 0 || code == 0) {
        return 0;
    }
    VNErrorClearLast(handle_);
    return code;
}

std::string Board::vn_error_text(int32_t code)
{
    Guard state_guard(state_lock_);
    if (!has_handle()) {
        report_error("Board::vn_error_text", GenTL::GC_ERR_ERROR,
                     "Cannot retrieve error text for uninitialized board number " + std::to_string(board_number_) +
                         ".");
        return {};
    }
    char text[256] = {};
    const int32_t result = VNErrorGetMes(handle_, code, text, sizeof text);
    if (result != 0) {
        report_error("Board::vn_error_text", GenTL::GC_ERR_ERROR,
                     "Encountered an unexpected error (code " + std::to_string(result) +
                         " retrieving VN error code text for board number " + std::to_string(board_number_) + ".");
        return "Encountered an unexpected error retrieving text for a VN error code.";
    }
    return text_of(text, sizeof text);
}

// ---- Camera side (CoaXPress through the board's BoardCxpLink, Camera Link serial through its BoardSerialLine) ---

bool Board::open_for_camera()
{
    check_init(OpenLevel::Inspect);
    return state() != BoardState::Closed && has_handle();
}

bool Board::is_cl()
{
    Guard state_guard(state_lock_);
    return open_for_camera() && VNIsCL(handle_) != 0;
}

bool Board::is_cxp()
{
    Guard state_guard(state_lock_);
    return open_for_camera() && VNIsCXP(handle_) != 0;
}

bool Board::registry_flag(const std::string& key)
{
    Guard state_guard(state_lock_);
    if (!open_for_camera()) {
        return false;
    }
    uint32_t value = 0;
    return VNRegistryBoardGetStringHex(handle_, key.c_str(), &value) == 0 && value != 0;
}

bool Board::camera_mmm(std::string& make, std::string& model, std::string& mode)
{
    Guard state_guard(state_lock_);
    if (!open_for_camera()) {
        return false;
    }
    char make_text[256] = {};
    char model_text[256] = {};
    char mode_text[256] = {};
    if (VcBrdCamGetMMM(handle_, make_text, sizeof make_text, model_text, sizeof model_text, mode_text,
                       sizeof mode_text) != 0) {
        return false;
    }
    make = text_of(make_text, sizeof make_text);
    model = text_of(model_text, sizeof model_text);
    mode = text_of(mode_text, sizeof mode_text);
    return true;
}

BoardCall Board::P_after_camera_write(BoardCall call)
{
    if (call.opened && call.result == 0) {
        // A write that changed the camera's frame has taken effect once it is done.
        P_refresh_geometry();
    }
    return call;
}

BoardCall Board::cxp_read_data(uint32_t address, void* buffer, uint32_t length, uint32_t& bytes_read)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? cxp_.read_data(address, buffer, length, bytes_read) : BoardCall{};
}

BoardCall Board::cxp_write_data(uint32_t address, const void* buffer, uint32_t length)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? P_after_camera_write(cxp_.write_data(address, buffer, length)) : BoardCall{};
}

BoardCall Board::cxp_read_reg(uint32_t address, uint32_t& value)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? cxp_.read_reg(address, value) : BoardCall{};
}

BoardCall Board::cxp_write_reg(uint32_t address, uint32_t value)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? P_after_camera_write(cxp_.write_reg(address, value)) : BoardCall{};
}

BoardCall Board::cxp_configure_link_speed(uint32_t connections, uint32_t row)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? cxp_.configure_link_speed(connections, row) : BoardCall{};
}

BoardCall Board::serial_read(void* buffer, uint32_t& size, uint32_t timeout_ms)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? P_after_camera_write(serial_.read(buffer, size, timeout_ms)) : BoardCall{};
}

BoardCall Board::serial_write(const void* buffer, uint32_t& size, uint32_t timeout_ms)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? P_after_camera_write(serial_.write(buffer, size, timeout_ms)) : BoardCall{};
}

BoardCall Board::serial_supported_baud_rates(uint32_t& rates)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? serial_.supported_baud_rates(rates) : BoardCall{};
}

BoardCall Board::serial_set_baud_rate(uint32_t rate)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? serial_.set_baud_rate(rate) : BoardCall{};
}

BoardCall Board::serial_baud_rate(uint32_t& rate)
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? serial_.baud_rate(rate) : BoardCall{};
}

int32_t Board::serial_check()
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? serial_.check() : BoardSerialLine::invalid_reference;
}

bool Board::serial_ready()
{
    Guard state_guard(state_lock_);
    return open_for_camera() && serial_.ready();
}

int32_t Board::serial_port_index()
{
    Guard state_guard(state_lock_);
    return open_for_camera() ? serial_.port_index() : BoardSerialLine::invalid_reference;
}

}  // namespace VNBoards
