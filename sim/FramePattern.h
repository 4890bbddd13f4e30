// The content of simulated frames: a counter stamp and a moving ramp from which a reader can tell that it
// holds the right frame intact. The exact rules are in docs/simulator.md; vnsim_check_frame exposes check().
#pragma once

#include "FrameGeometry.h"
#include "SimConfig.h"

#include <cstddef>
#include <cstdint>

namespace vnsim {

class FramePattern {
public:
    // Writes frame number counter in that pattern: Moving the full moving ramp, HorizontalRamp the ramp of
    // the moving pattern's first row in frame 0 in every row, Black zeros, Benchmark nothing; then the
    // 8-byte stamp. frame must hold geometry.frame_bytes() bytes.
    static void write(std::byte* frame, const FrameGeometry& geometry, uint64_t counter, PatternMode pattern);
    // Writes rows first_row to first_row + rows - 1 of that frame as write does (the stamp with the last row), so
    // that a frame can be written a part at a time.
    static void write_rows(std::byte* frame, const FrameGeometry& geometry, uint64_t counter, PatternMode pattern,
                           uint32_t first_row, uint32_t rows);
    // 0 when the frame matches exactly; the 1-based offset of the first wrong byte otherwise; -1 when the
    // arguments cannot describe a frame.
    static long long check(const std::byte* frame, size_t size, const FrameGeometry& geometry,
                           uint64_t counter);
    // The stamp of the first 8 bytes (0 when size < 8).
    static uint64_t stamp(const std::byte* frame, size_t size);

private:
    // The ramp with row y taken from row_of(y) of the moving pattern of frame counter.
    template <typename RowOf>
    static void write_ramp(std::byte* frame, const FrameGeometry& geometry, RowOf row_of, uint64_t counter,
                           uint32_t first_row, uint32_t end_row);
    // The value of byte b (0-based within the pixel) of the pixel at (x, y) without the stamp.
    static uint8_t pixel_byte(uint32_t x, uint32_t y, uint32_t b, const FrameGeometry& geometry, uint64_t counter);
};

}  // namespace vnsim
