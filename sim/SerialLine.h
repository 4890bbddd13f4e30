// The Camera Link serial line of a simulated Camera Link board: 8 data bits, 1 stop bit, no parity, so one
// byte takes 10 bit times (at 9600 baud about 1 ms). Bytes the host writes reach the camera when their
// transmission ends; the camera's answers arrive byte by byte at the camera's rate after its response
// time. A host and camera at different rates garble each other's bytes. Reads return exactly the bytes
// asked for or time out with nothing taken, as the Camera Link serial interface requires.
//
// Thread safety: all public operations are thread-safe; lock_ guards the line state and is held while
// the camera handles received bytes (line lock, then camera lock). Waits release it. The change callback
// runs after the line lock is released (it takes the board's lock).
// Ownership: the board owns the line and the camera; the line borrows the camera for its whole life (the
// board destroys the line first). A serial call holds a board reference for its duration.
#pragma once

#include "ClCamera.h"
#include "SimConfig.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace vnsim {

class SerialLine {
public:
    // Camera Link serial codes (the values of the published interface).
    static constexpr int32_t cl_ok = 0;
    static constexpr int32_t cl_timeout = -10004;
    static constexpr int32_t cl_baud_not_supported = -10008;

    // camera_changed runs after every write that changed the camera's generation.
    SerialLine(const SerialConfig& config, ClCamera& camera, std::function<void()> camera_changed);

    // Sends size bytes; blocks for their transmission time. When that exceeds timeout_ms, only the bytes
    // that fit are sent, size tells how many, and the answer is -10004.
    int32_t write(const uint8_t* data, uint32_t& size, uint32_t timeout_ms);
    // Exactly size bytes into data, or -10004 after timeout_ms with nothing taken.
    int32_t read(uint8_t* data, uint32_t size, uint32_t timeout_ms);
    uint32_t available();
    void flush();  // discards every byte received or on its way

    uint32_t supported_rates() const { return config_.board_rates; }  // CL_BAUDRATE_* bits
    int32_t set_rate(uint32_t rate_bit);
    uint32_t baud() const;

    // Wakes and fails every waiting call; later calls fail at once.
    void shutdown();
    bool down() const;

    ClCamera& camera() const { return camera_; }

    struct Stats {
        uint64_t bytes_written = 0;
        uint64_t bytes_read = 0;
        uint64_t flushes = 0;
        uint64_t garbled = 0;  // bytes lost to a rate mismatch
    };
    Stats stats() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Byte {
        uint8_t value;
        Clock::time_point arrives;
    };
    static Clock::duration byte_time(uint32_t baud);
    size_t arrived_locked(Clock::time_point now) const;

    const SerialConfig config_;
    ClCamera& camera_;
    const std::function<void()> camera_changed_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    uint32_t baud_;
    Clock::time_point tx_free_{};  // when the host's transmitter is idle again
    std::deque<Byte> rx_;          // in arrival order
    bool down_ = false;
    Stats stats_;
};

}  // namespace vnsim
