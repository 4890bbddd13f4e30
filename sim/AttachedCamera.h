// The camera attached to a simulated board, as the board sees it: the format of the frames the camera
// sends, how fast it sends them while running free, whether it sends at all, and the pattern it puts in
// them. What sets these values (CoaXPress registers, Camera Link serial commands) is the concrete camera's
// business; the board only asks.
//
// How a board uses its camera:
//   - Sensor: the camera's format() is what the board receives; the board's region of interest lies
//     within it (VcAqROISet is checked against it) and VbBrdInquire reports from it. When the format
//     changes, the board's region of interest goes back to the whole frame. Circular buffers already
//     allocated keep the format they were allocated with; the next allocation takes the new one.
//   - Camera files: when a board handle is opened first with a camera file other than the one the camera
//     last received, the board programs the camera with it (load_camera_file). A camera therefore keeps
//     what a host wrote into it across closes and re-opens with the same file, as a powered camera would.
//   - Pace: a frame_rate() that changes becomes the board's free-running rate (as vnsim_set_rate does;
//     the later of the two wins). nullopt leaves the rate to the board's frame source.
//   - Streaming: while streaming() is false the board completes no frame, neither on its own thread nor
//     through vnsim_trigger. A camera starts streaming at power-up, so a host that never talks to the
//     camera sees frames exactly as from a board without one.
//   - Triggers: while frame_ready() is false the board's own thread completes no frame (the camera waits
//     for AcquisitionStart or for a trigger); each frame the board completes is reported through
//     frame_sent(). Level changes of the board's trigger input reach the camera through trigger_input().
//   - Pattern: a pattern() other than nullopt replaces the board's moving pattern; the board's benchmark
//     pattern (vnsim_set_pattern) still wins, since it exists to take the pattern's cost away.
//
// Thread safety: none of its own. The owning SimBoard calls it only with its board lock held, and calls
// SimBoard::camera_changed_locked() after every operation that reached the camera, so that a changed
// generation() reaches the frames at once.
// Ownership: the SimBoard owns its camera (unique_ptr) for the board's whole life; a new configuration
// makes new boards with new cameras.
#pragma once

#include "FrameGeometry.h"
#include "SimConfig.h"

#include <cstdint>
#include <optional>

namespace vnsim {

class AttachedCamera {
public:
    virtual ~AttachedCamera() = default;

    // The board programs the camera with a camera file's width, height and pixel depth.
    virtual void load_camera_file(const CameraFileConfig& file) = 0;
    // The camera file the camera last received; null before the first.
    virtual const CameraFileConfig* loaded_camera_file() const = 0;

    // The format of the frames the camera sends now (width, height, bits per pixel).
    virtual FrameGeometry format() const = 0;
    // Frames per second the camera sends while running free; 0 = as fast as it can; nullopt = the board's.
    virtual std::optional<double> frame_rate() const = 0;
    // False after the camera was told to stop sending, until it is told to start again.
    virtual bool streaming() const = 0;
    // Whether the camera sends a frame now: it streams and, triggered, owes a frame for a trigger.
    virtual bool frame_ready() const = 0;
    // The board completed one of the camera's frames.
    virtual void frame_sent() = 0;
    // The board's trigger input changed to level (true: high).
    virtual void trigger_input(bool level) = 0;
    // The pattern the camera puts into its frames; nullopt = the board's.
    virtual std::optional<PatternMode> pattern() const = 0;

    // Counts the changes of everything above; the board re-reads the values only when it moved.
    virtual uint64_t generation() const = 0;

protected:
    AttachedCamera() = default;
    AttachedCamera(const AttachedCamera&) = default;
    AttachedCamera& operator=(const AttachedCamera&) = default;
};

}  // namespace vnsim
