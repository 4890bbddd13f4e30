// The shape of one frame: the region of interest's width and height and the camera file's pixel depth.
#pragma once

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

}  // namespace vnsim
