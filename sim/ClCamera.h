// The Camera Link camera attached to a simulated Camera Link board: a GenCP responder on the board's
// serial line. It keeps its bootstrap block, manifest, description files and feature registers
// (ClCameraRegisters.h), answers ReadMem and WriteMem packets with acknowledges (or, when configured slow,
// with a pending acknowledge first), re-sends its last answer when a command arrives again with the same
// request id, and applies the faults of its configuration. Its geometry, rate, pattern and streaming
// state are what the board's frames follow.
//
// Thread safety: all public operations are thread-safe (more than AttachedCamera asks, because serial
// traffic reaches the camera without the board); lock_ guards every field below it. The serial line calls
// receive() under its own lock (line lock, then camera lock); the board asks for the format under its
// lock (board lock, then camera lock). The camera calls nobody.
#pragma once

#include "AttachedCamera.h"
#include "CameraAcquisition.h"
#include "SimConfig.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vnsim {

class ClCamera final : public AttachedCamera {
public:
    // GenCP command and acknowledge ids, status codes and flags.
    static constexpr uint16_t preamble = 0x0100;
    static constexpr uint16_t read_mem = 0x0800;
    static constexpr uint16_t read_mem_ack = 0x0801;
    static constexpr uint16_t write_mem = 0x0802;
    static constexpr uint16_t write_mem_ack = 0x0803;
    static constexpr uint16_t pending_ack = 0x0805;
    static constexpr uint16_t flag_request_ack = 0x4000;
    static constexpr uint16_t flag_resend = 0x8000;
    static constexpr uint16_t status_success = 0x0000;
    static constexpr uint16_t status_not_implemented = 0x8001;
    static constexpr uint16_t status_invalid_parameter = 0x8002;
    static constexpr uint16_t status_invalid_address = 0x8003;
    static constexpr uint16_t status_write_protect = 0x8004;
    static constexpr uint16_t status_bad_alignment = 0x8005;
    static constexpr uint16_t status_access_denied = 0x8006;
    static constexpr uint32_t max_payload = 1000;  // bytes of data in one read or write
    static constexpr size_t header_size = 16;      // prefix (preamble, two checksums, channel) and CCD

    // One answer on the line: its bytes, how long after the end of the command its first byte starts and
    // the baud rate it is sent at.
    struct Reply {
        std::vector<uint8_t> bytes;
        std::chrono::microseconds delay;
        uint32_t baud;
    };

    struct Stats {
        uint64_t commands = 0;     // well-formed commands received (resends included)
        uint64_t resends = 0;      // commands answered again from the last answer
        uint64_t bad_packets = 0;  // packets dropped for a wrong checksum or length
        uint64_t dropped = 0;      // commands lost by the drop_answers fault
        uint64_t corrupted = 0;    // answers sent with a wrong checksum
        uint64_t pending = 0;      // pending acknowledges sent
    };

    explicit ClCamera(const ClCameraConfig& config, uint32_t power_up_baud);

    // Bytes that reached the camera at its current rate; the answers to every complete packet among them.
    std::vector<Reply> receive(const uint8_t* data, size_t size);
    uint32_t baud() const;

    Stats stats() const;

    // AttachedCamera: a camera file sets Width, Height and PixelFormat; AcquisitionFrameRate paces the
    // board, AcquisitionStart/Stop switch the frames on and off, TestPattern 1 asks for the benchmark
    // pattern.
    void load_camera_file(const CameraFileConfig& file) override;
    const CameraFileConfig* loaded_camera_file() const override;
    FrameGeometry format() const override;
    std::optional<double> frame_rate() const override;
    bool streaming() const override;
    bool frame_ready() const override;
    void frame_sent() override;
    void trigger_input(bool level) override;
    std::optional<PatternMode> pattern() const override;
    uint64_t generation() const override;
    // The camera's memory as the host would read it (little-endian registers); false for a bad address.
    bool peek(uint32_t address, uint8_t* data, uint32_t length) const;
    // Re-arms a fault at run time: "silent" (0/1), "drop_answers", "corrupt_answers", "pending_ms".
    bool set_fault(const std::string& name, uint32_t value);

    // The GenApi description with its addresses filled in from ClCameraRegisters.h.
    static const std::string& xml();
    // The same file zipped (one entry, "SimCamCL.xml", deflated).
    static const std::vector<uint8_t>& xml_zip();

    // Ones' complement checksum of big-endian 16-bit words (odd lengths padded with a zero byte).
    static uint16_t checksum(const uint8_t* data, size_t size, uint32_t sum = 0);

private:
    std::vector<uint8_t> answer(uint16_t status, uint16_t ack_id, uint16_t request_id,
                                const std::vector<uint8_t>& payload, bool corrupt) const;
    void handle_locked(const uint8_t* packet, size_t size, std::vector<Reply>& replies);
    uint16_t read_locked(uint64_t address, uint32_t length, std::vector<uint8_t>& data) const;
    uint16_t write_locked(uint64_t address, const uint8_t* data, uint32_t length);
    uint16_t write_feature_locked(uint32_t address, uint32_t value);
    uint16_t apply_feature_locked(uint32_t address, uint32_t value);
    uint32_t feature_locked(uint32_t address) const;
    std::vector<uint8_t> bootstrap_locked() const;
    std::vector<uint8_t> manifest_locked() const;

    const ClCameraConfig config_;
    mutable std::mutex lock_;
    std::vector<uint8_t> input_;  // bytes of a packet not complete yet
    uint32_t baud_;
    std::string user_name_;
    uint32_t width_, height_, pixel_format_;
    float exposure_us_ = 10000.0f;
    float frame_rate_;
    uint32_t test_pattern_ = 0;
    CameraAcquisition acquisition_;
    bool locked_ = false;
    bool silent_;
    uint32_t drop_answers_, corrupt_answers_, pending_ms_;
    bool have_last_ = false;
    uint16_t last_request_id_ = 0;
    std::vector<uint8_t> last_answer_;  // the uncorrupted answer to last_request_id_
    const CameraFileConfig* loaded_file_ = nullptr;
    uint64_t generation_ = 0;  // moves with every change of format, rate, acquisition, trigger or pattern
    Stats stats_;
};

}  // namespace vnsim
