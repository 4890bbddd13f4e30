// Result codes of the simulated board SDK beyond those the producer names in VantrelSdk.h.
// Buffer-library (Vb) codes live in the 200s and 0x10000s, driver (VN) codes in the 3000s; the texts are
// in ErrorCatalog.
#pragma once

#include <cstdint>

namespace vnsim::code {

// Buffer library (VbCir*, VbBuffer*, VbBrd*, VbCam*, VbErrorTextGet).
inline constexpr int32_t vb_bad_handle = 201;
inline constexpr int32_t vb_bad_argument = 202;
inline constexpr int32_t vb_no_board = 203;
inline constexpr int32_t vb_open_failed = 204;
inline constexpr int32_t vb_board_busy = 205;
inline constexpr int32_t vb_camera_file_unknown = 206;
inline constexpr int32_t vb_no_camera_file = 207;
inline constexpr int32_t vb_unknown_key = 208;
inline constexpr int32_t vb_inspection_only = 209;
inline constexpr int32_t vb_alloc_failed = 210;
inline constexpr int32_t vb_already_allocated = 211;
inline constexpr int32_t vb_not_allocated = 212;
inline constexpr int32_t vb_bad_circ_mode = 213;
inline constexpr int32_t vb_setup_failed = 214;
inline constexpr int32_t vb_bad_command = 215;
inline constexpr int32_t vb_already_running = 216;
inline constexpr int32_t vb_not_running = 217;
inline constexpr int32_t vb_not_configured = 218;   // VB_NOT_CONFIGURED
inline constexpr int32_t vb_record_not_held = 219;
inline constexpr int32_t vb_overflow = 220;
inline constexpr int32_t vb_timeout = 221;          // VB_WAIT_TIMEOUT
inline constexpr int32_t vb_signal_lost = 222;
inline constexpr int32_t vb_dma_fault = 223;
inline constexpr int32_t vb_text_truncated = 239;   // VB_TEXT_TRUNCATED
inline constexpr int32_t vb_text_unknown = 240;     // VB_TEXT_UNKNOWN_CODE
inline constexpr int32_t vb_stopped = 0x10004;      // VB_ACQ_STOPPED
inline constexpr int32_t vb_aborted = 0x10005;      // VB_ACQ_ABORTED

// Driver (VN*, Vc*, clVN*).
inline constexpr int32_t vn_bad_handle = 3001;
inline constexpr int32_t vn_bad_argument = 3002;
inline constexpr int32_t vn_buffer_too_small = 3003;
inline constexpr int32_t vn_wrong_family = 3004;
inline constexpr int32_t vn_board_missing = 3005;
inline constexpr int32_t vn_roi_outside_sensor = 3006;
inline constexpr int32_t vn_roi_busy = 3007;
inline constexpr int32_t vn_roi_failed = 3008;
inline constexpr int32_t vn_register_range = 3009;
inline constexpr int32_t vn_register_read_only = 3010;
inline constexpr int32_t vn_no_camera_file = 3011;
inline constexpr int32_t vn_option_missing = 3012;
inline constexpr int32_t vn_option_malformed = 3013;
inline constexpr int32_t vn_cxp_bad_link = 3014;
inline constexpr int32_t vn_cxp_nack = 3015;
inline constexpr int32_t vn_cxp_read_only = 3016;
inline constexpr int32_t vn_cxp_unaligned = 3017;
inline constexpr int32_t vn_cxp_bad_speed = 3018;
inline constexpr int32_t vn_serial_unavailable = 3019;
inline constexpr int32_t vn_no_devices = 3020;
inline constexpr int32_t vn_inspection_only = 3021;
inline constexpr int32_t vn_cxp_value_refused = 3022;
inline constexpr int32_t vn_cxp_locked = 3023;
inline constexpr int32_t vn_cxp_whole_words = 3024;
inline constexpr int32_t vn_cxp_timeout = 3025;
inline constexpr int32_t vn_cxp_crc = 3026;
inline constexpr int32_t vn_no_camera_identity = 3027;

}  // namespace vnsim::code
