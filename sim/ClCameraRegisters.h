// The register map of the simulated Camera Link camera, shared by the camera, its GenApi XML (the XML's
// addresses are filled in from `features` below) and the tests. The camera speaks GenCP over the serial
// line; its bootstrap block follows the GenCP bootstrap layout, its feature registers are little-endian
// 32-bit words from 0x10000.
#pragma once

#include <cstdint>
#include <string_view>

namespace vnsim::clcam {

// Bootstrap block (strings are NUL-padded to their length).
inline constexpr uint32_t gencp_version = 0x0000;        // 4: major << 16 | minor
inline constexpr uint32_t manufacturer_name = 0x0004;    // 64
inline constexpr uint32_t model_name = 0x0044;           // 64
inline constexpr uint32_t family_name = 0x0084;          // 64
inline constexpr uint32_t device_version = 0x00C4;       // 64
inline constexpr uint32_t manufacturer_info = 0x0104;    // 64
inline constexpr uint32_t serial_number = 0x0144;        // 64
inline constexpr uint32_t user_defined_name = 0x0184;    // 64, writable
inline constexpr uint32_t device_capability = 0x01C4;    // 8
inline constexpr uint32_t max_response_time = 0x01CC;    // 4: ms the camera may take before it answers
inline constexpr uint32_t manifest_table = 0x01D0;       // 8: address of the manifest
inline constexpr uint32_t string_length = 64;
inline constexpr uint32_t bootstrap_end = 0x0200;

// Serial line: the rates the camera accepts (CL_BAUDRATE_* bits) and the one it uses now. A write of
// baud_rate is acknowledged at the old rate; the camera listens at the new one afterwards.
inline constexpr uint32_t baud_rates_supported = 0x0300;  // 4, read-only
inline constexpr uint32_t baud_rate = 0x0304;             // 4, one CL_BAUDRATE_* bit

// Manifest: an 8-byte entry count, then 64-byte entries: file version (4: major << 24 | minor << 16 |
// subminor), schema version (4: major << 24 | minor << 16 | file type: 0 plain XML, 1 zip), file address
// (8), file size (8), the rest zero.
inline constexpr uint32_t manifest = 0x0400;
inline constexpr uint32_t manifest_entry_size = 64;
inline constexpr uint32_t manifest_file_plain = 0;
inline constexpr uint32_t manifest_file_zip = 1;
// The description files, each in its own window of camera memory.
inline constexpr uint32_t xml_plain_window = 0x100000;
inline constexpr uint32_t xml_zip_window = 0x200000;

// Feature registers (little-endian).
inline constexpr uint32_t width = 0x10000;
inline constexpr uint32_t height = 0x10004;
inline constexpr uint32_t pixel_format = 0x10008;
inline constexpr uint32_t exposure_time = 0x1000C;          // IEEE float, microseconds
inline constexpr uint32_t acquisition_frame_rate = 0x10010; // IEEE float, frames per second
inline constexpr uint32_t test_pattern = 0x10014;           // 0 off (the board's moving pattern), 1 benchmark
inline constexpr uint32_t acquisition_start = 0x10018;      // command: write 1
inline constexpr uint32_t acquisition_stop = 0x1001C;       // command: write 1
inline constexpr uint32_t tl_params_locked = 0x10020;       // while 1, geometry writes are refused
inline constexpr uint32_t width_max = 0x10024;
inline constexpr uint32_t height_max = 0x10028;
inline constexpr uint32_t payload_size = 0x1002C;
inline constexpr uint32_t acquisition_status = 0x10030;     // 1 while the camera sends frames
inline constexpr uint32_t acquisition_mode = 0x10034;       // values of CameraAcquisition.h
inline constexpr uint32_t acquisition_frame_count = 0x10038;
inline constexpr uint32_t trigger_selector = 0x1003C;
inline constexpr uint32_t trigger_mode = 0x10040;
inline constexpr uint32_t trigger_source = 0x10044;
inline constexpr uint32_t trigger_software = 0x10048;       // command: write 1
inline constexpr uint32_t trigger_activation = 0x1004C;
inline constexpr uint32_t features_end = 0x10050;

// PixelFormat values (the standard pixel-format codes).
inline constexpr uint32_t mono8 = 0x01080001;
inline constexpr uint32_t mono10 = 0x01100003;
inline constexpr uint32_t mono12 = 0x01100005;
inline constexpr uint32_t mono16 = 0x01100007;

// Every address the XML names, by the token the XML text carries ("{Width}" and so on).
struct Feature {
    std::string_view token;
    uint32_t address;
};
inline constexpr Feature features[] = {
    {"ManufacturerName", manufacturer_name}, {"ModelName", model_name},
    {"FamilyName", family_name},             {"DeviceVersion", device_version},
    {"ManufacturerInfo", manufacturer_info}, {"SerialNumber", serial_number},
    {"UserDefinedName", user_defined_name},  {"Width", width},
    {"Height", height},                      {"PixelFormat", pixel_format},
    {"ExposureTime", exposure_time},         {"AcquisitionFrameRate", acquisition_frame_rate},
    {"TestPattern", test_pattern},           {"AcquisitionStart", acquisition_start},
    {"AcquisitionStop", acquisition_stop},   {"TLParamsLocked", tl_params_locked},
    {"WidthMax", width_max},                 {"HeightMax", height_max},
    {"PayloadSize", payload_size},           {"AcquisitionStatus", acquisition_status},
    {"AcquisitionMode", acquisition_mode},   {"AcquisitionFrameCount", acquisition_frame_count},
    {"TriggerSelector", trigger_selector},   {"TriggerMode", trigger_mode},
    {"TriggerSource", trigger_source},       {"TriggerSoftware", trigger_software},
    {"TriggerActivation", trigger_activation},
};

}  // namespace vnsim::clcam
