// The register map of the simulated CoaXPress camera: the bootstrap addresses every CoaXPress camera has,
// and the camera's own layout of its manufacturer space (the manifest URL texts, the feature registers,
// the XML files). The simulator, the camera's GenApi XML (sim/camera/VantrelSimCamCXP.xml) and the tests
// all take their addresses from here; a conformance test (test_cxp_camera_xml.py) reads every register node of
// the XML through the reference GenApi and checks its address and length against the ones named below.
//
// Values are big-endian in the camera's memory; strings are NUL-padded to their field size.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vnsim::cxp {

// ---- Bootstrap block -------------------------------------------------------------------------------
inline constexpr uint32_t standard = 0x0000;
inline constexpr uint32_t standard_magic = 0xC0A79AE5;
inline constexpr uint32_t revision = 0x0004;
inline constexpr uint32_t revision_1_1 = 0x00010001;  // the first with the pointer block and the 0x4028.. registers
inline constexpr uint32_t xml_manifest_size = 0x0008;
inline constexpr uint32_t xml_manifest_selector = 0x000C;
inline constexpr uint32_t xml_version = 0x0010;
inline constexpr uint32_t xml_schema_version = 0x0014;
inline constexpr uint32_t xml_url_address = 0x0018;
inline constexpr uint32_t iidc_pointer = 0x001C;

inline constexpr uint32_t device_vendor_name = 0x2000;  // 32 bytes
inline constexpr uint32_t device_model_name = 0x2020;   // 32
inline constexpr uint32_t device_manufacturer_info = 0x2040;  // 48
inline constexpr uint32_t device_version = 0x2070;      // 32
inline constexpr uint32_t device_firmware_version = 0x2090;  // 32
inline constexpr uint32_t device_serial_number = 0x20B0;  // 16
inline constexpr uint32_t device_user_id = 0x20C0;      // 16, writable
inline constexpr uint32_t device_vendor_name_size = 32;
inline constexpr uint32_t device_model_name_size = 32;
inline constexpr uint32_t device_manufacturer_info_size = 48;
inline constexpr uint32_t device_version_size = 32;
inline constexpr uint32_t device_firmware_version_size = 32;
inline constexpr uint32_t device_serial_number_size = 16;
inline constexpr uint32_t device_user_id_size = 16;

// Pointer block: where the camera keeps these features (revision 1.1 and later).
inline constexpr uint32_t width_address = 0x3000;
inline constexpr uint32_t height_address = 0x3004;
inline constexpr uint32_t acquisition_mode_address = 0x3008;
inline constexpr uint32_t acquisition_start_address = 0x300C;
inline constexpr uint32_t acquisition_stop_address = 0x3010;
inline constexpr uint32_t pixel_format_address = 0x3014;
inline constexpr uint32_t device_tap_geometry_address = 0x3018;
inline constexpr uint32_t image1_stream_id_address = 0x301C;

inline constexpr uint32_t connection_reset = 0x4000;
inline constexpr uint32_t device_connection_id = 0x4004;
inline constexpr uint32_t master_host_connection_id = 0x4008;
inline constexpr uint32_t control_packet_size_max = 0x400C;
inline constexpr uint32_t stream_packet_size_max = 0x4010;
inline constexpr uint32_t connection_config = 0x4014;
inline constexpr uint32_t connection_config_default = 0x4018;
inline constexpr uint32_t test_mode = 0x401C;
inline constexpr uint32_t test_error_count_selector = 0x4020;
inline constexpr uint32_t test_error_count = 0x4024;
inline constexpr uint32_t test_packet_count_tx = 0x4028;  // 8 bytes
inline constexpr uint32_t test_packet_count_rx = 0x4030;  // 8 bytes
inline constexpr uint32_t electrical_compliance_test = 0x4038;
inline constexpr uint32_t hs_up_connection = 0x403C;

inline constexpr uint32_t manufacturer_space = 0x6000;

// ---- Manufacturer space ----------------------------------------------------------------------------
// 0x6000 upwards: free memory of the configured size (writable, for presets and tests).
inline constexpr uint32_t scratch_base = manufacturer_space;
inline constexpr uint32_t scratch_size_max = 0x000FA000;  // so that it ends below url_base

// The URL text of manifest entry i lies at url_base + i * url_slot_size (read-only).
inline constexpr uint32_t url_base = 0x00100000;
inline constexpr uint32_t url_slot_size = 0x800;
inline constexpr uint32_t manifest_entries_max = 8;

// The feature registers, 4 bytes each.
inline constexpr uint32_t feature_base = 0x00200000;
inline constexpr uint32_t width = feature_base + 0x00;
inline constexpr uint32_t height = feature_base + 0x04;
inline constexpr uint32_t offset_x = feature_base + 0x08;
inline constexpr uint32_t offset_y = feature_base + 0x0C;
inline constexpr uint32_t width_max = feature_base + 0x10;   // read-only
inline constexpr uint32_t height_max = feature_base + 0x14;  // read-only
inline constexpr uint32_t pixel_format = feature_base + 0x18;
inline constexpr uint32_t payload_size = feature_base + 0x1C;  // read-only: width x height x bytes per pixel
inline constexpr uint32_t acquisition_mode = feature_base + 0x20;
inline constexpr uint32_t acquisition_start = feature_base + 0x24;  // write 1; reads 0
inline constexpr uint32_t acquisition_stop = feature_base + 0x28;   // write 1; reads 0
inline constexpr uint32_t tl_params_locked = feature_base + 0x2C;   // 1 refuses writes of the frame format
inline constexpr uint32_t exposure_time = feature_base + 0x30;      // IEEE 754 single, microseconds
inline constexpr uint32_t acquisition_frame_rate = feature_base + 0x34;  // IEEE 754 single, Hz; 0 = flat out
inline constexpr uint32_t test_pattern = feature_base + 0x38;
inline constexpr uint32_t device_tap_geometry = feature_base + 0x3C;  // read-only, 0 (1X-1Y)
inline constexpr uint32_t image1_stream_id = feature_base + 0x40;     // read-only
inline constexpr uint32_t acquisition_status = feature_base + 0x44;   // read-only: 1 while streaming
// Trigger and acquisition control; the values are those of CameraAcquisition.h.
inline constexpr uint32_t acquisition_frame_count = feature_base + 0x48;
inline constexpr uint32_t trigger_selector = feature_base + 0x4C;
inline constexpr uint32_t trigger_mode = feature_base + 0x50;
inline constexpr uint32_t trigger_source = feature_base + 0x54;
inline constexpr uint32_t trigger_software = feature_base + 0x58;  // write 1; reads 0
inline constexpr uint32_t trigger_activation = feature_base + 0x5C;
inline constexpr uint32_t feature_size = 0x60;

// The camera's own XML, plain and zipped (read-only, each padded with zeros to whole words).
inline constexpr uint32_t xml_base = 0x00300000;
inline constexpr uint32_t zip_base = 0x00400000;
inline constexpr uint32_t file_size_max = 0x00100000;

// ---- Values ----------------------------------------------------------------------------------------
// AcquisitionMode and the trigger features: see CameraAcquisition.h.

inline constexpr uint32_t test_pattern_off = 0;                       // black frames (the stamp only)
inline constexpr uint32_t test_pattern_grey_horizontal_ramp = 1;      // x mod 2^bits, the same every frame
inline constexpr uint32_t test_pattern_grey_diagonal_ramp_moving = 2;  // the board's moving pattern

inline constexpr uint32_t pfnc_mono8 = 0x01080001;
inline constexpr uint32_t pfnc_mono10 = 0x01100003;
inline constexpr uint32_t pfnc_mono12 = 0x01100005;
inline constexpr uint32_t pfnc_mono14 = 0x01100025;
inline constexpr uint32_t pfnc_mono16 = 0x01100007;
inline constexpr uint32_t pfnc_rgb8 = 0x02180014;

// A pixel format with the significant bits of its pixels, as the board counts them.
struct PixelFormatBits {
    uint32_t code;
    uint32_t bits;
};
inline constexpr std::array<PixelFormatBits, 6> pixel_formats{{{pfnc_mono8, 8},
                                                               {pfnc_mono10, 10},
                                                               {pfnc_mono12, 12},
                                                               {pfnc_mono14, 14},
                                                               {pfnc_mono16, 16},
                                                               {pfnc_rgb8, 24}}};

// The version of the camera's XML (its MajorVersion, MinorVersion, SubMinorVersion) and of its schema,
// packed as XmlVersion and XmlSchemaVersion carry them: 0x00MMmmss.
inline constexpr uint32_t camera_xml_version = 0x00010000;
inline constexpr uint32_t camera_xml_schema_version = 0x00010100;
inline constexpr std::string_view camera_xml_name = "VantrelSimCamCXP.xml";
inline constexpr std::string_view camera_zip_name = "VantrelSimCamCXP.zip";

// Every register node of the camera XML with its address and length.
struct XmlRegister {
    std::string_view node;
    uint32_t address;
    uint32_t length;
};
inline constexpr std::array<XmlRegister, 39> xml_registers{{
    {"DeviceVendorNameReg", device_vendor_name, device_vendor_name_size},
    {"DeviceModelNameReg", device_model_name, device_model_name_size},
    {"DeviceManufacturerInfoReg", device_manufacturer_info, device_manufacturer_info_size},
    {"DeviceVersionReg", device_version, device_version_size},
    {"DeviceSerialNumberReg", device_serial_number, device_serial_number_size},
    {"DeviceUserIDReg", device_user_id, device_user_id_size},
    {"StandardReg", standard, 4},
    {"RevisionReg", revision, 4},
    {"XmlManifestSizeReg", xml_manifest_size, 4},
    {"XmlManifestSelectorReg", xml_manifest_selector, 4},
    {"XmlVersionReg", xml_version, 4},
    {"XmlSchemaVersionReg", xml_schema_version, 4},
    {"XmlUrlAddressReg", xml_url_address, 4},
    {"WidthReg", width, 4},
    {"HeightReg", height, 4},
    {"OffsetXReg", offset_x, 4},
    {"OffsetYReg", offset_y, 4},
    {"WidthMaxReg", width_max, 4},
    {"HeightMaxReg", height_max, 4},
    {"PixelFormatReg", pixel_format, 4},
    {"PayloadSizeReg", payload_size, 4},
    {"AcquisitionModeReg", acquisition_mode, 4},
    {"AcquisitionStartReg", acquisition_start, 4},
    {"AcquisitionStopReg", acquisition_stop, 4},
    {"TLParamsLockedReg", tl_params_locked, 4},
    {"ExposureTimeReg", exposure_time, 4},
    {"AcquisitionFrameRateReg", acquisition_frame_rate, 4},
    {"TestPatternReg", test_pattern, 4},
    {"AcquisitionFrameCountReg", acquisition_frame_count, 4},
    {"TriggerSelectorReg", trigger_selector, 4},
    {"TriggerModeReg", trigger_mode, 4},
    {"TriggerSourceReg", trigger_source, 4},
    {"TriggerSoftwareReg", trigger_software, 4},
    {"TriggerActivationReg", trigger_activation, 4},
    {"CxpLinkConfigurationReg", connection_config, 4},
    {"CxpLinkConfigurationPreferredReg", connection_config_default, 4},
    {"CxpConnectionSelectorReg", test_error_count_selector, 4},
    {"CxpConnectionTestErrorCountReg", test_error_count, 4},
    {"CxpConnectionTestModeReg", test_mode, 4},
}};

}  // namespace vnsim::cxp
