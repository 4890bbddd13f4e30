// The simulated system's configuration: the JSON schema of docs/simulator.md read into plain records
// (aggregates without behaviour, one per object of the schema), and SimConfig, which reads them.
// Unknown keys are ignored and missing keys take their defaults, so that older files keep working as the
// schema grows.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vnsim {

class ImageReplay;

enum class BoardKind { CameraLink, CoaXPress, Other };
enum class TriggerMode { Free, Manual };
// Moving and Benchmark are the board's own; a camera's test pattern may also ask for the other two.
enum class PatternMode { Moving, Benchmark, HorizontalRamp, Black };

struct CameraFileConfig {
    std::string name;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bits_per_pixel = 8;
    std::string make;
    std::string model;
    std::string mode;
};

// A board register; live registers show the board's state instead of a stored value.
struct RegisterConfig {
    uint32_t number = 0;
    std::string name;
    uint32_t value = 0;
    bool writable = true;
    std::string live;  // "", "status", "frames", "pending", "overwritten", "timestamp_lo", "timestamp_hi"
};

struct FrameSourceConfig {
    double rate = 30.0;  // frames per second; 0 = as fast as possible
    TriggerMode trigger = TriggerMode::Free;
    PatternMode pattern = PatternMode::Moving;
    std::shared_ptr<const ImageReplay> images;  // the user's images instead of the pattern; null for none
    // Bytes per second the board's DMA moves into the host's memory while it writes a frame; 0 = no limit
    // (the frame is written as fast as the simulator's thread writes it).
    double bus_bandwidth = 0;
};

// Bytes placed in the CoaXPress camera's memory at configuration time.
struct CxpPreset {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

// One entry of the CoaXPress camera's XML manifest.
struct CxpManifestEntry {
    enum class Source { LocalXml, LocalZip, Url };
    Source source = Source::LocalZip;
    std::string url;   // Url: the text as given; local entries: the URL is made from the file's place
    std::string name;  // local entries: the file name in the URL
    uint32_t xml_version = 0;     // 0x00MMmmss
    uint32_t schema_version = 0;  // 0x00MMmm00 (sub-minor in the low byte)
    bool schema_suffix = false;   // local entries: append "?SchemaVersion=M.m.s"
    bool terminated = true;       // false: no NUL after the URL text (the rest of its slot is filled)
};

// A read of the camera that fails count times (-1: always) when its range covers address.
struct CxpReadFailure {
    uint32_t address = 0;
    int32_t count = 1;
};

struct CxpCameraFaultConfig {
    bool standard_unreadable = false;
    std::optional<uint32_t> standard_value;  // instead of the CoaXPress magic number
    std::vector<CxpReadFailure> read_failures;
    bool silent = false;  // the camera answers nothing at all
};

struct CxpCameraConfig {
    std::string vendor = "Vantrel";
    std::string model = "SimCam-CXP";
    std::string manufacturer_info = "Simulated CoaXPress camera";
    std::string version = "1.0.0";
    std::string firmware_version = "1.0.0";
    std::string serial = "SC0000001";
    std::string user_id;
    uint32_t revision = 0x00010001;
    uint32_t link_config_default = 0x00040048;
    uint32_t control_packet_size = 1024;
    uint32_t stream_packet_size = 8192;
    uint32_t manufacturer_space_size = 0x10000;  // writable memory from 0x6000
    std::vector<CxpPreset> presets;
    std::vector<CxpManifestEntry> manifest;      // at least one entry
    uint32_t width_max = 0;   // sensor size; 0: the largest of the board's camera files
    uint32_t height_max = 0;
    double exposure_time = 10000.0;  // microseconds
    CxpCameraFaultConfig faults;
};

struct SerialConfig {
    uint32_t baud_rate = 9600;      // both ends of the line at power-up
    uint32_t board_rates = 0x3F;    // CL_BAUDRATE_* bits the board's serial port offers (9600 to 230400)
};

// The Camera Link camera on a Camera Link board's serial line (docs/simulator.md, "Camera Link camera").
struct ClCameraConfig {
    std::string vendor = "Vantrel";
    std::string model = "SimCam-CL-1";
    std::string family = "SimCam";
    std::string version = "1.0.0";
    std::string serial = "CL0000001";
    std::string manufacturer_info = "Simulated Camera Link camera";
    // Geometry at power-up; 0 takes the board's default camera file.
    uint32_t width_max = 0, height_max = 0, width = 0, height = 0, bits_per_pixel = 0;
    double frame_rate = -1;          // below 0: the board's frame_source rate
    uint32_t baud_rates = 0x1F;      // CL_BAUDRATE_* bits the camera accepts (9600 to 115200)
    std::string xml = "zip";         // manifest: "zip", "plain" or "both" (zip first)
    uint32_t xml_major = 1, xml_minor = 0, xml_subminor = 0;
    uint32_t response_us = 200;      // time from the end of a command to the first byte of its answer
    uint32_t max_response_ms = 300;  // bootstrap "maximum device response time"
    // Faults.
    bool silent = false;             // never answers
    uint32_t drop_answers = 0;       // the next n commands get no answer
    uint32_t corrupt_answers = 0;    // the next n answers carry a wrong checksum
    uint32_t pending_ms = 0;         // each answer comes this late, announced by a pending acknowledge
};

struct BoardFaultConfig {
    uint32_t open_fails = 0;
    uint32_t stop_after_frames = 0;
    bool stop_is_abort = false;
    bool missing = false;
    bool roi_set_fails = false;
    bool buffer_alloc_fails = false;
    bool circ_setup_fails = false;
    bool serial_reference_fails = false;  // clVNGetSerialRefFromBoardHandle fails (Camera Link boards)
};

struct BoardConfig {
    BoardKind kind = BoardKind::Other;
    std::string model;   // first text of VNGetBoardStrings
    std::string serial;  // second text of VNGetBoardStrings
    std::string device_name;
    uint32_t bus = 0;    // the two further outputs of VNGetBoardStrings
    uint32_t slot = 0;
    std::vector<CameraFileConfig> camera_files;
    std::optional<std::string> default_camera_file;
    std::vector<RegisterConfig> registers;  // sorted by number, unique numbers
    FrameSourceConfig source;
    std::map<std::string, std::string> options;
    uint64_t max_buffer_bytes = uint64_t{1} << 30;
    uint32_t cxp_connections = 4;  // links the board offers
    bool cxp_whole_words = false;  // the link refuses block transfers that are not whole 4-byte words
    CxpCameraConfig cxp_camera;
    SerialConfig serial_line;
    ClCameraConfig cl_camera;
    BoardFaultConfig faults;
};

struct SystemConfig {
    std::vector<BoardConfig> boards;
    bool enumeration_fails = false;
};

class SimConfig {
public:
    // Reads a configuration; throws std::invalid_argument naming the offending key when it is invalid.
    static SystemConfig parse(const nlohmann::json& document);
    // The built-in default: a CoaXPress board and a Camera Link board, each with a free-running camera.
    static const nlohmann::json& default_document();
    // The board's camera file of that name; null when it has none.
    static const CameraFileConfig* find_camera_file(const BoardConfig& board, const std::string& name);
    // The register set a board has unless its configuration says otherwise.
    static std::vector<RegisterConfig> default_registers(BoardKind kind);
};

}  // namespace vnsim
