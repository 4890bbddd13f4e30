#include "FrameGeometry.h"

namespace vnsim {

uint32_t FrameGeometry::bytes_per_pixel() const
{
    if (bits_per_pixel == 0 || bits_per_pixel > 32) {
        return 0;
    }
    return (bits_per_pixel + 7) / 8;
}

uint64_t FrameGeometry::frame_bytes() const
{
    return uint64_t{width} * height * bytes_per_pixel();
}

}  // namespace vnsim
