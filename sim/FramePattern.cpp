#include "FramePattern.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vnsim {

namespace {

constexpr size_t stamp_bytes = 8;

// Two periods of the 8-bit ramp, so that any 256-byte run starting at any phase is one memcpy.
constexpr std::array<uint8_t, 512> make_ramp()
{
    std::array<uint8_t, 512> ramp{};
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<uint8_t>(i & 0xFF);
    }
    return ramp;
}
constexpr auto ramp = make_ramp();

}  // namespace

uint8_t FramePattern::pixel_byte(uint32_t x, uint32_t y, uint32_t b, const FrameGeometry& geometry,
                                 uint64_t counter)
{
    const uint64_t base = uint64_t{x} + y + counter;
    if (geometry.bytes_per_pixel() == 2) {
        // One little-endian value of bits_per_pixel bits.
        const uint64_t mask = (uint64_t{1} << geometry.bits_per_pixel) - 1;
        const uint64_t value = base & mask;
        return static_cast<uint8_t>(b == 0 ? value & 0xFF : value >> 8);
    }
    // 8-bit pixels, and for 3- and 4-byte pixels one 8-bit channel per byte, each shifted by 64.
    return static_cast<uint8_t>((base + 64u * b) & 0xFF);
}

void FramePattern::write(std::byte* frame, const FrameGeometry& geometry, uint64_t counter, PatternMode pattern)
{
    write_rows(frame, geometry, counter, pattern, 0, geometry.height);
}

void FramePattern::write_rows(std::byte* frame, const FrameGeometry& geometry, uint64_t counter, PatternMode pattern,
                              uint32_t first_row, uint32_t rows)
{
    const uint64_t size = geometry.frame_bytes();
    if (frame == nullptr || size == 0 || first_row >= geometry.height) {
        return;
    }
    const uint32_t end_row = first_row + std::min(rows, geometry.height - first_row);
    const size_t row_bytes = size_t{geometry.width} * geometry.bytes_per_pixel();
    switch (pattern) {
    case PatternMode::Benchmark:
        break;
    case PatternMode::Black:
        std::memset(frame + size_t{first_row} * row_bytes, 0, size_t{end_row - first_row} * row_bytes);
        break;
    case PatternMode::HorizontalRamp:
        // The moving pattern's first row of frame 0, in every row of every frame.
        write_ramp(frame, geometry, [](uint32_t) { return uint32_t{0}; }, 0, first_row, end_row);
        break;
    case PatternMode::Moving:
        write_ramp(frame, geometry, [](uint32_t y) { return y; }, counter, first_row, end_row);
        break;
    }
    if (end_row != geometry.height) {
        return;  // the stamp comes with the last rows, as it does after a whole frame
    }
    std::array<std::byte, stamp_bytes> stamp_data{};
    for (size_t i = 0; i < stamp_bytes; ++i) {
        stamp_data[i] = std::byte{static_cast<uint8_t>(counter >> (8 * i))};
    }
    std::memcpy(frame, stamp_data.data(), std::min<uint64_t>(stamp_bytes, size));
}

template <typename RowOf>
void FramePattern::write_ramp(std::byte* frame, const FrameGeometry& geometry, RowOf row_of, uint64_t counter,
                              uint32_t first_row, uint32_t end_row)
{
    const uint32_t bpp = geometry.bytes_per_pixel();
    const size_t row_bytes = size_t{geometry.width} * bpp;
    for (uint32_t y = first_row; y < end_row; ++y) {
        std::byte* row = frame + size_t{y} * row_bytes;
        const uint32_t ramp_y = row_of(y);
        if (bpp == 1) {
            // The row is the ramp starting at (y + counter) mod 256.
            size_t phase = static_cast<size_t>((uint64_t{ramp_y} + counter) & 0xFF);
            size_t done = 0;
            while (done < row_bytes) {
                const size_t n = std::min<size_t>(256, row_bytes - done);
                std::memcpy(row + done, ramp.data() + phase, n);
                done += n;
            }
        } else {
            for (uint32_t x = 0; x < geometry.width; ++x) {
                for (uint32_t b = 0; b < bpp; ++b) {
                    row[size_t{x} * bpp + b] = std::byte{pixel_byte(x, ramp_y, b, geometry, counter)};
                }
            }
        }
    }
}

long long FramePattern::check(const std::byte* frame, size_t size, const FrameGeometry& geometry, uint64_t counter)
{
    const uint64_t needed = geometry.frame_bytes();
    if (frame == nullptr || needed == 0 || size < needed) {
        return -1;
    }
    const uint32_t bpp = geometry.bytes_per_pixel();
    uint64_t offset = 0;
    for (uint32_t y = 0; y < geometry.height; ++y) {
        for (uint32_t x = 0; x < geometry.width; ++x) {
            for (uint32_t b = 0; b < bpp; ++b, ++offset) {
                const uint8_t expected = offset < stamp_bytes
                                             ? static_cast<uint8_t>(counter >> (8 * offset))
                                             : pixel_byte(x, y, b, geometry, counter);
                if (std::to_integer<uint8_t>(frame[offset]) != expected) {
                    return static_cast<long long>(offset + 1);
                }
            }
        }
    }
    return 0;
}

uint64_t FramePattern::stamp(const std::byte* frame, size_t size)
{
    if (frame == nullptr || size < stamp_bytes) {
        return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < stamp_bytes; ++i) {
        value |= uint64_t{std::to_integer<uint8_t>(frame[i])} << (8 * i);
    }
    return value;
}

}  // namespace vnsim
