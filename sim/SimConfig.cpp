#include "SimConfig.h"

#include "CxpCameraRegisters.h"
#include "ImageReplay.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace vnsim {

using nlohmann::json;

namespace {

constexpr auto cxp_xml_name = cxp::camera_xml_name;
constexpr auto cxp_zip_name = cxp::camera_zip_name;
constexpr uint32_t cxp_xml_version = cxp::camera_xml_version;
constexpr uint32_t cxp_schema_version = cxp::camera_xml_schema_version;
constexpr uint32_t cxp_scratch_size_max = cxp::scratch_size_max;
constexpr uint32_t cxp_manifest_entries_max = cxp::manifest_entries_max;

[[noreturn]] void fail(const std::string& path, const std::string& what)
{
    throw std::invalid_argument(path + " " + what);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// An unsigned number, given as a JSON integer or as a text ("1234", "0x4D2").
uint64_t read_unsigned(const json& value, const std::string& path, uint64_t max)
{
    uint64_t result = 0;
    if (value.is_number_unsigned()) {
        result = value.get<uint64_t>();
    } else if (value.is_number_integer()) {
        fail(path, "must not be negative");
    } else if (value.is_string()) {
        const auto text = value.get<std::string>();
        try {
            size_t used = 0;
            result = std::stoull(text, &used, 0);
            if (used != text.size() || text.empty() || text[0] == '-') {
                throw std::invalid_argument(text);
            }
        } catch (const std::exception&) {
            fail(path, "must be a number, not \"" + text + "\"");
        }
    } else {
        fail(path, "must be a number");
    }
    if (result > max) {
        fail(path, "must be at most " + std::to_string(max));
    }
    return result;
}

uint32_t get_u32(const json& object, const char* key, const std::string& path, uint32_t fallback,
                 uint32_t max = std::numeric_limits<uint32_t>::max())
{
    if (!object.contains(key)) {
        return fallback;
    }
    return static_cast<uint32_t>(read_unsigned(object.at(key), path + "." + key, max));
}

std::string get_string(const json& object, const char* key, const std::string& path, const std::string& fallback)
{
    if (!object.contains(key)) {
        return fallback;
    }
    const auto& value = object.at(key);
    if (!value.is_string()) {
        fail(path + "." + key, "must be a text");
    }
    return value.get<std::string>();
}

bool get_bool(const json& object, const char* key, const std::string& path, bool fallback)
{
    if (!object.contains(key)) {
        return fallback;
    }
    const auto& value = object.at(key);
    if (!value.is_boolean()) {
        fail(path + "." + key, "must be true or false");
    }
    return value.get<bool>();
}

const json& get_object(const json& object, const char* key, const std::string& path)
{
    static const json empty = json::object();
    if (!object.contains(key)) {
        return empty;
    }
    const auto& value = object.at(key);
    if (!value.is_object()) {
        fail(path + "." + key, "must be an object");
    }
    return value;
}

const json& get_array(const json& object, const char* key, const std::string& path)
{
    static const json empty = json::array();
    if (!object.contains(key)) {
        return empty;
    }
    const auto& value = object.at(key);
    if (!value.is_array()) {
        fail(path + "." + key, "must be an array");
    }
    return value;
}

CameraFileConfig parse_camera_file(const json& node, const std::string& path)
{
    if (!node.is_object()) {
        fail(path, "must be an object");
    }
    CameraFileConfig file;
    file.name = get_string(node, "name", path, "");
    if (file.name.empty()) {
        fail(path + ".name", "must be a non-empty text");
    }
    file.width = get_u32(node, "width", path, 0, 65535);
    file.height = get_u32(node, "height", path, 0, 65535);
    if (file.width == 0 || file.height == 0) {
        fail(path, "needs a \"width\" and a \"height\" of at least 1");
    }
    file.bits_per_pixel = get_u32(node, "bits_per_pixel", path, 8, 32);
    if (file.bits_per_pixel == 0) {
        fail(path + ".bits_per_pixel", "must be 1 to 32");
    }
    file.make = get_string(node, "make", path, "Vantrel");
    file.model = get_string(node, "model", path, "SimCam");
    file.mode = get_string(node, "mode", path, "Free run");
    return file;
}

RegisterConfig parse_register(const json& node, const std::string& path)
{
    if (!node.is_object()) {
        fail(path, "must be an object");
    }
    if (!node.contains("number")) {
        fail(path, "needs a \"number\"");
    }
    RegisterConfig reg;
    reg.number = get_u32(node, "number", path, 0, 3633);
    reg.name = get_string(node, "name", path, "");
    reg.value = get_u32(node, "value", path, 0);
    const auto access = lower(get_string(node, "access", path, "rw"));
    if (access != "rw" && access != "ro") {
        fail(path + ".access", "must be \"rw\" or \"ro\"");
    }
    reg.writable = access == "rw";
    reg.live = get_string(node, "live", path, "");
    static const char* const lives[] = {"", "status", "frames", "pending", "overwritten", "timestamp_lo",
                                        "timestamp_hi"};
    if (std::find(std::begin(lives), std::end(lives), reg.live) == std::end(lives)) {
        fail(path + ".live", "must be one of status, frames, pending, overwritten, timestamp_lo, timestamp_hi");
    }
    if (!reg.live.empty()) {
        reg.writable = false;
    }
    return reg;
}

void merge_registers(std::vector<RegisterConfig>& registers, RegisterConfig reg)
{
    auto at = std::lower_bound(registers.begin(), registers.end(), reg.number,
                               [](const RegisterConfig& r, uint32_t n) { return r.number < n; });
    if (at != registers.end() && at->number == reg.number) {
        *at = std::move(reg);
    } else {
        registers.insert(at, std::move(reg));
    }
}

// "images": a folder, or {"folder": ..., "loop": true, "raw": {"width", "height", "pixel_format"}}. The
// images are read now, so that a file that cannot be used fails the configuration, named.
std::shared_ptr<const ImageReplay> parse_images(const json& node, const std::string& path)
{
    if (!node.is_string() && !node.is_object()) {
        fail(path, "must be a folder or an object with \"folder\"");
    }
    const std::string folder = node.is_string() ? node.get<std::string>() : get_string(node, "folder", path, "");
    if (folder.empty()) {
        fail(path + (node.is_string() ? "" : ".folder"), "must name the folder of the images");
    }
    const bool loop = node.is_object() ? get_bool(node, "loop", path, true) : true;
    std::optional<ImageReplay::RawFormat> raw;
    if (node.is_object() && node.contains("raw")) {
        const auto& format = get_object(node, "raw", path);
        const std::string raw_path = path + ".raw";
        raw = ImageReplay::RawFormat{};
        raw->width = get_u32(format, "width", raw_path, 0, 65535);
        raw->height = get_u32(format, "height", raw_path, 0, 65535);
        if (raw->width == 0 || raw->height == 0) {
            fail(raw_path, "needs the width and height of the raw images");
        }
        const auto pixel_format = get_string(format, "pixel_format", raw_path, "Mono8");
        static const std::pair<const char*, uint32_t> formats[] = {
            {"Mono8", 8}, {"Mono10", 10}, {"Mono12", 12}, {"Mono14", 14}, {"Mono16", 16}};
        const auto* known = std::find_if(std::begin(formats), std::end(formats),
                                         [&](const auto& f) { return pixel_format == f.first; });
        if (known == std::end(formats)) {
            fail(raw_path + ".pixel_format", "must be Mono8, Mono10, Mono12, Mono14 or Mono16");
        }
        raw->bits_per_pixel = known->second;
    }
    try {
        return std::make_shared<const ImageReplay>(folder, loop, raw);
    } catch (const std::runtime_error& e) {
        fail(path, e.what());
    }
}

FrameSourceConfig parse_source(const json& node, const std::string& path)
{
    FrameSourceConfig source;
    if (node.contains("rate")) {
        const auto& rate = node.at("rate");
        if (!rate.is_number() || rate.get<double>() < 0) {
            fail(path + ".rate", "must be a number of frames per second, 0 or more");
        }
        source.rate = rate.get<double>();
    }
    if (node.contains("bus_bandwidth")) {
        const auto& bandwidth = node.at("bus_bandwidth");
        if (!bandwidth.is_number() || bandwidth.get<double>() < 0) {
            fail(path + ".bus_bandwidth", "must be a number of bytes per second, 0 or more");
        }
        source.bus_bandwidth = bandwidth.get<double>();
    }
    const auto trigger = lower(get_string(node, "trigger", path, "free"));
    if (trigger == "free") {
        source.trigger = TriggerMode::Free;
    } else if (trigger == "manual") {
        source.trigger = TriggerMode::Manual;
    } else {
        fail(path + ".trigger", "must be \"free\" or \"manual\"");
    }
    const auto pattern = lower(get_string(node, "pattern", path, "moving"));
    if (pattern == "moving") {
        source.pattern = PatternMode::Moving;
    } else if (pattern == "benchmark") {
        source.pattern = PatternMode::Benchmark;
    } else {
        fail(path + ".pattern", "must be \"moving\" or \"benchmark\"");
    }
    if (node.contains("images")) {
        source.images = parse_images(node.at("images"), path + ".images");
    }
    return source;
}

std::vector<uint8_t> big_endian(uint64_t value, uint32_t size)
{
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) {
        bytes[size - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes;
}

// A version given as "M.m.s" or as a packed number 0x00MMmmss.
uint32_t read_version(const json& object, const char* key, const std::string& path, uint32_t fallback)
{
    if (!object.contains(key)) {
        return fallback;
    }
    const auto& value = object.at(key);
    if (value.is_string()) {
        const auto text = value.get<std::string>();
        unsigned major = 0, minor = 0, subminor = 0;
        char end = 0;
        if (std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &subminor, &end) == 3 && major < 256 &&
            minor < 256 && subminor < 256) {
            return major << 16 | minor << 8 | subminor;
        }
        if (text.find('.') != std::string::npos) {
            fail(path + "." + key, "must be \"major.minor.subminor\" (each 0 to 255), not \"" + text + "\"");
        }
    }
    return static_cast<uint32_t>(read_unsigned(value, path + "." + key, 0x00FFFFFF));
}

CxpManifestEntry parse_manifest_entry(const json& node, const std::string& path)
{
    if (!node.is_object()) {
        fail(path, "must be an object");
    }
    CxpManifestEntry entry;
    if (node.contains("url")) {
        entry.source = CxpManifestEntry::Source::Url;
        entry.url = get_string(node, "url", path, "");
        if (entry.url.size() >= cxp::url_slot_size - 32) {
            fail(path + ".url", "must be shorter than " + std::to_string(cxp::url_slot_size - 32) + " bytes");
        }
    } else {
        const auto local = lower(get_string(node, "local", path, "zip"));
        if (local == "xml") {
            entry.source = CxpManifestEntry::Source::LocalXml;
        } else if (local == "zip") {
            entry.source = CxpManifestEntry::Source::LocalZip;
        } else {
            fail(path + ".local", "must be \"xml\" or \"zip\"");
        }
        const bool zip = entry.source == CxpManifestEntry::Source::LocalZip;
        entry.name = get_string(node, "name", path, std::string(zip ? cxp_zip_name : cxp_xml_name));
        if (entry.name.empty() || entry.name.find_first_of(";?") != std::string::npos) {
            fail(path + ".name", "must be a file name without ';' or '?'");
        }
    }
    entry.xml_version = read_version(node, "xml_version", path, cxp_xml_version);
    entry.schema_version = read_version(node, "schema_version", path, cxp_schema_version);
    entry.schema_suffix = get_bool(node, "schema_suffix", path, false);
    entry.terminated = get_bool(node, "terminated", path, true);
    return entry;
}

CxpCameraFaultConfig parse_cxp_faults(const json& node, const std::string& path)
{
    CxpCameraFaultConfig faults;
    faults.standard_unreadable = get_bool(node, "standard_unreadable", path, false);
    if (node.contains("standard_value")) {
        faults.standard_value = get_u32(node, "standard_value", path, 0);
    }
    faults.silent = get_bool(node, "silent", path, false);
    const auto& failures = get_array(node, "read_failures", path);
    for (size_t i = 0; i < failures.size(); ++i) {
        const std::string at = path + ".read_failures[" + std::to_string(i) + "]";
        const auto& item = failures[i];
        if (!item.is_object() || !item.contains("address")) {
            fail(at, "needs an \"address\"");
        }
        CxpReadFailure failure;
        failure.address = get_u32(item, "address", at, 0);
        if (get_bool(item, "always", at, false)) {
            failure.count = -1;
        } else {
            failure.count = static_cast<int32_t>(get_u32(item, "count", at, 1, 0x7FFFFFFF));
        }
        faults.read_failures.push_back(failure);
    }
    return faults;
}

CxpCameraConfig parse_cxp_camera(const json& node, const std::string& path)
{
    CxpCameraConfig camera;
    camera.vendor = get_string(node, "vendor", path, camera.vendor);
    camera.model = get_string(node, "model", path, camera.model);
    camera.manufacturer_info = get_string(node, "manufacturer_info", path, camera.manufacturer_info);
    camera.version = get_string(node, "version", path, camera.version);
    camera.firmware_version = get_string(node, "firmware_version", path, camera.firmware_version);
    camera.serial = get_string(node, "serial", path, camera.serial);
    camera.user_id = get_string(node, "user_id", path, camera.user_id);
    camera.revision = get_u32(node, "revision", path, camera.revision);
    camera.link_config_default = get_u32(node, "link_config_default", path, camera.link_config_default);
    camera.control_packet_size = get_u32(node, "control_packet_size", path, camera.control_packet_size);
    camera.stream_packet_size = get_u32(node, "stream_packet_size", path, camera.stream_packet_size);
    camera.manufacturer_space_size =
        get_u32(node, "manufacturer_space_size", path, camera.manufacturer_space_size, cxp_scratch_size_max);
    camera.width_max = get_u32(node, "width_max", path, 0, 65535);
    camera.height_max = get_u32(node, "height_max", path, 0, 65535);
    if (node.contains("exposure_time")) {
        const auto& exposure = node.at("exposure_time");
        if (!exposure.is_number() || exposure.get<double>() < 1.0 || exposure.get<double>() > 1e6) {
            fail(path + ".exposure_time", "must be a number of microseconds from 1 to 1000000");
        }
        camera.exposure_time = exposure.get<double>();
    }
    const auto& manifest = get_array(node, "manifest", path);
    if (node.contains("manifest") && manifest.empty()) {
        fail(path + ".manifest", "needs at least one entry");
    }
    if (manifest.size() > cxp_manifest_entries_max) {
        fail(path + ".manifest", "has at most " + std::to_string(cxp_manifest_entries_max) + " entries");
    }
    for (size_t i = 0; i < manifest.size(); ++i) {
        camera.manifest.push_back(parse_manifest_entry(manifest[i], path + ".manifest[" + std::to_string(i) + "]"));
    }
    if (camera.manifest.empty()) {
        camera.manifest.push_back(CxpManifestEntry{});
        camera.manifest.back().name = std::string(cxp_zip_name);
        camera.manifest.back().xml_version = cxp_xml_version;
        camera.manifest.back().schema_version = cxp_schema_version;
    }
    camera.faults = parse_cxp_faults(get_object(node, "faults", path), path + ".faults");
    const auto& registers = get_array(node, "registers", path);
    for (size_t i = 0; i < registers.size(); ++i) {
        const std::string at = path + ".registers[" + std::to_string(i) + "]";
        const auto& reg = registers[i];
        if (!reg.is_object() || !reg.contains("address")) {
            fail(at, "needs an \"address\"");
        }
        CxpPreset preset;
        preset.address = get_u32(reg, "address", at, 0);
        const uint32_t size = get_u32(reg, "size", at, 4, 8);
        if (size != 4 && size != 8) {
            fail(at + ".size", "must be 4 or 8");
        }
        if (reg.contains("text")) {
            const auto text = get_string(reg, "text", at, "");
            preset.bytes.assign(text.begin(), text.end());
            preset.bytes.push_back(0);
        } else {
            const uint64_t max = size == 8 ? std::numeric_limits<uint64_t>::max() : 0xFFFFFFFFu;
            preset.bytes = big_endian(reg.contains("value") ? read_unsigned(reg.at("value"), at + ".value", max) : 0,
                                      size);
        }
        camera.presets.push_back(std::move(preset));
    }
    return camera;
}

// ---- Camera Link camera ------------------------------------------------------------------------------

uint32_t baud_bits(const json& node, const char* key, const std::string& path, uint32_t fallback)
{
    if (!node.contains(key)) {
        return fallback;
    }
    const auto& list = node.at(key);
    if (!list.is_array() || list.empty()) {
        fail(path + "." + key, "must be a non-empty array of baud rates");
    }
    static const uint32_t rates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    uint32_t bits = 0;
    for (const auto& rate : list) {
        const auto value = read_unsigned(rate, path + "." + key, 921600);
        const auto at = std::find(std::begin(rates), std::end(rates), value);
        if (at == std::end(rates)) {
            fail(path + "." + key, "holds " + std::to_string(value) + ", which is not a Camera Link baud rate");
        }
        bits |= 1u << (at - std::begin(rates));
    }
    return bits;
}

ClCameraConfig parse_cl_camera(const json& node, const std::string& path, const BoardConfig& board)
{
    ClCameraConfig camera;
    camera.vendor = get_string(node, "vendor", path, camera.vendor);
    camera.model = get_string(node, "model", path, camera.model);
    camera.family = get_string(node, "family", path, camera.family);
    camera.version = get_string(node, "version", path, camera.version);
    camera.serial = get_string(node, "serial", path, camera.serial);
    camera.manufacturer_info = get_string(node, "manufacturer_info", path, camera.manufacturer_info);
    const CameraFileConfig* file =
        board.default_camera_file ? SimConfig::find_camera_file(board, *board.default_camera_file) : nullptr;
    camera.width = get_u32(node, "width", path, file ? file->width : 640, 65535);
    camera.height = get_u32(node, "height", path, file ? file->height : 480, 65535);
    camera.bits_per_pixel = get_u32(node, "bits_per_pixel", path, file ? file->bits_per_pixel : 8, 16);
    if (camera.bits_per_pixel != 8 && camera.bits_per_pixel != 10 && camera.bits_per_pixel != 12 &&
        camera.bits_per_pixel != 16) {
        fail(path + ".bits_per_pixel", "must be 8, 10, 12 or 16");
    }
    camera.width_max = get_u32(node, "width_max", path, std::max<uint32_t>(camera.width, 2048), 65535);
    camera.height_max = get_u32(node, "height_max", path, std::max<uint32_t>(camera.height, 2048), 65535);
    if (camera.width == 0 || camera.height == 0 || camera.width > camera.width_max ||
        camera.height > camera.height_max) {
        fail(path, "needs 1 <= width <= width_max and 1 <= height <= height_max");
    }
    camera.frame_rate = board.source.rate;
    if (node.contains("frame_rate")) {
        const auto& rate = node.at("frame_rate");
        if (!rate.is_number() || rate.get<double>() < 0) {
            fail(path + ".frame_rate", "must be a number of frames per second, 0 or more");
        }
        camera.frame_rate = rate.get<double>();
    }
    camera.baud_rates = baud_bits(node, "baud_rates", path, camera.baud_rates);
    camera.xml = lower(get_string(node, "xml", path, camera.xml));
    if (camera.xml != "zip" && camera.xml != "plain" && camera.xml != "both") {
        fail(path + ".xml", "must be \"zip\", \"plain\" or \"both\"");
    }
    const auto version = get_string(node, "xml_version", path, "1.0.0");
    if (std::sscanf(version.c_str(), "%u.%u.%u", &camera.xml_major, &camera.xml_minor, &camera.xml_subminor) != 3 ||
        camera.xml_major > 255 || camera.xml_minor > 255 || camera.xml_subminor > 65535) {
        fail(path + ".xml_version", "must be \"major.minor.subminor\"");
    }
    camera.response_us = get_u32(node, "response_us", path, camera.response_us, 1000000);
    camera.max_response_ms = get_u32(node, "max_response_ms", path, camera.max_response_ms, 60000);
    const auto& faults = get_object(node, "faults", path);
    const std::string at = path + ".faults";
    camera.silent = get_bool(faults, "silent", at, false);
    camera.drop_answers = get_u32(faults, "drop_answers", at, 0);
    camera.corrupt_answers = get_u32(faults, "corrupt_answers", at, 0);
    camera.pending_ms = get_u32(faults, "pending_ms", at, 0, 60000);
    return camera;
}

BoardFaultConfig parse_board_faults(const json& node, const std::string& path)
{
    BoardFaultConfig faults;
    faults.open_fails = get_u32(node, "open_fails", path, 0);
    faults.stop_after_frames = get_u32(node, "stop_after_frames", path, 0);
    const auto kind = lower(get_string(node, "stop_kind", path, "stop"));
    if (kind != "stop" && kind != "abort") {
        fail(path + ".stop_kind", "must be \"stop\" or \"abort\"");
    }
    faults.stop_is_abort = kind == "abort";
    faults.missing = get_bool(node, "missing", path, false);
    faults.roi_set_fails = get_bool(node, "roi_set_fails", path, false);
    faults.buffer_alloc_fails = get_bool(node, "buffer_alloc_fails", path, false);
    faults.circ_setup_fails = get_bool(node, "circ_setup_fails", path, false);
    faults.serial_reference_fails = get_bool(node, "serial_reference_fails", path, false);
    return faults;
}

BoardConfig parse_board(const json& node, size_t index)
{
    const std::string path = "boards[" + std::to_string(index) + "]";
    if (!node.is_object()) {
        fail(path, "must be an object");
    }
    BoardConfig board;
    const auto kind = lower(get_string(node, "kind", path, "other"));
    if (kind == "cl") {
        board.kind = BoardKind::CameraLink;
    } else if (kind == "cxp") {
        board.kind = BoardKind::CoaXPress;
    } else if (kind == "other") {
        board.kind = BoardKind::Other;
    } else {
        fail(path + ".kind", "must be \"CL\", \"CXP\" or \"other\"");
    }
    const char* family = board.kind == BoardKind::CameraLink  ? "VN-CL2 Camera Link"
                         : board.kind == BoardKind::CoaXPress ? "VN-CXP4 CoaXPress"
                                                              : "VN-AN1 Analog";
    board.model = get_string(node, "model", path, family);
    board.serial = get_string(node, "serial", path, "VN" + std::to_string(210400 + index));
    board.device_name = get_string(node, "device_name", path, "VNBOARD_" + std::to_string(index));
    board.bus = get_u32(node, "bus", path, static_cast<uint32_t>(3 + index));
    board.slot = get_u32(node, "slot", path, 0);

    const auto& files = get_array(node, "camera_files", path);
    for (size_t i = 0; i < files.size(); ++i) {
        auto file = parse_camera_file(files[i], path + ".camera_files[" + std::to_string(i) + "]");
        if (SimConfig::find_camera_file(board, file.name) != nullptr) {
            fail(path + ".camera_files", "names \"" + file.name + "\" twice");
        }
        board.camera_files.push_back(std::move(file));
    }
    if (node.contains("default_camera_file")) {
        const auto& value = node.at("default_camera_file");
        if (value.is_string()) {
            board.default_camera_file = value.get<std::string>();
            if (SimConfig::find_camera_file(board, *board.default_camera_file) == nullptr) {
                fail(path + ".default_camera_file", "\"" + *board.default_camera_file + "\" is not in camera_files");
            }
        } else if (!value.is_null()) {
            fail(path + ".default_camera_file", "must be a camera file name or null");
        }
    } else if (!board.camera_files.empty()) {
        board.default_camera_file = board.camera_files.front().name;
    }

    if (get_bool(node, "default_registers", path, true)) {
        board.registers = SimConfig::default_registers(board.kind);
    }
    const auto& registers = get_array(node, "registers", path);
    for (size_t i = 0; i < registers.size(); ++i) {
        merge_registers(board.registers, parse_register(registers[i], path + ".registers[" + std::to_string(i) + "]"));
    }

    board.source = parse_source(get_object(node, "frame_source", path), path + ".frame_source");
    if (board.source.images) {
        // The images are what the camera sees: every camera file takes their size and depth.
        if (board.camera_files.empty()) {
            board.camera_files.push_back(CameraFileConfig{});
            board.camera_files.back().name = "Images.cam";
            board.camera_files.back().make = "Vantrel";
            board.camera_files.back().model = "Images";
            board.default_camera_file = board.camera_files.back().name;
        }
        for (auto& file : board.camera_files) {
            file.width = board.source.images->width();
            file.height = board.source.images->height();
            file.bits_per_pixel = board.source.images->bits_per_pixel();
        }
    }

    const auto& options = get_object(node, "options", path);
    for (const auto& [key, value] : options.items()) {
        if (value.is_string()) {
            board.options[key] = value.get<std::string>();
        } else if (value.is_number_unsigned()) {
            char text[32];
            std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value.get<uint64_t>()));
            board.options[key] = text;
        } else {
            fail(path + ".options." + key, "must be a text or a non-negative integer");
        }
    }
    if (node.contains("max_buffer_bytes")) {
        board.max_buffer_bytes = read_unsigned(node.at("max_buffer_bytes"), path + ".max_buffer_bytes",
                                               std::numeric_limits<uint64_t>::max());
    }
    board.cxp_connections = get_u32(node, "cxp_connections", path, 4, 16);
    board.cxp_whole_words = get_bool(node, "cxp_whole_words", path, false);

    const auto& camera = get_object(node, "camera", path);
    board.cxp_camera = parse_cxp_camera(camera, path + ".camera");
    board.serial_line.baud_rate = get_u32(camera, "baud_rate", path + ".camera", 9600);
    if (board.kind == BoardKind::CameraLink) {
        board.serial_line.board_rates =
            baud_bits(node, "serial_baud_rates", path, board.serial_line.board_rates);
        board.cl_camera = parse_cl_camera(camera, path + ".camera", board);
        const uint32_t power_up = baud_bits(json{{"r", json::array({board.serial_line.baud_rate})}}, "r",
                                            path + ".camera.baud_rate", 0);
        if ((power_up & board.cl_camera.baud_rates) == 0 || (power_up & board.serial_line.board_rates) == 0) {
            fail(path + ".camera.baud_rate", "must be a rate both the camera and the board offer");
        }
    }
    if (board.source.images) {
        // And so do the cameras' sensors.
        const ImageReplay& images = *board.source.images;
        board.cxp_camera.width_max = images.width();
        board.cxp_camera.height_max = images.height();
        board.cl_camera.width = board.cl_camera.width_max = images.width();
        board.cl_camera.height = board.cl_camera.height_max = images.height();
        board.cl_camera.bits_per_pixel = images.bits_per_pixel();
    }
    board.faults = parse_board_faults(get_object(node, "faults", path), path + ".faults");
    return board;
}

}  // namespace

const CameraFileConfig* SimConfig::find_camera_file(const BoardConfig& board, const std::string& name)
{
    for (const auto& file : board.camera_files) {
        if (file.name == name) {
            return &file;
        }
    }
    return nullptr;
}

SystemConfig SimConfig::parse(const json& document)
{
    if (!document.is_object()) {
        throw std::invalid_argument("the configuration must be a JSON object");
    }
    if (!document.contains("boards") || !document.at("boards").is_array()) {
        throw std::invalid_argument("the configuration needs a \"boards\" array");
    }
    SystemConfig config;
    const auto& boards = document.at("boards");
    for (size_t i = 0; i < boards.size(); ++i) {
        config.boards.push_back(parse_board(boards[i], i));
    }
    config.enumeration_fails = get_bool(get_object(document, "faults", "configuration"), "enumeration_fails",
                                        "faults", false);
    return config;
}

std::vector<RegisterConfig> SimConfig::default_registers(BoardKind kind)
{
    std::vector<RegisterConfig> registers = {
        {0, "CTRL", 0x00000001, true, ""},
        {1, "STATUS", 0, false, "status"},
        {2, "BOARD_ID", kind == BoardKind::CoaXPress ? 0x56430004u : 0x56430102u, false, ""},
        {3, "FW_VERSION", 0x00030207, false, ""},
        {4, "HW_REVISION", 0x0000000B, false, ""},
        {8, "IRQ_MASK", 0, true, ""},
        {9, "IRQ_STATUS", 0, true, ""},
        {16, "TRIG_MODE", 0, true, ""},
        {17, "TRIG_SOURCE", 0, true, ""},
        {18, "TRIG_DELAY", 0, true, ""},
        {19, "TRIG_COUNT", 0, false, "frames"},
        {20, "TRIG_IN", 0, true, ""},  // the trigger input's level (bit 0)
        {32, "ACQ_CTRL", 0, true, ""},
        {33, "FRAME_COUNT", 0, false, "frames"},
        {34, "FIFO_LEVEL", 0, false, "pending"},
        {35, "OVERFLOW_COUNT", 0, false, "overwritten"},
        {36, "DMA_CTRL", 0x00000003, true, ""},
        {37, "DMA_BURST", 256, true, ""},
        {48, "GPIO_OUT", 0, true, ""},
        {49, "GPIO_IN", 0x0000000F, false, ""},
        {50, "GPIO_DIR", 0x000000F0, true, ""},
        {64, "STROBE_CTRL", 0, true, ""},
        {65, "STROBE_WIDTH", 1000, true, ""},
        {80, "TEMPERATURE", 362, false, ""},
        {81, "FAN_CTRL", 2, true, ""},
        {96, "PCIE_LINK", 0x00040003, false, ""},
        {112, "TIMESTAMP_LO", 0, false, "timestamp_lo"},
        {113, "TIMESTAMP_HI", 0, false, "timestamp_hi"},
        {3633, "SCRATCH", 0, true, ""},
    };
    if (kind == BoardKind::CoaXPress) {
        registers.insert(registers.end() - 1, {{256, "CXP_LINK_CTRL", 0x00000001, true, ""},
                                               {257, "CXP_LINK_STATUS", 0x0000000F, false, ""},
                                               {258, "CXP_LINK_SPEED", 0x00000048, false, ""},
                                               {259, "CXP_POCXP_CTRL", 0x0000000F, true, ""},
                                               {260, "CXP_CRC_ERRORS", 0, false, ""}});
    } else if (kind == BoardKind::CameraLink) {
        registers.insert(registers.end() - 1, {{256, "CL_CTRL", 0x00000001, true, ""},
                                               {257, "CL_PIXEL_CLOCK", 85000000, false, ""},
                                               {258, "CL_TAPS", 1, true, ""},
                                               {259, "CL_SERIAL_BAUD", 9600, false, ""},
                                               {260, "CL_POCL_CTRL", 1, true, ""}});
    }
    return registers;
}

const json& SimConfig::default_document()
{
    static const json document = json::parse(R"({
  "boards": [
    {
      "kind": "CXP",
      "model": "VN-CXP4 CoaXPress",
      "serial": "VC4210417",
      "device_name": "VNCXP_0",
      "bus": 3,
      "slot": 0,
      "camera_files": [
        {"name": "SimCam_CXP_1024x768_Mono8.cam", "width": 1024, "height": 768, "bits_per_pixel": 8,
         "make": "Vantrel", "model": "SimCam CXP-1", "mode": "Mono8 free run"},
        {"name": "SimCam_CXP_2048x1536_Mono12.cam", "width": 2048, "height": 1536, "bits_per_pixel": 12,
         "make": "Vantrel", "model": "SimCam CXP-3", "mode": "Mono12 free run"}
      ],
      "default_camera_file": "SimCam_CXP_1024x768_Mono8.cam",
      "frame_source": {"rate": 30, "trigger": "free", "pattern": "moving"},
      "options": {"VNGTLCxpReadForceWordRounding": "0", "VNGTLCxpWriteForceWordRounding": "0"},
      "camera": {"vendor": "Vantrel", "model": "SimCam-CXP-1", "serial": "SC1024001", "version": "1.2.0",
                 "link_config_default": "0x00040048"}
    },
    {
      "kind": "CL",
      "model": "VN-CL2 Camera Link",
      "serial": "VL2210418",
      "device_name": "VNCL_1",
      "bus": 4,
      "slot": 0,
      "camera_files": [
        {"name": "SimCam_CL_640x480_Mono8.cam", "width": 640, "height": 480, "bits_per_pixel": 8,
         "make": "Vantrel", "model": "SimCam CL-1", "mode": "Base Mono8 free run"},
        {"name": "SimCam_CL_1280x1024_Mono10.cam", "width": 1280, "height": 1024, "bits_per_pixel": 10,
         "make": "Vantrel", "model": "SimCam CL-2", "mode": "Base Mono10 free run"}
      ],
      "default_camera_file": "SimCam_CL_640x480_Mono8.cam",
      "frame_source": {"rate": 30, "trigger": "free", "pattern": "moving"},
      "camera": {"baud_rate": 9600}
    }
  ]
})");
    return document;
}

}  // namespace vnsim
