#include "CxpCamera.h"

#include "CameraXml.h"
#include "SdkCodes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vnsim {

namespace {

uint32_t round_up_to_word(size_t size)
{
    return static_cast<uint32_t>((size + 3) / 4 * 4);
}

std::vector<uint8_t> padded(std::span<const unsigned char> bytes)
{
    std::vector<uint8_t> out(round_up_to_word(bytes.size()), 0);
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

// The pixel format a camera file's depth asks for: the first whose pixels hold that many bits.
uint32_t format_for_bits(uint32_t bits)
{
    for (const auto& format : cxp::pixel_formats) {
        if (bits <= format.bits) {
            return format.code;
        }
    }
    return cxp::pfnc_rgb8;
}

bool covers(uint32_t address, uint32_t length, uint32_t point)
{
    return point >= address && uint64_t{point} < uint64_t{address} + std::max<uint32_t>(length, 1);
}

}  // namespace

CxpCamera::CxpCamera(const CxpCameraConfig& config, const std::vector<CameraFileConfig>& files, double frame_rate)
    : link_config_default_(config.link_config_default),
      manifest_(config.manifest),
      width_max_(config.width_max),
      height_max_(config.height_max),
      // At power-up the exposure fits into one frame period, so that it does not slow the configured rate.
      exposure_time_(static_cast<float>(frame_rate > 0 ? std::min(config.exposure_time, 1e6 / frame_rate)
                                                       : config.exposure_time)),
      frame_rate_(frame_rate),
      silent_(config.faults.silent),
      standard_unreadable_(config.faults.standard_unreadable),
      read_failures_(config.faults.read_failures)
{
    if (manifest_.empty()) {
        manifest_.push_back(CxpManifestEntry{});
        manifest_.back().name = std::string(cxp::camera_zip_name);
        manifest_.back().xml_version = cxp::camera_xml_version;
        manifest_.back().schema_version = cxp::camera_xml_schema_version;
    }
    for (const auto& file : files) {
        if (config.width_max == 0) {
            width_max_ = std::max(width_max_, file.width);
        }
        if (config.height_max == 0) {
            height_max_ = std::max(height_max_, file.height);
        }
    }
    width_max_ = std::max(width_max_, 1u);
    height_max_ = std::max(height_max_, 1u);
    width_ = files.empty() ? width_max_ : std::min(files.front().width, width_max_);
    height_ = files.empty() ? height_max_ : std::min(files.front().height, height_max_);

    // Bootstrap block: read-only except XmlManifestSelector (0x000C).
    regions_.push_back({0x0000, std::vector<uint8_t>(0x0C), false});
    regions_.push_back({cxp::xml_manifest_selector, std::vector<uint8_t>(4), true});
    regions_.push_back({0x0010, std::vector<uint8_t>(0x10), false});
    // Device strings; DeviceUserID (0x20C0) is writable.
    regions_.push_back({0x2000, std::vector<uint8_t>(0xC0), false});
    regions_.push_back({cxp::device_user_id, std::vector<uint8_t>(cxp::device_user_id_size), true});
    // Pointer block of revision 1.1 and later.
    regions_.push_back({0x3000, std::vector<uint8_t>(0x20), false});
    // Link registers: ConnectionReset .. 0x403F.
    regions_.push_back({0x4000, std::vector<uint8_t>(0x04), true});
    regions_.push_back({0x4004, std::vector<uint8_t>(0x04), false});
    regions_.push_back({0x4008, std::vector<uint8_t>(0x04), true});
    regions_.push_back({0x400C, std::vector<uint8_t>(0x04), false});
    regions_.push_back({0x4010, std::vector<uint8_t>(0x08), true});
    regions_.push_back({0x4018, std::vector<uint8_t>(0x04), false});
    regions_.push_back({0x401C, std::vector<uint8_t>(0x20), true});
    regions_.push_back({0x403C, std::vector<uint8_t>(0x04), false});
    if (config.manufacturer_space_size > 0) {
        regions_.push_back({cxp::scratch_base, std::vector<uint8_t>(config.manufacturer_space_size), true});
    }
    regions_.push_back({cxp::url_base, std::vector<uint8_t>(manifest_.size() * cxp::url_slot_size, 0), false});
    regions_.push_back({cxp::feature_base, std::vector<uint8_t>(cxp::feature_size, 0), true});
    regions_.push_back({cxp::xml_base, padded(CameraXml::xml()), false});
    regions_.push_back({cxp::zip_base, padded(CameraXml::zip()), false});

    put_u32(cxp::standard, config.faults.standard_value.value_or(standard_value));
    put_u32(cxp::revision, config.revision);
    put_u32(cxp::xml_manifest_size, static_cast<uint32_t>(manifest_.size()));
    put_text(cxp::device_vendor_name, cxp::device_vendor_name_size, config.vendor);
    put_text(cxp::device_model_name, cxp::device_model_name_size, config.model);
    put_text(cxp::device_manufacturer_info, cxp::device_manufacturer_info_size, config.manufacturer_info);
    put_text(cxp::device_version, cxp::device_version_size, config.version);
    put_text(cxp::device_firmware_version, cxp::device_firmware_version_size, config.firmware_version);
    put_text(cxp::device_serial_number, cxp::device_serial_number_size, config.serial);
    put_text(cxp::device_user_id, cxp::device_user_id_size, config.user_id);
    const uint32_t pointers[] = {cxp::width,           cxp::height,       cxp::acquisition_mode,
                                 cxp::acquisition_start, cxp::acquisition_stop, cxp::pixel_format,
                                 cxp::device_tap_geometry, cxp::image1_stream_id};
    for (size_t i = 0; i < std::size(pointers); ++i) {
        put_u32(cxp::width_address + static_cast<uint32_t>(4 * i), pointers[i]);
    }
    put_u32(cxp::control_packet_size_max, config.control_packet_size);
    put_u32(cxp::stream_packet_size_max, config.stream_packet_size);
    put_u32(cxp::connection_config, config.link_config_default);
    put_u32(cxp::connection_config_default, config.link_config_default);

    for (size_t i = 0; i < manifest_.size(); ++i) {
        const std::string text = url_text(manifest_[i]);
        const uint32_t slot = cxp::url_base + static_cast<uint32_t>(i * cxp::url_slot_size);
        std::vector<uint8_t> bytes(cxp::url_slot_size, 0);
        std::copy(text.begin(), text.end(), bytes.begin());
        if (!manifest_[i].terminated) {
            // No terminator anywhere in the slot: a reader must give up on its own.
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(text.size()), bytes.end(), uint8_t{'#'});
        }
        put(slot, bytes);
    }
    show_manifest_entry();
    show_features();
    // Presets last, so that a configuration can overwrite anything (until the camera itself writes there).
    for (const auto& preset : config.presets) {
        put(preset.address, preset.bytes);
    }
}

std::string CxpCamera::url_text(const CxpManifestEntry& entry) const
{
    std::string text;
    if (entry.source == CxpManifestEntry::Source::Url) {
        text = entry.url;
    } else {
        const bool zip = entry.source == CxpManifestEntry::Source::LocalZip;
        char place[40];
        std::snprintf(place, sizeof place, ";%X;%zX", zip ? cxp::zip_base : cxp::xml_base,
                      zip ? CameraXml::zip().size() : CameraXml::xml().size());
        text = "local:///" + entry.name + place;
    }
    if (entry.schema_suffix) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, "?SchemaVersion=%u.%u.%u", entry.schema_version >> 16 & 0xFF,
                      entry.schema_version >> 8 & 0xFF, entry.schema_version & 0xFF);
        text += suffix;
    }
    return text;
}

void CxpCamera::show_manifest_entry()
{
    const CxpManifestEntry& entry = manifest_[manifest_selector_];
    put_u32(cxp::xml_manifest_selector, manifest_selector_);
    put_u32(cxp::xml_version, entry.xml_version);
    put_u32(cxp::xml_schema_version, entry.schema_version);
    put_u32(cxp::xml_url_address, cxp::url_base + manifest_selector_ * cxp::url_slot_size);
}

void CxpCamera::show_features()
{
    put_u32(cxp::width, width_);
    put_u32(cxp::height, height_);
    put_u32(cxp::offset_x, offset_x_);
    put_u32(cxp::offset_y, offset_y_);
    put_u32(cxp::width_max, width_max_);
    put_u32(cxp::height_max, height_max_);
    put_u32(cxp::pixel_format, pixel_format_);
    put_u32(cxp::payload_size, static_cast<uint32_t>(std::min<uint64_t>(format().frame_bytes(), 0xFFFFFFFFu)));
    put_u32(cxp::acquisition_mode, acquisition_.mode());
    put_u32(cxp::acquisition_start, 0);
    put_u32(cxp::acquisition_stop, 0);
    put_u32(cxp::tl_params_locked, locked_ ? 1 : 0);
    put_u32(cxp::exposure_time, std::bit_cast<uint32_t>(exposure_time_));
    put_u32(cxp::acquisition_frame_rate, std::bit_cast<uint32_t>(static_cast<float>(frame_rate_)));
    put_u32(cxp::test_pattern, test_pattern_);
    put_u32(cxp::device_tap_geometry, 0);
    put_u32(cxp::image1_stream_id, 0);
    put_u32(cxp::acquisition_status, acquisition_.streaming() ? 1 : 0);
    put_u32(cxp::acquisition_frame_count, acquisition_.frame_count());
    put_u32(cxp::trigger_selector, acquisition_.trigger_selector());
    put_u32(cxp::trigger_mode, acquisition_.trigger_mode());
    put_u32(cxp::trigger_source, acquisition_.trigger_source());
    put_u32(cxp::trigger_software, 0);
    put_u32(cxp::trigger_activation, acquisition_.trigger_activation());
}

CxpCamera::Region* CxpCamera::find(uint32_t address, uint32_t length)
{
    return const_cast<Region*>(std::as_const(*this).find(address, length));
}

const CxpCamera::Region* CxpCamera::find(uint32_t address, uint32_t length) const
{
    for (const auto& region : regions_) {
        if (address >= region.base && address < region.end() && uint64_t{address} + length <= region.end()) {
            return &region;
        }
    }
    return nullptr;
}

void CxpCamera::put(uint32_t address, const std::vector<uint8_t>& bytes)
{
    // Presets may span neighbouring regions; unknown addresses are skipped.
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (Region* region = find(at, 1)) {
            region->bytes[at - region->base] = bytes[i];
        }
    }
}

void CxpCamera::put_u32(uint32_t address, uint32_t value)
{
    put(address, {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

void CxpCamera::put_text(uint32_t address, uint32_t size, const std::string& text)
{
    std::vector<uint8_t> bytes(size, 0);
    std::copy_n(text.begin(), std::min<size_t>(text.size(), size), bytes.begin());
    put(address, bytes);
}

bool CxpCamera::injected_read_failure(uint32_t address, uint32_t length)
{
    if (standard_unreadable_ && covers(address, length, cxp::standard)) {
        return true;
    }
    for (auto& failure : read_failures_) {
        if (failure.count != 0 && covers(address, length, failure.address)) {
            if (failure.count > 0) {
                --failure.count;
            }
            return true;
        }
    }
    return false;
}

int32_t CxpCamera::peek(uint32_t address, uint8_t* data, uint32_t length) const
{
    if (length == 0) {
        return 0;
    }
    const Region* region = find(address, length);
    if (region == nullptr) {
        return code::vn_cxp_nack;
    }
    std::memcpy(data, region->bytes.data() + (address - region->base), length);
    return 0;
}

int32_t CxpCamera::read(uint32_t address, uint8_t* data, uint32_t length)
{
    if (silent_) {
        return code::vn_cxp_timeout;
    }
    if (injected_read_failure(address, length)) {
        ++failed_reads_;
        return code::vn_cxp_crc;
    }
    return peek(address, data, length);
}

int32_t CxpCamera::write(uint32_t address, const uint8_t* data, uint32_t length)
{
    if (silent_) {
        return code::vn_cxp_timeout;
    }
    if (length == 0) {
        return 0;
    }
    Region* region = find(address, length);
    if (region == nullptr) {
        return code::vn_cxp_nack;
    }
    if (!region->writable) {
        return code::vn_cxp_read_only;
    }
    if (region->base == cxp::feature_base) {
        // Feature registers take whole registers, one after another; a refused one ends the write.
        if (address % 4 != 0 || length % 4 != 0) {
            return code::vn_cxp_unaligned;
        }
        for (uint32_t at = 0; at < length; at += 4) {
            const uint32_t value = uint32_t{data[at]} << 24 | uint32_t{data[at + 1]} << 16 |
                                   uint32_t{data[at + 2]} << 8 | data[at + 3];
            const int32_t result = write_feature(address + at, value);
            show_features();
            if (result != 0) {
                return result;
            }
        }
        return 0;
    }
    if (covers(address, length, cxp::xml_manifest_selector)) {
        if (address != cxp::xml_manifest_selector || length != 4) {
            return code::vn_cxp_unaligned;
        }
        const uint32_t selector = uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3];
        if (selector >= manifest_.size()) {
            return code::vn_cxp_value_refused;
        }
        manifest_selector_ = selector;
        show_manifest_entry();
        return 0;
    }
    std::memcpy(region->bytes.data() + (address - region->base), data, length);
    if (covers(address, length, cxp::connection_reset)) {
        // ConnectionReset: the camera goes back to its discovery configuration; the register reads 0.
        put_u32(cxp::connection_reset, 0);
        manifest_selector_ = 0;
        show_manifest_entry();
        put_u32(cxp::connection_config, link_config_default_);
    }
    return 0;
}

int32_t CxpCamera::write_feature(uint32_t address, uint32_t value)
{
    const auto format_write = [&](uint32_t& field, bool valid) {
        if (locked_) {
            return code::vn_cxp_locked;
        }
        if (!valid) {
            return code::vn_cxp_value_refused;
        }
        if (field != value) {
            field = value;
            ++generation_;
        }
        return 0;
    };
    const auto as_float = [value] { return std::bit_cast<float>(value); };
    switch (address) {
    case cxp::width:
        return format_write(width_, value >= 1 && uint64_t{value} + offset_x_ <= width_max_);
    case cxp::height:
        return format_write(height_, value >= 1 && uint64_t{value} + offset_y_ <= height_max_);
    case cxp::offset_x:
        return format_write(offset_x_, uint64_t{value} + width_ <= width_max_);
    case cxp::offset_y:
        return format_write(offset_y_, uint64_t{value} + height_ <= height_max_);
    case cxp::pixel_format: {
        const auto* known = std::find_if(cxp::pixel_formats.begin(), cxp::pixel_formats.end(),
                                         [value](const cxp::PixelFormatBits& f) { return f.code == value; });
        const int32_t result = format_write(pixel_format_, known != cxp::pixel_formats.end());
        if (result == 0 && bits_ != known->bits) {
            bits_ = known->bits;
            ++generation_;
        }
        return result;
    }
    case cxp::acquisition_mode:
    case cxp::acquisition_start:
    case cxp::acquisition_stop:
    case cxp::acquisition_frame_count:
    case cxp::trigger_selector:
    case cxp::trigger_mode:
    case cxp::trigger_source:
    case cxp::trigger_software:
    case cxp::trigger_activation:
        return write_acquisition(address, value);
    case cxp::tl_params_locked:
        if (value > 1) {
            return code::vn_cxp_value_refused;
        }
        locked_ = value == 1;
        return 0;
    case cxp::exposure_time: {
        const float exposure = as_float();
        if (!std::isfinite(exposure) || exposure < 1.0f || exposure > 1e6f) {
            return code::vn_cxp_value_refused;
        }
        if (exposure != exposure_time_) {
            exposure_time_ = exposure;
            ++generation_;  // it bounds the frame rate
        }
        return 0;
    }
    case cxp::acquisition_frame_rate: {
        const float rate = as_float();
        if (!std::isfinite(rate) || rate < 0.0f || rate > 1e5f) {
            return code::vn_cxp_value_refused;
        }
        if (static_cast<double>(rate) != frame_rate_) {
            frame_rate_ = rate;
            ++generation_;
        }
        return 0;
    }
    case cxp::test_pattern:
        if (value > cxp::test_pattern_grey_diagonal_ramp_moving) {
            return code::vn_cxp_value_refused;
        }
        if (value != test_pattern_) {
            test_pattern_ = value;
            ++generation_;
        }
        return 0;
    default:
        return code::vn_cxp_read_only;  // WidthMax, HeightMax, PayloadSize and the fixed values
    }
}

int32_t CxpCamera::read_register(uint32_t address, uint32_t& value)
{
    if (address % 4 != 0) {
        return code::vn_cxp_unaligned;
    }
    uint8_t bytes[4];
    const int32_t result = read(address, bytes, 4);
    if (result == 0) {
        value = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    }
    return result;
}

int32_t CxpCamera::write_register(uint32_t address, uint32_t value)
{
    if (address % 4 != 0) {
        return code::vn_cxp_unaligned;
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return write(address, bytes, 4);
}

void CxpCamera::fail_reads(uint32_t address, int32_t count)
{
    for (auto& failure : read_failures_) {
        if (failure.address == address) {
            failure.count = count;
            return;
        }
    }
    read_failures_.push_back({address, count});
}

void CxpCamera::load_camera_file(const CameraFileConfig& file)
{
    loaded_file_ = &file;
    // The board programs the camera whatever a host locked; the sensor grows if the file asks for more.
    width_max_ = std::max(width_max_, file.width);
    height_max_ = std::max(height_max_, file.height);
    width_ = file.width;
    height_ = file.height;
    offset_x_ = std::min(offset_x_, width_max_ - width_);
    offset_y_ = std::min(offset_y_, height_max_ - height_);
    pixel_format_ = format_for_bits(file.bits_per_pixel);
    bits_ = file.bits_per_pixel;
    ++generation_;
    show_features();
}

int32_t CxpCamera::write_acquisition(uint32_t address, uint32_t value)
{
    bool valid = true;
    switch (address) {
    case cxp::acquisition_mode: valid = acquisition_.set_mode(value); break;
    case cxp::acquisition_frame_count: valid = acquisition_.set_frame_count(value); break;
    case cxp::trigger_selector: valid = acquisition_.set_trigger_selector(value); break;
    case cxp::trigger_mode: valid = acquisition_.set_trigger_mode(value); break;
    case cxp::trigger_source: valid = acquisition_.set_trigger_source(value); break;
    case cxp::trigger_activation: valid = acquisition_.set_trigger_activation(value); break;
    case cxp::acquisition_start:
        if (value != 0) {
            acquisition_.start();
        }
        break;
    case cxp::acquisition_stop:
        if (value != 0) {
            acquisition_.stop();
        }
        break;
    case cxp::trigger_software:
        if (value != 0) {
            acquisition_.software_trigger();
        }
        break;
    default: return code::vn_cxp_read_only;
    }
    if (!valid) {
        return code::vn_cxp_value_refused;
    }
    ++generation_;
    return 0;
}

std::optional<double> CxpCamera::frame_rate() const
{
    // The exposure bounds the rate: a frame cannot come sooner than its exposure ends. 0 stays the
    // simulator's "as fast as the machine allows".
    return frame_rate_ > 0 ? std::min(frame_rate_, 1e6 / static_cast<double>(exposure_time_)) : frame_rate_;
}

void CxpCamera::frame_sent()
{
    if (acquisition_.frame_sent()) {
        ++generation_;
        show_features();
    }
}

void CxpCamera::trigger_input(bool level)
{
    if (acquisition_.line_changed(level)) {
        ++generation_;
    }
}

std::optional<PatternMode> CxpCamera::pattern() const
{
    switch (test_pattern_) {
    case cxp::test_pattern_off:
        return PatternMode::Black;
    case cxp::test_pattern_grey_horizontal_ramp:
        return PatternMode::HorizontalRamp;
    default:
        return std::nullopt;
    }
}

void CxpCamera::set_connection_config(uint32_t value)
{
    put_u32(cxp::connection_config, value);
}

uint32_t CxpCamera::connection_config() const
{
    uint8_t bytes[4] = {};
    peek(cxp::connection_config, bytes, 4);
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace vnsim
