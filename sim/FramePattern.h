// The content of simulated frames: a counter stamp and a moving ramp from which a reader can tell that it
// holds the right frame intact. The exact rules are in docs/simulator.md; vnsim_check_frame exposes check().
#pragma once

#include <cstddef>
#include <cstdint>

namespace vnsim {

struct FrameGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bits_per_pixel = 8;

    // Bytes per pixel: 1 up to 8 bits, 2 up to 16, 3 up to 24, 4 up to 32; 0 for an unusable depth.
    uint32_t bytes_per_pixel() const;
    // width × height × bytes per pixel, or 0 when the geometry is unusable.
    uint64_t frame_bytes() const;
};

class FramePattern {
public:
    // Writes frame number counter: the full pattern, or (stamp_only) just the 8-byte stamp.
    // frame must hold geometry.frame_bytes() bytes.
    static void write(std::byte* frame, const FrameGeometry& geometry, uint64_t counter, bool stamp_only);
    // 0 when the frame matches exactly; the 1-based offset of the first wrong byte otherwise; -1 when the
    // arguments cannot describe a frame.
    static long long check(const std::byte* frame, size_t size, const FrameGeometry& geometry,
                           uint64_t counter);
    // The stamp of the first 8 bytes (0 when size < 8).
    static uint64_t stamp(const std::byte* frame, size_t size);

private:
    // The value of byte b (0-based within the pixel) of the pixel at (x, y) without the stamp.
    static uint8_t pixel_byte(uint32_t x, uint32_t y, uint32_t b, const FrameGeometry& geometry, uint64_t counter);
};

}  // namespace vnsim
