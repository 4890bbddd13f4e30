// The CoaXPress camera attached to a simulated CoaXPress board: its memory as the camera holds it
// (big-endian values), with the full bootstrap block at address 0, the manifest of its XML files, the URL
// texts, the feature registers that set the frames' format, pace, pattern and streaming state, and its own
// XML, plain and zipped. Addresses are those of CxpCameraRegisters.h; docs/simulator.md has the map.
//
// It also plays the camera's faults from the configuration (an unreadable or wrong Standard register,
// reads failing at chosen addresses, a camera that answers nothing); the control interface can re-arm them.
//
// Not thread-safe: the owning SimBoard serialises every call with its board lock.
#pragma once

#include "AttachedCamera.h"
#include "CameraAcquisition.h"
#include "CxpCameraRegisters.h"
#include "SimConfig.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vnsim {

class CxpCamera final : public AttachedCamera {
public:
    // Bootstrap addresses used by the board itself.
    static constexpr uint32_t standard_address = cxp::standard;
    static constexpr uint32_t standard_value = cxp::standard_magic;
    static constexpr uint32_t connection_reset_address = cxp::connection_reset;
    static constexpr uint32_t connection_config_address = cxp::connection_config;
    static constexpr uint32_t manufacturer_space = cxp::manufacturer_space;

    // files: the board's camera files (the sensor is as large as the largest unless the configuration
    // says otherwise); frame_rate: the board's free-running rate, the camera's AcquisitionFrameRate.
    CxpCamera(const CxpCameraConfig& config, const std::vector<CameraFileConfig>& files, double frame_rate);

    // The host's block access over the link; 0 or a VN code (no such address, read-only, a refused value,
    // an injected fault). The range must lie in one region.
    int32_t read(uint32_t address, uint8_t* data, uint32_t length);
    int32_t write(uint32_t address, const uint8_t* data, uint32_t length);
    // One 32-bit register: the big-endian bytes at address as a number.
    int32_t read_register(uint32_t address, uint32_t& value);
    int32_t write_register(uint32_t address, uint32_t value);
    // The memory as it is, bypassing faults (for the control interface); 0 or a VN code.
    int32_t peek(uint32_t address, uint8_t* data, uint32_t length) const;

    // The ConnectionConfig register as the board's link configuration sets it (bypasses access rules).
    void set_connection_config(uint32_t value);
    uint32_t connection_config() const;
    uint32_t connection_config_default() const { return link_config_default_; }

    // Faults: the next count reads covering address fail (-1: all of them, 0: none); silent: nothing answers.
    void fail_reads(uint32_t address, int32_t count);
    void set_silent(bool silent) { silent_ = silent; }
    bool silent() const { return silent_; }
    // How many reads the faults made fail so far.
    uint64_t failed_reads() const { return failed_reads_; }

    // Where the camera's Width x Height window lies on its sensor.
    uint32_t offset_x() const { return offset_x_; }
    uint32_t offset_y() const { return offset_y_; }

    // AttachedCamera.
    void load_camera_file(const CameraFileConfig& file) override;
    const CameraFileConfig* loaded_camera_file() const override { return loaded_file_; }
    FrameGeometry format() const override { return {width_, height_, bits_}; }
    std::optional<double> frame_rate() const override;
    bool streaming() const override { return acquisition_.streaming(); }
    bool frame_ready() const override { return acquisition_.frame_ready(); }
    void frame_sent() override;
    void trigger_input(bool level) override;
    std::optional<PatternMode> pattern() const override;
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
    // The URL text of a manifest entry, as the camera stores it.
    std::string url_text(const CxpManifestEntry& entry) const;
    // Shows the selected manifest entry at 0x0010..0x0018.
    void show_manifest_entry();
    // One write of a feature register (offset from cxp::feature_base); 0 or a VN code.
    int32_t write_feature(uint32_t address, uint32_t value);
    // A write of an acquisition or trigger feature (CameraAcquisition); 0 or a VN code.
    int32_t write_acquisition(uint32_t address, uint32_t value);
    // Writes the feature state into the feature registers' memory.
    void show_features();
    bool injected_read_failure(uint32_t address, uint32_t length);

    std::vector<Region> regions_;
    uint32_t link_config_default_;
    std::vector<CxpManifestEntry> manifest_;
    uint32_t manifest_selector_ = 0;

    // Feature state.
    const CameraFileConfig* loaded_file_ = nullptr;  // points into the board's immutable configuration
    uint32_t width_max_ = 0, height_max_ = 0;
    uint32_t width_ = 0, height_ = 0, offset_x_ = 0, offset_y_ = 0;
    uint32_t pixel_format_ = cxp::pfnc_mono8;
    uint32_t bits_ = 8;  // as the pixel format has it, or as a camera file without a matching format says
    CameraAcquisition acquisition_;
    bool locked_ = false;
    float exposure_time_ = 10000.0f;
    double frame_rate_ = 30.0;
    uint32_t test_pattern_ = cxp::test_pattern_grey_diagonal_ramp_moving;
    uint64_t generation_ = 0;

    // Faults.
    bool silent_ = false;
    bool standard_unreadable_ = false;
    std::vector<CxpReadFailure> read_failures_;
    uint64_t failed_reads_ = 0;
};

}  // namespace vnsim
