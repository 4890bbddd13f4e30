#include "ClCamera.h"

#include "ClCameraRegisters.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vnsim {

namespace {

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put_le32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void put_le64(uint8_t* p, uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void put_text(std::vector<uint8_t>& memory, uint32_t address, const std::string& text)
{
    const size_t length = std::min<size_t>(text.size(), clcam::string_length - 1);
    std::memcpy(memory.data() + address, text.data(), length);
}

uint32_t pixel_format_for(uint32_t bits)
{
    return bits <= 8 ? clcam::mono8 : bits <= 10 ? clcam::mono10 : bits <= 12 ? clcam::mono12 : clcam::mono16;
}

uint32_t bits_for(uint32_t pixel_format)
{
    switch (pixel_format) {
    case clcam::mono10: return 10;
    case clcam::mono12: return 12;
    case clcam::mono16: return 16;
    default: return 8;
    }
}

uint32_t baud_of_bit(uint32_t bit)
{
    static const uint32_t rates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (uint32_t i = 0; i < 8; ++i) {
        if (bit == (1u << i)) {
            return rates[i];
        }
    }
    return 0;
}

uint32_t bit_of_baud(uint32_t baud)
{
    for (uint32_t i = 0; i < 8; ++i) {
        if (baud_of_bit(1u << i) == baud) {
            return 1u << i;
        }
    }
    return 0;
}

}  // namespace

ClCamera::ClCamera(const ClCameraConfig& config, uint32_t power_up_baud)
    : config_(config),
      baud_(power_up_baud),
      width_(config.width),
      height_(config.height),
      pixel_format_(pixel_format_for(config.bits_per_pixel)),
      // At power-up the exposure fits into one frame period, so that it does not slow the configured rate.
      exposure_us_(config.frame_rate > 0 ? static_cast<float>(std::min(10000.0, 1e6 / config.frame_rate))
                                         : 10000.0f),
      frame_rate_(static_cast<float>(config.frame_rate)),
      silent_(config.silent),
      drop_answers_(config.drop_answers),
      corrupt_answers_(config.corrupt_answers),
      pending_ms_(config.pending_ms)
{
}

uint16_t ClCamera::checksum(const uint8_t* data, size_t size, uint32_t sum)
{
    for (size_t i = 0; i < size; i += 2) {
        sum += static_cast<uint32_t>(data[i] << 8 | (i + 1 < size ? data[i + 1] : 0));
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

uint32_t ClCamera::baud() const
{
    std::lock_guard guard(lock_);
    return baud_;
}

void ClCamera::load_camera_file(const CameraFileConfig& file)
{
    std::lock_guard guard(lock_);
    loaded_file_ = &file;
    width_ = std::min(file.width, config_.width_max);
    height_ = std::min(file.height, config_.height_max);
    pixel_format_ = pixel_format_for(file.bits_per_pixel);
    ++generation_;
}

const CameraFileConfig* ClCamera::loaded_camera_file() const
{
    std::lock_guard guard(lock_);
    return loaded_file_;
}

FrameGeometry ClCamera::format() const
{
    std::lock_guard guard(lock_);
    return {width_, height_, bits_for(pixel_format_)};
}

std::optional<double> ClCamera::frame_rate() const
{
    std::lock_guard guard(lock_);
    // The exposure bounds the rate; 0 stays the simulator's "as fast as the machine allows".
    return frame_rate_ > 0 ? std::min<double>(frame_rate_, 1e6 / static_cast<double>(exposure_us_)) : 0.0;
}

bool ClCamera::streaming() const
{
    std::lock_guard guard(lock_);
    return acquisition_.streaming();
}

bool ClCamera::frame_ready() const
{
    std::lock_guard guard(lock_);
    return acquisition_.frame_ready();
}

void ClCamera::frame_sent()
{
    std::lock_guard guard(lock_);
    if (acquisition_.frame_sent()) {
        ++generation_;
    }
}

void ClCamera::trigger_input(bool level)
{
    std::lock_guard guard(lock_);
    if (acquisition_.line_changed(level)) {
        ++generation_;
    }
}

std::optional<PatternMode> ClCamera::pattern() const
{
    std::lock_guard guard(lock_);
    if (test_pattern_ == 1) {
        return PatternMode::Benchmark;
    }
    return std::nullopt;
}

uint64_t ClCamera::generation() const
{
    std::lock_guard guard(lock_);
    return generation_;
}

ClCamera::Stats ClCamera::stats() const
{
    std::lock_guard guard(lock_);
    return stats_;
}

bool ClCamera::set_fault(const std::string& name, uint32_t value)
{
    std::lock_guard guard(lock_);
    if (name == "silent") {
        silent_ = value != 0;
    } else if (name == "drop_answers") {
        drop_answers_ = value;
    } else if (name == "corrupt_answers") {
        corrupt_answers_ = value;
    } else if (name == "pending_ms") {
        pending_ms_ = value;
    } else {
        return false;
    }
    return true;
}

bool ClCamera::peek(uint32_t address, uint8_t* data, uint32_t length) const
{
    std::lock_guard guard(lock_);
    std::vector<uint8_t> bytes;
    if (read_locked(address, length, bytes) != status_success) {
        return false;
    }
    std::memcpy(data, bytes.data(), length);
    return true;
}

std::vector<ClCamera::Reply> ClCamera::receive(const uint8_t* data, size_t size)
{
    std::lock_guard guard(lock_);
    std::vector<Reply> replies;
    input_.insert(input_.end(), data, data + size);
    // A packet starts with the preamble; bytes before one are line noise and are skipped, as is a packet
    // whose header cannot be right.
    for (;;) {
        size_t start = 0;
        while (start + 1 < input_.size() && get16(&input_[start]) != preamble) {
            ++start;
        }
        if (start > 0) {
            input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(start));
        }
        if (input_.size() < header_size) {
            break;
        }
        const uint16_t length = get16(&input_[12]);
        if (length > max_payload + 12 || checksum(&input_[6], 10) != get16(&input_[2])) {
            ++stats_.bad_packets;
            input_.erase(input_.begin(), input_.begin() + 2);
            continue;
        }
        if (input_.size() < header_size + length) {
            break;
        }
        std::vector<uint8_t> packet(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(header_size + length));
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(packet.size()));
        if (checksum(&packet[6], packet.size() - 6) != get16(&packet[4])) {
            ++stats_.bad_packets;
            continue;
        }
        handle_locked(packet.data(), packet.size(), replies);
    }
    return replies;
}

std::vector<uint8_t> ClCamera::answer(uint16_t status, uint16_t ack_id, uint16_t request_id,
                                      const std::vector<uint8_t>& payload, bool corrupt) const
{
    std::vector<uint8_t> out;
    put16(out, preamble);
    put16(out, 0);  // checksums, filled in below
    put16(out, 0);
    put16(out, 0);  // channel 0: the control channel
    put16(out, status);
    put16(out, ack_id);
    put16(out, static_cast<uint16_t>(payload.size()));
    put16(out, request_id);
    out.insert(out.end(), payload.begin(), payload.end());
    const uint16_t ccd = checksum(&out[6], 10);
    uint16_t scd = checksum(&out[6], out.size() - 6);
    if (corrupt) {
        scd = static_cast<uint16_t>(scd ^ 0x5A5A);
    }
    out[2] = static_cast<uint8_t>(ccd >> 8);
    out[3] = static_cast<uint8_t>(ccd);
    out[4] = static_cast<uint8_t>(scd >> 8);
    out[5] = static_cast<uint8_t>(scd);
    return out;
}

void ClCamera::handle_locked(const uint8_t* packet, size_t size, std::vector<Reply>& replies)
{
    ++stats_.commands;
    const uint16_t flags = get16(packet + 8);
    const uint16_t command = get16(packet + 10);
    const uint16_t request_id = get16(packet + 14);
    const uint8_t* scd = packet + header_size;
    const size_t scd_size = size - header_size;
    if (silent_) {
        return;
    }
    if (drop_answers_ > 0) {
        --drop_answers_;
        ++stats_.dropped;
        return;
    }
    const std::chrono::microseconds latency(config_.response_us);
    const uint32_t answer_baud = baud_;
    std::vector<uint8_t> reply;
    if (have_last_ && request_id == last_request_id_) {
        // The host did not get our answer: send it again rather than run the command twice.
        ++stats_.resends;
        reply = last_answer_;
    } else {
        uint16_t status = status_success;
        std::vector<uint8_t> payload;
        uint16_t ack_id = static_cast<uint16_t>(command + 1);
        if (command == read_mem) {
            if (scd_size != 12) {
                status = status_invalid_parameter;
            } else {
                uint64_t address = 0;
                for (int i = 0; i < 8; ++i) {
                    address = address << 8 | scd[i];
                }
                const uint16_t length = get16(scd + 10);
                status = length > max_payload ? status_invalid_parameter : read_locked(address, length, payload);
                if (status != status_success) {
                    payload.clear();
                }
            }
        } else if (command == write_mem) {
            if (scd_size < 8) {
                status = status_invalid_parameter;
            } else {
                uint64_t address = 0;
                for (int i = 0; i < 8; ++i) {
                    address = address << 8 | scd[i];
                }
                const auto length = static_cast<uint32_t>(scd_size - 8);
                status = write_locked(address, scd + 8, length);
                payload = {0, 0, static_cast<uint8_t>(status == status_success ? length >> 8 : 0),
                           static_cast<uint8_t>(status == status_success ? length : 0)};
            }
        } else {
            status = status_not_implemented;
        }
        reply = answer(status, ack_id, request_id, payload, false);
        have_last_ = true;
        last_request_id_ = request_id;
        last_answer_ = reply;
    }
    if ((flags & flag_request_ack) == 0) {
        return;
    }
    std::chrono::microseconds delay = latency;
    if (pending_ms_ > 0) {
        // Announce the delay with a pending acknowledge carrying a temporary time-out with some margin.
        ++stats_.pending;
        const auto temporary = static_cast<uint16_t>(std::min<uint32_t>(pending_ms_ + 200, 0xFFFF));
        replies.push_back(Reply{answer(status_success, pending_ack, request_id,
                                       {0, 0, static_cast<uint8_t>(temporary >> 8), static_cast<uint8_t>(temporary)},
                                       false),
                                latency, answer_baud});
        delay += std::chrono::milliseconds(pending_ms_);
    }
    if (corrupt_answers_ > 0) {
        --corrupt_answers_;
        ++stats_.corrupted;
        reply[5] ^= 0x5A;
    }
    replies.push_back(Reply{std::move(reply), delay, answer_baud});
}

std::vector<uint8_t> ClCamera::bootstrap_locked() const
{
    std::vector<uint8_t> memory(clcam::bootstrap_end, 0);
    put_le32(&memory[clcam::gencp_version], 0x00010002);
    put_text(memory, clcam::manufacturer_name, config_.vendor);
    put_text(memory, clcam::model_name, config_.model);
    put_text(memory, clcam::family_name, config_.family);
    put_text(memory, clcam::device_version, config_.version);
    put_text(memory, clcam::manufacturer_info, config_.manufacturer_info);
    put_text(memory, clcam::serial_number, config_.serial);
    put_text(memory, clcam::user_defined_name, user_name_);
    put_le64(&memory[clcam::device_capability], 0x1);  // user-defined name available
    put_le32(&memory[clcam::max_response_time], config_.max_response_ms);
    put_le64(&memory[clcam::manifest_table], clcam::manifest);
    return memory;
}

std::vector<uint8_t> ClCamera::manifest_locked() const
{
    std::vector<std::pair<uint32_t, uint32_t>> files;  // file type, window
    if (config_.xml == "zip" || config_.xml == "both") {
        files.emplace_back(clcam::manifest_file_zip, clcam::xml_zip_window);
    }
    if (config_.xml == "plain" || config_.xml == "both") {
        files.emplace_back(clcam::manifest_file_plain, clcam::xml_plain_window);
    }
    std::vector<uint8_t> memory(8 + clcam::manifest_entry_size * files.size(), 0);
    put_le64(&memory[0], files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        uint8_t* entry = &memory[8 + clcam::manifest_entry_size * i];
        put_le32(entry, config_.xml_major << 24 | config_.xml_minor << 16 | config_.xml_subminor);
        put_le32(entry + 4, 1u << 24 | 1u << 16 | files[i].first);  // schema 1.1
        put_le64(entry + 8, files[i].second);
        put_le64(entry + 16, files[i].first == clcam::manifest_file_zip ? xml_zip().size() : xml().size());
    }
    return memory;
}

uint32_t ClCamera::feature_locked(uint32_t address) const
{
    float value = 0;
    switch (address) {
    case clcam::width: return width_;
    case clcam::height: return height_;
    case clcam::pixel_format: return pixel_format_;
    case clcam::exposure_time: value = exposure_us_; return std::bit_cast<uint32_t>(value);
    case clcam::acquisition_frame_rate: value = frame_rate_; return std::bit_cast<uint32_t>(value);
    case clcam::test_pattern: return test_pattern_;
    case clcam::tl_params_locked: return locked_ ? 1 : 0;
    case clcam::width_max: return config_.width_max;
    case clcam::height_max: return config_.height_max;
    case clcam::payload_size: return width_ * height_ * (bits_for(pixel_format_) > 8 ? 2 : 1);
    case clcam::acquisition_status: return acquisition_.streaming() ? 1 : 0;
    case clcam::acquisition_mode: return acquisition_.mode();
    case clcam::acquisition_frame_count: return acquisition_.frame_count();
    case clcam::trigger_selector: return acquisition_.trigger_selector();
    case clcam::trigger_mode: return acquisition_.trigger_mode();
    case clcam::trigger_source: return acquisition_.trigger_source();
    case clcam::trigger_activation: return acquisition_.trigger_activation();
    default: return 0;  // commands read 0
    }
}

uint16_t ClCamera::read_locked(uint64_t address, uint32_t length, std::vector<uint8_t>& data) const
{
    const auto inside = [&](uint64_t base, uint64_t size) {
        return address >= base && address + length <= base + size;
    };
    std::vector<uint8_t> region;
    uint64_t base = 0;
    if (inside(0, clcam::bootstrap_end)) {
        region = bootstrap_locked();
    } else if (inside(clcam::baud_rates_supported, 8)) {
        base = clcam::baud_rates_supported;
        region.resize(8);
        put_le32(&region[0], config_.baud_rates);
        put_le32(&region[4], bit_of_baud(baud_));
    } else if (region = manifest_locked(); inside(clcam::manifest, region.size())) {
        base = clcam::manifest;
    } else if (inside(clcam::width, clcam::features_end - clcam::width)) {
        base = clcam::width;
        region.assign(clcam::features_end - clcam::width, 0);
        for (uint32_t at = clcam::width; at < clcam::features_end; at += 4) {
            put_le32(&region[at - clcam::width], feature_locked(at));
        }
    } else if (inside(clcam::xml_plain_window, xml().size())) {
        data.assign(xml().begin() + static_cast<std::ptrdiff_t>(address - clcam::xml_plain_window),
                    xml().begin() + static_cast<std::ptrdiff_t>(address - clcam::xml_plain_window + length));
        return status_success;
    } else if (inside(clcam::xml_zip_window, xml_zip().size())) {
        data.assign(xml_zip().begin() + static_cast<std::ptrdiff_t>(address - clcam::xml_zip_window),
                    xml_zip().begin() + static_cast<std::ptrdiff_t>(address - clcam::xml_zip_window + length));
        return status_success;
    } else {
        return status_invalid_address;
    }
    data.assign(region.begin() + static_cast<std::ptrdiff_t>(address - base),
                region.begin() + static_cast<std::ptrdiff_t>(address - base + length));
    return status_success;
}

uint16_t ClCamera::write_locked(uint64_t address, const uint8_t* data, uint32_t length)
{
    if (length > max_payload) {
        return status_invalid_parameter;
    }
    if (address >= clcam::user_defined_name && address + length <= clcam::user_defined_name + clcam::string_length) {
        std::vector<uint8_t> bytes = bootstrap_locked();
        std::memcpy(&bytes[address], data, length);
        const char* text = reinterpret_cast<const char*>(&bytes[clcam::user_defined_name]);
        user_name_.assign(text, strnlen(text, clcam::string_length - 1));
        return status_success;
    }
    if (address == clcam::baud_rate && length == 4) {
        const uint32_t bit = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
        if ((bit & config_.baud_rates) == 0 || baud_of_bit(bit) == 0) {
            return status_invalid_parameter;
        }
        // Takes effect after this command's answer has gone out at the old rate (see handle_locked).
        baud_ = baud_of_bit(bit);
        return status_success;
    }
    if (address >= clcam::width && address < clcam::features_end) {
        if (address % 4 != 0 || length % 4 != 0 || address + length > clcam::features_end) {
            return status_bad_alignment;
        }
        for (uint32_t i = 0; i < length; i += 4) {
            const uint16_t status = write_feature_locked(
                static_cast<uint32_t>(address + i),
                static_cast<uint32_t>(data[i] | data[i + 1] << 8 | data[i + 2] << 16 | data[i + 3] << 24));
            if (status != status_success) {
                return status;
            }
        }
        return status_success;
    }
    std::vector<uint8_t> ignored;
    return read_locked(address, length, ignored) == status_success ? status_write_protect : status_invalid_address;
}

uint16_t ClCamera::write_feature_locked(uint32_t address, uint32_t value)
{
    const uint16_t status = apply_feature_locked(address, value);
    if (status == status_success && address != clcam::tl_params_locked) {
        ++generation_;
    }
    return status;
}

uint16_t ClCamera::apply_feature_locked(uint32_t address, uint32_t value)
{
    const float real = std::bit_cast<float>(value);
    switch (address) {
    case clcam::width:
    case clcam::height:
    case clcam::pixel_format:
        if (locked_) {
            return status_access_denied;
        }
        if (address == clcam::width) {
            if (value < 1 || value > config_.width_max) {
                return status_invalid_parameter;
            }
            width_ = value;
        } else if (address == clcam::height) {
            if (value < 1 || value > config_.height_max) {
                return status_invalid_parameter;
            }
            height_ = value;
        } else {
            if (value != clcam::mono8 && value != clcam::mono10 && value != clcam::mono12 && value != clcam::mono16) {
                return status_invalid_parameter;
            }
            pixel_format_ = value;
        }
        return status_success;
    case clcam::exposure_time:
        if (!(real >= 10.0f && real <= 1.0e6f)) {
            return status_invalid_parameter;
        }
        exposure_us_ = real;
        return status_success;
    case clcam::acquisition_frame_rate:
        if (!(real >= 0.0f && real <= 100000.0f)) {
            return status_invalid_parameter;
        }
        frame_rate_ = real;
        return status_success;
    case clcam::test_pattern:
        if (value > 1) {
            return status_invalid_parameter;
        }
        test_pattern_ = value;
        return status_success;
    case clcam::acquisition_start:
    case clcam::acquisition_stop:
    case clcam::trigger_software:
        if (value != 1) {
            return status_invalid_parameter;
        }
        if (address == clcam::acquisition_start) {
            acquisition_.start();
        } else if (address == clcam::acquisition_stop) {
            acquisition_.stop();
        } else {
            acquisition_.software_trigger();
        }
        return status_success;
    case clcam::tl_params_locked:
        if (value > 1) {
            return status_invalid_parameter;
        }
        locked_ = value == 1;
        return status_success;
    case clcam::acquisition_mode:
    case clcam::acquisition_frame_count:
    case clcam::trigger_selector:
    case clcam::trigger_mode:
    case clcam::trigger_source:
    case clcam::trigger_activation: {
        const bool valid = address == clcam::acquisition_mode         ? acquisition_.set_mode(value)
                           : address == clcam::acquisition_frame_count ? acquisition_.set_frame_count(value)
                           : address == clcam::trigger_selector        ? acquisition_.set_trigger_selector(value)
                           : address == clcam::trigger_mode            ? acquisition_.set_trigger_mode(value)
                           : address == clcam::trigger_source          ? acquisition_.set_trigger_source(value)
                                                                       : acquisition_.set_trigger_activation(value);
        return valid ? status_success : status_invalid_parameter;
    }
    default:
        return status_write_protect;
    }
}

}  // namespace vnsim
