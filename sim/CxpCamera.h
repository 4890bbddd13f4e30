// The CoaXPress camera attached to a simulated CoaXPress board: its register memory as the camera holds
// it (big-endian values), the bootstrap block at address 0, the device strings, the link registers and a
// writable manufacturer space from 0x6000. Not thread-safe: the owning SimBoard serialises access.
#pragma once

#include "AttachedCamera.h"
#include "SimConfig.h"

#include <cstdint>
#include <vector>

namespace vnsim {

class CxpCamera final : public AttachedCamera {
public:
    // Bootstrap addresses used by the board itself.
    static constexpr uint32_t standard_address = 0x0000;
    static constexpr uint32_t standard_value = 0xC0A79AE5;
    static constexpr uint32_t connection_reset_address = 0x4000;
    static constexpr uint32_t connection_config_address = 0x4014;
    static constexpr uint32_t manufacturer_space = 0x6000;

    explicit CxpCamera(const CxpCameraConfig& config);

    // Block access; 0 or a VN code (no such address, read-only). The range must lie in one region.
    int32_t read(uint32_t address, uint8_t* data, uint32_t length) const;
    int32_t write(uint32_t address, const uint8_t* data, uint32_t length);
    // One 32-bit register: the big-endian bytes at address as a number.
    int32_t read_register(uint32_t address, uint32_t& value) const;
    int32_t write_register(uint32_t address, uint32_t value);

    // The ConnectionConfig register as the board's link configuration sets it (bypasses access rules).
    void set_connection_config(uint32_t value);
    uint32_t connection_config() const;
    uint32_t connection_config_default() const { return link_config_default_; }

    // AttachedCamera.
    void load_camera_file(const CameraFileConfig& file) override;
    const CameraFileConfig* loaded_camera_file() const override { return loaded_file_; }
    FrameGeometry format() const override { return format_; }
    std::optional<double> frame_rate() const override { return std::nullopt; }
    bool streaming() const override { return true; }
    std::optional<PatternMode> pattern() const override { return std::nullopt; }
    uint64_t generation() const override { return generation_; }

private:
    struct Region {
        uint32_t base;
        std::vector<uint8_t> bytes;
        bool writable;
        uint32_t end() const { return base + static_cast<uint32_t>(bytes.size()); }
    };

    Region* find(uint32_t address, uint32_t length);
    const Region* find(uint32_t address, uint32_t length) const;
    void put(uint32_t address, const std::vector<uint8_t>& bytes);
    void put_u32(uint32_t address, uint32_t value);
    void put_text(uint32_t address, uint32_t size, const std::string& text);

    std::vector<Region> regions_;
    uint32_t link_config_default_;
    const CameraFileConfig* loaded_file_ = nullptr;
    FrameGeometry format_{0, 0, 8};
    uint64_t generation_ = 0;
};

}  // namespace vnsim
