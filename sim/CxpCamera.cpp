#include "CxpCamera.h"

#include "SdkCodes.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vnsim {

CxpCamera::CxpCamera(const CxpCameraConfig& config) : link_config_default_(config.link_config_default)
{
    // Bootstrap block: read-only except XmlManifestSelector (0x000C).
    regions_.push_back({0x0000, std::vector<uint8_t>(0x0C), false});
    regions_.push_back({0x000C, std::vector<uint8_t>(4), true});
    regions_.push_back({0x0010, std::vector<uint8_t>(0x10), false});
    // Device strings; DeviceUserID (0x20C0) is writable.
    regions_.push_back({0x2000, std::vector<uint8_t>(0xC0), false});
    regions_.push_back({0x20C0, std::vector<uint8_t>(0x10), true});
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
        regions_.push_back({manufacturer_space, std::vector<uint8_t>(config.manufacturer_space_size), true});
    }

    put_u32(0x0000, standard_value);
    put_u32(0x0004, config.revision);
    put_u32(0x0008, 1);  // XmlManifestSize
    put_text(0x2000, 32, config.vendor);
    put_text(0x2020, 32, config.model);
    put_text(0x2040, 48, config.manufacturer_info);
    put_text(0x2070, 32, config.version);
    put_text(0x2090, 32, config.firmware_version);
    put_text(0x20B0, 16, config.serial);
    put_text(0x20C0, 16, config.user_id);
    put_u32(0x400C, config.control_packet_size);
    put_u32(0x4010, config.stream_packet_size);
    put_u32(connection_config_address, config.link_config_default);
    put_u32(0x4018, config.link_config_default);
    for (const auto& preset : config.presets) {
        put(preset.address, preset.bytes);
    }
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

int32_t CxpCamera::read(uint32_t address, uint8_t* data, uint32_t length) const
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

int32_t CxpCamera::write(uint32_t address, const uint8_t* data, uint32_t length)
{
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
    std::memcpy(region->bytes.data() + (address - region->base), data, length);
    if (address <= connection_reset_address && connection_reset_address < address + length) {
        // ConnectionReset: the camera goes back to its discovery configuration; the register reads 0.
        put_u32(connection_reset_address, 0);
        put_u32(0x000C, 0);
        put_u32(connection_config_address, link_config_default_);
    }
    return 0;
}

int32_t CxpCamera::read_register(uint32_t address, uint32_t& value) const
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

void CxpCamera::load_camera_file(const CameraFileConfig& file)
{
    loaded_file_ = &file;
    format_ = {file.width, file.height, file.bits_per_pixel};
    ++generation_;
}

void CxpCamera::set_connection_config(uint32_t value)
{
    put_u32(connection_config_address, value);
}

uint32_t CxpCamera::connection_config() const
{
    uint32_t value = 0;
    read_register(connection_config_address, value);
    return value;
}

}  // namespace vnsim
