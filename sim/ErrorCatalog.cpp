#include "ErrorCatalog.h"

#include "SdkCodes.h"

#include <array>
#include <utility>

namespace vnsim {

namespace {

using Text = std::pair<int32_t, std::string_view>;

constexpr std::array vb_texts{
    Text{code::vb_bad_handle, "Invalid board handle."},
    Text{code::vb_bad_argument, "Invalid argument: a pointer is null or a value is out of range."},
    Text{code::vb_no_board, "There is no frame grabber board with that number."},
    Text{code::vb_open_failed, "The board did not answer the open request."},
    Text{code::vb_board_busy, "The board is already open for acquisition through another handle."},
    Text{code::vb_camera_file_unknown, "The camera file is not known to this board."},
    Text{code::vb_no_camera_file, "The board has no camera file; open it with a camera file first."},
    Text{code::vb_unknown_key, "Unknown inquiry key."},
    Text{code::vb_inspection_only, "The board is open for inspection only; open it for acquisition first."},
    Text{code::vb_alloc_failed, "Buffer allocation failed: not enough memory for the requested buffers."},
    Text{code::vb_already_allocated, "Circular buffers are already allocated on this board."},
    Text{code::vb_not_allocated, "No circular buffers are allocated for this descriptor."},
    Text{code::vb_bad_circ_mode, "Unsupported circular acquisition mode or flags."},
    Text{code::vb_setup_failed, "Circular acquisition set-up failed: the board rejected the buffer list."},
    Text{code::vb_bad_command, "Unknown circular acquisition command or flags."},
    Text{code::vb_already_running, "Circular acquisition is already running."},
    Text{code::vb_not_running, "Circular acquisition is not running."},
    Text{code::vb_not_configured, "The board is not set up for circular acquisition."},
    Text{code::vb_record_not_held, "The frame record does not match a frame held by the host."},
    Text{code::vb_overflow, "Frame buffer overflow: the host did not release buffers in time."},
    Text{code::vb_timeout, "Timed out waiting for a completed frame."},
    Text{code::vb_signal_lost,
         "Acquisition stopped: the camera signal was lost. The board stopped its circular acquisition "
         "because no valid frame arrived from the camera within the link's watchdog period. Check the "
         "camera's power and cabling, confirm that the camera file matches the camera's output (geometry, "
         "taps and pixel clock), and restart the acquisition; the frame counter continues from the last "
         "completed frame."},
    Text{code::vb_dma_fault,
         "Acquisition aborted: the board's DMA engine reported a transfer fault and discarded the frames "
         "in flight."},
    Text{code::vb_text_truncated, "The text buffer is too small; the needed size was returned."},
    Text{code::vb_text_unknown, "There is no text for that error code."},
    Text{code::vb_stopped, "Circular acquisition was stopped."},
    Text{code::vb_aborted, "Circular acquisition was aborted."},
};

constexpr std::array vn_texts{
    Text{code::vn_bad_handle, "Invalid board handle."},
    Text{code::vn_bad_argument, "Invalid argument: a pointer is null or a value is out of range."},
    Text{code::vn_buffer_too_small, "The text buffer is too small."},
    Text{code::vn_wrong_family, "The operation is not supported by this board family."},
    Text{code::vn_board_missing, "The board no longer responds; it may have been removed."},
    Text{code::vn_roi_outside_sensor, "The region of interest lies outside the camera's sensor."},
    Text{code::vn_roi_busy, "The region of interest cannot change while circular buffers are allocated."},
    Text{code::vn_roi_failed, "The board rejected the region of interest."},
    Text{code::vn_register_range, "Board register number out of range (0 to 3633)."},
    Text{code::vn_register_read_only, "The board register is read-only."},
    Text{code::vn_no_camera_file, "The board has no camera file."},
    Text{code::vn_option_missing, "The board's registry has no such option."},
    Text{code::vn_option_malformed, "The board's registry option is not a hexadecimal number."},
    Text{code::vn_cxp_bad_link, "Invalid CoaXPress link selector."},
    Text{code::vn_cxp_nack, "The CoaXPress camera did not acknowledge the address."},
    Text{code::vn_cxp_read_only, "The CoaXPress camera register is read-only."},
    Text{code::vn_cxp_unaligned, "CoaXPress register addresses must be multiples of 4."},
    Text{code::vn_cxp_bad_speed, "The CoaXPress link speed or connection count is not supported."},
    Text{code::vn_serial_unavailable, "The board has no Camera Link serial port."},
    Text{code::vn_no_devices, "No devices are configured."},
    Text{code::vn_inspection_only, "The board is open for inspection only; open it for acquisition first."},
    Text{code::vn_cxp_value_refused, "The CoaXPress camera refused the value written to the register."},
    Text{code::vn_cxp_locked, "The CoaXPress camera's frame format is locked while the transport layer acquires."},
    Text{code::vn_cxp_whole_words, "The CoaXPress link of this board moves whole 4-byte words only."},
    Text{code::vn_cxp_timeout, "The CoaXPress camera did not answer."},
    Text{code::vn_cxp_crc, "The CoaXPress camera's answer failed its CRC check."},
    Text{code::vn_no_camera_identity, "The camera file names no camera make or model."},
};

template <typename Table>
std::optional<std::string_view> find_text(const Table& table, int32_t code)
{
    for (const auto& [value, text] : table) {
        if (value == code) {
            return text;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string_view> ErrorCatalog::vb_text(int32_t code)
{
    return find_text(vb_texts, code);
}

std::optional<std::string_view> ErrorCatalog::vn_text(int32_t code)
{
    return find_text(vn_texts, code);
}

}  // namespace vnsim
