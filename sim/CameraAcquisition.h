// What the simulated cameras share of acquisition and trigger control, as SFNC cameras have it:
// AcquisitionMode (Continuous, SingleFrame, MultiFrame with AcquisitionFrameCount) acted on by
// AcquisitionStart and AcquisitionStop, and the FrameStart trigger (TriggerSelector, TriggerMode,
// TriggerSource Software or Line0, TriggerSoftware, TriggerActivation for the line). The values below are
// the register values of those features in both cameras' memories and descriptions.
//
// The camera sends a frame when frame_ready(): it is acquiring and, with the trigger on, owes a frame for
// a trigger it received. Each frame the board receives is reported through frame_sent(), which counts
// the triggers and the frames of a SingleFrame or MultiFrame acquisition down; after the last one the
// camera stops by itself. Triggers arriving faster than frames are kept and served in order.
//
// The camera acquires from power-up in Continuous mode, so a host that never talks to it sees frames.
// Choosing SingleFrame or MultiFrame stops it: the mode applies from the next AcquisitionStart.
//
// Not thread-safe: the owning camera serialises the calls with its own lock.
#pragma once

#include <cstdint>

namespace vnsim {

namespace acq {
inline constexpr uint32_t mode_continuous = 0;
inline constexpr uint32_t mode_single_frame = 1;
inline constexpr uint32_t mode_multi_frame = 2;
inline constexpr uint32_t frame_count_max = 0x00FFFFFF;
inline constexpr uint32_t trigger_selector_frame_start = 0;
inline constexpr uint32_t trigger_mode_off = 0;
inline constexpr uint32_t trigger_mode_on = 1;
inline constexpr uint32_t trigger_source_software = 0;
inline constexpr uint32_t trigger_source_line0 = 1;  // the board's trigger input
inline constexpr uint32_t trigger_activation_rising_edge = 0;
inline constexpr uint32_t trigger_activation_falling_edge = 1;
inline constexpr uint32_t trigger_activation_any_edge = 2;
}  // namespace acq

class CameraAcquisition {
public:
    // Register writes; false when the value is refused (nothing changes then).
    bool set_mode(uint32_t mode);
    bool set_frame_count(uint32_t count);
    bool set_trigger_selector(uint32_t selector);
    bool set_trigger_mode(uint32_t mode);
    bool set_trigger_source(uint32_t source);
    bool set_trigger_activation(uint32_t activation);

    uint32_t mode() const { return mode_; }
    uint32_t frame_count() const { return frame_count_; }
    uint32_t trigger_selector() const { return acq::trigger_selector_frame_start; }
    uint32_t trigger_mode() const { return trigger_on_ ? acq::trigger_mode_on : acq::trigger_mode_off; }
    uint32_t trigger_source() const { return trigger_source_; }
    uint32_t trigger_activation() const { return trigger_activation_; }

    // AcquisitionStart: acquires afresh (with the mode's frame count, no trigger kept); AcquisitionStop.
    void start();
    void stop();
    // TriggerSoftware; a level change of the board's trigger input. Each is true when it made the camera
    // owe a frame (trigger on, from that source, with that activation, while acquiring).
    bool software_trigger();
    bool line_changed(bool level);
    // The board received a frame; true when that changed frame_ready() or streaming().
    bool frame_sent();

    bool streaming() const { return streaming_; }
    bool frame_ready() const { return streaming_ && (!trigger_on_ || owed_ > 0); }

private:
    uint32_t mode_ = acq::mode_continuous;
    uint32_t frame_count_ = 1;
    bool trigger_on_ = false;
    uint32_t trigger_source_ = acq::trigger_source_software;
    uint32_t trigger_activation_ = acq::trigger_activation_rising_edge;
    bool streaming_ = true;
    uint64_t owed_ = 0;       // triggers received, frames not sent yet
    uint64_t remaining_ = 0;  // frames left in a SingleFrame or MultiFrame acquisition; 0 in Continuous
};

}  // namespace vnsim
